// The exit rules that take minutes or hours, run on the real binary with its monotonic clock
// sped up by libfaketime, and the log's time stamp with the wall clock pinned.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/helper_process.h"
#include "support/ws_client.h"

namespace {

// Found when the build was configured, on whichever architecture this is; empty when absent.
const char* kFakeTimeLibrary = TIVEL_FAKETIME_LIBRARY;

// libfaketime keeps a semaphore and a shared counter; a process that creates them itself removes
// them as it exits, a call the helper's system call filter rightly refuses (it would die by
// SIGSYS at the end). Created here and handed over in FAKETIME_SHARED, they are the test's: a
// fresh pair for each helper, removed when the test program ends.
struct FakeTimeShared {
  std::vector<std::string> names;
  ~FakeTimeShared() {
    for (size_t i = 0; i + 1 < names.size(); i += 2) {
      sem_unlink(names[i].c_str());
      shm_unlink(names[i + 1].c_str());
    }
  }
};

std::string fake_time_shared() {
  static FakeTimeShared shared;
  std::string stem =
      "/tivel_faketime_" + std::to_string(getpid()) + "_" + std::to_string(shared.names.size() / 2);
  std::string sem_name = stem + "_sem", shm_name = stem + "_shm";
  sem_t* sem = sem_open(sem_name.c_str(), O_CREAT | O_EXCL, 0600, 1);
  int shm = shm_open(shm_name.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
  EXPECT_NE(sem, SEM_FAILED);
  EXPECT_GE(shm, 0);
  shared.names.push_back(sem_name);
  shared.names.push_back(shm_name);
  if (sem != SEM_FAILED) sem_close(sem);
  if (shm >= 0) {
    EXPECT_EQ(ftruncate(shm, 4096), 0);  // libfaketime maps a record of a few dozen bytes
    close(shm);
  }
  return "FAKETIME_SHARED=" + sem_name + " " + shm_name;
}

HelperOptions fast_clock(const std::string& speed) {
  HelperOptions options;
  options.env = {std::string("LD_PRELOAD=") + kFakeTimeLibrary, "FAKETIME=+0 x" + speed,
                 "FAKETIME_NO_CACHE=1", fake_time_shared()};
  return options;
}

// Upgrades from an allowed page and expects the 101 response.
void connect_page(WsClient& page, int port) {
  ws_connect(page, port, kPageOrigin, 2000);
  EXPECT_EQ(page.handshake.rfind("HTTP/1.1 101 Switching Protocols\r\n", 0), 0u) << page.handshake;
}

void require_faketime() {
  if (kFakeTimeLibrary[0] == '\0' || access(kFakeTimeLibrary, R_OK) != 0)
    GTEST_SKIP() << "libfaketime is not installed";
}

}  // namespace

TEST(ExitRules, NoPageInTenMinutes) {
  require_faketime();
  HelperProcess helper;
  ASSERT_TRUE(start_on_free_port(helper, fast_clock("200")));  // 10 minutes in 3 s
  auto start = std::chrono::steady_clock::now();
  // Plain connections never count as a page.
  int plain = connect_loopback(helper.port);
  send_bytes(plain,
             "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(helper.port) + "\r\n\r\n");
  EXPECT_EQ(wait_exit(helper, 20000), 0);
  auto real = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start)
                  .count();
  EXPECT_GT(real, 2000);
  EXPECT_EQ(log_messages(helper).back(), "No page connected in 10 minutes. Exiting.");
  close(plain);
}

TEST(ExitRules, LogLineCarriesLocalTimeWithLeadingZeros) {
  require_faketime();
  HelperOptions options;
  options.env = {std::string("LD_PRELOAD=") + kFakeTimeLibrary, "FAKETIME=@2026-12-08 09:05:03",
                 "TZ=UTC", fake_time_shared()};
  HelperProcess helper;
  ASSERT_TRUE(start_on_free_port(helper, options));
  size_t line = helper.output.find("Running on");
  ASSERT_NE(line, std::string::npos);
  EXPECT_EQ(helper.output.substr(line - 10, 10), "09:05:03  ");
  EXPECT_EQ(stop_helper(helper, SIGTERM), 0);
}

TEST(ExitRules, FourHoursWithAPageConnectedThroughout) {
  require_faketime();
  HelperProcess helper;
  ASSERT_TRUE(start_on_free_port(helper, fast_clock("1000")));  // 4 hours in 14.4 s
  WsClient page;
  connect_page(page, helper.port);
  EXPECT_EQ(wait_exit(helper, 40000), 0);
  std::vector<std::string> log = log_messages(helper);
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[log.size() - 3], "Connected to https://tamberline.com (slot 1).");
  EXPECT_EQ(log[log.size() - 2], "Ran for 4 hours. Exiting; run it again any time.");
  EXPECT_EQ(log[log.size() - 1], "Page disconnected (exit): https://tamberline.com, slot 1.");
}

TEST(ExitRules, PageGoneRuleStartsWhenTheLastPageLeaves) {
  require_faketime();
  HelperProcess helper;
  ASSERT_TRUE(start_on_free_port(helper, fast_clock("20")));  // 30 s in 1.5 s
  WsClient first, second, returning;
  connect_page(first, helper.port);
  connect_page(second, helper.port);
  ws_disconnect(first);
  // One page left: the helper stays well past the 30 seconds.
  EXPECT_FALSE(wait_for_output(helper, "The page closed.", 2500));
  ws_disconnect(second);
  // Back within 30 s: the helper keeps running.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  connect_page(returning, helper.port);
  EXPECT_FALSE(wait_for_output(helper, "The page closed.", 2500));
  ws_disconnect(returning);
  EXPECT_EQ(wait_exit(helper, 10000), 0);
  std::vector<std::string> log = log_messages(helper);
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "Page disconnected (closed): https://tamberline.com, slot 1.");
  EXPECT_EQ(log.back(), "The page closed. Exiting.");
}
