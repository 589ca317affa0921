#pragma once
// Rewrites the run list (and data sizes) of $MFT's own $DATA in a copy of a
// kit volume: the tests build an $MFT split where they want it, or one that
// claims far more than the image holds.
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "ntfs/mft_record.h"
#include "ntfs/ntfs_structs.h"
#include "tests/support/fixture.h"
#include "utils/byte_order.h"
#include "utils/types.h"

namespace quor_test {

inline void read_at(const std::string& path, ulong64 pos, std::vector<byte>& out) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(pos));
  in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
}

inline void write_at(const std::string& path, ulong64 pos, const std::vector<byte>& bytes) {
  std::fstream io(path, std::ios::in | std::ios::out | std::ios::binary);
  io.seekp(static_cast<std::streamoff>(pos));
  io.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The boot sector's total-sectors field (8 bytes at 0x28): a volume that
// claims far more than its image holds.
inline void rewrite_total_sectors(const std::string& path, ulong64 sectors) {
  std::vector<byte> field(8);
  store_u64(field.data(), sectors);
  write_at(path, 0x28, field);
}

// Little-endian bytes of `value`, as few as hold it as a signed number.
inline std::vector<byte> run_field(long long value) {
  std::vector<byte> out;
  do {
    out.push_back(static_cast<byte>(value & 0xFF));
    value >>= 8;
  } while (!((value == 0 && (out.back() & 0x80) == 0) || (value == -1 && (out.back() & 0x80) != 0)));
  return out;
}

// A run given with this LCN is sparse: no clusters behind it.
const ulong64 SPARSE_RUN = ~0ULL;

// The offset of the record's first attribute of `type` ($DATA unless told),
// or of the one `nth` places after it among those of that type; 0 when
// there is none or it is resident.
inline uint32 nonresident_data_offset(const std::vector<byte>& rec, uint32 type = ATTR_DATA, uint32 nth = 0) {
  uint32 offset = load_u16(&rec[FRH_FIRST_ATTRIBUTE]);
  while (offset + 8 <= 1024 && (load_u32(&rec[offset]) != type || nth-- != 0)) {
    const uint32 length = load_u32(&rec[offset + 4]);
    if (load_u32(&rec[offset]) == 0xFFFFFFFF || length == 0) return 0;
    offset += length;
  }
  if (offset + AH_NON_RESIDENT_SIZE > 1024 || rec[offset + AH_NON_RESIDENT] == 0) return 0;
  return offset;
}

// The record (1 KiB) at `pos` gets the three sizes of its non-resident $DATA.
inline bool rewrite_data_sizes(const std::string& path, ulong64 pos, ulong64 allocated, ulong64 data,
                               ulong64 initialized) {
  std::vector<byte> rec(1024);
  read_at(path, pos, rec);
  apply_update_sequence(rec.data(), 1024);
  const uint32 offset = nonresident_data_offset(rec);
  if (offset == 0) return false;
  store_u64(&rec[offset + AH_ALLOCATED_SIZE], allocated);
  store_u64(&rec[offset + AH_DATA_SIZE], data);
  store_u64(&rec[offset + AH_INITIALIZED_SIZE], initialized);
  if (!protect_update_sequence(rec.data(), 1024)) return false;
  write_at(path, pos, rec);
  return true;
}

// Record 0 at `mft_pos` (1 KiB; or any record with a non-resident $DATA)
// gets $DATA runs (cluster count, LCN or SPARSE_RUN) and, when not 0, the
// data size and allocated size `size`. False when the record has no
// non-resident $DATA or no room. With `type`, the first non-resident
// attribute of that type is rewritten instead; with `nth`, the one `nth`
// places after it.
inline bool rewrite_mft_runs(const std::string& path, ulong64 mft_pos,
                             const std::vector<std::pair<ulong64, ulong64>>& runs, ulong64 size,
                             uint32 type = ATTR_DATA, uint32 nth = 0) {
  std::vector<byte> rec(1024);
  read_at(path, mft_pos, rec);
  apply_update_sequence(rec.data(), 1024);
  std::vector<byte> pairs;
  long long last_lcn = 0;
  for (const auto& r : runs) {
    std::vector<byte> length = run_field(static_cast<long long>(r.first));
    std::vector<byte> delta;
    if (r.second != SPARSE_RUN) {
      delta = run_field(static_cast<long long>(r.second) - last_lcn);
      last_lcn = static_cast<long long>(r.second);
    }
    pairs.push_back(static_cast<byte>(delta.size() << 4 | length.size()));
    pairs.insert(pairs.end(), length.begin(), length.end());
    pairs.insert(pairs.end(), delta.begin(), delta.end());
  }
  pairs.push_back(0);

  const uint32 offset = nonresident_data_offset(rec, type, nth);
  if (offset == 0) return false;
  const uint32 length = load_u32(&rec[offset + 4]);
  const uint32 start = load_u16(&rec[offset + AH_MAPPING_PAIRS]);
  const uint32 wanted = (start + static_cast<uint32>(pairs.size()) + 7) & ~7u;
  const uint32 in_use = load_u32(&rec[24]);
  if (wanted > length) {
    // The attributes after $DATA move up to make room.
    const uint32 grow = wanted - length;
    if (in_use + grow > 1024 - 8) return false;
    std::memmove(&rec[offset + wanted], &rec[offset + length], in_use - (offset + length));
    store_u32(&rec[offset + 4], wanted);
    store_u32(&rec[24], in_use + grow);
  }
  std::memset(&rec[offset + start], 0, load_u32(&rec[offset + 4]) - start);
  std::memcpy(&rec[offset + start], pairs.data(), pairs.size());
  ulong64 clusters = 0;
  for (const auto& r : runs) clusters += r.first;
  store_u64(&rec[offset + AH_LAST_VCN], clusters - 1);
  if (size != 0) {
    store_u64(&rec[offset + AH_ALLOCATED_SIZE], size);
    store_u64(&rec[offset + AH_DATA_SIZE], size);
    store_u64(&rec[offset + AH_INITIALIZED_SIZE], size);
  }
  if (!protect_update_sequence(rec.data(), 1024)) return false;
  write_at(path, mft_pos, rec);
  return true;
}

// default.img (24 MiB, 4 KiB clusters, 1 KiB records) made to claim far more
// than it holds: its boot sector 2^40 sectors, and its $MFT's own runs
// (`real`, as (clusters, lcn)) other than the image has them: the last run
// grown to 2^32 - 1 clusters, a run of as many past the image's end after
// the real ones, ten clusters of the first run (entries 600 to 639, files
// and free entries) moved past the image's end with the runs after them
// still held, the same ten clusters a hole (a sparse run) with the runs
// after it held, or four billion clusters past the image's end after the
// real runs and then one cluster the image holds. `entries` is the count
// the image gives room for; the entries from `missing.first` up to (not
// including) `missing.second` lie in clusters it does not hold.
struct mft_claim {
  const char* what;
  std::vector<std::pair<ulong64, ulong64>> runs;
  ulong64 entries;
  std::pair<ulong64, ulong64> missing;
};

inline std::vector<mft_claim> mft_claims_past_default_img(const std::vector<std::pair<ulong64, ulong64>>& real) {
  const ulong64 image_clusters = (24u << 20) / 4096;
  const ulong64 claim = 0xFFFFFFFFull;
  const ulong64 past = 1ull << 33;
  const ulong64 whole = real[0].first + real[1].first;
  return {
      {"last run grown", {real[0], {claim, real[1].second}}, 4 * (real[0].first + image_clusters - real[1].second),
       {0, 0}},
      {"a run past the image's end", {real[0], real[1], {claim, past}}, 4 * whole, {0, 0}},
      {"a run past the image's end between runs the image holds",
       {{150, real[0].second}, {10, past}, {real[0].first - 160, real[0].second + 160}, real[1]},
       4 * whole,
       {4 * 150, 4 * 160}},
      {"a hole between runs the image holds",
       {{150, real[0].second}, {10, SPARSE_RUN}, {real[0].first - 160, real[0].second + 160}, real[1]},
       4 * whole,
       {4 * 150, 4 * 160}},
      {"four billion clusters past the image's end before a cluster the image holds",
       {real[0], real[1], {claim, past}, {1, real[0].second}},
       4 * image_clusters,
       {4 * whole, ~0ull}},
  };
}

// The copy `name` of default.img damaged as `c` says; the clusters its runs
// claim in `clusters`. "" when it cannot be made.
inline std::string copy_with_mft_claim(const std::string& name, ulong64 mft_pos, const mft_claim& c,
                                       ulong64& clusters) {
  const std::string copy = copy_fixture("default.img", name);
  clusters = 0;
  for (const auto& r : c.runs) clusters += r.first;
  if (copy.empty() || !rewrite_mft_runs(copy, mft_pos, c.runs, clusters * 4096)) return "";
  rewrite_total_sectors(copy, 1ull << 40);
  return copy;
}

}  // namespace quor_test
