#include "examine/entry_records.h"

#include <map>
#include <set>
#include <string>
#include <utility>

#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "ntfs/ntfs_structs.h"
#include "utils/byte_order.h"

namespace {

// Fills a record from the attribute at `attr` and gives its runs their true
// VCNs: a piece kept in an extension record starts where the piece before
// it ended, and merging pieces keyed by VCN must not fold them together.
bool record_from_attribute(entry_record& rec, ulong64 entry, ulong64 holder, const byte* attr, uint32 length) {
  if (!fill_entry_record_from_attribute(rec, entry, holder, attr, length)) return false;
  // The summary keeps resident values under 1 KiB only; records of 4 KiB
  // hold larger ones, and their data must not be lost to the examiner.
  byte_view value;
  const uint32 type = rec.item.header.type;
  const bool data_bearing = type == 0x50 || type == 0x80 || type == 0x90 || type == 0xA0 || type == 0xB0 ||
                            type == 0x100;
  if (data_bearing && !attr[AH_NON_RESIDENT] && rec.resident.empty() && entry_value_length(rec) >= 1024 &&
      resident_value(attr, length, value))
    rec.resident.assign(value.data, value.data + value.size);
  return true;
}

// Where a collected record came from: the record holding its attribute, and
// whether it is a piece that starts past VCN 0.
struct record_origin {
  ulong64 holder;
  bool continues;
};

class collector {
 public:
  collector(CNtfs* ntfs, ulong64 entry, std::vector<entry_record>& out, std::vector<record_origin>& origins)
      : m_ntfs(ntfs), m_entry(entry), m_out(out), m_origins(origins) {}

  // Every attribute of one FILE record; `holder` is the record's number.
  void walk_record(const byte* record, uint32 size, ulong64 holder) {
    const uint32 limit = record_walk_limit(record, size);
    uint32 offset = load_u16(record, FRH_FIRST_ATTRIBUTE);
    uint32 type = 0;
    uint32 length = 0;
    while (offset != 0 && attribute_at(record, limit, offset, type, length)) {
      const byte* attr = record + offset;
      if (type == ATTR_ATTRIBUTE_LIST) {
        if (holder == m_entry) follow_list(attr, length);
      } else {
        add(attr, length, holder);
      }
      offset += length;
    }
  }

 private:
  CNtfs* m_ntfs;
  ulong64 m_entry;
  std::vector<entry_record>& m_out;
  std::vector<record_origin>& m_origins;  // per record
  std::vector<byte> m_extension;
  ulong64 m_extension_number = ~0ULL;

  void add(const byte* attr, uint32 length, ulong64 holder) {
    entry_record rec;
    if (!record_from_attribute(rec, m_entry, holder, attr, length)) return;
    m_out.push_back(rec);
    m_origins.push_back({mft_reference_entry(holder), attr[AH_NON_RESIDENT] && length >= AH_NON_RESIDENT_SIZE &&
                                                          load_u64(attr, AH_FIRST_VCN) != 0});
  }

  // The list's value, resident or read through its runs as far as its real
  // size; entries naming the base record are already walked.
  void follow_list(const byte* attr, uint32 length) {
    std::vector<byte> list;
    if (!m_ntfs->read_attribute_list_value(attr, length, list)) return;
    const uint32 size = static_cast<uint32>(list.size());
    uint32 at = 0;
    while (fits(size, at, ALE_MIN_SIZE)) {
      const uint32 type = load_u32(list.data(), at + ALE_TYPE);
      const uint32 entry_length = load_u16(list.data(), at + ALE_LENGTH);
      if (type == ATTR_END || entry_length == 0) break;
      const ulong64 reference = load_u64(list.data(), at + ALE_REFERENCE);
      if (mft_reference_entry(reference) != mft_reference_entry(m_entry))
        add_from_extension(reference, type, load_u16(list.data(), at + ALE_INSTANCE));
      at += entry_length;
    }
  }

  void add_from_extension(ulong64 reference, uint32 type, uint16 instance) {
    const ulong64 number = mft_reference_entry(reference);
    if (number != m_extension_number) {
      m_extension_number = number;
      if (!read_entry_file_record(m_ntfs, number, m_extension)) m_extension.clear();
    }
    if (m_extension.size() < FRH_SIZE || load_u32(m_extension.data(), 0) != 0x454C4946) return;  // "FILE"
    const byte* record = m_extension.data();
    const uint32 limit = record_walk_limit(record, static_cast<uint32>(m_extension.size()));
    uint32 offset = load_u16(record, FRH_FIRST_ATTRIBUTE);
    uint32 at_type = 0;
    uint32 length = 0;
    while (offset != 0 && attribute_at(record, limit, offset, at_type, length)) {
      if (at_type == type && load_u16(record, offset + AH_INSTANCE) == instance) {
        add(record + offset, length, reference);
        return;
      }
      offset += length;
    }
  }
};

}  // namespace

bool read_entry_file_record(CNtfs* ntfs, ulong64 entry, std::vector<byte>& record) {
  record.clear();
  if (!ntfs || ntfs->m_mft_record_alloc_size < FRH_SIZE) return false;
  record.assign(ntfs->m_mft_record_alloc_size, 0);
  byte* buf = record.data();
  ulong64 pos = 0;
  int size = static_cast<int>(record.size());
  if (!ntfs->read_mft_record(entry, buf, pos, size, false)) {
    record.clear();
    return false;
  }
  clear_cut_record_tail(buf, static_cast<uint32>(size), static_cast<uint32>(record.size()));
  return true;
}

std::string entry_record_key(const entry_record& rec) {
  std::string key = rec.name.empty() ? std::string(" nada_") : rec.name;
  key += std::to_string(rec.item.header.small_value);
  key += '_';
  key += std::to_string(rec.item.header.type);
  return key;
}

int collect_entry_records(CNtfs* ntfs, ulong64 entry, std::vector<entry_record>& out, ulong64 window_offset,
                          uint32 window_length) {
  out.clear();
  std::vector<byte> record;
  if (!read_entry_file_record(ntfs, entry, record)) return 0;
  std::vector<entry_record> found;
  std::vector<record_origin> origins;
  entry_record file;
  build_entry_summary_item(file.item, entry, record.data(), static_cast<uint32>(record.size()));
  found.push_back(file);
  origins.push_back({mft_reference_entry(entry), false});
  collector(ntfs, entry, found, origins).walk_record(record.data(), static_cast<uint32>(record.size()), entry);

  // Attribute ids are numbered per FILE record, so the records of one list
  // repeat them: an attribute is known by its key and the record holding
  // it. Among equal keys the base record's comes first, then the others by
  // record number.
  std::map<std::pair<std::string, ulong64>, entry_record> by_key;
  for (size_t i = 0; i < found.size(); ++i) {
    if (origins[i].continues) continue;
    const ulong64 holder = origins[i].holder == mft_reference_entry(entry) ? 0 : origins[i].holder + 1;
    const std::pair<std::string, ulong64> key(entry_record_key(found[i]), holder);
    auto it = by_key.find(key);
    if (it == by_key.end()) {
      by_key.emplace(key, std::move(found[i]));
    } else if (!found[i].runs.empty() && !it->second.runs.empty()) {
      merge_data_runs(found[i].runs, it->second.runs);
    }
  }
  // A piece that starts past VCN 0 continues the attribute of its type and
  // name, whatever id its own record gave it; the sizes are the first
  // piece's.
  for (size_t i = 0; i < found.size(); ++i) {
    if (!origins[i].continues) continue;
    entry_record* first = nullptr;
    for (auto& kv : by_key) {
      const entry_record& r = kv.second;
      if (r.item.header.type == found[i].item.header.type && r.name == found[i].name && !r.runs.empty() &&
          (first == nullptr || r.runs.front().vcn < first->runs.front().vcn))
        first = &kv.second;
    }
    if (first) {
      merge_data_runs(found[i].runs, first->runs);
    } else {
      by_key.emplace(std::make_pair(entry_record_key(found[i]), origins[i].holder + 1), std::move(found[i]));
    }
  }
  for (auto& kv : by_key) {
    if (window_length) load_attribute_window(kv.second, ntfs, window_offset, window_length);
    out.push_back(std::move(kv.second));
  }
  return out.empty() ? 0 : 1;
}

bool collect_entry_records(CNtfs* ntfs, ulong64 entry, std::vector<entry_record>& out) {
  return collect_entry_records(ntfs, entry, out, 0, 0) == 1;
}

bool get_attribute_names(CNtfs* ntfs, ulong64 entry, uint32 type, std::vector<std::string>& names) {
  names.clear();
  std::set<std::string> found;
  bool any = false;
  if (type == ATTR_ATTRIBUTE_LIST || type == ENTRY_SUMMARY_TYPE) {
    // The collection follows an attribute list instead of keeping it, and
    // sums up the FILE record under a type no attribute has: for these the
    // entry's own record answers.
    std::vector<byte> record;
    if (!read_entry_file_record(ntfs, entry, record)) return false;
    const uint32 size = static_cast<uint32>(record.size());
    const byte* attr = nullptr;
    for (bool have = find_attribute(record.data(), size, type, attr); have;
         have = find_next_attribute(record.data(), size, attr, type)) {
      entry_record r;
      if (!record_from_attribute(r, entry, entry, attr, load_u32(attr, AH_LENGTH))) continue;
      any = true;
      if (!r.name.empty()) found.insert(r.name);
    }
  } else {
    std::vector<entry_record> records;
    if (!collect_entry_records(ntfs, entry, records)) return false;
    for (const entry_record& r : records) {
      if (r.item.header.type != type) continue;
      any = true;
      if (!r.name.empty()) found.insert(r.name);
    }
  }
  names.assign(found.begin(), found.end());
  return any;
}

ulong64 entry_allocated_size(const entry_record& r) { return entry_is_non_resident(r) ? load_u64(r.item.body, 8) : 0; }
ulong64 entry_used_size(const entry_record& r) { return entry_is_non_resident(r) ? load_u64(r.item.body, 16) : 0; }
ulong64 entry_compressed_size(const entry_record& r) {
  return entry_is_non_resident(r) ? load_u64(r.item.body, 24) : 0;
}
uint32 entry_compression_unit(const entry_record& r) {
  return entry_is_non_resident(r) ? load_u32(r.item.body, 32) : 0;
}
uint32 entry_value_length(const entry_record& r) { return entry_is_non_resident(r) ? 0 : load_u32(r.item.body, 0); }
