#include "wifi/link_list.h"

#include <cstdio>
#include <cstring>

#include "wifi/ie_width.h"
#include "wifi/nl80211_codes.h"
#include "wifi/phy_label.h"
#include "wifi/scan.h"
#include "wifi/wiphy_caps.h"

namespace {

const MloLink* iface_link(const MloLink* links, int32_t count, int32_t id) {
  for (int32_t i = 0; i < count; ++i) {
    if (links[i].id == id) return &links[i];
  }
  return nullptr;
}

const MloBss* bss_link(const Association& assoc, int32_t id) {
  for (int32_t i = 0; i < assoc.link_count; ++i) {
    if (assoc.links[i].id == id) return &assoc.links[i];
  }
  return nullptr;
}

}  // namespace

void note_associated_record(const Association& before, const NlAttr* const* bss, const NlAttr* ies,
                            uint8_t ap_caps, Association* found) {
  found->ap_caps = before.ap_caps | ap_caps;
  found->link_count = before.link_count;
  std::memcpy(found->links, before.links, sizeof found->links);
  uint8_t id = 0;
  if (!attr_u8(bss[nl::kBssMloLinkId], &id) || id >= kMaxMloLinks ||
      bss_link(*found, id) != nullptr || found->link_count >= kMaxMloLinks) {
    return;
  }
  MloBss& link = found->links[found->link_count++];
  link = MloBss{id, {}, 0, 0};
  std::memcpy(link.bssid, found->bssid, sizeof link.bssid);
  uint32_t freq = 0;
  if (attr_u32(bss[nl::kBssFrequency], &freq)) link.freq_mhz = static_cast<int32_t>(freq);
  if (ies != nullptr) link.width_mhz = width_from_ies(attr_payload(ies), attr_payload_len(ies));
}

int32_t list_links(const MloLink* iface, int32_t iface_count, const Association& assoc,
                   const int32_t* link_rssi, LinkEntry* out) {
  int32_t count = 0;
  for (int32_t id = 0; id < kMaxMloLinks; ++id) {
    const MloLink* own = iface_link(iface, iface_count, id);
    const MloBss* record = bss_link(assoc, id);
    const int32_t freq = own != nullptr && own->freq_mhz != 0 ? static_cast<int32_t>(own->freq_mhz)
                         : record != nullptr                  ? record->freq_mhz
                                                              : 0;
    if (freq == 0 && record == nullptr) continue;
    LinkEntry& entry = out[count++];
    entry = LinkEntry{};
    entry.link_id = id;
    if (record != nullptr) {
      std::memcpy(entry.bssid, record->bssid, sizeof entry.bssid);
      entry.has_bssid = 1;
    }
    entry.freq_mhz = freq;
    entry.channel = channel_from_freq(freq);
    entry.width_mhz = own != nullptr && own->freq_mhz != 0 ? width_from_code(own->width_code) : 0;
    if (entry.width_mhz == 0 && record != nullptr) entry.width_mhz = record->width_mhz;
    entry.rssi = link_rssi != nullptr ? link_rssi[id] : 0;
  }
  return count;
}

void describe_link(const InterfacePick& pick, const Association& assoc, const StationInfo* station,
                   LinkInfo* link) {
  const uint8_t adapter = adapter_caps_at(wifi_state.caps, link->freq_mhz);
  const int32_t family = station != nullptr ? station->rate_family : kRateLegacy;
  std::snprintf(link->phy, sizeof link->phy, "%s",
                phy_label(assoc.ap_caps, adapter, link->freq_mhz, family));
  if (assoc.known != 1 || assoc.has_mld != 1) return;
  link->link_count = list_links(pick.links, pick.link_count, assoc,
                                station != nullptr ? station->link_rssi : nullptr, link->links);
}
