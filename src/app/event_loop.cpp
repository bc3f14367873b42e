#include "app/event_loop.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <iterator>

#include "app/accepting.h"
#include "base/clock.h"
#include "base/log.h"
#include "base/settings.h"
#include "base/slots.h"
#include "protocol/dispatch.h"
#include "protocol/kernel_pass.h"
#include "protocol/live_stream.h"
#include "server/http_intake.h"
#include "server/send_queue.h"
#include "server/websocket.h"
#include "wifi/wifi.h"

int page_seen = 0;

namespace {

// At exit, the longest wait for standard output to take the last lines (a paused terminal must not
// hold the exit up).
constexpr int kLogExitWaitMs = 25;

uint64_t last_page_ms = 0;

// The instant a slot in the handshake state has held on too long: a connection that has sent
// nothing may wait kSilentLimitMs from its accept (a browser holds it, silent, while it asks the
// user whether the page may reach this computer); once its first byte came, the request must be
// whole within kHandshakeLimitMs of that byte. The limit holds once `now - since > limit`.
uint64_t handshake_due_ms(const ConnectionSlot& slot) {
  if (slot.request_len == 0) return slot.accepted_ms + kSilentLimitMs + 1;
  return slot.first_byte_ms + kHandshakeLimitMs + 1;
}

// Early in each pass: closes handshakes past their limit; true when some page is connected.
bool expire_handshakes(uint64_t now) {
  bool page_connected = false;
  for (ConnectionSlot& slot : slots) {
    if (slot.upgraded != 0) {
      page_connected = true;
    } else if (slot.fd != -1 && now >= handshake_due_ms(slot)) {
      close_slot(slot, "handshake timeout");
    }
  }
  return page_connected;
}

// The exit rules in their fixed order; the reason line, or null to go on.
const char* exit_reason(uint64_t now, bool page_connected) {
  if (page_seen == 0 && now - start_ms > kNoPageLimitMs)
    return "No page connected in 10 minutes. Exiting.";
  if (page_seen == 1 && !page_connected && now - last_page_ms > kPageGoneLimitMs)
    return "The page closed. Exiting.";
  if (now - start_ms > kRunLimitMs) return "Ran for 4 hours. Exiting; run it again any time.";
  if (stop_flag != 0) return "Stopped.";
  return nullptr;
}

// At most one connection per pass, into the slot admit_connection gives.
void accept_one(int listen_fd) {
  sockaddr_in peer{};
  socklen_t peer_len = sizeof peer;
  // Non-blocking: no read or write on a page's socket ever waits.
  int fd = accept4(listen_fd, reinterpret_cast<sockaddr*>(&peer), &peer_len,
                   SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) {
    accept_failed(errno);
    return;
  }
  ConnectionSlot* free_slot = admit_connection(fd, peer);
  if (free_slot == nullptr) return;
  // A large frame leaves as a header write then a payload write, and replies follow one another;
  // without this each later write would wait for the page's delayed acknowledgement of the one
  // before it (up to 40 ms per message).
  int one = 1;
  (void)setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  free_slot->fd = fd;
  free_slot->accepted_ms = monotonic_ms();
}

// What poll watches on a slot: its unsent bytes going out, and what its page sends, except while
// its command waits on the kernel (its next commands wait behind the reply) or while much of what
// it was sent is still unread (its commands wait until it reads: a page that sends faster than it
// reads fills no queue).
short slot_events(const ConnectionSlot& slot) {
  short events = 0;
  if (slot.kernel_waiting == 0 && send_queued(slot) <= kSendReadLimit) events |= POLLIN;
  if (send_queued(slot) > 0) events |= POLLOUT;
  return events;
}

// Hands each whole text message the slot holds to the dispatcher, in order; the replies to
// messages that came together leave together. A command that leaves the slot waiting on the
// kernel ends the walk, and the frames behind it stay held until its reply went out.
void serve_held(ConnectionSlot& slot) {
  FrameWalk walk{};
  while (const char* text = ws_next_text(slot, walk)) {
    // Replies held so far leave before a command that may wait on the kernel for seconds.
    if (walk.corked && command_may_block(text)) ws_uncork(slot, walk);
    dispatch_command(slot, text);
  }
  ws_uncork(slot, walk);
}

// Sends what waits for the slot's socket; once at most kSendReadLimit is left, the commands held
// behind its replies are served.
void flush_and_serve(ConnectionSlot& slot) {
  const bool held = send_queued(slot) > kSendReadLimit;
  slot_flush(slot);
  if (held && slot.upgraded != 0 && send_queued(slot) <= kSendReadLimit) serve_held(slot);
}

// Closes the pages whose unsent bytes have not moved for kSendTimeoutMs: they stopped reading.
// Judged after a try to send: a pass that spent long elsewhere must not close a page that read
// everything meanwhile.
void expire_stalled_sends(uint64_t now) {
  for (ConnectionSlot& slot : slots) {
    if (now < send_stall_due_ms(slot)) continue;
    flush_and_serve(slot);
    if (now >= send_stall_due_ms(slot)) close_slot(slot, "send");
  }
}

// Reads what an upgraded slot's page sent and serves the whole messages it completed.
void serve_page(ConnectionSlot& slot) {
  if (ws_receive(slot)) serve_held(slot);
}

// The earliest instant at which a pass has work to do even if no socket becomes ready: a
// handshake passing its limit, a stream's next sample, a kernel request or a scan's wait running
// out, or an exit rule coming true. Each limit holds once `now - since > limit`, so it falls due
// one millisecond after the limit itself.
uint64_t next_due_ms(bool page_connected) {
  uint64_t due = live_next_due_ms();
  if (kernel_due_ms() < due) due = kernel_due_ms();
  if (log_due_ms() < due) due = log_due_ms();
  auto consider = [&due](uint64_t at) {
    if (at < due) due = at;
  };
  for (const ConnectionSlot& slot : slots) {
    if (slot.fd != -1 && slot.upgraded == 0) consider(handshake_due_ms(slot));
    consider(send_stall_due_ms(slot));
  }
  consider(accepting_due_ms());
  if (page_seen == 0) consider(start_ms + kNoPageLimitMs + 1);
  if (page_seen == 1 && !page_connected) consider(last_page_ms + kPageGoneLimitMs + 1);
  consider(start_ms + kRunLimitMs + 1);
  return due;
}

// The readiness wait until `due`, in whole milliseconds. `now` is truncated to the millisecond,
// so the true time is at or past it and the wait, counted from there, never ends before `due`
// (poll itself never returns early); no pass runs a millisecond early only to wait again.
int wait_until_ms(uint64_t now, uint64_t due) {
  if (due <= now) return 0;
  uint64_t wait = due - now;
  // Without the wake-up pipe a stop signal landing between the exit check and poll would go
  // unseen until the wait ends; keep that wait short.
  if (stop_wake_fd < 0 && wait > kUnwokenWaitMs) wait = kUnwokenWaitMs;
  return wait > INT32_MAX ? INT32_MAX : static_cast<int>(wait);
}

// The descriptors one pass waits on: the listening socket, the stop pipe, the scan
// notifications, standard output, the WiFi lanes and the slots, each at most once.
struct WatchSet {
  pollfd entries[4 + kLaneCount + kSlotCount];
  nfds_t count = 0;
};

// Adds `fd` with `events` to the set; its entry's index, or -1 (nothing added) for a descriptor
// not in use (negative) or no events.
int watch(WatchSet& set, int fd, short events) {
  if (fd < 0 || events == 0) return -1;
  set.entries[set.count] = {fd, events, 0};
  return static_cast<int>(set.count++);
}

// What poll returned for the entry `index` gave; 0 for -1.
short returned(const WatchSet& set, int index) {
  return index < 0 ? 0 : set.entries[index].revents;
}

}  // namespace

int run_event_loop(int listen_fd, const PeerOwnerCheck& owners) {
  start_ms = monotonic_ms();
  accepting_start(owners);
  const char* reason = nullptr;
  while (reason == nullptr) {
    uint64_t now = monotonic_ms();
    expire_stalled_sends(now);
    bool page_connected = expire_handshakes(now);
    accepting_hints(now);
    if (page_connected) last_page_ms = now;
    reason = exit_reason(now, page_connected);
    if (reason != nullptr) break;

    // poll has no descriptor-number ceiling, unlike a fixed select set, but it refuses more
    // entries than the process may open descriptors: only the descriptors in use are listed.
    // The listening socket, the stop pipe, the scan notifications and the WiFi lanes' kernel
    // sockets come first, then the slots.
    WatchSet set;
    const int listen_entry = watch(set, accepting_paused(now) ? -1 : listen_fd, POLLIN);
    // Readable once a stop signal arrived; never drained, as the next pass ends the loop.
    (void)watch(set, stop_wake_fd, POLLIN);
    const int scan_event_entry = watch(set, scan_event_socket(), POLLIN);
    // Standard output, only while log lines wait for it to take more.
    const int log_entry = watch(set, log_wait_fd(), POLLOUT);
    // A lane's socket only while an answer is awaited on it.
    int lane_entry[kLaneCount];
    for (int lane = 0; lane < kLaneCount; ++lane) {
      lane_entry[lane] = watch(set, kernel_lane_fd(lane), POLLIN);
    }
    int slot_entry[kSlotCount];
    for (size_t i = 0; i < kSlotCount; ++i) {
      slot_entry[i] = slots[i].fd == -1 ? -1 : watch(set, slots[i].fd, slot_events(slots[i]));
    }
    // A count the compiler sees bounded by the array keeps the plain poll call rather than its
    // checked form, which the tests' accelerated clock (libfaketime) does not scale.
    const nfds_t count = std::min<nfds_t>(set.count, std::size(set.entries));
    if (poll(set.entries, count, wait_until_ms(now, next_due_ms(page_connected))) < 0) continue;
    // The pages were connected all through the wait: a page that leaves now starts the page-gone
    // rule from here, not from before the wait.
    if (page_connected) last_page_ms = monotonic_ms();
    if (returned(set, log_entry) != 0) log_flush();

    if (returned(set, listen_entry) != 0) accept_one(listen_fd);
    for (size_t i = 0; i < kSlotCount; ++i) {
      ConnectionSlot& slot = slots[i];
      // A slot freed and refilled within this pass is not the descriptor poll reported on.
      if (slot_entry[i] < 0 || slot.fd != set.entries[slot_entry[i]].fd) continue;
      const pollfd& entry = set.entries[slot_entry[i]];
      if ((entry.revents & (POLLOUT | POLLERR | POLLHUP)) != 0) flush_and_serve(slot);
      if ((entry.events & POLLIN) == 0 || (entry.revents & (POLLIN | POLLERR | POLLHUP)) == 0)
        continue;
      if (slot.upgraded == 0) {
        http_intake(slot);
        if (slot.upgraded == 1) page_seen = 1;
      } else {
        serve_page(slot);
      }
    }
    uint32_t readable_lanes = 0;
    for (int lane = 0; lane < kLaneCount; ++lane) {
      if (returned(set, lane_entry[lane]) != 0) readable_lanes |= 1u << lane;
    }
    const uint32_t answered = kernel_pass(readable_lanes, returned(set, scan_event_entry) != 0);
    for (size_t i = 0; i < kSlotCount; ++i) {
      if ((answered >> i & 1u) != 0 && slots[i].fd != -1 && slots[i].kernel_waiting == 0)
        serve_held(slots[i]);
    }
    live_signal_tick();
    log_tick(monotonic_ms());
  }

  log_line(reason);
  for (ConnectionSlot& slot : slots) {
    if (slot.fd != -1) close_slot(slot, "exit");
  }
  close(listen_fd);
  accepting_stop();
  log_finish(kLogExitWaitMs);
  return 0;
}
