// The simulator end to end: a page's commands over a real WebSocket, answered from a scene.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "support/helper_process.h"
#include "support/sim_scene.h"
#include "support/ws_client.h"

namespace {

constexpr char kScene[] = R"(trigger refuse
interface type=p2p-device
interface ifindex=3 name=wlan0 type=station freq=5180 width=3 ssid=Home
bss bssid=02:00:00:00:00:02 freq=2437 signal=-7000 ssid-hex=22fffe beacon-ies=000322fffe
bss bssid=02:00:00:00:00:01 freq=5180 signal=-5000 status=associated ssid=Home beacon-ies=0004486f6d65
station signal=-51 tx-bitrate=8667 tx-vht-mcs=9 tx-vht-nss=2 tx-width=80 rx-bitrate=7800
)";

class SimCommands : public testing::Test {
 protected:
  void start(const std::string& scene_path) {
    ASSERT_TRUE(start_on_free_port(helper_, sim_options(scene_path))) << helper_.output;
    ASSERT_TRUE(ws_connect(page_, helper_.port));
  }
  HelperProcess helper_;
  WsClient page_;
};

// The link reply for the scene's Home network, with the noise the scene's survey gives.
std::string home_link_reply(int noise) {
  return R"({"type":"link","connected":true,"iface":"wlan0","ssid":"Home","rssi":-51,"noise":)" +
         std::to_string(noise) +
         R"(,"txMbps":866.7,"rxMbps":780.0,"channel":36,"freqMHz":5180,"widthMHz":80,"nss":2,)"
         R"("phy":"802.11ac"})";
}

TEST_F(SimCommands, LinkScanAndWatchCarryTheScenesValues) {
  SceneFile scene(kScene);
  start(scene.path);
  EXPECT_EQ(ws_command(page_, R"({"cmd":"link"})"), home_link_reply(0));

  std::string scan = ws_command(page_, R"({"cmd":"scan"})");
  EXPECT_NE(
      scan.find(
          R"("nets":[{"ssid":"Home","rssi":-50,"channel":36,"freqMHz":5180,)"
          R"("widthMHz":20,"phy":"802.11a","mine":true,"seenMsAgo":120,"ie":"0004486f6d65"},{"ssid":)"),
      std::string::npos)
      << scan;
  EXPECT_NE(
      scan.find(
          R"("rssi":-70,"channel":6,"freqMHz":2437,"widthMHz":20,"phy":"802.11g","mine":false,)"
          R"("seenMsAgo":120,"ie":"000322fffe"}]})"),
      std::string::npos)
      << scan;
  EXPECT_TRUE(
      wait_for_output(helper_, "Sent 2 nearby networks (last scan by the system, 0s ago)", 3000));

  EXPECT_EQ(ws_command(page_, R"({"cmd":"watch","hz":5,"secs":1})"),
            R"({"type":"watching","hz":5,"secs":1})");
  ServerFrame sample;
  ASSERT_TRUE(ws_read_frame(page_, sample));
  EXPECT_NE(sample.payload.find(R"(,"rssi":-51})"), std::string::npos) << sample.payload;
}

// The noise floor reaches the page in the link reply and in the scan report's link object.
TEST_F(SimCommands, LinkAndScanCarryTheNoiseOfTheSurveyEntryInUse) {
  SceneFile scene(std::string(kScene) +
                  "survey freq=5180 noise=-90\nsurvey freq=5180 noise=-93 in-use\n"
                  "survey freq=2437 noise=-97\n");
  start(scene.path);
  EXPECT_EQ(ws_command(page_, R"({"cmd":"link"})"), home_link_reply(-93));
  std::string scan = ws_command(page_, R"({"cmd":"scan"})");
  EXPECT_NE(scan.find(R"("rssi":-51,"noise":-93,"txMbps":866.7,)"), std::string::npos) << scan;
}

// Each network's width and generation, from the elements its access point sends, reach the page.
TEST_F(SimCommands, ScanCarriesEachNetworksWidthFromItsElements) {
  SceneFile scene(R"(trigger refuse
interface ifindex=3 name=wlan0 type=station freq=5180 width=5
bss freq=5180 signal=-4000 ssid=Wide width=160
bss freq=5975 signal=-4100 ssid=Seven width=320
bss freq=2412 signal=-4200 ssid=Forty width=40
bss freq=2437 signal=-4300 ssid=Plain
bss freq=2462 signal=-4400 beacon-ies= ies=none
)");
  start(scene.path);
  std::string scan = ws_command(page_, R"({"cmd":"scan"})");
  const char* const kWant[] = {
      R"({"ssid":"Wide","rssi":-40,"channel":36,"freqMHz":5180,"widthMHz":160,"phy":"802.11ac",)",
      R"({"ssid":"Seven","rssi":-41,"channel":5,"freqMHz":5975,"widthMHz":320,"phy":"802.11be",)",
      R"({"ssid":"Forty","rssi":-42,"channel":1,"freqMHz":2412,"widthMHz":40,"phy":"802.11n",)",
      R"({"ssid":"Plain","rssi":-43,"channel":6,"freqMHz":2437,"widthMHz":20,"phy":"802.11g",)",
      R"({"ssid":"","rssi":-44,"channel":11,"freqMHz":2462,"widthMHz":0,"phy":"","mine":false,"seenMsAgo":120,"ie":""})",
  };
  for (const char* want : kWant) EXPECT_NE(scan.find(want), std::string::npos) << want << scan;
}

// The Wi-Fi 7 multi-link association of the recorded kernel: connected, on the link in use, with
// each link as iw lists it ("Link 0 BSSID 02:00:00:a1:50:20 freq: 5180.0", "Link 1 ... 5745.0").
TEST_F(SimCommands, MultiLinkAssociationIsConnectedOnItsLinkInUse) {
  start(std::string(TIVEL_SIM_SCENES_DIR) + "/wifi7-mlo.scene");
  EXPECT_EQ(
      ws_command(page_, R"({"cmd":"link"})"),
      R"({"type":"link","connected":true,"iface":"wlan1","ssid":"MLO-Home","rssi":-50,)"
      R"("noise":0,"txMbps":0.0,"rxMbps":6.0,"channel":36,"freqMHz":5180,)"
      R"("widthMHz":20,"nss":0,"phy":"802.11be","links":[{"linkId":0,"bssid":"02:00:00:a1:50:20",)"
      R"("freqMHz":5180,"channel":36,"widthMHz":20,"rssi":0},{"linkId":1,)"
      R"("bssid":"02:00:00:8a:93:d7","freqMHz":5745,"channel":149,"widthMHz":20,"rssi":0}]})");
  EXPECT_EQ(ws_command(page_, R"({"cmd":"watch","hz":5,"secs":1})"),
            R"({"type":"watching","hz":5,"secs":1})");
  for (int i = 0; i < 2; ++i) {
    ServerFrame sample;
    ASSERT_TRUE(ws_read_frame(page_, sample));
    EXPECT_NE(sample.payload.find(R"(,"rssi":-50})"), std::string::npos) << sample.payload;
  }
  std::string scan = ws_command(page_, R"({"cmd":"scan"})");
  EXPECT_NE(scan.find(R"("link":{"connected":true,"iface":"wlan1","ssid":"MLO-Home","rssi":-50,)"),
            std::string::npos)
      << scan;
  size_t mine = scan.find(R"("mine":true)");
  EXPECT_NE(mine, std::string::npos) << scan;
  EXPECT_EQ(scan.find(R"("mine":true)", mine + 1), std::string::npos) << scan;
}

TEST_F(SimCommands, BenchmarkSceneReportsNinetySixNetworksWithAllTheirElements) {
  start(std::string(TIVEL_SIM_SCENES_DIR) + "/bench-96.scene");
  std::string scan = ws_command(page_, R"({"cmd":"scan"})");
  size_t nets = 0;
  for (size_t at = scan.find("\"ie\":\""); at != std::string::npos;
       at = scan.find("\"ie\":\"", at + 1)) {
    size_t end = scan.find('"', at + 6);
    EXPECT_EQ(end - (at + 6), 4096u);  // 2048 bytes as hexadecimal
    ++nets;
  }
  EXPECT_EQ(nets, 96u);
  EXPECT_NE(scan.find(R"("mine":true)"), std::string::npos);
  EXPECT_TRUE(wait_for_output(helper_, "Sent 96 nearby networks to the page.", 3000));
}

}  // namespace
