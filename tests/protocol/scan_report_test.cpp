// The choice of the computer's own network and the scan report's exact layout.
#include "protocol/scan_report.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

ScanEntry entry(const char* ssid, int signal, int channel, int freq) {
  ScanEntry e{};
  std::snprintf(e.ssid, sizeof e.ssid, "%s", ssid);
  e.signal_dbm = signal;
  e.channel = channel;
  e.freq_mhz = freq;
  return e;
}

LinkInfo connected_link(int channel, int rssi) {
  LinkInfo link{};
  link.connected = 1;
  link.channel = channel;
  link.rssi = rssi;
  return link;
}

// A connected link whose station reported the BSSID 02:00:00:00:00:01.
LinkInfo link_with_bssid(int channel, int rssi) {
  LinkInfo link = connected_link(channel, rssi);
  link.has_bssid = 1;
  std::memcpy(link.bssid, "\x02\0\0\0\0\x01", 6);
  return link;
}

std::string report(const LinkInfo& link, const std::vector<ScanEntry>& entries, bool fresh = true) {
  TextBuffer buffer{};
  int n = static_cast<int>(entries.size());
  write_scan_report(buffer, link, entries.data(), n, choose_mine(link, entries.data(), n), fresh);
  std::string text(buffer.data, buffer.len);
  text_release(buffer);
  return text;
}

}  // namespace

TEST(ChooseMine, FlagStageWinsOverBssidAndTakesTheLastFlagged) {
  LinkInfo link = link_with_bssid(36, -52);
  std::vector<ScanEntry> entries{entry("a", -40, 36, 5180), entry("b", -50, 36, 5180),
                                 entry("c", -60, 6, 2437)};
  entries[0].has_bssid = 1;
  std::memcpy(entries[0].bssid, link.bssid, 6);
  entries[1].associated = 1;
  entries[2].associated = 1;
  MineChoice mine = choose_mine(link, entries.data(), 3);
  EXPECT_EQ(mine.index, 2);
  EXPECT_FALSE(mine.guess);
}

TEST(ChooseMine, BssidStageTakesTheFirstMatch) {
  LinkInfo link = link_with_bssid(36, -52);
  std::vector<ScanEntry> entries{entry("a", -40, 36, 5180), entry("b", -52, 36, 5180),
                                 entry("c", -52, 36, 5180)};
  for (int k : {1, 2}) {
    entries[k].has_bssid = 1;
    std::memcpy(entries[k].bssid, link.bssid, 6);
  }
  MineChoice mine = choose_mine(link, entries.data(), 3);
  EXPECT_EQ(mine.index, 1);
  EXPECT_FALSE(mine.guess);
}

TEST(ChooseMine, GuessTakesTheUniqueNearestSameChannelEntryUnderSevenDb) {
  LinkInfo link = connected_link(36, -52);
  auto guess = [&](std::vector<ScanEntry> entries) {
    return choose_mine(link, entries.data(), static_cast<int>(entries.size()));
  };
  MineChoice one = guess({entry("x", -70, 6, 2437), entry("a", -50, 36, 5180)});
  EXPECT_EQ(one.index, 1);
  EXPECT_TRUE(one.guess);
  EXPECT_EQ(guess({entry("a", -50, 36, 5180), entry("b", -54, 36, 5180)}).index, -1);  // tie
  EXPECT_EQ(guess({entry("a", -50, 36, 5180), entry("b", -55, 36, 5180)}).index, 0);
  EXPECT_EQ(guess({entry("a", -59, 36, 5180)}).index, -1);  // exactly 7 dB never qualifies
  EXPECT_EQ(guess({entry("a", -58, 36, 5180)}).index, 0);
  // Ties at a larger distance do not block a nearer entry found later.
  EXPECT_EQ(guess({entry("a", -45, 36, 5180), entry("b", -59, 36, 5180), entry("c", -49, 36, 5180)})
                .index,
            2);
  EXPECT_EQ(guess({entry("a", -46, 36, 5180), entry("b", -58, 36, 5180), entry("c", -49, 36, 5180)})
                .index,
            2);
  MineChoice none = guess({entry("a", -40, 6, 2437)});
  EXPECT_EQ(none.index, -1);
  EXPECT_FALSE(none.guess);
}

// A link without a BSSID was never asked for its signal (rssi 0): comparing signals with 0 dBm
// would guess nothing real, so the guess goes by the network's name on the link's channel.
TEST(ChooseMine, WithoutTheLinksSignalTheGuessGoesByNameOnTheChannel) {
  LinkInfo link = connected_link(36, 0);
  std::snprintf(link.ssid, sizeof link.ssid, "Home");
  auto guess = [&](std::vector<ScanEntry> entries) {
    return choose_mine(link, entries.data(), static_cast<int>(entries.size()));
  };
  MineChoice one = guess(
      {entry("Home", -70, 6, 2437), entry("Cafe", -3, 36, 5180), entry("Home", -81, 36, 5180)});
  EXPECT_EQ(one.index, 2);
  EXPECT_TRUE(one.guess);
  EXPECT_EQ(guess({entry("Home", -60, 36, 5180), entry("Home", -81, 36, 5180)}).index, -1);
  EXPECT_EQ(guess({entry("Home2", -60, 36, 5180), entry("home", -1, 36, 5180)}).index, -1);
  link.ssid[0] = '\0';  // a hidden link names nothing, not the hidden entries
  EXPECT_EQ(guess({entry("", -60, 36, 5180)}).index, -1);
}

TEST(ChooseMine, NoGuessWhenNotConnectedOrChannelUnknown) {
  std::vector<ScanEntry> entries{entry("a", -52, 36, 5180)};
  LinkInfo off = connected_link(36, -52);
  off.connected = 0;
  EXPECT_EQ(choose_mine(off, entries.data(), 1).index, -1);
  std::vector<ScanEntry> zero{entry("a", -52, 0, 0)};
  EXPECT_EQ(choose_mine(connected_link(0, -52), zero.data(), 1).index, -1);
}

TEST(ScanReport, MatchesTheDocumentedExampleByteForByte) {
  LinkInfo link = connected_link(36, -52);
  std::snprintf(link.iface, sizeof link.iface, "wlan0");
  std::snprintf(link.ssid, sizeof link.ssid, "Home");
  link.tx_mbps = 866.7;
  link.rx_mbps = 780.0;
  link.freq_mhz = 5180;
  link.width_mhz = 80;
  link.nss = 2;
  std::vector<ScanEntry> entries{entry("Home", -50, 36, 5180), entry("Cafe", -81, 6, 2437)};
  entries[0].associated = 1;
  std::memcpy(entries[0].ies, "\x00\x04Home", 6);
  entries[0].ie_len = 6;
  EXPECT_EQ(
      report(link, entries),
      "{\"type\":\"scan\",\"ieHidden\":false,\"mineGuess\":false,\"fresh\":true,\"link\":{"
      "\"connected\":true,"
      "\"iface\":\"wlan0\",\"ssid\":\"Home\",\"rssi\":-52,\"noise\":0,\"txMbps\":866.7,"
      "\"rxMbps\":780.0,\"channel\":36,\"freqMHz\":5180,\"widthMHz\":80,\"nss\":2,\"phy\":"
      "\"\"},\"nets\":[{\"ssid\":\"Home\",\"rssi\":-50,\"channel\":36,\"freqMHz\":5180,"
      "\"widthMHz\":0,\"phy\":\"\",\"mine\":true,\"ie\":\"0004486f6d65\"},{\"ssid\":\"Cafe\","
      "\"rssi\":-81,\"channel\":6,\"freqMHz\":2437,\"widthMHz\":0,\"phy\":\"\",\"mine\":false,"
      "\"ie\":\"\"}]}");
}

TEST(ScanReport, EmptyScanAndHiddenElements) {
  LinkInfo zero{};
  EXPECT_EQ(report(zero, {}),
            "{\"type\":\"scan\",\"ieHidden\":false,\"mineGuess\":false,\"fresh\":true,\"link\":{"
            "\"connected\":"
            "false,\"iface\":\"\",\"ssid\":\"\",\"rssi\":0,\"noise\":0,\"txMbps\":0.0,\"rxMbps\":"
            "0.0,\"channel\":0,\"freqMHz\":0,\"widthMHz\":0,\"nss\":0,\"phy\":\"\"},\"nets\":[]}");
  std::string hidden = report(zero, {entry("a\"\xff", -50, 1, 2412), entry("", -60, 1, 2412)});
  EXPECT_NE(hidden.find("\"ieHidden\":true"), std::string::npos);
  EXPECT_NE(hidden.find("{\"ssid\":\"a\\\"\\u00ff\",\"rssi\":-50"), std::string::npos);
  EXPECT_NE(hidden.find("\"mine\":false,\"ie\":\"\"}]}"), std::string::npos);
}

TEST(ScanReport, GuessIsFlaggedAndFullTablesStayExact) {
  std::vector<ScanEntry> entries;
  for (int k = 0; k < kScanCapacity; ++k) {
    ScanEntry e = entry("n", -30 - k, 1, 2412);
    for (int i = 0; i < 2048; ++i) e.ies[i] = static_cast<uint8_t>(i * 7 + k);
    e.ie_len = 2048;
    entries.push_back(e);
  }
  std::string text = report(connected_link(1, -31), entries);
  EXPECT_NE(text.find("\"mineGuess\":true"), std::string::npos);
  size_t second = text.find("{\"ssid\":\"n\",\"rssi\":-31,");
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(text.find("\"mine\":true"), text.find("\"mine\":", second));
  // Every entry carries 4096 hex digits.
  size_t pos = 0;
  int count = 0;
  while ((pos = text.find("\"ie\":\"", pos)) != std::string::npos) {
    pos += 6;
    EXPECT_EQ(text.find('"', pos) - pos, 4096u);
    ++count;
  }
  EXPECT_EQ(count, kScanCapacity);
}

// The system's last scan: "fresh" false, and each network's age where the kernel gave one, placed
// before its elements; a network without an age has no such member.
TEST(ScanReport, StaleScanCarriesAgesWhereKnown) {
  std::vector<ScanEntry> entries{entry("a", -50, 1, 2412), entry("b", -60, 6, 2437),
                                 entry("c", -70, 11, 2462)};
  entries[0].seen_ms_ago = 73250;
  entries[0].has_seen_ms_ago = 1;
  entries[2].seen_ms_ago = 0;
  entries[2].has_seen_ms_ago = 1;
  std::string text = report(LinkInfo{}, entries, false);
  EXPECT_TRUE(text.starts_with(
      "{\"type\":\"scan\",\"ieHidden\":true,\"mineGuess\":false,\"fresh\":false,\"link\":{"))
      << text;
  EXPECT_NE(text.find("\"mine\":false,\"seenMsAgo\":73250,\"ie\":\"\"},{\"ssid\":\"b\""),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\"widthMHz\":0,\"phy\":\"\",\"mine\":false,\"ie\":\"\"},{\"ssid\":\"c\""),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\"seenMsAgo\":0,\"ie\":\"\"}]}"), std::string::npos) << text;
  EXPECT_EQ(newest_seen_ms_ago(entries.data(), 3), 0);
  EXPECT_EQ(newest_seen_ms_ago(entries.data(), 2), 73250);
  EXPECT_EQ(newest_seen_ms_ago(entries.data() + 1, 1), -1);
}
