#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "support/helper_process.h"
#include "support/ws_client.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

double seconds_between(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// Closes the page the way a browser does: a close frame, answered with an empty one.
Clock::time_point close_page(WsClient& page) {
  Clock::time_point sent = Clock::now();
  EXPECT_TRUE(ws_send(page, close_frame(1001)));
  bool closed = false;
  EXPECT_EQ(ws_read_raw(page, 2000, 0, &closed), std::string("\x88\x00", 2));
  EXPECT_TRUE(closed);
  return sent;
}

std::vector<std::string> messages_after_start(const HelperProcess& helper) {
  std::vector<std::string> later;
  for (const std::string& message : log_messages(helper)) {
    if (!message.starts_with("Running on") && !message.starts_with("WiFi not available") &&
        !message.starts_with("Fresh scans:"))
      later.push_back(message);
  }
  return later;
}

// The 30-second rule, in three helpers at once so the long waits overlap:
//   one page that closes: the helper exits a little after 30 s;
//   two pages closing 5 s apart: only the second close starts the 30 s;
//   a page that comes back within 30 s: the helper keeps running.
TEST(PageLifecycle, HelperExitsThirtySecondsAfterTheLastPage) {
  HelperProcess single, pair, returning;
  for (HelperProcess* helper : {&single, &pair, &returning})
    ASSERT_TRUE(start_on_free_port(*helper)) << helper->output;
  WsClient single_page, first_of_pair, second_of_pair, leaving, coming_back;
  ASSERT_TRUE(ws_connect(single_page, single.port));
  ASSERT_TRUE(ws_connect(first_of_pair, pair.port));
  ASSERT_TRUE(ws_connect(second_of_pair, pair.port));
  ASSERT_TRUE(ws_connect(leaving, returning.port));

  Clock::time_point start = Clock::now();
  Clock::time_point single_closed = close_page(single_page);
  close_page(first_of_pair);
  close_page(leaving);
  ASSERT_TRUE(
      wait_for_output(pair, "Page disconnected (closed): https://tamberline.com, slot ", 2000));

  std::this_thread::sleep_until(start + milliseconds(5000));
  Clock::time_point pair_closed = close_page(second_of_pair);

  std::this_thread::sleep_until(start + milliseconds(20000));
  ASSERT_TRUE(ws_connect(coming_back, returning.port));

  // Watch all three until the pair's helper should be gone and the returning one well past 30 s.
  Clock::time_point single_exit{}, pair_exit{};
  while (Clock::now() < start + milliseconds(40000)) {
    if (single_exit == Clock::time_point{} && wait_exit(single, 0) != -1)
      single_exit = Clock::now();
    if (pair_exit == Clock::time_point{} && wait_exit(pair, 0) != -1) pair_exit = Clock::now();
    if (single_exit != Clock::time_point{} && pair_exit != Clock::time_point{} &&
        Clock::now() > start + milliseconds(36000))
      break;
    ASSERT_EQ(wait_exit(returning, 0), -1) << returning.output;
    std::this_thread::sleep_for(milliseconds(20));
  }

  ASSERT_NE(single_exit, Clock::time_point{}) << single.output;
  EXPECT_EQ(single.exit_code, 0);
  EXPECT_GE(seconds_between(single_closed, single_exit), 29.9);
  EXPECT_LE(seconds_between(single_closed, single_exit), 33.0);
  EXPECT_EQ(messages_after_start(single),
            (std::vector<std::string>{"Connected to https://tamberline.com (slot 1).",
                                      "Page disconnected (closed): https://tamberline.com, slot 1.",
                                      "The page closed. Exiting."}));

  ASSERT_NE(pair_exit, Clock::time_point{}) << pair.output;
  EXPECT_EQ(pair.exit_code, 0);
  EXPECT_GE(seconds_between(pair_closed, pair_exit), 29.9);
  EXPECT_LE(seconds_between(pair_closed, pair_exit), 33.0);
  EXPECT_EQ(messages_after_start(pair).back(), "The page closed. Exiting.");

  EXPECT_EQ(stop_helper(returning, SIGTERM), 0);
  EXPECT_EQ(
      messages_after_start(returning),
      (std::vector<std::string>{"Connected to https://tamberline.com (slot 1).",
                                "Page disconnected (closed): https://tamberline.com, slot 1.",
                                "Connected to https://tamberline.com (slot 1).", "Stopped.",
                                "Page disconnected (exit): https://tamberline.com, slot 1."}));
}

}  // namespace
