// A scan waits for the kernel's end-of-scan notification inside the loop: through the simulator,
// with scenes whose scans take a set time, are aborted or never end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>

#include "support/helper_process.h"
#include "support/sim_scene.h"
#include "support/ws_client.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kAir =
    "interface ifindex=3 name=wlan0 freq=2437 width=1 ssid=Home\n"
    "bss bssid=3c:84:6a:12:34:56 freq=2437 signal=-4700 status=associated ssid=Home\n"
    "bss freq=5180 signal=-6400 ssid=Cafe\n"
    "station signal=-47\n";

long long ms_since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

bool starts_with(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

// The simulator on `scene`, recording each request's netlink type and command in a trace file.
struct ScanSim {
  SceneFile scene;
  std::string trace = scene.path + ".trace";
  HelperProcess helper;
  explicit ScanSim(const std::string& text) : scene(text) {}
  ~ScanSim() { unlink(trace.c_str()); }
  // Starts the simulator and connects each page to it.
  bool start(std::initializer_list<WsClient*> pages) {
    HelperOptions options = sim_options(scene.path);
    options.env.push_back("TIVEL_SIM_TRACE=" + trace);
    if (!start_on_free_port(helper, options)) return false;
    for (WsClient* page : pages) {
      if (!ws_connect(*page, helper.port)) return false;
    }
    return true;
  }
  // Sends a scan command from `page` and waits until the helper has started (or joined) a scan.
  bool ask_scan(WsClient& page) {
    return ws_send(page, text_frame(R"({"cmd":"scan"})")) &&
           wait_for_output(helper, "Scanning nearby WiFi...\n", 3000);
  }
  // How many scan requests (NL80211_CMD_TRIGGER_SCAN, 33) the stand-in kernel received.
  int triggers() const {
    std::ifstream in(trace);
    int count = 0;
    for (std::string type, cmd; in >> type >> cmd;) count += cmd == "33" ? 1 : 0;
    return count;
  }
};

}  // namespace

TEST(ScanWait, OtherPagesAndStreamsAreServedWhileAScanRuns) {
  ScanSim sim(std::string("scan-wait-ms 1500\n") + kAir);
  WsClient scanner, other;
  ASSERT_TRUE(sim.start({&scanner, &other})) << sim.helper.output;
  ASSERT_TRUE(sim.ask_scan(scanner));
  EXPECT_TRUE(starts_with(ws_command(other, R"({"cmd":"hello"})"), "{\"type\":\"hello\""));
  EXPECT_TRUE(starts_with(ws_command(other, R"({"cmd":"watch","hz":20,"secs":5})"),
                          "{\"type\":\"watching\""));
  int samples = 0;
  ServerFrame frame;
  while (samples < 10 && ws_read_frame(other, frame, 1000)) ++samples;
  EXPECT_EQ(samples, 10);
  // Ten samples at 20 Hz took half a second: the scan is still running and unanswered.
  EXPECT_EQ(ws_read_raw(scanner, 0), "");
  ASSERT_TRUE(ws_read_frame(scanner, frame, 5000));
  EXPECT_TRUE(starts_with(frame.payload, "{\"type\":\"scan\"")) << frame.payload;
  EXPECT_NE(frame.payload.find("\"ssid\":\"Cafe\""), std::string::npos);
  EXPECT_EQ(sim.triggers(), 1);
}

TEST(ScanWait, TwoPagesScanningAtOnceShareOneTriggerAndOneReport) {
  ScanSim sim(std::string("scan-wait-ms 800\n") + kAir);
  WsClient first, second;
  ASSERT_TRUE(sim.start({&first, &second})) << sim.helper.output;
  ASSERT_TRUE(sim.ask_scan(first));
  std::string second_reply = ws_command(second, R"({"cmd":"scan"})");
  ServerFrame first_reply;
  ASSERT_TRUE(ws_read_frame(first, first_reply, 3000));
  EXPECT_TRUE(starts_with(second_reply, "{\"type\":\"scan\"")) << second_reply;
  EXPECT_EQ(first_reply.payload, second_reply);
  EXPECT_EQ(sim.triggers(), 1);
  // Both report lines: read on (for a text that never comes) until the second is in.
  for (int i = 0; i < 40 && sim.helper.output.find("Sent 2") == sim.helper.output.rfind("Sent 2");
       ++i) {
    wait_for_output(sim.helper, "\x01", 50);
  }
  std::vector<std::string> log = log_messages(sim.helper);
  std::vector<std::string> tail(log.end() - 4, log.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"Scanning nearby WiFi...", "Scanning nearby WiFi...",
                                            "Sent 2 nearby networks to the page.",
                                            "Sent 2 nearby networks to the page."}));
}

TEST(ScanWait, CommandsSentBehindAScanAreAnsweredAfterItsReportInOrder) {
  ScanSim sim(std::string("scan-wait-ms 300\n") + kAir);
  WsClient page;
  ASSERT_TRUE(sim.start({&page})) << sim.helper.output;
  ASSERT_TRUE(ws_send(page, text_frame(R"({"cmd":"scan"})") + text_frame(R"({"cmd":"link"})") +
                                text_frame(R"({"cmd":"scan"})") + text_frame(R"({"cmd":"nope"})")));
  const char* expected[] = {"{\"type\":\"scan\"", "{\"type\":\"link\"", "{\"type\":\"scan\"",
                            "{\"type\":\"error\""};
  for (const char* prefix : expected) {
    ServerFrame frame;
    ASSERT_TRUE(ws_read_frame(page, frame, 5000)) << prefix;
    EXPECT_TRUE(starts_with(frame.payload, prefix)) << frame.payload;
  }
  EXPECT_EQ(sim.triggers(), 2);
}

// 24 scans in one write without the right to scan (each answered at once with 96 networks) from
// a page that reads a frame each 50 ms: it is served at its pace, all 24 reports, and kept.
TEST(ScanWait, PipelinedScansAreServedAtTheReadersPace) {
  std::ifstream bench(std::string(TIVEL_SIM_SCENES_DIR) + "/bench-96.scene");
  std::stringstream scene;
  scene << bench.rdbuf() << "trigger refuse\n";
  ScanSim sim(scene.str());
  WsClient page;
  ASSERT_TRUE(sim.start({&page})) << sim.helper.output;
  std::string burst;
  for (int i = 0; i < 24; ++i) burst += text_frame(R"({"cmd":"scan"})");
  ASSERT_TRUE(ws_send(page, burst));
  for (int i = 0; i < 24; ++i) {
    usleep(50 * 1000);
    ServerFrame report;
    ASSERT_TRUE(ws_read_frame(page, report, 5000)) << i << sim.helper.output;
    EXPECT_TRUE(starts_with(report.payload, "{\"type\":\"scan\"")) << i;
  }
  EXPECT_EQ(ws_command(page, R"({"cmd":"hello"})").find("{\"type\":\"hello\""), 0u);
  EXPECT_EQ(sim.helper.output.find("Page disconnected"), std::string::npos) << sim.helper.output;
}

// How a scan request ends decides the wait and the freshness. A busy kernel's running scan is
// waited for and fresh; a refused request is dumped at once; an aborted scan, or one whose end was
// lost with other notifications (the kernel may still be scanning), is dumped when that news
// comes, not at the 15-second limit. All but the first are not fresh: the system's last scan.
TEST(ScanWait, HowTheScanEndsDecidesTheWaitAndTheFreshness) {
  const struct {
    const char* scene;
    long long least_ms, below_ms;
    bool fresh;
  } cases[] = {
      {"trigger busy", 1100, 3000, true},
      {"trigger refuse", 0, 1100, false},
      {"scan-end aborted", 1100, 3000, false},
      {"scan-end lost", 1100, 3000, false},
  };
  for (const auto& one : cases) {
    ScanSim sim(std::string("scan-wait-ms 1200\n") + one.scene + "\n" + kAir);
    WsClient page;
    ASSERT_TRUE(sim.start({&page})) << sim.helper.output;
    auto start = Clock::now();
    std::string reply = ws_command(page, R"({"cmd":"scan"})", 5000);
    const long long ms = ms_since(start);
    EXPECT_TRUE(starts_with(reply, "{\"type\":\"scan\"")) << one.scene << reply;
    EXPECT_TRUE(ms >= one.least_ms && ms < one.below_ms) << one.scene << ": " << ms << " ms";
    EXPECT_NE(reply.find(one.fresh ? "\"fresh\":true," : "\"fresh\":false,"), std::string::npos)
        << one.scene << reply;
    if (!one.fresh) {
      EXPECT_TRUE(
          wait_for_output(sim.helper, "Sent 2 nearby networks (last scan by the system", 3000))
          << one.scene << sim.helper.output;
    }
  }
}

TEST(ScanWait, WithoutTheScanGroupTheFixedWaitKeepsTheLoopRunning) {
  ScanSim sim(std::string("family no-scan-group\nscan-wait-ms 0\n") + kAir);
  WsClient scanner, other;
  ASSERT_TRUE(sim.start({&scanner, &other})) << sim.helper.output;
  auto start = Clock::now();
  ASSERT_TRUE(sim.ask_scan(scanner));
  EXPECT_TRUE(starts_with(ws_command(other, R"({"cmd":"link"})"), "{\"type\":\"link\""));
  EXPECT_LT(ms_since(start), 2000);
  ServerFrame frame;
  ASSERT_TRUE(ws_read_frame(scanner, frame, 8000));
  EXPECT_TRUE(starts_with(frame.payload, "{\"type\":\"scan\""));
  EXPECT_GE(ms_since(start), 3900);
}

TEST(ScanWait, StopSignalDuringAScanEndsTheHelperAndClosesTheWaitingPage) {
  ScanSim sim(std::string("scan-end never\n") + kAir);
  WsClient page;
  ASSERT_TRUE(sim.start({&page})) << sim.helper.output;
  ASSERT_TRUE(sim.ask_scan(page));
  auto start = Clock::now();
  EXPECT_EQ(stop_helper(sim.helper, SIGINT, 5000), 0);
  long long stop_ms = ms_since(start);
  EXPECT_LT(stop_ms, 1000);  // not held by the scan (the goal's figure is in bench/RESULTS.md)
  RecordProperty("stop_ms", static_cast<int>(stop_ms));
  std::vector<std::string> log = log_messages(sim.helper);
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "Stopped.");
  EXPECT_EQ(log.back(), "Page disconnected (exit): https://tamberline.com, slot 1.");
}
