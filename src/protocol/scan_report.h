#pragma once

#include "base/slots.h"
#include "protocol/text_buffer.h"
#include "wifi/wifi.h"

// Which listed network is the computer's own, and whether that was only guessed.
struct MineChoice {
  int index;   // -1 when none
  bool guess;  // true only when the signal guess chose it
};

// A same-channel entry is guessed only when its signal is less than this far from the link's.
inline constexpr int MINE_GUESS_MAX_DB = 7;

// Chooses the mine entry among entries[0..n): the last one the kernel flags as associated, else
// the first whose BSSID equals the link's, else (connected, on a known channel) a guess: with the
// link's signal known, the unique same-channel entry whose signal is nearest it and under
// MINE_GUESS_MAX_DB away; without it (rssi 0), the unique same-channel entry named as the link.
MineChoice choose_mine(const LinkInfo& link, const ScanEntry* entries, int n);

// Writes an entry's information elements as hex text: text_append_hex in the helper; the
// benchmark hands in a naive writer to measure the report against.
using HexAppender = void (*)(TextBuffer& buffer, const uint8_t* bytes, size_t length);

// Appends the whole scan report for entries[0..n) with `link` and the mine choice. `fresh` says
// whether the kernel ran a scan for this report (false: the list is what the system scanned
// last); each network carries "seenMsAgo" when the kernel gave its age.
void write_scan_report(TextBuffer& buffer, const LinkInfo& link, const ScanEntry* entries, int n,
                       MineChoice mine, bool fresh, HexAppender append_hex = text_append_hex);

// The age of the newest record among entries[0..n) in milliseconds; -1 when none has an age.
int64_t newest_seen_ms_ago(const ScanEntry* entries, int n);
