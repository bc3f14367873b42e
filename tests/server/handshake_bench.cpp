// Measures WebSocket upgrades per second against a running helper, one connection at a time:
// connect, send the page's upgrade request, read the 101 response, disconnect.
//   handshake_bench PORT [SECONDS]
// Run the helper with its output sent elsewhere so its log cannot fill a pipe, e.g.
//   tamberline-tivel-helper --port 47850 >/dev/null & handshake_bench 47850 5

#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "support/ws_client.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PORT [SECONDS]\n", argv[0]);
    return 2;
  }
  int port = std::atoi(argv[1]);
  double seconds = argc > 2 ? std::atof(argv[2]) : 3.0;
  using Clock = std::chrono::steady_clock;
  Clock::time_point start = Clock::now();
  Clock::time_point end =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  long done = 0, failed = 0;
  while (Clock::now() < end) {
    WsClient page;
    if (ws_connect(page, port)) {
      ++done;
      // Reset instead of a graceful close: thousands of client sockets in TIME_WAIT would make
      // the kernel's search for a free source port the thing measured.
      linger reset{1, 0};
      setsockopt(page.fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    } else {
      ++failed;
    }
  }
  double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("%ld handshakes in %.2f s: %.0f per second (%ld failed)\n", done, elapsed,
              done / elapsed, failed);
  return failed == 0 ? 0 : 1;
}
