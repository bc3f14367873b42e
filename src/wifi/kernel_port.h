#pragma once

#include <cstddef>
#include <cstdint>

// The only place the WiFi source touches the kernel: one generic-netlink socket per exchange, and
// one more that receives the scan notifications.
// kernel_port_linux.cpp implements it with real sockets; tests and the simulator link a stand-in
// instead. Every failure is a negated errno value.

// Opens an AF_NETLINK/NETLINK_GENERIC raw socket (close-on-exec, not bound) whose receives give up
// after `receive_timeout_ms`. Returns the descriptor, or -errno when no socket could be created.
int kernel_open(int receive_timeout_ms);

// Sends `length` bytes as one datagram to the kernel (port id 0, no groups). 0, or -errno.
int kernel_send(int fd, const uint8_t* bytes, size_t length);

// Receives one datagram into `buffer` (cut at `capacity`). Returns its size (0 when the peer sent
// nothing), or -errno; a receive that timed out gives -EAGAIN.
long kernel_recv(int fd, uint8_t* buffer, size_t capacity);

// Closes a descriptor returned by kernel_open.
void kernel_close(int fd);

// Opens a non-blocking AF_NETLINK/NETLINK_GENERIC socket (close-on-exec, bound) subscribed to the
// multicast `group`. Returns the descriptor (it can be polled), or -errno.
int kernel_events_open(uint32_t group);

// Receives one waiting notification datagram from a socket of kernel_events_open into `buffer`
// (cut at `capacity`) without blocking. Its size, -EAGAIN when none waits, -ENOBUFS when the
// kernel dropped notifications for lack of room, or another -errno.
long kernel_events_recv(int fd, uint8_t* buffer, size_t capacity);
