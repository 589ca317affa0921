// A write to standard output that fails is known at the end, whether it went
// through std::cout or through stdio: each case runs in a child whose
// standard output is the full device, or a file that takes everything.
#include "app/standard_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <iostream>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/fixture.h"

namespace {

TEST(StandardOutput, FailedWritesAreKnownOnEitherRoad) {
  const std::string file = quor_test::scratch_dir() + "/standard-output.out";
  const std::string err = quor_test::scratch_dir() + "/standard-output.err";
  const std::string line(100, 'x');
  const struct {
    std::string how;
    std::function<void()> write;
  } roads[] = {
      {"stream", [&] { std::cout << line << "\n"; }},
      {"stdio", [&] { std::printf("%s\n", line.c_str()); }},
      {"stdio, one character", [] { std::putchar('\n'); }},
  };
  for (const auto& road : roads)
    for (const std::string& target : {std::string("/dev/full"), file}) {
      // 1: known failed before the flush, 2: at it, 0: arrived.
      const int status = quor_test::exit_status_in_child(
          [&]() {
            const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fd < 0) return 9;
            ::dup2(fd, STDOUT_FILENO);
            road.write();
            if (standard_output_failed()) return 1;
            return standard_output_flushed() ? 0 : 2;
          },
          err);
      if (target == file) {
        EXPECT_EQ(status, 0) << road.how;
        EXPECT_EQ(quor_test::read_file_text(file).size(), road.how == "stdio, one character" ? 1u : 101u);
      } else {
        // Held in the buffer the bytes fail when written out; with a line
        // buffer (a terminal's, inherited) at once.
        EXPECT_TRUE(status == 1 || status == 2) << road.how << ": " << status;
      }
    }
}

}  // namespace
