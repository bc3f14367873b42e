#include "wifi/survey.h"

#include "wifi/nl80211_codes.h"
#include "wifi/signal_rules.h"

namespace {

constexpr int kSurveyMaxType = 15;

}  // namespace

SurveyPick fresh_survey_pick(int32_t freq_mhz) {
  return SurveyPick{freq_mhz, 0, 0};
}

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

int32_t survey_noise(const SurveyPick& pick, int32_t result) {
  // A dump that ends in an error is not trusted, even for entries seen before it; the link reply
  // itself goes on without a noise figure.
  return result < 0 ? 0 : pick.noise_dbm;
}
