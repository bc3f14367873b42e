#pragma once

#include <cstdint>

// Which of a driver's signal and noise figures count as measurements. Drivers fill a field they do
// not measure with 0 dBm, a percentage mistaken for dBm, or a stray value far beyond what a radio
// hears; none of those may reach a page as a number it would believe, so they all read as unknown
// (0), the value the page already takes for "no figure".

// True for a level a radio can have measured: below 0 dBm and not below -120 dBm.
bool plausible_dbm(int32_t dbm);

// `dbm` when plausible, else 0.
int32_t measured_dbm(int32_t dbm);

// The first plausible value of figures[0..count) in that order (absent figures given as 0); 0
// when none is.
int32_t first_measured_dbm(const int32_t* figures, int count);

// The strongest plausible value of figures[0..count), as for one figure per receive chain; 0 when
// none is.
int32_t strongest_measured_dbm(const int32_t* figures, int count);

// dBm for a signal quality of 0..100 (NL80211_BSS_SIGNAL_UNSPEC, from drivers that give no dBm):
// quality / 2 - 100, so 0 is -100 dBm and 100 is -50 dBm; 0 (unknown) for a quality above 100.
int32_t dbm_from_quality(uint32_t quality);
