// Writing an MFT record back to its place, protected by its update sequence.
#include <cstring>
#include <vector>

#include "disk/disk_handle.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"

bool CNtfs::write_mft_record(ulong64 inode, byte* buf, int& size) {
  if (!buf || size < 0 || static_cast<uint32>(size) < m_mft_record_alloc_size || !m_Validated) return false;
  if (!m_disk || !m_disk->m_is_open || !m_disk->m_writable) return false;
  const uint32 length = inode == 0 ? m_mft_record_size : m_mft_record_alloc_size;
  ulong64 pos = 0;
  ulong64 contiguous = 0;
  if (inode == 0) {
    pos = m_mft_file_pos;
    contiguous = length;
  } else {
    ulong64 mft_offset = inode * static_cast<ulong64>(m_mft_record_alloc_size);
    if (inode != 0 && mft_offset / inode != m_mft_record_alloc_size) return false;
    if (!map_mft_offset(mft_offset, pos, contiguous)) return false;
  }
  // A record that straddles two runs is not written: one write must not land
  // half of it in the wrong place.
  if (contiguous < length) return false;
  if ((std::memcmp(buf, "FILE", 4) == 0) && !protect_update_sequence(buf, length)) return false;
  invalidate_read_cache();
  uint32 len = length;
  if (!m_disk->write(buf, len, pos + m_volume_offset) || len != length) return false;
  size = static_cast<int>(len);
  return true;
}

bool CNtfs::rewrite_mft_record(ulong64 inode) {
  if (!m_disk || !m_disk->m_is_open || !m_disk->m_writable) return false;
  if (inode == 0) m_mft_record_alloc_size = m_mft_record_size;
  byte* buf = nullptr;
  ulong64 pos = 0;
  int size = 0;
  if (!read_mft_record(inode, buf, pos, size, true)) return false;
  const bool ok = write_mft_record(inode, buf, size);
  delete[] buf;
  return ok;
}
