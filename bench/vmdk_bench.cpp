// Reading a whole virtual disk through a VMDK snapshot chain: a 64 MiB base
// with every grain stored and a child holding every other grain, read in
// 1 MiB pieces through the disk handle, as the engine reads a volume.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "disk/disk_handle.h"
#include "utils/byte_order.h"

namespace {

const uint32 grain_sectors = 128;  // 64 KiB, as VMware and qemu make them
const uint32 entries = 512;
const uint64 capacity = 64ull << 20;

// Writes a monolithic sparse extent holding the grains `keep` accepts.
std::string make_extent(const std::string& path, const char* cid, const char* parent, bool (*keep)(uint32)) {
  const uint32 grains = static_cast<uint32>(capacity / (grain_sectors * 512));
  const uint32 tables = (grains + entries - 1) / entries;
  const uint32 dir = 3, first_table = dir + 1, overhead = first_table + tables * entries * 4 / 512;
  std::vector<byte> meta(overhead * 512ull, 0);
  store_u32(&meta[0], 0x564D444B);
  store_u32(&meta[8], 3);
  store_u64(&meta[12], capacity / 512);
  store_u64(&meta[20], grain_sectors);
  store_u64(&meta[28], 1);
  store_u64(&meta[36], 2);
  store_u32(&meta[44], entries);
  store_u64(&meta[56], dir);
  store_u64(&meta[64], overhead);
  std::string text = std::string("CID=") + cid + "\nparentCID=" + parent + "\n";
  std::copy(text.begin(), text.end(), meta.begin() + 512);
  for (uint32 t = 0; t < tables; ++t) store_u32(&meta[dir * 512 + 4 * t], first_table + t * entries * 4 / 512);
  uint32 next = overhead;
  for (uint32 g = 0; g < grains; ++g) {
    if (!keep(g)) continue;
    store_u32(&meta[first_table * 512ull + 4ull * g], next);
    next += grain_sectors;
  }
  int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  if (fd == -1 || ::write(fd, meta.data(), meta.size()) != static_cast<ssize_t>(meta.size())) std::abort();
  std::vector<byte> grain(grain_sectors * 512ull, 0x5A);
  for (uint32 g = 0; g < grains; ++g)
    if (keep(g) && ::write(fd, grain.data(), grain.size()) != static_cast<ssize_t>(grain.size())) std::abort();
  ::close(fd);
  return path;
}

void BM_ReadChain(benchmark::State& state) {
  char dir[] = "/tmp/quor-vmdk-bench-XXXXXX";
  if (!::mkdtemp(dir)) std::abort();
  std::vector<std::string> chain = {
      make_extent(std::string(dir) + "/base.vmdk", "0000000b", "ffffffff", [](uint32) { return true; }),
      make_extent(std::string(dir) + "/child.vmdk", "0000000c", "0000000b", [](uint32 g) { return g % 2 == 0; })};
  disk_handle disk(chain, false, false);
  if (!disk.m_is_open) std::abort();
  std::vector<byte> buf(1 << 20);
  for (auto _ : state) {
    for (uint64 off = 0; off < capacity; off += buf.size()) {
      uint32 len = static_cast<uint32>(buf.size());
      if (!disk.read(buf.data(), len, off)) std::abort();
      benchmark::DoNotOptimize(buf.data());
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * capacity));
  for (const std::string& f : chain) ::unlink(f.c_str());
  ::rmdir(dir);
}
BENCHMARK(BM_ReadChain)->Unit(benchmark::kMillisecond);

}  // namespace
