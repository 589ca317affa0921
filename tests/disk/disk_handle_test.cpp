// The disk handle over image files: clamped reads, refused reads, sector
// reads, 64-bit offsets and the closed kinds.
#include "disk/disk_handle.h"

#include <fcntl.h>
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

TEST(DiskHandle, NarrowWideAndInternalOpenersAgree) {
  const std::string path = make_image("forms.img", 2000);
  const std::wstring wpath(path.begin(), path.end());
  disk_handle extra(path.c_str(), false, false, true, DISK_KIND_FILE);
  disk_handle wide(wpath.c_str(), false, false, DISK_KIND_FILE);
  disk_handle direct(static_cast<const char*>(nullptr), false, false, DISK_KIND_FILE);
  disk_handle direct_w(static_cast<const char*>(nullptr), false, false, DISK_KIND_FILE);
  EXPECT_FALSE(direct.m_is_open || direct.m_fd != -1);
  ASSERT_TRUE(direct.open_file(path.c_str(), false, DISK_KIND_FILE));
  ASSERT_TRUE(direct_w.open_file(wpath.c_str(), false, DISK_KIND_DEVICE));
  direct.m_is_open = direct_w.m_is_open = true;
  direct.m_kind = DISK_KIND_FILE;
  direct_w.m_kind = DISK_KIND_DEVICE;
  EXPECT_TRUE(wide.m_wname == wpath && wide.m_name == path && direct_w.m_wname == wpath);
  for (disk_handle* d : {&extra, &wide, &direct, &direct_w}) {
    ASSERT_TRUE(d->m_is_open);
    EXPECT_EQ(d->get_size(), 2000u);
    byte b[3] = {};
    uint32 len = 3;
    ASSERT_TRUE(d->read(b, len, 1999));
    EXPECT_TRUE(len == 1 && b[0] == 1999 % 251) << len;
  }
  // Only files and devices open by name; a failed wide open names the file.
  disk_handle other(static_cast<const char*>(nullptr), false, false, DISK_KIND_FILE);
  EXPECT_FALSE(other.open_file(path.c_str(), false, DISK_KIND_VMDK));
  testing::internal::CaptureStdout();
  disk_handle missing(L"/nonexistent/\u00e9.img", false, false, DISK_KIND_FILE);
  EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("prob opening file /nonexistent/\xc3\xa9.img, error 2 [", 0), 0u);
  EXPECT_FALSE(missing.m_is_open);

  // Sector reads straight from the descriptor: the bytes asked for, cut at
  // the end of the file, never more.
  byte buf[600];
  uint32 len = 10;
  ASSERT_TRUE(direct_w.read_aligned(buf, len, 1020));
  EXPECT_TRUE(len == 10 && buf[0] == 1020 % 251 && buf[9] == 1029 % 251);
  len = 100;
  ASSERT_TRUE(direct_w.read_aligned(buf, len, 1990));
  EXPECT_TRUE(len == 10 && buf[9] == 1999 % 251) << len;
  len = 512;
  ASSERT_TRUE(direct_w.read_aligned(buf, len, 512));
  EXPECT_TRUE(len == 512 && buf[511] == 1023 % 251);
  len = 10;
  EXPECT_FALSE(direct_w.read_aligned(buf, len, 2048));
  EXPECT_FALSE(other.read_aligned(buf, len, 0));

  // A letter names no drive here; an open handle is left as it was.
  EXPECT_FALSE(extra.open_drive_letter('C'));
  EXPECT_TRUE(extra.m_is_open);
  EXPECT_FALSE(other.open_drive_letter('D'));
  EXPECT_EQ(other.m_kind, DISK_KIND_NONE);

  const int fd = direct.m_fd;
  direct.set_start_offset(4096);
  direct.reset();
  EXPECT_TRUE(direct.m_fd == -1 && !direct.m_is_open && direct.m_kind == DISK_KIND_NONE && direct.m_name.empty() &&
              direct.get_size() == 0 && direct.get_start_offset() == 0 && direct.m_geometry.bytes_per_sector == 0);
  ::close(fd);  // reset leaves the descriptor to whoever opened it
}

TEST(DiskHandle, IgnoringTheSizeReadsWhatTheFileGainedSinceOpening) {
  const std::string path = make_image("grows.img", 1000);
  disk_handle disk(path.c_str(), false, false, DISK_KIND_FILE);
  ASSERT_TRUE(disk.m_is_open);
  {
    std::ofstream more(path, std::ios::binary | std::ios::app);
    more << "tail";
  }
  char buf[8] = {};
  uint32 len = 8;
  EXPECT_FALSE(disk.read(buf, len, 1000, false));
  len = 8;
  ASSERT_TRUE(disk.read(buf, len, 1000, true));
  EXPECT_EQ(std::string(buf, len), "tail");
  len = 8;
  ASSERT_TRUE(disk.read(buf, len, 996, true));
  EXPECT_EQ(len, 8u) << "the size clamp is skipped too";
  len = 8;
  EXPECT_FALSE(disk.read(buf, len, 5000, true));
}

TEST(DiskHandle, OpenFileSizeLeavesThePositionAlone) {
  const std::string path = make_image("sized.img", 3000);
  const int fd = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::lseek(fd, 700, SEEK_SET), 700);
  EXPECT_EQ(open_file_size(fd), 3000u);
  EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 700);
  ::close(fd);
  EXPECT_EQ(open_file_size(-1), 0u);
}

TEST(DiskHandle, DevicePathOpensABlockDevice) {
  const std::string path = make_image("device.img", 8192);
  const host_tree::loop_device loop(path);
  if (loop.path.empty()) GTEST_SKIP() << "no loop device can be attached";
  const std::wstring wloop(loop.path.begin(), loop.path.end());
  disk_handle narrow(static_cast<const char*>(nullptr), false, false, DISK_KIND_FILE);
  disk_handle wide(static_cast<const char*>(nullptr), false, false, DISK_KIND_FILE);
  // Text after a colon is not part of the path opened, but stays in the name.
  ASSERT_TRUE(narrow.open_device((loop.path + ":x").c_str(), false));
  ASSERT_TRUE(wide.open_device(wloop.c_str(), false));
  EXPECT_EQ(narrow.m_name, loop.path + ":x");
  for (disk_handle* d : {&narrow, &wide}) {
    EXPECT_TRUE(d->m_size == 8192 && d->m_geometry.bytes_per_sector == 512 && d->m_geometry.media_type == 1);
  }
  // A device's size, as a file's, without moving the descriptor.
  ASSERT_EQ(::lseek(narrow.m_fd, 1000, SEEK_SET), 1000);
  EXPECT_EQ(open_file_size(narrow.m_fd), 8192u);
  EXPECT_EQ(::lseek(narrow.m_fd, 0, SEEK_CUR), 1000);
  disk_handle refused(static_cast<const char*>(nullptr), false, false, DISK_KIND_FILE);
  EXPECT_FALSE(refused.open_device(path.c_str(), false));
  EXPECT_FALSE(refused.open_device("/dev/aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false));
  EXPECT_FALSE(refused.open_device(static_cast<const wchar_t*>(nullptr), false));
  EXPECT_EQ(refused.m_fd, -1);
}
