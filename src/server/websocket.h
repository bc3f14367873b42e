#pragma once

#include <cstdint>

#include "app/slots.h"

// Serves one readable upgraded slot: reads into `frames`, handles every complete masked frame in
// order (ping answered with pong, pong ignored, close answered with 0x88 0x00 then dropped, FIN
// text frames handed to dispatch_command; a command that leaves the slot waiting for a scan stops
// the walk, and later frames stay held until ws_serve_held), and drops the connection on anything
// outside that subset, a control frame without FIN or above 125 payload bytes included. Stops
// handling frames once stop_flag is set. On return the slot is open with at most one partial
// frame held (or frames left unhandled because of a stop or a waiting scan), or closed.
void ws_receive(ConnectionSlot& slot);

// Serves the complete frames a slot already holds (those left unread while its scan waited), as
// ws_receive would after reading them. On return the slot is open or closed as for ws_receive.
void ws_serve_held(ConnectionSlot& slot);

// Writes one unfragmented, unmasked frame with `opcode` and the `length` payload bytes. A failed
// write is not reported and does not close the slot.
void send_frame(ConnectionSlot& slot, int opcode, const void* payload, uint64_t length);
