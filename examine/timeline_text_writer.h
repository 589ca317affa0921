#pragma once
// The walker's timeline of one MFT entry as a fixed-width table for reading
// on a terminal: a header line of padded titles once per output, then one
// row per instant of the entry's time map, padded to the widths of the
// header pass. The widths are kept process-wide for the rows of later calls.
#include <ostream>

#include "examine/macb_flags.h"
#include "time/timeline_record.h"

// Writes the header when *first is set (and clears it), then the rows of
// `times` inside the record's window. Rows whose set of columns differs from
// that of the last header pass (or that come before any) are padded to the
// columns' minimum widths. A CR or LF in a row is written as a blank.
// Always true.
bool write_timeline_text(bool* first, std::ostream& out, const macb_time_map& times, timeline_record& rec);
