#include "app/record_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <sstream>

#include "app/attribute_list.h"
#include "disk/disk_handle.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "ntfs/ntfs_structs.h"
#include "ntfs/security_descriptor.h"
#include "utils/byte_order.h"
#include "utils/file_handle.h"
#include "utils/number_text.h"
#include "utils/utf16le.h"
#include "utils/utf_convert.h"

namespace {

const uint32 k_unknown_type = 0xFFFFFFFF;
const uint32 k_symlink_tag = 0xA000000C;

// The steps to the next free key: the attribute key's bits 32 to 47 (free
// between its type and its id), an id key's bits 16 to 31.
const ulong64 k_attribute_key_step = 1ULL << 32;
const ulong64 k_id_key_step = 1ULL << 16;
// An NTFS 3.1 FILE record header keeps the record's own number here (u32).
const uint32 k_record_number = 0x2C;

template <class Map>
ulong64 free_key(const Map& map, ulong64 key, ulong64 step) {
  return first_free_key(key, step, [&map](ulong64 k) { return map.count(k) != 0; });
}

// The record a FILE record buffer holds: `entry`, unless it is an extension
// record (a base reference) whose header gives its own number.
ulong64 record_number_of(const byte* record, uint32 length, ulong64 entry) {
  if (!record || length < k_record_number + 4 || load_u64(record + FRH_BASE_RECORD) == 0 ||
      load_u16(record + FRH_USA_OFFSET) < k_record_number + 4)
    return entry;
  return load_u32(record + k_record_number);
}

// Adds a piece's runs to those of the attribute it continues, each at its
// own VCN (a run of a VCN already held is the same run read twice).
void join_runs(const std::vector<data_run>& piece, std::vector<data_run>& runs) {
  runs.insert(runs.end(), piece.begin(), piece.end());
  std::stable_sort(runs.begin(), runs.end(), [](const data_run& a, const data_run& b) { return a.vcn < b.vcn; });
  runs.erase(std::unique(runs.begin(), runs.end(), [](const data_run& a, const data_run& b) { return a.vcn == b.vcn; }),
             runs.end());
}

bool non_resident(const std::vector<byte>& raw) {
  return raw.size() >= AH_NON_RESIDENT_SIZE && raw[AH_NON_RESIDENT] != 0;
}

// The first VCN of a non-resident attribute's bytes; 0 for a resident one.
ulong64 first_vcn(const std::vector<byte>& raw) { return non_resident(raw) ? load_u64(raw.data() + AH_FIRST_VCN) : 0; }

bool reading_extracted_mft(const user_ctx& ctx) { return ctx.mft_reader && ctx.mft_reader->is_open(); }

// UTF-16LE units straight from evidence bytes (no alignment assumed).
std::wstring utf16le_text(const byte* data, uint32 units) {
  std::vector<uint16> buffer(units);
  for (uint32 i = 0; i < units; ++i) buffer[i] = load_u16(data + 2 * i);
  std::wstring out;
  if (units) append_utf16_units(out, buffer.data(), units, true);
  return out;
}

// Every byte of a UTF-8 text as one wide character, as the walker expects
// attribute names.
std::wstring bytes_as_wide(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  for (unsigned char c : text) out.push_back(static_cast<wchar_t>(c));
  return out;
}

void copy_prefix(byte* dest, uint32 dest_size, const byte_view& value) {
  uint64 n = value.size < dest_size ? value.size : dest_size;
  if (n) std::memcpy(dest, value.data, static_cast<size_t>(n));
}

std::string version_text(unsigned major, unsigned minor) {
  std::string text = "ver: " + std::to_string(major) + ":" + std::to_string(minor);
  if (major == 1 && minor == 2) return text + " (WinNT)";
  if (major == 3 && minor == 0) return text + " (Win2k)";
  if (major == 3 && minor == 1) return text + " (WinXP)";
  if (major == 3 && minor >= 2) return text + " (Windows)";
  return text + "(Unk version)";
}

// The print name of a reparse point. Symbolic links carry a flags word
// before their path buffer; mount points do not.
bool reparse_print_name(const byte_view& value, std::wstring& name) {
  name.clear();
  uint32 tag = 0;
  uint16 substitute_length = 0, print_offset = 0, print_length = 0;
  if (value.size < 17 || !value.u32(0, tag) || !value.u16(10, substitute_length) || substitute_length == 0 ||
      !value.u16(12, print_offset) || !value.u16(14, print_length))
    return false;
  uint64 buffer_start = tag == k_symlink_tag ? 20 : 16;
  uint64 start = buffer_start + print_offset;
  if (!value.has(start, print_length)) return false;
  name = utf16le_text(value.data + start, print_length / 2);
  return true;
}

void note_time(bool& suspect, std::string& note, ulong64 t, ulong64 future_limit) {
  if (t == 0) {
    suspect = true;
    note = "null";
  } else if (future_limit != 0 && t > future_limit && note != "null") {
    suspect = true;
    note = "future";
  }
}

std::string security_descriptor_text(const byte_view& value) {
  std::ostringstream text;
  // A resident value lives inside one MFT record, so its length fits in 32 bits.
  const uint32 size = value.size > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32>(value.size);
  print_security_descriptor(text, value.data, size, "  ");
  return text.str();
}

}  // namespace

attribute_record::attribute_record(const byte* attribute, uint32 length) {
  if (!attribute || length < 16) return;
  raw.assign(attribute, attribute + length);
  if (attribute[8] != 0) {
    std::vector<run_record> decoded;
    if (decode_attribute_runs(attribute, length, decoded)) run_records_to_data_runs(decoded, runs);
  }
}

attribute_record::attribute_record(const byte* attribute)
    : attribute_record(attribute, attribute_own_length(attribute)) {}

uint32 attribute_own_length(const byte* attribute) {
  if (!attribute) return 0;
  const uint32 length = load_u32(attribute, AH_LENGTH);
  return length <= MAX_MFT_RECORD_SIZE ? length : 0;
}

uint32 attribute_record::type() const { return raw.size() >= 4 ? load_u32(raw.data()) : 0; }

void inode_attributes::clear() {
  source_desc.clear();
  has_attr_list = false;
  attr_list_nonresident = false;
  time_note_set = false;
  time_note.clear();
  entry = 0;
  sequence = 0;
  std::memset(header, 0, sizeof header);
  next_attr_id = 0;
  has_base_record = false;
  base_record = 0;
  si_records.clear();
  filename_records.clear();
  objid_records.clear();
  volume_names.clear();
  volume_infos.clear();
  reparse_names.clear();
  attributes.clear();
  parents.clear();
  names.clear();
  filed_.clear();
  pieces_.clear();
  pieces_indexed_ = false;
}

const std::string& inode_attributes::descriptor_text(const byte_view& value) {
  const size_t size = static_cast<size_t>(value.size);
  size_t i = 0;
  while (i < descriptors_.size() && (descriptors_[i].first.size() != size ||
                                     std::memcmp(descriptors_[i].first.data(), value.data, size) != 0))
    ++i;
  if (i == descriptors_.size()) {
    const size_t k_kept = 4;
    if (descriptors_.size() < k_kept) descriptors_.emplace_back();
    i = descriptors_.size() - 1;
    descriptors_[i].first.assign(value.data, value.data + size);
    descriptors_[i].second = security_descriptor_text(value);
  }
  std::rotate(descriptors_.begin(), descriptors_.begin() + static_cast<std::ptrdiff_t>(i),
              descriptors_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
  return descriptors_.front().second;
}

bool inode_attributes::parse_attribute(user_ctx& ctx, ulong64 entry_number, const byte* record, uint32 length,
                                       const byte* attr, bool& is_attr_list) {
  return parse_attribute(ctx, entry_number, record_number_of(record, length, entry_number), record, length, attr,
                         is_attr_list);
}

attribute_record* inode_attributes::file_record(ulong64& key, attribute_record&& rec, bool other_record) {
  // Pieces come only through a list: an entry without one is filed as it
  // stands, without an index to keep.
  if (other_record && !pieces_indexed_) {
    for (const auto& kv : attributes)
      if (non_resident(kv.second.raw)) pieces_.emplace(std::make_pair(kv.second.type(), kv.second.name), kv.first);
    pieces_indexed_ = true;
  }
  const bool is_piece = non_resident(rec.raw) && pieces_indexed_;
  const auto piece = is_piece ? pieces_.find(std::make_pair(rec.type(), rec.name)) : pieces_.end();
  if (piece != pieces_.end()) {
    attribute_record& held = attributes.at(piece->second);
    const ulong64 vcn = first_vcn(rec.raw), held_vcn = first_vcn(held.raw);
    if (vcn > held_vcn) {
      join_runs(rec.runs, held.runs);
      return nullptr;
    }
    if (vcn < held_vcn) {
      // A piece filed before the one it continues: the earlier piece's
      // header (its sizes) stands for the attribute, with every run.
      join_runs(held.runs, rec.runs);
      attributes.erase(piece->second);
      key = free_key(attributes, key, k_attribute_key_step);
      attribute_record& filed = attributes.emplace(key, std::move(rec)).first->second;
      piece->second = key;
      return &filed;
    }
  }
  if (other_record) key = free_key(attributes, key, k_attribute_key_step);
  const auto placed = attributes.emplace(key, std::move(rec));
  if (!placed.second) return nullptr;
  attribute_record& filed = placed.first->second;
  if (is_piece) pieces_.emplace(std::make_pair(filed.type(), filed.name), key);
  return &filed;
}

bool inode_attributes::parse_attribute(user_ctx& ctx, ulong64 entry_number, ulong64 holder, const byte* record,
                                       uint32 length, const byte* attr, bool& is_attr_list) {
  is_attr_list = false;
  if (!record || length == 0 || !attr || attr < record) return false;
  uint64 offset = static_cast<uint64>(attr - record);
  if (!fits(length, offset, AH_RESIDENT_SIZE)) return false;
  uint32 attr_length = load_u32(attr + AH_LENGTH);
  if (attr_length < AH_RESIDENT_SIZE || !fits(length, offset, attr_length)) return false;

  uint32 type = load_u32(attr + AH_TYPE);
  ulong64 id = load_u16(attr + AH_INSTANCE);
  if (type == ATTR_ATTRIBUTE_LIST) {
    is_attr_list = true;
    return true;
  }
  // One attribute named twice (a list entry repeated) is filed once; in the
  // entry's own record a key held already means the same.
  const bool other_record = mft_reference_entry(holder) != mft_reference_entry(entry_number);
  if (other_record && !filed_.emplace(mft_reference_entry(holder), (static_cast<ulong64>(type) << 16) | id).second)
    return true;
  // The key of a map that keys by id or name, for an attribute of another
  // record the next free one.
  auto keyed = [other_record](const auto& map, ulong64 natural, ulong64 step) {
    return other_record ? free_key(map, natural, step) : natural;
  };
  ulong64 key = static_cast<ulong64>(type) | (id << 48);
  bool resident = attr[AH_NON_RESIDENT] == 0;

  std::string attr_name;
  byte_view name_bytes;
  if (attr[AH_NAME_LENGTH] != 0 && load_u16(attr + AH_NAME_OFFSET) != 0 &&
      attribute_name(attr, attr_length, name_bytes))
    attr_name = wstring_to_utf8(utf16le_text(name_bytes.data, static_cast<uint32>(name_bytes.size / 2)));

  byte_view value;
  bool has_value = resident && resident_value(attr, attr_length, value) && value.size > 0;

  // The attribute as an attribute_record under `key` (or the free key found
  // for it); null when it joined a piece filed before.
  auto file = [&](const char* label) -> attribute_record* {
    attribute_record rec(attr, attr_length);
    rec.name = bytes_as_wide(attr_name);
    rec.label = label;
    return file_record(key, std::move(rec), other_record);
  };

  switch (type) {
    case ATTR_STANDARD_INFORMATION: {
      if (!has_value) break;
      si_record si;
      copy_prefix(si.data, sizeof si.data, value);
      for (int i = 0; i < 4; ++i) {
        if (load_u64(si.data + 8 * i) == 0) {
          si.time_suspect = true;
          si.note = "null";
        }
      }
      si_records.emplace(keyed(si_records, id, k_id_key_step), si);
      break;
    }
    case ATTR_FILE_NAME: {
      if (!has_value || value.size < FN_NAME_LENGTH + 2) break;
      filename_record fn;
      copy_prefix(fn.data, sizeof fn.data, value);
      uint32 units = fn.data[FN_NAME_LENGTH];
      uint32 room = static_cast<uint32>((value.size - 66) / 2);
      if (units > room) units = room;
      fn.name = utf16le_text(value.data + 66, units);
      uint8 name_space = fn.data[FN_NAMESPACE];
      fn.dos_name = name_space == 2;
      for (int i = 0; i < 4; ++i)
        note_time(fn.time_suspect, fn.note, load_u64(fn.data + 8 + 8 * i), ctx.future_limit);
      ulong64 parent = load_u64(fn.data);
      ulong64 fn_key = keyed(filename_records, file_name_key(parent, id, name_space), FILE_NAME_KEY_STEP);
      bool inserted = filename_records.emplace(fn_key, fn).second;
      if (inserted && name_space != 2) {
        parent_record pr;
        pr.reference = parent;
        pr.name = fn.name;
        parents.emplace(mft_reference_entry(parent), pr);
        std::wstring lowered = fn.name;
        for (wchar_t& c : lowered) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
        names.emplace(lowered, fn_key);
      }
      break;
    }
    case ATTR_OBJECT_ID: {
      if (!has_value || value.size < 16) break;
      objid_record oid;
      copy_prefix(oid.data, sizeof oid.data, value);
      oid.value_length = static_cast<uint32>(value.size);
      oid.name = attr_name;
      objid_records.emplace(keyed(objid_records, id, k_id_key_step), oid);
      if (attribute_record* rec = file("obj id")) guid_to_string(rec->text, oid.data);
      break;
    }
    case ATTR_SECURITY_DESCRIPTOR: {
      attribute_record* rec = file("security descr");
      if (rec && has_value) rec->detail = descriptor_text(value);
      break;
    }
    case ATTR_VOLUME_NAME: {
      std::wstring volume_name;
      if (has_value) volume_name = utf16le_text(value.data, static_cast<uint32>(value.size / 2));
      if (attribute_record* rec = file("vol name")) {
        rec->name.clear();
        volume_names.emplace(key, volume_name);
      }
      break;
    }
    case ATTR_VOLUME_INFORMATION: {
      if (!has_value) break;
      volinfo_record vi;
      copy_prefix(vi.data, sizeof vi.data, value);
      vi.version = version_text(vi.data[8], vi.data[9]);
      if (attribute_record* rec = file("vol info")) {
        rec->text = vi.version;
        volume_infos.emplace(key, vi);
      }
      break;
    }
    case ATTR_DATA: {
      if (attribute_record* rec = file(attr_name.empty() ? "unnamed data" : "ads")) {
        rec->is_data = true;
        rec->is_ads = !attr_name.empty();
      }
      break;
    }
    case ATTR_INDEX_ROOT:
      file("indx root");
      break;
    case ATTR_INDEX_ALLOCATION:
      file("indx alloc");
      break;
    case ATTR_BITMAP:
      file("bitmap");
      break;
    case ATTR_REPARSE_POINT: {
      std::wstring print_name;
      bool named = has_value && reparse_print_name(value, print_name);
      attribute_record* rec = file("reparse point");
      if (rec && named) {
        reparse_names.emplace(key, print_name);
        rec->text = wstring_to_utf8(print_name);
      }
      break;
    }
    case ATTR_LOGGED_UTILITY_STREAM:
      file("logged stream");
      break;
    default:
      key = static_cast<ulong64>(k_unknown_type) | (id << 48);
      file("unk");
      break;
  }
  return true;
}

uint16 inode_attributes::set_record_header(ulong64 entry_number, const byte* record_header) {
  entry = entry_number;
  std::memcpy(header, record_header, sizeof header);
  next_attr_id = load_u16(record_header + FRH_NEXT_ATTRIBUTE_ID);
  sequence = load_u16(record_header + FRH_SEQUENCE);
  const ulong64 base = load_u64(record_header + FRH_BASE_RECORD);
  if (base != 0) {
    has_base_record = true;
    base_record = base;
  }
  return load_u16(record_header + FRH_FIRST_ATTRIBUTE);
}

bool inode_attributes::passes_deleted_filter(const user_ctx& ctx) const {
  return !ctx.filter_deleted_files || (load_u16(header + FRH_FLAGS) & FILE_RECORD_IN_USE) == 0;
}

bool read_source_record(std::vector<byte>& out, bool& is_baad, user_ctx& ctx, ulong64 entry) {
  out.clear();
  is_baad = false;
  if (!ctx.source_ready()) return false;

  if (reading_extracted_mft(ctx)) {
    if (!ctx.read_mft_entry(out, entry)) return false;
  } else {
    CNtfs& ntfs = *ctx.ntfs;
    if (!ctx.record_size_known) {
      ctx.record_size = ntfs.m_mft_record_size;
      ctx.record_size_known = true;
    }
    if (ctx.record_size < 256 || ctx.record_size > 65536) return false;
    // The engine follows the $MFT's runs, so a record that straddles two of
    // them (clusters smaller than records) is read from both places, and it
    // reads ahead when entries are asked for in order. It applies the fixups
    // itself and refuses what is neither "FILE" nor "INDX"; the bytes it read
    // are still in the buffer to tell a "BAAD" record.
    out.assign(ctx.record_size, 0);
    byte* buffer = out.data();
    ulong64 position = 0;
    int length = static_cast<int>(out.size());
    if (ntfs.read_mft_record(entry, buffer, position, length, false)) {
      out.resize(static_cast<size_t>(length));
      return true;
    }
    if (std::memcmp(out.data(), "BAAD", 4) == 0) {
      is_baad = true;
      return true;
    }
    out.clear();
    return false;
  }

  if (out.size() < 4) return false;
  if (std::memcmp(out.data(), "BAAD", 4) == 0) {
    is_baad = true;
    return true;
  }
  if (std::memcmp(out.data(), "FILE", 4) != 0 && std::memcmp(out.data(), "INDX", 4) != 0) return false;
  // The last record of a file cut short is fixed up sector by sector as far
  // as it goes.
  apply_update_sequence(out.data(), ctx.record_size, static_cast<uint32>(out.size()));
  return true;
}

bool read_inode(inode_attributes& out, user_ctx& ctx, ulong64 entry) {
  out.clear();
  if (!ctx.source_ready()) return false;
  std::vector<byte> record;
  bool is_baad = false;
  if (!read_source_record(record, is_baad, ctx, entry) || is_baad || record.size() < FRH_SIZE) return false;

  const byte* rec = record.data();
  uint32 size = static_cast<uint32>(record.size());
  parse_record_attributes(out, ctx, entry, rec, size, out.set_record_header(entry, rec));
  return true;
}

void parse_record_attributes(inode_attributes& out, user_ctx& ctx, ulong64 entry, const byte* record, uint32 size,
                             uint32 offset) {
  if (!record || offset == 0) return;
  const uint32 limit = record_walk_limit(record, size);
  uint32 type = 0, length = 0;
  // The list is followed once the base record is filed, so that the base
  // record's attributes keep their own keys whatever the list names.
  uint32 list_offset = 0, list_length = 0;
  while (attribute_at(record, limit, offset, type, length)) {
    bool is_list = false;
    if (!out.parse_attribute(ctx, entry, entry, record, limit, record + offset, is_list)) break;
    if (is_list && list_offset == 0) {
      list_offset = offset;
      list_length = length;
    }
    offset += length;
  }
  if (list_offset != 0) read_attribute_list(out, ctx, entry, record + list_offset, list_length);
}

bool get_inode_parents(std::wstring& name, ulong64_set& parents, bool& is_dir, ulong64 entry, user_ctx& ctx) {
  name.clear();
  parents.clear();
  is_dir = false;
  inode_attributes rec;
  if (!read_inode(rec, ctx, entry)) return false;
  is_dir = (load_u16(rec.header + FRH_FLAGS) & FILE_RECORD_DIRECTORY) != 0;
  if (!rec.filename_records.empty()) name = rec.filename_records.begin()->second.name;
  for (const auto& kv : rec.parents) parents.insert(kv.second.reference);
  return !parents.empty();
}
