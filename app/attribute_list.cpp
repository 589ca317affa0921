#include "app/attribute_list.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "ntfs/ntfs_structs.h"
#include "utils/byte_order.h"
#include "utils/file_handle.h"

namespace {

// Windows keeps an attribute list within 256 KiB; a larger size read from
// disk is damage, not a list.
const uint64 k_max_list_bytes = 256 * 1024;

// Reads the clusters of a non-resident list into `out`, each run at its own
// VCN, up to the list's data size. A cluster that cannot be read ends its
// run; the bytes stay zero.
void read_list_clusters(CNtfs& ntfs, const std::vector<data_run>& runs, uint64 data_size, std::vector<byte>& out) {
  const uint64 cs = ntfs.m_cluster_size;
  out.clear();
  if (cs == 0 || data_size == 0) return;
  out.assign(static_cast<size_t>(data_size), 0);
  std::vector<byte> cluster(static_cast<size_t>(cs));
  for (const data_run& run : runs) {
    if (run.sparse) continue;
    for (uint64 i = 0; i < run.num_clusters; ++i) {
      uint64 vcn = run.vcn + i;
      if (vcn > data_size / cs || vcn * cs >= data_size) break;
      if (run.lcn > ntfs.m_total_clusters || i >= ntfs.m_total_clusters - run.lcn) break;
      uint32 size = static_cast<uint32>(cs);
      if (!ntfs.read_lcn(run.lcn + i, cluster.data(), size) || size != cs) break;
      uint64 start = vcn * cs;
      uint64 n = std::min<uint64>(cs, data_size - start);
      std::memcpy(out.data() + start, cluster.data(), static_cast<size_t>(n));
    }
  }
}

// Finds the attribute with instance `id` in a fixed-up extension record.
const byte* find_attribute_by_id(const std::vector<byte>& record, uint16 id, uint32& limit) {
  const byte* rec = record.data();
  limit = record_walk_limit(rec, static_cast<uint32>(record.size()));
  uint32 offset = load_u16(rec + FRH_FIRST_ATTRIBUTE);
  if (offset == 0) return nullptr;
  uint32 type = 0, length = 0;
  while (attribute_at(rec, limit, offset, type, length)) {
    if (load_u16(rec + offset + AH_INSTANCE) == id) return rec + offset;
    offset += length;
  }
  return nullptr;
}

}  // namespace

bool visit_attribute_list(user_ctx& ctx, ulong64 base_entry, const byte* attribute, uint32 length,
                          const listed_attribute_sink& sink) {
  if (!ctx.source_ready()) return false;
  if (!attribute || length < AH_RESIDENT_SIZE) return true;

  if (attribute[AH_NON_RESIDENT] == 0) {
    byte_view value;
    if (resident_value(attribute, length, value) && value.size > 0 && load_u16(attribute + AH_VALUE_OFFSET) != 0)
      visit_attribute_list_entries(ctx, base_entry, value.data, static_cast<uint32>(value.size), sink);
    return true;
  }

  if (ctx.mft_reader && ctx.mft_reader->is_open()) return true;  // no clusters to read
  if (!ctx.ntfs || length < AH_NON_RESIDENT_SIZE) return true;
  std::vector<run_record> decoded;
  std::vector<data_run> runs;
  if (!decode_attribute_runs(attribute, length, decoded) || !run_records_to_data_runs(decoded, runs) ||
      runs.empty())
    return true;
  uint64 data_size = load_u64(attribute + AH_DATA_SIZE);
  if (data_size == 0 || data_size > k_max_list_bytes) return true;
  std::vector<byte> list;
  read_list_clusters(*ctx.ntfs, runs, data_size, list);
  if (!list.empty()) visit_attribute_list_entries(ctx, base_entry, list.data(), static_cast<uint32>(list.size()), sink);
  return true;
}

bool visit_attribute_list_entries(user_ctx& ctx, ulong64 base_entry, const byte* list, uint32 length,
                                  const listed_attribute_sink& sink) {
  if (!ctx.source_ready() || !list || length == 0) return false;

  // Consecutive entries usually name the same extension record: keep the
  // last one read.
  std::vector<byte> record;
  ulong64 record_entry = 0;
  bool have_record = false;
  bool record_usable = false;

  for (uint32 offset = 0; fits(length, offset, ALE_MIN_SIZE);) {
    uint32 entry_length = load_u16(list + offset + ALE_LENGTH);
    if (entry_length < ALE_MIN_SIZE || entry_length > length - offset) break;
    ulong64 holder = mft_reference_entry(load_u64(list + offset + ALE_REFERENCE));
    uint16 id = load_u16(list + offset + ALE_INSTANCE);
    if (holder != mft_reference_entry(base_entry)) {
      if (!have_record || holder != record_entry) {
        bool is_baad = false;
        record_entry = holder;
        have_record = true;
        record_usable = read_source_record(record, is_baad, ctx, holder) && !is_baad &&
                        record.size() >= FRH_SIZE && std::memcmp(record.data(), "FILE", 4) == 0 &&
                        load_u16(record.data() + FRH_FIRST_ATTRIBUTE) != 0;
      }
      uint32 limit = 0;
      const byte* attr = record_usable ? find_attribute_by_id(record, id, limit) : nullptr;
      if (attr) sink(holder, record.data(), limit, attr);
    }
    offset += entry_length;
  }
  return true;
}

namespace {

listed_attribute_sink filer(inode_attributes& out, user_ctx& ctx, ulong64 base_entry) {
  return [&out, &ctx, base_entry](ulong64 holder, const byte* record, uint32 limit, const byte* attr) {
    bool nested_list = false;
    out.parse_attribute(ctx, base_entry, holder, record, limit, attr, nested_list);
  };
}

}  // namespace

bool read_attribute_list(inode_attributes& out, user_ctx& ctx, ulong64 base_entry, const byte* attribute,
                         uint32 length) {
  if (!ctx.source_ready()) return false;
  out.has_attr_list = true;
  if (attribute && length >= AH_RESIDENT_SIZE && attribute[AH_NON_RESIDENT] != 0) out.attr_list_nonresident = true;
  return visit_attribute_list(ctx, base_entry, attribute, length, filer(out, ctx, base_entry));
}

bool read_attribute_list(inode_attributes& out, user_ctx& ctx, ulong64 base_entry, const byte* attribute) {
  return read_attribute_list(out, ctx, base_entry, attribute, attribute_own_length(attribute));
}

bool parse_attribute_list_entries(inode_attributes& out, user_ctx& ctx, ulong64 base_entry, const byte* list,
                                  uint32 length) {
  return visit_attribute_list_entries(ctx, base_entry, list, length, filer(out, ctx, base_entry));
}
