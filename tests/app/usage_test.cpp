// The usage text on standard error, for any program path.
#include "app/usage.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/app/usage_text.h"

namespace {

TEST(Usage, NamesTheProgramByItsFileName) {
  const struct {
    const char* argv0;
    const char* file;
  } cases[] = {{"/usr/local/bin/quor", "quor"},
               {"C:\\tools\\quor.exe", "quor.exe"},
               {"dir/sub\\quor2", "quor2"},
               {"quor-x", "quor-x"}};
  for (const auto& c : cases) {
    testing::internal::CaptureStderr();
    usage(c.argv0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), quor_test::expected_usage(c.file)) << c.argv0;
  }
  EXPECT_EQ(banner_line().rfind("quor ver: 0.14", 0), 0u);
}

}  // namespace
