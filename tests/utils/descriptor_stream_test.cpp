// The stream over one descriptor that new outputs are written through, and
// the new file made for it under a name nothing holds: its holes, its size
// as the system answers, writes and closes that fail, and a failed file
// closed to be removed.
#include "utils/descriptor_stream.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "tests/support/fixture.h"
#include "utils/sparse_output.h"
#include "utils/unique_output.h"

namespace {

std::string scratch(const std::string& name) { return quor_test::scratch_dir() + "/" + name; }

const ulong64 kHole = 8ULL << 20;

TEST(DescriptorStream, ANewFileTakesHolesAndHoldsWhatWasWritten) {
  // The first name is taken and passed over, left as it was.
  { std::ofstream(scratch("desc-0")) << "there before"; }
  int n = 0;
  int fd = -1;
  std::string made;
  ASSERT_TRUE(uni::create_unique_output(fd, [&n] { return scratch("desc-" + std::to_string(n++)); }, {}, 5, made));
  EXPECT_EQ(made, scratch("desc-1"));
  EXPECT_EQ(quor_test::read_file_text(scratch("desc-0")), "there before");
  ASSERT_GE(fd, 0);
  // Made for writing only, through this one handle.
  EXPECT_EQ(::fcntl(fd, F_GETFL) & O_ACCMODE, O_WRONLY);

  uni::descriptor_ostream out(fd);
  sparse_output s(out, nullptr);
  ASSERT_TRUE(s.write(reinterpret_cast<const byte*>("abc"), 3) && s.zeros(kHole) &&
              s.write(reinterpret_cast<const byte*>("xyz"), 3) && s.zeros(1 << 20) && s.finish());
  const ulong64 size = 6 + kHole + (1 << 20);
  EXPECT_EQ(static_cast<ulong64>(out.tellp()), size);
  EXPECT_TRUE(uni::descriptor_holds(out.fd(), size));
  EXPECT_FALSE(uni::descriptor_holds(out.fd(), size - 1));
  EXPECT_FALSE(uni::descriptor_holds(out.fd(), size + 1));
  EXPECT_TRUE(out.close());
  EXPECT_FALSE(uni::descriptor_holds(-1, 0));

  struct stat st {};
  ASSERT_EQ(::stat(made.c_str(), &st), 0);
  EXPECT_EQ(static_cast<ulong64>(st.st_size), size);
  EXPECT_LT(static_cast<ulong64>(st.st_blocks) * 512, 256u * 1024) << "the zeros took disk space";
  const std::string bytes = quor_test::read_file_text(made);
  ASSERT_EQ(bytes.size(), size);
  EXPECT_EQ(bytes.substr(0, 3), "abc");
  EXPECT_EQ(bytes.substr(3 + kHole, 3), "xyz");
  EXPECT_EQ(bytes.find_first_not_of('\0', 3), 3 + kHole);

  // Every name taken: nothing is made and nothing handed over.
  n = 0;
  fd = 7;
  EXPECT_FALSE(uni::create_unique_output(fd, [&n] { return scratch("desc-" + std::to_string(n++ % 2)); }, {}, 4, made));
  EXPECT_EQ(fd, -1);
  EXPECT_TRUE(made.empty());
}

// A store that takes no byte fails the write and the close, as a file
// system that reports a failed store only at the close does.
TEST(DescriptorStream, AFailedWriteFailsTheClose) {
  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (full < 0) GTEST_SKIP() << "no /dev/full";
  uni::descriptor_ostream out(full);
  out << std::string(100, 'x');
  EXPECT_TRUE(out.good()) << "held, not yet written";
  EXPECT_FALSE(out.close());
  EXPECT_TRUE(out.bad());
  // A stream over no descriptor is bad from the start.
  uni::descriptor_ostream none(-1);
  EXPECT_TRUE(none.bad());
  EXPECT_FALSE(none.close());
}

// A failed file closed to be removed gets one byte at its start only when
// nothing reached it; bytes still held are dropped.
TEST(DescriptorStream, AFileClosedToBeRemovedIsWrittenOnlyWhenNothingReachedIt) {
  const struct {
    const char* name;
    std::string flushed, held;
    std::string left;
  } rows[] = {
      {"nothing written", "", "", std::string(1, '\0')},
      {"bytes held only", "", "abc", std::string(1, '\0')},
      {"bytes written", "abc", "def", "abc"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    const std::string path = scratch(std::string("remove-") + r.name);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    uni::descriptor_ostream out(fd);
    out << r.flushed << std::flush << r.held;
    out.close_to_remove();
    EXPECT_TRUE(out.bad());
    EXPECT_EQ(out.fd(), -1);
    EXPECT_EQ(quor_test::read_file_text(path), r.left);
  }
}

// A file written whole is closed whole and named whole; one cut behind the
// writer's back, or whose writer failed, is not, and the failed one made for
// the write is known by its number, to be removed.
TEST(DescriptorStream, CloseWholeAndNamesWholeGoByWhatTheSystemShows) {
  const std::string path = scratch("whole");
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  ASSERT_GE(fd, 0);
  struct stat st {};
  ASSERT_EQ(::fstat(fd, &st), 0);
  uni::closed_file made;
  {
    uni::descriptor_ostream out(fd);
    out << "twelve bytes";
    EXPECT_TRUE(uni::close_whole(out, true, true, made));
  }
  EXPECT_TRUE(made.regular);
  EXPECT_EQ(made.size, 12u);
  EXPECT_EQ(made.inode, static_cast<uint64>(st.st_ino));
  EXPECT_TRUE(uni::names_whole(path, made));
  ASSERT_EQ(::truncate(path.c_str(), 11), 0);
  EXPECT_FALSE(uni::names_whole(path, made));
  EXPECT_FALSE(uni::names_whole(scratch("never-made"), made));

  const std::string cut = scratch("whole-cut");
  const int cut_fd = ::open(cut.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  ASSERT_GE(cut_fd, 0);
  {
    uni::descriptor_ostream out(cut_fd);
    out << "written" << std::flush;
    ASSERT_EQ(::ftruncate(cut_fd, 3), 0);
    EXPECT_FALSE(uni::close_whole(out, true, false, made));
  }
  EXPECT_EQ(quor_test::read_file_text(cut), "wri");

  const std::string failed = scratch("whole-failed");
  const int failed_fd = ::open(failed.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  ASSERT_GE(failed_fd, 0);
  ASSERT_EQ(::fstat(failed_fd, &st), 0);
  {
    uni::descriptor_ostream out(failed_fd);
    EXPECT_FALSE(uni::close_whole(out, false, true, made));
    EXPECT_TRUE(out.bad());
  }
  EXPECT_EQ(made.inode, static_cast<uint64>(st.st_ino));
  EXPECT_EQ(made.device, static_cast<uint64>(st.st_dev));
}

}  // namespace
