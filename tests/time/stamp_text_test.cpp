// A time value from the text of a raw stamp: hexadecimal for the tick and
// microsecond bases, decimal for Unix seconds, read as the 32-bit library
// readers would.
#include <gtest/gtest.h>

#include <string>

#include "tests/time/time_fields.h"
#include "time/zq_time.h"

using namespace time_test;

TEST(StampText, HexadecimalSplitsTheLastEightCharacters) {
  struct Case {
    const char* text;
    uint64 value;
  } cases[] = {
      {"01D6431A2B3C4D5E", 0x01D6431A2B3C4D5EULL},
      {"0x01D6431A2B3C4D5E", 0x01D6431A2B3C4D5EULL},
      {"0x1234", 0x1234},
      {"1234", 0x1234},
      // Nine digits before the last eight pass 32 bits and saturate.
      {"1234567890ABCDEF1", 0xFFFFFFFF0ABCDEF1ULL},
      // Every character counts toward the split, a trailing blank too.
      {"1234567890", 0x1234567890ULL},
      {"1234567890 ", 0x12304567890ULL},
      {" ff", 0xFF},
      {"-1", 0xFFFFFFFFULL},
      {"", 0},
      {"zz", 0},
      {"0xg", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(zq::parse_hex64(c.text), c.value) << c.text;
}

TEST(StampText, TimesByBase) {
  struct Case {
    const char* text;
    zq::type_time kind;
    bool valid;
    uint64 filetime;
    uint64 unix_time;
  } cases[] = {
      {"1D6431B3BEBDEA0", zq::type_filetime, true, 132367023302500000ULL, 1592228730},
      {"01d6431b3bebdea0", zq::type_filetime, true, 132367023302500000ULL, 1592228730},
      {"0x1234", zq::type_filetime, false, 0x1234, 0},
      {"295E9648958240", zq::type_chrome, true, kEpoch + kSecond, 1},
      {"16E360", zq::type_firefox, true, kEpoch + 15000000, 1},
      {"xyz", zq::type_firefox, false, kEpoch, 0},
      {"1", zq::type_unix, true, kEpoch + kSecond, 1},
      {" 42abc", zq::type_unix, true, kEpoch + 42 * kSecond, 42},
      {"9999999999", zq::type_unix, true, kEpoch + 2147483647ULL * kSecond, 2147483647},
      {"0", zq::type_unix, false, 0, 0},
      {"-5", zq::type_unix, false, 0, 0},
      {"1234", static_cast<zq::type_time>(3), false, 0, 0},
  };
  for (const Case& c : cases) {
    const zq::time t(std::string(c.text), c.kind);
    EXPECT_EQ(t.m_valid, c.valid ? 1 : 0) << c.text;
    EXPECT_EQ(t.m_filetime, c.filetime) << c.text;
    EXPECT_EQ(t.m_unix_time, c.unix_time) << c.text;
  }
}

TEST(StampTextDeathTest, BasesWithoutATextForm) {
  for (uint32 kind : {16u, 32u, 64u, 128u, 0xFFFFFFFFu}) {
    EXPECT_DEATH(zq::time(std::string("1234"), static_cast<zq::type_time>(kind)),
                 "zq_time.*zq::time::time\\(std::string, zq::type_time\\).*Assertion `false' failed")
        << kind;
  }
}
