#pragma once

#include <cstddef>
#include <cstdint>

// The fixed sizes of the helper, named once. They are part of the wire behaviour (a request is
// cut at 8191 bytes, a page's frame carries at most 4080 payload bytes), so nothing grows at run
// time.
inline constexpr size_t kSlotCount = 4;            // connections served at once
inline constexpr size_t kRequestCapacity = 8192;   // HTTP request bytes held, NUL included
inline constexpr size_t kOriginCapacity = 128;     // accepted page origin, NUL included
inline constexpr size_t kDevOriginCapacity = 256;  // --dev-origin value, NUL included

// A page's frame: 2 head bytes, a 16-bit extended length, the 4-byte mask, then the payload.
inline constexpr uint64_t kLargestPayload = 4080;
inline constexpr size_t kLargestFrame = 2 + 2 + 4 + kLargestPayload;
inline constexpr size_t kFramesCapacity = 4112;  // received frame bytes not yet consumed
static_assert(kFramesCapacity >= kLargestFrame, "the largest frame must fit whole");
static_assert(kLargestPayload > 125, "frames longer than 125 bytes use the 16-bit length");
static_assert(kLargestPayload <= 65535, "a 64-bit length is refused before it arrives");

// Console lines waiting for standard output to take them; beyond this they are dropped.
inline constexpr size_t kLogBufferCapacity = 16384;

// The largest scan report: 96 networks, each with 2048 element bytes written as 4096 hex digits, a
// 32-byte name escaped as \u00XX (192 bytes) and under 200 bytes of other members, then 1024
// bytes for the link object and the frame around it.
inline constexpr size_t kLargestScanReport = 96 * (4096 + 192 + 200) + 1024;
