// Cluster-range copies equal to dd of the same clusters (an image, past its
// end, a VMDK chain); every cluster keeps its place when a read fails or
// comes back short; the log by hand; refusals.
#include "examine/cluster_copy.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/examine/examine_support.h"

namespace {

TEST(ClusterCopy, CopiesEqualDd) {
  if (!quor_test::have_program("dd")) GTEST_SKIP() << "dd not installed";
  const std::string image = quor_test::fixture("default.img"), flat = quor_test::fixture("vmdk-state2.img");
  const std::string base = quor_test::fixture("vmdk-base.vmdk"), child = quor_test::fixture("vmdk-child.vmdk");
  const ulong64 last = quor_test::read_file_text(image).size() / 4096 - 1;
  const std::string out = quor_test::scratch_dir() + "/clusters.bin", log = quor_test::scratch_dir() + "/c.log";
  const struct {
    std::vector<std::string> vmdk;
    ulong64 offset, first, count;
    std::string oracle;
    ulong64 skip;
  } cases[] = {{{}, 0, 100, 50, image, 100},
               {{}, 0, last - 1, 6, image, last - 1},  // past the end of the image
               {{child, base}, 0x100000, 10, 40, flat, 0x100000 / 4096 + 10}};
  for (const auto& c : cases) {
    ASSERT_TRUE(copy_image_clusters(c.vmdk, image, c.offset, c.first, c.count, out, log)) << c.first;
    std::string want;
    quor_test::run_command("dd status=none bs=4096 if=" + c.oracle + " skip=" + std::to_string(c.skip) +
                               " count=" + std::to_string(c.count), want);
    EXPECT_TRUE(quor_test::read_file_text(out) == want) << c.first;
  }
  const std::string text = quor_test::read_file_text(log);
  EXPECT_EQ(text.rfind("drive/partition:       " + image + "\nvolume_offset:         0x000000100000\n", 0), 0u);
  ASSERT_TRUE(copy_image_clusters_w({}, std::wstring(image.begin(), image.end()), 0, last, 2,
                                    std::wstring(out.begin(), out.end()), std::wstring(log.begin(), log.end())));
  EXPECT_NE(quor_test::read_file_text(log).find(" [ok]\nclusters               0x"), std::string::npos);
  // No copy can be made, no volume.
  EXPECT_FALSE(copy_image_clusters({}, image, 0, 0, 1, quor_test::scratch_dir() + "/no/such/dir/x", ""));
  EXPECT_FALSE(copy_image_clusters({}, "/no/such/image", 0, 0, 1, out, ""));
}

TEST(ClusterCopy, EveryClusterKeepsItsPlace) {
  // Clusters of 16 bytes: 10 reads whole, 11 fails, 12 reads 10 bytes, 13 whole, 14 fails.
  const cluster_reader read = [](ulong64 lcn, byte* buffer, uint32& length) {
    if (lcn == 11 || lcn == 14) return false;
    std::memset(buffer, static_cast<int>('a' + lcn - 10), length);
    if (lcn == 12) length = 10;
    return true;
  };
  cluster_copy_volume v;
  v.source = "7";
  v.volume_offset = v.partition_start = 0x100000;
  v.bytes_per_sector = 512;
  v.cluster_size = 16;
  std::ostringstream out, log;
  ASSERT_TRUE(copy_cluster_range(read, v, 10, 5, out, &log));
  EXPECT_EQ(out.str(), std::string(16, 'a') + std::string(16, '\0') + std::string(10, 'c') + std::string(6, '\0') +
                           std::string(16, 'd'));
  EXPECT_EQ(log.str(),
            "drive/partition:       7\n"
            "volume_offset:         0x000000100000\n"
            "start of partition:    0x000000100000 bytes [0x800 sectors]\n"
            "starting LCN           0x00000000000a\n"
            "num clusters           0x000000000005 [5]\n"
            "\n"
            "cluster num            0x00000000000a,   physical addr:  0x00000000001000a0 [ok]\n"
            "clusters               0x00000000000b [failed]\n"
            "cluster num            0x00000000000c,   physical addr:  0x00000000001000c0\n"
            "cluster num            0x00000000000d,   physical addr:  0x00000000001000d0 [ok]\n"
            "clusters               0x00000000000e [failed]\n");
}

// This host opens no physical drive by number: both drive forms fail before
// they create an output file or a log.
TEST(ClusterCopy, DriveNumberFormsOpenNothing) {
  const std::string out = quor_test::scratch_dir() + "/drive-copy.bin", log = quor_test::scratch_dir() + "/drive.log";
  for (uint32 drive : {0u, 1u}) {
    EXPECT_FALSE(copy_drive_clusters(drive, 0, 0, 4, out, log));
    EXPECT_FALSE(copy_drive_clusters_w(drive, 1048576, 0, 4, std::wstring(out.begin(), out.end()),
                                       std::wstring(log.begin(), log.end())));
  }
  struct stat st {};
  EXPECT_NE(::stat(out.c_str(), &st), 0);
  EXPECT_NE(::stat(log.c_str(), &st), 0);
}

}  // namespace
