#pragma once
// The index records of every $INDEX_ALLOCATION of one MFT entry (a folder's
// $I30, the view indexes of $Secure, $ObjId, $Reparse ...), each attribute
// under an "indx name: " line, each record through the engine's INDX dump.
#include <iosfwd>

#include "utils/types.h"

class CNtfs;

// True when at least one $INDEX_ALLOCATION with runs was listed.
bool list_index_allocations(CNtfs* ntfs, ulong64 entry, std::ostream& out);
