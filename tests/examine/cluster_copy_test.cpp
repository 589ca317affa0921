// Cluster-range copies equal to dd of the same clusters, from an image and
// from a VMDK chain, past the volume's end; every cluster keeps its place
// when a read fails or comes back short; the log by hand.
#include "examine/cluster_copy.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "tests/examine/examine_support.h"

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string dd(const std::string& image, ulong64 skip_blocks, ulong64 blocks, uint32 block) {
  std::string out;
  quor_test::run_command("dd status=none if=" + image + " bs=" + std::to_string(block) +
                             " skip=" + std::to_string(skip_blocks) + " count=" + std::to_string(blocks),
                         out);
  return out;
}

TEST(ClusterCopy, ImageAndVmdkCopiesEqualDd) {
  if (!quor_test::have_program("dd")) GTEST_SKIP() << "dd not installed";
  const std::string image = quor_test::fixture("default.img");
  const std::string flat = quor_test::fixture("vmdk-state2.img");
  const std::string base = quor_test::fixture("vmdk-base.vmdk"), child = quor_test::fixture("vmdk-child.vmdk");
  examine_test::volume v("default.img");
  ASSERT_NE(v.ntfs, nullptr);
  const ulong64 total = v.ntfs->m_total_clusters;
  const ulong64 image_clusters = read_file(image).size() / 4096;
  const std::string out = quor_test::scratch_dir() + "/clusters.bin";
  const struct {
    std::vector<std::string> vmdk;
    ulong64 offset, first, count;
    std::string oracle;
    ulong64 oracle_skip;
  } cases[] = {
      {{}, 0, 100, 50, image, 100},
      {{}, 0, total - 2, 6, image, total - 2},  // runs past the end of the image
      {{child, base}, 0x100000, 10, 40, flat, 0x100000 / 4096 + 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    ASSERT_TRUE(copy_image_clusters(c.vmdk, image, c.offset, c.first, c.count, out, ""));
    const std::string want = dd(c.oracle, c.oracle_skip, c.count, 4096);
    ASSERT_FALSE(want.empty());
    EXPECT_TRUE(read_file(out) == want) << read_file(out).size() << " bytes, dd " << want.size();
  }
  EXPECT_LT(total + 4, image_clusters + 6);  // the second case does cross the end

  // Wide paths and a log.
  const std::string log = quor_test::scratch_dir() + "/clusters.log";
  ASSERT_TRUE(copy_image_clusters_w({}, std::wstring(image.begin(), image.end()), 0, image_clusters - 1, 2,
                                    std::wstring(out.begin(), out.end()), std::wstring(log.begin(), log.end())));
  const std::string text = read_file(log);
  EXPECT_EQ(text.rfind("drive/partition:       " + image + "\nvolume_offset:         0x000000000000\n", 0), 0u);
  EXPECT_NE(text.find(" [ok]\nclusters               0x"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 10), " [failed]\n");
}

TEST(ClusterCopy, RefusalsAreFailures) {
  const std::string image = quor_test::fixture("default.img");
  const std::string out = quor_test::scratch_dir() + "/refused.bin";
  EXPECT_FALSE(copy_image_clusters({}, image, 0, 0, 1, quor_test::scratch_dir() + "/no/such/dir/x", ""));
  EXPECT_FALSE(copy_image_clusters({}, "/no/such/image", 0, 0, 1, out, ""));
  EXPECT_FALSE(copy_drive_clusters(0, 0, 0, 1, out, ""));
}

TEST(ClusterCopy, EveryClusterKeepsItsPlace) {
  // Clusters of 16 bytes: 0 reads whole, 1 fails, 2 reads 10 bytes, 3 whole, 4 fails.
  const cluster_reader read = [](ulong64 lcn, byte* buffer, uint32& length) {
    if (lcn == 11 || lcn == 14) return false;
    std::memset(buffer, static_cast<int>('a' + lcn - 10), length);
    if (lcn == 12) length = 10;
    return true;
  };
  cluster_copy_volume v;
  v.source = "7";
  v.volume_offset = 0x100000;
  v.partition_start = 0x100000;
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
  std::ostringstream empty_out, header_only;
  ASSERT_TRUE(copy_cluster_range(read, v, 10, 0, empty_out, &header_only));
  EXPECT_TRUE(empty_out.str().empty());
  EXPECT_EQ(header_only.str().find("cluster num"), std::string::npos);
}

}  // namespace
