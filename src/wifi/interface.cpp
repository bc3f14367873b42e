#include "wifi/interface.h"

#include <cstdio>
#include <cstring>

#include "wifi/nl80211_codes.h"
#include "wifi/requests.h"
#include "wifi/scan.h"
#include "wifi/scan_events.h"
#include "wifi/station.h"

namespace {

constexpr char kNoInterface[] = "no WiFi interface found";

// Used only by the association probe of link_query; never reported.
ScanTable link_scratch_table;

void copy_text(char* out, size_t out_size, const char* text) {
  std::snprintf(out, out_size, "%s", text);
}

// Runs the interface dump and remembers the chosen interface, even when the dump ended with an
// error after it was seen. Returns false when the dump failed or found no station interface.
bool choose_interface(InterfacePick* pick) {
  NetlinkRequest request;
  build_interface_dump_request(&request);
  int32_t result = netlink_exchange(request, on_interface, pick);
  if (pick->ifindex >= 0) {
    wifi_ifindex = pick->ifindex;
    copy_text(wifi_ifname, sizeof wifi_ifname, pick->ifname);
  }
  return result >= 0 && pick->ifindex >= 0;
}

}  // namespace

InterfacePick fresh_interface_pick() {
  InterfacePick pick{};
  pick.ifindex = -1;
  pick.width_code = -1;
  return pick;
}

void on_family(const NlAttr* const* table, int, void*) {
  uint16_t id = 0;
  if (attr_u16(table[nl::kCtrlAttrFamilyId], &id)) nl80211_family_id = id;
  on_family_groups(table, kAttrTableMaxType, nullptr);
}

void on_interface(const NlAttr* const* table, int, void* user_data) {
  InterfacePick* pick = static_cast<InterfacePick*>(user_data);
  uint32_t ifindex = 0;
  uint32_t iftype = 0;
  if (!attr_u32(table[nl::kAttrIfindex], &ifindex) || !attr_u32(table[nl::kAttrIftype], &iftype) ||
      iftype != nl::kIftypeStation) {
    return;
  }
  uint32_t freq = 0;
  bool has_freq = attr_u32(table[nl::kAttrWiphyFreq], &freq);
  if (pick->ifindex >= 0 && (pick->has_freq || !has_freq)) return;

  pick->ifindex = static_cast<int32_t>(ifindex);
  pick->has_freq = has_freq ? 1 : 0;
  attr_text(table[nl::kAttrIfname], pick->ifname, sizeof pick->ifname);
  pick->freq_mhz = has_freq ? freq : 0;
  uint32_t width_code = 0;
  pick->width_code =
      attr_u32(table[nl::kAttrChannelWidth], &width_code) ? static_cast<int32_t>(width_code) : -1;
  attr_text(table[nl::kAttrSsid], pick->ssid, sizeof pick->ssid);
}

int32_t width_from_code(int32_t code) {
  static constexpr int32_t kWidths[14] = {20, 20, 40, 80, 160, 160, 0, 0, 0, 0, 0, 0, 0, 320};
  return code >= 0 && code < 14 ? kWidths[code] : 0;
}

int wifi_open(char* msg, size_t msg_size) {
  NetlinkRequest request;
  build_family_request(&request);
  int32_t result = netlink_exchange(request, on_family, nullptr);
  if (nl80211_family_id < 0) {
    std::snprintf(msg, msg_size, "nl80211 not available (%s)",
                  result != 0 ? std::strerror(-result) : "no WiFi driver");
    return -1;
  }
  // Subscribed now, while start-up may still open sockets; without it scans wait a fixed time.
  (void)scan_events_open();
  InterfacePick pick = fresh_interface_pick();
  if (!choose_interface(&pick)) {
    copy_text(msg, msg_size, kNoInterface);
    return -1;
  }
  return 0;
}

int link_query(LinkInfo* link, char* msg, size_t msg_size) {
  InterfacePick pick = fresh_interface_pick();
  if (nl80211_family_id < 0 || !choose_interface(&pick)) {
    copy_text(msg, msg_size, kNoInterface);
    return -1;
  }
  copy_text(link->iface, sizeof link->iface, wifi_ifname);
  copy_text(link->ssid, sizeof link->ssid, pick.ssid);
  link->connected = pick.has_freq;
  link->freq_mhz = static_cast<int32_t>(pick.freq_mhz);
  link->channel = channel_from_freq(link->freq_mhz);
  link->width_mhz = width_from_code(pick.width_code);
  if (!link->connected) return 0;

  // Association probe: the scan dump marks the BSS the computer is associated with.
  assoc_known = 0;
  ScanCollector collector{link_scratch_table, kScanCapacity, 0};
  NetlinkRequest request;
  build_scan_dump_request(&request, wifi_ifindex);
  (void)netlink_exchange(request, on_bss, &collector);
  if (assoc_known == 0) return 0;
  std::memcpy(link->bssid, assoc_bssid, sizeof link->bssid);
  link->has_bssid = 1;

  StationInfo station{};
  build_station_request(&request, wifi_ifindex, assoc_bssid);
  if (netlink_exchange(request, on_station, &station) < 0 || station.signal_dbm == 0) return 0;
  link->rssi = station.signal_dbm;
  link->tx_mbps = station.tx_mbps;
  link->rx_mbps = station.rx_mbps;
  link->nss = station.nss;
  if (link->width_mhz == 0) link->width_mhz = station.width_mhz;
  return 0;
}
