#include "protocol/dispatch.h"

#include <array>
#include <cstring>

#include "base/clock.h"
#include "base/settings.h"
#include "protocol/live_stream.h"
#include "protocol/platform.h"
#include "protocol/replies.h"
#include "protocol/scan_command.h"
#include "version.h"
#include "wifi/wifi.h"

namespace {

// The page's JSON is never parsed: the name is whatever follows the first quote after "cmd",
// up to the next quote, at most 23 bytes. No escapes are interpreted.
void extract_command_name(const char* command_text, char (&name)[24]) {
  std::memset(name, 0, sizeof name);
  const char* key = std::strstr(command_text, "\"cmd\"");
  if (key == nullptr) return;
  const char* open = std::strchr(key + 5, '"');
  if (open == nullptr) return;
  const char* start = open + 1;
  size_t length = 0;
  while (length < sizeof name - 1 && start[length] != '\0' && start[length] != '"') ++length;
  std::memcpy(name, start, length);
}

void handle_hello(ConnectionSlot& slot, const char* command_text);
void handle_link(ConnectionSlot& slot, const char* command_text);
void handle_stop(ConnectionSlot& slot, const char* command_text);

// The commands, in the order hello lists them; a name not here gets the "unknown command" error.
struct Command {
  const char* name;
  void (*handler)(ConnectionSlot& slot, const char* command_text);
  bool may_block;  // waits on the kernel (link, scan)
};
constexpr Command kCommands[] = {
    {"hello", handle_hello, false},
    {"link", handle_link, true},
    {"scan", [](ConnectionSlot& slot, const char*) { handle_scan(slot); }, true},
    {"watch", handle_watch, false},
    {"stop", handle_stop, false},
};

// Hello's list of the commands, written once from the table when the program is compiled:
// `"hello","link",...` followed by its length.
constexpr auto kCommandList = [] {
  struct {
    std::array<char, 64> text{};
    size_t length = 0;
  } list;
  for (const Command& command : kCommands) {
    if (list.length > 0) list.text[list.length++] = ',';
    list.text[list.length++] = '"';
    for (const char* c = command.name; *c != '\0'; ++c) list.text[list.length++] = *c;
    list.text[list.length++] = '"';
  }
  return list;
}();

// The table entry named in `command_text`, or null for an unknown command; `name` gets the name.
const Command* find_command(const char* command_text, char (&name)[24]) {
  extract_command_name(command_text, name);
  for (const Command& command : kCommands) {
    if (std::strcmp(name, command.name) == 0) return &command;
  }
  return nullptr;
}

void handle_hello(ConnectionSlot& slot, const char*) {
  TextBuffer buffer{};
  text_append_format(buffer,
                     "{\"type\":\"hello\",\"name\":\"%s\",\"version\":\"%s\",\"os\":\"%s\","
                     "\"port\":%d,\"location\":\"%s\",\"permHelp\":",
                     kProgramName, kProgramVersion, platform_os_name(), listen_port,
                     location_word(platform_location_state()));
  text_append_json_string(buffer, platform_permission_help(scan_right_held, wifi_adapter_found));
  // Only the simulator adds the member, so that a page can mark its made-up data as such.
  if (wifi_simulated) text_append_literal(buffer, ",\"simulated\":true");
  text_append_literal(buffer, ",\"commands\":[");
  text_append(buffer, kCommandList.text.data(), kCommandList.length);
  text_append_literal(buffer, "]}");
  text_send(slot, buffer);
}

// The slot waits for the link query's answer (its later frames held); a query already out
// answers it too.
void handle_link(ConnectionSlot& slot, const char*) {
  slot.kernel_waiting = kWaitLink;
  if (wifi_lane_busy(kLinkLane)) return;
  if (wifi_start_link(monotonic_ms())) (void)link_answered();
}

void handle_stop(ConnectionSlot& slot, const char*) {
  live_stop(slot);
}

}  // namespace

uint32_t link_answered() {
  const WifiAnswer& answer = wifi_answer(kLinkLane);
  uint32_t answered = 0;
  for (size_t i = 0; i < kSlotCount; ++i) {
    ConnectionSlot& slot = slots[i];
    if (slot.fd == -1 || slot.kernel_waiting != kWaitLink) continue;
    slot.kernel_waiting = 0;
    answered |= 1u << i;
    if (answer.result != 0) {
      send_error_reply(slot, "link", answer.msg);
      continue;
    }
    TextBuffer buffer;
    text_seed(buffer, "{\"type\":\"link\",");
    write_link_object(buffer, answer.link);
    text_append_literal(buffer, "}");
    text_send(slot, buffer);
  }
  return answered;
}

void dispatch_command(ConnectionSlot& slot, const char* command_text) {
  char name[24];
  const Command* command = find_command(command_text, name);
  if (command == nullptr) {
    send_error_reply(slot, name, "unknown command; this helper only reads WiFi information");
    return;
  }
  command->handler(slot, command_text);
}

bool command_may_block(const char* command_text) {
  char name[24];
  const Command* command = find_command(command_text, name);
  return command != nullptr && command->may_block;
}
