#include "time/zq_time.h"

#include <sys/time.h>

#include <climits>
#include <cstring>

#include "utils/assertion.h"
#include "utils/number_parse.h"

namespace {

// count x unit as a 64-bit tick delta; false when it does not fit.
bool tick_delta(long64 count, long64 unit, long64& delta) {
  return !__builtin_mul_overflow(count, unit, &delta);
}

}  // namespace

namespace zq {

uint64 parse_hex64(std::string text) {
  if (text.size() <= 8) return to_u32(text.c_str(), 16);
  const size_t split = text.size() - 8;
  return (static_cast<uint64>(to_u32(text.substr(0, split).c_str(), 16)) << 32) |
         to_u32(text.c_str() + split, 16);
}

time::time(std::string text, type_time kind) {
  clear();
  switch (static_cast<uint32>(kind)) {
    case type_filetime:
    case type_chrome:
    case type_firefox:
      *this = time(parse_hex64(text), kind);
      return;
    case type_unix: {
      const long64 seconds = to_i32(text.c_str(), 10);
      if (seconds > 0) *this = time(static_cast<uint64>(seconds), type_unix);
      return;
    }
    // A base with no text reading is the caller's error, not the text's.
    case type_unused:
      assertion_failed("false", __FILE__, __LINE__, "zq::time::time(std::string, zq::type_time)");
    case type_dos:
    case type_ntp:
    case type_guid:
    case 0xFFFFFFFFu:
      assertion_failed("false", __FILE__, __LINE__, "zq::time::time(std::string, zq::type_time)");
    default:
      return;
  }
}

_windows_systemtime::_windows_systemtime(long64 value, type_time base) {
  if (base == type_unix) {
    tm fields{};
    if (!seconds_to_tm(value, fields, 0.0f)) return;
    wYear = static_cast<uint16>(fields.tm_year + 1900);
    wMonth = static_cast<uint16>(fields.tm_mon + 1);
    wDay = static_cast<uint16>(fields.tm_mday);
    wHour = static_cast<uint16>(fields.tm_hour);
    wMinute = static_cast<uint16>(fields.tm_min);
    wSecond = static_cast<uint16>(fields.tm_sec);
    wDayOfWeek = static_cast<uint16>(fields.tm_wday);
    return;
  }
  if (base == type_filetime) {
    // A negative FILETIME (top bit set) comes from damaged data as easily
    // as from a caller; it leaves the record all zero.
    if (value >= 0) filetime_to_systemtime(static_cast<uint64>(value), *this);
    return;
  }
  assertion_failed("false", __FILE__, __LINE__, "zq::_windows_systemtime::_windows_systemtime(long64, zq::type_time)");
}

time::time() { clear(); }

int time::clear() {
  std::memset(static_cast<void*>(this), 0, sizeof(*this));
  return 0;
}

bool time::start_from_unix(long64 seconds) {
  m_unix_time = static_cast<uint64>(seconds);
  m_filetime = static_cast<uint64>(seconds) * ticks_per_second + unix_epoch_ticks;
  if (seconds <= 0) {
    m_unix_time = 0;
    return false;
  }
  tm shifted{};
  return seconds_to_tm_shifted(seconds, shifted);
}

time::time(uint64 value, type_time base) {
  clear();
  uint64 filetime = 0;
  switch (base) {
    case type_filetime:
      filetime = value;
      break;
    case type_chrome:
      // A count whose ticks pass 64 bits would wrap onto an unrelated date.
      if (value > ULLONG_MAX / 10) return;
      filetime = value * 10;
      break;
    case type_firefox: {
      const long64 v = static_cast<long64>(value);
      const long64 seconds = v / 1000000;
      long64 ticks = 0;
      if (!tick_delta(seconds, static_cast<long64>(ticks_per_second), ticks)) return;
      filetime = static_cast<uint64>(ticks) + unix_epoch_ticks + static_cast<uint64>(v % 1000000) * 10;
      break;
    }
    case type_unix:
      if (!start_from_unix(static_cast<long64>(value))) return;
      filetime = m_filetime;
      break;
    default:
      return;
  }
  set_filetime(filetime);
}

time::time(uint32 unix_seconds) {
  clear();
  if (unix_seconds == 0) return;
  if (start_from_unix(unix_seconds)) set_filetime(m_filetime);
}

time::time(const tm& fields) {
  clear();
  m_tm = fields;
  long64 seconds = 0;
  if (tm_to_unix_utc(fields, seconds)) set_filetime(static_cast<uint64>(seconds) * ticks_per_second + unix_epoch_ticks);
}

time::time(const _windows_systemtime& st) {
  clear();
  const tm fields = tm_fields_of(st);
  m_tm = fields;
  long64 seconds = 0;
  if (tm_to_unix_utc(fields, seconds)) set_filetime(static_cast<uint64>(seconds) * ticks_per_second + unix_epoch_ticks);
}

time::time(uint16 dos_date, uint16 dos_time) {
  clear();
  const int day = dos_date & 31;
  const int month = (dos_date >> 5) & 15;
  const int year = 1980 + (dos_date >> 9);
  const int second = (dos_time & 31) * 2;
  const int minute = (dos_time >> 5) & 63;
  const int hour = dos_time >> 11;
  if (day < 1 || month < 1 || month > 12 || second >= 60 || minute >= 60 || hour >= 24) return;
  tm fields{};
  fields.tm_sec = second;
  fields.tm_min = minute;
  fields.tm_hour = hour;
  fields.tm_mday = day;
  fields.tm_mon = month - 1;
  fields.tm_year = year - 1900;
  long64 seconds = 0;
  if (tm_to_unix_utc(fields, seconds)) set_filetime(static_cast<uint64>(seconds) * ticks_per_second + unix_epoch_ticks);
}

time::time(_windows_filetime filetime) {
  clear();
  set_filetime(u64_from_words(filetime.dwLowDateTime, filetime.dwHighDateTime));
}

time::time(uint64 filetime, double sub_second_ticks) {
  clear();
  if (filetime == 0) return;
  // Only a count inside one second is a sub-second part; anything else
  // would not fit the tick count it is added to.
  if (!(sub_second_ticks >= 0.0 && sub_second_ticks < static_cast<double>(ticks_per_second))) return;
  m_filetime = filetime + static_cast<uint64>(sub_second_ticks);
  if (static_cast<long64>(m_filetime) < 0) return;
  if (!filetime_to_unix(m_filetime, m_unix_time) || m_unix_time == 0) return;
  tm shifted{};
  if (!seconds_to_tm_shifted(static_cast<long64>(m_unix_time), shifted)) return;
  m_tm = shifted;
  if (!filetime_to_tm_frac(filetime, sub_second_ticks, m_st)) return;
  m_filetime_copy = m_filetime;
  filetime_to_dos(m_filetime, m_dos_date, m_dos_time);
  m_valid = 1;
}

time::time(int32 seconds, int32 microseconds, type_time base) {
  clear();
  start_from_pair(seconds, microseconds, base);
}

time::time(const timeval& pair, type_time base) {
  clear();
  start_from_pair(static_cast<long64>(pair.tv_sec), static_cast<long64>(pair.tv_usec), base);
}

void time::start_from_pair(long64 seconds, long64 microseconds, type_time base) {
  if (base != type_unix || seconds == 0) return;
  // A record with 64-bit words can hold a count whose ticks pass 64 bits;
  // such a pair names no instant.
  if (microseconds > LLONG_MAX / 10 || microseconds < -(LLONG_MAX / 10)) return;
  if (!start_from_unix(seconds) || !set_filetime(m_filetime)) return;
  set_filetime(m_filetime + static_cast<uint64>(microseconds * 10));
}

time time::now() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  const uint64 filetime = static_cast<uint64>(tv.tv_sec) * ticks_per_second +
                          static_cast<uint64>(tv.tv_usec) * 10 + unix_epoch_ticks;
  return time(filetime, type_filetime);
}

bool time::set_filetime(uint64 filetime) {
  m_valid = 0;
  if (filetime == 0) return false;
  m_filetime = filetime;
  if (static_cast<long64>(filetime) < 0) return false;
  uint64 seconds = 0;
  if (!filetime_to_unix(filetime, seconds)) return false;
  m_unix_time = seconds;
  if (seconds == 0) return false;
  tm shifted{};
  if (!seconds_to_tm_shifted(static_cast<long64>(seconds), shifted)) return false;
  m_tm = shifted;
  filetime_to_tm(filetime, m_st);
  m_filetime_copy = filetime;
  filetime_to_dos(filetime, m_dos_date, m_dos_time);
  m_valid = 1;
  return true;
}

void time::add_ticks(long64 count, long64 unit) {
  if (!m_valid) return;
  long64 delta = 0;
  long64 result = 0;
  if (!tick_delta(count, unit, delta) ||
      __builtin_add_overflow(static_cast<long64>(m_filetime), delta, &result)) {
    m_valid = 0;
    return;
  }
  set_filetime(static_cast<uint64>(result));
}

void time::add_microseconds(int32 count) { add_ticks(count, 10); }
void time::add_milliseconds(int32 count) { add_ticks(count, 10000); }
void time::add_seconds(int32 count) { add_ticks(count, 10000000); }
void time::add_minutes(int32 count) { add_ticks(count, 600000000LL); }
void time::add_hours(int32 count) { add_ticks(count, 36000000000LL); }
void time::add_days(int32 count) { add_ticks(count, 864000000000LL); }
void time::subtract_days(int32 count) { add_ticks(-static_cast<long64>(count), 864000000000LL); }
void time::add_weeks(int32 count) { add_ticks(count, 6048000000000LL); }
void time::add_months(int32 count) { add_ticks(count, 25920000000000LL); }
void time::add_time(const time& other) { add_ticks(static_cast<long64>(other.m_filetime), 1); }
void time::subtract_time(const time& other) {
  // Negating the most negative tick count does not fit; it is simply a
  // result outside every valid time.
  if (static_cast<long64>(other.m_filetime) == LLONG_MIN) {
    if (m_valid) m_valid = 0;
    return;
  }
  add_ticks(-static_cast<long64>(other.m_filetime), 1);
}

bool operator<(const time& a, const time& b) {
  return static_cast<long64>(a.m_filetime) < static_cast<long64>(b.m_filetime);
}
bool operator<=(const time& a, const time& b) { return !(b < a); }
bool operator==(const time& a, const time& b) { return a.m_filetime == b.m_filetime; }
bool operator>=(const time& a, const time& b) { return !(a < b); }
bool operator>(const time& a, const time& b) { return b < a; }
bool operator!=(const time& a, const time& b) { return !(a == b); }

bool filetime_to_dos(uint64 filetime, uint16& dos_date, uint16& dos_time) {
  systemtime_ex st;
  if (!filetime_to_tm(filetime, st)) return false;
  if (st.wYear < 1980 || st.wYear > 2037) return false;
  dos_date = static_cast<uint16>(((st.wYear - 1980) << 9) | ((st.wMonth & 15) << 5) | (st.wDay & 31));
  // DOS keeps seconds in 2-second steps. An odd second counts as the next
  // even one, except 59: second 60 does not exist and carrying it would
  // move the minute, so it becomes 58.
  unsigned half = st.wSecond / 2u;
  if (st.wSecond % 2 && st.wSecond < 59) ++half;
  dos_time = static_cast<uint16>((st.wHour << 11) | ((st.wMinute & 63) << 5) | (half & 31));
  return true;
}

}  // namespace zq
