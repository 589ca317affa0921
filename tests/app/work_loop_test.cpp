#include "app/work_loop.h"

#include <gtest/gtest.h>

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

}  // namespace
