#include "utils/number_parse.h"

#include <gtest/gtest.h>

namespace {

const uint32 kUntouched = 0xDEADBEEF;

TEST(ParseInt, ThirtyTwoBitWithTheBaseLetterAnywhere) {
  struct Case { const char* text; bool ok; uint32 want; } cases[] = {
      {"0x1F", true, 31}, {"X1f", true, 31}, {"abcx1f", true, 31}, {"0o17", true, 15}, {"-5", true, 4294967291u},
      {"+7", true, 7}, {"12abc", true, 12}, {"fox", true, 0}, {"4294967296", true, 2147483647u},
      {"-4294967296", true, 0x80000000u}, {"x100000000", true, 4294967295u}, {"xffffffff", true, 4294967295u},
      {" 5", false, kUntouched}, {"", false, kUntouched}, {"level", false, kUntouched},
  };
  for (const Case& c : cases) {
    uint32 v = kUntouched;
    EXPECT_EQ(parse_int(c.text, v), c.ok) << c.text;
    EXPECT_EQ(v, c.want) << c.text;
    // Every other form reads the same text to the same value.
    const std::string narrow = c.text;
    const std::wstring wide(narrow.begin(), narrow.end());
    uint32 by_string = kUntouched, by_wcs = kUntouched, by_wstring = kUntouched;
    EXPECT_EQ(parse_int(narrow, by_string), c.ok) << c.text;
    EXPECT_EQ(parse_int_w(wide.c_str(), by_wcs), c.ok) << c.text;
    EXPECT_EQ(parse_int_w(wide, by_wstring), c.ok) << c.text;
    EXPECT_EQ(by_string, c.want) << c.text;
    EXPECT_EQ(by_wcs, c.want) << c.text;
    EXPECT_EQ(by_wstring, c.want) << c.text;
  }
  // A character beyond ASCII is encoded, never cut to a digit or a base
  // letter: U+0178 has 0x78 ("x") in its low byte.
  uint32 wide_v = kUntouched;
  EXPECT_FALSE(parse_int_w(std::wstring(L"\u01781f"), wide_v));
  EXPECT_EQ(wide_v, kUntouched);
  EXPECT_TRUE(parse_int_w(L"7\u00e9", wide_v));
  EXPECT_EQ(wide_v, 7u);
  int level = -9;
  EXPECT_TRUE(parse_int(std::string("x10"), &level));
  EXPECT_EQ(level, 16);
  uint32 untouched = 5;
  EXPECT_FALSE(parse_int(static_cast<const char*>(nullptr), untouched));
  EXPECT_EQ(untouched, 5u);
}

// Byte offsets of volumes far into a disk image: never clamped to 32 bits.
TEST(ParseInt64, OffsetsKeepAllSixtyFourBits) {
  struct Case { std::wstring text; bool ok; long64 want; } cases[] = {
      {L"0x200000", true, 2097152}, {L"0x80000000", true, 2147483648LL}, {L"0X1F400000000", true, 0x1F400000000LL},
      {L"5000000000", true, 5000000000LL}, {L"0o777", true, 511}, {L"0x7fffffffffffffff", true, INT64_MAX},
      {L"0x8000000000000000", true, INT64_MAX}, {L"99999999999999999999", true, INT64_MAX}, {L"-5", false, -1},
      {L"", false, -1},
      // Each character is cut to its low 8 bits and the whole narrowed text
      // read: 0x100 becomes a NUL that ends nothing, U+0178 an "x".
      {std::wstring(L"1") + wchar_t(0x100) + L"x10", true, 16}, {L"\u01781f", true, 31},
      {std::wstring(L"7") + wchar_t(0x100) + L"o17", true, 15},
  };
  for (const Case& c : cases) {
    long64 v = -1;
    EXPECT_EQ(parse_int64_w(c.text, &v), c.ok) << c.want;
    EXPECT_EQ(v, c.want);
  }
  std::string in_place = "0X1F";
  long64 v = 0;
  EXPECT_TRUE(parse_int64(in_place, v));
  EXPECT_EQ(v, 31);
  EXPECT_EQ(in_place, "1f");
  const struct {
    const char* text;
    bool ok;
    long64 want;
  } pointer_cases[] = {{"0X1F", true, 31}, {"0o777", true, 511}, {"5000000000", true, 5000000000LL},
                       {"-5", false, -1}, {"", false, -1}, {"x", true, 0}};
  for (const auto& c : pointer_cases) {
    long64 p = -1;
    EXPECT_EQ(parse_int64(c.text, p), c.ok) << c.text;
    EXPECT_EQ(p, c.want) << c.text;
  }
  std::wstring caller = L"0x10";
  EXPECT_TRUE(parse_int64_w(caller, v));
  EXPECT_EQ(caller, L"0x10");
}

TEST(ParseUint32, PrefixesByPosition) {
  struct Case {
    const char* text;
    bool ok;
    uint32 want;
  } cases[] = {{"0x10", true, 16}, {"x10", true, 16}, {"ax10", true, 16}, {"o17", true, 15}, {"017", true, 17},
               {"'A'", true, 65}, {"A", false, kUntouched}, {"'AB'", false, kUntouched},
               {"99999999999", true, 4294967295u}, {"", false, kUntouched}};
  for (const Case& c : cases) {
    uint32 v = kUntouched;
    EXPECT_EQ(parse_uint32(c.text, v), c.ok) << c.text;
    EXPECT_EQ(v, c.want) << c.text;
    const std::string narrow = c.text;
    const std::wstring wide(narrow.begin(), narrow.end());
    uint32 by_string = kUntouched, by_wcs = kUntouched, by_wstring = kUntouched;
    EXPECT_EQ(parse_uint32(narrow, by_string), c.ok) << c.text;
    EXPECT_EQ(parse_uint32_w(wide.c_str(), by_wcs), c.ok) << c.text;
    EXPECT_EQ(parse_uint32_w(wide, by_wstring), c.ok) << c.text;
    EXPECT_EQ(by_string, c.want) << c.text;
    EXPECT_EQ(by_wcs, c.want) << c.text;
    EXPECT_EQ(by_wstring, c.want) << c.text;
  }
  // The character literal of a wide text holds its UTF-8, so a character
  // beyond ASCII is not a one-character literal.
  uint32 literal = kUntouched;
  EXPECT_FALSE(parse_uint32_w(std::wstring(L"'\u00e9'"), literal));
  EXPECT_EQ(literal, kUntouched);
}

TEST(TextToU64, EntryNumbersAtTheirLimits) {
  struct Case { const char* text; bool ok; ulong64 want; } cases[] = {
      {"0x1F", true, 31}, {"0X1f", true, 31}, {"x1F", true, 31}, {"x1", false, 0}, {"0x", true, 0},
      {"0x12zz", true, 0x12}, {"0xffffffffffffffff", true, UINT64_MAX},
      {"0x123456789abcdef0", true, 0x123456789abcdef0ULL}, {"0x1ffffffffffffffff", false, 0}, {"o17", true, 15},
      {"o1777777777777777777777", true, UINT64_MAX}, {"o00000000000000000000000", false, 0},
      {"4294967296", true, 4294967296ULL}, {"18446744073709551615", true, UINT64_MAX},
      {"18446744073709551616", true, 0}, {"123456789012345678901", false, 0}, {"12ab", true, 12},
      {"12345678901x", true, 12345678901ULL}, {"abc", false, 0}, {"", false, 0},
  };
  for (const Case& c : cases) {
    ulong64 v = 77;
    EXPECT_EQ(text_to_u64(c.text, &v), c.ok) << c.text;
    EXPECT_EQ(v, c.want) << c.text;
    ulong64 by_ref = 77, by_cstr = 77;
    EXPECT_EQ(text_to_u64(std::string(c.text), by_ref), c.ok) << c.text;
    EXPECT_EQ(cstr_to_u64(c.text, by_cstr), c.ok) << c.text;
    EXPECT_EQ(by_ref, c.want) << c.text;
    EXPECT_EQ(by_cstr, c.want) << c.text;
  }
  uint32 hi = 0, lo = 0;
  EXPECT_EQ(split_u64(make_u64(0x12345678, 0x9abcdef0), hi, lo), 0x12345678u);
  EXPECT_EQ(lo, 0x9abcdef0u);
  EXPECT_EQ(split_long64(-2, hi, lo), 0xFFFFFFFFu);
  EXPECT_EQ(lo, 0xFFFFFFFEu);
  uint32 swapped = 0;
  EXPECT_TRUE(byte_swap32(0x11223344, swapped));
  EXPECT_EQ(swapped, 0x44332211u);
}

TEST(ParseDouble, WholeTextConverted) {
  double d = -1;
  EXPECT_TRUE(parse_double("1.5e3", d));
  EXPECT_EQ(d, 1500.0);
  EXPECT_TRUE(parse_double("", d));
  EXPECT_EQ(d, 0.0);
  EXPECT_FALSE(parse_double(nullptr, d));
  float f = 0;
  EXPECT_FALSE(parse_float_w(nullptr, f));
  const struct {
    const char* text;
    double want;
  } floats[] = {{"1.5e3", 1500.0}, {"-0.25", -0.25}, {"", 0.0}, {"abc", 0.0}, {"  2.5xyz", 2.5}};
  for (const auto& c : floats) {
    f = -1;
    EXPECT_TRUE(parse_float(c.text, f)) << c.text;
    EXPECT_EQ(f, static_cast<float>(c.want)) << c.text;
    const std::string narrow = c.text;
    const std::wstring wide(narrow.begin(), narrow.end());
    d = -1;
    EXPECT_TRUE(parse_double_w(wide.c_str(), d)) << c.text;
    EXPECT_EQ(d, c.want) << c.text;
  }
  f = -1;
  EXPECT_TRUE(parse_float("0.1", f));
  EXPECT_EQ(f, 0.1f) << "narrowed to float";
  EXPECT_FALSE(parse_float(nullptr, f));
}

}  // namespace
