#include "app/bodyfile_writer.h"

#include "app/entry_fields.h"
#include "app/row_cell.h"
#include "app/timeline_writers.h"
#include "time/calendar.h"
#include "time/type_time.h"
#include "utils/number_append.h"
#include "utils/thread_scratch.h"

namespace {

using namespace entry_fields;

// The tag of the record kept from line to line (utils/thread_scratch.h).
struct entry_record_tag;

// Unix seconds of a FILETIME. A time before 1970 has no unsigned Unix value,
// and a wrapped-around one would place the entry centuries ahead on every
// timeline that reads the body file; such times, like a zero FILETIME, are 0.
ulong64 unix_seconds(ulong64 filetime) {
  ulong64 seconds = 0;
  if (filetime < zq::unix_epoch_ticks || !filetime_to_unix(filetime, seconds)) return 0;
  return seconds;
}

// A text field: a '|' in it would make a twelfth field, and mactime passes
// over such a line without a word; a line break would end the line. Both,
// and a '"' that begins the field, are written as blanks.
void append_field(std::string& line, const std::string& text) {
  const size_t start = line.size();
  line += text;
  keep_cell_in_row(line, start, '|');
}

}  // namespace

bodyfile_record::bodyfile_record() { clear(); }

void bodyfile_record::clear() {
  m_md5.clear();
  m_name.clear();
  m_inode = 0;
  m_mode.clear();
  m_uid = 0;
  m_gid = 0;
  m_size = 0;
  m_modify_time = m_access_time = m_mft_change_time = m_create_time = 0;
  for (std::string& s : m_spare) s.clear();
  m_time_kind = zq::type_unix;
  m_spare_number = 0;
  m_timezone = "UTC";
}

bool append_bodyfile(bool* first, std::string& line, const bodyfile_record& rec) {
  if (first != nullptr && *first) {
    *first = false;
    line += "md5|name|inode|mode as string|uid|gid|size|access time|modify time|mft time|create time\n";
  }
  if (rec.m_md5.empty()) {
    line += '0';
  } else {
    append_field(line, rec.m_md5);
  }
  line += '|';
  append_field(line, rec.m_name);
  line += '|';
  append_decimal(line, rec.m_inode);
  line += '|';
  append_field(line, rec.m_mode);
  line += '|';
  append_decimal(line, rec.m_uid);
  line += '|';
  append_decimal(line, rec.m_gid);
  line += '|';
  append_decimal(line, rec.m_size);
  line += '|';
  append_decimal(line, rec.m_access_time);
  line += '|';
  append_decimal(line, rec.m_modify_time);
  line += '|';
  append_decimal(line, rec.m_mft_change_time);
  line += '|';
  append_decimal(line, rec.m_create_time);
  line += '\n';
  return true;
}

bool write_bodyfile(bool* first, std::ostream& out, const bodyfile_record& rec) {
  std::string text;
  append_bodyfile(first, text, rec);
  out << text;
  return true;
}

void fill_bodyfile_record(bodyfile_record& rec, const INDX_ENTRY_INFO& e, const user_ctx& ctx) {
  rec.clear();
  rec.m_size = real_size(e);
  rec.m_modify_time = unix_seconds(modified(e));
  rec.m_access_time = unix_seconds(accessed(e));
  rec.m_mft_change_time = unix_seconds(mft_changed(e));
  rec.m_create_time = unix_seconds(created(e));
  rec.m_time_kind = zq::type_unix;
  rec.m_name = ctx.path;
  rec.m_name += e.name;
  if (!ctx.indxfile.empty()) {
    rec.m_name += "; indx offset: ";
    if (ctx.hex_sizes) {
      append_hex(rec.m_name, e.file_offset, 4);
    } else {
      append_decimal(rec.m_name, e.file_offset);
    }
  }
  if (!e.valid) rec.m_name += " (slack)";
}

void append_indx_entry_bodyfile(std::string& out, const INDX_ENTRY_INFO& e, user_ctx& ctx) {
  // One record serves every entry: filling clears it.
  bodyfile_record& rec = thread_scratch<bodyfile_record, entry_record_tag>::get();
  fill_bodyfile_record(rec, e, ctx);
  append_bodyfile(&ctx.header_pending, out, rec);
}
