#pragma once

#include <cstddef>
#include <cstdint>

// The PHY generation ("802.11ax") of an association or of a BSS, from what the access point
// announces in its elements, what the adapter supports on the band and the family of the rates
// the station uses. Pure rules: no kernel, no state.

// What a BSS's elements announce, or (the first four) what the adapter supports on a band.
inline constexpr uint8_t kPhyHt = 0x01;        // HT capabilities (element 45)
inline constexpr uint8_t kPhyVht = 0x02;       // VHT capabilities (element 191)
inline constexpr uint8_t kPhyHe = 0x04;        // HE capabilities (extension element 35)
inline constexpr uint8_t kPhyEht = 0x08;       // EHT capabilities (extension element 108)
inline constexpr uint8_t kPhyAllCaps = 0x0f;   // an adapter whose capabilities are unknown
inline constexpr uint8_t kPhyDsssOnly = 0x10;  // its supported rates are all 1, 2, 5.5, 11 Mbit/s
inline constexpr uint8_t kPhyElements = 0x20;  // there were elements to read at all

// The family of a station's transmit or receive rate, lowest to highest.
inline constexpr int32_t kRateLegacy = 0;  // no MCS: tells nothing of the generation
inline constexpr int32_t kRateHt = 1;      // NL80211_RATE_INFO_MCS
inline constexpr int32_t kRateVht = 2;     // NL80211_RATE_INFO_VHT_MCS
inline constexpr int32_t kRateHe = 3;      // NL80211_RATE_INFO_HE_MCS
inline constexpr int32_t kRateEht = 4;     // NL80211_RATE_INFO_EHT_MCS

// Bands of a centre frequency.
inline constexpr int32_t kBandNone = -1;
inline constexpr int32_t kBand24 = 0;  // 2412..2484 MHz
inline constexpr int32_t kBand5 = 1;   // 5150..5925 MHz
inline constexpr int32_t kBand6 = 2;   // 5935..7125 MHz

// The band of `freq_mhz`; kBandNone outside the three.
int32_t band_of_freq(int32_t freq_mhz);

// The kPhy* bits the elements ies[0..length) announce; 0 for no elements. The supported and
// extended supported rates (elements 1 and 50) give kPhyDsssOnly when every rate they list, BSS
// membership selectors aside, is 1, 2, 5.5 or 11 Mbit/s. The walk ends where an element runs past
// `length`.
uint8_t phy_caps_from_ies(const uint8_t* ies, size_t length);

// The generation label: the highest of 802.11be/ax/ac/n that both `ap_caps` (phy_caps_from_ies)
// and `adapter_caps` (kPhy* bits of the band) have, VHT counting on 5 GHz only; without one of
// them "802.11a" on 5 GHz, "802.11g" on 2.4 GHz ("802.11b" when the AP offers DSSS rates only).
// A rate of a higher family raises it, and 6 GHz is at least 802.11ax. "" when nothing tells:
// no elements, no rate family and no 6 GHz frequency. Returns a static string.
const char* phy_label(uint8_t ap_caps, uint8_t adapter_caps, int32_t freq_mhz, int32_t rate_family);
