#pragma once

#include "wifi/kernel_port.h"

// The whole program: closed standard descriptors put on /dev/null and SIGPIPE ignored, then
// command line, WiFi open, bind, "Running on" line, stop signals, event loop. Returns the process
// exit code (0, 1 when no port could be bound, 2 for a bad argument). Every WiFi query goes to
// `kernel`: the real sockets, or the simulator's stand-in.
int helper_main(int argc, const char* const* argv, const KernelPort& kernel);

// Binds a listening TCP socket on 127.0.0.1: `port` alone when it is non-zero, else the first
// free port of 47800..47809. Sets listen_port. Returns the socket, or -1 when nothing could be
// bound.
int bind_listener(int port);
