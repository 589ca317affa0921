// A disk handle that reads through another's open disk (an image file, a
// VMDK chain), and one over a descriptor its caller opened: what each reads,
// that the first never writes or closes, that the second closes its own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <new>
#include <memory>
#include <string>
#include <vector>

#include "disk/disk_handle.h"
#include "tests/support/fixture.h"

namespace {

std::string patterned(const std::string& name, uint32 size) {
  const std::string path = quor_test::scratch_dir() + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (uint32 i = 0; i < size; ++i) out.put(static_cast<char>(i * 7 % 251));
  return path;
}

std::vector<byte> bytes_at(disk_handle& disk, ulong64 offset, uint32 length) {
  std::vector<byte> out(length);
  uint32 got = length;
  if (!disk.read(out.data(), got, offset)) return {};
  out.resize(got);
  return out;
}

TEST(DiskHandleSharing, ABorrowedDiskReadsAsItsOwnerAndNeverWritesOrClosesIt) {
  const std::string image = patterned("shared.img", 70000);
  const std::string child = quor_test::fixture("vmdk-child.vmdk"), base = quor_test::fixture("vmdk-base.vmdk");
  ASSERT_FALSE(child.empty() || base.empty());
  const struct {
    const char* how;
    std::unique_ptr<disk_handle> owner;
  } owners[] = {
      {"an image opened to be written", std::make_unique<disk_handle>(image.c_str(), true, false, DISK_KIND_FILE)},
      {"a VMDK chain", std::make_unique<disk_handle>(std::vector<std::string>{child, base}, false, false)},
  };
  for (const auto& o : owners) {
    disk_handle& owner = *o.owner;
    ASSERT_TRUE(owner.m_is_open) << o.how;
    const ulong64 at = owner.get_size() > 0x200000 ? 0x100000 : 4096;  // inside a VMDK's volume
    const std::vector<byte> before = bytes_at(owner, at, 4096);
    ASSERT_EQ(before.size(), 4096u) << o.how;
    {
      disk_handle view(owner, DISK_BORROWED);
      EXPECT_TRUE(view.m_is_open) << o.how;
      EXPECT_EQ(view.get_size(), owner.get_size()) << o.how;
      EXPECT_EQ(bytes_at(view, at, 4096), before) << o.how;
      const std::vector<byte> zeros(512, 0);
      uint32 len = 512;
      EXPECT_FALSE(view.write(zeros.data(), len, at)) << o.how;
      view.set_start_offset(0x100000);
      EXPECT_EQ(owner.get_start_offset(), 0u) << o.how;
    }
    EXPECT_EQ(bytes_at(owner, at, 4096), before) << o.how;
    if (owner.m_kind == DISK_KIND_FILE) {
      EXPECT_NE(::fcntl(owner.m_fd, F_GETFD), -1) << o.how;
    }
  }
}

TEST(DiskHandleSharing, ADescriptorHandedInIsReadAndClosedWithTheHandle) {
  const std::string image = patterned("handed.img", 9000);
  const int fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  {
    // Made in memory that held other values: nothing the handle does not set is taken from it.
    alignas(disk_handle) unsigned char place[sizeof(disk_handle)];
    std::memset(place, 0xFF, sizeof place);
    const std::unique_ptr<disk_handle, void (*)(disk_handle*)> made(new (place) disk_handle(fd, image),
                                                                   [](disk_handle* d) { d->~disk_handle(); });
    disk_handle& disk = *made;
    ASSERT_TRUE(disk.m_is_open);
    EXPECT_EQ(disk.m_name, image);
    EXPECT_EQ(disk.get_size(), 9000u);
    const std::vector<byte> got = bytes_at(disk, 8990, 100);
    ASSERT_EQ(got.size(), 10u);
    for (uint32 i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], (8990 + i) * 7 % 251) << i;
  }
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
  disk_handle none(-1, image);
  EXPECT_FALSE(none.m_is_open);
  EXPECT_EQ(none.get_size(), 0u);
}

}  // namespace
