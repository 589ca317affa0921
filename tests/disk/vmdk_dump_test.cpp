// VMDK text reports of the qemu-made fixtures: goldens written from the
// report rules and the header bytes; the numbers cross-checked with
// `qemu-img info`.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "disk/vmdk_disk.h"
#include "disk/vmdk_dump.h"
#include "disk/vmdk_extent.h"
#include "tests/support/fixture.h"

namespace {

// Both fixtures were written by one qemu-img: their headers are identical.
const char* const fixture_header =
    "0x00000000 : magic number:            0x564d444b [KDMV]\n"
    "0x00000004 : version:                 0x00000001\n"
    "0x00000008 : flags:                   0x00000003\n"
    "\t- valid new line detection\n"
    "\t- redundant grain table present\n"
    "0x0000000c : capacity:                0x0000000000004000 sectors, 0x0000000000800000 bytes\n"
    "0x00000014 : grain size:              0x0000000000000080 sectors, 0x0000000000010000 bytes\n"
    "0x0000001c : descriptor offset:       0x0000000000000001 sectors, 0x0000000000000200 abs offset\n"
    "0x00000024 : descriptor size:         0x0000000000000014 sectors, 0x0000000000002800 bytes\n"
    "0x0000002c : grain entries per table: 0x00000200\n"
    "0x00000030 : dup grain dir offset:    0x0000000000000015 sectors, 0x0000000000002a00 abs offset\n"
    "0x00000038 : grain dir offset:        0x000000000000001a sectors, 0x0000000000003400 abs offset\n"
    "0x00000040 : overhead for metadata:   0x0000000000000080 sectors, 0x0000000000010000 abs offset\n"
    "0x00000048 : unclean shutdown:        0x00\n"
    "0x00000049 : signal EOL character:    0x0a\n"
    "0x0000004a : non EOL character:       0x20\n"
    "0x0000004b : double EOL char (1st):   0x0d\n"
    "0x0000004c : double EOL char (2nd):   0x0a\n"
    "0x0000004d : compression algorithm:   0x0000\n"
    "0x0000004f : pad for 433 (0x1b1) bytes\n";

// Descriptor lines numbered as the report numbers them, the DDB after them.
std::string descriptor(std::vector<std::string> lines) {
  for (const char* ddb : {"# The Disk Data Base", "#DDB", "ddb.virtualHWVersion = \"4\"",
                          "ddb.geometry.cylinders = \"16\"", "ddb.geometry.heads = \"16\"",
                          "ddb.geometry.sectors = \"63\"", "ddb.adapterType = \"ide\"",
                          "ddb.toolsVersion = \"2147483647\""})
    lines.push_back(ddb);
  std::string out;
  char number[16];
  for (size_t i = 0; i < lines.size(); ++i) {
    std::snprintf(number, sizeof number, "%02x : ", static_cast<unsigned>(i));
    out += number + lines[i] + "\n";
  }
  return out;
}

const std::string base_descriptor =
    descriptor({"# Disk DescriptorFile", "version=1", "CID=207a852e", "parentCID=ffffffff",
                "createType=\"monolithicSparse\"", "# Extent description", "RW 16384 SPARSE \"vmdk-base.vmdk\""});
const std::string child_descriptor = descriptor(
    {"# Disk DescriptorFile", "version=1", "CID=4dbd23e", "parentCID=207a852e", "createType=\"monolithicSparse\"",
     "parentFileNameHint=\"vmdk-base.vmdk\"", "# Extent description", "RW 16384 SPARSE \"vmdk-child.vmdk\""});

const char* const zero_row = "00000000 00000000 00000000 00000000 00000000 00000000 00000000 00000000 \n";

#define OPEN_FIXTURE(var, name)                                                    \
  const std::string var##_path = quor_test::fixture(name);                         \
  if (var##_path.empty()) GTEST_SKIP() << "fixture " << name << " is missing";      \
  vmdk_extent var;                                                                 \
  ASSERT_TRUE(var.open(var##_path.c_str(), false)) << var##_path

TEST(VmdkDump, HeaderAndWholeExtentOfTheBase) {
  OPEN_FIXTURE(base, "vmdk-base.vmdk");
  std::ostringstream header;
  base.dump_header(header);
  EXPECT_EQ(header.str(), fixture_header);

  // Grain 0 is stored at sector 0x80; the NTFS partition starts at sector
  // 2048 of the virtual disk, so 0x100000 + 0x10000 in the file.
  std::ostringstream whole;
  ASSERT_TRUE(base.dump(whole));
  EXPECT_EQ(whole.str(), std::string(fixture_header) + "\n" + base_descriptor +
                             "\nMBR offset: 00010000\nVolume 0000110000\n");

  // Alone, the descriptor report numbers its lines in the stream's own base.
  std::ostringstream fresh;
  ASSERT_TRUE(base.dump_descriptor(fresh));
  EXPECT_EQ(fresh.str().substr(0, 24), " 0 : # Disk DescriptorFi");
  EXPECT_NE(fresh.str().find("\n14 : ddb.toolsVersion"), std::string::npos);
}

TEST(VmdkDump, GrainDirectoryAndTables) {
  OPEN_FIXTURE(child, "vmdk-child.vmdk");
  std::ostringstream dir;
  ASSERT_TRUE(child.dump_grain_directory(dir));
  // 128 slots up to the first table at sector 0x1b, all unused but the first.
  std::string want = "---- Grain Directory [offsets in sectors] ----\n"
                     "0x00003400 : 0000001b 00000000 00000000 00000000 00000000 00000000 00000000 00000000 \n";
  char at[16];
  for (unsigned row = 1; row < 16; ++row) {
    std::snprintf(at, sizeof at, "0x%08x : ", 0x3400 + 32 * row);
    want += at + std::string(zero_row);
  }
  EXPECT_EQ(dir.str(), want + "\n");

  // Grains 16, 17, 28, 34, 35 and 63 are the blocks qemu-io wrote.
  std::ostringstream table;
  ASSERT_TRUE(child.dump_grain_table(0, table));
  const std::string rows = table.str();
  const std::string head =
      std::string("0x00003600 : ") + zero_row + "0x00003620 : " + zero_row +
      "0x00003640 : 00000080 00000100 00000000 00000000 00000000 00000000 00000000 00000000 \n"
      "0x00003660 : 00000000 00000000 00000000 00000000 00000180 00000000 00000000 00000000 \n"
      "0x00003680 : 00000000 00000000 00000200 00000280 00000000 00000000 00000000 00000000 \n"
      "0x000036a0 : " + zero_row + "0x000036c0 : " + zero_row +
      "0x000036e0 : 00000000 00000000 00000000 00000000 00000000 00000000 00000000 00000300 \n";
  EXPECT_EQ(rows.substr(0, head.size()), head);
  // 512 entries (0x800 bytes): 64 rows, the last at 0x3de0, then the empty line.
  const std::string tail = std::string("0x00003de0 : ") + zero_row + "\n";
  ASSERT_GE(rows.size(), tail.size());
  EXPECT_EQ(rows.substr(rows.size() - tail.size()), tail);
  EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 65);

  // Unused directory slots count as tables that hold nothing, placed as if
  // the tables were contiguous; the directory has 128 slots.
  std::ostringstream unused;
  ASSERT_TRUE(child.dump_grain_table(1, unused));
  EXPECT_EQ(unused.str().substr(0, 13 + 73), std::string("0x00003e00 : ") + zero_row);
  EXPECT_FALSE(child.dump_grain_table(128, unused));
  vmdk_extent empty;
  EXPECT_FALSE(empty.dump_grain_directory(table));
  EXPECT_FALSE(empty.dump(table));
}

TEST(VmdkDump, RowsAndFlagLines) {
  const uint32 nine[9] = {1, 2, 3, 4, 5, 6, 7, 8, 0xdeadbeef};
  std::ostringstream rows;
  write_vmdk_rows(rows, nine, 9, 0x200, 32);
  EXPECT_EQ(rows.str(),
            "0x00000200 : 00000001 00000002 00000003 00000004 00000005 00000006 00000007 00000008 \n"
            "0x00000220 : deadbeef \n");

  // Every flag named, in bit order; a header with no flags names none.
  vmdk_extent crafted;
  crafted.m_header[8] = 0x03;
  crafted.m_header[10] = 0x03;
  std::ostringstream all;
  crafted.dump_header(all);
  EXPECT_NE(all.str().find("0x00030003\n\t- valid new line detection\n\t- redundant grain table present\n"
                           "\t- grains are compressed\n\t- markers exist\n0x0000000c : capacity"),
            std::string::npos);
  crafted.m_header[8] = crafted.m_header[10] = 0;
  std::ostringstream none;
  crafted.dump_header(none);
  EXPECT_EQ(none.str().find('\t'), std::string::npos);
}

TEST(VmdkDump, ChainReportOverBaseAndChild) {
  const std::string base = quor_test::fixture("vmdk-base.vmdk");
  const std::string child = quor_test::fixture("vmdk-child.vmdk");
  if (base.empty() || child.empty()) GTEST_SKIP() << "VMDK fixtures are missing";
  vmdk_disk disk(false);
  std::ostringstream out;
  EXPECT_FALSE(disk.dump_extents(out));
  ASSERT_TRUE(disk.add_extents(std::vector<std::string>{child, base}));
  ASSERT_TRUE(disk.link_chain());
  ASSERT_TRUE(disk.dump_extents(out));
  const std::string rule = " ------------------------------------------------------- \n";
  // The child's grain 0 lies in its parent, so its report ends after the descriptor.
  EXPECT_EQ(out.str(), rule + base + "\n" + fixture_header + "\n" + base_descriptor +
                           "\nMBR offset: 00010000\nVolume 0000110000\n\n" + rule + child + "\n" +
                           fixture_header + "\n" + child_descriptor + "\n");

  // The other chain reports: each extent's own report under the same rule.
  std::ostringstream descriptors, directories, tables, base_dir, child_dir, base_table, child_table;
  descriptors << std::hex << std::setfill('0');
  ASSERT_TRUE(disk.dump_descriptors(descriptors));
  EXPECT_EQ(descriptors.str(), rule + base + "\n" + base_descriptor + "\n" + rule + child + "\n" + child_descriptor + "\n");
  ASSERT_TRUE(disk.dump_grain_directories(directories));
  ASSERT_TRUE(disk.dump_grain_tables(0, tables));
  ASSERT_EQ(disk.m_chain.size(), 2u);
  disk.m_chain[0]->dump_grain_directory(base_dir);
  disk.m_chain[1]->dump_grain_directory(child_dir);
  disk.m_chain[0]->dump_grain_table(0, base_table);
  disk.m_chain[1]->dump_grain_table(0, child_table);
  EXPECT_NE(base_dir.str().find("---- Grain Directory [offsets in sectors] ----"), std::string::npos);
  EXPECT_EQ(directories.str(), rule + base + "\n" + base_dir.str() + "\n" + rule + child + "\n" + child_dir.str() + "\n");
  EXPECT_EQ(tables.str(), rule + base + "\n" + base_table.str() + "\n" + rule + child + "\n" + child_table.str() + "\n");
  disk.close();
  std::ostringstream closed;
  EXPECT_FALSE(disk.dump_descriptors(closed) || disk.dump_grain_directories(closed) || disk.dump_grain_tables(0, closed));
  EXPECT_EQ(closed.str(), "");
}

// The numbers of the reports are those qemu reads from the same files.
TEST(VmdkDump, NumbersAgreeWithQemuImg) {
  if (!quor_test::have_program("qemu-img")) GTEST_SKIP() << "qemu-img is not installed";
  for (const char* name : {"vmdk-base.vmdk", "vmdk-child.vmdk"}) {
    const std::string path = quor_test::fixture(name);
    if (path.empty()) GTEST_SKIP() << "fixture " << name << " is missing";
    std::string json;
    ASSERT_EQ(quor_test::run_command("qemu-img info --output=json '" + path + "'", json), 0);
    auto number = [&json](const std::string& key) {
      const size_t at = json.find("\"" + key + "\":");
      EXPECT_NE(at, std::string::npos) << key;
      return at == std::string::npos ? 0ull : std::strtoull(json.c_str() + at + key.size() + 3, nullptr, 10);
    };
    vmdk_extent e;
    ASSERT_TRUE(e.open(path.c_str(), false));
    EXPECT_EQ(e.capacity_bytes(), number("virtual-size")) << name;
    EXPECT_EQ(e.m_grain_bytes, number("cluster-size")) << name;
    EXPECT_EQ(std::strtoull(e.m_cid.c_str(), nullptr, 16), number("cid")) << name;
    EXPECT_EQ(std::strtoull(e.m_parent_cid.c_str(), nullptr, 16), number("parent-cid")) << name;
  }
}

}  // namespace
