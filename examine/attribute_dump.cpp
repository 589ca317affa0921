#include "examine/attribute_dump.h"

#include <iomanip>
#include <ostream>
#include <string>
#include <vector>

#include "ntfs/attribute_type_name.h"
#include "ntfs/attribute_value_reports.h"
#include "ntfs/data_runs.h"
#include "ntfs/file_attributes.h"
#include "ntfs/index_reports.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "ntfs/ntfs_structs.h"
#include "ntfs/record_header_reports.h"
#include "ntfs/report_lines.h"
#include "ntfs/security_descriptor.h"
#include "ntfs/zq_hex_view.h"
#include "time/time_format.h"
#include "utils/byte_order.h"
#include "utils/utf_convert.h"

namespace {

// One attribute as far as it may be read.
struct attribute_view {
  byte_view bytes;
  uint32 type = 0;
  bool non_resident = false;

  // `readable`: the bytes that may be read from `attr`; the view is cut
  // further to the attribute's length field.
  attribute_view(const byte* attr, uint32 readable) {
    if (!attr || readable < 8) return;
    const uint32 length = load_u32(attr, AH_LENGTH);
    bytes = byte_view(attr, std::min(length, readable));
    type = load_u32(attr, AH_TYPE);
    non_resident = bytes.size > AH_NON_RESIDENT && attr[AH_NON_RESIDENT] != 0;
  }
  uint64 get(uint32 off, uint32 width) const {
    uint64 v = 0;
    for (uint32 i = width; i-- > 0;) v = (v << 8) | bytes.data[off + i];
    return v;
  }
  // "(0xOO) label value" for a field that fits; false when it does not.
  bool line(std::ostream& os, uint32 off, uint32 width, const char* label, const char* note = "") const {
    if (!report_lines(os, bytes, 0, 2).field(off, label, width, static_cast<int>(width * 2))) return false;
    os << note << "\n";
    return true;
  }
  std::string name() const {
    const uint32 units = bytes.has(AH_NAME_LENGTH, 1) ? bytes.data[AH_NAME_LENGTH] : 0;
    const uint32 at = bytes.has(AH_NAME_OFFSET, 2) ? load_u16(bytes.data, AH_NAME_OFFSET) : 0;
    if (!units || !bytes.has(at, 2ULL * units)) return "";
    std::vector<uint16> text(units);
    for (uint32 i = 0; i < units; ++i) text[i] = load_u16(bytes.data, at + 2ULL * i);
    return utf16_units_to_utf8(text);
  }
  // The resident value at its stored offset, cut to the attribute; with
  // `to_end` it runs on to the attribute's end, so that the full dump also
  // shows what lies behind the stored length.
  bool value(byte_view& out, uint32& offset, bool to_end = false) const {
    if (!bytes.has(AH_VALUE_OFFSET, 2)) return false;
    offset = load_u16(bytes.data, AH_VALUE_OFFSET);
    if (offset >= bytes.size) return false;
    const uint64 stored = load_u32(bytes.data, AH_VALUE_LENGTH);
    const uint64 room = bytes.size - offset;
    out = bytes.sub(offset, to_end ? room : std::min<uint64>(stored, room));
    return true;
  }
};

// What a dump may read from `attr`: the caller's count when it gives one.
// Without one the attribute's own length is taken, but only a length that
// covers the header its kind needs and fits in `bound` (the rest of the
// record it lies in); any other gives 0, and nothing is read past the
// length and flag fields.
uint32 readable_bytes(const byte* attr, uint32 available, uint32 bound) {
  if (available) return available;
  if (bound < AH_RESIDENT_SIZE) return 0;
  const uint32 length = load_u32(attr, AH_LENGTH);
  if (length < AH_RESIDENT_SIZE || length > bound) return 0;
  if (attr[AH_NON_RESIDENT] != 0 && length < AH_NON_RESIDENT_SIZE) return 0;
  return length;
}

// The bytes an attribute at `offset` of a record may span: the record's own
// size as far as its header bears it out, or the smaller size it declares.
// The signature does not count: a record torn in writing, which chkdsk
// marks "BAAD", keeps the header it had.
uint32 record_bound(const byte* record, uint32 offset) {
  uint32 size = record_own_size(record);
  const uint32 allocated = load_u32(record, FRH_BYTES_ALLOCATED);
  if (allocated >= FRH_SIZE && allocated < size) size = allocated;
  return offset < size ? size - offset : 0;
}

void name_line(std::ostream& os, const attribute_view& a) {
  const std::string name = a.name();
  if (name.empty()) return;
  os << "(0x" << std::setw(2) << load_u16(a.bytes.data, AH_NAME_OFFSET) << ") name                 " << name
     << (a.type == ATTR_DATA ? "   <<-- ALTERNATE DATA STREAM" : "") << "\n";
}

void data_heading(std::ostream& os, const byte_view& value, uint32 offset) {
  os << "---- data ---- (starting at offset 0x" << std::setw(4) << offset << ")\n";
  zq::hex_dump_limited(value.data, static_cast<uint32>(value.size), os, 0, 0);
}

void dump_non_resident(std::ostream& os, const attribute_view& a) {
  if (!a.line(os, 0x10, 8, "starting_vcn:        0x") || !a.line(os, 0x18, 8, "ending_vcn:          0x") ||
      !a.line(os, 0x20, 2, "run_array_offset:    0x"))
    return;
  if (!a.bytes.has(0x28, 1)) return;
  const uint32 unit = a.bytes.data[0x22];
  a.line(os, 0x22, 1, "compression_flag:    0x", unit ? " (compressed)" : " (not compressed)");
  os << "(0x23) unk (skip 5 bytes):  ";
  for (uint32 i = 0x23; i < 0x28; ++i) os << std::setw(2) << unsigned(a.bytes.data[i]) << (i < 0x27 ? " " : "\n");
  if (!a.line(os, 0x28, 8, "size_data_allocated: 0x") || !a.line(os, 0x30, 8, "size_data_real:      0x") ||
      !a.line(os, 0x38, 8, "size_valid_data:     0x"))
    return;
  if (unit && !a.line(os, 0x40, 8, "size_compressed:     0x")) return;
  name_line(os, a);
  if (a.get(0x30, 8) == 0 && a.get(0x18, 8) <= a.get(0x10, 8)) return;
  std::vector<run_record> runs;
  const uint32 pairs = static_cast<uint32>(a.get(0x20, 2));
  os << "(0x" << std::setw(2) << pairs << ") data run         ";
  if (decode_attribute_runs(a.bytes.data, a.bytes.size, runs)) dump_run_records(os, runs);
}

void dump_resident(std::ostream& os, const attribute_view& a) {
  if (!a.line(os, 0x10, 4, "size_data:           0x") || !a.line(os, 0x14, 2, "offset_data:         0x") ||
      !a.bytes.has(0x17, 1))
    return;
  a.line(os, 0x16, 1, "resident_flags:      0x", (a.bytes.data[0x16] & 1) ? " (indexed)" : "");
  a.line(os, 0x17, 1, "pad1                 0x");
  name_line(os, a);
  // The hex dumps show the value up to the attribute's end; the
  // interpreters read the fields of its stored length.
  byte_view value, stored;
  uint32 offset = 0;
  if (!a.value(value, offset, true) || !a.value(stored, offset)) return;
  const uint32 size = static_cast<uint32>(stored.size);
  switch (a.type) {
    case 0x10: dump_standard_information(os, stored.data, offset, size); break;
    case 0x20: dump_attribute_list(os, stored.data, offset, size); break;
    case 0x30: dump_file_name_attribute(os, stored, offset); break;
    case 0x40: dump_object_id(os, stored.data, size, offset); break;
    case 0x50:
      data_heading(os, value, offset);
      os << "---- interpreted data ----\n";
      print_security_descriptor(os, stored.data, size, nullptr);
      break;
    case 0x70: dump_volume_information(os, stored, offset); break;
    case 0x90: dump_index_root(os, stored.data, static_cast<int>(size), offset); break;
    case 0xC0: dump_reparse_point(os, stored, offset); break;
    default: data_heading(os, value, offset); break;
  }
}

void time_line(std::ostream& os, const char* label, const byte_view& value, uint32 off) {
  if (value.has(off, 8)) os << label << zq::time(load_u64(value.data, off), zq::type_filetime) << "\n";
}

void time_lines(std::ostream& os, const byte_view& v, uint32 modified, uint32 accessed, uint32 created,
                uint32 changed) {
  time_line(os, "  modified:  ", v, modified);
  time_line(os, "  accessed:  ", v, accessed);
  time_line(os, "  created:   ", v, created);
  time_line(os, "  mft mod:   ", v, changed);
}

void summarize_resident(std::ostream& os, const attribute_view& a) {
  byte_view v;
  uint32 offset = 0;
  if (!a.value(v, offset)) return;
  const uint32 size = static_cast<uint32>(v.size);
  switch (a.type) {
    case 0x10: {
      if (!v.has(32, 4)) return;
      std::string names;
      file_attributes_to_string(names, load_u32(v.data, 32));
      if (names != "unk") os << names;
      os << "\n";
      time_lines(os, v, 8, 24, 0, 16);
      return;
    }
    case 0x30: {
      if (!v.has(66, 0)) return;
      const uint32 units = v.data[64];
      std::vector<uint16> text;
      for (uint32 i = 0; i < units && v.has(66 + 2ULL * i, 2); ++i) text.push_back(load_u16(v.data, 66 + 2 * i));
      os << utf16_units_to_utf8(text) << ", " << ((a.bytes.data[0x16] & 1) ? "indexed" : "") << "\n";
      time_lines(os, v, 16, 32, 8, 24);
      return;
    }
    case 0x40:
      if (size >= 16) print_guid(os, v.data) << "\n";
      return;
    case 0x50: print_security_descriptor(os, v.data, size, nullptr); return;
    case 0x70:
      if (!v.has(8, 2)) return;
      os << "\n  " << std::dec << unsigned(v.data[8]) << ":" << unsigned(v.data[9])
         << ntfs_version_name(v.data[8], v.data[9]) << "\n"
         << std::hex;
      return;
    case 0x80:
      if (size) os << "\n  used [resident data]:  0x" << std::setw(4) << size << " (bytes)\n";
      return;
    case 0xB0:
      if (!size) return;
      os << "\n  ";
      for (uint32 i = 0; i < size; ++i) {
        os << std::setw(2) << unsigned(v.data[i]) << " ";
        if (i % 16 == 15) os << "\n  ";
      }
      os << "\n";
      return;
    case 0xC0: print_reparse_print_name(os, v); return;
    default: return;
  }
}

}  // namespace

namespace {

void dump_bounded(std::ostream& os, const byte* attr, uint32 available, uint32 bound) {
  if (!attr || (available ? available : bound) < 4) return;
  if (load_u32(attr, AH_TYPE) == ATTR_END) {
    os << "NTFS_ATTRIBUTE_END_MARKER\n";
    return;
  }
  const attribute_view a(attr, readable_bytes(attr, available, bound));
  if (!a.bytes.has(0, 8)) return;
  os << std::hex << std::setfill('0');
  os << "(0x00) type:                0x" << std::setw(8) << a.type << ", "
     << attribute_type_name(static_cast<int>(a.type)) << "\n";
  a.line(os, 0x04, 4, "size:                0x");
  if (!a.bytes.has(0x10, 0)) return;
  const uint32 flag = a.bytes.data[AH_NON_RESIDENT];
  a.line(os, 0x08, 1, "non_resident_flag:   0x", flag == 1 ? " (non_resident)" : flag == 0 ? " (resident)" : "");
  a.line(os, 0x09, 1, "size_name:           0x");
  a.line(os, 0x0A, 2, "offset_name:         0x");
  const uint32 flags = load_u16(a.bytes.data, AH_FLAGS);
  std::string notes;
  if (flags & 0x0001) notes += " (compressed)";
  if (flags & 0x4000) notes += " (encrypted)";
  if (flags & 0x8000) notes += " (sparse)";
  a.line(os, 0x0C, 2, "flags:               0x", notes.c_str());
  a.line(os, 0x0E, 2, "attrib_id:           0x");
  if (a.non_resident) dump_non_resident(os, a);
  else dump_resident(os, a);
}

}  // namespace

void dump_attribute(std::ostream& os, const byte* attr, uint32 available) {
  dump_bounded(os, attr, available, MAX_MFT_RECORD_SIZE);
}

void dump_attribute(std::ostream& os, const byte* attr) { dump_bounded(os, attr, 0, MAX_MFT_RECORD_SIZE); }

void dump_attribute_at(const byte* record, uint32 offset, std::ostream& os) {
  if (record) dump_bounded(os, record + offset, 0, record_bound(record, offset));
}

void dump_record_attributes(const byte* record, uint32 offset, uint32 limit, std::ostream& os) {
  if (!record) return;
  for (uint32 n = 1; fits(limit, offset, 8); ++n) {
    const uint32 type = load_u32(record, offset);
    const uint32 length = load_u32(record, offset + 4);
    if (type == ATTR_END) return;
    os << "\n    ------- attribute num " << n << " (relative offset 0x" << std::hex << std::setfill('0')
       << std::setw(4) << offset << ") ------ \n\n";
    dump_attribute(os, record + offset, limit - offset);
    if (length == 0 || length > limit - offset) return;
    offset += length;
  }
}

void dump_mft_record(const byte* record, uint32 limit, std::ostream& os) {
  if (!record || limit < FRH_SIZE) return;
  dump_mft_record_header(os, record, limit);
  os << "\n";
  dump_record_attributes(record, load_u16(record, FRH_FIRST_ATTRIBUTE), limit, os);
}

void CNtfs::dump_mft_record0(std::ostream& os) {
  if (m_mft_record0) dump_mft_record(m_mft_record0, m_mft_record_alloc_size, os);
}

void summarize_attribute(std::ostream& os, const byte* attr, uint32 available) {
  if (!attr) return;
  const attribute_view a(attr, readable_bytes(attr, available, MAX_MFT_RECORD_SIZE));
  if (!a.bytes.has(0, AH_RESIDENT_SIZE) || a.type == ATTR_END || a.type == 0x20 || a.type == 0x90) return;
  os << std::hex << std::setfill('0') << attribute_type_name(static_cast<int>(a.type)) << ": ";
  const uint32 flags = load_u16(a.bytes.data, AH_FLAGS);
  if (flags & 0x0001) os << "compressed, ";
  if (flags & 0x4000) os << "encrypted, ";
  if (flags & 0x8000) os << "sparse, ";
  os << a.name();
  if (!a.non_resident) {
    summarize_resident(os, a);
    return;
  }
  if (!a.bytes.has(AH_DATA_SIZE, 8)) return;
  if (a.bytes.data[AH_COMPRESSION_UNIT]) os << ", (compressed)";
  os << "\n  alloc: 0x" << std::setw(12) << a.get(AH_ALLOCATED_SIZE, 8) << "\n  used:  0x" << std::setw(12)
     << a.get(AH_DATA_SIZE, 8) << "\n";
}

void summarize_attribute(std::ostream& os, const byte* attr) { summarize_attribute(os, attr, 0); }
