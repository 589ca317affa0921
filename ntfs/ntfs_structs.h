#pragma once
// NTFS on-disk layouts as the engine reads them: the boot sector, the FILE
// record header and the offsets of attribute headers. Structures are decoded
// field by field from bounded byte buffers, never overlaid on evidence bytes.
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

// The 512-byte NTFS boot sector, field by field as stored.
struct NTFS_BOOT {
  byte boot_loader_routine[3];
  byte keyword[8];
  uint16 bytes_per_sector;
  uint8 sectors_per_cluster;
  uint16 reserved_sectors;
  uint8 num_copies_of_fat;
  uint16 max_root_dir_entries;
  uint16 num_sectors_in_partition_smaller_than_32M;
  uint8 media_descriptor;
  uint16 sectors_per_fat;
  uint16 sectors_per_track;
  uint16 number_of_heads;
  uint32 hidden_sectors_in_partition;
  uint32 num_sectors_in_partition;
  uint16 drive_num;
  byte unk3[2];
  uint64 total_sectors;
  uint64 mft_start_lcn;
  uint64 mftmirr_start_lcn;
  int8_t num_clusters_for_mft;
  byte unk4[3];
  int8_t clusters_per_index_allocated;
  byte unk5[3];
  uint64 volume_serial_number;
  uint32 checksum;
  byte boot_code[426];
  uint16 end_marker;

  NTFS_BOOT() { clear(); }
  void clear();
  // Decodes the 512 stored bytes; `raw` must hold NTFS_BOOT_SIZE bytes.
  void load(const byte* raw);
  // Writes the 512 stored bytes back out (reports and hex views).
  void store(byte* raw) const;
  bool has_ntfs_keyword() const;
};

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
