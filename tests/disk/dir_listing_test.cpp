// Directory listings, `*` patterns and masks over the temporary tree. The
// file system gives entries in its own order, so results are compared sorted.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "disk/dir_listing.h"
#include "tests/disk/host_tree.h"
#include "utils/utf_convert.h"

namespace {

template <typename T>
std::vector<T> sorted(std::vector<T> v) {
  std::sort(v.begin(), v.end());
  return v;
}

const dir_listing_entry* find_entry(const std::vector<dir_listing_entry>& v, const std::string& path) {
  for (const dir_listing_entry& e : v)
    if (e.path == path) return &e;
  return nullptr;
}

TEST(DirListing, ListsOneDirectoryWithoutFollowingLinks) {
  const std::string r = host_tree::root();
  std::vector<dir_listing_entry> out;
  ASSERT_TRUE(list_directory(r, out, 4, false, true));
  const struct { std::string path; const char* name; bool is_dir; int level; } want[] = {
      {r + "Notes.txt", "Notes.txt", false, 4},
      {r + host_tree::unicode_name, host_tree::unicode_name, false, 4},
      {r + "link-big", "link-big", false, 4},  // a link, not what it points to
      {r + "cycle-a", "cycle-a", false, 4},
      {r + "sub/", "", true, 5},
  };
  for (const auto& w : want) {
    const dir_listing_entry* e = find_entry(out, w.path);
    ASSERT_NE(e, nullptr) << w.path;
    EXPECT_EQ(e->name, w.name);
    EXPECT_EQ(e->is_dir, w.is_dir) << w.path;
    EXPECT_EQ(e->level, w.level) << w.path;
  }
  EXPECT_EQ(find_entry(out, r + "."), nullptr);
  EXPECT_EQ(find_entry(out, r + ".."), nullptr);

  // The name is joined to the argument as given: without a closing
  // separator the joined paths name nothing, whose status cannot be read,
  // and they are listed as files.
  std::vector<dir_listing_entry> joined;
  ASSERT_TRUE(list_directory(r + "sub", joined, 0, false, true));
  std::vector<std::string> paths;
  for (const dir_listing_entry& e : joined) paths.push_back(e.path + (e.is_dir ? " dir" : " file"));
  EXPECT_EQ(sorted(paths), (std::vector<std::string>{r + "suba file", r + "subb file", r + "subc file",
                                                     r + "subup file"}));
  // Directories only; a backslash closes a directory's path when slashes are not asked for.
  joined.clear();
  paths.clear();
  ASSERT_TRUE(list_directory(r + "sub/", joined, 0, true, false));
  for (const dir_listing_entry& e : joined) paths.push_back(e.path);
  EXPECT_EQ(sorted(paths), (std::vector<std::string>{r + "sub/a\\", r + "sub/b\\", r + "sub/c\\"}));

  // What cannot be opened as a directory leaves the output as it was.
  std::vector<dir_listing_entry> kept(1);
  EXPECT_FALSE(list_directory(r + "Notes.txt/", kept, 0, false, true));
  EXPECT_FALSE(list_directory(r + "sub/a/logs/", kept, 0, true, true));  // a file only
  EXPECT_EQ(kept.size(), 1u);
}

TEST(DirListing, UnreadableFolderIsPassedOver) {
  if (!host_tree::locked_is_unreadable())
    GTEST_SKIP() << "running as root, which reads a mode-000 folder: nothing to pass over";
  const std::string r = host_tree::root();
  std::vector<dir_listing_entry> out(1);
  EXPECT_FALSE(list_directory(r + "locked/", out, 0, false, true));
  EXPECT_EQ(out.size(), 1u);
  std::vector<std::string> expanded;
  expand_dir_pattern((r + "locked/*/").c_str(), expanded);
  EXPECT_EQ(expanded, std::vector<std::string>{""});
  // The other folders of the level are still listed.
  std::vector<std::string> found;
  EXPECT_TRUE(find_file_paths((r + "*/").c_str(), "", found));
  EXPECT_EQ(std::count(found.begin(), found.end(), r + "sub/up"), 1);
  for (const std::string& p : found) EXPECT_NE(p.rfind(r + "locked/", 0), 0u) << p;
}

TEST(DirListing, StarPatternsExpandOnePassAtATime) {
  const std::string r = host_tree::root();
  const struct { std::string pattern; std::vector<std::string> want; } cases[] = {
      // The link sub/up leads back up the tree; it is not a directory here.
      {r + "sub/*/logs/", {r + "sub/a/logs/", r + "sub/b/logs/", r + "sub/c/logs/"}},
      {r + "sub/*/*/", {"", r + "sub/a/logs/", r + "sub/b/logs/"}},
      {r + "sub/*/*/*/*/", {"", "", ""}},
      {r + "sub/a/logs/*/", {""}},
      {r + "Notes.txt/*/", {""}},
      // A directory named "*" stands for itself once, and the expansion ends.
      {r + "star/*/", {r + "star/*/"}},
      {r + "sub/", {r + "sub/"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> out;
    EXPECT_TRUE(expand_dir_pattern(c.pattern.c_str(), out));
    EXPECT_EQ(sorted(out), c.want) << c.pattern;
  }

  std::vector<std::string> one{r + "sub/*/logs/", "", "no-star"};
  EXPECT_TRUE(expand_star_dirs(one, true));
  EXPECT_EQ(one.size(), 5u);  // a, b and c: the first in place, two appended
  EXPECT_EQ(one[1], "");
  EXPECT_EQ(one[2], "no-star");
  EXPECT_FALSE(expand_star_dirs(one, true));

  std::ostringstream printed;
  EXPECT_TRUE(print_dir_pattern((r + "sub/a/*/").c_str(), printed));
  EXPECT_EQ(printed.str(), r + "sub/a/logs/\n");

  std::vector<std::wstring> wide;
  EXPECT_TRUE(expand_dir_pattern_w(utf8_to_wstring(r + "uni/*/").c_str(), wide));
  EXPECT_EQ(wide, std::vector<std::wstring>{utf8_to_wstring(r) + L"uni/\u540d\u524d/"});
}

TEST(DirListing, MasksSelectWholeBasesAndExtensions) {
  const std::string r = host_tree::root();
  const struct { std::string pattern; const char* mask; std::vector<std::string> want; } cases[] = {
      {r, "*.TXT", {r + "Notes.txt", r + host_tree::unicode_name}},
      {r, "notes", {r + "Notes.txt", r + "notes", r + "notes.txt.bak"}},
      {r, "*.tar.gz", {r + "a.tar.gz"}},
      {r, "a*", {}},  // no partial matching: only a base "a*" would do
      {r + "sub/*/logs", "*.log", {r + "sub/a/logs/app.log"}},
      {r + "sub/a", "", {r + "sub/a/logs/"}},
      {"", "*.*", {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> paths{"kept"};
    EXPECT_EQ(find_file_paths(c.pattern.c_str(), c.mask, paths), !c.want.empty()) << c.mask;
    paths.erase(paths.begin());
    EXPECT_EQ(sorted(paths), sorted(c.want)) << c.pattern << " " << c.mask;
    // The std::string form, and the form without a mask, select the same.
    std::vector<std::string> twin{"kept"};
    EXPECT_EQ(find_file_paths(c.pattern, std::string(c.mask), twin), !c.want.empty()) << c.mask;
    EXPECT_EQ(twin.front(), "kept");
    EXPECT_EQ(sorted(std::vector<std::string>(twin.begin() + 1, twin.end())), sorted(c.want)) << c.mask;
    if (*c.mask != '\0') continue;
    std::vector<std::string> unmasked;
    EXPECT_EQ(find_file_paths(c.pattern.c_str(), unmasked), !c.want.empty());
    EXPECT_EQ(sorted(unmasked), sorted(c.want)) << c.pattern;
  }
  std::vector<std::string> null_mask;
  EXPECT_TRUE(find_file_paths((r + "sub/a").c_str(), static_cast<const char*>(nullptr), null_mask));
  EXPECT_EQ(null_mask, std::vector<std::string>{r + "sub/a/logs/"});

  dir_listing_entry narrow;
  narrow.path = r + host_tree::unicode_name;
  narrow.name = host_tree::unicode_name;
  narrow.is_dir = true;
  narrow.level = 7;
  const dir_listing_entry_w widened = to_wide_entry(narrow);
  EXPECT_EQ(widened.name, L"\u00dcn\u00efc\u00f6d\u00e9 \u540d\u524d.txt");
  EXPECT_EQ(widened.path, utf8_to_wstring(r) + widened.name);
  EXPECT_TRUE(widened.is_dir && widened.level == 7);

  std::vector<dir_listing_entry> all{dir_listing_entry()};
  ASSERT_TRUE(find_files(r, "", all));
  ASSERT_NE(find_entry(all, r + "big.dat"), nullptr);
  ASSERT_NE(find_entry(all, r + "sub/"), nullptr);
  EXPECT_EQ(find_entry(all, ""), nullptr);  // the output was cleared first

  std::vector<dir_listing_entry_w> wide;
  ASSERT_TRUE(find_files_w(utf8_to_wstring(r), L"*.txt", wide));
  bool unicode_found = false;
  for (const dir_listing_entry_w& e : wide) unicode_found |= e.name == L"\u00dcn\u00efc\u00f6d\u00e9 \u540d\u524d.txt";
  EXPECT_TRUE(unicode_found);

  // The wide paths are appended to what the output held.
  std::vector<std::wstring> wide_paths{L"kept"};
  EXPECT_TRUE(find_file_paths_w(utf8_to_wstring(r), L"*.TXT", wide_paths));
  ASSERT_FALSE(wide_paths.empty());
  EXPECT_EQ(wide_paths[0], L"kept");
  std::vector<std::string> narrowed;
  for (size_t i = 1; i < wide_paths.size(); ++i) narrowed.push_back(wstring_to_utf8(wide_paths[i]));
  EXPECT_EQ(sorted(narrowed), sorted(std::vector<std::string>{r + "Notes.txt", r + host_tree::unicode_name}));
  std::vector<std::wstring> sub;
  EXPECT_TRUE(find_file_paths_w(utf8_to_wstring(r + "sub/a"), L"", sub));
  EXPECT_EQ(sub, std::vector<std::wstring>{utf8_to_wstring(r + "sub/a/logs/")});
  std::vector<std::wstring> none;
  EXPECT_FALSE(find_file_paths_w(utf8_to_wstring(r), L"a*", none));
  EXPECT_TRUE(none.empty());

  std::ostringstream printed;
  EXPECT_TRUE(print_found_files((r + "sub/a/logs/").c_str(), printed));
  EXPECT_EQ(printed.str(), "000: " + r + "sub/a/logs/app.log\n");
  std::ostringstream dirs;
  EXPECT_TRUE(print_found_files((r + "sub/a").c_str(), dirs));
  EXPECT_EQ(dirs.str(), "001: " + r + "sub/a/logs/\n");
}

}  // namespace
