// The idle baselines: a program that only waits on a listening socket on 127.0.0.1, as the
// helper's readiness wait does with no page connected. Usage: tivel_idle_wait [SECONDS] [--block]
// (default 120 s, after which it ends by itself). Without --block it wakes every 25 ms (the least
// a fixed 25 ms loop can cost); with --block it waits without a time limit (the least any loop
// can cost) and ends only when stopped.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  long seconds = argc > 1 ? std::atol(argv[1]) : 120;
  bool block = argc > 2 && std::strcmp(argv[2], "--block") == 0;
  pollfd listener{socket(AF_INET, SOCK_STREAM, 0), POLLIN, 0};
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener.fd, 8) != 0) {
    return 1;
  }
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    poll(&listener, 1, block ? -1 : 25);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec - start.tv_sec >= seconds) return 0;
  }
}
