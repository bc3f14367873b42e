#pragma once

#include "wifi/netlink.h"

// Keeping the association memory current from nl80211's notifications, so the live stream asks
// the kernel about the access point the station is on now, not the one it was on when a page
// last asked.

// Applies one nl80211 notification (of any group, for any interface) to wifi_state: a CONNECT or
// ROAM of the chosen interface sets the association to the BSSID (or AP MLD address) it names, a
// failed CONNECT or a DISCONNECT clears it; removed multi-link links, interfaces that appear,
// change or go away, and a connection on another interface while the chosen one has none mark it
// stale (read afresh at its next use). Other messages are ignored.
void association_notice(const NetlinkMessage& message);
