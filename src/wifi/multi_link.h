#pragma once

#include <cstddef>
#include <cstdint>

#include "wifi/netlink.h"
#include "wifi/wifi.h"

// Multi-link (Wi-Fi 7) associations. A station MLD reports its channels per link inside
// NL80211_ATTR_MLO_LINKS instead of at the top level of the interface dump, and the kernel keeps
// its station statistics under the AP MLD address, optionally with figures per link.

inline constexpr int kMaxMloLinks = kMaxLinks;  // links an MLD can have (link ids 0..14)

// One link of a multi-link interface.
struct MloLink {
  int32_t id;          // NL80211_ATTR_MLO_LINK_ID
  uint32_t freq_mhz;   // NL80211_ATTR_WIPHY_FREQ; 0 when the link carries none
  int32_t width_code;  // NL80211_ATTR_CHANNEL_WIDTH (an NL80211_CHAN_WIDTH_* code); -1 when absent
};

// One associated link record of an AP MLD in a scan dump.
struct MloBss {
  int32_t id;  // NL80211_BSS_MLO_LINK_ID
  uint8_t bssid[6];
  int32_t freq_mhz;   // 0 when the record has none
  int32_t width_mhz;  // what its elements announce (width_from_ies); 0 without elements
};

// Reads the links of an interface's NL80211_ATTR_MLO_LINKS nest (null: none) into
// links[0..kMaxMloLinks); a link without a link id is skipped. Returns how many were read.
int32_t read_mlo_links(const NlAttr* mlo_links, MloLink* links);

// The link of id `id` among links[0..count) when it carries a frequency; otherwise null.
const MloLink* mlo_link_with_freq(const MloLink* links, int32_t count, int32_t id);

// The link of the lowest id among links[0..count) that carries a frequency; null when none does.
const MloLink* lowest_mlo_link_with_freq(const MloLink* links, int32_t count);

// The NL80211_ATTR_STA_INFO nest of link `id` inside a station reply's NL80211_ATTR_MLO_LINKS
// (null: none); null when that link or its figures are absent. Valid as long as the reply is.
const NlAttr* mlo_link_station_info(const NlAttr* mlo_links, int32_t id);

// Stores the signal of every link nest of a station reply's NL80211_ATTR_MLO_LINKS (null: none)
// that carries one in signal_dbm[link id]; the others are left alone.
void mlo_link_signals(const NlAttr* mlo_links, int32_t signal_dbm[kMaxMloLinks]);

// The signal in dBm of one NL80211_ATTR_STA_INFO nest; 0 when it has none.
int32_t sta_info_signal(const NlAttr* sta_info);
