#pragma once

#include <cstdint>

#include "base/slots.h"

// The scan command. The kernel's scan takes seconds; the command's slot waits for its report
// inside the loop (kernel_waiting set, its further frames left unread) while every other slot is
// served. One scan runs at a time: a scan command arriving meanwhile joins it and is answered
// from the same dump. Its requests (the link, the scan request, the dump) go out on the scan
// lane, each when the answer before it came.

// Logs "Scanning nearby WiFi..." and starts (or joins) a scan the slot then waits for.
void handle_scan(ConnectionSlot& slot);

// The monotonic_ms at which the running scan's wait for its end runs out; UINT64_MAX when none
// is awaited.
uint64_t scan_due_ms();

// When the scan lane's query completed: moves the scan on (to its end's wait, or to the dump),
// or, once the dump came, answers every waiting slot ("Sent %d nearby networks to the page."
// per slot). Returns the slots answered, bit i for slots[i].
uint32_t scan_answered();

// Once per loop pass, after the slots were served. Reads the kernel's notifications when
// `events_ready`; once the running scan ended (or its wait ran out), asks for the dump. Returns
// the slots answered (when the dump completed at once), as scan_answered.
uint32_t scan_pass(bool events_ready);
