#pragma once

#include <cstdint>

#include "server/peer_owner.h"

extern int page_seen;  // 1 once any slot completed the WebSocket upgrade; never goes back to 0

inline constexpr uint64_t kHandshakeLimitMs = 5000;  // a request, from its first byte to its end
inline constexpr uint64_t kSilentLimitMs = 60000;    // a connection that has sent nothing yet
inline constexpr uint64_t kNoPageLimitMs = 600000;
inline constexpr uint64_t kPageGoneLimitMs = 30000;
inline constexpr uint64_t kRunLimitMs = 14400000;
inline constexpr uint64_t kUnwokenWaitMs = 100;  // longest wait while stop_wake_fd is -1

// Each pass waits for readiness until the nearest instant at which something falls due (a
// handshake limit, a stream sample, a scan's wait, an exit rule) or a socket, the stop pipe or the
// kernel's scan notifications become readable, so an idle helper sleeps instead of polling.
// Runs passes until an exit rule holds, then logs its reason, closes every open slot with
// "exit" and closes `listen_fd`. A connection whose program belongs to neither `owners.owner_uid`
// nor root is closed at accept, before a byte is read. Requires the slots to be cleared.
// Returns 0.
int run_event_loop(int listen_fd, const PeerOwnerCheck& owners);
