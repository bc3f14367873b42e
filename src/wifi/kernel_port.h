#pragma once

#include <cstddef>
#include <cstdint>

// The only place the WiFi source touches the kernel: one generic-netlink socket per exchange.
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

// Blocks the calling thread for `ms` milliseconds (the wait for a scan the kernel accepted); a
// signal may end it early.
void kernel_sleep_ms(int ms);
