#pragma once

#include <fstream>
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

// A scan record against one entry of "scan" or "entries_dump_order".
inline void expect_entry(const ScanEntry& entry, const JsonValue& want) {
  SCOPED_TRACE(want["bssid"].text);
  EXPECT_EQ(mac_text(entry.bssid), want["bssid"].text);
  EXPECT_EQ(entry.has_bssid, 1);
  EXPECT_EQ(hex_of_text(entry.ssid), want["ssid_hex"].text);
  EXPECT_EQ(entry.signal_dbm, want["rssi"].as_int());
  EXPECT_EQ(entry.channel, want["channel"].as_int());
  EXPECT_EQ(entry.freq_mhz, want["freq"].as_int());
  EXPECT_EQ(entry.ie_len, want["ie_len"].as_int());
  EXPECT_EQ(entry.associated, want["associated"].boolean ? 1 : 0);
  EXPECT_EQ(entry.width_mhz, 0);
}

// A link against "link"; the BSSID is the station's in every recording.
inline void expect_link(const LinkInfo& link, const JsonValue& want) {
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
  EXPECT_STREQ(link.phy, "");
  EXPECT_EQ(link.has_bssid, 1);
  EXPECT_EQ(mac_text(link.bssid), "02:00:00:00:00:00");
}
