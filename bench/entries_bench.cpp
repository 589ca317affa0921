// One large directory's entries: the valid/slack merge (the compact listing
// the tool uses, and the map merge), the CSV writer, and the CSV time text
// alone against the time library's formatting.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <ostream>
#include <streambuf>
#include <string>

#include "app/dir_listing.h"
#include "app/entry_output.h"
#include "app/merge_entries.h"
#include "app/time_digits.h"
#include "time/time_format.h"
#include "time/zq_time.h"
#include "app/user_ctx.h"
#include "utils/byte_order.h"

namespace {

const ulong64 k_base_time = 132224078456780000ull;

INDX_ENTRY_INFO make_entry(ulong64 entry, const std::string& name, ulong64 time, bool valid) {
  INDX_ENTRY_INFO e;
  store_u64(e.entry, entry | (1ull << 48));
  store_u64(e.entry + 16, 64 | (1ull << 48));
  for (int i = 0; i < 4; ++i) store_u64(e.entry + 24 + 8 * i, time + static_cast<ulong64>(i));
  store_u64(e.entry + 56, 4096);
  store_u64(e.entry + 64, 1234);
  store_u32(e.entry + 72, 0x20);
  e.name = name;
  e.valid = valid ? 1 : 0;
  e.file_offset = entry * 104;
  return e;
}

// A directory of `n` live files and, in slack, a stale copy of every third
// one and a deleted file for every third one.
void make_directory(int n, indx_attribute_entries& out) {
  out.type = 0xA0;
  for (int i = 0; i < n; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "file-%06d.txt", i);
    INDX_ENTRY_INFO e = make_entry(100 + i, name, k_base_time + 1000 * i, true);
    std::string key;
    make_entry_key(key, 64, e.name);
    out.valid.emplace(key, e);
    if (i % 3 == 0) out.carved.emplace(64, make_entry(100 + i, name, k_base_time + 1000 * i - 7, false));
    if (i % 3 == 1) {
      std::snprintf(name, sizeof name, "gone-%06d.txt", i);
      out.carved.emplace(64, make_entry(200000 + i, name, k_base_time + 1000 * i, false));
    }
  }
}

struct null_buffer : std::streambuf {
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

void BM_MergeDirectory(benchmark::State& state) {
  indx_attribute_entries dir;
  make_directory(static_cast<int>(state.range(0)), dir);
  size_t entries = 0;
  for (auto _ : state) {
    std::vector<indx_attribute_entries> attrs(1, dir);
    inode_indx_mmap all;
    string_indx_map nodup;
    merge_dir_entries(all, nodup, attrs, 1 << 20);
    entries = all.size();
    benchmark::DoNotOptimize(nodup.size());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * entries));
}
BENCHMARK(BM_MergeDirectory)->Arg(20000);

// The listing as the work loop fills it: the parser's maps taken in once.
void BM_MergeDirectoryListing(benchmark::State& state) {
  indx_attribute_entries dir;
  make_directory(static_cast<int>(state.range(0)), dir);
  size_t rows = 0;
  dir_listing listing;
  for (auto _ : state) {
    listing.clear();
    const size_t index = listing.add_attribute(0xA0);
    listing.parsed(index) = dir;
    listing.take_parsed(index);
    listing.merge(1 << 20);
    rows = listing.row_count();
    benchmark::DoNotOptimize(rows);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * rows));
}
BENCHMARK(BM_MergeDirectoryListing)->Arg(20000);

// A day and a bit later, within thirty years: every time stays valid.
ulong64 next_time(ulong64 t) {
  t += 864000000123ull;
  return t > k_base_time + 10000 * 864000000000ull ? k_base_time : t;
}

// The four date and time columns of a CSV line, digit by digit...
void BM_CsvTimeText(benchmark::State& state) {
  std::string line;
  ulong64 t = k_base_time;
  for (auto _ : state) {
    line.clear();
    for (int i = 0; i < 4; ++i) {
      systemtime_ex st;
      if (filetime_calendar(t + static_cast<ulong64>(i) * 7919, st)) {
        append_date_digits(line, st);
        line += ", ";
        append_clock_digits(line, st, true);
        line += ',';
      }
    }
    benchmark::DoNotOptimize(line.data());
    t = next_time(t);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 4);
}
BENCHMARK(BM_CsvTimeText);

// ...and through a full time value and the library's formatter, as before.
void BM_CsvTimeTextThroughTimeValue(benchmark::State& state) {
  std::string line, date, clock;
  ulong64 t = k_base_time;
  for (auto _ : state) {
    line.clear();
    for (int i = 0; i < 4; ++i) {
      zq::format_time_ms(date, clock, zq::time(t + static_cast<ulong64>(i) * 7919, zq::type_filetime), false);
      line += date + ", " + clock + ",";
    }
    benchmark::DoNotOptimize(line.data());
    t = next_time(t);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 4);
}
BENCHMARK(BM_CsvTimeTextThroughTimeValue);

void BM_WriteCsv(benchmark::State& state) {
  indx_attribute_entries dir;
  make_directory(static_cast<int>(state.range(0)), dir);
  std::vector<indx_attribute_entries> attrs(1, dir);
  inode_indx_mmap all;
  string_indx_map nodup;
  merge_dir_entries(all, nodup, attrs, 1 << 20);
  user_ctx ctx;
  ctx.csv = true;
  ctx.path = "\\Users\\someone\\Documents\\";
  null_buffer sink;
  std::ostream out(&sink);
  for (auto _ : state) {
    ctx.header_pending = true;
    for (const auto& kv : all) write_indx_entry(out, kv.second, ctx);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * all.size()));
}
BENCHMARK(BM_WriteCsv)->Arg(20000);

}  // namespace
