#pragma once

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "support/json_reader.h"
#include "wifi/wifi.h"
#include "wifi_test_support.h"

// Checks against the values of a recordings folder's expected.json.

inline JsonValue load_expected(const std::string& folder) {
  std::ifstream in(folder + "/expected.json");
  std::stringstream text;
  text << in.rdbuf();
  JsonValue json;
  EXPECT_TRUE(read_json(text.str(), json)) << folder;
  return json;
}

inline std::string hex_of_text(const char* text) {
  return hex_of(reinterpret_cast<const uint8_t*>(text), std::strlen(text));
}

// The width of each BSS as iw printed its elements in the same boot (the first scan dump of the
// scene's console-excerpt.txt), by BSSID: VHT operation width 1 is 80 (160 with a second centre
// segment), 2 and 3 are 160; else HT operation with a secondary channel and any STA width is 40;
// else 20. The recordings predate the width, so iw's view is the reference.
inline std::map<std::string, int> iw_widths(const std::string& scene_folder) {
  std::ifstream in(scene_folder + "/console-excerpt.txt");
  std::map<std::string, int> widths;
  std::string line, bssid;
  bool in_dump = false, secondary = false, any_width = false;
  int vht = -1, segment2 = 0;
  auto finish = [&] {
    if (bssid.empty()) return;
    int width = secondary && any_width ? 40 : 20;
    if (vht == 1) width = segment2 != 0 ? 160 : 80;
    if (vht == 2 || vht == 3) width = 160;
    widths[bssid] = width;
  };
  while (std::getline(in, line)) {
    if (line.rfind("@@BEGIN iw dev", 0) == 0 && line.find("scan dump") != std::string::npos) {
      in_dump = widths.empty();
    } else if (line.rfind("@@END", 0) == 0 && in_dump) {
      finish();
      in_dump = false;
    } else if (in_dump && line.rfind("BSS ", 0) == 0) {
      finish();
      bssid = line.substr(4, 17);
      secondary = any_width = false;
      vht = -1;
      segment2 = 0;
    } else if (in_dump) {
      secondary = secondary || line.find("secondary channel offset: above") != std::string::npos ||
                  line.find("secondary channel offset: below") != std::string::npos;
      any_width = any_width || line.find("STA channel width: any") != std::string::npos;
      size_t at = line.find("* channel width: ");
      if (at != std::string::npos) vht = std::stoi(line.substr(at + 17));
      at = line.find("* center freq segment 2: ");
      if (at != std::string::npos) segment2 = std::stoi(line.substr(at + 25));
    }
  }
  return widths;
}

// A scan record against one entry of "scan" or "entries_dump_order", and its width against iw's
// view (`widths`, from iw_widths).
inline void expect_entry(const ScanEntry& entry, const JsonValue& want,
                         const std::map<std::string, int>& widths) {
  SCOPED_TRACE(want["bssid"].text);
  EXPECT_EQ(mac_text(entry.bssid), want["bssid"].text);
  EXPECT_EQ(entry.has_bssid, 1);
  EXPECT_EQ(hex_of_text(entry.ssid), want["ssid_hex"].text);
  EXPECT_EQ(entry.signal_dbm, want["rssi"].as_int());
  EXPECT_EQ(entry.channel, want["channel"].as_int());
  EXPECT_EQ(entry.freq_mhz, want["freq"].as_int());
  EXPECT_EQ(entry.ie_len, want["ie_len"].as_int());
  EXPECT_EQ(entry.associated, want["associated"].boolean ? 1 : 0);
  auto width = widths.find(want["bssid"].text);
  ASSERT_NE(width, widths.end()) << "iw printed no BSS " << want["bssid"].text;
  EXPECT_EQ(entry.width_mhz, width->second);
}

// A link against "link" and the generation iw's scan dump shows for its access point; the BSSID
// is the station's in every recording.
inline void expect_link(const LinkInfo& link, const JsonValue& want, const char* phy) {
  EXPECT_EQ(link.connected, want["connected"].boolean ? 1 : 0);
  EXPECT_STREQ(link.iface, want["iface"].text.c_str());
  EXPECT_EQ(hex_of_text(link.ssid), want["ssid_hex"].text);
  EXPECT_EQ(link.rssi, want["rssi"].as_int());
  EXPECT_EQ(link.noise, 0);
  EXPECT_DOUBLE_EQ(link.tx_mbps, want["txMbps"].number);
  EXPECT_DOUBLE_EQ(link.rx_mbps, want["rxMbps"].number);
  EXPECT_EQ(link.channel, want["channel"].as_int());
  EXPECT_EQ(link.freq_mhz, want["freqMHz"].as_int());
  EXPECT_EQ(link.width_mhz, want["widthMHz"].as_int());
  EXPECT_EQ(link.nss, want["nss"].as_int());
  EXPECT_STREQ(link.phy, phy);
  EXPECT_EQ(link.has_bssid, 1);
  EXPECT_EQ(mac_text(link.bssid), "02:00:00:00:00:00");
}
