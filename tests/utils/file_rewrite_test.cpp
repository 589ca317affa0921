// Whole-file rewrites through symbolic links: the file a link names is the
// one rewritten, and the link stays a link.
#include "utils/file_rewrite.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "tests/support/fixture.h"
#include "utils/html_to_text.h"
#include "utils/tag_sections.h"
#include "utils/text_tables.h"

namespace {

std::string make_dir(const std::string& name) {
  const std::string dir = quor_test::scratch_dir() + "/" + name;
  ::mkdir(dir.c_str(), 0755);
  return dir;
}

void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

bool is_link(const std::string& path, std::string& names) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
  char buffer[4096];
  const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
  names.assign(buffer, n > 0 ? static_cast<size_t>(n) : 0);
  return true;
}

// Files whose names hold ".tmp-" in a folder: temporaries left behind.
std::string temporaries(const std::string& dir) {
  std::string out;
  quor_test::run_command("ls -a '" + dir + "' | grep -F '.tmp-' || true", out);
  return out;
}

TEST(FileRewrite, EveryRewriteChangesTheFileALinkNames) {
  const std::string dir = make_dir("links"), real = make_dir("links/real");
  const struct {
    const char* name;
    std::string before, after;
    std::function<bool(const char*)> rewrite;
  } cases[] = {
      {"tabs", "\tc\n", "    c\n", [](const char* p) { return expand_tabs_in_file(p, p, 4, false); }},
      {"scripts", "a<script>x()</script>b", "ab", [](const char* p) { return remove_scripts_from_file(p, nullptr, true); }},
      {"sections", "x<b>y</b>z", "xz", [](const char* p) { return remove_tag_sections_from_file(p, nullptr, "b"); }},
      {"string", "a&amp;b&amp;", "ab", [](const char* p) { return remove_string_from_file(p, "&amp;", false); }},
  };
  for (const auto& c : cases) {
    // A relative link to a file in another folder.
    const std::string target = real + "/" + c.name + ".txt", link = dir + "/" + c.name + ".lnk";
    const std::string relative = std::string("real/") + c.name + ".txt";
    write_text(target, c.before);
    ASSERT_EQ(::symlink(relative.c_str(), link.c_str()), 0) << c.name;
    ASSERT_TRUE(c.rewrite(link.c_str())) << c.name;
    std::string names;
    EXPECT_TRUE(is_link(link, names)) << c.name << ": the link was replaced by a file";
    EXPECT_EQ(names, relative) << c.name;
    EXPECT_EQ(quor_test::read_file_text(target), c.after) << c.name;
  }
  EXPECT_EQ(temporaries(dir), "");
  EXPECT_EQ(temporaries(real), "");

  // HTML to text: the output written through a link equals the output
  // written to a plain file.
  const std::string page = std::string(QUOR_SOURCE_DIR) + "/tests/utils/html/page.html";
  const std::string plain = dir + "/page.txt", target = real + "/page-target.txt", link = dir + "/page.lnk";
  write_text(target, "old");
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  ASSERT_TRUE(html_file_to_text(page.c_str(), plain.c_str()));
  ASSERT_TRUE(html_file_to_text(page.c_str(), link.c_str()));
  std::string names;
  EXPECT_TRUE(is_link(link, names));
  EXPECT_NE(quor_test::read_file_text(plain), "");
  EXPECT_EQ(quor_test::read_file_text(target), quor_test::read_file_text(plain));
}

TEST(FileRewrite, ChainsDanglingLinksAndLoops) {
  const std::string dir = make_dir("chain");
  const std::string target = dir + "/target", first = dir + "/first", second = dir + "/second";
  write_text(target, "old");
  ::chmod(target.c_str(), 0640);
  ASSERT_EQ(::symlink("target", first.c_str()), 0);
  ASSERT_EQ(::symlink(first.c_str(), second.c_str()), 0);
  ASSERT_TRUE(replace_file_contents(second.c_str(), "new"));
  std::string names;
  EXPECT_TRUE(is_link(second, names));
  EXPECT_EQ(names, first);
  EXPECT_TRUE(is_link(first, names));
  EXPECT_EQ(names, "target");
  EXPECT_EQ(quor_test::read_file_text(target), "new");
  struct stat st;
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u) << "the target keeps its permission bits";

  // A link to a file not yet there: the file is made where the link points.
  const std::string dangling = dir + "/dangling";
  ASSERT_EQ(::symlink("made", dangling.c_str()), 0);
  ASSERT_TRUE(replace_file_contents(dangling.c_str(), "fresh"));
  EXPECT_TRUE(is_link(dangling, names));
  EXPECT_EQ(quor_test::read_file_text(dir + "/made"), "fresh");

  // A loop of links cannot be followed: refused, the links left alone.
  const std::string a = dir + "/loop_a", b = dir + "/loop_b";
  ASSERT_EQ(::symlink("loop_b", a.c_str()), 0);
  ASSERT_EQ(::symlink("loop_a", b.c_str()), 0);
  EXPECT_FALSE(replace_file_contents(a.c_str(), "x"));
  EXPECT_TRUE(is_link(a, names));
  EXPECT_EQ(names, "loop_b");
  EXPECT_EQ(temporaries(dir), "");
}

}  // namespace
