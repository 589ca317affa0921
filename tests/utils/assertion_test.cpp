// The always-on assertion: a holding invariant costs one evaluation and
// nothing else; a broken one stops the process with the file's own name,
// the line, the function text and the expression, whatever NDEBUG says.
#include "utils/assertion.h"

#include <gtest/gtest.h>

namespace {

int checked(int& calls, int value) {
  ++calls;
  return value;
}

TEST(AssertionDeathTest, StopsOnlyWhenTheInvariantFails) {
  int calls = 0;
  QUOR_ASSERT(checked(calls, 1) == 1, "void f()");
  EXPECT_EQ(calls, 1);
  EXPECT_DEATH(QUOR_ASSERT(checked(calls, 2) < 2, "int g(uint32) const"),
               "(^|\n)assertion_test\\.cpp:[0-9]+: int g\\(uint32\\) const: Assertion `checked\\(calls, 2\\) < 2' "
               "failed\\.\n");
  EXPECT_DEATH(assertion_failed("false", "/a/b/zq_time.cpp", 81, "zq::time::time(std::string, zq::type_time)"),
               "(^|\n)zq_time\\.cpp:81: zq::time::time\\(std::string, zq::type_time\\): Assertion `false' failed\\.");
  EXPECT_DEATH(assertion_failed("x", "plain.cpp", 1, "h()"), "(^|\n)plain\\.cpp:1: h\\(\\): Assertion `x' failed\\.");
}

}  // namespace
