#pragma once

#include <string>
#include <vector>

#include "procs.h"
#include "support/sockets.h"

// Chores shared by the modes: the work folder, files, ports and the started processes.

// `o_work` itself (created if missing), or a fresh folder under /tmp when it is empty; "" on
// failure.
std::string prepare_work_dir(const std::string& o_work);

bool write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);

// Waits until the file at `path` holds `needle`; false after `timeout_ms`.
bool wait_for_log(const std::string& path, const char* needle, int timeout_ms);

// "YYYY-MM-DD HH:MM" in local time.
std::string now_text();

// Every process a run started; each is stopped (SIGTERM, then SIGKILL) when the fleet ends.
struct Fleet {
  std::vector<Child> children;
  Fleet() { children.reserve(16); }
  Fleet(const Fleet&) = delete;
  Fleet& operator=(const Fleet&) = delete;
  ~Fleet();
  // Starts `argv` pinned to `cpu` with its output in `log` (emptied first); the pid, or -1.
  pid_t start(const std::string& name, const std::vector<std::string>& argv, int cpu,
              const std::string& log);
};
