#include "ntfs/record_header_reports.h"

#include <ostream>

#include "disk/zq_disk_structs.h"
#include "ntfs/mft_record.h"
#include "ntfs/report_lines.h"
#include "ntfs/zq_hex_view.h"

namespace {

const uint32 k_sector = 512;

// Sign-extended to 16 bits, as the volume's size fields are meant: -10 is
// fff6.
uint32 as_u16(int8_t v) { return static_cast<uint16>(static_cast<int16_t>(v)); }

void bytes_line(std::ostream& os, const char* label, const byte* b, int n) {
  os << label;
  for (int i = 0; i < n; ++i) os << static_cast<uint32>(b[i]) << " ";
  os << "\n";
}

}  // namespace

std::ostream& dump_ntfs_boot_sector(std::ostream& os, const NTFS_BOOT& boot) {
  byte raw[NTFS_BOOT_SIZE];
  boot.store(raw);
  dump_boot_sector(os, raw);
  os << "\n" << std::hex;
  os << "drive_num:              0x" << boot.drive_num << "\n";
  bytes_line(os, "unk3:                   0x", boot.unk3, 2);
  os << "total_sectors:          " << boot.total_sectors << "\n";
  os << "mft_start_lcn:          " << boot.mft_start_lcn << "\n";
  os << "mftmirr_start_lcn:      " << boot.mftmirr_start_lcn << "\n";
  os << "num_clusters_for_mft:   0x" << as_u16(boot.num_clusters_for_mft) << "\n";
  bytes_line(os, "unk4:                   0x", boot.unk4, 3);
  os << "clusters_per_index_allocated:0x" << as_u16(boot.clusters_per_index_allocated) << "\n";
  bytes_line(os, "unk5:                   0x", boot.unk5, 3);
  os << "volume_serial_number:   " << boot.volume_serial_number << " [low: "
     << static_cast<uint32>(boot.volume_serial_number) << ", high: " << static_cast<uint32>(boot.volume_serial_number >> 32)
     << "]\n";
  os << "checksum:               0x" << boot.checksum << "\n";
  return os;
}

std::ostream& dump_mft_record_header(std::ostream& os, const byte_view& record) {
  const report_lines r(os, record, 0, 2);
  if (!record.has(FRH_SIGNATURE, 4)) return os;
  r.label(FRH_SIGNATURE, "keyword:             ");
  os.write(reinterpret_cast<const char*>(record.data), 4);
  os << "\n";
  if (!r.line(FRH_USA_OFFSET, "offset update seq:   0x", 2, 4) || !r.line(FRH_USA_COUNT, "size update seq:     0x", 2, 4))
    return os;
  const uint64 array = load_u16(record.data, FRH_USA_OFFSET);
  const uint32 count = load_u16(record.data, FRH_USA_COUNT);
  for (uint32 i = 0; i < count; ++i) {
    uint16 v = 0;
    if (!record.u16(array + 2ULL * i, v)) {
      os << "\tupdate seq array passes the end of the record\n";
      break;
    }
    if (i == 0)
      os << "\tupdate seq num: 0x";
    else
      os << "\t" << i << " = 0x";
    r.hex(v, 4);
    os << "\n";
  }
  if (!r.line(FRH_LSN, "log seq number:      0x", 8, 8) || !r.line(FRH_SEQUENCE, "seq num:             0x", 2, 4) ||
      !r.line(FRH_LINK_COUNT, "ref count:           0x", 2, 4) ||
      !r.line(FRH_FIRST_ATTRIBUTE, "offset 1st attrib:   0x", 2, 4) ||
      !r.field(FRH_FLAGS, "flags:               0x", 2, 4))
    return os;
  const uint16 flags = load_u16(record.data, FRH_FLAGS);
  os << ((flags & 0x1) ? " ( in use )" : " ( deleted )");
  if (flags & 0x2) os << " ( dir )";
  if (flags & 0x4) os << " ( sys file )";
  if (flags & 0x8) os << " ( view index present )";
  os << "\n";
  if (r.line(FRH_BYTES_IN_USE, "offset 1st freebyte: 0x", 4, 8) &&
      r.line(FRH_BYTES_ALLOCATED, "size allocated:      0x", 4, 8) &&
      r.line(FRH_BASE_RECORD, "base file record:    0x", 8, 16))
    r.line(FRH_NEXT_ATTRIBUTE_ID, "next attrib id:      0x", 2, 4);
  return os;
}

std::ostream& dump_mft_record_header(std::ostream& os, const byte* record, uint32 size) {
  return dump_mft_record_header(os, byte_view(record, record ? size : 0));
}

std::ostream& dump_mft_record_header(std::ostream& os, const byte* record) {
  return dump_mft_record_header(os, record, record_own_size(record));
}

void dump_sector_hex(const byte* sector, std::ostream& os) { dump_sector_hex(sector, sector ? k_sector : 0, os); }

void dump_sector_hex(const byte* sector, uint32 size, std::ostream& os) {
  zq::binary_data view(sector, size < k_sector ? size : k_sector, true);
  view.set_mode(6);
  os << view << "\n";
}
