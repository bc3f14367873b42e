// Started on demand: the socket a service manager holds is handed over by systemd-socket-activate
// (Debian's systemd package), which, like a socket unit, starts the program only when the first
// client connects. The helper must serve that socket exactly as one it bound itself, quit by its
// own rules, and refuse a socket it cannot serve on.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "support/helper_process.h"
#include "support/replies.h"
#include "support/sim_scene.h"
#include "support/ws_client.h"

namespace {

const char kActivate[] = "systemd-socket-activate";

void require_activation_tool() {
  if (!binary_path("TIVEL_EMULATOR", "").empty())
    GTEST_SKIP() << "the host's systemd-socket-activate cannot start another architecture's binary";
  if (system("command -v systemd-socket-activate >/dev/null") != 0)
    GTEST_SKIP() << "systemd-socket-activate is not installed (package systemd)";
}

// Starts `program` behind systemd-socket-activate with the listening options `listen` and waits
// until the socket is open; the program itself starts only on the first connection.
void start_activated(HelperProcess& process, const std::vector<std::string>& listen,
                     const HelperOptions& program) {
  HelperOptions options;
  options.path = kActivate;
  options.args = listen;
  for (const std::string& entry : program.env) options.args.push_back("--setenv=" + entry);
  options.args.push_back(program.path);
  options.args.insert(options.args.end(), program.args.begin(), program.args.end());
  ASSERT_TRUE(start_helper(process, options));
  ASSERT_TRUE(wait_for_output(process, "Listening on ", 5000)) << process.output;
  ASSERT_TRUE(wait_for_output(process, " as 3.\n", 2000)) << process.output;
}

// The log line a refused socket leaves, from its reason on.
std::string refusal(const std::string& output) {
  const std::string head = "The socket handed over by the service manager cannot be used: ";
  size_t at = output.find(head);
  return at == std::string::npos ? "" : output.substr(at + head.size());
}

}  // namespace

TEST(Activation, FirstPageStartsTheHelperWhichServesAndQuitsByItsRules) {
  require_activation_tool();
  int port = free_port();
  HelperProcess helper;
  start_activated(helper, {"-l", "127.0.0.1:" + std::to_string(port)}, sim_options(""));
  EXPECT_EQ(helper.output.find("Running on"), std::string::npos);  // nothing started yet

  WsClient page;
  ASSERT_TRUE(ws_connect(page, port)) << page.handshake << helper.output;
  std::string hello = ws_command(page, R"({"cmd":"hello"})");
  EXPECT_NE(hello.find(R"("port":)" + std::to_string(port) + ","), std::string::npos) << hello;
  EXPECT_EQ(ws_command(page, R"({"cmd":"watch","hz":10,"secs":1})"),
            R"({"type":"watching","hz":10,"secs":1})");
  ServerFrame frame;
  ASSERT_TRUE(ws_read_frame(page, frame));
  EXPECT_EQ(frame.payload.rfind(R"({"type":"rssi","t":)", 0), 0u) << frame.payload;
  EXPECT_TRUE(wait_for_output(helper, "Running on 127.0.0.1:" + std::to_string(port) + ". ", 100));

  // The Host check follows the handed-over port: the plain page answers for that port only.
  int plain = connect_loopback(port);
  ASSERT_TRUE(send_bytes(
      plain, "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port + 1) + "\r\n\r\n"));
  EXPECT_EQ(recv_until_closed(plain, 3000).rfind("HTTP/1.1 403 Forbidden\r\n", 0), 0u);
  close(plain);

  // The page goes; 30 seconds later the helper ends as it always does, with exit code 0.
  ASSERT_TRUE(ws_send(page, client_frame(0x88, "\x03\xe8")));
  bool closed = false;
  ws_read_raw(page, 3000, 0, &closed);  // the rest of the stream and the close reply
  EXPECT_TRUE(closed);
  EXPECT_EQ(wait_exit(helper, 45000), 0) << helper.output;
  EXPECT_EQ(log_messages(helper).back(), "The page closed. Exiting.");
}

// Sockets a service manager could be told to hand over by mistake. Each is refused with its
// reason before the helper serves anything, and the process ends with exit code 1.
TEST(Activation, SocketsTheHelperCannotServeOnAreRefused) {
  require_activation_tool();
  int port = free_port();
  std::string unix_path = "/tmp/tivel-activation-" + std::to_string(getpid());
  struct Case {
    std::vector<std::string> listen;
    std::string reason;
  };
  const Case cases[] = {
      {{"-l", "0.0.0.0:" + std::to_string(port)},
       "a socket listening on 0.0.0.0:" + std::to_string(port) + ", not on 127.0.0.1."},
      {{"--datagram", "-l", "127.0.0.1:" + std::to_string(port)}, "not a TCP socket."},
      {{"-l", unix_path}, "a local (Unix) socket."},
      {{"-l", "127.0.0.1:" + std::to_string(port), "-l", "127.0.0.1:" + std::to_string(port + 1)},
       "2 sockets handed over, where the helper serves one."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.listen[c.listen.size() - 1]);
    unlink(unix_path.c_str());
    HelperProcess helper;
    start_activated(helper, c.listen, with_args({}));
    // The first client starts the program.
    if (c.listen[0] == "--datagram") {
      int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_port = htons(static_cast<uint16_t>(port));
      to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      EXPECT_EQ(sendto(fd, "x", 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 1);
      close(fd);
    } else if (c.listen[1] == unix_path) {
      int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_un to{};
      to.sun_family = AF_UNIX;
      unix_path.copy(to.sun_path, sizeof to.sun_path - 1);
      EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
      close(fd);
    } else {
      int fd = connect_loopback(port);
      EXPECT_GE(fd, 0);
      close(fd);
    }
    EXPECT_EQ(wait_exit(helper, 5000), 1) << helper.output;
    EXPECT_EQ(refusal(helper.output), c.reason +
                                          " The helper needs one TCP socket listening on 127.0.0.1 "
                                          "(ListenStream=127.0.0.1:47800). Exiting.\n")
        << helper.output;
    EXPECT_EQ(helper.output.find("Running on"), std::string::npos);
  }
  unlink(unix_path.c_str());
}

// The variables themselves: descriptor 3 missing or not a socket, a count that is no number,
// variables meant for another process (ignored: the helper binds its own port), and --port
// naming another port than the one handed over.
TEST(Activation, ListenVariablesAreCheckedBeforeDescriptorThreeIsUsed) {
  int port = free_port();
  struct Case {
    std::string shell;  // run by sh -c with $0 the helper and $1 a free port
    int code;
    std::string line;
  };
  const Case cases[] = {
      {"LISTEN_PID=$$ LISTEN_FDS=1 exec \"$0\" 3<&-", 1, "descriptor 3 is not open."},
      {"LISTEN_PID=$$ LISTEN_FDS=1 exec \"$0\" 3</dev/null", 1, "descriptor 3 is not a socket."},
      {"LISTEN_PID=$$ LISTEN_FDS=one exec \"$0\" 3</dev/null", 1, "LISTEN_FDS is not a number."},
      {"LISTEN_PID=1 LISTEN_FDS=1 exec \"$0\" --port \"$1\" 3</dev/null", 0,
       "Running on 127.0.0.1:" + std::to_string(port) + "."},
      {"LISTEN_PID=$$ LISTEN_FDS=0 exec \"$0\" --port \"$1\"", 0,
       "Running on 127.0.0.1:" + std::to_string(port) + "."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shell);
    HelperOptions options;
    options.path = "/bin/sh";
    options.args = {"-c", c.shell, binary_path("TIVEL_HELPER", TIVEL_HELPER_PATH),
                    std::to_string(port)};
    HelperProcess helper;
    ASSERT_TRUE(start_helper(helper, options));
    if (c.code == 0) {
      ASSERT_TRUE(wait_running(helper)) << helper.output;
      EXPECT_NE(helper.output.find(c.line), std::string::npos) << helper.output;
      EXPECT_EQ(stop_helper(helper, SIGTERM), 0);
    } else {
      EXPECT_EQ(wait_exit(helper, 5000), c.code) << helper.output;
      EXPECT_EQ(refusal(helper.output).rfind(c.line, 0), 0u) << helper.output;
    }
  }
}

TEST(Activation, PortOptionMustNameTheHandedOverPort) {
  require_activation_tool();
  int port = free_port();
  HelperProcess helper;
  start_activated(helper, {"-l", "127.0.0.1:" + std::to_string(port)},
                  with_args({"--port", std::to_string(port + 1)}));
  int fd = connect_loopback(port);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(wait_exit(helper, 5000), 1) << helper.output;
  close(fd);
  EXPECT_EQ(log_messages(helper).back(),
            "--port " + std::to_string(port + 1) +
                " does not match the socket handed over by the service manager (127.0.0.1:" +
                std::to_string(port) + "). Exiting.");
}

// An ordinary user's activation (setpriv as nobody, as a user manager runs the unit) starts a
// binary with the file capability: the helper holds the scan right and says so in hello.
TEST(Activation, StartedOnDemandByAUserTheFileCapabilityStillGivesFreshScans) {
  require_activation_tool();
  if (geteuid() != 0 || system("command -v setcap >/dev/null && command -v setpriv >/dev/null"))
    GTEST_SKIP() << "needs root, setcap and setpriv";
  char dir[] = "/tmp/tivel-activation-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string copy = std::string(dir) + "/tamberline-tivel-helper";
  std::string prepare = "chmod 755 " + std::string(dir) + " && cp '" TIVEL_HELPER_PATH "' " + copy +
                        " && chmod 755 " + copy + " && setcap cap_net_admin=ep " + copy;
  ASSERT_EQ(system(prepare.c_str()), 0);
  int port = free_port();
  HelperOptions as_nobody;
  as_nobody.path = "setpriv";
  as_nobody.args = {"--reuid=65534",
                    "--regid=65534",
                    "--clear-groups",
                    kActivate,
                    "-l",
                    "127.0.0.1:" + std::to_string(port),
                    copy};
  HelperProcess helper;
  ASSERT_TRUE(start_helper(helper, as_nobody));
  ASSERT_TRUE(wait_for_output(helper, " as 3.\n", 5000)) << helper.output;
  WsClient page;
  ASSERT_TRUE(ws_connect(page, port)) << helper.output;
  EXPECT_EQ(ws_command(page, R"({"cmd":"hello"})"), hello_reply(port, true));
  // systemd-socket-activate became the helper (same process): read its rights.
  std::ifstream status("/proc/" + std::to_string(helper.pid) + "/status");
  std::string line, effective;
  while (std::getline(status, line)) {
    if (line.rfind("CapEff:", 0) == 0) effective = line.substr(line.find_first_not_of(" \t", 7));
  }
  EXPECT_EQ(effective, "0000000000001000");
  EXPECT_EQ(stop_helper(helper, SIGTERM), 0) << helper.output;
  system(("rm -rf " + std::string(dir)).c_str());
}
