#pragma once

#include "wifi/kernel_port.h"

// The whole program: closed standard descriptors put on /dev/null and SIGPIPE ignored, then
// command line, WiFi open, bind, "Running on" line, stop signals, event loop. Returns the process
// exit code (0, 1 when no port could be bound, 2 for a bad argument). Every WiFi query goes to
// `kernel`: the real sockets, or the simulator's stand-in, which names itself in the banner with
// `banner_note`, and whose hello says that its WiFi is simulated.
int helper_main(int argc, const char* const* argv, const KernelPort& kernel,
                const char* banner_note = nullptr);
