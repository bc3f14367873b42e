#include "wifi/requests.h"

#include <cstring>

#include "wifi/nl80211_codes.h"
#include "wifi/wifi_state.h"

namespace {

void start_request(NetlinkRequest* request, uint16_t type, uint16_t flags, uint8_t cmd) {
  std::memset(request, 0, sizeof *request);
  request->nlmsg_len = kGenlHeaderEnd;
  request->nlmsg_type = type;
  request->nlmsg_flags = flags;
  request->nlmsg_seq = wifi_state.seq++;
  request->cmd = cmd;
  request->version = 1;
}

// Appends one attribute after those already in the request and pads it to 4 bytes (the padding
// is already zero). REQUIRES: the attribute fits in the 256-byte attribute area.
void add_attribute(NetlinkRequest* request, uint16_t type, const void* payload, uint16_t size) {
  uint8_t* at = request->attributes + (request->nlmsg_len - kGenlHeaderEnd);
  uint16_t nla_len = static_cast<uint16_t>(4 + size);
  std::memcpy(at, &nla_len, 2);
  std::memcpy(at + 2, &type, 2);
  std::memcpy(at + 4, payload, size);
  request->nlmsg_len += (nla_len + 3u) & ~3u;
}

void add_u32(NetlinkRequest* request, uint16_t type, uint32_t value) {
  add_attribute(request, type, &value, sizeof value);
}

uint16_t family_type() {
  return static_cast<uint16_t>(wifi_state.family_id);
}

}  // namespace

void build_family_request(NetlinkRequest* request) {
  start_request(request, nl::kGenlIdCtrl, nl::kFlagRequest, nl::kCtrlCmdGetFamily);
  static constexpr char kName[] = "nl80211";  // sent with its terminating zero: 8 bytes
  add_attribute(request, nl::kCtrlAttrFamilyName, kName, sizeof kName);
}

void build_interface_dump_request(NetlinkRequest* request) {
  start_request(request, family_type(), nl::kFlagRequest | nl::kFlagDump, nl::kCmdGetInterface);
}

void build_scan_trigger_request(NetlinkRequest* request, int32_t ifindex) {
  start_request(request, family_type(), nl::kFlagRequest | nl::kFlagAck, nl::kCmdTriggerScan);
  add_u32(request, nl::kAttrIfindex, static_cast<uint32_t>(ifindex));
  // One empty SSID, the wildcard, as iw, wpa_supplicant and NetworkManager ask: the radio then
  // sends probe requests where it may instead of only listening on every channel, and the scan
  // ends in about the time the system's own scans take (5 s instead of 8 s on two bands).
  static constexpr uint8_t kWildcardSsid[4] = {4, 0, 1, 0};  // nla_len 4, type 1, no payload
  add_attribute(request, nl::kAttrScanSsids, kWildcardSsid, sizeof kWildcardSsid);
}

void build_scan_dump_request(NetlinkRequest* request, int32_t ifindex) {
  start_request(request, family_type(), nl::kFlagRequest | nl::kFlagDump, nl::kCmdGetScan);
  add_u32(request, nl::kAttrIfindex, static_cast<uint32_t>(ifindex));
}

void build_station_request(NetlinkRequest* request, int32_t ifindex, const uint8_t mac[6]) {
  start_request(request, family_type(), nl::kFlagRequest, nl::kCmdGetStation);
  add_u32(request, nl::kAttrIfindex, static_cast<uint32_t>(ifindex));
  add_attribute(request, nl::kAttrMac, mac, 6);
}

void build_survey_dump_request(NetlinkRequest* request, int32_t ifindex) {
  start_request(request, family_type(), nl::kFlagRequest | nl::kFlagDump, nl::kCmdGetSurvey);
  add_u32(request, nl::kAttrIfindex, static_cast<uint32_t>(ifindex));
}

void build_wiphy_dump_request(NetlinkRequest* request, int32_t ifindex) {
  start_request(request, family_type(), nl::kFlagRequest | nl::kFlagDump, nl::kCmdGetWiphy);
  add_u32(request, nl::kAttrIfindex, static_cast<uint32_t>(ifindex));
  static constexpr uint8_t kNoPayload = 0;
  add_attribute(request, nl::kAttrSplitWiphyDump, &kNoPayload, 0);
}
