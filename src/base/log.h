#pragma once

#include <csignal>
#include <cstdint>

// The console log. Each line is "HH:MM:SS  <message>\n" in local time on standard output, in the
// order logged. The console never holds the helper up: lines wait in a bounded buffer that is
// written only while standard output can take more (a terminal paused with Ctrl+S, or a pipe
// nobody reads, costs dropped lines, never a stalled loop), and the file description, which the
// shell shares, is never switched to non-blocking (a terminal gets one of its own that is). Lines
// that do not fit are dropped and counted; "N log lines dropped" follows once output flows again.
//
// Repeated lines are rate-limited: lines of the same kind (the same text, or for log_format the
// same format, whatever fills it) beyond kRepeatsShown within kRepeatWindowMs are held back and
// summarised when the window ends as "<last of them> ... repeated N times", so a flood costs a
// bounded number of bytes per second.

inline constexpr uint32_t kRepeatsShown = 4;
inline constexpr uint64_t kRepeatWindowMs = 1000;

// Set (by a signal handler) when the terminal has echoed something, such as ^C, after the last
// line: the next line then begins with a newline so that it starts at the left margin.
extern volatile sig_atomic_t console_echo_pending;

// Logs `message` (complete, without a newline); its kind is the text itself.
void log_line(const char* message);

// Logs `message` as a line of kind `kind` (a fixed text, such as the format it was made from).
void log_keyed(const char* kind, const char* message);

// Formats into a buffer of `Capacity` bytes (cut at Capacity - 1, like snprintf) and logs it; the
// format is the line's kind.
template <unsigned long Capacity, typename... Args>
void log_format(const char* format, Args... args);

// At start-up, before the first log line: when standard output is a terminal, the log writes
// through a non-blocking description of that terminal of its own, since a terminal, unlike a pipe,
// may make a write that poll allowed wait all the same (room for less than the line). A pipe or a
// file is written through standard output itself.
void log_open_output();

// For the event loop. The descriptor to watch for POLLOUT while lines wait for standard output,
// else -1.
int log_wait_fd();

// Writes what standard output takes now, without waiting.
void log_flush();

// When the next summary of held-back repeats falls due; UINT64_MAX when none waits.
uint64_t log_due_ms();

// Writes the summaries of the repeat windows that ended by `now` (monotonic_ms).
void log_tick(uint64_t now);

// At exit: writes every pending summary, then waits at most `wait_ms` for standard output to take
// the lines still buffered; what it does not take by then is lost.
void log_finish(int wait_ms);

#include <cstdio>

template <unsigned long Capacity, typename... Args>
void log_format(const char* format, Args... args) {
  char text[Capacity];
  std::snprintf(text, sizeof text, format, args...);
  log_keyed(format, text);
}
