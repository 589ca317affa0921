#include "examine/security_lookup.h"

#include <cstring>
#include <functional>
#include <ostream>
#include <sstream>
#include <vector>

#include "disk/disk_handle.h"
#include "examine/attribute_writer.h"
#include "examine/entry_records.h"
#include "ntfs/ntfs.h"
#include "ntfs/security_descriptor.h"
#include "utils/byte_order.h"
#include "utils/case_text.h"
#include "utils/utf_convert.h"

namespace {

const ulong64 SECURE_ENTRY = 9;
const ulong64 OBJID_ENTRY = 25;
const uint32 INDEX_BLOCK = 4096;
const uint32 SDS_HEADER = 20;

// The entries of the index node whose header lies at `header` in `block`,
// each handed over only when it lies whole inside the node and the block and
// holds at least `min_length` bytes; the walk ends at the last-entry mark, a
// zero length or the node's end. False from `take` ends it too.
void walk_node(const byte_view& block, uint32 header, uint32 min_length,
               const std::function<bool(const byte_view&)>& take) {
  uint32 first = 0, in_use = 0;
  if (!block.u32(header, first) || !block.u32(header + 4ULL, in_use)) return;
  const uint64 end = std::min<uint64>(block.size, static_cast<uint64>(header) + in_use);
  uint64 at = static_cast<uint64>(header) + first;
  while (at + 16 <= end) {
    const uint32 length = load_u16(block.data, at + 8);
    const uint32 flags = load_u32(block.data, at + 12);
    if (length < 16 || at + length > end) return;
    if (flags & 2) return;  // the last-entry mark holds no key
    if (length >= min_length && !take(block.sub(at, length))) return;
    at += length;
  }
}

// Every entry of the named index of an entry: its INDX records and the
// entries kept in its root.
bool walk_index(CNtfs* ntfs, ulong64 entry, const std::string& name, bool ignore_case, uint32 min_length,
                const std::function<bool(const byte_view&)>& take) {
  std::vector<entry_record> records;
  if (!collect_entry_records(ntfs, entry, records)) return false;
  for (const entry_record& rec : records) {
    const bool named = ignore_case ? compare(rec.name.c_str(), name.c_str(), true) == 0 : rec.name == name;
    const uint32 type = rec.item.header.type;
    if (!named || (type != 0x90 && type != 0xA0)) continue;
    std::ostringstream data, messages;
    if (!copy_attribute_data(ntfs, rec, data, messages, false)) return false;
    const std::string bytes = data.str();
    const byte_view all(reinterpret_cast<const byte*>(bytes.data()), bytes.size());
    if (type == 0x90) {
      walk_node(all, 16, min_length, take);
      continue;
    }
    for (uint64 at = 0; at + INDEX_BLOCK <= all.size; at += INDEX_BLOCK) {
      const byte_view block = all.sub(at, INDEX_BLOCK);
      if (std::memcmp(block.data, "INDX", 4) == 0) walk_node(block, 24, min_length, take);
    }
  }
  return true;
}

// The descriptor at `offset` of $SDS when its header names that offset and
// its length lies inside the stream.
bool descriptor_text(const std::string& sds, ulong64 offset, std::string& text) {
  const byte_view stream(reinterpret_cast<const byte*>(sds.data()), sds.size());
  uint64 own = 0;
  uint32 length = 0;
  if (!stream.u64(offset + 8, own) || own != offset || !stream.u32(offset + 16, length)) return false;
  if (length <= 40 || !stream.has(offset, length)) return false;
  std::ostringstream out;
  print_security_descriptor(out, stream.data + offset + SDS_HEADER, length - SDS_HEADER, nullptr);
  text = out.str();
  return true;
}

bool read_named_stream(CNtfs* ntfs, const std::vector<entry_record>& records, uint32 type, const char* name,
                       std::string& out) {
  const entry_record* found = nullptr;
  for (const entry_record& r : records)
    if (r.item.header.type == type && !r.name.empty() && compare(r.name.c_str(), name, true) == 0) found = &r;
  if (!found) return false;
  std::ostringstream data, messages;
  if (!copy_attribute_data(ntfs, *found, data, messages, false)) return false;
  out = data.str();
  return !out.empty();
}

struct security_cache {
  bool valid = false;
  std::string identity;
  security_id_map ids;
  security_text_map texts;
};

security_cache& cache() {
  static security_cache c;
  return c;
}

bool print_cached(CNtfs* ntfs, uint32 security_id, std::ostream& out) {
  security_cache& c = cache();
  const std::string identity = volume_identity(ntfs);
  if (!c.valid || c.identity != identity) {
    c.valid = false;
    c.identity.clear();
    if (!load_security_tables(ntfs, c.ids, c.texts)) return false;
    c.valid = true;
    c.identity = identity;
  }
  const auto id = c.ids.find(security_id);
  if (id == c.ids.end()) return false;
  const auto text = c.texts.find(id->second.sds_offset);
  if (text == c.texts.end()) return false;
  out << text->second << "\n";
  return true;
}

}  // namespace

std::string volume_identity(CNtfs* ntfs) {
  if (!ntfs) return "";
  std::ostringstream id;
  id << std::hex << ntfs->m_boot.volume_serial_number << "|" << ntfs->m_volume_offset << "|";
  if (const disk_handle* disk = ntfs->get_disk_handle()) {
    id << disk->m_name << "|" << wstring_to_utf8(disk->m_wname) << "|" << disk->get_start_offset() << "|"
       << disk->get_size();
  } else {
    id << ntfs->m_mft_file_name;
  }
  return id.str();
}

bool load_security_tables(CNtfs* ntfs, security_id_map& ids, security_text_map& texts) {
  ids.clear();
  texts.clear();
  if (!ntfs) return false;
  ulong64 mft_pos = 0;
  if (!ntfs->is_validated() && !ntfs->initialise(mft_pos)) return false;
  std::vector<entry_record> records;
  if (!collect_entry_records(ntfs, SECURE_ENTRY, records)) return false;
  std::string sds;
  if (!read_named_stream(ntfs, records, 0x80, "$SDS", sds)) return false;
  const bool walked = walk_index(ntfs, SECURE_ENTRY, "$SII", true, 40, [&](const byte_view& entry) {
    const security_id_entry id(entry);
    ids.emplace(id.security_id, id);
    std::string text;
    if (descriptor_text(sds, id.sds_offset, text)) texts.emplace(id.sds_offset, text);
    return true;
  });
  if (!walked || ids.empty() || texts.empty()) {
    ids.clear();
    texts.clear();
    return false;
  }
  return true;
}

bool print_security_id(CNtfs* ntfs, uint32 security_id, std::ostream& out) {
  return ntfs && print_cached(ntfs, security_id, out);
}

bool print_security_id(const std::string& drive, uint32 security_id, std::ostream& out) {
  if (drive.empty()) return false;
  CNtfs* ntfs = nullptr;
  if (!open_ntfs_by_drive_letter(drive.substr(0, 1).c_str(), ntfs, false, false)) return false;
  const bool ok = print_cached(ntfs, security_id, out);
  delete ntfs;
  return ok;
}

bool find_object_id(CNtfs* ntfs, const byte* object_id, ulong64& reference, uint16& sequence) {
  reference = 0;
  sequence = 0;
  if (!ntfs || !object_id) return false;
  bool found = false;
  walk_index(ntfs, OBJID_ENTRY, "$O", false, 72, [&](const byte_view& entry) {
    if (std::memcmp(entry.data + 16, object_id, 16) != 0 && std::memcmp(entry.data + 56, object_id, 16) != 0)
      return true;
    reference = load_u64(entry.data, 32);
    sequence = load_u16(entry.data, 38);
    found = true;
    return false;
  });
  return found;
}
