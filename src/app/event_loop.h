#pragma once

#include <cstdint>

extern int page_seen;  // 1 once any slot completed the WebSocket upgrade; never goes back to 0

inline constexpr uint64_t kHandshakeLimitMs = 5000;
inline constexpr uint64_t kNoPageLimitMs = 600000;
inline constexpr uint64_t kPageGoneLimitMs = 30000;
inline constexpr uint64_t kRunLimitMs = 14400000;
inline constexpr int kReadinessWaitMs = 25;

// Runs passes until an exit rule holds, then logs its reason, closes every open slot with
// "exit" and closes `listen_fd`. Requires the slots to be cleared. Returns 0.
int run_event_loop(int listen_fd);
