#pragma once

#include <cstdint>

#include "wifi/multi_link.h"
#include "wifi/wifi.h"
#include "wifi/wiphy_caps.h"

// What the WiFi source keeps between calls, in one process-wide record: the kernel's ids learnt
// at start-up, the interface chosen, and the association the last probe found.

// The BSS a scan dump marked as associated (with a BSSID).
struct Association {
  uint8_t known;  // 1 once a dump marked such a BSS; the other fields mean nothing before
  uint8_t bssid[6];
  // Whether the BSS named its AP MLD address (NL80211_BSS_MLD_ADDR: a multi-link association),
  // and the address.
  uint8_t has_mld;
  uint8_t mld_addr[6];
  char ssid[33];  // from its SSID element; empty when it has none
  // The kPhy* bits its elements announce (phy_label.h); of an AP MLD, those of all its links.
  uint8_t ap_caps;
  // The associated link records of an AP MLD (NL80211_BSS_MLO_LINK_ID), in dump order.
  int32_t link_count;
  MloBss links[kMaxMloLinks];
};

// The loop's requests to the kernel go out on lanes: one socket each, kept open, with at most one
// request out at a time (the kernel runs one dump per socket), so a slow answer on one lane holds
// up nothing on the others.

struct KernelLane {
  int fd;           // non-blocking generic-netlink socket; -1 until first used
  uint8_t busy;     // 1 while a query runs on the lane
  uint32_t seq;     // sequence number of the request awaited; 0 when none is out
  uint64_t due_ms;  // when that request is given up
};

struct WifiState {
  uint32_t seq;          // sequence number of the next request; from 1
  int32_t family_id;     // nl80211's generic-netlink id; -1 until resolved
  int32_t scan_group;    // id of nl80211's "scan" multicast group; -1 while unknown
  int32_t mlme_group;    // "mlme": connects, roams, disconnects; -1 while unknown
  int32_t config_group;  // "config": interfaces appearing, changing, going away; -1 while unknown
  int event_fd;          // the socket subscribed to those groups; -1 when there is none
  uint8_t follows;       // 1 when that socket also joined "mlme": the kernel tells of every change
                         // of the association, so the memory below stays current by itself
  int32_t ifindex;       // the chosen interface; -1 until one is chosen
  char ifname[40];       // its name
  Association assoc;     // what the last probe or notification said; signal_sample asks the
                         // kernel about it
  uint8_t assoc_stale;   // 1 when `assoc` must be read afresh before use: never read yet,
                         // notifications lost, or the interfaces changed
  WiphyCaps caps;        // what the adapter of the interface caps_ifindex supports
  int32_t caps_ifindex;  // the interface the capabilities were read for; -1 before any read
  KernelLane lanes[kLaneCount];  // the requests in flight
};

extern WifiState wifi_state;

// Puts the record back to how a freshly started helper has it. The event socket and the lanes'
// sockets are forgotten, not closed: whoever handed them out (a test's stand-in kernel) closes
// them.
void wifi_state_reset();

// Whom station requests ask about: the AP MLD address of a multi-link association (the kernel
// keeps no station under a link's BSSID), otherwise the BSSID.
const uint8_t* station_address(const Association& assoc);
