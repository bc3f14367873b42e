#include "wifi/survey.h"

#include "wifi/nl80211_codes.h"
#include "wifi/requests.h"
#include "wifi/signal_rules.h"

namespace {

// User data of a survey dump: the best entry seen so far for one frequency. Start from
// fresh_survey_pick(freq).
struct SurveyPick {
  int32_t freq_mhz;  // the link's frequency
  int32_t rank;      // of the entry taken: 0 none, 1 same frequency, 2 in use, 3 both
  int32_t noise_dbm;
};

constexpr int kSurveyMaxType = 15;

// rank 0 and noise 0 for the link on `freq_mhz`.
SurveyPick fresh_survey_pick(int32_t freq_mhz) {
  return SurveyPick{freq_mhz, 0, 0};
}

// Callback for the survey dump; user data a SurveyPick. Only an NL80211_ATTR_SURVEY_INFO entry
// carrying a plausible noise value counts. An entry marked in use ranks above one on the link's
// frequency (both together rank highest); the first entry of the highest rank wins.
void on_survey(const NlAttr* const* table, int, void* user_data) {
  SurveyPick* pick = static_cast<SurveyPick*>(user_data);
  if (table[nl::kAttrSurveyInfo] == nullptr) return;
  const NlAttr* info[kSurveyMaxType + 1];
  parse_nested(table[nl::kAttrSurveyInfo], info, kSurveyMaxType);

  uint8_t noise = 0;
  if (!attr_u8(info[nl::kSurveyInfoNoise], &noise)) return;  // a channel without a noise figure
  // A placeholder (0 dBm, a positive value, one beyond any radio's floor) is no figure either.
  const int32_t noise_dbm = measured_dbm(static_cast<int8_t>(noise));
  if (noise_dbm == 0) return;
  uint32_t freq = 0;
  bool same_freq = attr_u32(info[nl::kSurveyInfoFrequency], &freq) &&
                   static_cast<int32_t>(freq) == pick->freq_mhz && pick->freq_mhz != 0;
  bool in_use = info[nl::kSurveyInfoInUse] != nullptr;
  int32_t rank = (in_use ? 2 : 0) + (same_freq ? 1 : 0);
  if (rank <= pick->rank) return;
  pick->rank = rank;
  pick->noise_dbm = noise_dbm;
}

}  // namespace

int32_t link_noise(int32_t ifindex, int32_t freq_mhz) {
  SurveyPick pick = fresh_survey_pick(freq_mhz);
  NetlinkRequest request;
  build_survey_dump_request(&request, ifindex);
  // A dump that ends in an error is not trusted, even for entries seen before it; the link reply
  // itself goes on without a noise figure.
  if (netlink_exchange(request, on_survey, &pick) < 0) return 0;
  return pick.noise_dbm;
}
