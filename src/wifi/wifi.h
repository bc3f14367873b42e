#pragma once

#include <cstddef>
#include <cstdint>

// The WiFi source's public records and queries. All data comes from nl80211 over generic netlink.
// The loop's queries never wait (the lanes at the end); the blocking forms (wifi_open, link_query,
// scan_trigger, scan_dump, signal_sample) may wait up to 3 seconds per kernel datagram and serve
// start-up and in-process callers.

// One link of a multi-link (Wi-Fi 7) association.
struct LinkEntry {
  int32_t link_id;
  uint8_t bssid[6];  // the access point's link address
  int32_t has_bssid;
  int32_t freq_mhz;
  int32_t channel;
  int32_t width_mhz;
  int32_t rssi;  // dBm, from the link's own station figures; 0 when the kernel gives none
};

inline constexpr int kMaxLinks = 15;  // link ids 0..14

// The current association as read from the kernel. Zero-fill before link_query; it writes only
// what it learns.
struct LinkInfo {
  int32_t connected;  // 1 when the interface has an operating frequency
  char iface[40];
  char ssid[33];
  int32_t rssi;   // dBm; 0 when unknown
  int32_t noise;  // dBm, from the channel survey; 0 when unknown
  double tx_mbps;
  double rx_mbps;
  int32_t channel;    // 0 when unknown
  int32_t freq_mhz;   // 0 when not connected
  int32_t width_mhz;  // 0 when unknown
  int32_t nss;        // spatial streams of the transmit rate; 0 when unknown
  char phy[16];       // "802.11ax" and so on (phy_label.h); empty when unknown
  uint8_t bssid[6];
  int32_t has_bssid;
  int32_t link_count;  // links of a multi-link association, in link-id order; 0 for any other
  LinkEntry links[kMaxLinks];
};

// One BSS record of a scan.
struct ScanEntry {
  char ssid[33];       // from the first information element when it is the SSID element
  int32_t signal_dbm;  // dBm; 0 when the kernel gave no measurement
  int32_t channel;
  int32_t freq_mhz;
  int32_t width_mhz;  // widest the elements announce; 0 without elements
  char phy[16];       // highest generation the elements announce; empty without elements
  int32_t associated;
  uint8_t bssid[6];
  int32_t has_bssid;
  uint8_t ies[2048];
  int32_t ie_len;
  int32_t dump_order;    // rises with the record's place in the kernel's dump; orders equal signals
  uint32_t seen_ms_ago;  // how long ago the kernel last heard the BSS (NL80211_BSS_SEEN_MS_AGO)
  int32_t has_seen_ms_ago;  // 1 when the kernel gave that age
};

inline constexpr int kScanCapacity = 96;
using ScanTable = ScanEntry[kScanCapacity];

// Resolves the nl80211 family and chooses the station interface. 0 on success; -1 with a
// NUL-terminated reason in `msg` (cut to msg_size) otherwise: "nl80211 not available (...)", or
// "no WiFi interface found", followed by " (<error text>)" when the interface dump failed.
int wifi_open(char* msg, size_t msg_size);

// Resolves the family first when it is not yet known (one request), then chooses the interface
// afresh and reads the association, its station statistics, width and (for a connected
// interface) the noise floor of its channel. 0 with `link` filled as far as known; -1 with
// "no WiFi interface found" in `msg`.
int link_query(LinkInfo* link, char* msg, size_t msg_size);

// What the caller of scan_trigger waits for before scan_dump.
inline constexpr int kScanDumpNow = 0;     // no fresh scan (refused, no interface): dump at once
inline constexpr int kScanAwaitEvent = 1;  // a scan runs: wait until scan_ended() says so
inline constexpr int kScanAwaitFixed = 2;  // a scan runs but no event will tell: wait kScanFixedMs
inline constexpr uint64_t kScanFixedMs = 4000;     // about one scan, when no event can end it
inline constexpr uint64_t kScanLongestMs = 15000;  // the latest a scan's event may come

// Asks the kernel for a fresh scan on the chosen interface without waiting for it. A scan that is
// already running (EBUSY, e.g. one NetworkManager started) is waited for like our own when the
// event socket is open; any other refusal (EPERM for an unprivileged user) means dump at once.
int scan_trigger();

// The socket that receives the kernel's scan notifications, for the caller's readiness wait; -1
// when there is none (the fixed wait applies).
int scan_event_socket();

// How a scan on the chosen interface ended, as scan_ended() tells it.
inline constexpr int kScanNotEnded = 0;    // no end seen yet
inline constexpr int kScanNewResults = 1;  // the kernel announced new results
inline constexpr int kScanAborted = 2;     // the kernel gave up on it: the list holds no new scan
// Notifications were lost: the end may have been among them, or the scan may still run, so the
// list cannot be called fresh.
inline constexpr int kScanLost = 3;

// Reads the waiting scan notifications without blocking and says whether a scan on the chosen
// interface ended and how; new results win over an abort seen in the same read.
int scan_ended();

// Reads the kernel's scan results and keeps the `capacity` strongest BSS records of the dump in
// `entries` (the associated one always among them), strongest first, equal signals in dump order,
// records without a measured signal last.
// Returns the count, or -1 with a message.
int scan_dump(ScanEntry* entries, int capacity, char* msg, size_t msg_size);

// One station-signal reading of the association the station is on now. 0 with dBm in *out; -1
// leaving *out alone when there is none or the kernel gives no signal. While nl80211's
// notifications keep the association memory current this is one station request (none while
// disconnected); otherwise, and when the station request finds no such station, the association
// is read afresh first, at most once per call.
int signal_sample(int32_t* out);

// ---- The loop's queries: nothing waits ----
// Each kind runs on a lane of its own: one kernel socket, one request out at a time, each request
// sent as the answer to the one before arrives. A request without a complete answer within
// 3 seconds fails alone (as a failed request of the blocking form does) and its late answer is
// dropped; the query goes on from there.

inline constexpr int kLinkLane = 0;    // link commands
inline constexpr int kScanLane = 1;    // scan commands: the start, then the dump
inline constexpr int kSampleLane = 2;  // live-stream samples
inline constexpr int kLaneCount = 3;

// What a lane's query answered; valid from its completion until the lane's next start.
struct WifiAnswer {
  int32_t result;  // 0; or -1 with `msg` as the blocking form would give it (the link query's
                   // or the scan dump's), a request given up reading "the WiFi driver did not
                   // answer within 3 s"; a sample fails without one
  char msg[200];
  LinkInfo link;               // link, scan start: as link_query fills it
  int32_t scan_wait;           // scan start: what scan_trigger returns
  uint64_t scan_requested_ms;  // scan start: when its scan request went out
  int32_t count;               // scan dump: records placed, as scan_dump returns them
  int32_t dbm;                 // sample: the signal, when result is 0
  int32_t given_up;            // how many of its requests went unanswered for 3 seconds
};

// Start a query on its lane: the link query (link_query's requests); the scan start (the link
// query, then the scan request of scan_trigger); the scan dump into entries[0..capacity) (which
// must stay in place until it completes); the sample (signal_sample's). REQUIRES: the lane is not
// busy. True when it completed at once (nothing to ask, or nothing could be sent): its answer is
// in wifi_answer; otherwise wifi_pass reports its completion.
bool wifi_start_link(uint64_t now_ms);
bool wifi_start_scan(uint64_t now_ms);
bool wifi_start_scan_dump(ScanEntry* entries, int capacity, uint64_t now_ms);
bool wifi_start_sample(uint64_t now_ms);

// True from a start that did not complete at once until wifi_pass reports the completion.
bool wifi_lane_busy(int lane);

const WifiAnswer& wifi_answer(int lane);

// True while the scan lane's scan request is out: an end of scan heard now may be its scan's
// (one already running ends whenever it does), before its answer is read.
bool wifi_scan_request_out();

// The socket to watch for readability while the lane awaits an answer; -1 otherwise.
int wifi_lane_fd(int lane);

// The monotonic_ms at which the earliest request out is given up; UINT64_MAX when none is out.
uint64_t wifi_due_ms();

// Once per loop pass: reads the answers waiting on the lanes whose bit (1 << lane) is set in
// `readable`, gives up the requests past their 3 seconds, and sends each query's next request.
// Returns the lanes whose query completed (bit 1 << lane).
uint32_t wifi_pass(uint32_t readable, uint64_t now_ms);
