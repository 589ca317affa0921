#include "examine/walk_engine.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/dir_tree.h"
#include "app/evidence_guard.h"
#include "app/row_cell.h"
#include "app/source_open.h"
#include "app/walk_services.h"
#include "examine/walk_bodyfile_l2t.h"
#include "examine/walk_entry_report.h"
#include "examine/walk_streams.h"
#include "ntfs/attribute_pump.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "ntfs/ntfs_structs.h"
#include "utils/byte_order.h"
#include "utils/file_handle.h"
#include "utils/status_line.h"
#include "utils/utf_convert.h"

namespace {

bool reading_mft_file(const user_ctx& ctx) { return ctx.mft_reader != nullptr && ctx.mft_reader->is_open(); }

// The number of entries the $MFT's data holds, by the source's record size.
bool count_entries(user_ctx& ctx, ulong64& count) {
  inode_attributes mft;
  if (!read_inode(mft, ctx, 0)) return false;
  ulong64 size = 0;
  bool found = false;
  for (const auto& kv : mft.attributes) {
    const attribute_record& a = kv.second;
    if (a.raw.size() < AH_RESIDENT_SIZE || a.type() != ATTR_DATA) continue;
    size = walk_stored_size(a);
    found = true;
    break;
  }
  if (!found || size == 0) return false;
  // Reading record 0 settled the record size (from the boot sector, or from
  // record 0's update-sequence count in an extracted $MFT file).
  const ulong64 record = ctx.record_size != 0 ? ctx.record_size : 1024;
  count = size / record;
  // A damaged size can claim billions of entries; only the entries the
  // source holds are walked: those of the extracted file, or those the
  // $MFT's runs map inside the volume.
  if (reading_mft_file(ctx))
    count = std::min<ulong64>(count, ctx.mft_reader->current_size() / record);
  else if (ctx.ntfs != nullptr)
    count = std::min<ulong64>(count, ctx.ntfs->get_inode_count());
  return true;
}

// The first bytes of each attribute's data, for the reports' header column.
void fill_data_heads(inode_attributes& rec, user_ctx& ctx) {
  const uint32 want = ctx.header_length;
  for (auto& kv : rec.attributes) {
    attribute_record& attr = kv.second;
    if (attr.raw.size() < AH_RESIDENT_SIZE) continue;
    const byte* a = attr.raw.data();
    const uint32 length = static_cast<uint32>(attr.raw.size());
    attr.value.clear();
    if (a[AH_NON_RESIDENT] == 0) {
      byte_view value;
      if (!resident_value(a, length, value)) continue;
      const uint32 n = static_cast<uint32>(std::min<ulong64>(want, value.size));
      attr.value.assign(value.data, value.data + n);
      continue;
    }
    if (ctx.ntfs == nullptr || reading_mft_file(ctx) || attr.runs.empty()) continue;
    attribute_layout layout;
    if (!layout.set_attribute(a, length)) continue;
    attr.value.assign(want, 0);
    ulong64 delivered = 0;
    const pump_status s =
        pump_attribute_to_buffer(*ctx.ntfs, layout, ctx.header_offset, want, attr.value.data(), delivered);
    if (s != PUMP_DONE) attr.value.clear();
  }
}

class walker {
 public:
  walker(std::ostream& out, user_ctx& ctx) : out_(out), ctx_(ctx) {}

  // One entry: read, parsed, filtered and handed to its writer.
  void entry(ulong64 n) {
    bool is_baad = false;
    if (!read_source_record(record_, is_baad, ctx_, n)) return;
    rec_.clear();
    rec_.source_desc = ctx_.source_desc;
    if (record_.size() < FRH_SIZE) return;
    const byte* r = record_.data();
    const uint32 size = static_cast<uint32>(record_.size());
    const uint32 offset = rec_.set_record_header(n, r);
    const uint16 flags = load_u16(r + FRH_FLAGS);
    if (ctx_.filters_active && !rec_.passes_deleted_filter(ctx_)) return;

    parse_record_attributes(rec_, ctx_, n, r, size, offset);

    if ((flags & FILE_RECORD_DIRECTORY) && dirs_.find(n) == dirs_.end()) {
      parents_.clear();
      for (const auto& kv : rec_.parents) parents_.insert(kv.second.reference);
      const std::wstring name =
          rec_.filename_records.empty() ? std::wstring() : rec_.filename_records.begin()->second.name;
      dirs_.emplace(n, dir_tree_node(n, parents_.empty() ? ulong64_set{0} : parents_, name, true));
    }
    if (ctx_.filters_active && !inode_passes_filters(rec_, ctx_)) return;
    if (ctx_.include_header && ctx_.header_length != 0) fill_data_heads(rec_, ctx_);
    if (ctx_.note_time_sources) describe_time_sources(rec_);
    for (auto& kv : rec_.parents) kv.second.path = parent_path(mft_reference_entry(kv.second.reference));

    if (ctx_.csv)
      report_entry_streams(rec_, out_, ctx_);
    else if (ctx_.bodyfile)
      write_entry_bodyfile(rec_, out_, ctx_);
    else if (ctx_.csvl2t)
      write_entry_l2t(rec_, out_, ctx_);
    else
      report_entry_streams(rec_, out_, ctx_);
  }

  bool met_directories() const { return !dirs_.empty(); }

 private:
  // Paths of parent directories, built once each: most entries share their
  // parent with the entries before them.
  const std::wstring& parent_path(ulong64 parent) {
    auto found = paths_.find(parent);
    if (found != paths_.end()) return found->second;
    std::wstring path;
    build_inode_path(path, parent, ctx_, dirs_);
    return paths_.emplace(parent, path).first->second;
  }

  std::ostream& out_;
  user_ctx& ctx_;
  inode_attributes rec_;
  std::vector<byte> record_;
  dir_tree_map dirs_;
  ulong64_set parents_;
  std::unordered_map<ulong64, std::wstring> paths_;
};

}  // namespace

bool describe_time_sources(inode_attributes& rec) {
  rec.time_note.clear();
  rec.time_note_set = false;
  auto note = [&](const std::string& text) {
    rec.time_note = text;
    rec.time_note_set = true;
    return false;
  };
  if (rec.si_records.empty() && !rec.has_base_record) return note("si:time absent");
  if (rec.filename_records.empty()) return note("fn:time absent");
  if (!rec.si_records.empty() && rec.si_records.begin()->second.time_suspect)
    return note("si:time " + rec.si_records.begin()->second.note);
  for (const auto& kv : rec.filename_records)
    if (kv.second.time_suspect) return note("fn:time " + kv.second.note);
  return true;
}

bool walk_engine_run(std::ostream& out, user_ctx& ctx) {
  if (!ctx.csvl2t && !ctx.bodyfile) {
    // The echo holds the arguments as typed, each wrapped in quotes: it stays
    // one line above the table, and in CSV one row that opens no quoted cell
    // over the rows.
    std::string echo = "cmdline: " + wstring_to_utf8(ctx.cmdline);
    if (ctx.csv)
      keep_line_of_cells(echo, 0, ',');
    else
      keep_row_on_its_line(echo, 0);
    out << echo << std::endl << std::endl;
  }
  if (!initialize_mft(ctx)) return false;
  if (!reading_mft_file(ctx) && !(ctx.ntfs != nullptr && ctx.ntfs->initialise(ctx.mft_pos))) return false;
  // Copies go only where the source now open cannot be written.
  if (make_copy_folder(ctx) != 0) return false;

  ulong64 count = 0;
  if (!count_entries(ctx, count)) return false;
  ulong64 end = 0;
  if (ctx.mft_count == 0) {
    ctx.mft_count = count;
    end = count;
  } else {
    end = ctx.mft_start + ctx.mft_count;
    if (end < ctx.mft_start) end = ~0ULL;  // a range past the last number ends there
  }
  const ulong64 interval = ctx.include_header ? 13 : 53;

  walker walk(out, ctx);
  for (ulong64 n = ctx.mft_start; n < end; ++n) {
    if (ctx.verbose && n % interval == 0)
      print_status("analyzing entry %lld of %lld", static_cast<long long>(n), static_cast<long long>(count));
    walk.entry(n);
  }
  out.flush();
  if (ctx.is_open) ctx.close_source();
  if (ctx.verbose) print_status("\n");
  return walk.met_directories();
}
