#pragma once
// Partition tables: MBR with its chain of extended boot records, and GPT
// (whose partitions are probed for an NTFS boot sector), read into an ordered
// list of partition_record; the type names and predicates; per-drive
// statistics; and text dumps of an MBR, an entry, a BIOS parameter block and
// a drive.
#include <deque>
#include <iosfwd>
#include <string>
#include <vector>

#include "utils/types.h"

class disk_handle;

struct partition_record {
  ulong64 m_start = 0;        // first sector, in units of m_sector_size
  ulong64 m_num_sectors = 0;  // sector count
  uint16 m_type = 0;          // MBR type byte; bit 15 marks a guessed partition
  uint32 m_sector_size = 0;   // bytes per sector of the table it came from
  std::vector<byte> m_first_sector;
  uint32 m_serial = 0;
  bool m_is_gpt = false;
  byte m_gpt_guids[32] = {};  // type GUID, then unique GUID, as stored
  std::string m_name;         // GPT partition name, UTF-8
};

// Bit 15 of partition_record::m_type: the record was guessed, not read.
const uint16 partition_guessed_flag = 0x8000;

struct drive_stats {
  std::string m_drive_type = "<unk>";
  uint16 m_drive_number = 0xFFFF;
  ulong64 m_size = 0;
  uint32 m_media_type = 0;
  uint32 m_bytes_per_sector = 0;
  std::deque<partition_record> m_partitions;
  std::vector<byte> m_mbr;
  uint32 m_disk_signature = 0;
  bool m_mbr_present = false;
};
typedef std::vector<drive_stats> drive_stats_array;

// Scans return true when `out` (cleared first) holds at least one record. A
// scan of a disk that runs out of memory throws std::bad_alloc: a table half
// read is no disk without one.
bool scan_partitions(disk_handle* disk, std::deque<partition_record>& out, bool relaxed);
bool scan_gpt_partitions(disk_handle* disk, std::deque<partition_record>& out);
// The same scan over the first `size` bytes of a disk already in memory.
bool scan_partitions(const byte* data, ulong64 size, std::deque<partition_record>& out, bool relaxed);

// Predicates on a 16-byte MBR entry's type byte.
bool is_fat12_partition(const byte* entry);
bool is_fat16_partition(const byte* entry);
bool is_fat32_partition(const byte* entry);
bool is_linux_partition(const byte* entry);

std::string partition_type_name(uint16 type);
std::string partition_entry_type_name(const byte* entry);

bool scan_drives(drive_stats_array& drives, bool relaxed);
bool scan_cdrom_drives(drive_stats_array& drives);

std::ostream& dump_mbr(std::ostream& os, const byte* sector);
std::ostream& dump_partition_entry(std::ostream& os, const byte* entry);
std::ostream& dump_boot_sector(std::ostream& os, const byte* bpb);
std::ostream& dump_drive_stats(const drive_stats& drive, std::ostream& os);

void hex_zero_fill(std::ostream& os);
void hex_zero_fill();
