#pragma once
// Shared by the time tests: FILETIME constants, calendar fields as a `tm`,
// and any broken-down time as one comparable text.
#include <cstdio>
#include <ctime>
#include <string>

#include "time/zq_time.h"

namespace time_test {

constexpr uint64 kEpoch = 116444736000000000ULL;  // 1970-01-01 as FILETIME
constexpr uint64 kSecond = 10000000ULL;

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

}  // namespace time_test
