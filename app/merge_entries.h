#pragma once
// Files a directory's parsed index entries into its two collections and
// judges every entry carved from slack against the directory's live entries.
//
// all_entries   every entry, valid and carved, keyed by its $FILE_NAME
//               modification time (equal keys keep insertion order);
// nodup_entries one entry per no-duplicates key (lower-cased name and the
//               four times). A live entry always holds its key.
#include <string>
#include <vector>

#include "ntfs/index_node.h"
#include "utils/types.h"

// One index attribute of a directory as the parser left it.
struct indx_attribute_entries {
  uint32 type = 0xA0;  // 0xA0 $INDEX_ALLOCATION or 0x90 $INDEX_ROOT
  string_indx_map valid;
  inode_indx_mmap carved;
};

// The no-duplicates key: name, then M, A, C and B in decimal zero-filled to
// 10 digits, joined by "_", with the ASCII letters lower-cased.
std::string nodup_key(const INDX_ENTRY_INFO& e);

// The judgement of a carved entry whose live namesake (same parent and name
// but for ASCII case) is `live`: which times differ, or "dup slack entry",
// with " [size]" and " [name]" when those differ.
std::string judge_against_live(const INDX_ENTRY_INFO& carved, const INDX_ENTRY_INFO& live);
// "exists", or "exists [comment]": a carved entry whose key a live one holds.
std::string exists_comment(const std::string& comment);
// Whether carved entry `e`, refused by carved holder `held`, should stand in
// its place: the newcomer names a real entry and the holder looks less like
// an entry of `dir_entry` (0: not known).
bool takes_over(const INDX_ENTRY_INFO& e, const INDX_ENTRY_INFO& held, ulong64 dir_entry);
// Readies the 84 bytes of a carved entry for judging: a file reference that
// names no possible entry (past `mft_entry_count`, with sequence 0) is
// zeroed. Returns whether the entry's modification time is invalid.
bool ready_carved_entry(byte* entry, ulong64 mft_entry_count);
// The live entry filed under the parser's `key`, looked up in attribute
// `own` first and then in the others; null when none.
const INDX_ENTRY_INFO* find_live(const std::vector<indx_attribute_entries>& attributes, size_t own,
                                 const std::string& key);

// Merges every index attribute of one directory at once, so that a carved
// entry is judged against the live entries of all of them. Writes the
// attribute type into every entry, and the slack comment (and a zeroed
// file reference where it names no possible entry) into the carved maps.
// False when no attribute holds any entry (nothing is done).
bool merge_dir_entries(inode_indx_mmap& all_entries, string_indx_map& nodup_entries,
                       std::vector<indx_attribute_entries>& attributes, ulong64 mft_entry_count);

// The same for a single index attribute (or an extracted file of INDX
// records, which is one).
bool merge_indx_entries(inode_indx_mmap& all_entries, string_indx_map& nodup_entries,
                        string_indx_map& valid, inode_indx_mmap& carved, uint32 type,
                        ulong64 mft_entry_count);
