// Building the largest reply, a scan report of 96 networks with 2048 bytes of information
// elements each, into a TextBuffer: the helper's write_scan_report beside a naive writer that
// formats each element byte with snprintf("%02x"). Prints Google Benchmark's table, then the
// rate in MB/s of JSON (10^6 bytes) and the ratio of the two.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "protocol/replies.h"
#include "protocol/scan_report.h"
#include "protocol/text_buffer.h"
#include "wifi/wifi.h"

namespace {

ScanTable sample_entries;
LinkInfo sample_link;

void fill_scene() {
  uint32_t seed = 1;
  for (int k = 0; k < kScanCapacity; ++k) {
    ScanEntry& e = sample_entries[k];
    std::snprintf(e.ssid, sizeof e.ssid, "Neighbour-%03d", k);
    e.signal_dbm = -40 - k / 2;
    e.channel = 1 + k % 11;
    e.freq_mhz = 2412 + 5 * (k % 11);
    e.associated = k == 0;
    e.ie_len = sizeof e.ies;
    for (uint8_t& b : e.ies) {
      seed = seed * 1103515245u + 12345u;
      b = static_cast<uint8_t>(seed >> 16);
    }
  }
  sample_link.connected = 1;
  std::strcpy(sample_link.iface, "wlan0");
  std::strcpy(sample_link.ssid, "Neighbour-000");
  sample_link.rssi = -40;
  sample_link.channel = 1;
  sample_link.freq_mhz = 2412;
}

// The hex of the elements written the way a first draft would: every byte through snprintf. The
// report around it is the helper's own, so the two writers differ only where the measure looks.
void append_hex_naive(TextBuffer& buffer, const uint8_t* bytes, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
    text_append(buffer, pair, 2);
  }
}

void write_scan_report_naive(TextBuffer& buffer, const LinkInfo& link, const ScanEntry* entries,
                             int n, MineChoice mine) {
  write_scan_report(buffer, link, entries, n, mine, true, append_hex_naive);
}

void write_scan_report_fast(TextBuffer& buffer, const LinkInfo& link, const ScanEntry* entries,
                            int n, MineChoice mine) {
  write_scan_report(buffer, link, entries, n, mine, true);
}

using Writer = void (*)(TextBuffer&, const LinkInfo&, const ScanEntry*, int, MineChoice);

void run_writer(benchmark::State& state, Writer writer) {
  MineChoice mine = choose_mine(sample_link, sample_entries, kScanCapacity);
  uint64_t bytes = 0;
  for (auto _ : state) {
    TextBuffer buffer{};
    writer(buffer, sample_link, sample_entries, kScanCapacity, mine);
    bytes = buffer.len;
    benchmark::DoNotOptimize(buffer.data);
    text_release(buffer);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["json_bytes"] = static_cast<double>(bytes);
}

void BM_WriteScanReport(benchmark::State& state) {
  run_writer(state, write_scan_report_fast);
}
void BM_NaiveSnprintfWriter(benchmark::State& state) {
  run_writer(state, write_scan_report_naive);
}
BENCHMARK(BM_WriteScanReport)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NaiveSnprintfWriter)->Unit(benchmark::kMicrosecond);

// The console table as usual, with each run's bytes per second kept for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  SummaryReporter() : ConsoleReporter(OO_Tabular) {}
  std::map<std::string, double> rates;
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      auto found = run.counters.find("bytes_per_second");
      if (found != run.counters.end() && run.run_type == Run::RT_Iteration) {
        rates[run.benchmark_name()] = found->second.value;
      }
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  fill_scene();
  // Both writers must produce the very same text, or the comparison means nothing.
  MineChoice mine = choose_mine(sample_link, sample_entries, kScanCapacity);
  TextBuffer fast{}, naive{};
  write_scan_report(fast, sample_link, sample_entries, kScanCapacity, mine, true);
  write_scan_report_naive(naive, sample_link, sample_entries, kScanCapacity, mine);
  bool same = fast.len == naive.len && std::memcmp(fast.data, naive.data, fast.len) == 0;
  std::printf("Scan report: %d networks x %zu B of elements = %llu B of JSON%s\n", kScanCapacity,
              sizeof sample_entries[0].ies, static_cast<unsigned long long>(fast.len),
              same ? "" : " (THE NAIVE WRITER DIFFERS)");
  std::fflush(stdout);
  text_release(fast);
  text_release(naive);
  if (!same) return 1;

  benchmark::Initialize(&argc, argv);
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  double ours = reporter.rates["BM_WriteScanReport"] / 1e6;
  double theirs = reporter.rates["BM_NaiveSnprintfWriter"] / 1e6;
  if (ours > 0 && theirs > 0) {
    std::printf(
        "\n| writer | MB/s of JSON |\n|---|---|\n| write_scan_report | %.0f |\n"
        "| naive snprintf(\"%%02x\") | %.0f |\n\n",
        ours, theirs);
    std::printf("Goal: at least 1000 MB/s: %s (%.0f MB/s); at least 30x naive: %s (%.1fx)\n",
                ours >= 1000 ? "met" : "MISSED", ours, ours / theirs >= 30 ? "met" : "MISSED",
                ours / theirs);
  }
  return 0;
}
