#pragma once
// One node of a directory's $I30 index (the node inside $INDEX_ROOT, or the
// node of one INDX record) turned into its live entries and the older entries
// carved from its slack.
#include <map>
#include <string>

#include "utils/types.h"

// One parsed index entry, live or carved. The first 84 bytes are the entry as
// found: its 16-byte header, then the first 68 bytes of its $FILE_NAME key.
// The writers read times, sizes and references straight out of that block by
// their on-disk offsets. `entry` names the whole block and `attr_type` the
// attribute type, for readers that use those names.
struct INDX_ENTRY_INFO {
  union {
    byte entry[84];
    struct {
      byte entry_header[16];
      byte file_name[68];
    };
  };
  std::string name;       // UTF-8; empty when the name length is 0
  uint8 valid;            // 1 live, 0 carved
  uint64 file_offset;     // caller's offset + the entry's offset in the node
  uint32 entry_length;    // 82 + 2 x name length
  union {
    uint32 attribute_type;  // 0xA0 from the parser; 0x90 set by the merge
    uint32 attr_type;
  };
  std::string slack_comment;
  uint8 is_dir;
  uint8 mtime_invalid;

  INDX_ENTRY_INFO() { reset(); }
  void reset();
};

// Byte offsets inside an index entry (and so inside INDX_ENTRY_INFO::entry).
enum : uint32 {
  k_ie_file_reference = 0,
  k_ie_entry_length = 8,
  k_ie_key_length = 10,
  k_ie_flags = 12,
  k_ie_parent = 16,
  k_ie_created = 24,
  k_ie_modified = 32,
  k_ie_mft_changed = 40,
  k_ie_accessed = 48,
  k_ie_allocated_size = 56,
  k_ie_real_size = 64,
  k_ie_file_attributes = 72,
  k_ie_reparse = 76,
  k_ie_name_length = 80,
  k_ie_name_space = 81,
  k_ie_name = 82,
};

// Live entries keyed "<parent, 10-digit zero-filled>_<lower-cased name>".
// Two live names of one parent that differ only in letter case (POSIX names)
// are both kept: the second goes under that key followed by '\x01' and its
// exact name, so a lookup by the plain key finds the first.
typedef std::map<std::string, INDX_ENTRY_INFO> string_indx_map;
// Carved entries keyed by parent entry number (48 bits), in carving order.
typedef std::multimap<ulong64, INDX_ENTRY_INFO> inode_indx_mmap;

// Parses the index node at `node` (its header first), `length` bytes long.
// `dir_entry` is the directory's MFT entry number, or 0 to take it from the
// first live entry. Adds to both collections; false only for a null node.
bool parse_index_node_w_carve(string_indx_map& valid, inode_indx_mmap& carved, ulong64 dir_entry,
                              const byte* node, int length, ulong64 file_offset);

// The same for a node whose record the directory's index bitmap marks unused:
// nothing in it is live, so everything from its first entry on is slack.
bool parse_unused_index_node_w_carve(inode_indx_mmap& carved, ulong64 dir_entry, const byte* node,
                                     int length, ulong64 file_offset);

// An $INDEX_ROOT value: false unless it indexes $FILE_NAME (0x30) and names a
// non-zero record size. The node starts 16 bytes in and `length` is the
// node's own, from there to the end of the attribute (the caller holds the
// value's 16 header bytes before it); `length` and `file_offset` go to the
// node parser as they are. A negative `length` (a value shorter than its
// header) gives false with nothing read.
bool parse_index_root_w_carve(string_indx_map& valid, inode_indx_mmap& carved, ulong64 dir_entry,
                              const byte* root_value, int length, ulong64 file_offset);

// One fixed-up INDX record: its node starts 24 bytes in.
bool parse_indx_buffer_w_carve(string_indx_map& valid, inode_indx_mmap& carved, ulong64 dir_entry,
                               const byte* record, int length, ulong64 file_offset);

// A whole $INDEX_ALLOCATION as read by CNtfs::read_index_allocation: one
// record every `record_size` bytes, each at its own offset. A record whose bit
// in `bitmap` (the directory's $I30 $BITMAP) is clear is parsed as unused;
// without a bitmap every record counts as in use. A record that does not
// begin with "INDX" (a slot the reader zeroed) is passed over. False for a
// null buffer or a record size below 512.
bool parse_index_allocation_w_carve(string_indx_map& valid, inode_indx_mmap& carved,
                                    ulong64 dir_entry, const byte* data, uint64 length,
                                    uint32 record_size, const byte* bitmap, uint64 bitmap_length,
                                    ulong64 file_offset);

// Appends the UTF-16LE name of `units` code units at `name` to `out` as UTF-8:
// surrogate pairs joined, an unpaired half as U+FFFD, ending at a 0 unit.
void utf16le_name_to_utf8(std::string& out, const byte* name, uint32 units);

// The live-entry key: the parent entry number in decimal, zero-filled to at
// least 10 digits, "_", and the name with ASCII letters lowered.
void make_entry_key(std::string& key, ulong64 parent, const std::string& name);
