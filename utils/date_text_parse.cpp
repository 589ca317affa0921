#include "utils/date_text_parse.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "utils/number_parse.h"
#include "utils/trim_join.h"

namespace {

// The leading decimal digits of a field as a number (the field starts with
// a digit; fields here are at most four characters long).
uint32 leading_decimal(const std::string& field) {
  uint32 value = 0;
  for (char c : field) {
    if (!std::isdigit(static_cast<unsigned char>(c))) break;
    value = value * 10 + static_cast<uint32>(c - '0');
  }
  return value;
}

// The fields of a time-of-day text, and its 12-hour marker letter ('a',
// 'p', another letter, or 0 for none).
struct clock_text {
  std::string hours, minutes, seconds;
  bool has_seconds = false;
  char marker = 0;
};

bool split_clock(const char* text, clock_text& out) {
  std::string s(text);
  trim(s);
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string::size_type c1 = s.find(':');
  if (c1 == std::string::npos) return false;
  const std::string::size_type c2 = s.find(':', c1 + 1);
  std::string::size_type end = s.size();
  const std::string::size_type m = s.find('m', c1 + 1);
  if (m != std::string::npos) {
    out.marker = s[m - 1];
    end = m - 1;
    if (end > 0 && s[end - 1] == ' ') --end;
  }
  auto piece = [&s](std::string::size_type from, std::string::size_type to) {
    return to > from ? s.substr(from, to - from) : std::string();
  };
  out.hours = s.substr(0, c1);
  if (c2 == std::string::npos) {
    out.minutes = piece(c1 + 1, end);
  } else {
    out.minutes = piece(c1 + 1, c2);
    out.seconds = piece(c2 + 1, end);
    out.has_seconds = true;
  }
  return true;
}

// Hours on a 24-hour clock from the hours field and the marker: 12 am is 0,
// 12 pm stays 12, 1-11 pm gain 12. False for an hour outside 0-23 (or
// outside 0-12 with a marker).
bool clock_hours(const clock_text& f, double& hours) {
  hours = std::strtod(f.hours.c_str(), nullptr);
  if (!(hours >= 0.0 && hours < 24.0)) return false;
  if (f.marker == 'a' || f.marker == 'p') {
    if (hours >= 13.0) return false;
    if (std::trunc(hours) == 12.0) hours -= 12.0;
    if (f.marker == 'p') hours += 12.0;
  }
  return true;
}

// A field converted and truncated into 32 bits; false for what does not fit.
bool whole_number(double value, uint32& out) {
  if (!(value >= 0.0 && value < 4294967296.0)) return false;
  out = static_cast<uint32>(value);
  return true;
}

bool minutes_field_ok(const std::string& field) { return !field.empty() && field.size() <= 31; }

}  // namespace

int month_from_name(const char* text) {
  static const char* const names[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                        "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  if (!text) return -1;
  for (int i = 0; i < 12; ++i) {
    int k = 0;
    while (k < 3 && text[k] && std::toupper(static_cast<unsigned char>(text[k])) == names[i][k]) ++k;
    if (k == 3) return i + 1;
  }
  return -1;
}

bool parse_date(const char* text, uint32& day, uint32& month, uint32& year) {
  if (!text) return false;
  const std::string s(text, strnlen(text, 512));
  char sep = 0;
  if (s.find('-') != std::string::npos) sep = '-';
  else if (s.find('/') != std::string::npos) sep = '/';
  else return false;
  const std::string::size_type s1 = s.find(sep);
  const std::string::size_type s2 = s.find(sep, s1 + 1);
  if (s2 == std::string::npos) return false;
  const std::string first = s.substr(0, s1);
  const std::string second = s.substr(s1 + 1, s2 - s1 - 1);
  if (first.size() > 2 || second.size() > 3 || s2 + 1 >= s.size()) return false;

  auto is_digit = [](const std::string& f) {
    return !f.empty() && std::isdigit(static_cast<unsigned char>(f[0]));
  };
  const uint32 first_value = is_digit(first) ? leading_decimal(first)
                                             : static_cast<uint32>(month_from_name(first.c_str()));
  const bool month_first = is_digit(second);
  const uint32 second_value = month_first ? leading_decimal(second)
                                          : static_cast<uint32>(month_from_name(second.c_str()));

  year = 0;
  std::string year_text = s.substr(s2 + 1);
  year_text = year_text.substr(0, year_text.find(' ')).substr(0, 4);
  if (!is_digit(year_text)) return false;
  year = leading_decimal(year_text);
  if (year_text.size() == 2) year += year <= 30 ? 2000 : 1900;

  month = month_first ? first_value : second_value;
  day = month_first ? second_value : first_value;
  return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

bool parse_date_by_order(const char* text, std::string& order, char separator, uint32& day,
                         uint32& month, uint32& year) {
  day = month = year = 0;
  if (!text) return false;
  const std::string s(text);
  std::string fields[3];
  std::string::size_type from = 0;
  for (int i = 0; i < 3; ++i) {
    if (from > s.size()) return false;
    const std::string::size_type to = s.find(separator, from);
    fields[i] = s.substr(from, to == std::string::npos ? std::string::npos : to - from);
    from = to == std::string::npos ? s.size() + 1 : to + 1;
  }
  for (char& c : order) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (int i = 0; i < 3; ++i) {
    const char which = i < static_cast<int>(order.size()) ? order[i] : 0;
    uint32* target = which == 'D' ? &day : which == 'M' ? &month : which == 'Y' ? &year : nullptr;
    if (!target || !parse_uint32(fields[i], *target)) return false;
  }
  if (year <= 30) year += 2000;
  else if (year <= 99) year += 1900;
  return month <= 12 && day <= 31;
}

bool parse_time_of_day(const char* text, uint32& hours, uint32& minutes, double& seconds) {
  hours = minutes = 0;
  seconds = 0;
  clock_text f;
  if (!text || !split_clock(text, f)) return false;
  double h = 0;
  if (!clock_hours(f, h)) return false;
  hours = static_cast<uint32>(h);
  if (!minutes_field_ok(f.minutes) || !whole_number(std::strtod(f.minutes.c_str(), nullptr), minutes))
    return false;
  if (f.has_seconds) seconds = std::strtod(f.seconds.c_str(), nullptr);
  return true;
}

bool parse_time_of_day_int(const char* text, uint32& hours, uint32& minutes, uint32& seconds) {
  double s = 0;
  seconds = 0;
  return parse_time_of_day(text, hours, minutes, s) && whole_number(s, seconds);
}

bool parse_time_of_day_ms(const char* text, uint32& milliseconds) {
  milliseconds = 0;
  clock_text f;
  if (!text || !split_clock(text, f)) return false;
  if (!minutes_field_ok(f.hours)) return false;
  double h = 0;
  if (!clock_hours(f, h)) return false;
  if (!minutes_field_ok(f.minutes)) return false;
  const double minutes = std::strtod(f.minutes.c_str(), nullptr);
  double seconds = 0.0;
  uint64 whole = 0, milli = 0;
  const bool exact = f.has_seconds && read_decimal_seconds(f.seconds.c_str(), 3, seconds, whole, milli);
  if (!(minutes >= 0.0 && seconds >= 0.0)) return false;
  // A typed .007 is 0.00699999... in binary: truncating its product would
  // take off a millisecond the examiner typed.
  const double second_ms = exact ? static_cast<double>(whole) * 1000.0 + static_cast<double>(milli)
                                 : std::trunc(seconds * 1000.0);
  const double total = std::trunc(h * 3600000.0) + std::trunc(minutes * 60000.0) + second_ms;
  return whole_number(total, milliseconds);
}

bool read_decimal_seconds(const char* text, int places, double& value, uint64& whole, uint64& part) {
  whole = part = 0;
  value = 0.0;
  if (!text || places < 0 || places > 9) return false;
  char* end = nullptr;
  value = std::strtod(text, &end);
  const char* p = text;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  if (*p == '+') ++p;
  auto is_digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
  int digits = 0;
  for (; is_digit(*p); ++p, ++digits) {
    if (whole >= 100000000000000ULL) return false;
    whole = whole * 10 + static_cast<uint64>(*p - '0');
  }
  int read = 0;
  if (*p == '.')
    for (++p; is_digit(*p); ++p, ++digits)
      if (read < places) {
        part = part * 10 + static_cast<uint64>(*p - '0');
        ++read;
      }
  for (; read < places; ++read) part *= 10;
  // Where the conversion stopped tells whether it read these digits alone.
  return digits > 0 && p == end;
}
