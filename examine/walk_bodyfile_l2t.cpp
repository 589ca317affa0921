#include "examine/walk_bodyfile_l2t.h"

#include <iomanip>
#include <string>

#include "app/bodyfile_writer.h"
#include "app/l2t_writer.h"
#include "examine/walk_entry_report.h"
#include "ntfs/ntfs_structs.h"
#include "time/calendar.h"
#include "time/timeline_record.h"
#include "utils/byte_order.h"
#include "utils/number_append.h"
#include "utils/thread_scratch.h"
#include "utils/utf_convert.h"

namespace {

// Tags of the scratch objects kept from line to line (utils/thread_scratch.h).
struct bodyfile_line_tag;
struct l2t_row_tag;

// Created, modified, MFT changed, accessed.
struct four_times {
  ulong64 created = 0, modified = 0, changed = 0, accessed = 0;
};

four_times times_of(const si_record* si, const filename_record* fn, bool use_si) {
  four_times t;
  const byte* p = nullptr;
  if (use_si && si != nullptr) p = si->data;
  if (!use_si && fn != nullptr) p = fn->data + 8;
  if (p != nullptr) {
    t.created = load_u64(p);
    t.modified = load_u64(p + 8);
    t.changed = load_u64(p + 16);
    t.accessed = load_u64(p + 24);
  }
  return t;
}

bool belongs_to(const filename_record& fn, const parent_record& parent) {
  return mft_reference_entry(load_u64(fn.data)) == mft_reference_entry(parent.reference);
}

// A time before 1970 has no Unix value; like a zero FILETIME it is 0.
ulong64 unix_seconds(ulong64 filetime) {
  ulong64 seconds = 0;
  if (filetime == 0 || filetime < zq::unix_epoch_ticks || !filetime_to_unix(filetime, seconds)) return 0;
  return seconds;
}

std::wstring full_name(const parent_record* parent, const filename_record* fn) {
  if (parent == nullptr) return std::wstring();
  std::wstring name = parent->path;
  if (fn != nullptr) name += fn->name;
  return name;
}

}  // namespace

void write_bodyfile_line(const inode_attributes& rec, std::ostream& out, user_ctx& ctx, const parent_record* parent,
                         const attribute_record* attr, const si_record* si, const filename_record* fn, bool use_si) {
  const four_times t = times_of(si, fn, use_si);
  if (ctx.filter_start_time != 0) {
    for (ulong64 v : {t.created, t.modified, t.changed, t.accessed})
      if (v < ctx.filter_start_time || v > ctx.filter_stop_time) return;
  }
  std::wstring name = full_name(parent, fn);
  if (attr != nullptr && !attr->name.empty()) {
    if (!name.empty()) name += L':';
    name += attr->name;
  }
  const uint16 flags = load_u16(rec.header + FRH_FLAGS);
  std::wstring state;
  if ((flags & FILE_RECORD_IN_USE) == 0) state = L"deleted";
  if (flags & FILE_RECORD_DIRECTORY)
    state += state.empty() ? L"dir" : L" - dir";
  else if (flags != 0)
    state += state.empty() ? L"file" : L" - file";
  if (!state.empty()) name += L" (" + state + L")";

  // One record serves every line: each line sets what it writes.
  bodyfile_record& line = thread_scratch<bodyfile_record, bodyfile_line_tag>::get();
  line.clear();
  line.m_name = wstring_to_utf8(name);
  line.m_inode = rec.entry;
  line.m_size = attr != nullptr ? walk_attribute_size(*attr) : 0;
  line.m_modify_time = unix_seconds(t.modified);
  line.m_access_time = unix_seconds(t.accessed);
  line.m_mft_change_time = unix_seconds(t.changed);
  line.m_create_time = unix_seconds(t.created);
  line.m_time_kind = 8;
  write_bodyfile(&ctx.header_pending, out, line);
}

void write_entry_bodyfile(const inode_attributes& rec, std::ostream& out, user_ctx& ctx) {
  ctx.clear_copy_result();
  ctx.csv_separator = L"|";
  out << std::setfill('0');
  const si_record* si = rec.si_records.empty() ? nullptr : &rec.si_records.begin()->second;
  if (rec.parents.empty()) {
    write_bodyfile_line(rec, out, ctx, nullptr, nullptr, si, nullptr, true);
    return;
  }
  for (const auto& pkv : rec.parents) {
    const parent_record& parent = pkv.second;
    if (rec.attributes.empty()) {
      write_bodyfile_line(rec, out, ctx, &parent, nullptr, si, nullptr, true);
      continue;
    }
    bool first_attribute = true;
    for (const auto& akv : rec.attributes) {
      if (first_attribute && si != nullptr) {
        for (const auto& fkv : rec.filename_records)
          if (belongs_to(fkv.second, parent) && !fkv.second.dos_name)
            write_bodyfile_line(rec, out, ctx, &parent, &akv.second, si, &fkv.second, true);
      }
      first_attribute = false;
      for (const auto& fkv : rec.filename_records) {
        if (!belongs_to(fkv.second, parent) || (ctx.hide_dos_fntimes && fkv.second.dos_name)) continue;
        write_bodyfile_line(rec, out, ctx, &parent, &akv.second, si, &fkv.second, false);
      }
    }
  }
}

void write_l2t_line(const inode_attributes& rec, std::ostream& out, user_ctx& ctx, const parent_record* parent,
                    const si_record* si, const filename_record* fn, bool use_si) {
  const four_times t = times_of(si, fn, use_si);
  const bool short_row = !use_si && fn != nullptr && fn->dos_name;
  const std::string name = wstring_to_utf8(full_name(parent, fn));

  const uint16 flags = load_u16(rec.header + FRH_FLAGS);
  std::string notes;
  if ((flags & FILE_RECORD_IN_USE) == 0) notes = "deleted";
  if (flags & FILE_RECORD_DIRECTORY)
    notes += notes.empty() ? "dir" : " (dir)";
  else if (flags != 0)
    notes += notes.empty() ? "file" : " (file)";
  if (rec.time_note_set) {
    if (!notes.empty()) notes += "; ";
    notes += rec.time_note;
  }
  if (rec.has_base_record) {
    if (!notes.empty()) notes += "; ";
    notes += "REF inode [";
    append_decimal(notes, mft_reference_entry(rec.base_record));
    notes += "]";
  }

  timeline_record& row = thread_scratch<timeline_record, l2t_row_tag>::get();
  row.clear();
  row.m_modify_time = t.modified;
  row.m_access_time = t.accessed;
  row.m_mft_change_time = t.changed;
  row.m_create_time = t.created;
  row.m_time_kind = zq::type_filetime;
  row.m_hex_extended = ctx.hex_sizes ? 1 : 0;
  row.m_alt_desc = use_si ? "$SI:" : short_row ? "$FN8.3:" : "$FN:";
  row.m_source = "FILE";
  row.m_sourcetype = "NTFS$MFT";
  row.m_short = row.m_desc = row.m_filename = name;
  row.set_inode(rec.entry);
  row.m_notes = notes;
  row.m_format = "dirsweep [-csvl2t]";
  row.m_window_start = ctx.filter_start_time;
  row.m_window_end = ctx.filter_stop_time;
  write_l2t_csv(&ctx.header_pending, out, row);
}

void write_entry_l2t(const inode_attributes& rec, std::ostream& out, user_ctx& ctx) {
  ctx.clear_copy_result();
  const si_record* si = rec.si_records.empty() ? nullptr : &rec.si_records.begin()->second;
  if (rec.parents.empty()) {
    write_l2t_line(rec, out, ctx, nullptr, si, nullptr, true);
    return;
  }
  for (const auto& pkv : rec.parents) {
    const parent_record& parent = pkv.second;
    if (si != nullptr) {
      for (const auto& fkv : rec.filename_records)
        if (belongs_to(fkv.second, parent) && !fkv.second.dos_name)
          write_l2t_line(rec, out, ctx, &parent, si, &fkv.second, true);
    }
    for (const auto& fkv : rec.filename_records) {
      if (!belongs_to(fkv.second, parent) || (ctx.hide_dos_fntimes && fkv.second.dos_name)) continue;
      write_l2t_line(rec, out, ctx, &parent, si, &fkv.second, false);
    }
  }
}
