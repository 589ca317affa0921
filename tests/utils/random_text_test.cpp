// Random bytes and strings: ranges, alphabets and lengths only.
#include <gtest/gtest.h>

#include <set>

#include "utils/random_text.h"

namespace {

TEST(RandomText, AlphabetsAndLengths) {
  const struct {
    std::string (*make)(int);
    const char* alphabet;
  } kinds[] = {
      {random_hex_string, "0123456789abcdef"},
      {random_alnum_string, "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"},
      {random_upper_string, "ABCDEFGHIJKLMNOPQRSTUVWXYZ"},
      {random_digit_string, "0123456789"},
  };
  for (const auto& k : kinds) {
    const std::string s = k.make(2000);
    ASSERT_EQ(s.size(), 2000u);
    EXPECT_EQ(s.find_first_not_of(k.alphabet), std::string::npos) << k.alphabet;
    // 2000 draws over at most 62 symbols reach every one of them.
    EXPECT_EQ(std::set<char>(s.begin(), s.end()).size(), std::string(k.alphabet).size()) << k.alphabet;
    EXPECT_EQ(k.make(0).size(), k.make == random_digit_string ? 1u : 0u);
  }
  const std::string p = random_printable_string(3000);
  ASSERT_EQ(p.size(), 3000u);
  for (char c : p) ASSERT_TRUE(c >= 33 && c <= 126);
  EXPECT_TRUE(random_printable_string(-1).empty());
  for (int i = 0; i < 50; ++i) EXPECT_NE(random_digit_string(5)[0], '0');
}

TEST(RandomText, BytesStayInTheirRange) {
  std::set<int> seen;
  for (int i = 0; i < 2000; ++i) {
    const byte b = random_byte(200, 100);
    ASSERT_TRUE(b >= 100 && b <= 200);
    seen.insert(b);
    ASSERT_EQ(random_byte(7, 7), 7);
  }
  EXPECT_EQ(seen.size(), 101u);
  std::set<int> full;
  for (int i = 0; i < 20000; ++i) full.insert(random_byte(0, 255));
  EXPECT_EQ(full.size(), 256u);
  std::set<uint32> words;
  for (int i = 0; i < 100; ++i) words.insert(random_u32());
  EXPECT_GT(words.size(), 90u);
}

}  // namespace
