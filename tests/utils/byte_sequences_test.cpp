// Byte sequences from their text notations.
#include <gtest/gtest.h>

#include "utils/byte_sequences.h"

namespace {

using bytes = std::vector<byte>;

TEST(ByteSequences, Patterns) {
  const struct { std::string text; bool ok; std::vector<uint16> out; } cases[] = {
      {"4d 5a ?? *10 00", true, {0x4D, 0x5A, 0xFFFF, 0xFFFE, 0x10, 0x00}}, {"4d ??", true, {0x4D}},
      {"4d *2", true, {0x4D}}, {"4d ?? *3 ??", true, {0x4D}}, {"*2 ?? 4d", false, {0xFFFE, 0x02, 0xFFFF, 0x4D}},
      {"4d5a", false, {}}, {"??", true, {}}, {"", false, {}},
      // The gap marker is appended before its over-long length is refused.
      {"*123", false, {0xFFFE}}, {"4d *123", false, {0x4D, 0xFFFE}}, {"4d *123 5a", false, {0x4D, 0xFFFE}},
  };
  for (const auto& c : cases) {
    std::vector<uint16> out;
    EXPECT_EQ(parse_byte_pattern(c.text, out), c.ok) << c.text;
    EXPECT_EQ(out, c.out) << c.text;
  }
}

TEST(ByteSequences, HexLists) {
  bytes out{7};
  EXPECT_TRUE(parse_hex_tokens("ff ?? 00", out));
  EXPECT_EQ(out, (bytes{7, 0xFF, 0xFF, 0x00}));
  EXPECT_FALSE(parse_hex_tokens("100", out));
  EXPECT_TRUE(parse_hex_list("0x01,0xff", out));
  EXPECT_EQ(out, (bytes{0x01, 0xFF}));
  EXPECT_TRUE(parse_hex_list("x1f 20", out));
  EXPECT_EQ(out, (bytes{0x1F, 0x20}));
  out = {9};
  EXPECT_FALSE(parse_hex_list("ff", out));
  EXPECT_EQ(out, bytes{9});
  EXPECT_TRUE(parse_hex_string("0a1bff", out));
  EXPECT_EQ(out, (bytes{0x0A, 0x1B, 0xFF}));
  EXPECT_TRUE(parse_hex_string("abc", out));
  EXPECT_EQ(out, (bytes{0xAB, 0x0C}));
  EXPECT_FALSE(parse_hex_string("a", out));
}

TEST(ByteSequences, SeparatedBytesAndAddresses) {
  const struct { const char* text; bool ok; bytes out; } cases[] = {
      {"0A-1B-2C", true, {0x0A, 0x1B, 0x2C}}, {"10.0.0.1", true, {10, 0, 0, 1}}, {"x10:20", true, {0x10, 0x14}},
      {"00:1a:2b:3c:4d:5e", true, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}},
      {"00:11:22:33:44:55", true, {0, 11, 22, 33, 44, 55}}, {"nodots", false, {}},
  };
  for (const auto& c : cases) {
    bytes out;
    EXPECT_EQ(parse_separated_bytes(c.text, out), c.ok) << c.text;
    EXPECT_EQ(out, c.out) << c.text;
  }
  bytes scratch;
  EXPECT_FALSE(parse_separated_bytes((std::string(79, '1') + ".1").c_str(), scratch));
  byte four[4] = {9, 9, 9, 9};
  EXPECT_FALSE(parse_separated_bytes("1.2.3", four, 4));
  EXPECT_EQ(four[0], 9);
  EXPECT_TRUE(parse_separated_bytes_w(L"1.2.3.4", four, 4));
  EXPECT_EQ(bytes(four, four + 4), (bytes{1, 2, 3, 4}));

  uint32 v = 7;
  EXPECT_TRUE(parse_dotted_quad("192.168.0.1", v, false));
  EXPECT_EQ(v, 0xC0A80001u);
  EXPECT_TRUE(parse_dotted_quad("0xC0.0xA8.0.1", v, false));
  EXPECT_EQ(v, 0xC0A80001u);
  EXPECT_TRUE(parse_dotted_quad("192.168.0.1", v, true));
  EXPECT_EQ(v, 0x0100A8C0u);
  EXPECT_TRUE(parse_dotted_quad("1.2.3.256", v, false));
  EXPECT_EQ(v, 0x01020400u);
  EXPECT_FALSE(parse_dotted_quad("1.2.3", v, false));
  EXPECT_EQ(v, 0u);

  const struct { std::string text; bytes out; } v6[] = {
      {"fe80::1", {0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x01}},
      {"::1", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}}, {"::", bytes(16, 0)}, {"", bytes(16, 0)},
      {"1:2:3", {0, 1, 0, 2, 0, 3}},
      {"2001:db8:0:0:0:0:ff00:42", {0x20, 0x01, 0x0D, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0, 0, 0x42}},
  };
  for (const auto& c : v6) {
    std::string text = c.text;
    bytes out{5};
    EXPECT_TRUE(parse_ipv6_text(text, out));
    EXPECT_EQ(out, c.out) << c.text;
  }
}

}  // namespace
