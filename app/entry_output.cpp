#include "app/entry_output.h"

#include <iostream>
#include <string>

#include "app/entry_fields.h"
#include "app/timeline_writers.h"
#include "ntfs/file_attributes.h"
#include "time/zq_time.h"
#include "utils/status_line.h"
#include "utils/number_append.h"
#include "utils/utf_convert.h"

namespace {

using namespace entry_fields;

// "0x" and `width` hex digits, then the decimal value in brackets.
void append_hex_and_decimal(std::string& out, ulong64 value, unsigned width) {
  append_hex(out, value, width);
  out += " [";
  append_decimal(out, value);
  out.push_back(']');
}

// Sizes, offsets and entry numbers follow -base10; sequence numbers are
// narrower in hex.
void append_number(std::string& out, ulong64 value, unsigned width, const user_ctx& ctx) {
  if (ctx.hex_sizes) {
    append_hex(out, value, width);
  } else {
    append_decimal(out, value);
  }
}

// A zeroed reference is an entry whose reference could not be trusted; a
// reference without sequence number names no entry that ever existed.
bool reference_corrupted(const INDX_ENTRY_INFO& e) {
  ulong64 number = entry_number(e);
  if (number == 0) return e.name != "$MFT";
  return sequence(e) == 0;
}

const char* source_type(uint32 attribute_type) {
  if (attribute_type == 0xA0) return "indx alloc";
  if (attribute_type == 0x90) return "indx root";
  return "unk";
}

void write_text_time(std::ostream& out, std::string& line, const char* label, ulong64 filetime) {
  line = label;
  append_decimal(line, filetime);
  line += " [";
  out << line << zq::time(filetime, zq::type_time(1)) << "]\n";
}

void write_text_block(std::ostream& out, const INDX_ENTRY_INFO& e, const user_ctx& ctx) {
  std::string line;
  line.reserve(256);
  line = "Name:                 ";
  line += ctx.path;
  line += e.name;
  line += "\nMFT Entry:            ";
  if (reference_corrupted(e)) {
    line += "<corrupted>";
  } else {
    append_hex_and_decimal(line, entry_number(e), 12);
  }
  line += "\nMFT Sequence:         ";
  if (sequence(e) == 0) {
    line += "<corrupted>";
  } else {
    append_hex_and_decimal(line, sequence(e), 4);
  }
  line += "\nParent Entry:         ";
  append_hex_and_decimal(line, parent_entry(e), 12);
  line += "\nParent Sequence:      ";
  append_hex_and_decimal(line, parent_sequence(e), 4);
  line += "\nEntry:                ";
  if (e.valid) {
    line += "valid";
  } else {
    line += "slack";
    if (!e.slack_comment.empty()) line += ", " + e.slack_comment;
  }
  line += "\n";
  out << line;

  write_text_time(out, line, "Modify time [utc]:    ", modified(e));
  write_text_time(out, line, "Access time [utc]:    ", accessed(e));
  write_text_time(out, line, "MFTChanged time [utc]:", mft_changed(e));
  write_text_time(out, line, "Create time [utc]:    ", created(e));

  line.clear();
  if (!e.is_dir) {
    line += "Size allocated:       ";
    append_hex_and_decimal(line, allocated_size(e), 8);
    line += "\nSize used:            ";
    append_hex_and_decimal(line, real_size(e), 8);
    line += "\n";
  }
  if (!ctx.indxfile.empty()) {
    line += "Relative Offset:      ";
    append_hex_and_decimal(line, e.file_offset, 8);
    line += "\n";
  }
  std::string flags;
  file_attributes_to_string(flags, file_attributes(e));
  line += "Type entry:           ";
  append_hex(line, file_attributes(e), 8);
  line += " [" + flags + "]\nSource type:          ";
  line += source_type(e.attribute_type);
  line += "\n";
  if (!ctx.username.empty()) line += "Username:             " + ctx.username + "\n";
  if (!ctx.hostname.empty()) line += "Hostname:             " + ctx.hostname + "\n";
  line += "\n";
  out << line;
}

bool csv_user_columns(const user_ctx& ctx) { return !ctx.username.empty() || !ctx.hostname.empty(); }

void write_csv_header(std::ostream& out, user_ctx& ctx, const std::string& sep) {
  static const char* const columns[] = {
      "mft entry",   "mft seq",          "parent mft",  "type",
      "modify date", "modify time [utc]", "access date", "access time [utc]",
      "mft date",    "mft time [utc]",    "create date", "create time [utc]",
      "dir/file",    "size alloc",        "size used",   "flags",
      "name",        "slack comment"};
  std::string line = wstring_to_utf8(ctx.cmdline);
  line += "\n";
  if (!ctx.indxfile.empty()) line += "offset" + sep;
  bool first = true;
  for (const char* column : columns) {
    if (!first) line += sep;
    line += column;
    first = false;
  }
  if (csv_user_columns(ctx)) line += sep + "username" + sep + "hostname";
  line += "\n";
  out << line;
  ctx.header_pending = false;
}

// Date and time columns of one FILETIME; blanks for a zero or invalid time.
void append_csv_time(std::string& line, ulong64 filetime, const std::string& sep) {
  std::string date;
  std::string time_text;
  if (filetime != 0) zq::format_time_ms(date, time_text, zq::time(filetime, zq::type_time(1)), false);
  if (date.empty()) {
    line += " " + sep + " " + sep;
    return;
  }
  line += date + sep + " " + time_text + sep;
}

void write_csv_line(std::ostream& out, const INDX_ENTRY_INFO& e, user_ctx& ctx) {
  std::string sep = wstring_to_utf8(ctx.csv_separator);
  if (ctx.header_pending) write_csv_header(out, ctx, sep);

  std::string line;
  line.reserve(256);
  if (!ctx.indxfile.empty()) {
    append_number(line, e.file_offset, 8, ctx);
    line += sep;
  }
  if (reference_corrupted(e)) {
    line += " ";
  } else {
    append_number(line, entry_number(e), 8, ctx);
  }
  line += sep;
  if (sequence(e) == 0) {
    line += " ";
  } else {
    append_number(line, sequence(e), 4, ctx);
  }
  line += sep;
  append_number(line, parent_entry(e), 8, ctx);
  line += sep;
  line += e.valid ? "valid" : "slack";
  line += sep;
  append_csv_time(line, modified(e), sep);
  append_csv_time(line, accessed(e), sep);
  append_csv_time(line, mft_changed(e), sep);
  append_csv_time(line, created(e), sep);
  line += e.is_dir ? "dir" : "file";
  line += sep;
  bool no_sizes = e.is_dir || allocated_size(e) == 0;
  if (no_sizes) {
    line += " " + sep + " " + sep;
  } else {
    append_number(line, allocated_size(e), 8, ctx);
    line += sep;
    append_number(line, real_size(e), 8, ctx);
    line += sep;
  }
  append_hex(line, file_attributes(e), 8);
  line += sep;
  size_t name_start = line.size();
  line += ctx.path;
  line += e.name;
  for (size_t i = name_start; i < line.size(); ++i) {
    if (line[i] == ',') line[i] = ' ';
  }
  line += sep;
  line += e.slack_comment;
  if (csv_user_columns(ctx)) line += sep + ctx.username + sep + ctx.hostname;
  line += "\n";
  out << line;
}

// Which entries the selection options pick.
enum class pick { none, valid_only, carved_only, every };

pick selection(const user_ctx& ctx) {
  if (ctx.nodups) {
    if (ctx.slack) return pick::carved_only;
    return ctx.valid ? pick::valid_only : pick::every;
  }
  if (ctx.all) return ctx.slack ? pick::carved_only : pick::every;
  if (ctx.slack) return pick::carved_only;
  return ctx.valid ? pick::valid_only : pick::none;
}

bool picked(pick p, const INDX_ENTRY_INFO& e) {
  switch (p) {
    case pick::valid_only:
      return e.valid != 0;
    case pick::carved_only:
      return e.valid == 0;
    case pick::every:
      return true;
    case pick::none:
      break;
  }
  return false;
}

template <typename Collection>
void write_picked(const Collection& entries, pick p, user_ctx& ctx) {
  for (const auto& kv : entries) {
    if (picked(p, kv.second)) write_indx_entry(std::cout, kv.second, ctx);
  }
}

}  // namespace

void write_indx_entry(std::ostream& out, const INDX_ENTRY_INFO& e, user_ctx& ctx) {
  if (ctx.csvl2t) {
    write_indx_entry_l2t(out, e, ctx);
  } else if (ctx.bodyfile) {
    write_indx_entry_bodyfile(out, e, ctx);
  } else if (ctx.csv) {
    write_csv_line(out, e, ctx);
  } else {
    write_text_block(out, e, ctx);
  }
}

void write_dir_entries(inode_indx_mmap& all_entries, string_indx_map& nodup_entries, user_ctx& ctx) {
  print_status(" ");
  pick p = selection(ctx);
  if (p == pick::none) return;
  if (ctx.nodups) {
    write_picked(nodup_entries, p, ctx);
  } else {
    write_picked(all_entries, p, ctx);
  }
}
