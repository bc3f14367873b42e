// The benchmark client. Starts the helper and its two references pinned to one CPU, measures
// them round by round in one run and prints one table (bench/RESULTS.md shows the latest):
//   tivel_bench [run] [--rounds N] [--out FILE] ...   the peer table, memory and live stream
//   tivel_bench idle [--seconds N]                    idle cost beside a blocking wait and a 25 ms
//   loop tivel_bench smoke                                 every peer starts and answers
// Program paths default to the build tree's; --help lists the options.

#include "modes.h"
#include "options.h"

int main(int argc, char** argv) {
  Options o;
  if (!parse_options(argc, argv, o)) {
    print_usage();
    return 2;
  }
  if (o.mode == "idle") return run_idle(o);
  return run_peers(o);
}
