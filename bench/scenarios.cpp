#include "scenarios.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "procs.h"
#include "stats.h"
#include "wire.h"

namespace {

using Clock = std::chrono::steady_clock;

double micros_since(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// An upgraded connection; fd -1 when the upgrade failed.
struct Session {
  int fd = -1;
  Reader reader;
};

bool open_session(const Target& target, Session& session) {
  session.fd = tcp_connect(target.port);
  if (session.fd < 0) return false;
  reader_reset(session.reader, session.fd);
  if (ws_upgrade(session.fd, session.reader, target.port, target.origin)) return true;
  close(session.fd);
  session.fd = -1;
  return false;
}

void close_session(Session& session) {
  if (session.fd >= 0) ws_close(session.fd, session.reader);
  session.fd = -1;
}

// Server CPU time between two readings, in microseconds; -1 when either could not be read.
struct CpuMeter {
  pid_t pid;
  int64_t start_ns;
  explicit CpuMeter(pid_t p) : pid(p), start_ns(p > 0 ? cpu_ns(p) : -1) {}
  double elapsed_us() const {
    if (start_ns < 0) return -1;
    int64_t end_ns = cpu_ns(pid);
    return end_ns < 0 ? -1 : static_cast<double>(end_ns - start_ns) / 1000.0;
  }
};

const std::string& hello_frame() {
  static const std::string frame = text_frame(R"({"cmd":"hello"})");
  return frame;
}

// Runs `step` `warmup` times, then `count` times with the clock and the server's CPU time
// running, each run counting `units_per_step` units. Not ok when any run failed.
template <typename Step>
RateFigures timed_rate(pid_t pid, int warmup, int count, int units_per_step, Step step) {
  RateFigures figures;
  for (int i = 0; i < warmup; ++i) {
    if (!step()) return figures;
  }
  CpuMeter cpu(pid);
  Clock::time_point start = Clock::now();
  for (int i = 0; i < count; ++i) {
    if (!step()) return figures;
  }
  double total_us = micros_since(start);
  double cpu_us = cpu.elapsed_us();
  double units = static_cast<double>(units_per_step) * count;
  figures.ok = true;
  figures.per_second = units / (total_us / 1e6);
  if (cpu_us >= 0) figures.cpu_us_per_unit = cpu_us / units;
  return figures;
}

// Sends one command frame and reads one text reply (payload length only).
bool round_trip(Session& session, const std::string& frame, uint64_t* length) {
  if (!send_bytes(session.fd, frame)) return false;
  int opcode = 0;
  return skip_frame(session.reader, &opcode, length) && opcode == 1;
}

// The "t" member of an rssi message, or -1.
int64_t sample_time(const std::string& payload) {
  if (payload.compare(0, 15, R"({"type":"rssi",)") != 0) return -1;
  size_t at = payload.find(R"("t":)");
  if (at == std::string::npos) return -1;
  return std::strtoll(payload.c_str() + at + 4, nullptr, 10);
}

size_t count_of(const std::string& text, const char* needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
    ++count;
  }
  return count;
}

// Spacing statistics of consecutive samples taken at `hz`.
LiveFigures spacing_figures(const std::vector<double>& t_ms, const std::vector<double>& arrival_ms,
                            int hz) {
  LiveFigures figures;
  if (t_ms.size() < 2) return figures;
  double spacing = std::floor(1000.0 / hz);
  std::vector<double> errors, arrival_errors;
  for (size_t i = 1; i < t_ms.size(); ++i) {
    errors.push_back(std::fabs(t_ms[i] - t_ms[i - 1] - spacing));
    arrival_errors.push_back(std::fabs(arrival_ms[i] - arrival_ms[i - 1] - spacing));
  }
  for (size_t i = 0; i < t_ms.size(); ++i) {
    figures.trace +=
        std::to_string(static_cast<int64_t>(t_ms[i])) + " " + std::to_string(arrival_ms[i]) + "\n";
  }
  figures.ok = true;
  figures.samples = static_cast<int>(t_ms.size());
  figures.mean_spacing_ms = (t_ms.back() - t_ms.front()) / static_cast<double>(t_ms.size() - 1);
  figures.p99_error_ms = percentile(errors, 0.99);
  figures.max_error_ms = percentile(errors, 1.0);
  figures.arrival_p99_error_ms = percentile(arrival_errors, 0.99);
  return figures;
}

}  // namespace

std::string server_frame(int opcode, const std::string& payload) {
  std::string frame(1, static_cast<char>(0x80 | opcode));
  uint64_t n = payload.size();
  if (n < 126) {
    frame.push_back(static_cast<char>(n));
  } else if (n < 65536) {
    frame.push_back(126);
    frame.push_back(static_cast<char>(n >> 8));
    frame.push_back(static_cast<char>(n & 0xFF));
  } else {
    frame.push_back(127);
    for (int shift = 56; shift >= 0; shift -= 8) frame.push_back(static_cast<char>(n >> shift));
  }
  return frame + payload;
}

int open_idle_page(const Target& target) {
  Session session;
  return open_session(target, session) ? session.fd : -1;
}

std::string fetch_reply(const Target& target, const std::string& command) {
  Session session;
  if (!open_session(target, session)) return "";
  std::string frame = text_frame(command);
  std::string payload;
  int opcode = 0;
  if (!send_bytes(session.fd, frame) || !read_frame(session.reader, &opcode, &payload) ||
      opcode != 1) {
    payload.clear();
  }
  close_session(session);
  return payload;
}

HelloFigures measure_hello(const Target& target, int count) {
  HelloFigures figures;
  Session session;
  if (!open_session(target, session)) return figures;
  uint64_t length = 0;
  for (int i = 0; i < std::min(count, 200); ++i) {  // warm caches and the allocator first
    if (!round_trip(session, hello_frame(), &length)) return close_session(session), figures;
  }
  std::vector<double> rtt_us;
  rtt_us.reserve(static_cast<size_t>(count));
  CpuMeter cpu(target.pid);
  Clock::time_point all = Clock::now();
  for (int i = 0; i < count; ++i) {
    Clock::time_point start = Clock::now();
    if (!round_trip(session, hello_frame(), &length)) return close_session(session), figures;
    rtt_us.push_back(micros_since(start));
  }
  double total_us = micros_since(all);
  double cpu_us = cpu.elapsed_us();
  close_session(session);
  figures.ok = true;
  figures.p50_us = percentile(rtt_us, 0.50);
  figures.p99_us = percentile(rtt_us, 0.99);
  figures.per_second = count / (total_us / 1e6);
  if (cpu_us >= 0) figures.cpu_us_per_message = cpu_us / count;
  return figures;
}

RateFigures measure_burst(const Target& target, int burst_size, int bursts) {
  Session session;
  if (!open_session(target, session)) return {};
  std::string burst;
  for (int i = 0; i < burst_size; ++i) burst += hello_frame();
  RateFigures figures = timed_rate(target.pid, 3, bursts, burst_size, [&] {
    if (!send_bytes(session.fd, burst)) return false;
    for (int i = 0; i < burst_size; ++i) {
      int opcode = 0;
      uint64_t length = 0;
      if (!skip_frame(session.reader, &opcode, &length) || opcode != 1) return false;
    }
    return true;
  });
  close_session(session);
  return figures;
}

RateFigures measure_handshakes(const Target& target, int count) {
  return timed_rate(target.pid, 20, count, 1, [&] {
    Session session;
    if (!open_session(target, session)) return false;
    close_session(session);
    return true;
  });
}

ScanFigures measure_scan(const Target& target, int count, int nets) {
  ScanFigures figures;
  Session session;
  if (!open_session(target, session)) return figures;
  std::string frame = text_frame(R"({"cmd":"scan"})");
  std::string first;
  int opcode = 0;
  if (!send_bytes(session.fd, frame) || !read_frame(session.reader, &opcode, &first) ||
      opcode != 1 || first.compare(0, 15, R"({"type":"scan",)") != 0 ||
      count_of(first, R"({"ssid":)") != static_cast<size_t>(nets)) {
    return close_session(session), figures;
  }
  std::vector<double> rtt_ms;
  CpuMeter cpu(target.pid);
  for (int i = 0; i < count; ++i) {
    Clock::time_point start = Clock::now();
    uint64_t length = 0;
    if (!round_trip(session, frame, &length) || length != first.size()) {
      return close_session(session), figures;
    }
    rtt_ms.push_back(micros_since(start) / 1000.0);
  }
  double cpu_us = cpu.elapsed_us();
  close_session(session);
  figures.ok = true;
  figures.p50_ms = percentile(rtt_ms, 0.50);
  figures.p99_ms = percentile(rtt_ms, 0.99);
  figures.reply_bytes = first.size();
  if (cpu_us >= 0) figures.cpu_ms_per_scan = cpu_us / 1000.0 / count;
  return figures;
}

LiveFigures measure_live(const Target& target, int hz, int secs) {
  LiveFigures figures;
  Session session;
  if (!open_session(target, session)) return figures;
  std::string command =
      R"({"cmd":"watch","hz":)" + std::to_string(hz) + R"(,"secs":)" + std::to_string(secs) + "}";
  std::string frame = text_frame(command);
  if (!send_bytes(session.fd, frame)) return close_session(session), figures;
  std::vector<double> t_ms, arrival_ms;
  Clock::time_point start = Clock::now();
  std::string payload;
  int opcode = 0;
  bool stopped = false;
  while (!stopped && read_frame(session.reader, &opcode, &payload)) {
    double arrival = micros_since(start) / 1000.0;
    if (payload == R"({"type":"stopped"})") stopped = true;
    int64_t t = sample_time(payload);
    if (t >= 0) {
      t_ms.push_back(static_cast<double>(t));
      arrival_ms.push_back(arrival);
    }
  }
  close_session(session);
  if (!stopped) return figures;
  return spacing_figures(t_ms, arrival_ms, hz);
}

LiveFigures measure_bare_timer(int hz, int secs) {
  std::vector<double> t_ms, arrival_ms;
  timespec due{};
  clock_gettime(CLOCK_MONOTONIC, &due);
  int64_t step_ns = static_cast<int64_t>(1000 / hz) * 1000000;
  for (int i = 0; i < hz * secs; ++i) {
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    t_ms.push_back(static_cast<double>(now.tv_sec * 1000 + now.tv_nsec / 1000000));
    arrival_ms.push_back(0);
    int64_t next = due.tv_nsec + step_ns;
    due.tv_sec += next / 1000000000;
    due.tv_nsec = next % 1000000000;
  }
  return spacing_figures(t_ms, arrival_ms, hz);
}
