#pragma once
// NTFS on-disk layouts as the engine reads them: the boot sector, the FILE
// record header and the offsets of attribute headers. Structures are decoded
// field by field from bounded byte buffers, never overlaid on evidence bytes.
#include <cstring>

#include "utils/types.h"

// Attribute type codes.
const uint32 ATTR_STANDARD_INFORMATION = 0x10;
const uint32 ATTR_ATTRIBUTE_LIST = 0x20;
const uint32 ATTR_FILE_NAME = 0x30;
const uint32 ATTR_OBJECT_ID = 0x40;
const uint32 ATTR_SECURITY_DESCRIPTOR = 0x50;
const uint32 ATTR_VOLUME_NAME = 0x60;
const uint32 ATTR_VOLUME_INFORMATION = 0x70;
const uint32 ATTR_DATA = 0x80;
const uint32 ATTR_INDEX_ROOT = 0x90;
const uint32 ATTR_INDEX_ALLOCATION = 0xA0;
const uint32 ATTR_BITMAP = 0xB0;
const uint32 ATTR_REPARSE_POINT = 0xC0;
const uint32 ATTR_EA_INFORMATION = 0xD0;
const uint32 ATTR_EA = 0xE0;
const uint32 ATTR_LOGGED_UTILITY_STREAM = 0x100;
const uint32 ATTR_END = 0xFFFFFFFF;

// FILE record header offsets.
const uint32 FRH_SIGNATURE = 0;
const uint32 FRH_USA_OFFSET = 4;
const uint32 FRH_USA_COUNT = 6;
const uint32 FRH_LSN = 8;
const uint32 FRH_SEQUENCE = 16;
const uint32 FRH_LINK_COUNT = 18;
const uint32 FRH_FIRST_ATTRIBUTE = 20;
const uint32 FRH_FLAGS = 22;
const uint32 FRH_BYTES_IN_USE = 24;
const uint32 FRH_BYTES_ALLOCATED = 28;
const uint32 FRH_BASE_RECORD = 32;
const uint32 FRH_NEXT_ATTRIBUTE_ID = 40;
const uint32 FRH_SIZE = 42;
// The largest FILE record a volume may declare: an attribute never spans more.
const uint32 MAX_MFT_RECORD_SIZE = 65536;
// Record buffers handed to the forms without a size are taken as 1024 bytes:
// no FILE record is smaller, so no walk bounded by it leaves its buffer.
const uint32 DEFAULT_RECORD_WALK_SIZE = 1024;

// FILE record flags.
const uint16 FILE_RECORD_IN_USE = 0x0001;
const uint16 FILE_RECORD_DIRECTORY = 0x0002;

// Attribute header offsets (common, resident, non-resident).
const uint32 AH_TYPE = 0;
const uint32 AH_LENGTH = 4;
const uint32 AH_NON_RESIDENT = 8;
const uint32 AH_NAME_LENGTH = 9;
const uint32 AH_NAME_OFFSET = 10;
const uint32 AH_FLAGS = 12;
const uint32 AH_INSTANCE = 14;
const uint32 AH_VALUE_LENGTH = 16;
const uint32 AH_VALUE_OFFSET = 20;
const uint32 AH_RESIDENT_SIZE = 24;
const uint32 AH_FIRST_VCN = 16;
const uint32 AH_LAST_VCN = 24;
const uint32 AH_MAPPING_PAIRS = 32;
const uint32 AH_COMPRESSION_UNIT = 34;
const uint32 AH_ALLOCATED_SIZE = 40;
const uint32 AH_DATA_SIZE = 48;
const uint32 AH_INITIALIZED_SIZE = 56;
const uint32 AH_COMPRESSED_SIZE = 64;
const uint32 AH_NON_RESIDENT_SIZE = 64;

// $ATTRIBUTE_LIST entry offsets.
const uint32 ALE_TYPE = 0;
const uint32 ALE_LENGTH = 4;
const uint32 ALE_NAME_LENGTH = 6;
const uint32 ALE_NAME_OFFSET = 7;
const uint32 ALE_FIRST_VCN = 8;
const uint32 ALE_REFERENCE = 16;
const uint32 ALE_INSTANCE = 24;
const uint32 ALE_MIN_SIZE = 26;

// $FILE_NAME value offsets.
const uint32 FN_PARENT = 0;
const uint32 FN_REAL_SIZE = 48;
const uint32 FN_FLAGS = 56;
const uint32 FN_NAME_LENGTH = 64;
const uint32 FN_NAMESPACE = 65;
const uint32 FN_NAME = 66;
const uint32 FN_FIXED_SIZE = 68;

// The low 48 bits of a file reference are the MFT entry number.
inline ulong64 mft_reference_entry(ulong64 reference) { return reference & 0x0000FFFFFFFFFFFFULL; }

const uint32 NTFS_BOOT_SIZE = 512;

// A 16-bit field that the boot sector stores at an odd offset: two bytes
// that read and assign as a uint16. Holding it as bytes keeps the sector's
// layout without packing the record, so every field, this one included, can
// be read through a reference as well as by value.
struct unaligned_u16 {
  byte bytes[2];
  operator uint16() const {
    uint16 v;
    std::memcpy(&v, bytes, sizeof v);
    return v;
  }
  unaligned_u16& operator=(uint16 v) {
    std::memcpy(bytes, &v, sizeof v);
    return *this;
  }
};

// The 512-byte NTFS boot sector laid out as stored: every field sits at its
// on-disk offset (the wider ones there on their natural alignment, on 32-bit
// builds as on 64-bit ones), so a sector copied in whole gives the same
// fields as load() on a little-endian host. Fields hold host-order values:
// the engine fills the record through load(), whatever the host's order.
struct NTFS_BOOT {
  byte boot_loader_routine[3];                              // 0
  byte keyword[8];                                          // 3
  unaligned_u16 bytes_per_sector;                           // 11
  uint8 sectors_per_cluster;                                // 13
  uint16 reserved_sectors;                                  // 14
  uint8 num_copies_of_fat;                                  // 16
  unaligned_u16 max_root_dir_entries;                       // 17
  unaligned_u16 num_sectors_in_partition_smaller_than_32M;  // 19
  uint8 media_descriptor;                                   // 21
  uint16 sectors_per_fat;                                   // 22
  uint16 sectors_per_track;                                 // 24
  uint16 number_of_heads;                                   // 26
  uint32 hidden_sectors_in_partition;                       // 28
  uint32 num_sectors_in_partition;                          // 32
  uint16 drive_num;                                         // 36
  byte unk3[2];                                             // 38
  uint64 total_sectors;                                     // 40
  uint64 mft_start_lcn;                                     // 48
  uint64 mftmirr_start_lcn;                                 // 56
  int8_t num_clusters_for_mft;                              // 64
  byte unk4[3];                                             // 65
  int8_t clusters_per_index_allocated;                      // 68
  byte unk5[3];                                             // 69
  uint64 volume_serial_number;                              // 72
  uint32 checksum;                                          // 80
  byte boot_code[426];                                      // 84
  uint16 end_marker;                                        // 510

  NTFS_BOOT() { clear(); }
  void clear();
  // Decodes the 512 stored bytes; `raw` must hold NTFS_BOOT_SIZE bytes.
  void load(const byte* raw);
  // Writes the 512 stored bytes back out (reports and hex views).
  void store(byte* raw) const;
  bool has_ntfs_keyword() const;
};

static_assert(sizeof(NTFS_BOOT) == NTFS_BOOT_SIZE, "NTFS_BOOT is the stored sector, byte for byte");

// The first 42 bytes of a FILE record, field by field.
struct FILE_RECORD_HEADER {
  byte signature[4];
  uint16 update_sequence_offset;
  uint16 update_sequence_count;
  uint64 log_sequence_number;
  uint16 sequence_number;
  uint16 hard_link_count;
  uint16 first_attribute_offset;
  uint16 flags;
  uint32 bytes_in_use;
  uint32 bytes_allocated;
  uint64 base_record_reference;
  uint16 next_attribute_id;

  FILE_RECORD_HEADER() { clear(); }
  void clear();
  // Decodes from a record of `size` bytes; false (header cleared) when the
  // record is shorter than the header.
  bool load(const byte* record, uint64 size);
};
