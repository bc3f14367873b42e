#include "sim_scene.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr unsigned kFrequencies[] = {2412, 2437, 2462, 5180, 5240, 5500, 5745, 5955};

std::string hex_of(const std::vector<uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 15]);
  }
  return text;
}

// The SSID element, then vendor-specific elements (id 221) filling up to exactly `total` bytes.
std::vector<uint8_t> elements(const std::string& ssid, int total, uint32_t seed) {
  std::vector<uint8_t> out = {0, static_cast<uint8_t>(ssid.size())};
  for (char c : ssid) out.push_back(static_cast<uint8_t>(c));
  auto left = [&] { return total - static_cast<int>(out.size()); };
  while (left() >= 2) {
    int length = left() - 2;
    if (length > 255) length = left() - 257 == 1 ? 200 : 255;  // never strand a single byte
    out.push_back(221);
    out.push_back(static_cast<uint8_t>(length));
    for (int i = 0; i < length; ++i) {
      seed = seed * 1103515245u + 12345u;
      out.push_back(static_cast<uint8_t>(seed >> 16));
    }
  }
  return out;
}

}  // namespace

std::string scene_text(int nets, int ie_bytes) {
  std::string text =
      "# Written by the benchmark: one associated network and its neighbours, each with a fixed\n"
      "# number of information-element bytes.\n"
      "name bench\n"
      "trigger refuse\n"
      "interface ifindex=3 name=wlan0 type=station wiphy=0 freq=5180 width=3 cf1=5210 "
      "ssid=Bench-Home\n";
  char line[256];
  for (int k = 0; k < nets; ++k) {
    std::string ssid = k == 0 ? "Bench-Home" : "Neighbour-" + std::to_string(k);
    unsigned freq = k == 0 ? 5180 : kFrequencies[k % std::size(kFrequencies)];
    std::snprintf(line, sizeof line, "bss bssid=0a:00:00:01:%02x:%02x freq=%u signal=%d%s ssid=%s",
                  k >> 8 & 0xFF, k & 0xFF, freq, -4000 - 50 * k, k == 0 ? " status=associated" : "",
                  ssid.c_str());
    std::string ies = hex_of(elements(ssid, ie_bytes, static_cast<uint32_t>(k) + 1));
    text += line;
    text += " ies=" + ies + " beacon-ies=" + ies + "\n";
  }
  text +=
      "station signal=-40 swing=6 tx-bitrate=8667 tx-vht-mcs=9 tx-vht-nss=2 tx-width=80 tx-sgi "
      "rx-bitrate=7800 rx-vht-mcs=8 rx-vht-nss=2 rx-width=80\n";
  return text;
}
