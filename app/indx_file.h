#pragma once
// Analysis of an extracted file of INDX records (a directory's
// $INDEX_ALLOCATION stream copied out of a volume): every 4096-byte record is
// fixed up, parsed and carved, the results merged and written in the chosen
// form, with no volume at all.
#include <string>

#include "app/dir_listing.h"
#include "app/user_ctx.h"
#include "utils/types.h"

// Parses [data, data + size) as consecutive 4096-byte records from offset 0;
// the fixups change `data` in place. `dir_entry` 0 takes the directory from
// the first live entry found. A record that is not "INDX" is passed over and
// the records after it keep their own offsets. Writes to standard output.
// False when size is below 16 or nothing at all was found.
bool analyze_indx_buffer(ulong64 dir_entry, user_ctx& ctx, byte* data, uint32 size);

enum indx_file_result {
  indx_file_done,        // entries found and written
  indx_file_unreadable,  // the file cannot be opened or read
  indx_file_empty,       // the file holds no bytes
  indx_file_unparsable,  // no live or carvable entry in it
  indx_file_refused,     // standard output or error is the file, or the copy folder
                         // cannot be made: refused, and said; or standard output
                         // took nothing (said at the end of the run)
};

// Reads the file named by ctx.indxfile (UTF-8) whole, in pieces of 2 MiB,
// into `listing` (cleared first) as one index attribute: each entry held
// once, compactly, and carved entries only when the selection writes any.
// indx_file_unparsable when the file holds no live or carvable entry.
indx_file_result gather_indx_file(dir_listing& listing, user_ctx& ctx);

// The same, merged and written: a file of any size is analysed without
// holding it all. Standard output or error on the file opened is refused
// before anything is read; once they pass, what the run held for them is
// let out.
indx_file_result analyze_indx_file(user_ctx& ctx);
