#include "wifi/wifi_state.h"

namespace {

constexpr WifiState kFresh = {1, -1, -1, -1, -1, {}, {}};

}  // namespace

WifiState wifi_state = kFresh;

void wifi_state_reset() {
  wifi_state = kFresh;
}

const uint8_t* station_address(const Association& assoc) {
  return assoc.has_mld == 1 ? assoc.mld_addr : assoc.bssid;
}
