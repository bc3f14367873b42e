#include "wifi/wiphy_caps.h"

#include "wifi/nl80211_codes.h"
#include "wifi/phy_label.h"
#include "wifi/requests.h"
#include "wifi/wifi_state.h"

namespace {

constexpr int kBandMaxType = 5;  // NL80211_BAND_LC; the bands above 6 GHz carry nothing we report
constexpr int kBandAttrMaxType = nl::kBandAttrIftypeData;
constexpr int kIftypeSets = 16;  // nests of NL80211_BAND_ATTR_IFTYPE_DATA, numbered from 1
constexpr int kIftypeAttrMaxType = nl::kBandIftypeAttrEhtCapPhy;
constexpr int kIftypeMaxType = 15;

// HE and EHT of the interface-type set that includes the station type; 0 when none does.
uint8_t station_he_eht(const NlAttr* iftype_data) {
  const NlAttr* sets[kIftypeSets + 1];
  parse_nested(iftype_data, sets, kIftypeSets);
  for (const NlAttr* set : sets) {
    if (set == nullptr) continue;
    const NlAttr* fields[kIftypeAttrMaxType + 1];
    parse_nested(set, fields, kIftypeAttrMaxType);
    const NlAttr* types[kIftypeMaxType + 1];
    parse_nested(fields[nl::kBandIftypeAttrIftypes], types, kIftypeMaxType);
    if (types[nl::kIftypeStation] == nullptr) continue;
    uint8_t bits = 0;
    if (fields[nl::kBandIftypeAttrHeCapPhy] != nullptr) bits |= kPhyHe;
    if (fields[nl::kBandIftypeAttrEhtCapPhy] != nullptr) bits |= kPhyEht;
    return bits;
  }
  return 0;
}

}  // namespace

void on_wiphy(const NlAttr* const* table, int, void* user_data) {
  WiphyCaps* caps = static_cast<WiphyCaps*>(user_data);
  const NlAttr* bands[kBandMaxType + 1];
  parse_nested(table[nl::kAttrWiphyBands], bands, kBandMaxType);
  static constexpr uint16_t kBands[3] = {nl::kBand2Ghz, nl::kBand5Ghz, nl::kBand6Ghz};
  for (int i = 0; i < 3; ++i) {
    if (bands[kBands[i]] == nullptr) continue;
    const NlAttr* band[kBandAttrMaxType + 1];
    parse_nested(bands[kBands[i]], band, kBandAttrMaxType);
    uint8_t bits = station_he_eht(band[nl::kBandAttrIftypeData]);
    if (band[nl::kBandAttrHtCapa] != nullptr) bits |= kPhyHt;
    if (band[nl::kBandAttrVhtCapa] != nullptr) bits |= kPhyVht;
    caps->band[i] |= bits;
    caps->known = 1;
  }
}

uint8_t adapter_caps_at(const WiphyCaps& caps, int32_t freq_mhz) {
  int32_t band = band_of_freq(freq_mhz);
  return caps.known == 1 && band != kBandNone ? caps.band[band] : kPhyAllCaps;
}

void read_wiphy_caps(int32_t ifindex) {
  WiphyCaps caps{};
  NetlinkRequest request;
  build_wiphy_dump_request(&request, ifindex);
  note_wiphy_caps(caps, netlink_exchange(request, on_wiphy, &caps), ifindex);
}

void note_wiphy_caps(const WiphyCaps& caps, int32_t result, int32_t ifindex) {
  wifi_state.caps = result >= 0 ? caps : WiphyCaps{};
  wifi_state.caps_ifindex = ifindex;
}
