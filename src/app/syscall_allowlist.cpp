// The system calls the helper makes once start-up is over, each with what it is for. Anything
// not listed here kills the process, so a change that makes a new call after start-up adds it
// here with its reason. Calls made only while starting (binding the port, reading the time zone,
// installing the signal handlers, dropping rights) need no entry.
#include <linux/netlink.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/syscall.h>

#include "app/syscall_filter.h"

namespace {
constexpr int kAnyArgs = -1;
constexpr uint32_t kWholeArg = 0xffffffffu;
}  // namespace

const AllowedCall kAllowedCalls[] = {
// The loop and the pages' connections.
#ifdef SYS_poll
    {SYS_poll, kAnyArgs, 0, 0, "the loop's readiness wait (x86_64 glibc's poll)"},
#endif
    {SYS_ppoll, kAnyArgs, 0, 0, "the loop's readiness wait (poll on aarch64)"},
    {SYS_accept4, kAnyArgs, 0, 0, "taking a page's connection from the listening socket"},
    {SYS_recvfrom, kAnyArgs, 0, 0,
     "reading a page's bytes, the kernel's netlink replies (owner look-ups included) and its scan "
     "notifications"},
    {SYS_sendto, kAnyArgs, 0, 0,
     "sending frames to a page, requests to the kernel and each connection's owner look-up"},
    {SYS_setsockopt, kAnyArgs, 0, 0,
     "TCP_NODELAY and TCP_CORK on page sockets; a netlink socket's receive time-out and "
     "notification groups"},
    {SYS_shutdown, kAnyArgs, 0, 0, "cutting off a page that stopped reading"},
    {SYS_close, kAnyArgs, 0, 0, "closing page connections and netlink sockets"},
    {SYS_write, kAnyArgs, 0, 0, "log lines on standard output"},
    // The WiFi source: a generic-netlink socket per lane (opened at its first request and kept),
    // and no other kind of socket.
    {SYS_socket, 0, kWholeArg, AF_NETLINK, "the netlink sockets of the nl80211 requests"},
    // The simulator's stand-in kernel, which runs inside the same filter: it waits out a reply
    // its scene keeps silent, and its scan notification is a timer it arms and disarms. The
    // helper's own code calls none of these.
    {SYS_clock_nanosleep, kAnyArgs, 0, 0, "the simulator's pause for a silent reply"},
    {SYS_nanosleep, kAnyArgs, 0, 0, "the same pause where the C library uses nanosleep"},
    {SYS_timerfd_settime, kAnyArgs, 0, 0, "the simulator's stand-in scan notification"},
    // Clocks: normally read through the vDSO, but not every system maps one.
    {SYS_clock_gettime, kAnyArgs, 0, 0, "monotonic time for the exit rules and the stream"},
    {SYS_gettimeofday, kAnyArgs, 0, 0, "wall-clock time for log time stamps"},
#ifdef SYS_time
    {SYS_time, kAnyArgs, 0, 0, "wall-clock time for log time stamps (x86_64)"},
#endif
    // Memory for the replies under construction; never executable.
    {SYS_brk, kAnyArgs, 0, 0, "growing the heap for a reply"},
    {SYS_mmap, 2, PROT_EXEC, 0, "a large reply's block, never executable"},
    {SYS_mremap, kAnyArgs, 0, 0, "growing a large reply's block"},
    {SYS_munmap, kAnyArgs, 0, 0, "releasing a large reply's block"},
    // Signals and the end.
    {SYS_rt_sigreturn, kAnyArgs, 0, 0, "returning from the stop-signal handler"},
    {SYS_restart_syscall, kAnyArgs, 0, 0, "resuming a sleep after the process was stopped"},
    {SYS_exit_group, kAnyArgs, 0, 0, "ending the process"},
    {SYS_exit, kAnyArgs, 0, 0, "ending the process"},
};

const size_t kAllowedCallCount = sizeof kAllowedCalls / sizeof kAllowedCalls[0];
