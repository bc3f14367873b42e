#pragma once

// Writes "HH:MM:SS  <message>\n" in local time to standard output and flushes at once, so each
// line reaches a terminal, pipe or file in order with the plain output printed before it.
// `message` is complete and carries no newline of its own. Never fails visibly.
void log_line(const char* message);

// Formats into a buffer of `Capacity` bytes (cut at Capacity - 1, like snprintf) and logs it.
template <unsigned long Capacity, typename... Args>
void log_format(const char* format, Args... args);

#include <cstdio>

template <unsigned long Capacity, typename... Args>
void log_format(const char* format, Args... args) {
  char text[Capacity];
  std::snprintf(text, sizeof text, format, args...);
  log_line(text);
}
