#include "utils/status_line.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tests/support/fixture.h"

namespace {

// Runs fn with the stream (standard error unless told) sent to a scratch
// file and returns what was written there.
template <typename Fn>
std::string capture(Fn fn, FILE* stream = stderr) {
  const std::string path = quor_test::scratch_dir() + (stream == stdout ? "/stdout.txt" : "/stderr.txt");
  std::fflush(stream);
  const int saved = dup(fileno(stream));
  FILE* f = std::fopen(path.c_str(), "wb");
  dup2(fileno(f), fileno(stream));
  fn();
  std::fflush(stream);
  dup2(saved, fileno(stream));
  close(saved);
  std::fclose(f);
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string framed(const std::string& visible) {
  const std::string bs(80, '\b');
  return bs + visible + bs;
}

int status_of(bool to_stderr, int width, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = format_status(to_stderr, width, 0, format, args);
  va_end(args);
  return n;
}

TEST(StatusLine, WrittenBetweenBackspacesAndPaddedToSixtyColumns) {
  int n = -1;
  struct Case {
    std::string text;
    int width;
    int want_n;
    std::string want;
  } cases[] = {
      {"parsing: ab", 60, 11, "parsing: ab" + std::string(49, ' ')},
      {std::string(75, 'x'), 60, 60, std::string(60, 'x')},
      // A line break is dropped and not made up by a blank.
      {"123456789\n", 60, 10, "123456789" + std::string(50, ' ')},
      {"a\r\nb", 60, 4, "ab" + std::string(56, ' ')},
      {"", 60, 0, std::string(60, ' ')},
      {std::string(100, 'y'), 100, 70, std::string(70, 'y')},
      {std::string(30, 'z'), 20, 20, std::string(20, 'z')},
  };
  for (const Case& c : cases) {
    const std::string got = capture([&] {
      n = c.width == 60 ? print_status("%s", c.text.c_str()) : print_status_width(c.width, "%s", c.text.c_str());
    });
    EXPECT_EQ(got, framed(c.want)) << c.text;
    EXPECT_EQ(n, c.want_n);
    // The core itself writes the same line to either stream, and the
    // standard-output form differs from the default only in its stream.
    const int width = c.width > 70 ? 70 : c.width;
    EXPECT_EQ(capture([&] { n = status_of(true, width, "%s", c.text.c_str()); }), framed(c.want));
    EXPECT_EQ(n, c.want_n);
    EXPECT_EQ(capture([&] { n = status_of(false, width, "%s", c.text.c_str()); }, stdout), framed(c.want));
    EXPECT_EQ(n, c.want_n);
    if (c.width == 60) {
      std::string on_stderr;
      const std::string on_stdout = capture(
          [&] { on_stderr = capture([&] { n = print_status_stdout("%s", c.text.c_str()); }); }, stdout);
      EXPECT_EQ(on_stdout, framed(c.want)) << c.text;
      EXPECT_EQ(on_stderr, "");
      EXPECT_EQ(n, c.want_n);
    }
  }
  const std::string got = capture([&] { n = print_status("parsing: %d%%", 42); });
  EXPECT_EQ(got, framed("parsing: 42%" + std::string(48, ' ')));
  // Texts far beyond the buffer are cut, never overrun.
  const std::string huge(5000, 'q');
  EXPECT_EQ(capture([&] { n = print_status("%s", huge.c_str()); }), framed(std::string(60, 'q')));
}

// Standard error on a FIFO: a write while it has no reader fails, and a
// reader opened afterwards sees every byte written after that, so a status
// line tried again after the failure would show there.
TEST(StatusLine, NotTriedAgainOnceStandardErrorFailed) {
  const std::string fifo = quor_test::scratch_dir() + "/stderr.fifo";
  ::unlink(fifo.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int first_reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(first_reader, 0);
  const int writer = ::open(fifo.c_str(), O_WRONLY);
  ASSERT_GE(writer, 0);
  struct sigaction ignore = {}, saved_action = {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &saved_action);
  std::fflush(stderr);
  const int saved = ::dup(STDERR_FILENO);
  ::dup2(writer, STDERR_FILENO);

  // Written while the reader is there: the line arrives.
  print_status("%s", "seen");
  char buffer[4096];
  const ssize_t seen = ::read(first_reader, buffer, sizeof buffer);
  ::close(first_reader);
  print_status("%s", "lost");
  const bool failed = std::ferror(stderr) != 0;
  const int second_reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  for (int i = 0; i < 3; ++i) print_status("after %d", i);
  print_status_width(20, "%s", "narrow");
  const ssize_t later = second_reader >= 0 ? ::read(second_reader, buffer, sizeof buffer) : -2;

  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  std::clearerr(stderr);
  ::sigaction(SIGPIPE, &saved_action, nullptr);
  ::close(writer);
  if (second_reader >= 0) ::close(second_reader);

  EXPECT_EQ(seen, static_cast<ssize_t>(framed("seen" + std::string(56, ' ')).size()));
  EXPECT_TRUE(failed) << "the write with no reader did not fail";
  ASSERT_GE(second_reader, 0);
  // Nothing waits in the pipe: read finds it empty, with its writer open.
  EXPECT_EQ(later, -1) << "a status line was written after standard error failed";
  // The standard error made good again takes status lines as before.
  EXPECT_EQ(capture([] { print_status("%s", "back"); }), framed("back" + std::string(56, ' ')));
}

TEST(StatusLine, ColourPrintWrapsTheTextInEscapes) {
  int n = -1;
  const std::string got = capture([&] { n = print_color(2, 0, "ok %d caf\xC3\xA9", 5); }, stdout);
  EXPECT_EQ(got, "\x1b[1;32;40mok 5 caf\xC3\xA9\x1b[0;37;40m");
  EXPECT_EQ(n, 0);
  EXPECT_EQ(capture([&] { n = print_color(7, 4, "%s", ""); }, stdout), "\x1b[1;37;44m\x1b[0;37;40m");
}

TEST(StreamPosition, WideSeekBackMatchesTheNarrow) {
  const struct {
    int written, count;
    unsigned at;
  } cases[] = {{3, 5, 0}, {10, 5, 5}, {10, 10, 0}, {10, 0, 10}, {0, 1, 0}};
  for (const auto& c : cases) {
    std::ostringstream n;
    std::wostringstream w;
    n << std::string(static_cast<size_t>(c.written), 'a');
    w << std::wstring(static_cast<size_t>(c.written), L'\u00e9');
    EXPECT_TRUE(ostream_seek_back(n, c.count));
    EXPECT_TRUE(wostream_seek_back(w, c.count));
    EXPECT_EQ(static_cast<long long>(w.tellp()), static_cast<long long>(c.at)) << c.written << " back " << c.count;
    EXPECT_EQ(ostream_position(n), c.at);
  }
  // Later output overwrites from the new position.
  std::wostringstream w;
  w << L"caf\u00e9 \U0001F600";
  EXPECT_TRUE(wostream_seek_back(w, 2));
  w << L"!";
  EXPECT_EQ(w.str(), L"caf\u00e9!\U0001F600");
  w.setstate(std::ios::badbit);
  EXPECT_FALSE(wostream_seek_back(w, 1));
}

TEST(StreamPosition, SeekBackAndCut) {
  std::ostringstream s;
  s << "abc";
  EXPECT_TRUE(ostream_seek_back(s, 5));
  EXPECT_EQ(ostream_position(s), 0u);
  s << "0123456789";
  EXPECT_TRUE(ostream_seek_back(s, 5));
  EXPECT_EQ(ostream_position(s), 5u);

  std::wostringstream w;
  w << L"0123456789";
  EXPECT_TRUE(wostringstream_cut_back(w, 3, true));
  EXPECT_EQ(w.str(), L"0123456");
  w << L"x";
  EXPECT_EQ(w.str(), L"0123456x");

  std::ostringstream t;
  t << "a,b,";
  EXPECT_TRUE(ostream_drop_tail(t, 1, true));
  EXPECT_EQ(t.str(), "a,b");
  t.setstate(std::ios::failbit);
  EXPECT_FALSE(ostream_seek_back(t, 1));
}

}  // namespace
