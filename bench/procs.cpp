#include "procs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/helper_process.h"

namespace {

std::string read_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Sums `field_of(text)` over every thread of the process.
template <typename F>
int64_t sum_over_threads(pid_t pid, const char* file, F field_of) {
  std::string dir = "/proc/" + std::to_string(pid) + "/task";
  DIR* tasks = opendir(dir.c_str());
  if (tasks == nullptr) return -1;
  int64_t total = 0;
  bool any = false;
  while (dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] == '.') continue;
    std::string text = read_text(dir + "/" + entry->d_name + "/" + file);
    if (text.empty()) continue;  // the thread ended meanwhile
    int64_t value = field_of(text);
    if (value < 0) continue;
    total += value;
    any = true;
  }
  closedir(tasks);
  return any ? total : -1;
}

int64_t field_in_status(const std::string& text, const char* name) {
  std::string key = std::string(name) + ":";
  size_t at = text.find("\n" + key);
  if (at == std::string::npos) {
    if (text.compare(0, key.size(), key) != 0) return -1;
    at = 0;
  } else {
    at += 1;
  }
  return std::strtoll(text.c_str() + at + key.size(), nullptr, 10);
}

}  // namespace

bool start_pinned(Child& child, const std::string& name, const std::vector<std::string>& argv,
                  int cpu, const std::string& log_path) {
  std::vector<std::string> full;
  if (cpu >= 0) full = {"taskset", "-c", std::to_string(cpu)};
  full.insert(full.end(), argv.begin(), argv.end());
  int log_fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (log_fd < 0) return false;
  int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  pid_t pid = spawn_process(full, {}, log_fd, null_fd);
  close(log_fd);
  if (null_fd >= 0) close(null_fd);
  if (pid < 0) return false;
  child.pid = pid;
  child.name = name;
  return true;
}

void stop_child(Child& child) {
  if (child.pid <= 0) return;
  kill(child.pid, SIGTERM);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  int status = 0;
  while (waitpid(child.pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child.pid, SIGKILL);
      waitpid(child.pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  child.pid = -1;
}

bool pin_self(int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (cpu >= 0) {
    CPU_SET(cpu, &set);
  } else {
    for (long i = 0; i < sysconf(_SC_NPROCESSORS_ONLN) && i < CPU_SETSIZE; ++i) CPU_SET(i, &set);
  }
  return sched_setaffinity(0, sizeof set, &set) == 0;
}

int64_t cpu_ns(pid_t pid) {
  return sum_over_threads(pid, "schedstat", [](const std::string& text) -> int64_t {
    return std::strtoll(text.c_str(), nullptr, 10);
  });
}

int64_t status_field(pid_t pid, const char* name) {
  return field_in_status(read_text("/proc/" + std::to_string(pid) + "/status"), name);
}

int64_t image_rss_kb(pid_t pid) {
  std::string base = "/proc/" + std::to_string(pid);
  char exe[4096];
  ssize_t length = readlink((base + "/exe").c_str(), exe, sizeof exe - 1);
  if (length <= 0) return -1;
  std::string exe_path(exe, static_cast<size_t>(length));
  std::istringstream smaps(read_text(base + "/smaps"));
  std::string line;
  int64_t total = 0;
  bool counting = false, after_image = false;
  while (std::getline(smaps, line)) {
    size_t dash = line.find('-');
    bool header =
        dash != std::string::npos && dash > 0 && line.find_first_not_of("0123456789abcdef") == dash;
    if (header) {
      // Fields: range, perms, offset, device, inode, then the path (absent for anonymous maps).
      std::istringstream fields(line);
      std::string range, perms, offset, device, inode, path;
      fields >> range >> perms >> offset >> device >> inode >> path;
      bool image = path == exe_path;
      counting = image || (after_image && path.empty());
      after_image = image;
    } else if (counting && line.compare(0, 4, "Rss:") == 0) {
      total += std::strtoll(line.c_str() + 4, nullptr, 10);
    }
  }
  return total;
}

int64_t voluntary_switches(pid_t pid) {
  return sum_over_threads(pid, "status", [](const std::string& text) {
    return field_in_status(text, "voluntary_ctxt_switches");
  });
}

std::string machine_description() {
  std::string cpuinfo = read_text("/proc/cpuinfo");
  std::string model = "unknown CPU";
  size_t at = cpuinfo.find("model name");
  if (at != std::string::npos) {
    size_t colon = cpuinfo.find(':', at);
    size_t end = cpuinfo.find('\n', at);
    if (colon != std::string::npos && end != std::string::npos && colon < end) {
      model = cpuinfo.substr(colon + 2, end - colon - 2);
    }
  }
  utsname name{};
  uname(&name);
  return model + ", " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " CPUs, Linux " +
         name.release;
}

std::string load_average() {
  std::string text = read_text("/proc/loadavg");
  size_t space = text.find(' ');
  return space == std::string::npos ? text : text.substr(0, space);
}
