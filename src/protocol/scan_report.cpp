#include "protocol/scan_report.h"

#include <cstdlib>
#include <cstring>

#include "base/sizes.h"
#include "protocol/replies.h"

// A page's send queue is sized for the largest report these tables can give.
static_assert(kScanCapacity == 96 && sizeof(ScanEntry::ies) == 2048 &&
                  sizeof(ScanEntry::ssid) == 33,
              "kLargestScanReport counts 96 networks of 2048 element bytes and 32-byte names");

namespace {

int find_mine_by_signal(const LinkInfo& link, const ScanEntry* entries, int n) {
  int best = -1;
  int best_diff = MINE_GUESS_MAX_DB;
  int ties = 0;
  for (int k = 0; k < n; ++k) {
    if (entries[k].channel != link.channel) continue;
    int diff = std::abs(entries[k].signal_dbm - link.rssi);
    if (diff < best_diff) {
      best = k;
      best_diff = diff;
      ties = 0;
    } else if (diff == best_diff) {
      ++ties;
    }
  }
  return ties == 0 ? best : -1;
}

// Without the link's signal there is nothing to compare: the one same-channel entry that carries
// the link's network name, when exactly one does.
int find_mine_by_name(const LinkInfo& link, const ScanEntry* entries, int n) {
  if (link.ssid[0] == '\0') return -1;
  int found = -1;
  for (int k = 0; k < n; ++k) {
    if (entries[k].channel != link.channel || std::strcmp(entries[k].ssid, link.ssid) != 0)
      continue;
    if (found >= 0) return -1;
    found = k;
  }
  return found;
}

}  // namespace

MineChoice choose_mine(const LinkInfo& link, const ScanEntry* entries, int n) {
  MineChoice mine{-1, false};
  for (int k = 0; k < n; ++k) {
    if (entries[k].associated != 0) mine.index = k;
  }
  if (mine.index < 0 && link.has_bssid != 0) {
    for (int k = 0; k < n; ++k) {
      if (entries[k].has_bssid != 0 && std::memcmp(entries[k].bssid, link.bssid, 6) == 0) {
        mine.index = k;
        break;
      }
    }
  }
  if (mine.index < 0 && link.connected != 0 && link.channel != 0 && n > 0) {
    mine.index = link.rssi != 0 ? find_mine_by_signal(link, entries, n)
                                : find_mine_by_name(link, entries, n);
    mine.guess = mine.index >= 0;
  }
  return mine;
}

void write_scan_report(TextBuffer& buffer, const LinkInfo& link, const ScanEntry* entries, int n,
                       MineChoice mine, bool fresh, HexAppender append_hex) {
  bool ie_hidden = n > 0;
  for (int k = 0; k < n && ie_hidden; ++k) ie_hidden = entries[k].ie_len == 0;

  text_append_format(
      buffer, "{\"type\":\"scan\",\"ieHidden\":%s,\"mineGuess\":%s,\"fresh\":%s,\"link\":{",
      ie_hidden ? "true" : "false", mine.guess ? "true" : "false", fresh ? "true" : "false");
  write_link_object(buffer, link);
  text_append_literal(buffer, "},\"nets\":[");
  for (int k = 0; k < n; ++k) {
    const ScanEntry& entry = entries[k];
    if (k > 0) text_append_literal(buffer, ",");
    text_append_literal(buffer, "{\"ssid\":");
    text_append_json_string(buffer, entry.ssid);
    text_append_format(
        buffer,
        ",\"rssi\":%d,\"channel\":%d,\"freqMHz\":%d,\"widthMHz\":%d,\"phy\":\"%.15s\","
        "\"mine\":%s,",
        entry.signal_dbm, entry.channel, entry.freq_mhz, entry.width_mhz, entry.phy,
        k == mine.index ? "true" : "false");
    if (entry.has_seen_ms_ago != 0)
      text_append_format(buffer, "\"seenMsAgo\":%u,", entry.seen_ms_ago);
    text_append_literal(buffer, "\"ie\":\"");
    if (entry.ie_len > 0) {
      size_t length = static_cast<size_t>(entry.ie_len);
      if (length > sizeof entry.ies) length = sizeof entry.ies;
      append_hex(buffer, entry.ies, length);
    }
    text_append_literal(buffer, "\"}");
  }
  text_append_literal(buffer, "]}");
}

int64_t newest_seen_ms_ago(const ScanEntry* entries, int n) {
  int64_t newest = -1;
  for (int k = 0; k < n; ++k) {
    if (entries[k].has_seen_ms_ago == 0) continue;
    if (newest < 0 || entries[k].seen_ms_ago < newest) newest = entries[k].seen_ms_ago;
  }
  return newest;
}
