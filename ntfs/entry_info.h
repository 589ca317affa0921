#pragma once
// What the engine knows about one MFT entry, gathered into one record
// (names with their $FILE_NAME values, $STANDARD_INFORMATION times, flags,
// named streams, link target), its one-line and tree prints, and the
// entry's paths (CNtfs::get_inode_info, CNtfs::get_path_list_w, ...).
#include <map>
#include <set>
#include <string>
#include <vector>

#include "utils/types.h"

class CNtfs;

struct file_name_info {
  byte file_name[68];  // the first 68 bytes of the $FILE_NAME value as stored
  std::wstring name;
  bool time_null = false;  // one of the four $FILE_NAME times is 0
  std::string note;        // "fn:time null" when time_null
  uint32 parent_count = 0;

  file_name_info();
};

struct inode_info {
  ulong64 inode;
  ulong64 parent;
  ulong64 record_position;
  bool is_dir;
  bool is_deleted;
  bool is_reparse_point;
  std::string reparse_target;
  bool has_ads;
  std::set<std::wstring> ads_names;
  ulong64 si_times[4];  // creation, modification, MFT change, access, as stored
  std::wstring display_name;
  int32 indent;
  std::vector<file_name_info> names;
  std::wstring first_name;

  inode_info();
  void clear();
};

typedef std::multimap<ulong64, inode_info> inode_info_mmap;

// The record-based twin of CNtfs::get_inode_info, for a record already read;
// false for a missing record or one without the "FILE" signature. The buffer
// holds the engine's record size, or with no engine the record's own size
// (record_own_size, ntfs/mft_record.h).
bool get_record_inode_info(const CNtfs* ntfs, const byte* record, ulong64 entry, inode_info& out,
                           ulong64 parent_filter);

// One line on standard output: "[%8llu] [%8llu] %s\n" with the parent, the
// entry and the flags and name.
void print_inode_info(const inode_info& info);
void print_inode_info_map(const inode_info_mmap& infos);
// The records under `key`, each followed by those under its own entry, depth
// first; a record filed under itself or a loop of parents is printed once.
void print_inode_info_tree(const inode_info_mmap& infos, ulong64 key);
