// The data pump: an attribute's data streamed through its runs into a sink,
// for a plain run ($MFT's own data), a sparse file and a compressed file of
// the kit's default volume.
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/bench_fixture.h"
#include "ntfs/attribute_pump.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"

namespace {

const std::string& volume() { return bench_volume("/tmp/quor-pump-bench.img"); }

// Entry 0 is $MFT; 69 and 72 are /sparse.bin and /compressed/longer.bin.
void pump(benchmark::State& state, ulong64 inode) {
  CNtfs* engine = nullptr;
  if (!open_ntfs_image(volume().c_str(), 0, engine, false, false)) {
    state.SkipWithError("fixture volume did not open");
    return;
  }
  std::vector<byte> rec;
  bool torn = false;
  const byte* attr = nullptr;
  attribute_layout layout;
  if (!engine->read_mft_record_to_vector(rec, torn, inode) ||
      !find_attribute_by_name(rec.data(), static_cast<uint32>(rec.size()), ATTR_DATA, attr, nullptr, 0) ||
      !layout.set_attribute(attr, load_u32(attr, AH_LENGTH))) {
    state.SkipWithError("no data attribute");
    delete engine;
    return;
  }
  ulong64 sum = 0;
  for (auto _ : state) {
    ulong64 delivered = 0;
    pump_attribute_data(*engine, layout, 0, PUMP_UNBOUNDED,
                        [&](const byte* data, uint32 n) {
                          sum += data[n - 1];
                          return true;
                        },
                        delivered);
    state.SetBytesProcessed(state.bytes_processed() + static_cast<int64_t>(delivered));
  }
  benchmark::DoNotOptimize(sum);
  delete engine;
}

void BM_PumpPlainRun(benchmark::State& state) { pump(state, 0); }
void BM_PumpSparse(benchmark::State& state) { pump(state, 69); }
void BM_PumpCompressed(benchmark::State& state) { pump(state, 72); }

}  // namespace

BENCHMARK(BM_PumpPlainRun)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PumpSparse)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PumpCompressed)->Unit(benchmark::kMicrosecond);
