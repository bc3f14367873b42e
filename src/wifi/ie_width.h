#pragma once

#include <cstddef>
#include <cstdint>

// The channel width a BSS announces in its information elements (802.11 element IDs).

// The widest width in MHz that the elements `ies[0..length)` announce: EHT operation (with its
// operation information), HE operation's 6 GHz information, VHT operation (width 1 is 80, 160
// with a second centre segment; 2 and 3 are 160), HT operation (40 with a secondary channel
// above or below and any STA width); 20 when none of them says more. 0 for no elements at all.
// The walk ends at an element whose length runs past `length`; an element too short for the
// fields a rule reads is passed over.
int32_t width_from_ies(const uint8_t* ies, size_t length);
