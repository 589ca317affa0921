// The engine over partitioned disks and VMDK chains: the offsets the
// selection chooses open as NTFS volumes, and the volume inside the chain is
// the bare volume it was made from.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "disk/disk_handle.h"
#include "ntfs/ntfs.h"
#include "tests/support/fixture.h"

namespace {

std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// The first `len` bytes of the volume the engine opened, read through its disk.
std::vector<byte> volume_bytes(CNtfs* ntfs, uint32 len) {
  std::vector<byte> out(len);
  uint32 got = len;
  if (!ntfs->m_disk->read(out.data(), got, ntfs->m_volume_offset) || got != len) out.clear();
  return out;
}

std::vector<byte> file_bytes(const std::string& path, uint32 len) {
  disk_handle d(path.c_str(), false, false, DISK_KIND_FILE);
  std::vector<byte> out(len);
  uint32 got = len;
  if (!d.read(out.data(), got, 0) || got != len) out.clear();
  return out;
}

}  // namespace

TEST(NtfsVmdk, ChainFactoryFindsTheVolume) {
  const std::string base = quor_test::fixture("vmdk-base.vmdk");
  const std::string child = quor_test::fixture("vmdk-child.vmdk");
  const std::string bare = quor_test::fixture("mbr-1p-volume.img");
  ASSERT_FALSE(base.empty() || child.empty() || bare.empty());
  const uint32 span = 2u << 20;  // boot sector, $MFT and the index records of a 6 MiB volume

  const struct {
    std::vector<std::wstring> files;
    ulong64 offset;
  } opens[] = {
      {{wide(base)}, 0},          // no offset: chosen from the partition table
      {{wide(base)}, 0x100000},   // an explicit offset
      {{wide(child), wide(base)}, 0},
  };
  for (const auto& o : opens) {
    CNtfs* ntfs = reinterpret_cast<CNtfs*>(1);
    ASSERT_TRUE(open_ntfs_vmdk_chain(o.files, o.offset, ntfs, false)) << o.files.size() << " at " << o.offset;
    ASSERT_NE(ntfs, nullptr);
    EXPECT_EQ(ntfs->m_volume_offset, 0x100000u);
    EXPECT_EQ(ntfs->m_disk->get_start_offset(), 0x100000u);
    EXPECT_EQ(ntfs->m_disk->m_kind, DISK_KIND_VMDK);
    EXPECT_EQ(std::memcmp(ntfs->m_boot.keyword, "NTFS    ", 8), 0);
    // The base alone is the bare volume, byte for byte; the chain's listing
    // is checked against fls with the path lookup.
    if (o.files.size() == 1) {
      EXPECT_EQ(volume_bytes(ntfs, span), file_bytes(bare, span));
    }
    delete ntfs;
  }

  const std::vector<std::vector<std::string>> refused = {{}, {child}, {bare}};
  for (const auto& files : refused) {
    CNtfs* ntfs = reinterpret_cast<CNtfs*>(1);
    EXPECT_FALSE(open_ntfs_vmdk_chain(files, 0, ntfs, false, false)) << files.size();
    EXPECT_EQ(ntfs, nullptr);
  }
  // An offset where no volume starts.
  CNtfs* ntfs = reinterpret_cast<CNtfs*>(1);
  EXPECT_FALSE(open_ntfs_vmdk_chain(std::vector<std::wstring>{wide(base)}, 0x200000, ntfs, false));
  EXPECT_EQ(ntfs, nullptr);
}

// The disk start of a partitioned fixture is a partition table, not a boot
// sector (the volumes at their offsets are checked against fls with the path
// lookup).
TEST(NtfsVmdk, DiskStartIsNoVolume) {
  for (const char* image : {"mbr-1p.img", "mbr-far.img", "mbr-ext.img", "gpt-slot3.img"}) {
    const std::string path = quor_test::fixture(image);
    ASSERT_FALSE(path.empty()) << image;
    CNtfs* ntfs = nullptr;
    EXPECT_FALSE(open_ntfs_image(wide(path).c_str(), 0, ntfs, false, false)) << image;
    EXPECT_EQ(ntfs, nullptr);
  }
}

// Without an offset the chain opens the first partition of the virtual disk,
// also when a later one holds an NTFS volume too; a GPT disk, whose first
// sector names no partition, opens at its NTFS partition.
TEST(NtfsVmdk, ChainWithoutOffsetOpensTheFirstPartition) {
  if (!quor_test::have_program("sfdisk") || !quor_test::have_program("qemu-img"))
    GTEST_SKIP() << "sfdisk or qemu-img absent";
  const std::string first = quor_test::fixture("mbr-1p-volume.img");  // 12288 sectors
  const std::string second = quor_test::fixture("streams.img");        // 16384 sectors
  ASSERT_FALSE(first.empty() || second.empty());
  const std::string raw = quor_test::scratch_dir() + "/two-volumes.img";
  const std::string vmdk = quor_test::scratch_dir() + "/two-volumes.vmdk";
  std::string out;
  const std::string make =
      "set -e; truncate -s 15M '" + raw + "'; printf 'label: dos\\nstart=2048, size=12288, type=7\\n"
      "start=14336, size=16384, type=7\\n' | sfdisk -q '" + raw + "'; dd if='" + first + "' of='" + raw +
      "' bs=512 seek=2048 conv=notrunc status=none; dd if='" + second + "' of='" + raw +
      "' bs=512 seek=14336 conv=notrunc status=none; qemu-img convert -f raw -O vmdk '" + raw + "' '" + vmdk + "'";
  ASSERT_EQ(quor_test::run_command(make, out), 0);

  const std::string gpt = quor_test::fixture("gpt-slot3.img");
  const std::string gpt_vmdk = quor_test::scratch_dir() + "/gpt.vmdk";
  ASSERT_FALSE(gpt.empty());
  ASSERT_EQ(quor_test::run_command("qemu-img convert -f raw -O vmdk '" + gpt + "' '" + gpt_vmdk + "'", out), 0);
  const std::string gpt_volume = quor_test::scratch_dir() + "/gpt-volume.img";
  // The partition as sgdisk listed it: sectors 4096 to 16383.
  ASSERT_EQ(quor_test::run_command("dd if='" + gpt + "' of='" + gpt_volume +
                                       "' bs=512 skip=4096 count=12288 status=none", out), 0);

  const struct {
    std::string disk;
    ulong64 offset, want;
    std::string volume;
  } opens[] = {{vmdk, 0, 2048 * 512, first}, {vmdk, 14336 * 512, 14336 * 512, second}, {gpt_vmdk, 0, 4096 * 512, gpt_volume}};
  for (const auto& o : opens) {
    CNtfs* ntfs = nullptr;
    ASSERT_TRUE(open_ntfs_vmdk_chain(std::vector<std::wstring>{wide(o.disk)}, o.offset, ntfs, false)) << o.want;
    EXPECT_EQ(ntfs->m_volume_offset, o.want);
    EXPECT_EQ(volume_bytes(ntfs, 1u << 20), file_bytes(o.volume, 1u << 20)) << o.want;
    delete ntfs;
  }
}
