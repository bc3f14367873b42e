#include "wifi/phy_label.h"

#include <algorithm>

#include "wifi/elements.h"

namespace {

constexpr uint8_t kSupportedRates = 1;
constexpr uint8_t kExtendedRates = 50;
constexpr uint8_t kHtCapabilities = 45;
constexpr uint8_t kVhtCapabilities = 191;
constexpr uint8_t kExtension = 255;
constexpr uint8_t kExtHeCapabilities = 35;
constexpr uint8_t kExtEhtCapabilities = 108;

// Generations, lowest to highest; the rate families map onto the top four.
enum Level { kUnknown, kDsss, kOfdm, kHt, kVht, kHe, kEht };

// A rate in units of 500 kbit/s, the basic-rate bit cleared: 1, 2, 5.5 and 11 Mbit/s are DSSS.
bool is_dsss(uint8_t rate) {
  return rate == 2 || rate == 4 || rate == 11 || rate == 22;
}

// The bytes 0xf9..0xff (basic bit and a value from 121) are BSS membership selectors (HT PHY,
// VHT PHY, SAE H2E, ...), not rates.
bool is_selector(uint8_t byte) {
  return byte >= 0xf9;
}

Level level_of(uint8_t both, int32_t band) {
  if ((both & kPhyEht) != 0) return kEht;
  if ((both & kPhyHe) != 0) return kHe;
  if ((both & kPhyVht) != 0 && band != kBand24) return kVht;
  if ((both & kPhyHt) != 0) return kHt;
  return kOfdm;
}

}  // namespace

int32_t band_of_freq(int32_t f) {
  if (f >= 2412 && f <= 2484) return kBand24;
  if (f >= 5150 && f <= 5925) return kBand5;
  if (f >= 5935 && f <= 7125) return kBand6;
  return kBandNone;
}

uint8_t phy_caps_from_ies(const uint8_t* ies, size_t length) {
  uint8_t caps = 0;
  bool any_rate = false;
  bool ofdm_rate = false;
  size_t at = 0;
  Element element;
  while (next_element(ies, length, &at, &element)) {
    caps |= kPhyElements;
    if (element.id == kSupportedRates || element.id == kExtendedRates) {
      for (size_t i = 0; i < element.size; ++i) {
        if (is_selector(element.body[i])) continue;
        any_rate = true;
        if (!is_dsss(element.body[i] & 0x7f)) ofdm_rate = true;
      }
    } else if (element.id == kHtCapabilities) {
      caps |= kPhyHt;
    } else if (element.id == kVhtCapabilities) {
      caps |= kPhyVht;
    } else if (element.id == kExtension && element.size >= 1) {
      if (element.body[0] == kExtHeCapabilities) caps |= kPhyHe;
      if (element.body[0] == kExtEhtCapabilities) caps |= kPhyEht;
    }
  }
  if (any_rate && !ofdm_rate) caps |= kPhyDsssOnly;
  return caps;
}

const char* phy_label(uint8_t ap_caps, uint8_t adapter_caps, int32_t freq_mhz,
                      int32_t rate_family) {
  const int32_t band = band_of_freq(freq_mhz);
  int level = kUnknown;
  if ((ap_caps & kPhyElements) != 0) {
    level = level_of(ap_caps & adapter_caps & kPhyAllCaps, band);
    if (level == kOfdm && band == kBand24 && (ap_caps & kPhyDsssOnly) != 0) level = kDsss;
  }
  if (rate_family > kRateLegacy) level = std::max(level, kOfdm + std::min(rate_family, kRateEht));
  if (band == kBand6) level = std::max<int>(level, kHe);
  switch (level) {
    case kDsss:
      return "802.11b";
    case kOfdm:
      return band == kBand24 ? "802.11g" : band == kBand5 ? "802.11a" : "";
    case kHt:
      return "802.11n";
    case kVht:
      return "802.11ac";
    case kHe:
      return "802.11ax";
    case kEht:
      return "802.11be";
    default:
      return "";
  }
}
