// Date and time texts into zq::time and SYSTEMTIME values.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/time/time_fields.h"
#include "time/zq_time.h"

using namespace time_test;

TEST(TimeText, TextConstructor) {
  struct row {
    const char* text;
    bool valid;
    uint64 filetime;
  };
  const row rows[] = {
      {"01/01/1986", true, 121493952000000000ULL},
      {"01/01/2100", true, 157469184000000000ULL},
      {"06/15/2020 13:45:30.25", true, kEpoch + 1592228730ULL * kSecond + 2500000},
      {"06/15/2020 1:45:30 pm", true, kEpoch + 1592228730ULL * kSecond},
      {"06/15/2020 12:00 am", true, kEpoch + (1592228730ULL - 13 * 3600 - 45 * 60 - 30) * kSecond},
      {"06/15/2020 12:00 pm", true, kEpoch + (1592228730ULL - 3600 - 45 * 60 - 30) * kSecond},
      // A blank but no colon: the date alone.
      {"06/15/2020 13", true, kEpoch + (1592228730ULL - 13 * 3600 - 45 * 60 - 30) * kSecond},
      // A colon but no blank: no time of day is read.
      {"06/15/2020T13:45", true, kEpoch + (1592228730ULL - 13 * 3600 - 45 * 60 - 30) * kSecond},
      // Hour 24 is refused rather than read as midnight of the same day.
      {"06/15/2020 24:00:00", false, 0},
      {"06/15/2020 10:", false, 0},
      {"2020-06-15", false, 0},
      {"13/01/2000", false, 0},
      {"01/01/1970", false, 0},
      {"01/01/1970 00:00:01", true, kEpoch + kSecond},
      {"", false, 0},
  };
  for (const row& r : rows) {
    const zq::time t(r.text);
    EXPECT_EQ(t.m_valid, r.valid ? 1 : 0) << r.text;
    if (r.valid) {
      EXPECT_EQ(t.m_filetime, r.filetime) << r.text;
      EXPECT_EQ(t.m_filetime_copy, r.filetime) << r.text;
    }
  }
  EXPECT_EQ(zq::time(static_cast<const char*>(nullptr)).m_valid, 0);
  EXPECT_EQ(zq::time("06/15/2020 13:45:30.25").milliseconds(), 250);
}

TEST(TimeText, ParseSystemtime) {
  zq::_windows_systemtime st;
  ASSERT_TRUE(zq::parse_systemtime("12-31-99", "10:30:15", st));
  EXPECT_EQ(fields_of(st), "1999-12-31 10:30:15");
  ASSERT_TRUE(zq::parse_systemtime("5-Jan-2010", nullptr, st));
  EXPECT_EQ(fields_of(st), "2010-01-05 00:00:00");
  ASSERT_TRUE(zq::parse_systemtime(nullptr, "01:02:03", st));
  EXPECT_EQ(fields_of(st), "0000-00-00 01:02:03");
  EXPECT_FALSE(zq::parse_systemtime(nullptr, nullptr, st));
  // A failed parse leaves the record as it was; hour 24 is no hour.
  EXPECT_FALSE(zq::parse_systemtime("13/01/2000", "01:02:03", st));
  EXPECT_FALSE(zq::parse_systemtime("01/01/2000", "24:00", st));
  EXPECT_EQ(fields_of(st), "0000-00-00 01:02:03");

  ASSERT_TRUE(zq::parse_systemtime_w(L"06/15/2020", L"", st));
  EXPECT_EQ(fields_of(st), "2020-06-15 00:00:00");
  EXPECT_FALSE(zq::parse_systemtime_w(L"", L"", st));
  EXPECT_FALSE(zq::parse_systemtime_w(nullptr, nullptr, st));
  EXPECT_FALSE(zq::parse_systemtime_w(L"06/15/2020", L"x", st));
  ASSERT_TRUE(zq::parse_systemtime_by_order("2010.05.06", nullptr, "ymd", '.', st));
  EXPECT_EQ(fields_of(st), "2010-05-06 00:00:00");
  EXPECT_FALSE(zq::parse_systemtime_by_order("1-2", nullptr, "DMY", '-', st));

  tm fields{};
  ASSERT_TRUE(zq::parse_tm("06/15/2020", "01:02:03", fields));
  EXPECT_EQ(fields_of(fields), "2020-06-15 01:02:03");
  // Decimals short of the next second leave the time in this one.
  ASSERT_TRUE(zq::parse_tm("06/15/2020", "23:59:59.9999999999", fields));
  EXPECT_EQ(fields_of(fields), "2020-06-15 23:59:59");
  ASSERT_TRUE(zq::parse_tm(nullptr, "1:00pm", fields));
  EXPECT_EQ(fields.tm_hour, 13);
  EXPECT_FALSE(zq::parse_tm(nullptr, nullptr, fields));
}

TEST(TimeText, TypedFractionsComeBackAsTyped) {
  // 2003-01-02 04:05:06 UTC is Unix second 1041480306.
  const uint64 base = kEpoch + 1041480306ULL * kSecond;
  for (int ms = 0; ms < 1000; ++ms) {
    char text[40];
    std::snprintf(text, sizeof text, "01/02/2003 04:05:06.%03d", ms);
    const zq::time t(text);
    ASSERT_EQ(t.m_valid, 1) << text;
    EXPECT_EQ(t.m_filetime, base + static_cast<uint64>(ms) * 10000) << text;
    EXPECT_EQ(t.milliseconds(), ms) << text;
    std::string date, time;
    zq::format_time_ms(date, time, t, false);
    char want[20];
    std::snprintf(want, sizeof want, "04:05:06.%03d", ms);
    EXPECT_EQ(time, want) << text;
  }
  const struct {
    const char* text;
    uint64 filetime;
  } rows[] = {
      {"01/02/2003 04:05:06.000001", base + 10},
      {"01/02/2003 04:05:06.123456", base + 1234560},
      {"01/02/2003 04:05:06.1234567", base + 1234567},
      {"01/02/2003 04:05:06.9999999", base + 9999999},
      // Decimals past the seventh are below one tick and dropped, never
      // rounded up into the next second.
      {"01/02/2003 04:05:06.99999999", base + 9999999},
      {"01/02/2003 04:05:06.", base},
      {"01/02/2003 04:05:.5", base - 6 * kSecond + 5000000},
      {"01/02/2003 4:05:06.007 pm", base + 12 * 3600 * kSecond + 70000},
      {"01/02/2003 04:05:59.999", base + 53 * kSecond + 9990000},
      // Written with an exponent: the parsed value, to the nearest tick.
      {"01/02/2003 04:05:6007e-3", base + 70000},
      {"01/02/2003 04:05:0.0000001e1", base - 6 * kSecond + 10},
      {"01/02/2003 04:05:0.0000009e1", base - 6 * kSecond + 90},
  };
  for (const auto& r : rows) {
    const zq::time t(r.text);
    ASSERT_EQ(t.m_valid, 1) << r.text;
    EXPECT_EQ(t.m_filetime, r.filetime) << r.text;
  }
}
