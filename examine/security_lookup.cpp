#include "examine/security_lookup.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <ostream>
#include <sstream>
#include <utility>
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

// The text of a self-relative security descriptor: its SIDs and ACEs.
void describe_descriptor(const byte_view& sd, std::string& text) {
  uint32 owner = 0, group = 0, sacl = 0, dacl = 0;
  text = "Security Identifiers\n";
  if (sd.u32(SD_OWNER_OFFSET, owner) && owner != 0) append_sid_line(text, "owner sid [", sd, owner);
  if (sd.u32(SD_GROUP_OFFSET, group) && group != 0) append_sid_line(text, "group sid [", sd, group);
  if (sd.u32(SD_SACL_OFFSET, sacl)) append_acl(text, sd, sacl, "System Access Control List");
  if (sd.u32(SD_DACL_OFFSET, dacl)) append_acl(text, sd, dacl, "Discretionary Access Control List");
}

// $SDS is read where $SII points, one window at a time, the descriptors in
// ascending order of offset: each stretch of the stream is read once, and
// memory stays at one window whatever size a damaged record claims.
const ulong64 SDS_WINDOW = 256u << 10;
// A descriptor holds two SIDs and two ACLs of at most 64 KiB each: anything
// longer is damage, not a descriptor worth an allocation.
const uint32 MOST_DESCRIPTOR = 256u << 10;

// The stretches [begin, end) of the first `length` bytes of a stream that
// the source holds, in order and joined where they meet: what a run maps
// inside the volume up to the image's last byte (a cut image holds a run in
// part, and the runs after one it does not hold may lie lower and be
// whole), and the holes, which read as zeros.
std::vector<std::pair<ulong64, ulong64>> held_stretches(const CNtfs& ntfs, const entry_record& rec, ulong64 length) {
  std::vector<std::pair<ulong64, ulong64>> held;
  if (rec.runs.empty()) {
    if (length != 0) held.emplace_back(0, length);
    return held;
  }
  const ulong64 cs = ntfs.m_cluster_size;
  const ulong64 total = ntfs.m_total_clusters;
  const ulong64 image = ntfs.held_bytes();
  const ulong64 most = std::numeric_limits<ulong64>::max();
  for (const data_run& r : rec.runs) {
    if (cs == 0 || r.vcn > most / cs || r.num_clusters == 0) continue;
    const ulong64 begin = r.vcn * cs;
    if (begin >= length) continue;
    ulong64 bytes = std::min<ulong64>(r.num_clusters * cs, length - begin);
    if (!r.sparse) {
      // A run that leaves the volume is read nowhere.
      if (total != 0 && (r.lcn >= total || r.num_clusters > total - r.lcn)) continue;
      if (r.lcn > most / cs || r.lcn * cs >= image) continue;
      bytes = std::min(bytes, image - r.lcn * cs);
    }
    held.emplace_back(begin, begin + bytes);
  }
  std::sort(held.begin(), held.end());
  size_t kept = 0;
  for (const auto& h : held) {
    if (kept != 0 && h.first <= held[kept - 1].second)
      held[kept - 1].second = std::max(held[kept - 1].second, h.second);
    else
      held[kept++] = h;
  }
  held.resize(kept);
  return held;
}

class descriptor_reader {
 public:
  descriptor_reader(CNtfs* ntfs, const entry_record& sds)
      : m_ntfs(ntfs),
        m_sds(sds),
        m_length(entry_data_length(ntfs, sds, false)),
        m_held(held_stretches(*ntfs, sds, m_length)) {}

  // The text of the descriptor at `offset` when its header there names that
  // offset and a length above 40 that lies inside the stream. Offsets must
  // not go down from one call to the next.
  bool text(ulong64 offset, std::string& text) {
    if (!bring(offset, SDS_HEADER)) return false;
    const byte* header = m_window.data() + (offset - m_at);
    const uint32 length = load_u32(header, 16);
    if (load_u64(header, 8) != offset || length <= 40 || length > MOST_DESCRIPTOR || length > m_length - offset)
      return false;
    if (!bring(offset, length)) return false;
    describe_descriptor(byte_view(m_window.data() + (offset - m_at) + SDS_HEADER, length - SDS_HEADER), text);
    return true;
  }

 private:
  // Whether [at, at + length) is in the window, read there when it is not
  // yet. Only bytes the source holds are read: the stretch that holds `at`
  // must hold the whole range, and the window is read from the window's
  // boundary below `at`, or from `at` for a descriptor that runs past that
  // window, never before the stretch or past it. A stretch tried and not
  // read is not tried again.
  bool bring(ulong64 at, uint32 length) {
    while (m_stretch < m_held.size() && m_held[m_stretch].second <= at) ++m_stretch;
    if (m_stretch == m_held.size()) return false;
    const ulong64 begin = m_held[m_stretch].first;
    const ulong64 end = m_held[m_stretch].second;
    if (at < begin || length > end - at) return false;
    if (at < m_at || at - m_at > m_tried || length > m_tried - (at - m_at)) {
      const ulong64 aligned = std::max(begin, at - at % SDS_WINDOW);
      const ulong64 start = length <= aligned + SDS_WINDOW - at ? aligned : at;
      const ulong64 stop = std::min(end, start + SDS_WINDOW);
      m_window.resize(static_cast<size_t>(stop - start));
      ulong64 got = 0;
      read_entry_range(m_ntfs, m_sds, start, stop - start, m_window.data(), got);
      m_window.resize(static_cast<size_t>(got));
      m_at = start;
      m_tried = stop - start;
    }
    return at - m_at <= m_window.size() && length <= m_window.size() - (at - m_at);
  }

  CNtfs* m_ntfs;
  const entry_record& m_sds;
  const ulong64 m_length;  // the stream's bytes, as a whole read delivers them
  const std::vector<std::pair<ulong64, ulong64>> m_held;  // the stretches of those the source holds
  size_t m_stretch = 0;    // the first stretch that ends past the last offset asked for
  std::vector<byte> m_window;
  ulong64 m_at = 0;     // where the window starts in the stream
  ulong64 m_tried = 0;  // the bytes tried from there; the window holds those read
};

// The last record of `type` whose name is `name` in any case.
const entry_record* last_named(const std::vector<entry_record>& records, uint32 type, const char* name) {
  const entry_record* found = nullptr;
  for (const entry_record& r : records)
    if (r.item.header.type == type && !r.name.empty() && compare(r.name.c_str(), name, true) == 0) found = &r;
  return found;
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
  // A stream larger than the volume is damage as a whole: a size from a
  // damaged record could claim terabytes of sparse zeros.
  const entry_record* sds = last_named(records, 0x80, "$SDS");
  if (!sds || entry_data_length(ntfs, *sds, false) > volume_bytes(*ntfs)) return false;
  std::vector<ulong64> offsets;
  const bool walked = walk_index(ntfs, SECURE_ENTRY, "$SII", true, 40, [&](const byte_view& entry) {
    const security_id_entry id(entry);
    ids.emplace(id.security_id, id);
    offsets.push_back(id.sds_offset);
    return true;
  });
  if (!walked || ids.empty()) {
    ids.clear();
    return false;
  }
  std::sort(offsets.begin(), offsets.end());
  offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
  descriptor_reader descriptors(ntfs, *sds);
  for (ulong64 offset : offsets) {
    std::string text;
    if (descriptors.text(offset, text)) texts.emplace(offset, std::move(text));
  }
  if (texts.empty()) {
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
