#pragma once

#include <cstdint>

#include "wifi/netlink.h"
#include "wifi/wifi.h"
#include "wifi/wifi_state.h"

// Reading BSS records from nl80211 scan dumps, and the association they mark.

// Where the records of one scan dump go.
struct ScanCollector {
  ScanEntry* entries;  // may be null when capacity is 0
  int32_t capacity;    // records that fit; 0 reads the association only
  int32_t count;       // records held so far; starts at 0
  Association found;   // the last record marked associated (with its BSSID); starts zero
};

// Callback for scan dumps; user data a ScanCollector. Notes an associated BSS of every
// NL80211_ATTR_BSS message (and its AP MLD address, if any) in the collector's `found`, and keeps
// the message as a zero-filled record while the table has room; once it is full, in place of the
// weakest record held when it outranks that (associated first, then stronger; among equals the
// earlier in the dump stays). The records are left in no particular order: scan_dump sorts them.
void on_bss(const NlAttr* const* table, int max_type, void* collector);

// Channel number of a 2.4, 5 or 6 GHz centre frequency in MHz; 0 for anything else.
int32_t channel_from_freq(int32_t freq_mhz);
