#include "app/l2t_writer.h"

#include <algorithm>
#include <initializer_list>
#include <string>

#include "app/entry_fields.h"
#include "app/row_cell.h"
#include "app/time_digits.h"
#include "app/timeline_writers.h"
#include "time/macb.h"
#include "utils/case_text.h"
#include "utils/number_append.h"
#include "utils/thread_scratch.h"

namespace {

using namespace entry_fields;

// Tags of the scratch objects kept from row to row (utils/thread_scratch.h).
struct row_tail_tag;
struct entry_record_tag;

const char* const k_header_columns[] = {"date",  "time",  "timezone", "MACB",     "source", "sourcetype",
                                        "type",  "user",  "host",     "short",    "desc",   "version",
                                        "filename", "inode", "notes", "format", "extra"};
const char* const k_extended_columns[] = {"ref count",    "extension",     "size data", "inode seqnum",
                                          "parent inode", "parent seqnum", "clusters",  "header info"};

// Sizes and entry numbers as -base10 asks: "0x" and 8 hex digits, or decimal.
void append_size_form(std::string& out, ulong64 value, bool hex) {
  if (hex) {
    append_hex(out, value, 8);
  } else {
    append_decimal(out, value);
  }
}

void append_extended_number(std::string& out, ulong64 value, unsigned hex_width, bool hex) {
  if (hex) {
    append_hex(out, value, hex_width);
  } else {
    append_decimal(out, value);
  }
}

void append_header(std::string& line, const timeline_record& rec) {
  const std::string& sep = rec.m_separator;
  bool first = true;
  for (const char* column : k_header_columns) {
    if (!first) line += sep;
    line += column;
    first = false;
  }
  if (rec.m_extended) {
    for (const char* column : k_extended_columns) {
      line += sep;
      line += column;
    }
  }
  line += "\n";
}

void append_extended_columns(std::string& line, const timeline_record& rec) {
  const std::string& sep = rec.m_separator;
  const bool hex = rec.m_hex_extended != 0;
  line += sep;
  append_extended_number(line, rec.m_ref_count, 4, hex);
  line += sep;
  append_cell(line, rec.m_extension);
  line += sep;
  append_extended_number(line, rec.m_size_data, 6, hex);
  line += sep;
  append_extended_number(line, rec.m_inode_seqnum, 4, hex);
  line += sep;
  append_extended_number(line, rec.m_parent_inode, 8, hex);
  line += sep;
  append_extended_number(line, rec.m_parent_seqnum, 4, hex);
  line += sep;
  append_cell(line, rec.m_clusters);
  line += sep;
  for (byte b : rec.m_header_bytes) {
    append_hex_digits(line, b, 2, hex ? '0' : ' ');
    line.push_back(' ');
  }
}

// The columns from "short" on.
void append_row_tail(std::string& line, const timeline_record& rec) {
  const std::string& sep = rec.m_separator;
  append_cell(line, rec.m_short);
  line += sep;
  append_cell(line, rec.m_desc);
  line += sep;
  append_decimal(line, rec.m_version);
  line += sep;
  append_cell(line, rec.m_filename);
  line += sep;
  append_cell(line, rec.m_inode);
  line += sep;
  append_cell(line, rec.m_notes);
  line += sep;
  append_cell(line, rec.m_format);
  line += sep;
  append_cell(line, rec.m_extra);
  if (rec.m_extended) append_extended_columns(line, rec);
}

}  // namespace

bool append_l2t_csv(bool* first, std::string& line, timeline_record& rec) {
  if (first != nullptr && *first) {
    *first = false;
    append_header(line, rec);
  }

  macb_event_map events;
  zq::make_macb_events(events, rec, rec.m_time_kind);

  const std::string& sep = rec.m_separator;
  std::string& tail = thread_scratch<std::string, row_tail_tag>::get();
  bool replaced = false;
  for (const auto& kv : events) {
    const macb_event& event = kv.second;
    if (!event.time.m_valid) continue;
    if (rec.m_window_start != 0 && (event.value < rec.m_window_start || event.value > rec.m_window_end))
      continue;

    const size_t row_start = line.size();
    append_date_digits(line, event.time.m_st);
    line += sep;
    if (rec.m_blank_before_time) line.push_back(' ');
    append_clock_digits(line, event.time.m_st, rec.m_milliseconds != 0);
    line += sep;
    append_cell(line, rec.m_timezone);
    line += sep;
    if (rec.m_lower_case_letters) {
      std::string letters = event.macb;
      to_lower(letters);
      line += letters;
    } else {
      line += event.macb;
    }
    line += sep;
    append_cell(line, rec.m_source);
    line += sep;
    append_cell(line, rec.m_sourcetype);
    line += sep;
    append_cell(line, rec.m_type.empty() ? event.type : rec.m_type);
    line += sep;
    append_cell(line, rec.m_user);
    line += sep;
    append_cell(line, rec.m_host);
    line += sep;

    keep_row_on_its_line(line, row_start);

    // Once per record, at its first row: the fields stay replaced, and the
    // columns from "short" on, the same in every row, are made once.
    if (!replaced) {
      if (rec.m_replaced_char != 0 && rec.m_replacement_char != 0) {
        const char from = static_cast<char>(rec.m_replaced_char);
        const char to = static_cast<char>(rec.m_replacement_char);
        for (std::string* field : {&rec.m_short, &rec.m_desc, &rec.m_filename, &rec.m_notes})
          for (size_t at = field->find(from); at != std::string::npos; at = field->find(from, at + 1))
            (*field)[at] = to;
      }
      tail.clear();
      append_row_tail(tail, rec);
      keep_row_on_its_line(tail, 0);
      replaced = true;
    }
    line += tail;
    line += "\n";
  }
  return true;
}

bool write_l2t_csv(bool* first, std::ostream& out, timeline_record& rec) {
  std::string text;
  append_l2t_csv(first, text, rec);
  out << text;
  return true;
}

void fill_l2t_record(timeline_record& rec, const INDX_ENTRY_INFO& e, const user_ctx& ctx) {
  rec.clear();
  const bool hex = ctx.hex_sizes;
  rec.m_modify_time = modified(e);
  rec.m_access_time = accessed(e);
  rec.m_mft_change_time = mft_changed(e);
  rec.m_create_time = created(e);
  rec.m_modify_desc = "Last Modified";
  rec.m_access_desc = "Last Access";
  rec.m_mft_change_desc = "MFT Change";
  rec.m_create_desc = "Created";
  rec.m_time_kind = zq::type_filetime;
  rec.m_source = "INDX";
  rec.m_sourcetype = e.valid ? "INDX-valid" : "INDX-slack";
  // A comma in -username or -hostname would shift every row by a column: it
  // is a blank, as in a name (the record's replacement covers the name's
  // columns only).
  rec.m_user = ctx.username;
  keep_cell_in_row(rec.m_user, 0, ',');
  rec.m_host = ctx.hostname;
  keep_cell_in_row(rec.m_host, 0, ',');

  rec.m_short = ctx.path;
  rec.m_short += e.name;
  rec.m_desc = rec.m_short;
  if (!e.is_dir && real_size(e) != 0) {
    rec.m_desc += " (file size: ";
    append_size_form(rec.m_desc, real_size(e), hex);
    rec.m_desc += ")";
  }
  if (parent_entry(e) != 0) {
    rec.m_desc += " (parent inode ";
    append_size_form(rec.m_desc, parent_entry(e), hex);
    rec.m_desc += ")";
  }

  rec.m_filename = ctx.indxfile;
  rec.m_hex_extended = hex ? 1 : 0;
  // A carved entry whose reference was zeroed names no entry; only $MFT is
  // truly entry 0.
  if (entry_number(e) != 0 || e.name == "$MFT") rec.set_inode(entry_number(e));
  rec.m_notes = e.valid ? "valid" : "slack";
  rec.m_notes += e.is_dir ? " dir entry" : " file entry";
  rec.m_format = ctx.tool_name + " (corvane)";
  if (!ctx.indxfile.empty()) {
    rec.m_extra = "indx offset: ";
    append_size_form(rec.m_extra, e.file_offset, hex);
  }
  rec.m_blank_before_time = 1;
  rec.m_milliseconds = 1;
}

void append_indx_entry_l2t(std::string& out, const INDX_ENTRY_INFO& e, user_ctx& ctx) {
  // One record serves every entry: filling clears it.
  timeline_record& rec = thread_scratch<timeline_record, entry_record_tag>::get();
  fill_l2t_record(rec, e, ctx);
  append_l2t_csv(&ctx.header_pending, out, rec);
}
