// Least privilege: the rights the real helper keeps once it serves (read from the kernel's own
// /proc/PID/status), and the system call filter killing a process that steps outside it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/syscall_filter.h"
#include "support/helper_process.h"
#include "support/replies.h"
#include "support/ws_client.h"

namespace {

constexpr const char* kScanRightOnly = "0000000000001000";

// The "Name:\tvalue" lines of /proc/PID/status, by name.
std::map<std::string, std::string> process_status(pid_t pid) {
  std::map<std::string, std::string> fields;
  std::ifstream file("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(file, line)) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    size_t value = line.find_first_not_of(" \t", colon + 1);
    fields[line.substr(0, colon)] = value == std::string::npos ? "" : line.substr(value);
  }
  return fields;
}

// Starts `options`, checks that it answers a page (with the help note of a helper that does or
// does not hold the right to scan), and returns its status fields.
std::map<std::string, std::string> serving_status(HelperProcess& helper, HelperOptions options,
                                                  bool fresh_scans = true) {
  if (!start_on_free_port(helper, std::move(options))) {
    ADD_FAILURE() << "helper did not start: " << helper.output;
    return {};
  }
  auto status = process_status(helper.pid);
  WsClient page;
  EXPECT_TRUE(ws_connect(page, helper.port));
  EXPECT_EQ(ws_command(page, R"({"cmd":"hello"})"), hello_reply(helper.port, fresh_scans));
  return status;
}

// Runs `body` in a child process that installed the filter first; returns its wait status.
template <typename Body>
int run_filtered(Body body) {
  pid_t child = fork();
  if (child == 0) {
    if (install_syscall_filter() != 0) _exit(90);
    _exit(body());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return status;
}

bool killed_by_filter(int status) {
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGSYS;
}

}  // namespace

// Started as root, the helper serves as the user behind root (SUDO_UID with a numeric SUDO_GID,
// PKEXEC_UID, DOAS_USER, the login uid, the terminal's owner; Debian's users 1 to 4 and their
// groups), else as nobody, so no unrelated program running as nobody can signal it; either way
// with the scan right alone and the filter. Each case runs in a session of its own, with the
// login uid and controlling terminal it names.
TEST(Rights, StartedAsRootTheHelperServesAsItsUserWithTheScanRightAloneAndTheFilter) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  if (std::system("echo 4294967295 > /proc/self/loginuid") != 0) GTEST_SKIP() << "no login uid";
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_TRUE(terminal >= 0 && grantpt(terminal) == 0 && unlockpt(terminal) == 0);
  ASSERT_EQ(chown(ptsname(terminal), 4, 65534), 0);
  const struct {
    std::vector<std::string> env;
    const char* uid;
    const char* gid;
  } cases[] = {
      {{"PKEXEC_UID=1", "DOAS_USER=bin"}, "1", "1"},
      {{"DOAS_USER=bin", "LOGIN_UID=3"}, "2", "2"},
      {{"LOGIN_UID=3", "TTY=1"}, "3", "3"},
      {{"TTY=1"}, "4", "65534"},
      {{}, "65534", "65534"},
      {{"SUDO_UID=1000", "SUDO_GID=1000"}, "1000", "1000"},
      {{"SUDO_UID=1000", "SUDO_GID=staff"}, "1000", "65534"},
      {{"SUDO_UID=0", "SUDO_GID=0"}, "65534", "65534"},
      {{"SUDO_UID=1000x", "SUDO_GID=1000"}, "65534", "65534"},
      {{"SUDO_UID=4294967295"}, "65534", "65534"},
  };
  for (const auto& one : cases) {
    const std::string name = one.env.empty() ? "no SUDO_UID" : one.env[0];
    HelperOptions options;
    options.env = one.env;
    options.env.push_back(std::string("TERMINAL=") + ptsname(terminal));
    options.args = {"-c",
                    "echo ${LOGIN_UID:-4294967295} > /proc/self/loginuid && exec setsid sh -c "
                    "'[ -z \"$TTY\" ] || : <>\"$TERMINAL\"; exec \"$0\" \"$@\"' \"$0\" \"$@\"",
                    options.path};
    options.path = "/bin/sh";
    HelperProcess helper;
    auto status = serving_status(helper, options);
    auto all_four = [](const char* id) {
      return std::string(id) + "\t" + id + "\t" + id + "\t" + id;
    };
    EXPECT_EQ(status["Uid"], all_four(one.uid)) << name;
    EXPECT_EQ(status["Gid"], all_four(one.gid)) << name;
    EXPECT_EQ(status["Groups"], "") << name;
    EXPECT_EQ(status["CapEff"], kScanRightOnly) << name;
    EXPECT_EQ(status["CapPrm"], kScanRightOnly) << name;
    EXPECT_EQ(status["CapBnd"], kScanRightOnly) << name;
    EXPECT_EQ(status["CapInh"], "0000000000000000") << name;
    EXPECT_EQ(status["CapAmb"], "0000000000000000") << name;
    EXPECT_EQ(status["NoNewPrivs"], "1") << name;
    EXPECT_EQ(status["Seccomp"], "2") << name;
    EXPECT_EQ(helper.output.find("started the helper as root; programs of every user may") !=
                  std::string::npos,
              std::string(one.uid) == "65534")
        << name;
    EXPECT_EQ(stop_helper(helper), 0) << name;
  }
  close(terminal);
}

// An ordinary user: with the file capability the helper keeps just that right; without it,
// none. Either way the filter is on and the user stays who it is.
TEST(Rights, AnOrdinaryUserKeepsTheFileCapabilityAloneAndRunsFiltered) {
  if (geteuid() != 0 || access("/usr/sbin/setcap", X_OK) != 0 ||
      access("/usr/bin/setpriv", X_OK) != 0) {
    GTEST_SKIP() << "needs root, setcap and setpriv";
  }
  char dir[] = "/tmp/tivel-rights-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  ASSERT_EQ(chmod(dir, 0755), 0);
  std::string copy = std::string(dir) + "/tamberline-tivel-helper";
  std::string prepare = "cp '" TIVEL_HELPER_PATH "' " + copy + " && chmod 755 " + copy +
                        " && /usr/sbin/setcap cap_net_admin=ep " + copy;
  ASSERT_EQ(std::system(prepare.c_str()), 0);
  for (bool with_right : {true, false}) {
    if (!with_right) {
      ASSERT_EQ(std::system(("/usr/sbin/setcap -r " + copy).c_str()), 0);
    }
    HelperOptions as_nobody;
    as_nobody.path = "/usr/bin/setpriv";
    as_nobody.args = {"--reuid=65534", "--regid=65534", "--clear-groups", copy};
    HelperProcess helper;
    auto status = serving_status(helper, as_nobody, with_right);
    const char* kept = with_right ? kScanRightOnly : "0000000000000000";
    EXPECT_EQ(status["Uid"], "65534\t65534\t65534\t65534") << with_right;
    EXPECT_EQ(status["CapEff"], kept) << with_right;
    EXPECT_EQ(status["CapPrm"], kept) << with_right;
    EXPECT_EQ(status["CapAmb"], "0000000000000000") << with_right;
    EXPECT_EQ(status["NoNewPrivs"], "1") << with_right;
    EXPECT_EQ(status["Seccomp"], "2") << with_right;
    EXPECT_EQ(stop_helper(helper), 0) << with_right;
  }
  std::system(("rm -rf " + std::string(dir)).c_str());
}

TEST(SyscallFilter, AllowsTheServingCallsAndKillsTheProcessOnAnyOther) {
  // What the helper does while serving still works, through the raw calls.
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  int allowed = run_filtered([&] {
    long netlink = syscall(SYS_socket, AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, 0);
    if (netlink < 0 || syscall(SYS_close, netlink) != 0) return 1;
    return syscall(SYS_write, pipe_fds[1], "ok", 2) == 2 ? 0 : 2;
  });
  EXPECT_TRUE(WIFEXITED(allowed) && WEXITSTATUS(allowed) == 0) << allowed;
  char got[2] = {};
  EXPECT_EQ(read(pipe_fds[0], got, 2), 2);
  close(pipe_fds[0]);
  close(pipe_fds[1]);

  // Opening a file, a socket of another family, a new program, an executable mapping.
  EXPECT_TRUE(killed_by_filter(run_filtered(
      [] { return static_cast<int>(syscall(SYS_openat, AT_FDCWD, "/etc/passwd", O_RDONLY)); })));
  EXPECT_TRUE(killed_by_filter(
      run_filtered([] { return static_cast<int>(syscall(SYS_socket, AF_INET, SOCK_STREAM, 0)); })));
  EXPECT_TRUE(killed_by_filter(run_filtered([] {
    const char* argv[] = {"/bin/true", nullptr};
    return static_cast<int>(syscall(SYS_execve, "/bin/true", argv, nullptr));
  })));
  EXPECT_TRUE(killed_by_filter(run_filtered([] {
    return static_cast<int>(syscall(SYS_mmap, nullptr, 4096, PROT_READ | PROT_EXEC,
                                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  })));
#if defined(__x86_64__)
  // An x32 call whose plain number (1, write) is allowed: the calling convention is foreign.
  EXPECT_TRUE(killed_by_filter(
      run_filtered([] { return static_cast<int>(syscall(0x40000000L | SYS_write, 1, "x", 1)); })));
#endif
}
