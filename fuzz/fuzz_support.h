#pragma once

// Shared pieces of the libFuzzer targets: feeding a slot's socket from the fuzzer's bytes in
// fuzzer-chosen pieces, draining what the helper wrote back, and failing loudly.

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/sockets.h"

// Stops the run with a message; libFuzzer saves the input that got here as a crash.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

// Piece sizes for splitting a byte stream, drawn from a small generator seeded by one input byte,
// so the fuzzer controls the split while the rest of the input stays the stream itself. Seed 0
// sends everything in one piece; other seeds give a mix of single bytes, short and long pieces.
struct SplitPlan {
  uint32_t state;

  explicit SplitPlan(uint8_t seed) : state(seed == 0 ? 0 : 0x9E3779B9u * seed) {}

  size_t next(size_t remaining) {
    if (state == 0 || remaining == 0) return remaining;
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    size_t piece;
    switch (state & 3) {
      case 0:
        piece = 1;
        break;
      case 1:
        piece = 1 + (state >> 8) % 8;
        break;
      case 2:
        piece = 1 + (state >> 8) % 300;
        break;
      default:
        piece = 1 + (state >> 8) % 9000;
        break;
    }
    return piece < remaining ? piece : remaining;
  }
};

// A connected stream socket pair: `helper` goes into a ConnectionSlot, the fuzzer plays the page
// on `page` (non-blocking, so draining never waits).
struct SocketPair {
  int helper = -1;
  int page = -1;
};

inline SocketPair open_pair() {
  int ends[2];
  FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0);
  int flags = fcntl(ends[1], F_GETFL);
  fcntl(ends[1], F_SETFL, flags | O_NONBLOCK);
  return {ends[0], ends[1]};
}

// Bytes waiting to be read on `fd`.
inline size_t pending_bytes(int fd) {
  int count = 0;
  if (ioctl(fd, FIONREAD, &count) != 0 || count < 0) return 0;
  return static_cast<size_t>(count);
}

// True when a read on `fd` would not block (data, end of stream or error).
inline bool readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) > 0;
}

// Appends everything the helper has written so far to `out`; true when the helper's end is closed.
inline bool drain(int page_fd, std::string& out) {
  char chunk[16384];
  for (;;) {
    ssize_t got = recv(page_fd, chunk, sizeof chunk, 0);
    if (got > 0) {
      out.append(chunk, static_cast<size_t>(got));
      continue;
    }
    return got == 0;
  }
}

// Writes `length` bytes for the helper to read; the socket buffers of a pair hold far more than
// one fuzz input, so this never blocks. False when the helper's end is already closed.
inline bool feed(int page_fd, const uint8_t* bytes, size_t length) {
  return write_all(page_fd, bytes, length);
}

// The helper logs to standard output; a fuzz run would drown in it.
inline void silence_stdout() {
  std::signal(SIGPIPE, SIG_IGN);
  FILE* sink = std::freopen("/dev/null", "w", stdout);
  (void)sink;
}
