// A late or silent driver holds up only the answer that waits for it: through the simulator, each
// kind of query (link, scan dump, live sample) meets a stand-in kernel that answers late, never,
// or late with an error, while a second page's hello is served at once.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "support/helper_process.h"
#include "support/sim_scene.h"
#include "support/ws_client.h"

namespace {

constexpr const char* kAir =
    "interface ifindex=3 name=wlan0 freq=2437 width=1 ssid=Home\n"
    "bss bssid=3c:84:6a:12:34:56 freq=2437 signal=-4700 status=associated ssid=Home\n"
    "bss freq=5180 signal=-6400 ssid=Cafe\n"
    "station signal=-47\n";
constexpr const char* kGivenUp =
    "A WiFi request went unanswered: the WiFi driver did not answer within 3 s.";

struct WaitCase {
  const char* name;
  const char* scene;    // beside kAir
  const char* command;  // the waiting page's
  const char* answer;   // what its reply (for a watch: its first sample) holds
  int spacing_ms;       // a watch: the least gap between its first two samples' stamps; 0: none
  bool given_up;        // the log names an unanswered request
};

const WaitCase kCases[] = {
    {"LinkWaitsForALateStation", "fault request=station delay-ms=2000\n", R"({"cmd":"link"})",
     R"("rssi":-47,)", 0, false},
    {"LinkGoesOnWithoutASilentSurvey", "fault request=survey silent\n", R"({"cmd":"link"})",
     R"({"type":"link","connected":true,)", 0, true},
    {"LinkFailsWithoutAnInterfaceDump", "fault request=interfaces silent\n", R"({"cmd":"link"})",
     R"({"type":"error","cmd":"link","msg":"the WiFi driver did not answer within 3 s"})", 0, true},
    {"LinkTakesALateStationError", "fault request=station error=-110 delay-ms=2000\n",
     R"({"cmd":"link"})", R"("rssi":0,)", 0, false},
    {"ScanWaitsForALateDump", "trigger refuse\nfault request=scan-dump delay-ms=2000\n",
     R"({"cmd":"scan"})", R"("ssid":"Cafe")", 0, false},
    {"ScanFailsWithoutADump", "trigger refuse\nfault request=scan-dump silent\n",
     R"({"cmd":"scan"})",
     R"({"type":"error","cmd":"scan","msg":"scan failed: the WiFi driver did not answer within 3 s"})",
     0, true},
    {"SampleWaitsForALateStation", "fault request=station delay-ms=1000\n",
     R"({"cmd":"watch","hz":10,"secs":30})", R"("rssi":-47})", 950, false},
    {"SampleIsNullWithoutAStationAnswer", "fault request=station silent\n",
     R"({"cmd":"watch","hz":10,"secs":30})", R"("rssi":null})", 0, true},
    {"SampleIsNullOnALateStationError", "fault request=station error=-110 delay-ms=1000\n",
     R"({"cmd":"watch","hz":10,"secs":30})", R"("rssi":null})", 950, false},
};

void PrintTo(const WaitCase& c, std::ostream* out) {
  *out << c.name;
}

long long stamp_of(const std::string& sample) {
  size_t at = sample.find("\"t\":");
  return at == std::string::npos ? -1 : std::stoll(sample.substr(at + 4));
}

class KernelWait : public testing::TestWithParam<WaitCase> {};

TEST_P(KernelWait, OtherPagesAreServedWhileTheDriverIsLate) {
  const WaitCase& c = GetParam();
  SceneFile scene(std::string(kAir) + c.scene);
  HelperProcess helper;
  ASSERT_TRUE(start_on_free_port(helper, sim_options(scene.path), 10000)) << helper.output;
  WsClient waiting, other;
  ASSERT_TRUE(ws_connect(waiting, helper.port));
  ASSERT_TRUE(ws_connect(other, helper.port));
  const bool watch = std::string(c.command).find("watch") != std::string::npos;
  if (watch) {
    ASSERT_EQ(ws_command(waiting, c.command).rfind("{\"type\":\"watching\"", 0), 0u);
  } else {
    ASSERT_TRUE(ws_send(waiting, text_frame(c.command)));
  }

  // The answer is at least a second away; the hello is not held behind it.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ws_command(other, R"({"cmd":"hello"})").rfind("{\"type\":\"hello\"", 0), 0u);
  const auto hello_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
  EXPECT_LT(hello_ms, 900);
  EXPECT_EQ(ws_read_raw(waiting, 0), "");

  ServerFrame first;
  ASSERT_TRUE(ws_read_frame(waiting, first, 10000)) << helper.output;
  EXPECT_NE(first.payload.find(c.answer), std::string::npos) << first.payload;
  if (c.spacing_ms > 0) {
    // One request out at a time: the next sample is stamped when its late answer came.
    ServerFrame second;
    ASSERT_TRUE(ws_read_frame(waiting, second, 5000));
    EXPECT_GE(stamp_of(second.payload) - stamp_of(first.payload), c.spacing_ms)
        << first.payload << " " << second.payload;
  }
  if (watch) {
    // A stop is not held behind the sample out.
    EXPECT_EQ(ws_command(waiting, R"({"cmd":"stop"})", 500), R"({"type":"stopped"})");
  }
  EXPECT_EQ(wait_for_output(helper, kGivenUp, c.given_up ? 3000 : 0), c.given_up) << helper.output;
  EXPECT_EQ(stop_helper(helper), 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, KernelWait, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<WaitCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
