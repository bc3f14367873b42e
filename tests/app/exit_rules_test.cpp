// The exit rules that take minutes or hours, run on the real binary with its monotonic clock
// sped up by libfaketime, and the log's time stamp with the wall clock pinned.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "support/helper_process.h"

namespace {

const char* kFakeTimeLibrary = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";

HelperOptions fast_clock(const std::string& speed) {
  HelperOptions options;
  options.env = {std::string("LD_PRELOAD=") + kFakeTimeLibrary, "FAKETIME=+0 x" + speed,
                 "FAKETIME_NO_CACHE=1"};
  return options;
}

void require_faketime() {
  if (access(kFakeTimeLibrary, R_OK) != 0) GTEST_SKIP() << "libfaketime is not installed";
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
                 "TZ=UTC"};
  HelperProcess helper;
  ASSERT_TRUE(start_on_free_port(helper, options));
  size_t line = helper.output.find("Running on");
  ASSERT_NE(line, std::string::npos);
  EXPECT_EQ(helper.output.substr(line - 10, 10), "09:05:03  ");
  EXPECT_EQ(stop_helper(helper, SIGTERM), 0);
}
