#include "scene.h"

#include <linux/nl80211.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "scene_width.h"

namespace {

// One scene line split into its directive, key=value fields and bare words. Handlers take what
// they know; anything left over is an error.
struct Line {
  int number = 0;
  std::string directive;
  std::vector<std::pair<std::string, std::string>> fields;  // bare words have no '=' and value ""
  std::vector<bool> used;
  std::string rest;  // everything after the directive, for free text
  std::string error;

  bool has_error() const { return !error.empty(); }
  void fail(const std::string& why) {
    if (error.empty()) error = "line " + std::to_string(number) + ": " + why;
  }

  std::optional<std::string> take(const std::string& key) {
    for (size_t i = 0; i < fields.size(); ++i) {
      if (!used[i] && fields[i].first == key + "=") {
        used[i] = true;
        return fields[i].second;
      }
    }
    return std::nullopt;
  }
  bool flag(const std::string& word) {
    for (size_t i = 0; i < fields.size(); ++i) {
      if (!used[i] && fields[i].first == word) {
        used[i] = true;
        return true;
      }
    }
    return false;
  }
  void check_all_used() {
    for (size_t i = 0; i < fields.size(); ++i) {
      if (!used[i]) {
        fail("unknown field '" + fields[i].first + fields[i].second + "' for " + directive);
        return;
      }
    }
  }
};

Line split_line(std::string_view text, int number) {
  Line line;
  line.number = number;
  std::istringstream in{std::string(text)};
  in >> line.directive;
  std::getline(in >> std::ws, line.rest);
  while (!line.rest.empty() &&
         (line.rest.back() == ' ' || line.rest.back() == '\t' || line.rest.back() == '\r')) {
    line.rest.pop_back();
  }
  std::istringstream words{line.rest};
  std::string word;
  while (words >> word) {
    size_t eq = word.find('=');
    if (eq == std::string::npos) {
      line.fields.emplace_back(word, "");
    } else {
      line.fields.emplace_back(word.substr(0, eq + 1), word.substr(eq + 1));
    }
    line.used.push_back(false);
  }
  return line;
}

bool parse_number(const std::string& text, int64_t low, int64_t high, int64_t* out) {
  int64_t value = 0;
  const char* end = text.data() + text.size();
  auto [at, failure] = std::from_chars(text.data(), end, value);
  if (failure != std::errc() || at != end || value < low || value > high) return false;
  *out = value;
  return true;
}

template <typename T>
void take_number(Line& line, const std::string& key, int64_t low, int64_t high,
                 std::optional<T>* out) {
  std::optional<std::string> text = line.take(key);
  if (!text) return;
  int64_t value = 0;
  if (!parse_number(*text, low, high, &value)) {
    line.fail("bad " + key + " '" + *text + "' (expected " + std::to_string(low) + ".." +
              std::to_string(high) + ")");
    return;
  }
  *out = static_cast<T>(value);
}

template <typename T>
void take_number(Line& line, const std::string& key, int64_t low, int64_t high, T* out) {
  std::optional<T> value;
  take_number(line, key, low, high, &value);
  if (value) *out = *value;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool parse_hex(const std::string& text, Bytes* out) {
  if (text.size() % 2 != 0) return false;
  out->clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    int high = hex_digit(text[i]);
    int low = hex_digit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    out->push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return true;
}

bool parse_mac(const std::string& text, Mac* out) {
  if (text.size() != 17) return false;
  for (size_t i = 0; i < 6; ++i) {
    int high = hex_digit(text[i * 3]);
    int low = hex_digit(text[i * 3 + 1]);
    if (high < 0 || low < 0 || (i < 5 && text[i * 3 + 2] != ':')) return false;
    (*out)[i] = static_cast<uint8_t>(high * 16 + low);
  }
  return true;
}

void take_mac(Line& line, const std::string& key, Mac* out) {
  std::optional<std::string> text = line.take(key);
  if (text && !parse_mac(*text, out)) line.fail("bad " + key + " '" + *text + "'");
}

// ssid=TEXT (no blanks), ssid-hex=HEX or the bare word `hidden` (an empty name).
std::optional<Bytes> take_ssid(Line& line) {
  std::optional<std::string> text = line.take("ssid");
  std::optional<std::string> hex = line.take("ssid-hex");
  bool hidden = line.flag("hidden");
  if (int(text.has_value()) + int(hex.has_value()) + int(hidden) > 1) {
    line.fail("give only one of ssid=, ssid-hex= and hidden");
    return std::nullopt;
  }
  if (text) return Bytes(text->begin(), text->end());
  if (hidden) return Bytes{};
  if (hex) {
    Bytes bytes;
    if (!parse_hex(*hex, &bytes) || bytes.size() > 255) {
      line.fail("bad ssid-hex '" + *hex + "' (hex bytes, up to 255)");
      return std::nullopt;
    }
    return bytes;
  }
  return std::nullopt;
}

struct NamedValue {
  const char* name;
  uint32_t value;
};

constexpr NamedValue kIftypes[] = {{"unspecified", NL80211_IFTYPE_UNSPECIFIED},
                                   {"adhoc", NL80211_IFTYPE_ADHOC},
                                   {"station", NL80211_IFTYPE_STATION},
                                   {"ap", NL80211_IFTYPE_AP},
                                   {"ap-vlan", NL80211_IFTYPE_AP_VLAN},
                                   {"wds", NL80211_IFTYPE_WDS},
                                   {"monitor", NL80211_IFTYPE_MONITOR},
                                   {"mesh", NL80211_IFTYPE_MESH_POINT},
                                   {"p2p-client", NL80211_IFTYPE_P2P_CLIENT},
                                   {"p2p-go", NL80211_IFTYPE_P2P_GO},
                                   {"p2p-device", NL80211_IFTYPE_P2P_DEVICE},
                                   {"ocb", NL80211_IFTYPE_OCB},
                                   {"nan", NL80211_IFTYPE_NAN}};

constexpr NamedValue kStatuses[] = {{"authenticated", NL80211_BSS_STATUS_AUTHENTICATED},
                                    {"associated", NL80211_BSS_STATUS_ASSOCIATED},
                                    {"ibss", NL80211_BSS_STATUS_IBSS_JOINED}};

template <size_t N>
void take_named(Line& line, const std::string& key, const NamedValue (&names)[N],
                std::optional<uint32_t>* out) {
  std::optional<std::string> text = line.take(key);
  if (!text) return;
  for (const NamedValue& named : names) {
    if (*text == named.name) {
      *out = named.value;
      return;
    }
  }
  int64_t value = 0;
  if (parse_number(*text, 0, UINT32_MAX, &value)) {
    *out = static_cast<uint32_t>(value);
  } else {
    line.fail("bad " + key + " '" + *text + "'");
  }
}

constexpr uint8_t kSsidElement = 0;
constexpr uint8_t kRatesElement = 1;
constexpr uint8_t kDsElement = 3;
constexpr uint8_t kTimElement = 5;
constexpr uint8_t kRsnElement = 48;
constexpr uint8_t kVendorElement = 221;

void add_element(Bytes& ies, uint8_t id, const Bytes& body) {
  ies.push_back(id);
  ies.push_back(static_cast<uint8_t>(body.size()));
  ies.insert(ies.end(), body.begin(), body.end());
}

int channel_of(uint32_t freq) {
  if (freq == 2484) return 14;
  if (freq >= 2412 && freq <= 2483) return (static_cast<int>(freq) - 2407) / 5;
  if (freq >= 5150 && freq <= 5925) return (static_cast<int>(freq) - 5000) / 5;
  if (freq >= 5955 && freq <= 7125) return (static_cast<int>(freq) - 5950) / 5;
  return 0;
}

// Vendor-specific elements of exactly `size` bytes in all (no element is shorter than 2 bytes,
// so 1 is impossible).
std::optional<Bytes> padding_of(size_t size) {
  if (size == 1) return std::nullopt;
  Bytes padding;
  uint8_t filler = 0;
  while (padding.size() < size) {
    size_t room = size - padding.size();
    // An element is 2..257 bytes; never leave a single byte that no element can fill.
    size_t element = room <= 257 ? room : (room - 257 == 1 ? 255 : 257);
    Bytes body(element - 2);
    static constexpr uint8_t kHead[] = {0x02, 0x00, 0x00, 0x01};  // local OUI and a type byte
    for (size_t i = 0; i < body.size(); ++i) body[i] = i < 4 ? kHead[i] : filler++;
    add_element(padding, kVendorElement, body);
  }
  return padding;
}

// Builds the beacon and probe-response elements of a BSS that names only its SSID; with
// ie-bytes the beacon's elements are padded to exactly that size (the probe response lacks the
// TIM element, so it is 6 bytes shorter, as with real access points).
void fill_ies(Line& line, SceneBss* bss, const Bytes& ssid, std::string_view security,
              std::optional<uint32_t> ie_bytes, std::optional<uint32_t> width = std::nullopt) {
  uint32_t freq = bss->freq.value_or(2412);
  Bytes beacon = synthesized_ies(ssid, freq, security, true);
  Bytes probe = synthesized_ies(ssid, freq, security, false);
  if (width) {
    std::optional<Bytes> elements = width_elements(freq, static_cast<int>(*width));
    if (!elements) {
      line.fail("width=" + std::to_string(*width) + " does not exist at " + std::to_string(freq) +
                " MHz (2.4 GHz: 20, 40; 5 GHz: 20 to 160; 6 GHz: 20 to 320)");
      return;
    }
    beacon.insert(beacon.end(), elements->begin(), elements->end());
    probe.insert(probe.end(), elements->begin(), elements->end());
  }
  if (ie_bytes) {
    std::optional<Bytes> padding;
    if (*ie_bytes >= beacon.size()) padding = padding_of(*ie_bytes - beacon.size());
    if (!padding) {
      line.fail("ie-bytes=" + std::to_string(*ie_bytes) + " cannot hold the elements (at least " +
                std::to_string(beacon.size()) + ", and not one more)");
      return;
    }
    beacon.insert(beacon.end(), padding->begin(), padding->end());
    probe.insert(probe.end(), padding->begin(), padding->end());
  }
  if (!bss->beacon_ies) bss->beacon_ies = beacon;
  if (!bss->ies) bss->ies = probe;
}

bool take_security(Line& line, std::string* security) {
  std::optional<std::string> text = line.take("security");
  if (!text) return true;
  if (*text != "open" && *text != "wpa2" && *text != "wpa3") {
    line.fail("bad security '" + *text + "' (open, wpa2 or wpa3)");
    return false;
  }
  *security = *text;
  return true;
}

// beacon-ies= / ies=: hex bytes, or `none` for no such attribute.
void take_ies(Line& line, const std::string& key, std::optional<Bytes>* out, bool* none) {
  std::optional<std::string> text = line.take(key);
  if (!text) return;
  if (*text == "none") {
    *none = true;
    return;
  }
  Bytes bytes;
  if (!parse_hex(*text, &bytes) || bytes.size() > 65000) {
    line.fail("bad " + key + " (hex bytes, or none)");
    return;
  }
  *out = bytes;
}

void parse_bss(Line& line, Scene* scene) {
  SceneBss bss;
  std::optional<std::string> bssid = line.take("bssid");
  if (!bssid) {
    bss.bssid = Mac{0x02, 0x00, 0x00, 0x00, static_cast<uint8_t>(scene->bss.size()), 0x00};
  } else if (*bssid != "none") {
    Mac mac{};
    if (parse_mac(*bssid, &mac)) {
      bss.bssid = mac;
    } else {
      line.fail("bad bssid '" + *bssid + "'");
    }
  }
  take_number(line, "freq", 0, UINT32_MAX, &bss.freq);
  take_number(line, "signal", INT32_MIN, INT32_MAX, &bss.signal_mbm);
  take_number(line, "signal-unspec", 0, 255, &bss.signal_unspec);
  take_named(line, "status", kStatuses, &bss.status);
  std::optional<Bytes> ssid = take_ssid(line);
  std::string security = "wpa2";
  take_security(line, &security);
  std::optional<uint32_t> ie_bytes;
  take_number(line, "ie-bytes", 0, 65000, &ie_bytes);
  bool no_beacon = false;
  bool no_probe = false;
  take_ies(line, "beacon-ies", &bss.beacon_ies, &no_beacon);
  take_ies(line, "ies", &bss.ies, &no_probe);
  std::optional<uint32_t> width;
  take_number(line, "width", 20, 320, &width);
  if (std::optional<std::string> seen = line.take("seen")) {
    int64_t ms = 0;
    if (*seen == "none") {
      bss.seen_ms_ago.reset();
    } else if (parse_number(*seen, 0, UINT32_MAX, &ms)) {
      bss.seen_ms_ago = static_cast<uint32_t>(ms);
    } else {
      line.fail("bad seen '" + *seen + "' (milliseconds, or none)");
    }
  }
  line.check_all_used();
  if (line.has_error()) return;
  if (width && bss.beacon_ies && bss.ies) {
    line.fail(
        "width= adds elements to those built from the name; give the width's elements in "
        "beacon-ies= / ies= instead");
    return;
  }
  if (!bss.beacon_ies || !bss.ies) {
    fill_ies(line, &bss, ssid.value_or(Bytes{}), security, ie_bytes, width);
  }
  if (no_beacon) bss.beacon_ies.reset();
  if (no_probe) bss.ies.reset();
  scene->bss.push_back(bss);
}

void parse_generate(Line& line, Scene* scene) {
  static constexpr uint32_t kFrequencies[] = {2412, 2437, 2462, 5180, 5240, 5500,
                                              5745, 5955, 6115, 2422, 5320, 6435};
  uint32_t count = 0;
  take_number(line, "count", 0, 10000, &count);
  std::optional<uint32_t> ie_bytes;
  take_number(line, "ie-bytes", 0, 65000, &ie_bytes);
  int32_t signal = -4500;
  int32_t step = 50;
  take_number(line, "signal-start", -20000, 0, &signal);
  take_number(line, "signal-step", 0, 10000, &step);
  std::string prefix = line.take("ssid-prefix").value_or("Neighbour-");
  std::string security = "wpa2";
  take_security(line, &security);
  line.check_all_used();
  for (uint32_t i = 0; i < count && !line.has_error(); ++i) {
    SceneBss bss;
    bss.bssid = Mac{0x0a, 0x00, 0x00, 0x01, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
    bss.freq = kFrequencies[i % std::size(kFrequencies)];
    bss.signal_mbm = signal - static_cast<int32_t>(i) * step;
    char name[33];
    std::snprintf(name, sizeof name, "%s%03u", prefix.c_str(), i + 1);
    std::string text = name;
    fill_ies(line, &bss, Bytes(text.begin(), text.end()), security, ie_bytes);
    scene->bss.push_back(bss);
  }
}

void parse_interface(Line& line, Scene* scene) {
  SceneInterface iface;
  iface.wiphy = static_cast<uint32_t>(scene->interfaces.size());
  take_number(line, "ifindex", 0, INT32_MAX, &iface.ifindex);
  iface.name =
      line.take("name").value_or(iface.ifindex ? "wlan" + std::to_string(iface.wiphy) : "");
  std::optional<uint32_t> iftype;
  take_named(line, "type", kIftypes, &iftype);
  iface.iftype = iftype.value_or(NL80211_IFTYPE_STATION);
  take_number(line, "wiphy", 0, UINT32_MAX, &iface.wiphy);
  iface.mac = {0x02, 0x00, 0x00, 0x00, static_cast<uint8_t>(iface.wiphy), 0x00};
  take_mac(line, "mac", &iface.mac);
  take_number(line, "freq", 0, UINT32_MAX, &iface.freq);
  take_number(line, "width", 0, UINT32_MAX, &iface.width_code);
  take_number(line, "cf1", 0, UINT32_MAX, &iface.center_freq1);
  iface.ssid = take_ssid(line);
  line.check_all_used();
  if (!line.has_error()) scene->interfaces.push_back(iface);
}

std::optional<SceneRate> take_rate(Line& line, const std::string& prefix) {
  SceneRate rate;
  take_number(line, prefix + "bitrate", 0, UINT32_MAX, &rate.bitrate);
  take_number(line, prefix + "mcs", 0, 255, &rate.mcs);
  take_number(line, prefix + "vht-mcs", 0, 255, &rate.vht_mcs);
  take_number(line, prefix + "vht-nss", 0, 255, &rate.vht_nss);
  take_number(line, prefix + "he-mcs", 0, 255, &rate.he_mcs);
  take_number(line, prefix + "he-nss", 0, 255, &rate.he_nss);
  take_number(line, prefix + "eht-mcs", 0, 255, &rate.eht_mcs);
  take_number(line, prefix + "eht-nss", 0, 255, &rate.eht_nss);
  bool any = rate.bitrate || rate.mcs || rate.vht_mcs || rate.vht_nss || rate.he_mcs ||
             rate.he_nss || rate.eht_mcs || rate.eht_nss;
  if (std::optional<std::string> width = line.take(prefix + "width")) {
    any = true;
    if (*width == "80p80") {
      rate.width = 8080;
    } else if (*width == "20" || *width == "40" || *width == "80" || *width == "160" ||
               *width == "320") {
      rate.width = std::stoi(*width);
    } else {
      line.fail("bad " + prefix + "width '" + *width + "' (20, 40, 80, 80p80, 160 or 320)");
    }
  }
  if (line.flag(prefix + "sgi")) {
    rate.short_gi = true;
    any = true;
  }
  if (!any) return std::nullopt;
  return rate;
}

// chain-signal=dBm[,dBm...]: one s8 figure per receive chain, at most four (IEEE80211_MAX_CHAINS).
void take_chain_signal(Line& line, std::vector<int>* out) {
  std::optional<std::string> text = line.take("chain-signal");
  if (!text) return;
  std::string_view rest = *text;
  for (;;) {
    size_t comma = rest.find(',');
    int64_t dbm = 0;
    if (out->size() == 4 || !parse_number(std::string(rest.substr(0, comma)), -128, 127, &dbm)) {
      line.fail("bad chain-signal '" + *text + "' (one to four dBm values -128..127, by commas)");
      return;
    }
    out->push_back(static_cast<int>(dbm));
    if (comma == std::string_view::npos) return;
    rest.remove_prefix(comma + 1);
  }
}

void parse_station(Line& line, Scene* scene) {
  SceneStation& station = scene->station;
  station = SceneStation{};  // a later station line replaces an earlier one
  station.present = true;
  std::optional<std::string> mac_text = line.take("mac");
  if (mac_text) {
    Mac mac{};
    if (parse_mac(*mac_text, &mac)) {
      station.mac = mac;
    } else {
      line.fail("bad mac '" + *mac_text + "'");
    }
  }
  take_number(line, "signal", -128, 127, &station.signal_dbm);
  take_number(line, "signal-avg", -128, 127, &station.signal_avg_dbm);
  take_number(line, "beacon-signal-avg", -128, 127, &station.beacon_signal_avg_dbm);
  take_chain_signal(line, &station.chain_signal_dbm);
  take_number(line, "swing", 0, 100, &station.swing_db);
  take_number(line, "period-ms", 1, 3600000, &station.period_ms);
  station.tx = take_rate(line, "tx-");
  station.rx = take_rate(line, "rx-");
  line.check_all_used();
}

// mlo-link: one link of the interface on the line before.
void parse_mlo_link(Line& line, Scene* scene) {
  if (scene->interfaces.empty()) {
    line.fail("mlo-link needs an interface line before it");
    return;
  }
  SceneInterface& iface = scene->interfaces.back();
  SceneMloLink link;
  take_number(line, "id", 0, 14, &link.id);
  link.mac = {0x02,
              0x00,
              0x00,
              0x00,
              static_cast<uint8_t>(iface.wiphy),
              static_cast<uint8_t>(0x10 + link.id)};
  take_mac(line, "mac", &link.mac);
  take_number(line, "freq", 0, UINT32_MAX, &link.freq);
  take_number(line, "width", 0, UINT32_MAX, &link.width_code);
  take_number(line, "cf1", 0, UINT32_MAX, &link.center_freq1);
  line.check_all_used();
  for (const SceneMloLink& other : iface.mlo_links) {
    if (other.id == link.id) line.fail("mlo-link id=" + std::to_string(link.id) + " given twice");
  }
  if (!line.has_error()) iface.mlo_links.push_back(link);
}

// mlo-bss: the BSS on the line before is a link of an AP MLD.
void parse_mlo_bss(Line& line, Scene* scene) {
  if (scene->bss.empty()) {
    line.fail("mlo-bss needs a bss line before it");
    return;
  }
  SceneBss& bss = scene->bss.back();
  take_number(line, "link", 0, 14, &bss.mlo_link_id);
  Mac mld{};
  std::optional<std::string> text = line.take("mld");
  if (!text || !parse_mac(*text, &mld)) {
    line.fail("mlo-bss needs mld=MAC");
    return;
  }
  bss.mld_addr = mld;
  line.check_all_used();
}

// mlo-station: the link in use, named by the station reply.
void parse_mlo_station(Line& line, Scene* scene) {
  take_number(line, "link", 0, 14, &scene->mlo_station.link_id);
  line.check_all_used();
}

// mlo-station-link: station figures of one link.
void parse_mlo_station_link(Line& line, Scene* scene) {
  SceneStationLink link;
  take_number(line, "id", 0, 14, &link.id);
  link.mac = {0x02, 0x00, 0x00, 0x00, 0x00, static_cast<uint8_t>(0x10 + link.id)};
  take_mac(line, "mac", &link.mac);
  take_number(line, "signal", -128, 127, &link.signal_dbm);
  link.tx = take_rate(line, "tx-");
  link.rx = take_rate(line, "rx-");
  line.check_all_used();
  if (!line.has_error()) scene->mlo_station.links.push_back(link);
}

const char* const kRequestNames[] = {"family",  "interfaces", "scan-trigger", "scan-dump",
                                     "station", "survey",     "wiphy"};

void parse_fault(Line& line, Scene* scene) {
  std::optional<std::string> request = line.take("request");
  bool known = false;
  for (const char* name : kRequestNames) known = known || (request && *request == name);
  if (!known) {
    line.fail("fault needs request=family|interfaces|scan-trigger|scan-dump|station|survey");
    return;
  }
  SceneFault fault;
  fault.silent = line.flag("silent");
  take_number(line, "error", -4095, -1, &fault.error);
  take_number(line, "delay-ms", 1, 600000, &fault.delay_ms);
  if (fault.silent == (fault.error != 0 || fault.delay_ms != 0)) {
    line.fail("fault needs silent, or error=-N and/or delay-ms=N");
  }
  line.check_all_used();
  if (!line.has_error()) scene->faults[*request] = fault;
}

// wiphy bands=2g,5g,6g caps=ht,vht,he,eht: the adapter's bands and capabilities (each list given
// names all there are; default all).
void parse_wiphy(Line& line, Scene* scene) {
  SceneWiphy& w = scene->wiphy;
  const std::pair<const char*, bool*> words[] = {
      {"2g", &w.band_2g}, {"5g", &w.band_5g}, {"6g", &w.band_6g}, {"ht", &w.ht},
      {"vht", &w.vht},    {"he", &w.he},      {"eht", &w.eht}};
  for (const auto& [key, first] : {std::pair{"bands", 0}, std::pair{"caps", 3}}) {
    std::optional<std::string> list = line.take(key);
    if (!list) continue;
    for (int i = first; i < first + 3 + first / 3; ++i) *words[i].second = false;
    std::istringstream in(*list);
    for (std::string word; std::getline(in, word, ',');) {
      bool* flag = nullptr;
      for (int i = first; i < first + 3 + first / 3; ++i) {
        if (word == words[i].first) flag = words[i].second;
      }
      if (flag == nullptr) line.fail(std::string("bad ") + key + " '" + word + "'");
      if (flag != nullptr) *flag = true;
    }
  }
  line.check_all_used();
}

// survey freq=MHz [noise=dBm] [in-use]: one channel of the survey dump.
void parse_survey(Line& line, Scene* scene) {
  SceneSurvey survey;
  std::optional<uint32_t> freq;
  take_number(line, "freq", 1, UINT32_MAX, &freq);
  if (!freq) line.fail("survey needs freq=MHz");
  survey.freq = freq.value_or(0);
  take_number(line, "noise", -128, 127, &survey.noise_dbm);
  survey.in_use = line.flag("in-use");
  line.check_all_used();
  if (!line.has_error()) scene->survey.push_back(survey);
}

void parse_family(Line& line, Scene* scene) {
  if (line.flag("absent")) {
    scene->family_present = false;
  } else {
    take_number(line, "id", 17, 65535, &scene->family_id);
    if (line.flag("no-scan-group")) scene->scan_group = 0;
    take_number(line, "scan-group", 1, 65535, &scene->scan_group);
  }
  line.check_all_used();
}

// roam at=MS bssid=MAC [firmware] [gap-ms=N] / connect at=MS bssid=MAC / disconnect at=MS
// [local] / replug at=MS [ifindex=N] [gap-ms=N]: a change of the association at a given time.
void parse_change(Line& line, Scene* scene, SceneChangeKind kind) {
  SceneChange change;
  change.kind = kind;
  std::optional<uint64_t> at;
  take_number(line, "at", 0, 86400000, &at);
  if (!at) line.fail(line.directive + " needs at=MS");
  change.at_ms = at.value_or(0);
  if (!scene->changes.empty() && change.at_ms < scene->changes.back().at_ms) {
    line.fail("changes must come in time order");
  }
  if (kind == SceneChangeKind::kDisconnect) {
    change.local = line.flag("local");
  } else if (kind == SceneChangeKind::kReplug) {
    take_number(line, "ifindex", 1, INT32_MAX, &change.new_ifindex);
    take_number(line, "gap-ms", 0, 60000, &change.gap_ms);
  } else {
    std::optional<std::string> bssid = line.take("bssid");
    bool named = false;
    if (bssid && parse_mac(*bssid, &change.bssid)) {
      for (const SceneBss& bss : scene->bss) named = named || bss.bssid == change.bssid;
    }
    if (!named) line.fail(line.directive + " needs bssid= of a bss on a line before it");
  }
  if (kind == SceneChangeKind::kRoam) {
    change.firmware = line.flag("firmware");
    take_number(line, "gap-ms", 0, 60000, &change.gap_ms);
  }
  line.check_all_used();
  if (!line.has_error()) scene->changes.push_back(change);
}

void parse_notify(Line& line, Scene* scene) {
  if (line.flag("on")) {
    scene->notify = SceneNotify::kOn;
  } else if (line.flag("off")) {
    scene->notify = SceneNotify::kOff;
  } else if (line.flag("lost")) {
    scene->notify = SceneNotify::kLost;
  } else {
    line.fail("notify needs on, off or lost");
  }
  line.check_all_used();
}

void parse_trigger(Line& line, Scene* scene) {
  if (line.flag("accept")) {
    scene->trigger_result = 0;
  } else if (line.flag("refuse")) {
    scene->trigger_result = -EPERM;
  } else if (line.flag("busy")) {
    scene->trigger_result = -EBUSY;
  } else {
    take_number(line, "error", -4095, -1, &scene->trigger_result);
  }
  line.check_all_used();
}

void parse_scan_wait(Line& line, Scene* scene) {
  int64_t ms = 0;
  if (!parse_number(line.rest, 0, 600000, &ms)) {
    line.fail("scan-wait-ms needs a number of milliseconds");
    return;
  }
  scene->scan_wait_ms = static_cast<int>(ms);
}

void parse_scan_end(Line& line, Scene* scene) {
  if (line.flag("results")) {
    scene->scan_end = SceneScanEnd::kResults;
  } else if (line.flag("aborted")) {
    scene->scan_end = SceneScanEnd::kAborted;
  } else if (line.flag("never")) {
    scene->scan_end = SceneScanEnd::kNever;
  } else if (line.flag("lost")) {
    scene->scan_end = SceneScanEnd::kLost;
  } else {
    line.fail("scan-end needs results, aborted, never or lost");
  }
  line.check_all_used();
}

}  // namespace

Bytes synthesized_ies(const Bytes& ssid, uint32_t freq, std::string_view security, bool beacon) {
  Bytes ies;
  add_element(ies, kSsidElement, ssid);
  bool band_24 = freq < 3000;
  add_element(ies, kRatesElement,
              band_24 ? Bytes{0x82, 0x84, 0x8b, 0x96, 0x0c, 0x12, 0x18, 0x24}
                      : Bytes{0x8c, 0x12, 0x98, 0x24, 0xb0, 0x48, 0x60, 0x6c});
  if (band_24) add_element(ies, kDsElement, {static_cast<uint8_t>(channel_of(freq))});
  if (beacon) add_element(ies, kTimElement, {0x00, 0x01, 0x00, 0x00});
  if (security != "open") {
    uint8_t akm = security == "wpa3" ? 0x08 : 0x02;  // SAE or PSK
    add_element(ies, kRsnElement, {0x01, 0x00, 0x00, 0x0f, 0xac, 0x04, 0x01, 0x00, 0x00, 0x0f,
                                   0xac, 0x04, 0x01, 0x00, 0x00, 0x0f, 0xac, akm,  0x00, 0x00});
  }
  return ies;
}

bool parse_scene(std::string_view text, Scene* scene, std::string* error) {
  int number = 0;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view raw = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    ++number;
    std::string content(raw.substr(0, raw.find('#')));
    if (content.find_first_not_of(" \t\r") == std::string::npos) continue;
    Line line = split_line(content, number);
    const std::string& d = line.directive;
    if (d == "name") {
      scene->name = line.rest;
    } else if (d == "family") {
      parse_family(line, scene);
    } else if (d == "trigger") {
      parse_trigger(line, scene);
    } else if (d == "scan-wait-ms") {
      parse_scan_wait(line, scene);
    } else if (d == "scan-end") {
      parse_scan_end(line, scene);
    } else if (d == "interface") {
      parse_interface(line, scene);
    } else if (d == "bss") {
      parse_bss(line, scene);
    } else if (d == "generate") {
      parse_generate(line, scene);
    } else if (d == "station") {
      parse_station(line, scene);
    } else if (d == "fault") {
      parse_fault(line, scene);
    } else if (d == "mlo-link") {
      parse_mlo_link(line, scene);
    } else if (d == "mlo-bss") {
      parse_mlo_bss(line, scene);
    } else if (d == "mlo-station") {
      parse_mlo_station(line, scene);
    } else if (d == "mlo-station-link") {
      parse_mlo_station_link(line, scene);
    } else if (d == "survey") {
      parse_survey(line, scene);
    } else if (d == "wiphy") {
      parse_wiphy(line, scene);
    } else if (d == "roam") {
      parse_change(line, scene, SceneChangeKind::kRoam);
    } else if (d == "disconnect") {
      parse_change(line, scene, SceneChangeKind::kDisconnect);
    } else if (d == "connect") {
      parse_change(line, scene, SceneChangeKind::kConnect);
    } else if (d == "replug") {
      parse_change(line, scene, SceneChangeKind::kReplug);
    } else if (d == "notify") {
      parse_notify(line, scene);
    } else {
      line.fail("unknown directive '" + d + "'");
    }
    if (line.has_error()) {
      *error = line.error;
      return false;
    }
  }
  return true;
}

bool load_scene_file(const std::string& path, Scene* scene, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read " + path;
    return false;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!parse_scene(text, scene, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

std::string_view demo_scene_text() {
  return R"(# Built-in demo: a home network on 5 GHz and its neighbours.
name demo
family id=32
trigger accept
interface type=p2p-device wiphy=0
interface ifindex=3 name=wlan0 type=station wiphy=0 freq=5180 width=3 cf1=5210 ssid=Tamberline-Home
bss bssid=3c:84:6a:12:34:56 freq=5180 signal=-5200 status=associated ssid=Tamberline-Home security=wpa3 width=80
bss bssid=3c:84:6a:12:34:57 freq=2437 signal=-4700 ssid=Tamberline-Home security=wpa3 width=20
bss bssid=f4:92:bf:01:02:03 freq=2412 signal=-6400 ssid=Nachbar_2G width=40
bss bssid=b0:be:76:aa:bb:cc freq=2462 signal=-7800 hidden
bss bssid=b0:be:76:aa:bb:cd freq=2462 signal=-7800 ssid=Cafe-Guest security=open
bss bssid=ac:84:c6:10:20:30 freq=5500 signal=-6900 ssid=Nachbar-5G width=160
bss bssid=ac:84:c6:10:20:31 freq=5745 signal=-8100 ssid=Praxis_Dr.Weiss width=80
bss bssid=9c:53:22:40:50:60 freq=5975 signal=-6600 ssid=Loft-6E security=wpa3 width=320
# Say "hi" \ then the bytes ff fe, which are not UTF-8.
bss bssid=00:11:22:33:44:55 freq=2422 signal=-8300 ssid-hex=5361792022686922205cfffe
# The channel survey: the noise floor the radio measured on each channel it visited.
survey freq=2412 noise=-96
survey freq=2437 noise=-95
survey freq=2462 noise=-94
survey freq=5180 noise=-91 in-use
survey freq=5500 noise=-93
survey freq=5745 noise=-92
station signal=-52 swing=6 tx-bitrate=8667 tx-vht-mcs=9 tx-vht-nss=2 tx-width=80 tx-sgi rx-bitrate=7800 rx-vht-mcs=8 rx-vht-nss=2 rx-width=80
)";
}
