#pragma once

#include <string>

// The scene the simulator serves for the scan and live-stream measures: one associated network
// and its neighbours, `nets` in all, each carrying exactly `ie_bytes` bytes of information
// elements in its beacon (the simulator's own `ie-bytes` and `generate` directives build them).
// The kernel refuses the scan trigger, as it does for an unprivileged helper, so a scan reports
// the held results at once instead of adding its 4-second wait.
std::string scene_text(int nets, int ie_bytes);
