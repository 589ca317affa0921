#include "time/time_text.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "time/zq_time.h"
#include "utils/date_text_parse.h"
#include "utils/utf_convert.h"

namespace {

void fill_systemtime(zq::_windows_systemtime& out, uint32 day, uint32 month, uint32 year,
                     uint32 hour, uint32 minute, uint32 second) {
  out = zq::_windows_systemtime();
  out.wYear = static_cast<uint16>(year);
  out.wMonth = static_cast<uint16>(month);
  out.wDay = static_cast<uint16>(day);
  out.wHour = static_cast<uint16>(hour);
  out.wMinute = static_cast<uint16>(minute);
  out.wSecond = static_cast<uint16>(second);
}

// The seconds of a time-of-day text as whole seconds and ticks. The digits
// typed are read as decimal text, the first seven decimals exactly (a binary
// fraction would turn .007 into 69999 ticks); a field the parser read some
// other way (an exponent, say) is taken from its value, to the nearest tick.
void split_seconds(const char* time_text, double seconds, long64& whole, uint64& ticks) {
  const char* p = std::strchr(time_text, ':');
  p = p ? std::strchr(p + 1, ':') : nullptr;
  double value = 0.0;
  uint64 w = 0, t = 0;
  // The same value as the parser's: the field it read.
  if (p && read_decimal_seconds(p + 1, 7, value, w, t) && value == seconds) {
    whole = static_cast<long64>(w);
    ticks = t;
    return;
  }
  whole = static_cast<long64>(std::trunc(seconds));
  ticks = static_cast<uint64>(std::llround((seconds - static_cast<double>(whole)) * 1e7));
  if (ticks >= zq::ticks_per_second) {
    ++whole;
    ticks -= zq::ticks_per_second;
  }
}

}  // namespace

namespace zq {

time::time(const char* text) {
  clear();
  if (!text) return;
  const char* blank = std::strchr(text, ' ');
  const char* colon = std::strchr(text, ':');
  uint32 hour = 0, minute = 0;
  double seconds = 0;
  // A time that is given must be read; one that cannot be (an hour of 24,
  // say) would otherwise pass as midnight of the date.
  if (blank && colon && !parse_time_of_day(blank + 1, hour, minute, seconds)) return;
  if (!(seconds >= 0.0 && seconds < static_cast<double>(INT_MAX)) || minute > INT_MAX) return;
  const std::string date = blank ? std::string(text, blank) : std::string(text);
  uint32 day = 0, month = 0, year = 0;
  if (!parse_date(date.c_str(), day, month, year)) return;

  long64 whole = 0;
  uint64 ticks = 0;
  if (blank && colon) split_seconds(blank + 1, seconds, whole, ticks);
  if (whole >= INT_MAX) return;
  tm fields{};
  fields.tm_sec = static_cast<int>(whole);
  fields.tm_min = static_cast<int>(minute);
  fields.tm_hour = static_cast<int>(hour);
  fields.tm_mday = static_cast<int>(day);
  fields.tm_mon = static_cast<int>(month) - 1;
  fields.tm_year = static_cast<int>(year) - 1900;
  long64 unix_seconds = 0;
  if (!tm_to_unix_utc(fields, unix_seconds)) return;
  m_unix_time = static_cast<uint64>(unix_seconds);
  // Up to seven decimals of the seconds survive as ticks.
  m_filetime = m_unix_time * ticks_per_second + unix_epoch_ticks + ticks;
  m_filetime_copy = m_filetime;
  set_filetime(m_filetime);
}

bool parse_systemtime(const char* date, const char* time, _windows_systemtime& out) {
  if (!date && !time) return false;
  uint32 day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
  if (date && !parse_date(date, day, month, year)) return false;
  if (time && !parse_time_of_day_int(time, hour, minute, second)) return false;
  fill_systemtime(out, day, month, year, hour, minute, second);
  return true;
}

bool parse_systemtime_w(const wchar_t* date, const wchar_t* time, _windows_systemtime& out) {
  const std::string narrow_date = date ? wstring_to_utf8(date) : std::string();
  const std::string narrow_time = time ? wstring_to_utf8(time) : std::string();
  if (narrow_date.empty() && narrow_time.empty()) return false;
  return parse_systemtime(narrow_date.empty() ? nullptr : narrow_date.c_str(),
                          narrow_time.empty() ? nullptr : narrow_time.c_str(), out);
}

bool parse_systemtime_by_order(const char* date, const char* time, std::string order,
                               char separator, _windows_systemtime& out) {
  if (!date && !time) return false;
  uint32 day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
  if (date && !parse_date_by_order(date, order, separator, day, month, year)) return false;
  if (time && !parse_time_of_day_int(time, hour, minute, second)) return false;
  fill_systemtime(out, day, month, year, hour, minute, second);
  return true;
}

bool parse_tm(const char* date, const char* time, tm& out) {
  if (!date && !time) return false;
  uint32 day = 0, month = 0, year = 0, ms = 0;
  if (date && !parse_date(date, day, month, year)) return false;
  if (time && !parse_time_of_day_ms(time, ms)) return false;
  const uint32 s = ms / 1000;
  out = tm{};
  out.tm_year = static_cast<int>(year) - 1900;
  out.tm_mon = static_cast<int>(month) - 1;
  out.tm_mday = static_cast<int>(day);
  out.tm_hour = static_cast<int>(s / 3600);
  out.tm_min = static_cast<int>((s / 60) % 60);
  out.tm_sec = static_cast<int>(s % 60);
  return true;
}

}  // namespace zq
