#pragma once

#include <cstdint>

#include "wifi/netlink.h"

// What the adapter supports on each band (NL80211_CMD_GET_WIPHY): HT, VHT, HE and EHT for a
// station interface. Read when an interface is chosen, so once at start-up and again after the
// adapter is plugged in anew; the PHY label needs it, never a request of its own per query.

// kPhy* bits (phy_label.h) per band, indexed kBand24, kBand5, kBand6.
struct WiphyCaps {
  uint8_t known;  // 1 once a reply described at least one of the three bands
  uint8_t band[3];
};

// Callback for the wiphy dump; user data a WiphyCaps, zero-filled before the dump. Adds what each
// message's NL80211_ATTR_WIPHY_BANDS holds: HT and VHT capabilities of the band, and HE and EHT
// PHY capabilities of the interface-type set that lists the station type. A split dump sends a
// band in several messages; the capabilities come with the first of them.
void on_wiphy(const NlAttr* const* table, int max_type, void* caps);

// The kPhy* capability bits of the band of `freq_mhz`: kPhyAllCaps when the capabilities are
// unknown (no reply, an old kernel) or the frequency lies in none of the three bands.
uint8_t adapter_caps_at(const WiphyCaps& caps, int32_t freq_mhz);

// Reads the capabilities of the adapter behind `ifindex` into wifi_state.caps (one wiphy dump) and
// notes the interface they belong to; a failed read leaves them unknown until the next interface.
void read_wiphy_caps(int32_t ifindex);

// After a wiphy dump into `caps` for `ifindex` that ended with `result`: keeps them as
// read_wiphy_caps does.
void note_wiphy_caps(const WiphyCaps& caps, int32_t result, int32_t ifindex);
