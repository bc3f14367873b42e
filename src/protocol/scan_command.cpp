#include "protocol/scan_command.h"

#include <cstring>

#include "base/clock.h"
#include "base/log.h"
#include "protocol/replies.h"
#include "protocol/scan_report.h"
#include "wifi/scan_freshness.h"
#include "wifi/wifi.h"

namespace {

// The scan command's table lives for the whole run: 96 records of 2 KiB each are too large for
// the stack and are never allocated per reply.
ScanTable scan_table;

// The scan in progress: at most one, whoever asked for it.
struct RunningScan {
  bool active;
  bool fixed_wait;    // no notification will end it: the wait itself is the scan's time
  uint64_t until_ms;  // when its wait ends at the latest
  uint64_t asked_ms;  // when the scan was asked for: the list must hold a network heard since
  LinkInfo link;      // read when it was asked for; every joining page gets the same
};
RunningScan running{};

// The log line after a scan reply: a failure in plain words, or how many networks went and, when
// the kernel ran no scan for them, how old the system's last scan is.
void log_scan_outcome(const ScanEntry* entries, int n, const char* msg, bool fresh) {
  if (n < 0) {
    constexpr char kPrefix[] = "scan failed: ";
    if (std::strncmp(msg, kPrefix, sizeof kPrefix - 1) == 0) msg += sizeof kPrefix - 1;
    log_format<260>("Scan failed: %s.", msg);
    return;
  }
  if (fresh) {
    log_format<120>("Sent %d nearby networks to the page.", n);
    return;
  }
  const int64_t age_ms = newest_seen_ms_ago(entries, n);
  if (age_ms < 0) {
    log_format<120>("Sent %d nearby networks (last scan by the system)", n);
  } else {
    log_format<120>("Sent %d nearby networks (last scan by the system, %llds ago)", n,
                    static_cast<long long>(age_ms / 1000));
  }
}

void send_scan_reply(ConnectionSlot& slot, const LinkInfo& link, int n, const char* msg,
                     bool fresh) {
  if (n < 0) {
    send_error_reply(slot, "scan", msg);
  } else {
    MineChoice mine = choose_mine(link, scan_table, n);
    TextBuffer buffer{};
    write_scan_report(buffer, link, scan_table, n, mine, fresh);
    text_send(slot, buffer);
  }
  log_scan_outcome(scan_table, n, msg, fresh);
}

// One dump for every waiting slot, `fresh` when the kernel did scan for it. The replies all leave
// before the caller runs any held command, so a held scan starts a new scan of its own. Returns
// the slots answered as a bit set.
static_assert(kSlotCount <= 32, "each answered slot is one bit of a uint32_t");
uint32_t finish_scan(bool fresh) {
  running.active = false;
  char msg[200] = {};
  int n = scan_dump(scan_table, kScanCapacity, msg, sizeof msg);
  // An end that came while no network was heard anew (a driver handing back an earlier scan's
  // list) is not a fresh scan either.
  if (fresh && n > 0) {
    fresh = heard_since_request(scan_table, n, monotonic_ms() - running.asked_ms);
  }
  uint32_t answered = 0;
  for (size_t i = 0; i < kSlotCount; ++i) {
    if (slots[i].fd == -1 || slots[i].scan_waiting == 0) continue;
    slots[i].scan_waiting = 0;
    answered |= 1u << i;
    send_scan_reply(slots[i], running.link, n, msg, fresh);
  }
  return answered;
}

}  // namespace

void handle_scan(ConnectionSlot& slot) {
  if (running.active) {
    log_line("Scanning nearby WiFi...");
    slot.scan_waiting = 1;
    return;
  }
  LinkInfo link{};
  char msg[200] = {};
  (void)link_query(&link, msg, sizeof msg);
  log_line("Scanning nearby WiFi...");
  const uint64_t asked_ms = monotonic_ms();
  int wait = scan_trigger();
  if (wait == kScanDumpNow) {
    msg[0] = '\0';
    int n = scan_dump(scan_table, kScanCapacity, msg, sizeof msg);
    // The kernel ran no scan for this request: the list is the system's last.
    send_scan_reply(slot, link, n, msg, false);
    return;
  }
  running.active = true;
  running.fixed_wait = wait == kScanAwaitFixed;
  running.until_ms = monotonic_ms() + (wait == kScanAwaitEvent ? kScanLongestMs : kScanFixedMs);
  running.link = link;
  running.asked_ms = asked_ms;
  slot.scan_waiting = 1;
}

uint64_t scan_due_ms() {
  return running.active ? running.until_ms : UINT64_MAX;
}

uint32_t scan_pass(bool events_ready) {
  // Read even when no scan waits, so the socket does not stay readable and wake every pass.
  int ended = events_ready ? scan_ended() : kScanNotEnded;
  if (!running.active) return 0;
  // An aborted scan, one whose end was lost or never came, leaves the kernel's list as it was (or
  // half updated): the report then says it is not fresh, as for a scan the kernel would not run.
  if (ended != kScanNotEnded) return finish_scan(ended == kScanNewResults);
  if (monotonic_ms() >= running.until_ms) return finish_scan(running.fixed_wait);
  return 0;
}
