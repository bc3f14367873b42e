#pragma once

#include <cstdint>

#include "base/slots.h"

// The log line of a watch when there is no WiFi link to sample (the page then gets null samples).
inline constexpr char kNoLinkToSample[] =
    "No WiFi link to sample: the page gets empty readings until this computer joins a WiFi "
    "network.";

// Arms (or re-arms) the slot's live stream from the "hz" and "secs" found in `command_text`,
// sends {"type":"watching",...} and logs the streaming line, or kNoLinkToSample when a first
// sample finds no link.
void handle_watch(ConnectionSlot& slot, const char* command_text);

// Reads the number after the quoted `key` in `command_text` (after colons and blanks only);
// absent or non-numeric gives `fallback`, otherwise clamped to 1..`largest`.
int read_watch_number(const char* command_text, const char* key, int fallback, int largest);

// Once per loop pass: when any streaming slot is due, takes one signal sample and sends it (or
// the end-of-stream message) to every due slot.
void live_signal_tick();

// The monotonic_ms at which the next sample of any live stream falls due (the earliest over the
// streaming slots), or UINT64_MAX when no slot streams.
uint64_t live_next_due_ms();
