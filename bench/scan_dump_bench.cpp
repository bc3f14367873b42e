// Reading one scan dump of crowded air (137 BSS records, 300 bytes of elements each) as the
// association probe of link_query reads it (no table: only the association memory) beside the
// scan command's reading into its 96-record table (which keeps the strongest). The stand-in
// kernel hands out the same recorded-layout datagrams each time, built once before timing.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "fake_kernel.h"
#include "scene.h"
#include "scene_kernel.h"
#include "wifi/netlink.h"
#include "wifi/requests.h"
#include "wifi/scan.h"

namespace {

ScanTable table;

const char kCrowdedAir[] = R"(
interface ifindex=3 name=wlan0 freq=5180 ssid=Home
generate count=136 ie-bytes=300
bss bssid=3c:84:6a:12:34:56 freq=5180 signal=-8000 status=associated ssid=Home ie-bytes=300
)";

// Serves the dump's datagrams, built once, for every request.
bool serve_crowded_air() {
  Scene scene;
  std::string error;
  if (!parse_scene(kCrowdedAir, &scene, &error)) return false;
  wifi_state.family_id = scene.family_id;
  wifi_state.ifindex = 3;
  NetlinkRequest request;
  build_scan_dump_request(&request, wifi_state.ifindex);
  Bytes bytes(reinterpret_cast<uint8_t*>(&request),
              reinterpret_cast<uint8_t*>(&request) + request.nlmsg_len);
  auto reply = std::make_shared<FakeReply>(answer_from_scene(scene, bytes, 0));
  fake_kernel_reset();
  fake_kernel_keep_requests(false);
  fake_kernel_respond([reply](const Bytes&) { return *reply; });
  return true;
}

void read_dump(benchmark::State& state, ScanEntry* entries, int capacity) {
  if (!serve_crowded_air()) {
    state.SkipWithError("scene");
    return;
  }
  NetlinkRequest request;
  for (auto _ : state) {
    ScanCollector collector{entries, capacity, 0, {}};
    build_scan_dump_request(&request, wifi_state.ifindex);
    benchmark::DoNotOptimize(netlink_exchange(request, on_bss, &collector));
    if (collector.found.known != 1) state.SkipWithError("association not seen");
  }
}

void BM_AssociationProbe(benchmark::State& state) {
  read_dump(state, nullptr, 0);
}

void BM_ScanTableOf96(benchmark::State& state) {
  read_dump(state, table, kScanCapacity);
}

}  // namespace

BENCHMARK(BM_AssociationProbe)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScanTableOf96)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
