// The disk handle over image files: clamped reads, refused reads, sector
// reads, 64-bit offsets and the closed kinds.
#include "disk/disk_handle.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <vector>

#include "tests/disk/host_tree.h"

namespace {

std::string make_image(const std::string& name, uint32 size) {
  const std::string path = quor_test::scratch_dir() + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (uint32 i = 0; i < size; ++i) out.put(static_cast<char>(i % 251));
  return path;
}

}  // namespace

TEST(DiskHandle, FileReadsAreClampedAtTheEndAndRefusedPastIt) {
  const std::string path = make_image("thousand.img", 1000);
  disk_handle disk(path.c_str(), false, false, DISK_KIND_FILE);
  ASSERT_TRUE(disk.m_is_open);
  EXPECT_EQ(disk.get_size(), 1000u);
  std::vector<byte> buf(100, 0xEE);
  uint32 len = 100;
  ASSERT_TRUE(disk.read(buf.data(), len, 950));
  EXPECT_EQ(len, 50u);
  for (uint32 i = 0; i < 50; ++i) ASSERT_EQ(buf[i], (950 + i) % 251) << i;
  EXPECT_EQ(buf[50], 0xEE);
  len = 100;
  EXPECT_FALSE(disk.read(buf.data(), len, 1000));
  len = 0;
  EXPECT_FALSE(disk.read(buf.data(), len, 0));
  len = 10;
  EXPECT_FALSE(disk.read(nullptr, len, 0));
  // Not opened for writing: every write is refused and the file unchanged.
  len = 4;
  EXPECT_FALSE(disk.write(buf.data(), len, 0));
  len = 1;
  ASSERT_TRUE(disk.read(buf.data(), len, 0));
  EXPECT_EQ(buf[0], 0);
}

TEST(DiskHandle, SectorReadsReturnTheRangeInsideTheirSectors) {
  const std::string path = make_image("sectors.img", 4096);
  // A device named by path but read as a plain file reads in whole sectors.
  disk_handle disk(path.c_str(), false, false, DISK_KIND_DEVICE);
  ASSERT_TRUE(disk.m_is_open);
  std::vector<byte> buf(10);
  uint32 len = 10;
  ASSERT_TRUE(disk.read(buf.data(), len, 1020));
  EXPECT_EQ(len, 10u);
  for (uint32 i = 0; i < 10; ++i) EXPECT_EQ(buf[i], (1020 + i) % 251) << i;
  std::vector<byte> whole(1024);
  len = 1024;
  ASSERT_TRUE(disk.read(whole.data(), len, 512));
  EXPECT_EQ(whole[0], 512 % 251);
  EXPECT_EQ(whole[1023], (512 + 1023) % 251);
}

TEST(DiskHandle, OffsetsBeyondFourGibibytesAreKeptWhole) {
  const ulong64 far = (5ULL << 30) + 3;
  const std::string text = "evidence";
  const std::string path = host_tree::write_disk(host_tree::scratch("sparse-large.img"), far + 16,
                                                 {{far, std::vector<byte>(text.begin(), text.end())}});
  disk_handle disk(path.c_str(), false, false, DISK_KIND_FILE);
  ASSERT_TRUE(disk.m_is_open);
  EXPECT_EQ(disk.get_size(), far + 16);
  uint32 high = 0;
  uint32 low = 0;
  ASSERT_TRUE(disk.get_size_parts(high, low));
  EXPECT_EQ((static_cast<ulong64>(high) << 32) | low, far + 16);
  char buf[8] = {};
  uint32 len = 8;
  ASSERT_TRUE(disk.read(buf, len, far));
  EXPECT_EQ(std::string(buf, 8), text);
  ::unlink(path.c_str());
}

TEST(DiskHandle, UnopenableSourcesLeaveAClosedHandle) {
  testing::internal::CaptureStdout();
  disk_handle missing("/nonexistent/evidence.img", false, false, DISK_KIND_FILE);
  const std::string said = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(missing.m_is_open);
  EXPECT_EQ(said.rfind("prob opening file /nonexistent/evidence.img, error 2 [", 0), 0u) << said;
  EXPECT_EQ(missing.get_size(), 0u);

  disk_handle drive(0u, false, false, DISK_KIND_PHYSICAL_DRIVE);
  EXPECT_FALSE(drive.m_is_open);
  byte b = 0;
  uint32 len = 1;
  EXPECT_FALSE(drive.read(&b, len, 0));
  disk_handle unopened(std::vector<std::wstring>{L"a.vmdk"}, false, true);
  EXPECT_FALSE(unopened.m_is_open);

  const std::string image = make_image("notadevice.img", 512);
  disk_handle not_dev(image.c_str(), false, true, DISK_KIND_DEVICE);
  EXPECT_FALSE(not_dev.m_is_open);
  disk_handle too_long("/dev/aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false, true, DISK_KIND_DEVICE);
  EXPECT_FALSE(too_long.m_is_open);
}

TEST(DiskHandle, WritableHandleWritesInPlaceButNotPastTheEnd) {
  const std::string path = make_image("writable.img", 1024);
  disk_handle disk(path.c_str(), true, false, DISK_KIND_FILE);
  ASSERT_TRUE(disk.m_is_open);
  const char data[] = "abcdef";
  uint32 len = 6;
  ASSERT_TRUE(disk.write(data, len, 1020));
  EXPECT_EQ(len, 4u);
  char back[4] = {};
  len = 4;
  ASSERT_TRUE(disk.read(back, len, 1020));
  EXPECT_EQ(std::string(back, 4), "abcd");
  len = 1;
  EXPECT_FALSE(disk.write(data, len, 1024));
}
