#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// The measurements of one peer in one round. Each opens its own connection(s) to 127.0.0.1:port,
// speaks the page's side of the protocol, and reads the server's CPU time around the timed part
// (pid -1: not read). A failed exchange makes `ok` false and leaves the figures at 0.

struct Target {
  int port = 0;
  pid_t pid = -1;
  std::string origin;
};

// One hello after another on one connection.
struct HelloFigures {
  bool ok = false;
  double p50_us = 0, p99_us = 0;
  double per_second = 0;
  double cpu_us_per_message = -1;
};
HelloFigures measure_hello(const Target& target, int count);

// A rate of units (messages, handshakes) and the server's CPU time per unit.
struct RateFigures {
  bool ok = false;
  double per_second = 0;
  double cpu_us_per_unit = -1;
};

// `bursts` times: `burst_size` hello commands in one write, then all their replies; per message.
RateFigures measure_burst(const Target& target, int burst_size, int bursts);

// `count` times: connect, upgrade, close frame, close; per handshake.
RateFigures measure_handshakes(const Target& target, int count);

// One scan after another on one connection; each reply must be a scan report of `nets` entries.
struct ScanFigures {
  bool ok = false;
  double p50_ms = 0, p99_ms = 0;
  uint64_t reply_bytes = 0;
  double cpu_ms_per_scan = -1;
};
ScanFigures measure_scan(const Target& target, int count, int nets);

// A live stream at `hz` for `secs`: the spacing of consecutive samples' "t" and of their arrival.
struct LiveFigures {
  bool ok = false;
  int samples = 0;
  double mean_spacing_ms = 0;  // (last t - first t) / (samples - 1)
  double p99_error_ms = 0;     // of |t spacing - 1000/hz|
  double max_error_ms = 0;
  double arrival_p99_error_ms = 0;  // the same, measured on the client's clock at arrival
  std::string trace;                // one line per sample: t, and arrival ms since the command
};
LiveFigures measure_live(const Target& target, int hz, int secs);

// The same figures for a bare timer on this machine at the same time: a thread that sleeps to
// each due instant (1000/hz ms apart) for `secs` and takes the millisecond clock on waking, as
// the helper's loop does. What the scheduler alone costs; arrival figures stay 0.
LiveFigures measure_bare_timer(int hz, int secs);

// Opens an upgraded connection that then stays idle (a page left open); the socket, or -1.
int open_idle_page(const Target& target);

// Connects, upgrades, sends `command` and returns the first reply's payload ("" on failure).
std::string fetch_reply(const Target& target, const std::string& command);

// The exact bytes of a server frame carrying `payload` (as the helper frames it).
std::string server_frame(int opcode, const std::string& payload);
