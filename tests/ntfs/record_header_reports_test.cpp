// Boot sector and FILE record header reports against goldens written from
// the report rules; an update-sequence array that runs past its record.
#include "ntfs/record_header_reports.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "utils/byte_order.h"

namespace {

typedef std::vector<byte> bytes;

// A 1 KiB FILE record: sequence 5, 2 links, attributes at 0x38, in use
// and a directory, 0x1a8 bytes in use, array at 0x30 with count 3.
bytes file_record(uint16 count, uint16 flags, const char* signature = "FILE") {
  bytes r(1024, 0);
  std::copy_n(signature, 4, r.begin());
  store_u16(&r[4], 0x30);
  store_u16(&r[6], count);
  store_u64(&r[8], 0x10203);
  store_u16(&r[16], 5);
  store_u16(&r[18], 2);
  store_u16(&r[20], 0x38);
  store_u16(&r[22], flags);
  store_u32(&r[24], 0x1a8);
  store_u32(&r[28], 0x400);
  store_u16(&r[40], 7);
  store_u16(&r[0x30], 0x000e);
  store_u16(&r[0x32], 0xaabb);
  store_u16(&r[0x34], 0xccdd);
  return r;
}

std::string header_lines(const std::string& signature, const std::string& count_line, const std::string& array,
                         const std::string& flags_line) {
  return "(0x00) keyword:             " + signature + "\n(0x04) offset update seq:   0x0030\n" + count_line + array +
         "(0x08) log seq number:      0x00010203\n(0x10) seq num:             0x0005\n"
         "(0x12) ref count:           0x0002\n(0x14) offset 1st attrib:   0x0038\n" +
         flags_line +
         "(0x18) offset 1st freebyte: 0x000001a8\n(0x1c) size allocated:      0x00000400\n"
         "(0x20) base file record:    0x0000000000000000\n(0x28) next attrib id:      0x0007\n";
}

}  // namespace

TEST(RecordHeaderReports, FileRecordHeader) {
  const std::string array3 = "\tupdate seq num: 0x000e\n\t1 = 0xaabb\n\t2 = 0xccdd\n";
  struct {
    uint16 count, flags;
    const char* signature;
    std::string expected;
  } cases[] = {
      {3, 3, "FILE",
       header_lines("FILE", "(0x06) size update seq:     0x0003\n", array3,
                    "(0x16) flags:               0x0003 ( in use ) ( dir )\n")},
      {0, 0, "FILE",
       header_lines("FILE", "(0x06) size update seq:     0x0000\n", "",
                    "(0x16) flags:               0x0000 ( deleted )\n")},
      {1, 0xd, "BAAD",
       header_lines("BAAD", "(0x06) size update seq:     0x0001\n", "\tupdate seq num: 0x000e\n",
                    "(0x16) flags:               0x000d ( in use ) ( sys file ) ( view index present )\n")},
  };
  for (const auto& c : cases) {
    const bytes r = file_record(c.count, c.flags, c.signature);
    std::ostringstream os;
    dump_mft_record_header(os, r.data());
    EXPECT_EQ(os.str(), c.expected) << c.signature << " " << c.count;
  }

  // An array count that runs past the record: the entries inside are shown,
  // then a note, and the header fields after it.
  const bytes r = file_record(0x8000, 1);
  std::ostringstream os;
  dump_mft_record_header(os, r.data(), 0x40);
  const std::string out = os.str();
  EXPECT_NE(out.find("\t7 = 0x0000\n\tupdate seq array passes the end of the record\n(0x08) log seq number:"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("\t8 = "), std::string::npos);
  // A 1 KiB record whose header says 64 KiB, its array of 0x40 entries at
  // 0x3f0: without a size the report keeps to the 1 KiB such a header leaves
  // it, whatever follows the record in memory.
  bytes damaged = file_record(0x40, 1);
  store_u16(&damaged[4], 0x3f0);
  store_u32(&damaged[28], 0x10000);
  for (uint32 i = 0; i < 8; ++i) store_u16(&damaged[0x3f0 + 2 * i], static_cast<uint16>(0x100 + i));
  const bytes alone(damaged);
  bytes followed(damaged);
  followed.resize(0x10000, 0xee);
  const std::string kept =
      "(0x00) keyword:             FILE\n(0x04) offset update seq:   0x03f0\n(0x06) size update seq:     0x0040\n"
      "\tupdate seq num: 0x0100\n\t1 = 0x0101\n\t2 = 0x0102\n\t3 = 0x0103\n\t4 = 0x0104\n\t5 = 0x0105\n"
      "\t6 = 0x0106\n\t7 = 0x0107\n\tupdate seq array passes the end of the record\n"
      "(0x08) log seq number:      0x00010203\n(0x10) seq num:             0x0005\n"
      "(0x12) ref count:           0x0002\n(0x14) offset 1st attrib:   0x0038\n"
      "(0x16) flags:               0x0001 ( in use )\n"
      "(0x18) offset 1st freebyte: 0x000001a8\n(0x1c) size allocated:      0x00010000\n"
      "(0x20) base file record:    0x0000000000000000\n(0x28) next attrib id:      0x0007\n";
  const bytes* buffers[] = {&alone, &followed};
  for (const bytes* b : buffers) {
    std::ostringstream kept_os;
    dump_mft_record_header(kept_os, b->data());
    EXPECT_EQ(kept_os.str(), kept) << (b == &alone ? "alone" : "followed");
  }
  // A record cut inside its header shows the fields that fit.
  std::ostringstream cut;
  dump_mft_record_header(cut, r.data(), 6);
  EXPECT_EQ(cut.str(), "(0x00) keyword:             FILE\n(0x04) offset update seq:   0x0030\n");
}

TEST(RecordHeaderReports, BootSector) {
  bytes raw(512, 0);
  std::copy_n("NTFS    ", 8, raw.begin() + 3);
  store_u16(&raw[11], 512);
  raw[13] = 8;
  store_u16(&raw[36], 0x80);
  raw[38] = 0x0a;
  raw[39] = 0xff;
  store_u64(&raw[40], 0x7fff);
  store_u64(&raw[48], 4);
  store_u64(&raw[56], 0xbff);
  raw[64] = 0xf6;
  raw[65] = 1;
  raw[66] = 2;
  raw[67] = 3;
  raw[68] = 0x02;
  store_u64(&raw[72], 0x34f5ee1202469ff7ULL);
  store_u32(&raw[80], 0xdead);
  NTFS_BOOT boot;
  boot.load(raw.data());
  std::ostringstream os;
  dump_ntfs_boot_sector(os, boot);
  const std::string out = os.str();
  ASSERT_NE(out.find("drive_num:"), std::string::npos);
  EXPECT_EQ(out.substr(out.find("drive_num:")),
            "drive_num:              0x80\n"
            "unk3:                   0xa ff \n"
            "total_sectors:          7fff\n"
            "mft_start_lcn:          4\n"
            "mftmirr_start_lcn:      bff\n"
            "num_clusters_for_mft:   0xfff6\n"
            "unk4:                   0x1 2 3 \n"
            "clusters_per_index_allocated:0x2\n"
            "unk5:                   0x0 0 0 \n"
            "volume_serial_number:   34f5ee1202469ff7 [low: 2469ff7, high: 34f5ee12]\n"
            "checksum:               0xdead\n");
  // The BIOS parameter block comes first, then an empty line.
  EXPECT_NE(out.find("bytes_per_sector:           0x200\n"), std::string::npos);
  EXPECT_NE(out.find("\n\ndrive_num:"), std::string::npos);

  std::ostringstream sector;
  dump_sector_hex(raw.data(), sector);
  EXPECT_EQ(sector.str().substr(0, 79),
            "0000 0000:  00 00 00 4e 54 46 53 20  20 20 20 00 02 08 00 00  ...NTFS    .....\n");
  EXPECT_EQ(sector.str().size(), 32u * 79 + 1);
}

// The view form of the record report and the sized form of the sector view.
TEST(RecordHeaderReports, ViewAndSizedForms) {
  const bytes r = file_record(3, 3);
  std::ostringstream view;
  dump_mft_record_header(view, byte_view(r.data(), r.size()));
  EXPECT_EQ(view.str(), header_lines("FILE", "(0x06) size update seq:     0x0003\n",
                                     "\tupdate seq num: 0x000e\n\t1 = 0xaabb\n\t2 = 0xccdd\n",
                                     "(0x16) flags:               0x0003 ( in use ) ( dir )\n"));

  bytes raw(600, 0x41);
  raw[17] = 0;
  std::ostringstream part, capped, whole;
  dump_sector_hex(raw.data(), 18, part);
  EXPECT_EQ(part.str(), "0000 0000:  41 41 41 41 41 41 41 41  41 41 41 41 41 41 41 41  AAAAAAAAAAAAAAAA\n"
                        "0000 0010:  41 00 " + std::string(44, ' ') + "A.\n\n");
  dump_sector_hex(raw.data(), 600, capped);
  dump_sector_hex(raw.data(), whole);
  EXPECT_EQ(capped.str().size(), 32u * 79 + 1);
  EXPECT_EQ(capped.str(), whole.str());
}
