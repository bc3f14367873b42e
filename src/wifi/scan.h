#pragma once

#include <cstdint>

#include "wifi/netlink.h"
#include "wifi/wifi.h"

// Reading BSS records from nl80211 scan dumps, and the association memory they feed.

// Where the records of one scan dump go.
struct ScanCollector {
  ScanEntry* entries;  // may be null when capacity is 0
  int32_t capacity;    // records that fit; 0 reads the association only
  int32_t count;       // records held so far; starts at 0
};

// The last BSS a dump reported as associated (with a BSSID). assoc_known is set by on_bss and
// cleared by link_query at the start of each association probe.
extern uint8_t assoc_known;
extern uint8_t assoc_bssid[6];
// Whether that BSS named its AP MLD address (NL80211_BSS_MLD_ADDR: a multi-link association),
// and the address. Written together with assoc_bssid.
extern uint8_t assoc_has_mld;
extern uint8_t assoc_mld_addr[6];
// That BSS's network name from its SSID element (empty when it has none). Written together with
// assoc_bssid, so the probe of link_query needs no table to name a multi-link association.
extern char assoc_ssid[33];

// Whom station requests ask about: the AP MLD address of a multi-link association (the kernel
// keeps no station under a link's BSSID), otherwise the BSSID.
const uint8_t* assoc_station_address();

// Callback for scan dumps; user data a ScanCollector. Notes an associated BSS of every
// NL80211_ATTR_BSS message (and its AP MLD address, if any) in the association memory, and keeps
// the message as a zero-filled record while the table has room; once it is full, in place of the
// weakest record held when it outranks that (associated first, then stronger; among equals the
// earlier in the dump stays). The records are left in no particular order: scan_dump sorts them.
void on_bss(const NlAttr* const* table, int max_type, void* collector);

// Channel number of a 2.4, 5 or 6 GHz centre frequency in MHz; 0 for anything else.
int32_t channel_from_freq(int32_t freq_mhz);
