#pragma once
// The entry records of one MFT entry: a record for the FILE record itself
// (type ENTRY_SUMMARY_TYPE) and one per attribute, wherever the attribute is
// stored (the entry's own record, or the records its $ATTRIBUTE_LIST names,
// resident or not). Pieces of one attribute kept in several records come
// out as one record whose runs hold every piece at its own VCN.
#include <string>
#include <vector>

#include "ntfs/entry_record.h"
#include "utils/types.h"

class CNtfs;

// 1 when at least one record was collected, else 0; `out` is cleared first
// and ends ordered by key (the name, or " nada_", then the attribute id and
// the type in decimal). Ids are numbered per FILE record, so attributes of
// several records can share a key: each is kept, the base record's first,
// then the others by the number of the record holding them. With a window
// length, each record gets that byte range of its data cached.
int collect_entry_records(CNtfs* ntfs, ulong64 entry, std::vector<entry_record>& out, ulong64 window_offset,
                          uint32 window_length);
bool collect_entry_records(CNtfs* ntfs, ulong64 entry, std::vector<entry_record>& out);

// The distinct names (UTF-8, sorted) of the entry's attributes of `type`;
// true when the entry has an attribute of that type at all, its
// $ATTRIBUTE_LIST among them (ENTRY_SUMMARY_TYPE is no attribute's).
bool get_attribute_names(CNtfs* ntfs, ulong64 entry, uint32 type, std::vector<std::string>& names);

// The entry's FILE record, fixed up, in a buffer of the volume's record size.
bool read_entry_file_record(CNtfs* ntfs, ulong64 entry, std::vector<byte>& record);

// The key the collection orders and de-duplicates by.
std::string entry_record_key(const entry_record& rec);

// Accessors of the summary body of a non-resident data record.
inline bool entry_is_non_resident(const entry_record& r) { return r.item.header.flag != 0; }
ulong64 entry_allocated_size(const entry_record& r);
ulong64 entry_used_size(const entry_record& r);
ulong64 entry_compressed_size(const entry_record& r);
uint32 entry_compression_unit(const entry_record& r);
// The value length of a resident data record.
uint32 entry_value_length(const entry_record& r);
