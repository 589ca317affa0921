#include "time/calendar.h"

#include <climits>
#include <cmath>
#include <cstring>

namespace zq {

void civil_from_days(long64 days, long64& year, unsigned& month, unsigned& day) {
  const long64 z = days + 719468;
  const long64 era = (z >= 0 ? z : z - 146096) / 146097;
  const long64 doe = z - era * 146097;
  const long64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long64 mp = (5 * doy + 2) / 153;
  day = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
  year = yoe + era * 400 + (month <= 2 ? 1 : 0);
}

bool is_leap_year(long64 year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

}  // namespace zq

namespace {

// FILETIME 0 falls on 1601-01-01, 134774 days before 1970-01-01.
constexpr long64 days_1601_to_1970 = 134774;

// Calendar fields of whole seconds since 1601-01-01 (non-negative).
void fill_calendar(uint64 seconds_1601, systemtime_ex& out) {
  const long64 days = static_cast<long64>(seconds_1601 / 86400);
  const uint64 rest = seconds_1601 % 86400;
  long64 year = 0;
  unsigned month = 0, day = 0;
  zq::civil_from_days(days - days_1601_to_1970, year, month, day);
  out.wYear = static_cast<uint16>(year);
  out.wMonth = static_cast<uint16>(month);
  out.wDay = static_cast<uint16>(day);
  // 1601-01-01 was a Monday.
  out.wDayOfWeek = static_cast<uint16>((days + 1) % 7);
  out.wHour = static_cast<uint16>(rest / 3600);
  out.wMinute = static_cast<uint16>((rest % 3600) / 60);
  out.wSecond = static_cast<uint16>(rest % 60);
}

bool absolute_difference(long64 a, long64 b, uint64& out) {
  if (a < 0 || b < 0) return false;
  out = a > b ? static_cast<uint64>(a - b) : static_cast<uint64>(b - a);
  return true;
}

}  // namespace

bool seconds_to_tm(long64 seconds, tm& out, float zone) {
  if (seconds < 0) return false;
  const long64 shift = static_cast<int32>(zone * 3600.0f);
  if (shift > 0 && seconds > LLONG_MAX - shift) return false;
  const long64 t = seconds + shift;
  if (t < 0) return false;
  const long64 days = t / zq::seconds_per_day;
  long64 year = 0;
  unsigned month = 0, day = 0;
  zq::civil_from_days(days, year, month, day);
  if (year - 1900 > INT_MAX) return false;
  const long64 rest = t % zq::seconds_per_day;
  out.tm_sec = static_cast<int>(rest % 60);
  out.tm_min = static_cast<int>((rest % 3600) / 60);
  out.tm_hour = static_cast<int>(rest / 3600);
  out.tm_mday = static_cast<int>(day);
  out.tm_mon = static_cast<int>(month) - 1;
  out.tm_year = static_cast<int>(year - 1900);
  // 1970-01-01 was a Thursday.
  out.tm_wday = static_cast<int>((days + 4) % 7);
  out.tm_yday = static_cast<int>(days - zq::days_from_civil(year, 1, 1));
  // The fields are UTC (or shifted by the given hours, never by a zone of
  // the host), so a reused tm must not keep a zone it held before.
  out.tm_isdst = 0;
  out.tm_gmtoff = 0;
  out.tm_zone = nullptr;
  return true;
}

bool seconds_to_tm_shifted(long64 seconds, tm& out) {
  tm fields{};
  if (!seconds_to_tm(seconds, fields, 9.5f) || fields.tm_year > zq::tm_year_limit) return false;
  out = fields;
  return true;
}

bool seconds_to_tm_utc(long64 seconds, tm& out) { return seconds_to_tm(seconds, out, 0.0f); }

bool filetime_to_tm_utc(uint64 filetime, tm& out) {
  uint64 seconds = 0;
  if (!filetime_to_unix(filetime, seconds)) return false;
  return seconds_to_tm(static_cast<long64>(seconds), out, 0.0f);
}

bool filetime_to_tm_shifted(uint64 filetime, tm& out) {
  uint64 seconds = 0;
  if (!filetime_to_unix(filetime, seconds)) return false;
  return seconds_to_tm_shifted(static_cast<long64>(seconds), out);
}

bool filetime_to_tm(uint64 filetime, systemtime_ex& out) {
  if (static_cast<long64>(filetime) < 0) return false;
  fill_calendar(filetime / zq::ticks_per_second, out);
  const uint64 t = filetime % zq::ticks_per_second;
  out.wMilliseconds = static_cast<uint16>(t / 10000);
  out.microseconds = t / 10;
  out.nanoseconds = t * 100;
  out.picoseconds = t * 100000;
  return true;
}

bool filetime_to_tm_frac(uint64 filetime, double ticks, systemtime_ex& out) {
  // A count outside one second (or not a number) has no sub-second fields;
  // converting it would overflow.
  if (!(ticks >= 0.0 && ticks < static_cast<double>(zq::ticks_per_second))) return false;
  fill_calendar(filetime / zq::ticks_per_second, out);
  out.wMilliseconds = static_cast<uint16>(static_cast<int>(ticks / 10000.0));
  out.microseconds = static_cast<uint64>(ticks / 10.0);
  out.nanoseconds = static_cast<uint64>(100.0 * ticks);
  out.picoseconds = static_cast<uint64>(ticks * 100000.0);
  return true;
}

bool normalize_tm(const tm& fields, uint64& seconds) {
  long64 second = fields.tm_sec, minute = fields.tm_min, hour = fields.tm_hour;
  long64 month = fields.tm_mon, year = fields.tm_year;
  long64 carry = zq::floor_div(second, 60);
  second -= carry * 60;
  minute += carry;
  carry = zq::floor_div(minute, 60);
  minute -= carry * 60;
  hour += carry;
  const long64 carried_days = zq::floor_div(hour, 24);
  hour -= carried_days * 24;
  carry = zq::floor_div(month, 12);
  month -= carry * 12;
  year += carry;
  // The day offset within the month, with whole months moved into the month
  // and year; done by the day count of the first of the month, which is the
  // same walk without a loop per month.
  const long64 day_offset = static_cast<long64>(fields.tm_mday) - 1 + carried_days;
  const long64 first_of_month = zq::days_from_civil(year + 1900, month + 1, 1);
  long64 days = first_of_month + day_offset;
  long64 y = 0;
  unsigned m = 0, d = 0;
  zq::civil_from_days(days, y, m, d);
  if (y - 1900 < 70) {
    seconds = ~0ULL;
    return false;
  }
  // Field values are ints, so the sums stay far inside 64 bits.
  const long64 total = days * 86400 + (hour * 60 + minute) * 60 + second + zq::tm_shift_seconds;
  seconds = static_cast<uint64>(total);
  return true;
}

bool filetime_to_unix(uint64 filetime, uint64& seconds) {
  if (static_cast<long64>(filetime) < 0 || filetime < zq::unix_epoch_ticks) return false;
  seconds = (filetime - zq::unix_epoch_ticks) / zq::ticks_per_second;
  return true;
}

bool filetime_to_unix(uint32 low, uint32 high, uint64& seconds) {
  return filetime_to_unix(u64_from_words(low, high), seconds);
}

bool unix_to_filetime(uint32 low, uint32 high, uint64& out) {
  out = u64_from_words(low, high) * zq::ticks_per_second + zq::unix_epoch_ticks;
  return true;
}

bool stamp_to_filetime(uint64& out, uint64 value, uint32 base) {
  if (base == 1) {
    out = value;
    return true;
  }
  if (base == 8) return unix_to_filetime(static_cast<uint32>(value), static_cast<uint32>(value >> 32), out);
  return false;
}

bool firefox_to_filetime(long64 microseconds, uint64& out) {
  const long64 seconds = microseconds / 1000000;
  const long64 rest = microseconds % 1000000;
  out = static_cast<uint64>(seconds) * zq::ticks_per_second + zq::unix_epoch_ticks +
        static_cast<uint64>(rest) * 10;
  return true;
}

uint64 filetime_to_firefox(uint64 filetime) { return (filetime - zq::unix_epoch_ticks) / 10; }

bool chrome_to_filetime(uint64 microseconds, uint64& out) {
  out = microseconds * 10;
  return true;
}

uint64 filetime_to_chrome(uint64 filetime) { return filetime / 10; }

uint64 filetime_to_milliseconds(uint64 ticks) { return ticks / zq::ticks_per_ms; }
uint64 milliseconds_to_filetime(uint64 ms) { return ms * zq::ticks_per_ms; }
uint64 filetime_to_seconds(uint64 ticks) { return ticks / zq::ticks_per_second; }
uint64 seconds_to_filetime(uint64 seconds) { return seconds * zq::ticks_per_second; }
uint64 filetime_to_minutes(uint64 ticks) { return ticks / 600000000ULL; }
uint64 minutes_to_filetime(uint64 minutes) { return minutes * 600000000ULL; }

uint64 filetime_add_ms(uint64 filetime, uint32 ms_low, uint32 ms_high) {
  return filetime + u64_from_words(ms_low, ms_high) * zq::ticks_per_ms;
}

bool filetime_difference(long64 a, long64 b, uint64& out) { return absolute_difference(a, b, out); }

bool filetime_diff_seconds(long64 a, long64 b, uint64& out) {
  out = 0;
  uint64 d = 0;
  if (!absolute_difference(a, b, d)) return false;
  out = d / zq::ticks_per_second;
  return true;
}

bool filetime_diff_microseconds(long64 a, long64 b, uint64& out) {
  out = 0;
  uint64 d = 0;
  if (!absolute_difference(a, b, d)) return false;
  out = static_cast<uint64>(static_cast<double>(d) / 10.0);
  return true;
}

bool filetime_diff_milliseconds(long64 a, long64 b, uint64& out) {
  out = 0;
  uint64 d = 0;
  if (!absolute_difference(a, b, d)) return false;
  out = static_cast<uint64>(static_cast<double>(d) / 10000.0);
  return true;
}

uint64 u64_from_words(uint32 low, uint32 high) { return (static_cast<uint64>(high) << 32) | low; }

bool set_u64(uint64& out, uint32 low, uint32 high) {
  out = u64_from_words(low, high);
  return true;
}

bool set_u64(uint64* out, uint32 low, uint32 high) {
  if (!out) return false;
  *out = u64_from_words(low, high);
  return true;
}

bool calendar_stub() { return true; }
