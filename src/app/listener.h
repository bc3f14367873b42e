#pragma once

#include <netinet/in.h>

#include <cstdint>

// The address 127.0.0.1:`port`, the only one the helper listens on or probes.
sockaddr_in loopback_address(int32_t port);

// Binds the listening TCP socket on 127.0.0.1: `port` alone when it is non-zero, else the first
// free port of 47800..47809. Sets listen_port. When ports below the one bound were taken by
// another running copy of the helper (its plain page answers), logs that the page will reach that
// copy. Returns the socket, or -1 after logging why nothing could be bound (the port in use, by
// another copy of the helper or another program; not permitted; the whole range busy).
int bind_listener(int32_t port);
