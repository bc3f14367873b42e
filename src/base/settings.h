#pragma once

#include <csignal>
#include <cstdint>

#include "base/sizes.h"

// Process-wide values fixed at start-up and read by the server and the protocol.
extern int32_t listen_port;  // the bound port (during the bind loop: the port being tried)
extern char dev_origin[kDevOriginCapacity];  // extra allowed page origin; empty unless --dev-origin
                                             // was given
extern volatile sig_atomic_t stop_flag;  // signal number of SIGINT/SIGTERM once received, else 0
extern int stop_wake_fd;  // readable once a stop signal arrived; -1 when the pipe is missing
// True when the helper kept the right to ask the kernel for fresh scans (CAP_NET_ADMIN, from a
// root start or the file capability); hello's help note follows it.
extern bool scan_right_held;
// True when a WiFi adapter was found at start-up; hello claims fresh scans only then.
extern bool wifi_adapter_found;
// True in the simulator, whose WiFi is a stand-in: hello says so, and pages can show it.
extern bool wifi_simulated;

// Times of the run, kept by the loop and read by the live stream (samples count from start_ms).
extern uint64_t start_ms;  // monotonic_ms when the loop began

inline constexpr int32_t kFirstPort = 47800;
inline constexpr int32_t kLastPort = 47809;
