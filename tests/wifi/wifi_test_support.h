#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "fake_kernel.h"
#include "nl_writer.h"
#include "scene.h"
#include "scene_kernel.h"
#include "wifi/netlink.h"
#include "wifi/scan.h"
#include "wifi/scan_events.h"
#include "wifi/wifi_state.h"

// Shared pieces of the WiFi tests: a clean process-wide state per test and quick ways to make
// the stand-in kernel answer.

inline const std::string kFixtures = TIVEL_WIFI_FIXTURES;

// Every test starts as a freshly started helper would, with a stand-in kernel that is silent.
class WifiTest : public testing::Test {
 protected:
  void SetUp() override {
    wifi_state_reset();  // the stand-in's reset below closes the event socket it handed out
    fake_kernel_reset();
    fake_kernel_set_silence_ms(20);  // only the time-out tests wait the full 3 seconds
  }
};

// Serves a scene (at a fixed instant, so a swinging signal stays put).
inline void serve_parsed_scene(std::shared_ptr<Scene> scene) {
  fake_kernel_respond(
      [scene](const Bytes& request) { return answer_from_scene(*scene, request, 0); });
}

// Serves a scene written in the test.
inline void serve_scene(std::string_view text) {
  auto scene = std::make_shared<Scene>();
  std::string error;
  ASSERT_TRUE(parse_scene(text, scene.get(), &error)) << error;
  serve_parsed_scene(scene);
}

// Serves the simulator's scene file `name` and reads the link on it, as start-up and a page's
// first link command do. The scene is kept in *served when that is not null.
inline void open_scene_file(const std::string& name, LinkInfo* link,
                            std::shared_ptr<Scene>* served = nullptr) {
  auto scene = std::make_shared<Scene>();
  if (served != nullptr) *served = scene;
  std::string error;
  ASSERT_TRUE(load_scene_file(std::string(TIVEL_SIM_SCENES_DIR) + "/" + name, scene.get(), &error))
      << error;
  serve_parsed_scene(scene);
  char msg[200] = {};
  ASSERT_EQ(wifi_open(msg, sizeof msg), 0) << msg;
  ASSERT_EQ(link_query(link, msg, sizeof msg), 0);
}

// Answers successive requests with successive replies, then silence.
inline void serve_script(std::deque<FakeReply> replies) {
  auto left = std::make_shared<std::deque<FakeReply>>(std::move(replies));
  fake_kernel_respond([left](const Bytes&) {
    if (left->empty()) return FakeReply{};
    FakeReply reply = left->front();
    left->pop_front();
    return reply;
  });
}

inline FakeReply reply_of(std::vector<Bytes> datagrams) {
  FakeReply reply;
  reply.datagrams = std::move(datagrams);
  return reply;
}

inline std::string hex_of(const uint8_t* bytes, size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

inline std::string hex_of(const Bytes& bytes) {
  return hex_of(bytes.data(), bytes.size());
}

inline std::string mac_text(const uint8_t* mac) {
  char text[18];
  std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return text;
}

// Every field of a link reading on one line, so a test states a whole link at once and a failure
// shows every field.
inline std::string link_text(const LinkInfo& link) {
  char text[400];
  std::snprintf(text, sizeof text,
                "connected=%d iface=%s ssid=%s rssi=%d noise=%d tx=%.6g rx=%.6g channel=%d "
                "freq=%d width=%d nss=%d phy=%s has_bssid=%d bssid=%s",
                link.connected, link.iface, link.ssid, link.rssi, link.noise, link.tx_mbps,
                link.rx_mbps, link.channel, link.freq_mhz, link.width_mhz, link.nss, link.phy,
                link.has_bssid, mac_text(link.bssid).c_str());
  return text;
}

// The error a scene text is refused with (empty when it parses).
inline std::string scene_error(std::string_view text) {
  Scene scene;
  std::string error;
  EXPECT_FALSE(parse_scene(text, &scene, &error)) << text;
  return error;
}

// Each scene text is refused with exactly its error.
struct SceneErrorCase {
  const char* text;
  const char* error;
};
inline void expect_scene_errors(std::initializer_list<SceneErrorCase> cases) {
  for (const SceneErrorCase& c : cases) EXPECT_EQ(scene_error(c.text), c.error) << c.text;
}

// The recorder's scan requests were passive; the helper's asks for the wildcard SSID as well:
// the same request, 8 bytes longer, with NL80211_ATTR_SCAN_SSIDS holding one empty SSID. Any
// other request is returned as it is.
inline Bytes as_helper_sends(Bytes recorded) {
  constexpr uint8_t kTriggerScan = 33;
  if (recorded.size() != 28 || recorded[16] != kTriggerScan) return recorded;
  recorded[0] += 8;
  for (uint8_t byte : {0x08, 0x00, 0x2d, 0x00, 0x04, 0x00, 0x01, 0x00}) recorded.push_back(byte);
  return recorded;
}
