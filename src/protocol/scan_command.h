#pragma once

#include <cstdint>

#include "base/slots.h"

// The scan command. The kernel's scan takes seconds; the command's slot waits for its end inside
// the loop (scan_waiting set, its further frames left unread) while every other slot is served.
// One scan runs at a time: a scan command arriving meanwhile joins it and is answered from the
// same dump.

// Reads the link, logs "Scanning nearby WiFi..." and starts (or joins) a scan the slot then
// waits for; when the kernel gives no fresh scan, dumps and answers at once.
void handle_scan(ConnectionSlot& slot);

// The monotonic_ms at which the running scan's wait ends at the latest; UINT64_MAX when none runs.
uint64_t scan_due_ms();

// Once per loop pass, after the slots were served. Reads the kernel's notifications when
// `events_ready`; once the running scan ended (or its wait ran out), dumps the results once and
// answers every waiting slot ("Sent %d nearby networks to the page." per slot). Returns the slots
// answered, bit i for slots[i]; the caller then serves the frames they held back, in slot order.
uint32_t scan_pass(bool events_ready);
