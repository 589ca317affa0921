// Printable-run scans over 64 MiB of mixed data: random bytes with ASCII
// and UTF-16LE text spread through them, as unallocated space looks.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "utils/text_runs.h"

namespace {

const std::vector<byte>& mixed_data() {
  static std::vector<byte> data;
  if (data.empty()) {
    data.resize(64u << 20);
    std::mt19937 rng(2);
    for (auto& b : data) b = static_cast<byte>(rng());
    const std::string words = "The quick brown fox jumps over the lazy dog; C:\\Windows\\System32\\config ";
    for (size_t at = 0; at + 4096 < data.size(); at += 4096) {
      for (size_t k = 0; k < words.size(); ++k) data[at + k] = static_cast<byte>(words[k]);
      for (size_t k = 0; k < words.size(); ++k) {
        data[at + 1024 + 2 * k] = static_cast<byte>(words[k]);
        data[at + 1025 + 2 * k] = 0;
      }
    }
  }
  return data;
}

void BM_AsciiRuns_64MiB(benchmark::State& state) {
  const auto& data = mixed_data();
  std::vector<std::string> strings;
  std::vector<ulong64> offsets;
  for (auto _ : state) {
    find_ascii_strings_at(data.data(), static_cast<uint32>(data.size()), 4, &strings, &offsets, 0, false);
    benchmark::DoNotOptimize(strings.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_AsciiRuns_64MiB)->Unit(benchmark::kMillisecond);

void BM_Utf16Runs_64MiB(benchmark::State& state) {
  const auto& data = mixed_data();
  std::vector<std::string> strings;
  std::vector<ulong64> offsets;
  for (auto _ : state) {
    find_utf16_strings_at(data.data(), static_cast<uint32>(data.size()), 4, &strings, &offsets, 0, false);
    benchmark::DoNotOptimize(strings.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_Utf16Runs_64MiB)->Unit(benchmark::kMillisecond);

void BM_KeywordUtf16_64MiB(benchmark::State& state) {
  const auto& data = mixed_data();
  std::vector<uint32> hits;
  for (auto _ : state) {
    find_keyword_utf16("system32", data.data(), static_cast<uint32>(data.size()), &hits, 0, false);
    benchmark::DoNotOptimize(hits.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_KeywordUtf16_64MiB)->Unit(benchmark::kMillisecond);

}  // namespace
