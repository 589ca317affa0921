// Partition tables: the fixture disks against the numbers their scripts and
// sfdisk/sgdisk gave them, and crafted tables for the damaged cases.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "disk/disk_handle.h"
#include "disk/zq_disk_structs.h"
#include "tests/disk/host_tree.h"
#include "utils/byte_order.h"

namespace {

struct expected_record {
  expected_record(ulong64 s, ulong64 c, uint16 t, uint32 size = 512, std::string n = "")
      : start(s), count(c), type(t), sector_size(size), name(std::move(n)) {}
  ulong64 start;
  ulong64 count;
  uint16 type;
  uint32 sector_size;
  std::string name;
};

void expect_records(const std::deque<partition_record>& got, const std::vector<expected_record>& want,
                    const std::string& what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].m_start, want[i].start) << what << " record " << i;
    EXPECT_EQ(got[i].m_num_sectors, want[i].count) << what << " record " << i;
    EXPECT_EQ(got[i].m_type, want[i].type) << what << " record " << i;
    EXPECT_EQ(got[i].m_sector_size, want[i].sector_size) << what << " record " << i;
    EXPECT_EQ(got[i].m_name, want[i].name) << what << " record " << i;
  }
}

std::string write_disk(const std::string& name, ulong64 size,
                       const std::vector<std::pair<ulong64, std::vector<byte>>>& pieces) {
  return host_tree::write_disk(host_tree::scratch(name), size, pieces);
}

using host_tree::mark;
using host_tree::sector;
using host_tree::set_entry;

std::deque<partition_record> scan_file(const std::string& path, bool relaxed, bool* ok = nullptr) {
  disk_handle disk(path.c_str(), false, false, DISK_KIND_FILE);
  std::deque<partition_record> out;
  bool r = scan_partitions(&disk, out, relaxed);
  if (ok) *ok = r;
  return out;
}

// The primary and logical partitions of the committed `sfdisk -d` dump made
// beside each MBR fixture, in its order; lines read
// "<device> : start=  N, size=  N, type=X".
std::vector<expected_record> sfdisk_partitions(const std::string& image) {
  std::vector<expected_record> parts;
  std::ifstream in(quor_test::fixture_listing(image + ".parts.txt"));
  for (std::string line; std::getline(in, line);) {
    const size_t start = line.find("start=");
    const size_t size = line.find("size=");
    const size_t type = line.find("type=");
    if (start == std::string::npos || size == std::string::npos || type == std::string::npos) continue;
    parts.push_back({std::stoull(line.substr(start + 6)), std::stoull(line.substr(size + 5)),
                     static_cast<uint16>(std::stoul(line.substr(type + 5), nullptr, 16))});
  }
  return parts;
}

}  // namespace

TEST(PartitionTables, FixtureDisksReadAsMade) {
  // Numbers from make-disks.sh; the EBR positions of mbr-ext are where
  // sfdisk put them (mmls lists them as extended tables #1 and #2).
  struct disk_case { const char* image; std::vector<expected_record> records; } cases[] = {
      {"mbr-1p.img", {{2048, 12288, 0x07}}},
      {"mbr-far.img", {{2048, 8192, 0x07}, {10240, 2048, 0x83}, {526336, 12288, 0x07}}},
      {"mbr-ext.img",
       {{63, 6144 - 63, 0x8083},
        {2048, 2048, 0x83},
        {6144, 26624, 0x05},
        {8192, 2048, 0x83},
        {10240, 14336, 0x05},
        {12288, 12288, 0x07}}},
      {"gpt-slot3.img", {{2048, 2048, 0xEE}, {4096, 12288, 0x07, 512, "quor data"}}},
  };
  for (const disk_case& c : cases) {
    const std::string path = quor_test::fixture(c.image);
    ASSERT_FALSE(path.empty()) << c.image;
    bool ok = false;
    std::deque<partition_record> got = scan_file(path, false, &ok);
    EXPECT_TRUE(ok) << c.image;
    expect_records(got, c.records, c.image);
    if (got.size() == 2 && got[1].m_is_gpt) {
      // Microsoft basic data EBD0A0A2-B9E5-4433-87C0-68B6B72699C7, stored mixed-endian.
      const byte basic_data[8] = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44};
      EXPECT_EQ(std::memcmp(got[1].m_gpt_guids, basic_data, 8), 0);
    }

    // Every partition sfdisk knows is there with its start, size and type.
    if (got.empty() || got[0].m_is_gpt) continue;
    const std::vector<expected_record> oracle = sfdisk_partitions(c.image);
    EXPECT_FALSE(oracle.empty()) << c.image;
    for (const expected_record& p : oracle) {
      bool seen = false;
      for (const partition_record& r : got)
        seen |= r.m_start == p.start && r.m_num_sectors == p.count && r.m_type == p.type;
      EXPECT_TRUE(seen) << c.image << " sfdisk partition at " << p.start;
    }
  }
}

TEST(PartitionTables, SharedGptOfThreePartitions) {
  const std::string path = quor_test::shared_testdata("gpt-512-3p.raw");
  if (path.empty()) GTEST_SKIP() << "shared test data absent";
  // sgdisk -p: 34-64 and 65-128 "Linux filesystem", 129-2014 "EFI System";
  // none holds an NTFS boot sector.
  expect_records(scan_file(path, false),
                 {{34, 31, 0xEE, 512, "Linux filesystem"},
                  {65, 64, 0xEE, 512, "Linux filesystem"},
                  {129, 1886, 0xEE, 512, "EFI System"}},
                 "gpt-512-3p");
}

TEST(PartitionTables, CraftedMbrLayouts) {
  // 4096-byte sectors: the boot mark sits at the end of the first 4 KiB.
  std::vector<byte> big = sector(4096);
  set_entry(big, 0, 0x07, 256, 1000);
  mark(big, 4096);
  expect_records(scan_file(write_disk("s4096.img", 1 << 20, {{0, big}}), false), {{256, 1000, 0x07, 4096, ""}},
                 "4096-byte sectors");

  // An unknown type before an NTFS entry: the disk scan passes over it, the
  // in-memory scan stops at it.
  std::vector<byte> odd = sector();
  set_entry(odd, 0, 0x27, 2048, 100);
  set_entry(odd, 1, 0x07, 4096, 100);
  mark(odd);
  expect_records(scan_file(write_disk("odd.img", 1 << 20, {{0, odd}}), false), {{4096, 100, 0x07}},
                 "disk scan");
  std::deque<partition_record> mem;
  EXPECT_FALSE(scan_partitions(odd.data(), odd.size(), mem, false));
  EXPECT_TRUE(mem.empty());

  // Extended partition at 100000 with an NTFS logical volume 63 sectors in.
  std::vector<byte> mbr = sector(), ebr = sector();
  set_entry(mbr, 0, 0x05, 100000, 50000);
  mark(mbr);
  set_entry(ebr, 0, 0x07, 63, 2000);
  mark(ebr);
  const std::string ext = write_disk("ext.img", 160000ull * 512, {{0, mbr}, {100000ull * 512, ebr}});
  expect_records(scan_file(ext, false),
                 {{63, 99937, 0x8007}, {100000, 50000, 0x05}, {100063, 2000, 0x07}},
                 "extended");
  EXPECT_EQ(partition_type_name(0x8007), "ntfs [guess]");

  // An extended partition starting at sector 40 leaves no area to guess.
  std::vector<byte> low = sector(), low_ebr = sector();
  set_entry(low, 0, 0x0F, 40, 5000);
  mark(low);
  set_entry(low_ebr, 0, 0x83, 10, 100);
  expect_records(scan_file(write_disk("low.img", 1 << 20, {{0, low}, {40 * 512, low_ebr}}), false),
                 {{40, 5000, 0x0F}, {50, 100, 0x83}}, "low extended");
}

TEST(PartitionTables, EbrChainThatLoopsStops) {
  // EBR at 1000 links to 2000, whose link points back at 2000's own start
  // (1000 + 1000): a chain read naively would never end.
  std::vector<byte> mbr = sector(), first = sector(), second = sector();
  set_entry(mbr, 0, 0x05, 1000, 9000);
  mark(mbr);
  set_entry(first, 0, 0x83, 10, 100);
  set_entry(first, 1, 0x05, 1000, 500);
  mark(first);
  set_entry(second, 0, 0x07, 10, 200);
  set_entry(second, 1, 0x05, 1000, 500);
  mark(second);
  const std::string path =
      write_disk("loop.img", 10000ull * 512, {{0, mbr}, {1000ull * 512, first}, {2000ull * 512, second}});
  expect_records(scan_file(path, false),
                 {{63, 937, 0x8083},
                  {1000, 9000, 0x05},
                  {1010, 100, 0x83},
                  {2000, 500, 0x05},
                  {2010, 200, 0x07},
                  {2000, 500, 0x05}},
                 "loop");
}

TEST(PartitionTables, RelaxedModeFindsALoneEbr) {
  // No boot mark in the first 16 KiB at any sector size, but a marked
  // sector at 20480 that reads as an EBR with a Linux volume.
  std::vector<byte> ebr = sector();
  set_entry(ebr, 0, 0x83, 8, 64);
  mark(ebr);
  const std::string path = write_disk("relaxed.img", 1 << 20, {{20480, ebr}});
  bool ok = true;
  EXPECT_TRUE(scan_file(path, false, &ok).empty());
  EXPECT_FALSE(ok);
  // The EBR is sector 40, below 63, so no area before it is guessed.
  expect_records(scan_file(path, true, &ok), {{48, 64, 0x83}}, "relaxed");
  EXPECT_TRUE(ok);
}

TEST(PartitionTables, DamagedGptHeaders) {
  auto gpt_disk = [](const char* name, ulong64 my_lba, uint32 count, uint32 entry_size, ulong64 first,
                     ulong64 last) {
    std::vector<byte> pmbr = sector(), header = sector(), entries(16384, 0);
    set_entry(pmbr, 0, 0xEE, 1, 20000);
    mark(pmbr);
    std::memcpy(header.data(), "EFI PART", 8);
    store_u64(header.data() + 24, my_lba);
    store_u64(header.data() + 72, 2);
    store_u32(header.data() + 80, count);
    store_u32(header.data() + 84, entry_size);
    entries[0] = 0x11;  // a non-zero type GUID
    store_u64(entries.data() + 32, first);
    store_u64(entries.data() + 40, last);
    entries[128] = 0x22;  // a second entry, sound
    store_u64(entries.data() + 128 + 32, 100);
    store_u64(entries.data() + 128 + 40, 199);
    return write_disk(name, 20480ull * 512, {{0, pmbr}, {512, header}, {1024, entries}});
  };
  bool ok = true;
  scan_file(gpt_disk("gpt-mylba.img", 2, 128, 128, 40, 60), false, &ok);
  EXPECT_FALSE(ok) << "header whose my-LBA is not 1";
  scan_file(gpt_disk("gpt-count.img", 1, 0x40000000, 128, 40, 60), false, &ok);
  EXPECT_FALSE(ok) << "absurd entry count";
  scan_file(gpt_disk("gpt-size.img", 1, 128, 16, 40, 60), false, &ok);
  EXPECT_FALSE(ok) << "entry size too small for its fields";
  // An entry ending before it starts is skipped; the sound one stays.
  expect_records(scan_file(gpt_disk("gpt-back.img", 1, 128, 128, 500, 100), false, &ok),
                 {{100, 100, 0xEE}}, "backwards entry");
  EXPECT_TRUE(ok);
}

// The names the offset messages do not already show.
TEST(PartitionTables, TypeNames) {
  const std::pair<uint16, const char*> names[] = {{0x00, "empty"},        {0x0F, "microsoft extended"},
                                                  {0x1C, "Hidden fat32"}, {0x8E, "linux Logical Volume Mgr"},
                                                  {0xA6, "openbsd"},      {0x27, "unk"}};
  for (const auto& n : names) EXPECT_EQ(partition_type_name(n.first), n.second) << n.first;
  std::vector<byte> s = sector();
  set_entry(s, 0, 0x05, 0, 0);
  EXPECT_EQ(partition_entry_type_name(s.data() + 446), "dos 3.3+ extended");
}

TEST(PartitionTables, EntryDump) {
  std::vector<byte> s = sector();
  set_entry(s, 0, 0x07, 0x800, 0x3000);
  byte* e = s.data() + 446;
  e[0] = 0x80;
  e[1] = 0x20;
  e[2] = 0x21;
  e[3] = 0x00;
  std::ostringstream os;
  dump_partition_entry(os, e);
  EXPECT_EQ(os.str(),
            "0000 : status:            80 [active]\n"
            "0001 : chs first sector:  20 21 00\n"
            "0004 : partition type:    07 [ntfs]\n"
            "0005 : chs last sector:   00 00 00\n"
            "0008 : LBA first sector:  00000800\n"
            "000c : num sectors:       00003000\n");
}

TEST(PartitionTables, GptScanAndTypeSets) {
  const std::string path = quor_test::fixture("gpt-slot3.img");
  ASSERT_FALSE(path.empty());
  disk_handle disk(path.c_str(), false, false, DISK_KIND_FILE);
  std::deque<partition_record> out(3);
  // sgdisk -p (gpt-slot3.img.parts.txt): 2048-4095 code 8300, 4096-16383 "quor data" code 0700.
  ASSERT_TRUE(scan_gpt_partitions(&disk, out));
  expect_records(out, {{2048, 2048, 0xEE}, {4096, 12288, 0x07, 512, "quor data"}}, "gpt-slot3");
  EXPECT_TRUE(out[0].m_is_gpt && out[1].m_is_gpt);
  disk_handle mbr(quor_test::fixture("mbr-1p.img").c_str(), false, false, DISK_KIND_FILE);
  EXPECT_FALSE(scan_gpt_partitions(&mbr, out));
  EXPECT_TRUE(out.empty());
  // Drives and optical drives by number never open on this platform.
  drive_stats_array drives(2), cdroms(1);
  EXPECT_FALSE(scan_drives(drives, true));
  EXPECT_FALSE(scan_cdrom_drives(cdroms));
  EXPECT_TRUE(drives.empty() && cdroms.empty());

  const std::set<int> fat12 = {0x01, 0x8D}, fat16 = {0x04, 0x05, 0x06, 0x11, 0x14, 0x16, 0x1E, 0x86, 0x90, 0x91, 0x92},
                      fat32 = {0x0B, 0x0C, 0x1B, 0x1C, 0x8B, 0x8C, 0x97, 0x98}, linux_ = {0x82, 0x83, 0x88, 0x8E, 0x93};
  byte entry[16] = {};
  for (int type = 0; type < 256; ++type) {
    entry[4] = static_cast<byte>(type);
    EXPECT_EQ(is_fat12_partition(entry), fat12.count(type) == 1) << type;
    EXPECT_EQ(is_fat16_partition(entry), fat16.count(type) == 1) << type;
    EXPECT_EQ(is_fat32_partition(entry), fat32.count(type) == 1) << type;
    EXPECT_EQ(is_linux_partition(entry), linux_.count(type) == 1) << type;
  }
}

TEST(PartitionTables, SectorBootSectorAndDriveDumps) {
  std::vector<byte> s = sector();
  store_u32(s.data() + 440, 0x12345678);
  set_entry(s, 0, 0x07, 0x800, 0x3000);
  s[446] = 0x80;
  s[446 + 16 * 3 + 1] = 0xFE;
  set_entry(s, 3, 0x83, 0x3800, 0x10);
  mark(s);
  std::ostringstream mbr;
  dump_mbr(mbr, s.data());
  std::string want = "01b8 : disk signature:    12345678\n";
  const char* const rows[4][4] = {{"80 [active]", "00 00 00", "07 [ntfs]", "00000800"},
                                  {"00 [not active]", "00 00 00", "00 [empty]", "00000000"},
                                  {"00 [not active]", "00 00 00", "00 [empty]", "00000000"},
                                  {"00 [not active]", "fe 00 00", "83 [linux native]", "00003800"}};
  const char* const counts[4] = {"00003000", "00000000", "00000000", "00000010"};
  const char* const offsets[4][6] = {{"01be", "01bf", "01c2", "01c3", "01c6", "01ca"},
                                     {"01ce", "01cf", "01d2", "01d3", "01d6", "01da"},
                                     {"01de", "01df", "01e2", "01e3", "01e6", "01ea"},
                                     {"01ee", "01ef", "01f2", "01f3", "01f6", "01fa"}};
  for (int i = 0; i < 4; ++i) {
    const char* const* o = offsets[i];
    want += "\npartition record   " + std::to_string(i) + "\n" + o[0] + " : status:            " + rows[i][0] +
            "\n" + o[1] + " : chs first sector:  " + rows[i][1] + "\n" + o[2] + " : partition type:    " +
            rows[i][2] + "\n" + o[3] + " : chs last sector:   00 00 00\n" + o[4] + " : LBA first sector:  " +
            rows[i][3] + "\n" + o[5] + " : num sectors:       " + counts[i] + "\n";
  }
  EXPECT_EQ(mbr.str(), want + "\n01fe : MBR signature:     aa55\n");

  const byte bpb[36] = {0xEB, 0x52, 0x90, 'N', 'T', 'F', 'S', ' ', ' ', ' ', ' ', 0x00, 0x02, 0x08, 0, 0, 0, 0,
                        0,    0,    0,    0xF8, 0,  0,   0x3F, 0,  0xFF, 0, 0, 0x08, 0, 0, 0, 0x30, 0, 0};
  std::ostringstream boot;
  dump_boot_sector(boot, bpb);
  EXPECT_EQ(boot.str(),
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
            "sectors_per_track:          0x3f\n"
            "number_of_heads:            0xff\n"
            "hidden_sectors_in_partition: 0x800\n"
            "num_sectors_in_partition:   0x3000\n");

  drive_stats d;
  d.m_drive_type = "disk";
  d.m_drive_number = 1;
  d.m_size = 20971520;
  d.m_disk_signature = 0x1234ABCD;
  d.m_media_type = 12;
  d.m_bytes_per_sector = 512;
  partition_record ntfs, gpt;
  ntfs.m_start = 2048;
  ntfs.m_num_sectors = 2048;
  ntfs.m_type = 0x07;
  ntfs.m_serial = 0xDEADBEEF;
  gpt.m_start = 4096;
  gpt.m_num_sectors = 100;
  gpt.m_type = 0xEE;
  gpt.m_is_gpt = true;
  gpt.m_name = "quor data";
  d.m_partitions = {ntfs, gpt};
  std::ostringstream stats;
  dump_drive_stats(d, stats);
  EXPECT_EQ(stats.str(),
            "drive type:           disk\n"
            "drive num:            1\n"
            "drive size:           0x0000000001400000, [20971520]\n"
            "disk signature:       1234-abcd\n"
            "media type:           FixedMedia\n"
            "Available partitions: 2\n"
            " - offset/size/type   0x000000100000 / 0x000000100000 / 0x0007, [1048576 / 1048576 / ntfs] - sig: dead-beef\n"
            " - offset/size/type   0x000000200000 / 0x00000000c800 / 0x00ee, [2097152 / 51200 / quor data (GPT)] - sig: 0-0\n"
            "MBR present           false\n");

  const std::pair<int, const char*> media[] = {
      {2, "3.5 floppy 1.44MB, 512 bytes/sector"}, {11, "RemovableMedia"}, {12, "FixedMedia"}, {0, "unknown"}, {13, "unknown"}};
  for (const auto& m : media) {
    std::ostringstream os;
    print_media_type(os, m.first);
    EXPECT_EQ(os.str(), m.second) << m.first;
  }

  std::ostringstream filled;
  hex_zero_fill(filled);
  filled << std::setw(4) << 171;
  EXPECT_EQ(filled.str(), "00ab");
  const std::ios_base::fmtflags flags = std::cout.flags();
  const char fill = std::cout.fill();
  hex_zero_fill();
  EXPECT_TRUE((std::cout.flags() & std::ios_base::basefield) == std::ios_base::hex && std::cout.fill() == '0');
  std::cout.flags(flags);
  std::cout.fill(fill);
}
