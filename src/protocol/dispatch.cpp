#include "protocol/dispatch.h"

// Placeholder until the page protocol lands.
void dispatch_command(ConnectionSlot&, const char*) {}
