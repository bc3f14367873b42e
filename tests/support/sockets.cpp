#include "support/sockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

namespace {

// Binds a fresh socket to 127.0.0.1:port (0: any) and returns the port it got, or -1.
int try_bind(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address = loopback_sockaddr(port);
  socklen_t length = sizeof address;
  int got = -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    got = ntohs(address.sin_port);
  }
  close(fd);
  return got;
}

// The first port of the kernel's range for the local ports of outgoing connections.
int local_port_range_start() {
  FILE* file = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r");
  int low = 0;
  if (file != nullptr) {
    if (std::fscanf(file, "%d", &low) != 1) low = 0;
    std::fclose(file);
  }
  return low;
}

}  // namespace

// Drawn from below the kernel's range for outgoing connections' local ports: a port from that
// range (what a bind to port 0 hands out) can become the local port of a connection that a test
// running beside this one opens, between this look and the bind of whoever the port is meant for.
// Where that range starts too low, a bind to port 0 has to do.
int free_port() {
  static std::mt19937 draw{std::random_device{}()};
  int low = local_port_range_start();
  if (low > 2048) {
    std::uniform_int_distribution<int> pick(1024, low - 1);
    for (int tries = 0; tries < 100; ++tries) {
      int port = try_bind(pick(draw));
      if (port > 0) return port;
    }
  }
  return try_bind(0);
}

sockaddr_in loopback_sockaddr(int port) {
  return sockaddr_in{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
}

int connect_loopback(int port, const char* source) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, source, &local.sin_addr);
  sockaddr_in remote = loopback_sockaddr(port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool wait_listening(int port, int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (Clock::now() < deadline) {
    int fd = connect_loopback(port);
    if (fd >= 0) {
      close(fd);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

bool write_all(int fd, const void* bytes, size_t length) {
  const char* next = static_cast<const char*>(bytes);
  while (length > 0) {
    ssize_t sent = send(fd, next, length, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    next += sent;
    length -= static_cast<size_t>(sent);
  }
  return true;
}

bool send_bytes(int fd, std::string_view bytes) {
  return write_all(fd, bytes.data(), bytes.size());
}

std::string recv_for(int fd, int timeout_ms, size_t want, bool* closed) {
  std::string bytes;
  if (closed != nullptr) *closed = false;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (want > 0 && bytes.size() >= want) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, remaining_ms(deadline)) <= 0) break;
    char chunk[65536];
    ssize_t got = recv(fd, chunk, sizeof chunk, 0);
    if (got <= 0) {
      if (closed != nullptr) *closed = true;
      break;
    }
    bytes.append(chunk, static_cast<size_t>(got));
  }
  return bytes;
}

std::string recv_until_closed(int fd, int timeout_ms, bool* closed) {
  return recv_for(fd, timeout_ms, 0, closed);
}

bool closed_within(int fd, int timeout_ms) {
  bool closed = false;
  std::string bytes = recv_for(fd, timeout_ms, 0, &closed);
  return closed && bytes.empty();
}
