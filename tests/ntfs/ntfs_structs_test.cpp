// NTFS_BOOT is the boot sector as stored: each field at its on-disk offset,
// 512 bytes in all, so that a sector copied in whole reads as fsstat and
// ntfsinfo read the volume, and as the engine's own field-by-field load.
#include "ntfs/ntfs_structs.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <fstream>
#include <string>
#include <type_traits>
#include <vector>

#include "tests/support/engine.h"

namespace {

static_assert(std::is_standard_layout<NTFS_BOOT>::value, "offsets of NTFS_BOOT's fields are meaningful");
static_assert(std::is_trivially_copyable<NTFS_BOOT>::value, "a sector may be copied into NTFS_BOOT");

TEST(NtfsBoot, EveryFieldAtItsStoredOffset) {
  EXPECT_EQ(sizeof(NTFS_BOOT), 512u);
#define AT(field, offset, width) {#field, offsetof(NTFS_BOOT, field), sizeof(NTFS_BOOT::field), offset, width}
  const struct {
    const char* name;
    size_t offset, width, want_offset, want_width;
  } fields[] = {AT(boot_loader_routine, 0, 3),
                AT(keyword, 3, 8),
                AT(bytes_per_sector, 11, 2),
                AT(sectors_per_cluster, 13, 1),
                AT(reserved_sectors, 14, 2),
                AT(num_copies_of_fat, 16, 1),
                AT(max_root_dir_entries, 17, 2),
                AT(num_sectors_in_partition_smaller_than_32M, 19, 2),
                AT(media_descriptor, 21, 1),
                AT(sectors_per_fat, 22, 2),
                AT(sectors_per_track, 24, 2),
                AT(number_of_heads, 26, 2),
                AT(hidden_sectors_in_partition, 28, 4),
                AT(num_sectors_in_partition, 32, 4),
                AT(drive_num, 36, 2),
                AT(unk3, 38, 2),
                AT(total_sectors, 40, 8),
                AT(mft_start_lcn, 48, 8),
                AT(mftmirr_start_lcn, 56, 8),
                AT(num_clusters_for_mft, 64, 1),
                AT(unk4, 65, 3),
                AT(clusters_per_index_allocated, 68, 1),
                AT(unk5, 69, 3),
                AT(volume_serial_number, 72, 8),
                AT(checksum, 80, 4),
                AT(boot_code, 84, 426),
                AT(end_marker, 510, 2)};
#undef AT
  for (const auto& f : fields) {
    EXPECT_EQ(f.offset, f.want_offset) << f.name;
    EXPECT_EQ(f.width, f.want_width) << f.name;
  }
  EXPECT_TRUE(std::is_signed<decltype(NTFS_BOOT::num_clusters_for_mft)>::value);
  EXPECT_TRUE(std::is_signed<decltype(NTFS_BOOT::clusters_per_index_allocated)>::value);
}

// The text after `label` in an oracle's output, to the end of its line.
std::string after(const std::string& text, const std::string& label) {
  const size_t at = text.find(label);
  if (at == std::string::npos) return "";
  const size_t from = at + label.size();
  return text.substr(from, text.find('\n', from) - from);
}

ulong64 number_after(const std::string& text, const std::string& label, int base = 10) {
  const std::string v = after(text, label);
  return v.empty() ? ~0ULL : std::stoull(v, nullptr, base);
}

// Bytes of an MFT record or index record from its signed size field.
ulong64 record_bytes(int8_t n, ulong64 cluster) { return n < 0 ? 1ULL << -n : n * cluster; }

bool host_little_endian() {
  const uint16 probe = 1;
  byte first = 0;
  std::memcpy(&first, &probe, 1);
  return first == 1;
}

// Kit volumes of every geometry: 512-byte, 4 KiB, 64 KiB and 128 KiB
// clusters, and 4 KiB sectors.
TEST(NtfsBoot, ASectorCopiedInWholeReadsAsTheOraclesReadIt) {
  if (!quor_test::have_program("fsstat") || !quor_test::have_program("ntfsinfo"))
    GTEST_SKIP() << "fsstat or ntfsinfo not installed";
  if (!host_little_endian()) GTEST_SKIP() << "a sector copied in whole holds little-endian fields";
  for (const char* name : {"default.img", "c512.img", "c64k.img", "c128k.img", "s4096.img"}) {
    SCOPED_TRACE(name);
    const std::string image = quor_test::fixture(name);
    if (image.empty()) GTEST_SKIP() << "fixture kit absent";
    std::vector<byte> raw(NTFS_BOOT_SIZE);
    std::ifstream(image, std::ios::binary).read(reinterpret_cast<char*>(raw.data()), NTFS_BOOT_SIZE);
    NTFS_BOOT boot;
    std::memcpy(&boot, raw.data(), sizeof boot);

    std::string fsstat, ntfsinfo;
    ASSERT_EQ(quor_test::run_command("ntfsinfo -m '" + image + "' 2>/dev/null", ntfsinfo), 0);
    // Clusters above 64 KiB store their sector count as a negative power of two.
    const uint8 spc = boot.sectors_per_cluster;
    const ulong64 sectors = spc <= 0x80 ? spc : 1ULL << (256 - spc);
    const ulong64 cluster = boot.bytes_per_sector * sectors;
    EXPECT_EQ(boot.bytes_per_sector, number_after(ntfsinfo, "Sector Size: "));
    EXPECT_EQ(cluster, number_after(ntfsinfo, "Cluster Size: "));
    EXPECT_EQ(boot.total_sectors / sectors, number_after(ntfsinfo, "Volume Size in Clusters: "));
    EXPECT_EQ(boot.mft_start_lcn, number_after(ntfsinfo, "LCN of Data Attribute for FILE_MFT: "));
    EXPECT_EQ(boot.mftmirr_start_lcn, number_after(ntfsinfo, "LCN of Data Attribute for File_MFTMirr: "));
    EXPECT_EQ(record_bytes(boot.num_clusters_for_mft, cluster), number_after(ntfsinfo, "MFT Record Size: "));
    EXPECT_EQ(record_bytes(boot.clusters_per_index_allocated, cluster), number_after(ntfsinfo, "Index Block Size: "));
    // fsstat reads clusters up to 64 KiB.
    if (sectors * boot.bytes_per_sector <= 65536) {
      ASSERT_EQ(quor_test::run_command("fsstat '" + image + "'", fsstat), 0);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(boot.keyword), 8), after(fsstat, "OEM Name: "));
      EXPECT_EQ(boot.volume_serial_number, number_after(fsstat, "Volume Serial Number: ", 16));
      EXPECT_EQ(boot.total_sectors - 1, number_after(fsstat, "Total Sector Range: 0 - "));
    }
    EXPECT_EQ(boot.end_marker, 0xAA55);

    // The engine's field-by-field load gives the same record, byte for byte.
    NTFS_BOOT loaded;
    loaded.load(raw.data());
    EXPECT_EQ(std::memcmp(&loaded, raw.data(), NTFS_BOOT_SIZE), 0);
    std::unique_ptr<CNtfs> engine = quor_test::open_engine_at(image);
    ASSERT_TRUE(engine);
    const NTFS_BOOT held = engine->get_boot_sector();
    EXPECT_EQ(std::memcmp(&held, raw.data(), NTFS_BOOT_SIZE), 0);
  }
}

}  // namespace
