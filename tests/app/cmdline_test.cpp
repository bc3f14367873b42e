// The command line, the banner rule, the bind loop and the start-up log, through the real binary.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "support/helper_process.h"
#include "support/netns.h"
#include "support/sim_scene.h"

namespace {

const std::string kBanner =
    "Tamberline Tivel Helper 0.1.1\n"
    "Reads this computer's WiFi information for the Tamberline WiFi Kestrune page, and nothing "
    "else.\n"
    "It talks only to that page, saves nothing, and quits when you close the page (or press "
    "Ctrl+C).\n\n";

const std::string kHelp =
    "tamberline-tivel-helper 0.1.1\n"
    "Reads this computer's WiFi information for the Tamberline WiFi Kestrune\n"
    "page and nothing else. Run it, then go back to the page.\n\n"
    "  --version            print the version\n"
    "  --help, -h           print this help\n"
    "  --port N             listen on 127.0.0.1:N instead of 47800-47809\n"
    "  --dev-origin URL     also allow this page origin (development only)\n\n"
    "More in the manual: man tamberline-tivel-helper\n";

const std::string kVersion = "tamberline-tivel-helper 0.1.1\n";

// What a refused argument prints on standard error before the help.
std::string refused(const std::string& what) {
  return "tamberline-tivel-helper: " + what + "\n\n" + kHelp;
}
const std::string kNotAPort = "\": not a port number (give a whole number from 1 to 65535)";
const std::string kNotAnOrigin =
    "\": not a page origin (give http://host or http://host:port, such as http://localhost:8080)";

struct Outcome {
  int code;
  std::string output;
};

Outcome run_args(std::vector<std::string> args) {
  HelperProcess helper;
  int code = run_to_exit(helper, with_args(args), 5000);
  return {code, helper.output};
}

// Occupies 127.0.0.1:port for as long as the returned socket is open.
int occupy(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 1) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void require_private_netns() {
  if (!in_private_netns()) GTEST_SKIP() << "needs a private network namespace (run as root)";
}

const char* kRunning47800 =
    "Running on 127.0.0.1:47800. Go back to the Tamberline page; it connects by itself.";

}  // namespace

TEST(CommandLine, VersionAndHelpPrintExactTextsAndExitZero) {
  EXPECT_EQ(run_args({"--version"}).output, kVersion);
  EXPECT_EQ(run_args({"--version"}).code, 0);
  EXPECT_EQ(run_args({"--help"}).output, kHelp);
  EXPECT_EQ(run_args({"--help"}).code, 0);
  Outcome short_help = run_args({"-h"});
  EXPECT_EQ(short_help.output, kHelp);
  EXPECT_EQ(short_help.code, 0);
}

TEST(CommandLine, FirstDecisiveArgumentWins) {
  // --version anywhere suppresses the banner, but an earlier unknown argument still decides.
  Outcome unknown_first = run_args({"--bogus", "--version"});
  EXPECT_EQ(unknown_first.output, refused("--bogus: unknown argument"));
  EXPECT_EQ(unknown_first.code, 2);
  Outcome version_first = run_args({"--version", "--bogus"});
  EXPECT_EQ(version_first.output, kVersion);
  EXPECT_EQ(version_first.code, 0);
  Outcome help_then_version = run_args({"-h", "--version"});
  EXPECT_EQ(help_then_version.output, kHelp);
  EXPECT_EQ(help_then_version.code, 0);
}

// Each refused argument is named with what is wrong with it, then the usage follows.
TEST(CommandLine, UnusableArgumentsAreNamedWithTheReasonThenHelpAndExitTwo) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"--bogus"}, "--bogus: unknown argument"},
      {{"-x"}, "-x: unknown argument"},
      {{"--PORT", "47850"}, "--PORT: unknown argument"},
      {{"-psn"}, "-psn: unknown argument"},
      {{"--port"}, "--port: needs a port number after it"},
      {{"--dev-origin"},
       "--dev-origin: needs a page origin after it (such as http://localhost:8080)"},
      {{"-psn_1", "--port", "47850", "--dev-origin", "http://a", "extra"},
       "extra: unknown argument"},
      {{"--port=4780O"}, "--port \"4780O" + kNotAPort},
      {{"--port="}, "--port \"" + kNotAPort},
      {{"--dev-origin", "localhost:8080"}, "--dev-origin \"localhost:8080" + kNotAnOrigin},
      {{"--dev-origin=*"}, "--dev-origin \"*" + kNotAnOrigin},
      {{"--dev-origin", "ftp://a"},
       "--dev-origin \"ftp://a\": a page origin starts with http:// or https://"},
      {{"--dev-origin", "http://a:0"},
       "--dev-origin \"http://a:0\": not a port number after the host"},
      {{"--dev-origin", "http://a:8080/page"},
       "--dev-origin \"http://a:8080/page\": an origin is only scheme, host and port (no path, "
       "query or user), such as http://localhost:8080"},
  };
  for (const Case& c : cases) {
    Outcome outcome = run_args(c.args);
    EXPECT_EQ(outcome.code, 2) << c.message;
    EXPECT_EQ(outcome.output, kBanner + refused(c.message)) << c.message;
  }
}

// Only a whole decimal number from 1 to 65535 is a port: read loosely, "4780O" would listen on
// 4780 and "abc" on the default range, neither where the person asked.
TEST(CommandLine, PortTakesOnlyAWholeDecimalNumberFromOneTo65535) {
  for (const char* port : {"65536", "70000", "-5", "-65535", "99999999999", "+65536", "0", "abc",
                           "4780O", "47850x", " 47850", "+47850", "4.78e4", "", "0x1F"}) {
    Outcome outcome = run_args({"--port", port});
    EXPECT_EQ(outcome.code, 2) << port;
    EXPECT_EQ(outcome.output, kBanner + refused("--port \"" + std::string(port) + kNotAPort))
        << port;
  }
  // The value is never an option: "--version" after --port is a bad port, though it still keeps
  // the banner away.
  Outcome version_value = run_args({"--port", "--version"});
  EXPECT_EQ(version_value.code, 2);
  EXPECT_EQ(version_value.output, refused("--port \"--version" + kNotAPort));
}

TEST(CommandLine, ExplicitPortIsUsedAndLastRepeatWins) {
  HelperProcess helper;
  int first = free_port();
  int second = free_port();
  ASSERT_TRUE(start_helper(helper, with_args({"--port", std::to_string(first), "-psn_0_1234",
                                              "--port", "0" + std::to_string(second)})));
  ASSERT_TRUE(wait_running(helper)) << helper.output;
  EXPECT_NE(helper.output.find("Running on 127.0.0.1:" + std::to_string(second) + ". "),
            std::string::npos);
  int fd = connect_loopback(second);
  EXPECT_GE(fd, 0);
  if (fd >= 0) close(fd);
  EXPECT_EQ(stop_helper(helper, SIGINT), 0);
}

// A port asked for that cannot be opened: one attempt, and a line saying why.
TEST(CommandLine, BusyOrForbiddenExplicitPortSaysWhyAndExitsOne) {
  int port = free_port();
  int blocker = occupy(port);
  ASSERT_GE(blocker, 0);
  HelperProcess helper;
  EXPECT_EQ(run_to_exit(helper, with_args({"--port", std::to_string(port)})), 1);
  std::vector<std::string> log = log_messages(helper);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "Could not open 127.0.0.1:" + std::to_string(port) +
                            ": another program is using that port. Choose another with --port.");
  EXPECT_EQ(helper.output.rfind(kBanner, 0), 0u);
  close(blocker);

  HelperProcess first;
  ASSERT_TRUE(start_on_free_port(first));
  HelperProcess second;
  EXPECT_EQ(run_to_exit(second, with_args({"--port", std::to_string(first.port)})), 1);
  EXPECT_EQ(log_messages(second).back(),
            "Could not open 127.0.0.1:" + std::to_string(first.port) +
                ": another copy of the helper is already running there, and the page can use "
                "that one.");
  EXPECT_EQ(stop_helper(first, SIGTERM), 0);

  // Ports below the system's unprivileged start are root's; the helper started as an ordinary
  // user says so (setpriv runs it as nobody).
  if (getuid() != 0 || system("command -v setpriv >/dev/null") != 0) return;
  HelperOptions as_nobody;
  as_nobody.path = "setpriv";
  as_nobody.args = {"--reuid=65534",   "--regid=65534", "--clear-groups",
                    TIVEL_HELPER_PATH, "--port",        "80"};
  HelperProcess low;
  EXPECT_EQ(run_to_exit(low, as_nobody), 1);
  EXPECT_EQ(log_messages(low).back(),
            "Could not open 127.0.0.1:80: not permitted (ports below 1024 need root rights). "
            "Choose a port from 1024 up.");
}

TEST(StartupLog, BannerThenRunningLineWithAndWithoutDevOrigin) {
  HelperProcess plain;
  ASSERT_TRUE(start_on_free_port(plain));
  EXPECT_EQ(plain.output.rfind(kBanner, 0), 0u);
  std::vector<std::string> log = log_messages(plain);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "Running on 127.0.0.1:" + std::to_string(plain.port) +
                            ". Go back to the Tamberline page; it connects by itself.");

  // As pasted from an address bar, in either form: the origin the browser sends is allowed.
  const std::vector<std::string> forms[] = {{"--dev-origin=http://127.0.0.1:47900/"},
                                            {"--dev-origin", "HTTP://127.0.0.1:47900"}};
  for (const std::vector<std::string>& given : forms) {
    HelperProcess dev;
    ASSERT_TRUE(start_on_free_port(dev, with_args(given)));
    log = log_messages(dev);
    EXPECT_EQ(log.back(), "Running on 127.0.0.1:" + std::to_string(dev.port) +
                              ". Go back to the Tamberline page; it connects by itself. DEV origin "
                              "allowed: http://127.0.0.1:47900");
  }

  HelperProcess empty;
  ASSERT_TRUE(start_on_free_port(empty, with_args({"--dev-origin", ""})));
  EXPECT_EQ(log_messages(empty).back().find("DEV"), std::string::npos);
}

// An origin cut short would never match what a browser sends, so a long one is refused.
TEST(StartupLog, DevOriginLongerThan255IsRefused) {
  std::string origin = "http://";
  while (origin.size() < 300) origin += "abcdefghij";
  Outcome outcome = run_args({"--dev-origin", origin});
  EXPECT_EQ(outcome.code, 2);
  EXPECT_EQ(outcome.output,
            kBanner + refused("--dev-origin \"" + origin + "\": too long for a page origin"));
}

TEST(StartupLog, WifiReasonIsLoggedBeforeRunning) {
  HelperProcess helper;
  ASSERT_TRUE(start_on_free_port(helper));
  std::vector<std::string> log = log_messages(helper);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].rfind("WiFi not available: ", 0), 0u);
}

// The simulator's banner says that its WiFi is simulated, and from which scene.
TEST(StartupLog, SimulatorBannerNamesTheSimulatedWifiAndItsScene) {
  const std::string head = kBanner.substr(0, kBanner.size() - 1);  // without the empty line
  SceneFile scene("interface ifindex=3 name=wlan0 type=station\n");
  for (const std::string& path : {std::string(), scene.path}) {
    HelperOptions options = sim_options(path);
    options.args = {"--port"};
    HelperProcess run;
    EXPECT_EQ(run_to_exit(run, options), 2);
    const std::string serving = path.empty() ? "the built-in demo scene" : "the scene " + path;
    EXPECT_EQ(run.output, head + "SIMULATED WiFi, not this computer's: serving " + serving +
                              ".\n\n" + refused("--port: needs a port number after it"));
  }
}

// Started with standard output (and input) closed, as some launchers do, the helper opens them
// on /dev/null before anything else: it stays up, and no socket takes descriptor 1, so no log
// line reaches a page's connection.
TEST(StartupLog, ClosedStandardDescriptorsAreNeverTakenBySockets) {
  const std::string upgraded =
      "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
      "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";
  auto request = [](int port, const std::string& origin) {
    return "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
           "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nOrigin: " + origin +
           "\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
  };
  for (const char* closing : {">&-", "<&- >&-"}) {
    SCOPED_TRACE(closing);
    int port = free_port();
    HelperOptions options;
    options.path = "/bin/sh";
    options.args = {"-c", std::string("exec \"$0\" --port \"$1\" ") + closing, TIVEL_HELPER_PATH,
                    std::to_string(port)};
    HelperProcess helper;
    ASSERT_TRUE(start_helper(helper, options));
    int page = -1;  // no "Running on" line to wait for: it went to /dev/null
    for (int tries = 0; page < 0 && tries < 100 && helper.exit_code < 0; ++tries) {
      page = connect_loopback(port);
      if (page < 0) usleep(50 * 1000);
    }
    ASSERT_GE(page, 0) << helper.output;
    ASSERT_TRUE(send_bytes(page, request(port, "https://tamberline.com")));
    std::string received = recv_for(page, 2000, upgraded.size());

    int other = connect_loopback(port);
    ASSERT_TRUE(send_bytes(other, request(port, "https://evil.example")));
    EXPECT_EQ(recv_until_closed(other, 2000).rfind("HTTP/1.1 403 Forbidden\r\n", 0), 0u);
    close(other);
    received += recv_for(page, 300);
    EXPECT_EQ(received, upgraded);
    EXPECT_EQ(stop_helper(helper, SIGTERM), 0) << helper.output;
    close(page);
  }
}

TEST(DefaultRange, FirstFreePortFromTheBottom) {
  require_private_netns();
  HelperProcess helper;
  ASSERT_TRUE(start_helper(helper, {}));
  ASSERT_TRUE(wait_running(helper)) << helper.output;
  EXPECT_EQ(log_messages(helper).back(), kRunning47800);
  EXPECT_EQ(stop_helper(helper, SIGTERM), 0);
}

// A second copy started while one holds 47800 names it, without promising which one the page
// reaches: a copy that refuses the page's origin sends it on to the next port.
TEST(DefaultRange, AnotherRunningCopyIsNamedWithThePortThePageReaches) {
  require_private_netns();
  HelperProcess first;
  ASSERT_TRUE(start_helper(first, {}));
  ASSERT_TRUE(wait_running(first)) << first.output;
  HelperProcess second;
  ASSERT_TRUE(start_helper(second, {}));
  ASSERT_TRUE(wait_running(second)) << second.output;
  std::vector<std::string> log = log_messages(second);
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[log.size() - 3],
            "Another copy of the helper is already running on 127.0.0.1:47800. A page uses "
            "whichever copy accepts it, that one or this one; close one of them so that only one "
            "runs.");
  EXPECT_NE(log.back().find("127.0.0.1:47801."), std::string::npos);
  EXPECT_EQ(stop_helper(second, SIGTERM), 0);
  EXPECT_EQ(stop_helper(first, SIGTERM), 0);
}

TEST(DefaultRange, SkipsBusyPortsAndGivesUpAfterTen) {
  require_private_netns();
  std::vector<int> blockers;
  for (int port = 47800; port <= 47808; ++port) blockers.push_back(occupy(port));
  HelperProcess last;
  ASSERT_TRUE(start_helper(last, {}));
  ASSERT_TRUE(wait_running(last)) << last.output;
  EXPECT_NE(log_messages(last).back().find("127.0.0.1:47809."), std::string::npos);
  EXPECT_EQ(stop_helper(last, SIGTERM), 0);

  blockers.push_back(occupy(47809));
  HelperProcess none;
  EXPECT_EQ(run_to_exit(none, {}), 1);
  EXPECT_EQ(log_messages(none).back(),
            "Could not open a local port (47800-47809 all busy). Close other copies and try "
            "again.");
  for (int fd : blockers) close(fd);
}
