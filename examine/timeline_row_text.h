#pragma once
// The texts both walker timeline writers (CSV and text table) build for one
// row: the instant's date and time, its MACB letters, the name text, the
// header bytes, and the replacement of the separator character.
#include <string>
#include <vector>

#include "examine/macb_flags.h"
#include "time/timeline_record.h"

// "MM/DD/YYYY" and "hh:mm:ss.mmm" of a FILETIME; both empty when the time
// library holds the instant invalid.
void timeline_date_time(ulong64 filetime, std::string& date, std::string& time);
// What macb_flags::print writes, as a string.
std::string timeline_macb_text(const macb_flags& flags);
// The smallest long name with the path before it (and ":" + stream after
// it), the other long names as " [alias: ...]", then " [8.3: ...]" for each
// 8.3 name; empty texts in either set are passed over.
std::string timeline_name_text(const macb_time_entry& entry);
// Each byte as two lower-case hexadecimal digits and a blank.
std::string timeline_header_bytes(const std::vector<byte>& bytes);
// Replaces the record's replaced character in `name`, and in the record's
// notes and desc, when both characters are set.
void timeline_replace(timeline_record& rec, std::string& name);
// Whether the instant is outside the record's window (start 0: no window).
bool timeline_outside_window(const timeline_record& rec, ulong64 instant);
