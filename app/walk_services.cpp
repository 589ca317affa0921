#include "app/walk_services.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <vector>

#include "ntfs/attribute_pump.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "ntfs/ntfs_structs.h"
#include "utils/byte_order.h"
#include "utils/file_handle.h"
#include "utils/md5.h"
#include "utils/sparse_output.h"
#include "utils/status_line.h"

namespace {

// Index records of $INDEX_ALLOCATION are 4 KiB whatever the cluster size.
const uint32 INDEX_RECORD_BYTES = 4096;

// What a verbose copy counts as one chunk on its status line.
const ulong64 COPY_CHUNK_BYTES = 65536;

std::wstring lowered(const std::wstring& text) {
  std::wstring out = text;
  for (wchar_t& c : out) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return out;
}

bool in_window(ulong64 t, ulong64 start, ulong64 stop) { return t >= start && t <= stop; }

bool any_time_in_window(const inode_attributes& rec, ulong64 start, ulong64 stop) {
  for (const auto& kv : rec.si_records)
    for (int i = 0; i < 4; ++i)
      if (in_window(load_u64(kv.second.data + 8 * i), start, stop)) return true;
  for (const auto& kv : rec.filename_records)
    for (int i = 0; i < 4; ++i)
      if (in_window(load_u64(kv.second.data + 8 + 8 * i), start, stop)) return true;
  return false;
}

// Hashes and writes each piece; a stream that fails stops the copy. Runs of
// zeros stay holes in a copy file (utils/sparse_output.h).
class copy_sink {
 public:
  copy_sink(std::ostream& out, bool hash) : file_(out, hash ? &md5_ : nullptr) { md5_init(&md5_); }

  bool write(const byte* data, uint32 length) { return file_.write(data, length); }
  bool zeros(ulong64 length) { return file_.zeros(length); }
  bool finish() { return file_.finish(); }
  void digest(byte* out16) { md5_final(out16, &md5_); }

 private:
  md5_context md5_;
  sparse_output file_;
};

// Gathers $INDEX_ALLOCATION data into whole index records, undoes each
// record's update-sequence protection (512-byte strides inside the record)
// and hands it on; pieces from the pump need not fall on record bounds.
class index_record_sink {
 public:
  explicit index_record_sink(copy_sink& next) : next_(next) { pending_.reserve(INDEX_RECORD_BYTES); }

  bool write(const byte* data, uint32 length) {
    while (length > 0) {
      const uint32 room = INDEX_RECORD_BYTES - static_cast<uint32>(pending_.size());
      const uint32 n = std::min(room, length);
      pending_.insert(pending_.end(), data, data + n);
      data += n;
      length -= n;
      if (pending_.size() == INDEX_RECORD_BYTES) {
        apply_update_sequence(pending_.data(), INDEX_RECORD_BYTES);
        if (!next_.write(pending_.data(), INDEX_RECORD_BYTES)) return false;
        pending_.clear();
      }
    }
    return true;
  }
  // A tail shorter than a record is no record: it goes on as read.
  bool flush() {
    const bool ok = next_.write(pending_.data(), static_cast<uint32>(pending_.size()));
    pending_.clear();
    return ok;
  }

 private:
  copy_sink& next_;
  std::vector<byte> pending_;
};

// The status line of a verbose copy: "copy chunk: %d" with the 64 KiB
// chunks done while data remains to copy, as a copy that reads chunk by
// chunk counts them. The pump hands on larger pieces, so the count follows
// the bytes; the first chunk is always shown, later counts as the pacer
// allows.
class chunk_status {
 public:
  chunk_status(bool verbose, ulong64 count) : verbose_(verbose), count_(count) {}

  void handed_on(ulong64 n) {
    done_ += n;
    if (!verbose_ || count_ == 0) return;
    const ulong64 finished = std::min(done_, count_ - 1) / COPY_CHUNK_BYTES;
    if (finished <= shown_ || !pacer_.due()) return;
    shown_ = shown_ == 0 ? 1 : finished;
    print_status("copy chunk: %d", static_cast<int>(shown_));
  }

 private:
  bool verbose_;
  ulong64 count_, done_ = 0, shown_ = 0;
  status_pacer pacer_;
};

bool copy_resident(std::ostream& out, user_ctx& ctx, const attribute_record& attr) {
  byte_view value;
  if (!resident_value(attr.raw.data(), static_cast<uint32>(attr.raw.size()), value)) return false;
  copy_sink sink(out, ctx.copy_md5);
  // A resident value lives inside one record, so its length fits in 32 bits.
  if (!sink.write(value.data, static_cast<uint32>(value.size)) || !sink.finish()) return false;
  if (ctx.copy_md5) sink.digest(ctx.copy_digest);
  return true;
}

// True when `joined` holds every run of `first`, in place, and more after
// them: the later pieces of the attribute whose first piece gave `first`.
bool continues(const std::vector<data_run>& first, const std::vector<data_run>& joined) {
  if (joined.size() <= first.size()) return false;
  for (size_t i = 0; i < first.size(); ++i) {
    const data_run &a = first[i], &b = joined[i];
    if (a.vcn != b.vcn || a.num_clusters != b.num_clusters || a.sparse != b.sparse || (!a.sparse && a.lcn != b.lcn))
      return false;
  }
  return true;
}

}  // namespace

bool inode_passes_filters(const inode_attributes& rec, const user_ctx& ctx) {
  if (!ctx.filter_name.empty()) {
    bool found = false;
    for (const auto& kv : rec.filename_records) {
      if (lowered(kv.second.name).find(ctx.filter_name) != std::wstring::npos) {
        found = true;
        break;
      }
    }
    if (!found) return false;
  }
  if (!ctx.filter_ext.empty()) {
    const filename_record* dotted = nullptr;
    for (const auto& kv : rec.filename_records) {
      if (kv.second.name.find(L'.') != std::wstring::npos) {
        dotted = &kv.second;
        break;
      }
    }
    if (dotted == nullptr) return false;
    const std::wstring ext = lowered(dotted->name.substr(dotted->name.rfind(L'.') + 1));
    if (ext != ctx.filter_ext) return false;
  }
  if (ctx.filter_start_time == 0) return true;
  return any_time_in_window(rec, ctx.filter_start_time, ctx.filter_stop_time);
}

bool copy_file_data(std::ostream& out, const inode_attributes&, user_ctx& ctx, const attribute_record* attr) {
  if (!ctx.source_ready() || attr == nullptr || attr->raw.size() < AH_RESIDENT_SIZE) return false;
  const byte* a = attr->raw.data();
  const uint32 length = static_cast<uint32>(attr->raw.size());
  if (a[AH_NON_RESIDENT] == 0) return copy_resident(out, ctx, *attr);

  // An extracted $MFT file has no clusters to read.
  if (ctx.mft_reader != nullptr && ctx.mft_reader->is_open()) return false;
  if (ctx.ntfs == nullptr || length < AH_NON_RESIDENT_SIZE) return false;
  const CNtfs& ntfs = *ctx.ntfs;
  attribute_layout layout;
  if (!layout.set_attribute(a, length) || layout.runs.empty()) return false;
  // A file continued in extension records keeps the later pieces' runs only
  // in the record read for it; the header holds the first piece's alone.
  attribute_layout joined;
  if (joined.set_data_runs(attr->runs) && continues(layout.runs, joined.runs)) layout.runs.swap(joined.runs);
  // A run past the volume is damage, and so are the sizes beside it: a copy
  // of it would be zeros as far as a size of terabytes claims.
  if (!layout.held_by(ntfs)) return false;

  const ulong64 data_size = load_u64(a + AH_DATA_SIZE);
  const ulong64 initialized = load_u64(a + AH_INITIALIZED_SIZE);
  // Runs that map less than this (a damaged list, or a piece whose rest
  // lies in another record) end the copy short, and the copy says so.
  const ulong64 count = ctx.raw ? load_u64(a + AH_ALLOCATED_SIZE) : std::max(data_size, initialized);
  const bool compressed = load_u16(a + AH_FLAGS) == 0x0001 && a[AH_COMPRESSION_UNIT] != 0 &&
                          load_u64(a + AH_COMPRESSED_SIZE) != 0 && !ctx.raw;
  if (!compressed) layout.unit_clusters = 0;
  layout.data_size = count;
  // Raw copies show the clusters as stored, also past the initialized size.
  layout.initialized_size = ctx.raw ? count : std::min(layout.initialized_size, count);

  copy_sink sink(out, ctx.copy_md5);
  index_record_sink records(sink);
  const bool fix_index = attr->type() == ATTR_INDEX_ALLOCATION && !ctx.raw;
  chunk_status progress(ctx.verbose, count);
  const pump_sink take = [&](const byte* data, uint32 n) {
    progress.handed_on(n);
    return fix_index ? records.write(data, n) : sink.write(data, n);
  };
  // Index records are mended whole, so their zeros come as bytes.
  pump_hole_sink skip;
  if (!fix_index) skip = [&](ulong64 n) {
    progress.handed_on(n);
    return sink.zeros(n);
  };
  ulong64 delivered = 0;
  pump_status status = PUMP_DONE;
  if (count > 0) status = pump_attribute_data(ntfs, layout, 0, count, take, skip, delivered);
  bool whole = status == PUMP_DONE && delivered == count;
  if (fix_index && !records.flush()) whole = false;
  if (!sink.finish()) whole = false;
  if (ctx.copy_md5) sink.digest(ctx.copy_digest);
  if (ctx.verbose) print_status("%s", "");
  return whole;
}
