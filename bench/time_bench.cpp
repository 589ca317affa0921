// The slack carver's timestamp work: the window scan over one 4096-byte
// INDX record, the per-candidate validity test, and a full derivation.
#include <benchmark/benchmark.h>

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

}  // namespace
