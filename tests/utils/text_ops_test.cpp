// Trimming, splitting, case and substring edits of narrow and wide text.
#include <gtest/gtest.h>

#include <cstring>

#include "utils/case_text.h"
#include "utils/narrow_lists.h"
#include "utils/path_split.h"
#include "utils/string_lists.h"
#include "utils/text_edit.h"
#include "utils/trim_join.h"

namespace {

TEST(Trim, ExactCharacterSets) {
  const struct {
    std::string in;
    bool ok;
    std::string want;
  } narrow[] = {{" \t\r\n", false, ""}, {" A ", true, "A"}, {"\tA b\r\n", true, "A b"}};
  for (const auto& c : narrow) {
    std::string s = c.in;
    EXPECT_EQ(trim(s), c.ok);
    EXPECT_EQ(s, c.want);
  }
  const struct {
    std::wstring in;
    bool ok;
    std::wstring want;
  } wide[] = {{L"\t\t", false, L""}, {L"A\r\n", true, L"A\r"}, {L"\r\r", true, L"\r\r"},
              {L"\t A \t", true, L" A "}, {L"  x\t ", true, L"x"}, {L"", false, L""}};
  for (const auto& c : wide) {
    std::wstring s = c.in;
    EXPECT_EQ(trim_w(s), c.ok);
    EXPECT_EQ(s, c.want);
  }
  // Only CR and LF go, from both ends; blanks and tabs stay.
  const struct {
    std::string in, want;
  } crlf[] = {{"\r\n A\t\r\n", " A\t"}, {"\n\r\n", ""}, {"", ""}, {"a\r\nb", "a\r\nb"},
              {"\rcaf\xC3\xA9\n", "caf\xC3\xA9"}, {" ", " "}};
  for (const auto& c : crlf) {
    std::string t = c.in;
    trim_crlf(t);
    EXPECT_EQ(t, c.want);
  }
  std::string s = "A\n\r\n";
  EXPECT_EQ(strip_trailing_crlf(s), 3);
  EXPECT_EQ(s, "A");
  s = "x";
  EXPECT_TRUE(remove_last_chars(s, 5));
  EXPECT_EQ(s, "");
  EXPECT_FALSE(remove_last_chars(s, 1));
  // A negative count is refused: the text stays whole.
  const struct {
    std::string in;
    int count;
    bool ok;
    std::string want;
  } last[] = {{"path\\", 1, true, "path"}, {"abc", 3, true, ""}, {"abc", 0, false, "abc"},
              {"abc", -1, false, "abc"}, {"abc", -2147483647 - 1, false, "abc"}};
  for (const auto& c : last) {
    s = c.in;
    EXPECT_EQ(remove_last_chars(s, c.count), c.ok) << c.count;
    EXPECT_EQ(s, c.want) << c.count;
  }
  std::wstring ext = L".txt";
  EXPECT_EQ(remove_char_w(ext, L'.'), 1);
  EXPECT_EQ(ext, L"txt");
}

TEST(Split, PiecesBetweenSeparatorsEmptyOnesDropped) {
  std::vector<std::wstring> w{L"kept"};
  EXPECT_TRUE(split_w(L"\\a\\\\b\\", L'\\', w));
  EXPECT_EQ(w, (std::vector<std::wstring>{L"kept", L"a", L"b"}));
  EXPECT_FALSE(split_w(L"", L'\\', w));
  w.clear();
  EXPECT_TRUE(split_w(std::wstring(L"a\\b\0c\\d", 7), L'\\', w));
  EXPECT_EQ(w, (std::vector<std::wstring>{L"a", L"b"})) << "the text ends at its first NUL";
  w.clear();
  EXPECT_TRUE(split_w_trim(L"a , b", L',', w, true));
  EXPECT_EQ(w, (std::vector<std::wstring>{L"a", L"b"}));

  std::vector<std::string> n;
  EXPECT_TRUE(split_by_char(",a,,b,", ',', n, false));
  EXPECT_TRUE(split_by_char("c,  ,d", ',', n, true));
  EXPECT_EQ(n, (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_FALSE(split_by_char("", ',', n, false));
  n.clear();
  EXPECT_TRUE(split_nul_list({'a', 0, 0, 'b', 0}, n));
  EXPECT_EQ(n, (std::vector<std::string>{"a", "b"}));

  std::vector<std::wstring> list;
  const uint16 units[] = {'x', 0, 'y', 'z', 0, 0};
  split_utf16_list(units, list, -1);
  EXPECT_EQ(list, (std::vector<std::wstring>{L"x", L"yz", L""}));

  std::vector<std::string> words;
  EXPECT_EQ(split_words_quoted("a \"b c\" d", 0, words, true), 4);
  EXPECT_EQ(words, (std::vector<std::string>{"a", "b c", "d"}));
  words.clear();
  EXPECT_EQ(split_words_quoted("\"open never closed", 0, words, true), 3);
  EXPECT_EQ(words, (std::vector<std::string>{"open never closed "}));
}

TEST(PathSplit, LastSeparatorAndDotDot) {
  struct Case {
    const char* path;
    const char* dir;
    const char* leaf;
  } cases[] = {{"c:\\dir\\file.txt", "c:\\dir", "file.txt"}, {"c:\\dir\\..", "c:\\dir\\..", "."}, {"a/b", "a", "b"},
               {"a/b/..", "a/b//..", "."}, {"a\\b/c", "a", "b/c"}, {"file", ".", "file"}, {"\\file", ".", "\\file"},
               {"/", ".", "/"}, {"x\\", "x", ""}, {"..\\x", "..", "x"}};
  for (const Case& c : cases) {
    std::string dir, leaf;
    EXPECT_TRUE(split_path(c.path, dir, leaf));
    EXPECT_EQ(dir, c.dir) << c.path;
    EXPECT_EQ(leaf, c.leaf) << c.path;
    std::wstring wdir, wleaf, wpath(c.path, c.path + std::strlen(c.path));
    EXPECT_TRUE(split_path_w(wpath, wdir, wleaf));
    EXPECT_EQ(wdir, std::wstring(c.dir, c.dir + std::strlen(c.dir)));
    EXPECT_EQ(wleaf, std::wstring(c.leaf, c.leaf + std::strlen(c.leaf)));
  }
  std::string dir = "keep", leaf;
  EXPECT_FALSE(split_path("", dir, leaf));
  EXPECT_FALSE(split_path(static_cast<const char*>(nullptr), dir, leaf));
  EXPECT_EQ(dir, "keep");
  std::string base, ext;
  EXPECT_TRUE(split_path_ext("d\\a.tar.gz", dir, base, ext));
  EXPECT_EQ(base + "|" + ext, "a|tar.gz");
  std::wstring wd, wn, we;
  EXPECT_TRUE(split_path_ext_w(L"c:\\dir\\file", wd, wn, we));
  EXPECT_EQ(wn + L"|" + we, L"file|");
}

TEST(SubstringEdits, FirstOccurrenceAndLoops) {
  // -path values: doubled backslashes collapse by calling until false.
  std::string p = "a\\\\\\\\b", doubled = "\\\\";
  while (replace_first(p, doubled, "\\", false)) {
  }
  EXPECT_EQ(p, "a\\b");
  EXPECT_EQ(doubled, "\\\\");
  // With nocase the caller's search text is lower-cased in place.
  std::string t = "a FOO foo", foo = "Foo";
  EXPECT_TRUE(replace_first(t, foo, "x", true));
  EXPECT_EQ(t, "a x foo");
  EXPECT_EQ(foo, "foo");
  std::string kept = "Foo";
  EXPECT_FALSE(replace_first(t, kept, "y", false));
  EXPECT_EQ(kept, "Foo") << "without nocase the search text is left alone";
  std::string e = "", nothing = "";
  EXPECT_FALSE(replace_first(e, nothing, "x", false));
  std::string front = "ab";
  EXPECT_TRUE(replace_first(front, nothing, "x", false));
  EXPECT_EQ(front, "xab");
  EXPECT_EQ(replace_all("aaaa", "aa", "b"), "bb");
  EXPECT_EQ(replace_all("aaaa", "a", ""), "");
  char buf[] = "hello world";
  EXPECT_TRUE(erase_first_in_place(buf, "lo", false));
  EXPECT_STREQ(buf, "hel world");
  std::string cmd = "svc /S";
  EXPECT_TRUE(erase_from(cmd, " /s", true));
  EXPECT_EQ(cmd, "svc");
  cmd = "svc /S";
  EXPECT_FALSE(erase_from(cmd, " /S", true));
  std::string out;
  EXPECT_TRUE(normalize_system_path("\\SystemRoot\\System32\\drivers\\x.sys", out, "C:\\Windows"));
  EXPECT_EQ(out, "C:\\Windows\\system32\\drivers\\x.sys");
  EXPECT_TRUE(normalize_system_path("System32\\svchost.exe -k grp", out, "C:\\Windows"));
  EXPECT_EQ(out, "C:\\Windows\\system32\\svchost.exe");
  EXPECT_TRUE(normalize_system_path("\\??\\C:\\Drv\\a.sys", out, "C:\\Windows"));
  EXPECT_EQ(out, "c:\\drv\\a.sys");

  std::wstring w = L"abc";
  std::wstring what = L"B";
  EXPECT_TRUE(replace_first_w(w, what, L"xy", true));
  EXPECT_EQ(w, L"axyc");
  std::string r = "aAb";
  replace_char(r, 'a', 'A', true);
  EXPECT_EQ(r, "AAb");
  std::string pct = "100%%";
  EXPECT_EQ(remove_char(pct, '%'), 2);
  EXPECT_EQ(pct, "100");
  std::string nuls(3, '\0');
  strip_trailing_nuls(nuls);
  EXPECT_EQ(nuls.size(), 3u);
  std::wstring wnuls(3, L'\0');
  strip_trailing_nuls_w(wnuls);
  EXPECT_TRUE(wnuls.empty());
  std::wstring esc = L"a b,c";
  escape_chars_w(esc, L" ,");
  EXPECT_EQ(esc, L"a\\ b\\,c");
  const struct {
    std::string in, set, want;
  } escapes[] = {{"a b,c", " ,", "a\\ b\\,c"}, {"  ", " ", "\\ \\ "}, {"a\\b", ",", "a\\b"},
                 {"a\\b", "\\", "a\\\\b"}, {"abc", "", "abc"}, {"", ",", ""}};
  for (const auto& c : escapes) {
    std::string text = c.in;
    escape_chars(text, c.set);
    EXPECT_EQ(text, c.want) << c.in << " with set " << c.set;
  }
}

TEST(CaseText, ComparisonsAndSearches) {
  EXPECT_EQ(compare(nullptr, nullptr, true), 0);
  EXPECT_EQ(compare("a", nullptr, true), 1);
  EXPECT_EQ(compare(nullptr, "a", false), -1);
  EXPECT_EQ(compare("ABC", "abc", true), 0);
  EXPECT_NE(compare("ABC", "abc", false), 0);
  EXPECT_EQ(compare_w(L"$I30", L"$i30", true), 0);
  EXPECT_EQ(compare_n_nocase("ab", "AC", 2), -1);
  EXPECT_EQ(compare_n_nocase("ab", "AC", 1), 0);
  std::string text = "a\\DIR", what = "dir";
  EXPECT_EQ(find_nocase(text, what, true), 2);
  EXPECT_EQ(text, "a\\dir");
  std::string a = "abc", b = "ABD";
  EXPECT_FALSE(starts_equal_nocase(a, b, 4));
  EXPECT_TRUE(starts_equal_nocase(a, b, 2));
  char lb[] = "ABC";
  lower_buffer(lb, 3);
  EXPECT_STREQ(lb, "abC");
  std::string high = "\xC3\x89X";
  to_lower(high);
  EXPECT_EQ(high, "\xC3\x89x") << "UTF-8 bytes pass unchanged";
  const char* hay = "One TWO three";
  EXPECT_EQ(strstr_nocase(hay, "two"), hay + 4);
  EXPECT_EQ(strstr_nocase(hay, "four"), nullptr);
}

TEST(NarrowLists, NumbersRangesAndKeys) {
  std::vector<long64> v{99};
  EXPECT_TRUE(parse_int64_list("1 0x10 x 7", v));
  EXPECT_EQ(v, (std::vector<long64>{1, 16, 0, 7}));
  EXPECT_FALSE(parse_int64_list("abc", v));
  EXPECT_TRUE(v.empty());
  v = {42};
  EXPECT_TRUE(parse_int64_list("5, -3", v, ','));
  EXPECT_EQ(v, (std::vector<long64>{42, 5}));
  std::vector<byte> bytes;
  EXPECT_TRUE(parse_byte_list("255 0x1ff 'A'", bytes));
  EXPECT_EQ(bytes, (std::vector<byte>{255, 255, 65}));
  std::vector<u64_range> r;
  EXPECT_TRUE(parse_ranges(r, "5, 10-20,20-10,0x10-", ',', '-'));
  EXPECT_EQ(r, (std::vector<u64_range>{{5, 5}, {10, 20}, {20, 10}, {16, 0}}));
  // A piece of blanks reads as 0 like any unreadable piece; two separators
  // in a row give no piece at all.
  const struct {
    const char* text;
    std::vector<u64_range> want;
  } ranges[] = {
      {"5, ,7", {{5, 5}, {0, 0}, {7, 7}}}, {"5,,7", {{5, 5}, {7, 7}}}, {"5,\t,x,7", {{5, 5}, {0, 0}, {0, 0}, {7, 7}}},
      {" - ", {{0, 0}}}, {" ", {{0, 0}}},
  };
  for (const auto& c : ranges) {
    r.assign(1, {9, 9});
    EXPECT_TRUE(parse_ranges(r, c.text, ',', '-')) << c.text;
    EXPECT_EQ(r, c.want) << c.text;
  }
  EXPECT_FALSE(parse_ranges(r, "", ',', '-'));
  EXPECT_TRUE(r.empty());
  const struct {
    const char *text, *key, *delims;
    bool nocase;
    const char *want, *delims_after;
  } values[] = {
      {"name=Disk1;size=5", "size=", ";", false, "5", ";"},
      {"name=Disk1;size=5", "NAME=", ";", true, "Disk1", ";"},
      {"NAME=Disk1;size=5", "name=", ";", true, "Disk1", ";"},
      {"name=Disk1", "cid=", ";", false, "", ";"},
      {"name=Disk1", nullptr, ";", false, "", ";"},
      {"a=1;", "a=", "", false, "1;", ""},
      // With nocase the delimiters are lower-cased in place and looked for
      // in the lower-cased text; the value keeps its own case.
      {"key=abXcdxef", "KEY=", "X", true, "ab", "x"},
      {"key=abXcdxef", "key=", "X", false, "ab", "X"},
      {"key=abXcdxef", "key=", "x", false, "abXcd", "x"},
  };
  for (const auto& c : values) {
    std::string delims = c.delims;
    EXPECT_EQ(value_after_key(c.text, c.key, delims, c.nocase), c.want) << c.text << " " << c.delims;
    EXPECT_EQ(delims, c.delims_after) << c.text;
  }

  const uint16 lines[] = {'a', 'b', 13, 10, 'c'};
  const uint16* p = lines;
  int left = 5;
  EXPECT_EQ(read_utf16_line(p, left, false), "ab");
  EXPECT_EQ(p, lines + 4);
  EXPECT_EQ(left, 1);
  const uint16 open[] = {'a', 'b'};
  p = open;
  left = 2;
  EXPECT_EQ(read_utf16_line(p, left, false), "ab");
  EXPECT_EQ(p, open);
  EXPECT_EQ(left, 2);
}

TEST(JoinQuoted, CommandLineEcho) {
  std::string one = "A", two = "B D", three = "";
  char* items[] = {&one[0], &two[0], &three[0]};
  std::string out;
  EXPECT_TRUE(join_quoted(out, 3, items));
  EXPECT_EQ(out, "A \"B D\" ");
  std::wstring wout;
  int count = 0;
  EXPECT_TRUE(join_quoted_w(wout, count, {L"", L"A", L"x y"}));
  EXPECT_EQ(wout, L"A \"x y\"");
  EXPECT_EQ(count, 3);
  std::string lf;
  const byte text[] = {'A', '\n', 'B', '\n'};
  EXPECT_TRUE(lf_to_crlf(text, 4, lf));
  EXPECT_EQ(lf, "A\r\nB\r\n");
  EXPECT_FALSE(lf_to_crlf(text, 2, lf));
}

TEST(Split, AtATwoBytePair) {
  const uint16 crlf = 0x0A0D;  // CR then LF, read little-endian
  const struct {
    std::string text;
    bool trim;
    std::vector<std::string> pieces;
  } cases[] = {{"a\r\nb\r\n", false, {"a", "b"}},
               {"\r\n\r\nx", false, {"x"}},
               {" a \r\n b", true, {"a", "b"}},
               {" a \r\n b", false, {" a ", " b"}},
               {"a\rb\n", false, {"a\rb\n"}},
               {"\n\r\n", false, {"\n"}},  // LF CR is not the pair; the CR LF after it is
               {"ab\r", false, {"ab\r"}}};
  for (const auto& c : cases) {
    std::vector<std::string> out{"kept"};
    EXPECT_EQ(split_at_pair(reinterpret_cast<const byte*>(c.text.data()), static_cast<int>(c.text.size()), crlf, out,
                            c.trim),
              static_cast<int>(c.text.size()));
    std::vector<std::string> want{"kept"};
    want.insert(want.end(), c.pieces.begin(), c.pieces.end());
    EXPECT_EQ(out, want) << c.text;
  }
  std::vector<std::string> out;
  const byte two[] = {'a', 'b'};
  EXPECT_EQ(split_at_pair(nullptr, 2, crlf, out, false), 0);
  EXPECT_EQ(split_at_pair(two, 0, crlf, out, false), 0);
  EXPECT_TRUE(out.empty());
}

TEST(Split, PrefixedLinesRememberTheLineEnd) {
  // The separator starts as CR LF and, once a text with only LF ends is
  // met, stays LF for every later call.
  std::vector<std::string> out;
  const char crlf_text[] = "Name: a\r\nx\r\nNAME: b\r\n";
  EXPECT_TRUE(find_prefixed_lines(crlf_text, sizeof crlf_text, "name:", out, true));
  EXPECT_EQ(out, (std::vector<std::string>{"Name: a", "NAME: b"}));
  EXPECT_TRUE(find_prefixed_lines(crlf_text, sizeof crlf_text, "name:", out, false));
  EXPECT_EQ(out, (std::vector<std::string>{"Name: a", "NAME: b", "Name: a"})) << "appended, first line only";
  out.clear();
  EXPECT_FALSE(find_prefixed_lines("na\r\nnam\r\n", 10, "name:", out, true)) << "lines shorter than the prefix";
  EXPECT_FALSE(find_prefixed_lines("name: no line end", 17, "name:", out, true));
  EXPECT_FALSE(find_prefixed_lines(nullptr, 5, "name:", out, true));
  EXPECT_FALSE(find_prefixed_lines(crlf_text, 0, "name:", out, true));
  EXPECT_FALSE(find_prefixed_lines(crlf_text, sizeof crlf_text, nullptr, out, true));
  EXPECT_TRUE(out.empty());

  EXPECT_TRUE(find_prefixed_lines("x\nname: c\nname: d\n", 18, "name:", out, false));
  EXPECT_EQ(out, std::vector<std::string>{"name: c"});
  out.clear();
  EXPECT_TRUE(find_prefixed_lines(crlf_text, sizeof crlf_text, "name:", out, true));
  EXPECT_EQ(out, (std::vector<std::string>{"Name: a\r", "NAME: b\r"})) << "split at LF now, the CR kept";
}

TEST(Lists, MergeSortedUnique) {
  typedef std::vector<std::string> list;
  const struct {
    list a, b;
    bool lower;
    list want;
  } cases[] = {{{"b", "a"}, {"A", "c"}, true, {"a", "b", "c"}},
               {{"b", "a"}, {"A", "c"}, false, {"A", "a", "b", "c"}},
               {{"x", "x"}, {}, false, {"x"}},
               {{}, {"\xC3\xA9", "z", "Z"}, true, {"z", "\xC3\xA9"}},
               {{}, {}, false, {}}};
  for (const auto& c : cases) {
    list out;
    EXPECT_TRUE(merge_sorted_unique(c.a, c.b, out, c.lower));
    EXPECT_EQ(out, c.want);
  }
}

TEST(Lists, SplitArgsJoinsThenSplits) {
  std::string prog = "prog", spaced = "a b", plain = "c", commas = "x,y";
  char* argv[] = {&prog[0], &spaced[0], &plain[0], &commas[0]};
  std::vector<std::string> out{"stale"};
  EXPECT_TRUE(split_args(out, 4, argv, ' '));
  EXPECT_EQ(out, (std::vector<std::string>{"prog", "a b", "c", "x,y"}));
  EXPECT_TRUE(split_args(out, 4, argv, ','));
  EXPECT_EQ(out, (std::vector<std::string>{"prog \"a b\" c x", "y"}));
  EXPECT_FALSE(split_args(out, 0, argv, ' '));
  EXPECT_FALSE(split_args(out, 2, nullptr, ' '));
  EXPECT_EQ(out, (std::vector<std::string>{"prog \"a b\" c x", "y"})) << "a refused call leaves out alone";
}

TEST(Cleaning, FilterPrintable) {
  const struct {
    std::string text;
    int length;
    bool keep_line_ends;
    char replacement;
    std::string want;
  } cases[] = {{"A\x01" "B", 3, false, '?', "A?B"},
               {"A\x01" "B", 3, false, 0, "AB"},
               {"a\r\nb", 4, true, '.', "a\r\nb"},
               {"a\r\nb", 4, false, '.', "a..b"},
               {" ~\x7F\x80\xFF", 5, false, '?', " ~???"},
               {std::string("ab\0cd", 5), 5, false, '?', "ab"},
               {"abcd", 2, false, '?', "ab"},
               {"abcd", -1, false, '?', ""}};
  for (const auto& c : cases) {
    std::string out = "stale";
    EXPECT_TRUE(filter_printable(out, reinterpret_cast<const byte*>(c.text.data()), c.length, c.keep_line_ends,
                                 c.replacement));
    EXPECT_EQ(out, c.want) << c.text;
  }
  std::string out = "stale";
  EXPECT_FALSE(filter_printable(out, nullptr, 3, false, '?'));
  EXPECT_EQ(out, "");
  const byte one = 'a';
  EXPECT_FALSE(filter_printable(out, &one, 0, false, '?'));
}

TEST(Cleaning, BareLineFeedsBecomeCrLf) {
  const struct {
    std::string text;
    bool ok;
    std::string want;
  } cases[] = {{"A\nB\n", true, "A\r\nB\r\n"},
               {"\n\n", true, "\r\n\r\n"},
               {"A\nB", true, "A\r\nB"},
               {"A\nB\r", true, "A\r\nB\r"},  // the last byte is never classified
               {"A\n", false, ""},
               {"A\r\nB\r\n", false, ""},
               {"A\nB\r\n", false, ""},
               {"\n\r", false, ""},
               {"A\rB\n", false, ""},
               {"AB", false, ""},
               {"A", false, ""}};
  for (const auto& c : cases) {
    std::string out = "stale";
    EXPECT_EQ(lf_to_crlf(reinterpret_cast<const byte*>(c.text.data()), static_cast<int>(c.text.size()), out), c.ok)
        << c.text;
    if (c.ok) {
      EXPECT_EQ(out, c.want) << c.text;
    }
  }
}

}  // namespace
