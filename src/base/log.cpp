#include "base/log.h"

#include <fcntl.h>
#include <poll.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/clock.h"
#include "base/sizes.h"

volatile sig_atomic_t console_echo_pending = 0;

namespace {

// Standard output, or for a terminal a non-blocking description of its own (log_open_output).
int output_fd = 1;
// A pipe takes a write of up to PIPE_BUF bytes whole, without waiting, once poll says it has room.
constexpr size_t kLargestWrite = 4096;
// Writes per flush: enough for the whole buffer, bounded all the same.
constexpr int kWritesPerFlush = static_cast<int>(kLogBufferCapacity / kLargestWrite) + 1;

// Lines written but not yet taken by standard output.
char pending[kLogBufferCapacity];
size_t pending_len = 0;
uint64_t dropped = 0;      // lines lost to a full buffer since the last notice
bool output_gone = false;  // standard output failed for good (closed, or its reader went away)
bool exit_flush_set = false;

// One kind of line seen within the current window.
struct RepeatWindow {
  bool used;
  char kind[128];
  uint64_t start_ms;
  uint32_t shown;       // lines of the window written
  uint32_t held;        // lines of the window held back
  char last_held[320];  // the last line held back
};
RepeatWindow windows[8];

// Copies `text` into the buffer when the whole of it fits.
bool append(const char* text, size_t length) {
  if (length > sizeof pending - pending_len) return false;
  std::memcpy(pending + pending_len, text, length);
  pending_len += length;
  return true;
}

// Formats one time-stamped line and appends it whole (a line that would not fit whole is cut to
// the line buffer, which the buffer always holds).
bool append_line(const char* message) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char line[400];
  // The terminal echoed ^C after the last line: this one starts on a line of its own.
  const char* fresh_line = console_echo_pending != 0 ? "\n" : "";
  console_echo_pending = 0;
  int length = std::snprintf(line, sizeof line, "%s%02d:%02d:%02d  %s\n", fresh_line, local.tm_hour,
                             local.tm_min, local.tm_sec, message);
  if (length < 0) return true;
  if (static_cast<size_t>(length) >= sizeof line) {
    length = sizeof line - 1;
    line[length - 1] = '\n';
  }
  return append(line, static_cast<size_t>(length));
}

// Puts the notice of dropped lines in the gap they left, once there is room for it.
void note_dropped() {
  if (dropped == 0) return;
  char notice[64];
  std::snprintf(notice, sizeof notice, "%llu log lines dropped",
                static_cast<unsigned long long>(dropped));
  if (append_line(notice)) dropped = 0;
}

// Lines logged on the way out of the program (a start-up failure) go out if output takes them now.
void flush_at_exit() {
  log_finish(0);
}

// Writes a line now (as far as standard output takes it), or counts it as dropped.
void emit(const char* message) {
  if (!exit_flush_set) {
    exit_flush_set = true;
    std::atexit(flush_at_exit);
  }
  if (output_gone) return;
  note_dropped();
  if (dropped > 0 || !append_line(message)) ++dropped;
  log_flush();
}

// Writes the summary of the window's held-back lines, if any, and frees it.
void close_window(RepeatWindow& window) {
  if (window.held > 0) {
    char summary[sizeof window.last_held + 40];
    std::snprintf(summary, sizeof summary, "%s ... repeated %u times", window.last_held,
                  window.held);
    emit(summary);
  }
  window.used = false;
}

// The window of `kind`, opening one (in a free place, else in place of the oldest) when none is.
RepeatWindow& window_for(const char* kind, uint64_t now) {
  RepeatWindow* oldest = &windows[0];
  for (RepeatWindow& window : windows) {
    if (window.used && std::strncmp(window.kind, kind, sizeof window.kind - 1) == 0) return window;
  }
  for (RepeatWindow& window : windows) {
    if (!window.used) {
      oldest = &window;
      break;
    }
    if (window.start_ms < oldest->start_ms) oldest = &window;
  }
  if (oldest->used) close_window(*oldest);
  RepeatWindow& window = *oldest;
  window.used = true;
  std::snprintf(window.kind, sizeof window.kind, "%s", kind);
  window.start_ms = now;
  window.shown = 0;
  window.held = 0;
  window.last_held[0] = '\0';
  return window;
}

}  // namespace

void log_line(const char* message) {
  log_keyed(message, message);
}

void log_keyed(const char* kind, const char* message) {
  const uint64_t now = monotonic_ms();
  log_tick(now);
  RepeatWindow& window = window_for(kind, now);
  if (window.shown < kRepeatsShown) {
    ++window.shown;
    emit(message);
    return;
  }
  ++window.held;
  std::snprintf(window.last_held, sizeof window.last_held, "%s", message);
}

void log_open_output() {
  struct stat output {};
  if (fstat(1, &output) != 0 || !S_ISCHR(output.st_mode)) return;
  // Opening the terminal anew gives a description of its own, so O_NONBLOCK leaves the shell's
  // alone; /proc/self/fd/1 reaches it whatever its name.
  const int own = open("/proc/self/fd/1", O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (own >= 0) output_fd = own;
}

int log_wait_fd() {
  return pending_len > 0 && !output_gone ? output_fd : -1;
}

void log_flush() {
  if (output_gone) {
    pending_len = 0;
    return;
  }
  // The banner and help go through stdio before the first line; they come first.
  if (__fpending(stdout) > 0) std::fflush(stdout);
  for (int i = 0; i < kWritesPerFlush && pending_len > 0; ++i) {
    // Only what poll says it can take now: a write to a full pipe or a paused terminal would wait.
    pollfd output{output_fd, POLLOUT, 0};
    if (poll(&output, 1, 0) <= 0) return;
    if ((output.revents & POLLNVAL) != 0) {
      output_gone = true;
      pending_len = 0;
      return;
    }
    const size_t offered = pending_len < kLargestWrite ? pending_len : kLargestWrite;
    ssize_t written = write(output_fd, pending, offered);
    if (written < 0) {
      if (errno == EAGAIN || errno == EINTR) return;
      output_gone = true;  // EPIPE, EBADF, EIO: nobody will read the log again
      pending_len = 0;
      return;
    }
    std::memmove(pending, pending + written, pending_len - static_cast<size_t>(written));
    pending_len -= static_cast<size_t>(written);
    note_dropped();
  }
}

uint64_t log_due_ms() {
  uint64_t due = UINT64_MAX;
  for (const RepeatWindow& window : windows) {
    if (window.used && window.held > 0 && window.start_ms + kRepeatWindowMs < due)
      due = window.start_ms + kRepeatWindowMs;
  }
  return due;
}

void log_tick(uint64_t now) {
  for (RepeatWindow& window : windows) {
    if (window.used && now - window.start_ms >= kRepeatWindowMs) close_window(window);
  }
}

void log_finish(int wait_ms) {
  for (RepeatWindow& window : windows) {
    if (window.used) close_window(window);
  }
  const uint64_t until = monotonic_ms() + static_cast<uint64_t>(wait_ms > 0 ? wait_ms : 0);
  log_flush();
  while (pending_len > 0 && !output_gone) {
    const uint64_t now = monotonic_ms();
    if (now >= until) break;
    pollfd output{output_fd, POLLOUT, 0};
    if (poll(&output, 1, static_cast<int>(until - now)) < 0 && errno != EINTR) break;
    log_flush();
  }
}
