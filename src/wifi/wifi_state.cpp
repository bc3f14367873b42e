#include "wifi/wifi_state.h"

namespace {

constexpr WifiState kFresh = {.seq = 1,
                              .family_id = -1,
                              .scan_group = -1,
                              .mlme_group = -1,
                              .config_group = -1,
                              .event_fd = -1,
                              .follows = 0,
                              .ifindex = -1,
                              .ifname = {},
                              .assoc = {},
                              .assoc_stale = 1,
                              .caps = {},
                              .caps_ifindex = -1,
                              .lanes = {{-1, 0, 0, 0}, {-1, 0, 0, 0}, {-1, 0, 0, 0}}};

}  // namespace

WifiState wifi_state = kFresh;

void wifi_state_reset() {
  wifi_state = kFresh;
}

const uint8_t* station_address(const Association& assoc) {
  return assoc.has_mld == 1 ? assoc.mld_addr : assoc.bssid;
}
