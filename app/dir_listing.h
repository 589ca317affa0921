#pragma once
// One directory's entries merged and held once each, compactly: a folder of
// 200,000 files carves as many entries again, and the parser's maps and the
// three full copies the map merge keeps (parsed, all entries, no
// duplicates) do not fit in memory.
//
// The parser fills its maps a piece of the index at a time; take_parsed
// moves each piece's entries into a compact store (names in blocks) and
// files the live ones exactly as the parser's one map for the whole index
// would have: the first entry of a key holds it, and a name that differs only
// in letter case goes under the key followed by '\x01' and the name. The
// merge then files rows in all_entries order and keeps the no-duplicates
// holders in a hash table, with the judgements of merge_dir_entries.
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/merge_entries.h"
#include "app/record_reader.h"
#include "ntfs/index_node.h"
#include "utils/types.h"

class dir_listing {
 public:
  dir_listing() { clear(); }
  void clear();
  // Whether take_parsed keeps carved entries (true after clear).
  void keep_carved(bool keep) { keep_carved_ = keep; }
  // A new attribute of `type` (0x90 or 0xA0); returns its index.
  size_t add_attribute(uint32 type);
  // The parser's maps for attribute `index`, emptied by take_parsed.
  indx_attribute_entries& parsed(size_t index) { return attributes_[index]; }
  // Moves what the parser put in the maps of attribute `index` into the store.
  void take_parsed(size_t index);
  size_t entry_count() const { return count_; }
  // Forgets every entry stored from the `first` on, all of one attribute
  // (an index that could not be read whole gives none).
  void drop_entries_from(size_t first);

  // The merge: false (nothing filed) when no attribute holds an entry.
  bool merge(ulong64 mft_entry_count);
  // The merge after an exception cut the gathering short: what the parser
  // had put in its maps by then is taken too (a take cut short goes on
  // where it stopped), and everything held is merged.
  bool merge_gathered(ulong64 mft_entry_count);

  // Rows in all_entries order (by modification time, filing order within).
  size_t row_count() const { return rows_.size(); }
  const INDX_ENTRY_INFO& row(size_t i, INDX_ENTRY_INFO& out) const { return entry_of(rows_[i], out); }
  // The no-duplicates holders in key order.
  void nodup_rows(std::vector<uint32>& out) const;
  // Entry `id` as the writers take it, filled into `out`.
  const INDX_ENTRY_INFO& entry_of(uint32 id, INDX_ENTRY_INFO& out) const;

  // The directory's own record, read again for each directory into the same
  // object: what it learnt once (the text of a security descriptor that
  // folder after folder shares) is not worked out again.
  inode_attributes& directory_record() { return record_; }

 private:
  struct stored_entry {
    byte entry[84];
    uint32 name_hash;  // of the name with ASCII letters lowered
    uint64 file_offset;
    uint64 name;  // in names_: block and offset as one count of bytes
    uint16 name_length;
    uint16 attribute;
    uint16 comment;  // in comments_
    uint8 valid;
    uint8 variant;  // live, filed under the key followed by '\x01' and the name
    uint8 is_dir;
    uint8 mtime_invalid;
  };

  static constexpr uint32 k_empty = 0xFFFFFFFFu;
  static constexpr uint32 k_name_block = 1u << 20;
  static constexpr uint32 k_chunk_bits = 10;
  static constexpr uint32 k_chunk = 1u << k_chunk_bits;

  // How far the take of an attribute's maps has come.
  struct take_progress {
    size_t attribute = 0;
    size_t valid = 0;
    size_t carved = 0;
  };

  std::vector<indx_attribute_entries> attributes_;
  take_progress taken_;
  // Entries in chunks of k_chunk: the store grows without copying itself.
  std::vector<std::unique_ptr<stored_entry[]>> chunks_;
  size_t count_ = 0;
  bool keep_carved_ = true;
  std::vector<std::string> names_;  // blocks of k_name_block bytes
  std::vector<std::string> comments_;
  std::unordered_map<std::string, uint16> comment_ids_;
  // Live entries by parser key, per attribute: holders of plain keys and of
  // '\x01' keys, open-addressed.
  std::vector<uint32> keys_;
  std::vector<uint32> variants_;
  size_t key_count_ = 0;
  size_t variant_count_ = 0;
  std::vector<uint32> rows_;
  std::vector<uint32> nodup_;
  mutable INDX_ENTRY_INFO scratch_a_, scratch_b_;
  inode_attributes record_;

  stored_entry& at(uint32 id) { return chunks_[id >> k_chunk_bits][id & (k_chunk - 1)]; }
  const stored_entry& at(uint32 id) const { return chunks_[id >> k_chunk_bits][id & (k_chunk - 1)]; }
  uint32 push(const stored_entry& s);
  // Whether live entry a's parser key sorts before b's.
  bool key_before(uint32 a, uint32 b) const;
  uint16 comment_id(const std::string& text);
  uint32 store(const INDX_ENTRY_INFO& e, size_t attribute);
  // Forgets the entry stored last, name and all.
  void unstore_last();
  void name_of(uint32 id, const char*& text, size_t& length) const;
  ulong64 parent_of(uint32 id) const;
  ulong64 modified_of(uint32 id) const;
  // Parser keys: same attribute and parent, names equal but for ASCII case
  // (plain) or equal (variant).
  size_t key_hash(uint32 id, bool exact) const;
  bool same_parser_key(uint32 a, uint32 b, bool exact) const;
  size_t key_slot(const std::vector<uint32>& table, uint32 id, bool exact) const;
  void add_key(uint32 id, bool exact);
  void rebuild_keys();
  // Stores and keys a live entry from the parser, or leaves the store as it
  // was for a name the key already holds. An exception while keying leaves
  // the entry stored, for take_parsed to drop.
  void file_parsed_live(const INDX_ENTRY_INFO& e, size_t attribute);
  // Keys stored live entry `id`; false when its name is there already.
  bool key_parsed_live(uint32 id);
  const INDX_ENTRY_INFO* find_live(size_t own, uint32 carved);
  // The no-duplicates key: name equal but for ASCII case and the four times.
  size_t nodup_hash(uint32 id) const;
  bool same_nodup_key(uint32 a, uint32 b) const;
  size_t nodup_slot(uint32 id) const;
  // Files `id` as a row and gives it its no-duplicates key when no entry
  // holds it yet; returns the key's slot.
  size_t file_row(uint32 id);
  void file_live(uint32 id);
  void file_carved(uint32 id, const std::string& comment, ulong64 dir_entry);
};
