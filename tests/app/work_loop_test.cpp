#include "app/work_loop.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/app/fls_folders.h"
#include "tests/app/quor_run.h"

namespace {

TEST(DirStatusText, ShowsTheTailOfLongPathsWithoutPercentSigns) {
  const std::string fifty = "[root]\\" + std::string(42, 'a') + "\\";  // 50 characters
  ASSERT_EQ(fifty.size(), 50u);
  const std::string fifty_one = "[root]\\" + std::string(30, 'b') + "\\" + std::string(12, 'c') + "\\";
  ASSERT_EQ(fifty_one.size(), 51u);
  const std::string no_inner = std::string(60, 'd') + "\\";
  const std::string long_last = "[root]\\" + std::string(60, 'e') + "\\";

  struct status_case {
    std::string path;
    std::string shown;
  } cases[] = {
      {"[root]\\", "parsing: [root]\\"},
      {fifty, "parsing: " + fifty},
      {fifty_one, "parsing: ...\\" + std::string(12, 'c') + "\\"},
      {no_inner, "parsing: " + std::string(50, 'd')},
      {long_last, "parsing: ...\\" + std::string(50, 'e')},
      {"[root]\\100%\\%d%s\\", "parsing: [root]\\100\\ds\\"},
  };
  for (const status_case& c : cases) EXPECT_EQ(dir_status_text(c.path), c.shown) << c.path;
}

TEST(AddDirWorkItem, KeepsOneItemPerEntryUnderItsLongestPath) {
  dir_work_map work;
  add_dir_work_item(work, "[root]\\LONGNA~1\\", 1, 40);
  add_dir_work_item(work, "[root]\\Long Name Dir\\", 2, 40);
  add_dir_work_item(work, "[root]\\L\\", 3, 40);
  add_dir_work_item(work, "[root]\\b\\", 1, 12);
  ASSERT_EQ(work.size(), 2u);
  EXPECT_EQ(work.begin()->first, 12u);
  const dir_work_item& item = work.at(40);
  EXPECT_EQ(item.path, "[root]\\Long Name Dir\\");
  EXPECT_EQ(item.level, 1u);
  EXPECT_EQ(item.entry, 40u);
}

// On moved.img, x (entry 64) lies in b (65): a child numbered below its
// parent. Whatever the road and the depth, each directory is written once,
// in the order the work map hands them out, with exactly the live names fls
// lists in it (a second write would list them twice).
TEST(DirWorkLoop, ChildNumberedBelowItsParentIsWrittenOnce) {
  const std::string image = quor_test::fixture("moved.img");
  if (image.empty()) GTEST_SKIP() << "moved.img not in the fixture kit";
  if (!quor_test::have_program("fls")) GTEST_SKIP() << "fls not installed";
  std::map<ulong64, std::set<std::string>> expected;
  std::map<std::string, ulong64> folders;
  ASSERT_TRUE(quor_test::fls_folders(image, expected, folders));
  ASSERT_EQ(folders.at("b/x"), 64u);
  ASSERT_EQ(folders.at("b"), 65u);

  struct road_case {
    std::vector<std::string> options;
    std::vector<ulong64> written;  // directories in the order they are written
  } cases[] = {
      {{"-path", "\\b", "-level", "1"}, {65, 64, 68}},
      {{"-path", "\\b", "-level", "2"}, {65, 64, 68, 70}},
      {{"-path", "\\", "-level", "-1"}, {5, 11, 65, 64, 68, 70}},
      {{"-level", "-1"}, {5, 11, 64, 65, 68, 70}},
      {{"-level", "1000000"}, {5, 11, 64, 65, 68, 70}},
      {{}, {5, 11, 64, 65, 68, 70}},
  };
  for (const road_case& c : cases) {
    std::vector<std::string> args{"-image", image, "-csv"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    std::string shown;
    for (const std::string& a : c.options) shown += a + " ";
    const quor_test::run_result r = quor_test::run_quor(args);
    ASSERT_EQ(r.status, 0) << shown << r.err;

    std::vector<ulong64> written;
    std::map<ulong64, std::multiset<std::string>> names;
    const std::vector<std::string> lines = quor_test::lines_of(r.out);
    for (size_t i = 5; i < lines.size(); ++i) {
      if (lines[i].empty()) continue;
      const std::vector<std::string> row = quor_test::split(lines[i], ',');
      ASSERT_EQ(row.size(), 18u) << lines[i];
      ASSERT_EQ(row[3], "valid") << lines[i];
      const ulong64 parent = std::stoull(row[2], nullptr, 16);
      const std::string name = row[16].substr(row[16].rfind('\\') + 1);
      if (written.empty() || written.back() != parent) written.push_back(parent);
      if (name != ".") names[parent].insert(name);
    }
    EXPECT_EQ(written, c.written) << shown;
    for (ulong64 dir : c.written) {
      const std::set<std::string>& listed = expected[dir];
      EXPECT_EQ(names[dir], std::multiset<std::string>(listed.begin(), listed.end())) << shown << dir;
    }
  }
}

}  // namespace
