// zq::time construction from every base, the DOS fields, the arithmetic, and
// the constructors from calendar fields.
#include <gtest/gtest.h>
#include <sys/time.h>

#include <climits>

#include "tests/time/time_fields.h"
#include "time/zq_time.h"

using namespace time_test;

namespace {
// 2020-01-01 00:00:00 UTC
constexpr uint64 k2020 = kEpoch + 1577836800ULL * kSecond;
}  // namespace

TEST(ZqTime, RawStampsInEachBase) {
  struct row {
    uint64 value;
    zq::type_time base;
    uint64 filetime;  // 0: not a valid time
  } rows[] = {
      {0, zq::type_filetime, 0}, {0x8000000000000000ULL, zq::type_filetime, 0}, {kEpoch, zq::type_filetime, 0},
      {kEpoch + kSecond - 1, zq::type_filetime, 0}, {kEpoch + kSecond, zq::type_filetime, kEpoch + kSecond},
      {94354848000000000ULL, zq::type_filetime, 0},  // 1900
      // Unix seconds before 1970 (-1 here) are no time at all.
      {0, zq::type_unix, 0}, {static_cast<uint64>(-1), zq::type_unix, 0}, {1, zq::type_unix, kEpoch + kSecond},
      {1000000, zq::type_firefox, kEpoch + kSecond}, {1500000, zq::type_firefox, kEpoch + kSecond + 5000000},
      {static_cast<uint64>(-1000000), zq::type_firefox, 0},
      // A count whose ticks would pass 64 bits must not wrap onto a date.
      {0x7fffffffffffffffULL, zq::type_firefox, 0},
      {11644473601000000ULL, zq::type_chrome, kEpoch + kSecond},
      {0x199999999999999AULL + 11644473601000000ULL, zq::type_chrome, 0},
      {k2020, zq::type_unused, 0}, {k2020, zq::type_dos, 0}, {k2020, zq::type_ntp, 0}, {k2020, zq::type_guid, 0},
  };
  for (const row& r : rows) {
    const zq::time t(r.value, r.base);
    EXPECT_EQ(t.m_valid, r.filetime ? 1 : 0) << r.value << " base " << r.base;
    EXPECT_TRUE(!r.filetime || (t.m_filetime == r.filetime && t.m_filetime_copy == r.filetime)) << r.value;
  }
  // Unix -1 leaves no Unix seconds behind; unsupported bases leave all zero.
  EXPECT_EQ(zq::time(static_cast<uint64>(-1), zq::type_unix).m_unix_time, 0u);
  EXPECT_EQ(zq::time(k2020, zq::type_ntp).m_filetime, 0u);
}

TEST(ZqTime, DosFieldsOnlyFrom1980To2037AndNeverSecond60) {
  struct row {
    int year, hour, minute, second;
    int dos_seconds_field;  // -1: no DOS fields
  } rows[] = {
      {2037, 12, 34, 58, 29},
      {2037, 12, 34, 57, 29},  // odd: counts as the next even second
      {2037, 12, 34, 59, 29},  // but never as second 60
      {2037, 12, 34, 1, 1},   {1980, 0, 0, 0, 0}, {2038, 0, 0, 0, -1}, {1979, 23, 59, 59, -1},
  };
  for (const row& r : rows) {
    const zq::time t(make_tm(r.year, 1, 1, r.hour, r.minute, r.second));
    ASSERT_EQ(t.m_valid, 1);
    if (r.dos_seconds_field < 0) {
      EXPECT_EQ(t.m_dos_date | t.m_dos_time, 0) << r.year;
      continue;
    }
    EXPECT_EQ(t.m_dos_date >> 9, r.year - 1980);
    EXPECT_EQ(t.m_dos_time, (r.hour << 11) | (r.minute << 5) | r.dos_seconds_field) << r.second;
    // Read back, the DOS fields give a real time of the same minute.
    const zq::time back(t.m_dos_date, t.m_dos_time);
    ASSERT_EQ(back.m_valid, 1) << r.second;
    EXPECT_EQ(back.minute(), r.minute);
  }
}

TEST(ZqTime, DosConstructorChecksEachField) {
  const uint16 date = static_cast<uint16>((40 << 9) | (6 << 5) | 15);     // 2020-06-15
  const uint16 clock = static_cast<uint16>((13 << 11) | (45 << 5) | 15);  // 13:45:30
  const zq::time t(date, clock);
  ASSERT_EQ(t.m_valid, 1);
  EXPECT_EQ(fields_of(t), "2020-06-15 13:45:30");
  EXPECT_TRUE(t.m_dos_date == date && t.m_dos_time == clock);
  // Day 0, month 13, month 0; hour 24, minute 60, 60 seconds.
  for (int d : {(40 << 9) | (6 << 5), (40 << 9) | (13 << 5) | 1, (40 << 9) | 1})
    EXPECT_EQ(zq::time(static_cast<uint16>(d), clock).m_valid, 0) << d;
  for (int c : {24 << 11, 60 << 5, 30}) EXPECT_EQ(zq::time(date, static_cast<uint16>(c)).m_valid, 0) << c;
}

TEST(ZqTime, CalendarFieldConstructorsAreValidOnlyWhenDerived) {
  EXPECT_EQ(fields_of(zq::time(make_tm(2020, 6, 15, 13))), "2020-06-15 13:00:00");
  // The milliseconds are not used by this constructor.
  const zq::time from_st(make_st(2003, 1, 2, 4, 5, 6, 7));
  EXPECT_EQ(fields_of(from_st), "2003-01-02 04:05:06");
  EXPECT_EQ(from_st.milliseconds(), 0);
  // A positive count of seconds that cannot be derived (past 3000) must not
  // come out valid, nor a time before 1970.
  EXPECT_EQ(zq::time(make_tm(3100, 1, 1)).m_valid | zq::time(make_tm(1960, 1, 1)).m_valid, 0);
  EXPECT_EQ(zq::time(make_st(3500, 1, 2)).m_valid | zq::time(zq::_windows_systemtime()).m_valid, 0);
}

TEST(ZqTime, OtherConstructors) {
  EXPECT_EQ(zq::time(static_cast<uint32>(0)).m_valid, 0);
  const zq::time unix_one(static_cast<uint32>(1));
  EXPECT_TRUE(unix_one.m_valid == 1 && unix_one.m_filetime == kEpoch + kSecond);

  zq::_windows_filetime record;
  record.dwLowDateTime = static_cast<uint32>(k2020);
  record.dwHighDateTime = static_cast<uint32>(k2020 >> 32);
  EXPECT_EQ(zq::time(record).m_filetime, k2020);

  const zq::time frac(k2020, 1234567.0);
  EXPECT_TRUE(frac.m_filetime == k2020 + 1234567 && frac.milliseconds() == 123 && frac.nanoseconds() == 123456700);
  EXPECT_EQ(zq::time(k2020, -1.0).m_valid, 0);
  EXPECT_EQ(zq::time(static_cast<uint64>(0), 5.0).m_valid, 0);

  const zq::time pair(1577836800, 250000, zq::type_unix);
  EXPECT_TRUE(pair.m_valid == 1 && pair.m_filetime == k2020 + 2500000);
  EXPECT_EQ(zq::time(1577836800, 250000, zq::type_filetime).m_valid | zq::time(0, 250000, zq::type_unix).m_valid |
                zq::time(-5, 0, zq::type_unix).m_valid,
            0);

  const zq::time now = zq::time::now();
  EXPECT_TRUE(now.m_valid == 1 && now.year() >= 2024);
}

// The seconds-and-microseconds pair given as two words or as the record
// gettimeofday fills: only Unix seconds that are not 0, then the
// microseconds as ticks, a negative count going back.
TEST(ZqTime, SecondsAndMicrosecondsPairAsWordsOrRecord) {
  const struct {
    int32 seconds, microseconds;
    zq::type_time base;
    uint64 filetime;  // 0: not a valid time
  } rows[] = {
      {1577836800, 250000, zq::type_unix, k2020 + 2500000}, {1577836800, -1, zq::type_unix, k2020 - 10},
      {1, 0, zq::type_unix, kEpoch + kSecond},              {1, 999999, zq::type_unix, kEpoch + 2 * kSecond - 10},
      {0, 250000, zq::type_unix, 0},                        {-5, 0, zq::type_unix, 0},
      {1577836800, 0, zq::type_filetime, 0},                {1577836800, 0, zq::type_firefox, 0},
  };
  for (const auto& r : rows) {
    timeval tv{};
    tv.tv_sec = r.seconds;
    tv.tv_usec = r.microseconds;
    const zq::time words(r.seconds, r.microseconds, r.base), record(tv, r.base);
    for (const zq::time& t : {words, record}) {
      EXPECT_EQ(t.m_valid == 1 ? t.m_filetime : 0, r.filetime) << r.seconds << " " << r.microseconds;
    }
  }
  // Where the record's words are 64 bits wide, microseconds whose ticks pass
  // 64 bits name no instant.
  if (sizeof(suseconds_t) >= 8) {
    timeval wide{};
    wide.tv_sec = 1577836800;
    wide.tv_usec = static_cast<suseconds_t>(LLONG_MAX / 5);
    EXPECT_EQ(zq::time(wide, zq::type_unix).m_valid, 0);
    wide.tv_usec = -wide.tv_usec;
    EXPECT_EQ(zq::time(wide, zq::type_unix).m_valid, 0);
  }
}

TEST(ZqTime, ArithmeticAndComparison) {
  struct row {
    void (zq::time::*op)(int32);
    int32 count;
    int64 delta_ticks;
  } rows[] = {
      {&zq::time::add_microseconds, 3, 30},         {&zq::time::add_milliseconds, -2, -20000},
      {&zq::time::add_seconds, 61, 610000000},      {&zq::time::add_minutes, 1, 600000000},
      {&zq::time::add_hours, -1, -36000000000LL},   {&zq::time::add_days, -1, -864000000000LL},
      {&zq::time::subtract_days, 1, -864000000000LL}, {&zq::time::add_weeks, 1, 6048000000000LL},
      {&zq::time::add_months, 1, 25920000000000LL},  // a month is 30 days
  };
  for (const row& r : rows) {
    zq::time t(k2020, zq::type_filetime);
    (t.*r.op)(r.count);
    EXPECT_TRUE(t.m_valid == 1 && static_cast<int64>(t.m_filetime - k2020) == r.delta_ticks) << r.count;
  }
  zq::time invalid(static_cast<uint64>(5), zq::type_filetime);
  invalid.add_days(1);
  EXPECT_TRUE(invalid.m_valid == 0 && invalid.m_filetime == 5u);

  // Results outside the valid range, or past 64 bits, end up invalid.
  zq::time t(k2020, zq::type_filetime), early(kEpoch + 2 * kSecond, zq::type_filetime);
  t.add_months(0x7fffffff);
  early.add_seconds(-2);
  EXPECT_EQ(t.m_valid | early.m_valid, 0);

  // The other value's FILETIME counts whether or not it is a valid time.
  const zq::time one_day(86400 * kSecond, zq::type_filetime);
  zq::time sum(k2020, zq::type_filetime);
  sum.subtract_time(one_day);
  EXPECT_EQ(fields_of(sum), "2019-12-31 00:00:00");
  sum.add_time(one_day);
  sum.add_time(one_day);
  EXPECT_TRUE(sum.m_valid == 1 && sum.m_filetime == k2020 + 86400 * kSecond);
  sum.subtract_time(zq::time(kEpoch, zq::type_filetime));
  EXPECT_EQ(sum.m_valid, 0);

  const zq::time a(k2020, zq::type_filetime), b(k2020 + 1, zq::type_filetime);
  EXPECT_TRUE(a < b && a <= b && b > a && b >= a && a != b && a <= a && a >= a);
  EXPECT_FALSE(a == b || b < a || a > b || a < a || a > a);
  // Comparison is signed: a top-bit FILETIME sorts first even though invalid.
  EXPECT_TRUE(zq::time(0x8000000000000000ULL, zq::type_filetime) < a);
}

TEST(ZqTime, SystemtimeRecord) {
  const zq::_windows_systemtime unix_day(86400, zq::type_unix);
  EXPECT_TRUE(unix_day.wDay == 2 && unix_day.wDayOfWeek == 5);
  EXPECT_EQ(zq::_windows_systemtime(-1, zq::type_unix).wYear, 0);
  // A top-bit FILETIME from damaged data leaves the record zero, no stop.
  EXPECT_EQ(zq::_windows_systemtime(static_cast<long64>(0x8000000000000000ULL), zq::type_filetime).wYear, 0);
  EXPECT_EQ(zq::_windows_systemtime(static_cast<long64>(kEpoch), zq::type_filetime).wDayOfWeek, 4);
  // A base without a conversion is a caller's error and stops the program.
  EXPECT_DEATH(zq::_windows_systemtime(5, zq::type_chrome), "zq_time.*Assertion `false' failed");

  uint64 ft = 99;
  EXPECT_EQ(zq::systemtime_to_filetime(ft, zq::_windows_systemtime(0, 0, 0, 1, 0, 86)), 121493952000000000ULL);
  const zq::_windows_systemtime st = make_st(2000, 1, 1, 0, 0, 0, 500);
  EXPECT_EQ(zq::systemtime_to_filetime(ft, st), 125911584005000000ULL);
  uint64 seconds = 99;
  EXPECT_TRUE(zq::systemtime_to_unix(st, seconds));
  EXPECT_EQ(seconds, 946684800u);
  // Fields that give no positive Unix time are reported, not wrapped.
  EXPECT_EQ(zq::systemtime_to_filetime(ft, zq::_windows_systemtime()), 0u);
  EXPECT_FALSE(zq::systemtime_to_unix(make_st(1969, 12, 31), seconds));
  EXPECT_EQ(seconds, 946684800u);

  // Unix seconds come through the FILETIME: whole seconds of milliseconds
  // count, and a time past the last signed FILETIME (30828-09-14
  // 02:48:05.4775807, worked with python's datetime) is no time.
  const struct {
    zq::_windows_systemtime st;
    bool ok;
    uint64 want;
  } unix_rows[] = {
      {make_st(2000, 1, 1, 0, 0, 0, 5000), true, 946684805u},
      {make_st(2000, 1, 1, 0, 0, 0, 999), true, 946684800u},
      {make_st(30828, 9, 14, 2, 48, 5, 477), true, 910692730085ULL},
      {make_st(30828, 9, 14, 2, 48, 5, 478), false, 0},
      {make_st(40000, 1, 1), false, 0},
      {make_st(65535, 12, 31), false, 0},  // so far past it that the ticks wrap to a positive count
  };
  for (const auto& r : unix_rows) {
    seconds = 7;
    EXPECT_EQ(zq::systemtime_to_unix(r.st, seconds), r.ok) << r.st.wYear << " " << r.st.wMilliseconds;
    EXPECT_EQ(seconds, r.ok ? r.want : 7u) << r.st.wYear << " " << r.st.wMilliseconds;
  }
}

// kJune is 2020-06-15 13:45:30.250 UTC, a Monday; the DOS words were worked
// by hand: date (40 << 9) | (6 << 5) | 15, time (13 << 11) | (45 << 5) | 15.
TEST(ZqTime, EmptyValueClearAndRederivation) {
  const zq::time empty;
  EXPECT_TRUE(empty.m_valid == 0 && empty.m_filetime == 0 && empty.m_unix_time == 0 && empty.m_st.wYear == 0);
  zq::time t;
  ASSERT_TRUE(t.set_filetime(kJune));
  EXPECT_EQ(fields_of(t), "2020-06-15 13:45:30");
  EXPECT_TRUE(t.m_valid == 1 && t.m_filetime_copy == kJune && t.milliseconds() == 250);
  EXPECT_TRUE(t.m_dos_date == 20687 && t.m_dos_time == 28079);
  EXPECT_EQ(t.clear(), 0);
  EXPECT_TRUE(t.m_valid == 0 && t.m_filetime == 0 && t.m_dos_date == 0 && t.m_st.wYear == 0 && t.m_tm.tm_year == 0);
  EXPECT_FALSE(t.set_filetime(0));
  // A rejected FILETIME stays in the value; only the flag says it is not a time.
  EXPECT_FALSE(t.set_filetime(kEpoch + 5));
  EXPECT_TRUE(t.m_valid == 0 && t.m_filetime == kEpoch + 5);

  uint16 date = 1, clock = 2;
  EXPECT_TRUE(zq::filetime_to_dos(kJune, date, clock) && date == 20687 && clock == 28079);
  // 1979-12-31 23:59:59 UTC (Unix 315532799, by hand) lies before DOS dates.
  EXPECT_FALSE(zq::filetime_to_dos(kEpoch + 315532799ULL * kSecond, date, clock));
  EXPECT_FALSE(zq::filetime_to_dos(0x8000000000000000ULL, date, clock));
}

TEST(ZqTime, SystemtimeFromFiletimeInThreeForms) {
  zq::_windows_systemtime a, b, c;
  ASSERT_TRUE(zq::filetime_to_systemtime(a, kJune));
  ASSERT_TRUE(zq::filetime_to_systemtime(&b, kJune));
  ASSERT_TRUE(zq::filetime_to_systemtime(kJune, c));
  for (const zq::_windows_systemtime* st : {&a, &b, &c}) {
    EXPECT_EQ(fields_of(*st), "2020-06-15 13:45:30");
    EXPECT_TRUE(st->wDayOfWeek == 1 && st->wMilliseconds == 250);
  }
  // The (out, FILETIME) forms clear the record first; the other keeps it.
  EXPECT_FALSE(zq::filetime_to_systemtime(a, 0x8000000000000000ULL));
  EXPECT_FALSE(zq::filetime_to_systemtime(&b, 0x8000000000000000ULL));
  EXPECT_FALSE(zq::filetime_to_systemtime(0x8000000000000000ULL, c));
  EXPECT_TRUE(a.wYear == 0 && a.wMilliseconds == 0 && b.wYear == 0 && c.wYear == 2020);
  EXPECT_FALSE(zq::filetime_to_systemtime(static_cast<zq::_windows_systemtime*>(nullptr), kJune));
}

TEST(ZqTime, LocalOffsetFollowsTheHostZone) {
  // Zones without daylight saving, so that the offset is fixed.
  const struct {
    const char* zone;
    int32 seconds;
  } zones[] = {{"UTC", 0}, {"Asia/Kolkata", 19800}, {"Pacific/Kiritimati", 50400}, {"Etc/GMT+5", -18000}};
  for (const auto& z : zones) {
    scoped_tz tz(z.zone);
    EXPECT_EQ(local_utc_offset(), z.seconds) << z.zone;
  }
}
