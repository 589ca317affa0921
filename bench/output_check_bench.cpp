// What the guarded opener costs each output: one open_output of a file
// checked against a source set, descriptor_reach on a file already open,
// and the walker's copies, each into a plain folder and into folders
// on two ntfs-3g mounts: one whose mount table entry names its image (the
// table is enough) and one of an image named with a comma (ntfs-3g cuts the
// name there, so the process serving the mount must be found). The mounts
// are named by QUOR_BENCH_FUSE and QUOR_BENCH_FUSE_COMMA (a folder on each,
// written to); bench/output-check.sh makes them and runs this. The source
// is the kit's default volume, decompressed into a temporary folder of the
// run's own, which is the plain folder too. With the source open as a
// volume, each output is also asked of it: into the plain folder, the
// first ntfs-3g mount (another volume's, which the check reads records
// for) and a view of it that numbers files its own way (QUOR_BENCH_VIEW,
// mergerfs, in whose folders the check looks names up). The walker's copies
// go into that view too, from QUOR_BENCH_SOURCE where it is set (a volume
// whose root holds many files, bench/walker-view-cost.sh makes one).
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/user_ctx.h"
#include "bench/bench_fixture.h"
#include "examine/walk_engine.h"
#include "ntfs/ntfs.h"
#include "utils/output_file.h"

namespace {

enum class place { plain, fuse, fuse_comma, view };

// The temporary folder of the run, removed with everything in it when the
// program ends.
struct scratch_folder {
  std::string path;
  scratch_folder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/quor-output-check.XXXXXX";
    if (::mkdtemp(&pattern[0]) != nullptr) path = pattern;
  }
  ~scratch_folder() {
    if (!path.empty()) remove_tree(path);
  }
  scratch_folder(const scratch_folder&) = delete;
  scratch_folder& operator=(const scratch_folder&) = delete;

  static void remove_tree(const std::string& dir) {
    if (std::system(("rm -rf '" + dir + "'").c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", dir.c_str());
  }
};

const scratch_folder& scratch() {
  static const scratch_folder folder;
  return folder;
}

// QUOR_BENCH_SOURCE names another image to read (a volume whose root holds
// many files, whose index the check reads).
const std::string& source_image() {
  static const std::string image =
      std::getenv("QUOR_BENCH_SOURCE") != nullptr ? std::string(std::getenv("QUOR_BENCH_SOURCE"))
      : scratch().path.empty()                    ? std::string("/nonexistent")
                                                  : bench_volume((scratch().path + "/default.img").c_str());
  return image;
}

// The folder outputs go to; "" with `why` set when there is none.
std::string folder_of(place where, std::string& why) {
  if (where == place::plain) {
    if (scratch().path.empty()) why = "no temporary folder";
    return scratch().path;
  }
  const char* name = where == place::fuse         ? "QUOR_BENCH_FUSE"
                     : where == place::fuse_comma ? "QUOR_BENCH_FUSE_COMMA"
                                                  : "QUOR_BENCH_VIEW";
  const char* dir = std::getenv(name);
  if (dir == nullptr || *dir == '\0') {
    why = std::string(name) + " is not set (bench/output-check.sh sets it)";
    return "";
  }
  return dir;
}

// What stands for the source image, as a run holding it open has it; the
// image is held open while the set is in use, as a run holds its source.
struct source_set {
  int fd = -1;
  uni::file_identities ids;
  source_set() {
    fd = ::open(source_image().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 && !uni::identities_of_source(fd, ids)) ids.clear();
  }
  ~source_set() {
    if (fd >= 0) ::close(fd);
  }
  source_set(const source_set&) = delete;
  source_set& operator=(const source_set&) = delete;
};

// The folder of `where`, beside the source open in `sources`; "" once the
// benchmark is skipped, saying why.
std::string folder_beside(benchmark::State& state, place where, const source_set& sources) {
  std::string why;
  const std::string folder = folder_of(where, why);
  if (!folder.empty() && !sources.ids.empty()) return folder;
  state.SkipWithError(folder.empty() ? why.c_str() : "the source image did not open");
  return std::string();
}

// open_output of the file `path`, that is none of `sources`, as every
// report, log and copy of a run is opened; the file goes at the end.
void open_outputs(benchmark::State& state, const std::string& path, const uni::file_identities& sources) {
  for (auto _ : state) {
    int fd = -1;
    if (uni::open_output(fd, path, sources, uni::output_open::truncate) != uni::output_result::opened) {
      state.SkipWithError("open_output did not open the file");
      break;
    }
    ::close(fd);
  }
  ::unlink(path.c_str());
}

void BM_OpenOutput(benchmark::State& state, place where) {
  const source_set sources;
  const std::string folder = folder_beside(state, where, sources);
  if (!folder.empty()) open_outputs(state, folder + "/open-output-bench.csv", sources.ids);
}
BENCHMARK_CAPTURE(BM_OpenOutput, plain, place::plain)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_OpenOutput, fuse, place::fuse)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_OpenOutput, fuse_comma, place::fuse_comma)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_OpenOutput, view, place::view)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The same with the source open as a volume, as a run holds it: every
// output is asked of the volume too.
void BM_OpenOutputBesideVolume(benchmark::State& state, place where) {
  CNtfs* volume = nullptr;
  uni::file_identities ids;
  std::string why;
  const std::string folder = folder_of(where, why);
  if (folder.empty() || !open_ntfs_image(source_image().c_str(), 0, volume, false, false) ||
      !volume->source_identities(ids)) {
    state.SkipWithError(folder.empty() ? why.c_str() : "the source volume did not open");
    delete volume;
    return;
  }
  open_outputs(state, folder + "/open-output-volume-bench.csv", ids);
  delete volume;
}
BENCHMARK_CAPTURE(BM_OpenOutputBesideVolume, plain, place::plain)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_OpenOutputBesideVolume, fuse, place::fuse)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_OpenOutputBesideVolume, view, place::view)->Unit(benchmark::kMicrosecond)->UseRealTime();

// descriptor_reach on a file already open: the walk of what it is stored
// on that the check of a standard stream makes too once the source is open.
void BM_DescriptorReach(benchmark::State& state, place where) {
  const source_set sources;
  const std::string folder = folder_beside(state, where, sources);
  if (folder.empty()) return;
  const std::string path = folder + "/descriptor-bench.csv";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    state.SkipWithError("the output file did not open");
    return;
  }
  std::string reason;
  for (auto _ : state) {
    if (uni::descriptor_reach(fd, sources.ids, reason) != uni::reach_answer::clear) {
      state.SkipWithError("a file beside nothing of the source was taken for it");
      break;
    }
  }
  ::close(fd);
  ::unlink(path.c_str());
}
BENCHMARK_CAPTURE(BM_DescriptorReach, plain, place::plain)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_DescriptorReach, fuse, place::fuse)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_DescriptorReach, fuse_comma, place::fuse_comma)->Unit(benchmark::kMicrosecond)->UseRealTime();

size_t files_in(const std::string& dir) {
  size_t n = 0;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') ++n;
    ::closedir(d);
  }
  return n;
}

// The walker over the entries [1000, 1000 + range) of the source volume
// (a third of the default volume's are files; of a volume whose root holds
// many files made in a row, every one), each time into a new copy folder,
// or with no copies at all: the time of a walk without copies is what the
// copies add to. Reported: the copies one walk makes and the time of the
// walk shared among them.
void walker_copies(benchmark::State& state, place where, bool copy) {
  std::string why;
  const std::string folder = folder_of(where, why);
  if (folder.empty()) {
    state.SkipWithError(why.c_str());
    return;
  }
  double seconds = 0;
  size_t copies = 0;
  int walk = 0;
  for (auto _ : state) {
    std::vector<std::string> args = {"quor",      "-image", source_image(), "-csv",
                                     "-mftstart", "1000",   "-mftrange",    std::to_string(state.range(0))};
    const std::string dir = folder + "/copies-" + std::to_string(::getpid()) + "-" + std::to_string(++walk);
    if (copy) {
      args.push_back("-action_copy_files");
      args.push_back(dir);
    }
    args.push_back("-quiet");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    std::ofstream out("/dev/null");
    const auto start = std::chrono::steady_clock::now();
    user_ctx ctx;
    if (ctx.parse_cmdline(static_cast<int>(argv.size()), argv.data()) != 0) {
      state.SkipWithError("the volume does not open");
      return;
    }
    benchmark::DoNotOptimize(walk_engine_run(out, ctx));
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!copy) continue;
    state.PauseTiming();
    const size_t made = files_in(dir);
    scratch_folder::remove_tree(dir);
    state.ResumeTiming();
    if (made == 0) {
      state.SkipWithError("the walk made no copies");
      return;
    }
    copies += made;
  }
  const double walks = static_cast<double>(state.iterations());
  state.counters["copies"] = static_cast<double>(copies) / walks;
  if (copies > 0) state.counters["ms_per_copy"] = seconds * 1000 / static_cast<double>(copies);
}

void BM_WalkerCopies(benchmark::State& state, place where) { walker_copies(state, where, true); }
void BM_WalkerNoCopies(benchmark::State& state) { walker_copies(state, place::plain, false); }

// 44 and 264: the walks of that many copies from a root of many files.
BENCHMARK(BM_WalkerNoCopies)
    ->Arg(200)
    ->Arg(44)
    ->Arg(264)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_WalkerCopies, plain, place::plain)
    ->Arg(200)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_WalkerCopies, fuse, place::fuse)
    ->Arg(200)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_WalkerCopies, fuse_comma, place::fuse_comma)
    ->Arg(200)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_WalkerCopies, view, place::view)
    ->Arg(44)
    ->Arg(264)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();

}  // namespace
