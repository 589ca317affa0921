#pragma once
// The walker's CSV and text forms per MFT entry: one timeline report per
// parent directory (or per parent and attribute), and, when asked, copies of
// the entry's data streams under names that carry the entry's modification
// time, the data's MD5 digest and the file's name.
#include <ostream>

#include "app/record_reader.h"
#include "app/user_ctx.h"

void report_entry_streams(const inode_attributes& rec, std::ostream& out, user_ctx& ctx);

// Copies the attribute's data into ctx.copy_dir (made first when it is not
// yet, by make_copy_folder, and reached by the descriptor held since, not by
// its path): written to a temporary
// file, then renamed to <dir>/<modified stamp>_<md5>_<name>[.<stream>]_<label>.bin
// where <name> is the entry's name that the caller left in ctx.copy_dest.
// Only that file-name part is cleaned (blanks, commas and path separators
// become '_'), so the copy stays inside the copy directory whatever the
// evidence names. True, with ctx.copy_dest the copy's path, when the whole
// data was copied and the copy has its name; a copy that stops part way is
// removed and gives false. The temporary file is made new, under a name
// nothing holds, and written through the one handle that made it; the copy
// is named only when the file holds, as the system answers before and
// after the rename, every byte written. A regular file already under the
// final name (the same data, copied before) stays as it is and counts as
// the copy when it is of that size; a final name that is the evidence's,
// or is held by anything else, is not taken over.
bool extract_stream_copy(const inode_attributes& rec, user_ctx& ctx, const si_record* si,
                         const attribute_record* attr);

// Switches the stream to hexadecimal with '0' fill and writes each byte as
// two digits and a blank.
std::ostream& write_hex_bytes(std::ostream& out, const byte* data, unsigned count);
