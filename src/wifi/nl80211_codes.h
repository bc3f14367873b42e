#pragma once

#include <cstdint>

// The numbers of the netlink, generic-netlink and nl80211 interface that the WiFi source uses,
// written out so the parser stands on its own (the tests check them against the kernel headers).
namespace nl {

// Netlink message header.
inline constexpr uint16_t kMsgNoop = 1;
inline constexpr uint16_t kMsgError = 2;  // NLMSG_ERROR
inline constexpr uint16_t kMsgDone = 3;   // NLMSG_DONE
inline constexpr uint16_t kFlagRequest = 0x1;
inline constexpr uint16_t kFlagMulti = 0x2;
inline constexpr uint16_t kFlagAck = 0x4;
inline constexpr uint16_t kFlagDump = 0x300;  // NLM_F_ROOT | NLM_F_MATCH

// Generic-netlink controller.
inline constexpr uint16_t kGenlIdCtrl = 16;
inline constexpr uint8_t kCtrlCmdGetFamily = 3;
inline constexpr uint16_t kCtrlAttrFamilyId = 1;
inline constexpr uint16_t kCtrlAttrFamilyName = 2;
inline constexpr uint16_t kCtrlAttrMcastGroups = 7;
inline constexpr uint16_t kCtrlAttrMcastGrpName = 1;  // nested in each group
inline constexpr uint16_t kCtrlAttrMcastGrpId = 2;

// nl80211 commands.
inline constexpr uint8_t kCmdGetWiphy = 1;  // the adapter's bands and capabilities
inline constexpr uint8_t kCmdGetInterface = 5;
inline constexpr uint8_t kCmdSetInterface = 6;  // notification: an interface changed (its type)
inline constexpr uint8_t kCmdNewInterface = 7;  // notification: an interface appeared
inline constexpr uint8_t kCmdDelInterface = 8;  // notification: an interface went away
inline constexpr uint8_t kCmdGetStation = 17;
inline constexpr uint8_t kCmdGetScan = 32;
inline constexpr uint8_t kCmdTriggerScan = 33;
inline constexpr uint8_t kCmdNewScanResults = 34;  // notification: a scan ended with results
inline constexpr uint8_t kCmdScanAborted = 35;     // notification: a scan was aborted
inline constexpr uint8_t kCmdConnect = 46;         // notification: a connection attempt's result
inline constexpr uint8_t kCmdRoam = 47;            // notification: the driver moved to another BSS
inline constexpr uint8_t kCmdDisconnect = 48;      // notification: the association ended
inline constexpr uint8_t kCmdGetSurvey = 50;
// notification: links left a multi-link association
inline constexpr uint8_t kCmdLinksRemoved = 154;

// nl80211 message attributes.
inline constexpr uint16_t kAttrWiphy = 1;
inline constexpr uint16_t kAttrIfindex = 3;
inline constexpr uint16_t kAttrIfname = 4;
inline constexpr uint16_t kAttrIftype = 5;
inline constexpr uint16_t kAttrMac = 6;
inline constexpr uint16_t kAttrStaInfo = 21;
inline constexpr uint16_t kAttrWiphyBands = 22;  // one nest per band (NL80211_BAND_*)
inline constexpr uint16_t kAttrWiphyFreq = 38;
inline constexpr uint16_t kAttrScanSsids = 45;  // nest of the SSIDs to probe for
inline constexpr uint16_t kAttrBss = 47;
inline constexpr uint16_t kAttrSsid = 52;
inline constexpr uint16_t kAttrTimedOut = 65;    // flag: the connection attempt timed out
inline constexpr uint16_t kAttrStatusCode = 72;  // u16 802.11 status of a connection attempt
inline constexpr uint16_t kAttrReqIe = 77;       // elements of the association request
inline constexpr uint16_t kAttrSurveyInfo = 84;
inline constexpr uint16_t kAttrChannelWidth = 159;
inline constexpr uint16_t kAttrSplitWiphyDump = 174;  // flag: the wiphy in parts, every band
inline constexpr uint16_t kAttrBssid = 245;      // a link's BSSID in a multi-link CONNECT or ROAM
inline constexpr uint16_t kAttrMloLinks = 312;   // per-link nests of a multi-link device
inline constexpr uint16_t kAttrMloLinkId = 313;  // u8, 0..14
inline constexpr uint16_t kAttrMldAddr = 314;

inline constexpr uint32_t kIftypeStation = 2;

// Bands (the nests of NL80211_ATTR_WIPHY_BANDS) and what each one holds.
inline constexpr uint16_t kBand2Ghz = 0;
inline constexpr uint16_t kBand5Ghz = 1;
inline constexpr uint16_t kBand6Ghz = 3;
inline constexpr uint16_t kBandAttrHtCapa = 4;
inline constexpr uint16_t kBandAttrVhtCapa = 8;
inline constexpr uint16_t kBandAttrIftypeData = 9;     // one nest per set of interface types
inline constexpr uint16_t kBandIftypeAttrIftypes = 1;  // nest of flags, one per interface type
inline constexpr uint16_t kBandIftypeAttrHeCapPhy = 3;
inline constexpr uint16_t kBandIftypeAttrEhtCapPhy = 9;

// Nested in NL80211_ATTR_BSS.
inline constexpr uint16_t kBssBssid = 1;
inline constexpr uint16_t kBssFrequency = 2;
inline constexpr uint16_t kBssInformationElements = 6;
inline constexpr uint16_t kBssSignalMbm = 7;
inline constexpr uint16_t kBssSignalUnspec = 8;  // u8 quality 0..100, from drivers without dBm
inline constexpr uint16_t kBssStatus = 9;
inline constexpr uint16_t kBssSeenMsAgo = 10;  // u32: milliseconds since the BSS was last heard
inline constexpr uint16_t kBssBeaconIes = 11;
inline constexpr uint16_t kBssMloLinkId = 21;
inline constexpr uint16_t kBssMldAddr = 22;  // the AP MLD address of an associated link
inline constexpr uint32_t kBssStatusAssociated = 1;

// Nested in NL80211_ATTR_SURVEY_INFO.
inline constexpr uint16_t kSurveyInfoFrequency = 1;
inline constexpr uint16_t kSurveyInfoNoise = 2;
inline constexpr uint16_t kSurveyInfoInUse = 3;

// Nested in NL80211_ATTR_STA_INFO.
inline constexpr uint16_t kStaInfoSignal = 7;
inline constexpr uint16_t kStaInfoTxBitrate = 8;
inline constexpr uint16_t kStaInfoSignalAvg = 13;
inline constexpr uint16_t kStaInfoRxBitrate = 14;
inline constexpr uint16_t kStaInfoChainSignal = 25;  // nest of one s8 dBm per receive chain
inline constexpr uint16_t kStaInfoBeaconSignalAvg = 30;

// Nested in a station's bit-rate attribute.
inline constexpr uint16_t kRateBitrate = 1;
inline constexpr uint16_t kRateMcs = 2;
inline constexpr uint16_t kRate40MhzWidth = 3;
inline constexpr uint16_t kRateBitrate32 = 5;
inline constexpr uint16_t kRateVhtMcs = 6;
inline constexpr uint16_t kRateVhtNss = 7;
inline constexpr uint16_t kRate80MhzWidth = 8;
inline constexpr uint16_t kRate80p80MhzWidth = 9;
inline constexpr uint16_t kRate160MhzWidth = 10;
inline constexpr uint16_t kRateHeMcs = 13;
inline constexpr uint16_t kRateHeNss = 14;
inline constexpr uint16_t kRate320MhzWidth = 18;
inline constexpr uint16_t kRateEhtMcs = 19;
inline constexpr uint16_t kRateEhtNss = 20;

}  // namespace nl
