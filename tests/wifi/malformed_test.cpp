// Broken kernel replies: the recorded datagrams cut short and with every length field bent. The
// callbacks must never read outside the datagram (the stand-in kernel poisons the rest of the
// receive buffer under AddressSanitizer) and what they store stays within its bounds.
#include <cstring>
#include <random>

#include "recordings.h"
#include "wifi/interface.h"
#include "wifi/requests.h"
#include "wifi/station.h"
#include "wifi_test_support.h"

namespace {

enum class Kind { kFamily, kInterfaces, kScan, kStation };

struct Sample {
  const char* file;
  Kind kind;
};

constexpr Sample kSamples[] = {
    {"devs-b/root/01-family-0.bin", Kind::kFamily},
    {"devs-b/root/02-interfaces-0.bin", Kind::kInterfaces},
    {"devs-b/root/04-scan-dump-0.bin", Kind::kScan},
    {"devs-b/root/05-station-0.bin", Kind::kStation},
    {"default/root/11-station-0.bin", Kind::kStation},
};

// Runs one exchange whose reply is `datagram` (then the end of a dump) through the callback the
// helper uses for that kind of reply, and checks what it stored.
void run(Kind kind, const Bytes& datagram) {
  serve_script({reply_of({datagram, done_datagram(1)})});
  wifi_state.family_id = 32;
  NetlinkRequest request;
  switch (kind) {
    case Kind::kFamily: {
      build_family_request(&request);
      netlink_exchange(request, on_family, nullptr);
      ASSERT_GE(wifi_state.family_id, -1);
      ASSERT_LE(wifi_state.family_id, 65535);
      break;
    }
    case Kind::kInterfaces: {
      build_interface_dump_request(&request);
      InterfacePick pick = fresh_interface_pick();
      netlink_exchange(request, on_interface, &pick);
      ASSERT_LT(std::strlen(pick.ifname), sizeof pick.ifname);
      ASSERT_LE(std::strlen(pick.ssid), 32u);
      break;
    }
    case Kind::kScan: {
      static ScanTable table;
      ScanCollector collector{table, kScanCapacity, 0, {}};
      build_scan_dump_request(&request, 5);
      netlink_exchange(request, on_bss, &collector);
      ASSERT_LE(collector.count, kScanCapacity);
      for (int i = 0; i < collector.count; ++i) {
        ASSERT_GE(table[i].ie_len, 0);
        ASSERT_LE(table[i].ie_len, 2048);
        ASSERT_LE(std::strlen(table[i].ssid), 32u);
      }
      break;
    }
    case Kind::kStation: {
      const uint8_t mac[6] = {2, 0, 0, 0, 0, 0};
      build_station_request(&request, 5, mac);
      StationInfo station{};
      netlink_exchange(request, on_station, &station);
      ASSERT_GE(station.signal_dbm, -128);
      ASSERT_LE(station.signal_dbm, 127);
      break;
    }
  }
}

using WifiMalformed = WifiTest;

TEST_F(WifiMalformed, EveryTruncationOfTheRecordedRepliesIsReadSafely) {
  fake_kernel_set_silence_ms(0);
  for (const Sample& sample : kSamples) {
    Bytes datagram = read_file_bytes(kFixtures + "/" + sample.file);
    ASSERT_FALSE(datagram.empty()) << sample.file;
    for (size_t length = 0; length <= datagram.size(); ++length) {
      run(sample.kind, Bytes(datagram.begin(), datagram.begin() + static_cast<long>(length)));
    }
  }
}

// Every 16-bit field (message lengths, attribute lengths and types, nested or not) set to values
// around the edges of what the walk accepts.
TEST_F(WifiMalformed, EveryLengthFieldBentIsReadSafely) {
  fake_kernel_set_silence_ms(0);
  for (const Sample& sample : kSamples) {
    SCOPED_TRACE(sample.file);
    const Bytes original = read_file_bytes(kFixtures + "/" + sample.file);
    for (size_t at = 0; at + 2 <= original.size(); at += 2) {
      uint16_t was = 0;
      std::memcpy(&was, original.data() + at, 2);
      for (uint16_t value :
           {uint16_t{0}, uint16_t{3}, uint16_t{4}, uint16_t{5}, uint16_t{8}, uint16_t(was - 1),
            uint16_t(was + 1), uint16_t(was + 4), uint16_t{0xFFFF}}) {
        Bytes bent = original;
        std::memcpy(bent.data() + at, &value, 2);
        run(sample.kind, bent);
      }
    }
  }
}

TEST_F(WifiMalformed, RandomGarbleOfTheRecordedRepliesIsReadSafely) {
  fake_kernel_set_silence_ms(0);
  std::mt19937 random(20240611);
  for (const Sample& sample : kSamples) {
    const Bytes original = read_file_bytes(kFixtures + "/" + sample.file);
    for (int round = 0; round < 300; ++round) {
      Bytes garbled = original;
      int flips = 1 + static_cast<int>(random() % 8);
      for (int i = 0; i < flips; ++i) {
        garbled[random() % garbled.size()] = static_cast<uint8_t>(random());
      }
      garbled.resize(garbled.size() - random() % 64);
      run(sample.kind, garbled);
    }
  }
}

}  // namespace
