#include "hardening_support.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

int open_descriptors(pid_t pid) {
  std::string path = "/proc/" + std::to_string(pid) + "/fd";
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return -1;
  int count = 0;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count;
}

long resident_bytes(pid_t pid) {
  std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
  long size = 0, resident = -1;
  if (!(statm >> size >> resident)) return -1;
  return resident * sysconf(_SC_PAGESIZE);
}

void read_log(HelperProcess& helper) {
  // Each call reads for a few milliseconds; the needle never appears in the log.
  wait_for_output(helper, "\x01\x02", 5);
}

size_t count_lines(const HelperProcess& helper, const std::string& message) {
  const std::string summary = message + " ... repeated ";
  size_t count = 0;
  for (const std::string& line : log_messages(helper)) {
    if (line == message) ++count;
    if (line.starts_with(summary)) count += std::stoul(line.substr(summary.size()));
  }
  return count;
}

size_t count_lines_starting(const HelperProcess& helper, const std::string& prefix) {
  const std::string repeated = " ... repeated ";
  size_t count = 0;
  for (const std::string& line : log_messages(helper)) {
    if (!line.starts_with(prefix)) continue;
    size_t summary = line.rfind(repeated);
    count += summary == std::string::npos ? 1 : std::stoul(line.substr(summary + repeated.size()));
  }
  return count;
}

std::string fresh_page_problem(int port) {
  WsClient page;
  if (!ws_connect(page, port)) return "no upgrade: '" + page.handshake + "'";
  std::string reply = ws_command(page, R"({"cmd":"hello"})", 3000);
  if (reply != hello_reply(port) && reply != sim_hello_reply(port))
    return "hello reply was '" + reply + "'";
  if (!ws_send(page, close_frame(1000))) return "close frame could not be sent";
  bool closed = false;
  std::string rest = ws_read_raw(page, 3000, 0, &closed);
  if (rest != std::string("\x88\x00", 2) || !closed) return "close answered with '" + rest + "'";
  return "";
}
