// The engine's boot-sector hex view and computed-values report of kit
// volumes, against goldens written from their boot sectors (values as
// fsstat, ntfsinfo and xxd show them).
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "ntfs/ntfs.h"
#include "tests/support/engine.h"

namespace {

// 4 KiB clusters, 1 KiB records: a record is no whole number of clusters.
const char k_default_report[] =
    "boot_loader_routine:        0xeb5290\n"
    "keyword:                    'NTFS    '\n"
    "bytes_per_sector:           0x200\n"
    "sectors_per_cluster:        0x8\n"
    "reserved_sectors:           0x0\n"
    "num_copies_of_fat (fat):    0x0\n"
    "max_root_dir_entries (fat): 0x0\n"
    "num_sectors_in_partition_smaller_than_32M (fat): 0x0\n"
    "media_descriptor:           0xf8\n"
    "sectors_per_fat:            0x0\n"
    "sectors_per_track:          0x0\n"
    "number_of_heads:            0x0\n"
    "hidden_sectors_in_partition: 0x0\n"
    "num_sectors_in_partition:   0x0\n"
    "\n"
    "drive_num:              0x80\n"
    "unk3:                   0x80 0 \n"
    "total_sectors:          bfff\n"
    "mft_start_lcn:          4\n"
    "mftmirr_start_lcn:      bff\n"
    "num_clusters_for_mft:   0xfff6\n"
    "unk4:                   0x0 0 0 \n"
    "clusters_per_index_allocated:0x1\n"
    "unk5:                   0x0 0 0 \n"
    "volume_serial_number:   34f5ee1202469ff7 [low: 2469ff7, high: 34f5ee12]\n"
    "checksum:               0x0\n"
    "\n"
    "-- computed values --\n"
    "m_cluster_size:     0x1000\n"
    "m_total_clusters    17ff\n"
    "m_mft_record_size   0x400\n"
    "m_mft_cluster_per_record_fixed 0x0\n"
    "m_mft_file_pos      4000\n"
    "m_sectors_per_cluster 0x8\n"
    "\n";

// 512-byte clusters and a positive clusters-per-record count of 2.
const char k_c512_computed[] =
    "-- computed values --\n"
    "m_cluster_size:     0x200\n"
    "m_total_clusters    7fff\n"
    "m_mft_record_size   0x400\n"
    "m_mft_cluster_per_record_fixed 0x2\n"
    "m_mft_file_pos      4000\n"
    "m_sectors_per_cluster 0x1\n"
    "\n";

TEST(BootSectorDump, ComputedValuesOfKitVolumes) {
  const auto def = quor_test::open_engine("default.img");
  const auto c512 = quor_test::open_engine("c512.img");
  if (!def || !c512) GTEST_SKIP() << "fixture kit absent";
  std::ostringstream os;
  EXPECT_EQ(&def->dump_computed_values(os), &os);
  EXPECT_EQ(os.str(), k_default_report);
  std::ostringstream small;
  c512->dump_computed_values(small);
  const std::string text = small.str();
  ASSERT_NE(text.find("-- computed values --"), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.find("-- computed values --")), k_c512_computed);
  EXPECT_NE(text.find("num_clusters_for_mft:   0x2\n"), std::string::npos);
}

TEST(BootSectorDump, HexViewOfTheBootSector) {
  const auto def = quor_test::open_engine("default.img");
  if (!def) GTEST_SKIP() << "fixture kit absent";
  std::ostringstream os;
  def->hex_dump_boot_sector(os);
  const std::string text = os.str();
  const size_t row = 79;  // 78 characters and a line end
  ASSERT_EQ(text.size(), 32 * row);
  EXPECT_EQ(text.substr(0, 5 * row),
            "0000 0000:  eb 52 90 4e 54 46 53 20  20 20 20 00 02 08 00 00  .R.NTFS    .....\n"
            "0000 0010:  00 00 00 00 00 f8 00 00  00 00 00 00 00 00 00 00  ................\n"
            "0000 0020:  00 00 00 00 80 00 80 00  ff bf 00 00 00 00 00 00  ................\n"
            "0000 0030:  04 00 00 00 00 00 00 00  ff 0b 00 00 00 00 00 00  ................\n"
            "0000 0040:  f6 00 00 00 01 00 00 00  f7 9f 46 02 12 ee f5 34  ..........F....4\n");
  EXPECT_EQ(text.substr(31 * row),
            "0000 01f0:  00 00 00 00 00 00 00 00  00 00 00 00 00 00 55 aa  ..............U.\n");
}

}  // namespace
