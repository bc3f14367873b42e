#pragma once

#include <cstdint>

// Milliseconds of CLOCK_MONOTONIC: seconds * 1000 + nanoseconds / 1000000. Every timer, limit and
// protocol time stamp uses it; only the console log reads wall-clock time.
uint64_t monotonic_ms();
