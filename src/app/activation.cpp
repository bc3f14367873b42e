#include "app/activation.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/decimal.h"

namespace {

constexpr int kFirstHandedFd = 3;

// A variable that is all decimal digits, as a number; -1 when absent, empty, not digits or huge.
long read_count(const char* name) {
  const char* text = std::getenv(name);
  uint64_t value = 0;
  if (text == nullptr || !parse_decimal(text, 999999999, &value)) return -1;
  return static_cast<long>(value);
}

int refuse(char* reason, size_t capacity, const char* text) {
  std::snprintf(reason, capacity, "%s", text);
  return kBadHandedSocket;
}

int socket_option(int fd, int option, int* value) {
  socklen_t length = sizeof *value;
  return getsockopt(fd, SOL_SOCKET, option, value, &length);
}

const char* family_name(int family) {
  switch (family) {
    case AF_INET6:
      return "an IPv6 socket";
    case AF_UNIX:
      return "a local (Unix) socket";
    case AF_NETLINK:
      return "a netlink socket";
    default:
      return "not an IPv4 socket";
  }
}

// Checks that `fd` is a TCP socket listening on 127.0.0.1 and reads its port.
int check_socket(int fd, int32_t* port, char* reason, size_t capacity) {
  if (fcntl(fd, F_GETFD) < 0) return refuse(reason, capacity, "descriptor 3 is not open");
  int domain = 0, type = 0, protocol = 0, listening = 0;
  if (socket_option(fd, SO_DOMAIN, &domain) != 0) {
    return refuse(reason, capacity,
                  errno == ENOTSOCK ? "descriptor 3 is not a socket" : std::strerror(errno));
  }
  if (domain != AF_INET) return refuse(reason, capacity, family_name(domain));
  if (socket_option(fd, SO_TYPE, &type) != 0 || socket_option(fd, SO_PROTOCOL, &protocol) != 0 ||
      type != SOCK_STREAM || protocol != IPPROTO_TCP) {
    return refuse(reason, capacity, "not a TCP socket");
  }
  if (socket_option(fd, SO_ACCEPTCONN, &listening) != 0 || listening == 0) {
    return refuse(reason, capacity, "a TCP socket that is not listening");
  }
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return refuse(reason, capacity, std::strerror(errno));
  }
  // Anything wider than loopback would let other computers reach the helper; another loopback
  // address would not match the Host the pages send.
  if (address.sin_addr.s_addr != htonl(INADDR_LOOPBACK)) {
    char shown[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &address.sin_addr, shown, sizeof shown);
    std::snprintf(reason, capacity, "a socket listening on %s:%u, not on 127.0.0.1", shown,
                  ntohs(address.sin_port));
    return kBadHandedSocket;
  }
  *port = ntohs(address.sin_port);
  (void)fcntl(fd, F_SETFD, FD_CLOEXEC);
  return fd;
}

}  // namespace

int take_handed_socket(int32_t* port, char* reason, size_t capacity) {
  long pid = read_count("LISTEN_PID");
  long count = read_count("LISTEN_FDS");
  bool announced = std::getenv("LISTEN_FDS") != nullptr;
  // Meant for this process alone: a program the helper might ever start must not take them too.
  unsetenv("LISTEN_PID");
  unsetenv("LISTEN_FDS");
  unsetenv("LISTEN_FDNAMES");
  // Variables naming another process were left by whatever started that one (a shell started
  // from a socket-activated service, say); the descriptors are not this process's to take.
  if (!announced || pid != static_cast<long>(getpid())) return kNoHandedSocket;
  if (count < 0) return refuse(reason, capacity, "LISTEN_FDS is not a number");
  if (count == 0) return kNoHandedSocket;
  if (count > 1) {
    std::snprintf(reason, capacity, "%ld sockets handed over, where the helper serves one", count);
    return kBadHandedSocket;
  }
  return check_socket(kFirstHandedFd, port, reason, capacity);
}
