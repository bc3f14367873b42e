// Soak: many short visits, in a fixed mix of what pages and other local clients do (upgrade and
// command and close, upgrade and vanish, plain requests, refused upgrades, bad requests,
// connections dropped before or during the request). Every reply is checked, and the helper's
// open descriptors and resident memory must be the same after the run as after a short warm-up
// (memory within two pages). Once against the real binary (no WiFi on this machine, so link and
// scan report errors and samples are null), once against the simulator serving a scene, so the
// same visits run through the WiFi source.
//
// TIVEL_SOAK_CYCLES sets the number of cycles (default 1000; `make soak` runs 10000).

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "hardening_support.h"
#include "support/helper_process.h"
#include "support/ws_client.h"

namespace {

constexpr int kWarmupCycles = 100;
constexpr long kRssSlackBytes = 2 * 4096;

int soak_cycles() {
  const char* text = std::getenv("TIVEL_SOAK_CYCLES");
  int cycles = text != nullptr ? std::atoi(text) : 0;
  return cycles > 0 ? cycles : 1000;
}

std::string unknown_reply(const std::string& name) {
  return "{\"type\":\"error\",\"cmd\":\"" + name +
         "\",\"msg\":\"unknown command; this helper only reads WiFi information\"}";
}

// What each kind of visit did, to check the log against at the end.
struct Tally {
  size_t upgrades = 0;
  size_t refused_origins = 0;
  size_t streams = 0;
};

// The simulator's scene: an associated interface and a few networks, the scan wait skipped.
constexpr const char* kScene = R"(name soak
trigger accept
scan-wait-ms 0
interface ifindex=3 name=wlan0 type=station freq=5180 width=3 ssid=Soak-Home
bss bssid=3c:84:6a:12:34:56 freq=5180 signal=-5200 status=associated ssid=Soak-Home
bss bssid=f4:92:bf:01:02:03 freq=2412 signal=-6400 ssid=Neighbour
bss freq=2462 signal=-7800 hidden
station signal=-52 swing=6 tx-bitrate=8667 tx-vht-mcs=9 tx-vht-nss=2 tx-width=80 rx-bitrate=7800
)";

class Soak : public testing::Test {
 protected:
  void start(bool simulator) {
    HelperOptions options;
    if (simulator) {
      scene_path = testing::TempDir() + "soak.scene";
      std::ofstream(scene_path) << kScene;
      options.path = TIVEL_SIM_PATH;
      options.env.push_back("TIVEL_SIM_SCENE=" + scene_path);
      with_wifi = true;
    }
    ASSERT_TRUE(start_on_free_port(helper, options)) << helper.output;
  }

  // An upgraded page; false (with a failure recorded) when the upgrade did not happen.
  bool upgrade(WsClient& page) {
    bool ok = ws_connect(page, helper.port);
    EXPECT_TRUE(ok) << "handshake: " << page.handshake;
    if (ok) ++tally.upgrades;
    return ok;
  }

  void close_politely(WsClient& page) {
    ASSERT_TRUE(ws_send(page, close_frame(1000)));
    bool closed = false;
    EXPECT_EQ(ws_read_raw(page, 3000, 0, &closed), std::string("\x88\x00", 2));
    EXPECT_TRUE(closed);
  }

  // One plain HTTP exchange on a fresh connection: exactly `expected`, then the end.
  void plain_exchange(const std::string& request, const std::string& expected) {
    int fd = connect_loopback(helper.port);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(send_bytes(fd, request));
    bool closed = false;
    EXPECT_EQ(recv_until_closed(fd, 3000, &closed), expected);
    EXPECT_TRUE(closed);
    close(fd);
  }

  void cycle(int n) {
    const int port = helper.port;
    switch (n % 10) {
      case 0: {  // hello, then a polite close
        WsClient page;
        if (!upgrade(page)) return;
        EXPECT_EQ(ws_command(page, R"({"cmd":"hello"})", 3000),
                  with_wifi ? sim_hello_reply(port) : hello_reply(port));
        close_politely(page);
        break;
      }
      case 1: {  // link or scan: a report or the error naming the command
        WsClient page;
        if (!upgrade(page)) return;
        const char* name = (n / 10) % 2 == 0 ? "link" : "scan";
        std::string reply = ws_command(page, std::string(R"({"cmd":")") + name + "\"}", 10000);
        bool report = reply.starts_with(std::string("{\"type\":\"") + name + "\",");
        bool error = reply.starts_with(std::string("{\"type\":\"error\",\"cmd\":\"") + name);
        EXPECT_TRUE(with_wifi ? report : error) << reply;
        close_politely(page);
        break;
      }
      case 2: {  // a short fast stream, stopped at once
        WsClient page;
        if (!upgrade(page)) return;
        ++tally.streams;
        EXPECT_EQ(ws_command(page, R"({"cmd":"watch","hz":20,"secs":5})", 3000),
                  R"({"type":"watching","hz":20,"secs":5})");
        ASSERT_TRUE(ws_send(page, text_frame(R"({"cmd":"stop"})")));
        for (;;) {
          ServerFrame frame;
          ASSERT_TRUE(ws_read_frame(page, frame, 3000));
          if (frame.payload == R"({"type":"stopped"})") break;
          EXPECT_TRUE(frame.payload.starts_with(R"({"type":"rssi","t":)")) << frame.payload;
          EXPECT_EQ(frame.payload.ends_with(R"(,"rssi":null})"), !with_wifi) << frame.payload;
        }
        close_politely(page);
        break;
      }
      case 3: {  // an unknown command, then the page vanishes without a close frame
        WsClient page;
        if (!upgrade(page)) return;
        EXPECT_EQ(ws_command(page, R"({"cmd":"dance"})", 3000), unknown_reply("dance"));
        ws_disconnect(page);
        break;
      }
      case 4:
        plain_exchange("GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n",
                       plain_reply("200 OK",
                                   "Tamberline Tivel Helper is running. Go back to the Tamberline "
                                   "page; it connects by itself.\n"));
        break;
      case 5:
        ++tally.refused_origins;
        plain_exchange(http_request(page_headers(port, "https://evil.example")),
                       plain_reply("403 Forbidden", "origin not allowed\n"));
        break;
      case 6: {
        plain_exchange(http_request(page_headers_with(port, "Sec-WebSocket-Version", "8")),
                       plain_reply("400 Bad Request", "bad websocket request\n"));
        break;
      }
      case 7: {
        plain_exchange(http_request(page_headers_with(port, "Host", "example.com")),
                       plain_reply("403 Forbidden", "wrong host\n"));
        break;
      }
      case 8: {  // connect and leave at once
        int fd = connect_loopback(port);
        ASSERT_GE(fd, 0);
        close(fd);
        break;
      }
      default: {  // half a request, then leave
        int fd = connect_loopback(port);
        ASSERT_GE(fd, 0);
        std::string request = http_request(page_headers(port));
        ASSERT_TRUE(send_bytes(fd, request.substr(0, request.size() / 2)));
        close(fd);
        break;
      }
    }
    if (n % 16 == 0) read_log(helper);
  }

  // Runs cycles [first, first + count); stops at the first failing cycle.
  void run_cycles(int first, int count) {
    for (int n = first; n < first + count; ++n) {
      cycle(n);
      if (HasFailure()) {
        ADD_FAILURE() << "cycle " << n << " failed";
        return;
      }
    }
  }

  // Lets the helper finish with every connection it still holds, and reads its log.
  void settle() {
    usleep(300 * 1000);
    for (int i = 0; i < 20; ++i) read_log(helper);
  }

  void soak(const char* label);

  HelperProcess helper;
  Tally tally;
  bool with_wifi = false;
  std::string scene_path;
};

void Soak::soak(const char* label) {
  const int cycles = soak_cycles();
  run_cycles(0, kWarmupCycles);
  ASSERT_FALSE(HasFailure());
  settle();
  const int fds_before = open_descriptors(helper.pid);
  const long rss_before = resident_bytes(helper.pid);
  ASSERT_GT(fds_before, 0);
  ASSERT_GT(rss_before, 0);

  auto start = std::chrono::steady_clock::now();
  run_cycles(kWarmupCycles, cycles);
  ASSERT_FALSE(HasFailure());
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  settle();
  const int fds_after = open_descriptors(helper.pid);
  const long rss_after = resident_bytes(helper.pid);

  std::printf("soak (%s): %d cycles in %.1f s; descriptors %d -> %d; RSS %ld -> %ld bytes\n", label,
              cycles, seconds, fds_before, fds_after, rss_before, rss_after);
  RecordProperty("cycles", cycles);
  RecordProperty("descriptors_before", fds_before);
  RecordProperty("descriptors_after", fds_after);
  RecordProperty("rss_before", std::to_string(rss_before));
  RecordProperty("rss_after", std::to_string(rss_after));
  EXPECT_EQ(fds_after, fds_before);
  // Under memcheck the process's memory is mostly memcheck's, which grows with what it translates.
  if (std::getenv("TIVEL_MEMCHECK") == nullptr) {
    EXPECT_LE(rss_after, rss_before + kRssSlackBytes);
  }

  // The log tells the same story as the replies did, once the last second's repeats are summarised.
  usleep(1200 * 1000);  // a repeat window is one second
  read_log(helper);
  EXPECT_EQ(count_lines_starting(helper, "Connected to https://tamberline.com (slot "),
            tally.upgrades);
  EXPECT_EQ(count_lines_starting(helper, "Page disconnected (closed): "), tally.upgrades);
  EXPECT_EQ(count_lines(helper,
                        "Refused a connection from https://evil.example (only Tamberline pages "
                        "may connect)."),
            tally.refused_origins);
  // Without WiFi (the real binary here) a stream logs that there is no link to sample.
  EXPECT_EQ(count_lines(helper, "Streaming live signal strength to the page.") +
                count_lines(helper,
                            "No WiFi link to sample: the page gets empty readings until this "
                            "computer joins a WiFi network."),
            tally.streams);

  EXPECT_EQ(fresh_page_problem(helper.port), "");
  EXPECT_EQ(stop_helper(helper), 0);
}

TEST_F(Soak, RealBinaryKeepsDescriptorsAndMemoryFlat) {
  start(false);
  if (!HasFatalFailure()) soak("real binary");
}

TEST_F(Soak, SimulatorKeepsDescriptorsAndMemoryFlat) {
  start(true);
  if (!HasFatalFailure()) soak("simulator");
}

}  // namespace
