#pragma once

#include <cstddef>
#include <cstdint>

#include "wifi/elements.h"

// The channel width a BSS announces in its information elements.

// 802.11 element IDs of the operation elements that announce a width (HE and EHT operation are
// extension elements: ID 255, then the extension ID).
constexpr uint8_t kHtOperation = 61;
constexpr uint8_t kVhtOperation = 192;
constexpr uint8_t kExtension = 255;
constexpr uint8_t kExtHeOperation = 36;
constexpr uint8_t kExtEhtOperation = 106;

// The widest width in MHz that the elements `ies[0..length)` announce: EHT operation (with its
// operation information), HE operation's 6 GHz information, VHT operation (width 1 is 80, 160
// with a second centre segment; 2 and 3 are 160), HT operation (40 with a secondary channel
// above or below and any STA width); 20 when none of them says more. 0 for no elements at all.
// The walk ends at an element whose length runs past `length`; an element too short for the
// fields a rule reads is passed over.
int32_t width_from_ies(const uint8_t* ies, size_t length);
