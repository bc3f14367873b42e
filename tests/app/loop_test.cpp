// The event loop's slot table, handshake limit, peer check and signal handling, over real sockets.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "support/helper_process.h"

namespace {

using Clock = std::chrono::steady_clock;

long long elapsed_ms(Clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

}  // namespace

TEST(Loop, SilentAndTricklingHandshakesAreClosedAfterFiveSecondsWithoutALogLine) {
  HelperProcess helper;
  ASSERT_TRUE(start_on_free_port(helper));
  size_t log_before = log_messages(helper).size();
  auto start = Clock::now();
  int silent = connect_loopback(helper.port);
  int trickle = connect_loopback(helper.port);
  ASSERT_GE(silent, 0);
  ASSERT_GE(trickle, 0);
  // A few bytes every half second never complete the request; the limit runs from the accept.
  std::thread feeder([trickle] {
    for (int i = 0; i < 14; ++i) {
      if (!send_bytes(trickle, "G")) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
  });
  EXPECT_TRUE(closed_within(silent, 8000));
  long long silent_ms = elapsed_ms(start);
  EXPECT_GE(silent_ms, 4900);
  EXPECT_LE(silent_ms, 6500);
  bool closed = false;
  recv_until_closed(trickle, 8000, &closed);
  EXPECT_TRUE(closed);
  EXPECT_LE(elapsed_ms(start), 6500);
  feeder.join();
  close(silent);
  close(trickle);
  wait_for_output(helper, "\n", 200);
  EXPECT_EQ(log_messages(helper).size(), log_before);
  EXPECT_EQ(stop_helper(helper, SIGTERM), 0);
}

TEST(Loop, FourConnectionsAreHeldAndAFifthIsClosedAtOnce) {
  HelperProcess helper;
  ASSERT_TRUE(start_on_free_port(helper));
  std::vector<int> held;
  for (int i = 0; i < 4; ++i) {
    held.push_back(connect_loopback(helper.port));
    std::this_thread::sleep_for(std::chrono::milliseconds(60));  // one accept per loop pass
  }
  int fifth = connect_loopback(helper.port);
  ASSERT_GE(fifth, 0);
  auto start = Clock::now();
  EXPECT_TRUE(closed_within(fifth, 2000));
  EXPECT_LT(elapsed_ms(start), 1000);
  for (int fd : held) {
    bool closed = true;
    recv_for(fd, 50, 0, &closed);
    EXPECT_FALSE(closed);
  }
  close(fifth);
  // A freed slot takes the next connection.
  close(held[2]);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  int again = connect_loopback(helper.port);
  bool closed = true;
  recv_for(again, 300, 0, &closed);
  EXPECT_FALSE(closed);
  close(again);
  for (int fd : held) close(fd);
  EXPECT_EQ(stop_helper(helper, SIGTERM), 0);
}

TEST(Loop, PeersOtherThanLoopbackOneAreClosedAtOnce) {
  HelperProcess helper;
  ASSERT_TRUE(start_on_free_port(helper));
  int foreign = connect_loopback(helper.port, "127.0.0.2");
  ASSERT_GE(foreign, 0);
  auto start = Clock::now();
  EXPECT_TRUE(closed_within(foreign, 2000));
  EXPECT_LT(elapsed_ms(start), 1000);
  close(foreign);
  EXPECT_EQ(log_messages(helper).size(), 2u);
  EXPECT_EQ(stop_helper(helper, SIGTERM), 0);
}

TEST(Loop, SigintAndSigtermStopWithExitCodeZero) {
  for (int signal_number : {SIGINT, SIGTERM}) {
    HelperProcess helper;
    ASSERT_TRUE(start_on_free_port(helper));
    int pending = connect_loopback(helper.port);  // a handshake in progress leaves no line
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    auto start = Clock::now();
    EXPECT_EQ(stop_helper(helper, signal_number), 0);
    EXPECT_LT(elapsed_ms(start), 1000);
    EXPECT_EQ(log_messages(helper).back(), "Stopped.");
    EXPECT_TRUE(closed_within(pending, 1000));
    close(pending);
  }
}
