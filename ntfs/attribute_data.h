#pragma once
// Writers through runs and the $ATTRIBUTE_LIST search beside the engine's
// attribute-data members (ntfs/attribute_data.cpp). Writes go in place
// through the data pump and only on a volume opened for writing.
#include <vector>

#include "ntfs/data_runs.h"
#include "utils/types.h"

class CNtfs;

// Write `size` bytes at byte `offset` of the data the runs map; false (and
// nothing written) when a cluster of the range is sparse, unmapped or
// cluster 0. `size` becomes the bytes written.
bool write_runs_data(const CNtfs* ntfs, std::vector<run_record>& runs, const byte* data, int& size, uint32 offset);
bool write_data_runs_data(const CNtfs* ntfs, std::vector<data_run>& runs, const byte* data, int& size,
                          uint32 offset);

// The first entry of `type` named exactly `name` (empty: unnamed) of an
// $ATTRIBUTE_LIST attribute of `list_attr_length` bytes, resident or not.
// The list's value is read into `list`; `entry` points into it and
// `remaining` counts the list's bytes from the entry on.
bool find_attribute_list_entry(const CNtfs* ntfs, const byte* list_attr, uint32 list_attr_length, uint32 type,
                               const byte*& entry, uint32& remaining, const std::vector<uint16>& name,
                               std::vector<byte>& list);
// The same search for a caller that gives no length of the list attribute:
// its own length (u32 at 4) is taken as what the buffer holds. The last
// argument changes nothing.
bool find_attribute_list_entry(const CNtfs* ntfs, const byte* list_attr, uint32 type, const byte*& entry,
                               uint32& remaining, const std::vector<uint16>& name, std::vector<byte>& list,
                               bool reserved);
