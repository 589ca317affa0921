#pragma once
// Labelled text reports of NTFS index structures: the INDX record header,
// the index node header, the $INDEX_ROOT value with its entries, $I30
// directory entries, the entries of the view indexes $O, $SDH, $SII and $R
// (any other index as a hex view), and one-line table rows of them.
//
// The forms that take a byte_view read only inside it and stop at the first
// field that does not fit; an entry's key and hex view are cut to it. The
// bare-pointer forms trust the structure's own lengths (a header's fixed
// size, an entry's length, a root's entry size) and are for structures
// already checked.
#include <iosfwd>

#include "utils/byte_order.h"
#include "utils/types.h"

std::ostream& dump_indx_header(std::ostream& os, const byte_view& record, uint32 base);
std::ostream& dump_indx_header(std::ostream& os, const byte* record, uint32 base);  // 40 bytes
std::ostream& dump_indx_header(std::ostream& os, const byte* record);

std::ostream& dump_index_header(std::ostream& os, const byte_view& node, uint32 base);
std::ostream& dump_index_header(std::ostream& os, const byte* node, uint32 base);  // 16 bytes
std::ostream& dump_index_header(std::ostream& os, const byte* node);

std::ostream& dump_index_root_header(std::ostream& os, const byte_view& root, uint32 base);
std::ostream& dump_index_root_header(std::ostream& os, const byte* root, uint32 base);  // 16 bytes
std::ostream& dump_index_root_header(std::ostream& os, const byte* root);

// The root's fields, its node header and every entry within `length` bytes.
void dump_index_root(std::ostream& os, const byte* root, int length, uint32 base);
// The same with every entry shown at position 0; the bare-pointer form reads
// up to the end of the root's entries (16 + the node's entry size).
std::ostream& dump_index_root_all(std::ostream& os, const byte_view& root);
std::ostream& dump_index_root_all(std::ostream& os, const byte* root);

// One $I30 entry with its $FILE_NAME key (the index name is not used).
std::ostream& dump_dir_entry(const char* index_name, std::ostream& os, const byte_view& entry, uint32 base);
std::ostream& dump_dir_entry(const char* index_name, std::ostream& os, const byte* entry, uint32 base);
std::ostream& dump_dir_entry(std::ostream& os, const byte* entry);

// One entry of the named index: nothing for $I30.
std::ostream& dump_index_entries(const char* index_name, std::ostream& os, const byte_view& entry, uint32 base);
std::ostream& dump_index_entries(const char* index_name, std::ostream& os, const byte* entry, uint32 base);

// One $I30 entry as a table row, with the column header when asked.
std::ostream& print_index_entry_line(const char* index_name, std::ostream& os, const byte_view& entry,
                                     bool with_header);
std::ostream& print_index_entry_line(const char* index_name, std::ostream& os, const byte* entry, bool with_header);

// One entry of $O, $SDH, $SII or $R as a table row; nothing for other names.
std::ostream& print_view_index_entry_line(const char* index_name, std::ostream& os, const byte_view& entry,
                                          bool with_header);
std::ostream& print_view_index_entry_line(const char* index_name, std::ostream& os, const byte* entry,
                                          bool with_header);

// The key and data of one $SII entry.
struct security_id_entry {
  uint32 security_id = 0;  // the key
  uint32 hash = 0;
  uint32 data_security_id = 0;
  uint64 sds_offset = 0;
  uint32 sds_size = 0;

  security_id_entry() = default;
  // The 24 bytes at entry offset 16; all zeros for a null entry or one too
  // short to hold them.
  explicit security_id_entry(const byte* entry);
  explicit security_id_entry(const byte_view& entry);
  // The five fields on one line.
  std::ostream& print(std::ostream& os) const;
};
