#include "options.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>

#ifndef TIVEL_BENCH_SIM
#define TIVEL_BENCH_SIM ""
#endif

void print_usage() {
  std::printf(
      "usage: tivel_bench [run|idle|smoke] [options]\n"
      "  run    the peer table: helper, TCP echo and ws (node), round by round (default)\n"
      "  idle   the helper's idle cost beside a blocking wait and a 25 ms wait loop\n"
      "  smoke  every peer starts and answers (a few seconds)\n"
      "  --rounds N        rounds of the peer comparison (default 3)\n"
      "  --cpu N           CPU for the client and every server (default: the last; -1: none)\n"
      "  --out FILE        also write the Markdown results there\n"
      "  --work DIR        logs, scene and recorded replies (default: a new folder in /tmp)\n"
      "  --seconds N       idle: measuring time (default 60)\n"
      "  --no-live         run: leave out the live-stream timing\n"
      "  --helper, --sim, --echo, --idle-wait, --ws-peer, --node PATH   programs to use\n");
}

bool parse_options(int argc, char** argv, Options& o) {
  o.helper = TIVEL_BENCH_HELPER;
  o.sim = TIVEL_BENCH_SIM;
  o.echo = TIVEL_BENCH_ECHO;
  o.idle_wait = TIVEL_BENCH_IDLE_WAIT;
  o.ws_peer = TIVEL_BENCH_SOURCE_DIR "/ws_peer.js";
  int i = 1;
  if (i < argc && argv[i][0] != '-') o.mode = argv[i++];
  const std::map<std::string, int*> numbers = {
      {"--rounds", &o.rounds}, {"--cpu", &o.cpu}, {"--seconds", &o.idle_seconds}};
  const std::map<std::string, std::string*> texts = {
      {"--out", &o.out},   {"--work", &o.work},      {"--helper", &o.helper},
      {"--sim", &o.sim},   {"--echo", &o.echo},      {"--idle-wait", &o.idle_wait},
      {"--node", &o.node}, {"--ws-peer", &o.ws_peer}};
  for (; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--no-live") {
      o.live = false;
    } else if (i + 1 < argc && numbers.count(arg) != 0) {
      *numbers.at(arg) = std::atoi(argv[++i]);
    } else if (i + 1 < argc && texts.count(arg) != 0) {
      *texts.at(arg) = argv[++i];
    } else {
      return false;
    }
  }
  if (o.mode != "run" && o.mode != "idle" && o.mode != "smoke") return false;
  if (o.cpu == -2) o.cpu = static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)) - 1;
  if (o.rounds < 1) o.rounds = 1;
  if (o.idle_seconds < 1) o.idle_seconds = 1;
  if (o.mode == "smoke") {
    o.rounds = 1;
    o.hello_count = 50;
    o.burst_size = 20;
    o.bursts = 3;
    o.handshakes = 10;
    o.scans = 1;
    o.nets = 8;
    o.ie_bytes = 64;
    o.live = false;
  }
  return true;
}
