#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <string>
#include <string_view>

// Test kit: plain loopback TCP for the tests, the benchmark and the kernel probe. Blocking sockets,
// poll-based time limits, nothing but the standard library and the system's socket calls.

// A TCP port on 127.0.0.1 that was free a moment ago; -1 when none could be had.
int free_port();

// 127.0.0.1:port as a socket address.
sockaddr_in loopback_sockaddr(int port);

// Connects to 127.0.0.1:port from `source` (another 127.x address to test the peer check).
// Returns the socket or -1.
int connect_loopback(int port, const char* source = "127.0.0.1");

// Retries connect_loopback until it succeeds or `timeout_ms` passes; the socket is closed again.
bool wait_listening(int port, int timeout_ms);

// Writes all `length` bytes (no SIGPIPE); false on any failure.
bool write_all(int fd, const void* bytes, size_t length);

// Writes all bytes; false on failure.
bool send_bytes(int fd, std::string_view bytes);

// Reads whatever arrives within timeout_ms (stops early after a read once `want` bytes are held,
// when want > 0). Returns the bytes read; sets *closed when the peer closed or reset.
std::string recv_for(int fd, int timeout_ms, size_t want = 0, bool* closed = nullptr);

// Reads until the peer closes (or timeout_ms passes); returns everything read.
std::string recv_until_closed(int fd, int timeout_ms, bool* closed = nullptr);

// True when the peer closes or resets the connection within timeout_ms, with nothing read.
bool closed_within(int fd, int timeout_ms);
