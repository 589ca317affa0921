// Hexadecimal text and hex dumps, byte for byte against texts written from
// the layout rules: "xx " per byte, two blanks, the character column.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "utils/hex_text.h"

namespace {

TEST(HexText, PlainAndSeparated) {
  std::string out = "old";
  const byte three[3] = {0x0A, 0x1B, 0xFF};
  bytes_to_hex(out, three, 3);
  EXPECT_EQ(out, "0a1bff");
  const byte five = 0x05;
  bytes_to_hex(out, &five, 1);
  EXPECT_EQ(out, "05");
  bytes_to_hex(out, nullptr, 3);
  EXPECT_EQ(out, "");
  bytes_to_hex(out, three, -1);
  EXPECT_EQ(out, "");

  const byte dead[2] = {0xDE, 0xAD};
  EXPECT_TRUE(bytes_to_hex_sep(out, dead, 2, ":"));
  EXPECT_EQ(out, "de:ad:");
  out = "kept";
  EXPECT_FALSE(bytes_to_hex_sep(out, dead, 0, ":"));
  EXPECT_FALSE(bytes_to_hex_sep(out, nullptr, 2, ":"));
  EXPECT_EQ(out, "kept");
  EXPECT_FALSE(bytes_to_hex_sep(out, std::vector<byte>{}, " "));
  EXPECT_EQ(out, "");
  EXPECT_TRUE(bytes_to_hex_sep(out, std::vector<byte>{0x00, 0x7f}, ", "));
  EXPECT_EQ(out, "00, 7f, ");
}

TEST(HexText, DumpLayout) {
  const byte short_line[3] = {0x41, 0x00, 0x7E};
  std::vector<byte> full(16);
  for (int i = 0; i < 16; ++i) full[i] = static_cast<byte>(0x30 + i);  // '0'..'?'
  std::vector<byte> seventeen(full);
  seventeen.push_back(0xFF);

  const std::string full_line =
      "30 31 32 33 34 35 36 37 38 39 3a 3b 3c 3d 3e 3f   0123456789:;<=>?\n";
  const struct {
    const byte* data;
    int length;
    std::string expect;
  } cases[] = {
      {short_line, 3, "41 00 7e " + std::string(13 * 3, ' ') + "  A.~\n\n"},
      {full.data(), 16, full_line + "\n"},
      {seventeen.data(), 17, full_line + "ff " + std::string(15 * 3, ' ') + "  .\n\n"},
      {full.data(), 0, "\n"},
      {nullptr, 5, "\n"},
  };
  for (const auto& c : cases) {
    std::string out;
    hex_dump(out, c.data, c.length);
    EXPECT_EQ(out, c.expect) << "length " << c.length;
  }
  ASSERT_EQ(full_line.size(), 67u);  // 16 x 3 + 2 + 16 and the newline

  std::string twice = "> ";
  hex_dump(twice, short_line, 1);
  hex_dump(twice, short_line, 1);
  const std::string one = "41 " + std::string(15 * 3, ' ') + "  A\n\n";
  EXPECT_EQ(twice, "> " + one + one);
}

}  // namespace
