// The directory walker's bodyfile over a whole volume against The Sleuth
// Kit's `fls -r -m C:` on the same volume, in one run. The volume is named
// by QUOR_BENCH_VOLUME (bench/make-bench-volume.sh makes one); both write to
// /dev/null. bench/walk-vs-fls.sh runs this and states the ratio.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/user_ctx.h"
#include "examine/walk_engine.h"

namespace {

std::string volume() {
  const char* v = std::getenv("QUOR_BENCH_VOLUME");
  return v != nullptr ? v : "";
}

void BM_WalkerBodyfile(benchmark::State& state) {
  const std::string image = volume();
  if (image.empty()) {
    state.SkipWithError("QUOR_BENCH_VOLUME is not set");
    return;
  }
  for (auto _ : state) {
    std::vector<std::string> args = {"quor", "-image", image, "-bodyfile", "-quiet"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    user_ctx ctx;
    if (ctx.parse_cmdline(static_cast<int>(argv.size()), argv.data()) != 0) {
      state.SkipWithError("the volume does not open");
      return;
    }
    std::ofstream out("/dev/null");
    benchmark::DoNotOptimize(walk_engine_run(out, ctx));
  }
}
BENCHMARK(BM_WalkerBodyfile)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

void BM_FlsBodyfile(benchmark::State& state) {
  const std::string image = volume();
  if (image.empty()) {
    state.SkipWithError("QUOR_BENCH_VOLUME is not set");
    return;
  }
  const std::string cmd = "fls -r -m C: '" + image + "' > /dev/null";
  for (auto _ : state) {
    if (std::system(cmd.c_str()) != 0) {
      state.SkipWithError("fls failed");
      return;
    }
  }
}
BENCHMARK(BM_FlsBodyfile)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace
