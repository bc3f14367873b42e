#include "setup.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <thread>

std::string prepare_work_dir(const std::string& o_work) {
  if (!o_work.empty()) {
    mkdir(o_work.c_str(), 0755);
    struct stat info {};
    return stat(o_work.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? o_work : "";
  }
  char pattern[] = "/tmp/tivel-bench-XXXXXX";
  return mkdtemp(pattern) == nullptr ? "" : pattern;
}

bool write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool wait_for_log(const std::string& path, const char* needle, int timeout_ms) {
  for (int waited = 0; waited <= timeout_ms; waited += 10) {
    if (read_file(path).find(needle) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::string now_text() {
  std::time_t now = std::time(nullptr);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", std::localtime(&now));
  return text;
}

Fleet::~Fleet() {
  for (Child& child : children) stop_child(child);
}

pid_t Fleet::start(const std::string& name, const std::vector<std::string>& argv, int cpu,
                   const std::string& log) {
  Child child;
  if (!start_pinned(child, name, argv, cpu, log)) return -1;
  children.push_back(child);
  return child.pid;
}
