#pragma once

#include <cstddef>
#include <cstdint>

// Start on demand: a service manager (a systemd socket unit) holds the listening socket and starts
// the helper when a page connects, handing the socket over as descriptor 3 with LISTEN_PID naming
// the helper's process and LISTEN_FDS counting the sockets.

inline constexpr int kNoHandedSocket = -1;   // nothing was handed over: bind a port as usual
inline constexpr int kBadHandedSocket = -2;  // a socket was handed over that cannot be served on

// Looks for a handed-over socket and clears the three LISTEN_ variables either way. Returns the
// descriptor (close-on-exec from now on) with `*port` set to its port when it is exactly one TCP
// socket listening on 127.0.0.1; kNoHandedSocket when the variables are absent, name another
// process or count no socket; kBadHandedSocket with the reason in `reason` (cut to `capacity`
// bytes) for anything else.
int take_handed_socket(int32_t* port, char* reason, size_t capacity);
