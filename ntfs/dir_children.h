#pragma once
// What a directory's $I30 index lists, and which names an MFT record carries.
//   read_directory_index   a directory's $INDEX_ROOT node, its index record
//                          size, its $INDEX_ALLOCATION runs and its $BITMAP,
//                          also where an $ATTRIBUTE_LIST puts them elsewhere
//   CNtfs::find_children, CNtfs::find_children_w_carve (defined here); the
//   latter reports root entries at their offset from the root node's header
//   and allocation entries at their offset in the allocation, each plus the
//   caller's file offset
//   collect_file_names and its callers: a record's $FILE_NAME names
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ntfs/data_runs.h"
#include "ntfs/index_node.h"
#include "ntfs/ntfs.h"
#include "ntfs/tree_node.h"
#include "utils/types.h"

// A directory's index as its MFT record(s) describe it.
struct directory_index {
  bool has_root = false;
  std::vector<byte> root_node;   // the $INDEX_ROOT node, header first, to the attribute's end
  uint32 record_size = 0;        // bytes per index record named by the root
  std::vector<data_run> runs;    // $INDEX_ALLOCATION runs of every piece, VCN order
  ulong64 allocation_size = 0;   // allocated size of the $INDEX_ALLOCATION
  bool has_bitmap = false;
  std::vector<byte> bitmap;      // the $I30 $BITMAP: one bit per index record
  void clear();
};

// Reads the directory's record and, through its $ATTRIBUTE_LIST, the
// extension records that belong to it, and gathers the $I30 attributes.
// False when the record cannot be read or holds no $INDEX_ROOT.
bool read_directory_index(const CNtfs& ntfs, ulong64 dir_entry, directory_index& out);

// Whether index record `index` is in use by the bitmap; every record is
// when the directory has no bitmap.
bool index_record_in_use(const directory_index& index, uint64 record_index);

// The plain walk of an index node: adds each live entry's MFT entry number.
// False only for a null node.
bool find_children_in_node(const byte* node, int length, ulong64_set& children);
// An $INDEX_ROOT value (indexed type 0x30 and a record size, else false):
// its node starts 16 bytes in and `length` is the node's own, to the end of
// the attribute, as for parse_index_root_w_carve (negative: false).
bool find_children_in_root(const byte* root_value, int length, ulong64_set& children);
// One fixed-up INDX record of `length` bytes: its node starts 24 bytes in.
bool find_children_in_indx(const byte* record, int length, ulong64_set& children);

// One $FILE_NAME of a record. The value and the attribute are copies, so a
// name gathered from an extension record outlives that record's buffer.
struct file_name_record {
  std::wstring name;             // surrogate pairs joined
  ulong64 parent = 0;            // parent reference as stored
  uint8 dos_only = 0;            // name space 2
  uint8 name_space = 0;
  std::vector<byte> value;       // the $FILE_NAME value
  std::vector<byte> attribute;   // the whole attribute, header first
  uint32 attribute_offset = 0;   // where the attribute lies in its record
  ulong64 record_entry = ~0ULL;  // the record it came from, when known
  uint32 parent_count = 1;
};
// Keyed by parent (low 48 bits) and (attribute instance x 16 + name space) in
// the high 16 bits.
typedef std::map<ulong64, file_name_record> file_name_map;

bool collect_file_names(file_name_map& names, const byte* record, uint32 size, bool all_name_spaces,
                        ulong64 parent_filter, bool clear);
// The forms without a size walk the record within its own size
// (record_own_size, ntfs/mft_record.h), which the buffer must hold.
bool collect_file_names(file_name_map& names, const byte* record, bool all_name_spaces, ulong64 parent_filter,
                        bool clear);
bool collect_record_file_names(file_name_map& names, const byte* record, uint32 size);
bool collect_record_file_names(file_name_map& names, const byte* record);
bool collect_listed_file_names(file_name_map& names, const CNtfs& ntfs, ulong64 base_entry, const byte* list,
                               int list_length, bool all_name_spaces, ulong64 parent_filter);
bool collect_all_file_names(file_name_map& names, const CNtfs* ntfs, ulong64 base_entry, const byte* record,
                            bool all_name_spaces, ulong64 parent_filter);
bool record_has_file_name_w(file_name_map& names, const byte* record, int size, const std::wstring& name);
bool record_has_file_name(file_name_map& names, const byte* record, int size, const std::string& name);
bool record_has_file_name(std::map<ulong64, std::wstring>& names, const byte* record, int size,
                          const std::string& name);
// The record's named streams and its first parent; the form without a size,
// as above, needs a buffer that holds the record's own size.
bool get_record_ads_names(const byte* record, std::set<std::wstring>& names, ulong64& parent);
bool get_record_ads_names(const byte* record, uint32 size, std::set<std::wstring>& names, ulong64& parent);

// A listing entry as the ordering below sees it.
struct listing_name {
  ulong64 entry = 0;
  bool is_dir = false;
  std::wstring name;
};
// True when `a` sorts after `b`: names compared lower-cased; an empty name
// first, then names beginning with '$' by entry number, then directories,
// then files, each by name.
bool compare_entry_names(const listing_name& a, const listing_name& b);

// Widens an on-disk UTF-16LE name of `units` code units, pairs joined.
void utf16le_name_to_wstring(std::wstring& out, const byte* name, uint32 units);
