// The idle baseline: a program that does nothing but wait 25 ms at a time, the least any loop
// with the helper's wake-up rate can cost. Usage: tivel_idle_wait [SECONDS] (default 120), after
// which it ends by itself.

#include <poll.h>
#include <time.h>

#include <cstdlib>

int main(int argc, char** argv) {
  long seconds = argc > 1 ? std::atol(argv[1]) : 120;
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    poll(nullptr, 0, 25);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec - start.tv_sec >= seconds) return 0;
  }
}
