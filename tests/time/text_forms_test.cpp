// The fixed text forms, byte for byte, under three host zones (one of them a
// half-hour offset): none of them may follow the host's zone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <iomanip>
#include <sstream>

#include "tests/time/time_fields.h"
#include "time/zq_time.h"

using namespace time_test;

namespace {

constexpr long64 kMailSeconds = 784111777;  // 1994-11-06 08:49:37 UTC

class TextForms : public ::testing::TestWithParam<const char*> {
 protected:
  scoped_tz zone_{GetParam()};
};

}  // namespace

TEST_P(TextForms, Iso8601WritesTheOffsetItShifted) {
  struct Case {
    long64 seconds;
    float zone;
    const char* text;
  } cases[] = {
      {0, 0.0f, "1970-01-01T00:00:00Z"},
      {kMailSeconds, 5.5f, "1994-11-06T14:19:37+05:30"},
      {kMailSeconds, -1.0f, "1994-11-06T07:49:37-01:00"},
      {kMailSeconds, -3.5f, "1994-11-06T05:19:37-03:30"},
      {kMailSeconds, -0.5f, "1994-11-06T08:19:37-00:30"},
  };
  for (const Case& c : cases) {
    std::string out = "stale";
    EXPECT_TRUE(zq::format_iso8601(c.seconds, out, c.zone)) << c.text;
    EXPECT_EQ(out, c.text);
  }
  std::string out;
  EXPECT_FALSE(zq::format_iso8601(-1, out, 0.0f));
  // Moved before 1970 the fields do not exist.
  EXPECT_FALSE(zq::format_iso8601(0, out, -1.0f));
}

TEST_P(TextForms, MailDateKeepsTheZoneSign) {
  struct Case {
    int zone;
    const char* text;
  } cases[] = {
      {0, "Sun; 06 Nov 1994 08:49:37 +0000"},   {90, "Sun; 06 Nov 1994 08:49:37 -0130"},
      {-330, "Sun; 06 Nov 1994 08:49:37 +0530"}, {30, "Sun; 06 Nov 1994 08:49:37 -0030"},
      {-45, "Sun; 06 Nov 1994 08:49:37 +0045"},
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_TRUE(zq::format_mail_date(out, kMailSeconds, c.zone));
    EXPECT_EQ(out, c.text);
  }
  std::string out;
  EXPECT_TRUE(zq::format_mail_date(out, 1592228730, 0));
  EXPECT_EQ(out, "Mon; 15 Jun 2020 13:45:30 +0000");
  EXPECT_FALSE(zq::format_mail_date(out, -5, 0));
  // Seconds 0 mean the clock: the text is that of a second read around it.
  const long64 before = std::time(nullptr);
  EXPECT_TRUE(zq::format_mail_date(out, 0, 0));
  const long64 after = std::time(nullptr);
  std::string a, b;
  zq::format_mail_date(a, before, 0);
  zq::format_mail_date(b, after, 0);
  EXPECT_TRUE(out == a || out == b) << out;
}

TEST_P(TextForms, FiletimeAndSystemtimeTexts) {
  std::string out = "unchanged";
  EXPECT_FALSE(zq::format_filetime_text(out, 0));
  EXPECT_FALSE(zq::format_filetime_text(out, 0x8000000000000000ULL));
  EXPECT_EQ(out, "unchanged");
  EXPECT_TRUE(zq::format_filetime_text(out, kJune));
  EXPECT_EQ(out, "06/15/2020 13:45:30");
  std::string ms;
  EXPECT_TRUE(zq::format_systemtime_text(out, make_st(2020, 6, 15, 13, 45, 30, 250)));
  EXPECT_TRUE(zq::format_systemtime_text(ms, make_st(2020, 6, 15, 13, 45, 30, 5)));
  EXPECT_EQ(out + "|" + ms, "06/15/2020 : 13:45:30:250|06/15/2020 : 13:45:30:05");
}

TEST_P(TextForms, StreamForms) {
  struct Case {
    uint64 filetime;
    bool with_time;
    const char* text;
  } stamps[] = {
      {kJune, true, "2020_06_15_1345_30_250"},
      {kJune, false, "2020_06_15"},
      {0, true, "0000_00_00_0000_00_000"},
  };
  for (const Case& c : stamps) {
    std::ostringstream narrow;
    zq::write_underscore_stamp(narrow, c.filetime, c.with_time);
    EXPECT_EQ(narrow.str(), c.text);
    std::wostringstream wide;
    zq::write_underscore_stamp(wide, c.filetime, c.with_time);
    EXPECT_EQ(wide.str(), std::wstring(c.text, c.text + std::string(c.text).size()));
  }

  const zq::_windows_systemtime june = make_st(2020, 6, 15, 13, 45, 30, 250);
  std::ostringstream os;
  os << std::hex << std::setfill('*');
  zq::write_systemtime(os, june, false) << "|";
  zq::write_systemtime(os, june, true) << "|";
  zq::write_systemtime_date(os, june) << "|";
  zq::write_hex_pair(os, 1, 2) << "|";
  zq::write_hex_pair(os, 0x21, 0) << "|";
  zq::write_hex_pair(os, 0xdeadbeef, 0x1d) << "|";
  // The caller's hexadecimal and fill survive.
  os << std::setw(4) << 255;
  EXPECT_EQ(os.str(),
            "06/15/2020 : 13:45:30 [ 250 ms ]|06/15/2020|2020/06/15|0x200000001|0x000000021|"
            "0x1ddeadbeef|**ff");

  std::wostringstream wide;
  zq::write_systemtime(wide, make_st(2020, 6, 15, 13, 45, 30, 7), false);
  EXPECT_EQ(wide.str(), L"06/15/2020 : 13:45:30 [ 007 ms ]");

  std::ostringstream lines;
  write_lines(lines, {"one", "", "three"});
  EXPECT_EQ(lines.str(), "one\n\nthree\n");
}

INSTANTIATE_TEST_SUITE_P(HostZones, TextForms, ::testing::ValuesIn(kHostZones));
