#include "examine/attribute_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>

#include "examine/entry_records.h"
#include "examine/index_listing.h"
#include "ntfs/data_runs.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "utils/console.h"
#include "utils/hex_text.h"
#include "utils/md5.h"
#include "utils/output_file.h"
#include "utils/sparse_output.h"
#include "utils/status_line.h"

namespace {

// Index records keep 4 KiB whatever the cluster size, and a piece of the
// pump need not end on a record boundary: records are gathered whole before
// their update sequence is undone. A tail shorter than a record goes on as
// it is.
class index_record_fixer {
 public:
  explicit index_record_fixer(const pump_sink& next) : m_next(next) { m_record.reserve(RECORD); }

  bool take(const byte* data, uint32 length) {
    while (length) {
      const uint32 n = std::min<uint32>(length, RECORD - static_cast<uint32>(m_record.size()));
      m_record.insert(m_record.end(), data, data + n);
      data += n;
      length -= n;
      if (m_record.size() == RECORD) {
        apply_update_sequence(m_record.data(), RECORD);
        if (!m_next(m_record.data(), RECORD)) return false;
        m_record.clear();
      }
    }
    return true;
  }
  bool flush() { return m_record.empty() || m_next(m_record.data(), static_cast<uint32>(m_record.size())); }

 private:
  static const uint32 RECORD = 4096;
  pump_sink m_next;
  std::vector<byte> m_record;
};

bool compressed_for_reading(const entry_record& rec, bool raw) {
  const uint32 unit = entry_compression_unit(rec);
  return !raw && rec.item.header.word_value == 1 && unit != 0 && unit < 16 && entry_compressed_size(rec) != 0;
}

// Types whose value is content an examiner copies: a resident one of 0
// bytes, or a non-resident one of size 0, is an empty stream, not a
// missing one.
bool content_type(uint32 type) {
  return type == 0x50 || type == 0x80 || type == 0x90 || type == 0xA0 || type == 0xB0 || type == 0x100;
}

bool holds_no_bytes(const entry_record& rec, bool raw) {
  if (!content_type(rec.item.header.type)) return false;
  if (entry_is_non_resident(rec)) return (raw ? entry_allocated_size(rec) : entry_used_size(rec)) == 0;
  return rec.runs.empty() && rec.resident.empty() && entry_value_length(rec) == 0;
}

bool delivered_all(CNtfs* ntfs, const entry_record& rec, bool raw, const pump_sink& sink,
                   const pump_hole_sink& holes, ulong64 want) {
  attribute_layout layout;
  // A run past the volume is damage, and so are the sizes beside it: the
  // data would be zeros as far as a size of terabytes claims.
  if (!layout.set_data_runs(rec.runs) || !layout.held_by(*ntfs)) return false;
  layout.data_size = want;
  // The stored clusters, when asked for, are shown as they are, also past
  // the initialized size; as content, that part reads as zeros.
  if (!raw) layout.initialized_size = rec.initialized_size;
  if (compressed_for_reading(rec, raw)) layout.unit_clusters = 1u << entry_compression_unit(rec);
  ulong64 delivered = 0;
  if (rec.item.header.type == 0xA0 && !raw) {
    // Index records are mended whole, so their zeros come as bytes: an
    // index that claims more than the volume holds is damage, not terabytes
    // of zeros to hand on.
    if (want > volume_bytes(*ntfs)) return false;
    index_record_fixer fixer(sink);
    const pump_status s = pump_attribute_data(
        *ntfs, layout, 0, want, [&fixer](const byte* d, uint32 n) { return fixer.take(d, n); }, delivered);
    return s == PUMP_DONE && delivered == want && fixer.flush();
  }
  return pump_attribute_data(*ntfs, layout, 0, want, sink, holes, delivered) == PUMP_DONE && delivered == want;
}

// Digest and destination of the writer's pieces: a caller's sink gets every
// byte (the pump fills the holes); a stream gets holes where it can hold them.
struct piece_target {
  sparse_output* out = nullptr;
  attribute_sink sink = nullptr;
  uint32 sink_value = 0;
  md5_context* md5 = nullptr;

  bool take(const byte* data, uint32 length) {
    if (!sink) return out->write(data, length);
    if (md5) md5_update(md5, data, length);
    sink(data, length, sink_value);
    return true;
  }
};

// The progress line of a viewer's copy: one step per sixteen clusters of
// data, whatever size the pieces are read in.
class progress_steps {
 public:
  progress_steps(ulong64 step, ulong64 total, ulong64 planned)
      : m_step(step ? step : 1), m_total(total), m_planned(planned) {}

  // `n` more bytes delivered; each step they complete is shown, or, for a
  // hole (`each` false), only the last one: the line overwrites itself, and
  // a hole of a terabyte is sixteen million steps.
  void advance(ulong64 n, bool each) {
    ulong64 next = m_done / m_step;  // the first step not yet complete
    m_done += n;
    ulong64 end = m_done / m_step;  // steps complete now
    if (m_done == m_total && m_done % m_step != 0) ++end;
    if (!each && end > next) next = end - 1;
    for (; next < end; ++next) show(next);
  }

 private:
  ulong64 m_step, m_total, m_planned;
  ulong64 m_done = 0;

  void show(ulong64 index) {
    print_status("chunk: %4d [%llx : %llx]", static_cast<int>(index + 1),
                 static_cast<unsigned long long>(index * m_step), static_cast<unsigned long long>(m_planned));
  }
};

}  // namespace

bool entry_data_damaged(const CNtfs* ntfs, const entry_record& rec, bool raw) {
  if (!ntfs || rec.runs.empty() || holds_no_bytes(rec, raw)) return false;
  attribute_layout layout;
  return !layout.set_data_runs(rec.runs) || !layout.held_by(*ntfs);
}

ulong64 entry_data_length(const CNtfs* ntfs, const entry_record& rec, bool raw) {
  if (!ntfs) return 0;
  if (!rec.runs.empty()) {
    const ulong64 wanted = raw ? entry_allocated_size(rec) : entry_used_size(rec);
    return std::min(wanted, get_data_runs_size(rec.runs, ntfs->m_cluster_size, false));
  }
  return rec.resident.size();
}

bool read_entry_range(CNtfs* ntfs, const entry_record& rec, ulong64 offset, ulong64 length, byte* out,
                      ulong64& delivered) {
  delivered = 0;
  if (!ntfs || ntfs->m_cluster_size == 0 || !out) return false;
  const ulong64 size = entry_data_length(ntfs, rec, false);
  if (offset > size || length > size - offset) return false;
  if (length == 0) return true;
  if (rec.runs.empty()) {
    std::memcpy(out, rec.resident.data() + offset, static_cast<size_t>(length));
    delivered = length;
    return true;
  }
  attribute_layout layout;
  if (!layout.set_data_runs(rec.runs)) return false;
  layout.data_size = size;
  layout.initialized_size = rec.initialized_size;
  if (compressed_for_reading(rec, false)) layout.unit_clusters = 1u << entry_compression_unit(rec);
  return pump_attribute_to_buffer(*ntfs, layout, offset, length, out, delivered) == PUMP_DONE && delivered == length;
}

bool pump_entry_record(CNtfs* ntfs, const entry_record& rec, bool raw, const pump_sink& sink) {
  return pump_entry_record(ntfs, rec, raw, sink, pump_hole_sink());
}

bool pump_entry_record(CNtfs* ntfs, const entry_record& rec, bool raw, const pump_sink& sink,
                       const pump_hole_sink& holes) {
  if (!ntfs || ntfs->m_cluster_size == 0) return false;
  if (holds_no_bytes(rec, raw)) return true;
  if (rec.runs.empty() && rec.resident.empty()) return false;
  if (rec.runs.empty()) return sink(rec.resident.data(), static_cast<uint32>(rec.resident.size()));
  const ulong64 want = entry_data_length(ntfs, rec, raw);
  if (want == 0) return false;
  return delivered_all(ntfs, rec, raw, sink, holes, want);
}

bool stream_attribute_data(CNtfs* ntfs, const entry_record& rec, std::ostream& out, std::ostream& messages,
                           attribute_sink sink, uint32 sink_value, bool raw, bool hash, std::string& md5) {
  out.clear();
  messages.clear();
  md5.clear();
  if ((rec.runs.empty() && rec.resident.empty() && !holds_no_bytes(rec, raw)) || !ntfs || !out.good() ||
      !messages.good())
    return false;
  md5_context ctx;
  if (hash) md5_init(&ctx);
  sparse_output file(out, sink ? nullptr : (hash ? &ctx : nullptr));
  piece_target target;
  target.out = &file;
  target.sink = sink;
  target.sink_value = sink_value;
  target.md5 = hash ? &ctx : nullptr;
  pump_hole_sink holes;
  if (!sink) holes = [&file](ulong64 n) { return file.zeros(n); };
  bool ok = pump_entry_record(
      ntfs, rec, raw, [&target](const byte* d, uint32 n) { return target.take(d, n); }, holes);
  if (!sink) ok = file.finish() && ok;
  if (ok && hash) {
    byte digest[16];
    md5_final(digest, &ctx);
    bytes_to_hex(md5, digest, 16);
  }
  return ok;
}

bool write_attribute_data(CNtfs* ntfs, const entry_record& rec, std::ostream& out, std::ostream& messages, bool raw,
                          bool hash, std::string& md5) {
  return stream_attribute_data(ntfs, rec, out, messages, nullptr, 0, raw, hash, md5);
}

bool copy_attribute_data(CNtfs* ntfs, const entry_record& rec, std::ostream& out, std::ostream& messages, bool raw) {
  std::string md5;
  return write_attribute_data(ntfs, rec, out, messages, raw, false, md5);
}

bool feed_attribute_data(CNtfs* ntfs, const entry_record& rec, attribute_sink sink, uint32 sink_value, bool raw) {
  std::ostringstream out;
  std::ostringstream messages;
  std::string md5;
  return stream_attribute_data(ntfs, rec, out, messages, sink, sink_value, raw, false, md5);
}

bool write_unnamed_data(CNtfs* ntfs, ulong64 entry, std::ostream& out) {
  std::vector<entry_record> records;
  if (!collect_entry_records(ntfs, entry, records)) return false;
  for (const entry_record& r : records) {
    if (r.item.header.type != 0x80 || !r.name.empty()) continue;
    std::ostringstream messages;
    return copy_attribute_data(ntfs, r, out, messages, false);
  }
  return false;
}

int write_entry_data(std::ostream& out, CNtfs* ntfs, const entry_record& rec, bool raw, bool show_progress) {
  if (!ntfs) return 0;
  const ulong64 total = entry_data_length(ntfs, rec, raw);
  progress_steps steps(16ULL * ntfs->m_cluster_size, total, raw ? entry_allocated_size(rec) : entry_used_size(rec));
  const bool counted = show_progress && entry_is_non_resident(rec);
  sparse_output file(out, nullptr);
  bool ok = pump_entry_record(
      ntfs, rec, raw,
      [&](const byte* d, uint32 n) {
        const bool written = file.write(d, n);
        if (counted) steps.advance(n, true);
        return written;
      },
      [&](ulong64 n) {
        const bool skipped = file.zeros(n);
        if (counted) steps.advance(n, false);
        return skipped;
      });
  ok = file.finish() && ok;
  if (show_progress) print_status("%s", "");
  return ok ? 1 : 0;
}

int write_entry_data_to_stdout(CNtfs* ntfs, const entry_record& rec, bool raw) {
  if (!ntfs) return 0;
  // Standard output redirected onto the image, or onto a loop device over
  // it, would overwrite the evidence with its own contents. It is a stream
  // handed over, judged as quor's own are: by what it is, not refused for a
  // share under it that cannot be told.
  uni::file_identities sources;
  ntfs->source_identities(sources);
  std::string why;
  if (uni::stream_reach(STDOUT_FILENO, sources, why) != uni::reach_answer::clear) {
    std::fprintf(stderr, "refused to write: standard output: %s\n", why.c_str());
    return 0;
  }
  std::cout.flush();
  uni::console_writer console(false);
  return pump_entry_record(ntfs, rec, raw, [&console](const byte* d, uint32 n) { return console.write(d, n); }) ? 1
                                                                                                            : 0;
}
