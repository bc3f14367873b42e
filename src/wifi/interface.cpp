#include "wifi/interface.h"

#include <cstdio>
#include <cstring>

#include "wifi/link_list.h"
#include "wifi/nl80211_codes.h"
#include "wifi/requests.h"
#include "wifi/scan.h"
#include "wifi/scan_events.h"
#include "wifi/station.h"
#include "wifi/wifi_state.h"
#include "wifi/wiphy_caps.h"

namespace {

constexpr char kNoInterface[] = "no WiFi interface found";

void copy_text(char* out, size_t out_size, const char* text) {
  std::snprintf(out, out_size, "%s", text);
}

// Runs the family request; the exchange's result, with wifi_state.family_id set when it resolved.
int32_t resolve_family() {
  NetlinkRequest request;
  build_family_request(&request);
  return netlink_exchange(request, on_family, nullptr);
}

// Runs the interface dump and remembers the chosen interface, even when the dump ended with an
// error after it was seen; a newly chosen interface (start-up, an adapter plugged in) has its
// adapter's capabilities read. Returns false when the dump failed or found no station interface;
// *result holds the exchange's result.
bool choose_interface(InterfacePick* pick, int32_t* result) {
  NetlinkRequest request;
  build_interface_dump_request(&request);
  *result = netlink_exchange(request, on_interface, pick);
  const bool chosen = interface_chosen(*pick, *result);
  if (pick->ifindex >= 0 && pick->ifindex != wifi_state.caps_ifindex) {
    read_wiphy_caps(pick->ifindex);
  }
  return chosen;
}

// The station reply names the link the association uses; its channel replaces that of the
// lowest link, which stood for it until then.
void use_link_in_use(const InterfacePick& pick, int32_t link_id, LinkInfo* link) {
  const MloLink* in_use = mlo_link_with_freq(pick.links, pick.link_count, link_id);
  if (in_use == nullptr) return;
  link->freq_mhz = static_cast<int32_t>(in_use->freq_mhz);
  link->channel = channel_from_freq(link->freq_mhz);
  link->width_mhz = width_from_code(in_use->width_code);
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
  if (attr_u16(table[nl::kCtrlAttrFamilyId], &id)) wifi_state.family_id = id;
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
  // A multi-link station has no top-level channel: it reports one per link. Having links means
  // it is associated (or associating), so it weighs like an interface with a frequency.
  MloLink links[kMaxMloLinks];
  int32_t link_count = has_freq ? 0 : read_mlo_links(table[nl::kAttrMloLinks], links);
  bool weighs_connected = has_freq || link_count > 0;
  if (pick->ifindex >= 0 && (pick->has_freq || pick->link_count > 0 || !weighs_connected)) return;

  pick->ifindex = static_cast<int32_t>(ifindex);
  pick->has_freq = has_freq ? 1 : 0;
  attr_text(table[nl::kAttrIfname], pick->ifname, sizeof pick->ifname);
  pick->freq_mhz = has_freq ? freq : 0;
  uint32_t width_code = 0;
  pick->width_code =
      attr_u32(table[nl::kAttrChannelWidth], &width_code) ? static_cast<int32_t>(width_code) : -1;
  attr_text(table[nl::kAttrSsid], pick->ssid, sizeof pick->ssid);
  pick->link_count = link_count;
  std::memcpy(pick->links, links, sizeof(MloLink) * static_cast<size_t>(link_count));
  // Until the station reply names the link in use, the lowest link with a channel stands for it.
  if (const MloLink* link = lowest_mlo_link_with_freq(links, link_count)) {
    pick->has_freq = 1;
    pick->freq_mhz = link->freq_mhz;
    pick->width_code = link->width_code;
  }
}

int32_t width_from_code(int32_t code) {
  static constexpr int32_t kWidths[14] = {20, 20, 40, 80, 160, 160, 0, 0, 0, 0, 0, 0, 0, 320};
  return code >= 0 && code < 14 ? kWidths[code] : 0;
}

int wifi_open(char* msg, size_t msg_size) {
  int32_t result = resolve_family();
  if (wifi_state.family_id < 0) {
    std::snprintf(msg, msg_size, "nl80211 not available (%s)",
                  result != 0 ? std::strerror(-result) : "no WiFi driver");
    return -1;
  }
  // Subscribed now, while start-up may still open sockets; without it scans wait a fixed time.
  (void)scan_events_open();
  InterfacePick pick = fresh_interface_pick();
  if (!choose_interface(&pick, &result)) {
    // Start-up's log line says why the dump failed; a dump that found no station says no more.
    if (result < 0) {
      std::snprintf(msg, msg_size, "%s (%s)", kNoInterface, std::strerror(-result));
    } else {
      copy_text(msg, msg_size, kNoInterface);
    }
    return -1;
  }
  return 0;
}

bool interface_chosen(const InterfacePick& pick, int32_t result) {
  if (pick.ifindex >= 0) {
    wifi_state.ifindex = pick.ifindex;
    copy_text(wifi_state.ifname, sizeof wifi_state.ifname, pick.ifname);
  }
  return result >= 0 && pick.ifindex >= 0;
}

void link_from_pick(const InterfacePick& pick, LinkInfo* link) {
  copy_text(link->iface, sizeof link->iface, wifi_state.ifname);
  copy_text(link->ssid, sizeof link->ssid, pick.ssid);
  link->connected = pick.has_freq;
  link->freq_mhz = static_cast<int32_t>(pick.freq_mhz);
  link->channel = channel_from_freq(link->freq_mhz);
  link->width_mhz = width_from_code(pick.width_code);
}

void link_from_association(LinkInfo* link) {
  std::memcpy(link->bssid, wifi_state.assoc.bssid, sizeof link->bssid);
  link->has_bssid = 1;
  // An interface that names no network (a multi-link one; on Linux 6.1 any station whose access
  // point sends no country element): the associated BSS's SSID element does.
  if (link->ssid[0] == '\0') {
    copy_text(link->ssid, sizeof link->ssid, wifi_state.assoc.ssid);
  }
}

void link_from_station(const InterfacePick& pick, const StationInfo& station, int32_t result,
                       LinkInfo* link) {
  if (result >= 0 && station.has_link_id) use_link_in_use(pick, station.link_id, link);
  // A reply without a measured signal still carries the rates the driver gives.
  if (result >= 0) {
    link->rssi = station.signal_dbm;
    link->tx_mbps = station.tx_mbps;
    link->rx_mbps = station.rx_mbps;
    link->nss = station.nss;
    if (link->width_mhz == 0) link->width_mhz = station.width_mhz;
  }
  describe_link(pick, wifi_state.assoc, result >= 0 ? &station : nullptr, link);
}
