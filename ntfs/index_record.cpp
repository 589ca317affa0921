#include "ntfs/index_record.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "ntfs/attribute_pump.h"
#include "ntfs/mft_record.h"
#include "utils/byte_order.h"

namespace {

// One directory's index is held in memory whole; beyond this the run list
// is taken for damage rather than a directory (100,000 long names take about
// 60 MiB).
const uint64 k_max_allocation_bytes = 1ULL << 30;

}  // namespace

bool is_valid_index_record_size(uint32 record_size) {
  return record_size >= 512 && record_size <= 65536 && (record_size & (record_size - 1)) == 0;
}

bool fix_indx_record(byte* record, uint32 record_size) {
  if (!record || record_size < 512 || std::memcmp(record, "INDX", 4) != 0) return false;
  return apply_update_sequence(record, record_size) != RECORD_FIXUP_INVALID;
}

bool CNtfs::read_index_allocation(std::vector<byte>& out, const std::vector<data_run>& runs) {
  return read_index_allocation(out, runs, INDX_DEFAULT_RECORD_SIZE, 0);
}

bool CNtfs::read_index_allocation(std::vector<byte>& out, const std::vector<data_run>& runs,
                                  uint32 record_size, ulong64 attribute_size) const {
  ulong64 total = 0;
  return read_index_allocation_piece(out, runs, record_size, attribute_size, 0, ~0ULL, total);
}

bool CNtfs::read_index_allocation_piece(std::vector<byte>& out, const std::vector<data_run>& runs,
                                        uint32 record_size, ulong64 attribute_size, ulong64 first,
                                        ulong64 most, ulong64& total) const {
  out.clear();
  total = 0;
  if (runs.empty() || !is_valid_index_record_size(record_size)) return false;
  if (!m_Validated || !m_disk || m_cluster_size == 0) return false;
  const uint64 cs = m_cluster_size;

  // The allocation is one stream in VCN order: every run lands at its own VCN,
  // so a record that spans runs is assembled from the right clusters.
  std::vector<data_run> ordered(runs);
  std::stable_sort(ordered.begin(), ordered.end(),
                   [](const data_run& a, const data_run& b) { return a.vcn < b.vcn; });
  uint64 end_vcn = 0;
  for (const data_run& r : ordered) {
    if (r.vcn < end_vcn) return false;  // overlapping runs: damaged list
    if (r.vcn > m_total_clusters || r.num_clusters > m_total_clusters - r.vcn) return false;
    end_vcn = r.vcn + r.num_clusters;
  }
  uint64 stream = end_vcn * cs;  // end_vcn <= volume clusters, so no wrap
  if (attribute_size) stream = std::min<uint64>(stream, attribute_size);
  stream -= stream % record_size;
  if (stream == 0 || stream > k_max_allocation_bytes) return false;
  // Every run is checked before any is read, so that a damaged list fails
  // the same way whichever piece is asked for.
  for (const data_run& r : ordered) {
    if (r.sparse || r.num_clusters == 0) continue;
    if (r.vcn * cs >= stream) break;
    if (r.lcn > m_total_clusters || r.num_clusters > m_total_clusters - r.lcn) return false;
  }
  total = stream;
  if (first % record_size != 0 || first >= stream) return false;
  uint64 window = std::min<uint64>(most, stream - first);
  window -= window % record_size;
  if (window == 0) return false;

  out.assign(static_cast<size_t>(window), 0);
  const uint64 last = first + window;
  // Run by run, so a VCN no run maps stays zero and the records after it keep
  // their offsets.
  for (const data_run& r : ordered) {
    if (r.sparse || r.num_clusters == 0) continue;
    const uint64 start = r.vcn * cs;
    if (start >= last) break;
    const uint64 end = std::min<uint64>(start + static_cast<uint64>(r.num_clusters) * cs, last);
    if (end <= first) continue;
    const uint64 from = std::max<uint64>(start, first);
    attribute_layout layout;
    layout.runs.assign(1, r);
    uint64 got = 0;
    if (!pump_ok(pump_attribute_to_buffer(*this, layout, from, end - from, out.data() + (from - first), got))) {
      out.clear();
      return false;
    }
  }

  // Each record is fixed on its own; one that is not an index record keeps
  // its slot, zeroed, so every record after it keeps its true offset.
  for (uint64 off = 0; off < window; off += record_size) {
    byte* record = out.data() + off;
    if (!fix_indx_record(record, record_size)) std::memset(record, 0, record_size);
  }
  return true;
}

bool CNtfs::read_and_fix_indexrecord(lcn_run_list& clusters, ulong64 vcn, ulong64& next_vcn, byte*& buffer,
                                     int& size) const {
  buffer = nullptr;
  if (next_vcn < vcn || next_vcn - vcn > 0xFFFFFFFFULL) return false;
  if (!m_Validated || !m_disk || m_cluster_size == 0) return false;
  const uint64 end = std::min<uint64>(next_vcn, clusters.size());
  if (vcn >= end) return false;
  const uint32 cs = m_cluster_size;
  // A record is at least one cluster and at least the usual 4 KiB; with
  // clusters larger than a record the buffer holds every record of the
  // cluster, each fixed up in its own slot.
  const uint32 record_size = INDX_DEFAULT_RECORD_SIZE;
  const uint32 length = std::max(cs, record_size);
  const uint64 count = (length + cs - 1) / cs;
  if (end - vcn < count) return false;
  byte* buf = new (std::nothrow) byte[length];
  if (!buf) return false;
  for (uint64 i = 0; i < count; ++i) {
    const lcn_run_entry& c = clusters[static_cast<size_t>(vcn + i)];
    uint32 piece = cs;
    if (c.m_bSparse || c.lcn >= m_total_clusters ||
        !read_volume(c.lcn * cs, buf + i * cs, piece) || piece != cs) {
      delete[] buf;
      return false;
    }
  }
  bool any = false;
  for (uint32 off = 0; off < length; off += record_size) {
    if (fix_indx_record(buf + off, record_size))
      any = true;
    else
      std::memset(buf + off, 0, record_size);
  }
  if (!any) {
    delete[] buf;
    return false;
  }
  buffer = buf;
  size = static_cast<int>(length);
  next_vcn = vcn + count;
  return true;
}
