// The line reader on standard input redirected from a file, and the console
// writer on standard output redirected to one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "tests/support/fixture.h"
#include "utils/console.h"

namespace {

std::string write_file(const std::string& name, const std::string& data) {
  const std::string path = quor_test::scratch_dir() + "/" + name;
  std::ofstream(path, std::ios::binary) << data;
  return path;
}

TEST(LineReader, PiecesAndLineEnds) {
  const std::string long_line(5000, 'x');
  const std::string path =
      write_file("lines.txt", "abc\r\n" + long_line + "\nabc\r\na\xC3\nbytes\n\xE9t\xC3\xA9\nlast");
  ASSERT_TRUE(std::freopen(path.c_str(), "rb", stdin));
  uni::line_reader r(true);
  ASSERT_TRUE(r.is_valid());

  std::string s;
  ASSERT_TRUE(r.read_line(s, true));
  EXPECT_EQ(s, "abc");
  // A long line arrives as 4095 bytes, then the rest with its LF.
  ASSERT_TRUE(r.read_line(s, false));
  EXPECT_EQ(s, long_line.substr(0, 4095));
  ASSERT_TRUE(r.read_line(s, false));
  EXPECT_EQ(s, long_line.substr(0, 905) + "\n");
  ASSERT_TRUE(r.read_line(s, false));
  EXPECT_EQ(s, "abc\r\n");

  std::wstring w;
  ASSERT_TRUE(r.read_line(w, true));  // a cut UTF-8 sequence keeps what came before
  EXPECT_EQ(w, L"a");
  std::vector<byte> v;
  ASSERT_TRUE(r.read_line(v, true));
  EXPECT_EQ(v, (std::vector<byte>{'b', 'y', 't', 'e', 's'}));
  char buf[8];
  uint32 len = sizeof buf;
  ASSERT_TRUE(r.read_line(buf, len));
  EXPECT_EQ(len, 5u);
  EXPECT_EQ(std::string(buf, len), "\xE9t\xC3\xA9\n");

  ASSERT_TRUE(r.read_line(s, true));  // the last line, without LF
  EXPECT_EQ(s, "last");
  s = "old";
  EXPECT_FALSE(r.read_line(s, true));
  EXPECT_EQ(s, "");
  EXPECT_FALSE(r.read_line());
  EXPECT_TRUE(r.tell_ok());

  r.release();
  EXPECT_FALSE(r.read_line(s, true));
  EXPECT_FALSE(r.tell_ok());
}

TEST(ConsoleWriter, WritesStraightToTheDescriptor) {
  const std::string path = quor_test::scratch_dir() + "/console.out";
  std::fflush(stdout);
  const int saved = dup(fileno(stdout));
  ASSERT_GE(saved, 0);
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  dup2(fileno(f), fileno(stdout));
  {
    uni::console_writer w(true);
    EXPECT_TRUE(w.write("ab", 2));
    EXPECT_FALSE(w.write(nullptr, 2));
    EXPECT_FALSE(w.write("ab", 0));
    EXPECT_FALSE(w.write_string(""));
    EXPECT_FALSE(w.write(std::vector<byte>{}));
    EXPECT_TRUE(w.write_string("cd"));
    EXPECT_TRUE(w.write(std::vector<byte>{'e', 0, 'f'}));
  }
  {
    // Released, the writer writes nothing more and standard output stays
    // open for the next writer.
    uni::console_writer w(true);
    EXPECT_TRUE(w.is_valid());
    w.release();
    EXPECT_FALSE(w.is_valid());
    EXPECT_FALSE(w.write("zz", 2));
    EXPECT_FALSE(w.write_string("zz"));
    EXPECT_FALSE(w.write(std::vector<byte>{'z'}));
    uni::console_writer next(true);
    EXPECT_TRUE(next.write_string("\xC3\xA9"));
  }
  dup2(saved, fileno(stdout));
  close(saved);
  std::fclose(f);
  std::ifstream in(path, std::ios::binary);
  std::stringstream got;
  got << in.rdbuf();
  EXPECT_EQ(got.str(), std::string("abcde\0f\xC3\xA9", 9));
}

}  // namespace
