#pragma once

#include <cstdint>

#include "wifi/netlink.h"

// The noise floor of the link's channel, from the kernel's channel survey (NL80211_CMD_GET_SURVEY).

// User data of a survey dump: the best entry seen so far for one frequency. Start from
// fresh_survey_pick(freq).
struct SurveyPick {
  int32_t freq_mhz;  // the link's frequency
  int32_t rank;      // of the entry taken: 0 none, 1 same frequency, 2 in use, 3 both
  int32_t noise_dbm;
};

// rank 0 and noise 0 for the link on `freq_mhz`.
SurveyPick fresh_survey_pick(int32_t freq_mhz);

// Callback for the survey dump (NL80211_CMD_GET_SURVEY on the link's interface); user data a
// SurveyPick. Only an NL80211_ATTR_SURVEY_INFO entry carrying a plausible noise value counts. An
// entry marked in use ranks above one on the link's frequency (both together rank highest); the
// first entry of the highest rank wins.
void on_survey(const NlAttr* const* table, int max_type, void* survey_pick);

// The noise in dBm of the link's channel after a survey dump that ended with `result`: that of
// the entry in use, else of the one on the link's frequency; 0 when there is none (a figure of
// 0 dBm or more, or below -120, is none) or the dump failed.
int32_t survey_noise(const SurveyPick& pick, int32_t result);
