#include "base/log.h"

#include <cstdio>
#include <ctime>

void log_line(const char* message) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::printf("%02d:%02d:%02d  %s\n", local.tm_hour, local.tm_min, local.tm_sec, message);
  std::fflush(stdout);
}
