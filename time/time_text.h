#pragma once
// Date and time texts into time values, read as UTC. The grammars are those
// of utils/date_text_parse.h; the zq::time text constructor lives here too.
#include <ctime>
#include <string>

#include "time/systemtime.h"

namespace zq {

// A date text and a time text, either absent (null). False when both are
// absent or a given one does not parse; `out` is then untouched.
bool parse_systemtime(const char* date, const char* time, _windows_systemtime& out);
// As above; an empty text counts as absent.
bool parse_systemtime_w(const wchar_t* date, const wchar_t* time, _windows_systemtime& out);
// The date's field order given as D, M and Y letters with their separator.
bool parse_systemtime_by_order(const char* date, const char* time, std::string order,
                               char separator, _windows_systemtime& out);
bool parse_tm(const char* date, const char* time, tm& out);

}  // namespace zq
