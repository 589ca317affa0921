// Dates and times of day read from short texts.
#include <gtest/gtest.h>

#include <string>

#include "utils/date_text_parse.h"

TEST(DateTextParse, MonthNames) {
  EXPECT_EQ(month_from_name("September"), 9);
  EXPECT_EQ(month_from_name("sep"), 9);
  EXPECT_EQ(month_from_name("Ju"), -1);
  EXPECT_EQ(month_from_name("Junk"), 6);
  EXPECT_EQ(month_from_name("DEC"), 12);
  EXPECT_EQ(month_from_name(""), -1);
  EXPECT_EQ(month_from_name(nullptr), -1);
}

TEST(DateTextParse, Dates) {
  struct row {
    const char* text;
    bool ok;
    uint32 day, month, year;
  };
  const row rows[] = {
      {"01/01/1986", true, 1, 1, 1986},
      {"12-31-99", true, 31, 12, 1999},
      {"5-Jan-2010", true, 5, 1, 2010},
      {"5/jan/10", true, 5, 1, 2010},
      {"1/2/30", true, 2, 1, 2030},
      {"1/2/31", true, 2, 1, 1931},
      {"1/2/3", true, 2, 1, 3},
      {"1/2/03", true, 2, 1, 2003},
      {"06/15/2020 13:45", true, 15, 6, 2020},
      {"06/15/20201", true, 15, 6, 2020},  // at most four year digits
      {"2010-01-05", false, 0, 0, 0},
      {"31/12/2009", false, 0, 0, 0},
      {"13/1/2000", false, 0, 0, 0},
      {"0/1/2000", false, 0, 0, 0},
      {"1/2/", false, 0, 0, 0},
      {"1/2", false, 0, 0, 0},
      {"1.2.2000", false, 0, 0, 0},
      {"1/2/x2000", false, 0, 0, 0},
      {"1/1234/2000", false, 0, 0, 0},
  };
  for (const row& r : rows) {
    uint32 d = 0, m = 0, y = 0;
    EXPECT_EQ(parse_date(r.text, d, m, y), r.ok) << r.text;
    if (!r.ok) continue;
    EXPECT_EQ(d, r.day) << r.text;
    EXPECT_EQ(m, r.month) << r.text;
    EXPECT_EQ(y, r.year) << r.text;
  }
  uint32 d = 0, m = 0, y = 0;
  EXPECT_FALSE(parse_date(nullptr, d, m, y));
}

TEST(DateTextParse, DatesByOrder) {
  struct row {
    const char* text;
    const char* order;
    char sep;
    bool ok;
    uint32 day, month, year;
  };
  const row rows[] = {
      {"2010.05.06", "ymd", '.', true, 6, 5, 2010},
      {"06-05-10", "DMY", '-', true, 6, 5, 2010},
      {"06-05-31", "DMY", '-', true, 6, 5, 1931},
      {"0x1f/12/150", "DMY", '/', true, 31, 12, 150},
      {"1-2", "DMY", '-', false, 0, 0, 0},
      {"1-2-3", "DMX", '-', false, 0, 0, 0},
      {"1-2-3", "DM", '-', false, 0, 0, 0},
      {"32-1-3", "DMY", '-', false, 0, 0, 0},
      {"a-1-3", "DMY", '-', false, 0, 0, 0},
  };
  for (const row& r : rows) {
    std::string order = r.order;
    uint32 d = 9, m = 9, y = 9;
    EXPECT_EQ(parse_date_by_order(r.text, order, r.sep, d, m, y), r.ok) << r.text;
    if (!r.ok) continue;
    EXPECT_EQ(d, r.day) << r.text;
    EXPECT_EQ(m, r.month) << r.text;
    EXPECT_EQ(y, r.year) << r.text;
  }
  std::string order = "ymd";
  uint32 d, m, y;
  parse_date_by_order("2010.05.06", order, '.', d, m, y);
  EXPECT_EQ(order, "YMD");
}

TEST(DateTextParse, TimesOfDay) {
  struct row {
    const char* text;
    bool ok;
    uint32 hours, minutes;
    double seconds;
    uint32 ms;  // parse_time_of_day_ms
  };
  const row rows[] = {
      {"10:30", true, 10, 30, 0, 37800000},
      {"10:30:15.5", true, 10, 30, 15.5, 37815500},
      {"10:30:15.250", true, 10, 30, 15.25, 37815250},
      {" 10:30 pm ", true, 22, 30, 0, 81000000},
      {"10:30:15 PM", true, 22, 30, 15, 81015000},
      {"12:00am", true, 0, 0, 0, 0},
      {"12:15 am", true, 0, 15, 0, 900000},
      {"12:00 pm", true, 12, 0, 0, 43200000},
      {"1:00pm", true, 13, 0, 0, 46800000},
      {"00:00:01", true, 0, 0, 1, 1000},
      {"23:59:59", true, 23, 59, 59, 86399000},
      {"24:00:00", false, 0, 0, 0, 0},
      {"13:00 pm", false, 0, 0, 0, 0},
      {"1030", false, 0, 0, 0, 0},
      {"10:", false, 0, 0, 0, 0},
      {"10:-5", false, 0, 0, 0, 0},
      {"10:00000000000000000000000000000001", false, 0, 0, 0, 0},
  };
  for (const row& r : rows) {
    uint32 h = 7, m = 7;
    double s = 7;
    EXPECT_EQ(parse_time_of_day(r.text, h, m, s), r.ok) << r.text;
    uint32 ms = 7;
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
  uint32 h, m, ms;
  double s;
  EXPECT_FALSE(parse_time_of_day(nullptr, h, m, s));
  EXPECT_FALSE(parse_time_of_day_ms(nullptr, ms));
}
