#include "app/listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/clock.h"
#include "base/log.h"
#include "base/settings.h"

namespace {

// How long a copy of the helper on a taken port gets to answer its plain page, and how long the
// search for one may hold up the start in all (other programs may hold ports and never answer).
constexpr int kProbeLimitMs = 300;
constexpr int kSearchLimitMs = 600;

// Binds and listens on 127.0.0.1:port. Returns the socket, or -1 with errno telling why.
int try_bind(int32_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  (void)setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address = loopback_address(port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 8) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

// True when 127.0.0.1:port answers a plain request with the helper's own page, that is when
// another copy of the helper holds the port. Waits at most kProbeLimitMs, so a copy busy with a
// scan, or one that refuses this user, passes for another program.
bool helper_answers(int32_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  timeval limit{0, kProbeLimitMs * 1000};
  (void)setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  (void)setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  sockaddr_in address = loopback_address(port);
  char reply[512] = {};
  size_t held = 0;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    char request[96];
    int length = std::snprintf(request, sizeof request,
                               "GET / HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n", port);
    uint64_t deadline = monotonic_ms() + kProbeLimitMs;
    if (send(fd, request, static_cast<size_t>(length), MSG_NOSIGNAL) == length) {
      while (held + 1 < sizeof reply && monotonic_ms() < deadline) {
        ssize_t got = recv(fd, reply + held, sizeof reply - 1 - held, 0);
        if (got <= 0) break;
        held += static_cast<size_t>(got);
      }
    }
  }
  close(fd);
  return std::strstr(reply, "\r\n\r\nTamberline Tivel Helper is running.") != nullptr;
}

// The lowest port of first..last (all of them found taken) that another copy of the helper
// answers on; 0 for none. The page tries the ports from the bottom, but a copy that refuses its
// origin sends it on to the next, so which copy it ends up with is not known here.
int32_t running_copy(int32_t first, int32_t last) {
  uint64_t give_up = monotonic_ms() + kSearchLimitMs;
  for (int32_t port = first; port <= last && monotonic_ms() < give_up; ++port) {
    if (helper_answers(port)) return port;
  }
  return 0;
}

// Reads the lowest port an ordinary user may bind; 1024 when the system does not say.
int unprivileged_port_start() {
  int start = 1024;
  if (FILE* file = std::fopen("/proc/sys/net/ipv4/ip_unprivileged_port_start", "re")) {
    if (std::fscanf(file, "%d", &start) != 1) start = 1024;
    std::fclose(file);
  }
  return start;
}

// Says why the one port asked for could not be opened.
void log_given_port_failure(int32_t port, int error) {
  if (error == EADDRINUSE && helper_answers(port)) {
    log_format<200>(
        "Could not open 127.0.0.1:%d: another copy of the helper is already running there, and "
        "the page can use that one.",
        port);
  } else if (error == EADDRINUSE) {
    log_format<200>(
        "Could not open 127.0.0.1:%d: another program is using that port. Choose another with "
        "--port.",
        port);
  } else if (error == EACCES || error == EPERM) {
    int start = unprivileged_port_start();
    log_format<200>(
        "Could not open 127.0.0.1:%d: not permitted (ports below %d need root rights). Choose a "
        "port from %d up.",
        port, start, start);
  } else {
    log_format<200>("Could not open 127.0.0.1:%d (%s).", port, std::strerror(error));
  }
}

}  // namespace

sockaddr_in loopback_address(int32_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

int bind_listener(int32_t port) {
  if (port != 0) {
    listen_port = port;
    int fd = try_bind(port);
    if (fd < 0) log_given_port_failure(port, errno);
    return fd;
  }
  int fd = -1;
  int other_error = 0;      // the last failure that was not a port in use, 0 while none was
  int32_t first_taken = 0;  // the lowest port found in use, 0 while none was
  for (listen_port = kFirstPort; listen_port <= kLastPort; ++listen_port) {
    fd = try_bind(listen_port);
    if (fd >= 0) break;
    if (errno != EADDRINUSE) {
      other_error = errno;
    } else if (first_taken == 0) {
      first_taken = listen_port;
    }
  }
  if (first_taken != 0) {
    int32_t last_taken = fd >= 0 ? listen_port - 1 : kLastPort;
    int32_t copy = running_copy(first_taken, last_taken);
    if (copy != 0) {
      log_format<200>(
          "Another copy of the helper is already running on 127.0.0.1:%d. A page uses whichever "
          "copy accepts it, that one or this one; close one of them so that only one runs.",
          copy);
    }
  }
  if (fd >= 0) return fd;
  listen_port = kLastPort;
  if (other_error == 0) {
    log_line(
        "Could not open a local port (47800-47809 all busy). Close other copies and try again.");
  } else {
    log_format<200>("Could not open a local port on 127.0.0.1 (%s).", std::strerror(other_error));
  }
  return -1;
}
