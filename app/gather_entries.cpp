#include "app/gather_entries.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ntfs/index_record.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "utils/byte_order.h"
#include "utils/file_handle.h"

namespace {

// The $INDEX_ROOT header before the node: indexed attribute type, collation
// rule, bytes per index record, clusters per index record.
const uint32 k_root_header = 16;

bool resident_value_of(const attribute_record& attribute, byte_view& value) {
  const std::vector<byte>& raw = attribute.raw;
  if (raw.size() < AH_RESIDENT_SIZE || raw[AH_NON_RESIDENT] != 0) return false;
  return resident_value(raw.data(), static_cast<uint32>(raw.size()), value);
}

// The data size a non-resident attribute's header gives (0 for any other):
// how much of what its runs map is the index.
uint64 stored_data_size(const attribute_record& attribute) {
  const std::vector<byte>& raw = attribute.raw;
  if (raw.size() < AH_NON_RESIDENT_SIZE || raw[AH_NON_RESIDENT] == 0) return 0;
  return load_u64(raw.data() + AH_DATA_SIZE);
}

const attribute_record* find_named(const inode_attributes& record, uint32 type, const std::wstring& name) {
  for (const auto& kv : record.attributes) {
    if (kv.second.type() == type && kv.second.name == name) return &kv.second;
  }
  return nullptr;
}

bool indexes_file_names(const inode_attributes& record, const std::wstring& name) {
  const attribute_record* root = find_named(record, ATTR_INDEX_ROOT, name);
  byte_view value;
  uint32 indexed = 0;
  if (!root || !resident_value_of(*root, value) || !value.u32(0, indexed)) return true;
  return indexed == ATTR_FILE_NAME;
}

uint32 index_record_size(const inode_attributes& record, const std::wstring& name) {
  const attribute_record* root = find_named(record, ATTR_INDEX_ROOT, name);
  byte_view value;
  uint32 size = 0;
  if (root && resident_value_of(*root, value) && value.u32(8, size) && is_valid_index_record_size(size))
    return size;
  return INDX_DEFAULT_RECORD_SIZE;
}

// The $BITMAP of the index, one bit per INDX record. Empty when it is
// missing, unreadable or too short to cover every record: then every record
// counts as in use, so that no live entry is taken for slack.
void read_index_bitmap(CNtfs& ntfs, const inode_attributes& record, const std::wstring& name, uint64 records,
                       std::vector<byte>& bitmap) {
  bitmap.clear();
  const attribute_record* attr = find_named(record, ATTR_BITMAP, name);
  uint64 needed = (records + 7) / 8;
  if (!attr || needed == 0) return;
  byte_view value;
  if (resident_value_of(*attr, value)) {
    if (value.size >= needed) bitmap.assign(value.data, value.data + needed);
    return;
  }
  const uint64 cs = ntfs.m_cluster_size;
  if (attr->runs.empty() || cs == 0 || needed > (1u << 24)) return;
  bitmap.assign(static_cast<size_t>(needed), 0);
  std::vector<byte> cluster(static_cast<size_t>(cs));
  uint64 covered = 0;
  for (const data_run& run : attr->runs) {
    for (uint64 i = 0; i < run.num_clusters && !run.sparse; ++i) {
      uint64 vcn = run.vcn + i;
      if (vcn > needed / cs || vcn * cs >= needed) break;
      if (run.lcn > ntfs.m_total_clusters || i >= ntfs.m_total_clusters - run.lcn) break;
      uint32 size = static_cast<uint32>(cs);
      if (!ntfs.read_lcn(run.lcn + i, cluster.data(), size) || size != cs) break;
      uint64 n = std::min<uint64>(cs, needed - vcn * cs);
      std::memcpy(bitmap.data() + vcn * cs, cluster.data(), static_cast<size_t>(n));
      covered += n;
    }
  }
  if (covered < needed) bitmap.clear();
}

// A piece of an index allocation: a whole number of bytes of the index
// bitmap (eight records), about 1 MiB, so that a large folder's index is
// never held whole.
uint64 allocation_piece(uint32 record_size, uint64 most) {
  uint64 records = (most ? most : uint64(1) << 20) / record_size;
  records -= records % 8;
  return (records < 8 ? 8 : records) * record_size;
}

void parse_index_root(dir_listing& listing, size_t index, std::vector<byte>& buffer, ulong64 dir_entry,
                      const attribute_record& attribute) {
  const std::vector<byte>& raw = attribute.raw;
  uint64 n = raw.size();
  if (n < AH_RESIDENT_SIZE) return;
  uint64 v = load_u16(raw.data() + AH_VALUE_OFFSET);
  if (n < 72 || n < v + 88) return;
  buffer.assign(raw.begin() + static_cast<std::ptrdiff_t>(v + k_root_header), raw.end());
  indx_attribute_entries& out = listing.parsed(index);
  parse_index_node_w_carve(out.valid, out.carved, dir_entry, buffer.data(), static_cast<int>(buffer.size()), 0);
  listing.take_parsed(index);
}

void parse_index_allocation(dir_listing& listing, size_t index, std::vector<byte>& buffer, ulong64 dir_entry,
                            CNtfs& ntfs, const inode_attributes& record, const attribute_record& attribute,
                            uint64 piece_bytes) {
  // An index too large for one record continues in extension records:
  // every extent of the same name adds its runs at their own VCNs.
  std::vector<data_run> runs;
  uint64 data_size = 0;
  for (const auto& kv : record.attributes) {
    const attribute_record& piece = kv.second;
    if (piece.type() != ATTR_INDEX_ALLOCATION || piece.name != attribute.name) continue;
    merge_data_runs(piece.runs, runs);
    data_size = std::max(data_size, stored_data_size(piece));
  }
  const uint32 record_size = index_record_size(record, attribute.name);
  const uint64 piece = allocation_piece(record_size, piece_bytes);
  uint64 total = 0;
  if (!ntfs.read_index_allocation_piece(buffer, runs, record_size, data_size, 0, piece, total) ||
      buffer.size() < record_size)
    return;
  std::vector<byte> bitmap;
  read_index_bitmap(ntfs, record, attribute.name, total / record_size, bitmap);
  indx_attribute_entries& out = listing.parsed(index);
  const size_t first_entry = listing.entry_count();
  for (uint64 first = 0;;) {
    // Pieces start on a multiple of eight records: on a byte of the bitmap.
    const uint64 skipped = first / record_size / 8;
    const byte* bits = bitmap.empty() ? nullptr : bitmap.data() + std::min<uint64>(skipped, bitmap.size());
    const uint64 bits_length = bitmap.size() > skipped ? bitmap.size() - skipped : 0;
    parse_index_allocation_w_carve(out.valid, out.carved, dir_entry, buffer.data(), buffer.size(), record_size,
                                   bits, bits_length, first);
    listing.take_parsed(index);
    first += buffer.size();
    if (first >= total) return;
    // An index that cannot be read whole gives nothing, as when it was read
    // in one piece.
    if (!ntfs.read_index_allocation_piece(buffer, runs, record_size, data_size, first, piece, total)) {
      listing.drop_entries_from(first_entry);
      return;
    }
  }
}

// The directory's record, from a volume that still validates or through an
// extracted $MFT beside one; "invalid inode" on standard output when the
// record cannot be read.
bool read_directory_record(inode_attributes& record, user_ctx& ctx, ulong64 dir_entry) {
  const bool extracted_mft = ctx.mft_reader && ctx.mft_reader->is_open();
  if (!extracted_mft && !(ctx.ntfs && ctx.ntfs->initialise(ctx.mft_pos))) return false;
  if (!ctx.ntfs) return false;
  if (!read_inode(record, ctx, dir_entry)) {
    std::fputs("invalid inode\n", stdout);
    return false;
  }
  return true;
}

}  // namespace

bool gather_dir_listing(dir_listing& listing, std::vector<byte>& buffer, user_ctx& ctx, ulong64 dir_entry,
                        bool keep_carved, uint64 piece_bytes) {
  listing.clear();
  listing.keep_carved(keep_carved);
  inode_attributes& record = listing.directory_record();
  if (!read_directory_record(record, ctx, dir_entry)) return false;
  if (!ctx.ntfs->is_valid()) return true;

  std::vector<std::wstring> allocations_done;
  for (const auto& kv : record.attributes) {
    const attribute_record& attribute = kv.second;
    const uint32 type = attribute.type();
    if (type == ATTR_INDEX_ALLOCATION) {
      bool done = false;
      for (const std::wstring& name : allocations_done) done = done || name == attribute.name;
      if (done) continue;
      allocations_done.push_back(attribute.name);
    } else if (type != ATTR_INDEX_ROOT) {
      continue;
    }
    const size_t index = listing.add_attribute(type);
    // Views and quota indexes share the index structures but not $FILE_NAME
    // keys; parsing them as directory entries would invent names.
    if (!indexes_file_names(record, attribute.name)) continue;
    if (type == ATTR_INDEX_ALLOCATION) {
      parse_index_allocation(listing, index, buffer, dir_entry, *ctx.ntfs, record, attribute, piece_bytes);
    } else {
      parse_index_root(listing, index, buffer, dir_entry, attribute);
    }
  }
  return true;
}

bool collect_indx_attribute(std::vector<byte>& buffer, inode_indx_mmap& all_entries, string_indx_map& nodup_entries,
                            ulong64 dir_entry, user_ctx& ctx, const attribute_record& attribute, uint32 type) {
  if (!ctx.ntfs || !ctx.ntfs->is_valid()) return false;
  string_indx_map valid;
  inode_indx_mmap carved;
  if (type == ATTR_INDEX_ALLOCATION) {
    // A damaged run list can map far more than the index: only the bytes
    // of its data size are read.
    const size_t record = INDX_DEFAULT_RECORD_SIZE;
    if (!ctx.ntfs->read_index_allocation(buffer, attribute.runs, INDX_DEFAULT_RECORD_SIZE,
                                         stored_data_size(attribute)) ||
        buffer.size() < record)
      return false;
    // A tail shorter than a record is left out rather than parsed past the
    // buffer's end.
    for (size_t offset = 0; buffer.size() - offset >= record; offset += record)
      parse_indx_buffer_w_carve(valid, carved, dir_entry, buffer.data() + offset, static_cast<int>(record), offset);
  } else if (type == ATTR_INDEX_ROOT) {
    const std::vector<byte>& raw = attribute.raw;
    const uint64 n = raw.size();
    if (n < 72) return false;
    const uint64 v = load_u16(raw.data() + AH_VALUE_OFFSET);
    if (n < v + 88) return false;
    buffer.assign(raw.begin() + static_cast<std::ptrdiff_t>(v + k_root_header), raw.end());
    parse_index_node_w_carve(valid, carved, dir_entry, buffer.data(), static_cast<int>(buffer.size()), 0);
  } else {
    return false;
  }
  return merge_indx_entries(all_entries, nodup_entries, valid, carved, type, ctx.mft_entry_count);
}

bool collect_dir_entries(std::vector<byte>& allocation, std::vector<byte>& root, inode_indx_mmap& all_entries,
                         string_indx_map& nodup_entries, user_ctx& ctx, ulong64 dir_entry) {
  allocation.clear();
  root.clear();
  inode_attributes record;
  if (!read_directory_record(record, ctx, dir_entry)) return false;
  for (const auto& kv : record.attributes) {
    const attribute_record& attribute = kv.second;
    const uint32 type = attribute.type();
    if (type != ATTR_INDEX_ALLOCATION && type != ATTR_INDEX_ROOT) continue;
    // $Secure's $SII and $SDH, $ObjId's $O and the like share the index
    // structures but are keyed by ids and hashes: read as $FILE_NAME keys
    // they would give invented names.
    if (!indexes_file_names(record, attribute.name)) continue;
    collect_indx_attribute(type == ATTR_INDEX_ALLOCATION ? allocation : root, all_entries, nodup_entries, dir_entry,
                           ctx, attribute, type);
  }
  return !all_entries.empty();
}
