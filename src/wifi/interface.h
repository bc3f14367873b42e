#pragma once

#include <cstdint>

#include "wifi/multi_link.h"
#include "wifi/netlink.h"
#include "wifi/station.h"
#include "wifi/wifi.h"

// Resolving the nl80211 family and choosing the station interface (wifi_open, link_query).

// User data of an interface dump. Start from fresh_interface_pick().
struct InterfacePick {
  int32_t ifindex;   // -1 while none is chosen
  int32_t has_freq;  // 1 when the chosen interface reported NL80211_ATTR_WIPHY_FREQ, or one of
                     // its links did (multi-link)
  char ifname[40];
  uint32_t freq_mhz;   // 0 when absent; of a multi-link interface: of its lowest link with one
  int32_t width_code;  // an NL80211_CHAN_WIDTH_* code; -1 when absent; per link like freq_mhz
  char ssid[33];       // empty when absent
  int32_t link_count;  // links of a multi-link interface without a top-level frequency; else 0
  MloLink links[kMaxMloLinks];
};

// ifindex -1, width_code -1, everything else zero.
InterfacePick fresh_interface_pick();

// Callback for the family request; stores CTRL_ATTR_FAMILY_ID in wifi_state.family_id.
void on_family(const NlAttr* const* table, int max_type, void* unused);

// Callback for the interface dump; user data an InterfacePick. Considers station interfaces only:
// the first one wins unless a later one reports a frequency (or multi-link links) when the chosen
// one did not. The links are read only when the top-level frequency is absent.
void on_interface(const NlAttr* const* table, int max_type, void* pick);

// Width in MHz of an NL80211_CHAN_WIDTH_* code; 0 for codes without one and outside 0..13.
int32_t width_from_code(int32_t code);

// After an interface dump that ended with `result`: remembers the interface `pick` chose (even
// when the dump failed after it was seen). True when the dump succeeded and found a station
// interface.
bool interface_chosen(const InterfacePick& pick, int32_t result);

// The link reading's pieces, each from one answer of the link query (wifi_query.h). From the
// chosen interface: its name, network name, channel and width, and whether it is connected.
void link_from_pick(const InterfacePick& pick, LinkInfo* link);

// From the association memory: the BSSID, and the network name when the interface names none.
void link_from_association(LinkInfo* link);

// From a station request that ended with `result`: the channel of the link in use, the signal,
// rates, streams and (when the interface gave none) width; nothing when it failed or gave no
// signal.
void link_from_station(const InterfacePick& pick, const StationInfo& station, int32_t result,
                       LinkInfo* link);
