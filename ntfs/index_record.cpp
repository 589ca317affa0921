#include "ntfs/index_record.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

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
  // A damaged count or array must not cost the record its entries: the
  // sectors that can be restored are, and the rest is parsed as read.
  const uint32 array_offset = load_u16(record, 4);
  const uint32 count = load_u16(record, 6);
  if (count < 2 || array_offset + 2ULL * count > record_size) return true;
  const uint32 sectors = std::min<uint32>(count - 1, record_size / UPDATE_SEQUENCE_STRIDE);
  for (uint32 i = 1; i <= sectors; ++i)
    store_u16(record + i * UPDATE_SEQUENCE_STRIDE - 2, load_u16(record, array_offset + 2 * i));
  return true;
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
  if (!m_Validated || !m_disk || m_cluster_size == 0 || vcn >= clusters.size()) return false;
  // Callers pass the list's last VCN as the end: clusters before it are read
  // where the list maps them, the rest of a record continues contiguously
  // from its first cluster, as the one first read of a record brings it.
  const uint64 end = std::min<uint64>(next_vcn, clusters.size());
  const uint32 cs = m_cluster_size;
  const lcn_run_entry& first = clusters[static_cast<size_t>(vcn)];
  if (first.m_bSparse) return false;
  // Cluster i of the record (from 0) into `to`.
  auto read_cluster = [&](uint64 i, byte* to) {
    const bool mapped = i == 0 || vcn + i < end;
    const lcn_run_entry& c = clusters[static_cast<size_t>(mapped ? vcn + i : vcn)];
    const uint64 lcn = mapped ? c.lcn : first.lcn + i;
    uint32 piece = cs;
    return !c.m_bSparse && lcn < m_total_clusters && read_volume(lcn * cs, to, piece) && piece == cs;
  };

  // A record is at least one cluster and at least the usual 4 KiB; with
  // clusters larger than a record the buffer holds every record of the
  // cluster, each fixed up in its own slot.
  uint32 length = std::max(cs, INDX_DEFAULT_RECORD_SIZE);
  // The caller's buffer from the start: every byte of it is read below.
  std::unique_ptr<byte[]> buf(new (std::nothrow) byte[length]);
  if (!buf || !read_cluster(0, buf.get())) return false;
  // The record is as long as its node's allocated size says, past the header.
  uint32 record_size = INDX_DEFAULT_RECORD_SIZE;
  const ulong64 written = static_cast<ulong64>(load_u32(buf.get(), INDX_NODE_OFFSET + 8)) + INDX_NODE_OFFSET;
  const bool is_indx = std::memcmp(buf.get(), "INDX", 4) == 0;
  if (is_indx && written > length) {
    if (written > INDX_MAX_RECORD_SIZE) return false;
    length = static_cast<uint32>((written + cs - 1) / cs * cs);
    record_size = length;
    std::unique_ptr<byte[]> longer(new (std::nothrow) byte[length]);
    if (!longer) return false;
    std::memcpy(longer.get(), buf.get(), cs);
    buf = std::move(longer);
  }
  // A record shorter than the buffer ends at its own last cluster: the next
  // record begins there, not past the buffer.
  uint64 used = length / cs;
  if (is_indx && written < length) used = std::max<uint64>(1, (written + cs - 1) / cs);
  for (uint64 i = 1; i < length / cs; ++i)
    if (!read_cluster(i, buf.get() + i * cs)) return false;

  bool any = false;
  for (uint32 off = 0; off < length; off += record_size) {
    if (fix_indx_record(buf.get() + off, record_size))
      any = true;
    else
      std::memset(buf.get() + off, 0, record_size);
  }
  if (!any) return false;
  buffer = buf.release();
  size = static_cast<int>(length);
  next_vcn = vcn + std::max<uint64>(1, std::min<uint64>(used, end > vcn ? end - vcn : 0));
  return true;
}
