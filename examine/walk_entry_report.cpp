#include "examine/walk_entry_report.h"

#include <algorithm>
#include <iomanip>
#include <sstream>

#include "examine/macb_flags.h"
#include "examine/timeline_csv_writer.h"
#include "examine/timeline_text_writer.h"
#include "ntfs/ntfs_structs.h"
#include "time/timeline_record.h"
#include "utils/byte_order.h"
#include "utils/case_text.h"
#include "utils/file_handle.h"
#include "utils/number_append.h"
#include "utils/utf_convert.h"

namespace {

// Times of a $STANDARD_INFORMATION (created 0, modified 8, MFT changed 16,
// accessed 24) and of a $FILE_NAME (the same 8 bytes later), in MACB order.
void add_si(macb_time_map& map, const si_record& si, const wchar_t* name, bool is_short) {
  add_macb_times(map, MACB_SLOT_SI, load_u64(si.data + 8), load_u64(si.data + 24), load_u64(si.data + 16),
                 load_u64(si.data), name, is_short);
}

void add_fn(macb_time_map& map, uint32 slot, const filename_record& fn) {
  add_macb_times(map, slot, load_u64(fn.data + 16), load_u64(fn.data + 32), load_u64(fn.data + 24),
                 load_u64(fn.data + 8), fn.name.c_str(), fn.dos_name);
}

void add_piece(std::string& text, const std::string& piece) {
  if (!text.empty()) text += "; ";
  text += piece;
}

std::string cluster_text(const attribute_record& attr) {
  std::string text;
  for (const data_run& r : attr.runs) {
    append_hex(text, r.lcn, 8);
    if (r.num_clusters > 1) {
      text += " -> ";
      append_hex(text, r.lcn + r.num_clusters - 1, 8);
    }
    text += r.sparse ? " [sparse]; " : "; ";
  }
  if (text.size() >= 2) text.resize(text.size() - 2);
  return text;
}

}  // namespace

ulong64 walk_attribute_size(const attribute_record& attr) {
  if (attr.raw.size() < AH_RESIDENT_SIZE) return 0;
  const byte* a = attr.raw.data();
  if (a[AH_NON_RESIDENT] == 0) return load_u32(a + AH_VALUE_LENGTH);
  if (attr.raw.size() < AH_NON_RESIDENT_SIZE) return 0;
  return std::max(load_u64(a + AH_DATA_SIZE), load_u64(a + AH_INITIALIZED_SIZE));
}

ulong64 walk_stored_size(const attribute_record& attr) {
  if (attr.raw.size() < AH_RESIDENT_SIZE) return 0;
  const byte* a = attr.raw.data();
  if (a[AH_NON_RESIDENT] == 0) return load_u32(a + AH_VALUE_LENGTH);
  return attr.raw.size() >= AH_NON_RESIDENT_SIZE ? load_u64(a + AH_ALLOCATED_SIZE) : 0;
}

void describe_runs(const inode_attributes& rec, std::ostream& out, const std::string& separator, bool omit_runs) {
  std::string text;
  for (const auto& kv : rec.attributes) {
    const attribute_record& attr = kv.second;
    const ulong64 size = walk_attribute_size(attr);
    if (attr.raw.empty() || size == 0) continue;
    std::string item = "[";
    if (!attr.name.empty()) item += wstring_to_utf8(attr.name) + " : ";
    if (!attr.label.empty()) item += attr.label + " : ";
    item += "sz: ";
    append_hex(item, size, 4);
    item += " : ";
    if (attr.raw[AH_NON_RESIDENT] == 0) {
      if (!attr.text.empty()) item += attr.text + " : ";
    } else if (!omit_runs && !attr.runs.empty()) {
      item += "start cluster/count: ";
      for (const data_run& r : attr.runs) {
        append_hex(item, r.lcn, 6);
        item += "/";
        append_decimal(item, r.num_clusters);
        if (r.sparse) item += " [sparse]";
        item += " : ";
      }
    }
    // The last " : " gives way to the closing bracket.
    item.resize(item.size() - 3);
    text += item + "]" + separator;
  }
  if (!text.empty()) text.resize(text.size() - separator.size());
  out << text;
}

void write_entry_report(const inode_attributes& rec, std::ostream& out, user_ctx& ctx, const parent_record* parent,
                        const attribute_record* attr, bool whole_record) {
  out << std::setfill('0');
  const si_record* si = rec.si_records.empty() ? nullptr : &rec.si_records.begin()->second;

  macb_time_map times;
  if (parent == nullptr) {
    if (si != nullptr)
      for (const auto& kv : rec.filename_records) add_si(times, *si, kv.second.name.c_str(), kv.second.dos_name);
  } else {
    const ulong64 parent_entry = mft_reference_entry(parent->reference);
    for (const auto& kv : rec.filename_records) {
      const filename_record& fn = kv.second;
      if (mft_reference_entry(load_u64(fn.data)) != parent_entry) continue;
      if (si != nullptr) add_si(times, *si, fn.name.c_str(), fn.dos_name);
      add_fn(times, fn.dos_name ? MACB_SLOT_FN83 : MACB_SLOT_FN, fn);
    }
  }
  if (times.empty() && si != nullptr) add_si(times, *si, nullptr, false);

  const ulong64 parent_entry = parent ? mft_reference_entry(parent->reference) : 5;
  const uint32 parent_sequence = parent ? static_cast<uint32>(parent->reference >> 48) : 0;
  const uint16 flags = load_u16(rec.header + FRH_FLAGS);
  const bool in_use = (flags & FILE_RECORD_IN_USE) != 0;
  const bool is_dir = (flags & FILE_RECORD_DIRECTORY) != 0;

  std::string extension = "none";
  std::string other;
  if (parent != nullptr && !times.empty()) {
    const size_t dot = parent->name.rfind(L'.');
    if (!is_dir && dot != std::wstring::npos && dot != 0) {
      extension = wstring_to_utf8(parent->name.substr(dot + 1));
      to_lower(extension);
    }
    if (!parent->path.empty()) {
      const std::string path = wstring_to_utf8(parent->path);
      for (auto& kv : times) kv.second.path = path;
    }
    if (rec.names.size() >= 2) add_piece(other, "multinames [" + std::to_string(rec.names.size()) + "]");
    if (rec.parents.size() >= 2) add_piece(other, "multiroots [" + std::to_string(rec.parents.size()) + "]");
    if (!parent->path.empty() && !rec.reparse_names.empty()) {
      std::string links;
      for (const auto& kv : rec.reparse_names) {
        if (!links.empty()) links += "; ";
        links += wstring_to_utf8(kv.second);
      }
      add_piece(other, "symlink: [" + links + "]");
    }
  }
  if (rec.has_base_record) {
    std::string piece = "refinode [";
    if (ctx.hex_sizes)
      append_hex(piece, mft_reference_entry(rec.base_record), 8);
    else
      append_decimal(piece, mft_reference_entry(rec.base_record));
    add_piece(other, piece + "]");
  }
  if (rec.has_attr_list && rec.attr_list_nonresident && ctx.mft_reader != nullptr && ctx.mft_reader->is_open())
    add_piece(other, "attrib list non-resident [not avail for parsing w/o image]");
  if (rec.time_note_set) add_piece(other, rec.time_note);

  if (attr != nullptr && !attr->name.empty() && !times.empty()) {
    const std::string stream = wstring_to_utf8(attr->name);
    for (auto& kv : times) kv.second.stream = stream;
  }

  timeline_record row;
  ulong64 size = 0;
  std::string clusters;
  if (whole_record) {
    std::ostringstream text;
    describe_runs(rec, text, "; ", ctx.omit_clusterinfo);
    clusters = text.str();
  } else if (attr != nullptr) {
    if (!attr->raw.empty()) {
      size = walk_attribute_size(*attr);
      if (attr->raw[AH_NON_RESIDENT] == 0)
        clusters = !attr->text.empty() ? attr->text : size == 0 ? "null" : "<data in MFT entry>";
      else
        clusters = cluster_text(*attr);
    }
    row.m_desc = attr->label;
    if (!attr->value.empty()) row.m_header_bytes = attr->value;
  }

  row.m_hex_extended = ctx.hex_sizes ? 1 : 0;
  row.m_source = "FILE";
  row.m_sourcetype = "NTFS$MFT";
  row.m_filename = wstring_to_utf8(rec.source_desc);
  row.set_inode(rec.entry);
  row.m_notes = !in_use ? "del" : is_dir ? "dir" : "file";
  row.m_format = "dirsweep [-csv]";
  row.m_extra = other;
  row.m_lower_case_letters = 1;
  row.m_omit_cluster_info = ctx.omit_clusterinfo ? 1 : 0;
  row.m_include_header = ctx.include_header ? 1 : 0;
  row.m_copy_files = ctx.copy_files ? 1 : 0;
  row.m_spare_text = wstring_to_utf8(ctx.copy_dest);
  row.m_window_start = ctx.filter_start_time;
  row.m_window_end = ctx.filter_stop_time;
  std::replace(extension.begin(), extension.end(), ',', ' ');
  row.set_extended(load_u16(rec.header + FRH_LINK_COUNT), parent_entry, parent_sequence, rec.sequence, size,
                   extension.c_str(), clusters.c_str());

  if (ctx.csv) {
    row.m_replaced_char = ',';
    row.m_replacement_char = ' ';
    row.m_separator = ",";
    write_timeline_csv(&ctx.header_pending, out, times, row);
  } else {
    row.m_replaced_char = 0;
    row.m_replacement_char = 0;
    row.m_separator = " | ";
    write_timeline_text(&ctx.header_pending, out, times, row);
  }
}
