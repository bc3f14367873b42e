#pragma once

#include <cstddef>
#include <cstdint>

// The only place the WiFi source touches the kernel: one generic-netlink socket per exchange, and
// one more that receives nl80211's notifications (scans, associations, interfaces). The calls go
// through a table chosen once at start-up: real sockets in the helper, a stand-in in the simulator,
// tests and fuzzers. Every failure is a negated errno value.
struct KernelPort {
  // Opens an AF_NETLINK/NETLINK_GENERIC raw socket (close-on-exec, not bound) whose receives give
  // up after `receive_timeout_ms`; with 0 its receives never wait (-EAGAIN when nothing waits) and
  // the descriptor can be polled for readability. Returns the descriptor, or -errno.
  int (*open)(int receive_timeout_ms);
  // Sends `length` bytes as one datagram to the kernel (port id 0, no groups). 0, or -errno.
  int (*send)(int fd, const uint8_t* bytes, size_t length);
  // Receives one datagram into `buffer` (cut at `capacity`). Its size (0 when the peer sent
  // nothing), or -errno; a receive that timed out gives -EAGAIN.
  long (*recv)(int fd, uint8_t* buffer, size_t capacity);
  // Closes a descriptor returned by open.
  void (*close)(int fd);
  // Opens a non-blocking AF_NETLINK/NETLINK_GENERIC socket (close-on-exec, bound) subscribed to
  // the multicast `group`. Returns the descriptor (it can be polled), or -errno.
  int (*events_open)(uint32_t group);
  // Adds the multicast `group` to an events_open socket. 0, or -errno.
  int (*events_join)(int fd, uint32_t group);
  // Receives one waiting notification datagram from an events_open socket into `buffer` (cut at
  // `capacity`) without blocking. Its size, -EAGAIN when none waits, -ENOBUFS when the kernel
  // dropped notifications for lack of room, or another -errno.
  long (*events_recv)(int fd, uint8_t* buffer, size_t capacity);
};

// The real kernel's sockets (kernel_port_linux.cpp, linked only where the real kernel is wanted).
extern const KernelPort kLinuxKernelPort;

// Makes `port` (which must outlive its use) the one every later call goes through. Until a port
// is chosen, every open fails with -ENOSYS.
void kernel_use(const KernelPort& port);

// The calls of the chosen port, as described in KernelPort.
int kernel_open(int receive_timeout_ms);
int kernel_send(int fd, const uint8_t* bytes, size_t length);
long kernel_recv(int fd, uint8_t* buffer, size_t capacity);
void kernel_close(int fd);
int kernel_events_open(uint32_t group);
int kernel_events_join(int fd, uint32_t group);
long kernel_events_recv(int fd, uint8_t* buffer, size_t capacity);
