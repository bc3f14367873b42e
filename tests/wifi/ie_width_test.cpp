// The channel width and the PHY generation that a BSS's information elements announce.
#include "wifi/ie_width.h"

#include <gtest/gtest.h>

#include <string>

#include "wifi/phy_label.h"
#include "wifi_test_support.h"

namespace {

Bytes from_hex(const std::string& hex) {
  Bytes bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

int32_t width_of(const std::string& hex) {
  Bytes bytes = from_hex(hex);
  return width_from_ies(bytes.data(), bytes.size());
}

// Element builders: HT operation (primary, then offset and STA width), VHT operation (width,
// segments 0 and 1, basic MCS), HE operation with 6 GHz information (control byte), EHT
// operation with its information (control byte).
std::string ht(const char* info) {
  return std::string("3d16") + "24" + info + std::string(40, '0');
}
std::string vht(const char* width, const char* seg0, const char* seg1) {
  return std::string("c005") + width + seg0 + seg1 + "fcff";
}
std::string he6(const char* control) {
  return std::string("ff0c24") + "000002" + "01" + "fcff" + "05" + control + "0700" + "06";
}
std::string eht(const char* control) {
  return std::string("ff096a") + "01" + "44444444" + control + "0f1f";
}
const std::string kSsid = "0004486f6d65";

TEST(IeWidth, NoElementsIsUnknownAndPlainElementsAre20) {
  EXPECT_EQ(width_from_ies(nullptr, 0), 0);
  EXPECT_EQ(width_of(kSsid), 20);
  EXPECT_EQ(width_of("0000"), 20);  // a hidden network's empty SSID element
}

TEST(IeWidth, HtOperationIs40OnlyWithASecondaryChannelAndAnyStaWidth) {
  EXPECT_EQ(width_of(kSsid + ht("05")), 40);  // above, any width
  EXPECT_EQ(width_of(kSsid + ht("07")), 40);  // below, any width
  EXPECT_EQ(width_of(kSsid + ht("01")), 20);  // above, but 20 MHz STA width
  EXPECT_EQ(width_of(kSsid + ht("04")), 20);  // no secondary channel
  EXPECT_EQ(width_of(kSsid + ht("06")), 20);  // offset 2 is reserved
}

TEST(IeWidth, VhtOperationWidthCodesAndTheSecondSegment) {
  EXPECT_EQ(width_of(ht("05") + vht("01", "2a", "00")), 80);
  EXPECT_EQ(width_of(ht("05") + vht("01", "2a", "32")), 160);
  EXPECT_EQ(width_of(ht("05") + vht("02", "32", "00")), 160);
  EXPECT_EQ(width_of(ht("05") + vht("03", "2a", "9b")), 160);
  EXPECT_EQ(width_of(ht("05") + vht("00", "00", "00")), 40);  // 0 leaves it to HT
  EXPECT_EQ(width_of(vht("04", "00", "00")), 20);             // a code no standard gives
}

TEST(IeWidth, HeSixGhzInformationAndItsPlaceAfterTheOptionalParts) {
  EXPECT_EQ(width_of(he6("00")), 20);
  EXPECT_EQ(width_of(he6("01")), 40);
  EXPECT_EQ(width_of(he6("02")), 80);
  EXPECT_EQ(width_of(he6("03")), 160);
  // Without the 6 GHz flag the same bytes say nothing about the width.
  EXPECT_EQ(width_of("ff0c24000000"
                     "01fcff"
                     "05030f00"
                     "06"),
            20);
  // VHT information (bit 14) and the co-hosted indicator (bit 15) come first.
  EXPECT_EQ(width_of("ff1024"
                     "00c002"
                     "01fcff"
                     "000000"
                     "03"
                     "05030f"
                     "1706"),
            160);
  EXPECT_EQ(width_of("ff0a24"
                     "004000"
                     "01fcff"
                     "012a32"),
            160);  // VHT information alone
}

TEST(IeWidth, EhtOperationWithItsInformation) {
  EXPECT_EQ(width_of(he6("03") + eht("04")), 320);
  EXPECT_EQ(width_of(he6("02") + eht("03")), 160);
  // Without the information present the HE operation's width stands.
  EXPECT_EQ(width_of(he6("02") + "ff066a0044444444"), 80);
}

TEST(IeWidth, TheWidestOfSeveralElementsWinsWhateverTheirOrder) {
  EXPECT_EQ(width_of(vht("01", "2a", "00") + ht("05") + kSsid), 80);
  EXPECT_EQ(width_of(eht("04") + ht("01") + he6("03")), 320);
  EXPECT_EQ(width_of(kSsid + "dd050050f20201" + ht("05")), 40);  // past a vendor element
}

TEST(IeWidth, TruncatedElementsArePassedOverOrEndTheWalk) {
  // Bodies too short for the fields a rule reads.
  EXPECT_EQ(width_of("3d0124"), 20);
  EXPECT_EQ(width_of("c00201"
                     "2a"),
            20);
  EXPECT_EQ(width_of("ff0524000002"
                     "01"),
            20);  // HE without room for its 6 GHz information
  EXPECT_EQ(width_of("ff0824000002"
                     "01fcff"
                     "05"),
            20);                                // 6 GHz information cut short
  EXPECT_EQ(width_of("ff066a0144444444"), 20);  // EHT information announced, control missing
  EXPECT_EQ(width_of("ff00"), 20);              // an extension element without its ID
  // A length that runs past the end ends the walk: nothing after it is read, nothing before
  // it is lost.
  std::string cut = ht("05");
  EXPECT_EQ(width_of(cut.substr(0, cut.size() - 2)), 20);
  EXPECT_EQ(width_of(ht("05") + "c0ff01"), 40);
  EXPECT_EQ(width_of("c0" + std::string("ff") + vht("01", "2a", "32")), 20);
  EXPECT_EQ(width_of("3d"), 20);  // a lone byte: no element at all, but elements were sent
}

// The generation label: capability elements (HT 45, VHT 191, HE and EHT extensions 35 and 108)
// and rates (1, 50; ff is a selector), the adapter's capabilities on the band, the rate family.
TEST(PhyLabel, ElementsAdapterAndRatesGiveTheGeneration) {
  const std::string kHtCaps = "2d1a" + std::string(52, '0'),
                    kVhtCaps = "bf0c" + std::string(24, '0');
  const std::string kHeCaps = "ff0323" + std::string(4, '0'), kEhtCaps = "ff036c0000";
  const std::string kDsss = "010482848b96", kOfdm = "01088c129824b048606c";
  struct Row {
    std::string ies;
    uint8_t adapter;
    int32_t freq, rate;
    const char* want;
  } rows[] = {
      {kOfdm + kHtCaps + kVhtCaps + kHeCaps + kEhtCaps, kPhyAllCaps, 5180, kRateLegacy, "802.11be"},
      {kOfdm + kHtCaps + kVhtCaps + kHeCaps + kEhtCaps, kPhyAllCaps & ~kPhyEht, 5180, 0,
       "802.11ax"},
      {kOfdm + kHeCaps, kPhyHe, 5975, kRateLegacy, "802.11ax"},
      {"", kPhyAllCaps, 5935, kRateLegacy, "802.11ax"},  // 6 GHz is HE at least
      {kDsss + kHtCaps + kHeCaps, kPhyAllCaps, 2437, kRateLegacy, "802.11ax"},
      {kOfdm + kHtCaps + kVhtCaps, kPhyAllCaps, 5180, kRateLegacy, "802.11ac"},
      {kOfdm + kHtCaps + kVhtCaps, kPhyHt, 5180, kRateLegacy, "802.11n"},
      {kOfdm + kHtCaps + kVhtCaps, kPhyAllCaps, 2412, kRateLegacy, "802.11n"},  // no VHT on 2.4
      {kOfdm + kHtCaps, kPhyAllCaps, 2462, kRateLegacy, "802.11n"},
      {kOfdm + kHtCaps, kPhyAllCaps, 2462, kRateHe, "802.11ax"},  // the rate raises it
      {kOfdm + kHtCaps, 0, 5745, kRateLegacy, "802.11a"},
      {kOfdm, kPhyAllCaps, 2412, kRateLegacy, "802.11g"},
      {kDsss + "32040c121824" + kHtCaps, 0, 2412, kRateLegacy, "802.11g"},
      {kDsss + "0101ff", kPhyAllCaps, 2412, kRateLegacy, "802.11b"},
      {"", kPhyAllCaps, 5180, kRateVht, "802.11ac"},
      {"", kPhyAllCaps, 5180, kRateLegacy, ""},
      {kOfdm + kHtCaps, kPhyAllCaps, 0, kRateLegacy, "802.11n"},
      {kOfdm, kPhyAllCaps, 0, kRateLegacy, ""},
  };
  for (const Row& row : rows) {
    Bytes ies = from_hex(row.ies);
    EXPECT_STREQ(
        phy_label(phy_caps_from_ies(ies.data(), ies.size()), row.adapter, row.freq, row.rate),
        row.want)
        << row.ies << " " << row.freq;
  }
}

}  // namespace
