#include "ntfs/index_reports.h"

#include <iomanip>
#include <ostream>
#include <string>

#include "ntfs/attribute_type_name.h"
#include "ntfs/attribute_value_reports.h"
#include "ntfs/index_node.h"
#include "ntfs/ntfs_structs.h"
#include "ntfs/report_lines.h"
#include "ntfs/zq_hex_view.h"
#include "time/time_format.h"
#include "utils/case_text.h"
#include "utils/number_text.h"

namespace {

const uint32 k_indx_header_size = 40;
const uint32 k_node_header_size = 16;
const uint32 k_root_header_size = 16;
const uint32 k_root_node = 16;
const uint32 k_root_first_entry = 32;
const uint32 k_entry_header_size = 16;
const uint32 k_key = 16;

enum index_kind { index_i30, index_o, index_sdh, index_sii, index_r, index_other };

index_kind kind_of(const char* name) {
  static const struct {
    const char* name;
    index_kind kind;
  } names[] = {{"$I30", index_i30}, {"$O", index_o}, {"$SDH", index_sdh}, {"$SII", index_sii}, {"$R", index_r}};
  for (const auto& n : names)
    if (name && compare(name, n.name, true) == 0) return n.kind;
  return index_other;
}

uint64 u64_at(const byte_view& v, uint64 off, uint32 size) {
  uint64 value = 0;
  for (uint32 i = size; i > 0; --i) value = (value << 8) | v.data[off + i - 1];
  return value;
}

std::string guid_at(const byte_view& v, uint64 off) {
  std::string text;
  guid_to_string(text, v.data + off);
  return text;
}

// "0x" and a field in zero-filled hexadecimal, for the table rows.
void hex_cell(std::ostream& os, const byte_view& v, uint64 off, uint32 size, int digits) {
  os << "0x" << std::hex << std::setfill('0') << std::setw(digits) << u64_at(v, off, size);
}

// The bytes of `view` from `off`, at most `count` of them, as a copying hex
// view written with its offsets from 0, then a line end.
void hex_view_line(std::ostream& os, const byte_view& view, uint64 off, uint64 count) {
  if (off > view.size) off = view.size;
  if (count > view.size - off) count = view.size - off;
  zq::binary_data bytes(view.data + off, static_cast<uint32>(count), true);
  bytes.set_mode(6);
  os << bytes << "\n";
}

// The entry's own bytes: its length when that lies inside the view, else
// what the view holds.
byte_view entry_extent(const byte* entry) {
  if (!entry) return byte_view();
  const uint16 length = load_u16(entry, 8);
  return byte_view(entry, length < k_entry_header_size ? k_entry_header_size : length);
}

void row_header(std::ostream& os, bool with_header, const char* text) {
  if (with_header) os << text << "\n\n";
}

}  // namespace

std::ostream& dump_indx_header(std::ostream& os, const byte_view& record, uint32 base) {
  const report_lines r(os, record, base, 6);
  if (!record.has(0, 4)) return os;
  r.label(0, "keyword:                  ");
  os.write(reinterpret_cast<const char*>(record.data), 4);
  os << "\n";
  if (!r.line(4, "offset_sequence_array:    0x", 2, 4) || !r.line(6, "size_sequence_array:      0x", 2, 4) ||
      !r.line(8, "log_sequence_number:      0x", 8, 16) || !r.line(16, "vcn_this_blk:             0x", 8, 16))
    return os;
  return dump_index_header(os, record.sub(24, record.size > 24 ? record.size - 24 : 0), base + 24);
}

std::ostream& dump_indx_header(std::ostream& os, const byte* record, uint32 base) {
  return dump_indx_header(os, byte_view(record, record ? k_indx_header_size : 0), base);
}

std::ostream& dump_indx_header(std::ostream& os, const byte* record) { return dump_indx_header(os, record, 0); }

std::ostream& dump_index_header(std::ostream& os, const byte_view& node, uint32 base) {
  os << "---- (dir index) data ----\n";
  const report_lines r(os, node, base, 3);
  if (!r.line(0, "offset_entry:       0x", 4, 8) || !r.line(4, "size_entries:       0x", 4, 8) ||
      !r.line(8, "num entries alloc:  0x", 4, 8) || !r.field(12, "flags:              0x", 1, 2))
    return os;
  const uint8 flags = node.data[12];
  return os << (flags == 0 ? " (small dir)" : flags == 1 ? " (large dir)" : " (unk)") << "\n";
}

std::ostream& dump_index_header(std::ostream& os, const byte* node, uint32 base) {
  return dump_index_header(os, byte_view(node, node ? k_node_header_size : 0), base);
}

std::ostream& dump_index_header(std::ostream& os, const byte* node) { return dump_index_header(os, node, 0); }

std::ostream& dump_index_root_header(std::ostream& os, const byte_view& root, uint32 base) {
  os << "---- (root) data ----\n";
  const report_lines r(os, root, base, 2);
  if (!r.field(0, "type:                0x", 4, 8)) return os;
  os << " (" << attribute_type_name(static_cast<int>(load_u32(root.data, 0))) << ")\n";
  if (!r.field(4, "rule:                0x", 4, 8)) return os;
  static const char* const rules[] = {" (binary compare)", " (filename compare)", " (unicode string compare)"};
  const uint32 rule = load_u32(root.data, 4);
  os << (rule < 3 ? rules[rule] : "") << "\n";
  if (!r.line(8, "size_index_entry:    0x", 4, 8) || !r.field(12, "blks_per_index:      0x", 1, 2)) return os;
  const uint8 blocks = root.data[12];
  if (blocks == 0)
    os << ", small index (fits in Index Root)";
  else if (blocks & 1)
    os << ", large index (index allocation needed)";
  return os << "\n";
}

std::ostream& dump_index_root_header(std::ostream& os, const byte* root, uint32 base) {
  return dump_index_root_header(os, byte_view(root, root ? k_root_header_size : 0), base);
}

std::ostream& dump_index_root_header(std::ostream& os, const byte* root) {
  return dump_index_root_header(os, root, 0);
}

void dump_index_root(std::ostream& os, const byte* root, int length, uint32 base) {
  if (!root || length <= 0) return;
  const byte_view view(root, static_cast<uint64>(length));
  dump_index_root_header(os, view, base);
  dump_index_header(os, view.sub(k_root_node, view.size > k_root_node ? view.size - k_root_node : 0),
                    base + k_root_node);
  uint32 entries = 0;
  if (!view.u32(k_root_node + 4, entries)) return;
  int64 remaining = static_cast<int64>(entries) - 16;
  if (remaining <= 15 || remaining >= length) return;
  uint64 at = k_root_first_entry;
  while (remaining > 15 && view.has(at, k_entry_header_size)) {
    const uint32 entry_length = load_u16(view.data, at + 8);
    if (entry_length == 0) break;
    const uint64 span = entry_length < view.size - at ? entry_length : view.size - at;
    dump_dir_entry(nullptr, os, view.sub(at, span), static_cast<uint32>(base + at));
    remaining -= entry_length;
    if (remaining < 0) break;
    at += entry_length;
  }
}

std::ostream& dump_index_root_all(std::ostream& os, const byte_view& root) {
  dump_index_root_header(os, root, 0);
  dump_index_header(os, root.sub(k_root_node, root.size > k_root_node ? root.size - k_root_node : 0), k_root_node);
  uint32 entries = 0;
  if (!root.u32(k_root_node + 4, entries) || entries == 0) return os;
  uint64 at = k_root_first_entry;
  uint64 walked = 0;
  while (walked < entries && root.has(at, k_entry_header_size)) {
    const uint32 entry_length = load_u16(root.data, at + 8);
    if (entry_length == 0) break;
    const uint64 span = entry_length < root.size - at ? entry_length : root.size - at;
    dump_dir_entry(nullptr, os, root.sub(at, span), 0);
    walked += entry_length;
    at += entry_length;
  }
  return os;
}

std::ostream& dump_index_root_all(std::ostream& os, const byte* root) {
  if (!root) return dump_index_root_all(os, byte_view());
  return dump_index_root_all(os, byte_view(root, static_cast<uint64>(k_root_node) + load_u32(root, k_root_node + 4)));
}

std::ostream& dump_dir_entry(const char*, std::ostream& os, const byte_view& entry, uint32 base) {
  os << "---- (dir entry) data ----\n";
  const report_lines r(os, entry, base, 3);
  if (!r.field(0, "child_inode:        0x", 4, 12)) return os;
  os << " (";
  r.dec(load_u32(entry.data, 0));
  os << ")\n";
  if (!r.line(6, "sequence num:       0x", 2, 4) || !r.line(8, "size_entry:         0x", 2, 4) ||
      !r.line(10, "size_attribute:     0x", 2, 4) || !r.field(12, "flags:              0x", 2, 4))
    return os;
  const uint16 flags = load_u16(entry.data, 12);
  if (flags & 1) os << " (pts to a sub-dir)";
  if (flags & 2) os << " (terminating dir entry)";
  os << "\n";
  if (!r.line(14, "unk1:               0x", 2, 4)) return os;
  const uint32 entry_length = load_u16(entry.data, 8);
  const uint32 key_length = load_u16(entry.data, 10);
  if (entry_length == key_length) return os;
  const uint64 room = entry.size - k_key;
  if (key_length > FN_NAME) {
    dump_file_name_attribute(os, entry.sub(k_key, key_length < room ? key_length : room), base + k_key);
  } else if (entry_length > key_length) {
    hex_view_line(os, entry, k_key, entry_length - key_length);
  }
  return os;
}

std::ostream& dump_dir_entry(const char* index_name, std::ostream& os, const byte* entry, uint32 base) {
  return dump_dir_entry(index_name, os, entry_extent(entry), base);
}

std::ostream& dump_dir_entry(std::ostream& os, const byte* entry) { return dump_dir_entry(nullptr, os, entry, 0); }

std::ostream& dump_index_entries(const char* index_name, std::ostream& os, const byte_view& entry, uint32 base) {
  const index_kind kind = kind_of(index_name);
  if (kind == index_i30) return os;
  os << "---- (index entry) data ----\n";
  const report_lines r(os, entry, base, 6);
  if (!r.line(0, "m_offset_data:            0x", 2, 4) || !r.line(2, "m_size_data:              0x", 2, 4) ||
      !r.line(4, "m_padding1:               0x", 4, 4) || !r.line(8, "m_size_index_entry:       0x", 2, 8) ||
      !r.line(10, "m_size_index_key:         0x", 2, 4) || !r.line(12, "m_flags:                  0x", 2, 4) ||
      !r.line(14, "m_padding2:               0x", 2, 4))
    return os;
  if (load_u16(entry.data, 0) == 0) return os;
  switch (kind) {
    case index_o: {
      if (!entry.has(k_key, 16)) return os;
      r.label(k_key, "m_object_id:              ");
      os << guid_at(entry, k_key) << "\n";
      if (!r.line(32, "mft entry:                0x", 6, 12) || !r.line(38, "seq num:                  0x", 2, 4))
        return os;
      static const char* const labels[] = {"Birth Vol ID:             { ", "Birth Obj ID:             { ",
                                           "Domain ID:                { "};
      for (uint32 i = 0; i < 3; ++i) {
        const uint64 off = 40 + 16ULL * i;
        if (!entry.has(off, 16)) return os;
        r.label(off, labels[i]);
        os << guid_at(entry, off) << " }\n";
      }
      break;
    }
    case index_sdh:
      if (!r.line(16, "SD hash (key):            0x", 4, 8) || !r.line(20, "SD ID (key):              0x", 4, 8) ||
          !r.line(24, "SD hash (data):           0x", 4, 8) || !r.line(28, "SD ID (data):             0x", 4, 8) ||
          !r.line(32, "SD offset in $SDS:        0x", 8, 16) || !r.line(40, "SD size in $SDS:          0x", 4, 8))
        return os;
      if (!entry.has(44, 4)) return os;
      r.label(44, "II_wchar:                 ");
      os << utf16le_text_in(entry, 44, 2) << "\n";
      break;
    case index_sii:
      if (r.line(16, "SD ID (key):              0x", 4, 8) && r.line(20, "SD hash (key):            0x", 4, 8) &&
          r.line(24, "SD ID (data):             0x", 4, 8) && r.line(28, "SD offset in $SDS:        0x", 8, 16))
        r.line(36, "SD size in $SDS:          0x", 4, 8);
      break;
    case index_r:
      if (r.line(16, "m_reparse_tag:            0x", 4, 8) && r.line(20, "inode:                    0x", 6, 12) &&
          r.line(26, "seq num:                  0x", 2, 4))
        r.line(28, "m_padding3:               0x", 4, 8);
      break;
    default:
      hex_view_line(os, entry, 0, load_u16(entry.data, 8));
      break;
  }
  return os;
}

std::ostream& dump_index_entries(const char* index_name, std::ostream& os, const byte* entry, uint32 base) {
  return dump_index_entries(index_name, os, entry_extent(entry), base);
}

std::ostream& print_index_entry_line(const char*, std::ostream& os, const byte_view& entry, bool with_header) {
  row_header(os, with_header,
             "   MFT entry,    seq num, flags,      create time,         last modify time,         MFT changed,"
             "        last access time,     filename");
  if (!entry.has(0, k_entry_header_size)) return os;
  hex_cell(os, entry, 0, 4, 12);
  os << ",  ";
  hex_cell(os, entry, 6, 2, 4);
  os << ",  ";
  hex_cell(os, entry, 12, 2, 4);
  os << ", ";
  const uint32 entry_length = load_u16(entry.data, 8);
  const uint32 key_length = load_u16(entry.data, 10);
  if (key_length == entry_length || key_length <= FN_NAME || !entry.has(k_ie_name_length, 1)) return os;
  static const uint32 times[] = {k_ie_created, k_ie_modified, k_ie_mft_changed, k_ie_accessed};
  for (uint32 off : times) os << zq::time(load_u64(entry.data, off), zq::type_filetime) << ", ";
  return os << utf16le_text_in(entry, k_ie_name, entry.data[k_ie_name_length]) << "\n";
}

std::ostream& print_index_entry_line(const char* index_name, std::ostream& os, const byte* entry, bool with_header) {
  return print_index_entry_line(index_name, os, entry_extent(entry), with_header);
}

std::ostream& print_view_index_entry_line(const char* index_name, std::ostream& os, const byte_view& entry,
                                          bool with_header) {
  const index_kind kind = kind_of(index_name);
  uint16 data_offset = 0;
  if (kind == index_i30 || kind == index_other || !entry.u16(0, data_offset) || data_offset == 0) return os;
  switch (kind) {
    case index_o:
      row_header(os, with_header,
                 "           Object ID,                   MFT entry,   Seq Num,            Birth Vol ID,"
                 "                        Birth Obj ID,                        Domain ID");
      if (!entry.has(0, 88)) return os;
      os << guid_at(entry, 16) << ", ";
      hex_cell(os, entry, 32, 6, 12);
      os << ", ";
      hex_cell(os, entry, 38, 2, 4);
      os << ", " << guid_at(entry, 40) << ", " << guid_at(entry, 56) << ", " << guid_at(entry, 72) << ", ";
      break;
    case index_sdh:
      row_header(os, with_header,
                 "SD hash (key), SD ID (key), SD hash (data), SD ID (data),    $SDS offset,     $SDS size, II present");
      if (!entry.has(0, 48)) return os;
      hex_cell(os, entry, 16, 4, 8);
      os << ",    ";
      hex_cell(os, entry, 20, 4, 8);
      os << ",  ";
      hex_cell(os, entry, 24, 4, 8);
      os << ",     ";
      hex_cell(os, entry, 28, 4, 8);
      os << ",   ";
      hex_cell(os, entry, 32, 8, 16);
      os << ", ";
      hex_cell(os, entry, 40, 4, 8);
      os << ", " << (load_u16(entry.data, 44) == 'I' && load_u16(entry.data, 46) == 'I' ? "   yes" : "    no");
      break;
    case index_sii:
      row_header(os, with_header, "SD ID (key), SD hash (key), SD ID (data),    $SDS offset,     $SDS size");
      if (!entry.has(0, 40)) return os;
      hex_cell(os, entry, 16, 4, 8);
      os << ",  ";
      hex_cell(os, entry, 20, 4, 8);
      os << ",    ";
      hex_cell(os, entry, 24, 4, 8);
      os << ",   ";
      hex_cell(os, entry, 28, 8, 16);
      os << ", ";
      hex_cell(os, entry, 36, 4, 8);
      os << ", ";
      break;
    default:  // $R
      row_header(os, with_header, "    Tag,     MFT entry,    Seq num");
      if (!entry.has(0, 28)) return os;
      hex_cell(os, entry, 16, 4, 8);
      os << ", ";
      hex_cell(os, entry, 20, 6, 12);
      os << ", ";
      hex_cell(os, entry, 26, 2, 4);
      os << ", ";
      break;
  }
  return os << "\n";
}

std::ostream& print_view_index_entry_line(const char* index_name, std::ostream& os, const byte* entry,
                                          bool with_header) {
  return print_view_index_entry_line(index_name, os, entry_extent(entry), with_header);
}

security_id_entry::security_id_entry(const byte* entry) : security_id_entry(byte_view(entry, entry ? 40 : 0)) {}

security_id_entry::security_id_entry(const byte_view& entry) {
  if (!entry.has(16, 24)) return;
  security_id = load_u32(entry.data, 16);
  hash = load_u32(entry.data, 20);
  data_security_id = load_u32(entry.data, 24);
  sds_offset = load_u64(entry.data, 28);
  sds_size = load_u32(entry.data, 36);
}

std::ostream& security_id_entry::print(std::ostream& os) const {
  os << std::hex << std::setfill('0') << "0x" << std::setw(8) << security_id << ", 0x" << std::setw(8) << hash
     << ", 0x" << std::setw(8) << data_security_id << ", 0x" << std::setw(16) << sds_offset << ", 0x"
     << std::setw(8) << sds_size << "\n";
  return os;
}
