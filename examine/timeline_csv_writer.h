#pragma once
// The walker's timeline of one MFT entry as separated values: a header line
// once per output, then one row per instant of the entry's time map.
#include <ostream>

#include "examine/macb_flags.h"
#include "time/timeline_record.h"

// Writes the header when *first is set (and clears it), then the rows of
// `times` inside the record's window. Replaces the record's replaced
// character in its notes and desc in place. A CR or LF in any text of a row,
// and a '"' that begins a cell, is written as a blank. Always true.
bool write_timeline_csv(bool* first, std::ostream& out, const macb_time_map& times, timeline_record& rec);
