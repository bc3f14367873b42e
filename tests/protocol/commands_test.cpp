// Commands and replies over a real WebSocket against the real binary, which on this machine has
// no WiFi: hello works, link and scan report their errors, and watch streams nulls.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/helper_process.h"
#include "support/json_check.h"
#include "support/replies.h"
#include "support/sim_scene.h"
#include "support/ws_client.h"

namespace {

std::string unknown(const std::string& cmd_json) {
  return "{\"type\":\"error\",\"cmd\":" + cmd_json +
         ",\"msg\":\"unknown command; this helper only reads WiFi information\"}";
}

class CommandsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(start_on_free_port(helper));
    ASSERT_TRUE(ws_connect(page, helper.port));
  }
  void TearDown() override {
    if (!replies.empty()) {
      EXPECT_EQ(check_json_texts(replies), "");
    }
  }
  // Sends one command and returns its reply, remembering it for the JSON check.
  std::string ask(const std::string& text) {
    std::string reply = ws_command(page, text);
    replies.push_back(reply);
    return reply;
  }
  std::vector<ServerFrame> read_frames(int count, int timeout_ms) {
    std::vector<ServerFrame> frames;
    for (int i = 0; i < count; ++i) {
      ServerFrame frame;
      if (!ws_read_frame(page, frame, timeout_ms)) break;
      replies.push_back(frame.payload);
      frames.push_back(frame);
    }
    return frames;
  }

  HelperProcess helper;
  WsClient page;
  std::vector<std::string> replies;
};

}  // namespace

TEST_F(CommandsTest, HelloAndTheCommandNameRule) {
  EXPECT_EQ(ask("{\"cmd\":\"hello\"}"), hello_reply(helper.port));
  EXPECT_EQ(ask("{ \"id\": 7, \"cmd\" : \"hello\" }"), hello_reply(helper.port));
  EXPECT_EQ(ask("{\"cmd\":\"Hello\"}"), unknown("\"Hello\""));
  EXPECT_EQ(ask("{\"cmd\":\"hello \"}"), unknown("\"hello \""));
  EXPECT_EQ(ask("{\"cmd\":\"dance\"}"), unknown("\"dance\""));
  EXPECT_EQ(ask("{\"cmd\":5}"), unknown("\"\""));
  EXPECT_EQ(ask("{\"cmd\":5,\"x\":\"link\"}"), unknown("\"x\""));
  EXPECT_EQ(ask("no command at all"), unknown("\"\""));
  EXPECT_EQ(ask(""), unknown("\"\""));
  EXPECT_EQ(ask("{\"cmd\":\"abcdefghijklmnopqrstuvwxyz0123\"}"),
            unknown("\"abcdefghijklmnopqrstuvw\""));
  EXPECT_EQ(ask("{\"cmd\":\"a\\\"b\"}"), unknown("\"a\\\\\""));
  // Odd bytes in a name come back as escapes, never as bytes a browser would reject.
  EXPECT_EQ(ask("{\"cmd\":\"\xed\xa0\x80\x01\"}"), unknown("\"\\u00ed\\u00a0\\u0080\\u0001\""));
}

TEST_F(CommandsTest, WithoutWifiLinkAndScanReportErrors) {
  EXPECT_EQ(ask("{\"cmd\": \"link\"}"),
            "{\"type\":\"error\",\"cmd\":\"link\",\"msg\":\"no WiFi interface found\"}");
  EXPECT_EQ(ask("{\"cmd\":\"scan\"}"),
            "{\"type\":\"error\",\"cmd\":\"scan\",\"msg\":\"no WiFi interface found\"}");
  // The failed scan is logged in plain words after the line that announced it.
  wait_for_output(helper, "Scan failed: no WiFi interface found.\n", 1000);
  std::vector<std::string> log = log_messages(helper);
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "Scanning nearby WiFi...");
  EXPECT_EQ(log.back(), "Scan failed: no WiFi interface found.");
}

TEST_F(CommandsTest, StopAlwaysAnswersAndPipelinedCommandsAnswerInOrder) {
  ServerFrame frame;
  EXPECT_EQ(ask("{\"cmd\":\"stop\"}"), "{\"type\":\"stopped\"}");
  std::string burst;
  for (int i = 0; i < 10; ++i)
    burst += text_frame(i % 2 ? "{\"cmd\":\"stop\"}" : "{\"cmd\":\"x\"}");
  ASSERT_TRUE(ws_send(page, burst));
  std::vector<ServerFrame> frames = read_frames(10, 3000);
  ASSERT_EQ(frames.size(), 10u);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(frames[i].payload, i % 2 ? "{\"type\":\"stopped\"}" : unknown("\"x\"")) << i;
    EXPECT_EQ(frames[i].first_byte, 0x81);
  }
  EXPECT_EQ(frames[1].raw.substr(0, 2), std::string("\x81\x12"));
}

TEST_F(CommandsTest, WatchWithoutWifiStreamsNullsThenStops) {
  EXPECT_EQ(ask("{\"cmd\":\"watch\",\"hz\":5,\"secs\":1}"),
            "{\"type\":\"watching\",\"hz\":5,\"secs\":1}");
  std::vector<ServerFrame> frames = read_frames(20, 1500);
  ASSERT_GE(frames.size(), 5u);
  EXPECT_EQ(frames.back().payload, "{\"type\":\"stopped\"}");
  size_t samples = frames.size() - 1;
  EXPECT_GE(samples, 4u);
  EXPECT_LE(samples, 6u);
  std::vector<long long> t;
  for (size_t i = 0; i < samples; ++i) {
    const std::string& text = frames[i].payload;
    ASSERT_EQ(text.rfind("{\"type\":\"rssi\",\"t\":", 0), 0u) << text;
    ASSERT_GE(text.size(), 13u);
    EXPECT_EQ(text.substr(text.size() - 13), ",\"rssi\":null}");
    t.push_back(std::stoll(text.substr(19)));
  }
  // Due every 200 ms, measured from the schedule (the earliest sample against its due instant): a
  // loaded machine may hold the helper back and make a sample late, but the schedule never drifts.
  long long origin = t.front();
  for (size_t i = 0; i < t.size(); ++i)
    origin = std::min(origin, t[i] - 200 * static_cast<long long>(i));
  for (size_t i = 0; i < t.size(); ++i) {
    EXPECT_LE(t[i] - 200 * static_cast<long long>(i) - origin, 400) << "sample " << i;
  }
  EXPECT_TRUE(std::is_sorted(t.begin(), t.end()));
  // The log says why the samples are empty.
  const std::string no_link =
      "No WiFi link to sample: the page gets empty readings until this computer joins a WiFi "
      "network.";
  EXPECT_TRUE(wait_for_output(helper, no_link + "\n", 1000));
  EXPECT_EQ(log_messages(helper).back(), no_link);
  // Nothing more after the end of the stream.
  EXPECT_TRUE(read_frames(1, 400).empty());
}

TEST_F(CommandsTest, NewWatchReplacesTheRunningOneAndStopEndsIt) {
  ask("{\"cmd\":\"watch\",\"hz\":1,\"secs\":600}");
  std::vector<ServerFrame> first = read_frames(1, 1000);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(ask("{\"cmd\":\"watch\",\"hz\":20,\"secs\":1}"),
            "{\"type\":\"watching\",\"hz\":20,\"secs\":1}");
  std::vector<ServerFrame> burst = read_frames(5, 1000);
  ASSERT_EQ(burst.size(), 5u);  // at 20 Hz, five samples come well within a second
  EXPECT_EQ(ask("{\"cmd\":\"stop\"}"), "{\"type\":\"stopped\"}");
  // A sample may have been on its way; after that, silence.
  std::vector<ServerFrame> after = read_frames(3, 300);
  EXPECT_LE(after.size(), 1u);
  EXPECT_TRUE(read_frames(1, 300).empty());
  EXPECT_EQ(ask("{\"cmd\":\"stop\"}"), "{\"type\":\"stopped\"}");
}

namespace {

// Stops the helper and waits until the kernel shows it stopped: kill() only queues the signal,
// and a helper still running after it returned could serve a pass the caller thinks it holds up.
bool hold_still(pid_t pid) {
  kill(pid, SIGSTOP);
  std::string path = "/proc/" + std::to_string(pid) + "/stat";
  for (int i = 0; i < 500; ++i) {
    FILE* file = std::fopen(path.c_str(), "r");
    char line[512] = {};
    bool got = file != nullptr && std::fgets(line, sizeof line, file) != nullptr;
    if (file != nullptr) std::fclose(file);
    const char* state = got ? std::strrchr(line, ')') : nullptr;
    if (state != nullptr && state[1] == ' ' && (state[2] == 'T' || state[2] == 't')) return true;
    usleep(10000);
  }
  return false;
}

// The rssi messages among the next `count` frames (or fewer, once `timeout_ms` passes without one).
std::vector<std::string> rssi_messages(WsClient& page, int count, int timeout_ms) {
  std::vector<std::string> samples;
  for (int i = 0; i < count; ++i) {
    ServerFrame frame;
    if (!ws_read_frame(page, frame, timeout_ms)) break;
    if (frame.payload.rfind("{\"type\":\"rssi\"", 0) == 0) samples.push_back(frame.payload);
  }
  return samples;
}

long long t_of(const std::string& sample) {
  return std::stoll(sample.substr(19));
}

}  // namespace

// Two pages streaming at 1 and 4 Hz are made due in the same ticks through the schedule itself,
// not through the clock: the helper is held still for longer than two spacings of the slower
// stream, so on its return both streams are overdue; the first tick serves both and sets both
// due at once again (a late sample is followed by the next at once), and the next pass serves
// both again. Those two ticks each send one sample, byte for byte the same, to both pages.
TEST(LiveStream, PagesDueInTheSameTickShareTimeAndOthersKeepStreamingWhenOneCloses) {
  HelperProcess helper;
  ASSERT_TRUE(start_on_free_port(helper));
  WsClient fast, slow;
  ASSERT_TRUE(ws_connect(fast, helper.port));
  ASSERT_TRUE(ws_connect(slow, helper.port));
  EXPECT_EQ(ws_command(slow, "{\"cmd\":\"watch\",\"hz\":1,\"secs\":60}"),
            "{\"type\":\"watching\",\"hz\":1,\"secs\":60}");
  EXPECT_EQ(ws_command(fast, "{\"cmd\":\"watch\",\"hz\":4,\"secs\":60}"),
            "{\"type\":\"watching\",\"hz\":4,\"secs\":60}");
  ASSERT_EQ(rssi_messages(slow, 1, 3000).size(), 1u);
  std::vector<std::string> fast_all = rssi_messages(fast, 1, 3000);
  ASSERT_EQ(fast_all.size(), 1u);

  ASSERT_TRUE(hold_still(helper.pid));
  // What was sent before the stop goes to the record; the slow page's is of no use.
  for (const std::string& sample : rssi_messages(fast, 20, 100)) fast_all.push_back(sample);
  rssi_messages(slow, 20, 100);
  size_t resumed = fast_all.size();
  usleep(2200 * 1000);
  kill(helper.pid, SIGCONT);

  // The first tick after the return is the first sample 2 s after the one before it; a tick the
  // stop cut short may still have sent one with its earlier time first.
  for (const std::string& sample : rssi_messages(fast, 3, 3000)) fast_all.push_back(sample);
  size_t a = resumed;
  while (a < fast_all.size() && t_of(fast_all[a]) - t_of(fast_all[a - 1]) < 2000) ++a;
  ASSERT_LE(a, resumed + 1) << "no tick 2 s after the one before the stop";
  ASSERT_LT(a + 1, fast_all.size());
  const std::string& shared_first = fast_all[a];
  const std::string& shared_second = fast_all[a + 1];
  std::vector<std::string> slow_after;
  while (slow_after.size() < 3 && (slow_after.empty() || slow_after.back() != shared_second)) {
    std::vector<std::string> one = rssi_messages(slow, 1, 3000);
    if (one.empty()) break;
    slow_after.push_back(one[0]);
  }
  ASSERT_GE(slow_after.size(), 2u);
  EXPECT_EQ(slow_after[slow_after.size() - 2], shared_first);
  EXPECT_EQ(slow_after.back(), shared_second);

  // From the shared ticks on, the slow page's next sample is due a whole second later, while the
  // fast page goes on at its own rate; once the slow page is gone, the fast one streams on.
  std::vector<std::string> slow_next = rssi_messages(slow, 1, 3000);
  ASSERT_EQ(slow_next.size(), 1u);
  EXPECT_GE(t_of(slow_next[0]) - t_of(shared_first), 1000);
  ws_disconnect(slow);
  std::vector<std::string> later = rssi_messages(fast, 8, 2000);
  ASSERT_GE(later.size(), 3u);
  EXPECT_GE(t_of(later.back()) - t_of(slow_next[0]), 1000);
}

// Hello's help note follows the helper's rights: with the right to scan (a root start keeps it)
// it says fresh scans are on; without it (started as another user through setpriv) it says how to
// get them, the file capability included.
TEST(HelloHelp, FollowsTheRightToScan) {
  if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0)
    GTEST_SKIP() << "needs root and setpriv to start the helper with and without the right";
  // setpriv is this machine's program and starts this machine's helper: nothing an emulated run
  // (TIVEL_EMULATOR) could add.
  if (!binary_path("TIVEL_EMULATOR", "").empty())
    GTEST_SKIP() << "setpriv and the helper it starts are native binaries";
  // Each start states the right once, before the "Running on" line; hello's note follows it, and
  // claims fresh scans only where there is an adapter (the simulator has one, this machine none).
  auto help_of = [](const HelperOptions& options, std::string* right_line) {
    HelperProcess helper;
    if (!start_on_free_port(helper, options)) return "no start: " + helper.output;
    std::vector<std::string> log = log_messages(helper);
    *right_line = log.size() >= 2 ? log[log.size() - 2] : "";
    WsClient page;
    if (!ws_connect(page, helper.port)) return std::string("no upgrade");
    std::string reply = ws_command(page, R"({"cmd":"hello"})");
    size_t at = reply.find("\"permHelp\":\"");
    return at == std::string::npos ? reply
                                   : reply.substr(at + 12, reply.find('"', at + 12) - at - 12);
  };
  HelperOptions as_nobody;
  as_nobody.path = "/usr/bin/setpriv";
  as_nobody.args = {"--reuid=65534", "--regid=65534", "--clear-groups", TIVEL_HELPER_PATH};
  char* real = realpath(TIVEL_HELPER_PATH, nullptr);
  const std::string path = real != nullptr ? real : TIVEL_HELPER_PATH;
  std::free(real);
  struct Case {
    HelperOptions options;
    std::string help, right_line;
  };
  const Case cases[] = {
      {sim_options(""),
       "Fresh scans are on: each scan asks the WiFi adapter to look again, which takes a few "
       "seconds.",
       "Fresh scans: on (CAP_NET_ADMIN)"},
      {HelperOptions{},
       "No WiFi adapter was found when the helper started, so there is nothing to scan with; the "
       "helper may ask for fresh scans once there is one.",
       "Fresh scans: on (CAP_NET_ADMIN)"},
      {as_nobody,
       "Linux shows what your system scanned most recently. For a fresh scan run the helper with "
       "sudo, or give it the right to scan once (sudo setcap cap_net_admin=ep on the helper's "
       "file), or let NetworkManager rescan (nmcli device wifi rescan).",
       "Fresh scans: off: the page gets the system's last scan; for fresh scans give the helper "
       "the right once (sudo setcap cap_net_admin=ep " +
           path + ") and start it again."},
  };
  for (const Case& c : cases) {
    std::string right_line;
    EXPECT_EQ(help_of(c.options, &right_line), c.help);
    EXPECT_EQ(right_line, c.right_line);
  }
}
