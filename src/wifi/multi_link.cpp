#include "wifi/multi_link.h"

#include "wifi/nl80211_codes.h"

namespace {

// The kernel numbers the nests of NL80211_ATTR_MLO_LINKS link id + 1, so 1..15.
constexpr int kLinkNestMaxType = kMaxMloLinks;

// Attributes inside one link nest reach up to NL80211_ATTR_MLO_LINK_ID; over 2 KB of pointers,
// so kept out of the stack. Single-threaded, like every exchange.
const NlAttr* link_table[nl::kAttrMloLinkId + 1];

bool link_id_of(const NlAttr* nest, int32_t* id) {
  parse_nested(nest, link_table, nl::kAttrMloLinkId);
  uint8_t value = 0;
  if (!attr_u8(link_table[nl::kAttrMloLinkId], &value)) return false;
  *id = value;
  return true;
}

}  // namespace

int32_t read_mlo_links(const NlAttr* mlo_links, MloLink* links) {
  const NlAttr* nests[kLinkNestMaxType + 1];
  parse_nested(mlo_links, nests, kLinkNestMaxType);
  int32_t count = 0;
  for (const NlAttr* nest : nests) {
    MloLink link{0, 0, -1};
    if (nest == nullptr || !link_id_of(nest, &link.id)) continue;
    attr_u32(link_table[nl::kAttrWiphyFreq], &link.freq_mhz);
    uint32_t width_code = 0;
    if (attr_u32(link_table[nl::kAttrChannelWidth], &width_code)) {
      link.width_code = static_cast<int32_t>(width_code);
    }
    links[count++] = link;
  }
  return count;
}

const MloLink* mlo_link_with_freq(const MloLink* links, int32_t count, int32_t id) {
  for (int32_t i = 0; i < count; ++i) {
    if (links[i].id == id && links[i].freq_mhz != 0) return &links[i];
  }
  return nullptr;
}

const MloLink* lowest_mlo_link_with_freq(const MloLink* links, int32_t count) {
  const MloLink* lowest = nullptr;
  for (int32_t i = 0; i < count; ++i) {
    if (links[i].freq_mhz != 0 && (lowest == nullptr || links[i].id < lowest->id)) {
      lowest = &links[i];
    }
  }
  return lowest;
}

const NlAttr* mlo_link_station_info(const NlAttr* mlo_links, int32_t id) {
  const NlAttr* nests[kLinkNestMaxType + 1];
  parse_nested(mlo_links, nests, kLinkNestMaxType);
  for (const NlAttr* nest : nests) {
    int32_t link_id = -1;
    if (nest != nullptr && link_id_of(nest, &link_id) && link_id == id) {
      return link_table[nl::kAttrStaInfo];
    }
  }
  return nullptr;
}

int32_t sta_info_signal(const NlAttr* sta_info) {
  const NlAttr* info[nl::kStaInfoSignal + 1];
  parse_nested(sta_info, info, nl::kStaInfoSignal);
  uint8_t signal = 0;
  return attr_u8(info[nl::kStaInfoSignal], &signal) ? static_cast<int8_t>(signal) : 0;
}

void mlo_link_signals(const NlAttr* mlo_links, int32_t signal_dbm[kMaxMloLinks]) {
  const NlAttr* nests[kLinkNestMaxType + 1];
  parse_nested(mlo_links, nests, kLinkNestMaxType);
  for (const NlAttr* nest : nests) {
    int32_t id = -1;
    if (nest == nullptr || !link_id_of(nest, &id) || id >= kMaxMloLinks) continue;
    int32_t signal = sta_info_signal(link_table[nl::kAttrStaInfo]);
    if (signal != 0) signal_dbm[id] = signal;
  }
}
