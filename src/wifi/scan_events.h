#pragma once

#include <cstdint>

#include "wifi/netlink.h"
#include "wifi/wifi_state.h"

// The kernel's notifications: one generic-netlink socket subscribed to nl80211's "scan" multicast
// group and, when they can be joined, "mlme" and "config", opened at start-up and read by the
// loop whenever it is readable. Reading it needs no privilege.

// Callback for the family reply (user data unused): notes the ids of the "scan", "mlme" and
// "config" groups from CTRL_ATTR_MCAST_GROUPS; a group the reply lacks keeps its id.
void on_family_groups(const NlAttr* const* table, int max_type, void* user_data);

// Opens and subscribes the event socket once the "scan" group is known, then joins "mlme" (setting
// wifi_state.follows when that worked) and "config". 0 (also when it is already open), or a
// negated errno with wifi_state.event_fd left at -1 (-ENOENT when the group is unknown).
int scan_events_open();

// Reads every datagram waiting on the event socket without blocking, and hands each nl80211
// message to association_notice. Says whether a scan on `ifindex` ended: kScanNewResults for
// NL80211_CMD_NEW_SCAN_RESULTS; else kScanAborted for NL80211_CMD_SCAN_ABORTED, or kScanLost
// when the kernel dropped notifications (the association is then marked stale too); else
// kScanNotEnded (the codes of wifi.h).
int scan_events_read(int32_t ifindex);
