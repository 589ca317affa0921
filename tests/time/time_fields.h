#pragma once
// Shared by the time tests: FILETIME constants, calendar fields as a `tm`
// or a SYSTEMTIME, and any broken-down time as one comparable text.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "time/zq_time.h"

namespace time_test {

constexpr uint64 kEpoch = 116444736000000000ULL;  // 1970-01-01 as FILETIME
constexpr uint64 kSecond = 10000000ULL;
constexpr uint64 kJune = 132367023302500000ULL;  // 2020-06-15 13:45:30.250 UTC

inline tm make_tm(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

inline zq::_windows_systemtime make_st(int year, int month, int day, int hour = 0, int minute = 0,
                                       int second = 0, int ms = 0) {
  zq::_windows_systemtime st(static_cast<uint16>(second), static_cast<uint16>(minute),
                             static_cast<uint16>(hour), static_cast<uint16>(day),
                             static_cast<uint16>(month - 1), static_cast<uint16>(year - 1900));
  st.wMilliseconds = static_cast<uint16>(ms);
  return st;
}

inline std::string ymdhms(int year, int month, int day, int hour, int minute, int second) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
  return buf;
}

// "YYYY-MM-DD hh:mm:ss" of a SYSTEMTIME-like record or of a zq::time.
template <class St>
std::string fields_of(const St& st) {
  return ymdhms(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
}
inline std::string fields_of(const zq::time& t) { return fields_of(t.m_st); }
inline std::string fields_of(const tm& t) {
  return ymdhms(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
}

// Three host zones for the text tests, one a half-hour off the hour.
constexpr const char* kHostZones[] = {"America/St_Johns", "Asia/Kolkata", "Pacific/Kiritimati"};

// Sets the host's zone for its lifetime and restores the one before, so
// that any use of the host's zone shows in the texts under test.
class scoped_tz {
 public:
  explicit scoped_tz(const char* zone) {
    const char* tz = std::getenv("TZ");
    had_tz_ = tz != nullptr;
    old_tz_ = tz ? tz : "";
    setenv("TZ", zone, 1);
    tzset();
  }
  ~scoped_tz() {
    had_tz_ ? setenv("TZ", old_tz_.c_str(), 1) : unsetenv("TZ");
    tzset();
  }
  scoped_tz(const scoped_tz&) = delete;
  scoped_tz& operator=(const scoped_tz&) = delete;

 private:
  bool had_tz_ = false;
  std::string old_tz_;
};

}  // namespace time_test
