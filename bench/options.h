#pragma once

#include <string>

// What one run of the benchmark client does, from its command line.
struct Options {
  std::string mode = "run";  // run, idle or smoke
  std::string helper;        // the helper binary (hello, burst, handshakes, memory, idle)
  std::string sim;           // the simulator binary (scan and live stream); empty: left out
  std::string echo;          // the TCP reference
  std::string idle_wait;     // the bare 25 ms wait loop
  std::string ws_peer;       // ws_peer.js
  std::string node = "node";
  std::string work;  // logs, scene and recorded replies; empty: a fresh folder under /tmp
  std::string out;   // also write the Markdown results here
  int cpu = -2;      // -2: the last CPU; -1: no pinning
  int rounds = 3;
  int hello_count = 3000;
  int burst_size = 100;
  int bursts = 60;
  int handshakes = 1000;
  int scans = 7;
  int nets = 96;
  int ie_bytes = 2048;
  int idle_seconds = 60;
  bool live = true;
};

// Fills `o` from the command line (program paths default to the build tree's); false on an
// unknown argument.
bool parse_options(int argc, char** argv, Options& o);

void print_usage();
