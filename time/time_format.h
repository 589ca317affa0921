#pragma once
// Date and time texts of a zq::time as every writer prints them: month
// first, 24-hour clock, the UTC fields as stored, no zone name (callers add
// their own).
#include <ostream>
#include <string>

#include "time/zq_time.h"

namespace zq {

// Date and time texts; both empty when the time is not valid. With
// `use_locale` the date follows the environment's locale when one is usable.
void format_time(std::string& date, std::string& time, const zq::time& t, bool with_fraction,
                 bool two_digit_year, bool use_locale, bool nanoseconds);
// MM/DD/YYYY and HH:MM:SS.mmm
void format_time_ms(std::string& date, std::string& time, const zq::time& t, bool use_locale);
// MM/DD/YYYY and HH:MM:SS
void format_time_secs(std::string& date, std::string& time, const zq::time& t, bool use_locale);
void format_time_ms_w(std::wstring& date, std::wstring& time, const zq::time& t, bool use_locale);

// "MM/DD/YY HH:MM:SS.mmm", or "00/00/00 00:00:00" for an invalid time.
std::ostream& write_time(std::ostream& os, zq::time t);
std::ostream& operator<<(std::ostream& os, zq::time t);
// "MM/DD/YY HH:MM:SS", or "00/00/00 00:00:00" for an invalid time.
std::ostream& write_time_secs(std::ostream& os, zq::time t);
std::ostream& write_filetime(std::ostream& os, uint32 low, uint32 high);
std::string& append_time(std::string& out, zq::time t);
std::wostream& operator<<(std::wostream& os, zq::time t);

// "0x" and the 16 lowercase hexadecimal digits of high:low.
std::string format_hex64(uint32 low, uint32 high);

}  // namespace zq
