#include "server/origin_policy.h"

#include <cstring>

namespace {

constexpr const char* kPageOrigins[] = {
    "https://tamberline.com",
    "https://www.tamberline.com",
    "https://kestrune.com",
    "https://www.kestrune.com",
};

}  // namespace

bool origin_allowed(const char* origin, const char* dev_origin) {
  for (const char* page : kPageOrigins) {
    if (std::strcmp(origin, page) == 0) return true;
  }
  return dev_origin[0] != '\0' && std::strcmp(origin, dev_origin) == 0;
}
