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

// The scan in progress: at most one, whoever asked for it. It goes through its phases in order;
// the kernel's answers move it on, and nothing waits for them.
enum class ScanPhase {
  kIdle,
  kStarting,     // the link query and the scan request are out (the scan lane)
  kAwaitingEnd,  // the kernel scans: its end notification is awaited
  kDumping,      // the dump of its results is out (the scan lane)
};
struct RunningScan {
  ScanPhase phase;
  bool fixed_wait;    // no notification will end it: the wait itself is the scan's time
  bool fresh;         // the dump lists a scan the kernel ran for it
  int early_end;      // how it ended when that was heard before the scan request's answer
  uint64_t asked_ms;  // when the scan request went out: the list must hold a network heard since
  uint64_t until_ms;  // when its wait ends at the latest
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

// The dump's answer goes to every waiting slot, `fresh` when the kernel did scan for it. The
// replies all leave before the caller runs any held command, so a held scan starts a new scan of
// its own. Returns the slots answered as a bit set.
static_assert(kSlotCount <= 32, "each answered slot is one bit of a uint32_t");
uint32_t reply_to_waiting(const WifiAnswer& answer) {
  running.phase = ScanPhase::kIdle;
  const int n = answer.result != 0 ? -1 : answer.count;
  // An end that came while no network was heard anew (a driver handing back an earlier scan's
  // list) is not a fresh scan either.
  bool fresh = running.fresh;
  if (fresh && n > 0) {
    fresh = heard_since_request(scan_table, n, monotonic_ms() - running.asked_ms);
  }
  uint32_t answered = 0;
  for (size_t i = 0; i < kSlotCount; ++i) {
    if (slots[i].fd == -1 || slots[i].kernel_waiting != kWaitScan) continue;
    slots[i].kernel_waiting = 0;
    answered |= 1u << i;
    send_scan_reply(slots[i], running.link, n, answer.msg, fresh);
  }
  return answered;
}

// Asks for the results: the system's last scan when the kernel ran none for this one.
uint32_t start_dump(bool fresh) {
  running.phase = ScanPhase::kDumping;
  running.fresh = fresh;
  if (!wifi_start_scan_dump(scan_table, kScanCapacity, monotonic_ms())) return 0;
  return reply_to_waiting(wifi_answer(kScanLane));
}

}  // namespace

void handle_scan(ConnectionSlot& slot) {
  log_line("Scanning nearby WiFi...");
  slot.kernel_waiting = kWaitScan;
  if (running.phase != ScanPhase::kIdle) return;  // joins the scan in progress
  running.phase = ScanPhase::kStarting;
  running.early_end = kScanNotEnded;
  if (wifi_start_scan(monotonic_ms())) (void)scan_answered();
}

uint64_t scan_due_ms() {
  return running.phase == ScanPhase::kAwaitingEnd ? running.until_ms : UINT64_MAX;
}

uint32_t scan_answered() {
  const WifiAnswer& answer = wifi_answer(kScanLane);
  if (running.phase == ScanPhase::kDumping) return reply_to_waiting(answer);
  if (running.phase != ScanPhase::kStarting) return 0;
  running.link = answer.link;
  running.asked_ms = answer.scan_requested_ms;
  if (answer.scan_wait == kScanDumpNow) return start_dump(false);
  if (running.early_end != kScanNotEnded) return start_dump(running.early_end == kScanNewResults);
  running.phase = ScanPhase::kAwaitingEnd;
  running.fixed_wait = answer.scan_wait == kScanAwaitFixed;
  running.until_ms =
      monotonic_ms() + (answer.scan_wait == kScanAwaitEvent ? kScanLongestMs : kScanFixedMs);
  return 0;
}

uint32_t scan_pass(bool events_ready) {
  // Read even when no scan waits, so the socket does not stay readable and wake every pass.
  int ended = events_ready ? scan_ended() : kScanNotEnded;
  if (running.phase == ScanPhase::kStarting && wifi_scan_request_out() && ended != kScanNotEnded) {
    running.early_end = ended;
  }
  if (running.phase != ScanPhase::kAwaitingEnd) return 0;
  // An aborted scan, one whose end was lost or never came, leaves the kernel's list as it was (or
  // half updated): the report then says it is not fresh, as for a scan the kernel would not run.
  if (ended != kScanNotEnded) return start_dump(ended == kScanNewResults);
  if (monotonic_ms() >= running.until_ms) return start_dump(running.fixed_wait);
  return 0;
}
