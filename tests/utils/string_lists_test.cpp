// Splitters over counted buffers and the small list operations; narrow and
// wide splitters are run on the same texts.
#include "utils/string_lists.h"

#include <gtest/gtest.h>

namespace {

typedef std::vector<std::string> strings;
typedef std::vector<std::wstring> wstrings;

wstrings widen_all(const strings& in) {
  wstrings out;
  for (const std::string& s : in) out.emplace_back(s.begin(), s.end());
  return out;
}

TEST(StringLists, CountedSplittersNarrowAndWide) {
  const struct {
    std::string text;
    int count;
    char separator;
    bool trim;
    uint32 separators;
    strings pieces;
  } cases[] = {{"a,b,,c", 6, ',', false, 3, {"a", "b", "c"}},
               {",a , b,", 7, ',', true, 3, {"a", "b"}},
               {",a , b,", 7, ',', false, 3, {"a ", " b"}},
               {"a,b,c", 3, ',', false, 1, {"a", "b"}},
               {"line1\nline2\n", 12, '\n', false, 2, {"line1", "line2"}},
               {std::string("x\0y", 3), 3, '\0', false, 1, {"x", "y"}},
               {" , ", 3, ',', true, 1, {}}};
  for (const auto& c : cases) {
    strings out{"kept"};
    uint32 separators = 99;
    EXPECT_EQ(split_bytes(c.text.data(), c.count, c.separator, out, separators, c.trim), c.count) << c.text;
    EXPECT_EQ(separators, c.separators) << c.text;
    strings want{"kept"};
    want.insert(want.end(), c.pieces.begin(), c.pieces.end());
    EXPECT_EQ(out, want) << c.text;

    const std::wstring wide(c.text.begin(), c.text.end());
    wstrings wout{L"kept"};
    separators = 99;
    EXPECT_EQ(split_wchars(wide.data(), c.count, c.separator, wout, separators, c.trim), c.count) << c.text;
    EXPECT_EQ(separators, c.separators) << c.text;
    EXPECT_EQ(wout, widen_all(want)) << c.text;
  }
  const std::wstring accents = L"caf\u00e9\u00a7\U0001F600\u00a7";
  wstrings wout;
  uint32 separators = 99;
  EXPECT_EQ(split_wchars(accents.data(), 7, 0xA7, wout, separators, false), 7);
  EXPECT_EQ(wout, (wstrings{L"caf\u00e9", L"\U0001F600"}));
  EXPECT_EQ(separators, 2u);
  const std::string utf8 = "caf\xC3\xA9|x";
  strings out;
  EXPECT_EQ(split_bytes(utf8.data(), 7, '|', out, separators, false), 7);
  EXPECT_EQ(out, (strings{"caf\xC3\xA9", "x"}));
  separators = 99;
  EXPECT_EQ(split_bytes(nullptr, 4, ',', out, separators, false), 0);
  EXPECT_EQ(separators, 0u);
  separators = 99;
  EXPECT_EQ(split_wchars(L"a,b", 0, L',', wout, separators, false), 0);
  EXPECT_EQ(separators, 0u);
}

TEST(StringLists, NulListsAndWords) {
  wstrings w{L"kept"};
  EXPECT_TRUE(split_nul_list_w({L'a', 0, 0, 0xE9, L'b', 0}, w));
  EXPECT_EQ(w, (wstrings{L"kept", L"a", L"\u00e9b"}));
  EXPECT_TRUE(split_nul_list_w({}, w));
  EXPECT_EQ(w.size(), 3u);

  // Pieces between NUL units, surrogate pairs joined as in every name; out
  // cleared first.
  const uint16 units[] = {'x', 0, 0xE9, 'z', 0, 0, 0xD83D, 0xDE00, 'q'};
  const struct {
    int bytes;
    wstrings want;
  } lists[] = {{18, {L"x", L"\u00e9z", L"\U0001F600q"}},
               {7, {L"x", L"\u00e9"}},
               {2, {L"x"}},
               {0, {}},
               {-4, {}}};
  for (const auto& l : lists) {
    wstrings out{L"stale"};
    split_utf16_nul_list(units, out, l.bytes);
    EXPECT_EQ(out, l.want) << l.bytes;
  }
  wstrings out{L"stale"};
  split_utf16_nul_list(nullptr, out, 8);
  EXPECT_TRUE(out.empty());

  strings words{"stale"};
  EXPECT_TRUE(split_words("copy \"a b\" c", words));
  EXPECT_EQ(words, (strings{"stale", "copy", "a b", "c"})) << "words are appended when quotes are joined";
  words.clear();
  EXPECT_TRUE(split_words("  one  ", words));
  EXPECT_EQ(words, (strings{"one"}));
  EXPECT_FALSE(split_words("   ", words));
  EXPECT_FALSE(split_words("", words));
}

TEST(StringLists, ElementRemovalAndConversions) {
  const struct {
    int index;
    bool ok;
    strings want;
  } erases[] = {{0, true, {"b", "c"}}, {2, true, {"a", "b"}}, {1, true, {"a", "c"}}, {3, false, {"a", "b", "c"}},
                {-1, false, {"a", "b", "c"}}};
  for (const auto& e : erases) {
    strings n{"a", "b", "c"};
    EXPECT_EQ(erase_at(e.index, n), e.ok) << e.index;
    EXPECT_EQ(n, e.want) << e.index;
    wstrings w = widen_all({"a", "b", "c"});
    EXPECT_EQ(erase_at_w(e.index, w), e.ok) << e.index;
    EXPECT_EQ(w, widen_all(e.want)) << e.index;
    uint32 array[4] = {'a', 'b', 'c', 'z'};
    uint32 count = 3;
    EXPECT_EQ(remove_at_u32(e.index, count, array), e.ok) << e.index;
    EXPECT_EQ(count, e.want.size()) << e.index;
    for (size_t i = 0; i < e.want.size(); ++i) EXPECT_EQ(array[i], uint32(e.want[i][0])) << e.index;
    EXPECT_EQ(array[3], uint32('z')) << "nothing past the count is touched";
  }

  const strings utf8{"caf\xC3\xA9", "", "\xF0\x9F\x98\x80", "\xC3"};
  const wstrings wide{L"caf\u00e9", L"", L"\U0001F600", L""};
  wstrings w{L"stale"};
  strings_to_wstrings(utf8, w);
  EXPECT_EQ(w, wide);
  strings n{"stale"};
  wstrings_to_strings(wide, n);
  EXPECT_EQ(n, (strings{"caf\xC3\xA9", "", "\xF0\x9F\x98\x80", ""}));
  wstrings_to_strings({std::wstring(L"ab") + wchar_t(0x110000)}, n);
  EXPECT_EQ(n, (strings{""})) << "an unencodable element comes out empty";

  std::vector<uint32> widths{7, 7, 7, 7};
  EXPECT_TRUE(column_widths(widths, {{"abc", "d"}, {"a", "defg", "hi"}, {}, {"abcdef"}}));
  EXPECT_EQ(widths, (std::vector<uint32>{6, 4, 2}));
  EXPECT_FALSE(column_widths(widths, {{}, {}}));
  EXPECT_TRUE(widths.empty());

  std::vector<byte> multi{9};
  EXPECT_TRUE(strings_to_utf16_multi({"ab", "", "c"}, multi));
  EXPECT_EQ(multi, (std::vector<byte>{'a', 0, 'b', 0, 0, 0, 0, 0, 'c', 0, 0, 0, 0, 0}));
  strings_to_utf16_multi({}, multi);
  EXPECT_TRUE(multi.empty());

  std::vector<std::pair<std::string, std::string>> pairs{{"k", "v"}};
  EXPECT_FALSE(text_to_pairs(nullptr, 4, pairs));
  EXPECT_EQ(pairs.size(), 1u) << "refused before anything is touched";
  EXPECT_FALSE(text_to_pairs("a=b", 0, pairs));
  EXPECT_EQ(pairs.size(), 1u);
  EXPECT_FALSE(text_to_pairs("a=b", 3, pairs));
  EXPECT_TRUE(pairs.empty());
}

}  // namespace
