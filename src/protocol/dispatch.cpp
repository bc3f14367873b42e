#include "protocol/dispatch.h"

#include <cstring>

#include "app/settings.h"
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

void handle_hello(ConnectionSlot& slot) {
  TextBuffer buffer{};
  text_append_format(buffer,
                     "{\"type\":\"hello\",\"name\":\"%s\",\"version\":\"%s\",\"os\":\"%s\","
                     "\"port\":%d,\"location\":\"%s\",\"permHelp\":",
                     kProgramName, kProgramVersion, platform_os_name(), listen_port,
                     location_word(platform_location_state()));
  text_append_json_string(buffer, platform_permission_help());
  static constexpr char kCommands[] =
      ",\"commands\":[\"hello\",\"link\",\"scan\",\"watch\",\"stop\"]}";
  text_append(buffer, kCommands, sizeof kCommands - 1);
  text_send(slot, buffer);
}

void handle_link(ConnectionSlot& slot) {
  LinkInfo link{};
  char msg[200] = {};
  if (link_query(&link, msg, sizeof msg) != 0) {
    send_error_reply(slot, "link", msg);
    return;
  }
  TextBuffer buffer;
  text_seed(buffer, "{\"type\":\"link\",");
  write_link_object(buffer, link);
  text_append(buffer, "}", 1);
  text_send(slot, buffer);
}

void handle_stop(ConnectionSlot& slot) {
  slot.watch_hz = 0;
  send_stopped(slot);
}

}  // namespace

void dispatch_command(ConnectionSlot& slot, const char* command_text) {
  char name[24];
  extract_command_name(command_text, name);
  if (std::strcmp(name, "hello") == 0) {
    handle_hello(slot);
  } else if (std::strcmp(name, "link") == 0) {
    handle_link(slot);
  } else if (std::strcmp(name, "scan") == 0) {
    handle_scan(slot);
  } else if (std::strcmp(name, "watch") == 0) {
    handle_watch(slot, command_text);
  } else if (std::strcmp(name, "stop") == 0) {
    handle_stop(slot);
  } else {
    send_error_reply(slot, name, "unknown command; this helper only reads WiFi information");
  }
}

bool command_may_block(const char* command_text) {
  char name[24];
  extract_command_name(command_text, name);
  return std::strcmp(name, "link") == 0 || std::strcmp(name, "scan") == 0;
}
