#include "ntfs/attribute_pump.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <ostream>

#include "disk/disk_handle.h"
#include "ntfs/lznt1.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "utils/byte_order.h"

namespace {

// Largest single disk transfer, and so the largest piece a sink receives.
const uint32 PUMP_PIECE = 1u << 20;
// A compression unit is 16 clusters on every volume NTFS makes; anything
// past this is damage, not a unit worth an allocation.
const ulong64 MAX_UNIT_BYTES = 1u << 24;

// The pump runs while the engine validates itself too (the $MFT's own
// attribute list), so it asks only for a volume and a cluster size.
bool engine_ready(const CNtfs& ntfs) {
  return ntfs.m_disk && ntfs.m_disk->m_is_open && ntfs.m_cluster_size != 0;
}

// Sparse under either decoder's marker: the run's own header byte says it
// best (no offset field); without it, an all-ones LCN or a zero offset.
bool record_is_sparse(const run_record& r) {
  if (!r.run_bytes.empty()) return (r.run_bytes[0] >> 4) == 0;
  return r.is_sparse_lcn() || r.lcn_offset == 0;
}

// The run holding `vcn`, starting the search at `hint` (reads go forward, so
// the hint or the one after it is nearly always the answer).
bool locate_vcn(const std::vector<data_run>& runs, ulong64 vcn, size_t& index) {
  for (size_t i = index; i < runs.size() && i < index + 2; ++i) {
    if (vcn >= runs[i].vcn && vcn - runs[i].vcn < runs[i].num_clusters) {
      index = i;
      return true;
    }
  }
  auto after = std::upper_bound(runs.begin(), runs.end(), vcn,
                                [](ulong64 v, const data_run& r) { return v < r.vcn; });
  if (after == runs.begin()) return false;
  const size_t i = static_cast<size_t>(after - runs.begin()) - 1;
  if (vcn - runs[i].vcn >= runs[i].num_clusters) return false;
  index = i;
  return true;
}

// Where cluster `vcn` of run `r` lies on the volume, in bytes; false when
// the run reaches outside the volume (or the product would wrap).
bool cluster_position(const CNtfs& ntfs, const data_run& r, ulong64 vcn, ulong64& pos) {
  const ulong64 cs = ntfs.m_cluster_size;
  const ulong64 total = ntfs.m_total_clusters;
  if (total != 0 && (r.lcn >= total || r.num_clusters > total - r.lcn)) return false;
  const ulong64 lcn = r.lcn + (vcn - r.vcn);
  if (lcn < r.lcn || lcn > std::numeric_limits<ulong64>::max() / cs) return false;
  pos = lcn * cs;
  return true;
}

// Reads `length` bytes at volume position `pos`; `got` is what arrived.
bool read_exact(const CNtfs& ntfs, ulong64 pos, byte* buf, uint32 length, uint32& got) {
  got = length;
  if (!ntfs.read_volume(pos, buf, got)) got = 0;
  return got == length;
}

struct pump_state {
  const CNtfs& ntfs;
  const attribute_layout& layout;
  const pump_sink& sink;
  const pump_hole_sink& holes;
  ulong64& delivered;

  // Hands on `n` bytes of `data` that stand at attribute offset `at`; what
  // lies at or past the initialized size becomes zeros, or a hole.
  bool hand_on(byte* data, uint32 n, ulong64 at) {
    const ulong64 init = layout.initialized_size;
    uint32 kept = n;
    if (at + n > init) {
      kept = init > at ? static_cast<uint32>(init - at) : 0;
      if (holes) {
        if (kept > 0 && !sink(data, kept)) return false;
        delivered += kept;
        return skip(n - kept);
      }
      std::memset(data + kept, 0, static_cast<size_t>(n - kept));
    }
    if (!sink(data, n)) return false;
    delivered += n;
    return true;
  }

  bool skip(ulong64 n) {
    if (n == 0) return true;
    if (!holes(n)) return false;
    delivered += n;
    return true;
  }
};

pump_status pump_plain(pump_state& st, ulong64 pos, ulong64 end) {
  const ulong64 cs = st.ntfs.m_cluster_size;
  std::vector<byte> piece(static_cast<size_t>(std::min<ulong64>(PUMP_PIECE, end - pos)));
  size_t run = 0;
  while (pos < end) {
    const ulong64 vcn = pos / cs;
    const ulong64 within = pos % cs;
    if (!locate_vcn(st.layout.runs, vcn, run)) return PUMP_END_OF_RUNS;
    const data_run& r = st.layout.runs[run];
    const ulong64 run_left = (r.vcn + r.num_clusters - vcn) * cs - within;
    const bool zeros = r.sparse || pos >= st.layout.initialized_size;
    if (zeros && st.holes) {
      // A hole of any length is one notice: nothing is read or filled.
      const ulong64 n = std::min(run_left, end - pos);
      if (!st.skip(n)) return PUMP_SINK_STOPPED;
      pos += n;
      continue;
    }
    uint32 n = static_cast<uint32>(std::min<ulong64>(std::min<ulong64>(run_left, end - pos), piece.size()));
    if (zeros) {
      std::memset(piece.data(), 0, n);
    } else {
      ulong64 disk = 0;
      if (!cluster_position(st.ntfs, r, vcn, disk)) return PUMP_READ_FAILED;
      uint32 got = 0;
      if (!read_exact(st.ntfs, disk + within, piece.data(), n, got)) {
        // What did arrive is correct and in place: hand it on, then stop.
        if (got > 0 && !st.hand_on(piece.data(), got, pos)) return PUMP_SINK_STOPPED;
        return PUMP_READ_FAILED;
      }
    }
    if (!st.hand_on(piece.data(), n, pos)) return PUMP_SINK_STOPPED;
    pos += n;
  }
  return PUMP_DONE;
}

// Fills `packed` with the on-disk clusters of one compression unit, in VCN
// order, and counts them; reads runs of adjacent clusters in one transfer.
pump_status gather_unit(pump_state& st, ulong64 first_vcn, uint32 unit_clusters, byte* packed, uint32& on_disk,
                        bool& holes_before_data) {
  const ulong64 cs = st.ntfs.m_cluster_size;
  const std::vector<data_run>& runs = st.layout.runs;
  on_disk = 0;
  holes_before_data = false;
  bool hole_seen = false;
  size_t run = 0;
  uint32 c = 0;
  while (c < unit_clusters) {
    const ulong64 vcn = first_vcn + c;
    if (!locate_vcn(runs, vcn, run)) {
      // The unit's first cluster unmapped ends the data; later ones are the
      // unit's tail, which the runs need not describe.
      if (c == 0) return PUMP_END_OF_RUNS;
      hole_seen = true;
      ++c;
      continue;
    }
    const data_run& r = runs[run];
    const uint32 span = static_cast<uint32>(std::min<ulong64>(r.vcn + r.num_clusters - vcn, unit_clusters - c));
    if (r.sparse) {
      hole_seen = true;
    } else {
      if (hole_seen) holes_before_data = true;
      ulong64 disk = 0;
      if (!cluster_position(st.ntfs, r, vcn, disk)) return PUMP_READ_FAILED;
      uint32 got = 0;
      if (!read_exact(st.ntfs, disk, packed + on_disk * cs, static_cast<uint32>(span * cs), got))
        return PUMP_READ_FAILED;
      on_disk += span;
    }
    c += span;
  }
  return PUMP_DONE;
}

pump_status pump_compressed(pump_state& st, ulong64 pos, ulong64 end) {
  const ulong64 cs = st.ntfs.m_cluster_size;
  const uint32 unit_clusters = st.layout.unit_clusters;
  const ulong64 unit_bytes = cs * unit_clusters;
  if (unit_bytes == 0 || unit_bytes > MAX_UNIT_BYTES) return PUMP_BAD_UNIT;
  std::vector<byte> packed(static_cast<size_t>(unit_bytes));
  std::vector<byte> plain(static_cast<size_t>(unit_bytes));
  while (pos < end) {
    const ulong64 unit = pos / unit_bytes;
    const ulong64 unit_start = unit * unit_bytes;
    uint32 on_disk = 0;
    bool holes_before_data = false;
    size_t run = 0;
    // Past the initialized size the unit is zeros whatever its clusters
    // hold, as plain data is: they are neither read nor decoded.
    const pump_status s =
        pos < st.layout.initialized_size
            ? gather_unit(st, unit * unit_clusters, unit_clusters, packed.data(), on_disk, holes_before_data)
            : (locate_vcn(st.layout.runs, unit * unit_clusters, run) ? PUMP_DONE : PUMP_END_OF_RUNS);
    if (s != PUMP_DONE) return s;
    const ulong64 from = pos - unit_start;
    const uint32 n = static_cast<uint32>(std::min<ulong64>(unit_bytes - from, end - pos));
    if (on_disk == 0 && st.holes) {
      if (!st.skip(n)) return PUMP_SINK_STOPPED;
      pos += n;
      continue;
    }
    byte* data = nullptr;
    if (on_disk == unit_clusters) {
      data = packed.data();  // stored as is: the unit did not shrink
    } else if (on_disk == 0) {
      std::fill(plain.begin(), plain.end(), 0);
      data = plain.data();
    } else {
      // Compressed chunks fill the unit's leading clusters; data behind a
      // hole is no unit NTFS writes.
      if (holes_before_data ||
          !lznt1_decompress_unit(packed.data(), static_cast<uint32>(on_disk * cs), plain.data(),
                                 static_cast<uint32>(unit_bytes)))
        return PUMP_BAD_UNIT;
      data = plain.data();
    }
    if (!st.hand_on(data + from, n, pos)) return PUMP_SINK_STOPPED;
    pos += n;
  }
  return PUMP_DONE;
}

}  // namespace

bool attribute_layout::set_run_records(const std::vector<run_record>& records) {
  runs.clear();
  ulong64 vcn = 0;
  for (const run_record& r : records) {
    if (r.resident) return false;
    if (r.num_clusters == 0) continue;
    runs.push_back(data_run(record_is_sparse(r) ? 0 : r.lcn, vcn, r.num_clusters, record_is_sparse(r)));
    vcn += r.num_clusters;
  }
  return true;
}

bool attribute_layout::set_data_runs(const std::vector<data_run>& in) {
  runs.clear();
  for (const data_run& r : in)
    if (r.num_clusters != 0) runs.push_back(r);
  std::stable_sort(runs.begin(), runs.end(), [](const data_run& a, const data_run& b) { return a.vcn < b.vcn; });
  for (size_t i = 1; i < runs.size(); ++i) {
    const data_run& p = runs[i - 1];
    if (p.vcn + p.num_clusters < p.vcn || runs[i].vcn < p.vcn + p.num_clusters) {
      runs.clear();
      return false;
    }
  }
  return true;
}

bool attribute_layout::set_cluster_list(const lcn_run_list& list) {
  std::vector<data_run> merged;
  for (const lcn_run_entry& e : list) {
    if (!merged.empty()) {
      data_run& last = merged.back();
      const bool follows = e.vcn == last.vcn + last.num_clusters && (last.sparse != 0) == e.m_bSparse &&
                           (e.m_bSparse || e.lcn == last.lcn + last.num_clusters) && last.num_clusters < 0xFFFFFFFFu;
      if (follows) {
        ++last.num_clusters;
        continue;
      }
    }
    merged.push_back(data_run(e.m_bSparse ? 0 : e.lcn, e.vcn, 1, e.m_bSparse));
  }
  return set_data_runs(merged);
}

bool attribute_layout::set_attribute(const byte* attr, uint32 length) {
  runs.clear();
  if (!attr || length < AH_NON_RESIDENT_SIZE || attr[AH_NON_RESIDENT] == 0) return false;
  std::vector<run_record> records;
  if (!decode_attribute_runs(attr, length, records)) return false;
  // The piece may start past VCN 0 (an attribute continued in another record).
  ulong64 vcn = load_u64(attr, AH_FIRST_VCN);
  runs.clear();
  for (const run_record& r : records) {
    if (r.num_clusters == 0) continue;
    const bool sparse = record_is_sparse(r);
    runs.push_back(data_run(sparse ? 0 : r.lcn, vcn, r.num_clusters, sparse));
    vcn += r.num_clusters;
  }
  data_size = load_u64(attr, AH_DATA_SIZE);
  initialized_size = std::min(load_u64(attr, AH_INITIALIZED_SIZE), data_size);
  const uint8 unit = attr[AH_COMPRESSION_UNIT];
  unit_clusters = (load_u16(attr, AH_FLAGS) & 1) && unit != 0 && unit < 16 ? 1u << unit : 0;
  return true;
}

ulong64 attribute_layout::mapped_bytes(uint32 cluster_size) const {
  if (runs.empty()) return 0;
  const data_run& last = runs.back();
  const ulong64 clusters = last.vcn + last.num_clusters;
  // A damaged list can map more than 64 bits of bytes: it saturates, so
  // that no buffer is taken to hold it.
  if (cluster_size != 0 && clusters > ~0ULL / cluster_size) return ~0ULL;
  return clusters * cluster_size;
}

bool attribute_layout::held_by(const CNtfs& ntfs) const {
  const ulong64 held = ntfs.held_clusters();
  for (const data_run& r : runs)
    if (!r.sparse && (r.lcn >= held || r.num_clusters > held - r.lcn)) return false;
  return true;
}

pump_status pump_attribute_data(const CNtfs& ntfs, const attribute_layout& layout, ulong64 offset, ulong64 length,
                                const pump_sink& sink, ulong64& delivered) {
  return pump_attribute_data(ntfs, layout, offset, length, sink, pump_hole_sink(), delivered);
}

pump_status pump_attribute_data(const CNtfs& ntfs, const attribute_layout& layout, ulong64 offset, ulong64 length,
                                const pump_sink& sink, const pump_hole_sink& holes, ulong64& delivered) {
  delivered = 0;
  if (!engine_ready(ntfs) || !sink) return PUMP_REFUSED;
  if (length == 0 || offset >= layout.data_size) return PUMP_DONE;
  // Without a known size the data goes on until a VCN is not mapped.
  const ulong64 end = std::min(length > PUMP_UNBOUNDED - offset ? PUMP_UNBOUNDED : offset + length, layout.data_size);
  pump_state st{ntfs, layout, sink, holes, delivered};
  return layout.unit_clusters ? pump_compressed(st, offset, end) : pump_plain(st, offset, end);
}

pump_status pump_attribute_to_buffer(const CNtfs& ntfs, const attribute_layout& layout, ulong64 offset,
                                     ulong64 length, byte* out, ulong64& delivered) {
  delivered = 0;
  if (!out && length != 0) return PUMP_REFUSED;
  byte* at = out;
  return pump_attribute_data(ntfs, layout, offset, length,
                             [&at](const byte* data, uint32 n) {
                               std::memcpy(at, data, n);
                               at += n;
                               return true;
                             },
                             delivered);
}

pump_status pump_attribute_to_stream(const CNtfs& ntfs, const attribute_layout& layout, ulong64 offset,
                                     ulong64 length, std::ostream& out, ulong64& delivered) {
  return pump_attribute_data(ntfs, layout, offset, length,
                             [&out](const byte* data, uint32 n) {
                               out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(n));
                               return static_cast<bool>(out);
                             },
                             delivered);
}

pump_status pump_write_in_place(const CNtfs& ntfs, const attribute_layout& layout, ulong64 offset, const byte* data,
                                ulong64 length, ulong64& written) {
  written = 0;
  if (!engine_ready(ntfs) || !ntfs.m_disk->m_writable || !data || length == 0) return PUMP_REFUSED;
  // Compressed clusters cannot take plain bytes; the unit would no longer decode.
  if (layout.unit_clusters != 0) return PUMP_REFUSED;
  if (length > PUMP_UNBOUNDED - offset || offset + length > layout.data_size) return PUMP_REFUSED;
  const ulong64 cs = ntfs.m_cluster_size;
  const ulong64 end = offset + length;
  // Every cluster is checked before the first byte is written: a hole, the
  // end of the runs or cluster 0 (the boot sector) refuses the whole write.
  size_t run = 0;
  for (ulong64 vcn = offset / cs; vcn <= (end - 1) / cs;) {
    ulong64 disk = 0;
    if (!locate_vcn(layout.runs, vcn, run)) return PUMP_REFUSED;
    const data_run& r = layout.runs[run];
    if (r.sparse || r.lcn == 0 || !cluster_position(ntfs, r, vcn, disk)) return PUMP_REFUSED;
    vcn = r.vcn + r.num_clusters;
  }
  std::vector<byte> cluster(static_cast<size_t>(cs));
  run = 0;
  for (ulong64 pos = offset; pos < end;) {
    const ulong64 vcn = pos / cs;
    const ulong64 within = pos % cs;
    ulong64 disk = 0;
    locate_vcn(layout.runs, vcn, run);
    const data_run& r = layout.runs[run];
    cluster_position(ntfs, r, vcn, disk);
    const byte* from = data + (pos - offset);
    uint32 n = 0;
    if (within != 0 || end - pos < cs) {
      // A part of one cluster: read it, patch it, write it whole.
      n = static_cast<uint32>(std::min<ulong64>(cs - within, end - pos));
      uint32 got = 0;
      if (!read_exact(ntfs, disk, cluster.data(), static_cast<uint32>(cs), got)) return PUMP_WRITE_FAILED;
      std::memcpy(cluster.data() + within, from, n);
      from = cluster.data();
    } else {
      const ulong64 whole = (std::min<ulong64>(end - pos, (r.vcn + r.num_clusters - vcn) * cs) / cs) * cs;
      n = static_cast<uint32>(std::min<ulong64>(whole, PUMP_PIECE));
    }
    const uint32 put_len = within != 0 || end - pos < cs ? static_cast<uint32>(cs) : n;
    uint32 put = put_len;
    if (disk > std::numeric_limits<ulong64>::max() - ntfs.m_volume_offset ||
        !ntfs.m_disk->write(from, put, disk + ntfs.m_volume_offset) || put != put_len) {
      ntfs.invalidate_read_cache();
      return PUMP_WRITE_FAILED;
    }
    written += n;
    pos += n;
  }
  ntfs.invalidate_read_cache();
  return PUMP_DONE;
}
