#pragma once

#include <cstdint>

#include "wifi/netlink.h"

// The noise floor of the link's channel, from the kernel's channel survey (NL80211_CMD_GET_SURVEY).

// Runs one survey dump on `ifindex` and returns the noise in dBm of the entry in use, else of the
// one on `freq_mhz`; 0 when there is none (a figure of 0 dBm or more, or below -120, is none) or
// the dump failed.
int32_t link_noise(int32_t ifindex, int32_t freq_mhz);
