#pragma once

#include <cstdint>

#include "base/slots.h"

// The log line of a watch when there is no WiFi link to sample (the page then gets null samples).
inline constexpr char kNoLinkToSample[] =
    "No WiFi link to sample: the page gets empty readings until this computer joins a WiFi "
    "network.";

// Arms (or re-arms) the slot's live stream from the "hz" and "secs" found in `command_text` and
// sends {"type":"watching",...}; its first sample then logs the streaming line, or
// kNoLinkToSample when it finds no link.
void handle_watch(ConnectionSlot& slot, const char* command_text);

// Ends the slot's live stream and sends {"type":"stopped"}. A stream stopped before its first
// sample still logs its watch line, judged by the last sample any page got.
void live_stop(ConnectionSlot& slot);

// Reads the number after the quoted `key` in `command_text` (after colons and blanks only);
// absent or non-numeric gives `fallback`, otherwise clamped to 1..`largest`.
int read_watch_number(const char* command_text, const char* key, int fallback, int largest);

// Once per loop pass: when any streaming slot is due and no sample is out, asks for one signal
// sample (the sample lane); one that completes at once goes to every due slot right away.
void live_signal_tick();

// When the sample lane's query completed: sends its value (or null), stamped now, or the
// end-of-stream message, to every slot due by now.
void live_sample_answered();

// The monotonic_ms at which the next sample of any live stream falls due (the earliest over the
// streaming slots), or UINT64_MAX when no slot streams.
uint64_t live_next_due_ms();
