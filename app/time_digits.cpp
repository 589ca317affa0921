#include "app/time_digits.h"

#include "time/zq_time.h"
#include "utils/number_append.h"

namespace {

void append_two(std::string& out, unsigned value) { append_decimal_padded(out, value, 2); }

}  // namespace

bool filetime_calendar(ulong64 filetime, systemtime_ex& st) {
  return zq::is_valid_filetime(filetime) && filetime_to_tm(filetime, st);
}

void append_date_digits(std::string& out, const systemtime_ex& st) {
  append_two(out, st.wMonth);
  out.push_back('/');
  append_two(out, st.wDay);
  out.push_back('/');
  append_decimal_padded(out, st.wYear, 4);
}

void append_short_date_digits(std::string& out, const systemtime_ex& st) {
  append_two(out, st.wMonth);
  out.push_back('/');
  append_two(out, st.wDay);
  out.push_back('/');
  append_two(out, st.wYear >= 2000 ? st.wYear - 2000u : st.wYear - 1900u);
}

void append_clock_digits(std::string& out, const systemtime_ex& st, bool milliseconds) {
  append_two(out, st.wHour);
  out.push_back(':');
  append_two(out, st.wMinute);
  out.push_back(':');
  append_two(out, st.wSecond);
  if (!milliseconds) return;
  out.push_back('.');
  append_decimal_padded(out, st.wMilliseconds, 3);
}
