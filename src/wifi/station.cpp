#include "wifi/station.h"

#include "wifi/multi_link.h"
#include "wifi/nl80211_codes.h"
#include "wifi/phy_label.h"
#include "wifi/signal_rules.h"

namespace {

constexpr int kStaInfoMaxType = 39;
constexpr int kRateInfoMaxType = 23;
constexpr int kChainMaxType = 7;  // the kernel numbers the chains from 0; four at most today

// The kRate* family of a rate-info table: which kind of MCS (or its streams) it names.
int32_t family_of(const NlAttr* const* rate) {
  if (rate[nl::kRateEhtMcs] != nullptr || rate[nl::kRateEhtNss] != nullptr) return kRateEht;
  if (rate[nl::kRateHeMcs] != nullptr || rate[nl::kRateHeNss] != nullptr) return kRateHe;
  if (rate[nl::kRateVhtMcs] != nullptr || rate[nl::kRateVhtNss] != nullptr) return kRateVht;
  return rate[nl::kRateMcs] != nullptr ? kRateHt : kRateLegacy;
}

// Reads one nested rate-info attribute: the rate in Mbit/s into *rate_out (left alone when the
// attribute has none), its family raising *family_out; unless nss_out is null also the spatial
// streams (left alone when unknown) and the width in MHz (always written, 20 without a width flag).
void parse_rate_info(const NlAttr* attribute, double* rate_out, int32_t* family_out,
                     int32_t* nss_out, int32_t* width_out) {
  const NlAttr* rate[kRateInfoMaxType + 1];
  parse_nested(attribute, rate, kRateInfoMaxType);
  if (int32_t family = family_of(rate); family > *family_out) *family_out = family;

  uint32_t rate32 = 0;
  uint16_t rate16 = 0;
  if (attr_u32(rate[nl::kRateBitrate32], &rate32)) {
    *rate_out = rate32 / 10.0;  // units of 100 kbit/s
  } else if (attr_u16(rate[nl::kRateBitrate], &rate16)) {
    *rate_out = rate16 / 10.0;
  }
  if (nss_out == nullptr) return;

  uint8_t nss = 0;
  uint8_t mcs = 0;
  if (attr_u8(rate[nl::kRateEhtNss], &nss) || attr_u8(rate[nl::kRateHeNss], &nss) ||
      attr_u8(rate[nl::kRateVhtNss], &nss)) {
    *nss_out = nss;
  } else if (attr_u8(rate[nl::kRateMcs], &mcs)) {
    *nss_out = (mcs >> 3) + 1;  // HT MCS indices count eight per spatial stream
  }

  if (rate[nl::kRate320MhzWidth] != nullptr) {
    *width_out = 320;
  } else if (rate[nl::kRate80p80MhzWidth] != nullptr || rate[nl::kRate160MhzWidth] != nullptr) {
    *width_out = 160;
  } else if (rate[nl::kRate80MhzWidth] != nullptr) {
    *width_out = 80;
  } else if (rate[nl::kRate40MhzWidth] != nullptr) {
    *width_out = 40;
  } else {
    *width_out = 20;
  }
}

// An s8 dBm figure; 0 when absent.
int32_t dbm_of(const NlAttr* attribute) {
  uint8_t value = 0;
  return attr_u8(attribute, &value) ? static_cast<int8_t>(value) : 0;
}

// The station's signal: the first measurement among the last frame's, the average, the beacons'
// average and the strongest receive chain, since drivers fill different ones (and some with
// placeholders). 0 when none is a measurement.
int32_t station_signal(const NlAttr* const* info) {
  const NlAttr* chain[kChainMaxType + 1];
  parse_nested(info[nl::kStaInfoChainSignal], chain, kChainMaxType);
  int32_t chains[kChainMaxType + 1];
  for (int i = 0; i <= kChainMaxType; ++i) chains[i] = dbm_of(chain[i]);
  const int32_t figures[] = {dbm_of(info[nl::kStaInfoSignal]), dbm_of(info[nl::kStaInfoSignalAvg]),
                             dbm_of(info[nl::kStaInfoBeaconSignalAvg]),
                             strongest_measured_dbm(chains, kChainMaxType + 1)};
  return first_measured_dbm(figures, 4);
}

// Reads the figures present in one NL80211_ATTR_STA_INFO nest, leaving the others as they are.
void read_station_figures(const NlAttr* sta_info, StationInfo* station) {
  const NlAttr* info[kStaInfoMaxType + 1];
  parse_nested(sta_info, info, kStaInfoMaxType);

  const int32_t signal = station_signal(info);
  if (signal != 0) station->signal_dbm = signal;
  if (info[nl::kStaInfoTxBitrate] != nullptr) {
    parse_rate_info(info[nl::kStaInfoTxBitrate], &station->tx_mbps, &station->rate_family,
                    &station->nss, &station->width_mhz);
  }
  if (info[nl::kStaInfoRxBitrate] != nullptr) {
    parse_rate_info(info[nl::kStaInfoRxBitrate], &station->rx_mbps, &station->rate_family, nullptr,
                    nullptr);
  }
}

}  // namespace

void on_station(const NlAttr* const* table, int, void* user_data) {
  StationInfo* station = static_cast<StationInfo*>(user_data);
  if (table[nl::kAttrStaInfo] == nullptr) return;
  uint8_t link_id = 0;
  const bool names_link = attr_u8(table[nl::kAttrMloLinkId], &link_id);
  // After the MLD's figures, a message naming a link holds that link's own.
  if (station->messages++ > 0 && names_link) {
    if (link_id < kMaxMloLinks) {
      station->link_rssi[link_id] = sta_info_signal(table[nl::kAttrStaInfo]);
    }
    if (station->has_link_id == 1 && link_id == station->link_id) {
      read_station_figures(table[nl::kAttrStaInfo], station);
    }
    return;
  }
  read_station_figures(table[nl::kAttrStaInfo], station);
  if (!names_link) return;
  station->has_link_id = 1;
  station->link_id = link_id;
  mlo_link_signals(table[nl::kAttrMloLinks], station->link_rssi);
  const NlAttr* link_info = mlo_link_station_info(table[nl::kAttrMloLinks], link_id);
  if (link_info != nullptr) read_station_figures(link_info, station);
}
