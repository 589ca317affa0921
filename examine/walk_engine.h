#pragma once
// The directory walker: every MFT entry of a range of the source, read,
// filtered and written in one of four forms (timeline CSV, timeline table,
// bodyfile, log2timeline CSV) with its full paths.
#include <ostream>

#include "app/record_reader.h"
#include "app/user_ctx.h"

// Walks the entries [mft_start, mft_start + mft_count) (mft_count 0: to the
// last entry, stored back into the context) of the source that `ctx` names,
// writing to `out`. True when at least one directory record was met. The
// source is closed at the end of a completed walk. Asked for copies, the
// walk first makes the copy folder (make_copy_folder), and ends with false
// when it cannot.
bool walk_engine_run(std::ostream& out, user_ctx& ctx);

// Sets the record's time note from its $STANDARD_INFORMATION and $FILE_NAME
// times ("si:time absent", "fn:time null", ...); true when there is nothing
// to note.
bool describe_time_sources(inode_attributes& rec);
