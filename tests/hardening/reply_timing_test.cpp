// Replies leave at once. A frame goes out as a header write and a payload write; if the payload
// had to wait for the page to acknowledge the header (Nagle's rule against the page's delayed
// acknowledgement), every reply and every live sample would sit for up to 40 ms. The bound here
// is a fault detector, not a speed goal: a loopback round trip takes well under a millisecond.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "hardening_support.h"
#include "support/helper_process.h"
#include "support/ws_client.h"

namespace {

TEST(ReplyTiming, RepliesDoNotWaitForThePagesAcknowledgement) {
  HelperProcess helper;
  ASSERT_TRUE(start_on_free_port(helper)) << helper.output;
  WsClient page;
  ASSERT_TRUE(ws_connect(page, helper.port));

  std::vector<double> round_trips_ms;
  for (int i = 0; i < 21; ++i) {
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(ws_command(page, R"({"cmd":"hello"})", 3000), hello_reply(helper.port));
    round_trips_ms.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::nth_element(round_trips_ms.begin(), round_trips_ms.begin() + 10, round_trips_ms.end());
  EXPECT_LT(round_trips_ms[10], 20.0) << "median hello round trip in ms";
}

}  // namespace
