#pragma once

#include <cstdint>

// The kernel's side of one loop pass: the answers to the WiFi queries the commands and the live
// stream started, and the scan notifications. Nothing here waits; what an answer completes
// (a link or scan reply, a live sample) goes out from here.

// The descriptor to watch for readability for WiFi lane `lane` (wifi.h); -1 when it awaits
// nothing.
int kernel_lane_fd(int lane);

// The monotonic_ms at which a kernel request is given up or a scan's wait runs out, whichever
// comes first; UINT64_MAX when neither is pending.
uint64_t kernel_due_ms();

// Once per loop pass, after the slots were served: reads the answers waiting on the lanes whose
// bit (1 << lane) is set in `readable_lanes`, gives up requests past their 3 seconds (logging each
// one), reads the notifications when `events_ready`, and sends the replies and samples completed.
// Returns the slots answered, bit i for slots[i]; the caller then serves the frames they held
// back, in slot order.
uint32_t kernel_pass(uint32_t readable_lanes, bool events_ready);
