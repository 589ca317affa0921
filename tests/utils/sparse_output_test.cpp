// Content with runs of zeros: holes in a new file (its size, its blocks, its
// bytes and digest against md5sum), zeros written everywhere a hole would be
// wrong, a file opened for appending and the null and zero devices among
// them.
#include "utils/sparse_output.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/fixture.h"
#include "utils/hex_text.h"

namespace {

const ulong64 kHole = 8ULL << 20;

// "abc", 8 MiB of zeros, "xyz", 1 MiB of zeros: the digest of the content.
std::string write_content(std::ostream& out, bool& finished) {
  md5_context md5;
  md5_init(&md5);
  sparse_output s(out, &md5);
  bool ok = s.write(reinterpret_cast<const byte*>("abc"), 3) && s.zeros(kHole);
  ok = ok && s.write(reinterpret_cast<const byte*>("xyz"), 3) && s.zeros(1 << 20);
  finished = s.finish() && ok;
  byte digest[16];
  md5_final(digest, &md5);
  std::string hex;
  bytes_to_hex(hex, digest, 16);
  return hex;
}

TEST(SparseOutput, HolesInANewFileZerosElsewhere) {
  const std::string path = quor_test::scratch_dir() + "/sparse-out.bin";
  std::string md5_file, md5_text;
  bool finished = false;
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    md5_file = write_content(file, finished);
  }
  EXPECT_TRUE(finished);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  const ulong64 size = 3 + kHole + 3 + (1 << 20);
  EXPECT_EQ(static_cast<ulong64>(st.st_size), size);
  EXPECT_LT(static_cast<ulong64>(st.st_blocks) * 512, 256u * 1024) << "the zeros took disk space";
  std::string sum;
  ASSERT_EQ(quor_test::run_command("md5sum < " + path, sum), 0);
  EXPECT_EQ(md5_file, sum.substr(0, 32));
  const std::string bytes = quor_test::read_file_text(path);
  ASSERT_EQ(bytes.size(), size);
  EXPECT_EQ(bytes.substr(0, 3), "abc");
  EXPECT_EQ(bytes.substr(3 + kHole, 3), "xyz");
  EXPECT_EQ(bytes.find_first_not_of('\0', 3), 3 + kHole);
  EXPECT_EQ(bytes.find_first_not_of('\0', 6 + kHole), std::string::npos);

  // A string gets the zeros themselves, and the same digest.
  std::ostringstream text;
  md5_text = write_content(text, finished);
  EXPECT_TRUE(finished);
  EXPECT_TRUE(text.str() == bytes);
  EXPECT_EQ(md5_text, md5_file);

  // Written in the middle of a file, skipped bytes would show the old ones.
  { std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(100, 'x'); }
  {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    sparse_output s(file, nullptr);
    EXPECT_TRUE(s.write(reinterpret_cast<const byte*>("ab"), 2) && s.zeros(10) && s.finish());
  }
  EXPECT_EQ(quor_test::read_file_text(path), "ab" + std::string(10, '\0') + std::string(88, 'x'));

  // Appending to an empty file ignores seeks: the zeros are written.
  { std::ofstream(path, std::ios::binary | std::ios::trunc); }
  {
    std::ofstream file(path, std::ios::binary | std::ios::app);
    sparse_output s(file, nullptr);
    EXPECT_TRUE(s.write(reinterpret_cast<const byte*>("ab"), 2) && s.zeros(10) &&
                s.write(reinterpret_cast<const byte*>("cd"), 2) && s.zeros(3) && s.finish());
  }
  EXPECT_EQ(quor_test::read_file_text(path), "ab" + std::string(10, '\0') + "cd" + std::string(3, '\0'));
}

// The null and zero devices take every seek and stay at position 0, so no
// position shows where the bytes went: they are judged by their writes, and
// the content, with or without runs of zeros, gives the digest a string
// gives.
TEST(SparseOutput, DevicesAreJudgedByTheirWrites) {
  const struct {
    const char* name;
    unsigned minor;
  } devices[] = {{"null", 3}, {"zero", 5}};
  for (const auto& d : devices) {
    SCOPED_TRACE(d.name);
    const std::string node = quor_test::scratch_dir() + "/sparse-" + d.name;
    if (::mknod(node.c_str(), S_IFCHR | 0600, makedev(1, d.minor)) != 0) GTEST_SKIP() << "cannot make device nodes";
    bool finished = false;
    std::ostringstream text;
    const std::string want = write_content(text, finished);
    {
      std::ofstream device(node, std::ios::binary);
      EXPECT_EQ(write_content(device, finished), want);
      EXPECT_TRUE(finished);
    }
    std::ofstream device(node, std::ios::binary);
    sparse_output s(device, nullptr);
    EXPECT_TRUE(s.write(reinterpret_cast<const byte*>("abc"), 3) && s.finish()) << "bytes alone";
  }
}

}  // namespace
