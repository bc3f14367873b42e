// The loopback limit: a minimal blocking TCP server that answers with the very bytes the helper
// sends, recorded beforehand, so a client sees the same byte counts with little but the kernel
// in between. Usage:
//   tivel_tcp_echo PORT UPGRADE_REPLY_FILE CLOSE_REPLY_FILE PAYLOAD_BYTES=REPLY_FILE...
// Per connection: the request head (up to its blank line) gets the upgrade reply; after that
// each client frame (7-bit length form only) gets the reply recorded for its payload length,
// and a close frame gets the close reply, after which the server ends the connection as a
// WebSocket server does. It reads no further into the frames. One connection at a time.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/sockets.h"

namespace {

std::string upgrade_reply, close_reply;
std::map<size_t, std::string> replies;  // by the request's payload length

// Answers what `in[0, held)` holds; returns the bytes used, or -1 to end the connection.
long answer(int fd, const char* in, size_t held, bool* upgraded) {
  size_t used = 0;
  if (!*upgraded) {
    const char* end = static_cast<const char*>(memmem(in, held, "\r\n\r\n", 4));
    if (end == nullptr) return 0;
    *upgraded = true;
    used = static_cast<size_t>(end - in) + 4;
    if (!send_bytes(fd, upgrade_reply)) return -1;
  }
  while (held - used >= 2) {
    size_t payload = static_cast<unsigned char>(in[used + 1]) & 0x7F;
    if (payload > 125) return -1;
    size_t frame = 2 + 4 + payload;
    if (held - used < frame) break;
    int opcode = in[used] & 0x0F;
    used += frame;
    if (opcode == 8) {
      send_bytes(fd, close_reply);
      return -1;
    }
    auto found = replies.find(payload);
    if (found == replies.end() || !send_bytes(fd, found->second)) return -1;
  }
  return static_cast<long>(used);
}

void serve(int fd) {
  std::vector<char> in(64 * 1024);
  size_t held = 0;
  bool upgraded = false;
  for (;;) {
    ssize_t got = recv(fd, in.data() + held, in.size() - held, 0);
    if (got <= 0) return;
    held += static_cast<size_t>(got);
    long used = answer(fd, in.data(), held, &upgraded);
    if (used < 0 || (used == 0 && held == in.size())) return;
    std::memmove(in.data(), in.data() + used, held - static_cast<size_t>(used));
    held -= static_cast<size_t>(used);
  }
}

bool read_file(const char* path, std::string* out) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream bytes;
  bytes << file.rdbuf();
  *out = bytes.str();
  return static_cast<bool>(file) && !out->empty();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5 || !read_file(argv[2], &upgrade_reply) || !read_file(argv[3], &close_reply)) {
    std::fprintf(stderr,
                 "usage: %s PORT UPGRADE_REPLY_FILE CLOSE_REPLY_FILE PAYLOAD_BYTES=REPLY_FILE...\n",
                 argv[0]);
    return 2;
  }
  for (int i = 4; i < argc; ++i) {
    const char* equals = std::strchr(argv[i], '=');
    size_t payload = std::strtoul(argv[i], nullptr, 10);
    if (equals == nullptr || payload > 125 || !read_file(equals + 1, &replies[payload])) {
      std::fprintf(stderr, "bad reply %s\n", argv[i]);
      return 2;
    }
  }

  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 64) != 0) {
    std::perror("bind");
    return 1;
  }
  for (;;) {
    int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) continue;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    serve(fd);
    close(fd);
  }
}
