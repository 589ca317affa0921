#include "app/run_sequence.h"

#include <gtest/gtest.h>

namespace {

struct path_case {
  const char* typed;
  const char* queued;
  const char* lookup;
};

TEST(SettleDirPath, QueuesAsTypedAndLooksUpTheDirectoryItNames) {
  const path_case cases[] = {
      {"C:\\", "C:\\", "\\"},
      {"\\", "\\", "\\"},
      {"\\\\", "\\\\", "\\"},
      {"C:\\Users\\x\\", "C:\\Users\\x\\", "C:\\Users\\x"},
      {"C:\\Users\\x", "C:\\Users\\x\\", "C:\\Users\\x"},
      {"\"", "\"\\", "\\"},
      {"C:\\\\Users\\\\x", "C:\\\\Users\\\\x\\", "C:\\Users\\x"},
      // Short paths ending in a backslash name their directory, not the root.
      {"\\a\\", "\\a\\", "\\a"},
      {"a\\", "a\\", "a"},
      {"ab\\", "ab\\", "ab"},
      {"\\a\\\\", "\\a\\", "\\a"},
      {"names\\caf\xc3\xa9", "names\\caf\xc3\xa9\\", "names\\caf\xc3\xa9"},
  };
  for (const path_case& c : cases) {
    std::string queued;
    std::string lookup;
    ASSERT_TRUE(settle_dir_path(c.typed, queued, lookup)) << c.typed;
    EXPECT_EQ(queued, c.queued) << c.typed;
    EXPECT_EQ(lookup, c.lookup) << c.typed;
  }
}

TEST(SettleDirPath, EmptyValueIsRefused) {
  std::string queued = "x";
  std::string lookup = "y";
  EXPECT_FALSE(settle_dir_path("", queued, lookup));
  EXPECT_TRUE(queued.empty());
  EXPECT_TRUE(lookup.empty());
}

}  // namespace
