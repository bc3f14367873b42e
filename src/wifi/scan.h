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

// What the scan command waits for after a scan request that ended with `result`: kScanAwaitEvent
// or kScanAwaitFixed when the kernel scans (a scan already running counts when its end can be
// heard), else kScanDumpNow.
int scan_wait_after_trigger(int32_t result);

// After a scan dump into `collector` that ended with `result`: the count of records, sorted
// strongest first (equal signals in dump order), with the association it marked remembered; or
// -1 with "scan failed: <reason>" in `msg` when it failed before any record came.
int scan_dump_outcome(ScanCollector* collector, int32_t result, char* msg, size_t msg_size);

// Channel number of a 2.4, 5 or 6 GHz centre frequency in MHz; 0 for anything else.
int32_t channel_from_freq(int32_t freq_mhz);
