#pragma once
// Fixed text forms of a time: ISO 8601, a mail-header date, a stamp safe in
// file names, and the slash forms of a SYSTEMTIME for reports. Each writes
// one layout whatever the locale or the host's zone.
#include <ostream>
#include <string>
#include <vector>

#include "time/systemtime.h"

namespace zq {

// "YYYY-MM-DDThh:mm:ss" of the instant moved by `zone` hours, then "Z" for
// zone 0 or the offset ("+05:30", "-01:00") that names the same instant.
// False for negative seconds or a moved instant before 1970.
bool format_iso8601(long64 seconds, std::string& out, float zone);
// "Sun; 06 Nov 1994 08:49:37 +0000": the UTC fields, then the zone given in
// minutes west of UTC (-330 prints +0530). Seconds 0 mean now.
bool format_mail_date(std::string& out, long64 seconds, int zone_minutes);
// "MM/DD/YYYY hh:mm:ss"; false (out unchanged) for FILETIME 0 or one
// negative as a signed number.
bool format_filetime_text(std::string& out, uint64 filetime);
// "MM/DD/YYYY : hh:mm:ss:ms"
bool format_systemtime_text(std::string& out, const _windows_systemtime& st);

// "YYYY_MM_DD", with_time adding "_hhmm_ss_mmm"; an invalid time writes its
// zero fields.
std::wostream& write_underscore_stamp(std::wostream& os, uint64 filetime, bool with_time);
std::ostream& write_underscore_stamp(std::ostream& os, uint64 filetime, bool with_time);
// "MM/DD/YYYY : hh:mm:ss [ mmm ms ]", or the date alone.
std::ostream& write_systemtime(std::ostream& os, _windows_systemtime st, bool date_only);
std::wostream& write_systemtime(std::wostream& os, _windows_systemtime st, bool date_only);
// "YYYY/MM/DD"
std::ostream& write_systemtime_date(std::ostream& os, _windows_systemtime st);
// "0x", the second word in its shortest hexadecimal form, then the first
// word in eight digits, so that every pair prints its own text.
std::ostream& write_hex_pair(std::ostream& os, uint32 first, uint32 second);

}  // namespace zq

// Each string followed by a line end.
void write_lines(std::ostream& os, const std::vector<std::string>& lines);
