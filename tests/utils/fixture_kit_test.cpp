// The fixture kit itself, where other tests lean on it without checking: each
// image is a volume of the geometry the tests name it by, its data is what the
// content rule promises (read back by an independent reader), and the folders
// meant to exercise attribute lists really have one.
#include "tests/support/fixture.h"
#include "tests/support/listing.h"
#include "utils/byte_order.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

using namespace quor_test;

namespace {

struct geometry {
  const char* image;
  uint64_t volume_bytes;
  uint32_t sector;
  uint32_t cluster;
  uint32_t mft_record;
  uint32_t index_record;
};

const geometry kImages[] = {
    {"default", 24u << 20, 512, 4096, 1024, 4096},
    {"c512", 16u << 20, 512, 512, 1024, 4096},
    {"c64k", 64u << 20, 512, 65536, 1024, 4096},
    {"s4096", 24u << 20, 4096, 4096, 4096, 4096},
    {"c128k", 128u << 20, 512, 131072, 1024, 4096},
    {"bigdir", 64u << 20, 512, 4096, 1024, 4096},
    {"sample", 8u << 20, 512, 4096, 1024, 4096},
};

// A boot-sector size byte: positive counts clusters, negative is a power of 2.
uint64_t record_bytes(int8_t v, uint64_t cluster) {
  return v > 0 ? uint64_t(v) * cluster : uint64_t(1) << -v;
}

}  // namespace

TEST(FixtureKit, ImagesAreNtfsVolumesOfTheirGeometry) {
  for (const geometry& g : kImages) {
    SCOPED_TRACE(g.image);
    std::string path = fixture(std::string(g.image) + ".img");
    ASSERT_NE(path, "");
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    ASSERT_TRUE(in);
    EXPECT_EQ(uint64_t(in.tellg()), g.volume_bytes);
    byte boot[512] = {};
    in.seekg(0);
    ASSERT_TRUE(in.read(reinterpret_cast<char*>(boot), sizeof boot));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(boot) + 3, 8), "NTFS    ");
    EXPECT_EQ(load_u16(boot, 510), 0xAA55);
    uint32_t sector = load_u16(boot, 0x0B);
    uint8_t spc = boot[0x0D];
    uint64_t cluster = uint64_t(sector) * (spc <= 0x80 ? spc : uint64_t(1) << (256 - spc));
    EXPECT_EQ(sector, g.sector);
    EXPECT_EQ(cluster, g.cluster);
    EXPECT_EQ(record_bytes(int8_t(boot[0x40]), cluster), g.mft_record);
    EXPECT_EQ(record_bytes(int8_t(boot[0x44]), cluster), g.index_record);
    // mkntfs keeps the last sector for the backup boot sector.
    EXPECT_EQ(load_u64(boot, 0x28), g.volume_bytes / g.sector - 1);
  }
}

// An independent reader sees the data the rule promises.
TEST(FixtureKit, DataReadsBackThroughTheSleuthKit) {
  if (!have_program("icat")) GTEST_SKIP() << "icat (The Sleuth Kit) not installed";
  const char* paths[] = {"/frag/b.bin", "/sparse.bin", "/compressed/pattern.bin", "/small.txt"};
  std::map<std::string, uint64_t> inode;
  for (const listing_entry& e : read_listing("default")) inode[e.path] = e.inode;
  std::string img = fixture("default.img");
  ASSERT_NE(img, "");
  for (const char* p : paths) {
    SCOPED_TRACE(p);
    std::string want, got;
    ASSERT_TRUE(expected_file_data("default", p, want));
    ASSERT_EQ(run_command("icat '" + img + "' " + std::to_string(inode.at(p)), got), 0);
    EXPECT_TRUE(got == want);
  }
}

// The folders the README names keep $INDEX_ROOT in an extension record,
// found through an attribute list; others keep it in their own record.
TEST(FixtureKit, AttributeListFoldersAreWhereTheReadmeSays) {
  if (!have_program("istat")) GTEST_SKIP() << "istat (The Sleuth Kit) not installed";
  struct expect {
    const char* image;
    const char* path;
    bool moved;
  };
  const expect cases[] = {
      {"default", "/longnames", true}, {"bigdir", "/d2000", true}, {"bigdir", "/d20000", true},
      {"default", "/many", false},     {"sample", "/Documents", false},
  };
  for (const expect& c : cases) {
    SCOPED_TRACE(std::string(c.image) + " " + c.path);
    uint64_t folder = 0;
    for (const listing_entry& e : read_listing(c.image))
      if (e.path == c.path) folder = e.inode;
    ASSERT_NE(folder, 0u);
    std::string img = fixture(std::string(c.image) + ".img"), out;
    ASSERT_NE(img, "");
    ASSERT_EQ(run_command("istat '" + img + "' " + std::to_string(folder), out), 0);
    // The attribute list's lines read "Type: 144-<id> \tMFT Entry: <n> ...".
    size_t at = out.find("Type: 144-");
    bool listed = at != std::string::npos && out.find("MFT Entry: ", at) < out.find('\n', at);
    EXPECT_EQ(out.find("$ATTRIBUTE_LIST") != std::string::npos, c.moved);
    ASSERT_EQ(listed, c.moved);
    if (!listed) continue;
    size_t num = out.find("MFT Entry: ", at) + 11;
    EXPECT_NE(std::stoull(out.substr(num)), folder);
  }
}
