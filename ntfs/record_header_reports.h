#pragma once
// Labelled text reports of the NTFS boot sector and of an MFT FILE record's
// header with its update-sequence array, and a hex view of one sector.
#include <iosfwd>

#include "ntfs/ntfs_structs.h"
#include "utils/byte_order.h"
#include "utils/types.h"

// The BIOS parameter block, then the NTFS fields in unpadded hexadecimal.
std::ostream& dump_ntfs_boot_sector(std::ostream& os, const NTFS_BOOT& boot);

// The header fields at their record offsets, and the update-sequence array
// as far as it lies inside the record; a note marks an array cut short.
std::ostream& dump_mft_record_header(std::ostream& os, const byte_view& record);
std::ostream& dump_mft_record_header(std::ostream& os, const byte* record, uint32 size);
// Bounded by the record's own size where the record agrees with it, else
// 1 KiB (record_own_size, ntfs/mft_record.h); the buffer must hold that size.
std::ostream& dump_mft_record_header(std::ostream& os, const byte* record);

// Rows of the 512 bytes with offsets and characters.
void dump_sector_hex(const byte* sector, std::ostream& os);
// The same for at most 512 bytes of `size`.
void dump_sector_hex(const byte* sector, uint32 size, std::ostream& os);
