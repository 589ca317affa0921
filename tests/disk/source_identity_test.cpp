// A disk tells the files it reads: the image, or every file of a VMDK chain.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>

#include "disk/disk_handle.h"
#include "tests/support/fixture.h"
#include "tests/support/loop_device.h"

namespace {

std::set<std::pair<uint64, uint64>> identities(const disk_handle& disk) {
  uni::file_identities ids;
  EXPECT_TRUE(disk.source_identities(ids));
  std::set<std::pair<uint64, uint64>> out;
  // The files read; what they are stored on comes marked as their holders.
  for (const uni::file_identity& id : ids)
    if (!id.holder) out.insert({id.device, id.inode});
  return out;
}

std::pair<uint64, uint64> stat_of(const std::string& path) {
  struct stat st;
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return {static_cast<uint64>(st.st_dev), static_cast<uint64>(st.st_ino)};
}

TEST(SourceIdentity, ImageAndEveryFileOfAVmdkChain) {
  const std::string image = quor_test::fixture("default.img");
  const std::string base = quor_test::fixture("vmdk-base.vmdk");
  const std::string child = quor_test::fixture("vmdk-child.vmdk");
  if (image.empty() || base.empty() || child.empty()) GTEST_SKIP() << "fixtures missing";
  const disk_handle file(image.c_str(), false, false, DISK_KIND_FILE);
  ASSERT_TRUE(file.m_is_open);
  EXPECT_EQ(identities(file), (std::set<std::pair<uint64, uint64>>{stat_of(image)}));
  const disk_handle chain(std::vector<std::string>{child, base}, false, false);
  ASSERT_TRUE(chain.m_is_open);
  EXPECT_EQ(identities(chain), (std::set<std::pair<uint64, uint64>>{stat_of(base), stat_of(child)}));
  const disk_handle none(std::vector<std::string>{}, false, true);
  uni::file_identities ids;
  EXPECT_FALSE(none.source_identities(ids));
  EXPECT_TRUE(ids.empty());
}

// A disk read through a loop device reads the file behind it, and through a
// loop device over that loop device too: each file of the chain is a source.
TEST(SourceIdentity, EveryFileBehindALoopDevice) {
  const std::string image = quor_test::fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "fixture default.img missing";
  const quor_test::loop_device first(image, true);
  if (first.path().empty()) GTEST_SKIP() << first.why();
  const quor_test::loop_device second(first.path(), true);
  ASSERT_FALSE(second.path().empty()) << second.why();
  const disk_handle once(first.path().c_str(), false, false, DISK_KIND_FILE);
  ASSERT_TRUE(once.m_is_open);
  EXPECT_EQ(identities(once), (std::set<std::pair<uint64, uint64>>{stat_of(first.path()), stat_of(image)}));
  const disk_handle twice(second.path().c_str(), false, false, DISK_KIND_FILE);
  ASSERT_TRUE(twice.m_is_open);
  EXPECT_EQ(identities(twice), (std::set<std::pair<uint64, uint64>>{stat_of(second.path()), stat_of(first.path()),
                                                                     stat_of(image)}));
  // The block device numbers travel along, so that another node of either
  // loop device is known too.
  uni::file_identities ids;
  ASSERT_TRUE(twice.source_identities(ids));
  std::set<uint64> numbers;
  for (const uni::file_identity& id : ids)
    if (id.block_device != 0 && !id.holder) numbers.insert(id.block_device);
  struct stat a, b;
  ASSERT_EQ(::stat(first.path().c_str(), &a), 0);
  ASSERT_EQ(::stat(second.path().c_str(), &b), 0);
  EXPECT_EQ(numbers, (std::set<uint64>{static_cast<uint64>(a.st_rdev), static_cast<uint64>(b.st_rdev)}));
}

}  // namespace
