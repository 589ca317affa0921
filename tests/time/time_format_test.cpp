// The exact texts the writers print, under three host zones, so that any use
// of the host's zone shows.
#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>

#include "tests/time/time_fields.h"
#include "time/zq_time.h"

using namespace time_test;

namespace {

// FILETIME of a UTC calendar time, from its Unix seconds (computed by hand).
uint64 ft(uint64 unix_seconds, uint64 ticks = 0) { return kEpoch + unix_seconds * kSecond + ticks; }

class TimeFormat : public ::testing::TestWithParam<const char*> {
 protected:
  scoped_tz zone_{GetParam()};
};

std::string streamed(const zq::time& t) {
  std::ostringstream os;
  os << t;
  return os.str();
}

}  // namespace

TEST_P(TimeFormat, TextsOfAValidTime) {
  // 2003-01-02 04:05:06 UTC is Unix 1041480306; 7.9999 ms are cut, not rounded.
  const uint64 v = ft(1041480306, 79999);
  const zq::time t(v, zq::type_filetime);
  std::string date, clock, secs, nanos;
  zq::format_time_ms(date, clock, t, false);
  EXPECT_EQ(date + "|" + clock, "01/02/2003|04:05:06.007");
  zq::format_time_secs(date, secs, t, false);
  zq::format_time(date, nanos, t, true, true, false, true);
  EXPECT_EQ(date + "|" + secs + "|" + nanos, "01/02/03|04:05:06|04:05:06.007999900");
  std::ostringstream os;
  os << t << "|";
  zq::write_time_secs(os, t);
  zq::write_filetime(os << "|", static_cast<uint32>(v), static_cast<uint32>(v >> 32));
  EXPECT_EQ(os.str(), "01/02/03 04:05:06.007|01/02/03 04:05:06|01/02/03 04:05:06.007");
  // The stream's width, fill and base are the caller's.
  std::ostringstream state;
  state << std::hex << std::setfill('*') << std::setw(30);
  zq::write_time_secs(state, t);
  EXPECT_EQ(state.str(), "01/02/03 04:05:06");
  EXPECT_TRUE(state.width() == 30 && state.fill() == '*' && (state.flags() & std::ios::hex));

  std::string appended = "run time: ";
  zq::append_time(appended, t) += " [GMT]";
  EXPECT_EQ(appended, "run time: 01/02/03 04:05:06.007 [GMT]");
  std::wostringstream wide;
  wide << t;
  std::wstring wdate, wclock;
  zq::format_time_ms_w(wdate, wclock, t, false);
  EXPECT_EQ(wide.str() + L"|" + wdate + L"|" + wclock, L"01/02/03 04:05:06.007|01/02/2003|04:05:06.007");
  EXPECT_EQ(zq::format_hex64(255, 1), "0x00000001000000ff");
}

TEST_P(TimeFormat, ShortYears) {
  const struct {
    uint64 unix_seconds;
    const char* short_text;
    const char* long_date;
  } rows[] = {
      {946684799ULL, "12/31/99 23:59:59.000", "12/31/1999"},
      {946684800ULL, "01/01/00 00:00:00.000", "01/01/2000"},
      {4102444800ULL, "01/01/100 00:00:00.000", "01/01/2100"},
      {32503680000ULL, "01/01/1000 00:00:00.000", "01/01/3000"},
  };
  for (const auto& r : rows) {
    const zq::time t(ft(r.unix_seconds), zq::type_filetime);
    EXPECT_EQ(streamed(t), r.short_text);
    std::ostringstream direct;
    zq::write_time(direct, t) << "|";
    EXPECT_EQ(direct.str(), std::string(r.short_text) + "|");
    std::string date, clock;
    zq::format_time_ms(date, clock, t, false);
    EXPECT_EQ(date, r.long_date);
  }
}

TEST_P(TimeFormat, InvalidTimePlaceholder) {
  const zq::time invalid(static_cast<uint64>(0), zq::type_filetime);
  std::string date = "x", clock = "y";
  zq::format_time_secs(date, clock, invalid, true);
  EXPECT_EQ(date + clock, "");
  std::ostringstream os;
  os << invalid << "|";
  zq::write_time_secs(os, invalid) << "|";
  zq::write_time(os, invalid);
  EXPECT_EQ(os.str(), "00/00/00 00:00:00|00/00/00 00:00:00|00/00/00 00:00:00");
  std::wostringstream wide;
  wide << invalid;
  EXPECT_EQ(wide.str(), L"00/00/00 00:00:00");
}

INSTANTIATE_TEST_SUITE_P(HostZones, TimeFormat, ::testing::ValuesIn(kHostZones));
