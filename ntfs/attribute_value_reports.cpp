#include "ntfs/attribute_value_reports.h"

#include <iomanip>
#include <ostream>
#include <string>

#include "ntfs/attribute_type_name.h"
#include "ntfs/file_attributes.h"
#include "ntfs/ntfs_structs.h"
#include "ntfs/reparse_names.h"
#include "ntfs/report_lines.h"
#include "ntfs/zq_hex_view.h"
#include "time/time_format.h"
#include "utils/number_text.h"

namespace {

const char k_heading[] = "---- data ----\n";
const uint32 k_guid_size = 16;
const uint32 k_list_min = 32;
const uint32 k_list_max = 1023;

// "0x", the raw FILETIME, its text, then a line end.
bool time_line(const report_lines& r, uint64 off, const char* label) {
  uint64 v = 0;
  if (!r.value(off, 8, v)) return false;
  r.label(off, label);
  write_filetime_value(r.os, v);
  r.os << "\n";
  return true;
}

// A flags word, ", " and its names.
bool attributes_line(const report_lines& r, uint64 off, const char* label) {
  if (!r.field(off, label, 4, 8)) return false;
  std::string names;
  file_attributes_to_string(names, load_u32(r.view.data, off));
  r.os << ", " << names << "\n";
  return true;
}

std::string guid_text(const byte* guid) {
  std::string text;
  guid_to_string(text, guid);
  return text;
}

void write_guid(std::ostream& os, const byte_view& v, uint64 off) { print_guid(os, v.data + off); }

uint64 file_name_extent(const byte* value) { return FN_NAME + 2ULL * value[FN_NAME_LENGTH]; }

uint64 reparse_extent(const byte* value) { return 8ULL + load_u16(value, 4); }

}  // namespace

std::ostream& dump_standard_information(std::ostream& os, const byte* value, uint32 base, uint32 size) {
  os << k_heading;
  const report_lines r(os, byte_view(value, value ? size : 0), base, 2);
  if (!time_line(r, 0, "time file creation:  0x") || !time_line(r, 8, "time file altered:   0x") ||
      !time_line(r, 16, "time mft changed:    0x") || !time_line(r, 24, "time file accessed:  0x") ||
      !attributes_line(r, 32, "file attributes:     0x") || !r.line(36, "max versions:        0x", 4, 8) ||
      !r.line(40, "version num:         0x", 4, 8) || !r.line(44, "class id:            0x", 4, 8))
    return os;
  if (size <= 48) return os;
  if (r.line(48, "$Quota:$O key:       0x", 4, 8) && r.line(52, "$Secure:$SII key:    0x", 4, 8) &&
      r.line(56, "quota charged:       0x", 8, 16))
    r.line(64, "UsnJrnl index num:   0x", 8, 16);
  return os;
}

std::ostream& dump_standard_information(std::ostream& os, const byte* value) {
  return dump_standard_information(os, value, 0, 48);
}

std::ostream& print_mace_times(std::ostream& os, const byte_view& value) {
  if (!value.has(0, 36)) return os;
  static const uint32 order[] = {8, 24, 0, 16};
  os << "MACE times: ";
  for (int i = 0; i < 4; ++i) {
    if (i) os << ", ";
    os << zq::time(load_u64(value.data, order[i]), zq::type_filetime);
  }
  std::string names;
  file_attributes_to_string(names, load_u32(value.data, 32));
  os << "\nfile attributes: " << names << "\n";
  return os;
}

std::ostream& print_mace_times(std::ostream& os, const byte* value) {
  return print_mace_times(os, byte_view(value, value ? 36 : 0));
}

std::ostream& dump_file_name_attribute(std::ostream& os, const byte_view& value, uint32 base) {
  os << k_heading;
  const report_lines r(os, value, base, 2);
  if (!r.field(0, "parent_inode:        0x", 4, 12)) return os;
  os << " (";
  r.dec(load_u32(value.data, 0));
  os << ")\n";
  if (!r.line(6, "sequence_num:        0x", 2, 4) || !time_line(r, 8, "time_file_creation:  0x") ||
      !time_line(r, 16, "time_file_altered:   0x") || !time_line(r, 24, "time_mft_changed:    0x") ||
      !time_line(r, 32, "time_file_accessed:  0x") || !r.line(40, "size_file_allocated: 0x", 8, 16) ||
      !r.line(48, "size_file_real:      0x", 8, 16) || !attributes_line(r, 56, "file attributes:     0x") ||
      !r.line(60, "ea_or_reparse:       0x", 4, 8) || !r.line(64, "size_filename:       0x", 1, 2) ||
      !r.field(65, "filename_flags:      0x", 1, 2))
    return os;
  static const char* const notes[] = {"", " (long filename)", " (short filename)", " (normal filename)"};
  const uint8 space = value.data[FN_NAMESPACE];
  os << (space < 4 ? notes[space] : "") << "\n";
  r.label(FN_NAME, "");
  const uint8 units = value.data[FN_NAME_LENGTH];
  if (units != 0) os << "filename:            " << utf16le_text_in(value, FN_NAME, units) << "\n";
  return os;
}

std::ostream& dump_file_name_attribute(std::ostream& os, const byte* value, uint32 base) {
  return dump_file_name_attribute(os, value ? byte_view(value, file_name_extent(value)) : byte_view(), base);
}

std::ostream& dump_file_name_attribute(std::ostream& os, const byte* value) {
  return dump_file_name_attribute(os, value, 0);
}

std::ostream& dump_object_id(std::ostream& os, const byte* value, uint32 size, uint32 base) {
  if (!value || size < k_guid_size) return os;
  const report_lines r(os, byte_view(value, size), base, 2);
  os << k_heading;
  r.label(0, "object_id:           ");
  write_guid(os, r.view, 0);
  os << "\n";
  if (size < 4 * k_guid_size) return os;
  static const char* const labels[] = {"birth_vol_id:        ", "birth_object_id:     ", "domain_id:           "};
  for (uint32 i = 0; i < 3; ++i) {
    r.label(k_guid_size * (i + 1), labels[i]);
    write_guid(os, r.view, k_guid_size * (i + 1));
    os << "\n";
  }
  return os;
}

std::ostream& dump_object_id(std::ostream& os, const byte* value) { return dump_object_id(os, value, 64, 0); }

std::ostream& print_object_id_short(std::ostream& os, const byte* value, uint32 size) {
  if (!value || size < k_guid_size) return os;
  os << "obj id: ";
  print_guid(os, value) << "\n";
  if (size < 4 * k_guid_size) return os;
  static const char* const labels[] = {"birth vol id: ", "birth obj id: ", "domain id:    "};
  for (uint32 i = 0; i < 3; ++i) {
    os << labels[i];
    print_guid(os, value + k_guid_size * (i + 1)) << "\n";
  }
  return os;
}

std::ostream& print_guid(std::ostream& os, const byte* guid) {
  return os << "{ " << (guid ? guid_text(guid) : std::string()) << " }";
}

const char* ntfs_version_name(uint32 major, uint32 minor) {
  if (major == 1 && minor == 2) return " (WinNT)";
  if (major == 3 && minor == 0) return " (Win2k)";
  if (major == 3 && minor == 1) return " (WinXP)";
  return " (unk version)";
}

std::ostream& dump_volume_information(std::ostream& os, const byte_view& value, uint32 base) {
  os << k_heading;
  const report_lines r(os, value, base, 2);
  if (!r.line(0, "unk1:                0x", 4, 8) || !r.line(4, "unk2:                0x", 4, 8) ||
      !r.line(8, "major_ver:           0x", 1, 2) || !r.line(9, "minor_ver:           0x", 1, 2) ||
      !r.field(10, "flags:               0x", 2, 4))
    return os;
  static const struct {
    uint16 bit;
    const char* note;
  } notes[] = {{0x1, " (dirty)"},
               {0x2, " (resize logfile)"},
               {0x4, " (upgrade on mount)"},
               {0x8, " (mounted on nt4)"},
               {0x10, " (delete usn underway)"},
               {0x20, " (repair object ids)"},
               {0x8000, " (modified by chkdsk)"}};
  const uint16 flags = load_u16(value.data, 10);
  for (const auto& n : notes)
    if (flags & n.bit) os << n.note;
  const uint32 major = value.data[8];
  const uint32 minor = value.data[9];
  os << "\nmajor:minor ver = " << std::dec << major << ":" << minor << std::hex << ntfs_version_name(major, minor)
     << "\n";
  return os;
}

std::ostream& dump_volume_information(std::ostream& os, const byte* value, uint32 base) {
  return dump_volume_information(os, byte_view(value, value ? 12 : 0), base);
}

std::ostream& dump_volume_information(std::ostream& os, const byte* value) {
  return dump_volume_information(os, value, 0);
}

std::ostream& print_ntfs_version(std::ostream& os, const byte_view& value) {
  if (!value.has(8, 2)) return os;
  const uint32 major = value.data[8];
  const uint32 minor = value.data[9];
  return os << "ver = " << std::dec << major << ":" << minor << std::hex << ntfs_version_name(major, minor) << "\n";
}

std::ostream& print_ntfs_version(std::ostream& os, const byte* value) {
  return print_ntfs_version(os, byte_view(value, value ? 10 : 0));
}

std::ostream& dump_reparse_point(std::ostream& os, const byte_view& value, uint32 base) {
  os << k_heading;
  const report_lines r(os, value, base, 2);
  if (!r.line(0, "type_and_flag:       0x", 4, 8) || !r.line(4, "size_data:           0x", 2, 4) ||
      !r.line(6, "pad:                 0x", 2, 4) || !r.line(8, "offset_target_name:  0x", 2, 4) ||
      !r.line(10, "size_target_name:    0x", 2, 4) || !r.line(12, "offset_print_name:   0x", 2, 4) ||
      !r.line(14, "size_print_name:     0x", 2, 4))
    return os;
  os << "---- symbolic link ----\n";
  reparse_names n;
  locate_reparse_names(value, n);
  r.label(n.target, "target name:         ");
  os << utf16le_text_in(value, n.target, n.target_length / 2) << "\n";
  r.label(n.print, "print name:          ");
  os << utf16le_text_in(value, n.print, n.print_length / 2) << "\n";
  os << "----  raw data ----\n";
  // The names and the two bytes after them, as much of it as the value holds.
  uint64 raw = static_cast<uint64>(n.target_length) + n.print_length + 2;
  const uint64 room = value.size > REPARSE_NAMES_START ? value.size - REPARSE_NAMES_START : 0;
  if (raw > room) raw = room;
  if (raw) zq::hex_dump_limited(value.data + REPARSE_NAMES_START, static_cast<uint32>(raw), os, 0,
                                static_cast<ulong64>(base) + REPARSE_NAMES_START);
  return os;
}

std::ostream& dump_reparse_point(std::ostream& os, const byte* value, uint32 base) {
  return dump_reparse_point(os, value ? byte_view(value, reparse_extent(value)) : byte_view(), base);
}

std::ostream& dump_reparse_point(std::ostream& os, const byte* value) { return dump_reparse_point(os, value, 0); }

std::ostream& print_reparse_print_name(std::ostream& os, const byte_view& value) {
  reparse_names n;
  if (!locate_reparse_names(value, n)) return os;
  return os << utf16le_text_in(value, n.print, n.print_length / 2) << "\n";
}

std::ostream& print_reparse_print_name(std::ostream& os, const byte* value) {
  return print_reparse_print_name(os, value ? byte_view(value, reparse_extent(value)) : byte_view());
}

std::ostream& dump_attribute_list(std::ostream& os, const byte* entries, uint32 base, uint32 size) {
  if (!entries || size < k_list_min || size > k_list_max) return os;
  uint32 at = 0;
  while (size - at >= k_list_min && size - at <= k_list_max) {
    const byte_view rest(entries + at, size - at);
    const uint32 length = load_u16(rest.data, ALE_LENGTH);
    // An entry's fields are read only inside the entry and the list.
    const uint64 span = (length >= ALE_MIN_SIZE && length <= rest.size) ? length : rest.size;
    const byte_view entry = rest.sub(0, span);
    const report_lines r(os, entry, static_cast<uint64>(base) + at, 3);
    os << k_heading;
    r.field(ALE_TYPE, "type:               0x", 4, 8);
    os << " (" << attribute_type_name(static_cast<int>(load_u32(entry.data, ALE_TYPE))) << ")\n";
    r.line(ALE_LENGTH, "size_record:        0x", 2, 4);
    r.line(ALE_NAME_LENGTH, "size_name:          0x", 1, 2);
    r.line(ALE_NAME_OFFSET, "offset_name:        0x", 1, 2);
    r.line(ALE_FIRST_VCN, "startingVCN:        0x", 8, 16);
    r.field(ALE_REFERENCE, "inode w/ attrib:    0x", 4, 12);
    os << " (";
    r.dec(load_u32(entry.data, ALE_REFERENCE));
    os << ")\n";
    r.line(ALE_REFERENCE + 6, "sequence_num:       0x", 2, 4);
    r.line(ALE_INSTANCE, "attribute_id:       0x", 2, 4);
    const uint8 name_units = entry.data[ALE_NAME_LENGTH];
    if (name_units != 0) {
      r.label(ALE_MIN_SIZE, "name:               ");
      os << utf16le_text_in(entry, ALE_MIN_SIZE, name_units) << "\n";
    } else if (length >= ALE_MIN_SIZE + 2) {
      const uint32 words = (length - ALE_MIN_SIZE) / 2;
      for (uint32 i = 0; i < words; ++i) {
        const uint64 off = ALE_MIN_SIZE + 2ULL * i;
        uint16 v = 0;
        if (!entry.u16(off, v)) break;
        r.label(off, "unk");
        os << i << ":               0x" << std::setw(0) << v << "\n";
      }
    }
    if (length == 0) break;
    if (length > size - at) break;
    at += length;
  }
  return os;
}
