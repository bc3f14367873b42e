#pragma once

#include "base/slots.h"

// Runs the command named in `command_text` (the NUL-terminated payload of one text frame) and
// sends its reply on the slot. The slot may be closed on return if a send broke the connection.
void dispatch_command(ConnectionSlot& slot, const char* command_text);

// True when the command named in `command_text` may wait on the kernel (link, scan), so replies
// held back to leave together must go out before it runs.
bool command_may_block(const char* command_text);
