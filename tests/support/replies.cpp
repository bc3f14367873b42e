#include "support/replies.h"

#include <fstream>

namespace {

// True when this process holds CAP_NET_ADMIN: a helper it starts keeps that right (as root, it
// runs on as another user with that right alone), and its hello then says fresh scans are on.
bool holds_scan_right() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("CapEff:", 0) == 0)
      return (std::stoull(line.substr(7), nullptr, 16) >> 12 & 1) != 0;
  }
  return false;
}

const char* const kFresh =
    "Fresh scans are on: each scan asks the WiFi adapter to look again, which takes a few seconds.";
const char* const kLastScan =
    "Linux shows what your system scanned most recently. For a fresh scan run the helper with "
    "sudo, or give it the right to scan once (sudo setcap cap_net_admin=ep on the helper's file), "
    "or let NetworkManager rescan (nmcli device wifi rescan).";
const char* const kNoAdapter =
    "No WiFi adapter was found when the helper started, so there is nothing to scan with; the "
    "helper may ask for fresh scans once there is one.";

std::string hello_text(int port, const std::string& help, const std::string& extra) {
  return "{\"type\":\"hello\",\"name\":\"tamberline-tivel-helper\",\"version\":\"0.1.1\",\"os\":"
         "\"linux\",\"port\":" +
         std::to_string(port) + ",\"location\":\"na\",\"permHelp\":\"" + help + "\"" + extra +
         ",\"commands\":[\"hello\",\"link\",\"scan\",\"watch\",\"stop\"]}";
}

}  // namespace

std::string hello_reply(int port) {
  static const bool scan_right = holds_scan_right();
  return hello_reply(port, scan_right);
}

std::string hello_reply(int port, bool scan_right) {
  return hello_text(port, scan_right ? kNoAdapter : kLastScan, "");
}

std::string sim_hello_reply(int port) {
  static const bool scan_right = holds_scan_right();
  return hello_text(port, scan_right ? kFresh : kLastScan, ",\"simulated\":true");
}

std::string plain_reply(const std::string& status, const std::string& body) {
  return "HTTP/1.1 " + status + "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}
