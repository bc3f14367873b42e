#include "app/accepting.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/event_loop.h"
#include "app/listener.h"
#include "base/clock.h"
#include "base/log.h"
#include "base/settings.h"

namespace {

struct Accepting {
  sockaddr_in local{};           // the listening address: the far end of every peer's socket
  PeerOwnerCheck owners{};       // whose programs may connect
  uint64_t paused_until_ms = 0;  // while out of descriptors: when to try accepting again
  size_t open_at_pause = 0;      // slots open when accepting paused; a slot freed resumes it
  bool told_out_of_descriptors = false;
  bool told_browser_may_ask = false;  // the hint about the browser's permission prompt
  bool told_where_to_look = false;    // the hint after a minute without a page
};

Accepting accepting;

size_t open_slots() {
  size_t open = 0;
  for (const ConnectionSlot& slot : slots) open += slot.fd != -1 ? 1 : 0;
  return open;
}

// A flood of these costs a bounded log: the log holds back repeats of a line's kind.
void log_refused_user(uint32_t uid) {
  char owner[48] = "root";
  if (accepting.owners.owner_uid != 0)
    std::snprintf(owner, sizeof owner, "uid %u and root", accepting.owners.owner_uid);
  log_format<200>("Refused a connection from a program of uid %u; only programs of %s may connect.",
                  uid, owner);
}

// The slot in the handshake state whose connection has sent nothing for longest, or null.
ConnectionSlot* oldest_silent_slot() {
  ConnectionSlot* oldest = nullptr;
  for (ConnectionSlot& slot : slots) {
    if (slot.fd != -1 && slot.upgraded == 0 && slot.request_len == 0 &&
        (oldest == nullptr || slot.accepted_ms < oldest->accepted_ms)) {
      oldest = &slot;
    }
  }
  return oldest;
}

}  // namespace

void accepting_start(const PeerOwnerCheck& owners) {
  accepting = Accepting{};
  accepting.owners = owners;
  accepting.local = loopback_address(listen_port);
}

ConnectionSlot* admit_connection(int fd, const sockaddr_in& peer) {
  if (peer.sin_family != AF_INET || peer.sin_addr.s_addr != htonl(INADDR_LOOPBACK)) {
    close(fd);
    return nullptr;
  }
  // Any local program can send any Origin; what the helper hands out is for its user alone.
  // A peer whose socket has no owner any more has gone already: closed without a word.
  uint32_t uid = kUnknownUid;
  if (!peer_owner_allowed(accepting.owners, peer, accepting.local, &uid)) {
    close(fd);
    if (uid != kUnknownUid) log_refused_user(uid);
    return nullptr;
  }
  for (ConnectionSlot& slot : slots) {
    if (slot.fd == -1) return &slot;
  }
  // A browser may hold a connection open, silent, while it asks its user; such connections must
  // not keep a page out.
  ConnectionSlot* silent = oldest_silent_slot();
  if (silent == nullptr) {
    close(fd);
    log_line(
        "Refused a connection: all 4 connections are taken by pages. Close a Tamberline tab you "
        "no longer use.");
    return nullptr;
  }
  close_slot(*silent, "make room");
  return silent;
}

void accept_failed(int error) {
  if (error == EAGAIN || error == EINTR || error == ECONNABORTED) return;
  const bool descriptors = error == EMFILE || error == ENFILE;
  if (descriptors && !accepting.told_out_of_descriptors) {
    accepting.told_out_of_descriptors = true;
    log_format<200>("Out of file descriptors (%s); new connections wait until one closes.",
                    std::strerror(error));
  }
  // The pending connection stays queued and the listening socket readable: watching it now would
  // spin the loop.
  ConnectionSlot* silent = descriptors ? oldest_silent_slot() : nullptr;
  if (silent != nullptr) {
    close_slot(*silent, "make room");
    return;
  }
  accepting.paused_until_ms = monotonic_ms() + kAcceptPauseMs;
  accepting.open_at_pause = open_slots();
}

bool accepting_paused(uint64_t now) {
  if (accepting.paused_until_ms == 0) return false;
  if (now < accepting.paused_until_ms && open_slots() >= accepting.open_at_pause) return true;
  accepting.paused_until_ms = 0;
  return false;
}

void accepting_hints(uint64_t now) {
  if (!accepting.told_browser_may_ask) {
    const ConnectionSlot* silent = oldest_silent_slot();
    if (silent != nullptr && now - silent->accepted_ms > kBrowserMayAskMs) {
      accepting.told_browser_may_ask = true;
      log_line(
          "A connection is waiting without a request: the browser may be asking to \"Access "
          "other apps and services on this device\". Choose Allow there.");
    }
  }
  if (!accepting.told_where_to_look && page_seen == 0 && now - start_ms > kWhereToLookMs) {
    accepting.told_where_to_look = true;
    log_line(
        "No page has connected yet. Open the Tamberline WiFi Kestrune page in a browser on this "
        "computer; if it says the helper is blocked, allow \"Access other apps and services on "
        "this device\" in the site's settings (the icon left of the address).");
  }
}

uint64_t accepting_due_ms() {
  uint64_t due = accepting.paused_until_ms != 0 ? accepting.paused_until_ms : UINT64_MAX;
  auto consider = [&due](uint64_t at) {
    if (at < due) due = at;
  };
  // Each hint falls due one millisecond after its time, as the limits do.
  const ConnectionSlot* silent = oldest_silent_slot();
  if (!accepting.told_browser_may_ask && silent != nullptr)
    consider(silent->accepted_ms + kBrowserMayAskMs + 1);
  if (!accepting.told_where_to_look && page_seen == 0) consider(start_ms + kWhereToLookMs + 1);
  return due;
}

void accepting_stop() {
  if (accepting.owners.diag_fd >= 0) close(accepting.owners.diag_fd);
  accepting.owners.diag_fd = -1;
}
