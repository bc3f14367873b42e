#pragma once

#include <cstdint>

#include "wifi/wifi.h"

// Whether a scan's results are new. A kernel's end-of-scan notice is not enough: some drivers
// (Realtek's USB sticks under traffic, among others) end a scan at once and hand back the list of
// an earlier one. The records' ages tell: a scan that ran heard at least one network after it was
// asked for.

// True when some record of entries[0..n) was heard at most `elapsed_ms` ago
// (NL80211_BSS_SEEN_MS_AGO), `elapsed_ms` being the time from the scan request to the end of the
// dump. Also true when no record carries an age (or there is none): nothing then speaks against
// the kernel's word.
bool heard_since_request(const ScanEntry* entries, int n, uint64_t elapsed_ms);
