// Command dispatch under arbitrary command texts: the input (up to its first NUL, in a heap block
// of exactly its size) is one text frame's payload, handed to the real dispatch_command on an
// upgraded slot over a socket pair. After the command, one live-stream tick runs, as the loop
// runs one after serving the slots. Behind the WiFi source is the stand-in kernel serving the
// simulator's demo scene (an associated interface, nine networks, one with a name that is not
// UTF-8, a station with a moving signal), whose scans end at once.
//
// Checked: every frame the helper wrote is one unmasked FIN text frame holding one valid JSON
// object whose first member is "type"; the reply fits the command name as the page protocol reads
// it (the bytes after the first quote that follows "cmd", up to the next quote, at most 23): the
// exact hello text, a link or scan object with its members in order (the scan with every network
// of the scene and one marked as the computer's), the watching object with hz and secs as the
// parameter rule reads them (and the slot's stream armed to match), the stopped object, or the
// unknown-command error carrying the name.

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/settings.h"
#include "base/slots.h"
#include "fake_kernel.h"
#include "fuzz_support.h"
#include "json_check.h"
#include "protocol/dispatch.h"
#include "protocol/kernel_pass.h"
#include "protocol/live_stream.h"
#include "scene.h"
#include "scene_kernel.h"
#include "wifi/wifi.h"

namespace {

constexpr int kPort = 47800;
constexpr size_t kSceneNetworks = 9;

std::string command_name(std::string_view text) {
  size_t key = text.find("\"cmd\"");
  if (key == std::string_view::npos) return {};
  size_t open = text.find('"', key + 5);
  if (open == std::string_view::npos) return {};
  std::string_view rest = text.substr(open + 1);
  return std::string(rest.substr(0, std::min<size_t>({rest.find('"'), rest.size(), 23})));
}

// The "hz"/"secs" rule: after the first quoted key, colons and blanks, a run of digits
// (saturating at INT_MAX) clamped to 1..largest; anything else gives the default.
int watch_number(std::string_view text, std::string_view key, int fallback, int largest) {
  std::string quoted = "\"" + std::string(key) + "\"";
  size_t at = text.find(quoted);
  if (at == std::string_view::npos) return fallback;
  at += quoted.size();
  while (at < text.size() && (text[at] == ':' || text[at] == ' ')) ++at;
  size_t digits = 0;
  while (at + digits < text.size() && text[at + digits] >= '0' && text[at + digits] <= '9')
    ++digits;
  if (digits == 0) return fallback;
  std::string_view number = text.substr(at, digits);
  while (number.size() > 1 && number[0] == '0') number.remove_prefix(1);
  long long value = number.size() > 10 ? LLONG_MAX : std::stoll(std::string(number));
  if (value <= 1) return 1;
  return value >= largest ? largest : static_cast<int>(value);
}

// Parses the helper's frames out of `bytes`: all unmasked FIN text frames, nothing left over.
std::vector<std::string> frames_of(const std::string& bytes) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < bytes.size()) {
    FUZZ_CHECK(bytes.size() - at >= 2);
    auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[at + i]); };
    FUZZ_CHECK(byte(0) == 0x81 && (byte(1) & 0x80) == 0);
    uint64_t length = byte(1) & 0x7F;
    size_t header = 2;
    if (length == 126) {
      FUZZ_CHECK(bytes.size() - at >= 4);
      length = byte(2) * 256u + byte(3);
      FUZZ_CHECK(length >= 126);
      header = 4;
    } else if (length == 127) {
      FUZZ_CHECK(bytes.size() - at >= 10);
      length = 0;
      for (int i = 0; i < 8; ++i) length = length << 8 | byte(2 + i);
      FUZZ_CHECK(length >= 65536);
      header = 10;
    }
    FUZZ_CHECK(bytes.size() - at - header >= length);
    out.push_back(bytes.substr(at + header, length));
    at += header + length;
  }
  return out;
}

JsonValue parsed(const std::string& message) {
  JsonValue value;
  FUZZ_CHECK(JsonReader(message).read(value));
  FUZZ_CHECK(value.kind == JsonValue::kObject && !value.members.empty());
  FUZZ_CHECK(value.members[0].first == "type" &&
             value.members[0].second.kind == JsonValue::kString);
  return value;
}

void check_member_names(const JsonValue& value, std::vector<std::string_view> names) {
  FUZZ_CHECK(value.members.size() == names.size());
  for (size_t i = 0; i < names.size(); ++i) FUZZ_CHECK(value.members[i].first == names[i]);
}

void check_link_members(const JsonValue& link, size_t first) {
  static constexpr std::string_view kNames[] = {"connected", "iface",    "ssid",   "rssi",
                                                "noise",     "txMbps",   "rxMbps", "channel",
                                                "freqMHz",   "widthMHz", "nss",    "phy"};
  FUZZ_CHECK(link.members.size() == first + std::size(kNames));
  for (size_t i = 0; i < std::size(kNames); ++i)
    FUZZ_CHECK(link.members[first + i].first == kNames[i]);
}

// A link or scan reply for the scene: associated, with the scene's networks.
void check_report(const JsonValue& reply, const std::string& command) {
  FUZZ_CHECK(reply.members[0].second.text == command);
  if (command == "link") {
    check_link_members(reply, 1);
    FUZZ_CHECK(reply.find("connected")->boolean && reply.find("ssid")->text == "Tamberline-Home");
    return;
  }
  check_member_names(reply, {"type", "ieHidden", "mineGuess", "fresh", "link", "nets"});
  const JsonValue* link = reply.find("link");
  FUZZ_CHECK(link->kind == JsonValue::kObject);
  check_link_members(*link, 0);
  const JsonValue* nets = reply.find("nets");
  FUZZ_CHECK(nets->kind == JsonValue::kArray);
  int mine = 0;
  for (const JsonValue& net : nets->items) {
    check_member_names(
        net, {"ssid", "rssi", "channel", "freqMHz", "widthMHz", "phy", "mine", "seenMsAgo", "ie"});
    mine += net.find("mine")->boolean ? 1 : 0;
  }
  FUZZ_CHECK(nets->items.size() == kSceneNetworks && mine == 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  silence_stdout();
  listen_port = kPort;
  auto scene = std::make_shared<Scene>();
  std::string error;
  FUZZ_CHECK(parse_scene(demo_scene_text(), scene.get(), &error));
  scene->scan_wait_ms = 0;  // the scan's end notification comes at once
  fake_kernel_reset();
  fake_kernel_keep_requests(false);
  fake_kernel_set_silence_ms(0);
  fake_kernel_respond(scene_responder(scene));
  char msg[200];
  FUZZ_CHECK(wifi_open(msg, sizeof msg) == 0);
  // The live stream asks about the association that a link query found, and a watch may be the
  // first input: read the link once, as a page does before it watches.
  LinkInfo link{};
  FUZZ_CHECK(link_query(&link, msg, sizeof msg) == 0 && link.has_bssid == 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t length = strnlen(reinterpret_cast<const char*>(data), size);
  char* text = static_cast<char*>(std::malloc(length + 1));
  std::memcpy(text, data, length);
  text[length] = '\0';
  const std::string_view command(text, length);

  SocketPair pair = open_pair();
  ConnectionSlot& slot = slots[0];  // the live-stream tick walks the slot table
  clear_slot(slot);
  slot.fd = pair.helper;
  slot.upgraded = 1;
  dispatch_command(slot, text);
  // A link or scan waits for the kernel's answers (and a scan for its end notification), as the
  // loop would after serving the slot; the stand-in answers at once.
  for (int i = 0; i < 100000 && slot.kernel_waiting != 0; ++i) kernel_pass(~0u, true);
  FUZZ_CHECK(slot.kernel_waiting == 0);
  FUZZ_CHECK(slot.fd == pair.helper);  // nothing a command says closes the connection
  const int watch_hz = slot.watch_hz;
  live_signal_tick();
  for (int i = 0; i < 100000 && wifi_lane_busy(kSampleLane); ++i) kernel_pass(~0u, false);
  FUZZ_CHECK(!wifi_lane_busy(kSampleLane));
  std::string written;
  drain(pair.page, written);
  std::vector<std::string> messages = frames_of(written);

  const std::string name = command_name(command);
  FUZZ_CHECK(!messages.empty());
  JsonValue reply = parsed(messages[0]);
  const std::string& type = reply.members[0].second.text;
  size_t expected_count = 1;
  if (name == "hello") {
    FUZZ_CHECK(messages[0] ==
               "{\"type\":\"hello\",\"name\":\"tamberline-tivel-helper\",\"version\":\"0.1.1\","
               "\"os\":\"linux\",\"port\":47800,\"location\":\"na\",\"permHelp\":\"Linux shows "
               "what your system scanned most recently. For a fresh scan run the helper with "
               "sudo, or give it the right to scan once (sudo setcap cap_net_admin=ep on the "
               "helper's file), or let NetworkManager rescan (nmcli device wifi rescan).\","
               "\"commands\":"
               "[\"hello\",\"link\",\"scan\",\"watch\",\"stop\"]}");
  } else if (name == "link" || name == "scan") {
    check_report(reply, name);
  } else if (name == "watch") {
    int hz = watch_number(command, "hz", 10, 20);
    int secs = watch_number(command, "secs", 60, 600);
    FUZZ_CHECK(messages[0] == "{\"type\":\"watching\",\"hz\":" + std::to_string(hz) +
                                  ",\"secs\":" + std::to_string(secs) + "}");
    FUZZ_CHECK(watch_hz == hz && slot.watch_hz == hz);
    FUZZ_CHECK(slot.watch_until_ms - slot.watch_next_ms <= static_cast<uint64_t>(secs) * 1000u);
    // The first sample is due at once, so the tick sent one.
    expected_count = 2;
    FUZZ_CHECK(messages.size() == 2);
    JsonValue sample = parsed(messages[1]);
    check_member_names(sample, {"type", "t", "rssi"});
    FUZZ_CHECK(sample.members[0].second.text == "rssi");
    FUZZ_CHECK(sample.find("rssi")->kind == JsonValue::kNumber);  // the scene's station answers
  } else if (name == "stop") {
    FUZZ_CHECK(messages[0] == "{\"type\":\"stopped\"}" && slot.watch_hz == 0);
  } else {
    FUZZ_CHECK(type == "error");
    check_member_names(reply, {"type", "cmd", "msg"});
    FUZZ_CHECK(reply.find("cmd")->text == writer_decoding(name));
    FUZZ_CHECK(reply.find("msg")->text ==
               "unknown command; this helper only reads WiFi information");
  }
  FUZZ_CHECK(messages.size() == expected_count);

  close_slot(slot, "exit");
  close(pair.page);
  std::free(text);
  return 0;
}
