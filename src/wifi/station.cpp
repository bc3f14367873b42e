#include "wifi/station.h"

#include "wifi/multi_link.h"
#include "wifi/nl80211_codes.h"

namespace {

constexpr int kStaInfoMaxType = 39;
constexpr int kRateInfoMaxType = 23;

// Reads one nested rate-info attribute: the rate in Mbit/s into *rate_out (left alone when the
// attribute has none); unless nss_out is null also the spatial streams (left alone when unknown)
// and the width in MHz (always written, 20 without a width flag).
void parse_rate_info(const NlAttr* attribute, double* rate_out, int32_t* nss_out,
                     int32_t* width_out) {
  const NlAttr* rate[kRateInfoMaxType + 1];
  parse_nested(attribute, rate, kRateInfoMaxType);

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

// Reads the figures present in one NL80211_ATTR_STA_INFO nest, leaving the others as they are.
void read_station_figures(const NlAttr* sta_info, StationInfo* station) {
  const NlAttr* info[kStaInfoMaxType + 1];
  parse_nested(sta_info, info, kStaInfoMaxType);

  uint8_t signal = 0;
  if (attr_u8(info[nl::kStaInfoSignal], &signal)) {
    station->signal_dbm = static_cast<int8_t>(signal);
  }
  if (info[nl::kStaInfoTxBitrate] != nullptr) {
    parse_rate_info(info[nl::kStaInfoTxBitrate], &station->tx_mbps, &station->nss,
                    &station->width_mhz);
  }
  if (info[nl::kStaInfoRxBitrate] != nullptr) {
    parse_rate_info(info[nl::kStaInfoRxBitrate], &station->rx_mbps, nullptr, nullptr);
  }
}

}  // namespace

void on_station(const NlAttr* const* table, int, void* user_data) {
  StationInfo* station = static_cast<StationInfo*>(user_data);
  if (table[nl::kAttrStaInfo] == nullptr) return;
  read_station_figures(table[nl::kAttrStaInfo], station);
  uint8_t link_id = 0;
  if (!attr_u8(table[nl::kAttrMloLinkId], &link_id)) return;
  station->has_link_id = 1;
  station->link_id = link_id;
  const NlAttr* link_info = mlo_link_station_info(table[nl::kAttrMloLinks], link_id);
  if (link_info != nullptr) read_station_figures(link_info, station);
}
