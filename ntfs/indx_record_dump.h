#pragma once
// Text dumps of one INDX record for the record reports: its header and every
// entry in full, or one table row per entry. The record is copied before its
// update-sequence fixup is applied: the caller's bytes are never changed.
//
// An entry is shown only when its header and its whole length lie inside the
// record and inside the node's entries; an entry length of 0 (or one too
// short for the entry's own header) ends the walk.
#include <iosfwd>

#include "utils/types.h"

// False, nothing written, for a null record, one shorter than 4096 bytes or
// one without the "INDX" signature. With `sector_size` not 0 the fixup is
// applied with that stride; positions shown are record offsets plus
// `base_offset`. An `index_name` of "$I30" (in any letter case) walks
// directory entries, any other name the entries of that view index.
bool dump_indx_record(const char* index_name, const byte* record, int size, int sector_size, std::ostream& out,
                      uint32 base_offset);
// The same checks, fixup and walk, one row per entry; the column header is
// written before the first entry when `with_header` is set.
bool dump_indx_record_short(const char* index_name, const byte* record, int size, int sector_size,
                            std::ostream& out, bool with_header);
