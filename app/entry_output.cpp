#include "app/entry_output.h"

#include <iostream>
#include <string>

#include "app/entry_fields.h"
#include "app/row_cell.h"
#include "app/time_digits.h"
#include "app/timeline_writers.h"
#include "ntfs/file_attributes.h"
#include "utils/status_line.h"
#include "utils/thread_scratch.h"
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

// The label, the FILETIME in decimal and its text in brackets: two-digit
// year and milliseconds, or zeros for a time that has none.
void append_text_time(std::string& line, const char* label, ulong64 filetime) {
  line += label;
  append_decimal(line, filetime);
  line += " [";
  systemtime_ex st;
  if (filetime_calendar(filetime, st)) {
    append_short_date_digits(line, st);
    line.push_back(' ');
    append_clock_digits(line, st, true);
  } else {
    line += "00/00/00 00:00:00";
  }
  line += "]\n";
}

// One labelled line whose value keeps to it: a name from the evidence with
// a line break could otherwise print lines that read as another entry.
void append_text_line(std::string& line, const char* label, const std::string& value) {
  line += label;
  const size_t from = line.size();
  line += value;
  keep_row_on_its_line(line, from);
  line += "\n";
}

void append_text_block(std::string& line, const INDX_ENTRY_INFO& e, const user_ctx& ctx) {
  line += "Name:                 ";
  const size_t name_start = line.size();
  line += ctx.path;
  line += e.name;
  keep_row_on_its_line(line, name_start);
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

  append_text_time(line, "Modify time [utc]:    ", modified(e));
  append_text_time(line, "Access time [utc]:    ", accessed(e));
  append_text_time(line, "MFTChanged time [utc]:", mft_changed(e));
  append_text_time(line, "Create time [utc]:    ", created(e));

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
  if (!ctx.username.empty()) append_text_line(line, "Username:             ", ctx.username);
  if (!ctx.hostname.empty()) append_text_line(line, "Hostname:             ", ctx.hostname);
  line += "\n";
}

bool csv_user_columns(const user_ctx& ctx) { return !ctx.username.empty() || !ctx.hostname.empty(); }

void append_csv_header(std::string& out, user_ctx& ctx, const std::string& sep) {
  static const char* const columns[] = {
      "mft entry",   "mft seq",          "parent mft",  "type",
      "modify date", "modify time [utc]", "access date", "access time [utc]",
      "mft date",    "mft time [utc]",    "create date", "create time [utc]",
      "dir/file",    "size alloc",        "size used",   "flags",
      "name",        "slack comment"};
  std::string line = wstring_to_utf8(ctx.cmdline);
  // The echo holds the arguments as typed (a -path with a line break in a
  // planted folder's name), each wrapped in quotes: the header must still be
  // the line after it, and a typed comma before a quote (-username 'a,""')
  // must not open a quoted cell that runs on over the header and the rows.
  keep_line_of_cells(line, 0, sep.empty() ? ',' : sep.back());
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
  out += line;
  ctx.header_pending = false;
}

// Date and time columns of one FILETIME; blanks for a zero or invalid time.
void append_csv_time(std::string& line, ulong64 filetime, const std::string& sep) {
  systemtime_ex st;
  if (!filetime_calendar(filetime, st)) {
    line += ' ';
    line += sep;
    line += ' ';
    line += sep;
    return;
  }
  append_date_digits(line, st);
  line += sep;
  line.push_back(' ');
  append_clock_digits(line, st, true);
  line += sep;
}

// The CSV separator as typed and as written.
struct csv_separator {
  std::wstring source;
  std::string text;
};

void append_csv_line(std::string& line, const INDX_ENTRY_INFO& e, user_ctx& ctx) {
  // The separator of every line of a run is the same; it is converted once.
  csv_separator& cached = thread_scratch<csv_separator>::get();
  std::wstring& sep_source = cached.source;
  std::string& sep = cached.text;
  if (sep.empty() || sep_source != ctx.csv_separator) {
    sep_source = ctx.csv_separator;
    sep = wstring_to_utf8(sep_source);
  }
  if (ctx.header_pending) append_csv_header(line, ctx, sep);

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
  const size_t name_start = line.size();
  line += ctx.path;
  line += e.name;
  keep_cell_in_row(line, name_start, ',');
  line += sep;
  line += e.slack_comment;
  if (csv_user_columns(ctx)) {
    line += sep;
    const size_t user_start = line.size();
    line += ctx.username;
    keep_cell_in_row(line, user_start, ',');
    line += sep;
    const size_t host_start = line.size();
    line += ctx.hostname;
    keep_cell_in_row(line, host_start, ',');
  }
  line += "\n";
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

// A directory's text is gathered and written in pieces of about this size.
const size_t kOutputPiece = 1 << 20;
// Room past a piece for the entry that fills it: the buffer is made this
// large once, instead of doubling near the end of a piece when memory may
// be short.
const size_t kEntryRoom = 64 << 10;

// Gathers the text of the picked entries and writes it in large pieces.
// Each entry is written whole or not at all: one that an exception cuts
// short is taken back, and the destructor, which also runs while the
// exception unwinds, writes out the whole ones before it.
class picked_writer {
 public:
  picked_writer(pick p, user_ctx& ctx) : pick_(p), ctx_(ctx) {
    text().clear();
    text().reserve(kOutputPiece + kEntryRoom);
  }
  ~picked_writer() { flush(); }
  void add(const INDX_ENTRY_INFO& e) {
    if (!picked(pick_, e)) return;
    const size_t whole = text().size();
    const bool header = ctx_.header_pending;
    try {
      append_indx_entry(text(), e, ctx_);
    } catch (...) {
      text().resize(whole);
      ctx_.header_pending = header;
      throw;
    }
    if (text().size() >= kOutputPiece) flush();
  }

 private:
  struct pending_text;
  static std::string& text() { return thread_scratch<std::string, pending_text>::get(); }
  static void flush() {
    std::cout.write(text().data(), static_cast<std::streamsize>(text().size()));
    text().clear();
  }
  pick pick_;
  user_ctx& ctx_;
};

template <typename Collection>
void write_picked(const Collection& entries, pick p, user_ctx& ctx) {
  picked_writer writer(p, ctx);
  for (const auto& kv : entries) writer.add(kv.second);
}

}  // namespace

void append_indx_entry(std::string& out, const INDX_ENTRY_INFO& e, user_ctx& ctx) {
  if (ctx.csvl2t) {
    append_indx_entry_l2t(out, e, ctx);
  } else if (ctx.bodyfile) {
    append_indx_entry_bodyfile(out, e, ctx);
  } else if (ctx.csv) {
    append_csv_line(out, e, ctx);
  } else {
    append_text_block(out, e, ctx);
  }
}

void write_indx_entry(std::ostream& out, const INDX_ENTRY_INFO& e, user_ctx& ctx) {
  std::string text;
  append_indx_entry(text, e, ctx);
  out << text;
}

bool writes_carved(const user_ctx& ctx) {
  const pick p = selection(ctx);
  return p == pick::carved_only || p == pick::every;
}

void write_dir_listing(const dir_listing& listing, user_ctx& ctx) {
  const pick p = selection(ctx);
  if (p == pick::none) return;
  picked_writer writer(p, ctx);
  INDX_ENTRY_INFO scratch;
  if (ctx.nodups) {
    std::vector<uint32> rows;
    listing.nodup_rows(rows);
    for (uint32 row : rows) writer.add(listing.entry_of(row, scratch));
  } else {
    for (size_t i = 0; i < listing.row_count(); ++i) writer.add(listing.row(i, scratch));
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
