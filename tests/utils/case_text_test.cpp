// Case mapping, predicates and searches: each narrow operation beside its
// wide twin on the same inputs. The process keeps the default locale, so
// only ASCII letters fold and other characters pass unchanged.
#include "utils/case_text.h"

#include <gtest/gtest.h>

#include <cctype>

namespace {

std::wstring widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

TEST(CaseText, WholeStringMappingNarrowAndWide) {
  const struct {
    std::string in, lower, upper;
  } cases[] = {{"MiXeD 123", "mixed 123", "MIXED 123"}, {"", "", ""}, {"$I30:x", "$i30:x", "$I30:X"}};
  for (const auto& c : cases) {
    std::string n = c.in;
    to_upper(n);
    EXPECT_EQ(n, c.upper);
    std::wstring w = widen(c.in);
    to_upper_w(w);
    EXPECT_EQ(w, widen(c.upper));
    w = widen(c.in);
    to_lower_w(w);
    EXPECT_EQ(w, widen(c.lower));
  }
  // Characters beyond ASCII are not folded without a locale, and a wide
  // character above 0xFFFF survives the round through the case functions.
  std::wstring w = L"\u00e9\U0001F600a";
  to_upper_w(w);
  EXPECT_EQ(w, L"\u00e9\U0001F600A");
  to_lower_w(w);
  EXPECT_EQ(w, L"\u00e9\U0001F600a");
  std::string high = "\xC3\xA9z";
  to_upper(high);
  EXPECT_EQ(high, "\xC3\xA9Z");
}

TEST(CaseText, PredicatesFoldToUpperCase) {
  // '_' (0x5F) lies between the upper (0x41-0x5A) and lower (0x61-0x7A)
  // letters, so upper folding orders it after every letter.
  const struct {
    char a, b;
    bool less, equal;
  } cases[] = {{'a', 'A', false, true}, {'a', 'B', true, false}, {'Z', 'a', false, false},
               {'a', '_', true, false}, {'_', 'z', false, false}, {'1', '1', false, true}};
  for (const auto& c : cases) {
    const wchar_t wa = c.a, wb = c.b;
    EXPECT_EQ(char_less_nocase(c.a, c.b), c.less) << c.a << c.b;
    EXPECT_EQ(char_equal_nocase(c.a, c.b), c.equal) << c.a << c.b;
    EXPECT_EQ(char_equal_nocase_value(c.a, c.b), c.equal) << c.a << c.b;
    EXPECT_EQ(wchar_less_nocase(wa, wb), c.less) << c.a << c.b;
    EXPECT_EQ(wchar_equal_nocase(wa, wb), c.equal) << c.a << c.b;
  }
  const wchar_t e_acute = 0xE9, cap_e_acute = 0xC9;
  EXPECT_FALSE(wchar_equal_nocase(e_acute, cap_e_acute));
}

TEST(CaseText, CountedComparisonsAndCharacterSearch) {
  const struct {
    const char *a, *b;
    int n, want;
  } counted[] = {{"ab", "AC", 2, -1}, {"ab", "AC", 1, 0}, {"AC", "ab", 2, 1}, {"x", "y", 0, 0},
                 {"abc", "ABC", 3, 0}, {"ab", "ab", 5, 0}};
  for (const auto& c : counted) {
    EXPECT_EQ(compare_n_nocase(c.a, c.b, c.n), c.want) << c.a << " " << c.b << " " << c.n;
    EXPECT_EQ(compare_n_nocase_w(widen(c.a).c_str(), widen(c.b).c_str(), c.n), c.want)
        << c.a << " " << c.b << " " << c.n;
  }
  // The wide pair is compared as unsigned values: a character above 0x7FFF
  // sorts after ASCII, and a negative wchar_t after everything.
  const wchar_t high[] = {static_cast<wchar_t>(0x20AC), 0};
  const wchar_t negative[] = {static_cast<wchar_t>(-1), 0};
  EXPECT_EQ(compare_n_nocase_w(high, L"z", 1), 1);
  EXPECT_EQ(compare_n_nocase_w(L"z", negative, 1), -1);

  const char text[] = "abcXd";
  const wchar_t wtext[] = L"abcXd";
  const struct {
    char c;
    int count, at;  // at -1: not found
  } finds[] = {{'x', 5, 3}, {'X', 5, 3}, {'D', 5, 4}, {'d', 4, -1}, {'a', 0, -1}, {'q', 5, -1}};
  for (const auto& f : finds) {
    const char* got = find_char_nocase(text, static_cast<unsigned>(f.count), &f.c);
    EXPECT_EQ(got, f.at < 0 ? nullptr : text + f.at) << f.c << f.count;
    const wchar_t wc = f.c;
    const wchar_t* wgot = find_char_nocase_w(wtext, f.count, &wc);
    EXPECT_EQ(wgot, f.at < 0 ? nullptr : wtext + f.at) << f.c << f.count;
  }
}

TEST(CaseText, StringSearchesAndEqualityWideTwins) {
  const struct {
    std::string text, what;
    bool nocase;
    int want;
  } finds[] = {{"a\\DIR", "dir", true, 2}, {"a\\DIR", "dir", false, -1}, {"abc", "", false, 0},
               {"", "", false, -1}, {"x", "xy", true, -1}};
  for (const auto& f : finds) {
    std::wstring text = widen(f.text), what = widen(f.what);
    EXPECT_EQ(find_nocase_w(text, what, f.nocase), f.want) << f.text << "/" << f.what;
    if (f.nocase) {
      EXPECT_EQ(text, widen(lower(f.text))) << "the caller's text is lower-cased in place";
    }
  }
  std::wstring name = L"caf\u00e9 NOTE.txt", key = L"note";
  EXPECT_EQ(find_nocase_w(name, key, true), 5);
  EXPECT_EQ(name, L"caf\u00e9 note.txt");

  const struct {
    std::string a, b;
    int n;
    bool starts;
    bool equal;
  } pairs[] = {{"abc", "ABD", 2, true, false}, {"abc", "ABD", 3, false, false}, {"abc", "AB", 3, false, false},
               {"abc", "ABC", 0, true, true},  {"", "", 1, false, true},       {"ab", "abc", -1, true, false}};
  for (const auto& p : pairs) {
    std::wstring a = widen(p.a), b = widen(p.b);
    EXPECT_EQ(starts_equal_nocase_w(a, b, p.n), p.starts) << p.a << "/" << p.b << " " << p.n;
    std::wstring x = widen(p.a), y = widen(p.b);
    EXPECT_EQ(equals_nocase_w(x, y), p.equal) << p.a << "/" << p.b;
    std::string na = p.a, nb = p.b;
    EXPECT_EQ(equals_nocase(na, nb), p.equal) << p.a << "/" << p.b;
    EXPECT_EQ(na + "/" + nb, lower(p.a) + "/" + lower(p.b)) << "both arguments are lower-cased in place";
  }
  std::wstring e1 = L"\u00c9T\u00c9", e2 = L"\u00e9t\u00e9";
  EXPECT_FALSE(equals_nocase_w(e1, e2)) << "no locale: accented letters do not fold";
  EXPECT_EQ(e1, L"\u00c9t\u00c9");
}

TEST(CaseText, CountedBytesAndWideSubstringSearch) {
  const struct {
    const char *a, *b;
    int n;
    bool want;
  } counted[] = {{"<TABLE", "<table", 6, true}, {"<TABLE", "<tablx", 6, false}, {"<TABLE", "<tablx", 5, true},
                 {"x", "y", 0, true}};
  for (const auto& c : counted) EXPECT_EQ(equal_n_nocase(c.a, c.b, c.n), c.want) << c.a << " " << c.n;
  // NUL bytes inside the count are compared like any other byte.
  EXPECT_TRUE(equal_n_nocase("A\0B", "a\0b", 3));
  EXPECT_FALSE(equal_n_nocase("A\0B", "a\0c", 3));

  const wchar_t* hay = L"One TWO caf\u00e9 three";
  const struct {
    const wchar_t* what;
    int at;
  } finds[] = {{L"two", 4}, {L"Three", 13}, {L"CAF\u00e9", 8}, {L"four", -1}, {L"caf\u00c9", -1}};
  for (const auto& f : finds) {
    EXPECT_EQ(wcsstr_nocase(hay, f.what), f.at < 0 ? nullptr : hay + f.at);
  }
  EXPECT_EQ(wcsstr_nocase(nullptr, L"x"), nullptr);
  EXPECT_EQ(wcsstr_nocase(hay, nullptr), nullptr);
}

}  // namespace
