// The idle baselines: a program that does nothing but wait 25 ms at a time, the least any loop
// with the helper's wake-up rate can cost. Usage: tivel_idle_wait [SECONDS] [--socket]
// (default 120 s, after which it ends by itself). With --socket each wait also watches a
// listening socket on 127.0.0.1, as the helper's readiness wait does with no page connected.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  long seconds = argc > 1 ? std::atol(argv[1]) : 120;
  bool with_socket = argc > 2 && std::strcmp(argv[2], "--socket") == 0;
  pollfd listener{-1, POLLIN, 0};
  if (with_socket) {
    listener.fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener.fd, 8) != 0) {
      return 1;
    }
  }
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    poll(with_socket ? &listener : nullptr, with_socket ? 1 : 0, 25);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec - start.tv_sec >= seconds) return 0;
  }
}
