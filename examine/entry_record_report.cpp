#include "examine/entry_record_report.h"

#include <iomanip>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "examine/entry_records.h"
#include "ntfs/attribute_value_reports.h"
#include "ntfs/file_attributes.h"
#include "ntfs/ntfs.h"
#include "ntfs/ntfs_structs.h"
#include "ntfs/security_descriptor.h"
#include "ntfs/zq_hex_view.h"
#include "time/time_format.h"
#include "utils/byte_order.h"
#include "utils/utf_convert.h"

namespace {

void hex(std::ostream& out, ulong64 value, int digits) {
  out << std::hex << std::setfill('0') << std::setw(digits) << value;
}

// "0x" and the value, then " [" and the value in decimal "]".
void hex_dec(std::ostream& out, ulong64 value, int digits) {
  out << "0x";
  hex(out, value, digits);
  out << " [" << std::dec << value << "]";
}

void time_line(std::ostream& out, const char* label, ulong64 filetime) {
  std::string date, clock;
  zq::format_time_ms(date, clock, zq::time(filetime, zq::type_filetime), false);
  out << label << date << " " << clock << "\n";
}

// Created, modified, accessed and MFT changed at `at` in the body.
void time_lines(std::ostream& out, const byte* body) {
  time_line(out, "  modified:  ", load_u64(body, 8));
  time_line(out, "  accessed:  ", load_u64(body, 16));
  time_line(out, "  created:   ", load_u64(body, 0));
  time_line(out, "  mft mod:   ", load_u64(body, 24));
}

void file_record_section(const entry_record& rec, std::ostream& out) {
  entry_summary s;
  s.load(rec.item.body);
  const ulong64 entry = s.reference_low | static_cast<ulong64>(s.reference_high) << 32;
  out << "File Record: \n  MFT entry: ";
  hex_dec(out, entry, 8);
  out << "\n  Seq Num:   ";
  hex_dec(out, s.sequence, 4);
  out << "\n  Type:      " << ((s.flags & 2) ? "directory" : "file") << "\n";
  if (s.flags & 1) out << "  deleted\n";
  if (s.flags & 0x80) {
    out << "  references mft entry: 0x";
    hex(out, s.base_reference, 12);
    out << "\n";
  }
  const uint32 links = (s.flags >> 3) & 15;
  out << "  Ref Count: ";
  if (links == 15) out << "-1";
  else out << std::dec << links;
  out << "\n";
}

void parent_paths(std::ostream& out, CNtfs* ntfs, ulong64 parent) {
  if (!ntfs) {
    out << "\n";
    return;
  }
  std::vector<std::string> paths;
  if (!ntfs->get_path_list(parent, std::vector<std::string>(), paths)) return;
  if (paths.empty()) {
    out << " = invalid\n";
  } else if (paths.size() == 1) {
    out << " = " << paths[0] << "\n";
  } else {
    out << " = has multiple paths\n";
    for (size_t i = 0; i < paths.size(); ++i) out << "    path " << std::dec << i << " : " << paths[i] << "\n";
  }
}

void stream_details(const entry_record& rec, std::ostream& out) {
  const uint16 flags = rec.item.header.word_value;
  out << (rec.name.empty() ? "(unnamed)" : "");
  if (flags & 0x0001) out << ", data compressed";
  else if (flags & 0x4000) out << ", data encrypted";
  if (flags & 0x8000) out << ", sparse clusters";
  out << "\n";
  if (entry_is_non_resident(rec)) {
    out << "  alloc: ";
    hex_dec(out, entry_allocated_size(rec), 12);
    out << "\n  used:  ";
    hex_dec(out, entry_used_size(rec), 12);
    out << "\n";
    if (entry_compression_unit(rec) && entry_compressed_size(rec)) {
      out << "  compressed size: 0x";
      hex(out, entry_compressed_size(rec), 12);
      out << "\n";
    }
    if (!rec.runs.empty()) out << "  cluster runs\n";
    for (const data_run& r : rec.runs) {
      out << "    ";
      hex(out, r.lcn, 16);
      out << " : ";
      hex(out, r.lcn + r.num_clusters - 1, 16);
      out << (r.sparse ? " [sparsed]\n" : "\n");
    }
    return;
  }
  out << "  used:  ";
  hex_dec(out, entry_value_length(rec), 4);
  out << "\n";
  if (rec.resident.empty()) return;
  out << "  ";
  for (size_t i = 0; i < rec.resident.size(); ++i) {
    hex(out, rec.resident[i], 2);
    out << " ";
    if (i % 16 == 15) out << "\n  ";
  }
  out << "\n";
}

const char* stream_heading(uint32 type) {
  switch (type) {
    case 0x80: return "Data Attrib: ";
    case 0x90: return "Index Root Attrib: ";
    case 0xA0: return "Index Allocation Attrib: ";
    case 0xB0: return "Bitmap Attrib: ";
    case 0x100: return "Logged Utility Stream Attrib: ";
    default: return nullptr;
  }
}

}  // namespace

void write_entry_record_report(const entry_record& rec, std::ostream& out, CNtfs* ntfs) {
  const byte* body = rec.item.body;
  const uint32 type = rec.item.header.type;
  switch (type) {
    case ENTRY_SUMMARY_TYPE: file_record_section(rec, out); return;
    case 0x10: {
      std::string attrs;
      file_attributes_to_string(attrs, load_u32(body, 32));
      out << "Standard Info Attrib: (" << attrs << ")\n";
      time_lines(out, body);
      out << "  secure id: 0x";
      hex(out, load_u32(body, 36), 8);
      out << "\n";
      return;
    }
    case 0x30: {
      out << "Filename Attrib: " << rec.text << ((body[48] & 1) ? ", (indexed)" : "") << "\n";
      const ulong64 parent = mft_reference_entry(load_u64(body, 0));
      out << "  parnt mft: ";
      hex_dec(out, parent, 8);
      parent_paths(out, ntfs, parent);
      time_lines(out, body + 8);
      return;
    }
    case 0x40:
      out << "Object ID Attrib: ";
      print_guid(out, body);
      out << "\n";
      return;
    case 0x50:
      out << "Security Descriptor Attrib: \n";
      if (!rec.resident.empty())
        print_security_descriptor(out, rec.resident.data(), static_cast<uint32>(rec.resident.size()), "  ");
      return;
    case 0x60:
      out << "Volume Name Attrib: ";
      if (!rec.text.empty()) out << rec.text << "\n";
      else if (rec.resident.empty()) out << "none specified\n";
      else zq::hex_dump(rec.resident, out, 0, 0);
      return;
    case 0x70:
      out << "Volume Info Attrib: major:minor ver = " << std::dec << unsigned(body[0]) << ":" << unsigned(body[1])
          << ntfs_version_name(body[0], body[1]) << "\n";
      return;
    case 0xC0: out << "Reparse Point Attrib: " << (rec.text.empty() ? rec.name : rec.text) << "\n"; return;
    default: break;
  }
  if (const char* heading = stream_heading(type)) {
    out << heading << rec.name;
    stream_details(rec, out);
  }
}

void write_entry_record_report_w(const entry_record& rec, std::wostream& out, CNtfs* ntfs) {
  std::ostringstream text;
  write_entry_record_report(rec, text, ntfs);
  out << utf8_to_wstring(text.str());
}
