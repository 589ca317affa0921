#pragma once
// One directory's entries merged and held once each, compactly: a folder of
// 200,000 files carves as many entries again, and three full copies of every
// entry (the parser's, all entries, no duplicates) do not fit in memory.
//
// Live entries stay in the parser's per-attribute maps; carved entries are
// taken out of the parser's maps as each piece of the index is parsed and
// kept here with their names in one block. The merge then files rows (live
// or carved) in the order of all_entries and keeps the no-duplicates
// holders in a hash table, with the same judgements as merge_dir_entries.
#include <string>
#include <unordered_map>
#include <vector>

#include "app/merge_entries.h"
#include "ntfs/index_node.h"
#include "utils/types.h"

class dir_listing {
 public:
  // The index attributes in the directory record's order; carved maps are
  // emptied by take_carved.
  std::vector<indx_attribute_entries> attributes;

  void clear();
  // A new attribute of `type` (0x90 or 0xA0); returns its index.
  size_t add_attribute(uint32 type);
  // Moves the carved entries of attribute `index` out of its map, in the
  // map's order.
  void take_carved(size_t index);
  size_t carved_count() const { return carved_.size(); }
  // Forgets what the parser found in attribute `index`: its live entries and
  // the carved ones taken from the `first_carved` on (an index that could
  // not be read whole gives none).
  void drop_attribute(size_t index, size_t first_carved);

  // The merge: false (nothing filed) when no attribute holds an entry.
  bool merge(ulong64 mft_entry_count);

  // Rows in all_entries order (by modification time, filing order within).
  size_t row_count() const { return rows_.size(); }
  const INDX_ENTRY_INFO& row(size_t i, INDX_ENTRY_INFO& scratch) const { return entry_of(rows_[i], scratch); }
  // The no-duplicates holders in key order.
  void nodup_rows(std::vector<uint32>& out) const;
  const INDX_ENTRY_INFO& entry_of(uint32 row, INDX_ENTRY_INFO& scratch) const;

 private:
  struct carved_entry {
    byte entry[84];
    uint64 file_offset;
    uint32 name_start;
    uint32 name_length;
    uint32 attribute;  // index in `attributes`
    uint32 comment;    // index in comments_
    uint16 entry_length;
    uint8 is_dir;
    uint8 mtime_invalid;
  };

  static constexpr uint32 k_carved_row = 0x80000000u;
  static constexpr uint32 k_empty = 0xFFFFFFFFu;

  std::vector<carved_entry> carved_;
  std::string names_;
  std::vector<std::string> comments_;
  std::unordered_map<std::string, uint32> comment_ids_;
  std::vector<INDX_ENTRY_INFO*> live_;
  std::vector<uint32> rows_;
  std::vector<uint32> nodup_;  // open-addressed table of rows
  mutable INDX_ENTRY_INFO scratch_a_, scratch_b_;

  uint32 comment_id(const std::string& text);
  void fill_carved(const carved_entry& c, INDX_ENTRY_INFO& out) const;
  const byte* raw_of(uint32 row) const;
  void name_of(uint32 row, const char*& text, size_t& length) const;
  ulong64 modified_of(uint32 row) const;
  size_t hash_of(uint32 row) const;
  bool same_key(uint32 a, uint32 b) const;
  // The slot of the table that holds the row with this row's key, or the
  // empty slot where it belongs.
  size_t nodup_slot(uint32 row) const;
  void file_live(uint32 row);
  void file_carved(uint32 row, const std::string& comment, ulong64 dir_entry);
};
