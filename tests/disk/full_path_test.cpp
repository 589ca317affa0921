// Absolute paths from typed ones, resolved against a known current directory.
#include "disk/full_path.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

#include "disk/fs_ops.h"
#include "tests/support/fixture.h"
#include "utils/utf_convert.h"

namespace {

// Runs the cases with the current directory set to `dir`, then restores it.
class in_directory {
 public:
  explicit in_directory(const std::string& dir) : saved_(current_directory()) {
    make_dirs(dir);
    ok_ = chdir(dir.c_str()) == 0;
  }
  ~in_directory() {
    if (chdir(saved_.c_str()) != 0) ADD_FAILURE() << "cannot return to " << saved_;
  }
  bool ok() const { return ok_; }

 private:
  std::string saved_;
  bool ok_ = false;
};

}  // namespace

TEST(FullPath, RelativePathsResolveAgainstTheCurrentDirectory) {
  const std::string cwd = quor_test::scratch_dir() + "/fp/a/b/c";
  in_directory here(cwd);
  ASSERT_TRUE(here.ok());
  const std::string base = current_directory();  // the directory as the system names it
  const std::string up = base.substr(0, base.rfind('/'));
  const std::string up2 = up.substr(0, up.rfind('/'));
  const std::pair<std::string, std::string> cases[] = {
      {"file.txt", base + "/file.txt"},
      {"./sub/f", base + "/sub/f"},
      {"../x/f", up + "/x/f"},
      {"../../x/y", up2 + "/x/y"},
      {"../", up + "/"},
      {".", base + "/"},
      {"./", base + "/"},
      // A bare ".." is joined, not resolved.
      {"..", base + "/.."},
      {"a/../b", base + "/b"},
      {"a/./b/../../c", base + "/c"},
      // A "." after the first component stays as typed; ".." takes it away
      // with the name before it.
      {"a/./b", base + "/a/./b"},
      {"a/.", base + "/a/."},
      {"a/./", base + "/a/./"},
      {"././a", base + "/./a"},
      {"./a/./b/", base + "/a/./b/"},
      {"a/./b/../c", base + "/a/./c"},
      {"a/./../b", base + "/b"},
      {"a/b/./..", base + "/a/"},
      {"x/.././y", base + "/./y"},
      // A final "." after a climb or after the leading "." is the directory
      // reached, written with its separator.
      {"../.", up + "/"},
      {"./.", base + "/"},
      {"../x/.", up + "/x/"},
      {"../x/./", up + "/x/./"},
      {"./x/.", base + "/x/."},
      {"D:/./x", "/D:/./x"},
      {".evidence/d.img", base + "/.evidence/d.img"},
      {"..hidden", base + "/..hidden"},
      {"dir/sub/", base + "/dir/sub/"},
      {"a//b", base + "/a/b"},
      {"\"quoted name\"", base + "/quoted name"},
      {"  'x'  ", base + "/x"},
      {"/var//log", "/var//log"},
      {"D:/dir/f", "/D:/dir/f"},
      // Only a directory part is taken for a drive letter; a bare name with
      // a colon is a file in the current directory.
      {"D:/f", "/D:/f"},
      {"x:y.img", base + "/x:y.img"},
      {"D:", base + "/D:"},
      {"x:y:z", base + "/x:y:z"},
      {"", ""},
      {"   ", ""},
  };
  for (const auto& c : cases) {
    std::string typed = c.first;
    EXPECT_EQ(get_full_path(typed, '/'), c.second) << "[" << c.first << "]";
    // The option parser's wide form with a narrow separator, as the narrow form.
    EXPECT_EQ(get_full_path_w(utf8_to_wstring(c.first), '/'), utf8_to_wstring(c.second)) << "[" << c.first << "]";
  }
  // As many leading ".." as the current directory has components, or more:
  // kept as typed after the current directory, not clamped at the root. One
  // fewer resolves to the first component.
  const size_t depth = static_cast<size_t>(std::count(base.begin(), base.end(), '/'));
  ASSERT_GE(depth, 4u);
  std::string climbs;
  for (size_t i = 0; i < depth; ++i) climbs += "../";
  const std::string first = base.substr(0, base.find('/', 1));
  const std::pair<std::string, std::string> climbing[] = {
      {climbs + "x", base + "/" + climbs + "x"},
      {"../" + climbs + "x", base + "/../" + climbs + "x"},
      {"./" + climbs + "x/", base + "/" + climbs + "x/"},
      {climbs + "x//./y", base + "/" + climbs + "x/./y"},
      {climbs + "..", base + "/" + climbs + "../."},
      // Climbs after a name reach the root as surely as leading ones.
      {"x/../" + climbs + "y", base + "/x/../" + climbs + "y"},
      {"x/./../" + climbs + "y/", base + "/x/./../" + climbs + "y/"},
      {climbs.substr(3) + "x", first + "/x"},
      {climbs.substr(3), first + "/"},
  };
  for (const auto& c : climbing) {
    std::string typed = c.first;
    EXPECT_EQ(get_full_path(typed, '/'), c.second) << "[" << c.first << "]";
    // The option parser's wide form with a narrow separator, as the narrow form.
    EXPECT_EQ(get_full_path_w(utf8_to_wstring(c.first), '/'), utf8_to_wstring(c.second)) << "[" << c.first << "]";
  }
  // Without any separator in the path the caller's separator joins.
  std::string bare = "f";
  EXPECT_EQ(get_full_path(bare, '\\'), "\\" + base + "\\f");
  EXPECT_EQ(get_full_path_w(L"f", '\\'), utf8_to_wstring("\\" + base + "\\f"));
  EXPECT_EQ(get_full_path_w(L"./ü.img", L'/'), utf8_to_wstring(base + "/ü.img"));
  EXPECT_EQ(get_full_path_w(L"", L'/'), L"");
}

// What the command line opens by the absolute path is what the typed path
// names: the system's own resolution of both must reach the same file.
TEST(FullPath, AbsoluteFormsNameTheSameFileAsTheTypedOnes) {
  const std::string cwd = quor_test::scratch_dir() + "/fp_same/h/u";
  in_directory here(cwd);
  ASSERT_TRUE(here.ok());
  ASSERT_TRUE(make_dirs(cwd + "/a/b"));
  ASSERT_TRUE(write_file((cwd + "/a/b/f.img").c_str(), "x", 1));
  ASSERT_TRUE(write_file((cwd + "/x:y.img").c_str(), "x", 1));
  const char* typed[] = {"a/b/f.img",       "./a/b/f.img",   "a/./b/f.img",  "././a/./b/./f.img", "a/b/../b/./f.img",
                         "a/./b/.././b/f.img", "../u/a/b/f.img", "a/b/.",        "a/./b/",            "./a/.",
                         ".",               "a/./..",        "../u/./a",
                         "x:y.img"};
  for (const char* t : typed) {
    struct stat want, got;
    ASSERT_EQ(::stat(t, &want), 0) << t;
    const std::wstring full = get_full_path_w(utf8_to_wstring(t), L'/');
    const std::string narrow = wstring_to_utf8(full);
    ASSERT_FALSE(narrow.empty()) << t;
    EXPECT_EQ(narrow[0], '/') << t;
    ASSERT_EQ(::stat(narrow.c_str(), &got), 0) << t << " -> " << narrow;
    EXPECT_TRUE(got.st_dev == want.st_dev && got.st_ino == want.st_ino) << t << " -> " << narrow;
  }
}
