// MD5 over a 64 MiB buffer; compare the rate with `md5sum` on the same
// machine (e.g. `head -c 64M /dev/urandom > f; time md5sum f`).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "utils/md5.h"

namespace {

void BM_Md5_64MiB(benchmark::State& state) {
  std::vector<byte> data(64u << 20);
  std::mt19937 rng(1);
  for (auto& b : data) b = static_cast<byte>(rng());
  for (auto _ : state) {
    md5_context ctx;
    md5_update(&ctx, data.data(), static_cast<uint32>(data.size()));
    byte digest[16];
    md5_final(digest, &ctx);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_Md5_64MiB)->Unit(benchmark::kMillisecond);

}  // namespace
