#pragma once
// The log2timeline CSV form: one row per distinct instant of a record's four
// times, tagged with the MACB letters of the times that fall on it. The
// record and this writer serve the tool's index entries and the directory
// walker alike.
#include <ostream>
#include <string>

#include "app/user_ctx.h"
#include "ntfs/index_node.h"
#include "time/timeline_record.h"

// Writes the header first when *first is set (and clears it), then one row per
// event of `rec` inside its time window. Replaces the record's replaced
// character in short, desc, filename and notes in the record itself. A CR or
// LF in any of the record's texts, and a '"' that begins one, is written as
// a blank (the record keeps it). Always true.
bool write_l2t_csv(bool* first, std::ostream& out, timeline_record& rec);
// The same, appended to `out`.
bool append_l2t_csv(bool* first, std::string& out, timeline_record& rec);

// Fills `rec` (cleared first) with one index entry as the tool writes it:
// full name from the context's path, sizes and numbers in the context's base.
void fill_l2t_record(timeline_record& rec, const INDX_ENTRY_INFO& e, const user_ctx& ctx);
