#pragma once
// Free functions beside the engine's volume members (ntfs/volume_io.cpp):
// the stand-alone FILE-record fixup and the attribute searches by name.
#include <iosfwd>
#include <vector>

#include "utils/types.h"

// Undoes the update-sequence protection of a FILE record of `size` bytes in
// place, 512-byte sectors; false for a record that is not "FILE", or whose
// sectors or saved words do not lie inside `size`.
bool fixup_file_record_512(uint16* record, int size);

// Moves `cursor` (an attribute header inside a FILE record of which `limit`
// bytes from the cursor are readable) to the first attribute of `type` whose
// name is `name` (UTF-16 units; empty: an unnamed attribute), at or after the
// cursor. Names compare whole: "a" never matches "ab".
bool find_attribute_by_name_from(byte*& cursor, uint32 limit, uint32 type, const std::vector<uint16>& name);
// The same search for a caller that has no count of the bytes after the
// cursor: its buffer must hold the rest of the record, and the walk goes no
// further than the largest record the engine reads.
bool find_attribute_by_name_from(byte*& cursor, uint32 type, const std::vector<uint16>& name);
// The same over $ATTRIBUTE_LIST entries, `remaining` bytes from the cursor.
// Each step takes the entry's length off `remaining`, which goes below zero
// when the entry claims more than was left (the cursor then stays on it).
bool find_attribute_list_entry_by_name(byte*& cursor, int& remaining, uint32 type, const std::vector<uint16>& name);

// The four $STANDARD_INFORMATION times of a FILE record of `limit` bytes.
void dump_standard_information_times(const byte* record, uint32 limit, std::ostream& os);
