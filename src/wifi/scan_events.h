#pragma once

#include <cstdint>

#include "wifi/netlink.h"
#include "wifi/wifi_state.h"

// The kernel's scan notifications: one generic-netlink socket subscribed to nl80211's "scan"
// multicast group, opened at start-up and read by the loop whenever it is readable. Reading it
// needs no privilege.

// Callback for the family reply (user data unused): notes the "scan" group's id from
// CTRL_ATTR_MCAST_GROUPS; a reply without that group leaves wifi_state.scan_group alone.
void on_family_groups(const NlAttr* const* table, int max_type, void* user_data);

// Opens and subscribes the event socket once the group is known. 0 (also when it is already
// open), or a negated errno with wifi_state.event_fd left at -1 (-ENOENT when the group is
// unknown).
int scan_events_open();

// Reads every datagram waiting on the event socket without blocking. True when one of them says
// that a scan on `ifindex` ended (NL80211_CMD_NEW_SCAN_RESULTS or NL80211_CMD_SCAN_ABORTED), or
// when the kernel dropped notifications (the end may have been among them).
bool scan_events_read(int32_t ifindex);
