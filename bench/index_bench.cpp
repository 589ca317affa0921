// Speed of INDX record parsing with slack carving: records shaped like a
// busy directory's (live entries in front, older entries in the slack).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "ntfs/index_node.h"
#include "utils/byte_order.h"

namespace {

const uint64 k_time = 130645440000000000ULL;  // 2015-01-01

uint32 put_entry(std::vector<byte>& r, uint32 off, uint64 ref, uint64 parent, const std::string& name) {
  const uint32 len = (82 + 2 * static_cast<uint32>(name.size()) + 7) & ~7u;
  byte* p = &r[off];
  store_u64(p, ref);
  store_u16(p + 8, static_cast<uint16>(len));
  store_u16(p + 10, static_cast<uint16>(66 + 2 * name.size()));
  store_u64(p + 16, parent);
  for (int t = 0; t < 4; ++t) store_u64(p + 24 + 8 * t, k_time + ref * 10000000ULL + t);
  store_u64(p + 64, 1000 + ref);
  store_u32(p + 72, 0x20);
  p[80] = static_cast<byte>(name.size());
  p[81] = 1;
  for (size_t i = 0; i < name.size(); ++i) store_u16(p + 82 + 2 * i, static_cast<uint16>(name[i]));
  return len;
}

// Record i: 24 live entries, the end record, then 12 older entries.
std::vector<byte> make_record(uint64 i, uint64 dir) {
  std::vector<byte> r(4096, 0);
  std::copy_n("INDX", 4, r.begin());
  const uint32 node = 24;
  store_u32(&r[node], 16);
  uint32 off = node + 16;
  for (int k = 0; k < 24; ++k)
    off += put_entry(r, off, 100 + i * 64 + k, dir, "document-" + std::to_string(i * 64 + k) + ".txt");
  store_u16(&r[off + 8], 16);
  store_u16(&r[off + 12], 2);
  store_u32(&r[node + 4], off + 16 - node);
  store_u32(&r[node + 8], 4096 - node);
  off += 16;
  for (int k = 0; k < 12 && off + 200 < 4096; ++k)
    off += put_entry(r, off, 50000 + i * 64 + k, dir, "old-report-" + std::to_string(i * 64 + k) + ".doc");
  return r;
}

void BM_ParseIndxRecordsWithSlack(benchmark::State& state) {
  const uint64 dir = 1234;
  std::vector<std::vector<byte>> records;
  for (uint64 i = 0; i < 256; ++i) records.push_back(make_record(i, dir));
  string_indx_map valid;
  inode_indx_mmap carved;
  size_t n = 0;
  for (auto _ : state) {
    // A directory's collections live for its records, then start afresh.
    if (n % 64 == 0) {
      valid.clear();
      carved.clear();
    }
    const std::vector<byte>& r = records[n % records.size()];
    parse_indx_buffer_w_carve(valid, carved, dir, r.data(), 4096, 4096 * (n % 64));
    ++n;
  }
  state.SetItemsProcessed(static_cast<int64_t>(n));
  // What one record yields, measured, so the figure is not of empty work.
  string_indx_map one_valid;
  inode_indx_mmap one_carved;
  parse_indx_buffer_w_carve(one_valid, one_carved, dir, records[0].data(), 4096, 0);
  state.counters["live_per_record"] = benchmark::Counter(static_cast<double>(one_valid.size()));
  state.counters["carved_per_record"] = benchmark::Counter(static_cast<double>(one_carved.size()));
}
BENCHMARK(BM_ParseIndxRecordsWithSlack);

}  // namespace
