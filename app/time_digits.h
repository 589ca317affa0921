#pragma once
// The date and time texts of the output forms, written digit by digit from
// a FILETIME: the same texts the time library formats, without building a
// full time value or calling a formatter for every time of every entry.
#include <string>

#include "time/calendar.h"
#include "utils/types.h"

// The UTC calendar fields of a FILETIME; false for a time the time library
// holds invalid (0, before 1970, or past its last year), which the forms
// write as blanks or zeros.
bool filetime_calendar(ulong64 filetime, systemtime_ex& st);

// "MM/DD/YYYY".
void append_date_digits(std::string& out, const systemtime_ex& st);
// "MM/DD/YY", the year less 2000 from 2000 on, less 1900 before.
void append_short_date_digits(std::string& out, const systemtime_ex& st);
// "HH:MM:SS", with ".mmm" when `milliseconds`.
void append_clock_digits(std::string& out, const systemtime_ex& st, bool milliseconds);
