#pragma once
// One file of a VMware virtual disk in the hosted sparse extent layout (magic
// "KDMV"): header, embedded descriptor, grain directory, grain tables and the
// grains. The whole directory and every grain table are kept in memory, so a
// lookup costs two divisions and no I/O.
#include <iosfwd>
#include <string>
#include <vector>

#include "utils/types.h"

// Why the last load refused a file; the chain check words its messages from it.
enum vmdk_load_error {
  VMDK_LOAD_OK = 0,
  VMDK_LOAD_NOT_OPEN,     // no file, or the file could not be opened or read
  VMDK_LOAD_NOT_SPARSE,   // no "KDMV" magic, or a file shorter than its header
  VMDK_LOAD_COMPRESSED,   // compressed grains or markers (stream-optimized)
  VMDK_LOAD_DESCRIPTOR,   // the embedded descriptor starts past the file or is too large
  VMDK_LOAD_GEOMETRY,     // grain size, table length or capacity out of range
  VMDK_LOAD_METADATA,     // overhead, grain directory or grain tables out of range
  VMDK_LOAD_MBR,          // the virtual disk's first sector could not be read
};

// What a file holds for one grain of the virtual disk.
enum vmdk_grain_state {
  VMDK_GRAIN_ABSENT = 0,  // not in this file: ask the parent
  VMDK_GRAIN_STORED = 1,  // stored at a position in this file
  VMDK_GRAIN_ZEROED = 2,  // recorded as all zeros (grain-table entry 1)
};

class vmdk_extent {
 public:
  // The sparse header: its size, its magic ("KDMV") and the flag bits of
  // compressed grains and stream markers, which this reader refuses.
  static constexpr uint32 header_size = 512;
  static constexpr uint32 magic = 0x564D444B;
  static constexpr uint32 flag_compressed = 1u << 16;
  static constexpr uint32 flag_markers = 1u << 17;

  byte m_header[header_size + 1];
  std::vector<std::wstring> m_descriptor_lines;
  std::string m_parent_cid;
  std::string m_cid;
  std::string m_parent_hint;
  vmdk_extent* m_child;
  vmdk_extent* m_parent;
  std::vector<uint32> m_grain_directory;
  ulong64 m_first_table_offset;
  std::vector<std::vector<uint32>> m_grain_tables;
  ulong64 m_mbr_offset;
  std::vector<byte> m_mbr_sector;
  std::vector<ulong64> m_volume_offsets;
  ulong64 m_file_size;
  ulong64 m_table_span;
  ulong64 m_grain_bytes;
  bool m_valid;
  int m_fd;
  bool m_writable;
  std::string m_path;
  std::wstring m_wpath;
  vmdk_load_error m_load_error;

  vmdk_extent();
  ~vmdk_extent();
  vmdk_extent(const vmdk_extent&) = delete;
  vmdk_extent& operator=(const vmdk_extent&) = delete;

  bool open(const char* path, bool writable);
  bool open_w(const wchar_t* path, bool writable);
  bool load(int fd);

  bool lookup(ulong64 offset, ulong64& position) const;
  // The finer answer behind lookup: a zeroed grain is held (the parent must
  // not be asked) but has no position.
  vmdk_grain_state locate(ulong64 offset, ulong64& position) const;
  bool lookup_in_volume(uint32 volume, ulong64 offset, ulong64& position) const;

  bool read_at(int fd, byte* buf, ulong64 offset, uint32& len) const;
  bool write_at(int fd, const byte* buf, ulong64 offset, uint32& len) const;

  ulong64 capacity_bytes() const;
  uint32 grain_remainder(ulong64 offset) const;
  uint32 grain_remainder(uint32 volume, ulong64 offset) const;

  // Header fields as stored.
  uint32 header_u32(uint32 off) const;
  ulong64 header_u64(uint32 off) const;
  uint32 flags() const { return header_u32(8); }
  ulong64 capacity_sectors() const { return header_u64(12); }
  ulong64 grain_sectors() const { return header_u64(20); }
  ulong64 descriptor_offset() const { return header_u64(28); }
  ulong64 descriptor_sectors() const { return header_u64(36); }
  uint32 entries_per_table() const { return header_u32(44); }
  ulong64 directory_offset() const { return header_u64(56); }
  ulong64 overhead_sectors() const { return header_u64(64); }

  // Text reports for an examiner (vmdk_dump.cpp).
  std::ostream& dump_header(std::ostream& os) const;
  bool dump_grain_directory(std::ostream& os) const;
  bool dump_grain_table(uint32 table, std::ostream& os) const;
  bool dump_descriptor(std::ostream& os) const;
  bool dump(std::ostream& os) const;

 private:
  bool fail(vmdk_load_error why);
  bool load_descriptor(int fd);
  bool load_tables(int fd);
  bool load_mbr(int fd);
};
