// The exact texts the writers print, whatever the host's zone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sstream>

#include "tests/time/time_fields.h"
#include "time/zq_time.h"

using namespace time_test;

namespace {

// FILETIME of a UTC calendar time, from its Unix seconds (computed by hand).
uint64 ft(uint64 unix_seconds, uint64 ticks = 0) { return kEpoch + unix_seconds * kSecond + ticks; }

// Runs the formatters under a zone 3.5 hours from UTC, so that any use of
// the host's zone shows up in the texts.
class TimeFormat : public ::testing::Test {
 protected:
  scoped_tz zone_{"America/St_Johns"};
};

std::string streamed(const zq::time& t) {
  std::ostringstream os;
  os << t;
  return os.str();
}

}  // namespace

TEST_F(TimeFormat, TextsOfAValidTime) {
  // 2003-01-02 04:05:06.007 UTC is Unix 1041480306.
  const zq::time t(ft(1041480306, 70000), zq::type_filetime);
  std::string date, clock;
  zq::format_time_ms(date, clock, t, false);
  EXPECT_EQ(date + "|" + clock, "01/02/2003|04:05:06.007");
  zq::format_time_secs(date, clock, t, false);
  EXPECT_EQ(date + "|" + clock, "01/02/2003|04:05:06");
  zq::format_time(date, clock, t, true, true, false, true);
  EXPECT_EQ(date + "|" + clock, "01/02/03|04:05:06.007000000");
  std::ostringstream os;
  os << t << "|";
  zq::write_time(os, t) << "|";
  zq::write_time_secs(os, t);
  const uint64 v = ft(1041480306, 70000);
  zq::write_filetime(os << "|", static_cast<uint32>(v), static_cast<uint32>(v >> 32));
  EXPECT_EQ(os.str(), "01/02/03 04:05:06.007|01/02/03 04:05:06.007|01/02/03 04:05:06|01/02/03 04:05:06.007");

  std::string appended = "run time: ";
  zq::append_time(appended, t) += " [GMT]";
  EXPECT_EQ(appended, "run time: 01/02/03 04:05:06.007 [GMT]");
  std::wostringstream wide;
  wide << t;
  std::wstring wdate, wclock;
  zq::format_time_ms_w(wdate, wclock, t, false);
  EXPECT_EQ(wide.str() + L"|" + wdate + L"|" + wclock, L"01/02/03 04:05:06.007|01/02/2003|04:05:06.007");
}

TEST_F(TimeFormat, FractionsAndShortYears) {
  const zq::time frac(ft(1041480306, 1234567), zq::type_filetime), whole(ft(1041480306), zq::type_filetime);
  std::string date, clock, ms;
  zq::format_time_ms(date, ms, frac, false);
  zq::format_time(date, clock, frac, true, false, false, true);
  EXPECT_EQ(ms + "|" + clock, "04:05:06.123|04:05:06.123456700");
  zq::format_time_ms(date, ms, whole, false);
  zq::format_time(date, clock, whole, true, false, false, true);
  EXPECT_EQ(ms + "|" + clock, "04:05:06.000|04:05:06.000000000");

  struct row {
    uint64 unix_seconds;
    const char* short_text;
    const char* long_date;
  };
  const row rows[] = {
      {946684799ULL, "12/31/99 23:59:59.000", "12/31/1999"},    // 1999
      {946684800ULL, "01/01/00 00:00:00.000", "01/01/2000"},    // 2000
      {4102444799ULL, "12/31/99 23:59:59.000", "12/31/2099"},   // 2099
      {4102444800ULL, "01/01/100 00:00:00.000", "01/01/2100"},  // 2100
      {32503680000ULL, "01/01/1000 00:00:00.000", "01/01/3000"},  // 3000
      {1ULL, "01/01/70 00:00:01.000", "01/01/1970"},
  };
  for (const row& r : rows) {
    const zq::time t(ft(r.unix_seconds), zq::type_filetime);
    EXPECT_EQ(streamed(t), r.short_text);
    zq::format_time_ms(date, clock, t, false);
    EXPECT_EQ(date, r.long_date);
  }
}

TEST_F(TimeFormat, InvalidTimePlaceholder) {
  const zq::time invalid(static_cast<uint64>(0), zq::type_filetime);
  std::string date = "x", clock = "y";
  zq::format_time_ms(date, clock, invalid, false);
  EXPECT_EQ(date + clock, "");
  date = "x", clock = "y";
  zq::format_time_secs(date, clock, invalid, true);
  EXPECT_EQ(date + clock, "");
  std::ostringstream os;
  os << invalid << "|";
  zq::write_time_secs(os, invalid);
  EXPECT_EQ(os.str(), "00/00/00 00:00:00|00/00/00 00:00:00");
  std::wostringstream wide;
  wide << invalid;
  EXPECT_EQ(wide.str(), L"00/00/00 00:00:00");
}

TEST_F(TimeFormat, StreamStateIsLeftAlone) {
  const zq::time t(ft(1041480306, 70000), zq::type_filetime);
  std::ostringstream os;
  os << std::hex << std::setfill('*');
  os.width(30);
  zq::write_time_secs(os, t);
  EXPECT_EQ(os.str(), "01/02/03 04:05:06");
  EXPECT_TRUE(os.width() == 30 && os.fill() == '*' && (os.flags() & std::ios::hex));
}

TEST_F(TimeFormat, Hex64) {
  EXPECT_EQ(zq::format_hex64(255, 1), "0x00000001000000ff");
  EXPECT_EQ(zq::format_hex64(0xdeadbeef, 0xffffffff), "0xffffffffdeadbeef");
}
