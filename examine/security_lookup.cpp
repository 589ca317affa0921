#include "examine/security_lookup.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <sstream>
#include <vector>

#include "disk/disk_handle.h"
#include "examine/attribute_writer.h"
#include "examine/entry_records.h"
#include "examine/index_listing.h"
#include "ntfs/ntfs.h"
#include "ntfs/mft_record.h"
#include "ntfs/security_descriptor.h"
#include "utils/byte_order.h"
#include "utils/case_text.h"
#include "utils/sid_text.h"
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
    if (type == 0xA0) {
      // Record by record, never further than the volume is long, whatever
      // size and runs the allocation claims; past the initialized size
      // nothing was ever written.
      const ulong64 length = std::min(entry_data_length(ntfs, rec, false), rec.initialized_size);
      std::vector<byte> read, block(INDEX_BLOCK);
      walk_index_allocation(*ntfs, rec, length, read, [&](const byte* record, ulong64) {
        if (std::memcmp(record, "INDX", 4) != 0) return true;
        std::memcpy(block.data(), record, INDEX_BLOCK);
        apply_update_sequence(block.data(), INDEX_BLOCK);
        walk_node(byte_view(block.data(), INDEX_BLOCK), 24, min_length, take);
        return true;
      });
      continue;
    }
    std::ostringstream data, messages;
    if (!copy_attribute_data(ntfs, rec, data, messages, false)) return false;
    const std::string bytes = data.str();
    walk_node(byte_view(reinterpret_cast<const byte*>(bytes.data()), bytes.size()), 16, min_length, take);
  }
  return true;
}

const uint32 ACE_COLUMN = 15;

void append_column(std::string& text, const std::string& value) {
  text += value;
  if (value.size() < ACE_COLUMN) text.append(ACE_COLUMN - value.size(), ' ');
}

void append_sid_line(std::string& text, const char* label, const byte_view& sd, uint32 offset) {
  text += label;
  if (offset < sd.size) text += sid_to_string(sd.data + offset, static_cast<uint32>(sd.size - offset));
  text += "]\n";
}

// One line per ACE, its SID as S- text: the engine's account names cover
// only well-known SIDs, while a domain user's SID is what an examiner
// matches against other tools' listings.
void append_acl(std::string& text, const byte_view& sd, uint32 offset, const char* heading) {
  // No descriptor comes near 2 GiB: an offset that large is damage.
  if (offset == 0 || offset > 0x7FFFFFFFu) return;
  ace_record_map aces;
  parse_security_descriptor_acl(aces, sd, static_cast<int>(offset));
  if (aces.empty()) return;
  text += "\n";
  text += heading;
  text += "\n";
  for (const auto& kv : aces) {
    append_column(text, kv.second.type_name);
    text += ' ';
    append_column(text, kv.second.sid_text);
    text += ' ';
    text += kv.second.mask_names;
    text += '\n';
  }
}

// The descriptor at `offset` of $SDS when its header names that offset and
// its length lies inside the stream.
bool descriptor_text(const std::string& sds, ulong64 offset, std::string& text) {
  const byte_view stream(reinterpret_cast<const byte*>(sds.data()), sds.size());
  uint64 own = 0;
  uint32 length = 0;
  if (!stream.u64(offset + 8, own) || own != offset || !stream.u32(offset + 16, length)) return false;
  if (length <= 40 || !stream.has(offset, length)) return false;
  const byte_view sd = stream.sub(offset + SDS_HEADER, length - SDS_HEADER);
  uint32 owner = 0, group = 0, sacl = 0, dacl = 0;
  text = "Security Identifiers\n";
  if (sd.u32(SD_OWNER_OFFSET, owner) && owner != 0) append_sid_line(text, "owner sid [", sd, owner);
  if (sd.u32(SD_GROUP_OFFSET, group) && group != 0) append_sid_line(text, "group sid [", sd, group);
  if (sd.u32(SD_SACL_OFFSET, sacl)) append_acl(text, sd, sacl, "System Access Control List");
  if (sd.u32(SD_DACL_OFFSET, dacl)) append_acl(text, sd, dacl, "Discretionary Access Control List");
  return true;
}

bool read_named_stream(CNtfs* ntfs, const std::vector<entry_record>& records, uint32 type, const char* name,
                       std::string& out) {
  const entry_record* found = nullptr;
  for (const entry_record& r : records)
    if (r.item.header.type == type && !r.name.empty() && compare(r.name.c_str(), name, true) == 0) found = &r;
  // A stream held whole in memory must fit in the volume: a size from a
  // damaged record could claim terabytes of sparse zeros.
  if (!found || entry_data_length(ntfs, *found, false) > volume_bytes(*ntfs)) return false;
  std::ostringstream data, messages;
  if (!copy_attribute_data(ntfs, *found, data, messages, false)) return false;
  out = data.str();
  return !out.empty();
}

// What a cache holds, and the key it was loaded under: a volume's identity,
// or a drive letter.
struct security_cache {
  bool valid = false;
  std::string key;
  security_id_map ids;
  security_text_map texts;

  // Loads the tables for `key`; a failed load leaves the cache empty and
  // invalid, so the next call loads again.
  bool load(CNtfs* ntfs, const std::string& for_key) {
    valid = false;
    key.clear();
    if (!load_security_tables(ntfs, ids, texts)) return false;
    valid = true;
    key = for_key;
    return true;
  }

  bool print(uint32 security_id, std::ostream& out) const {
    const auto id = ids.find(security_id);
    if (id == ids.end()) return false;
    const auto text = texts.find(id->second.sds_offset);
    if (text == texts.end()) return false;
    out << text->second << "\n";
    return true;
  }
};

security_cache& volume_cache() {
  static security_cache c;
  return c;
}

security_cache& drive_cache() {
  static security_cache c;
  return c;
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
  if (!ntfs) return false;
  security_cache& c = volume_cache();
  const std::string identity = volume_identity(ntfs);
  if ((!c.valid || c.key != identity) && !c.load(ntfs, identity)) return false;
  return c.print(security_id, out);
}

bool print_security_id(const std::string& drive, uint32 security_id, std::ostream& out) {
  if (drive.empty()) return false;
  security_cache& c = drive_cache();
  const std::string letter = drive.substr(0, 1);
  if (!c.valid || c.key != letter) {
    c.valid = false;
    c.ids.clear();
    c.texts.clear();
    CNtfs* opened = nullptr;
    if (!open_ntfs_by_drive_letter(letter.c_str(), opened, false, false)) return false;
    const std::unique_ptr<CNtfs> ntfs(opened);
    if (!c.load(ntfs.get(), letter)) return false;
  }
  return c.print(security_id, out);
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
