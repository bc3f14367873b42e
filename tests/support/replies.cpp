#include "support/replies.h"

std::string hello_reply(int port) {
  return "{\"type\":\"hello\",\"name\":\"tamberline-tivel-helper\",\"version\":\"0.1.1\",\"os\":"
         "\"linux\",\"port\":" +
         std::to_string(port) +
         ",\"location\":\"na\",\"permHelp\":\"Linux shows what your system scanned most recently. "
         "For a fresh scan run the helper with sudo, or let NetworkManager rescan (nmcli device "
         "wifi rescan).\",\"commands\":[\"hello\",\"link\",\"scan\",\"watch\",\"stop\"]}";
}

std::string plain_reply(const std::string& status, const std::string& body) {
  return "HTTP/1.1 " + status + "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}
