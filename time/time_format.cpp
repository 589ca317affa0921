#include "time/time_format.h"

#include <cstdio>
#include <locale>
#include <sstream>

#include "utils/locale_select.h"

namespace {

std::string locale_date(const std::string& locale_name, const systemtime_ex& st) {
  tm fields = zq::tm_fields_of(st);
  std::ostringstream text;
  text.imbue(std::locale(locale_name.c_str()));
  const auto& facet = std::use_facet<std::time_put<char>>(text.getloc());
  facet.put(std::ostreambuf_iterator<char>(text), text, ' ', &fields, 'x');
  return text.str();
}

int short_year(int year) { return year >= 2000 ? year - 2000 : year - 1900; }

// The text a stream writer puts for `t`.
std::string stream_text(const zq::time& t, bool with_fraction) {
  if (!t.m_valid) return "00/00/00 00:00:00";
  std::string date, clock;
  zq::format_time(date, clock, t, with_fraction, true, false, false);
  return date + " " + clock;
}

}  // namespace

namespace zq {

void format_time(std::string& date, std::string& time, const zq::time& t, bool with_fraction,
                 bool two_digit_year, bool use_locale, bool nanoseconds) {
  date.clear();
  time.clear();
  if (!t.m_valid) return;
  const systemtime_ex& st = t.m_st;
  char buf[64];
  std::string locale_name;
  if (use_locale && locale_from_env(locale_name)) {
    date = locale_date(locale_name, st);
  } else if (two_digit_year) {
    std::snprintf(buf, sizeof buf, "%02d/%02d/%02d", st.wMonth, st.wDay, short_year(st.wYear));
    date = buf;
  } else {
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", st.wMonth, st.wDay, st.wYear);
    date = buf;
  }
  if (!with_fraction) {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", st.wHour, st.wMinute, st.wSecond);
  } else if (!nanoseconds) {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", st.wHour, st.wMinute, st.wSecond,
                  st.wMilliseconds);
  } else {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%09lld", st.wHour, st.wMinute, st.wSecond,
                  static_cast<long long>(st.nanoseconds));
  }
  time = buf;
}

void format_time_ms(std::string& date, std::string& time, const zq::time& t, bool use_locale) {
  format_time(date, time, t, true, false, use_locale, false);
}

void format_time_secs(std::string& date, std::string& time, const zq::time& t, bool use_locale) {
  format_time(date, time, t, false, false, use_locale, false);
}

void format_time_ms_w(std::wstring& date, std::wstring& time, const zq::time& t, bool use_locale) {
  date.clear();
  time.clear();
  std::string narrow_date, narrow_time;
  format_time_ms(narrow_date, narrow_time, t, use_locale);
  for (unsigned char c : narrow_date) date.push_back(static_cast<wchar_t>(c));
  for (unsigned char c : narrow_time) time.push_back(static_cast<wchar_t>(c));
}

std::ostream& write_time(std::ostream& os, zq::time t) {
  const std::string text = stream_text(t, true);
  return os.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::ostream& operator<<(std::ostream& os, zq::time t) { return write_time(os, t); }

std::ostream& write_time_secs(std::ostream& os, zq::time t) {
  const std::string text = stream_text(t, false);
  return os.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::ostream& write_filetime(std::ostream& os, uint32 low, uint32 high) {
  return write_time(os, zq::time(u64_from_words(low, high), type_filetime));
}

std::string& append_time(std::string& out, zq::time t) { return out += stream_text(t, true); }

std::wostream& operator<<(std::wostream& os, zq::time t) {
  for (unsigned char c : stream_text(t, true)) os.put(static_cast<wchar_t>(c));
  return os;
}

std::string format_hex64(uint32 low, uint32 high) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%08x%08x", high, low);
  return buf;
}

}  // namespace zq
