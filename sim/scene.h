#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "nl_writer.h"

// A WiFi world for the stand-in kernel, written as a small line-based text (see sim/README.md):
// the interfaces, the BSS records a scan dump lists, the associated station's statistics and
// how the kernel treats a scan request.

using Mac = std::array<uint8_t, 6>;

// One rate-info nest (a station's transmit or receive rate).
struct SceneRate {
  std::optional<uint32_t> bitrate;  // units of 100 kbit/s
  std::optional<uint8_t> mcs, vht_mcs, vht_nss, he_mcs, he_nss, eht_mcs, eht_nss;
  int width = 20;  // 20, 40, 80, 160, 320, or 8080 for 80+80
  bool short_gi = false;
};

// One link of a multi-link (Wi-Fi 7) interface, listed in NL80211_ATTR_MLO_LINKS.
struct SceneMloLink {
  uint8_t id = 0;                                          // link id, 0..14
  Mac mac{};                                               // the link's own address
  std::optional<uint32_t> freq, width_code, center_freq1;  // absent: a link without a channel
};

struct SceneInterface {
  std::optional<uint32_t> ifindex;  // absent for a wireless device without a netdev (P2P device)
  std::string name;
  uint32_t iftype = 2;  // NL80211_IFTYPE_*
  uint32_t wiphy = 0;
  Mac mac{};
  std::optional<uint32_t> freq, width_code, center_freq1;
  std::optional<Bytes> ssid;
  std::vector<SceneMloLink> mlo_links;  // non-empty: a multi-link interface
};

struct SceneBss {
  std::optional<Mac> bssid;  // bssid=none leaves the attribute out
  std::optional<uint32_t> freq;
  std::optional<int32_t> signal_mbm;
  std::optional<uint8_t> signal_unspec;       // NL80211_BSS_SIGNAL_UNSPEC, a quality 0..100
  std::optional<uint32_t> status;             // NL80211_BSS_STATUS_*
  std::optional<Bytes> beacon_ies;            // NL80211_BSS_BEACON_IES
  std::optional<Bytes> ies;                   // NL80211_BSS_INFORMATION_ELEMENTS (probe response)
  std::optional<uint8_t> mlo_link_id;         // NL80211_BSS_MLO_LINK_ID of an associated link
  std::optional<Mac> mld_addr;                // NL80211_BSS_MLD_ADDR: the AP MLD address
  std::optional<uint32_t> seen_ms_ago = 120;  // NL80211_BSS_SEEN_MS_AGO; seen=none leaves it out
};

struct SceneStation {
  bool present = false;
  std::optional<Mac> mac;         // default: the BSSID of the first associated BSS
  std::optional<int> signal_dbm;  // absent: the reply carries no signal
  std::optional<int> signal_avg_dbm, beacon_signal_avg_dbm;  // absent: not in the reply
  std::vector<int> chain_signal_dbm;                         // one per receive chain; none: absent
  int swing_db = 0;  // the signal moves by up to this much over `period_ms` (never through 0)
  int period_ms = 8000;
  std::optional<SceneRate> tx, rx;
};

// One channel of the survey dump (NL80211_CMD_GET_SURVEY), in dump order.
struct SceneSurvey {
  uint32_t freq = 0;
  std::optional<int> noise_dbm;  // absent: the entry carries no noise figure
  bool in_use = false;           // the channel the radio is on
};

// Station figures the kernel gives for one link of a multi-link association.
struct SceneStationLink {
  uint8_t id = 0;
  Mac mac{};  // the AP link's address
  std::optional<int> signal_dbm;
  std::optional<SceneRate> tx, rx;
};

// The multi-link side of the station reply. A station whose address is an AP MLD address (that of
// an associated BSS with `mld`) is a multi-link one: its reply names the link in use and the MLD.
struct SceneMloStation {
  std::optional<uint8_t> link_id;       // default: the lowest link id of the associated BSS records
  std::vector<SceneStationLink> links;  // per-link figures; none: the reply has MLD figures only
};

// The adapter's bands and what it supports on them for a station (NL80211_CMD_GET_WIPHY).
struct SceneWiphy {
  bool band_2g = true, band_5g = true, band_6g = true;
  bool ht = true, vht = true, he = true, eht = true;
};

// What a request of one kind meets instead of its normal answer.
struct SceneFault {
  bool silent = false;   // no reply at all: the exchange times out
  int32_t error = 0;     // otherwise the kernel's error code (0: the normal answer)
  int32_t delay_ms = 0;  // and that answer comes this late
};

// How a scan ends: NL80211_CMD_NEW_SCAN_RESULTS, NL80211_CMD_SCAN_ABORTED, no notification, or
// an overflow of the event socket where the end would be.
enum class SceneScanEnd { kResults, kAborted, kNever, kLost };

// A timed change of the station's association, with the notifications the kernel sends for it.
enum class SceneChangeKind { kRoam, kDisconnect, kConnect, kReplug };
struct SceneChange {
  SceneChangeKind kind = SceneChangeKind::kRoam;
  uint64_t at_ms = 0;        // since the stand-in began serving the scene
  Mac bssid{};               // the BSS it moves to (roam, connect); one of the scene's records
  bool firmware = false;     // roam: one NL80211_CMD_ROAM, as drivers that roam in firmware send
  uint64_t gap_ms = 50;      // roam as mac80211 does it: on none this long between the two; replug:
                             // how long the interface is away
  bool local = false;        // disconnect: the station left (else the access point went away)
  uint32_t new_ifindex = 0;  // replug: the index the interface comes back with (0: the old + 10)
};

// Whether the association's notifications reach the helper: `off` makes joining the "mlme" and
// "config" groups fail; `lost` replaces each change's notifications by an overflow (ENOBUFS).
enum class SceneNotify { kOn, kOff, kLost };

struct Scene {
  std::string name = "unnamed";
  bool family_present = true;  // false: resolving "nl80211" fails with ENOENT
  uint16_t family_id = 32;
  uint32_t scan_group = 10;    // id of the "scan" multicast group; 0: the reply lists none
  int32_t trigger_result = 0;  // 0 accepts the scan request, -EPERM refuses it
  int scan_wait_ms = 4000;     // how long a scan runs (accepted, or busy) before its notification
  SceneScanEnd scan_end = SceneScanEnd::kResults;
  std::vector<SceneInterface> interfaces;
  std::vector<SceneBss> bss;
  SceneStation station;
  std::vector<SceneSurvey> survey;
  SceneMloStation mlo_station;
  SceneWiphy wiphy;
  std::map<std::string, SceneFault> faults;  // by request: family, interfaces, scan-trigger, ...
  std::vector<SceneChange> changes;          // in time order
  SceneNotify notify = SceneNotify::kOn;
};

// Parses a scene text into *scene (which should be default-constructed). False with
// "line N: ..." in *error on the first bad line.
bool parse_scene(std::string_view text, Scene* scene, std::string* error);

// Reads and parses a scene file. False with the reason in *error.
bool load_scene_file(const std::string& path, Scene* scene, std::string* error);

// The built-in demo: a home network and neighbours on 2.4, 5 and 6 GHz, one hidden, one whose
// name holds a double quote, a backslash and bytes that are not UTF-8.
std::string_view demo_scene_text();

// The information elements the scene writes for a BSS given only a name: SSID, supported rates,
// DS parameter set (2.4 GHz), RSN unless open, and in the beacon a TIM. Exposed for tests.
Bytes synthesized_ies(const Bytes& ssid, uint32_t freq, std::string_view security, bool beacon);
