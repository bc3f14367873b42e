// Generic netlink under arbitrary datagrams. This target is its own kernel: a kernel port that
// answers every receive with the next datagram of the input, so the real netlink_exchange walks
// them and the real callbacks read them.
//
// Input: one mode byte, then datagrams, each a 2-byte little-endian length and that many bytes
// (cut at the input's end). Length 0xFFFF stands for a receive error, 0 for an empty datagram;
// once the datagrams run out every receive times out.
//   mode % 6 = 0..3: one exchange handing each message to on_family, on_interface, on_bss (into
//                    a heap table of exactly the capacity the second byte picks) or on_station;
//              4:    one exchange without a callback (the scan trigger's form);
//              5:    the queries themselves, one after another: wifi_open, link_query,
//                    scan_dump, signal_sample, all drawing on the same datagrams, with
//                    notifications (read from them too) before link_query and signal_sample.
//   mode & 0x40: the first send fails; mode & 0x80: the first socket cannot be opened.
//
// Under ASan the receive buffer is poisoned past each datagram, so reading outside what the
// "kernel" sent is caught. Checked besides: every attribute the message walk puts in the table
// lies inside its message's datagram under its own type, every nested walk stays inside its
// parent, each exchange returns 0 or an errno-sized negative code and closes its socket, and the
// records filled stay within their bounds.

#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "wifi/interface.h"
#include "wifi/kernel_port.h"
#include "wifi/netlink.h"
#include "wifi/requests.h"
#include "wifi/scan.h"
#include "wifi/station.h"
#include "wifi/wifi.h"

namespace {

constexpr long kReceiveError = -ENOBUFS;
constexpr int kEventFd = 101;  // the notification socket

struct Kernel {
  const uint8_t* next = nullptr;  // the input's datagrams not yet delivered
  size_t left = 0;
  int open_failures = 0;  // opens still to fail
  int send_failures = 0;  // sends still to fail
  int open_sockets = 0;
  uint8_t* buffer = nullptr;  // the receive buffer as last written
  size_t capacity = 0;
  size_t datagram_size = 0;  // bytes of the datagram being walked
};

Kernel kernel;

void unpoison_buffer() {
  if (kernel.buffer != nullptr) ASAN_UNPOISON_MEMORY_REGION(kernel.buffer, kernel.capacity);
}

// Every attribute in `table` lies inside [begin, end), is whole, and sits under its own type.
void check_table(const NlAttr* const* table, int max_type, const uint8_t* begin,
                 const uint8_t* end) {
  for (int type = 0; type <= max_type; ++type) {
    const NlAttr* attribute = table[type];
    if (attribute == nullptr) continue;
    const uint8_t* at = reinterpret_cast<const uint8_t*>(attribute);
    FUZZ_CHECK(at >= begin && end - at >= 4);
    FUZZ_CHECK(attr_len(attribute) >= 4 && attr_len(attribute) <= end - at);
    FUZZ_CHECK(attr_type(attribute) == type);
  }
}

using Callback = void (*)(const NlAttr* const*, int, void*);
Callback real_callback = nullptr;
int messages_seen = 0;

// Checks what the message walk stored, and what a nested walk of each attribute yields, then
// hands the message to the real callback.
void checking_callback(const NlAttr* const* table, int max_type, void* user_data) {
  ++messages_seen;
  FUZZ_CHECK(max_type == kAttrTableMaxType);
  const uint8_t* begin = kernel.buffer;
  check_table(table, max_type, begin, begin + kernel.datagram_size);
  for (int type = 0; type <= max_type; ++type) {
    if (table[type] == nullptr) continue;
    // The nested tables the callbacks use have 16, 24 and 40 entries; the largest covers all.
    std::vector<const NlAttr*> nested(40);
    parse_nested(table[type], nested.data(), 39);
    const uint8_t* payload = attr_payload(table[type]);
    check_table(nested.data(), 39, payload, payload + attr_payload_len(table[type]));
  }
  if (real_callback != nullptr) real_callback(table, max_type, user_data);
}

void check_result(int32_t result) {
  FUZZ_CHECK(result <= 0 && result >= -4095);
  FUZZ_CHECK(kernel.open_sockets == 0);  // every path closes the exchange's socket
}

void check_text(const char* text, size_t capacity) {
  FUZZ_CHECK(strnlen(text, capacity) < capacity);
}

void check_entries(const ScanEntry* entries, int count) {
  for (int i = 0; i < count; ++i) {
    const ScanEntry& entry = entries[i];
    check_text(entry.ssid, sizeof entry.ssid);
    FUZZ_CHECK(entry.ie_len >= 0 && entry.ie_len <= static_cast<int>(sizeof entry.ies));
    FUZZ_CHECK(entry.channel == channel_from_freq(entry.freq_mhz));
    // Announced widths only, and 0 exactly when the record has no elements.
    FUZZ_CHECK((entry.width_mhz == 0) == (entry.ie_len == 0));
    FUZZ_CHECK(entry.width_mhz == 0 || entry.width_mhz == 20 || entry.width_mhz == 40 ||
               entry.width_mhz == 80 || entry.width_mhz == 160 || entry.width_mhz == 320);
    // Signals are measurements (below 0 dBm, not below -120) or 0, unknown, which sorts last.
    FUZZ_CHECK(entry.signal_dbm == 0 || (entry.signal_dbm < 0 && entry.signal_dbm >= -120));
    if (i > 0 && entry.signal_dbm != 0) {
      FUZZ_CHECK(entries[i - 1].signal_dbm != 0 && entries[i - 1].signal_dbm >= entry.signal_dbm);
    }
  }
}

void run_exchange(int kind, uint8_t capacity_byte) {
  NetlinkRequest request;
  build_interface_dump_request(&request);
  InterfacePick pick = fresh_interface_pick();
  StationInfo station{};
  int capacity = capacity_byte % (kScanCapacity + 1);
  // An exactly sized heap block, so a record past the capacity trips ASan.
  ScanEntry* entries =
      capacity > 0 ? static_cast<ScanEntry*>(std::malloc(sizeof(ScanEntry) * capacity)) : nullptr;
  ScanCollector collector{entries, capacity, 0, {}};
  void* user_data = nullptr;
  switch (kind) {
    case 0:
      real_callback = on_family;
      break;
    case 1:
      real_callback = on_interface;
      user_data = &pick;
      break;
    case 2:
      real_callback = on_bss;
      user_data = &collector;
      break;
    case 3:
      real_callback = on_station;
      user_data = &station;
      break;
    default:
      real_callback = nullptr;
  }
  messages_seen = 0;
  int32_t result = netlink_exchange(request, kind == 4 ? nullptr : checking_callback, user_data);
  check_result(result);
  if (kind == 4) FUZZ_CHECK(messages_seen == 0);
  check_text(pick.ifname, sizeof pick.ifname);
  check_text(pick.ssid, sizeof pick.ssid);
  FUZZ_CHECK(pick.link_count >= 0 && pick.link_count <= kMaxMloLinks);
  FUZZ_CHECK(collector.count >= 0 && collector.count <= capacity);
  for (int i = 0; i < collector.count; ++i) {
    check_text(entries[i].ssid, sizeof entries[i].ssid);
    FUZZ_CHECK(entries[i].ie_len >= 0 && entries[i].ie_len <= 2048);
  }
  FUZZ_CHECK(station.width_mhz == 0 || station.width_mhz == 20 || station.width_mhz == 40 ||
             station.width_mhz == 80 || station.width_mhz == 160 || station.width_mhz == 320);
  std::free(entries);
}

void check_association() {
  FUZZ_CHECK(wifi_state.assoc.known <= 1 && wifi_state.assoc.has_mld <= 1);
  FUZZ_CHECK(wifi_state.assoc_stale <= 1);
  check_text(wifi_state.assoc.ssid, sizeof wifi_state.assoc.ssid);
}

void run_queries() {
  wifi_state_reset();
  char msg[200];
  std::memset(msg, 0x55, sizeof msg);
  int opened = wifi_open(msg, sizeof msg);
  FUZZ_CHECK(opened == 0 || opened == -1);
  if (opened != 0) check_text(msg, sizeof msg);
  check_result(0);

  // The notification socket, whatever the family reply said: some datagrams are read as
  // notifications between the queries, and the association they leave is then used.
  wifi_state.event_fd = kEventFd;
  wifi_state.follows = 1;
  (void)scan_ended();
  check_association();

  LinkInfo link{};
  int linked = link_query(&link, msg, sizeof msg);
  check_result(0);
  if (linked == 0) {
    check_text(link.iface, sizeof link.iface);
    check_text(link.ssid, sizeof link.ssid);
    FUZZ_CHECK(link.connected == 0 || link.connected == 1);
    FUZZ_CHECK(link.channel == channel_from_freq(link.freq_mhz));
    FUZZ_CHECK(link.noise >= -128 && link.noise <= 127);  // one signed byte, or 0
    if (link.connected == 0) FUZZ_CHECK(link.noise == 0);
  } else {
    FUZZ_CHECK(linked == -1 && std::strcmp(msg, "no WiFi interface found") == 0);
  }

  static ScanTable table;
  int count = scan_dump(table, kScanCapacity, msg, sizeof msg);
  check_result(0);
  FUZZ_CHECK(count >= -1 && count <= kScanCapacity);
  if (count >= 0) check_entries(table, count);
  if (count < 0) check_text(msg, sizeof msg);

  (void)scan_ended();
  check_association();
  int32_t dbm = 12345;
  int sampled = signal_sample(&dbm);
  check_result(0);
  FUZZ_CHECK(sampled == 0 ? dbm < 0 && dbm >= -120 : dbm == 12345);  // measurements only
}

int fuzz_open(int receive_timeout_ms) {
  FUZZ_CHECK(receive_timeout_ms == kReceiveTimeoutMs);
  if (kernel.open_failures > 0) {
    --kernel.open_failures;
    return -EMFILE;
  }
  ++kernel.open_sockets;
  return 100;
}

int fuzz_send(int fd, const uint8_t* bytes, size_t length) {
  FUZZ_CHECK(fd == 100 && kernel.open_sockets == 1);
  FUZZ_CHECK(length >= 20 && length <= sizeof(NetlinkRequest));
  uint32_t declared;
  std::memcpy(&declared, bytes, 4);
  FUZZ_CHECK(declared == length);
  if (kernel.send_failures > 0) {
    --kernel.send_failures;
    return -ENOBUFS;
  }
  return 0;
}

long fuzz_recv(int fd, uint8_t* buffer, size_t capacity) {
  FUZZ_CHECK(fd == 100 && kernel.open_sockets == 1);
  unpoison_buffer();
  kernel.buffer = buffer;
  kernel.capacity = capacity;
  if (kernel.left < 2) return -EAGAIN;  // silence: the receive timed out
  uint16_t length;
  std::memcpy(&length, kernel.next, 2);
  kernel.next += 2;
  kernel.left -= 2;
  if (length == 0xFFFF) return kReceiveError;
  size_t size = std::min<size_t>({length, kernel.left, capacity});
  std::memcpy(buffer, kernel.next, size);
  kernel.next += size;
  kernel.left -= size;
  kernel.datagram_size = size;
  ASAN_POISON_MEMORY_REGION(buffer + size, capacity - size);
  return static_cast<long>(size);
}

void fuzz_close(int fd) {
  FUZZ_CHECK(fd == 100 && kernel.open_sockets == 1);
  --kernel.open_sockets;
  unpoison_buffer();
}

uint8_t* event_buffer = nullptr;  // the notification buffer as last written
size_t event_capacity = 0;

void unpoison_event_buffer() {
  if (event_buffer != nullptr) ASAN_UNPOISON_MEMORY_REGION(event_buffer, event_capacity);
}

int fuzz_events_open(uint32_t) {
  return kEventFd;
}

int fuzz_events_join(int fd, uint32_t) {
  FUZZ_CHECK(fd == kEventFd);
  return 0;
}

// Notifications come from the same datagrams as the replies; a receive error stands for the
// overflow the kernel reports, the end of the input for an empty socket.
long fuzz_events_recv(int fd, uint8_t* buffer, size_t capacity) {
  FUZZ_CHECK(fd == kEventFd);
  unpoison_event_buffer();
  event_buffer = buffer;
  event_capacity = capacity;
  if (kernel.left < 2) return -EAGAIN;
  uint16_t length;
  std::memcpy(&length, kernel.next, 2);
  kernel.next += 2;
  kernel.left -= 2;
  if (length == 0xFFFF) return -ENOBUFS;
  size_t size = std::min<size_t>({length, kernel.left, capacity});
  std::memcpy(buffer, kernel.next, size);
  kernel.next += size;
  kernel.left -= size;
  ASAN_POISON_MEMORY_REGION(buffer + size, capacity - size);
  return static_cast<long>(size);
}

constexpr KernelPort kFuzzKernelPort = {fuzz_open,       fuzz_send,        fuzz_recv,
                                        fuzz_close,      fuzz_events_open, fuzz_events_join,
                                        fuzz_events_recv};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t mode = data[0];
  kernel = Kernel{};
  kernel.next = data + 2;
  kernel.left = size - 2;
  kernel.open_failures = (mode & 0x80) != 0 ? 1 : 0;
  kernel.send_failures = (mode & 0x40) != 0 ? 1 : 0;

  // What wifi_open would have left behind on a machine with the recorded interface.
  kernel_use(kFuzzKernelPort);
  wifi_state_reset();
  wifi_state.family_id = 32;
  wifi_state.ifindex = 5;
  std::memcpy(wifi_state.ifname, "wlan3", 6);

  int kind = (mode & 0x3F) % 6;
  if (kind == 5) {
    run_queries();
  } else {
    run_exchange(kind, data[1]);
  }
  unpoison_buffer();
  unpoison_event_buffer();
  return 0;
}
