#pragma once
// The texts both walker timeline writers (CSV and text table) build for one
// row: the instant's date and time and the name text (the separator
// character replaced), its MACB letters, and the header bytes.
#include <string>
#include <vector>

#include "examine/macb_flags.h"
#include "time/timeline_record.h"

// The texts of the row for one instant: "MM/DD/YYYY" and "hh:mm:ss.mmm"
// (both empty when the time library holds the instant invalid), and the
// name text: the smallest long name with the path before it (and ":" +
// stream after it), the other long names as " [alias: ...]", then
// " [8.3: ...]" for each 8.3 name, empty texts in either set passed over.
// The record's replaced character is replaced in the name, and in the
// record's notes and desc, when both characters are set. False, with
// nothing done, when the instant is outside the record's window (start 0:
// no window).
bool timeline_row_texts(timeline_record& rec, ulong64 instant, const macb_time_entry& entry, std::string& date,
                        std::string& time, std::string& name);
// What macb_flags::print writes, as a string.
std::string timeline_macb_text(const macb_flags& flags);
// Each byte as two lower-case hexadecimal digits and a blank.
std::string timeline_header_bytes(const std::vector<byte>& bytes);
