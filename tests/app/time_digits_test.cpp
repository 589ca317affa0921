// The output forms' time digits agree with the time library's formatting at
// the edges of its valid range and across leap days and year ends.
#include "app/time_digits.h"

#include <gtest/gtest.h>

#include <string>

#include "time/time_format.h"
#include "time/zq_time.h"

TEST(TimeDigits, SameTextsAsTheTimeLibrary) {
  const ulong64 second = 10000000ull, day = 86400 * second;
  const ulong64 leap_day = 132274080000000000ull;  // 2020-02-29 00:00:00 UTC
  const ulong64 cases[] = {0,
                           zq::first_valid_filetime - 1,
                           zq::first_valid_filetime,
                           zq::first_valid_filetime + 9999,
                           leap_day - 1,
                           leap_day,
                           leap_day + day - 1,
                           leap_day + 306 * day + 12345678,  // 2020-12-31 and a fraction
                           zq::last_valid_filetime,
                           zq::last_valid_filetime + 1,
                           0x8000000000000000ull};
  for (ulong64 t : cases) {
    SCOPED_TRACE(t);
    const zq::time value(t, zq::type_filetime);
    systemtime_ex st;
    ASSERT_EQ(filetime_calendar(t, st), value.m_valid != 0);
    if (!value.m_valid) continue;
    std::string date, clock, secs_date, secs_clock;
    zq::format_time_ms(date, clock, value, false);
    zq::format_time_secs(secs_date, secs_clock, value, false);
    std::string long_date, short_date, with_ms, without_ms;
    append_date_digits(long_date, st);
    append_short_date_digits(short_date, st);
    append_clock_digits(with_ms, st, true);
    append_clock_digits(without_ms, st, false);
    EXPECT_EQ(long_date, date);
    EXPECT_EQ(with_ms, clock);
    EXPECT_EQ(without_ms, secs_clock);
    std::string streamed;
    append_time(streamed, value);
    EXPECT_EQ(short_date + " " + with_ms, streamed);
  }
}
