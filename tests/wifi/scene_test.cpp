// The stand-in kernel's scenes: the text format, and replies that look like the recorded ones.
#include <linux/netlink.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "expected_json.h"
#include "recordings.h"
#include "wifi/interface.h"
#include "wifi/kernel_port.h"
#include "wifi/nl80211_codes.h"
#include "wifi/requests.h"
#include "wifi/wifi.h"
#include "wifi_test_support.h"

namespace {

TEST(WifiScene, ErrorsNameTheLineAndWhatIsWrong) {
  expect_scene_errors({
      {"# fine\nbogus x=1\n", "line 2: unknown directive 'bogus'"},
      {"bss colour=red", "line 1: unknown field 'colour=red' for bss"},
      {"bss freq=abc", "line 1: bad freq 'abc' (expected 0..4294967295)"},
      {"bss bssid=02:00:00", "line 1: bad bssid '02:00:00'"},
      {"bss ssid=a hidden", "line 1: give only one of ssid=, ssid-hex= and hidden"},
      {"bss ies=0g", "line 1: bad ies (hex bytes, or none)"},
      {"interface type=router", "line 1: bad type 'router'"},
      {"station tx-width=30", "line 1: bad tx-width '30' (20, 40, 80, 80p80, 160 or 320)"},
      {"fault request=station", "line 1: fault needs silent, or error=-N and/or delay-ms=N"},
      {"fault request=station silent delay-ms=5",
       "line 1: fault needs silent, or error=-N and/or delay-ms=N"},
      {"fault request=link silent",
       "line 1: fault needs request=family|interfaces|scan-trigger|scan-dump|station|survey"},
      {"scan-wait-ms soon", "line 1: scan-wait-ms needs a number of milliseconds"},
      {"survey noise=-90", "line 1: survey needs freq=MHz"},
      {"survey freq=2412 noise=-200", "line 1: bad noise '-200' (expected -128..127)"},
      {"survey freq=2412 busy", "line 1: unknown field 'busy' for survey"},
      {"bss freq=2412 width=80",
       "line 1: width=80 does not exist at 2412 MHz (2.4 GHz: 20, 40; 5 GHz: 20 to 160; 6 "
       "GHz: 20 to 320)"},
  });
  EXPECT_NE(scene_error("bss ssid=a ie-bytes=10").find("cannot hold the elements"),
            std::string::npos);
  EXPECT_EQ(scene_error("bss freq=5180 width=30").substr(0, 21), "line 1: width=30 does");
  EXPECT_NE(scene_error("bss width=40 beacon-ies=00 ies=00").find("give the width's elements"),
            std::string::npos);
}

TEST(WifiScene, WidthAddsTheOperationElementsToBothBuiltSets) {
  Scene scene;
  std::string error;
  ASSERT_TRUE(
      parse_scene("bss freq=5180 ssid=a width=80\nbss freq=5180 ssid=a\n"
                  "survey freq=5180 noise=-91 in-use\nsurvey freq=5200\n",
                  &scene, &error))
      << error;
  ASSERT_EQ(scene.bss.size(), 2u);
  // HT operation (primary 36, secondary above, any width), then VHT operation (80, centre 42).
  std::string ht =
      "3d16"
      "2405" +
      std::string(40, '0');
  std::string vht =
      "c005"
      "012a00fcff";
  // Each after the capabilities element an access point sends with it.
  std::string caps = "2d1a" + std::string(52, '0') + "bf0c" + std::string(24, '0');
  std::string plain_beacon = hex_of(*scene.bss[1].beacon_ies);
  std::string plain_probe = hex_of(*scene.bss[1].ies);
  EXPECT_EQ(hex_of(*scene.bss[0].beacon_ies), plain_beacon + caps + ht + vht);
  EXPECT_EQ(hex_of(*scene.bss[0].ies), plain_probe + caps + ht + vht);
  ASSERT_EQ(scene.survey.size(), 2u);
  EXPECT_EQ(scene.survey[0].noise_dbm, -91);
  EXPECT_TRUE(scene.survey[0].in_use);
  EXPECT_FALSE(scene.survey[1].noise_dbm.has_value());
  EXPECT_FALSE(scene.survey[1].in_use);
}

TEST(WifiScene, DemoSceneHasTheAdvertisedNetworks) {
  Scene scene;
  std::string error;
  ASSERT_TRUE(parse_scene(demo_scene_text(), &scene, &error)) << error;
  EXPECT_EQ(scene.name, "demo");
  EXPECT_EQ(scene.trigger_result, 0);
  bool bands[3] = {};
  int associated = 0;
  bool hidden = false;
  bool odd = false;
  for (const SceneBss& bss : scene.bss) {
    uint32_t f = bss.freq.value_or(0);
    bands[f < 3000 ? 0 : f < 5950 ? 1 : 2] = true;
    associated += bss.status == 1u;
    const Bytes& ies = *bss.beacon_ies;
    hidden = hidden || (ies[0] == 0 && ies[1] == 0);
    odd = odd ||
          hex_of(Bytes(ies.begin() + 2, ies.begin() + 2 + ies[1])) == "5361792022686922205cfffe";
  }
  EXPECT_TRUE(bands[0] && bands[1] && bands[2]);
  EXPECT_EQ(associated, 1);
  EXPECT_TRUE(hidden);
  EXPECT_TRUE(odd);
  EXPECT_TRUE(scene.station.present);
  EXPECT_GT(scene.station.swing_db, 0);
}

TEST(WifiScene, SwingingSignalStaysWithinItsRangeAndNeverReadsZero) {
  SceneStation station;
  station.signal_dbm = -3;
  station.swing_db = 6;
  station.period_ms = 1000;
  int low = 0;
  int high = -100;
  for (uint64_t t = 0; t < 2000; ++t) {
    int signal = station_signal_at(station, t);
    EXPECT_NE(signal, 0);
    low = std::min(low, signal);
    high = std::max(high, signal);
  }
  EXPECT_EQ(low, -9);
  EXPECT_EQ(high, 3);
  station.swing_db = 0;
  EXPECT_EQ(station_signal_at(station, 123), -3);
}

using WifiSceneKernel = WifiTest;

// The stand-in's framing of acknowledgements, errors and the end of a dump is the kernel's, byte
// for byte apart from the port id.
TEST_F(WifiSceneKernel, AckErrorAndDoneAreLaidOutAsRecorded) {
  auto without_pid = [](Bytes bytes) {
    std::memset(bytes.data() + 12, 0, 4);
    return hex_of(bytes);
  };
  for (const char* user : {"root", "nobody"}) {
    std::string folder = kFixtures + "/default/" + user;
    Bytes trigger = recorded_request(folder, 9);
    Bytes recorded = read_file_bytes(folder + "/09-scan-trigger-0.bin");
    EXPECT_EQ(without_pid(error_datagram(std::string(user) == "root" ? 0 : -EPERM, trigger)),
              without_pid(recorded));
    EXPECT_EQ(without_pid(done_datagram(2)),
              without_pid(read_file_bytes(folder + "/02-interfaces-1.bin")));
  }
}

// A scene written after the `default` recording gives the values the recording gives.
TEST_F(WifiSceneKernel, SceneOfTheDefaultRecordingGivesItsExpectedValues) {
  serve_scene(R"(
interface type=p2p-device wiphy=3
interface ifindex=5 name=wlan3 type=station wiphy=3 freq=5180 width=3 cf1=5210 ssid=LabNet
interface ifindex=4 name=wlan2 type=ap wiphy=2 freq=2462 width=1 cf1=2462 ssid=LabHidden
interface ifindex=3 name=wlan1 type=ap wiphy=1 freq=2437 width=1 ssid-hex=4f646420225353494422205c20636166c3a9
interface ifindex=2 name=wlan0 type=ap wiphy=0 freq=5180 width=3 cf1=5210 ssid=LabNet
bss bssid=02:00:00:00:00:00 freq=5180 signal=-2700 status=associated ssid=LabNet width=80 ie-bytes=180
bss bssid=02:00:00:00:01:00 freq=2437 signal=-3000 ssid-hex=4f646420225353494422205c20636166c3a9 ie-bytes=140
bss bssid=02:00:00:00:02:00 freq=2462 signal=-3000 hidden ie-bytes=144
station signal=-27 tx-bitrate=60 rx-bitrate=60
trigger accept
)");
  JsonValue expected = load_expected(kFixtures + "/default/root");
  char msg[200] = {};
  ASSERT_EQ(wifi_open(msg, sizeof msg), 0) << msg;
  LinkInfo link{};
  ASSERT_EQ(link_query(&link, msg, sizeof msg), 0);
  expect_link(link, expected["link"], "802.11ac");
  static ScanTable table;
  EXPECT_EQ(scan_trigger(), kScanAwaitEvent);
  ASSERT_EQ(scan_dump(table, kScanCapacity, msg, sizeof msg), 3);
  std::map<std::string, int> widths = iw_widths(kFixtures + "/default");
  for (size_t i = 0; i < 3; ++i) expect_entry(table[i], expected["scan"][i], widths);
  int32_t sample = 0;
  EXPECT_EQ(signal_sample(&sample), 0);
  EXPECT_EQ(sample, expected["live_sample_dbm"].as_int());
  // "scan", then "mlme" and "config", numbered as the family reply lists them.
  EXPECT_EQ(fake_kernel_log().event_groups, (std::vector<uint32_t>{10, 12, 9}));
}

// One survey entry as the stand-in sends it, against the payload that iw --debug showed for the
// same request in the real-kernel test (Debian's 6.1 kernel, mac80211_hwsim on 5180 MHz): the
// interface, then the nest of frequency, noise and the two channel times, whose values differ.
TEST_F(WifiSceneKernel, SurveyEntryIsLaidOutAsTheKernelSendsIt) {
  Scene scene;
  std::string error;
  ASSERT_TRUE(parse_scene("interface ifindex=5 name=wlan3 freq=5180\nsurvey freq=5180 noise=-92\n",
                          &scene, &error))
      << error;
  wifi_state.family_id = 32;
  NetlinkRequest request;
  build_survey_dump_request(&request, 5);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&request);
  FakeReply reply = answer_from_scene(scene, Bytes(bytes, bytes + request.nlmsg_len), 0);
  ASSERT_EQ(reply.datagrams.size(), 2u);  // the entry, then NLMSG_DONE on its own
  Bytes message = reply.datagrams[0];
  ASSERT_EQ(message.size(), 72u);
  EXPECT_EQ(message[16], 51);  // NL80211_CMD_NEW_SURVEY_RESULTS
  std::string payload = hex_of(Bytes(message.begin() + 20, message.end()));
  payload.replace(64, 16, 16, 'x');  // channel time
  payload.replace(88, 16, 16, 'x');  // channel busy time
  EXPECT_EQ(payload,
            "0800030005000000"
            "2c005400"
            "080001003c140000"
            "05000200a4000000"
            "0c000400xxxxxxxxxxxxxxxx"
            "0c000500xxxxxxxxxxxxxxxx");
}

TEST_F(WifiSceneKernel, BenchmarkSceneServes96NetworksOf2048ElementBytes) {
  LinkInfo link{};
  std::shared_ptr<Scene> scene;
  ASSERT_NO_FATAL_FAILURE(open_scene_file("bench-96.scene", &link, &scene));
  EXPECT_EQ(link.has_bssid, 1);
  char msg[200] = {};
  static ScanTable table;
  ASSERT_EQ(scan_dump(table, kScanCapacity, msg, sizeof msg), 96) << msg;
  int mine = 0;
  for (const ScanEntry& entry : table) {
    EXPECT_EQ(entry.ie_len, 2048);
    EXPECT_NE(entry.ssid[0], '\0');
    mine += entry.associated;
  }
  EXPECT_EQ(mine, 1);

  // The dump arrives as the kernel sends a large one: several datagrams, then NLMSG_DONE alone.
  wifi_state.family_id = 32;
  NetlinkRequest request;
  build_scan_dump_request(&request, wifi_state.ifindex);
  Bytes bytes(reinterpret_cast<uint8_t*>(&request),
              reinterpret_cast<uint8_t*>(&request) + request.nlmsg_len);
  FakeReply reply = answer_from_scene(*scene, bytes, 0);
  ASSERT_GT(reply.datagrams.size(), 3u);
  for (const Bytes& datagram : reply.datagrams) EXPECT_LE(datagram.size(), 32768u);
  EXPECT_EQ(reply.datagrams.back().size(), 20u);
}

}  // namespace

// The stand-in's notifications of a roam and a lost access point, against those the recorded
// 6.1 kernel sent (fixtures/roam): the DISCONNECTs byte for byte, the others attribute by
// attribute (the CONNECT's elements are the stand-in's own).
TEST_F(WifiSceneKernel, RoamNotificationsAreLaidOutAsRecorded) {
  auto scene = std::make_shared<Scene>();
  std::string error;
  ASSERT_TRUE(parse_scene(R"(
interface ifindex=4 name=wlan2 wiphy=2 freq=5200 width=2 ssid-hex=54776f20526f6f6d73
bss bssid=02:00:00:00:01:00 freq=5200 signal=-3000 status=associated ssid-hex=54776f20526f6f6d73
bss bssid=02:00:00:00:00:00 freq=2437 signal=-3000 ssid-hex=54776f20526f6f6d73
station signal=-30
roam at=0 bssid=02:00:00:00:00:00 gap-ms=10
disconnect at=20
)",
                          scene.get(), &error))
      << error;
  fake_kernel_respond(scene_responder(scene));
  int fd = kernel_events_open(10);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(kernel_events_join(fd, 12), 0);
  std::vector<Bytes> got;
  for (int waited = 0; got.size() < 6 && waited < 2000; waited += 5) {
    uint8_t buffer[4096];
    long size = kernel_events_recv(fd, buffer, sizeof buffer);
    if (size > 0) {
      got.emplace_back(buffer, buffer + size);
    } else {
      usleep(5000);
    }
  }
  ASSERT_EQ(got.size(), 6u);
  // Attribute types in order and the first MAC address, as the table in fixtures/roam lists.
  auto shape = [](const Bytes& datagram) {
    std::ostringstream text;
    text << int{datagram[16]} << ":";
    for (size_t at = 20; at + 4 <= datagram.size();) {
      uint16_t len = 0, type = 0;
      std::memcpy(&len, datagram.data() + at, 2);
      std::memcpy(&type, datagram.data() + at + 2, 2);
      if (len < 4) break;
      text << " " << (type & 0x3fff);
      if ((type & 0x3fff) == nl::kAttrMac) text << "=" << hex_of(datagram.data() + at + 4, 6);
      at += (len + 3u) & ~3u;
    }
    return text.str();
  };
  const std::string dir = kFixtures + "/roam/";
  EXPECT_EQ(shape(got[0]), shape(read_file_bytes(dir + "000-mlme-20.bin")));
  EXPECT_EQ(hex_of(got[1]), hex_of(read_file_bytes(dir + "002-mlme-48.bin")));
  EXPECT_EQ(shape(got[2]), shape(read_file_bytes(dir + "003-mlme-19.bin")));
  EXPECT_EQ(shape(got[3]), shape(read_file_bytes(dir + "009-mlme-46.bin")));
  EXPECT_EQ(shape(got[4]), shape(read_file_bytes(dir + "015-mlme-20.bin")));
  EXPECT_EQ(hex_of(got[5]), hex_of(read_file_bytes(dir + "017-mlme-48.bin")));
  // The association request's elements start with the network's name, as the kernel's do.
  const Bytes recorded = read_file_bytes(dir + "009-mlme-46.bin");
  const Bytes name = {0x00, 0x09, 'T', 'w', 'o', ' ', 'R', 'o', 'o', 'm', 's'};
  EXPECT_NE(std::search(got[3].begin(), got[3].end(), name.begin(), name.end()), got[3].end());
  EXPECT_NE(std::search(recorded.begin(), recorded.end(), name.begin(), name.end()),
            recorded.end());
}
