// The WiFi source writes out the interface's numbers itself; they must be the kernel's.
#include <linux/genetlink.h>
#include <linux/netlink.h>
#include <linux/nl80211.h>

#include "wifi/nl80211_codes.h"

static_assert(nl::kMsgError == NLMSG_ERROR && nl::kMsgDone == NLMSG_DONE);
static_assert(nl::kFlagRequest == NLM_F_REQUEST && nl::kFlagMulti == NLM_F_MULTI &&
              nl::kFlagAck == NLM_F_ACK && nl::kFlagDump == NLM_F_DUMP);
static_assert(nl::kGenlIdCtrl == GENL_ID_CTRL && nl::kCtrlCmdGetFamily == CTRL_CMD_GETFAMILY &&
              nl::kCtrlAttrFamilyId == CTRL_ATTR_FAMILY_ID &&
              nl::kCtrlAttrFamilyName == CTRL_ATTR_FAMILY_NAME &&
              nl::kCtrlAttrMcastGroups == CTRL_ATTR_MCAST_GROUPS &&
              nl::kCtrlAttrMcastGrpName == CTRL_ATTR_MCAST_GRP_NAME &&
              nl::kCtrlAttrMcastGrpId == CTRL_ATTR_MCAST_GRP_ID);
static_assert(nl::kCmdGetInterface == NL80211_CMD_GET_INTERFACE &&
              nl::kCmdGetStation == NL80211_CMD_GET_STATION &&
              nl::kCmdGetScan == NL80211_CMD_GET_SCAN &&
              nl::kCmdTriggerScan == NL80211_CMD_TRIGGER_SCAN &&
              nl::kCmdNewScanResults == NL80211_CMD_NEW_SCAN_RESULTS &&
              nl::kCmdScanAborted == NL80211_CMD_SCAN_ABORTED &&
              nl::kCmdGetSurvey == NL80211_CMD_GET_SURVEY);
static_assert(nl::kAttrIfindex == NL80211_ATTR_IFINDEX && nl::kAttrIfname == NL80211_ATTR_IFNAME &&
              nl::kAttrIftype == NL80211_ATTR_IFTYPE && nl::kAttrMac == NL80211_ATTR_MAC &&
              nl::kAttrStaInfo == NL80211_ATTR_STA_INFO &&
              nl::kAttrWiphyFreq == NL80211_ATTR_WIPHY_FREQ &&
              nl::kAttrScanSsids == NL80211_ATTR_SCAN_SSIDS && nl::kAttrBss == NL80211_ATTR_BSS &&
              nl::kAttrSsid == NL80211_ATTR_SSID &&
              nl::kAttrChannelWidth == NL80211_ATTR_CHANNEL_WIDTH &&
              nl::kAttrMloLinks == NL80211_ATTR_MLO_LINKS &&
              nl::kAttrMloLinkId == NL80211_ATTR_MLO_LINK_ID &&
              nl::kAttrMldAddr == NL80211_ATTR_MLD_ADDR);
static_assert(nl::kIftypeStation == NL80211_IFTYPE_STATION);
static_assert(nl::kBssBssid == NL80211_BSS_BSSID && nl::kBssFrequency == NL80211_BSS_FREQUENCY &&
              nl::kBssInformationElements == NL80211_BSS_INFORMATION_ELEMENTS &&
              nl::kBssSignalMbm == NL80211_BSS_SIGNAL_MBM &&
              nl::kBssSignalUnspec == NL80211_BSS_SIGNAL_UNSPEC &&
              nl::kBssStatus == NL80211_BSS_STATUS && nl::kBssBeaconIes == NL80211_BSS_BEACON_IES &&
              nl::kBssMloLinkId == NL80211_BSS_MLO_LINK_ID &&
              nl::kBssMldAddr == NL80211_BSS_MLD_ADDR &&
              nl::kBssStatusAssociated == NL80211_BSS_STATUS_ASSOCIATED);
static_assert(nl::kAttrSurveyInfo == NL80211_ATTR_SURVEY_INFO &&
              nl::kSurveyInfoFrequency == NL80211_SURVEY_INFO_FREQUENCY &&
              nl::kSurveyInfoNoise == NL80211_SURVEY_INFO_NOISE &&
              nl::kSurveyInfoInUse == NL80211_SURVEY_INFO_IN_USE);
static_assert(nl::kStaInfoSignal == NL80211_STA_INFO_SIGNAL &&
              nl::kStaInfoTxBitrate == NL80211_STA_INFO_TX_BITRATE &&
              nl::kStaInfoRxBitrate == NL80211_STA_INFO_RX_BITRATE &&
              nl::kStaInfoSignalAvg == NL80211_STA_INFO_SIGNAL_AVG &&
              nl::kStaInfoChainSignal == NL80211_STA_INFO_CHAIN_SIGNAL &&
              nl::kStaInfoBeaconSignalAvg == NL80211_STA_INFO_BEACON_SIGNAL_AVG);
static_assert(nl::kRateBitrate == NL80211_RATE_INFO_BITRATE &&
              nl::kRateMcs == NL80211_RATE_INFO_MCS &&
              nl::kRate40MhzWidth == NL80211_RATE_INFO_40_MHZ_WIDTH &&
              nl::kRateBitrate32 == NL80211_RATE_INFO_BITRATE32 &&
              nl::kRateVhtNss == NL80211_RATE_INFO_VHT_NSS &&
              nl::kRate80MhzWidth == NL80211_RATE_INFO_80_MHZ_WIDTH &&
              nl::kRate80p80MhzWidth == NL80211_RATE_INFO_80P80_MHZ_WIDTH &&
              nl::kRate160MhzWidth == NL80211_RATE_INFO_160_MHZ_WIDTH &&
              nl::kRateHeNss == NL80211_RATE_INFO_HE_NSS &&
              nl::kRate320MhzWidth == NL80211_RATE_INFO_320_MHZ_WIDTH &&
              nl::kRateEhtNss == NL80211_RATE_INFO_EHT_NSS);
static_assert(NL80211_CHAN_WIDTH_320 == 13 && NL80211_CHAN_WIDTH_80P80 == 4);
static_assert(nl::kCmdSetInterface == NL80211_CMD_SET_INTERFACE &&
              nl::kCmdNewInterface == NL80211_CMD_NEW_INTERFACE &&
              nl::kCmdDelInterface == NL80211_CMD_DEL_INTERFACE &&
              nl::kCmdConnect == NL80211_CMD_CONNECT && nl::kCmdRoam == NL80211_CMD_ROAM &&
              nl::kCmdDisconnect == NL80211_CMD_DISCONNECT);
// This system's headers end just before the multi-link notification that removes links.
static_assert(nl::kCmdLinksRemoved == NL80211_CMD_SET_HW_TIMESTAMP + 1);
static_assert(nl::kAttrTimedOut == NL80211_ATTR_TIMED_OUT &&
              nl::kAttrStatusCode == NL80211_ATTR_STATUS_CODE &&
              nl::kAttrReqIe == NL80211_ATTR_REQ_IE && nl::kAttrBssid == NL80211_ATTR_BSSID);
static_assert(nl::kCmdGetWiphy == NL80211_CMD_GET_WIPHY && nl::kAttrWiphy == NL80211_ATTR_WIPHY &&
              nl::kAttrWiphyBands == NL80211_ATTR_WIPHY_BANDS &&
              nl::kAttrSplitWiphyDump == NL80211_ATTR_SPLIT_WIPHY_DUMP &&
              nl::kBand2Ghz == NL80211_BAND_2GHZ && nl::kBand5Ghz == NL80211_BAND_5GHZ &&
              nl::kBand6Ghz == NL80211_BAND_6GHZ &&
              nl::kBandAttrHtCapa == NL80211_BAND_ATTR_HT_CAPA &&
              nl::kBandAttrVhtCapa == NL80211_BAND_ATTR_VHT_CAPA &&
              nl::kBandAttrIftypeData == NL80211_BAND_ATTR_IFTYPE_DATA &&
              nl::kBandIftypeAttrIftypes == NL80211_BAND_IFTYPE_ATTR_IFTYPES &&
              nl::kBandIftypeAttrHeCapPhy == NL80211_BAND_IFTYPE_ATTR_HE_CAP_PHY &&
              nl::kBandIftypeAttrEhtCapPhy == NL80211_BAND_IFTYPE_ATTR_EHT_CAP_PHY &&
              nl::kRateVhtMcs == NL80211_RATE_INFO_VHT_MCS &&
              nl::kRateHeMcs == NL80211_RATE_INFO_HE_MCS &&
              nl::kRateEhtMcs == NL80211_RATE_INFO_EHT_MCS);
