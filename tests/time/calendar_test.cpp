// The calendar conversions against an independent day count: every day from
// 1601 to 3000, leap years and the first and last representable instants.
#include <gtest/gtest.h>

#include <ctime>

#include "tests/time/time_fields.h"
#include "time/zq_time.h"

using namespace time_test;

namespace {

// Reference calendar: plain year and month loops, nothing shared with the
// library's arithmetic.
struct civil {
  int year, month, day, hour, minute, second;
};

bool ref_leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int ref_month_days(int y, int m) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && ref_leap(y) ? 29 : days[m - 1];
}

// Days from 1601-01-01, counted by walking years then months.
long long ref_days_1601(int y, int m, int d) {
  long long n = 0;
  for (int i = 1601; i < y; ++i) n += ref_leap(i) ? 366 : 365;
  for (int i = 1; i < m; ++i) n += ref_month_days(y, i);
  return n + d - 1;
}

unsigned long long ref_filetime(const civil& c) {
  const long long s = ref_days_1601(c.year, c.month, c.day) * 86400LL + c.hour * 3600LL +
                      c.minute * 60LL + c.second;
  return static_cast<unsigned long long>(s) * 10000000ULL;
}

}  // namespace

TEST(Calendar, EveryDayFrom1601To3000MatchesAnIndependentDayCount) {
  long long day_index = 0;  // days since 1601-01-01, a Monday
  int failures = 0;
  for (int y = 1601; y <= 3000 && failures < 5; ++y) {
    for (int m = 1; m <= 12; ++m) {
      for (int d = 1; d <= ref_month_days(y, m); ++d, ++day_index) {
        const int secs = static_cast<int>((day_index * 7919) % 86400);
        const civil c{y, m, d, secs / 3600, secs / 60 % 60, secs % 60};
        const std::string text = ymdhms(y, m, d, c.hour, c.minute, c.second);
        const unsigned long long ticks = static_cast<unsigned long long>(day_index % 10000000);
        const unsigned long long ft = ref_filetime(c) + ticks;
        const int dow = static_cast<int>((day_index + 1) % 7);

        systemtime_ex st;
        ASSERT_TRUE(filetime_to_tm(ft, st));
        EXPECT_EQ(fields_of(st), text);
        EXPECT_EQ(st.wDayOfWeek, dow) << text;
        EXPECT_EQ(st.wMilliseconds, ticks / 10000);
        EXPECT_EQ(st.nanoseconds, ticks * 100);

        // Calendar fields read back as UTC give the same instant.
        tm fields = make_tm(y, m, d, c.hour, c.minute, c.second);
        long64 unix_seconds = 0;
        const long long expect_unix = static_cast<long long>(ref_filetime(c) / 10000000ULL) - 11644473600LL;
        EXPECT_EQ(tm_to_unix_utc(fields, unix_seconds), expect_unix > 0);
        EXPECT_EQ(unix_seconds, expect_unix);
        EXPECT_TRUE(sizeof(time_t) < 8 || static_cast<long long>(timegm(&fields)) == expect_unix) << text;

        const zq::time t(ft, zq::type_filetime);
        const bool in_range = ft >= 116444736010000000ULL && ft <= zq::last_valid_filetime;
        EXPECT_EQ(t.m_valid, in_range ? 1 : 0) << text;
        if (in_range) {
          EXPECT_EQ(fields_of(t), text);
          EXPECT_EQ(t.m_st.wDayOfWeek, dow) << text;
          EXPECT_EQ(t.m_unix_time, static_cast<unsigned long long>(expect_unix));
          // The broken-down copy is the same instant 9.5 hours later.
          systemtime_ex shifted;
          ASSERT_TRUE(filetime_to_tm(ft + 34200ULL * 10000000ULL, shifted));
          EXPECT_EQ(fields_of(t.m_tm), fields_of(shifted));
          EXPECT_EQ(t.m_tm.tm_wday, shifted.wDayOfWeek);
          EXPECT_EQ(t.m_tm.tm_yday, ref_days_1601(shifted.wYear, shifted.wMonth, shifted.wDay) -
                                        ref_days_1601(shifted.wYear, 1, 1));
        }
        if (::testing::Test::HasFailure()) ++failures;
      }
    }
  }
}

TEST(Calendar, LeapYears) {
  for (int y : {1600, 2000, 2024, 2400}) EXPECT_TRUE(zq::is_leap_year(y)) << y;
  for (int y : {1601, 1700, 1900, 2023, 2100}) EXPECT_FALSE(zq::is_leap_year(y)) << y;
}

TEST(Calendar, ValidityBoundsAgreeWithTheDerivation) {
  // The constant-time test and the full derivation must agree on both sides
  // of each bound and across the range.
  EXPECT_EQ(zq::first_valid_filetime, 116444736010000000ULL);
  const civil last{3000, 12, 31, 14, 29, 59};
  EXPECT_EQ(zq::last_valid_filetime, ref_filetime(last) + 9999999ULL);
  const unsigned long long probes[] = {
      0, 1, 116444736000000000ULL, 116444736009999999ULL, 116444736010000000ULL, 116444736010000001ULL,
      zq::last_valid_filetime - 1, zq::last_valid_filetime, zq::last_valid_filetime + 1,
      ref_filetime(civil{3001, 1, 1, 0, 0, 0}), 0x7fffffffffffffffULL, 0x8000000000000000ULL,
      0xffffffffffffffffULL, 121493952000000000ULL, 157469184000000000ULL,
  };
  for (unsigned long long ft : probes)
    EXPECT_EQ(zq::is_valid_filetime(ft), zq::time(ft, zq::type_filetime).m_valid == 1) << ft;
  unsigned long long x = 88172645463325252ULL;
  for (int i = 0; i < 50000; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    const unsigned long long ft = x % 400000000000000000ULL;
    ASSERT_EQ(zq::is_valid_filetime(ft), zq::time(ft, zq::type_filetime).m_valid == 1) << ft;
  }
}

TEST(Calendar, SecondsToTmZoneAndRefusals) {
  tm out{};
  ASSERT_TRUE(seconds_to_tm(0, out, 9.5f));
  EXPECT_EQ(out.tm_hour * 60 + out.tm_min, 9 * 60 + 30);
  EXPECT_EQ(out.tm_wday, 4);
  out.tm_year = 42;
  EXPECT_FALSE(seconds_to_tm(-1, out, 0.0f));
  // A count far past any year a `tm` holds is refused, not looped over.
  EXPECT_FALSE(seconds_to_tm(0x7fffffffffffffffLL, out, 0.0f));
  EXPECT_EQ(out.tm_year, 42);

  // A reused tm keeps nothing of the zone it held: every conversion is UTC.
  static char zone_name[] = "CET";
  const struct {
    const char* what;
    bool (*convert)(tm&);
  } conversions[] = {
      {"seconds_to_tm", [](tm& t) { return seconds_to_tm(0, t, 9.5f); }},
      {"seconds_to_tm_utc", [](tm& t) { return seconds_to_tm_utc(86400, t); }},
      {"seconds_to_tm_shifted", [](tm& t) { return seconds_to_tm_shifted(86400, t); }},
      {"filetime_to_tm_utc", [](tm& t) { return filetime_to_tm_utc(116444736000000000ULL, t); }},
      {"filetime_to_tm_shifted", [](tm& t) { return filetime_to_tm_shifted(116444736000000000ULL, t); }},
  };
  for (const auto& c : conversions) {
    tm reused{};
    reused.tm_isdst = 1;
    reused.tm_gmtoff = 3600;
    reused.tm_zone = zone_name;
    ASSERT_TRUE(c.convert(reused)) << c.what;
    EXPECT_EQ(reused.tm_isdst, 0) << c.what;
    EXPECT_EQ(reused.tm_gmtoff, 0) << c.what;
    EXPECT_EQ(reused.tm_zone, nullptr) << c.what;
  }
}

TEST(Calendar, UnixSecondsOfFiletimes) {
  uint64 seconds = 77;
  // Before 1970 there are no unsigned Unix seconds: refused, not wrapped.
  for (uint64 ft : {0ULL, 116444735999999999ULL, 0x8000000000000000ULL}) {
    EXPECT_FALSE(filetime_to_unix(ft, seconds)) << ft;
    tm fields{};
    EXPECT_FALSE(filetime_to_tm_utc(ft, fields)) << ft;
    EXPECT_FALSE(filetime_to_tm_shifted(ft, fields)) << ft;
  }
  EXPECT_EQ(seconds, 77u);
  const uint64 one_second = 116444736019999999ULL;
  EXPECT_TRUE(filetime_to_unix(static_cast<uint32>(one_second), static_cast<uint32>(one_second >> 32), seconds));
  EXPECT_EQ(seconds, 1u);
  systemtime_ex st;
  EXPECT_FALSE(filetime_to_tm(0x8000000000000000ULL, st));
  ASSERT_TRUE(filetime_to_tm_frac(116444736000000000ULL, 1234567.0, st));
  EXPECT_TRUE(st.wMilliseconds == 123 && st.picoseconds == 123456700000ULL);
  EXPECT_FALSE(filetime_to_tm_frac(116444736000000000ULL, 1e300, st));
  EXPECT_EQ(filetime_to_firefox(116444736000000010ULL), 1u);
  uint64 out = 0;
  EXPECT_TRUE(filetime_diff_seconds(25000000, 0, out) && out == 2);
  EXPECT_FALSE(filetime_diff_seconds(-1, 0, out));
  EXPECT_EQ(out, 0u);
}

TEST(Calendar, FiletimeByValueAndByPointer) {
  systemtime_ex st;
  // A literal 0 is the FILETIME 0: 1601-01-01, a Monday.
  ASSERT_TRUE(filetime_to_tm(0, st));
  EXPECT_EQ(fields_of(st), "1601-01-01 00:00:00");
  EXPECT_EQ(st.wDayOfWeek, 1);
  const uint64 ft = 116444736012345678ULL;
  systemtime_ex through;
  ASSERT_TRUE(filetime_to_tm(&ft, through));
  EXPECT_EQ(fields_of(through), "1970-01-01 00:00:01");
  EXPECT_EQ(through.microseconds, 234567u);
  uint64 negative = 0x8000000000000000ULL;
  EXPECT_FALSE(filetime_to_tm(&negative, st));
  EXPECT_FALSE(filetime_to_tm(static_cast<const uint64*>(nullptr), st));
  // Refusals leave the fields as they were.
  EXPECT_EQ(fields_of(st), "1601-01-01 00:00:00");
  EXPECT_TRUE(calendar_stub());
}

TEST(Calendar, NormalizeTmCarriesAndRefusesBefore1970) {
  uint64 a = 0, b = 0;
  tm t = make_tm(1970, 1, 1);
  EXPECT_TRUE(normalize_tm(t, a) && a == 34200);
  t = make_tm(1969, 12, 31, 23, 59);
  EXPECT_FALSE(normalize_tm(t, a));
  EXPECT_EQ(a, ~0ULL);
  tm minutes = make_tm(2000, 1, 1, 0, 60), hours = make_tm(2000, 1, 1, 1, 0);
  ASSERT_TRUE(normalize_tm(minutes, a) && normalize_tm(hours, b));
  EXPECT_EQ(a, b);
  // Day 0 of March is the last of February.
  t = make_tm(2000, 3, 0);
  EXPECT_TRUE(normalize_tm(t, a) && a == 951782400u + 34200u);
}

// Expected values were computed once with Python's datetime (UTC) and
// written here as literals.
TEST(Calendar, ConversionsBetweenTimeBases) {
  tm t{};
  ASSERT_TRUE(seconds_to_tm_utc(951782400, t));
  EXPECT_EQ(fields_of(t), "2000-02-29 00:00:00");
  ASSERT_TRUE(seconds_to_tm_utc(4107542400LL, t));
  EXPECT_EQ(fields_of(t), "2100-03-01 00:00:00");
  ASSERT_TRUE(seconds_to_tm_shifted(0, t));
  EXPECT_EQ(fields_of(t), "1970-01-01 09:30:00");
  // 3000-12-31 14:29:59 UTC is the last second whose shifted calendar stays in 3000.
  ASSERT_TRUE(seconds_to_tm_shifted(32535181799LL, t));
  EXPECT_EQ(fields_of(t), "3000-12-31 23:59:59");
  EXPECT_FALSE(seconds_to_tm_shifted(32535181800LL, t));
  EXPECT_EQ(fields_of(t), "3000-12-31 23:59:59");
  EXPECT_FALSE(seconds_to_tm_utc(-1, t));

  uint64 out = 0;
  EXPECT_TRUE(unix_to_filetime(0, 1, out) && out == 159394408960000000ULL);  // 2106-02-07 06:28:16
  EXPECT_TRUE(stamp_to_filetime(out, 42, 1) && out == 42u);
  EXPECT_TRUE(stamp_to_filetime(out, 1, 8) && out == 116444736010000000ULL);
  EXPECT_FALSE(stamp_to_filetime(out, 1, 2));
  EXPECT_EQ(out, 116444736010000000ULL);
  // -1.5 s truncates toward zero in both parts: 1969-12-31 23:59:58.5.
  EXPECT_TRUE(firefox_to_filetime(-1500000, out) && out == 116444735985000000ULL);
  EXPECT_TRUE(firefox_to_filetime(1500000, out) && out == 116444736015000000ULL);
  EXPECT_TRUE(chrome_to_filetime(11644473601000000ULL, out) && out == 116444736010000000ULL);
  EXPECT_EQ(filetime_to_chrome(116444736010000009ULL), 11644473601000000ULL);
  // 2^32 + 1 milliseconds after 1970.
  EXPECT_EQ(filetime_add_ms(116444736000000000ULL, 1, 1), 116487685672970000ULL);

  const struct {
    bool (*fn)(long64, long64, uint64&);
    long64 a, b;
    bool ok;
    uint64 want;
  } diffs[] = {
      {filetime_difference, 5, 12, true, 7},           {filetime_difference, 12, 5, true, 7},
      {filetime_difference, -1, 5, false, 0},          {filetime_diff_microseconds, 0, 25, true, 2},
      {filetime_diff_microseconds, 25, 0, true, 2},    {filetime_diff_microseconds, 0, -3, false, 0},
      {filetime_diff_milliseconds, 25000000, 0, true, 2500}, {filetime_diff_milliseconds, -1, 0, false, 0},
  };
  for (const auto& d : diffs) {
    uint64 got = 99;
    EXPECT_EQ(d.fn(d.a, d.b, got), d.ok) << d.a << " " << d.b;
    if (d.ok || d.fn != filetime_difference) {
      EXPECT_EQ(got, d.want) << d.a << " " << d.b;
    }
  }
}
