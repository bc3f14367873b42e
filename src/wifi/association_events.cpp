#include "wifi/association_events.h"

#include <cstdint>
#include <cstring>

#include "wifi/elements.h"
#include "wifi/multi_link.h"
#include "wifi/nl80211_codes.h"
#include "wifi/wifi_state.h"

namespace {

constexpr int kNoticeMaxType = nl::kAttrMldAddr;
constexpr int kLinkMaxType = nl::kAttrMloLinkId;  // above NL80211_ATTR_BSSID
constexpr int kLinkNestMaxType = kMaxMloLinks;    // one nest per link, numbered from 1

// Over 2 KB of pointers each, so kept out of the stack; single-threaded, like every exchange.
const NlAttr* notice_table[kNoticeMaxType + 1];
const NlAttr* link_fields[kLinkMaxType + 1];

// The BSSID of the lowest link of a multi-link CONNECT or ROAM that names one; false when none
// does.
bool lowest_link_bssid(const NlAttr* mlo_links, uint8_t out[6]) {
  const NlAttr* links[kLinkNestMaxType + 1];
  parse_nested(mlo_links, links, kLinkNestMaxType);
  int lowest = 256;
  for (const NlAttr* link : links) {
    if (link == nullptr) continue;
    parse_nested(link, link_fields, kLinkMaxType);
    uint8_t id = 0;
    uint8_t bssid[6];
    if (!attr_u8(link_fields[nl::kAttrMloLinkId], &id) || id >= lowest ||
        !attr_mac(link_fields[nl::kAttrBssid], bssid)) {
      continue;
    }
    lowest = id;
    std::memcpy(out, bssid, 6);
  }
  return lowest < 256;
}

// The association a successful CONNECT or ROAM names: the AP MLD address and a link's BSSID of a
// multi-link one, else the BSSID; the network name from the association request's elements.
// known stays 0 when the message names no access point.
Association named_association(const NlAttr* const* table) {
  Association found{};
  if (attr_mac(table[nl::kAttrMldAddr], found.mld_addr)) {
    found.has_mld = 1;
    if (!lowest_link_bssid(table[nl::kAttrMloLinks], found.bssid)) {
      std::memcpy(found.bssid, found.mld_addr, sizeof found.bssid);
    }
    found.known = 1;
  } else if (attr_mac(table[nl::kAttrMac], found.bssid)) {
    found.known = 1;
  }
  if (found.known == 1 && table[nl::kAttrReqIe] != nullptr) {
    (void)ssid_from_elements(attr_payload(table[nl::kAttrReqIe]),
                             attr_payload_len(table[nl::kAttrReqIe]), found.ssid,
                             sizeof found.ssid);
  }
  return found;
}

// A CONNECT reports failure with a non-zero status or the time-out flag; ROAM only success.
bool connected(uint8_t cmd, const NlAttr* const* table) {
  if (cmd == nl::kCmdRoam) return true;
  uint16_t status = 0;
  return table[nl::kAttrTimedOut] == nullptr &&
         (!attr_u16(table[nl::kAttrStatusCode], &status) || status == 0);
}

void set_association(const Association& association) {
  wifi_state.assoc = association;
  wifi_state.assoc_stale = 0;
}

}  // namespace

void association_notice(const NetlinkMessage& message) {
  if (message.len < kGenlHeaderEnd) return;
  const uint8_t cmd = message.bytes[kMsgHeaderSize];
  const NlAttr* const* table = notice_table;
  parse_attributes(message.bytes + kGenlHeaderEnd, message.len - kGenlHeaderEnd, notice_table,
                   kNoticeMaxType);
  uint32_t index = 0;
  if (!attr_u32(table[nl::kAttrIfindex], &index)) return;
  const bool ours = wifi_state.ifindex >= 0 && static_cast<int32_t>(index) == wifi_state.ifindex;

  switch (cmd) {
    case nl::kCmdConnect:
    case nl::kCmdRoam:
      if (!ours) {
        // Another station interface now has a connection; the chosen one has none, so the
        // interface choice (which prefers a connected one) may change.
        if (connected(cmd, table) && wifi_state.assoc.known == 0) wifi_state.assoc_stale = 1;
        return;
      }
      if (!connected(cmd, table)) {
        set_association(Association{});
        return;
      }
      {
        Association found = named_association(table);
        if (found.known == 1) {
          set_association(found);
        } else {
          wifi_state.assoc_stale = 1;  // connected, but to whom only a probe can tell
        }
      }
      return;
    case nl::kCmdDisconnect:
      if (ours) set_association(Association{});
      return;
    case nl::kCmdLinksRemoved:
      // The AP MLD (whom the station is asked about) stays; which link's BSSID stands for it
      // may not.
      if (ours) wifi_state.assoc_stale = 1;
      return;
    case nl::kCmdNewInterface:
    case nl::kCmdSetInterface:
    case nl::kCmdDelInterface:
      if (ours && cmd == nl::kCmdDelInterface) wifi_state.assoc.known = 0;
      // The chosen interface changed or went, or one appeared that may be chosen now that the
      // chosen one has no association.
      if (ours || wifi_state.assoc.known == 0) wifi_state.assoc_stale = 1;
      return;
    default:
      return;
  }
}
