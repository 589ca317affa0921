// A write to standard output that fails is known at the end, whether it went
// through std::cout or through stdio: each case runs in a child whose
// standard output is the full device, or a file that takes everything. The
// standard descriptors closed at the start are held, so no file opened
// later takes their numbers, and a file-size limit fails the write instead
// of ending the process. What the run writes while its streams are held
// reaches them only when let out, in the order written, and never when
// dropped.
#include "app/standard_output.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <iostream>
#include <string>

#include "tests/support/allocation_failure.h"
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
    size_t size;
    bool known_at_once;  // the failure is known before the final flush
  } roads[] = {
      {"stream", [&] { std::cout << line << "\n"; }, 101, false},
      {"stdio", [&] { std::printf("%s\n", line.c_str()); }, 101, false},
      {"stdio, one character", [] { std::putchar('\n'); }, 1, false},
      // Written out by the writer itself: only stdio's error state tells.
      {"stdio, flushed",
       [&] {
         std::printf("%s\n", line.c_str());
         std::fflush(stdout);
       },
       101, true},
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
        EXPECT_EQ(quor_test::read_file_text(file).size(), road.size) << road.how;
      } else if (road.known_at_once) {
        EXPECT_EQ(status, 1) << road.how;
      } else {
        // Held in the buffer the bytes fail when written out; with a line
        // buffer (a terminal's, inherited) at once.
        EXPECT_TRUE(status == 1 || status == 2) << road.how << ": " << status;
      }
    }
}

// With standard input, output and error closed, the next file opened takes
// none of their numbers: input and error read and take nothing (the null
// device), output takes nothing and says so (the full device). Open ones
// are left as they were.
TEST(StandardOutput, ClosedStandardDescriptorsAreHeld) {
  const std::string err = quor_test::scratch_dir() + "/standard-held.err";
  const std::string file = quor_test::scratch_dir() + "/standard-held.out";
  struct stat null_st, full_st;
  ASSERT_EQ(::stat("/dev/null", &null_st), 0);
  ASSERT_EQ(::stat("/dev/full", &full_st), 0);
  // Bits: 1 the next file took 0, 1 or 2; 2 a held descriptor is not the
  // device it should be; 4 standard output did not fail.
  const int closed = quor_test::exit_status_in_child(
      [&] {
        ::close(STDIN_FILENO);
        ::close(STDOUT_FILENO);
        ::close(STDERR_FILENO);
        hold_standard_descriptors();
        const int next = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int bits = next <= STDERR_FILENO ? 1 : 0;
        const dev_t want[] = {null_st.st_rdev, full_st.st_rdev, null_st.st_rdev};
        for (int fd = 0; fd <= 2; ++fd) {
          struct stat st;
          if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || st.st_rdev != want[fd]) bits |= 2;
        }
        std::printf("lost\n");
        if (standard_output_flushed()) bits |= 4;
        return bits;
      },
      err);
  EXPECT_EQ(closed, 0);
  const int open_left = quor_test::exit_status_in_child(
      [&] {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, STDOUT_FILENO);
        ::close(fd);
        hold_standard_descriptors();
        std::printf("kept\n");
        return standard_output_flushed() ? 0 : 1;
      },
      err);
  EXPECT_EQ(open_left, 0);
  EXPECT_EQ(quor_test::read_file_text(file), "kept\n");
}

// Past a file-size limit a write to standard output fails and is known, the
// process going on; without the call the signal would end it (the child
// then does not exit by itself: -2).
TEST(StandardOutput, WritePastTheFileSizeLimitFails) {
  const std::string err = quor_test::scratch_dir() + "/standard-limit.err";
  const std::string file = quor_test::scratch_dir() + "/standard-limit.out";
  for (const bool ignored : {true, false}) {
    const int status = quor_test::exit_status_in_child(
        [&] {
          const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
          ::dup2(fd, STDOUT_FILENO);
          ::close(fd);
          struct rlimit limit = {4096, 4096};
          if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 9;
          if (ignored) fail_writes_past_size_limit();
          std::cout << std::string(10000, 'x');
          return standard_output_flushed() ? 0 : 1;
        },
        err);
    EXPECT_EQ(status, ignored ? 1 : -2);
    EXPECT_EQ(quor_test::read_file_text(file).size(), 4096u);
  }
}

// Standard output and error held while a run has not yet checked them: the
// real files see nothing until the release, then all of it, standard
// output and error into one file (2>&1) in the order written; a stream
// dropped (refused) takes nothing at all, the other what was held for it,
// and what comes after goes straight through. The descriptors stay the
// real files all the while.
TEST(StandardOutput, HeldStreamsReachTheRealOnesOnlyWhenLetOut) {
  const std::string out = quor_test::scratch_dir() + "/held.out", err = quor_test::scratch_dir() + "/held.err";
  const std::string child_err = quor_test::scratch_dir() + "/held-child.err";
  const struct {
    std::string how;
    bool together, keep_out, keep_err;
    std::string want_out, want_err;
  } cases[] = {
      {"let out", false, true, true, "a\nc\nafter\n", "b\nafter\n"},
      {"let out, one file", true, true, true, "a\nb\nc\nafter\nafter\n", ""},
      {"dropped", false, false, false, "after\n", "after\n"},
      {"dropped, one file", true, false, false, "after\nafter\n", ""},
      {"output dropped", false, false, true, "after\n", "b\nafter\n"},
      {"error dropped", false, true, false, "a\nc\nafter\n", "after\n"},
  };
  for (const auto& c : cases) {
    // Bits: 1 a real file took something while held, 2 a descriptor was
    // not the real file, 4 the run failed its output.
    const int status = quor_test::exit_status_in_child(
        [&] {
          const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
          const int e = c.together ? o : ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
          ::dup2(o, STDOUT_FILENO);
          ::dup2(e, STDERR_FILENO);
          struct stat real_out, real_err;
          ::fstat(STDOUT_FILENO, &real_out);
          ::fstat(STDERR_FILENO, &real_err);
          auto unmoved = [&] {
            struct stat now_out, now_err;
            return ::fstat(STDOUT_FILENO, &now_out) == 0 && ::fstat(STDERR_FILENO, &now_err) == 0 &&
                   now_out.st_ino == real_out.st_ino && now_err.st_ino == real_err.st_ino;
          };
          if (!hold_standard_streams()) return 9;
          std::printf("a\n");
          std::fflush(stdout);
          std::fputs("b\n", stderr);
          std::cout << "c\n" << std::flush;
          int bits = 0;
          struct stat st;
          if (::stat(out.c_str(), &st) != 0 || st.st_size != 0) bits |= 1;
          if (!unmoved()) bits |= 2;
          release_standard_streams(c.keep_out, c.keep_err);
          if (!unmoved()) bits |= 2;
          std::printf("after\n");
          std::fflush(stdout);
          std::fputs("after\n", stderr);
          if (!standard_output_flushed()) bits |= 4;
          return bits;
        },
        child_err);
    EXPECT_EQ(status, 0) << c.how;
    EXPECT_EQ(quor_test::read_file_text(out), c.want_out) << c.how;
    if (!c.together) {
      EXPECT_EQ(quor_test::read_file_text(err), c.want_err) << c.how;
    }
  }
  const int full = quor_test::exit_status_in_child(
      [] {
        const int fd = ::open("/dev/full", O_WRONLY);
        ::dup2(fd, STDOUT_FILENO);
        if (!hold_standard_streams()) return 9;
        std::printf("lost\n");
        if (standard_output_failed()) return 1;
        release_standard_streams();
        return standard_output_failed() ? 0 : 2;
      },
      child_err);
  EXPECT_EQ(full, 0);
}

// The descriptors the process has open.
int open_descriptors() {
  int count = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (const struct dirent* e = ::readdir(d)) count += e->d_name[0] != '.';
    ::closedir(d);
  }
  return count;
}

// Standard output and error as one file, pipe, FIFO or terminal: while
// held, the process opens no descriptor and 1 and 2 stay what they were;
// let out, the bytes reach it in the order they would have without the
// hold: standard output a block at a time, or a line at a time on a
// terminal, standard error at once.
TEST(StandardOutput, HeldStreamsReachEveryKindOfStreamInTheOrderWritten) {
  const std::string child_err = quor_test::scratch_dir() + "/held-kinds.err";
  const std::string file = quor_test::scratch_dir() + "/held-kinds.out",
                    fifo = quor_test::scratch_dir() + "/held-kinds";
  const std::string by_block = "b\nd\na\nce\ng\nf\n", by_line = "a\nb\nd\nce\nf\ng\n";
  for (const std::string kind : {"file", "pipe", "FIFO", "terminal"}) {
    int reader = -1, writer = -1;
    if (kind == "file") {
      writer = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    } else if (kind == "pipe") {
      int ends[2];
      ASSERT_EQ(::pipe(ends), 0);
      reader = ends[0];
      writer = ends[1];
    } else if (kind == "FIFO") {
      ::unlink(fifo.c_str());
      ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
      reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
      writer = ::open(fifo.c_str(), O_WRONLY);
    } else {
      reader = ::posix_openpt(O_RDWR | O_NOCTTY);
      if (reader < 0) {
        std::printf("the terminal not tried: no pseudo-terminal to be had\n");
        continue;
      }
      ASSERT_TRUE(::grantpt(reader) == 0 && ::unlockpt(reader) == 0);
      writer = ::open(::ptsname(reader), O_RDWR | O_NOCTTY);
      struct termios raw;
      ASSERT_TRUE(writer >= 0 && ::tcgetattr(writer, &raw) == 0);
      ::cfmakeraw(&raw);
      ASSERT_EQ(::tcsetattr(writer, TCSANOW, &raw), 0);
    }
    ASSERT_GE(writer, 0) << kind;
    // Bits: 1 a descriptor was opened or 1 and 2 moved while held.
    const int status = quor_test::exit_status_in_child(
        [&] {
          ::dup2(writer, STDOUT_FILENO);
          ::dup2(writer, STDERR_FILENO);
          struct stat real;
          ::fstat(STDOUT_FILENO, &real);
          const int before = open_descriptors();
          if (!hold_standard_streams()) return 9;
          std::printf("a\n");
          std::fputs("b\n", stderr);
          std::cout << "c";
          std::fprintf(stderr, "d\n");
          std::fputs("e\n", stdout);
          struct stat now_out, now_err;
          const bool moved = open_descriptors() != before || ::fstat(STDOUT_FILENO, &now_out) != 0 ||
                             ::fstat(STDERR_FILENO, &now_err) != 0 || now_out.st_ino != real.st_ino ||
                             now_err.st_ino != real.st_ino;
          release_standard_streams();
          std::cout << "f\n";
          std::fputs("g\n", stderr);
          return (moved ? 1 : 0) | (standard_output_flushed() ? 0 : 2);
        },
        child_err);
    ::close(writer);
    std::string got;
    if (reader < 0) {
      got = quor_test::read_file_text(file);
    } else {
      ::fcntl(reader, F_SETFL, O_NONBLOCK);
      char buffer[256];
      for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;) got.append(buffer, static_cast<size_t>(n));
      ::close(reader);
    }
    EXPECT_EQ(status, 0) << kind;
    EXPECT_EQ(got, kind == "terminal" ? by_line : by_block) << kind;
  }
}

// Memory that runs out while standard output is held, for the bytes
// written or for the note of where a stream's bytes end: the output is
// failed, while held and once let out, and nothing written after the
// failure reaches the file as if the listing went on, even once memory is
// there again.
TEST(StandardOutput, MemoryRunningOutWhileHeldFailsTheOutput) {
  const std::string out = quor_test::scratch_dir() + "/held-short.out";
  const std::string err = quor_test::scratch_dir() + "/held-short.err";
  const std::string child_err = quor_test::scratch_dir() + "/held-short-child.err";
  const std::string row = std::string(99, 'r') + "\n";
  const struct {
    std::string how;
    std::function<void()> write;
    std::string unit;  // what standard output is made of up to the failure
  } runs[] = {
      {"past the room for bytes",
       [&] {
         for (int n = 0; n < 400; ++n) std::fputs(row.c_str(), stdout);
       },
       row},
      {"past the room for turns between the streams",
       [] {
         for (int n = 0; n < 400; ++n) {
           std::fputs("o\n", stdout);
           std::fflush(stdout);
           std::fputs("e\n", stderr);
         }
       },
       "o\n"},
  };
  for (const auto& r : runs) {
    // Bits: 1 not failed while held, 2 not failed once let out, 4 the flush
    // said all arrived.
    const int status = quor_test::exit_status_in_child(
        [&] {
          const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
          const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
          ::dup2(o, STDOUT_FILENO);
          ::dup2(e, STDERR_FILENO);
          if (!hold_standard_streams()) return 9;
          int bits = 0;
          {
            const quor_test::allocation_size_limit short_of_memory(1024);
            r.write();
            std::fflush(stdout);
          }
          std::fputs("after\n", stdout);
          std::fflush(stdout);
          if (!standard_output_failed()) bits |= 1;
          release_standard_streams();
          if (!standard_output_failed()) bits |= 2;
          if (standard_output_flushed()) bits |= 4;
          return bits;
        },
        child_err);
    EXPECT_EQ(status, 0) << r.how;
    const std::string got = quor_test::read_file_text(out);
    EXPECT_FALSE(got.empty()) << r.how;
    std::string whole_units;
    while (whole_units.size() < got.size()) whole_units += r.unit;
    // What arrived is what went before the failure, up to a cut inside it.
    EXPECT_TRUE(whole_units.compare(0, got.size(), got) == 0) << r.how << ": " << got.substr(got.size() - 40);
    EXPECT_EQ(got.find("after"), std::string::npos) << r.how;
  }
}

}  // namespace
