// The slack carver's timestamp work: the window scan over one 4096-byte
// INDX record, the per-candidate validity test, and a full derivation.
#include <benchmark/benchmark.h>

#include <ostream>
#include <streambuf>
#include <vector>

#include "time/zq_time.h"
#include "utils/byte_order.h"

namespace {

constexpr uint64 kLow = 121493952000000000ULL;
constexpr uint64 kHigh = 157469184000000000ULL;

// A record of slack: file-name keys' times every 96 bytes among noise.
std::vector<byte> slack_record() {
  std::vector<byte> buf(4096);
  uint64 x = 0x9e3779b97f4a7c15ULL;
  for (size_t i = 0; i < buf.size(); i += 8) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    store_u64(buf.data() + i, x);
  }
  for (size_t i = 24; i + 32 <= buf.size(); i += 96)
    for (int k = 0; k < 4; ++k) store_u64(buf.data() + i + 8 * k, 132000000000000000ULL + k);
  return buf;
}

void BM_ScanFiletimeWindow4K(benchmark::State& state) {
  const std::vector<byte> buf = slack_record();
  std::vector<ulong64> hits;
  for (auto _ : state) {
    zq::scan_filetimes_in_range(hits, buf.data(), static_cast<int>(buf.size()), 0, kLow, kHigh, 32);
    benchmark::DoNotOptimize(hits.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 4096);
}
BENCHMARK(BM_ScanFiletimeWindow4K);

void BM_IsValidFiletime(benchmark::State& state) {
  const std::vector<byte> buf = slack_record();
  for (auto _ : state) {
    int valid = 0;
    for (size_t i = 0; i < buf.size(); i += 8) valid += zq::is_valid_filetime(load_u64(buf.data() + i));
    benchmark::DoNotOptimize(valid);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 512);
}
BENCHMARK(BM_IsValidFiletime);

void BM_DeriveTime(benchmark::State& state) {
  uint64 ft = 132000000000000000ULL;
  for (auto _ : state) {
    zq::time t(ft, zq::type_filetime);
    benchmark::DoNotOptimize(t);
    ft += 86400ULL * 10000000ULL + 12345;
  }
}
BENCHMARK(BM_DeriveTime);

// 64 MiB of random bytes: what unallocated space looks like to the scan.
const std::vector<byte>& random_64m() {
  static const std::vector<byte> buf = [] {
    std::vector<byte> b(64u << 20);
    uint64 x = 0x2545F4914F6CDD1DULL;
    for (size_t i = 0; i < b.size(); i += 8) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      store_u64(b.data() + i, x);
    }
    return b;
  }();
  return buf;
}

// Counts the report's bytes and keeps none of them.
class counting_buf : public std::streambuf {
 public:
  uint64 bytes = 0;

 protected:
  int overflow(int c) override {
    ++bytes;
    return c;
  }
  std::streamsize xsputn(const char*, std::streamsize n) override {
    bytes += static_cast<uint64>(n);
    return n;
  }
};

// The time-hit scan over 64 MiB with a ten-year window (2015-2025). The
// argument is the kind mask: 0x87 the tick-count bases and GUIDs (FILETIME,
// Chrome, Firefox), 0xFF every base. Random data reads as a 32-bit second
// count (Unix, NTP) or a DOS date inside ten years several times per 100
// bytes, so with those bases the report lines, not the probes, set the pace.
void BM_TimeHitScan64M(benchmark::State& state) {
  const std::vector<byte>& buf = random_64m();
  const uint8 kinds = static_cast<uint8>(state.range(0));
  const uint64 lower = 130645440000000000ULL;  // 2015-01-01
  const uint64 upper = 133801632000000000ULL;  // 2025-01-01
  int hits = 0;
  uint64 report = 0;
  for (auto _ : state) {
    counting_buf sink;
    std::ostream out(&sink);
    hits = zq::scan_time_hits(out, buf, upper, lower, 0, kinds);
    report = sink.bytes;
    benchmark::DoNotOptimize(hits);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(buf.size()));
  state.counters["hits"] = hits;
  state.counters["report_MiB"] = static_cast<double>(report) / (1 << 20);
}
BENCHMARK(BM_TimeHitScan64M)->Arg(0x87)->Arg(0x81)->Arg(0xFF)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
