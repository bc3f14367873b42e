#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "modes.h"
#include "procs.h"
#include "report.h"
#include "setup.h"
#include "wire.h"

namespace {

constexpr const char* kOrigin = "https://tamberline.com";

// A page connected to the helper on `port`: upgraded, and when `watch` is set, streaming at
// 20 Hz for the whole run, its frames read (and dropped) by a thread until the socket ends.
struct IdlePage {
  int fd = -1;
  Reader reader;
  std::thread drain;
};

bool open_page(IdlePage& page, int port, bool watch) {
  if (!wait_listening(port, 5000)) return false;
  page.fd = tcp_connect(port);
  reader_reset(page.reader, page.fd);
  if (page.fd < 0 || !ws_upgrade(page.fd, page.reader, port, kOrigin)) return false;
  if (!watch) return true;
  std::string frame = text_frame(R"({"cmd":"watch","hz":20,"secs":600})");
  if (!write_all(page.fd, frame.data(), frame.size())) return false;
  page.drain = std::thread([&page] {
    int opcode = 0;
    uint64_t length = 0;
    while (skip_frame(page.reader, &opcode, &length)) {
    }
  });
  return true;
}

void close_page(IdlePage& page) {
  if (page.fd >= 0) shutdown(page.fd, SHUT_RDWR);
  if (page.drain.joinable()) page.drain.join();
  if (page.fd >= 0) close(page.fd);
}

// Sends SIGINT and times the exit; the child is reaped here (and left out of the fleet's stop).
double stop_latency_ms(Fleet& fleet, pid_t pid) {
  auto start = std::chrono::steady_clock::now();
  kill(pid, SIGINT);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() - start > std::chrono::seconds(5)) return -1;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  for (Child& child : fleet.children) {
    if (child.pid == pid) child.pid = -1;
  }
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace

// Three helpers (no page, an idle page, a 20 Hz stream) beside a blocking wait and a 25 ms wait
// loop, each watching a listening socket: all run side by side over the same seconds, so
// whatever else the machine does weighs on each alike.
int run_idle(const Options& o) {
  std::string work = prepare_work_dir(o.work);
  if (work.empty()) return 1;
  pin_self(o.cpu);
  Fleet fleet;
  constexpr int kCount = 5;
  const char* names[kCount] = {"helper, no page", "helper, idle page", "helper, 20 Hz stream",
                               "blocking wait", "25 ms wait loop"};
  pid_t pids[kCount];
  int ports[3];
  for (int i = 0; i < 3; ++i) {
    // One at a time: each takes the first free port of the default range and logs it.
    std::string log = work + "/idle-helper-" + std::to_string(i) + ".log";
    pids[i] = fleet.start(names[i], {o.helper}, o.cpu, log);
    bool running = pids[i] >= 0 && wait_for_log(log, "Running on 127.0.0.1:", 5000);
    std::string text = running ? read_file(log) : "";
    size_t at = text.find("127.0.0.1:");
    if (at == std::string::npos || std::sscanf(text.c_str() + at, "127.0.0.1:%d", &ports[i]) != 1) {
      std::fprintf(stderr, "idle: could not start %s (see %s)\n", names[i], log.c_str());
      return 1;
    }
  }
  std::string lifetime = std::to_string(o.idle_seconds + 30);
  pids[3] = fleet.start(names[3], {o.idle_wait, lifetime, "--block"}, o.cpu, work + "/idle-b.log");
  pids[4] = fleet.start(names[4], {o.idle_wait, lifetime}, o.cpu, work + "/idle-w.log");
  if (pids[3] < 0 || pids[4] < 0) {
    std::fprintf(stderr, "idle: could not start the wait loops\n");
    return 1;
  }
  IdlePage idle_page, stream_page;
  if (!open_page(idle_page, ports[1], false) || !open_page(stream_page, ports[2], true)) {
    std::fprintf(stderr, "idle: a page could not connect\n");
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));  // past start-up and the upgrades
  std::printf("Measuring the idle cost for %d s...\n", o.idle_seconds);
  std::fflush(stdout);

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
  double stop_ms[3];
  for (int i = 0; i < 3; ++i) stop_ms[i] = stop_latency_ms(fleet, pids[i]);
  close_page(idle_page);
  close_page(stream_page);

  std::string text = "### Idle (`make bench-idle`)\n\n" + now_text() + ", " +
                     machine_description() +
                     text_of(", %.0f s side by side, load average %s at the end.\n\n", seconds,
                             load_average().c_str());
  std::vector<std::vector<std::string>> rows = {
      {"measure"}, {"CPU seconds per hour"}, {"wake-ups per second"}, {"exit after SIGINT"}};
  for (int i = 0; i < kCount; ++i) {
    rows[0].push_back(names[i]);
    rows[1].push_back(text_of("%.3f", per_hour[i]));
    rows[2].push_back(text_of("%.2f", wakeups[i]));
    rows[3].push_back(i < 3 ? text_of("%.1f ms", stop_ms[i]) : "");
  }
  text += format_rows(rows);
  double worst_stop = std::max(stop_ms[0], std::max(stop_ms[1], stop_ms[2]));
  bool quiet = wakeups[0] * 5 <= 1.0 && wakeups[1] * 5 <= 1.0;
  bool stream = wakeups[2] <= 25.0;
  bool stop = stop_ms[0] >= 0 && stop_ms[1] >= 0 && stop_ms[2] >= 0 && worst_stop <= 100;
  text += text_of(
      "\nCPU per hour with no page: helper %.3f s, blocking wait %.3f s, 25 ms loop %.3f s.\n",
      per_hour[0], per_hour[3], per_hour[4]);
  text += text_of("Goal: at most one wake-up in 5 s with no page and with an idle page: %s.\n",
                  quiet ? "met" : "MISSED");
  text += text_of("Goal: at most 25 wake-ups a second during a 20 Hz stream: %s (%.2f).\n",
                  stream ? "met" : "MISSED", wakeups[2]);
  text += text_of("Goal: exit within 100 ms of SIGINT: %s (slowest %.1f ms).\n",
                  stop ? "met" : "MISSED", worst_stop);
  std::printf("\n%s", text.c_str());
  if (!o.out.empty()) write_file(o.out, text);
  return 0;
}
