#include "protocol/live_stream.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/clock.h"
#include "base/decimal.h"
#include "base/log.h"
#include "base/settings.h"
#include "protocol/replies.h"
#include "protocol/text_buffer.h"
#include "wifi/wifi.h"

namespace {

constexpr int kDefaultHz = 10, kLargestHz = 20;
constexpr int kDefaultSecs = 60, kLargestSecs = 600;
// Pages whose next sample falls due this close after a tick get that tick's sample. Two pages
// armed in one pass read the clock a moment apart; without this slack the loop, which wakes at
// the exact due instant, would take two kernel samples a millisecond apart instead of sharing one.
constexpr uint64_t kShareWindowMs = 5;

bool streaming(const ConnectionSlot& slot) {
  return slot.upgraded != 0 && slot.watch_hz != 0;
}

// A watch's log line says whether there is a link to sample, so it waits for the first sample
// its stream gets; by slot, true until then.
bool announce_pending[kSlotCount];

// Whether the last sample any page got had a value: 1, 0, or -1 before the first.
int last_sample_ok = -1;

// Logs the watch line of slot `index` if its first sample has not told yet: `ok` says whether
// there is a link to sample.
void announce(size_t index, bool ok) {
  if (!announce_pending[index]) return;
  announce_pending[index] = false;
  log_line(ok ? "Streaming live signal strength to the page." : kNoLinkToSample);
}

// A stream that ends (stopped, or replaced by a new watch) before its first sample still gets its
// line, judged by the last sample any page got, or before any by whether there is an adapter.
void announce_unsampled(const ConnectionSlot& slot) {
  const int number = slot_number(slot);
  if (number <= 0 || !streaming(slot)) return;
  announce(static_cast<size_t>(number - 1),
           last_sample_ok >= 0 ? last_sample_ok == 1 : wifi_adapter_found);
}

// Sends the sample answered at `now` (or the end of its stream) to every streaming slot due by
// then: the slots that fell due while the request was out included, each once.
void deliver_sample(uint64_t now, const WifiAnswer& answer) {
  const bool ok = answer.result == 0;
  last_sample_ok = ok ? 1 : 0;
  for (size_t i = 0; i < kSlotCount; ++i) {
    ConnectionSlot& slot = slots[i];
    if (!streaming(slot) || now + kShareWindowMs < slot.watch_next_ms) continue;
    // A stream ends at its own due instant, even when it shares an earlier page's tick.
    if (now >= slot.watch_until_ms || slot.watch_next_ms >= slot.watch_until_ms) {
      slot.watch_hz = 0;
      send_stopped(slot);
      continue;
    }
    announce(i, ok);
    // Counting from the due instant keeps the average rate; a late sample puts the next one at
    // least a millisecond later, so there is no burst and no two samples share a time stamp.
    uint64_t next = slot.watch_next_ms + 1000u / static_cast<uint64_t>(slot.watch_hz);
    slot.watch_next_ms = next > now ? next : now + 1;
    unsigned long long t = now - start_ms;
    TextBuffer buffer{};
    if (ok) {
      text_append_format(buffer, "{\"type\":\"rssi\",\"t\":%llu,\"rssi\":%d}", t, answer.dbm);
    } else {
      text_append_format(buffer, "{\"type\":\"rssi\",\"t\":%llu,\"rssi\":null}", t);
    }
    text_send(slot, buffer);
  }
}

}  // namespace

int read_watch_number(const char* command_text, const char* key, int fallback, int largest) {
  char quoted[32];
  std::snprintf(quoted, sizeof quoted, "\"%s\"", key);
  const char* found = std::strstr(command_text, quoted);
  if (found == nullptr) return fallback;
  const char* p = found + std::strlen(quoted);
  while (*p == ':' || *p == ' ') ++p;
  uint64_t value = 0;
  if (read_decimal(p, INT_MAX, &value) == 0) return fallback;
  if (value <= 1) return 1;
  if (value >= static_cast<uint64_t>(largest)) return largest;
  return static_cast<int>(value);
}

void handle_watch(ConnectionSlot& slot, const char* command_text) {
  int hz = read_watch_number(command_text, "hz", kDefaultHz, kLargestHz);
  int secs = read_watch_number(command_text, "secs", kDefaultSecs, kLargestSecs);
  announce_unsampled(slot);
  slot.watch_hz = hz;
  uint64_t now = monotonic_ms();
  slot.watch_next_ms = now;
  slot.watch_until_ms = now + static_cast<uint64_t>(secs) * 1000u;
  TextBuffer buffer{};
  text_append_format(buffer, "{\"type\":\"watching\",\"hz\":%d,\"secs\":%d}", hz, secs);
  text_send(slot, buffer);
  // Without a link the stream still runs (pages rely on its null samples), but the log says why
  // they are empty: its first sample tells.
  const int number = slot_number(slot);
  if (number > 0) announce_pending[number - 1] = true;
}

void live_stop(ConnectionSlot& slot) {
  announce_unsampled(slot);
  slot.watch_hz = 0;
  send_stopped(slot);
}

void live_signal_tick() {
  uint64_t now = monotonic_ms();
  bool any_due = false;
  for (const ConnectionSlot& slot : slots) {
    if (streaming(slot) && now >= slot.watch_next_ms) any_due = true;
  }
  // One kernel request at a time, shared by every page that is due or nearly due; pages that
  // fall due while it is out get its answer.
  if (!any_due || wifi_lane_busy(kSampleLane)) return;
  if (wifi_start_sample(now)) deliver_sample(now, wifi_answer(kSampleLane));
}

void live_sample_answered() {
  deliver_sample(monotonic_ms(), wifi_answer(kSampleLane));
}

uint64_t live_next_due_ms() {
  uint64_t due = UINT64_MAX;
  for (const ConnectionSlot& slot : slots) {
    if (streaming(slot) && slot.watch_next_ms < due) due = slot.watch_next_ms;
  }
  return due;
}
