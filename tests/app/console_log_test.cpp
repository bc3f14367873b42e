// The console log over a real pipe standing in for standard output: a full pipe costs dropped,
// counted lines and never a wait, and repeated lines are summarised once per window.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/log.h"
#include "support/helper_process.h"

namespace {

// Standard output redirected into a fresh pipe of one page for the life of the object.
struct PipedOutput {
  int saved = -1;
  int read_end = -1;
  std::string text;  // everything read so far

  PipedOutput() {
    int ends[2];
    EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0);
    EXPECT_GE(fcntl(ends[1], F_SETPIPE_SZ, 4096), 4096);
    std::fflush(stdout);
    saved = dup(1);
    dup2(ends[1], 1);
    close(ends[1]);
    read_end = ends[0];
    fcntl(read_end, F_SETFL, O_NONBLOCK);
  }
  ~PipedOutput() {
    log_finish(0);
    dup2(saved, 1);
    close(saved);
    close(read_end);
  }
  void drain() {
    char chunk[4096];
    ssize_t got;
    while ((got = read(read_end, chunk, sizeof chunk)) > 0) text.append(chunk, got);
  }
  // Reads until every buffered line went out (a pipe of one page takes one write at a time).
  void drain_all() {
    for (int i = 0; i < 100; ++i) {
      drain();
      if (log_wait_fd() == -1) break;
      log_flush();
    }
    drain();
  }
};

}  // namespace

// Standard output that takes nothing: logging goes on without waiting, the lines that do not fit
// the buffer are dropped, and once output flows again the kept lines come in order, followed by
// one line counting the dropped ones, then the lines logged after.
TEST(ConsoleLog, FullOutputDropsAndCountsLinesWithoutWaiting) {
  PipedOutput output;
  ASSERT_TRUE(fill_pipe(output.read_end));
  constexpr int kLines = 1000;
  for (int i = 0; i < kLines; ++i) {
    char message[32];
    std::snprintf(message, sizeof message, "line %04d of the flood", i);
    log_line(message);  // each its own kind: none is held back as a repeat
  }
  EXPECT_EQ(log_wait_fd(), 1) << "lines wait for the output to take them";

  auto start = std::chrono::steady_clock::now();
  while (output.text.find("log lines dropped") == std::string::npos &&
         std::chrono::steady_clock::now() - start < std::chrono::seconds(3)) {
    output.drain();
    log_flush();
  }
  log_line("after the flood");
  output.drain_all();

  std::vector<std::string> lines = log_messages(output.text);  // the filler left out
  ASSERT_GE(lines.size(), 3u) << output.text.substr(0, 400);
  size_t kept = 0;
  while (kept < lines.size() && lines[kept].starts_with("line ")) {
    char want[48];
    std::snprintf(want, sizeof want, "line %04zu of the flood", kept);
    EXPECT_EQ(lines[kept], want);
    ++kept;
  }
  EXPECT_GT(kept, 100u) << "a 16 KiB buffer holds well over a hundred such lines";
  EXPECT_LT(kept, static_cast<size_t>(kLines));
  ASSERT_EQ(lines.size(), kept + 2);
  EXPECT_EQ(lines[kept], std::to_string(kLines - kept) + " log lines dropped");
  EXPECT_EQ(lines[kept + 1], "after the flood");
  EXPECT_EQ(log_wait_fd(), -1);
}

// More than kRepeatsShown lines of one kind within a window: the first ones are written, the rest
// held back and summarised when the window ends; another kind is not held back meanwhile.
TEST(ConsoleLog, RepeatsAreSummarisedWhenTheirWindowEnds) {
  PipedOutput output;
  const uint64_t start = monotonic_ms();
  for (int i = 0; i < 100; ++i) {
    log_format<64>("Refused connection %d.", i);
    if (i == 50) log_line("Another kind of line.");
  }
  EXPECT_GE(log_due_ms(), start + kRepeatWindowMs);
  EXPECT_LE(log_due_ms(), monotonic_ms() + kRepeatWindowMs);
  log_tick(monotonic_ms() + kRepeatWindowMs);
  EXPECT_EQ(log_due_ms(), UINT64_MAX);
  log_format<64>("Refused connection %d.", 100);  // a new window: written at once
  output.drain_all();
  std::vector<std::string> want = {
      "Refused connection 0.",  "Refused connection 1.",
      "Refused connection 2.",  "Refused connection 3.",
      "Another kind of line.",  "Refused connection 99. ... repeated 96 times",
      "Refused connection 100."};
  EXPECT_EQ(log_messages(output.text), want);
}
