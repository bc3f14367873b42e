// Start on demand, measured: how long the page waits for its hello reply on the first connection
// when the helper is not running yet and systemd-socket-activate (which holds the socket and
// starts the program on the first connection, as a socket unit does) must start it, beside the
// same on a helper already running. Each sample runs from connect() to the whole hello reply:
// TCP connection, upgrade, hello. Prints milliseconds: median, 90th percentile, largest.
//   tivel_activation_bench [RUNS] [HELPER]
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "stats.h"
#include "support/helper_process.h"
#include "support/ws_client.h"

namespace {

using Clock = std::chrono::steady_clock;

// One page's first hello on 127.0.0.1:port, in milliseconds; a negative value when it failed.
double first_hello_ms(int port) {
  auto start = Clock::now();
  WsClient page;
  if (!ws_connect(page, port, kPageOrigin, 5000)) return -1;
  std::string reply = ws_command(page, R"({"cmd":"hello"})", 5000);
  if (reply.rfind(R"({"type":"hello",)", 0) != 0) return -1;
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void report(const char* name, const std::vector<double>& samples) {
  std::printf("| %s | %zu | %.2f | %.2f | %.2f |\n", name, samples.size(), median(samples),
              percentile(samples, 0.9), percentile(samples, 1.0));
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 30;
  std::string helper = argc > 2 ? argv[2] : TIVEL_HELPER_PATH;
  std::vector<double> running, activated;

  HelperProcess warm;
  HelperOptions options;
  options.path = helper;
  if (!start_on_free_port(warm, options)) {
    std::fprintf(stderr, "the helper did not start: %s\n", warm.output.c_str());
    return 1;
  }
  for (int i = 0; i < runs; ++i) {
    double ms = first_hello_ms(warm.port);
    if (ms < 0) return 1;
    running.push_back(ms);
  }
  stop_helper(warm, SIGTERM);

  for (int i = 0; i < runs; ++i) {
    int port = free_port();
    HelperProcess cold;
    HelperOptions activate;
    activate.path = "systemd-socket-activate";
    activate.args = {"-l", "127.0.0.1:" + std::to_string(port), helper};
    if (!start_helper(cold, activate) || !wait_for_output(cold, " as 3.\n", 5000)) {
      std::fprintf(stderr, "systemd-socket-activate did not listen: %s\n", cold.output.c_str());
      return 1;
    }
    double ms = first_hello_ms(port);
    if (ms < 0) {
      std::fprintf(stderr, "no hello through activation: %s\n", cold.output.c_str());
      return 1;
    }
    activated.push_back(ms);
    stop_helper(cold, SIGTERM);
  }

  std::printf("| first hello | runs | median ms | p90 ms | max ms |\n|---|---|---|---|---|\n");
  report("helper already running", running);
  report("started on demand (socket activation)", activated);
  std::printf("\nadded by starting on demand: %.2f ms at the median, %.2f ms at p90\n",
              median(activated) - median(running),
              percentile(activated, 0.9) - percentile(running, 0.9));
  return 0;
}
