#include "app/startup.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/activation.h"
#include "app/cmdline.h"
#include "app/event_loop.h"
#include "app/listener.h"
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
bool terminal_echoes_ctrl_c = false;  // standard output is a terminal that shows ^C as typed

// The loop may block for minutes; a signal that lands after its exit check but before it blocks
// would otherwise wait that long. The byte makes the wait return at once whenever it lands.
void on_stop_signal(int signal_number) {
  stop_flag = signal_number;
  if (signal_number == SIGINT && terminal_echoes_ctrl_c) console_echo_pending = 1;
  if (stop_wake_write_fd < 0) return;
  int saved_errno = errno;
  static constexpr char kByte = 1;
  (void)!write(stop_wake_write_fd, &kByte, 1);  // non-blocking: a full pipe already wakes
  errno = saved_errno;
}

void install_signals() {
  termios modes{};
  terminal_echoes_ctrl_c = isatty(STDOUT_FILENO) && tcgetattr(STDOUT_FILENO, &modes) == 0 &&
                           (modes.c_lflag & ECHO) != 0 && (modes.c_lflag & ECHOCTL) != 0;
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

// The socket a service manager handed over when it started the helper on demand: its descriptor
// with listen_port set to its port (the Host check follows it); kNoHandedSocket when there is
// none; kBadHandedSocket after logging why the one handed over cannot be served on.
int handed_listener(int32_t port) {
  char reason[160] = {};
  int32_t handed_port = 0;
  int fd = take_handed_socket(&handed_port, reason, sizeof reason);
  if (fd == kNoHandedSocket) return fd;
  if (fd == kBadHandedSocket) {
    log_format<300>(
        "The socket handed over by the service manager cannot be used: %s. The helper needs one "
        "TCP socket listening on 127.0.0.1 (ListenStream=127.0.0.1:47800). Exiting.",
        reason);
    return kBadHandedSocket;
  }
  if (port != 0 && port != handed_port) {
    log_format<200>(
        "--port %d does not match the socket handed over by the service manager "
        "(127.0.0.1:%d). Exiting.",
        port, handed_port);
    close(fd);
    return kBadHandedSocket;
  }
  listen_port = handed_port;
  return fd;
}

// True when the service-manager variables name this process as the one to take a socket over.
bool handed_a_socket() {
  const char* count = std::getenv("LISTEN_FDS");
  const char* pid = std::getenv("LISTEN_PID");
  char own_pid[16];
  std::snprintf(own_pid, sizeof own_pid, "%d", static_cast<int>(getpid()));
  return count != nullptr && pid != nullptr && std::strcmp(pid, own_pid) == 0;
}

// Says once whether pages get fresh scans, so that a setcap can be seen to have taken.
void log_scan_right() {
  if (scan_right_held) {
    log_line("Fresh scans: on (CAP_NET_ADMIN)");
    return;
  }
  char path[200] = {};
  if (readlink("/proc/self/exe", path, sizeof path - 1) <= 0) {
    std::strcpy(path, "tamberline-tivel-helper");
  }
  log_format<400>(
      "Fresh scans: off: the page gets the system's last scan; for fresh scans give the helper "
      "the right once (sudo setcap cap_net_admin=ep %s) and start it again.",
      path);
}

}  // namespace

int helper_main(int argc, const char* const* argv, const KernelPort& kernel,
                const char* banner_note) {
  prepare_standard_descriptors();
  // Started by a service manager for a page that is already there, with the log going to its
  // journal: nobody is at a terminal to go back to a page or press Ctrl+C.
  const bool on_demand = handed_a_socket() && !isatty(STDOUT_FILENO);
  CommandLine line = parse_command_line(argc, argv, banner_note, on_demand);
  if (!line.run) return line.exit_code;
  wifi_simulated = banner_note != nullptr;
  std::memcpy(dev_origin, line.dev_origin, sizeof dev_origin);

  // A handed-over socket is looked at before anything else opens a descriptor, so that a
  // missing descriptor 3 is not mistaken for whatever would open there next.
  int listen_fd = handed_listener(line.port);
  if (listen_fd == kBadHandedSocket) return 1;
  log_open_output();

  kernel_use(kernel);
  char reason[200] = {};
  wifi_adapter_found = wifi_open(reason, sizeof reason) == 0;
  if (!wifi_adapter_found) {
    log_format<420>(
        "WiFi not available: no WiFi adapter was found (%s). Check that this computer has WiFi, "
        "that it is switched on and not in flight mode (rfkill list), and that its driver is "
        "loaded (ip link lists a wl... device); until then pages get no WiFi data.",
        reason);
  }

  if (listen_fd == kNoHandedSocket) listen_fd = bind_listener(line.port);
  if (listen_fd < 0) return 1;

  const StartingUser user = find_starting_user();
  PeerOwnerCheck owners{-1, user.uid};
  if (!user.known) {
    log_line(
        "Cannot tell which user started the helper as root; programs of every user may connect. "
        "To let only yours connect, start it through sudo, or as your own user with the right "
        "to scan (sudo setcap cap_net_admin=ep on the helper's file).");
  } else if ((owners.diag_fd = peer_owner_open(listen_fd, reason, sizeof reason)) < 0) {
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
  scan_right_held = holds_scan_right();
  // Started with the final rights and before the filter, which then confines it too. Without it
  // the requests are sent inline, as the stand-in kernel's always are.
  (void)kernel_sender_start();

  log_scan_right();

  for (ConnectionSlot& slot : slots) clear_slot(slot);
  bool dev = dev_origin[0] != '\0';
  log_format<300>(
      on_demand
          ? "Running on 127.0.0.1:%d. Started for the Tamberline page; it connects by itself.%s%s"
          : "Running on 127.0.0.1:%d. Go back to the Tamberline page; it connects "
            "by itself.%s%s",
      listen_port, dev ? " DEV origin allowed: " : "", dev ? dev_origin : "");
  install_signals();
  // A kernel that refuses the filter (one built without it, or an emulator such as qemu-user,
  // which cannot let a guest's filter block its own calls) is nothing the user can change, and
  // the rights are already dropped: the helper then serves without the filter.
  if (kSyscallFilter) (void)install_syscall_filter();
  return run_event_loop(listen_fd, owners);
}
