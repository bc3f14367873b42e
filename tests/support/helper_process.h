#pragma once

#include <sys/types.h>

#include <csignal>
#include <string>
#include <utility>
#include <vector>

#include "support/sockets.h"

// Test support: runs the real helper binary as a child process, reads its standard output, and
// talks to it over real loopback sockets.
//
// The same suites can run against another build of the binaries (another architecture's, say):
// TIVEL_HELPER and TIVEL_SIM name the helper and the simulator to run instead of the build's own,
// and TIVEL_EMULATOR a program that runs them (qemu-user), started as `EMULATOR BINARY ARGS...`.
// The end-to-end suites (tests/e2e/lib/helper.js) read the same three variables.

struct HelperProcess {
  pid_t pid = -1;
  int out_fd = -1;     // read end of the child's stdout/stderr pipe
  std::string output;  // everything read from it so far
  int port = 0;        // port parsed from the "Running on" line
  int exit_code = -1;  // set once the child was reaped (128 + signal when killed)

  HelperProcess() = default;
  HelperProcess(const HelperProcess&) = delete;
  HelperProcess& operator=(const HelperProcess&) = delete;
  ~HelperProcess();  // kills and reaps a child still running
};

// The path in the environment variable `name` when it is set and not empty, else `built`.
std::string binary_path(const char* name, const char* built);

struct HelperOptions {
  std::vector<std::string> args;
  std::vector<std::string> env;  // extra NAME=value entries
  std::string path = binary_path("TIVEL_HELPER", TIVEL_HELPER_PATH);
};

// Options with just these arguments.
inline HelperOptions with_args(std::vector<std::string> args) {
  HelperOptions options;
  options.args = std::move(args);
  return options;
}

// Starts `argv` (argv[0] looked up on the PATH when it holds no slash) with the NAME=value
// entries of `env` added, standard output and error on `out_fd`, and standard input on `in_fd`
// (-1: inherited). The child's pid, or -1 when fork failed; exit status 127 when exec failed.
pid_t spawn_process(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                    int out_fd, int in_fd = -1);

// Starts the binary (through TIVEL_EMULATOR when that is set). Returns false when fork/exec failed.
bool start_helper(HelperProcess& helper, const HelperOptions& options);

// Waits for the "Running on" line, then a moment more: the stop signals are handled only from
// just after that line, so a signal sent at once could still end the process the default way.
bool wait_running(HelperProcess& helper, int timeout_ms = 5000);

// Starts the binary with "--port <free port>" appended and waits for its "Running on" line.
// Returns false (with the output so far in helper.output) when the line did not come.
bool start_on_free_port(HelperProcess& helper, HelperOptions options = {}, int timeout_ms = 5000);

// Reads output until `needle` appears (true) or `timeout_ms` passes or the output ends (false).
bool wait_for_output(HelperProcess& helper, const std::string& needle, int timeout_ms);

// Waits for the child to exit; returns its exit code, or -1 on time-out.
int wait_exit(HelperProcess& helper, int timeout_ms);

// Sends `signal_number` and waits for the exit code (-1 on time-out).
int stop_helper(HelperProcess& helper, int signal_number = SIGTERM, int timeout_ms = 5000);

// Runs the binary to completion (kills it after timeout_ms) and returns the exit code.
int run_to_exit(HelperProcess& helper, const HelperOptions& options, int timeout_ms = 5000);

// The log messages seen so far: lines of the form "HH:MM:SS  message", without the time stamp.
// The "Cannot tell which user ..." lines, which depend on the machine, are left out.
std::vector<std::string> log_messages(const HelperProcess& helper);
std::vector<std::string> log_messages(const std::string& output);

// Fills the pipe behind `read_end` through a file description of its own, so that the writer's
// stays blocking and its next write finds the pipe full. False if the pipe cannot be opened.
bool fill_pipe(int read_end);
