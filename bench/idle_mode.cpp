#include <chrono>
#include <cstdio>
#include <thread>

#include "modes.h"
#include "procs.h"
#include "report.h"
#include "setup.h"

// The helper with no page, beside a program that only waits 25 ms at a time and one that also
// watches a listening socket while it waits: all run side by side over the same seconds, so
// whatever else the machine does weighs on each alike.
int run_idle(const Options& o) {
  std::string work = prepare_work_dir(o.work);
  if (work.empty()) return 1;
  pin_self(o.cpu);
  Fleet fleet;
  std::string helper_log = work + "/idle-helper.log";
  pid_t helper =
      fleet.start("helper", {o.helper, "--port", std::to_string(free_port())}, o.cpu, helper_log);
  std::string lifetime = std::to_string(o.idle_seconds + 30);
  pid_t bare = fleet.start("wait loop", {o.idle_wait, lifetime}, o.cpu, work + "/idle-wait.log");
  pid_t watcher = fleet.start("wait loop on a socket", {o.idle_wait, lifetime, "--socket"}, o.cpu,
                              work + "/idle-wait.log");
  if (helper < 0 || bare < 0 || watcher < 0 || !wait_for_log(helper_log, "Running on", 5000)) {
    std::fprintf(stderr, "idle: could not start the helper (see %s)\n", helper_log.c_str());
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));  // past start-up
  std::printf("Measuring the idle cost for %d s (helper pid %d, wait loops %d and %d)...\n",
              o.idle_seconds, helper, bare, watcher);
  std::fflush(stdout);

  constexpr int kCount = 3;
  const pid_t pids[kCount] = {helper, bare, watcher};
  int64_t cpu_before[kCount], switches_before[kCount];
  for (int i = 0; i < kCount; ++i) {
    cpu_before[i] = cpu_ns(pids[i]);
    switches_before[i] = voluntary_switches(pids[i]);
  }
  auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(o.idle_seconds));
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double per_hour[kCount], wakeups[kCount];
  for (int i = 0; i < kCount; ++i) {
    int64_t cpu_after = cpu_ns(pids[i]), switches_after = voluntary_switches(pids[i]);
    if (cpu_before[i] < 0 || cpu_after < 0 || switches_before[i] < 0 || switches_after < 0) {
      std::fprintf(stderr, "idle: could not read /proc for pid %d\n", pids[i]);
      return 1;
    }
    per_hour[i] = static_cast<double>(cpu_after - cpu_before[i]) / 1e9 * 3600.0 / seconds;
    wakeups[i] = static_cast<double>(switches_after - switches_before[i]) / seconds;
  }
  double cpu_ratio = per_hour[1] > 0 ? per_hour[0] / per_hour[1] : -1;
  double wake_ratio = wakeups[1] > 0 ? wakeups[0] / wakeups[1] : -1;
  double socket_ratio = per_hour[2] > 0 ? per_hour[0] / per_hour[2] : -1;

  std::string text = "### Idle, no page\n\n" + now_text() + ", " + machine_description() +
                     text_of(", %.0f s side by side, load average %s at the end.\n\n", seconds,
                             load_average().c_str());
  text += format_rows({
      {"measure", "helper", "25 ms wait loop", "helper / wait loop", "wait loop on a socket",
       "helper / wait loop on a socket"},
      {"CPU seconds per hour", text_of("%.3f", per_hour[0]), text_of("%.3f", per_hour[1]),
       text_of("%.2f", cpu_ratio), text_of("%.3f", per_hour[2]), text_of("%.2f", socket_ratio)},
      {"wake-ups per second", text_of("%.1f", wakeups[0]), text_of("%.1f", wakeups[1]),
       text_of("%.2f", wake_ratio), text_of("%.1f", wakeups[2]),
       text_of("%.2f", wakeups[2] > 0 ? wakeups[0] / wakeups[2] : -1)},
  });
  text += text_of("\nGoal: idle CPU within 1.1x of the wait loop: %s (%.2fx).\n",
                  cpu_ratio >= 0 && cpu_ratio <= 1.1 ? "met" : "MISSED", cpu_ratio);
  std::printf("\n%s", text.c_str());
  if (!o.out.empty()) write_file(o.out, text);
  return 0;
}
