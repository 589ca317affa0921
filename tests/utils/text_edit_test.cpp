// In-place edits of characters, substrings, trailing NULs and words, the
// wide forms run on the same inputs as the narrow ones.
#include "utils/text_edit.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace {

std::wstring widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

TEST(TextEdit, CharacterReplacementInStringsAndBuffers) {
  const struct {
    std::string in;
    char c, with;
    bool nocase;
    std::string want;
  } cases[] = {{"aAb", 'a', 'A', true, "AAb"}, {"aAb", 'a', 'x', false, "xAb"}, {"a/b/c", '/', '\\', false, "a\\b\\c"},
               {"XxX", 'X', '_', true, "___"}, {"", 'a', 'b', true, ""},         {"1.2", '.', ',', true, "1,2"}};
  for (const auto& c : cases) {
    std::wstring w = widen(c.in);
    replace_char_w(w, c.c, c.with, c.nocase);
    EXPECT_EQ(w, widen(c.want)) << c.in;
    std::string buf = c.in;
    replace_char_in_buffer(&buf[0], static_cast<int>(buf.size()), c.c, c.with, c.nocase);
    EXPECT_EQ(buf, c.want) << c.in;
    std::wstring wbuf = widen(c.in);
    replace_char_in_buffer_w(&wbuf[0], static_cast<int>(wbuf.size()), c.c, c.with, c.nocase);
    EXPECT_EQ(wbuf, widen(c.want)) << c.in;
  }
  // Characters beyond ASCII are replaced only where they stand exactly.
  std::wstring accents = L"\u00e9\u00c9e\U0001F600";
  replace_char_w(accents, 0x1F600, L'.', true);
  EXPECT_EQ(accents, L"\u00e9\u00c9e.");
  replace_char_in_buffer_w(&accents[0], 4, 0xE9, L'e', false);
  EXPECT_EQ(accents, L"e\u00c9e.");
  // The length bounds the edit: the byte after it stays.
  char bounded[] = "aaaa";
  replace_char_in_buffer(bounded, 2, 'A', 'b', true);
  EXPECT_STREQ(bounded, "bbaa");
  replace_char_in_buffer(nullptr, 4, 'a', 'b', false);

  std::string name = "a1 b-\xC3\xA9Z";
  non_alpha_to_underscore(name);
  EXPECT_EQ(name, "a__b___Z");
}

TEST(TextEdit, WideSubstringEdits) {
  // nocase: `what` is matched without regard to case, the rest keeps its case.
  const struct {
    std::wstring s, what, with, want;
    bool ok;
  } replaces[] = {{L"a FOO foo", L"Foo", L"x", L"a x foo", true},
                  {L"caf\u00e9 NOTE", L"note", L"\U0001F600", L"caf\u00e9 \U0001F600", true},
                  {L"ab", L"", L"x", L"xab", true},
                  {L"", L"", L"x", L"", false},
                  {L"abc", L"z", L"x", L"abc", false}};
  for (const auto& r : replaces) {
    std::wstring s = r.s;
    const std::wstring what = r.what;
    EXPECT_EQ(replace_first_nocase_w(s, what, r.with), r.ok) << r.s;
    EXPECT_EQ(s, r.want) << r.s;
  }

  const struct {
    std::wstring s, what;
    bool nocase, ok;
    std::wstring want, what_after;
  } erases[] = {{L"a FOO foo", L"Foo", true, true, L"a  foo", L"foo"},
                {L"a FOO foo", L"Foo", false, false, L"a FOO foo", L"Foo"},
                {L"\u00e9x\u00e9", L"\u00e9", false, true, L"x\u00e9", L"\u00e9"},
                {L"abc", L"", false, true, L"abc", L""},
                {L"", L"", false, false, L"", L""}};
  for (const auto& e : erases) {
    std::wstring s = e.s, what = e.what;
    EXPECT_EQ(erase_first_w(s, what, e.nocase), e.ok) << e.s;
    EXPECT_EQ(s, e.want) << e.s;
    EXPECT_EQ(what, e.what_after) << e.s;
  }

  // With nocase only s is folded: the search text must be written in lower case.
  const struct {
    std::wstring s, what;
    bool nocase, ok;
    std::wstring want;
  } cuts[] = {{L"svc /S", L" /s", true, true, L"svc"},  {L"svc /S", L" /S", true, false, L"svc /S"},
              {L"svc /S", L" /S", false, true, L"svc"}, {L"x\u00e9y", L"\u00e9", false, true, L"x"},
              {L"abc", L"", false, true, L""},          {L"", L"", false, false, L""}};
  for (const auto& c : cuts) {
    std::wstring s = c.s;
    EXPECT_EQ(erase_from_w(s, c.what, c.nocase), c.ok) << c.s << "/" << c.what;
    EXPECT_EQ(s, c.want) << c.s << "/" << c.what;
  }
}

TEST(TextEdit, TrailingZerosEscapesAndWords) {
  const struct {
    std::vector<byte> in, want;
  } bytes[] = {{{'a', 0, 'b', 0, 0}, {'a', 0, 'b'}}, {{0, 0, 0}, {}}, {{}, {}}, {{1, 2}, {1, 2}}};
  for (const auto& b : bytes) {
    std::vector<byte> v = b.in;
    EXPECT_TRUE(strip_trailing_zero_bytes(v));
    EXPECT_EQ(v, b.want);
    std::vector<uint16> u(b.in.begin(), b.in.end()), want(b.want.begin(), b.want.end());
    EXPECT_TRUE(strip_trailing_zero_units(u));
    EXPECT_EQ(u, want);
  }
  std::vector<uint16> name = {0x00E9, 0xD83D, 0xDE00, 0, 0};
  EXPECT_TRUE(strip_trailing_zero_units(name));
  EXPECT_EQ(name, (std::vector<uint16>{0x00E9, 0xD83D, 0xDE00}));

  // The same table as the wide escape, on units.
  const struct {
    std::string in;
    std::wstring set;
    int inserted;
    std::string want;
  } escapes[] = {{"a b,c", L" ,", 2, "a\\ b\\,c"}, {"  ", L" ", 2, "\\ \\ "}, {"a\\b", L"\\", 1, "a\\\\b"},
                 {"abc", L"", 0, "abc"},         {"", L",", 0, ""}};
  for (const auto& e : escapes) {
    std::vector<uint16> u(e.in.begin(), e.in.end());
    EXPECT_EQ(escape_units(u, e.set), e.inserted) << e.in;
    EXPECT_EQ(u, std::vector<uint16>(e.want.begin(), e.want.end())) << e.in;
  }
  std::vector<uint16> wide = {0x00E9, ',', 0x20AC};
  EXPECT_EQ(escape_units(wide, L"\u20ac,"), 2);
  EXPECT_EQ(wide, (std::vector<uint16>{0x00E9, 92, ',', 92, 0x20AC}));

  const struct {
    std::string s;
    bool ok;
    std::string word, rest;
  } words[] = {{"  copy  a b", true, "copy", "    a b"}, {"one", true, "one", ""}, {"   ", true, "", "   "},
               {"", false, "", ""},                      {"\tx\ny", true, "x", "\t\ny"}};
  for (const auto& w : words) {
    std::string word = "stale";
    EXPECT_EQ(first_word(w.s, word), w.ok) << w.s;
    EXPECT_EQ(word, w.word) << w.s;
    std::string s = w.s;
    word = "stale";
    EXPECT_EQ(remove_first_word(s, word), w.ok) << w.s;
    EXPECT_EQ(word, w.word) << w.s;
    EXPECT_EQ(s, w.rest) << w.s;
  }
}

}  // namespace
