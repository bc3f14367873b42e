#include "wifi/signal_rules.h"

namespace {

constexpr int32_t kWeakestMeasuredDbm = -120;

}  // namespace

bool plausible_dbm(int32_t dbm) {
  return dbm < 0 && dbm >= kWeakestMeasuredDbm;
}

int32_t measured_dbm(int32_t dbm) {
  return plausible_dbm(dbm) ? dbm : 0;
}

int32_t first_measured_dbm(const int32_t* figures, int count) {
  for (int i = 0; i < count; ++i) {
    if (plausible_dbm(figures[i])) return figures[i];
  }
  return 0;
}

int32_t strongest_measured_dbm(const int32_t* figures, int count) {
  int32_t strongest = 0;
  for (int i = 0; i < count; ++i) {
    if (plausible_dbm(figures[i]) && (strongest == 0 || figures[i] > strongest)) {
      strongest = figures[i];
    }
  }
  return strongest;
}

int32_t dbm_from_quality(uint32_t quality) {
  // The mapping other platforms' WLAN interfaces use between a 0..100 quality and dBm.
  if (quality > 100) return 0;
  return static_cast<int32_t>(quality / 2) - 100;
}
