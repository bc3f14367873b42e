#include "wifi/scan_events.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "wifi/association_events.h"
#include "wifi/kernel_port.h"
#include "wifi/netlink.h"
#include "wifi/nl80211_codes.h"
#include "wifi/wifi.h"

namespace {

constexpr int kGroupsMaxType = 31;  // nl80211 has seven groups; room to spare
constexpr int kEventMaxType = nl::kAttrIfindex;

// Notifications are a few hundred bytes (the scanned frequencies, a connection's elements), a
// station's leaving about 1.2 KiB; this holds dozens at once.
alignas(4) uint8_t event_buffer[8192];

// Stores a multicast group's id under its name, when it is one the helper listens to.
void note_group(const char* name, uint32_t id) {
  if (id == 0 || id > INT32_MAX) return;
  if (std::strcmp(name, "scan") == 0) wifi_state.scan_group = static_cast<int32_t>(id);
  if (std::strcmp(name, "mlme") == 0) wifi_state.mlme_group = static_cast<int32_t>(id);
  if (std::strcmp(name, "config") == 0) wifi_state.config_group = static_cast<int32_t>(id);
}

// kScanNewResults or kScanAborted when `message` is nl80211's end of a scan on `ifindex`, else
// kScanNotEnded.
int scan_end_of(const NetlinkMessage& message, int32_t ifindex) {
  if (message.len < kGenlHeaderEnd || message.type != wifi_state.family_id) return kScanNotEnded;
  uint8_t cmd = message.bytes[kMsgHeaderSize];
  if (cmd != nl::kCmdNewScanResults && cmd != nl::kCmdScanAborted) return kScanNotEnded;
  const NlAttr* table[kEventMaxType + 1];
  parse_attributes(message.bytes + kGenlHeaderEnd, message.len - kGenlHeaderEnd, table,
                   kEventMaxType);
  uint32_t index = 0;
  if (!attr_u32(table[nl::kAttrIfindex], &index) || static_cast<int32_t>(index) != ifindex) {
    return kScanNotEnded;
  }
  return cmd == nl::kCmdNewScanResults ? kScanNewResults : kScanAborted;
}

// The verdict of two ends seen in one read: new results count over a loss or an abort, the later
// of those over the earlier, any end over none.
int later_verdict(int so_far, int seen) {
  if (so_far == kScanNewResults || seen == kScanNewResults) return kScanNewResults;
  return seen != kScanNotEnded ? seen : so_far;
}

}  // namespace

void on_family_groups(const NlAttr* const* table, int, void*) {
  const NlAttr* groups[kGroupsMaxType + 1];
  parse_nested(table[nl::kCtrlAttrMcastGroups], groups, kGroupsMaxType);
  for (const NlAttr* group : groups) {
    if (group == nullptr) continue;
    const NlAttr* fields[nl::kCtrlAttrMcastGrpId + 1];
    parse_nested(group, fields, nl::kCtrlAttrMcastGrpId);
    char name[16];
    attr_text(fields[nl::kCtrlAttrMcastGrpName], name, sizeof name);
    uint32_t id = 0;
    if (attr_u32(fields[nl::kCtrlAttrMcastGrpId], &id)) note_group(name, id);
  }
}

int scan_events_open() {
  if (wifi_state.event_fd >= 0) return 0;
  if (wifi_state.scan_group < 0) return -ENOENT;
  int fd = kernel_events_open(static_cast<uint32_t>(wifi_state.scan_group));
  if (fd < 0) return fd;
  wifi_state.event_fd = fd;
  // The same socket hears of connections, roams and disconnections, and of interfaces coming and
  // going; without "mlme" the association is read afresh whenever it may have changed.
  wifi_state.follows = wifi_state.mlme_group >= 0 &&
                       kernel_events_join(fd, static_cast<uint32_t>(wifi_state.mlme_group)) == 0;
  if (wifi_state.config_group >= 0) {
    (void)kernel_events_join(fd, static_cast<uint32_t>(wifi_state.config_group));
  }
  return 0;
}

int scan_events_read(int32_t ifindex) {
  int ended = kScanNotEnded;
  if (wifi_state.event_fd < 0) return kScanNotEnded;
  for (;;) {
    long got = kernel_events_recv(wifi_state.event_fd, event_buffer, sizeof event_buffer);
    if (got == -ENOBUFS) {
      // The socket overflowed: what was lost may have been the end, or a change of association.
      ended = later_verdict(ended, kScanLost);
      wifi_state.assoc_stale = 1;
      continue;
    }
    if (got <= 0) return ended;  // -EAGAIN: nothing more waits
    size_t remaining = static_cast<size_t>(got) < sizeof event_buffer ? static_cast<size_t>(got)
                                                                      : sizeof event_buffer;
    NetlinkMessage message;
    for (const uint8_t* at = event_buffer; size_t step = next_message(at, remaining, &message);
         at += step, remaining -= step) {
      ended = later_verdict(ended, scan_end_of(message, ifindex));
      if (message.type == wifi_state.family_id) association_notice(message);
    }
  }
}
