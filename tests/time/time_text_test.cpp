// Date and time texts into zq::time and SYSTEMTIME values.
#include <gtest/gtest.h>

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
  ASSERT_TRUE(zq::parse_tm(nullptr, "1:00pm", fields));
  EXPECT_EQ(fields.tm_hour, 13);
  EXPECT_FALSE(zq::parse_tm(nullptr, nullptr, fields));
}
