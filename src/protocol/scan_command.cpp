#include "protocol/scan_command.h"

#include "base/clock.h"
#include "base/log.h"
#include "protocol/replies.h"
#include "protocol/scan_report.h"
#include "wifi/wifi.h"

namespace {

// The scan command's table lives for the whole run: 96 records of 2 KiB each are too large for
// the stack and are never allocated per reply.
ScanTable scan_table;

// The scan in progress: at most one, whoever asked for it.
struct RunningScan {
  bool active;
  uint64_t until_ms;  // when its wait ends at the latest
  LinkInfo link;      // read when it was asked for; every joining page gets the same
};
RunningScan running{};

void send_scan_reply(ConnectionSlot& slot, const LinkInfo& link, int n, const char* msg) {
  if (n < 0) {
    send_error_reply(slot, "scan", msg);
    return;
  }
  MineChoice mine = choose_mine(link, scan_table, n);
  TextBuffer buffer{};
  write_scan_report(buffer, link, scan_table, n, mine);
  text_send(slot, buffer);
  log_format<120>("Sent %d nearby networks to the page.", n);
}

// One dump for every waiting slot. The replies all leave before the caller runs any held
// command, so a held scan starts a new scan of its own. Returns the slots answered as a bit set.
static_assert(kSlotCount <= 32, "each answered slot is one bit of a uint32_t");
uint32_t finish_scan() {
  running.active = false;
  char msg[200] = {};
  int n = scan_dump(scan_table, kScanCapacity, msg, sizeof msg);
  uint32_t answered = 0;
  for (size_t i = 0; i < kSlotCount; ++i) {
    if (slots[i].fd == -1 || slots[i].scan_waiting == 0) continue;
    slots[i].scan_waiting = 0;
    answered |= 1u << i;
    send_scan_reply(slots[i], running.link, n, msg);
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
  int wait = scan_trigger();
  if (wait == kScanDumpNow) {
    msg[0] = '\0';
    int n = scan_dump(scan_table, kScanCapacity, msg, sizeof msg);
    send_scan_reply(slot, link, n, msg);
    return;
  }
  running.active = true;
  running.until_ms = monotonic_ms() + (wait == kScanAwaitEvent ? kScanLongestMs : kScanFixedMs);
  running.link = link;
  slot.scan_waiting = 1;
}

uint64_t scan_due_ms() {
  return running.active ? running.until_ms : UINT64_MAX;
}

uint32_t scan_pass(bool events_ready) {
  // Read even when no scan waits, so the socket does not stay readable and wake every pass.
  bool ended = events_ready && scan_ended();
  if (!running.active) return 0;
  if (ended || monotonic_ms() >= running.until_ms) return finish_scan();
  return 0;
}
