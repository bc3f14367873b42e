// The nl80211 queries (wifi_open, link_query, scan_dump, signal_sample) against scenes served by
// the stand-in kernel.
#include <linux/netlink.h>

#include <functional>
#include <string>
#include <vector>

#include "wifi/interface.h"
#include "wifi/nl80211_codes.h"
#include "wifi/phy_label.h"
#include "wifi/requests.h"
#include "wifi/scan_freshness.h"
#include "wifi/station.h"
#include "wifi/wifi.h"
#include "wifi_test_support.h"

namespace {

// What the helper asked the kernel, in order.
std::vector<std::string> request_kinds() {
  std::vector<std::string> kinds;
  for (const Bytes& request : fake_kernel_log().requests) {
    uint16_t type = 0;
    std::memcpy(&type, request.data() + 4, 2);
    if (type == 16) {
      kinds.push_back("family");
      continue;
    }
    switch (request[16]) {
      case 1:
        kinds.push_back("wiphy");
        break;
      case 5:
        kinds.push_back("interfaces");
        break;
      case 17:
        kinds.push_back("station");
        break;
      case 32:
        kinds.push_back("scan-dump");
        break;
      case 33:
        kinds.push_back("scan-trigger");
        break;
      case 50:
        kinds.push_back("survey");
        break;
      default:
        kinds.push_back("?");
        break;
    }
  }
  return kinds;
}

using Kinds = std::vector<std::string>;

constexpr char kHome[] = R"(
interface type=p2p-device
interface ifindex=5 name=wlan3 type=station freq=5180 width=3 ssid=Home
interface ifindex=4 name=wlan2 type=ap freq=2462 width=1 ssid=NotMe
bss bssid=02:00:00:00:01:00 freq=2437 signal=-6000 ssid=Cafe
bss bssid=02:00:00:00:00:00 freq=5180 signal=-5200 status=associated ssid=Home
station signal=-52 tx-bitrate=8667 tx-vht-mcs=9 tx-vht-nss=2 tx-width=80 tx-sgi rx-bitrate=7800
)";

class WifiQueries : public WifiTest {
 protected:
  // Serves `scene` and runs start-up's wifi_open, expecting success.
  void open_with(std::string_view scene) {
    serve_scene(scene);
    char msg[200] = {};
    ASSERT_EQ(wifi_open(msg, sizeof msg), 0) << msg;
  }
  std::string open_failure(std::string_view scene) {
    serve_scene(scene);
    char msg[200] = {};
    EXPECT_EQ(wifi_open(msg, sizeof msg), -1);
    return msg;
  }
  LinkInfo link(int expected_result = 0) {
    LinkInfo info{};
    char msg[200] = {};
    EXPECT_EQ(link_query(&info, msg, sizeof msg), expected_result) << msg;
    last_msg_ = msg;
    return info;
  }
  // The scan command's kernel side: the trigger (its outcome kept), then the dump.
  int scan(ScanEntry* table, int capacity = kScanCapacity) {
    char msg[200] = {};
    last_wait_ = scan_trigger();
    int count = scan_dump(table, capacity, msg, sizeof msg);
    last_msg_ = msg;
    return count;
  }
  std::string last_msg_;
  int last_wait_ = -1;
  static inline ScanTable table_;
};

// ---- wifi_open and the interface choice ----

TEST_F(WifiQueries, OpenResolvesTheFamilyAndChoosesTheStationInterface) {
  open_with(kHome);
  EXPECT_EQ(wifi_state.family_id, 32);
  EXPECT_EQ(wifi_state.ifindex, 5);
  EXPECT_STREQ(wifi_state.ifname, "wlan3");
  EXPECT_EQ(request_kinds(), (Kinds{"family", "interfaces", "wiphy"}));
  // The adapter's capabilities per band (2.4, 5, 6 GHz), asked of the chosen interface's wiphy.
  SetUp();
  open_with(std::string(kHome) + "wiphy bands=2g,5g caps=ht,vht,eht\n");
  EXPECT_EQ(std::vector<int>(wifi_state.caps.band, wifi_state.caps.band + 3),
            (std::vector<int>{kPhyHt | kPhyEht, kPhyHt | kPhyVht | kPhyEht, 0}));
}

TEST_F(WifiQueries, OpenExplainsAMissingFamily) {
  EXPECT_EQ(open_failure("family absent"), "nl80211 not available (No such file or directory)");
  EXPECT_EQ(wifi_state.family_id, -1);
  EXPECT_EQ(request_kinds(), Kinds{"family"});
}

TEST_F(WifiQueries, OpenExplainsASilentController) {
  EXPECT_EQ(open_failure("family id=32\nfault request=family silent"),
            "nl80211 not available (Resource temporarily unavailable)");
}

TEST_F(WifiQueries, FamilyReplyWithoutAUsableIdMeansNoDriver) {
  for (bool short_id : {false, true}) {
    NlWriter writer;
    writer.begin_message(16, 0, 1, 1);
    writer.put_string(2, "nl80211");
    if (short_id) writer.put_u8(1, 32);  // one byte cannot hold the u16 id
    writer.end_message();
    serve_script({reply_of({writer.bytes})});
    char msg[200] = {};
    EXPECT_EQ(wifi_open(msg, sizeof msg), -1);
    EXPECT_STREQ(msg, "nl80211 not available (no WiFi driver)");
    EXPECT_EQ(wifi_state.family_id, -1);
  }
}

TEST_F(WifiQueries, MessageIsCutToTheCallersBuffer) {
  serve_scene("family absent");
  char msg[12];
  EXPECT_EQ(wifi_open(msg, sizeof msg), -1);
  EXPECT_STREQ(msg, "nl80211 not");
}

TEST_F(WifiQueries, NonStationInterfacesAreNeverChosen) {
  EXPECT_EQ(open_failure(R"(
interface ifindex=2 name=wlan0 type=ap freq=2412
interface ifindex=3 name=mon0 type=monitor freq=2412
interface ifindex=4 name=p2p type=p2p-client freq=2412
interface type=station
)"),
            "no WiFi interface found");
  EXPECT_EQ(wifi_state.family_id, 32);
  EXPECT_EQ(wifi_state.ifindex, -1);
}

TEST_F(WifiQueries, FirstStationWithAFrequencyWinsElseTheFirstStation) {
  open_with(R"(
interface ifindex=2 name=wlan0 type=station
interface ifindex=3 name=wlan1 type=station freq=2412
interface ifindex=4 name=wlan2 type=station freq=5180
)");
  EXPECT_STREQ(wifi_state.ifname, "wlan1");
  EXPECT_EQ(wifi_state.ifindex, 3);

  SetUp();
  open_with(R"(
interface ifindex=2 name=wlan0 type=station
interface ifindex=3 name=wlan1 type=station
)");
  EXPECT_STREQ(wifi_state.ifname, "wlan0");
  LinkInfo info = link();
  EXPECT_EQ(info.connected, 0);
  EXPECT_STREQ(info.iface, "wlan0");
}

TEST_F(WifiQueries, InterfaceSeenBeforeADumpErrorIsKeptButTheOpenFails) {
  NlWriter family;
  family.begin_message(16, 0, 1, 1);
  family.put_u16(1, 32);
  family.end_message();
  NlWriter dump;
  dump.begin_message(32, NLM_F_MULTI, 2, 7);
  dump.put_u32(nl::kAttrIfindex, 9);
  dump.put_string(nl::kAttrIfname, "wlx0");
  dump.put_u32(nl::kAttrIftype, 2);
  dump.end_message();
  dump.raw(error_datagram(-ENOBUFS, Bytes(20, 0)));
  serve_script({reply_of({family.bytes}), reply_of({dump.bytes})});
  char msg[200] = {};
  EXPECT_EQ(wifi_open(msg, sizeof msg), -1);
  EXPECT_STREQ(msg, "no WiFi interface found (No buffer space available)");
  EXPECT_EQ(wifi_state.ifindex, 9);
  EXPECT_STREQ(wifi_state.ifname, "wlx0");
}

TEST_F(WifiQueries, InterfaceNameAndSsidAreBoundedTexts) {
  std::string long_ssid(40 * 2, 'a');  // 40 bytes of 0xaa
  open_with(
      "interface ifindex=2 name=wlan-with-a-very-long-name-that-goes-on-and-on type=station "
      "freq=2412 ssid-hex=" +
      long_ssid + "\n");
  EXPECT_STREQ(wifi_state.ifname, "wlan-with-a-very-long-name-that-goes-on");  // 39 characters
  LinkInfo info = link();
  EXPECT_EQ(std::string(info.ssid), std::string(32, '\xaa'));
  EXPECT_STREQ(info.iface, wifi_state.ifname);

  SetUp();
  open_with("interface ifindex=2 name=wlan0 type=station freq=2412 ssid-hex=41420043\n");
  EXPECT_STREQ(link().ssid, "AB");  // a zero byte ends the name

  SetUp();
  open_with("interface ifindex=2 name=wlan0 type=station freq=2412\n");
  EXPECT_STREQ(link().ssid, "");
  // Without the interface's name, the associated BSS's SSID element gives it.
  SetUp();
  open_with("interface ifindex=2 name=wlan0 freq=2412\nbss freq=2412 status=associated ssid=E\n");
  EXPECT_STREQ(link().ssid, "E");
}

// ---- link_query ----

TEST_F(WifiQueries, LinkReportsTheAssociationWithItsStationStatistics) {
  open_with(kHome);
  EXPECT_EQ(link_text(link()),
            "connected=1 iface=wlan3 ssid=Home rssi=-52 noise=0 tx=866.7 rx=780 channel=36 "
            "freq=5180 width=80 nss=2 phy=802.11ac has_bssid=1 bssid=02:00:00:00:00:00");
  EXPECT_EQ(request_kinds(), (Kinds{"family", "interfaces", "wiphy", "interfaces", "survey",
                                    "scan-dump", "station"}));
  // The station request names the remembered BSSID on the chosen interface.
  const Bytes& station = fake_kernel_log().requests.back();
  EXPECT_EQ(hex_of(station),
            "280000002000010007000000000000001101000008000300050000000a000600"
            "0200000000000000");
}

TEST_F(WifiQueries, LinkWithoutFamilyAsksForItOnceThenFails) {
  LinkInfo info = link(-1);
  EXPECT_EQ(last_msg_, "no WiFi interface found");
  EXPECT_EQ(info.connected, 0);
  EXPECT_EQ(request_kinds(), Kinds{"family"});
}

TEST_F(WifiQueries, LinkOnAnUnconnectedInterfaceStopsAfterTheInterfaceDump) {
  open_with("interface ifindex=5 name=wlan3 type=station ssid=Home\nbss status=associated\n");
  LinkInfo info = link();
  EXPECT_EQ(info.connected, 0);
  EXPECT_STREQ(info.iface, "wlan3");
  EXPECT_EQ(info.freq_mhz, 0);
  EXPECT_EQ(info.channel, 0);
  EXPECT_EQ(info.has_bssid, 0);
  EXPECT_EQ(request_kinds(), (Kinds{"family", "interfaces", "wiphy", "interfaces"}));
}

TEST_F(WifiQueries, LinkWithoutAssociatedBssHasNoBssidNorStationData) {
  open_with(R"(
interface ifindex=5 name=wlan3 type=station freq=2412 width=1 ssid=Home
bss freq=2412 signal=-5000 ssid=Home status=authenticated
bss bssid=none freq=2412 signal=-5000 ssid=Home status=associated
)");
  LinkInfo info = link();
  EXPECT_EQ(info.connected, 1);
  EXPECT_EQ(info.channel, 1);
  EXPECT_EQ(info.width_mhz, 20);
  EXPECT_EQ(info.has_bssid, 0);
  EXPECT_EQ(info.rssi, 0);
  EXPECT_EQ(request_kinds(),
            (Kinds{"family", "interfaces", "wiphy", "interfaces", "survey", "scan-dump"}));
}

// The signal is the first measured of SIGNAL, SIGNAL_AVG, BEACON_SIGNAL_AVG and the strongest
// chain; 0 dBm and up, or below -120, is none. A failed station request leaves signal and rates at
// zero; a reply without a measured signal still gives its rates.
TEST_F(WifiQueries, StationSignalIsItsFirstMeasurementAndRatesComeWithoutOne) {
  struct Case {
    const char* station;
    int rssi;
    double tx_mbps;
    int width_mhz;
  } cases[] = {
      {"fault request=station error=-2", 0, 0, 0},
      {"station signal=0 tx-bitrate=60", 0, 6.0, 20},
      {"station tx-bitrate=60", 0, 6.0, 20},
      {"fault request=station silent", 0, 0, 0},
      {"station signal=-120 signal-avg=-60 tx-bitrate=60", -120, 6.0, 20},
      {"station signal=0 signal-avg=-60 beacon-signal-avg=-58 tx-bitrate=60", -60, 6.0, 20},
      {"station signal=75 signal-avg=0 beacon-signal-avg=-61 tx-bitrate=60", -61, 6.0, 20},
      {"station signal=-121 chain-signal=0,-70,-64,12 tx-bitrate=60", -64, 6.0, 20},
      {"station signal-avg=-1 chain-signal=-40 tx-bitrate=60", -1, 6.0, 20},
      {"station chain-signal=72,75 beacon-signal-avg=-128 tx-bitrate=60", 0, 6.0, 20}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.station);
    SetUp();
    open_with(
        "interface ifindex=5 name=wlan3 type=station freq=5180 ssid=Home\n"
        "bss freq=5180 signal=-5000 status=associated ssid=Home\n" +
        std::string(c.station) + "\n");
    LinkInfo info = link();
    EXPECT_EQ(info.has_bssid, 1);
    EXPECT_EQ(info.rssi, c.rssi);
    EXPECT_EQ(info.tx_mbps, c.tx_mbps);
    EXPECT_EQ(info.nss, 0);
    EXPECT_EQ(info.width_mhz, c.width_mhz);
  }
}

TEST_F(WifiQueries, WidthComesFromTheCodeElseFromTheTransmitRate) {
  struct Case {
    const char* width_field;
    const char* station;
    int width;
  } cases[] = {
      {"width=3", "tx-bitrate=60 tx-width=40", 80},      // the interface's code wins
      {"", "tx-bitrate=3000 tx-width=40", 40},           // no code: the transmit rate's width
      {"width=7", "tx-bitrate=3000 tx-width=160", 160},  // 5/10 MHz codes have no width
      {"", "tx-bitrate=60", 20},                         // a rate without a width flag
      {"", "rx-bitrate=60", 0},                          // no transmit rate at all
      {"width=13", "tx-bitrate=60", 320},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.width_field) + " / " + c.station);
    SetUp();
    open_with("interface ifindex=5 name=wlan3 type=station freq=5180 " +
              std::string(c.width_field) + "\nbss freq=5180 signal=-5000 status=associated\n" +
              "station signal=-50 " + c.station + "\n");
    EXPECT_EQ(link().width_mhz, c.width);
  }
}

// The noise floor: the survey entry in use, else the one on the link's frequency; entries
// without a noise figure do not count; 0 when none fits or the dump fails.
TEST_F(WifiQueries, NoiseComesFromTheSurveyEntryInUseElseFromTheLinksFrequency) {
  struct Case {
    const char* survey;
    int noise;
  } cases[] = {
      {"survey freq=5180 noise=-91\nsurvey freq=5200 noise=-95 in-use\n", -95},
      {"survey freq=5200 noise=-95 in-use\nsurvey freq=5180 noise=-91 in-use\n", -91},
      {"survey freq=2412 noise=-97\nsurvey freq=5180 noise=-91\n", -91},
      {"survey freq=5180 in-use\nsurvey freq=5180 noise=-90\n", -90},
      {"survey freq=2412 noise=-97\nsurvey freq=5200 noise=-95\n", 0},
      {"", 0},
      {"survey freq=5180 noise=-91 in-use\nfault request=survey error=-95\n", 0},
      {"survey freq=5180 noise=-91 in-use\nfault request=survey silent\n", 0},
      {"survey freq=5180 noise=0 in-use\nsurvey freq=5180 noise=-90\n", -90},  // placeholders
      {"survey freq=5180 noise=5 in-use\nsurvey freq=5180 noise=-121\n", 0},
      {"survey freq=5180 noise=-120 in-use\n", -120},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.survey);
    SetUp();
    open_with(std::string(kHome) + c.survey);
    LinkInfo info = link();
    EXPECT_EQ(info.noise, c.noise);
    EXPECT_EQ(info.rssi, -52);  // the link reply goes on whatever the survey said
  }
  // Not connected: no survey is asked for.
  SetUp();
  open_with("interface ifindex=5 name=wlan3 type=station\nsurvey freq=5180 noise=-91 in-use\n");
  EXPECT_EQ(link().noise, 0);
  EXPECT_EQ(request_kinds(), (Kinds{"family", "interfaces", "wiphy", "interfaces"}));
}

// The survey dump goes to the chosen interface, laid out like the scan dump.
TEST_F(WifiQueries, SurveyDumpNamesTheChosenInterface) {
  open_with(std::string(kHome) + "survey freq=5180 noise=-91 in-use\n");
  link();
  EXPECT_EQ(hex_of(fake_kernel_log().requests[4]),
            "1c000000200001030500000000000000320100000800030005000000");
}

TEST_F(WifiQueries, ScanReportsEachNetworksWidthFromItsElements) {
  open_with(R"(
interface ifindex=5 name=wlan3 type=station freq=5180 ssid=Home
bss freq=2412 signal=-4000 ssid=a width=40
bss freq=5180 signal=-4100 ssid=b width=80
bss freq=5500 signal=-4200 ssid=c width=160
bss freq=5975 signal=-4300 ssid=d width=320
bss freq=6135 signal=-4400 ssid=e width=80
bss freq=2437 signal=-4500 ssid=f
bss freq=2462 signal=-4600 beacon-ies= ies=none
bss freq=2462 signal=-4700 beacon-ies=none ies=none
)");
  ASSERT_EQ(scan(table_), 8);
  int widths[8] = {};
  for (int i = 0; i < 8; ++i) widths[i] = table_[i].width_mhz;
  EXPECT_EQ(std::vector<int>(widths, widths + 8),
            (std::vector<int>{40, 80, 160, 320, 80, 20, 0, 0}));
}

// Crowded air: the association probe reads the status of every record of the dump, however many.
TEST_F(WifiQueries, AssociationFarDownTheDumpIsSeen) {
  open_with(R"(
interface ifindex=5 name=wlan3 type=station freq=5180 ssid=Home
generate count=136
bss bssid=3c:84:6a:12:34:56 freq=5180 signal=-9000 status=associated ssid=Home
station signal=-17
)");
  LinkInfo info = link();
  EXPECT_EQ(info.connected, 1);
  EXPECT_EQ(info.has_bssid, 1);
  EXPECT_EQ(mac_text(info.bssid), "3c:84:6a:12:34:56");
  EXPECT_EQ(info.rssi, -17);
}

// A family that appears after start-up (a driver loaded late) is looked up again by the next
// query, once per query until it is known, and not again after that.
TEST_F(WifiQueries, FamilyThatAppearsAfterStartUpIsResolvedByTheNextQuery) {
  EXPECT_EQ(open_failure(std::string("family absent\n") + kHome),
            "nl80211 not available (No such file or directory)");
  link(-1);
  EXPECT_EQ(last_msg_, "no WiFi interface found");
  EXPECT_EQ(request_kinds(), (Kinds{"family", "family"}));

  serve_scene(kHome);
  EXPECT_EQ(link().rssi, -52);
  EXPECT_EQ(link().rssi, -52);
  EXPECT_EQ(request_kinds(),
            (Kinds{"family", "family", "family", "interfaces", "wiphy", "survey", "scan-dump",
                   "station", "interfaces", "survey", "scan-dump", "station"}));
}

// Start-up's log line tells why the interface dump failed; the page's message stays the same.
TEST_F(WifiQueries, FailedInterfaceDumpAtStartUpSaysWhy) {
  EXPECT_EQ(open_failure(std::string(kHome) + "fault request=interfaces error=-1\n"),
            "no WiFi interface found (Operation not permitted)");
  EXPECT_EQ(open_failure("interface ifindex=4 name=wlan2 type=ap\n"), "no WiFi interface found");
  link(-1);
  EXPECT_EQ(last_msg_, "no WiFi interface found");
}

// ---- scan_dump ----

constexpr char kScanScene[] = R"(
interface ifindex=5 name=wlan3 type=station freq=5180 ssid=Home
bss bssid=02:00:00:00:00:01 freq=2412 signal=-3000 ssid=A
bss bssid=02:00:00:00:00:02 freq=5180 signal=-2000 ssid=B status=associated
bss bssid=02:00:00:00:00:03 freq=2437 signal=-3000 ssid=C
bss bssid=02:00:00:00:00:04 freq=5955 signal=-2000 ssid=D
bss bssid=02:00:00:00:00:05 freq=7200 signal=-4599 ssid=E
bss bssid=02:00:00:00:00:06 freq=2484 signal=-4500 ssid=F
bss bssid=02:00:00:00:00:07 ssid=G
)";

TEST_F(WifiQueries, ScanListsRecordsStrongestFirstKeepingTheKernelsOrderForEqualSignals) {
  open_with(std::string(kScanScene) + "trigger refuse\n");
  ASSERT_EQ(scan(table_), 7) << last_msg_;
  std::string order;
  for (int i = 0; i < 7; ++i) order += table_[i].ssid;
  EXPECT_EQ(order, "BDACEFG");  // no signal attribute: unknown, last
  EXPECT_EQ(table_[6].signal_dbm, 0);
  EXPECT_EQ(table_[6].freq_mhz, 0);
  EXPECT_EQ(table_[6].channel, 0);
  EXPECT_EQ(mac_text(table_[6].bssid), "02:00:00:00:00:07");
  EXPECT_EQ(table_[0].signal_dbm, -20);
  EXPECT_EQ(table_[0].channel, 36);
  EXPECT_EQ(table_[0].associated, 1);
  EXPECT_EQ(table_[1].channel, 1);       // 5955 MHz is 6 GHz channel 1
  EXPECT_EQ(table_[4].signal_dbm, -45);  // -45.99 dBm truncates toward zero
  EXPECT_EQ(table_[4].channel, 0);       // 7200 MHz is no WiFi channel
  EXPECT_EQ(table_[4].freq_mhz, 7200);
  EXPECT_EQ(table_[5].signal_dbm, -45);
  EXPECT_EQ(table_[5].channel, 14);
  // Elements that announce no wider channel: 20 MHz.
  for (int i = 0; i < 7; ++i) EXPECT_EQ(table_[i].width_mhz, 20);
  EXPECT_EQ(last_msg_, "");
}

// A record's signal: SIGNAL_MBM when it is a measurement, else a 0..100 quality as quality/2 - 100.
TEST_F(WifiQueries, ScanSignalIsMeasuredOrMappedFromAQuality) {
  open_with(
      "trigger refuse\ninterface ifindex=5 name=wlan3 type=station\n"
      "bss signal=-4000 signal-unspec=10\nbss signal-unspec=100\nbss signal-unspec=55\n"
      "bss signal=500 signal-unspec=0\nbss signal=-12000\nbss signal=-12100\n"
      "bss signal-unspec=101\nbss signal=0\n");
  ASSERT_EQ(scan(table_), 8) << last_msg_;
  std::vector<int> signals;
  for (int i = 0; i < 8; ++i) signals.push_back(table_[i].signal_dbm);
  EXPECT_EQ(signals, (std::vector<int>{-40, -50, -73, -100, -120, 0, 0, 0}));
}

// A dump is fresh when a record was heard within the time since the scan request; without ages,
// nothing speaks against the kernel's end.
TEST(WifiScanFreshness, SomeNetworkHeardSinceTheRequest) {
  ScanEntry entries[3] = {};
  entries[0].has_seen_ms_ago = entries[1].has_seen_ms_ago = 1;
  entries[0].seen_ms_ago = 31000;
  entries[1].seen_ms_ago = 4000;
  EXPECT_TRUE(heard_since_request(entries, 3, 4000));
  EXPECT_FALSE(heard_since_request(entries, 3, 3999));
  EXPECT_FALSE(heard_since_request(entries, 1, 30000));
  EXPECT_TRUE(heard_since_request(entries + 2, 1, 0));  // no age at all
  EXPECT_TRUE(heard_since_request(entries, 0, 0));
}

TEST_F(WifiQueries, TriggerOutcomeDecidesWhatTheScanWaitsFor) {
  struct Case {
    const char* trigger;
    int wait;
  } cases[] = {{"trigger accept", kScanAwaitEvent},
               {"trigger refuse", kScanDumpNow},
               {"trigger busy", kScanAwaitEvent},
               {"fault request=scan-trigger silent", kScanDumpNow},
               {"family no-scan-group\ntrigger accept", kScanAwaitFixed},
               {"family no-scan-group\ntrigger busy", kScanDumpNow}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.trigger);
    SetUp();
    open_with(std::string(kScanScene) + c.trigger + "\n");
    EXPECT_EQ(scan(table_), 7);
    EXPECT_EQ(last_wait_, c.wait);
    EXPECT_EQ(request_kinds(),
              (Kinds{"family", "interfaces", "wiphy", "scan-trigger", "scan-dump"}));
    // The trigger goes to the chosen interface and asks for an acknowledgement.
    EXPECT_EQ(hex_of(fake_kernel_log().requests[3]).substr(8, 8), "20000500");
  }
}

TEST_F(WifiQueries, ScanNeedsTheFamilyAndAnInterface) {
  EXPECT_EQ(scan(table_), -1);
  EXPECT_EQ(last_msg_, "no WiFi interface found");
  EXPECT_EQ(fake_kernel_log().opens, 0);
}

TEST_F(WifiQueries, EmptyDumpIsZeroRecords) {
  open_with("interface ifindex=5 name=wlan3 type=station freq=5180\n");
  EXPECT_EQ(scan(table_), 0);
  EXPECT_EQ(last_msg_, "");
}

TEST_F(WifiQueries, DumpFailingBeforeAnyRecordIsAScanFailure) {
  open_with(std::string(kScanScene) + "fault request=scan-dump error=-19\n");
  EXPECT_EQ(scan(table_), -1);
  EXPECT_EQ(last_msg_, "scan failed: No such device");

  SetUp();
  open_with(std::string(kScanScene) + "fault request=scan-dump silent\n");
  EXPECT_EQ(scan(table_), -1);
  EXPECT_EQ(last_msg_, "scan failed: Resource temporarily unavailable");
}

TEST_F(WifiQueries, DumpFailingAfterSomeRecordsKeepsThem) {
  auto scene = std::make_shared<Scene>();
  std::string error;
  ASSERT_TRUE(parse_scene(kScanScene, scene.get(), &error));
  fake_kernel_respond([scene](const Bytes& request) {
    FakeReply reply = answer_from_scene(*scene, request, 0);
    if (request[16] == 32) {  // the scan dump: its records, then an error instead of the end
      reply.datagrams.back() = error_datagram(-EINTR, request);
    }
    return reply;
  });
  char msg[200] = {};
  ASSERT_EQ(wifi_open(msg, sizeof msg), 0);
  EXPECT_EQ(scan(table_), 7);
  EXPECT_EQ(last_msg_, "");
}

// A dump that failed part-way ends with NLMSG_DONE carrying the error (here the interface went
// away with its adapter): a failure when no record came, the records that came otherwise.
TEST_F(WifiQueries, DumpEndingWithAnErrorInItsDoneMessage) {
  for (bool with_records : {false, true}) {
    SCOPED_TRACE(with_records);
    SetUp();
    auto scene = std::make_shared<Scene>();
    std::string error;
    ASSERT_TRUE(parse_scene(kScanScene, scene.get(), &error));
    fake_kernel_respond([scene, with_records](const Bytes& request) {
      FakeReply reply = answer_from_scene(*scene, request, 0);
      if (request[16] != 32) return reply;
      uint32_t seq = 0;
      std::memcpy(&seq, request.data() + 8, 4);
      if (!with_records) reply.datagrams.clear();
      if (with_records) reply.datagrams.pop_back();
      reply.datagrams.push_back(done_datagram(seq, -ENODEV));
      return reply;
    });
    char msg[200] = {};
    ASSERT_EQ(wifi_open(msg, sizeof msg), 0);
    EXPECT_EQ(scan(table_), with_records ? 7 : -1);
    EXPECT_EQ(last_msg_, with_records ? "" : "scan failed: No such device");
  }
}

TEST_F(WifiQueries, FullTableKeepsTheStrongestAndTheAssociatedRecord) {
  open_with(R"(
interface ifindex=5 name=wlan3 type=station freq=5180
generate count=120 signal-start=-5000 signal-step=10
bss freq=5180 signal=-2000 ssid=Late
bss bssid=3c:84:6a:12:34:56 freq=5180 signal=-9900 status=associated ssid=Mine
)");
  EXPECT_EQ(scan(table_), 96);
  EXPECT_STREQ(table_[0].ssid, "Late");
  EXPECT_STREQ(table_[1].ssid, "Neighbour-001");
  EXPECT_STREQ(table_[94].ssid, "Neighbour-094");
  EXPECT_STREQ(table_[95].ssid, "Mine");
  EXPECT_EQ(wifi_state.assoc.known, 1);
}

// The rule on a table of three: a newcomer replaces the weakest record held when it is stronger
// or associated; among equal signals the earlier in the dump stays and comes first.
TEST_F(WifiQueries, FullTableRuleWithTiesAndTheAssociatedRecord) {
  open_with(R"(
interface ifindex=5 name=wlan3 type=station freq=5180
bss freq=5180 signal=-6000 ssid=A
bss freq=5180 signal=-4000 ssid=X
bss freq=5180 signal=-5000 ssid=B   # table full: A X B
bss freq=5180 signal=-4000 ssid=Y   # replaces A, the weakest
bss freq=5180 signal=-7000 ssid=E status=associated  # weakest of all, replaces B
bss freq=5180 signal=-4000 ssid=Z   # as strong as X and Y but later: not kept
bss freq=5180 signal=-9000 ssid=W
)");
  static ScanEntry small[3];
  ASSERT_EQ(scan(small, 3), 3);
  std::string order;
  for (const ScanEntry& entry : small) order += entry.ssid;
  EXPECT_EQ(order, "XYE");
  EXPECT_EQ(small[2].associated, 1);
}

TEST_F(WifiQueries, BeaconElementsWinOverProbeResponseElements) {
  open_with(R"(
interface ifindex=5 name=wlan3 type=station freq=5180
bss bssid=02:00:00:00:00:01 signal=-1000 beacon-ies=00024242 ies=000250500102
bss bssid=02:00:00:00:00:02 signal=-2000 beacon-ies=none ies=000250500102
bss bssid=02:00:00:00:00:03 signal=-3000 beacon-ies=none ies=none
bss bssid=02:00:00:00:00:04 signal=-4000 beacon-ies= ies=000250500102
)");
  ASSERT_EQ(scan(table_), 4);
  EXPECT_EQ(hex_of(table_[0].ies, static_cast<size_t>(table_[0].ie_len)), "00024242");
  EXPECT_STREQ(table_[0].ssid, "BB");
  EXPECT_EQ(hex_of(table_[1].ies, static_cast<size_t>(table_[1].ie_len)), "000250500102");
  EXPECT_STREQ(table_[1].ssid, "PP");
  EXPECT_EQ(table_[2].ie_len, 0);
  EXPECT_STREQ(table_[2].ssid, "");
  EXPECT_EQ(table_[3].ie_len, 0);  // an empty beacon attribute is still the beacon's
}

TEST_F(WifiQueries, ElementsAreCutAt2048Bytes) {
  open_with(R"(
interface ifindex=5 name=wlan3 type=station freq=5180
bss freq=5180 signal=-3000 ssid=Big ie-bytes=3000
bss freq=5180 signal=-4000 ssid=Exact ie-bytes=2048
)");
  ASSERT_EQ(scan(table_), 2);
  EXPECT_EQ(table_[0].ie_len, 2048);
  EXPECT_STREQ(table_[0].ssid, "Big");
  EXPECT_EQ(hex_of(table_[0].ies, 5), "0003426967");
  EXPECT_EQ(table_[1].ie_len, 2048);
}

TEST_F(WifiQueries, NetworkNameComesOnlyFromALeadingCompleteSsidElement) {
  std::string length_33 = "0021";
  for (int i = 0; i < 33; ++i) length_33 += "41";
  open_with(
      "interface ifindex=5 name=wlan3 type=station freq=5180\n"
      "bss signal=-1000 beacon-ies=010882848b9600024142\n"
      "bss signal=-2000 beacon-ies=000541424344\n"
      "bss signal=-3000 beacon-ies=0000010882\n"
      "bss signal=-4000 beacon-ies=00\n"
      "bss signal=-5000 beacon-ies=" +
      length_33 +
      "\n"
      "bss signal=-6000 beacon-ies=00034100430100\n");
  ASSERT_EQ(scan(table_), 6);
  EXPECT_STREQ(table_[0].ssid, "");  // elements stored, but the first is not the SSID
  EXPECT_EQ(table_[0].ie_len, 10);
  EXPECT_STREQ(table_[1].ssid, "");  // length byte beyond the bytes present
  EXPECT_STREQ(table_[2].ssid, "");  // hidden
  EXPECT_STREQ(table_[3].ssid, "");  // a single byte
  EXPECT_EQ(std::string(table_[4].ssid), std::string(32, 'A'));  // length 33: first 32
  EXPECT_STREQ(table_[5].ssid, "A");                             // a zero byte ends the text
}

TEST_F(WifiQueries, AssociationMemoryNeedsABssidAndKeepsTheLastAssociatedRecord) {
  open_with(R"(
interface ifindex=5 name=wlan3 type=station freq=5180
bss bssid=none signal=-1000 status=associated
bss bssid=02:00:00:00:00:0a signal=-2000 status=associated
bss bssid=02:00:00:00:00:0b signal=-3000 status=associated
bss bssid=02:00:00:00:00:0c signal=-4000 status=ibss
)");
  ASSERT_EQ(scan(table_), 4);
  EXPECT_EQ(table_[0].associated, 1);
  EXPECT_EQ(table_[0].has_bssid, 0);
  EXPECT_EQ(table_[3].associated, 0);
  EXPECT_EQ(wifi_state.assoc.known, 1);
  EXPECT_EQ(mac_text(wifi_state.assoc.bssid), "02:00:00:00:00:0b");
}

TEST(WifiTables, ChannelFromFrequency) {
  struct Case {
    int32_t freq, channel;
  } cases[] = {{2412, 1},   {2437, 6},   {2472, 13}, {2483, 15}, {2484, 14}, {2485, 0},
               {2407, 0},   {2411, 0},   {5000, 0},  {5145, 0},  {5150, 30}, {5180, 36},
               {5745, 149}, {5925, 185}, {5930, 0},  {5950, 0},  {5955, 1},  {6115, 33},
               {7115, 233}, {7125, 235}, {7130, 0},  {58320, 0}, {0, 0},     {-5, 0}};
  for (const Case& c : cases) EXPECT_EQ(channel_from_freq(c.freq), c.channel) << c.freq;
}

TEST(WifiTables, WidthFromCode) {
  const int32_t widths[] = {20, 20, 40, 80, 160, 160, 0, 0, 0, 0, 0, 0, 0, 320};
  for (int32_t code = 0; code < 14; ++code) EXPECT_EQ(width_from_code(code), widths[code]) << code;
  for (int32_t code : {-1, 14, 15, 255, INT32_MAX, INT32_MIN}) EXPECT_EQ(width_from_code(code), 0);
}

// ---- signal_sample ----

// Nothing has read the association yet: the sample reads it as link does, then asks the station.
TEST_F(WifiQueries, SampleWithoutAKnownAssociationReadsItFirst) {
  open_with(kHome);
  size_t mark = request_kinds().size();
  int32_t out = 123;
  EXPECT_EQ(signal_sample(&out), 0);
  EXPECT_EQ(out, -52);
  Kinds kinds = request_kinds();
  EXPECT_EQ(Kinds(kinds.begin() + static_cast<long>(mark), kinds.end()),
            (Kinds{"interfaces", "scan-dump", "station"}));
}

TEST_F(WifiQueries, SampleAsksForTheRememberedStation) {
  open_with(kHome);
  link();
  int32_t out = 0;
  EXPECT_EQ(signal_sample(&out), 0);
  EXPECT_EQ(out, -52);
  EXPECT_EQ(request_kinds().back(), "station");

  SetUp();
  open_with(std::string(kHome) + "station signal=-60\n");  // the byte 0xc4
  link();
  EXPECT_EQ(signal_sample(&out), 0);
  EXPECT_EQ(out, -60);
}

TEST_F(WifiQueries, SampleFailsOnKernelErrorSilenceOrMissingSignal) {
  for (const char* station : {"fault request=station error=-2", "fault request=station silent",
                              "station signal=0", "station tx-bitrate=60"}) {
    SCOPED_TRACE(station);
    SetUp();
    open_with(kHome);
    link();
    serve_scene(std::string(kHome) + station + "\n");
    int32_t out = 77;
    EXPECT_EQ(signal_sample(&out), -1);
    EXPECT_EQ(out, 77);
  }
}

// The interface lost its connection: link says so, the memory holds no association, and while
// the kernel's notifications keep it current a sample asks nothing.
TEST_F(WifiQueries, LinkOnAnUnconnectedInterfaceClearsTheAssociationMemory) {
  open_with(kHome);
  link();
  ASSERT_EQ(wifi_state.assoc.known, 1);
  ASSERT_EQ(wifi_state.follows, 1);
  serve_scene("interface ifindex=5 name=wlan3 type=station\nstation signal=-40\n");
  EXPECT_EQ(link().connected, 0);
  EXPECT_EQ(wifi_state.assoc.known, 0);
  int before = fake_kernel_log().opens;
  int32_t out = 0;
  EXPECT_EQ(signal_sample(&out), -1);
  EXPECT_EQ(fake_kernel_log().opens, before);
  // Without notifications the sample reads the association itself: one probe, no station.
  wifi_state.follows = 0;
  size_t mark = request_kinds().size();
  EXPECT_EQ(signal_sample(&out), -1);
  Kinds kinds = request_kinds();
  EXPECT_EQ(Kinds(kinds.begin() + static_cast<long>(mark), kinds.end()), Kinds{"interfaces"});
}

// ---- rate info ----

// A station reply whose transmit rate nest holds exactly `rate` (built by the test).
void serve_station_with_rate(const std::function<void(NlWriter&)>& rate) {
  NlWriter writer;
  writer.begin_message(32, 0, 1, 19);
  writer.begin_nest(nl::kAttrStaInfo);
  writer.put_u8(nl::kStaInfoSignal, 0xc4);
  writer.begin_nest(nl::kStaInfoTxBitrate);
  rate(writer);
  writer.end_nest();
  writer.begin_nest(nl::kStaInfoRxBitrate);
  rate(writer);
  writer.end_nest();
  writer.end_nest();
  writer.end_message();
  serve_script({reply_of({writer.bytes})});
}

StationInfo station_reply() {
  wifi_state.family_id = 32;
  const uint8_t mac[6] = {2, 0, 0, 0, 0, 0};
  NetlinkRequest request;
  build_station_request(&request, 5, mac);
  StationInfo station{};
  station.nss = -7;  // "left as it was" shows as -7
  station.tx_mbps = -1;
  station.rx_mbps = -1;
  EXPECT_EQ(netlink_exchange(request, on_station, &station), 0);
  return station;
}

using WifiRates = WifiTest;

TEST_F(WifiRates, RateIsBitrate32ElseBitrateInTenthsOfAMegabit) {
  serve_station_with_rate([](NlWriter& w) { w.put_u16(nl::kRateBitrate, 65); });
  StationInfo s = station_reply();
  EXPECT_EQ(s.signal_dbm, -60);
  EXPECT_DOUBLE_EQ(s.tx_mbps, 6.5);
  EXPECT_DOUBLE_EQ(s.rx_mbps, 6.5);
  EXPECT_EQ(s.nss, -7);
  EXPECT_EQ(s.width_mhz, 20);

  serve_station_with_rate([](NlWriter& w) {
    w.put_u16(nl::kRateBitrate, 65);
    w.put_u32(nl::kRateBitrate32, 28820);
  });
  EXPECT_DOUBLE_EQ(station_reply().tx_mbps, 2882.0);

  serve_station_with_rate([](NlWriter&) {});
  s = station_reply();
  EXPECT_DOUBLE_EQ(s.tx_mbps, -1);  // no rate: left as it was
  EXPECT_DOUBLE_EQ(s.rx_mbps, -1);
}

TEST_F(WifiRates, StreamsFromEhtHeVhtNssElseFromTheHtMcs) {
  struct Case {
    std::function<void(NlWriter&)> rate;
    int nss;
  } cases[] = {
      {[](NlWriter& w) { w.put_u8(nl::kRateMcs, 15); }, 2},
      {[](NlWriter& w) { w.put_u8(nl::kRateMcs, 7); }, 1},
      {[](NlWriter& w) { w.put_u8(nl::kRateMcs, 31); }, 4},
      {[](NlWriter& w) {
         w.put_u8(nl::kRateMcs, 7);
         w.put_u8(nl::kRateVhtNss, 3);
       },
       3},
      {[](NlWriter& w) {
         w.put_u8(nl::kRateVhtNss, 4);
         w.put_u8(nl::kRateHeNss, 2);
       },
       2},
      {[](NlWriter& w) {
         w.put_u8(nl::kRateHeNss, 2);
         w.put_u8(nl::kRateEhtNss, 1);
       },
       1},
  };
  for (const Case& c : cases) {
    serve_station_with_rate(c.rate);
    EXPECT_EQ(station_reply().nss, c.nss);
  }
}

TEST_F(WifiRates, WidthFlagsInOrderOfPrecedence) {
  struct Case {
    std::vector<uint16_t> flags;
    int width;
  } cases[] = {{{}, 20},
               {{nl::kRate40MhzWidth}, 40},
               {{nl::kRate40MhzWidth, nl::kRate80MhzWidth}, 80},
               {{nl::kRate80p80MhzWidth}, 160},
               {{nl::kRate160MhzWidth, nl::kRate80MhzWidth}, 160},
               {{nl::kRate160MhzWidth, nl::kRate320MhzWidth}, 320}};
  for (const Case& c : cases) {
    serve_station_with_rate([&](NlWriter& w) {
      for (uint16_t flag : c.flags) w.put_flag(flag);
    });
    EXPECT_EQ(station_reply().width_mhz, c.width);
  }
}

TEST_F(WifiRates, TruncatedValuesCountAsAbsent) {
  serve_station_with_rate([](NlWriter& w) {
    w.put(nl::kRateBitrate32, Bytes{1, 2});  // too short for a u32: the u16 rate is used
    w.put_u16(nl::kRateBitrate, 60);
    w.put(nl::kRateEhtNss, Bytes{});  // empty: the next source of streams is used
    w.put_u8(nl::kRateHeNss, 2);
  });
  StationInfo s = station_reply();
  EXPECT_DOUBLE_EQ(s.tx_mbps, 6.0);
  EXPECT_EQ(s.nss, 2);

  serve_station_with_rate([](NlWriter& w) {
    w.put(nl::kRateBitrate, Bytes{9});
    w.put(nl::kRateMcs, Bytes{});
  });
  s = station_reply();
  EXPECT_DOUBLE_EQ(s.tx_mbps, -1);
  EXPECT_EQ(s.nss, -7);
}

TEST_F(WifiRates, StationReplyWithoutStationInfoOrSignalLeavesZero) {
  NlWriter writer;
  writer.begin_message(32, 0, 1, 19);
  writer.put_u32(nl::kAttrIfindex, 5);
  writer.end_message();
  serve_script({reply_of({writer.bytes})});
  StationInfo s = station_reply();
  EXPECT_EQ(s.signal_dbm, 0);
  EXPECT_EQ(s.nss, -7);

  NlWriter empty_signal;
  empty_signal.begin_message(32, 0, 1, 19);
  empty_signal.begin_nest(nl::kAttrStaInfo, true);
  empty_signal.put(nl::kStaInfoSignal, Bytes{});
  empty_signal.end_nest();
  empty_signal.end_message();
  serve_script({reply_of({empty_signal.bytes})});
  EXPECT_EQ(station_reply().signal_dbm, 0);
}

}  // namespace
