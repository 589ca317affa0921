// Dates and times of day read from short texts.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>

#include "utils/date_text_parse.h"

TEST(DateTextParse, MonthNames) {
  const struct {
    const char* name;
    int month;
  } rows[] = {{"September", 9}, {"sep", 9}, {"Ju", -1}, {"Junk", 6}, {"DEC", 12}, {"", -1}, {nullptr, -1}};
  for (const auto& r : rows) EXPECT_EQ(month_from_name(r.name), r.month) << (r.name ? r.name : "null");
}

struct date_row { const char* text; bool ok; uint32 day = 0, month = 0, year = 0; };

TEST(DateTextParse, Dates) {
  const date_row rows[] = {
      {"01/01/1986", true, 1, 1, 1986}, {"12-31-99", true, 31, 12, 1999},  {"5-Jan-2010", true, 5, 1, 2010},
      {"5/jan/10", true, 5, 1, 2010},   {"1/2/30", true, 2, 1, 2030},      {"1/2/31", true, 2, 1, 1931},
      {"1/2/3", true, 2, 1, 3},         {"1/2/03", true, 2, 1, 2003},      {"06/15/2020 13:45", true, 15, 6, 2020},
      {"06/15/20201", true, 15, 6, 2020},  // at most four year digits
      {"2010-01-05", false}, {"31/12/2009", false}, {"13/1/2000", false}, {"0/1/2000", false}, {"1/2/", false},
      {"1/2", false},        {"1.2.2000", false},   {"1/2/x2000", false}, {"1/1234/2000", false}, {nullptr, false},
  };
  for (const date_row& r : rows) {
    uint32 d = 0, m = 0, y = 0;
    EXPECT_EQ(parse_date(r.text, d, m, y), r.ok) << r.text;
    if (!r.ok) continue;
    EXPECT_EQ(d, r.day) << r.text;
    EXPECT_EQ(m, r.month) << r.text;
    EXPECT_EQ(y, r.year) << r.text;
  }
}

TEST(DateTextParse, DatesByOrder) {
  const struct { const char* order; char sep; date_row r; } rows[] = {
      {"ymd", '.', {"2010.05.06", true, 6, 5, 2010}}, {"DMY", '-', {"06-05-10", true, 6, 5, 2010}},
      {"DMY", '-', {"06-05-31", true, 6, 5, 1931}},   {"DMY", '/', {"0x1f/12/150", true, 31, 12, 150}},
      {"DMY", '-', {"1-2", false}},  {"DMX", '-', {"1-2-3", false}},  {"DM", '-', {"1-2-3", false}},
      {"DMY", '-', {"32-1-3", false}}, {"DMY", '-', {"a-1-3", false}},
  };
  for (const auto& row : rows) {
    const date_row& r = row.r;
    std::string order = row.order;
    uint32 d = 9, m = 9, y = 9;
    EXPECT_EQ(parse_date_by_order(r.text, order, row.sep, d, m, y), r.ok) << r.text;
    if (!r.ok) continue;
    EXPECT_EQ(d, r.day) << r.text;
    EXPECT_EQ(m, r.month) << r.text;
    EXPECT_EQ(y, r.year) << r.text;
    EXPECT_EQ(order[0], std::toupper(row.order[0])) << "the order is upper-cased in place";
  }
}

TEST(DateTextParse, TimesOfDay) {
  const struct {
    const char* text;
    bool ok;
    uint32 hours = 0, minutes = 0;
    double seconds = 0;
    uint32 ms = 0;  // parse_time_of_day_ms
  } rows[] = {
      {"10:30", true, 10, 30, 0, 37800000},          {"10:30:15.5", true, 10, 30, 15.5, 37815500},
      {"10:30:15.250", true, 10, 30, 15.25, 37815250}, {"10:30:15.0079", true, 10, 30, 15.0079, 37815007}, {" 10:30 pm ", true, 22, 30, 0, 81000000},
      {"10:30:15 PM", true, 22, 30, 15, 81015000},   {"12:00am", true, 0, 0, 0, 0},
      {"12:15 am", true, 0, 15, 0, 900000},          {"12:00 pm", true, 12, 0, 0, 43200000},
      {"1:00pm", true, 13, 0, 0, 46800000},          {"00:00:01", true, 0, 0, 1, 1000},
      {"23:59:59", true, 23, 59, 59, 86399000},      {"24:00:00", false}, {"13:00 pm", false}, {"1030", false},
      {"10:", false}, {"10:-5", false}, {"10:00000000000000000000000000000001", false}, {nullptr, false},
      // Decimals below a millisecond are dropped, however close to the next one.
      {"00:00:00.0069999999", true, 0, 0, 0.0069999999, 6}, {"00:00:01.9999999999", true, 0, 0, 1.9999999999, 1999},
      {"00:00:00.0009999999", true, 0, 0, 0.0009999999, 0},
      // Other notations go by their binary value: 1005e-3 lies just below 1.005.
      {"00:00:1005e-3", true, 0, 0, 1.005, 1004}, {"00:00:0x10", true, 0, 0, 16, 16000},
  };
  // Every millisecond typed comes back as typed, though most have no exact
  // binary form, at every second of the minute: how far a product lands
  // below the whole millisecond depends on the second as much as on the
  // fraction (10:30:01.001 is not 10:30:15.001).
  int wrong = 0;
  std::string first_wrong;
  for (int second = 0; second < 60; ++second) {
    for (int milli = 0; milli < 1000; ++milli) {
      char text[32];
      std::snprintf(text, sizeof text, "10:30:%02d.%03d", second, milli);
      uint32 ms = 0;
      const bool ok = parse_time_of_day_ms(text, ms);
      if (ok && ms == 37800000u + static_cast<uint32>(second * 1000 + milli)) continue;
      if (wrong++ == 0) first_wrong = std::string(text) + " gave " + std::to_string(ms);
    }
  }
  EXPECT_EQ(wrong, 0) << "first: " << first_wrong;
  for (const auto& r : rows) {
    uint32 h = 7, m = 7, ms = 7;
    double s = 7;
    EXPECT_EQ(parse_time_of_day(r.text, h, m, s), r.ok) << r.text;
    EXPECT_EQ(parse_time_of_day_ms(r.text, ms), r.ok) << r.text;
    if (!r.ok) continue;
    EXPECT_EQ(h, r.hours) << r.text;
    EXPECT_EQ(m, r.minutes) << r.text;
    EXPECT_DOUBLE_EQ(s, r.seconds) << r.text;
    EXPECT_EQ(ms, r.ms) << r.text;
    uint32 hi = 0, mi = 0, si = 0;
    ASSERT_TRUE(parse_time_of_day_int(r.text, hi, mi, si)) << r.text;
    EXPECT_EQ(si, static_cast<uint32>(r.seconds)) << r.text;
  }
}

TEST(DateTextParse, DecimalSecondsReadAsTyped) {
  const struct {
    const char* text;
    int places;
    bool exact;
    uint64 whole = 0, part = 0;
  } rows[] = {
      {"06.007", 3, true, 6, 7},          {"06.007", 7, true, 6, 70000},     {" +6.5pm", 1, true, 6, 5},
      {"\t.25", 2, true, 0, 25},         {"59.123456789", 7, true, 59, 1234567}, {"75", 0, true, 75, 0},
      {"6.", 3, true, 6, 0},              {"1e3", 3, false},                 {"0x10", 3, false},
      {"-0.5", 3, false},                 {".", 3, false},                   {"", 3, false},
      {"1000000000000000", 0, false},     {"999999999999999.5", 1, true, 999999999999999ULL, 5},
      {"1", 10, false},
  };
  for (const auto& r : rows) {
    const std::string text(r.text);
    double value = 7;
    uint64 whole = 7, part = 7;
    EXPECT_EQ(read_decimal_seconds(text.c_str(), r.places, value, whole, part), r.exact) << r.text;
    if (r.places <= 9) {
      EXPECT_EQ(value, std::strtod(text.c_str(), nullptr)) << r.text;
    }
    if (!r.exact) continue;
    EXPECT_EQ(whole, r.whole) << r.text;
    EXPECT_EQ(part, r.part) << r.text;
  }
}
