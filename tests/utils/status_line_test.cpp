#include "utils/status_line.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tests/support/fixture.h"

namespace {

// Runs fn with standard error sent to a scratch file and returns what was
// written there.
template <typename Fn>
std::string capture_stderr(Fn fn) {
  const std::string path = quor_test::scratch_dir() + "/stderr.txt";
  std::fflush(stderr);
  const int saved = dup(fileno(stderr));
  FILE* f = std::fopen(path.c_str(), "wb");
  dup2(fileno(f), fileno(stderr));
  fn();
  std::fflush(stderr);
  dup2(saved, fileno(stderr));
  close(saved);
  std::fclose(f);
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string framed(const std::string& visible) {
  const std::string bs(80, '\b');
  return bs + visible + bs;
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
    const std::string got = capture_stderr([&] {
      n = c.width == 60 ? print_status("%s", c.text.c_str()) : print_status_width(c.width, "%s", c.text.c_str());
    });
    EXPECT_EQ(got, framed(c.want)) << c.text;
    EXPECT_EQ(n, c.want_n);
  }
  const std::string got = capture_stderr([&] { n = print_status("parsing: %d%%", 42); });
  EXPECT_EQ(got, framed("parsing: 42%" + std::string(48, ' ')));
  // Texts far beyond the buffer are cut, never overrun.
  const std::string huge(5000, 'q');
  EXPECT_EQ(capture_stderr([&] { n = print_status("%s", huge.c_str()); }), framed(std::string(60, 'q')));
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
