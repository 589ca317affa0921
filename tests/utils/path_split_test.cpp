// Path splitting and substring rewriting: every form of an operation (string,
// pointer, wide, UTF-16 units) gives the same answer on the same input.
#include "utils/path_split.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>

#include "utils/text_edit.h"
#include "utils/utf_convert.h"

namespace {

std::vector<uint16> units_of(const std::wstring& w) {
  std::vector<uint16> u;
  std::vector<uint32> cps(w.begin(), w.end());
  utf32_to_utf16(u, cps);
  u.push_back(0);
  return u;
}

TEST(PathSplitForms, StringPointerWideAndUnitPathsAgree) {
  const struct {
    std::string path, dir, leaf;
  } cases[] = {{"c:\\caf\xC3\xA9\\\xF0\x9F\x98\x80.txt", "c:\\caf\xC3\xA9", "\xF0\x9F\x98\x80.txt"},
               {"a/b/..", "a/b//..", "."}, {"a\\b/c", "a", "b/c"}, {"file", ".", "file"}, {"\\x", ".", "\\x"},
               {"x\\", "x", ""}};
  for (const auto& c : cases) {
    std::string dir = "stale", leaf = "stale";
    EXPECT_TRUE(split_path(c.path, dir, leaf)) << c.path;
    EXPECT_EQ(dir, c.dir) << c.path;
    EXPECT_EQ(leaf, c.leaf) << c.path;
    std::string pdir, pleaf;
    EXPECT_TRUE(split_path(c.path.c_str(), pdir, pleaf));
    EXPECT_EQ(pdir + "|" + pleaf, dir + "|" + leaf);

    const std::vector<uint16> u = units_of(utf8_to_wstring(c.path));
    std::wstring wdir = L"stale", wleaf = L"stale";
    EXPECT_TRUE(split_path_utf16(u.data(), wdir, wleaf)) << c.path;
    EXPECT_EQ(wstring_to_utf8(wdir), c.dir) << c.path;
    EXPECT_EQ(wstring_to_utf8(wleaf), c.leaf) << c.path;
  }
  // An empty path is refused by every form: the directory-and-leaf forms
  // leave their outputs as they were, the extension forms empty theirs.
  std::string dir = "keep", leaf = "keep";
  EXPECT_FALSE(split_path(std::string(), dir, leaf));
  EXPECT_EQ(dir + leaf, "keepkeep");
  std::wstring wdir = L"keep", wleaf = L"keep";
  EXPECT_FALSE(split_path_w(std::wstring(), wdir, wleaf));
  EXPECT_EQ(wdir + wleaf, L"keepkeep");
  EXPECT_FALSE(split_path_utf16(nullptr, wdir, wleaf));
  const uint16 empty[] = {0};
  EXPECT_FALSE(split_path_utf16(empty, wdir, wleaf));
  EXPECT_EQ(wdir + wleaf, L"keepkeep");
  std::string base = "keep", ext = "keep";
  EXPECT_FALSE(split_path_ext("", dir, base, ext));
  EXPECT_EQ(dir + base + ext, "");
  std::wstring wbase = L"keep", wext = L"keep";
  EXPECT_FALSE(split_path_ext_w(std::wstring(), wdir, wbase, wext));
  EXPECT_EQ(wdir + wbase + wext, L"");
  // At most 500 units are read from an unterminated path.
  std::vector<uint16> long_path(600, 'x');
  long_path[10] = '\\';
  EXPECT_TRUE(split_path_utf16(long_path.data(), wdir, wleaf));
  EXPECT_EQ(wdir, std::wstring(10, L'x'));
  EXPECT_EQ(wleaf, std::wstring(489, L'x'));
}

TEST(PathSplitForms, NarrowAndWideSubstringEditsAgree) {
  const struct {
    std::string s, what;
    bool nocase, ok;
    std::string want;
  } erases[] = {{"hello world", "lo", false, true, "hel world"}, {"a FOO foo", "Foo", true, true, "a  foo"},
                {"a FOO foo", "Foo", false, false, "a FOO foo"}, {"caf\xC3\xA9 CAF\xC3\xA9", "caf\xC3\xA9", true, true,
                                                                   " CAF\xC3\xA9"},
                {"x\xC3\x89y", "\xC3\xA9", true, false, "x\xC3\x89y"}, {"", "", false, false, ""}};
  for (const auto& e : erases) {
    std::string s = e.s, what = e.what;
    EXPECT_EQ(erase_first(s, what, e.nocase), e.ok) << e.s;
    EXPECT_EQ(s, e.want) << e.s;
    std::string lowered = e.what;
    for (char& ch : lowered) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_EQ(what, e.nocase ? lowered : e.what) << "nocase lower-cases the caller's search text";

    std::wstring ws = utf8_to_wstring(e.s), wwhat = utf8_to_wstring(e.what);
    EXPECT_EQ(erase_first_w(ws, wwhat, e.nocase), e.ok) << e.s;
    EXPECT_EQ(wstring_to_utf8(ws), e.want) << e.s;

    wchar_t buffer[32];
    const std::wstring wide = utf8_to_wstring(e.s);
    std::wmemcpy(buffer, wide.c_str(), wide.size() + 1);
    EXPECT_EQ(erase_first_in_place_w(buffer, utf8_to_wstring(e.what).c_str(), e.nocase), e.ok) << e.s;
    EXPECT_EQ(wstring_to_utf8(buffer), e.want) << e.s;
  }
  wchar_t text[] = L"abc";
  EXPECT_FALSE(erase_first_in_place_w(nullptr, L"a", false));
  EXPECT_FALSE(erase_first_in_place_w(text, nullptr, false));
  EXPECT_STREQ(text, L"abc");

  const struct {
    std::string s;
    char c;
    bool nocase, ok;
    std::string want;
  } cuts[] = {{"svc -k netsvcs", '-', false, true, "svc "}, {"a.B.c", 'b', true, true, "a."},
              {"a.B.c", 'B', true, false, "a.B.c"},        {"a.B.c", 'B', false, true, "a."},
              {"abc", 'z', false, false, "abc"}};
  for (const auto& c : cuts) {
    std::string s = c.s;
    EXPECT_EQ(erase_from(s, c.c, c.nocase), c.ok) << c.s << " at " << c.c;
    EXPECT_EQ(s, c.want) << c.s << " at " << c.c;
    std::string t = c.s;
    EXPECT_EQ(erase_from(t, std::string(1, c.c), c.nocase), c.ok);
    EXPECT_EQ(t, s);
  }

  const struct {
    std::string s;
    const char *what, *with;
    bool ok;
    std::string want;
  } replaces[] = {{"%SYSTEMROOT%\\x", "%SystemRoot%", "C:\\Win", true, "C:\\Win\\x"},
                  {"a FOO foo", "Foo", "x", true, "a x foo"},
                  {"ab", "", "x", true, "xab"},
                  {"ab", "z", "x", false, "ab"},
                  {"caf\xC3\xA9", "\xC3\xA9", "e", true, "cafe"}};
  for (const auto& r : replaces) {
    std::string s = r.s;
    EXPECT_EQ(replace_first_nocase(s, r.what, r.with), r.ok) << r.s;
    EXPECT_EQ(s, r.want) << r.s;
    std::wstring ws = utf8_to_wstring(r.s);
    EXPECT_EQ(replace_first_nocase_w(ws, utf8_to_wstring(r.what), utf8_to_wstring(r.with)), r.ok) << r.s;
    EXPECT_EQ(wstring_to_utf8(ws), r.want) << r.s;
  }
}

}  // namespace
