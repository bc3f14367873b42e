#pragma once

#include <cstdint>

#include "base/slots.h"

// Runs the command named in `command_text` (the NUL-terminated payload of one text frame) and
// sends its reply on the slot. The slot may be closed on return if a send broke the connection.
// A link or scan command may leave the slot waiting on the kernel (kernel_waiting set) instead:
// its reply then goes out from kernel_pass.
void dispatch_command(ConnectionSlot& slot, const char* command_text);

// True when the command named in `command_text` may wait on the kernel (link, scan), so replies
// held back to leave together must go out before it runs.
bool command_may_block(const char* command_text);

// Sends the link query's answer (wifi_answer(kLinkLane)) to every slot waiting for it. Returns
// the slots answered, bit i for slots[i].
uint32_t link_answered();
