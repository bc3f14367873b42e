#include "recordings.h"

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>

namespace {

namespace fs = std::filesystem;

// "NN-<name>-<suffix>.bin" -> NN and suffix ("req" or K); false for other names.
bool split_name(const std::string& name, int* nn, std::string* suffix) {
  if (name.size() < 8 || name.compare(name.size() - 4, 4, ".bin") != 0) return false;
  if (!std::isdigit(static_cast<unsigned char>(name[0])) ||
      !std::isdigit(static_cast<unsigned char>(name[1])) || name[2] != '-') {
    return false;
  }
  size_t dash = name.rfind('-', name.size() - 5);
  if (dash == std::string::npos || dash < 2) return false;
  *nn = (name[0] - '0') * 10 + (name[1] - '0');
  *suffix = name.substr(dash + 1, name.size() - 4 - dash - 1);
  if (*suffix == "req") return true;
  for (char c : *suffix) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return !suffix->empty() && suffix->size() < 6;
}

}  // namespace

Bytes read_file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

FakeResponder recordings_responder(const std::string& folder, std::string* error) {
  // replies[NN][K] = datagram K of request NN
  auto replies = std::make_shared<std::map<int, std::map<int, Bytes>>>();
  std::error_code failure;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, failure)) {
    int nn = 0;
    std::string suffix;
    if (!split_name(entry.path().filename().string(), &nn, &suffix) || suffix == "req") continue;
    (*replies)[nn][std::stoi(suffix)] = read_file_bytes(entry.path().string());
  }
  if (failure || replies->empty()) {
    *error = "no recordings in " + folder;
    return {};
  }
  return [replies](const Bytes& request) {
    FakeReply reply;
    uint32_t seq = 0;
    if (request.size() >= 12) std::memcpy(&seq, request.data() + 8, 4);
    auto found = replies->find(static_cast<int>(seq));
    if (found != replies->end()) {
      for (const auto& [k, datagram] : found->second) reply.datagrams.push_back(datagram);
    }
    return reply;
  };
}

Bytes recorded_request(const std::string& folder, int nn) {
  std::error_code failure;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, failure)) {
    int found = 0;
    std::string suffix;
    if (split_name(entry.path().filename().string(), &found, &suffix) && found == nn &&
        suffix == "req") {
      return read_file_bytes(entry.path().string());
    }
  }
  return {};
}
