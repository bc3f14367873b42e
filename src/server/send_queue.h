#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>

#include "base/sizes.h"
#include "base/slots.h"

// Writing never waits: a page's socket takes what it can now, and the rest waits in the slot's
// send queue until poll says the socket takes more. A page whose unsent bytes have not moved for
// kSendTimeoutMs has stopped reading, and is closed.
inline constexpr int kSendTimeoutMs = 2000;

// Unsent bytes a page's connection may hold. A page's commands are served only while at most
// kSendReadLimit waits, so one command's replies and the largest report always fit behind that.
inline constexpr size_t kSendQueueCapacity = 1024 * 1024;
inline constexpr size_t kSendReadLimit = 64 * 1024;
static_assert(kSendQueueCapacity >= kSendReadLimit + 128 * 1024 + kLargestScanReport,
              "the largest report fits behind a full read's replies");

// Bytes waiting in the slot's send queue, [send_start, send_end) of its kSendQueueCapacity bytes.
// Each slot of the table has a queue of its own, kept beside the table rather than in the slot so
// that clearing a slot does not touch it; a slot outside the table has none.
inline uint64_t send_queued(const ConnectionSlot& slot) {
  return slot.send_end - slot.send_start;
}

// Writes all `length` bytes now, without waiting, on a socket whose buffer is known to have room
// (the HTTP replies of a fresh connection). Returns true when all went out (a length of 0
// succeeds at once); false when the socket took less or failed, having shut it down both ways.
bool send_all(int fd, const void* bytes, size_t length);

// Sends the `count` pieces on the slot's connection, one after the other, in order behind whatever
// waits in its queue: what the socket does not take now is queued. Returns false when the rest
// would overflow the queue (always, for a slot outside the table) (nothing of it is queued then;
// the caller closes the slot). A send that fails outright (the page went away) shuts the socket
// down, drops the queue and marks the slot broken; later sends do nothing, and the next receive
// finds the end and closes the slot.
bool slot_send(ConnectionSlot& slot, const iovec* pieces, int count);

// Writes queued bytes while the socket takes them; called when poll says it can take more.
void slot_flush(ConnectionSlot& slot);

// The instant the slot's unsent bytes count as stalled (their last progress + kSendTimeoutMs + 1);
// UINT64_MAX when nothing waits.
uint64_t send_stall_due_ms(const ConnectionSlot& slot);
