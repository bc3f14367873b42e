#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "wifi/kernel_port.h"

int kernel_open(int receive_timeout_ms) {
  int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_GENERIC);
  if (fd < 0) return -errno;
  timeval timeout{};
  timeout.tv_sec = receive_timeout_ms / 1000;
  timeout.tv_usec = (receive_timeout_ms % 1000) * 1000;
  (void)setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  return fd;
}

int kernel_send(int fd, const uint8_t* bytes, size_t length) {
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;  // nl_pid 0 is the kernel; nl_groups 0: no multicast
  if (sendto(fd, bytes, length, 0, reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) < 0) {
    return -errno;
  }
  return 0;
}

long kernel_recv(int fd, uint8_t* buffer, size_t capacity) {
  ssize_t got = recv(fd, buffer, capacity, 0);
  return got < 0 ? -errno : static_cast<long>(got);
}

void kernel_close(int fd) {
  close(fd);
}

void kernel_sleep_ms(int ms) {
  // A stop signal (Ctrl+C) ends the wait early; the loop then sees it after this command.
  timespec wait{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  (void)nanosleep(&wait, nullptr);
}
