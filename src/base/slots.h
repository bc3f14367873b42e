#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "base/sizes.h"

// One client connection. All four live in static storage for the whole run; a free slot has
// fd == -1 and every other byte zero.
struct ConnectionSlot {
  int32_t fd;
  int32_t upgraded;  // 0 during the HTTP handshake, 1 once the 101 reply went out in full
  char request[kRequestCapacity];  // HTTP request so far, NUL-terminated (at most 8191 bytes of
                                   // data)
  uint64_t request_len;
  uint8_t frames[kFramesCapacity];  // received WebSocket bytes not yet consumed
  uint64_t frames_len;
  int32_t watch_hz;              // live-stream rate; 0 when not streaming
  uint64_t watch_until_ms;       // monotonic_ms at which the stream ends
  uint64_t watch_next_ms;        // monotonic_ms at which the next sample is due
  char origin[kOriginCapacity];  // accepted page origin, cut to 127 characters
  uint64_t accepted_ms;          // monotonic_ms of the accept
  uint64_t first_byte_ms;        // monotonic_ms of the request's first byte (once request_len > 0)
  int32_t kernel_waiting;        // what its command waits for from the kernel (kWaitLink or
                                 // kWaitScan); 0 when none waits. Its later frames stay unread.
  // The unsent bytes are [send_start, send_end) of the slot's send queue (kept by the server).
  uint64_t send_start;
  uint64_t send_end;
  uint64_t send_progress_ms;  // monotonic_ms when the unsent bytes last moved (or began to wait)
  int32_t send_broken;        // 1 once a send failed: nothing more goes out on the connection
};

inline constexpr int32_t kWaitLink = 1;  // the link query's answer
inline constexpr int32_t kWaitScan = 2;  // the scan's report

// The table of the four slots, always walked from index 0 to 3.
extern std::array<ConnectionSlot, kSlotCount> slots;

// The slot's number as the log shows it: 1 to 4 for the records of `slots`, 0 for any other.
int slot_number(const ConnectionSlot& slot);

// Clears `slot` to the free state (fd -1, all else zero) without touching any socket.
void clear_slot(ConnectionSlot& slot);

// The only way a connection ends: closes the socket if open, logs "Page disconnected (<reason>):
// <origin>, slot <number>." when the slot was upgraded, then clears the slot. `reason` is a short
// fixed word.
void close_slot(ConnectionSlot& slot, const char* reason);
