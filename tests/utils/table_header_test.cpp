// The header line of fixed-width tables and its column layout.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/support/fixture.h"
#include "utils/status_line.h"
#include "utils/table_header.h"

namespace {

TEST(TableHeader, LineWidthsOffsetsAndMap) {
  const struct {
    std::vector<std::string> titles;
    std::vector<uint32> minimum;
    std::string separator;
    std::string line;
    std::vector<uint32> widths;
    std::vector<uint32> offsets;
  } cases[] = {
      {{"a", "bb"}, {3, 1}, ",", "a  ,bb \n", {3, 2}, {0, 4, 7}},
      // Minimum widths whose count differs from the titles' are ignored.
      {{"a", "bb"}, {3, 1, 9}, ",", "a,bb \n", {1, 2}, {0, 2, 5}},
      // A longer separator: the blank and newline cover its first two
      // characters and the rest stays.
      {{"ab", "c"}, {}, " | ", "ab | c \n ", {2, 1}, {0, 5, 9}},
      {{"x"}, {4}, "\t", "x    \n", {4}, {0, 5}},
  };
  for (const auto& c : cases) {
    std::ostringstream out;
    std::vector<uint32> offsets{99}, widths = c.minimum;
    std::map<std::string, uint32> m{{"old", 1}};
    ASSERT_TRUE(format_table_header(out, offsets, m, widths, c.titles, c.separator));
    EXPECT_EQ(out.str(), c.line);
    EXPECT_EQ(widths, c.widths);
    EXPECT_EQ(offsets, c.offsets);
    EXPECT_EQ(m.count("old"), 0u);
  }
}

TEST(TableHeader, MapKeysAreTrimmedLowerCaseWithTheWidestWidth) {
  std::ostringstream out;
  std::vector<uint32> offsets, widths{2, 8, 1};
  std::map<std::string, uint32> m;
  ASSERT_TRUE(format_table_header(out, offsets, m, widths, {"a", " Size ", "bb"}, ","));
  EXPECT_EQ(out.str(), "a , Size   ,bb \n");
  const std::map<std::string, uint32> expect{{"a", 2}, {"size", 8}, {"bb", 2}};
  EXPECT_EQ(m, expect);

  std::vector<uint32> w2;
  ASSERT_TRUE(format_table_header(out, offsets, m, w2, {"Name", "NAME ", "name"}, ","));
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m["name"], 5u);
}

TEST(TableHeader, NoTitles) {
  std::ostringstream out;
  std::vector<uint32> offsets{1}, widths{7};
  std::map<std::string, uint32> m{{"k", 1}};
  EXPECT_FALSE(format_table_header(out, offsets, m, widths, {}, ","));
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(widths, std::vector<uint32>{7});
  EXPECT_TRUE(offsets.empty());
  EXPECT_TRUE(m.empty());
  std::map<std::wstring, uint32> wm;
  EXPECT_FALSE(format_table_header_w(out, offsets, wm, widths, {}, L","));
}

TEST(TableHeader, WideTitles) {
  std::ostringstream out;
  std::vector<uint32> offsets, widths{3, 1};
  std::map<std::wstring, uint32> m;
  ASSERT_TRUE(format_table_header_w(out, offsets, m, widths, {L"a", L"bb"}, L","));
  EXPECT_EQ(out.str(), "a  ,bb\n");
  EXPECT_EQ(offsets, (std::vector<uint32>{0, 4, 7}));
  EXPECT_EQ(widths, (std::vector<uint32>{3, 2}));

  // Widths count wide characters; the field pads by UTF-8 bytes, and the
  // separator's offset share is its UTF-8 length.
  std::ostringstream out2;
  std::vector<uint32> w2{4, 0};
  ASSERT_TRUE(format_table_header_w(out2, offsets, m, w2, {L"\u00e9", L" Z "}, L"\u00b7"));
  EXPECT_EQ(out2.str(), "\xc3\xa9  \xc2\xb7 Z \n");
  EXPECT_EQ(offsets, (std::vector<uint32>{0, 6, 11}));
  const std::map<std::wstring, uint32> expect{{L"\u00e9", 4}, {L"z", 3}};
  EXPECT_EQ(m, expect);
}

TEST(TableHeader, DropTailOnAnyOutputStream) {
  // Cutting: the text after the new position is gone and writing goes on
  // at the end.
  std::ostringstream text;
  text << "abcdef";
  EXPECT_TRUE(ostream_drop_tail(text, 3, true));
  text << "X";
  EXPECT_EQ(text.str(), "abcX");
  // Any string-backed stream through std::ostream&; without cut the tail
  // stays until overwritten.
  std::stringbuf buffer;
  std::ostream plain(&buffer);
  plain << "abcdef";
  EXPECT_TRUE(ostream_drop_tail(plain, 2, false));
  plain << "Z";
  EXPECT_EQ(buffer.str(), "abcdZf");
  std::stringstream both;
  both << "abc";
  EXPECT_TRUE(ostream_drop_tail(both, 0x80000000u, true)) << "a count past the text moves to the start";
  EXPECT_EQ(both.str(), "");
  both << "q";
  EXPECT_EQ(both.str(), "q");

  // A file stream moves back but cannot be cut.
  const std::string path = quor_test::scratch_dir() + "/drop_tail.txt";
  {
    std::ofstream file(path, std::ios::binary);
    file << "abcdef";
    EXPECT_FALSE(ostream_drop_tail(file, 2, true));
    file << "g";
    EXPECT_TRUE(ostream_drop_tail(file, 3, false));
    file << "X";
  }
  EXPECT_EQ(quor_test::read_file_text(path), "abcdXfg");

  std::ostringstream failed;
  failed << "abc";
  failed.setstate(std::ios::failbit);
  EXPECT_FALSE(ostream_drop_tail(failed, 1, true));
  EXPECT_EQ(failed.str(), "abc");
}

}  // namespace
