#include "app/startup.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "app/cmdline.h"
#include "app/event_loop.h"
#include "app/privileges.h"
#include "app/syscall_filter.h"
#include "base/log.h"
#include "base/settings.h"
#include "base/slots.h"
#include "server/peer_owner.h"
#include "wifi/wifi.h"

namespace {

#ifndef TIVEL_SYSCALL_FILTER
#define TIVEL_SYSCALL_FILTER 1
#endif
// Builds whose runtime makes calls of its own (sanitizers, valgrind) leave the filter out.
constexpr bool kSyscallFilter = TIVEL_SYSCALL_FILTER != 0;

int stop_wake_write_fd = -1;

// The loop may block for minutes; a signal that lands after its exit check but before it blocks
// would otherwise wait that long. The byte makes the wait return at once whenever it lands.
void on_stop_signal(int signal_number) {
  stop_flag = signal_number;
  if (stop_wake_write_fd < 0) return;
  int saved_errno = errno;
  static constexpr char kByte = 1;
  (void)!write(stop_wake_write_fd, &kByte, 1);  // non-blocking: a full pipe already wakes
  errno = saved_errno;
}

int try_bind(int32_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  (void)setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 8) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void install_signals() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
    stop_wake_fd = ends[0];
    stop_wake_write_fd = ends[1];
  }
  struct sigaction stop {};
  stop.sa_handler = on_stop_signal;
  sigemptyset(&stop.sa_mask);
  stop.sa_flags = 0;  // no SA_RESTART: a signal must cut the readiness wait short
  sigaction(SIGINT, &stop, nullptr);
  sigaction(SIGTERM, &stop, nullptr);
}

// Opens each of descriptors 0, 1 and 2 that is closed on /dev/null and ignores SIGPIPE.
void prepare_standard_descriptors() {
  // A launcher may start the helper with standard input or output closed; the next socket
  // opened would take that number and receive the log lines meant for the terminal.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int opened = open("/dev/null", O_RDWR);
    if (opened < 0) break;  // no /dev/null (a bare chroot): nothing better to put there
    if (opened != fd) {
      (void)dup2(opened, fd);
      close(opened);
    }
  }
  // A log line written to a closed pipe or a vanished terminal is lost, not fatal.
  signal(SIGPIPE, SIG_IGN);
}

// Binds a listening TCP socket on 127.0.0.1: `port` alone when it is non-zero, else the first
// free port of 47800..47809. Sets listen_port. Returns the socket, or -1 when nothing could be
// bound.
int bind_listener(int port) {
  for (int32_t j = 0;; ++j) {
    listen_port = port != 0 ? port : kFirstPort + j;
    int fd = try_bind(listen_port);
    if (fd >= 0) return fd;
    if (port != 0 || kFirstPort + j >= kLastPort) return -1;
  }
}

}  // namespace

int helper_main(int argc, const char* const* argv, const KernelPort& kernel) {
  prepare_standard_descriptors();
  CommandLine line = parse_command_line(argc, argv);
  if (!line.run) return line.exit_code;
  std::memcpy(dev_origin, line.dev_origin, sizeof dev_origin);

  kernel_use(kernel);
  char reason[200] = {};
  if (wifi_open(reason, sizeof reason) != 0) log_format<260>("WiFi not available: %s", reason);

  int listen_fd = bind_listener(line.port);
  if (listen_fd < 0) {
    log_line(
        "Could not open a local port (47800-47809 all busy). Close other copies and try again.");
    return 1;
  }

  const StartingUser user = find_starting_user();
  PeerOwnerCheck owners{-1, user.uid};
  owners.diag_fd = peer_owner_open(listen_fd, reason, sizeof reason);
  if (owners.diag_fd < 0) {
    log_format<300>(
        "Cannot tell which user a connection comes from (%s); programs of every user may connect.",
        reason);
  }

  // The port is bound and the WiFi source open: nothing from here on needs root, and only the
  // scan request needs a right at all (the kernel checks it on each new netlink socket).
  if (drop_privileges(user, reason, sizeof reason) != 0) {
    log_format<260>("Could not give up root rights (%s). Exiting.", reason);
    close(listen_fd);
    return 1;
  }

  for (ConnectionSlot& slot : slots) clear_slot(slot);
  bool dev = dev_origin[0] != '\0';
  log_format<300>(
      "Running on 127.0.0.1:%d. Go back to the Tamberline page; it connects by itself.%s%s",
      listen_port, dev ? " DEV origin allowed: " : "", dev ? dev_origin : "");
  install_signals();
  // A kernel that refuses the filter (one built without it, or an emulator such as qemu-user,
  // which cannot let a guest's filter block its own calls) is nothing the user can change, and
  // the rights are already dropped: the helper then serves without the filter.
  if (kSyscallFilter) (void)install_syscall_filter();
  return run_event_loop(listen_fd, owners);
}
