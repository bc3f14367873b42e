#pragma once

#include <netinet/in.h>

#include <cstdint>

#include "base/slots.h"
#include "server/peer_owner.h"

// Who may take a slot, and what happens when none is free or the process runs out of
// descriptors. The loop accepts; these decide.

inline constexpr uint64_t kAcceptPauseMs = 100;     // out of descriptors: accepting rests this long
inline constexpr uint64_t kBrowserMayAskMs = 3000;  // a silent connection: its browser may ask
inline constexpr uint64_t kWhereToLookMs = 60000;   // no page since start: say where to look

// Starts taking connections on the listening socket bound to 127.0.0.1:listen_port, checking
// each peer's owner under `owners` (which this module closes in accepting_stop).
void accepting_start(const PeerOwnerCheck& owners);

// Decides on a connection just accepted from `peer`. A peer other than 127.0.0.1, one whose
// socket has no owning program any more, or a program of another user is closed at once (the
// last logged; the log holds back repeats). Otherwise returns the slot it takes: a free one, else
// the one whose connection has sent nothing for longest, closed to make room. Returns null, with
// `fd` closed, when it is refused or every slot holds a page or a request under way (logged).
ConnectionSlot* admit_connection(int fd, const sockaddr_in& peer);

// accept failed with `error`. Out of descriptors (EMFILE, ENFILE), logged once per run: a silent
// connection gives up its descriptor; without one, accepting rests for kAcceptPauseMs or until
// a slot frees, so a connection the process cannot take does not spin the loop. Any other error
// that may leave the connection queued (out of memory, say) rests the same way; a connection
// gone before its accept, or an interrupted one, leaves nothing to spin on.
void accept_failed(int error);

// True while accepting rests at `now` (the listening socket is then left out of the wait); ends
// the rest once its time is up or a slot freed.
bool accepting_paused(uint64_t now);

// Once per run each: when a connection has sent nothing for kBrowserMayAskMs (its browser holds
// it while it asks the user), says to choose Allow in the browser's prompt; when no page has
// connected kWhereToLookMs after start, says where to look.
void accepting_hints(uint64_t now);

// The nearest instant at which the current rest ends or a hint falls due; UINT64_MAX for none.
uint64_t accepting_due_ms();

// Closes the owner look-up's socket.
void accepting_stop();
