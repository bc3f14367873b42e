#include "support/netns.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {
bool entered = false;
}

std::string enter_private_netns() {
  if (unshare(CLONE_NEWNET) != 0) return std::string("unshare: ") + std::strerror(errno);
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::string("socket: ") + std::strerror(errno);
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags |= IFF_UP | IFF_RUNNING;
  ok = ok && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  int saved = errno;
  close(fd);
  if (!ok) return std::string("lo up: ") + std::strerror(saved);
  entered = true;
  return "";
}

bool in_private_netns() {
  return entered;
}
