// The real kernel port on this machine, and how the real helper and the simulator start up with
// respect to WiFi (real processes, real sockets).
#include <gtest/gtest.h>
#include <linux/genetlink.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "support/helper_process.h"
#include "support/sim_scene.h"
#include "wifi/interface.h"
#include "wifi/kernel_port.h"
#include "wifi/netlink.h"
#include "wifi/requests.h"
#include "wifi/wifi_state.h"

namespace {

// Resolves nl80211 through the real kernel: the exchange's result, or why it cannot be tried.
int32_t resolve_family_for_real() {
  kernel_use(kLinuxKernelPort);
  wifi_state_reset();
  NetlinkRequest request;
  build_family_request(&request);
  return netlink_exchange(request, on_family, nullptr);
}

bool no_generic_netlink(int32_t result) {
  return result == -EAFNOSUPPORT || result == -EPROTONOSUPPORT || result == -EPERM ||
         result == -EACCES;
}

TEST(WifiRealKernel, ControllerAnswersTheFamilyRequest) {
  int32_t result = resolve_family_for_real();
  if (no_generic_netlink(result)) GTEST_SKIP() << "no generic netlink here: " << result;
  if (wifi_state.family_id >= 0) {
    EXPECT_EQ(result, 0);  // a machine with a WiFi stack
  } else {
    EXPECT_EQ(result, -ENOENT);  // no nl80211 family: the controller says so
  }
}

// The kernel answers nothing to a message that is not a request and asks for no
// acknowledgement, so the exchange waits out its 3-second receive time-out.
TEST(WifiRealKernel, SilentKernelEndsTheExchangeAfterThreeSeconds) {
  kernel_use(kLinuxKernelPort);
  NetlinkRequest request;
  build_family_request(&request);
  request.nlmsg_flags = 0;
  auto start = std::chrono::steady_clock::now();
  int32_t result = netlink_exchange(request, on_family, nullptr);
  if (no_generic_netlink(result)) GTEST_SKIP() << "no generic netlink here: " << result;
  auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  EXPECT_EQ(result, -EAGAIN);
  EXPECT_GE(waited.count(), 2900);
  EXPECT_LT(waited.count(), 4500);
}

// Any kernel has the controller's own "notify" group (id GENL_ID_CTRL): subscribing needs no
// privilege, and reading an empty socket returns at once.
TEST(WifiRealKernel, EventSocketSubscribesAndNeverBlocks) {
  kernel_use(kLinuxKernelPort);
  int fd = kernel_events_open(GENL_ID_CTRL);
  if (no_generic_netlink(fd)) GTEST_SKIP() << "no generic netlink here: " << fd;
  ASSERT_GE(fd, 0) << fd;
  uint8_t buffer[256];
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(kernel_events_recv(fd, buffer, sizeof buffer), -EAGAIN);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  kernel_close(fd);
  EXPECT_EQ(kernel_events_open(0xFFFFFF), -EINVAL);  // no such group
}

bool has_message(const HelperProcess& helper, const std::string& message) {
  for (const std::string& line : log_messages(helper)) {
    if (line == message) return true;
  }
  return false;
}

// The start-up line without WiFi: the reason, in plain words, and what to check.
std::string no_wifi_line(const std::string& reason) {
  return "WiFi not available: no WiFi adapter was found (" + reason +
         "). Check that this computer has WiFi, that it is switched on and not in flight mode "
         "(rfkill list), and that its driver is loaded (ip link lists a wl... device); until then "
         "pages get no WiFi data.";
}

TEST(WifiRealBinary, LogsWhyWiFiIsNotAvailable) {
  int32_t result = resolve_family_for_real();
  if (no_generic_netlink(result)) GTEST_SKIP() << "no generic netlink here: " << result;
  if (wifi_state.family_id >= 0) GTEST_SKIP() << "this machine has nl80211";
  HelperProcess helper;
  ASSERT_TRUE(start_on_free_port(helper)) << helper.output;
  EXPECT_TRUE(
      has_message(helper, no_wifi_line("nl80211 not available (No such file or directory)")))
      << helper.output;
  stop_helper(helper);
}

// ---- The simulator ----

TEST(WifiSimulator, ServesTheDemoSceneWithoutComplaint) {
  HelperProcess helper;
  ASSERT_TRUE(start_on_free_port(helper, sim_options(""))) << helper.output;
  EXPECT_EQ(helper.output.find("WiFi not available"), std::string::npos) << helper.output;
  stop_helper(helper);
}

TEST(WifiSimulator, ServesTheBenchmarkScene) {
  HelperProcess helper;
  ASSERT_TRUE(start_on_free_port(
      helper, sim_options(std::string(TIVEL_SIM_SCENES_DIR) + "/bench-96.scene")))
      << helper.output;
  EXPECT_EQ(helper.output.find("WiFi not available"), std::string::npos) << helper.output;
  stop_helper(helper);
}

TEST(WifiSimulator, SceneDecidesWhatStartUpLogs) {
  struct Case {
    const char* scene;
    const char* message;
  } cases[] = {
      {"family absent\n", "nl80211 not available (No such file or directory)"},
      {"interface ifindex=2 name=wlan0 type=ap freq=2412\n", "no WiFi interface found"},
  };
  for (const Case& c : cases) {
    SceneFile file(c.scene);
    HelperProcess helper;
    ASSERT_TRUE(start_on_free_port(helper, sim_options(file.path))) << helper.output;
    EXPECT_TRUE(has_message(helper, no_wifi_line(c.message))) << helper.output;
    stop_helper(helper);
  }
}

TEST(WifiSimulator, RefusesABadSceneWithTheReason) {
  SceneFile file("family id=32\nbss freq=fast\n");
  HelperProcess helper;
  EXPECT_EQ(run_to_exit(helper, sim_options(file.path)), 3);
  EXPECT_NE(helper.output.find("bad scene: " + file.path + ": line 2: bad freq 'fast'"),
            std::string::npos)
      << helper.output;

  HelperProcess missing;
  EXPECT_EQ(run_to_exit(missing, sim_options("/nonexistent/scene")), 3);
  EXPECT_NE(missing.output.find("cannot read /nonexistent/scene"), std::string::npos);
}

}  // namespace
