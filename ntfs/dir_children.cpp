#include "ntfs/dir_children.h"

#include <algorithm>
#include <cstring>

#include "ntfs/attribute_pump.h"
#include "ntfs/index_record.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs_structs.h"
#include "utils/byte_order.h"
#include "utils/case_text.h"
#include "utils/utf16le.h"
#include "utils/utf_convert.h"

void directory_index::clear() {
  has_root = false;
  root_node.clear();
  record_size = 0;
  runs.clear();
  allocation_size = 0;
  has_bitmap = false;
  bitmap.clear();
}

namespace {

// A long name needs a 592-byte entry; a live entry is never longer than this.
const uint32 k_max_live_entry_length = 600;
const uint32 k_max_live_key_length = 576;
const uint32 k_max_next_entry_length = 1024;
// An $I30 bitmap has one bit per 4 KiB record: 1 MiB covers 32 GiB of index.
const uint64 k_max_bitmap_bytes = 1ULL << 20;
const uint64 k_max_attribute_list_bytes = 1ULL << 20;
const byte k_i30_name[8] = {'$', 0, 'I', 0, '3', 0, '0', 0};

// Calls `visit(attr, type, length, offset)` for each attribute of a record
// until it returns false or the walk meets the end or a damaged header.
template <typename Visit>
void for_each_attribute(const byte* record, uint32 size, Visit visit) {
  if (!record || size < FRH_SIZE) return;
  const uint32 limit = record_walk_limit(record, size);
  uint32 offset = load_u16(record, FRH_FIRST_ATTRIBUTE);
  for (;;) {
    uint32 type = 0, length = 0;
    if (!attribute_at(record, limit, offset, type, length)) return;
    if (!visit(record + offset, type, length, offset)) return;
    offset += length;
  }
}

bool is_i30(const byte* attr, uint32 length) {
  byte_view name;
  if (!attribute_name(attr, length, name) || name.size != sizeof(k_i30_name)) return false;
  return std::memcmp(name.data, k_i30_name, sizeof(k_i30_name)) == 0;
}

// Reads up to `limit` bytes of non-resident attribute data through its runs;
// sparse runs and what the runs do not cover stay zero.
bool read_nonresident(const CNtfs& ntfs, const byte* attr, uint32 length, uint64 limit, std::vector<byte>& out) {
  out.clear();
  if (!fits(length, AH_ALLOCATED_SIZE, 16)) return false;
  const uint64 data_size = load_u64(attr, AH_DATA_SIZE);
  if (data_size == 0 || data_size > limit || !ntfs.m_disk || ntfs.m_cluster_size == 0) return false;
  attribute_layout layout;
  if (!layout.set_attribute(attr, length)) return false;
  out.assign(static_cast<size_t>(data_size), 0);
  uint64 got = 0;
  const pump_status s = pump_attribute_to_buffer(ntfs, layout, 0, data_size, out.data(), got);
  return s == PUMP_DONE || s == PUMP_END_OF_RUNS;
}

// Takes the $I30 attributes of one record into `out`.
void gather_index_attributes(const CNtfs& ntfs, const byte* record, uint32 size, directory_index& out) {
  for_each_attribute(record, size, [&](const byte* attr, uint32 type, uint32 length, uint32) {
    if ((type != ATTR_INDEX_ROOT && type != ATTR_INDEX_ALLOCATION && type != ATTR_BITMAP) || !is_i30(attr, length))
      return true;
    const bool resident = attr[AH_NON_RESIDENT] == 0;
    if (type == ATTR_INDEX_ROOT && resident && !out.has_root) {
      byte_view value;
      if (!resident_value(attr, length, value) || value.size < 32) return true;
      if (load_u32(value.data, 0) != ATTR_FILE_NAME) return true;
      const uint64 node_start = static_cast<uint64>(value.data - attr) + 16;
      out.root_node.assign(attr + node_start, attr + length);
      out.record_size = load_u32(value.data, 8);
      out.has_root = true;
    } else if (type == ATTR_INDEX_ALLOCATION && !resident) {
      std::vector<run_record> records;
      if (!decode_attribute_runs(attr, length, records)) return true;
      std::vector<data_run> runs;
      run_records_to_data_runs(records, runs);
      out.runs.insert(out.runs.end(), runs.begin(), runs.end());
      if (fits(length, AH_ALLOCATED_SIZE, 8))
        out.allocation_size = std::max<ulong64>(out.allocation_size, load_u64(attr, AH_ALLOCATED_SIZE));
    } else if (type == ATTR_BITMAP && !out.has_bitmap) {
      if (resident) {
        byte_view value;
        if (!resident_value(attr, length, value)) return true;
        out.bitmap.assign(value.data, value.data + value.size);
        out.has_bitmap = true;
      } else if (read_nonresident(ntfs, attr, length, k_max_bitmap_bytes, out.bitmap)) {
        out.has_bitmap = true;
      }
    }
    return true;
  });
}

// The records an $ATTRIBUTE_LIST names, other than `base`, in list order;
// with `instances`, also the attribute instances it places in each record.
void listed_records(const byte* list, uint64 length, ulong64 base, std::vector<ulong64>& records,
                    std::map<ulong64, std::set<uint16>>* instances = nullptr) {
  std::set<ulong64> seen;
  for (uint64 off = 0; fits(length, off, ALE_MIN_SIZE);) {
    const uint16 entry_length = load_u16(list, off + ALE_LENGTH);
    if (entry_length < ALE_MIN_SIZE || !fits(length, off, entry_length)) break;
    const ulong64 ref = mft_reference_entry(load_u64(list, off + ALE_REFERENCE));
    if (ref != base && seen.insert(ref).second) records.push_back(ref);
    if (instances) (*instances)[ref].insert(load_u16(list, off + ALE_INSTANCE));
    off += entry_length;
  }
}

// The value of the record's $ATTRIBUTE_LIST, resident or read through its runs.
bool attribute_list_value(const CNtfs& ntfs, const byte* record, uint32 size, std::vector<byte>& list) {
  list.clear();
  bool found = false;
  for_each_attribute(record, size, [&](const byte* attr, uint32 type, uint32 length, uint32) {
    if (type != ATTR_ATTRIBUTE_LIST) return true;
    found = true;
    if (attr[AH_NON_RESIDENT] == 0) {
      byte_view value;
      if (resident_value(attr, length, value)) list.assign(value.data, value.data + value.size);
    } else {
      read_nonresident(ntfs, attr, length, k_max_attribute_list_bytes, list);
    }
    return false;
  });
  return found && !list.empty();
}

bool read_record(const CNtfs& ntfs, ulong64 entry, std::vector<byte>& buf) {
  buf.assign(ntfs.m_mft_record_size, 0);
  byte* p = buf.data();
  ulong64 pos = 0;
  int size = static_cast<int>(buf.size());
  if (buf.empty() || !ntfs.read_mft_record(entry, p, pos, size, false)) return false;
  clear_cut_record_tail(p, static_cast<uint32>(size), static_cast<uint32>(buf.size()));
  return true;
}

}  // namespace

bool read_directory_index(const CNtfs& ntfs, ulong64 dir_entry, directory_index& out) {
  out.clear();
  std::vector<byte> record;
  if (!read_record(ntfs, dir_entry, record)) return false;
  const uint32 size = static_cast<uint32>(record.size());
  gather_index_attributes(ntfs, record.data(), size, out);

  // Attributes moved out of a full record live in extension records that the
  // list names; each must point back at this directory.
  std::vector<byte> list;
  if (attribute_list_value(ntfs, record.data(), size, list)) {
    std::vector<ulong64> extensions;
    listed_records(list.data(), list.size(), mft_reference_entry(dir_entry), extensions);
    for (ulong64 ext : extensions) {
      if (!read_record(ntfs, ext, record)) continue;
      if (mft_reference_entry(load_u64(record.data(), FRH_BASE_RECORD)) != mft_reference_entry(dir_entry)) continue;
      gather_index_attributes(ntfs, record.data(), size, out);
    }
  }
  std::stable_sort(out.runs.begin(), out.runs.end(),
                   [](const data_run& a, const data_run& b) { return a.vcn < b.vcn; });
  return out.has_root;
}

bool index_record_in_use(const directory_index& index, uint64 record_index) {
  if (!index.has_bitmap) return true;
  const uint64 at = record_index / 8;
  return at < index.bitmap.size() && ((index.bitmap[static_cast<size_t>(at)] >> (record_index % 8)) & 1);
}

bool find_children_in_node(const byte* node, int length, ulong64_set& children) {
  if (!node) return false;
  const uint64 len = length > 0 ? static_cast<uint64>(length) : 0;
  if (len < 8) return true;
  uint64 offset = load_u32(node, 0);
  int64 remaining = load_u32(node, 4);
  const int64 remaining_cap = std::max<int64>(4095, static_cast<int64>(len));
  for (;;) {
    if (remaining < 1 || remaining > remaining_cap) break;
    if (!fits(len, offset, 16)) break;
    const byte* p = node + offset;
    const uint16 entry_length = load_u16(p, 8);
    const uint16 key_length = load_u16(p, 10);
    const uint16 flags = load_u16(p, 12);
    if (!fits(len, offset, entry_length)) break;
    if (entry_length > k_max_live_entry_length || key_length > k_max_live_key_length) break;
    const ulong64 reference = load_u64(p, 0);
    if (reference == 0 || flags == 2 || flags == 3) break;
    children.insert(mft_reference_entry(reference));
    remaining -= entry_length;
    if (remaining < 0) break;
    offset += entry_length;
    if (!fits(len, offset, 10)) break;
    const uint16 next_length = load_u16(node + offset, 8);
    if (next_length == 0 || next_length > k_max_next_entry_length) break;
  }
  return true;
}

bool find_children_in_root(const byte* root_value, int length, ulong64_set& children) {
  // As for parse_index_root_w_carve: a negative node length leaves no
  // header to read.
  if (!root_value || length < 0) return false;
  if (load_u32(root_value, 0) != ATTR_FILE_NAME || load_u32(root_value, 8) == 0) return false;
  return find_children_in_node(root_value + 16, length, children);
}

bool find_children_in_indx(const byte* record, int length, ulong64_set& children) {
  if (!record || length < static_cast<int>(INDX_NODE_OFFSET)) return false;
  return find_children_in_node(record + INDX_NODE_OFFSET, length - static_cast<int>(INDX_NODE_OFFSET), children);
}

bool CNtfs::find_children(ulong64 dir_entry, ulong64_set& children) const {
  directory_index index;
  if (!read_directory_index(*this, dir_entry, index)) return false;
  find_children_in_node(index.root_node.data(), static_cast<int>(index.root_node.size()), children);
  if (index.runs.empty() || !is_valid_index_record_size(index.record_size)) return true;
  std::vector<byte> data;
  if (!read_index_allocation(data, index.runs, index.record_size, index.allocation_size)) return true;
  const uint32 rs = index.record_size;
  uint64 n = 0;
  for (uint64 off = 0; fits(data.size(), off, rs); off += rs, ++n) {
    // Records the bitmap frees hold only stale entries.
    if (!index_record_in_use(index, n) || std::memcmp(data.data() + off, "INDX", 4) != 0) continue;
    find_children_in_indx(data.data() + off, static_cast<int>(rs), children);
  }
  return true;
}

bool CNtfs::find_children_w_carve(string_indx_map& valid, inode_indx_mmap& carved, ulong64 dir_entry,
                                  ulong64 file_offset) const {
  directory_index index;
  if (!read_directory_index(*this, dir_entry, index)) return false;
  parse_index_node_w_carve(valid, carved, dir_entry, index.root_node.data(), static_cast<int>(index.root_node.size()),
                           file_offset);
  if (index.runs.empty() || !is_valid_index_record_size(index.record_size)) return true;
  std::vector<byte> data;
  if (!read_index_allocation(data, index.runs, index.record_size, index.allocation_size)) return true;
  parse_index_allocation_w_carve(valid, carved, dir_entry, data.data(), data.size(), index.record_size,
                                 index.has_bitmap ? index.bitmap.data() : nullptr, index.bitmap.size(), file_offset);
  return true;
}

void utf16le_name_to_wstring(std::wstring& out, const byte* name, uint32 units) {
  // The units are read with memcpy inside; the cast only names their type.
  unicode16_to_wstring(reinterpret_cast<const uint16*>(name), out, static_cast<int>(2 * units));
}

namespace {

// collect_file_names, with each new name marked as coming from record
// `record_entry` (all ones when the caller does not know it).
bool collect_names_from(file_name_map& names, const byte* record, uint32 size, bool all_name_spaces,
                        ulong64 parent_filter, bool clear, ulong64 record_entry) {
  if (clear) names.clear();
  if (!record) return !names.empty();
  std::set<ulong64> parents;
  const size_t before = names.size();
  for_each_attribute(record, size, [&](const byte* attr, uint32 type, uint32 length, uint32 offset) {
    if (type != ATTR_FILE_NAME || attr[AH_NON_RESIDENT] != 0) return true;
    byte_view value;
    if (!resident_value(attr, length, value) || value.size < FN_NAME) return true;
    const uint8 units = value.data[FN_NAME_LENGTH];
    if (units == 0 || !value.has(FN_NAME, 2ULL * units)) return true;
    const ulong64 parent = load_u64(value.data, FN_PARENT);
    parents.insert(mft_reference_entry(parent));
    if (parent_filter != ~0ULL && mft_reference_entry(parent) != mft_reference_entry(parent_filter)) return true;
    const uint8 name_space = value.data[FN_NAMESPACE];
    if (!all_name_spaces && name_space == 2) return true;
    ulong64 key = mft_reference_entry(parent) |
                  (static_cast<ulong64>((load_u16(attr, AH_INSTANCE) * 16u + name_space) & 0xFFFF) << 48);
    file_name_record r;
    utf16le_name_to_wstring(r.name, value.data + FN_NAME, units);
    // Instance numbers count per record: names gathered from several
    // extension records can share a key. The same name again is the same
    // name; another one moves on to the next free key rather than be lost.
    for (int tries = 0;; ++tries) {
      auto at = names.find(key);
      if (at == names.end()) break;
      if (at->second.name == r.name || tries == 0xFFFF) return true;
      key += 1ULL << 48;
    }
    r.parent = parent;
    r.dos_only = name_space == 2 ? 1 : 0;
    r.name_space = name_space;
    r.value.assign(value.data, value.data + value.size);
    r.attribute.assign(attr, attr + length);
    r.attribute_offset = offset;
    r.record_entry = record_entry;
    names.emplace(key, std::move(r));
    return true;
  });
  if (names.size() > before && parents.size() > 1)
    for (auto& n : names) n.second.parent_count = static_cast<uint32>(parents.size());
  return !names.empty();
}

}  // namespace

bool collect_file_names(file_name_map& names, const byte* record, uint32 size, bool all_name_spaces,
                        ulong64 parent_filter, bool clear) {
  return collect_names_from(names, record, size, all_name_spaces, parent_filter, clear, ~0ULL);
}

bool collect_file_names(file_name_map& names, const byte* record, bool all_name_spaces, ulong64 parent_filter,
                        bool clear) {
  return collect_file_names(names, record, record_own_size(record), all_name_spaces, parent_filter, clear);
}

bool collect_record_file_names(file_name_map& names, const byte* record, uint32 size) {
  return collect_file_names(names, record, size, false, ~0ULL, true);
}

bool collect_record_file_names(file_name_map& names, const byte* record) {
  return collect_record_file_names(names, record, record_own_size(record));
}

bool collect_listed_file_names(file_name_map& names, const CNtfs& ntfs, ulong64 base_entry, const byte* list,
                               int list_length, bool all_name_spaces, ulong64 parent_filter) {
  if (!ntfs.is_validated() || !list || list_length <= 0) return false;
  std::vector<ulong64> records;
  std::map<ulong64, std::set<uint16>> instances;
  listed_records(list, static_cast<uint64>(list_length), mft_reference_entry(base_entry), records, &instances);
  std::vector<byte> buf;
  for (ulong64 entry : records) {
    if (!read_record(ntfs, entry, buf) || std::memcmp(buf.data(), "FILE", 4) != 0) continue;
    // A record is taken only when it holds an attribute the list names in
    // it: a record reused by another file since carries that file's names.
    const std::set<uint16>& listed_here = instances[entry];
    bool listed = false;
    for_each_attribute(buf.data(), static_cast<uint32>(buf.size()), [&](const byte* attr, uint32, uint32, uint32) {
      listed = listed_here.count(load_u16(attr, AH_INSTANCE)) != 0;
      return !listed;
    });
    if (listed)
      collect_names_from(names, buf.data(), static_cast<uint32>(buf.size()), all_name_spaces, parent_filter, false,
                         entry);
  }
  return true;
}

bool collect_all_file_names(file_name_map& names, const CNtfs* ntfs, ulong64 base_entry, const byte* record,
                            bool all_name_spaces, ulong64 parent_filter) {
  names.clear();
  if (!record) return false;
  const uint32 size = ntfs && ntfs->m_mft_record_size ? ntfs->m_mft_record_size : record_own_size(record);
  std::vector<byte> list;
  if (ntfs && attribute_list_value(*ntfs, record, size, list))
    collect_listed_file_names(names, *ntfs, base_entry, list.data(), static_cast<int>(list.size()),
                              all_name_spaces, parent_filter);
  collect_names_from(names, record, size, all_name_spaces, parent_filter, false, base_entry);
  return !names.empty();
}

bool record_has_file_name_w(file_name_map& names, const byte* record, int size, const std::wstring& name) {
  names.clear();
  if (!record || size < 1024 || name.empty()) return false;
  collect_record_file_names(names, record, static_cast<uint32>(size));
  for (const auto& n : names)
    if (compare_w(n.second.name.c_str(), name.c_str(), true) == 0) return true;
  return false;
}

bool record_has_file_name(file_name_map& names, const byte* record, int size, const std::string& name) {
  return record_has_file_name_w(names, record, size, utf8_to_wstring(name));
}

bool record_has_file_name(std::map<ulong64, std::wstring>& names, const byte* record, int size,
                          const std::string& name) {
  file_name_map found;
  const bool result = record_has_file_name(found, record, size, name);
  names.clear();
  for (const auto& n : found) names.emplace(n.first, n.second.name);
  return result;
}

bool get_record_ads_names(const byte* record, uint32 size, std::set<std::wstring>& names, ulong64& parent) {
  for_each_attribute(record, size, [&](const byte* attr, uint32 type, uint32 length, uint32) {
    if (type == ATTR_FILE_NAME && parent == 0 && attr[AH_NON_RESIDENT] == 0) {
      byte_view value;
      if (resident_value(attr, length, value) && value.size >= 8) parent = mft_reference_entry(load_u64(value.data, 0));
    } else if (type == ATTR_DATA && attr[AH_NAME_LENGTH] != 0) {
      byte_view name;
      if (attribute_name(attr, length, name)) {
        std::wstring w;
        utf16le_name_to_wstring(w, name.data, static_cast<uint32>(name.size / 2));
        names.insert(w);
      }
    } else if (type == ATTR_ATTRIBUTE_LIST && attr[AH_NON_RESIDENT] == 0) {
      byte_view list;
      if (!resident_value(attr, length, list)) return true;
      for (uint64 off = 0; list.has(off, ALE_MIN_SIZE);) {
        const uint16 entry_length = load_u16(list.data, off + ALE_LENGTH);
        if (entry_length < ALE_MIN_SIZE || !list.has(off, entry_length)) break;
        const uint8 units = list.data[off + ALE_NAME_LENGTH];
        const uint8 name_offset = list.data[off + ALE_NAME_OFFSET];
        if (load_u32(list.data, off + ALE_TYPE) == ATTR_DATA && units && fits(entry_length, name_offset, 2ULL * units)) {
          std::wstring w;
          utf16le_name_to_wstring(w, list.data + off + name_offset, units);
          names.insert(w);
        }
        off += entry_length;
      }
    }
    return true;
  });
  return !names.empty();
}

bool get_record_ads_names(const byte* record, std::set<std::wstring>& names, ulong64& parent) {
  return get_record_ads_names(record, record_own_size(record), names, parent);
}

bool CNtfs::collect_unused_record_names(entry_name_list& out) {
  const ulong64 count = get_inode_count();
  std::vector<byte> buf;
  file_name_map names;
  for (ulong64 entry = 0; entry < count; ++entry) {
    if (!read_record(*this, entry, buf)) continue;
    if (load_u16(buf.data(), FRH_FLAGS) & FILE_RECORD_IN_USE) continue;
    collect_file_names(names, buf.data(), static_cast<uint32>(buf.size()), true, ~0ULL, true);
    // The map is ordered by parent and instance, not by where the names lie:
    // the first Win32 name is the one nearest the record's start.
    const file_name_record* chosen = nullptr;
    for (const auto& n : names)
      if (n.second.name_space == 1 && (!chosen || n.second.attribute_offset < chosen->attribute_offset))
        chosen = &n.second;
    if (!chosen && !names.empty()) {
      // The last name with a name, in attribute order.
      for (const auto& n : names)
        if (!chosen || n.second.attribute_offset > chosen->attribute_offset) chosen = &n.second;
    }
    out.emplace_back(entry, chosen ? chosen->name : std::wstring());
  }
  return true;
}

bool compare_entry_names(const listing_name& a, const listing_name& b) {
  std::wstring x = a.name, y = b.name;
  to_lower_w(x);
  to_lower_w(y);
  // Rank: empty names, then '$' names, then directories, then files.
  auto rank = [](const listing_name& e, const std::wstring& lowered) {
    if (lowered.empty()) return 0;
    if (lowered[0] == L'$') return 1;
    return e.is_dir ? 2 : 3;
  };
  const int ra = rank(a, x), rb = rank(b, y);
  if (ra != rb) return ra > rb;
  if (ra == 1) return a.entry > b.entry;
  return x > y;  // code unit by code unit, the shorter first on a tie
}
