#include "wifi/scan_freshness.h"

bool heard_since_request(const ScanEntry* entries, int n, uint64_t elapsed_ms) {
  bool any_age = false;
  for (int k = 0; k < n; ++k) {
    if (entries[k].has_seen_ms_ago == 0) continue;
    if (entries[k].seen_ms_ago <= elapsed_ms) return true;
    any_age = true;
  }
  return !any_age;
}
