#include "support/helper_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Reads what the pipe holds within `timeout_ms`; false when the pipe reached its end.
bool pump_output(HelperProcess& helper, int timeout_ms) {
  if (helper.out_fd < 0) return false;
  pollfd p{helper.out_fd, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return true;
  char chunk[4096];
  ssize_t got = read(helper.out_fd, chunk, sizeof chunk);
  if (got <= 0) {
    close(helper.out_fd);
    helper.out_fd = -1;
    return false;
  }
  helper.output.append(chunk, static_cast<size_t>(got));
  return true;
}

void reap(HelperProcess& helper, int options) {
  if (helper.pid <= 0) return;
  int status = 0;
  if (waitpid(helper.pid, &status, options) != helper.pid) return;
  helper.pid = -1;
  helper.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

HelperProcess::~HelperProcess() {
  if (pid > 0) {
    kill(pid, SIGKILL);
    reap(*this, 0);
  }
  if (out_fd >= 0) close(out_fd);
}

pid_t spawn_process(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                    int out_fd, int in_fd) {
  // Everything the child needs is built before fork, so the child only copies pointers.
  std::vector<std::string> argv_text = argv;
  std::vector<std::string> env_text = env;
  std::vector<char*> args;
  for (std::string& text : argv_text) args.push_back(text.data());
  args.push_back(nullptr);
  pid_t pid = fork();
  if (pid != 0) return pid;
  if (in_fd >= 0) dup2(in_fd, STDIN_FILENO);
  dup2(out_fd, STDOUT_FILENO);
  dup2(out_fd, STDERR_FILENO);
  for (std::string& entry : env_text) putenv(entry.data());
  execvp(args[0], args.data());
  _exit(127);
}

std::string binary_path(const char* name, const char* built) {
  const char* value = getenv(name);
  return value != nullptr && value[0] != '\0' ? value : built;
}

bool start_helper(HelperProcess& helper, const HelperOptions& options) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return false;
  std::vector<std::string> argv;
  std::string emulator = binary_path("TIVEL_EMULATOR", "");
  if (!emulator.empty()) argv.push_back(emulator);
  argv.push_back(options.path);
  argv.insert(argv.end(), options.args.begin(), options.args.end());
  pid_t pid = spawn_process(argv, options.env, pipe_fds[1]);
  if (pid < 0) {
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    return false;
  }
  close(pipe_fds[1]);
  helper.pid = pid;
  helper.out_fd = pipe_fds[0];
  helper.output.clear();
  helper.exit_code = -1;
  return true;
}

bool wait_for_output(HelperProcess& helper, const std::string& needle, int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (helper.output.find(needle) == std::string::npos) {
    int left = remaining_ms(deadline);
    if (left == 0) return false;
    if (!pump_output(helper, left)) return helper.output.find(needle) != std::string::npos;
  }
  return true;
}

bool wait_running(HelperProcess& helper, int timeout_ms) {
  if (!wait_for_output(helper, "connects by itself.", timeout_ms)) return false;
  usleep(50 * 1000);
  return true;
}

bool start_on_free_port(HelperProcess& helper, HelperOptions options, int timeout_ms) {
  // Between free_port's probe and the helper's bind another process (a test running alongside)
  // may take the port; the helper then exits at once saying so, and a fresh port is tried.
  for (int attempt = 0; attempt < 5; ++attempt) {
    int port = free_port();
    HelperOptions tried = options;
    tried.args.push_back("--port");
    tried.args.push_back(std::to_string(port));
    if (!start_helper(helper, tried)) return false;
    if (wait_running(helper, timeout_ms)) {
      helper.port = port;
      return true;
    }
    if (helper.output.find("Could not open 127.0.0.1:") == std::string::npos) return false;
    (void)wait_exit(helper, 2000);
    if (helper.out_fd >= 0) close(helper.out_fd);
    helper.out_fd = -1;
  }
  return false;
}

int wait_exit(HelperProcess& helper, int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (helper.pid > 0) {
    reap(helper, WNOHANG);
    if (helper.pid <= 0) break;
    int left = remaining_ms(deadline);
    if (left == 0) return -1;
    if (!pump_output(helper, left < 20 ? left : 20)) usleep(2000);
  }
  while (pump_output(helper, 50)) {
  }
  return helper.exit_code;
}

int stop_helper(HelperProcess& helper, int signal_number, int timeout_ms) {
  if (helper.pid > 0) kill(helper.pid, signal_number);
  return wait_exit(helper, timeout_ms);
}

int run_to_exit(HelperProcess& helper, const HelperOptions& options, int timeout_ms) {
  if (!start_helper(helper, options)) return -1;
  int code = wait_exit(helper, timeout_ms);
  if (code == -1) stop_helper(helper, SIGKILL, 1000);
  return code;
}

std::vector<std::string> log_messages(const HelperProcess& helper) {
  return log_messages(helper.output);
}

std::vector<std::string> log_messages(const std::string& output) {
  std::vector<std::string> messages;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) break;
    std::string line = output.substr(start, end - start);
    start = end + 1;
    // Whether the starting user or a connection's user can be told depends on how and where the
    // tests run; the suites that care read the output itself.
    if (line.size() >= 10 && line[2] == ':' && line[5] == ':' && line.compare(8, 2, "  ") == 0 &&
        line.compare(10, 22, "Cannot tell which user") != 0)
      messages.push_back(line.substr(10));
  }
  return messages;
}

bool fill_pipe(int read_end) {
  int writer = open(("/proc/self/fd/" + std::to_string(read_end)).c_str(), O_WRONLY | O_NONBLOCK);
  if (writer < 0) return false;
  std::string filler(512, '#');
  filler.back() = '\n';
  while (write(writer, filler.data(), filler.size()) > 0) {
  }
  close(writer);
  return true;
}
