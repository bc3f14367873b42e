#include "scene_kernel.h"

#include <linux/genetlink.h>
#include <linux/netlink.h>
#include <linux/nl80211.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

constexpr size_t kDumpDatagramLimit = 32768;
constexpr uint32_t kGeneration = 7;

struct Request {
  uint32_t len = 0;
  uint16_t type = 0;
  uint16_t flags = 0;
  uint32_t seq = 0;
  uint8_t cmd = 0;
  std::optional<uint32_t> ifindex;
  std::optional<Mac> mac;
  std::optional<std::string> family_name;
};

// Decodes what the kernel would look at; false for a request it would not answer at all (a
// length that is not the datagram's, or too short for the headers).
bool decode_request(const Bytes& bytes, Request* request) {
  if (bytes.size() < NLMSG_HDRLEN + GENL_HDRLEN) return false;
  std::memcpy(&request->len, bytes.data(), 4);
  std::memcpy(&request->type, bytes.data() + 4, 2);
  std::memcpy(&request->flags, bytes.data() + 6, 2);
  std::memcpy(&request->seq, bytes.data() + 8, 4);
  request->cmd = bytes[16];
  if (request->len != bytes.size()) return false;
  size_t at = NLMSG_HDRLEN + GENL_HDRLEN;
  while (at + NLA_HDRLEN <= bytes.size()) {
    uint16_t len = 0;
    uint16_t type = 0;
    std::memcpy(&len, bytes.data() + at, 2);
    std::memcpy(&type, bytes.data() + at + 2, 2);
    if (len < NLA_HDRLEN || at + len > bytes.size()) break;
    const uint8_t* payload = bytes.data() + at + NLA_HDRLEN;
    size_t size = len - NLA_HDRLEN;
    if (request->type == GENL_ID_CTRL && type == CTRL_ATTR_FAMILY_NAME) {
      request->family_name = std::string(reinterpret_cast<const char*>(payload),
                                         strnlen(reinterpret_cast<const char*>(payload), size));
    } else if (type == NL80211_ATTR_IFINDEX && size >= 4) {
      uint32_t ifindex = 0;
      std::memcpy(&ifindex, payload, 4);
      request->ifindex = ifindex;
    } else if (type == NL80211_ATTR_MAC && size >= 6) {
      Mac mac{};
      std::memcpy(mac.data(), payload, 6);
      request->mac = mac;
    }
    at += NLA_ALIGN(len);
  }
  return true;
}

FakeReply error_reply(int32_t code, const Bytes& request) {
  FakeReply reply;
  reply.datagrams.push_back(error_datagram(code, request));
  return reply;
}

// A dump: messages packed into datagrams as the kernel fills its buffers, then NLMSG_DONE alone.
FakeReply dump_reply(const std::vector<Bytes>& messages, uint32_t seq) {
  FakeReply reply;
  Bytes datagram;
  for (const Bytes& message : messages) {
    if (!datagram.empty() && datagram.size() + message.size() > kDumpDatagramLimit) {
      reply.datagrams.push_back(datagram);
      datagram.clear();
    }
    datagram.insert(datagram.end(), message.begin(), message.end());
  }
  if (!datagram.empty()) reply.datagrams.push_back(datagram);
  reply.datagrams.push_back(done_datagram(seq));
  return reply;
}

FakeReply family_reply(const Scene& scene, const Request& request, const Bytes& bytes) {
  if (request.cmd != CTRL_CMD_GETFAMILY) return error_reply(-EOPNOTSUPP, bytes);
  if (!scene.family_present || request.family_name != "nl80211") return error_reply(-ENOENT, bytes);
  NlWriter writer;
  writer.begin_message(GENL_ID_CTRL, 0, request.seq, CTRL_CMD_NEWFAMILY);
  writer.put_string(CTRL_ATTR_FAMILY_NAME, "nl80211");
  writer.put_u16(CTRL_ATTR_FAMILY_ID, scene.family_id);
  writer.put_u32(CTRL_ATTR_VERSION, 1);
  writer.put_u32(CTRL_ATTR_HDRSIZE, 0);
  writer.put_u32(CTRL_ATTR_MAXATTR, NL80211_ATTR_MAX);
  if (scene.scan_group != 0) {
    // nl80211's groups in the kernel's order, numbered around the scene's "scan" id.
    static constexpr const char* kGroups[] = {"config", "scan", "regulatory", "mlme",
                                              "vendor", "nan",  "testmode"};
    writer.begin_nest(CTRL_ATTR_MCAST_GROUPS);
    for (uint16_t i = 0; i < 7; ++i) {
      writer.begin_nest(static_cast<uint16_t>(i + 1));
      writer.put_u32(CTRL_ATTR_MCAST_GRP_ID, scene.scan_group + i - 1);
      writer.put_string(CTRL_ATTR_MCAST_GRP_NAME, kGroups[i]);
      writer.end_nest();
    }
    writer.end_nest();
  }
  writer.end_message();
  FakeReply reply;
  reply.datagrams.push_back(writer.bytes);
  return reply;
}

const SceneInterface* interface_by_index(const Scene& scene, std::optional<uint32_t> ifindex) {
  for (const SceneInterface& iface : scene.interfaces) {
    if (ifindex && iface.ifindex == ifindex) return &iface;
  }
  return nullptr;
}

// The station interface the scene's changes of association happen on: the first station with a
// network device and a channel, else the first station with a network device.
const SceneInterface* changing_interface(const Scene& scene) {
  const SceneInterface* first = nullptr;
  for (const SceneInterface& iface : scene.interfaces) {
    if (iface.iftype != NL80211_IFTYPE_STATION || !iface.ifindex) continue;
    if (iface.freq) return &iface;
    if (first == nullptr) first = &iface;
  }
  return first;
}

// Where the station is at scene time `now_ms`: `changed` once a change took effect, and then the
// BSS record it is associated with (none while disconnected); after a replug the index its
// interface came back with, and whether it is still away.
struct SceneNow {
  bool changed = false;
  const SceneBss* bss = nullptr;
  std::optional<uint32_t> ifindex;
  bool absent = false;
};

const SceneBss* bss_by_bssid(const Scene& scene, const Mac& bssid) {
  for (const SceneBss& bss : scene.bss) {
    if (bss.bssid == bssid) return &bss;
  }
  return nullptr;
}

const SceneBss* first_associated(const Scene& scene) {
  for (const SceneBss& bss : scene.bss) {
    if (bss.status == NL80211_BSS_STATUS_ASSOCIATED) return &bss;
  }
  return nullptr;
}

// The index a replug gives the interface back.
uint32_t replugged_index(const SceneChange& change, uint32_t old_index) {
  return change.new_ifindex != 0 ? change.new_ifindex : old_index + 10;
}

SceneNow association_at(const Scene& scene, uint64_t now_ms) {
  SceneNow now;
  const SceneBss* on = first_associated(scene);  // where the station is, or goes back to
  const SceneInterface* iface = changing_interface(scene);
  for (const SceneChange& change : scene.changes) {
    if (change.at_ms > now_ms) break;
    now.changed = true;
    const bool within_gap = now_ms < change.at_ms + change.gap_ms;
    if (change.kind == SceneChangeKind::kDisconnect) {
      on = nullptr;
    } else if (change.kind == SceneChangeKind::kReplug) {
      // The interface goes away and comes back with a new index, associated as before.
      now.ifindex = replugged_index(change, now.ifindex.value_or(iface ? *iface->ifindex : 0));
      now.absent = within_gap;
    } else {
      on = bss_by_bssid(scene, change.bssid);
    }
    // mac80211 roams by leaving and associating anew: on none for the gap in between.
    bool between =
        (change.kind == SceneChangeKind::kRoam && !change.firmware && within_gap) || now.absent;
    now.bss = between ? nullptr : on;
  }
  return now;
}

// The interface a request names at `now_ms`: a replugged interface answers only to its new index,
// and to none while it is away.
const SceneInterface* interface_at(const Scene& scene, std::optional<uint32_t> ifindex,
                                   uint64_t now_ms) {
  const SceneNow now = association_at(scene, now_ms);
  const SceneInterface* changing = changing_interface(scene);
  for (const SceneInterface& iface : scene.interfaces) {
    std::optional<uint32_t> index = iface.ifindex;
    if (&iface == changing && now.ifindex) {
      if (now.absent) continue;
      index = now.ifindex;
    }
    if (ifindex && index == ifindex) return &iface;
  }
  return nullptr;
}

// A multi-link interface's links, as the kernel lists them instead of a top-level channel: one
// nest per link, numbered link id + 1; the channel attributes only for a link that has one.
void put_mlo_links(NlWriter& writer, const std::vector<SceneMloLink>& links) {
  writer.begin_nest(NL80211_ATTR_MLO_LINKS, true);
  for (const SceneMloLink& link : links) {
    writer.begin_nest(static_cast<uint16_t>(link.id + 1), true);
    writer.put_u8(NL80211_ATTR_MLO_LINK_ID, link.id);
    writer.put(NL80211_ATTR_MAC, link.mac);
    if (link.freq) {
      writer.put_u32(NL80211_ATTR_WIPHY_FREQ, *link.freq);
      writer.put_u32(NL80211_ATTR_WIPHY_FREQ_OFFSET, 0);
    }
    if (link.width_code) writer.put_u32(NL80211_ATTR_CHANNEL_WIDTH, *link.width_code);
    if (link.center_freq1) writer.put_u32(NL80211_ATTR_CENTER_FREQ1, *link.center_freq1);
    writer.end_nest();
  }
  writer.end_nest();
}

// The interface as the kernel reports it at `now`: after a change of association, on the channel
// of the BSS it is on (20 MHz), or on none.
SceneInterface interface_now(const Scene& scene, const SceneInterface& iface, const SceneNow& now) {
  if (!now.changed || &iface != changing_interface(scene)) return iface;
  SceneInterface moved = iface;
  if (now.ifindex) moved.ifindex = now.ifindex;
  moved.freq.reset();
  moved.width_code.reset();
  moved.center_freq1.reset();
  if (now.bss == nullptr || !now.bss->freq) {
    moved.ssid.reset();
    return moved;
  }
  moved.freq = now.bss->freq;
  moved.width_code = NL80211_CHAN_WIDTH_20;
  moved.center_freq1 = now.bss->freq;
  return moved;
}

FakeReply interface_dump(const Scene& scene, const Request& request, uint64_t now_ms) {
  std::vector<Bytes> messages;
  uint64_t wdev = 1;
  const SceneNow now = association_at(scene, now_ms);
  for (const SceneInterface& listed : scene.interfaces) {
    if (now.absent && &listed == changing_interface(scene)) continue;
    const SceneInterface iface = interface_now(scene, listed, now);
    NlWriter writer;
    writer.begin_message(request.type, NLM_F_MULTI, request.seq, NL80211_CMD_NEW_INTERFACE);
    if (iface.ifindex) {
      writer.put_u32(NL80211_ATTR_IFINDEX, *iface.ifindex);
      writer.put_string(NL80211_ATTR_IFNAME, iface.name);
    }
    writer.put_u32(NL80211_ATTR_WIPHY, iface.wiphy);
    writer.put_u32(NL80211_ATTR_IFTYPE, iface.iftype);
    writer.put_u64(NL80211_ATTR_WDEV, (static_cast<uint64_t>(iface.wiphy) << 32) | wdev++);
    writer.put(NL80211_ATTR_MAC, iface.mac);
    writer.put_u32(NL80211_ATTR_GENERATION, kGeneration);
    if (iface.ifindex) writer.put_u8(NL80211_ATTR_4ADDR, 0);
    if (iface.freq) {
      writer.put_u32(NL80211_ATTR_WIPHY_FREQ, *iface.freq);
      writer.put_u32(NL80211_ATTR_WIPHY_FREQ_OFFSET, 0);
    }
    if (iface.width_code) writer.put_u32(NL80211_ATTR_CHANNEL_WIDTH, *iface.width_code);
    if (iface.center_freq1) writer.put_u32(NL80211_ATTR_CENTER_FREQ1, *iface.center_freq1);
    if (iface.ssid) writer.put(NL80211_ATTR_SSID, *iface.ssid);
    if (!iface.mlo_links.empty()) put_mlo_links(writer, iface.mlo_links);
    writer.end_message();
    messages.push_back(writer.bytes);
  }
  return dump_reply(messages, request.seq);
}

// The status the kernel gives a BSS record at `now`: after a change, only the BSS the station is
// on is associated.
std::optional<uint32_t> status_now(const SceneBss& bss, const SceneNow& now) {
  if (!now.changed || bss.status != NL80211_BSS_STATUS_ASSOCIATED) {
    if (now.changed && &bss == now.bss) return NL80211_BSS_STATUS_ASSOCIATED;
    return bss.status;
  }
  return &bss == now.bss ? bss.status : std::nullopt;
}

FakeReply scan_dump(const Scene& scene, const Request& request, uint64_t now_ms) {
  // nl80211 looks the interface up inside the dump itself, so an unknown one ends the dump:
  // NLMSG_DONE carrying -ENODEV rather than an error message.
  if (interface_at(scene, request.ifindex, now_ms) == nullptr) {
    FakeReply reply;
    reply.datagrams.push_back(done_datagram(request.seq, -ENODEV));
    return reply;
  }
  std::vector<Bytes> messages;
  uint64_t tsf = 1000000;
  const SceneNow now = association_at(scene, now_ms);
  for (const SceneBss& bss : scene.bss) {
    const std::optional<uint32_t> status = status_now(bss, now);
    NlWriter writer;
    writer.begin_message(request.type, NLM_F_MULTI, request.seq, NL80211_CMD_NEW_SCAN_RESULTS);
    writer.put_u32(NL80211_ATTR_GENERATION, kGeneration);
    writer.put_u32(NL80211_ATTR_IFINDEX, *request.ifindex);
    writer.put_u64(NL80211_ATTR_WDEV, 1);
    writer.begin_nest(NL80211_ATTR_BSS);
    if (bss.bssid) writer.put(NL80211_BSS_BSSID, *bss.bssid);
    writer.put_u64(NL80211_BSS_TSF, tsf += 102400);
    if (bss.ies) writer.put(NL80211_BSS_INFORMATION_ELEMENTS, *bss.ies);
    if (bss.beacon_ies) writer.put(NL80211_BSS_BEACON_IES, *bss.beacon_ies);
    writer.put_u16(NL80211_BSS_BEACON_INTERVAL, 100);
    writer.put_u16(NL80211_BSS_CAPABILITY, 0x0411);
    if (bss.freq) writer.put_u32(NL80211_BSS_FREQUENCY, *bss.freq);
    writer.put_u32(NL80211_BSS_CHAN_WIDTH, NL80211_BSS_CHAN_WIDTH_20);
    if (bss.seen_ms_ago) writer.put_u32(NL80211_BSS_SEEN_MS_AGO, *bss.seen_ms_ago);
    if (bss.signal_mbm) writer.put_s32(NL80211_BSS_SIGNAL_MBM, *bss.signal_mbm);
    if (bss.signal_unspec) writer.put_u8(NL80211_BSS_SIGNAL_UNSPEC, *bss.signal_unspec);
    if (status) writer.put_u32(NL80211_BSS_STATUS, *status);
    if (bss.mlo_link_id) writer.put_u8(NL80211_BSS_MLO_LINK_ID, *bss.mlo_link_id);
    if (bss.mld_addr) writer.put(NL80211_BSS_MLD_ADDR, *bss.mld_addr);
    writer.end_nest();
    writer.end_message();
    messages.push_back(writer.bytes);
  }
  return dump_reply(messages, request.seq);
}

// One message per surveyed channel, as nl80211 sends them: the interface, then the nest with the
// frequency, the noise (when the driver measured one), the in-use flag and the channel times.
FakeReply survey_dump(const Scene& scene, const Request& request, const Bytes& bytes,
                      uint64_t now_ms) {
  if (interface_at(scene, request.ifindex, now_ms) == nullptr) return error_reply(-ENODEV, bytes);
  std::vector<Bytes> messages;
  for (const SceneSurvey& survey : scene.survey) {
    NlWriter writer;
    writer.begin_message(request.type, NLM_F_MULTI, request.seq, NL80211_CMD_NEW_SURVEY_RESULTS);
    writer.put_u32(NL80211_ATTR_IFINDEX, *request.ifindex);
    writer.begin_nest(NL80211_ATTR_SURVEY_INFO);
    writer.put_u32(NL80211_SURVEY_INFO_FREQUENCY, survey.freq);
    if (survey.noise_dbm) {
      writer.put_u8(NL80211_SURVEY_INFO_NOISE,
                    static_cast<uint8_t>(static_cast<int8_t>(*survey.noise_dbm)));
    }
    if (survey.in_use) writer.put_flag(NL80211_SURVEY_INFO_IN_USE);
    writer.put_u64(NL80211_SURVEY_INFO_TIME, 1600);
    writer.put_u64(NL80211_SURVEY_INFO_TIME_BUSY, 200);
    writer.end_nest();
    writer.end_message();
    messages.push_back(writer.bytes);
  }
  return dump_reply(messages, request.seq);
}

void put_rate(NlWriter& writer, uint16_t type, const SceneRate& rate) {
  writer.begin_nest(type);
  if (rate.bitrate) {
    writer.put_u32(NL80211_RATE_INFO_BITRATE32, *rate.bitrate);
    // Like the kernel: the 16-bit rate only while it fits.
    if (*rate.bitrate <= UINT16_MAX) {
      writer.put_u16(NL80211_RATE_INFO_BITRATE, static_cast<uint16_t>(*rate.bitrate));
    }
  }
  if (rate.mcs) writer.put_u8(NL80211_RATE_INFO_MCS, *rate.mcs);
  if (rate.vht_mcs) writer.put_u8(NL80211_RATE_INFO_VHT_MCS, *rate.vht_mcs);
  if (rate.vht_nss) writer.put_u8(NL80211_RATE_INFO_VHT_NSS, *rate.vht_nss);
  if (rate.he_mcs) writer.put_u8(NL80211_RATE_INFO_HE_MCS, *rate.he_mcs);
  if (rate.he_nss) writer.put_u8(NL80211_RATE_INFO_HE_NSS, *rate.he_nss);
  if (rate.eht_mcs) writer.put_u8(NL80211_RATE_INFO_EHT_MCS, *rate.eht_mcs);
  if (rate.eht_nss) writer.put_u8(NL80211_RATE_INFO_EHT_NSS, *rate.eht_nss);
  switch (rate.width) {
    case 40:
      writer.put_flag(NL80211_RATE_INFO_40_MHZ_WIDTH);
      break;
    case 80:
      writer.put_flag(NL80211_RATE_INFO_80_MHZ_WIDTH);
      break;
    case 8080:
      writer.put_flag(NL80211_RATE_INFO_80P80_MHZ_WIDTH);
      break;
    case 160:
      writer.put_flag(NL80211_RATE_INFO_160_MHZ_WIDTH);
      break;
    case 320:
      writer.put_flag(NL80211_RATE_INFO_320_MHZ_WIDTH);
      break;
    default:
      break;
  }
  if (rate.short_gi) writer.put_flag(NL80211_RATE_INFO_SHORT_GI);
  writer.end_nest();
}

// The kernel keeps the station of a multi-link association under the AP MLD address only.
std::optional<Mac> station_mac(const Scene& scene) {
  if (scene.station.mac) return scene.station.mac;
  for (const SceneBss& bss : scene.bss) {
    if (bss.status != NL80211_BSS_STATUS_ASSOCIATED) continue;
    if (bss.mld_addr) return bss.mld_addr;
    if (bss.bssid) return bss.bssid;
  }
  return std::nullopt;
}

// The link a multi-link station reply names: the scene's choice, else the lowest associated link
// of the AP MLD `mld`. Empty when `mld` is no associated BSS's MLD address.
std::optional<uint8_t> mlo_link_in_use(const Scene& scene, const Mac& mld) {
  std::optional<uint8_t> lowest;
  for (const SceneBss& bss : scene.bss) {
    if (bss.status != NL80211_BSS_STATUS_ASSOCIATED || bss.mld_addr != mld) continue;
    uint8_t id = bss.mlo_link_id.value_or(0);
    if (!lowest || id < *lowest) lowest = id;
  }
  if (lowest && scene.mlo_station.link_id) return scene.mlo_station.link_id;
  return lowest;
}

void put_dbm(NlWriter& writer, uint16_t type, int dbm) {
  writer.put_u8(type, static_cast<uint8_t>(static_cast<int8_t>(dbm)));
}

// The signal figures of a station reply (nl80211_send_station): SIGNAL, SIGNAL_AVG, CHAIN_SIGNAL
// (a nest without NLA_F_NESTED of one u8 per chain, numbered from 0) and BEACON_SIGNAL_AVG, which
// the kernel puts after the rates. Each only when the scene gives it, as drivers fill only some.
void put_signals(NlWriter& writer, const SceneStation& station, uint64_t now_ms) {
  if (station.signal_dbm)
    put_dbm(writer, NL80211_STA_INFO_SIGNAL, station_signal_at(station, now_ms));
  if (station.signal_avg_dbm) put_dbm(writer, NL80211_STA_INFO_SIGNAL_AVG, *station.signal_avg_dbm);
  if (!station.chain_signal_dbm.empty()) {
    writer.begin_nest(NL80211_STA_INFO_CHAIN_SIGNAL);
    for (size_t i = 0; i < station.chain_signal_dbm.size(); ++i) {
      put_dbm(writer, static_cast<uint16_t>(i), station.chain_signal_dbm[i]);
    }
    writer.end_nest();
  }
  if (station.beacon_signal_avg_dbm) {
    put_dbm(writer, NL80211_STA_INFO_BEACON_SIGNAL_AVG, *station.beacon_signal_avg_dbm);
  }
}

// After the MLD's figures: the link in use, the MLD address and, when the scene gives them, each
// link's own figures.
void put_mlo_station(NlWriter& writer, const Scene& scene, uint8_t link_id, const Mac& mld) {
  writer.put_u8(NL80211_ATTR_MLO_LINK_ID, link_id);
  writer.put(NL80211_ATTR_MLD_ADDR, mld);
  if (scene.mlo_station.links.empty()) return;
  writer.begin_nest(NL80211_ATTR_MLO_LINKS, true);
  for (const SceneStationLink& link : scene.mlo_station.links) {
    writer.begin_nest(static_cast<uint16_t>(link.id + 1), true);
    writer.put_u8(NL80211_ATTR_MLO_LINK_ID, link.id);
    writer.put(NL80211_ATTR_MAC, link.mac);
    writer.begin_nest(NL80211_ATTR_STA_INFO);
    if (link.signal_dbm) put_dbm(writer, NL80211_STA_INFO_SIGNAL, *link.signal_dbm);
    if (link.tx) put_rate(writer, NL80211_STA_INFO_TX_BITRATE, *link.tx);
    if (link.rx) put_rate(writer, NL80211_STA_INFO_RX_BITRATE, *link.rx);
    writer.end_nest();
    writer.end_nest();
  }
  writer.end_nest();
}

FakeReply station_reply(const Scene& scene, const Request& request, const Bytes& bytes,
                        uint64_t now_ms) {
  if (interface_at(scene, request.ifindex, now_ms) == nullptr) return error_reply(-ENODEV, bytes);
  std::optional<Mac> mac = station_mac(scene);
  SceneStation station = scene.station;
  // After a change the kernel keeps the station of the BSS it is on now; its signal is the one
  // that BSS was heard with.
  const SceneNow now = association_at(scene, now_ms);
  if (now.changed) {
    mac = now.bss != nullptr ? now.bss->bssid : std::nullopt;
    if (now.bss != nullptr && now.bss->signal_mbm) {
      station.signal_dbm = *now.bss->signal_mbm / 100;
      station.signal_avg_dbm.reset();
      station.beacon_signal_avg_dbm.reset();
      station.chain_signal_dbm.clear();
      station.swing_db = 0;
    }
  }
  if (!station.present || !mac || request.mac != mac) return error_reply(-ENOENT, bytes);
  NlWriter writer;
  writer.begin_message(request.type, 0, request.seq, NL80211_CMD_NEW_STATION);
  writer.put_u32(NL80211_ATTR_IFINDEX, *request.ifindex);
  writer.put(NL80211_ATTR_MAC, *mac);
  writer.put_u32(NL80211_ATTR_GENERATION, kGeneration);
  writer.begin_nest(NL80211_ATTR_STA_INFO);
  writer.put_u32(NL80211_STA_INFO_CONNECTED_TIME, static_cast<uint32_t>(now_ms / 1000));
  writer.put_u32(NL80211_STA_INFO_INACTIVE_TIME, 40);
  writer.put_u64(NL80211_STA_INFO_RX_BYTES64, 123456);
  writer.put_u64(NL80211_STA_INFO_TX_BYTES64, 65432);
  put_signals(writer, station, now_ms);
  if (station.tx) put_rate(writer, NL80211_STA_INFO_TX_BITRATE, *station.tx);
  if (station.rx) put_rate(writer, NL80211_STA_INFO_RX_BITRATE, *station.rx);
  writer.end_nest();
  if (std::optional<uint8_t> link_id = mlo_link_in_use(scene, *mac)) {
    put_mlo_station(writer, scene, *link_id, *mac);
  }
  writer.end_message();
  FakeReply reply;
  reply.datagrams.push_back(writer.bytes);
  return reply;
}

// The adapter's bands as a split wiphy dump: a message per band with what
// nl80211_send_band_rateinfo writes (HT and VHT capabilities where the band has them, never on
// 6 GHz and VHT not on 2.4 GHz; HE and EHT in the station types' interface-type data).
FakeReply wiphy_dump(const Scene& scene, const Request& request, const Bytes& bytes,
                     uint64_t now_ms) {
  if ((request.flags & NLM_F_DUMP) != NLM_F_DUMP) return error_reply(-EOPNOTSUPP, bytes);
  if (interface_at(scene, request.ifindex, now_ms) == nullptr) return error_reply(-ENODEV, bytes);
  const SceneWiphy& w = scene.wiphy;
  const bool listed[] = {w.band_2g, w.band_5g, false, w.band_6g};
  const Bytes caps(11, 0x11);
  std::vector<Bytes> messages;
  for (uint16_t band = NL80211_BAND_2GHZ; band <= NL80211_BAND_6GHZ; ++band) {
    if (!listed[band]) continue;
    NlWriter writer;
    writer.begin_message(request.type, NLM_F_MULTI, request.seq, NL80211_CMD_NEW_WIPHY);
    writer.put_u32(NL80211_ATTR_WIPHY, 0);
    writer.begin_nest(NL80211_ATTR_WIPHY_BANDS, true);
    writer.begin_nest(band, true);
    if (w.ht && band != NL80211_BAND_6GHZ) writer.put_u16(NL80211_BAND_ATTR_HT_CAPA, 0x19ef);
    if (w.vht && band == NL80211_BAND_5GHZ) writer.put_u32(NL80211_BAND_ATTR_VHT_CAPA, 0x0f8259b2);
    writer.begin_nest(NL80211_BAND_ATTR_IFTYPE_DATA, true);
    writer.begin_nest(1, true);
    writer.begin_nest(NL80211_BAND_IFTYPE_ATTR_IFTYPES, true);
    writer.put_flag(NL80211_IFTYPE_STATION);
    writer.end_nest();
    if (w.he) writer.put(NL80211_BAND_IFTYPE_ATTR_HE_CAP_PHY, caps);
    if (w.eht) writer.put(NL80211_BAND_IFTYPE_ATTR_EHT_CAP_PHY, std::span(caps).first(9));
    for (int i = 0; i < 4; ++i) writer.end_nest();
    writer.end_message();
    messages.push_back(writer.bytes);
  }
  return dump_reply(messages, request.seq);
}

const char* request_name(const Request& request) {
  if (request.type == GENL_ID_CTRL) return "family";
  switch (request.cmd) {
    case NL80211_CMD_GET_INTERFACE:
      return "interfaces";
    case NL80211_CMD_TRIGGER_SCAN:
      return "scan-trigger";
    case NL80211_CMD_GET_SCAN:
      return "scan-dump";
    case NL80211_CMD_GET_STATION:
      return "station";
    case NL80211_CMD_GET_SURVEY:
      return "survey";
    default:
      return "";
  }
}

// The notification a scan's end sends to the "scan" group: the command, the radio, the interface
// and its wireless-device id, as nl80211_send_scan_msg writes them.
Bytes scan_end_event(const Scene& scene, std::optional<uint32_t> ifindex) {
  const SceneInterface* iface = interface_by_index(scene, ifindex);
  NlWriter writer;
  uint8_t cmd = scene.scan_end == SceneScanEnd::kAborted ? NL80211_CMD_SCAN_ABORTED
                                                         : NL80211_CMD_NEW_SCAN_RESULTS;
  writer.begin_message(scene.family_id, 0, 0, cmd);
  writer.put_u32(NL80211_ATTR_WIPHY, iface != nullptr ? iface->wiphy : 0);
  writer.put_u32(NL80211_ATTR_IFINDEX, ifindex.value_or(0));
  writer.put_u64(NL80211_ATTR_WDEV, uint64_t{1} + ifindex.value_or(0));
  writer.end_message();
  return writer.bytes;
}

// --- The notifications of the scene's changes of association ----------------------------------
// Laid out as the recorded 6.1 kernel sent them (tests/wifi/fixtures/roam): each one message in its
// own datagram, sequence number and port id 0.

// Multicast messages carry port id 0 (the writer puts a requester's there).
Bytes multicast(NlWriter& writer) {
  std::memset(writer.bytes.data() + 12, 0, 4);
  return writer.bytes;
}

// NEW_STATION / DEL_STATION on the station's own interface, naming the access point it joined or
// left.
Bytes station_notice(const Scene& scene, uint8_t cmd, uint32_t ifindex, const Mac& mac) {
  NlWriter writer;
  writer.begin_message(scene.family_id, 0, 0, cmd);
  writer.put_u32(NL80211_ATTR_IFINDEX, ifindex);
  writer.put(NL80211_ATTR_MAC, mac);
  writer.put_u32(NL80211_ATTR_GENERATION, kGeneration);
  writer.begin_nest(NL80211_ATTR_STA_INFO);
  writer.end_nest();
  writer.end_message();
  return multicast(writer);
}

Bytes disconnect_notice(const Scene& scene, const SceneInterface& iface, uint32_t ifindex,
                        uint16_t reason, bool by_ap) {
  NlWriter writer;
  writer.begin_message(scene.family_id, 0, 0, NL80211_CMD_DISCONNECT);
  writer.put_u32(NL80211_ATTR_WIPHY, iface.wiphy);
  writer.put_u32(NL80211_ATTR_IFINDEX, ifindex);
  writer.put_u16(NL80211_ATTR_REASON_CODE, reason);
  if (by_ap) writer.put_flag(NL80211_ATTR_DISCONNECTED_BY_AP);
  writer.end_message();
  return multicast(writer);
}

// CONNECT (with its status) or ROAM: the new BSSID and the association's request and response
// elements, the request's starting with the network name.
Bytes connect_notice(const Scene& scene, uint8_t cmd, const SceneInterface& iface, uint32_t ifindex,
                     const SceneBss& bss) {
  Bytes request_ies;
  const std::optional<Bytes>& ies = bss.beacon_ies ? bss.beacon_ies : bss.ies;
  if (ies && ies->size() >= 2 && (*ies)[0] == 0 && ies->size() >= 2u + (*ies)[1]) {
    request_ies.assign(ies->begin(), ies->begin() + 2 + (*ies)[1]);
  } else {
    request_ies = {0, 0};
  }
  const Bytes rates = {0x01, 0x08, 0x82, 0x84, 0x8b, 0x96, 0x0c, 0x12, 0x18, 0x24};
  request_ies.insert(request_ies.end(), rates.begin(), rates.end());
  NlWriter writer;
  writer.begin_message(scene.family_id, 0, 0, cmd);
  writer.put_u32(NL80211_ATTR_WIPHY, iface.wiphy);
  writer.put_u32(NL80211_ATTR_IFINDEX, ifindex);
  writer.put(NL80211_ATTR_MAC, *bss.bssid);
  if (cmd == NL80211_CMD_CONNECT) writer.put_u16(NL80211_ATTR_STATUS_CODE, 0);
  writer.put(NL80211_ATTR_REQ_IE, request_ies);
  writer.put(NL80211_ATTR_RESP_IE, rates);
  writer.end_message();
  return multicast(writer);
}

// NEW_INTERFACE / DEL_INTERFACE on the "config" group, as the recorded SET_INTERFACE lays an
// interface out: index, name, radio, type, wireless-device id, address, generation.
Bytes interface_notice(const Scene& scene, uint8_t cmd, const SceneInterface& iface,
                       uint32_t ifindex) {
  NlWriter writer;
  writer.begin_message(scene.family_id, 0, 0, cmd);
  writer.put_u32(NL80211_ATTR_IFINDEX, ifindex);
  writer.put_string(NL80211_ATTR_IFNAME, iface.name);
  writer.put_u32(NL80211_ATTR_WIPHY, iface.wiphy);
  writer.put_u32(NL80211_ATTR_IFTYPE, iface.iftype);
  writer.put_u64(NL80211_ATTR_WDEV, (static_cast<uint64_t>(iface.wiphy) << 32) | ifindex);
  writer.put(NL80211_ATTR_MAC, iface.mac);
  writer.put_u32(NL80211_ATTR_GENERATION, kGeneration);
  writer.end_message();
  return multicast(writer);
}

struct TimedNotice {
  uint64_t at_ms;
  Bytes datagram;
  bool config = false;  // for the "config" group, else "mlme"
};

// Every change's notifications, in the order the kernel sends them. A roam as mac80211 does it is
// a DISCONNECT (reason 1: the station left to roam) and, after the gap, a CONNECT; a lost access
// point a DISCONNECT with reason 3 and the flag that the access point ended it; a replugged
// interface is disconnected and deleted, and after the gap comes back and connects again.
std::vector<TimedNotice> scene_notices(const Scene& scene) {
  std::vector<TimedNotice> notices;
  const SceneInterface* iface = changing_interface(scene);
  if (iface == nullptr) return notices;
  uint32_t ifindex = *iface->ifindex;
  const SceneBss* on = first_associated(scene);
  std::optional<Mac> current = station_mac(scene);
  for (const SceneChange& change : scene.changes) {
    const uint64_t at = change.at_ms;
    if (change.kind == SceneChangeKind::kReplug) {
      if (current) {
        notices.push_back({at, station_notice(scene, NL80211_CMD_DEL_STATION, ifindex, *current)});
        notices.push_back({at, disconnect_notice(scene, *iface, ifindex, 3, false)});
      }
      notices.push_back(
          {at, interface_notice(scene, NL80211_CMD_DEL_INTERFACE, *iface, ifindex), true});
      ifindex = replugged_index(change, ifindex);
      const uint64_t back = at + change.gap_ms;
      notices.push_back(
          {back, interface_notice(scene, NL80211_CMD_NEW_INTERFACE, *iface, ifindex), true});
      if (on != nullptr) {
        notices.push_back(
            {back, station_notice(scene, NL80211_CMD_NEW_STATION, ifindex, *on->bssid)});
        notices.push_back({back, connect_notice(scene, NL80211_CMD_CONNECT, *iface, ifindex, *on)});
      }
      continue;
    }
    const SceneBss* next =
        change.kind == SceneChangeKind::kDisconnect ? nullptr : bss_by_bssid(scene, change.bssid);
    if (change.kind == SceneChangeKind::kRoam && change.firmware) {
      notices.push_back({at, connect_notice(scene, NL80211_CMD_ROAM, *iface, ifindex, *next)});
    } else {
      if (current) {
        notices.push_back({at, station_notice(scene, NL80211_CMD_DEL_STATION, ifindex, *current)});
        bool roam = change.kind == SceneChangeKind::kRoam;
        uint16_t reason = roam ? 1 : 3;
        notices.push_back(
            {at, disconnect_notice(scene, *iface, ifindex, reason, !roam && !change.local)});
      }
      if (next != nullptr) {
        uint64_t joined = change.kind == SceneChangeKind::kRoam ? at + change.gap_ms : at;
        notices.push_back(
            {joined, station_notice(scene, NL80211_CMD_NEW_STATION, ifindex, *next->bssid)});
        notices.push_back(
            {joined, connect_notice(scene, NL80211_CMD_CONNECT, *iface, ifindex, *next)});
      }
    }
    on = next;
    current = next != nullptr ? next->bssid : std::nullopt;
  }
  return notices;
}

// Hands the scene's notifications to the stand-in's event socket, timed from now; the "mlme" and
// "config" groups are numbered around "scan" as the family reply lists them.
void schedule_notices(const Scene& scene) {
  if (scene.notify == SceneNotify::kOff) fake_kernel_fail_events_join(-EPERM);
  if (scene.scan_group == 0 || scene.notify == SceneNotify::kOff) return;
  const uint32_t mlme_group = scene.scan_group + 2;
  const uint32_t config_group = scene.scan_group - 1;
  if (scene.notify == SceneNotify::kLost) {
    for (const SceneChange& change : scene.changes) {
      fake_kernel_schedule_loss(mlme_group, static_cast<int>(change.at_ms));
    }
    return;
  }
  for (TimedNotice& notice : scene_notices(scene)) {
    fake_kernel_schedule_event(notice.config ? config_group : mlme_group,
                               std::move(notice.datagram), static_cast<int>(notice.at_ms));
  }
}

}  // namespace

int station_signal_at(const SceneStation& station, uint64_t now_ms) {
  int signal = station.signal_dbm.value_or(0);
  if (station.swing_db > 0) {
    // Triangle wave through -swing .. +swing over one period.
    uint64_t period = static_cast<uint64_t>(station.period_ms);
    int64_t phase = static_cast<int64_t>(now_ms % period);
    int64_t half = static_cast<int64_t>(period / 2);
    int64_t up = phase < half ? phase : static_cast<int64_t>(period) - phase;
    signal += static_cast<int>(-station.swing_db +
                               (2 * station.swing_db * up) / std::max<int64_t>(half, 1));
  }
  signal = std::clamp(signal, -128, 127);
  return signal == 0 && station.swing_db > 0 ? -1 : signal;
}

namespace {

FakeReply normal_answer(const Scene& scene, const Request& request, const Bytes& bytes,
                        uint64_t now_ms) {
  if (request.type == GENL_ID_CTRL) return family_reply(scene, request, bytes);
  if (!scene.family_present || request.type != scene.family_id) return error_reply(-ENOENT, bytes);
  switch (request.cmd) {
    case NL80211_CMD_GET_INTERFACE:
      return interface_dump(scene, request, now_ms);
    case NL80211_CMD_GET_SCAN:
      if ((request.flags & NLM_F_DUMP) != NLM_F_DUMP) return error_reply(-EOPNOTSUPP, bytes);
      return scan_dump(scene, request, now_ms);
    case NL80211_CMD_TRIGGER_SCAN:
      if (interface_at(scene, request.ifindex, now_ms) == nullptr) {
        return error_reply(-ENODEV, bytes);
      }
      {
        FakeReply reply = (scene.trigger_result != 0 || (request.flags & NLM_F_ACK) != 0)
                              ? error_reply(scene.trigger_result, bytes)
                              : FakeReply{};  // accepted, no acknowledgement asked for: silence
        // The scan this request started, or the one already running, ends after the scene's time.
        bool scanning = scene.trigger_result == 0 || scene.trigger_result == -EBUSY;
        if (scanning && scene.scan_end != SceneScanEnd::kNever && scene.scan_group != 0) {
          reply.event = scan_end_event(scene, request.ifindex);
          reply.event_after_ms = scene.scan_wait_ms;
          if (scene.scan_end == SceneScanEnd::kLost) reply.event_error = -ENOBUFS;
        }
        return reply;
      }
    case NL80211_CMD_GET_STATION:
      return station_reply(scene, request, bytes, now_ms);
    case NL80211_CMD_GET_WIPHY:
      return wiphy_dump(scene, request, bytes, now_ms);
    case NL80211_CMD_GET_SURVEY:
      // Survey results exist only as a dump.
      if ((request.flags & NLM_F_DUMP) != NLM_F_DUMP) return error_reply(-EOPNOTSUPP, bytes);
      return survey_dump(scene, request, bytes, now_ms);
    default:
      return error_reply(-EOPNOTSUPP, bytes);
  }
}

}  // namespace

FakeReply answer_from_scene(const Scene& scene, const Bytes& bytes, uint64_t now_ms) {
  Request request;
  if (!decode_request(bytes, &request)) return FakeReply{};  // the kernel stays silent
  auto found = scene.faults.find(request_name(request));
  if (found == scene.faults.end()) return normal_answer(scene, request, bytes, now_ms);
  const SceneFault& fault = found->second;
  if (fault.silent) return FakeReply{};
  FakeReply reply = fault.error != 0 ? error_reply(fault.error, bytes)
                                     : normal_answer(scene, request, bytes, now_ms);
  reply.delay_ms = fault.delay_ms;
  return reply;
}

FakeResponder scene_responder(std::shared_ptr<const Scene> scene) {
  const auto origin = std::chrono::steady_clock::now();
  schedule_notices(*scene);
  return [scene, origin](const Bytes& request) {
    uint64_t now_ms = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                std::chrono::steady_clock::now() - origin)
                                                .count());
    return answer_from_scene(*scene, request, now_ms);
  };
}
