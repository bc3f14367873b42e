#pragma once

#include <cstdint>
#include <optional>

#include "nl_writer.h"

// The operation elements with which an access point announces its channel width, for scene BSS
// records given `width=`: laid out as 802.11 defines them (HT operation 61, VHT operation 192, HE
// operation and EHT operation as extension elements 255 with IDs 36 and 106).

// The elements a BSS on `freq` (MHz) sends to announce `width_mhz` (20, 40, 80, 160 or 320):
// 2.4 GHz: HT operation (20 or 40); 5 GHz: HT and VHT operation (20 to 160); 6 GHz: HE operation
// with its 6 GHz information, plus EHT operation for 320. Nothing for a width the band does not
// have.
std::optional<Bytes> width_elements(uint32_t freq, int width_mhz);
