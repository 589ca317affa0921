// Locating and reading MFT records through the $MFT's own data runs.
#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <ostream>

#include "disk/disk_handle.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"

namespace {

// Callers that walk the MFT in order get it in chunks of this size.
const uint32 MFT_READAHEAD = 1u << 20;

bool multiply_fits(ulong64 a, ulong64 b, ulong64& product) {
  if (a != 0 && b > std::numeric_limits<ulong64>::max() / a) return false;
  product = a * b;
  return true;
}

// A new buffer of `capacity` bytes filled from the volume at `pos`; on a
// failed or empty read nothing is kept.
bool read_into_new_buffer(const CNtfs& ntfs, ulong64 pos, uint32 capacity, byte*& buf, int& size) {
  buf = new (std::nothrow) byte[capacity];
  if (!buf) return false;
  uint32 got = capacity;
  if (!ntfs.read_volume(pos, buf, got) || got == 0) {
    delete[] buf;
    buf = nullptr;
    return false;
  }
  size = static_cast<int>(got);
  return true;
}

}  // namespace

bool CNtfs::read_volume(ulong64 pos, void* buf, uint32& len) const {
  if (!m_disk || !m_disk->m_is_open || !buf || len == 0) return false;
  if (pos > std::numeric_limits<ulong64>::max() - m_volume_offset) return false;
  return m_disk->read(buf, len, pos + m_volume_offset);
}

void CNtfs::build_mft_run_index() {
  m_mft_run_vcns.clear();
  ulong64 vcn = 0;
  for (const run_record& run : m_mft_stats.data_runs) {
    m_mft_run_vcns.push_back(vcn);
    vcn += run.num_clusters;
  }
}

bool CNtfs::map_mft_offset(ulong64 mft_offset, ulong64& pos, ulong64& contiguous) const {
  const std::vector<run_record>& runs = m_mft_stats.data_runs;
  if (runs.empty() || m_cluster_size == 0 || m_mft_run_vcns.size() != runs.size() || runs[0].resident) return false;
  const ulong64 vcn = mft_offset / m_cluster_size;
  const ulong64 within = mft_offset % m_cluster_size;
  // The run whose first VCN is the last one at or below `vcn`.
  auto it = std::upper_bound(m_mft_run_vcns.begin(), m_mft_run_vcns.end(), vcn);
  if (it == m_mft_run_vcns.begin()) return false;
  const size_t i = static_cast<size_t>(it - m_mft_run_vcns.begin()) - 1;
  const run_record& run = runs[i];
  const ulong64 first = m_mft_run_vcns[i];
  if (vcn - first >= run.num_clusters || run.is_sparse_lcn()) return false;
  ulong64 byte_pos = 0;
  if (!multiply_fits(run.lcn + (vcn - first), m_cluster_size, byte_pos)) return false;
  pos = byte_pos + within;
  contiguous = (first + run.num_clusters - vcn) * m_cluster_size - within;
  return true;
}

bool CNtfs::read_volume_cached(ulong64 pos, byte* buf, uint32& len, ulong64 readahead) const {
  if (m_mft_cache_len && pos >= m_mft_cache_pos && pos - m_mft_cache_pos <= m_mft_cache_len &&
      len <= m_mft_cache_len - (pos - m_mft_cache_pos)) {
    std::memcpy(buf, m_mft_cache.data() + (pos - m_mft_cache_pos), len);
    return true;
  }
  if (readahead > len) {
    const uint32 chunk = static_cast<uint32>(std::min<ulong64>(readahead, MFT_READAHEAD));
    if (m_mft_cache.size() < MFT_READAHEAD) m_mft_cache.resize(MFT_READAHEAD);
    uint32 got = chunk;
    m_mft_cache_len = 0;
    if (read_volume(pos, m_mft_cache.data(), got) && got >= len) {
      m_mft_cache_pos = pos;
      m_mft_cache_len = got;
      std::memcpy(buf, m_mft_cache.data(), len);
      return true;
    }
  }
  // The end of the image may cut the read short; what is there is delivered.
  uint32 got = len;
  if (!read_volume(pos, buf, got) || got == 0) return false;
  len = std::min(got, len);
  return true;
}

bool CNtfs::read_mft_bytes(ulong64 inode, byte* buf, uint32 length, ulong64& pos, uint32& got) const {
  pos = 0;
  got = 0;
  if (inode == 0 && !m_Validated) {
    pos = m_mft_file_pos;
    got = length;
    if (read_volume(pos, buf, got) && got > 0) return true;
    got = 0;
    return false;
  }
  ulong64 mft_offset = 0;
  if (!multiply_fits(inode, m_mft_record_alloc_size, mft_offset)) return false;
  const bool sequential = inode == m_last_inode_read + 1;
  uint32 done = 0;
  while (done < length) {
    ulong64 piece_pos = 0;
    ulong64 contiguous = 0;
    // A record may straddle two runs when clusters are smaller than records.
    if (!map_mft_offset(mft_offset + done, piece_pos, contiguous)) return false;
    if (done == 0) pos = piece_pos;
    const uint32 piece = static_cast<uint32>(std::min<ulong64>(contiguous, length - done));
    uint32 piece_got = piece;
    // A piece the image does not hold ends the record where the image ends.
    if (!read_volume_cached(piece_pos, buf + done, piece_got, sequential ? contiguous : 0)) break;
    done += piece_got;
    if (piece_got < piece) break;
  }
  if (done == 0) return false;
  got = done;
  m_last_inode_read = inode;
  return true;
}

bool CNtfs::read_mft_record(ulong64 inode, byte*& buf, ulong64& pos, int& size, bool alloc) const {
  m_last_fixup = RECORD_FIXUP_NONE;
  if (alloc) buf = nullptr;
  if (inode > 0 && !m_Validated) return false;
  const uint32 length = (inode == 0 && !m_Validated) ? m_mft_record_size : m_mft_record_alloc_size;
  if (length < FRH_SIZE || length > std::numeric_limits<int>::max()) return false;
  if (alloc) {
    buf = new (std::nothrow) byte[length];
    if (!buf) return false;
  } else if (!buf || size < 0 || static_cast<uint32>(size) < length) {
    return false;
  }
  bool ok = false;
  ulong64 where = 0;
  uint32 got = 0;
  if (m_disk && m_disk->m_is_open) {
    ok = read_mft_bytes(inode, buf, length, where, got);
  } else if (m_mft_file) {
    ulong64 file_pos = 0;
    got = length;
    ok = multiply_fits(inode, m_mft_record_size, file_pos) && read_mft_file(file_pos, buf, got) && got > 0;
    where = file_pos;
  }
  // A record the end of the image cuts short is the bytes that are there;
  // the rest of the buffer is zeroed so that no walk meets stale bytes.
  if (ok && got < length) std::memset(buf + got, 0, length - got);
  if (ok) ok = std::memcmp(buf, "FILE", 4) == 0 || std::memcmp(buf, "INDX", 4) == 0;
  if (!ok) {
    if (alloc) {
      delete[] buf;
      buf = nullptr;
    }
    return false;
  }
  // Each sector read whole is fixed up, so that a name crossing one reads
  // right in a record the image cuts short.
  m_last_fixup = apply_update_sequence(buf, length, got);
  pos = where;
  size = static_cast<int>(got);
  return true;
}

// A record caught mid-write is told by last_record_torn(), not by the flag.
bool CNtfs::read_mft_record_to_vector(std::vector<byte>& out, bool& flag, ulong64 inode) const {
  flag = false;
  byte* buf = nullptr;
  ulong64 pos = 0;
  int size = 0;
  if (!read_mft_record(inode, buf, pos, size, true)) return false;
  out.assign(buf, buf + size);
  delete[] buf;
  return true;
}

ulong64 CNtfs::get_inode_file_pos(ulong64 inode) const {
  if (!m_Validated) return 0;
  if (inode == 0) return m_mft_file_pos;
  ulong64 mft_offset = 0;
  ulong64 pos = 0;
  ulong64 contiguous = 0;
  if (!multiply_fits(inode, m_mft_record_alloc_size, mft_offset)) return 0;
  return map_mft_offset(mft_offset, pos, contiguous) ? pos : 0;
}

bool CNtfs::get_inode_lcn(ulong64 inode, ulong64& lcn, uint32& offset) const {
  lcn = 0;
  offset = 0;
  if (!m_Validated || m_cluster_size == 0) return false;
  ulong64 pos = 0;
  if (inode == 0) {
    pos = m_mft_file_pos;
  } else {
    pos = get_inode_file_pos(inode);
    if (pos == 0) return false;
  }
  lcn = pos / m_cluster_size;
  offset = static_cast<uint32>(pos % m_cluster_size);
  return true;
}

uint32 CNtfs::get_data_cluster_count(const INODE_STATS& stats) const {
  if (stats.data_runs.empty()) return 0;
  if (stats.data_runs[0].resident) return 1;
  uint32 count = 0;
  for (const run_record& run : stats.data_runs) count += run.num_clusters;
  return count;
}

long64 CNtfs::get_lcn_for_inode(ulong64 inode, std::ostream& out) {
  ulong64 lcn = 0;
  uint32 within = 0;
  if (!m_Validated || !get_inode_lcn(inode, lcn, within)) {
    out << "prob calling get_lcn_for_inode" << "\n";
    return -1;
  }
  const ulong64 b = m_boot.bytes_per_sector ? m_boot.bytes_per_sector : 1;
  const ulong64 k = b * m_sectors_per_cluster;
  const ulong64 p = lcn * k + within;
  const ulong64 s = (m_disk && m_disk->m_is_open) ? m_disk->get_start_offset() : 0;
  const std::ios_base::fmtflags flags = out.flags();
  out << std::hex << "inode: 0x" << inode << " (" << std::dec << inode << "),  " << std::hex << "LCN: 0x" << lcn
      << " (" << std::dec << lcn << "),  " << std::hex << "byte offset w/i lcn: 0x" << within << " (" << std::dec
      << within << ")" << "\n";
  out << std::hex;
  out << "start of partition:         0x" << s << " bytes [0x" << s / b << " sectors]" << "\n";
  out << "inode offset w/i partition: 0x" << p << " bytes [0x" << p / b << " sectors]" << "\n";
  out << "inode offset w/i drive:     0x" << p + s << " bytes [0x" << (p + s) / b << " sectors]" << "\n";
  out << "To compute LCN to byte offset w/i partition, use:  LCN * 0x" << k << "\n";
  out << "To compute LCN to byte offset w/i drive, use:     (LCN * 0x" << k << ") + 0x" << s << "\n";
  out.flags(flags);
  return static_cast<long64>(lcn);
}

bool CNtfs::get_base_reference(ulong64 inode, ulong64& base) {
  base = 0;
  byte* buf = nullptr;
  ulong64 pos = 0;
  int size = 0;
  if (!read_mft_record(inode, buf, pos, size, true)) return false;
  base = load_u64(buf, FRH_BASE_RECORD);
  delete[] buf;
  return true;
}

bool CNtfs::read_record_cluster(ulong64 inode, byte*& buf, int& size, ulong64& lcn, ulong64& pos) {
  buf = nullptr;
  uint32 within = 0;
  if (!m_Validated || !get_disk_handle() || !get_inode_lcn(inode, lcn, within)) return false;
  pos = lcn * m_cluster_size + within;
  return read_into_new_buffer(*this, pos, m_cluster_size, buf, size);
}

bool CNtfs::read_clusters(ulong64 lcn, byte*& buf, int& size, ulong64& pos) {
  buf = nullptr;
  if (!m_Validated || !get_disk_handle() || size < 0) return false;
  if (!multiply_fits(lcn, m_cluster_size, pos)) return false;
  if (static_cast<uint32>(size) < m_cluster_size) size = static_cast<int>(m_cluster_size);
  return read_into_new_buffer(*this, pos, static_cast<uint32>(size), buf, size);
}

bool CNtfs::read_lcn(ulong64 lcn, void* buf, int& size) {
  if (!m_Validated || !get_disk_handle() || !buf || size <= 0) return false;
  if (static_cast<uint32>(size) % m_cluster_size != 0) return false;
  ulong64 pos = 0;
  if (!multiply_fits(lcn, m_cluster_size, pos)) return false;
  uint32 got = static_cast<uint32>(size);
  if (!read_volume(pos, buf, got) || got == 0) return false;
  size = static_cast<int>(got);
  return true;
}

bool CNtfs::read_lcn(ulong64 lcn, byte* buf, uint32& size) {
  if (size > static_cast<uint32>(std::numeric_limits<int>::max())) return false;
  int n = static_cast<int>(size);
  if (!read_lcn(lcn, static_cast<void*>(buf), n)) return false;
  size = static_cast<uint32>(n);
  return true;
}

disk_handle* CNtfs::get_disk_handle() const { return (m_disk && m_disk->m_is_open) ? m_disk : nullptr; }

bool read_open_disk_at(disk_handle* disk, ulong64 base, ulong64 offset, void* buf, int& size) {
  if (!disk || !disk->m_is_open || size <= 0 || offset > std::numeric_limits<ulong64>::max() - base) return false;
  uint32 len = static_cast<uint32>(size);
  if (!disk->read(buf, len, base + offset)) return false;
  size = static_cast<int>(len);
  return len > 0;
}

bool read_physical_drive_at(byte drive_number, ulong64 base, ulong64 offset, void* buf, int& size) {
  disk_handle disk(static_cast<uint32>(drive_number), false, false, DISK_KIND_PHYSICAL_DRIVE);
  return read_open_disk_at(&disk, base, offset, buf, size);
}
