// The datagrams recorded from a real kernel, replayed in order: what the helper extracts must be
// exactly what each folder's expected.json says.
#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>

#include "expected_json.h"
#include "recordings.h"
#include "wifi/association_events.h"
#include "wifi/interface.h"
#include "wifi/nl80211_codes.h"
#include "wifi/requests.h"
#include "wifi/station.h"
#include "wifi/wifi.h"
#include "wifi_test_support.h"

namespace {

class Replay : public WifiTest, public testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    WifiTest::SetUp();
    folder_ = kFixtures + "/" + GetParam();
    expected_ = load_expected(folder_);
    widths_ = iw_widths(folder_.substr(0, folder_.rfind('/')));
    std::string error;
    recordings_ = recordings_responder(folder_, &error);
    ASSERT_TRUE(recordings_) << error;
    fake_kernel_respond(recordings_);
  }

  // The recorder sent neither survey nor wiphy requests.
  static bool is_unrecorded(const Bytes& request) {
    return request.size() > 16 &&
           (request[16] == nl::kCmdGetSurvey || request[16] == nl::kCmdGetWiphy);
  }
  static uint32_t seq_of(const Bytes& request) {
    uint32_t seq = 0;
    std::memcpy(&seq, request.data() + 8, 4);
    return seq;
  }

  // The recorder sent the other five requests only, so the recordings hold no survey dump: the
  // helper's survey requests meet an empty dump (no noise figure), and every other request is
  // answered from the recording with the number it would have had without them.
  void answer_surveys_with_an_empty_dump() {
    auto surveys = std::make_shared<uint32_t>(0);
    fake_kernel_respond([recordings = recordings_, surveys](const Bytes& request) {
      if (is_unrecorded(request)) {
        ++*surveys;
        FakeReply reply;
        reply.datagrams.push_back(done_datagram(seq_of(request)));
        return reply;
      }
      Bytes renumbered = request;
      uint32_t seq = seq_of(request) - *surveys;
      std::memcpy(renumbered.data() + 8, &seq, 4);
      return recordings(renumbered);
    });
  }

  const JsonValue& exchange(int nn) const {
    return expected_["exchanges"][static_cast<size_t>(nn - 1)];
  }

  // Each request the helper sent equals the recorded NN-*-req.bin of its sequence number (less
  // the survey requests before it, which the recorder did not send).
  void expect_requests_as_recorded() const {
    uint32_t surveys = 0;
    for (const Bytes& request : fake_kernel_log().requests) {
      if (is_unrecorded(request)) {
        ++surveys;
        continue;
      }
      Bytes renumbered = request;
      uint32_t seq = seq_of(request) - surveys;
      std::memcpy(renumbered.data() + 8, &seq, 4);
      EXPECT_EQ(hex_of(renumbered),
                hex_of(as_helper_sends(recorded_request(folder_, static_cast<int>(seq)))))
          << "request " << seq;
    }
  }

  std::string folder_;
  JsonValue expected_;
  FakeResponder recordings_;
  std::map<std::string, int> widths_;
};

// Each exchange on its own: request NN sent with sequence number NN, its datagrams walked by the
// callback the helper uses for it.
TEST_P(Replay, EveryExchangeDecodesAsRecorded) {
  for (const JsonValue& want : expected_["exchanges"].items) {
    int nn = want["nn"].as_int();
    const std::string& name = want["name"].text;
    SCOPED_TRACE(std::to_string(nn) + " " + name);
    wifi_state.seq = static_cast<uint32_t>(nn);
    wifi_state.family_id = 32;
    NetlinkRequest request;
    int32_t result = 1;
    if (name == "family") {
      wifi_state.family_id = -1;
      build_family_request(&request);
      result = netlink_exchange(request, on_family, nullptr);
      EXPECT_EQ(wifi_state.family_id, want["family_id"].as_int());
    } else if (name == "interfaces") {
      build_interface_dump_request(&request);
      InterfacePick pick = fresh_interface_pick();
      result = netlink_exchange(request, on_interface, &pick);
      const JsonValue& chosen = want["pick"];
      EXPECT_EQ(pick.ifindex, chosen["ifindex"].as_int());
      EXPECT_STREQ(pick.ifname, chosen["ifname"].text.c_str());
      EXPECT_EQ(pick.has_freq, 1);
      EXPECT_EQ(static_cast<int>(pick.freq_mhz), chosen["freq"].as_int());
      EXPECT_EQ(pick.width_code, chosen["width_code"].as_int());
      EXPECT_EQ(hex_of_text(pick.ssid), chosen["ssid_hex"].text);
    } else if (name == "scan-dump") {
      build_scan_dump_request(&request, 5);
      static ScanTable table;
      ScanCollector collector{table, kScanCapacity, 0, {}};
      result = netlink_exchange(request, on_bss, &collector);
      const JsonValue& entries = want["entries_dump_order"];
      ASSERT_EQ(static_cast<size_t>(collector.count), entries.items.size());
      for (size_t i = 0; i < entries.items.size(); ++i) expect_entry(table[i], entries[i], widths_);
      EXPECT_EQ(collector.found.known, 1);
      EXPECT_EQ(mac_text(collector.found.bssid), want["assoc_bssid"].text);
    } else if (name == "station") {
      const uint8_t bssid[6] = {0x02, 0, 0, 0, 0, 0};
      build_station_request(&request, 5, bssid);
      StationInfo station{};
      result = netlink_exchange(request, on_station, &station);
      const JsonValue& sta = want["station"];
      EXPECT_EQ(station.signal_dbm, sta["signal_dbm"].as_int());
      EXPECT_DOUBLE_EQ(station.tx_mbps, sta["tx"]["mbps"].number);
      EXPECT_DOUBLE_EQ(station.rx_mbps, sta["rx"]["mbps"].number);
      EXPECT_EQ(station.nss, sta["tx"]["nss"].is_null() ? 0 : sta["tx"]["nss"].as_int());
      EXPECT_EQ(station.width_mhz, sta["tx"]["width_mhz"].as_int());
    } else if (name == "scan-trigger") {
      build_scan_trigger_request(&request, 5);
      result = netlink_exchange(request, nullptr, nullptr);
      EXPECT_EQ(result, expected_["trigger_result"].as_int());
    } else {
      ADD_FAILURE() << "unknown exchange";
    }
    EXPECT_EQ(result, want["result"].as_int());
  }
  expect_requests_as_recorded();
  EXPECT_EQ(fake_kernel_log().opens, fake_kernel_log().closes);
}

// The helper's own sequence: start-up, a link command, a scan command, one live sample.
TEST_P(Replay, StartupLinkScanAndLiveSampleGiveTheExpectedValues) {
  answer_surveys_with_an_empty_dump();
  char msg[200] = {};
  ASSERT_EQ(wifi_open(msg, sizeof msg), 0) << msg;
  EXPECT_EQ(wifi_state.family_id, 32);
  EXPECT_EQ(wifi_state.ifindex, 5);
  EXPECT_STREQ(wifi_state.ifname, "wlan3");

  LinkInfo link{};
  ASSERT_EQ(link_query(&link, msg, sizeof msg), 0) << msg;
  // iw shows HT and VHT capabilities for LabNet (5 GHz), HT ones for DevsB-Home (2.4 GHz).
  expect_link(link, expected_["link"],
              folder_.find("devs-b") != std::string::npos ? "802.11n" : "802.11ac");
  EXPECT_EQ(mac_text(link.bssid), "02:00:00:00:00:00");

  // The scan command: its link query, then the scan itself.
  LinkInfo scan_link{};
  ASSERT_EQ(link_query(&scan_link, msg, sizeof msg), 0) << msg;
  EXPECT_EQ(scan_link.has_bssid, 1);
  static ScanTable table;
  // The recorded family reply names the "scan" group, so the event socket is open: an accepted
  // trigger waits for the kernel's notification, a refused one dumps at once.
  EXPECT_EQ(wifi_state.scan_group, 10);
  EXPECT_EQ(scan_trigger(),
            expected_["trigger_result"].as_int() == 0 ? kScanAwaitEvent : kScanDumpNow);
  int count = scan_dump(table, kScanCapacity, msg, sizeof msg);
  ASSERT_EQ(count, expected_["scan_count"].as_int()) << msg;
  const JsonValue& scan = expected_["scan"];
  ASSERT_EQ(scan.items.size(), static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) expect_entry(table[i], scan[static_cast<size_t>(i)], widths_);
  // The real kernel gives every BSS its age (iw prints it as "last seen: N ms ago"); these
  // recordings were taken right after a scan.
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(table[i].has_seen_ms_ago, 1) << i;
    EXPECT_LT(table[i].seen_ms_ago, 60000u) << i;
  }

  int32_t sample = 0;
  ASSERT_EQ(signal_sample(&sample), 0);
  EXPECT_EQ(sample, expected_["live_sample_dbm"].as_int());

  // The recorded eleven, a survey dump in each of the two link queries and the wiphy dump.
  EXPECT_EQ(fake_kernel_log().requests.size(), 14u);
  expect_requests_as_recorded();
}

INSTANTIATE_TEST_SUITE_P(Recordings, Replay,
                         testing::Values("default/root", "default/nobody", "devs-b/root",
                                         "devs-b/nobody"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace

namespace {

using RoamReplay = WifiTest;

// The notifications a real 6.1 kernel sent while its station (ifindex 4) roamed from the 5 GHz
// access point to the 2.4 GHz one and, when that one went away, back (fixtures/roam), handed to
// the association memory one by one: after each the memory holds the access point the station is
// on, none in between, and ignores the access points' own interfaces (2 and 3).
TEST_F(RoamReplay, RecordedRoamAndLostAccessPointMoveTheAssociation) {
  wifi_state.family_id = 32;
  wifi_state.ifindex = 4;
  wifi_state.follows = 1;
  wifi_state.assoc = Association{};
  wifi_state.assoc.known = 1;
  wifi_state.assoc.bssid[0] = 0x02;  // 02:00:00:00:01:00, the 5 GHz access point
  wifi_state.assoc.bssid[4] = 0x01;
  std::strcpy(wifi_state.assoc.ssid, "Two Rooms");
  wifi_state.assoc_stale = 0;
  struct Step {
    const char* file;
    int known;
    const char* bssid;  // when known
    int stale;
  };
  const Step steps[] = {
      {"000-mlme-20.bin", 1, "020000000100", 0},  // DEL_STATION: CONNECT/DISCONNECT decide
      {"002-mlme-48.bin", 0, "", 0},              // DISCONNECT (left to roam)
      {"004-mlme-19.bin", 0, "", 0},              // the access point's NEW_STATION
      {"009-mlme-46.bin", 1, "020000000000", 0},  // CONNECT to the 2.4 GHz one
      {"013-mlme-139.bin", 1, "020000000000", 0},
      {"017-mlme-48.bin", 0, "", 0},   // DISCONNECT: the access point went away
      {"018-mlme-20.bin", 0, "", 0},   // its DEL_STATION (ifindex 2)
      {"019-config-6.bin", 0, "", 1},  // interface 2 became a station: the choice may change
      {"021-scan-34.bin", 0, "", 1},
      {"029-mlme-46.bin", 1, "020000000100", 0},  // CONNECT back to 5 GHz
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.file);
    Bytes datagram = read_file_bytes(kFixtures + "/roam/" + step.file);
    NetlinkMessage message;
    ASSERT_GT(next_message(datagram.data(), datagram.size(), &message), 0u);
    association_notice(message);
    EXPECT_EQ(wifi_state.assoc.known, step.known);
    if (step.known == 1) {
      EXPECT_EQ(hex_of(Bytes(wifi_state.assoc.bssid, wifi_state.assoc.bssid + 6)), step.bssid);
      EXPECT_STREQ(wifi_state.assoc.ssid, "Two Rooms");
      EXPECT_EQ(wifi_state.assoc.has_mld, 0);
    }
    EXPECT_EQ(wifi_state.assoc_stale, step.stale);
  }
}

// A multi-link CONNECT names the AP MLD (whom the station is asked about) and each link's BSSID;
// a failed CONNECT, a time-out and broken messages leave nothing behind.
TEST_F(RoamReplay, ConnectVariantsSetOrClearTheAssociation) {
  wifi_state.family_id = 32;
  wifi_state.ifindex = 4;
  auto notice = [](const std::function<void(NlWriter&)>& attributes, uint8_t cmd,
                   bool with_ifindex = true) {
    NlWriter writer;
    writer.begin_message(32, 0, 0, cmd);
    if (with_ifindex) writer.put_u32(nl::kAttrIfindex, 4);
    attributes(writer);
    writer.end_message();
    NetlinkMessage message;
    ASSERT_GT(next_message(writer.bytes.data(), writer.bytes.size(), &message), 0u);
    association_notice(message);
  };
  const uint8_t mld[6] = {2, 0, 0, 0, 0, 0x10};
  notice(
      [&](NlWriter& w) {
        w.put_u16(nl::kAttrStatusCode, 0);
        w.put(nl::kAttrMldAddr, mld);
        w.begin_nest(nl::kAttrMloLinks, true);
        for (uint8_t id : {2, 1}) {
          w.begin_nest(id, true);
          w.put_u8(nl::kAttrMloLinkId, id);
          const uint8_t bssid[6] = {2, 0, 0, 0, id, 0};
          w.put(nl::kAttrBssid, bssid);
          w.end_nest();
        }
        w.end_nest();
      },
      nl::kCmdConnect);
  EXPECT_EQ(wifi_state.assoc.known, 1);
  EXPECT_EQ(wifi_state.assoc.has_mld, 1);
  EXPECT_EQ(hex_of(Bytes(station_address(wifi_state.assoc), station_address(wifi_state.assoc) + 6)),
            "020000000010");
  EXPECT_EQ(wifi_state.assoc.bssid[4], 1);  // the lowest link's
  // The kernel's own roam: one ROAM naming the new BSSID.
  const uint8_t other[6] = {2, 0, 0, 0, 7, 0};
  notice([&](NlWriter& w) { w.put(nl::kAttrMac, other); }, nl::kCmdRoam);
  EXPECT_EQ(wifi_state.assoc.has_mld, 0);
  EXPECT_EQ(wifi_state.assoc.bssid[4], 7);
  // A failed attempt (status 17) and one that timed out: on none.
  for (bool timed_out : {false, true}) {
    wifi_state.assoc.known = 1;
    notice(
        [&](NlWriter& w) {
          w.put(nl::kAttrMac, other);
          if (timed_out) {
            w.put_flag(nl::kAttrTimedOut);
          } else {
            w.put_u16(nl::kAttrStatusCode, 17);
          }
        },
        nl::kCmdConnect);
    EXPECT_EQ(wifi_state.assoc.known, 0);
  }
  // Connected, but a MAC address too short to read: only a probe can tell.
  wifi_state.assoc_stale = 0;
  notice([&](NlWriter& w) { w.put(nl::kAttrMac, Bytes{2, 0, 0}); }, nl::kCmdConnect);
  EXPECT_EQ(wifi_state.assoc_stale, 1);
  // Removed links and the chosen interface going away make it stale; the latter also clears it.
  wifi_state.assoc.known = 1;
  wifi_state.assoc_stale = 0;
  notice([](NlWriter&) {}, nl::kCmdLinksRemoved);
  EXPECT_EQ(wifi_state.assoc_stale, 1);
  EXPECT_EQ(wifi_state.assoc.known, 1);
  notice([](NlWriter&) {}, nl::kCmdDelInterface);
  EXPECT_EQ(wifi_state.assoc.known, 0);
  // Without an interface index nothing is applied.
  wifi_state.assoc.known = 1;
  notice([](NlWriter&) {}, nl::kCmdDisconnect, false);
  EXPECT_EQ(wifi_state.assoc.known, 1);
}

}  // namespace
