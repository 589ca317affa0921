// The engine's raw transfers at a byte position of its disk, and the disk's
// partition start and flags, checked against the image file's own bytes.
#include "ntfs/volume_io.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "disk/disk_handle.h"
#include "ntfs/ntfs.h"
#include "tests/support/engine.h"

namespace {

const ulong64 kMiB = 0x100000;

std::vector<byte> file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<byte>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

}  // namespace

// Every reader takes base + offset of the whole disk (the volume reader adds
// the volume offset itself), delivers at most what the disk holds there and
// says how much; nothing at or past the end.
TEST(VolumeIo, RawReadsAtBasePlusOffsetMatchTheImage) {
  const std::string path = quor_test::fixture("mbr-1p.img");
  ASSERT_FALSE(path.empty());
  const std::vector<byte> image = file_bytes(path);
  const ulong64 end = image.size();
  CNtfs* engine = nullptr;
  ASSERT_TRUE(open_ntfs_image(path.c_str(), kMiB, engine, false, false));
  std::unique_ptr<CNtfs> owner(engine);
  disk_handle* disk = engine->get_disk_handle();
  ASSERT_NE(disk, nullptr);
  const struct {
    ulong64 base, offset;
    uint32 len;
    bool ok;
    uint32 got;
  } cases[] = {{kMiB, 0, 512, true, 512},      {0, kMiB + 3, 8, true, 8},         {kMiB, 4096, 8192, true, 8192},
               {end - 100, 0, 512, true, 100}, {kMiB, end - kMiB - 1, 4, true, 1}, {end, 0, 16, false, 16},
               {kMiB, end, 16, false, 16}};
  for (const auto& c : cases) {
    const ulong64 at = c.base + c.offset;
    const std::vector<byte> want(image.begin() + std::min(at, end), image.begin() + std::min(at + c.got, end));
    std::vector<byte> a(c.len, 0xEE), b(c.len, 0xEE), d(c.len, 0xEE), v(c.len, 0xEE);
    uint32 la = c.len, lv = c.len;
    int lb = static_cast<int>(c.len), ld = static_cast<int>(c.len);
    EXPECT_EQ(read_disk_at(disk, c.base, c.offset, a.data(), la), c.ok) << at;
    EXPECT_EQ(read_disk_at(disk, c.offset, c.base, b.data(), lb), c.ok) << at;  // offset first in this form
    EXPECT_EQ(read_open_disk_at(disk, c.base, c.offset, d.data(), ld), c.ok) << at;
    EXPECT_EQ(engine->read_volume(at - kMiB, v.data(), lv), c.ok) << at;
    EXPECT_EQ(la, c.got) << at;
    EXPECT_EQ(lb, static_cast<int>(c.got)) << at;
    EXPECT_EQ(ld, static_cast<int>(c.got)) << at;
    EXPECT_EQ(lv, c.got) << at;
    if (!c.ok) continue;
    for (const std::vector<byte>* got : {&a, &b, &d, &v})
      EXPECT_TRUE(std::equal(want.begin(), want.end(), got->begin())) << at;
  }
  EXPECT_EQ(std::memcmp(&image[kMiB + 3], "NTFS    ", 8), 0);

  // No disk, a disk that did not open, a drive by number (never on this host).
  disk_handle closed((path + ".missing").c_str(), false, false, DISK_KIND_FILE);
  std::vector<byte> buf(16);
  uint32 len = 16;
  int size = 16;
  EXPECT_FALSE(read_disk_at(nullptr, 0, 0, buf.data(), len));
  EXPECT_FALSE(read_disk_at(nullptr, 0, 0, buf.data(), size));
  EXPECT_FALSE(read_open_disk_at(nullptr, 0, 0, buf.data(), size));
  EXPECT_FALSE(read_open_disk_at(&closed, 0, 0, buf.data(), size));
  EXPECT_FALSE(read_physical_drive_at(0, 0, 0, buf.data(), size));
  EXPECT_EQ(size, 16);
}

TEST(VolumeIo, RawWritesGoOnlyThroughAWritableHandle) {
  const std::string path = quor_test::copy_fixture("default.img", "raw-write.img");
  ASSERT_FALSE(path.empty());
  std::vector<byte> want = file_bytes(path);
  const ulong64 end = want.size();
  disk_handle ro(path.c_str(), false, false, DISK_KIND_FILE);
  disk_handle rw(path.c_str(), true, false, DISK_KIND_FILE);
  ASSERT_TRUE(ro.m_is_open && rw.m_is_open);
  const char text[] = "abcd";
  uint32 len = 4;
  EXPECT_FALSE(write_disk_at(nullptr, 4096, 16, text, len));
  EXPECT_FALSE(write_disk_at(&ro, 4096, 16, text, len));
  EXPECT_TRUE(write_disk_at(&rw, 4096, 16, text, len));
  EXPECT_EQ(len, 4u);
  std::memcpy(&want[4096 + 16], text, 4);
  // Cut at the end of the disk; nothing at it.
  len = 4;
  EXPECT_TRUE(write_disk_at(&rw, end - 10, 8, text, len));
  EXPECT_EQ(len, 2u);
  std::memcpy(&want[end - 2], text, 2);
  len = 4;
  EXPECT_FALSE(write_disk_at(&rw, end, 0, text, len));
  EXPECT_TRUE(file_bytes(path) == want);
}

// The start of the partition is what the disk was told (a VMDK chain is told
// its volume's offset); an image opened at an offset knows none.
TEST(VolumeIo, PartitionStartAndDiskFlags) {
  const std::string base = quor_test::fixture("vmdk-base.vmdk");
  const std::string disk = quor_test::fixture("mbr-1p.img");
  ASSERT_FALSE(base.empty() || disk.empty());
  CNtfs* chain = nullptr;
  ASSERT_TRUE(open_ntfs_vmdk_chain(std::vector<std::wstring>{wide(base)}, 0, chain, false));
  std::unique_ptr<CNtfs> chain_owner(chain);
  CNtfs* image = nullptr;
  ASSERT_TRUE(open_ntfs_image(disk.c_str(), kMiB, image, false, false));
  std::unique_ptr<CNtfs> image_owner(image);
  CNtfs none;
  const struct {
    const char* what;
    CNtfs* engine;
    ulong64 start, sector;
  } cases[] = {{"vmdk chain", chain, kMiB, kMiB / 512}, {"image at 1 MiB", image, 0, 0}, {"no source", &none, 0, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.engine->get_partition_start(), c.start) << c.what;
    EXPECT_EQ(c.engine->get_partition_start_sector(), c.sector) << c.what;
    EXPECT_FALSE(c.engine->is_disk_writable()) << c.what;
    EXPECT_FALSE(c.engine->is_disk_device()) << c.what;
  }
  // A boot sector that says 0 bytes per sector divides nothing.
  chain->m_boot.bytes_per_sector = 0;
  EXPECT_EQ(chain->get_partition_start_sector(), 0u);
}
