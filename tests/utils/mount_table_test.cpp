// The mount table kept for the output checks: read again only after a
// mount or an unmount, which every later check then sees; the FUSE servers
// walked again only with it.
#include "utils/mount_table.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/support/fixture.h"
#include "tests/support/loop_device.h"
#include "tests/support/mount_guard.h"
#include "utils/fuse_servers.h"
#include "utils/output_file.h"

namespace {

// The entry the kept table has for the mount point `at`; null when none.
const uni::mount_entry* entry_at(const uni::mount_table& table, const std::string& at) {
  for (const uni::mount_entry& e : table.entries)
    if (e.mount_point == at) return &e;
  return nullptr;
}

TEST(MountTable, ReadAgainOnlyAfterAChange) {
  const std::string at = quor_test::scratch_dir() + "/table-tmpfs";
  const std::shared_ptr<const uni::mount_table> first = uni::current_mount_table();
  ASSERT_TRUE(first);
  const uint64 reads = uni::mount_table_reads();
  EXPECT_EQ(uni::current_mount_table(), first) << "read again with nothing changed";
  EXPECT_EQ(uni::mount_table_reads(), reads);
  EXPECT_EQ(entry_at(*first, at), nullptr);
  {
    const quor_test::mount_guard tmpfs("mount -t tmpfs table '" + at + "'", at);
    if (tmpfs.dir().empty()) GTEST_SKIP() << tmpfs.why();
    const std::shared_ptr<const uni::mount_table> mounted = uni::current_mount_table();
    ASSERT_TRUE(mounted);
    EXPECT_EQ(uni::mount_table_reads(), reads + 1);
    EXPECT_GT(mounted->generation, first->generation);
    const uni::mount_entry* entry = entry_at(*mounted, at);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->type, "tmpfs");
    // Found by the mount ID of a file there.
    struct statx sx;
    ASSERT_EQ(::statx(AT_FDCWD, at.c_str(), 0, STATX_MNT_ID, &sx), 0);
    EXPECT_EQ(mounted->by_id(sx.stx_mnt_id), entry);
    EXPECT_EQ(uni::current_mount_table(), mounted);
  }
  const std::shared_ptr<const uni::mount_table> gone = uni::current_mount_table();
  ASSERT_TRUE(gone);
  EXPECT_EQ(entry_at(*gone, at), nullptr);
  EXPECT_EQ(uni::mount_table_reads(), reads + 2);
}

// An ntfs-3g mount of the image made between two checks of a folder is
// seen by the second; checks with nothing changed between them walk the
// processes for the mount's server once.
TEST(MountTable, AMountMadeBetweenTwoChecksIsSeen) {
  const std::string image = quor_test::copy_fixture("default.img", "table-mounted.img");
  ASSERT_FALSE(image.empty());
  const std::string at = quor_test::scratch_dir() + "/table-ntfs";
  ::mkdir(at.c_str(), 0700);
  uni::file_identities sources;
  const int fd = ::open(image.c_str(), O_RDONLY);
  ASSERT_TRUE(uni::identities_of_source(fd, sources));
  ::close(fd);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(uni::folder_writes_source(at + "/new", sources));
  const quor_test::ntfs3g_mount mount(image, at);
  if (mount.dir().empty()) {
    testing::internal::GetCapturedStderr();
    GTEST_SKIP() << mount.why();
  }
  EXPECT_TRUE(uni::folder_writes_source(at + "/new", sources));
  const uint64 walks = uni::fuse_server_walks();
  const uint64 reads = uni::mount_table_reads();
  EXPECT_TRUE(uni::folder_writes_source(at + "/new", sources));
  EXPECT_TRUE(uni::folder_writes_source(at + "/other", sources));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(uni::fuse_server_walks(), walks);
  EXPECT_EQ(uni::mount_table_reads(), reads);
}

}  // namespace
