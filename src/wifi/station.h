#pragma once

#include <cstdint>

#include "wifi/multi_link.h"
#include "wifi/netlink.h"

// Reading nl80211 station statistics (signal and bit rates of the associated access point).

// User data of a station request; zero-fill before each one.
struct StationInfo {
  int32_t signal_dbm;  // 0 means no measurement
  double tx_mbps;
  double rx_mbps;
  int32_t nss;          // spatial streams of the transmit rate
  int32_t width_mhz;    // width of the transmit rate
  int32_t has_link_id;  // 1 when the reply named the link a multi-link association uses
  int32_t link_id;      // NL80211_ATTR_MLO_LINK_ID of the reply
  int32_t rate_family;  // highest kRate* family (phy_label.h) of the transmit and receive rates
  int32_t messages;     // reply messages read so far
  int32_t link_rssi[kMaxMloLinks];  // each link's own signal by link id; 0 when not given
};

// Callback for the station request; user data a StationInfo. Reads NL80211_ATTR_STA_INFO: the
// signal (the first plausible of SIGNAL, SIGNAL_AVG, BEACON_SIGNAL_AVG and the strongest
// CHAIN_SIGNAL; signal_rules.h), the transmit rate with its streams and width, and the receive
// rate. A multi-link reply also names the link in use (NL80211_ATTR_MLO_LINK_ID); the figures that
// link has of its own in NL80211_ATTR_MLO_LINKS replace the MLD's, and every link's own signal goes
// to link_rssi. Newer kernels may send those link figures as further messages of the reply, each
// naming its link: they count the same way.
void on_station(const NlAttr* const* table, int max_type, void* station_info);
