// Multi-link (Wi-Fi 7) associations: the datagrams recorded from a real kernel replayed, and the
// stand-in's multi-link scenes.
#include <linux/genetlink.h>

#include "recordings.h"
#include "wifi/interface.h"
#include "wifi/requests.h"
#include "wifi/station.h"
#include "wifi/wifi.h"
#include "wifi_test_support.h"

namespace {

const std::string kMlo = kFixtures + "/mlo";
const uint8_t kMld[6] = {0x02, 0, 0, 0, 0, 0};
constexpr char kLink1Bssid[] = "02:00:00:8a:93:d7";  // the later of the two associated records

// The recorded datagrams of each kind of request, whatever its sequence number: the helper now
// asks for the scan dump and the station (by the AP MLD address) inside the link query, where
// the recorder, sending the requests of the helper that stopped at "not connected", did not.
FakeReply recorded_reply_of_kind(const Bytes& request) {
  uint16_t type = 0;
  std::memcpy(&type, request.data() + 4, 2);
  std::string name;
  if (type == GENL_ID_CTRL) {
    name = "01-family";
  } else if (request[16] == 5) {
    name = "02-interfaces";
  } else if (request[16] == 33) {
    name = "05-scan-trigger";
  } else if (request[16] == 32) {
    name = "06-scan-dump";
  } else if (request[16] == 17) {
    name = std::memcmp(request.data() + 32, kMld, 6) == 0 ? "08-station-by-address" : "07-station";
  }
  FakeReply reply;
  if (request[16] == 50) {  // the recorder sent no survey request: an empty dump
    uint32_t seq = 0;
    std::memcpy(&seq, request.data() + 8, 4);
    reply.datagrams.push_back(done_datagram(seq));
    return reply;
  }
  for (int k = 0; !name.empty(); ++k) {
    Bytes datagram = read_file_bytes(kMlo + "/" + name + "-" + std::to_string(k) + ".bin");
    if (datagram.empty()) break;
    reply.datagrams.push_back(datagram);
  }
  return reply;
}

std::string station_request_mac(const Bytes& request) {
  return request.size() == 40 && request[16] == 17 ? mac_text(request.data() + 32) : "";
}

// "id bssid freq/channel/width rssi" of each link, comma-separated.
std::string links_text(const LinkInfo& link) {
  std::string text;
  for (int32_t i = 0; i < link.link_count; ++i) {
    const LinkEntry& e = link.links[i];
    text += (i > 0 ? ", " : "") + std::to_string(e.link_id) + " " +
            (e.has_bssid ? mac_text(e.bssid) : "-") + " " + std::to_string(e.freq_mhz) + "/" +
            std::to_string(e.channel) + "/" + std::to_string(e.width_mhz) + " " +
            std::to_string(e.rssi);
  }
  return text;
}

// The link of the recorded state: link 0 (5180 MHz, 20 MHz wide) is the one in use; the name
// comes from the BSS records, the signal and receive rate from the station of the AP MLD, the
// generation from the EHT capabilities of its beacons. Both links as iw lists them.
void expect_recorded_link(const LinkInfo& link) {
  EXPECT_EQ(link_text(link),
            "connected=1 iface=wlan1 ssid=MLO-Home rssi=-50 noise=0 tx=0 rx=6 channel=36 "
            "freq=5180 width=20 nss=0 phy=802.11be has_bssid=1 bssid=02:00:00:8a:93:d7");
  EXPECT_EQ(links_text(link),
            "0 02:00:00:a1:50:20 5180/36/20 0, 1 02:00:00:8a:93:d7 5745/149/20 0");
}

using MultiLinkReplay = WifiTest;

TEST_F(MultiLinkReplay, EachRecordedExchangeDecodes) {
  std::string error;
  FakeResponder responder = recordings_responder(kMlo, &error);
  ASSERT_TRUE(responder) << error;
  fake_kernel_respond(responder);
  wifi_state.family_id = 37;
  NetlinkRequest request;

  wifi_state.seq = 2;
  build_interface_dump_request(&request);
  InterfacePick pick = fresh_interface_pick();
  EXPECT_EQ(netlink_exchange(request, on_interface, &pick), 0);
  EXPECT_EQ(pick.ifindex, 3);
  EXPECT_STREQ(pick.ifname, "wlan1");
  EXPECT_EQ(pick.has_freq, 1);
  EXPECT_EQ(pick.freq_mhz, 5180u);
  EXPECT_EQ(pick.width_code, 1);
  EXPECT_STREQ(pick.ssid, "");
  ASSERT_EQ(pick.link_count, 2);
  EXPECT_EQ(pick.links[0].id, 0);
  EXPECT_EQ(pick.links[1].id, 1);
  EXPECT_EQ(pick.links[1].freq_mhz, 0u);  // set up, but no channel reported
  EXPECT_EQ(pick.links[1].width_code, -1);

  wifi_state.seq = 6;
  build_scan_dump_request(&request, 3);
  static ScanTable table;
  ScanCollector collector{table, kScanCapacity, 0, {}};
  EXPECT_EQ(netlink_exchange(request, on_bss, &collector), 0);
  ASSERT_EQ(collector.count, 2);
  EXPECT_EQ(table[0].associated + table[1].associated, 2);
  EXPECT_STREQ(table[1].ssid, "MLO-Home");
  EXPECT_EQ(collector.found.known, 1);
  EXPECT_EQ(mac_text(collector.found.bssid), kLink1Bssid);
  EXPECT_EQ(collector.found.has_mld, 1);
  EXPECT_EQ(mac_text(station_address(collector.found)), "02:00:00:00:00:00");

  wifi_state.seq = 7;  // a link's BSSID: the kernel has no such station
  build_station_request(&request, 3, table[1].bssid);
  StationInfo station{};
  EXPECT_EQ(netlink_exchange(request, on_station, &station), -ENOENT);

  wifi_state.seq = 8;
  build_station_request(&request, 3, kMld);
  EXPECT_EQ(netlink_exchange(request, on_station, &station), 0);
  EXPECT_EQ(station.signal_dbm, -50);
  EXPECT_DOUBLE_EQ(station.rx_mbps, 6.0);
  EXPECT_DOUBLE_EQ(station.tx_mbps, 0.0);
  EXPECT_EQ(station.has_link_id, 1);
  EXPECT_EQ(station.link_id, 0);

  for (const Bytes& sent : fake_kernel_log().requests) {
    uint32_t seq = 0;
    std::memcpy(&seq, sent.data() + 8, 4);
    EXPECT_EQ(hex_of(sent), hex_of(recorded_request(kMlo, static_cast<int>(seq)))) << seq;
  }
}

// The helper's own sequence over the recorded replies: start-up, a link command, live samples,
// a scan command.
TEST_F(MultiLinkReplay, LinkAndLiveSamplesAskTheApMld) {
  fake_kernel_respond(recorded_reply_of_kind);
  char msg[200] = {};
  ASSERT_EQ(wifi_open(msg, sizeof msg), 0) << msg;
  EXPECT_EQ(wifi_state.family_id, 37);
  EXPECT_EQ(wifi_state.ifindex, 3);

  LinkInfo link{};
  ASSERT_EQ(link_query(&link, msg, sizeof msg), 0);
  expect_recorded_link(link);
  // With the wiphy dump at start-up and the survey dump before the scan dump.
  ASSERT_EQ(fake_kernel_log().requests.size(), 7u);
  EXPECT_EQ(station_request_mac(fake_kernel_log().requests[6]), "02:00:00:00:00:00");

  int32_t sample = 0;
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(signal_sample(&sample), 0);
    EXPECT_EQ(sample, -50);
    EXPECT_EQ(station_request_mac(fake_kernel_log().requests.back()), "02:00:00:00:00:00");
  }

  LinkInfo scan_link{};
  ASSERT_EQ(link_query(&scan_link, msg, sizeof msg), 0);
  expect_recorded_link(scan_link);
  static ScanTable table;
  EXPECT_NE(scan_trigger(), kScanDumpNow);  // accepted: the scan command waits for its end
  ASSERT_EQ(scan_dump(table, kScanCapacity, msg, sizeof msg), 2) << msg;
}

using MultiLinkScene = WifiTest;

// The stand-in's multi-link layout gives what the recording gives.
TEST_F(MultiLinkScene, SceneOfTheRecordingGivesTheRecordedLink) {
  LinkInfo link{};
  ASSERT_NO_FATAL_FAILURE(open_scene_file("wifi7-mlo.scene", &link));
  expect_recorded_link(link);
  int32_t sample = 0;
  ASSERT_EQ(signal_sample(&sample), 0);
  EXPECT_EQ(sample, -50);

  // A request for a link's BSSID meets ENOENT, as the kernel's did.
  NetlinkRequest request;
  build_station_request(&request, 3, link.bssid);
  StationInfo station{};
  EXPECT_EQ(netlink_exchange(request, on_station, &station), -ENOENT);
}

TEST_F(MultiLinkScene, LinkInUseGivesChannelWidthAndItsOwnStationFigures) {
  serve_scene(R"(
interface ifindex=3 name=wlan1
mlo-link id=0 freq=2437 width=1
mlo-link id=1 freq=5955 width=13
mlo-link id=2 freq=5745 width=3
bss bssid=02:00:00:00:00:10 freq=2437 signal=-6000 status=associated ssid=Home
mlo-bss link=0 mld=0a:00:00:00:00:01
bss bssid=02:00:00:00:00:11 freq=5955 signal=-4000 status=associated beacon-ies=dd0400000000000148 ies=none
mlo-bss link=1 mld=0a:00:00:00:00:01
station signal=-60 tx-bitrate=60 rx-bitrate=60
mlo-station link=1
mlo-station-link id=0 signal=-70 tx-bitrate=10
mlo-station-link id=1 signal=-41 tx-bitrate=57640 tx-eht-nss=2 tx-width=320
)");
  char msg[200] = {};
  ASSERT_EQ(wifi_open(msg, sizeof msg), 0) << msg;
  LinkInfo link{};
  ASSERT_EQ(link_query(&link, msg, sizeof msg), 0);
  EXPECT_EQ(link.freq_mhz, 5955);
  EXPECT_EQ(link.channel, 1);
  EXPECT_EQ(link.width_mhz, 320);
  EXPECT_EQ(link.rssi, -41);
  EXPECT_DOUBLE_EQ(link.tx_mbps, 5764.0);
  EXPECT_EQ(link.nss, 2);
  EXPECT_DOUBLE_EQ(link.rx_mbps, 6.0);  // the link gives no receive rate: the MLD's
  // The name from the associated record's SSID element, found after a vendor element.
  EXPECT_STREQ(link.ssid, "H");
  EXPECT_STREQ(link.phy, "802.11be");  // from the rate: the elements announce no generation
  EXPECT_EQ(links_text(link),
            "0 02:00:00:00:00:10 2437/6/20 -70, 1 02:00:00:00:00:11 5955/1/320 "
            "-41, 2 - 5745/149/80 0");
  int32_t sample = 0;
  ASSERT_EQ(signal_sample(&sample), 0);
  EXPECT_EQ(sample, -41);
}

TEST_F(MultiLinkScene, InterfaceWithLinksWeighsAsHavingAFrequency) {
  // A station without a channel listed first gives way to a multi-link one...
  serve_scene(R"(
interface ifindex=2 name=wlan0
interface ifindex=3 name=wlan1
mlo-link id=1 freq=5745 width=1
interface ifindex=4 name=wlan2 freq=2412
)");
  char msg[200] = {};
  ASSERT_EQ(wifi_open(msg, sizeof msg), 0) << msg;
  LinkInfo link{};
  ASSERT_EQ(link_query(&link, msg, sizeof msg), 0);
  EXPECT_STREQ(link.iface, "wlan1");
  EXPECT_EQ(link.connected, 1);
  EXPECT_EQ(link.freq_mhz, 5745);
  EXPECT_EQ(link.channel, 149);

  // ...and one whose links carry no channel yet stays chosen, but is not connected.
  serve_scene(R"(
interface ifindex=3 name=wlan1
mlo-link id=0
interface ifindex=4 name=wlan2 freq=2412
)");
  LinkInfo idle{};
  size_t before = fake_kernel_log().requests.size();
  ASSERT_EQ(link_query(&idle, msg, sizeof msg), 0);
  EXPECT_STREQ(idle.iface, "wlan1");
  EXPECT_EQ(idle.connected, 0);
  EXPECT_EQ(idle.freq_mhz, 0);
  EXPECT_EQ(fake_kernel_log().requests.size(), before + 1);  // the interface dump only
}

// Broken link nests: a link without an id, a truncated frequency, a station link nest cut short.
TEST_F(MultiLinkScene, BrokenLinkNestsAreSkipped) {
  NlWriter dump;
  dump.begin_message(32, 2, 2, 7);
  dump.put_u32(3, 3);
  dump.put_u32(5, 2);
  dump.begin_nest(312, true);
  dump.begin_nest(1, true);
  dump.put_u32(38, 2412);  // no link id
  dump.end_nest();
  dump.begin_nest(2, true);
  dump.put_u8(313, 1);
  dump.put_u16(38, 5180);  // too short for a frequency
  dump.end_nest();
  dump.begin_nest(3, true);
  dump.put_u8(313, 2);
  dump.put_u32(38, 5745);
  dump.end_nest();
  dump.end_nest();
  dump.end_message();
  NlWriter sta;
  sta.begin_message(32, 0, 3, 19);
  sta.begin_nest(21);
  sta.put_u8(7, static_cast<uint8_t>(-55));
  sta.end_nest();
  sta.put_u8(313, 2);
  sta.begin_nest(312, true);
  sta.raw(Bytes{0x30, 0x00, 0x03, 0x80, 0x05, 0x00, 0x39, 0x01, 0x02});  // claims more than sent
  sta.end_nest();
  sta.end_message();
  serve_script({reply_of({dump.bytes, done_datagram(2)}), reply_of({sta.bytes})});
  wifi_state.family_id = 32;
  NetlinkRequest request;
  build_interface_dump_request(&request);
  InterfacePick pick = fresh_interface_pick();
  EXPECT_EQ(netlink_exchange(request, on_interface, &pick), 0);
  ASSERT_EQ(pick.link_count, 2);
  EXPECT_EQ(pick.freq_mhz, 5745u);  // link 1's frequency did not count
  build_station_request(&request, 3, kMld);
  StationInfo station{};
  EXPECT_EQ(netlink_exchange(request, on_station, &station), 0);
  EXPECT_EQ(station.signal_dbm, -55);
  EXPECT_EQ(station.link_id, 2);
}

TEST(MultiLinkSceneFormat, ErrorsNameTheLineAndWhatIsWrong) {
  expect_scene_errors({
      {"mlo-link id=0", "line 1: mlo-link needs an interface line before it"},
      {"interface\nmlo-link id=15", "line 2: bad id '15' (expected 0..14)"},
      {"interface\nmlo-link\nmlo-link id=0", "line 3: mlo-link id=0 given twice"},
      {"mlo-bss mld=02:00:00:00:00:00", "line 1: mlo-bss needs a bss line before it"},
      {"bss\nmlo-bss link=1", "line 2: mlo-bss needs mld=MAC"},
      {"mlo-station-link id=1 colour=red",
       "line 1: unknown field 'colour=red' for mlo-station-link"},
  });
}

}  // namespace
