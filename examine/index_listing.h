#pragma once
// The index records of every $INDEX_ALLOCATION of one MFT entry (a folder's
// $I30, the view indexes of $Secure, $ObjId, $Reparse ...), each attribute
// under an "indx name: " line, each record through the engine's INDX dump.
#include <functional>
#include <iosfwd>
#include <vector>

#include "examine/entry_records.h"
#include "utils/types.h"

class CNtfs;

// The volume's size in bytes (its clusters times the cluster size), no
// more than its source holds: the boot sector may claim any size. All ones
// when that does not fit in 64 bits.
ulong64 volume_bytes(const CNtfs& ntfs);

// Takes one 4 KiB index record as read (no fixup) and its offset in the
// attribute; false ends the walk.
typedef std::function<bool(const byte* record, ulong64 offset)> index_record_taker;

// Each 4 KiB record of an $INDEX_ALLOCATION in offset order, up to `length`
// bytes and the bytes its runs map, and never further than the volume is
// long as its source holds it: a damaged run list, or boot sector, may claim
// terabytes. Clusters past that end are passed over, and so is a record that
// cannot be read. `record` is
// the caller's buffer the records are read into, one after another.
void walk_index_allocation(CNtfs& ntfs, const entry_record& rec, ulong64 length, std::vector<byte>& record,
                           const index_record_taker& take);

// True when at least one $INDEX_ALLOCATION with runs was listed.
bool list_index_allocations(CNtfs* ntfs, ulong64 entry, std::ostream& out);
