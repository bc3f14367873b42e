#include "protocol/live_stream.h"

// Placeholder until the page protocol lands.
void handle_watch(ConnectionSlot&, const char*) {}
int read_watch_number(const char*, const char*, int fallback, int) { return fallback; }
void live_signal_tick() {}
int live_wait_ms(uint64_t, int longest) { return longest; }
