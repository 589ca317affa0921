// The engine's boot sector as a hex view, and as a report followed by the
// geometry the engine computed from it.
#include <cstdint>
#include <ostream>

#include "ntfs/ntfs.h"
#include "ntfs/record_header_reports.h"
#include "ntfs/zq_hex_view.h"

void CNtfs::hex_dump_boot_sector(std::ostream& os) {
  byte raw[NTFS_BOOT_SIZE];
  m_boot.store(raw);
  zq::hex_dump_limited(raw, NTFS_BOOT_SIZE, os, 0, 0);
}

// The boot-sector report leaves the stream hexadecimal; the computed values
// follow in that base.
std::ostream& CNtfs::dump_computed_values(std::ostream& os) {
  dump_ntfs_boot_sector(os, m_boot);
  os << "\n-- computed values --\n";
  os << "m_cluster_size:     0x" << m_cluster_size << "\n";
  os << "m_total_clusters    " << static_cast<int64_t>(m_total_clusters) << "\n";
  os << "m_mft_record_size   0x" << m_mft_record_size << "\n";
  os << "m_mft_cluster_per_record_fixed 0x" << m_mft_cluster_per_record_fixed << "\n";
  os << "m_mft_file_pos      " << static_cast<int64_t>(m_mft_file_pos) << "\n";
  os << "m_sectors_per_cluster 0x" << m_sectors_per_cluster << "\n";
  return os << "\n";
}
