#pragma once

#include <cstdint>

#include "wifi/netlink.h"
#include "wifi/wifi.h"

// Resolving the nl80211 family and choosing the station interface (wifi_open, link_query).

// User data of an interface dump. Start from fresh_interface_pick().
struct InterfacePick {
  int32_t ifindex;   // -1 while none is chosen
  int32_t has_freq;  // 1 when the chosen interface reported NL80211_ATTR_WIPHY_FREQ
  char ifname[40];
  uint32_t freq_mhz;   // 0 when absent
  int32_t width_code;  // an NL80211_CHAN_WIDTH_* code; -1 when absent
  char ssid[33];       // empty when absent
};

// ifindex -1, width_code -1, everything else zero.
InterfacePick fresh_interface_pick();

// Callback for the family request; stores CTRL_ATTR_FAMILY_ID in nl80211_family_id.
void on_family(const NlAttr* const* table, int max_type, void* unused);

// Callback for the interface dump; user data an InterfacePick. Considers station interfaces only:
// the first one wins unless a later one reports a frequency when the chosen one did not.
void on_interface(const NlAttr* const* table, int max_type, void* pick);

// Width in MHz of an NL80211_CHAN_WIDTH_* code; 0 for codes without one and outside 0..13.
int32_t width_from_code(int32_t code);
