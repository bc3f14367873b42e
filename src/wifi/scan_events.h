#pragma once

#include <cstdint>

#include "wifi/netlink.h"

// The kernel's scan notifications: one generic-netlink socket subscribed to nl80211's "scan"
// multicast group, opened at start-up and read by the loop whenever it is readable. Reading it
// needs no privilege.

extern int32_t nl80211_scan_group;  // id of the "scan" group from the family reply; -1 unknown
extern int scan_event_fd;           // the subscribed socket; -1 when there is none

// Callback for the family reply (user data unused): notes the "scan" group's id from
// CTRL_ATTR_MCAST_GROUPS; a reply without that group leaves nl80211_scan_group alone.
void on_family_groups(const NlAttr* const* table, int max_type, void* user_data);

// Opens and subscribes the event socket once the group is known. 0 (also when it is already
// open), or a negated errno with scan_event_fd left at -1 (-ENOENT when the group is unknown).
int scan_events_open();

// Reads every datagram waiting on the event socket without blocking. True when one of them says
// that a scan on `ifindex` ended (NL80211_CMD_NEW_SCAN_RESULTS or NL80211_CMD_SCAN_ABORTED), or
// when the kernel dropped notifications (the end may have been among them).
bool scan_events_read(int32_t ifindex);
