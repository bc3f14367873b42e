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

}  // namespace

std::string hello_reply(int port) {
  static const bool fresh_scans = holds_scan_right();
  return hello_reply(port, fresh_scans);
}

std::string hello_reply(int port, bool fresh_scans) {
  const std::string help =
      fresh_scans
          ? "Fresh scans are on: each scan asks the WiFi adapter to look again, which takes a few "
            "seconds."
          : "Linux shows what your system scanned most recently. For a fresh scan run the helper "
            "with sudo, or give it the right to scan once (sudo setcap cap_net_admin=ep on the "
            "helper's file), or let NetworkManager rescan (nmcli device wifi rescan).";
  return "{\"type\":\"hello\",\"name\":\"tamberline-tivel-helper\",\"version\":\"0.1.1\",\"os\":"
         "\"linux\",\"port\":" +
         std::to_string(port) + ",\"location\":\"na\",\"permHelp\":\"" + help +
         "\",\"commands\":[\"hello\",\"link\",\"scan\",\"watch\",\"stop\"]}";
}

std::string plain_reply(const std::string& status, const std::string& body) {
  return "HTTP/1.1 " + status + "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}
