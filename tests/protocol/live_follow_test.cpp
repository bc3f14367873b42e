// The live stream follows the station between access points, over a real WebSocket against the
// simulator: each scene makes the association change at a given time (a roam as mac80211 does it,
// one a driver does in firmware, a lost access point, a reconnect, the interface removed and added
// back) with the notifications the kernel sends, or with them switched off or lost. The stream must
// carry the signal of the access point the station is on, null while it is on none, and ask the
// kernel no more than the rules allow (counted in the stand-in's trace).
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "support/helper_process.h"
#include "support/sim_scene.h"
#include "support/ws_client.h"

namespace {

// Two access points of one network; the station starts on the 5 GHz one at -50 dBm and is heard
// at -62 dBm on the 2.4 GHz one.
constexpr char kTwoRooms[] = R"(trigger refuse
interface ifindex=3 name=wlan0 freq=5180 width=1 ssid=Home
bss bssid=02:00:00:00:00:01 freq=5180 signal=-5000 status=associated ssid=Home
bss bssid=02:00:00:00:00:02 freq=2437 signal=-6200 ssid=Home
station signal=-50
)";

// Requests the stand-in received, by generic-netlink command.
struct Requests {
  int interface_dumps = 0;  // NL80211_CMD_GET_INTERFACE (5): the start of every probe
  int scan_dumps = 0;       // NL80211_CMD_GET_SCAN (32)
  int stations = 0;         // NL80211_CMD_GET_STATION (17)
  int wiphys = 0;           // NL80211_CMD_GET_WIPHY (1): a newly chosen adapter's capabilities
  int total = 0;
};

Requests read_trace(const std::string& path) {
  std::ifstream in(path);
  Requests counted;
  for (std::string type, cmd; in >> type >> cmd;) {
    ++counted.total;
    counted.interface_dumps += cmd == "5" ? 1 : 0;
    counted.scan_dumps += cmd == "32" ? 1 : 0;
    counted.stations += cmd == "17" ? 1 : 0;
    counted.wiphys += cmd == "1" ? 1 : 0;
  }
  return counted;
}

Requests operator-(const Requests& a, const Requests& b) {
  return {a.interface_dumps - b.interface_dumps, a.scan_dumps - b.scan_dumps,
          a.stations - b.stations, a.wiphys - b.wiphys, a.total - b.total};
}

// One rule, one scene. The samples, taken at 10 Hz for 4 s, must run through `runs` in order:
// each a value ("-50", "null") sampled at least once, nothing else in between. The changes come 2 s
// after the simulator started, well after the page began watching.
struct FollowCase {
  const char* name;
  const char* changes;  // scene lines added to kTwoRooms
  bool link_first;      // the page asks `link` before `watch`
  std::vector<std::string> runs;
  int most_nulls;          // at most this many null samples (the time on none, plus slack)
  int most_probes;         // interface dumps during the watch
  bool probe_per_sample;   // ... or, when true, at most one per sample
  const char* link_after;  // a part of the `link` reply after the watch
};

const FollowCase kCases[] = {
    // mac80211 leaves and associates anew: DISCONNECT, then CONNECT half a second later.
    {"RoamAsMac80211DoesIt",
     "roam at=2000 bssid=02:00:00:00:00:02 gap-ms=500\n",
     true,
     {"-50", "null", "-62"},
     8,
     1,
     false,
     R"("channel":6,"freqMHz":2437,)"},
    // A driver that roams in firmware sends one ROAM: no moment on none.
    {"FirmwareRoam",
     "roam at=2000 bssid=02:00:00:00:00:02 firmware\n",
     true,
     {"-50", "-62"},
     0,
     1,
     false,
     R"("freqMHz":2437,)"},
    // The access point goes away: null from then on, and no request while the kernel says so.
    {"LostAccessPoint",
     "disconnect at=2000\n",
     true,
     {"-50", "null"},
     40,
     1,
     false,
     R"("connected":false,)"},
    // Lost, then connected to the other access point.
    {"ReconnectToTheOther",
     "disconnect at=2000\nconnect at=2500 bssid=02:00:00:00:00:02\n",
     true,
     {"-50", "null", "-62"},
     8,
     1,
     false,
     R"("freqMHz":2437,)"},
    // The groups cannot be joined: the failed station request (ENOENT) makes the sample read the
    // association once and ask again; while on none, one probe per sample.
    {"NotificationsOffRereadOnNoSuchStation",
     "notify off\nroam at=2000 bssid=02:00:00:00:00:02 gap-ms=500\n",
     true,
     {"-50", "null", "-62"},
     8,
     0,
     true,
     R"("freqMHz":2437,)"},
    // The socket overflowed where the notifications were: the association is read afresh.
    {"LostNotificationsRereadOnce",
     "notify lost\ndisconnect at=2000\n",
     true,
     {"-50", "null"},
     40,
     2,
     false,
     R"("connected":false,)"},
    // The adapter's interface is removed and added back with another index: the stream follows
    // it without a page's command (the interface is chosen again, as link would).
    {"InterfaceRemovedAndAddedBack",
     "replug at=2000 gap-ms=500\n",
     true,
     {"-50", "null", "-50"},
     8,
     4,
     false,
     R"("iface":"wlan0","ssid":"Home",)"},
    // Nothing asked `link` yet: the first sample reads the association itself.
    {"WatchFirstProbesTheAssociation", "", false, {"-50"}, 0, 1, false, R"("freqMHz":5180,)"},
    // The station stays where it is and the notifications work: each sample is one station
    // request, and nothing is read again.
    {"SteadyAssociationIsNotReadAgain", "", true, {"-50"}, 0, 0, false, R"("freqMHz":5180,)"},
};

void PrintTo(const FollowCase& c, std::ostream* out) {
  *out << c.name;
}

// The sample values in order: the number after "rssi":, or null.
std::vector<std::string> sample_values(const std::vector<std::string>& messages) {
  std::vector<std::string> values;
  for (const std::string& message : messages) {
    size_t at = message.find("\"rssi\":");
    if (at == std::string::npos) continue;
    size_t end = message.find('}', at);
    values.push_back(message.substr(at + 7, end - at - 7));
  }
  return values;
}

// Empty when `values` run through `runs` in order, each present; else what went wrong.
std::string check_runs(const std::vector<std::string>& values,
                       const std::vector<std::string>& runs) {
  size_t run = 0;
  bool seen = false;
  for (size_t i = 0; i < values.size(); ++i) {
    if (values[i] == runs[run]) {
      seen = true;
      continue;
    }
    if (seen && run + 1 < runs.size() && values[i] == runs[run + 1]) {
      ++run;
      continue;
    }
    return "sample " + std::to_string(i) + " is " + values[i] + " in the run of " + runs[run];
  }
  if (run + 1 != runs.size() || !seen) return "the samples stop in the run of " + runs[run];
  return "";
}

class LiveFollow : public testing::TestWithParam<FollowCase> {};

TEST_P(LiveFollow, StreamCarriesTheAccessPointTheStationIsOn) {
  const FollowCase& c = GetParam();
  SceneFile scene(std::string(kTwoRooms) + c.changes);
  const std::string trace = scene.path + ".trace";
  HelperOptions options = sim_options(scene.path);
  options.env.push_back("TIVEL_SIM_TRACE=" + trace);
  HelperProcess helper;
  ASSERT_TRUE(start_on_free_port(helper, options)) << helper.output;
  WsClient page;
  ASSERT_TRUE(ws_connect(page, helper.port));
  if (c.link_first) {
    EXPECT_NE(ws_command(page, R"({"cmd":"link"})").find(R"("freqMHz":5180,)"), std::string::npos);
  }
  const Requests before = read_trace(trace);
  EXPECT_EQ(ws_command(page, R"({"cmd":"watch","hz":10,"secs":4})"),
            R"({"type":"watching","hz":10,"secs":4})");
  std::vector<std::string> messages;
  for (ServerFrame frame; ws_read_frame(page, frame, 3000);) {
    if (frame.payload == R"({"type":"stopped"})") break;
    messages.push_back(frame.payload);
  }
  const Requests during = read_trace(trace) - before;
  std::vector<std::string> values = sample_values(messages);
  ASSERT_GE(values.size(), 30u) << helper.output;
  EXPECT_EQ(check_runs(values, c.runs), "") << testing::PrintToString(values);

  int nulls = 0;
  for (const std::string& value : values) nulls += value == "null" ? 1 : 0;
  EXPECT_LE(nulls, c.most_nulls) << testing::PrintToString(values);
  int valued = static_cast<int>(values.size()) - nulls;
  // The watch command takes a reading of its own (its log line says whether there is a link to
  // sample), and the tick that ends the stream one for nobody: two station requests, and with
  // probes, one more probe, beyond the samples.
  const int most_probes = c.probe_per_sample ? static_cast<int>(values.size()) + 1 : c.most_probes;
  EXPECT_LE(during.interface_dumps, most_probes);
  // A probe reads the scan dump only for an interface that has a channel.
  EXPECT_LE(during.scan_dumps, during.interface_dumps);
  // One station request per sample with a value; a probe's station request is asked again at
  // most once after it.
  EXPECT_GE(during.stations, valued);
  EXPECT_LE(during.stations, valued + most_probes + 2);
  // An interface chosen anew (added back under another index) has its adapter read once.
  EXPECT_LE(during.wiphys, 1);
  EXPECT_EQ(during.total,
            during.interface_dumps + during.scan_dumps + during.stations + during.wiphys);

  // link agrees with the stream.
  EXPECT_NE(ws_command(page, R"({"cmd":"link"})").find(c.link_after), std::string::npos);
  unlink(trace.c_str());
}

INSTANTIATE_TEST_SUITE_P(Rules, LiveFollow, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<FollowCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
