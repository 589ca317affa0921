// The engine's small members around its volume: the boot sector, the disk's
// flags and partition start, raw transfers, and the write-back of records and
// clusters. Nothing here writes unless the disk was opened for writing.
#include "ntfs/volume_io.h"

#include <cstring>
#include <limits>

#include "disk/disk_handle.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "utils/byte_order.h"

namespace {

bool disk_open(const disk_handle* disk) { return disk && disk->m_is_open; }

bool add_fits(ulong64 a, ulong64 b) { return a <= std::numeric_limits<ulong64>::max() - b; }

}  // namespace

ulong64 CNtfs::get_partition_start() { return disk_open(m_disk) ? m_disk->get_start_offset() : 0; }

ulong64 CNtfs::get_partition_start_sector() {
  if (!disk_open(m_disk) || m_boot.bytes_per_sector == 0) return 0;
  return m_disk->get_start_offset() / m_boot.bytes_per_sector;
}

bool CNtfs::is_disk_device() { return disk_open(m_disk) && m_disk->m_is_device; }

bool CNtfs::is_disk_writable() { return disk_open(m_disk) && m_disk->m_writable; }

bool read_disk_at(disk_handle* disk, ulong64 base, ulong64 offset, void* buf, uint32& len) {
  if (!disk || !buf || !add_fits(base, offset)) return false;
  uint32 got = len;
  if (!disk->read(buf, got, base + offset)) return false;
  len = got;
  return len > 0;
}

bool read_disk_at(disk_handle* disk, ulong64 offset, ulong64 base, byte* buf, int& size) {
  if (size < 0) return false;
  uint32 len = static_cast<uint32>(size);
  if (!read_disk_at(disk, base, offset, buf, len)) return false;
  size = static_cast<int>(len);
  return true;
}

bool write_disk_at(disk_handle* disk, ulong64 base, ulong64 offset, const void* buf, uint32& len) {
  if (!disk || !disk->m_writable || !buf || !add_fits(base, offset)) return false;
  if (!disk->write(buf, len, base + offset)) return false;
  return len > 0;
}

bool CNtfs::write_record(ulong64 pos, byte* record, uint32& len, bool protect) {
  if (!disk_open(m_disk) || !m_disk->m_writable || !record || len < 4) return false;
  if (!add_fits(pos, m_volume_offset)) return false;
  const bool multi_sector = std::memcmp(record, "FILE", 4) == 0 || std::memcmp(record, "INDX", 4) == 0 ||
                            std::memcmp(record, "RCRD", 4) == 0;
  // NTFS protects records in 512-byte strides whatever the sector size, as
  // the reader undoes it; a length that does not match the array is refused.
  if (protect && multi_sector && !protect_update_sequence(record, len)) return false;
  invalidate_read_cache();
  if (!m_disk->write(record, len, m_volume_offset + pos)) return false;
  return len > 0;
}

bool CNtfs::write_lcn(ulong64 lcn, const void* buf, int& len) {
  if (!m_Validated || !disk_open(m_disk) || m_cluster_size == 0) return false;
  if (len % static_cast<int>(m_cluster_size) != 0 || !m_disk->m_writable) return false;
  if (len <= 0 || !buf || lcn > std::numeric_limits<ulong64>::max() / m_cluster_size) return false;
  const ulong64 pos = lcn * m_cluster_size;
  if (!add_fits(pos, m_volume_offset)) return false;
  invalidate_read_cache();
  uint32 put = static_cast<uint32>(len);
  if (!m_disk->write(buf, put, pos + m_volume_offset)) return false;
  len = static_cast<int>(put);
  return put > 0;
}

bool fixup_file_record_512(uint16* record, int size) {
  if (!record || size <= 0) return false;
  byte* rec = reinterpret_cast<byte*>(record);
  if (size < 8 || std::memcmp(rec, "FILE", 4) != 0) return false;
  const uint32 array_offset = load_u16(rec, FRH_USA_OFFSET);
  const uint32 count = load_u16(rec, FRH_USA_COUNT);
  if (count < 2) return true;
  if (static_cast<ulong64>(count - 1) * 512 > static_cast<ulong64>(size)) return false;
  // The saved words must lie inside the record too.
  if (!fits(static_cast<uint64>(size), array_offset, 2ULL * count)) return false;
  for (uint32 i = 0; i + 1 < count; ++i) std::memcpy(rec + i * 512 + 510, rec + array_offset + 2 * (i + 1), 2);
  return true;
}
