#pragma once

#include <cstdint>

#include "base/slots.h"

// One walk over the frames a slot holds, from ws_next_text's first call to ws_uncork.
struct FrameWalk {
  bool corked;  // the socket was corked because more frames waited behind a text frame
};

// Reads what the page sent into `frames`. Returns true when bytes arrived; false when none did
// (the slot stays open) or when the read failed or the page went away (the slot is then closed).
bool ws_receive(ConnectionSlot& slot);

// Walks the complete masked frames held, in order: a ping is answered with a pong, a pong
// ignored, a close answered with 0x88 0x00 then dropped, anything outside that subset (a control
// frame without FIN or above 125 payload bytes included) dropped.
// Returns the next FIN text frame's payload, NUL-terminated and valid until the next call; null
// when no complete frame remains, the slot is closed, it waits on the kernel or more than
// kSendReadLimit of its replies waits unsent (later frames stay held), or a stop signal has
// arrived. While more frames wait behind the returned one the socket is corked, so the replies to
// pipelined commands leave together.
const char* ws_next_text(ConnectionSlot& slot, FrameWalk& walk);

// Lets the replies held so far leave: uncorks the socket if the walk corked it and the slot is
// still open. Called before a command that may wait, and to end the walk; after the walk the slot
// is open with at most one partial frame held (or frames left because of a stop), or closed.
void ws_uncork(ConnectionSlot& slot, FrameWalk& walk);

inline constexpr int kOpcodeText = 1;  // a frame carrying UTF-8 text

// Writes one unfragmented, unmasked frame with `opcode` and the `length` payload bytes, without
// waiting: what the socket does not take now leaves from the slot's send queue (slot_send). A
// failed write is not reported and does not close the slot; a frame that would overflow the queue
// closes it ("send").
void send_frame(ConnectionSlot& slot, int opcode, const void* payload, uint64_t length);
