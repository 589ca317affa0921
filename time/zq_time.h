#pragma once
// zq::time: one instant held in every representation the writers read
// (Unix seconds, FILETIME, DOS date and time, broken-down time, SYSTEMTIME),
// all derived once from the FILETIME, with a flag saying whether the
// derivation succeeded. Valid instants run from 1970-01-01 00:00:01 to
// 3000-12-31 14:29:59.9999999 UTC.
//
// Including this header brings the whole time library: calendar, SYSTEMTIME
// record, formatting, raw scans and MACB grouping.
#include <sys/time.h>

#include <ctime>
#include <string>
#include <type_traits>

#include "time/calendar.h"
#include "time/systemtime.h"
#include "time/type_time.h"
#include "utils/types.h"

namespace zq {

// A FILETIME as Windows stores it: two 32-bit words, low first.
struct _windows_filetime {
  uint32 dwLowDateTime = 0;
  uint32 dwHighDateTime = 0;
};

// The valid FILETIMEs form one contiguous range; these bounds are what the
// derivation accepts, so testing a candidate costs two comparisons.
constexpr uint64 first_valid_filetime = unix_epoch_ticks + ticks_per_second;
constexpr uint64 last_valid_filetime =
    static_cast<uint64>(days_from_civil(3001, 1, 1) * seconds_per_day - tm_shift_seconds) *
        ticks_per_second +
    unix_epoch_ticks - 1;

// Exactly whether `time(filetime, type_filetime)` is valid.
constexpr bool is_valid_filetime(uint64 filetime) {
  return filetime - first_valid_filetime <= last_valid_filetime - first_valid_filetime;
}

class time {
 public:
  uint64 m_unix_time;
  uint64 m_filetime;  // the master value
  uint64 m_filetime_copy;
  uint16 m_dos_date;  // UTC, years 1980-2037 only, else 0
  uint16 m_dos_time;
  tm m_tm;  // the instant shifted forward by 9.5 hours
  systemtime_ex m_st;  // the UTC instant; what the writers print
  uint8 m_valid;

  // Every constructor starts from all zero and invalid.
  time();
  // Bases 1, 2, 4 and 8; any other base leaves the value invalid.
  time(uint64 value, type_time base);
  explicit time(uint32 unix_seconds);
  explicit time(const tm& fields);
  explicit time(const _windows_systemtime& st);
  time(uint16 dos_date, uint16 dos_time);
  explicit time(_windows_filetime filetime);
  time(uint64 filetime, double sub_second_ticks);
  // Base 8 only: seconds and microseconds since 1970.
  time(int32 seconds, int32 microseconds, type_time base);
  // The same pair as the record gettimeofday fills.
  time(const timeval& pair, type_time base);
  // A date text, optionally followed by one blank and a time of day, as UTC.
  explicit time(const char* text);
  // The stamp as text: hexadecimal for bases 1, 2, 4, decimal for base 8.
  time(std::string text, type_time kind);
  // An integer second argument would silently pick the sub-second form
  // above; a time base must be named.
  template <typename T, typename = std::enable_if_t<std::is_integral<T>::value>>
  time(uint64 value, T base) = delete;

  static time now();
  int clear();
  // Derives every representation from `filetime`; false leaves the value
  // invalid, with the fields set before the failing step kept.
  bool set_filetime(uint64 filetime);

  uint16 year() const { return m_st.wYear; }
  uint16 month() const { return m_st.wMonth; }
  uint16 day() const { return m_st.wDay; }
  uint16 hour() const { return m_st.wHour; }
  uint16 minute() const { return m_st.wMinute; }
  uint16 second() const { return m_st.wSecond; }
  uint16 milliseconds() const { return m_st.wMilliseconds; }
  long64 microseconds() const { return static_cast<long64>(m_st.microseconds); }
  long64 nanoseconds() const { return static_cast<long64>(m_st.nanoseconds); }

  // Each is a no-op on an invalid value; a result that cannot be derived
  // (or does not fit 64 bits) leaves the value invalid.
  void add_microseconds(int32 count);
  void add_milliseconds(int32 count);
  void add_seconds(int32 count);
  void add_minutes(int32 count);
  void add_hours(int32 count);
  void add_days(int32 count);
  void subtract_days(int32 count);
  void add_weeks(int32 count);
  // A month is 30 days.
  void add_months(int32 count);
  void add_time(const time& other);
  void subtract_time(const time& other);

 private:
  void add_ticks(long64 count, long64 unit);
  // Builds from Unix seconds: FILETIME set, then the shifted calendar
  // check; false leaves the value invalid.
  bool start_from_unix(long64 seconds);
  // Base 8 seconds that are not 0, then the microseconds added as ticks.
  void start_from_pair(long64 seconds, long64 microseconds, type_time base);
};

// Ordered by FILETIME as a signed number; the valid flag is not consulted.
bool operator<(const time& a, const time& b);
bool operator<=(const time& a, const time& b);
bool operator==(const time& a, const time& b);
bool operator>=(const time& a, const time& b);
bool operator>(const time& a, const time& b);
bool operator!=(const time& a, const time& b);

// DOS date and time of a FILETIME (UTC); false outside 1980-2037.
bool filetime_to_dos(uint64 filetime, uint16& dos_date, uint16& dos_time);

// A hexadecimal text of up to 16 digits: the last eight characters are the
// low word, any before them the high word, each read as a 32-bit strtoul
// reads base 16 (blanks, sign and "0x" accepted, saturating at 2^32 - 1).
uint64 parse_hex64(std::string text);

}  // namespace zq

#include "time/guid_time.h"
#include "time/macb.h"
#include "time/ntp.h"
#include "time/packed_times.h"
#include "time/text_forms.h"
#include "time/time_format.h"
#include "time/time_hits.h"
#include "time/time_scan.h"
#include "time/time_text.h"
