#pragma once

#include <cstdint>

#include "wifi/netlink.h"

// The seven requests the helper ever sends. Each zero-fills `request`, takes wifi_state.seq (and
// advances it), sets nlmsg_len to the exact length and uses generic-netlink version 1. All but the
// family request go to wifi_state.family_id.

// CTRL_CMD_GETFAMILY for "nl80211" to the controller; 32 bytes.
void build_family_request(NetlinkRequest* request);

// NL80211_CMD_GET_INTERFACE as a dump; 20 bytes.
void build_interface_dump_request(NetlinkRequest* request);

// NL80211_CMD_TRIGGER_SCAN on `ifindex` for the wildcard SSID (an active scan), asking for an
// acknowledgement; 36 bytes.
void build_scan_trigger_request(NetlinkRequest* request, int32_t ifindex);

// NL80211_CMD_GET_SCAN on `ifindex` as a dump; 28 bytes.
void build_scan_dump_request(NetlinkRequest* request, int32_t ifindex);

// NL80211_CMD_GET_STATION for the station `mac` on `ifindex`; 40 bytes.
void build_station_request(NetlinkRequest* request, int32_t ifindex, const uint8_t mac[6]);

// NL80211_CMD_GET_SURVEY on `ifindex` as a dump (the noise floor of each channel); 28 bytes.
void build_survey_dump_request(NetlinkRequest* request, int32_t ifindex);

// NL80211_CMD_GET_WIPHY as a split dump of the adapter behind `ifindex` (only a split dump lists
// every band, 6 GHz included, and fits large adapters); 32 bytes.
void build_wiphy_dump_request(NetlinkRequest* request, int32_t ifindex);
