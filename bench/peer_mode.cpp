#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "modes.h"
#include "procs.h"
#include "report.h"
#include "scenarios.h"
#include "setup.h"
#include "sim_scene.h"
#include "wire.h"

namespace {

constexpr char kOrigin[] = "http://127.0.0.1:5173";
constexpr char kHelloCommand[] = R"({"cmd":"hello"})";
constexpr char kScanCommand[] = R"({"cmd":"scan"})";
constexpr int kHelper = 0, kEcho = 1, kWs = 2;

// Who is measured where. The helper answers hello, burst and handshakes itself; its scans and
// live stream come from the simulator (the same helper on a stand-in kernel).
struct Setup {
  std::string work;
  Target hello[3], handshake[3], scan[3];
  bool have_scan = false;
  Target live;
  int64_t helper_rss_start_kb = -1, helper_hwm_end_kb = -1;
  int64_t sim_rss_start_kb = -1, sim_hwm_scan_kb = -1;
  int64_t scan_statics_kb = -1;  // the simulator's static tables first touched by the scan
  int64_t echo_rss_kb = -1, ws_rss_kb = -1;
  std::vector<std::string> notes;
  std::vector<int> idle_pages;  // connections held open for the whole run
};

bool file_exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

// Starts one copy of the helper-like program `path` and waits for its "Running on" line.
pid_t start_helper(Fleet& fleet, const std::string& name, const std::string& path, int port,
                   int cpu, const std::string& log, const std::vector<std::string>& env = {}) {
  std::vector<std::string> argv;
  if (!env.empty()) {
    argv.push_back("env");
    argv.insert(argv.end(), env.begin(), env.end());
  }
  argv.insert(argv.end(), {path, "--port", std::to_string(port), "--dev-origin", kOrigin});
  pid_t pid = fleet.start(name, argv, cpu, log);
  if (pid < 0 || !wait_for_log(log, "Running on", 5000)) return -1;
  return pid;
}

// The 101 head exactly as the helper sends it.
std::string record_upgrade_head(int port) {
  int fd = tcp_connect(port);
  if (fd < 0) return "";
  Reader reader;
  reader_reset(reader, fd);
  std::string request = page_request(port, kOrigin);
  std::string head;
  if (!send_bytes(fd, request) || !read_http_head(reader, &head)) {
    head.clear();
  }
  ws_close(fd, reader);
  return head;
}

bool start_everything(const Options& o, Fleet& fleet, Setup& s) {
  // The helper itself; its resident size is read before anyone has connected.
  int port = free_port();
  pid_t helper = start_helper(fleet, "helper", o.helper, port, o.cpu, s.work + "/helper.log");
  if (helper < 0) {
    std::fprintf(stderr, "bench: the helper did not start (see %s/helper.log)\n", s.work.c_str());
    return false;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  s.helper_rss_start_kb = status_field(helper, "VmRSS");
  s.hello[kHelper] = s.handshake[kHelper] = {port, helper, kOrigin};
  // A page stays connected throughout, or the helper would quit 30 s after the last one left.
  s.idle_pages.push_back(open_idle_page(s.hello[kHelper]));

  std::string hello = fetch_reply(s.hello[kHelper], kHelloCommand);
  std::string head = record_upgrade_head(port);
  if (hello.compare(0, 16, R"({"type":"hello",)") != 0 || head.empty()) {
    std::fprintf(stderr, "bench: the helper did not answer hello\n");
    return false;
  }
  write_file(s.work + "/hello.json", hello);
  write_file(s.work + "/hello.frame", server_frame(1, hello));
  write_file(s.work + "/upgrade.head", head);
  write_file(s.work + "/close.frame", server_frame(8, ""));

  // The simulator with the benchmark's scene, for the scan and the live stream.
  std::string scan;
  if (!o.sim.empty() && file_exists(o.sim)) {
    std::string scene = s.work + "/bench.scene";
    write_file(scene, scene_text(o.nets, o.ie_bytes));
    int sim_port = free_port();
    pid_t sim = start_helper(fleet, "simulator", o.sim, sim_port, o.cpu, s.work + "/sim.log",
                             {"TIVEL_SIM_SCENE=" + scene});
    if (sim < 0) {
      std::fprintf(stderr, "bench: the simulator did not start (see %s/sim.log)\n", s.work.c_str());
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    s.sim_rss_start_kb = status_field(sim, "VmRSS");
    s.scan[kHelper] = {sim_port, sim, kOrigin};
    s.idle_pages.push_back(open_idle_page(s.scan[kHelper]));
    int64_t image_before = image_rss_kb(sim);
    scan = fetch_reply(s.scan[kHelper], kScanCommand);
    s.sim_hwm_scan_kb = status_field(sim, "VmHWM");
    s.scan_statics_kb = image_rss_kb(sim) - image_before;
    if (scan.compare(0, 15, R"({"type":"scan",)") != 0) {
      std::fprintf(stderr, "bench: the simulator did not answer scan: %.200s\n", scan.c_str());
      return false;
    }
    write_file(s.work + "/scan.json", scan);
    write_file(s.work + "/scan.frame", server_frame(1, scan));
    s.have_scan = true;

    // The live stream gets a simulator of its own, free to run on any CPU: its timing is the
    // scheduler's as much as the helper's, and a CPU shared with the machine's other work can
    // delay any wake-up by tens of milliseconds.
    if (o.live) {
      int live_port = free_port();
      pid_t live = start_helper(fleet, "live simulator", o.sim, live_port, -1,
                                s.work + "/live-sim.log", {"TIVEL_SIM_SCENE=" + scene});
      if (live < 0) {
        std::fprintf(stderr, "bench: the live simulator did not start\n");
        return false;
      }
      s.live = {live_port, live, kOrigin};
      s.idle_pages.push_back(open_idle_page(s.live));
    }
  } else {
    s.notes.push_back("No simulator was given, so the scan and the live stream were left out.");
  }

  // The TCP echo, replaying the helper's recorded bytes.
  int echo_port = free_port();
  std::vector<std::string> echo_argv = {
      o.echo, std::to_string(echo_port), s.work + "/upgrade.head", s.work + "/close.frame",
      text_of("%zu=%s/hello.frame", std::strlen(kHelloCommand), s.work.c_str())};
  if (s.have_scan) {
    echo_argv.push_back(text_of("%zu=%s/scan.frame", std::strlen(kScanCommand), s.work.c_str()));
  }
  pid_t echo = fleet.start("tcp echo", echo_argv, o.cpu, s.work + "/echo.log");
  if (echo < 0 || !wait_listening(echo_port, 5000)) {
    std::fprintf(stderr, "bench: the TCP echo did not start (see %s/echo.log)\n", s.work.c_str());
    return false;
  }
  s.hello[kEcho] = s.handshake[kEcho] = s.scan[kEcho] = {echo_port, echo, kOrigin};
  s.echo_rss_kb = status_field(echo, "VmRSS");

  // The npm ws peer.
  std::string ws_package = o.ws_peer.substr(0, o.ws_peer.rfind('/') + 1) + "node_modules/ws";
  if (!file_exists(o.ws_peer) || !file_exists(ws_package)) {
    std::fprintf(stderr, "bench: %s is missing; run `make deps` (npm ci in bench/)\n",
                 ws_package.c_str());
    return false;
  }
  int ws_port = free_port();
  std::vector<std::string> argv = {o.node, o.ws_peer, std::to_string(ws_port), kOrigin,
                                   s.work + "/hello.json"};
  if (s.have_scan) argv.push_back(s.work + "/scan.json");
  pid_t ws = fleet.start("ws peer", argv, o.cpu, s.work + "/ws.log");
  if (ws < 0 || !wait_listening(ws_port, 10000)) {
    std::fprintf(stderr, "bench: the ws peer did not start (see %s/ws.log)\n", s.work.c_str());
    return false;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  s.ws_rss_kb = status_field(ws, "VmRSS");
  s.hello[kWs] = s.handshake[kWs] = s.scan[kWs] = {ws_port, ws, kOrigin};
  return true;
}

enum MeasureIndex {
  kHelloP50,
  kHelloP99,
  kHelloRate,
  kBurstRate,
  kHandshakeRate,
  kScanP50,
  kCpuHello,
  kCpuBurst,
  kCpuHandshake,
  kCpuScan,
  kMeasureCount
};

std::vector<Measure> empty_measures(const Options& o, uint64_t scan_bytes) {
  std::vector<Measure> m(kMeasureCount);
  m[kHelloP50] = {"hello round trip p50", "us", 1, {}};
  m[kHelloP99] = {"hello round trip p99", "us", 1, {}};
  m[kHelloRate] = {"hello messages/s, one connection", "1/s", 0, {}};
  m[kBurstRate] = {text_of("burst of %d pipelined hellos", o.burst_size), "messages/s", 0, {}};
  m[kHandshakeRate] = {"handshakes: connect, upgrade, close", "1/s", 0, {}};
  m[kScanP50] = {text_of("scan round trip p50, %d nets x %d B IEs, %.0f KB reply", o.nets,
                         o.ie_bytes, static_cast<double>(scan_bytes) / 1000.0),
                 "ms",
                 2,
                 {}};
  m[kCpuHello] = {"server CPU per hello", "us", 2, {}};
  m[kCpuBurst] = {"server CPU per burst message", "us", 2, {}};
  m[kCpuHandshake] = {"server CPU per handshake", "us", 1, {}};
  m[kCpuScan] = {"server CPU per scan", "ms", 3, {}};
  return m;
}

// One round: each exchange in turn, each peer in turn, the peers' order rotating by round.
bool run_round(const Options& o, const Setup& s, int round, std::vector<Measure>& m) {
  bool all_ok = true;
  int order[3];
  for (int i = 0; i < 3; ++i) order[i] = (i + round) % 3;
  auto check = [&](bool ok, int peer, const char* what) {
    if (!ok) {
      std::fprintf(stderr, "bench: %s failed on %s\n", what, kPeers[peer].c_str());
      all_ok = false;
    }
    return ok;
  };
  for (int peer : order) {
    HelloFigures f = measure_hello(s.hello[peer], o.hello_count);
    if (!check(f.ok, peer, "hello")) continue;
    record(m[kHelloP50], kPeers[peer], f.p50_us);
    record(m[kHelloP99], kPeers[peer], f.p99_us);
    record(m[kHelloRate], kPeers[peer], f.per_second);
    record(m[kCpuHello], kPeers[peer], f.cpu_us_per_message);
  }
  for (int peer : order) {
    RateFigures f = measure_burst(s.hello[peer], o.burst_size, o.bursts);
    if (!check(f.ok, peer, "burst")) continue;
    record(m[kBurstRate], kPeers[peer], f.per_second);
    record(m[kCpuBurst], kPeers[peer], f.cpu_us_per_unit);
  }
  for (int peer : order) {
    RateFigures f = measure_handshakes(s.handshake[peer], o.handshakes);
    if (!check(f.ok, peer, "handshakes")) continue;
    record(m[kHandshakeRate], kPeers[peer], f.per_second);
    record(m[kCpuHandshake], kPeers[peer], f.cpu_us_per_unit);
  }
  if (s.have_scan) {
    for (int peer : order) {
      ScanFigures f = measure_scan(s.scan[peer], o.scans, o.nets);
      if (!check(f.ok, peer, "scan")) continue;
      record(m[kScanP50], kPeers[peer], f.p50_ms);
      record(m[kCpuScan], kPeers[peer], f.cpu_ms_per_scan);
    }
  }
  return all_ok;
}

std::string mb_text(int64_t kb) {
  return kb < 0 ? "-" : text_of("%.2f", static_cast<double>(kb) / 1024.0);
}

std::string goal_line(const char* goal, bool met, const std::string& measured) {
  return std::string("- ") + goal + ": " + (met ? "met" : "**MISSED**") + " (" + measured + ")\n";
}

}  // namespace

int run_peers(const Options& o) {
  Setup s;
  s.work = prepare_work_dir(o.work);
  if (s.work.empty()) {
    std::fprintf(stderr, "bench: no work folder\n");
    return 1;
  }
  if (!pin_self(o.cpu)) s.notes.push_back("Pinning to one CPU failed; the run is unpinned.");
  Fleet fleet;
  if (!start_everything(o, fleet, s)) return 1;
  std::string load_before = load_average();

  uint64_t scan_bytes = s.have_scan ? read_file(s.work + "/scan.json").size() : 0;
  std::vector<Measure> m = empty_measures(o, scan_bytes);
  bool all_ok = true;
  // One unrecorded round first, so node's JIT and every allocator start warm.
  if (o.mode != "smoke") {
    std::printf("Warm-up round...\n");
    std::fflush(stdout);
    std::vector<Measure> discarded = empty_measures(o, scan_bytes);
    all_ok = run_round(o, s, 0, discarded);
  }
  for (int round = 0; round < o.rounds; ++round) {
    std::printf("Round %d of %d...\n", round + 1, o.rounds);
    std::fflush(stdout);
    all_ok = run_round(o, s, round, m) && all_ok;
  }
  s.helper_hwm_end_kb = status_field(s.hello[kHelper].pid, "VmHWM");

  // Each stream beside a bare timer at the same rate over the same seconds, all unpinned.
  LiveFigures live20, live3, timer20, timer3;
  if (o.live && s.have_scan) {
    std::printf("Live stream: 20 Hz for 5 s, then 3 Hz for 10 s...\n");
    std::fflush(stdout);
    pin_self(-1);
    auto stream_beside_timer = [&](int hz, int secs, LiveFigures& stream, LiveFigures& timer) {
      std::thread reference([&] { timer = measure_bare_timer(hz, secs); });
      stream = measure_live(s.live, hz, secs);
      reference.join();
      write_file(s.work + text_of("/live-%dhz.txt", hz), stream.trace);
      write_file(s.work + text_of("/timer-%dhz.txt", hz), timer.trace);
    };
    stream_beside_timer(20, 5, live20, timer20);
    stream_beside_timer(3, 10, live3, timer3);
    pin_self(o.cpu);
    all_ok = all_ok && live20.ok && live3.ok;
  }

  // The report.
  std::string text =
      "## " + std::string(o.mode == "smoke" ? "Smoke run" : "Benchmark") + ", " + now_text() +
      "\n\n" + machine_description() + ". " +
      text_of("%d rounds; client and every server pinned to CPU %d; ", o.rounds, o.cpu) +
      "load average " + load_before + " before, " + load_average() + " after.\n\n";
  std::vector<Measure> shown;
  for (int i = 0; i < kMeasureCount; ++i) {
    if (s.have_scan || (i != kScanP50 && i != kCpuScan)) shown.push_back(m[i]);
  }
  text += format_table(shown);

  // The simulator holds its scene and builds the kernel's replies in the helper's own process, so
  // its peak overstates the helper's. The helper alone: its size after start, plus the static
  // tables the scan filled (measured in the simulator), plus the report's text block at its full
  // capacity (1024 bytes doubled until the report fits; released after sending).
  int64_t block_kb = 1;
  while (block_kb * 1024 < static_cast<int64_t>(scan_bytes) + 1) block_kb *= 2;
  int64_t helper_peak_kb = s.helper_rss_start_kb >= 0 && s.scan_statics_kb >= 0
                               ? s.helper_rss_start_kb + s.scan_statics_kb + block_kb
                               : -1;
  text += "\n### Memory\n\n";
  text += format_rows({
      {"process", "RSS after start (MB)", "peak RSS, VmHWM (MB)"},
      {"helper", mb_text(s.helper_rss_start_kb),
       mb_text(s.helper_hwm_end_kb) + " after the whole table"},
      {"simulator (helper + scene + stand-in kernel)", mb_text(s.sim_rss_start_kb),
       mb_text(s.sim_hwm_scan_kb) + text_of(" after one %d-network scan", o.nets)},
      {"helper alone, derived", "-",
       s.have_scan
           ? mb_text(helper_peak_kb) + text_of(" = start + %.2f static tables + %.2f report block",
                                               static_cast<double>(s.scan_statics_kb) / 1024.0,
                                               static_cast<double>(block_kb) / 1024.0)
           : "-"},
      {"tcp echo", mb_text(s.echo_rss_kb), "-"},
      {"ws (node)", mb_text(s.ws_rss_kb), "-"},
  });

  if (live20.ok || live3.ok) {
    text +=
        "\n### Live stream (simulator): spacing of consecutive samples' \"t\", error = "
        "distance from 1000/hz ms\n\n";
    std::vector<std::vector<std::string>> rows = {{"stream", "samples", "mean spacing (ms)",
                                                   "p99 error (ms)", "max error (ms)",
                                                   "p99 error at arrival (ms)"}};
    auto row = [&](const char* what, const LiveFigures& f, bool arrival) {
      rows.push_back({what, text_of("%d", f.samples), text_of("%.2f", f.mean_spacing_ms),
                      text_of("%.1f", f.p99_error_ms), text_of("%.1f", f.max_error_ms),
                      arrival ? text_of("%.2f", f.arrival_p99_error_ms) : "-"});
    };
    row("helper, 20 Hz", live20, true);
    row("bare timer, 20 Hz", timer20, false);
    row("helper, 3 Hz", live3, true);
    row("bare timer, 3 Hz", timer3, false);
    text += format_rows(rows);
  }

  text += "\n### Goals\n\n";
  double hello_echo = ratio_of(m[kHelloP50], "tcp echo");
  double hello_ws = ratio_of(m[kHelloP50], "ws (node)");
  double handshake_ws = ratio_of(m[kHandshakeRate], "ws (node)");
  double burst_ws = ratio_of(m[kBurstRate], "ws (node)");
  text += goal_line("hello round trip p50 within 1.15x of the TCP echo",
                    hello_echo > 0 && hello_echo <= 1.15, text_of("%.2fx", hello_echo));
  text += goal_line("hello round trip p50 at most 0.75x of ws", hello_ws > 0 && hello_ws <= 0.75,
                    text_of("%.2fx", hello_ws));
  text += goal_line("handshakes per second at least 2.5x ws", handshake_ws >= 2.5,
                    text_of("%.2fx", handshake_ws));
  text += goal_line("burst messages per second at least 5x ws", burst_ws >= 5,
                    text_of("%.2fx", burst_ws));
  text += goal_line("RSS after start at most 2 MB",
                    s.helper_rss_start_kb >= 0 && s.helper_rss_start_kb <= 2048,
                    mb_text(s.helper_rss_start_kb) + " MB");
  if (s.have_scan) {
    text +=
        goal_line("peak RSS after a 96-network scan at most 3 MB",
                  helper_peak_kb >= 0 && helper_peak_kb <= 3072,
                  mb_text(helper_peak_kb) + " MB helper alone, derived; the simulator process " +
                      mb_text(s.sim_hwm_scan_kb) + " MB");
  }
  if (live20.ok) {
    text += goal_line(
        "20 Hz: spacing 50 ms, p99 error at most 2 ms",
        std::fabs(live20.mean_spacing_ms - 50) <= 0.5 && live20.p99_error_ms <= 2,
        text_of("mean %.2f ms, p99 error %.1f ms", live20.mean_spacing_ms, live20.p99_error_ms));
  }
  if (live3.ok) {
    double off = std::fabs(live3.mean_spacing_ms - 333) / 333 * 100;
    text += goal_line("3 Hz: mean spacing over 10 s within 1% of 333 ms", off <= 1,
                      text_of("mean %.2f ms, %.2f%% off", live3.mean_spacing_ms, off));
  }
  for (const std::string& note : s.notes) text += "\n" + note + "\n";

  std::printf("\n%s", text.c_str());
  if (!o.out.empty()) write_file(o.out, text);
  if (!all_ok) std::fprintf(stderr, "bench: some exchanges failed (logs in %s)\n", s.work.c_str());
  return all_ok ? 0 : 1;
}
