// Walking the MFT: every record read and summarised, in entry order (served
// from the engine's read-ahead window) and in a scattered order (one disk
// read per record), on the kit's big-directory volume.
#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/bench_fixture.h"
#include "ntfs/ntfs.h"

namespace {

const std::string& volume() { return bench_volume("/tmp/quor-mft-bench.img"); }

void walk(benchmark::State& state, bool scattered) {
  CNtfs* engine = nullptr;
  if (!open_ntfs_image(volume().c_str(), 0, engine, false, false)) {
    state.SkipWithError("fixture volume did not open");
    return;
  }
  std::vector<ulong64> order(engine->get_inode_count());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  if (scattered) std::shuffle(order.begin(), order.end(), std::mt19937(7));
  std::vector<byte> buf(engine->m_mft_record_alloc_size);
  INODE_STATS stats;
  size_t parsed = 0;
  for (auto _ : state) {
    engine->invalidate_read_cache();
    for (ulong64 inode : order) {
      byte* p = buf.data();
      ulong64 pos = 0;
      int size = static_cast<int>(buf.size());
      if (engine->read_mft_record(inode, p, pos, size, false) && engine->parse_file_record(p, stats)) ++parsed;
    }
  }
  benchmark::DoNotOptimize(parsed);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * order.size()));
  delete engine;
}

void BM_MftWalkInOrder(benchmark::State& state) { walk(state, false); }
void BM_MftWalkScattered(benchmark::State& state) { walk(state, true); }

}  // namespace

BENCHMARK(BM_MftWalkInOrder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MftWalkScattered)->Unit(benchmark::kMillisecond);
