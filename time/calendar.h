#pragma once
// Calendar arithmetic of the time library: seconds and FILETIMEs to calendar
// fields and back, and raw stamps of one time base into another. Every
// routine is its own arithmetic (no gmtime), so results never depend on the
// host's zone, and each runs in constant time whatever the year.
#include <ctime>
#include <type_traits>

#include "utils/types.h"

namespace zq {

constexpr uint64 ticks_per_second = 10000000ULL;
constexpr uint64 ticks_per_ms = 10000ULL;
// FILETIME ticks from 1601-01-01 to 1970-01-01.
constexpr uint64 unix_epoch_ticks = 116444736000000000ULL;
constexpr long64 seconds_per_day = 86400;
// The broken-down `m_tm` of a time is shifted forward by 9.5 hours.
constexpr long64 tm_shift_seconds = 34200;
// Year 3000 as a `tm` year field: the last year a time may reach.
constexpr int tm_year_limit = 1100;

// Days from 1970-01-01 to the given proleptic Gregorian date (month 1-12,
// day 1-31); negative before 1970.
constexpr long64 days_from_civil(long64 year, long64 month, long64 day) {
  const long64 y = year - (month <= 2 ? 1 : 0);
  const long64 era = (y >= 0 ? y : y - 399) / 400;
  const long64 yoe = y - era * 400;
  const long64 doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const long64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// Division rounded toward minus infinity, as calendar carries need.
constexpr long64 floor_div(long64 a, long64 b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// The calendar fields of a SYSTEMTIME-shaped record as a `tm` (month 0-11,
// year counted from 1900), everything else zero.
template <class Systemtime>
tm tm_fields_of(const Systemtime& st) {
  tm fields{};
  fields.tm_sec = st.wSecond;
  fields.tm_min = st.wMinute;
  fields.tm_hour = st.wHour;
  fields.tm_mday = st.wDay;
  fields.tm_mon = st.wMonth - 1;
  fields.tm_year = st.wYear - 1900;
  return fields;
}

// The date `days` after 1970-01-01 (month 1-12, day 1-31).
void civil_from_days(long64 days, long64& year, unsigned& month, unsigned& day);

bool is_leap_year(long64 year);

}  // namespace zq

// SYSTEMTIME's layout extended by the whole sub-second part of the instant in
// three further units.
struct systemtime_ex {
  uint16 wYear = 0;
  uint16 wMonth = 0;  // 1-12
  uint16 wDayOfWeek = 0;  // 0 = Sunday
  uint16 wDay = 0;
  uint16 wHour = 0;
  uint16 wMinute = 0;
  uint16 wSecond = 0;
  uint16 wMilliseconds = 0;
  uint64 microseconds = 0;
  uint64 nanoseconds = 0;
  uint64 picoseconds = 0;
};

// Calendar fields of `seconds` since 1970 moved by `zone` hours; false for a
// negative count (out untouched) or a year beyond the `tm` year field.
bool seconds_to_tm(long64 seconds, tm& out, float zone);
// With zone +9.5 hours; false also when the year passes 3000.
bool seconds_to_tm_shifted(long64 seconds, tm& out);
bool seconds_to_tm_utc(long64 seconds, tm& out);
bool filetime_to_tm_utc(uint64 filetime, tm& out);
bool filetime_to_tm_shifted(uint64 filetime, tm& out);

// UTC calendar fields and sub-second counters of a FILETIME; false for a
// FILETIME negative as a signed number (out untouched).
bool filetime_to_tm(uint64 filetime, systemtime_ex& out);
// The FILETIME read through a pointer; false for a null one. A template that
// takes only pointers to a FILETIME, so that a literal 0 is the FILETIME 0
// rather than an ambiguous null pointer.
template <class T, std::enable_if_t<std::is_same<std::remove_cv_t<T>, uint64>::value, int> = 0>
bool filetime_to_tm(T* filetime, systemtime_ex& out) {
  return filetime != nullptr && filetime_to_tm(*filetime, out);
}
// Calendar fields from the whole seconds of `filetime`, sub-second counters
// from `ticks` (a count of 100-ns ticks below one second).
bool filetime_to_tm_frac(uint64 filetime, double ticks, systemtime_ex& out);

// The fields normalised and counted from 1970, plus the 9.5-hour shift;
// false with all bits set for a year before 1970 or an overflow.
bool normalize_tm(const tm& fields, uint64& seconds);

// Unix seconds of a FILETIME; false (out untouched) for a FILETIME before
// 1970-01-01 00:00:00 UTC or negative as a signed number, which have no Unix
// seconds in this unsigned form.
bool filetime_to_unix(uint64 filetime, uint64& seconds);
bool filetime_to_unix(uint32 low, uint32 high, uint64& seconds);
bool unix_to_filetime(uint32 low, uint32 high, uint64& out);
// Base 1 copies, base 8 converts Unix seconds; false (out unchanged) else.
bool stamp_to_filetime(uint64& out, uint64 value, uint32 base);

bool firefox_to_filetime(long64 microseconds, uint64& out);
uint64 filetime_to_firefox(uint64 filetime);
bool chrome_to_filetime(uint64 microseconds, uint64& out);
uint64 filetime_to_chrome(uint64 filetime);

uint64 filetime_to_milliseconds(uint64 ticks);
uint64 milliseconds_to_filetime(uint64 ms);
uint64 filetime_to_seconds(uint64 ticks);
uint64 seconds_to_filetime(uint64 seconds);
uint64 filetime_to_minutes(uint64 ticks);
uint64 minutes_to_filetime(uint64 minutes);
uint64 filetime_add_ms(uint64 filetime, uint32 ms_low, uint32 ms_high);

// Absolute differences of two FILETIMEs; false when either is negative.
bool filetime_difference(long64 a, long64 b, uint64& out);
bool filetime_diff_seconds(long64 a, long64 b, uint64& out);
bool filetime_diff_microseconds(long64 a, long64 b, uint64& out);
bool filetime_diff_milliseconds(long64 a, long64 b, uint64& out);

// Small holders joining two 32-bit words into one 64-bit value.
uint64 u64_from_words(uint32 low, uint32 high);
bool set_u64(uint64& out, uint32 low, uint32 high);
bool set_u64(uint64* out, uint32 low, uint32 high);
// A holder with nothing to hold: always true.
bool calendar_stub();
