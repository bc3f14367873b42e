#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "wifi/kernel_port.h"

namespace {

int linux_open(int receive_timeout_ms) {
  const int nonblocking = receive_timeout_ms == 0 ? SOCK_NONBLOCK : 0;
  int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | nonblocking, NETLINK_GENERIC);
  if (fd < 0) return -errno;
  if (nonblocking != 0) return fd;
  timeval timeout{};
  timeout.tv_sec = receive_timeout_ms / 1000;
  timeout.tv_usec = (receive_timeout_ms % 1000) * 1000;
  (void)setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  return fd;
}

int linux_send(int fd, const uint8_t* bytes, size_t length) {
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;  // nl_pid 0 is the kernel; nl_groups 0: no multicast
  if (sendto(fd, bytes, length, 0, reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) < 0) {
    return -errno;
  }
  return 0;
}

long linux_recv(int fd, uint8_t* buffer, size_t capacity) {
  ssize_t got = recv(fd, buffer, capacity, 0);
  return got < 0 ? -errno : static_cast<long>(got);
}

void linux_close(int fd) {
  close(fd);
}

int linux_events_open(uint32_t group) {
  int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_GENERIC);
  if (fd < 0) return -errno;
  sockaddr_nl local{};
  local.nl_family = AF_NETLINK;  // nl_pid 0: the kernel assigns the port id
  if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      setsockopt(fd, SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &group, sizeof group) != 0) {
    int code = -errno;
    close(fd);
    return code;
  }
  return fd;
}

int linux_events_join(int fd, uint32_t group) {
  if (setsockopt(fd, SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &group, sizeof group) != 0) return -errno;
  return 0;
}

long linux_events_recv(int fd, uint8_t* buffer, size_t capacity) {
  ssize_t got = recv(fd, buffer, capacity, MSG_DONTWAIT);
  return got < 0 ? -errno : static_cast<long>(got);
}

}  // namespace

const KernelPort kLinuxKernelPort = {linux_open,       linux_send,        linux_recv,
                                     linux_close,      linux_events_open, linux_events_join,
                                     linux_events_recv};
