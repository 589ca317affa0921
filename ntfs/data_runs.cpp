// Mapping-pairs decoding and the conversions between run forms.
#include "ntfs/data_runs.h"

#include <cstdio>
#include <map>

#include "ntfs/ntfs.h"
#include "ntfs/ntfs_structs.h"
#include "utils/byte_order.h"

run_record::run_record(ulong64 lcn_, uint32 num_clusters_, uint32 attribute_type_, const std::string& name_)
    : lcn(lcn_), lcn_offset(RUN_NOT_RECORDED), num_clusters(num_clusters_), attribute_type(attribute_type_),
      name(name_) {}

run_record::run_record(ulong64 lcn_, uint32 num_clusters_, uint32 attribute_type_,
                       const std::vector<byte>& run_bytes_, const std::string& trace)
    : lcn(lcn_), lcn_offset(RUN_NOT_RECORDED), num_clusters(num_clusters_), attribute_type(attribute_type_),
      name(trace), run_bytes(run_bytes_) {}

run_record::run_record(ulong64 lcn_, ulong64 lcn_offset_, uint32 num_clusters_, ulong64 vcn_,
                       uint32 attribute_type_, ulong64 run_offset_, const std::vector<byte>& run_bytes_,
                       const std::vector<byte>& next_bytes_, uint8 negative_offset_, const std::string& name_)
    : lcn(lcn_), lcn_offset(lcn_offset_), num_clusters(num_clusters_), vcn(vcn_), negative_offset(negative_offset_),
      attribute_type(attribute_type_), name(name_), run_offset(run_offset_), run_bytes(run_bytes_),
      next_bytes(next_bytes_) {}

run_record::run_record(ulong64 lcn_, ulong64 lcn_offset_, uint32 num_clusters_, ulong64 vcn_,
                       uint32 attribute_type_, uint8 negative_offset_, const std::string& name_)
    : lcn(lcn_), lcn_offset(lcn_offset_), num_clusters(num_clusters_), vcn(vcn_), negative_offset(negative_offset_),
      attribute_type(attribute_type_), name(name_) {}

run_record::run_record(const byte* value, uint32 length, uint32 attribute_type_, const std::string& name_)
    : resident(1), resident_size(length), attribute_type(attribute_type_), name(name_) {
  if (value && length) resident_data.assign(value, value + length);
}

void run_record::clear() { *this = run_record(); }

namespace {

// One run of a mapping-pairs list, checked against the list's bounds.
struct raw_run {
  uint32 header_length = 0;  // L
  uint32 offset_length = 0;  // F
  ulong64 length = 0;
  long64 offset = 0;  // sign-extended
  ulong64 offset_raw = 0;
  uint32 size = 0;  // 1 + L + F
};

// Reads the run at `pos`; false for a malformed run or one that passes `limit`.
// The terminating zero byte is reported as size 0.
bool read_run(const byte* base, uint64 limit, uint64 pos, raw_run& run) {
  run = raw_run();
  if (pos >= limit) return false;
  const byte h = base[pos];
  if (h == 0) return true;
  run.header_length = h & 0x0F;
  run.offset_length = h >> 4;
  // A run without length bytes is a run of 0 clusters: it moves the LCN (when
  // it has an offset) and the list goes on.
  if (run.header_length > 8 || run.offset_length > 8) return false;
  run.size = 1 + run.header_length + run.offset_length;
  if (!fits(limit, pos, run.size)) return false;
  for (uint32 i = 0; i < run.header_length; ++i) run.length |= static_cast<ulong64>(base[pos + 1 + i]) << (8 * i);
  for (uint32 i = 0; i < run.offset_length; ++i)
    run.offset_raw |= static_cast<ulong64>(base[pos + 1 + run.header_length + i]) << (8 * i);
  run.offset = static_cast<long64>(run.offset_raw);
  if (run.offset_length > 0 && run.offset_length < 8 && (run.offset_raw >> (8 * run.offset_length - 1)) & 1)
    run.offset = static_cast<long64>(run.offset_raw | (~0ULL << (8 * run.offset_length)));
  // A run longer than 2^32 clusters is no run of a real volume.
  return run.length <= 0xFFFFFFFFULL;
}

// lcn + offset, refusing results below zero or past 2^63.
bool add_offset(ulong64 lcn, long64 offset, ulong64& out) {
  if (offset < 0) {
    const ulong64 magnitude = 0 - static_cast<ulong64>(offset);
    if (magnitude > lcn) return false;
    out = lcn - magnitude;
  } else {
    if (static_cast<ulong64>(offset) > (1ULL << 62) || lcn > (1ULL << 62)) return false;
    out = lcn + static_cast<ulong64>(offset);
  }
  return true;
}

}  // namespace

bool decode_attribute_runs(const byte* attribute, std::vector<run_record>& out) {
  if (!attribute) return false;
  return decode_attribute_runs(attribute, load_u32(attribute, AH_LENGTH), out);
}

bool decode_attribute_runs(const byte* attribute, uint64 available, std::vector<run_record>& out) {
  if (!attribute || available < AH_NON_RESIDENT_SIZE) return false;
  uint64 limit = load_u32(attribute, AH_LENGTH);
  if (limit > available) limit = available;
  if (limit < AH_NON_RESIDENT_SIZE) return false;
  const uint32 type = load_u32(attribute, AH_TYPE);
  uint64 pos = load_u16(attribute, AH_MAPPING_PAIRS);
  ulong64 lcn = 0;
  ulong64 vcn = load_u64(attribute, AH_FIRST_VCN);
  raw_run run;
  while (true) {
    if (!read_run(attribute, limit, pos, run)) return false;
    if (run.size == 0) return true;
    ulong64 magnitude = 0;
    uint8 negative = 0;
    if (run.offset_length > 0) {
      if (!add_offset(lcn, run.offset, lcn)) return false;
      negative = run.offset < 0 ? 1 : 0;
      magnitude = negative ? 0 - static_cast<ulong64>(run.offset) : static_cast<ulong64>(run.offset);
    }
    std::vector<byte> bytes(attribute + pos, attribute + pos + run.size);
    const uint64 next_end = pos + run.size + 3 < limit ? pos + run.size + 3 : limit;
    std::vector<byte> next(attribute + pos + run.size, attribute + next_end);
    out.push_back(run_record(lcn, magnitude, static_cast<uint32>(run.length), vcn, type, pos, bytes, next, negative,
                             std::string()));
    vcn += run.length;
    pos += run.size;
  }
}

bool decode_mapping_pairs_bounded(const byte* pairs, uint64 length, std::vector<run_record>& out,
                                  uint32 attribute_type, bool clear) {
  if (!pairs) return false;
  ulong64 lcn = 0;
  ulong64 vcn = 0;
  if (clear) {
    out.clear();
  } else {
    for (auto it = out.rbegin(); it != out.rend(); ++it) {
      if (!it->resident && !it->is_sparse_lcn()) {
        lcn = it->lcn;
        break;
      }
    }
  }
  if (length == 0 || pairs[0] == 0) return false;
  uint64 pos = 0;
  raw_run run;
  char line[96];
  while (true) {
    if (!read_run(pairs, length, pos, run)) return false;
    if (run.size == 0) return true;
    std::string trace;
    std::snprintf(line, sizeof line, "\thdr: 0x%x, 0x%x byte length, 0x%x byte offset\n", pairs[pos],
                  run.header_length, run.offset_length);
    trace += line;
    std::snprintf(line, sizeof line, "\tnum clusters: 0x%x\n", static_cast<uint32>(run.length));
    trace += line;
    std::vector<byte> bytes(pairs + pos, pairs + pos + run.size);
    if (run.offset_length == 0) {
      run_record r(RUN_NOT_RECORDED, static_cast<uint32>(run.length), attribute_type, bytes, trace);
      r.vcn = vcn;
      out.push_back(r);
    } else {
      ulong64 next = 0;
      if (!add_offset(lcn, run.offset, next)) return false;
      const ulong64 magnitude = run.offset < 0 ? 0 - static_cast<ulong64>(run.offset) : run.offset;
      std::snprintf(line, sizeof line, run.offset < 0 ? "\tlcn: 0x%x - " : "\tlcn: 0x%x + ",
                    static_cast<uint32>(lcn));
      trace += line;
      std::snprintf(line, sizeof line, "0x%x = ", static_cast<uint32>(magnitude));
      trace += line;
      std::snprintf(line, sizeof line, "0x%x\n", static_cast<uint32>(next));
      trace += line;
      run_record r(next, static_cast<uint32>(run.length), attribute_type, bytes, trace);
      r.vcn = vcn;
      out.push_back(r);
      lcn = next;
    }
    vcn += run.length;
    pos += run.size;
  }
}

bool CNtfs::decode_mapping_pairs(const byte* pairs, std::vector<run_record>& out, uint32 attribute_type,
                                 bool clear) {
  // Without a length the list is bounded by the largest record it can lie in.
  return decode_mapping_pairs_bounded(pairs, m_mft_record_size ? m_mft_record_size : 1024, out, attribute_type,
                                      clear);
}

bool run_records_to_lcn_run_list(const std::vector<run_record>& runs, lcn_run_list& out) {
  for (const run_record& r : runs) {
    for (uint32 c = 0; c < r.num_clusters; ++c) {
      if (r.lcn_offset == 0)
        out.push_back(lcn_run_entry(0, r.vcn + c, true));
      else
        out.push_back(lcn_run_entry(r.lcn + c, r.vcn + c, false));
    }
  }
  return true;
}

bool run_records_to_data_runs(const std::vector<run_record>& runs, std::vector<data_run>& out) {
  for (size_t i = 0; i < runs.size(); ++i) {
    const run_record& r = runs[i];
    bool real = r.lcn_offset != 0;
    // A first run whose offset field is present but zero lies at LCN 0.
    if (!real && i == 0 && !r.run_bytes.empty() && r.run_bytes[0] > 15) real = true;
    out.push_back(real ? data_run(r.lcn, r.vcn, r.num_clusters, false) : data_run(0, r.vcn, r.num_clusters, true));
  }
  return true;
}

bool lookup_vcn_in_mapping_pairs(const byte* attribute, ulong64 vcn, ulong64& lcn, ulong64& clusters_left) {
  if (!attribute) return false;
  const uint32 limit = load_u32(attribute, AH_LENGTH);
  if (limit < AH_NON_RESIDENT_SIZE) return false;
  const ulong64 first = load_u64(attribute, AH_FIRST_VCN);
  const ulong64 last = load_u64(attribute, AH_LAST_VCN);
  if (vcn < first || vcn > last) return false;
  lcn = 0;
  uint64 pos = load_u16(attribute, AH_MAPPING_PAIRS);
  ulong64 start = first;
  raw_run run;
  while (true) {
    if (!read_run(attribute, limit, pos, run) || run.size == 0) return false;
    if (run.offset_length > 0 && !add_offset(lcn, run.offset, lcn)) return false;
    clusters_left = run.length;
    if (vcn >= start && vcn - start < run.length) {
      if (run.offset_length > 0)
        lcn += vcn - start;
      else
        lcn = 0;
      clusters_left -= vcn - start;
      return true;
    }
    start += run.length;
    pos += run.size;
  }
}

bool find_lcn_for_vcn(const std::vector<data_run>& runs, ulong64 vcn, uint32& index, ulong64& lcn) {
  lcn = 0;
  index = 0;
  for (size_t i = 0; i < runs.size(); ++i) {
    const data_run& r = runs[i];
    if (vcn >= r.vcn && vcn - r.vcn < r.num_clusters) {
      index = static_cast<uint32>(i);
      lcn = r.sparse ? 0 : r.lcn + (vcn - r.vcn);
      return true;
    }
  }
  return false;
}

ulong64 get_data_runs_size(const std::vector<data_run>& runs, uint32 unit, bool skip_sparse) {
  ulong64 clusters = 0;
  for (const data_run& r : runs)
    if (!(skip_sparse && r.sparse)) clusters += r.num_clusters;
  return clusters * unit;
}

namespace {

void rewrite_in_vcn_order(const std::map<ulong64, data_run>& by_vcn, std::vector<data_run>& runs) {
  runs.clear();
  ulong64 vcn = 0;
  for (const auto& kv : by_vcn) {
    data_run r = kv.second;
    r.vcn = vcn;
    vcn += r.num_clusters;
    runs.push_back(r);
  }
}

}  // namespace

void compact_data_runs(std::vector<data_run>& runs) {
  std::map<ulong64, data_run> by_vcn;
  for (const data_run& r : runs)
    if (!r.sparse) by_vcn.insert(std::make_pair(r.vcn, r));
  rewrite_in_vcn_order(by_vcn, runs);
}

void sort_data_runs(std::vector<data_run>& runs) {
  std::map<ulong64, data_run> by_vcn;
  for (const data_run& r : runs) by_vcn.insert(std::make_pair(r.vcn, r));
  rewrite_in_vcn_order(by_vcn, runs);
}

void merge_data_runs(const std::vector<data_run>& extra, std::vector<data_run>& target) {
  std::map<ulong64, data_run> by_vcn;
  for (const data_run& r : target) by_vcn.insert(std::make_pair(r.vcn, r));
  for (const data_run& r : extra) by_vcn.insert(std::make_pair(r.vcn, r));
  rewrite_in_vcn_order(by_vcn, target);
}

uint32 get_run_size(const byte* run) {
  if (!run) return 0;
  return 1 + (run[0] & 0x0F) + (run[0] >> 4);
}

ulong64 get_run_length(const byte* run) {
  if (!run) return 0;
  const uint32 l = run[0] & 0x0F;
  ulong64 v = 0;
  for (uint32 i = 0; i < l && i < 8; ++i) v |= static_cast<ulong64>(run[1 + i]) << (8 * i);
  return v;
}

ulong64 get_run_offset_raw(const byte* run) {
  if (!run) return 0;
  const uint32 l = run[0] & 0x0F;
  const uint32 f = run[0] >> 4;
  ulong64 v = 0;
  for (uint32 i = 0; i < f && i < 8; ++i) v |= static_cast<ulong64>(run[1 + l + i]) << (8 * i);
  return v;
}
