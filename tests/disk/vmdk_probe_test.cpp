// Probes of VMDK data held in memory or a stream: the base fixture whole, the
// same bytes at an odd offset inside a larger buffer, and damaged or cut
// copies held in buffers of exactly their size (so the sanitizers see any
// read past the data).
#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "disk/vmdk_probe.h"
#include "tests/disk/host_tree.h"
#include "utils/byte_order.h"

namespace {

std::vector<byte> load_fixture(const char* name) {
  const std::string path = quor_test::fixture(name);
  return path.empty() ? std::vector<byte>() : host_tree::read_bytes(path);
}

std::istringstream as_stream(const byte* data, size_t size) {
  return std::istringstream(std::string(reinterpret_cast<const char*>(data), size));
}

// Known facts of the base: directory at 0x3400 with 128 slots, the first
// naming the table at sector 0x1b; grain 0 at 0x10000 holds the MBR whose one
// partition starts at sector 2048.
TEST(VmdkProbe, FindsDirectoryAndVolumeWholeAndEmbedded) {
  const std::vector<byte> base = load_fixture("vmdk-base.vmdk");
  if (base.empty()) GTEST_SKIP() << "fixture vmdk-base.vmdk is missing";
  std::vector<byte> larger(3 + base.size() + 1000, 0xEE);
  std::copy(base.begin(), base.end(), larger.begin() + 3);
  const struct {
    const char* what;
    const byte* image;
  } cases[] = {{"whole", base.data()}, {"at offset 3", larger.data() + 3}};
  for (const auto& c : cases) {
    std::vector<uint32> dir;
    ASSERT_TRUE(vmdk_grain_directory_from_image(c.image, base.size(), dir)) << c.what;
    ASSERT_EQ(dir.size(), 128u) << c.what;
    EXPECT_EQ(dir[0], 0x1bu);
    EXPECT_EQ(std::count(dir.begin(), dir.end(), 0u), 127);

    ulong64 mbr = 0;
    std::vector<ulong64> volumes;
    ASSERT_TRUE(vmdk_volumes_from_image(c.image, base.size(), mbr, volumes, false)) << c.what;
    EXPECT_EQ(mbr, 0x10000u);
    EXPECT_EQ(volumes, std::vector<ulong64>{0x100000u}) << c.what;
  }

  // The stream probe follows the directory and the first table to grain 0
  // and gives positions in the file.
  std::istringstream stream = as_stream(base.data(), base.size());
  ulong64 mbr = 0;
  std::vector<ulong64> volumes;
  ASSERT_TRUE(vmdk_volumes_from_stream(stream, mbr, volumes, false));
  EXPECT_EQ(mbr, 0x10000u);
  EXPECT_EQ(volumes, std::vector<ulong64>{0x110000u});

  std::ostringstream from_image, from_stream;
  ASSERT_TRUE(dump_vmdk_grain_directory_image(larger.data() + 3, base.size(), from_image));
  std::istringstream again = as_stream(base.data(), base.size());
  ASSERT_TRUE(dump_vmdk_grain_directory_stream(again, from_stream));
  const std::string zeros = "00000000 00000000 00000000 00000000 00000000 00000000 00000000 00000000 \n";
  const std::string text = from_image.str();
  const std::string first = "---- Grain Directory [offsets in sectors] ----\n0x00000000 : 0000001b 00000000 ";
  EXPECT_EQ(text.substr(0, first.size()), first);
  // Row prefixes are entry indexes here: 16 rows, the last starting at 120.
  EXPECT_NE(text.find("\n0x00000008 : " + zeros), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 13 - zeros.size() - 1), "0x00000078 : " + zeros + "\n");
  EXPECT_EQ(from_stream.str(), text);
}

TEST(VmdkProbe, RefusesWhatIsNotThere) {
  const std::vector<byte> base = load_fixture("vmdk-base.vmdk");
  if (base.empty()) GTEST_SKIP() << "fixture vmdk-base.vmdk is missing";
  std::vector<uint32> dir;
  ulong64 mbr = 0;
  std::vector<ulong64> volumes;
  std::ostringstream os;
  // Cut inside the header, inside the directory, before the first grain.
  for (size_t size : {size_t(0), size_t(100), size_t(512), size_t(0x3402), size_t(0x35ff), size_t(0x10100)}) {
    std::vector<byte> cut(base.begin(), base.begin() + size);
    const byte* data = cut.empty() ? nullptr : cut.data();
    EXPECT_EQ(vmdk_grain_directory_from_image(data, size, dir), size >= 0x10000) << size;
    EXPECT_FALSE(vmdk_volumes_from_image(data, size, mbr, volumes, false)) << size;
    std::istringstream stream = as_stream(data, size);
    EXPECT_FALSE(vmdk_volumes_from_stream(stream, mbr, volumes, false)) << size;
  }
  std::istringstream small = as_stream(base.data(), 512);
  EXPECT_FALSE(dump_vmdk_grain_directory_stream(small, os));
  EXPECT_TRUE(volumes.empty());
}

// Random bytes in the header fields and the directory: whatever the probes
// answer, they read only inside the copy, and a directory they report lies
// inside it.
TEST(VmdkProbe, DamagedCopiesStayInBounds) {
  const std::vector<byte> base = load_fixture("vmdk-base.vmdk");
  if (base.empty()) GTEST_SKIP() << "fixture vmdk-base.vmdk is missing";
  std::mt19937 rng(15);
  for (int round = 0; round < 200; ++round) {
    const size_t size = round % 2 ? base.size() : 0x10000 + rng() % 0x1000;
    std::vector<byte> copy(base.begin(), base.begin() + size);
    for (int i = 0; i < 6; ++i) copy[4 + rng() % 76] = static_cast<byte>(rng());
    for (int i = 0; i < 8; ++i) copy[0x3400 + rng() % 0x200] = static_cast<byte>(rng());
    if (round % 3 == 0) store_u64(&copy[56], rng() % 0x200);  // directory anywhere near

    std::vector<uint32> dir;
    if (vmdk_grain_directory_from_image(copy.data(), size, dir)) {
      EXPECT_LE(load_u64(&copy[56]) * 512 + dir.size() * 4, size);
      EXPECT_FALSE(dir.empty());
    }
    ulong64 mbr = 0;
    std::vector<ulong64> volumes;
    if (vmdk_volumes_from_image(copy.data(), size, mbr, volumes, false)) {
      EXPECT_LE(mbr + 512, size);
    }
    std::istringstream stream = as_stream(copy.data(), size);
    if (vmdk_volumes_from_stream(stream, mbr, volumes, false)) {
      EXPECT_LE(mbr + 512, size);
    }
    std::istringstream again = as_stream(copy.data(), size);
    std::ostringstream os;
    dump_vmdk_grain_directory_stream(again, os);
  }
  std::vector<byte> no_magic(base.begin(), base.begin() + 0x10000);
  no_magic[1] ^= 0x20;
  std::vector<uint32> dir;
  EXPECT_FALSE(vmdk_grain_directory_from_image(no_magic.data(), no_magic.size(), dir));
}

}  // namespace
