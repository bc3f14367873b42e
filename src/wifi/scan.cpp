#include "wifi/scan.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "wifi/elements.h"
#include "wifi/ie_width.h"
#include "wifi/link_list.h"
#include "wifi/multi_link.h"
#include "wifi/nl80211_codes.h"
#include "wifi/phy_label.h"
#include "wifi/scan_events.h"
#include "wifi/signal_rules.h"

namespace {

constexpr int kBssMaxType = nl::kBssMldAddr;
constexpr size_t kMaxIes = sizeof ScanEntry::ies;

// The network name comes only from the first element, and only when that is the SSID element
// and all its bytes are present.
void take_ssid(ScanEntry* entry) {
  if (entry->ie_len < 2 || entry->ies[0] != kSsidElement) return;
  size_t length = std::min<size_t>(entry->ies[1], kMaxSsid);
  if (static_cast<size_t>(entry->ie_len) < length + 2) return;
  std::memcpy(entry->ssid, entry->ies + 2, length);
  entry->ssid[length] = '\0';
}

// The record's signal in dBm: NL80211_BSS_SIGNAL_MBM, or from drivers that give only a quality,
// NL80211_BSS_SIGNAL_UNSPEC mapped to dBm; 0 when neither is a measurement.
int32_t bss_signal_dbm(const NlAttr* const* bss) {
  int32_t mbm = 0;
  uint8_t quality = 0;
  const int32_t figures[] = {
      attr_s32(bss[nl::kBssSignalMbm], &mbm) ? mbm / 100 : 0,
      attr_u8(bss[nl::kBssSignalUnspec], &quality) ? dbm_from_quality(quality) : 0};
  return first_measured_dbm(figures, 2);
}

// Unknown signals (0) rank below every measured one.
int64_t signal_rank(int32_t signal_dbm) {
  return signal_dbm == 0 ? INT64_MIN : signal_dbm;
}

// The kPhy* bits of a record's elements (null: none); read only for the records that need them.
uint8_t caps_of(const NlAttr* ies) {
  return ies != nullptr ? phy_caps_from_ies(attr_payload(ies), attr_payload_len(ies)) : 0;
}

// True when `a` belongs before `b` in a table: stronger, or as strong and earlier in the dump.
bool ranks_above(int32_t a_signal, int32_t a_order, const ScanEntry& b) {
  return signal_rank(a_signal) > signal_rank(b.signal_dbm) ||
         (a_signal == b.signal_dbm && a_order < b.dump_order);
}

// Strongest first; records of equal signal in the kernel's order. Records move whole through
// one spare record rather than the stack (each is over 2 KB).
void sort_strongest_first(ScanEntry* entries, int32_t count) {
  static ScanEntry spare;
  for (int32_t i = 1; i < count; ++i) {
    if (!ranks_above(entries[i].signal_dbm, entries[i].dump_order, entries[i - 1])) continue;
    spare = entries[i];
    int32_t j = i;
    while (j > 0 && ranks_above(spare.signal_dbm, spare.dump_order, entries[j - 1])) {
      entries[j] = entries[j - 1];
      --j;
    }
    entries[j] = spare;
  }
}

// The record a newcomer may replace in a full table: the lowest-ranked one, passing over
// associated records while others remain. Also gives the newcomer its dump order, later than any
// held. -1 for a table without records.
int32_t weakest_held(const ScanCollector& collector, int32_t* next_order) {
  int32_t weakest = -1;
  *next_order = 0;
  for (int32_t i = 0; i < collector.count; ++i) {
    const ScanEntry& held = collector.entries[i];
    if (held.dump_order >= *next_order) *next_order = held.dump_order + 1;
    if (weakest < 0) {
      weakest = i;
      continue;
    }
    const ScanEntry& current = collector.entries[weakest];
    if (held.associated != current.associated) {
      if (held.associated < current.associated) weakest = i;
    } else if (ranks_above(current.signal_dbm, current.dump_order, held)) {
      weakest = i;
    }
  }
  return weakest;
}

// Where the record just read goes: the next free place, or in a full table the place of the
// weakest held record when the newcomer outranks it (an associated record outranks any other;
// among equals the earlier in the dump stays). -1 when it is not kept.
int32_t place_for(ScanCollector* collector, int32_t signal_dbm, int32_t associated,
                  int32_t* order) {
  if (collector->count < collector->capacity) {
    *order = collector->count;
    return collector->count++;
  }
  int32_t weakest = weakest_held(*collector, order);
  if (weakest < 0) return -1;
  const ScanEntry& held = collector->entries[weakest];
  if (associated != held.associated) return associated > held.associated ? weakest : -1;
  return ranks_above(signal_dbm, *order, held) ? weakest : -1;
}

}  // namespace

void on_bss(const NlAttr* const* table, int, void* user_data) {
  ScanCollector* collector = static_cast<ScanCollector*>(user_data);
  if (table[nl::kAttrBss] == nullptr) return;
  const NlAttr* bss[kBssMaxType + 1];
  parse_nested(table[nl::kAttrBss], bss, kBssMaxType);

  // The association is read from every record, whether or not the table keeps it.
  uint8_t bssid[6] = {};
  const bool has_bssid = attr_mac(bss[nl::kBssBssid], bssid);
  uint32_t status = 0;
  const bool associated =
      attr_u32(bss[nl::kBssStatus], &status) && status == nl::kBssStatusAssociated;
  // Beacon elements when the kernel has them, else those of the probe response.
  const NlAttr* ies =
      bss[nl::kBssBeaconIes] != nullptr ? bss[nl::kBssBeaconIes] : bss[nl::kBssInformationElements];
  if (associated && has_bssid) {
    Association& found = collector->found;
    const Association before = found;
    found = Association{};
    std::memcpy(found.bssid, bssid, sizeof found.bssid);
    found.known = 1;
    found.has_mld = attr_mac(bss[nl::kBssMldAddr], found.mld_addr) ? 1 : 0;
    if (ies != nullptr) {
      (void)ssid_from_elements(attr_payload(ies), attr_payload_len(ies), found.ssid,
                               sizeof found.ssid);
    }
    note_associated_record(before, bss, ies, caps_of(ies), &found);
  }
  const int32_t signal_dbm = bss_signal_dbm(bss);
  int32_t order = 0;
  int32_t place = place_for(collector, signal_dbm, associated ? 1 : 0, &order);
  if (place < 0) return;

  ScanEntry* entry = &collector->entries[place];
  std::memset(entry, 0, sizeof *entry);
  entry->dump_order = order;
  entry->signal_dbm = signal_dbm;
  entry->associated = associated ? 1 : 0;
  if (has_bssid) {
    std::memcpy(entry->bssid, bssid, sizeof entry->bssid);
    entry->has_bssid = 1;
  }
  uint32_t freq = 0;
  if (attr_u32(bss[nl::kBssFrequency], &freq)) {
    entry->freq_mhz = static_cast<int32_t>(freq);
    entry->channel = channel_from_freq(entry->freq_mhz);
  }
  const char* phy = phy_label(caps_of(ies), kPhyAllCaps, entry->freq_mhz, kRateLegacy);
  std::memcpy(entry->phy, phy, std::min(std::strlen(phy), sizeof entry->phy - 1));
  if (attr_u32(bss[nl::kBssSeenMsAgo], &entry->seen_ms_ago)) entry->has_seen_ms_ago = 1;
  if (ies == nullptr) return;
  size_t copied = std::min(attr_payload_len(ies), kMaxIes);
  if (copied > 0) std::memcpy(entry->ies, attr_payload(ies), copied);
  entry->ie_len = static_cast<int32_t>(copied);
  take_ssid(entry);
  entry->width_mhz = width_from_ies(entry->ies, copied);
}

int32_t channel_from_freq(int32_t f) {
  if (f == 2484) return 14;
  if (f >= 2412 && f <= 2483) return (f - 2407) / 5;
  if (f >= 5150 && f <= 5925) return (f - 5000) / 5;
  if (f == 5935) return 2;  // the one 6 GHz channel off the 5 MHz grid of the others
  if (f >= 5955 && f <= 7125) return (f - 5950) / 5;
  return 0;
}

int scan_wait_after_trigger(int32_t result) {
  if (result == 0) return wifi_state.event_fd >= 0 ? kScanAwaitEvent : kScanAwaitFixed;
  if (result == -EBUSY && wifi_state.event_fd >= 0) return kScanAwaitEvent;
  // Refused (an unprivileged user, or busy with no way to see the end): the dump then lists what
  // the system scanned last.
  return kScanDumpNow;
}

int scan_event_socket() {
  return wifi_state.event_fd;
}

int scan_ended() {
  return scan_events_read(wifi_state.ifindex);
}

int scan_dump_outcome(ScanCollector* collector, int32_t result, char* msg, size_t msg_size) {
  if (collector->count == 0 && result < 0) {
    std::snprintf(msg, msg_size, "scan failed: %s", netlink_error_text(result));
    return -1;
  }
  // A dump that marks the association also tells the live stream whom to ask.
  if (collector->found.known == 1) {
    wifi_state.assoc = collector->found;
    wifi_state.assoc_stale = 0;
  }
  sort_strongest_first(collector->entries, collector->count);
  return collector->count;
}
