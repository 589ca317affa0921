// Index structure reports and INDX record dumps on hand-built records, with
// goldens written from the report rules; damaged lengths and offsets that
// must stop a walk inside the record.
#include "ntfs/index_reports.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "ntfs/attribute_type_name.h"
#include "ntfs/indx_record_dump.h"
#include "utils/byte_order.h"

namespace {

typedef std::vector<byte> bytes;

const uint64 k_time1 = 0x01d5c1194b2b74e0ULL;  // 2020-01-02 03:04:05.678 UTC
const std::string k_text1 = "0x01d5c1194b2b74e0, ( 01/02/20 03:04:05.678 ) \n";
const std::string k_zero = "0x0000000000000000, ( 00/00/00 00:00:00 ) \n";
const uint32 k_entry = 0x40;

template <typename F>
std::string text_of(F f) {
  std::ostringstream os;
  f(os);
  return os.str();
}

void put_name(bytes& b, size_t at, const std::u16string& name) {
  for (size_t i = 0; i < name.size(); ++i) store_u16(&b[at + 2 * i], name[i]);
}

// A $I30 entry for MFT entry 64 (sequence 3) in directory 5, named `name`.
void put_dir_entry(bytes& r, size_t at, const std::u16string& name) {
  const uint16 key = static_cast<uint16>(66 + 2 * name.size());
  store_u64(&r[at], 64 | (3ULL << 48));
  store_u16(&r[at + 8], static_cast<uint16>((16 + key + 7) & ~7));
  store_u16(&r[at + 10], key);
  store_u64(&r[at + 16], 5 | (5ULL << 48));
  store_u64(&r[at + 24], k_time1);
  store_u64(&r[at + 56], 0x1000);
  store_u64(&r[at + 64], 0x123);
  store_u32(&r[at + 72], 0x20);
  r[at + 80] = static_cast<byte>(name.size());
  r[at + 81] = 3;
  put_name(r, at + 82, name);
}

// A 4096-byte INDX record (VCN 2) whose node holds one $I30 entry at 0x40
// and the last-entry record; every sector end holds the check value 0x0001
// and the array the true bytes 0xbb00 + i.
bytes indx_record(const std::u16string& name = u"ab") {
  bytes r(4096, 0);
  std::copy_n("INDX", 4, r.begin());
  store_u16(&r[4], 0x28);
  store_u16(&r[6], 9);
  store_u64(&r[8], 0x1234);
  store_u64(&r[16], 2);
  store_u32(&r[24], k_entry - 24);
  put_dir_entry(r, k_entry, name);
  const uint32 last = k_entry + load_u16(&r[k_entry + 8]);
  store_u16(&r[last + 8], 16);
  store_u16(&r[last + 12], 2);
  store_u32(&r[28], last + 16 - 24);
  store_u32(&r[32], 0xfe8);
  store_u16(&r[0x28], 0x0001);
  for (int i = 1; i <= 8; ++i) {
    store_u16(&r[0x28 + 2 * i], static_cast<uint16>(0xbb00 + i));
    store_u16(&r[i * 512 - 2], 0x0001);
  }
  return r;
}

std::string file_name_golden(uint32 base) {
  auto at = [base](uint32 off) {
    std::ostringstream os;
    os << "(0x" << std::hex << base + off << ") ";
    return os.str();
  };
  return "---- data ----\n" + at(0) + "parent_inode:        0x000000000005 (5)\n" + at(6) +
         "sequence_num:        0x0005\n" + at(8) + "time_file_creation:  " + k_text1 + at(16) +
         "time_file_altered:   " + k_zero + at(24) + "time_mft_changed:    " + k_zero + at(32) +
         "time_file_accessed:  " + k_zero + at(40) + "size_file_allocated: 0x0000000000001000\n" + at(48) +
         "size_file_real:      0x0000000000000123\n" + at(56) + "file attributes:     0x00000020, ARCHIVE\n" +
         at(60) + "ea_or_reparse:       0x00000000\n" + at(64) + "size_filename:       0x02\n" + at(65) +
         "filename_flags:      0x03 (normal filename)\n" + at(66) + "filename:            ab\n";
}

const std::string k_indx_header =
    "(0x000000) keyword:                  INDX\n"
    "(0x000004) offset_sequence_array:    0x0028\n"
    "(0x000006) size_sequence_array:      0x0009\n"
    "(0x000008) log_sequence_number:      0x0000000000001234\n"
    "(0x000010) vcn_this_blk:             0x0000000000000002\n"
    "---- (dir index) data ----\n"
    "(0x018) offset_entry:       0x00000028\n"
    "(0x01c) size_entries:       0x00000090\n"
    "(0x020) num entries alloc:  0x00000fe8\n"
    "(0x024) flags:              0x00 (small dir)\n";

const std::string k_dir_entry =
    "---- (dir entry) data ----\n"
    "(0x040) child_inode:        0x000000000040 (64)\n"
    "(0x046) sequence num:       0x0003\n"
    "(0x048) size_entry:         0x0058\n"
    "(0x04a) size_attribute:     0x0046\n"
    "(0x04c) flags:              0x0000\n"
    "(0x04e) unk1:               0x0000\n" +
    file_name_golden(0x50);

const std::string k_i30_columns =
    "   MFT entry,    seq num, flags,      create time,         last modify time,         MFT changed,"
    "        last access time,     filename\n\n";
const std::string k_i30_row =
    "0x000000000040,  0x0003,  0x0000, 01/02/20 03:04:05.678, 00/00/00 00:00:00, 00/00/00 00:00:00, "
    "00/00/00 00:00:00, ab\n";

// View-index entries as they are found in $Secure, $ObjId and $Reparse.
bytes sii_entry() {
  bytes e(40, 0);
  store_u16(&e[0], 20);
  store_u16(&e[2], 20);
  store_u16(&e[8], 40);
  store_u16(&e[10], 4);
  store_u32(&e[16], 0x100);
  store_u32(&e[20], 0xf80312f0);
  store_u32(&e[24], 0x100);
  store_u64(&e[28], 0x40080);
  store_u32(&e[36], 0x7c);
  return e;
}

bytes sdh_entry() {
  bytes e(48, 0);
  store_u16(&e[0], 24);
  store_u16(&e[2], 20);
  store_u16(&e[8], 48);
  store_u16(&e[10], 8);
  store_u32(&e[16], 0xf80312f0);
  store_u32(&e[20], 0x101);
  store_u32(&e[24], 0xf80312f0);
  store_u32(&e[28], 0x101);
  store_u64(&e[32], 0x80);
  store_u32(&e[40], 0x7c);
  put_name(e, 44, u"II");
  return e;
}

bytes o_entry() {
  bytes e(88, 0);
  store_u16(&e[0], 32);
  store_u16(&e[2], 56);
  store_u16(&e[8], 88);
  store_u16(&e[10], 16);
  for (int i = 0; i < 16; ++i) {
    e[16 + i] = static_cast<byte>(i);
    e[40 + i] = static_cast<byte>(0x10 + i);
    e[56 + i] = static_cast<byte>(0x20 + i);
    e[72 + i] = static_cast<byte>(0x30 + i);
  }
  store_u64(&e[32], 0x40 | (1ULL << 48));
  return e;
}

bytes r_entry() {
  bytes e(32, 0);
  store_u16(&e[0], 28);
  store_u16(&e[8], 32);
  store_u16(&e[10], 12);
  store_u32(&e[16], 0xa000000c);
  store_u64(&e[20], 0x41 | (1ULL << 48));
  return e;
}

const std::string k_view_header_40 =
    "---- (index entry) data ----\n"
    "(0x000100) m_offset_data:            0x0014\n"
    "(0x000102) m_size_data:              0x0014\n"
    "(0x000104) m_padding1:               0x0000\n"
    "(0x000108) m_size_index_entry:       0x00000028\n"
    "(0x00010a) m_size_index_key:         0x0004\n"
    "(0x00010c) m_flags:                  0x0000\n"
    "(0x00010e) m_padding2:               0x0000\n";

}  // namespace

TEST(IndexReports, Headers) {
  bytes root(16, 0);
  struct {
    uint32 type, rule;
    byte blocks;
    std::string expected;
  } roots[] = {
      {0x30, 1, 1,
       "---- (root) data ----\n(0x00) type:                0x00000030 (Filename Attrib)\n"
       "(0x04) rule:                0x00000001 (filename compare)\n(0x08) size_index_entry:    0x00001000\n"
       "(0x0c) blks_per_index:      0x01, large index (index allocation needed)\n"},
      {0, 0x10, 4,
       "---- (root) data ----\n(0x00) type:                0x00000000 (unk)\n"
       "(0x04) rule:                0x00000010\n(0x08) size_index_entry:    0x00001000\n"
       "(0x0c) blks_per_index:      0x04\n"},
      {-1u, 0, 0,
       "---- (root) data ----\n(0x00) type:                0xffffffff (NTFS_ATTRIBUTE_END_MARKER)\n"
       "(0x04) rule:                0x00000000 (binary compare)\n(0x08) size_index_entry:    0x00001000\n"
       "(0x0c) blks_per_index:      0x00, small index (fits in Index Root)\n"},
  };
  for (const auto& c : roots) {
    store_u32(&root[0], c.type);
    store_u32(&root[4], c.rule);
    store_u32(&root[8], 0x1000);
    root[12] = c.blocks;
    EXPECT_EQ(text_of([&](std::ostream& os) { dump_index_root_header(os, root.data()); }), c.expected);
  }
  bytes node(16, 0);
  node[12] = 2;
  EXPECT_EQ(text_of([&](std::ostream& os) { dump_index_header(os, node.data(), 0x1000); }),
            "---- (dir index) data ----\n(0x1000) offset_entry:       0x00000000\n"
            "(0x1004) size_entries:       0x00000000\n(0x1008) num entries alloc:  0x00000000\n"
            "(0x100c) flags:              0x02 (unk)\n");
  const bytes r = indx_record();
  EXPECT_EQ(text_of([&](std::ostream& os) { dump_indx_header(os, r.data()); }), k_indx_header);
  // A header cut short shows the fields that fit.
  EXPECT_EQ(text_of([&](std::ostream& os) { dump_indx_header(os, byte_view(r.data(), 12), 0); }),
            "(0x000000) keyword:                  INDX\n(0x000004) offset_sequence_array:    0x0028\n"
            "(0x000006) size_sequence_array:      0x0009\n");
}

TEST(IndexReports, DirectoryEntries) {
  const bytes r = indx_record();
  EXPECT_EQ(text_of([&](std::ostream& os) { dump_dir_entry(nullptr, os, r.data() + k_entry, k_entry); }),
            k_dir_entry);
  EXPECT_EQ(text_of([&](std::ostream& os) { print_index_entry_line("$I30", os, r.data() + k_entry, true); }),
            k_i30_columns + k_i30_row);

  // A key of 66 bytes or less is shown as a hex view of the entry's bytes
  // beyond the key length; a key as long as the entry shows nothing more.
  bytes e(24, 0);
  store_u64(&e[0], 7);
  store_u16(&e[8], 24);
  store_u16(&e[10], 4);
  for (int i = 16; i < 24; ++i) e[i] = static_cast<byte>('a' + i - 16);
  const std::string head = "---- (dir entry) data ----\n(0x000) child_inode:        0x000000000007 (7)\n"
                           "(0x006) sequence num:       0x0000\n(0x008) size_entry:         0x0018\n";
  EXPECT_EQ(text_of([&](std::ostream& os) { dump_dir_entry(os, e.data()); }),
            head + "(0x00a) size_attribute:     0x0004\n(0x00c) flags:              0x0000\n"
                   "(0x00e) unk1:               0x0000\n"
                   "0000 0000:  61 62 63 64 65 66 67 68 " + std::string(25, ' ') + " abcdefgh\n\n");
  store_u16(&e[10], 24);
  store_u16(&e[12], 3);
  EXPECT_EQ(text_of([&](std::ostream& os) { dump_dir_entry(os, e.data()); }),
            head + "(0x00a) size_attribute:     0x0018\n"
                   "(0x00c) flags:              0x0003 (pts to a sub-dir) (terminating dir entry)\n"
                   "(0x00e) unk1:               0x0000\n");
  // A row without a $FILE_NAME key stays open.
  EXPECT_EQ(text_of([&](std::ostream& os) { print_index_entry_line(nullptr, os, e.data(), false); }),
            "0x000000000007,  0x0000,  0x0003, ");

  // A key length far past the entry: the $FILE_NAME report reads only the
  // entry's bytes, so the name is cut where the view ends.
  bytes claims = r;
  store_u16(&claims[k_entry + 10], 0xFFFF);
  const std::string cut = text_of([&](std::ostream& os) {
    dump_dir_entry(nullptr, os, byte_view(claims.data() + k_entry, 0x52 + 1), k_entry);
  });
  EXPECT_NE(cut.find("(0x91) filename_flags:      0x03 (normal filename)\n(0x92) filename:            \n"),
            std::string::npos)
      << cut;
}

TEST(IndexReports, ViewIndexEntries) {
  const std::string sii_lines = "(0x000110) SD ID (key):              0x00000100\n"
                                "(0x000114) SD hash (key):            0xf80312f0\n"
                                "(0x000118) SD ID (data):             0x00000100\n"
                                "(0x00011c) SD offset in $SDS:        0x0000000000040080\n"
                                "(0x000124) SD size in $SDS:          0x0000007c\n";
  const bytes sii = sii_entry();
  EXPECT_EQ(text_of([&](std::ostream& os) { dump_index_entries("$SII", os, sii.data(), 0x100); }),
            k_view_header_40 + sii_lines);
  EXPECT_EQ(text_of([&](std::ostream& os) { print_view_index_entry_line("$SII", os, sii.data(), true); }),
            "SD ID (key), SD hash (key), SD ID (data),    $SDS offset,     $SDS size\n\n"
            "0x00000100,  0xf80312f0,    0x00000100,   0x0000000000040080, 0x0000007c, \n");
  EXPECT_EQ(text_of([&](std::ostream& os) { security_id_entry(sii.data()).print(os); }),
            "0x00000100, 0xf80312f0, 0x00000100, 0x0000000000040080, 0x0000007c\n");
  EXPECT_EQ(text_of([&](std::ostream& os) { security_id_entry(byte_view(sii.data(), 39)).print(os); }),
            "0x00000000, 0x00000000, 0x00000000, 0x0000000000000000, 0x00000000\n");
  // Only the fields inside the entry's bytes are shown.
  EXPECT_EQ(text_of([&](std::ostream& os) { dump_index_entries("$SII", os, byte_view(sii.data(), 24), 0x100); }),
            k_view_header_40 + sii_lines.substr(0, sii_lines.find("(0x000118)")));

  const bytes sdh = sdh_entry();
  const std::string sdh_out = text_of([&](std::ostream& os) { dump_index_entries("$SDH", os, sdh.data(), 0); });
  EXPECT_EQ(sdh_out.substr(sdh_out.find("(0x000010)")),
            "(0x000010) SD hash (key):            0xf80312f0\n"
            "(0x000014) SD ID (key):              0x00000101\n"
            "(0x000018) SD hash (data):           0xf80312f0\n"
            "(0x00001c) SD ID (data):             0x00000101\n"
            "(0x000020) SD offset in $SDS:        0x0000000000000080\n"
            "(0x000028) SD size in $SDS:          0x0000007c\n"
            "(0x00002c) II_wchar:                 II\n");
  bytes no_ii = sdh;
  no_ii[46] = 'X';
  EXPECT_EQ(text_of([&](std::ostream& os) {
              print_view_index_entry_line("$SDH", os, sdh.data(), true);
              print_view_index_entry_line("$SDH", os, no_ii.data(), false);
            }),
            "SD hash (key), SD ID (key), SD hash (data), SD ID (data),    $SDS offset,     $SDS size, II present\n\n"
            "0xf80312f0,    0x00000101,  0xf80312f0,     0x00000101,   0x0000000000000080, 0x0000007c,    yes\n"
            "0xf80312f0,    0x00000101,  0xf80312f0,     0x00000101,   0x0000000000000080, 0x0000007c,     no\n");

  const bytes o = o_entry();
  const std::string o_out = text_of([&](std::ostream& os) { dump_index_entries("$O", os, o.data(), 0); });
  EXPECT_EQ(o_out.substr(o_out.find("(0x000010)")),
            "(0x000010) m_object_id:              03020100-0504-0706-0809-0a0b0c0d0e0f\n"
            "(0x000020) mft entry:                0x000000000040\n"
            "(0x000026) seq num:                  0x0001\n"
            "(0x000028) Birth Vol ID:             { 13121110-1514-1716-1819-1a1b1c1d1e1f }\n"
            "(0x000038) Birth Obj ID:             { 23222120-2524-2726-2829-2a2b2c2d2e2f }\n"
            "(0x000048) Domain ID:                { 33323130-3534-3736-3839-3a3b3c3d3e3f }\n");
  EXPECT_EQ(text_of([&](std::ostream& os) { print_view_index_entry_line("$O", os, o.data(), false); }),
            "03020100-0504-0706-0809-0a0b0c0d0e0f, 0x000000000040, 0x0001, 13121110-1514-1716-1819-1a1b1c1d1e1f, "
            "23222120-2524-2726-2829-2a2b2c2d2e2f, 33323130-3534-3736-3839-3a3b3c3d3e3f, \n");

  const bytes rp = r_entry();
  const std::string r_out = text_of([&](std::ostream& os) { dump_index_entries("$R", os, rp.data(), 0); });
  EXPECT_EQ(r_out.substr(r_out.find("(0x000010)")),
            "(0x000010) m_reparse_tag:            0xa000000c\n"
            "(0x000014) inode:                    0x000000000041\n"
            "(0x00001a) seq num:                  0x0001\n"
            "(0x00001c) m_padding3:               0x00000000\n");
  EXPECT_EQ(text_of([&](std::ostream& os) { print_view_index_entry_line("$R", os, rp.data(), true); }),
            "    Tag,     MFT entry,    Seq num\n\n0xa000000c, 0x000000000041, 0x0001, \n");

  // Any other index: the header and the whole entry as a hex view; a data
  // offset of 0 stops after the header; $I30 writes nothing.
  const std::string q_out = text_of([&](std::ostream& os) { dump_index_entries("$Q", os, rp.data(), 0); });
  EXPECT_EQ(q_out.substr(q_out.find("(0x00000e)") + 44),
            "0000 0000:  1c 00 00 00 00 00 00 00  20 00 0c 00 00 00 00 00  ........ .......\n"
            "0000 0010:  0c 00 00 a0 41 00 00 00  00 00 01 00 00 00 00 00  ....A...........\n\n");
  bytes terminator(16, 0);
  store_u16(&terminator[8], 16);
  store_u16(&terminator[12], 2);
  const std::string t_out = text_of([&](std::ostream& os) { dump_index_entries("$R", os, terminator.data(), 0); });
  EXPECT_EQ(t_out.substr(t_out.find("(0x00000e)")), "(0x00000e) m_padding2:               0x0000\n");
  EXPECT_EQ(text_of([&](std::ostream& os) {
              dump_index_entries("$I30", os, rp.data(), 0);
              print_view_index_entry_line("$I30", os, rp.data(), true);
              print_view_index_entry_line("$Q", os, rp.data(), true);
              print_view_index_entry_line("$R", os, terminator.data(), true);
            }),
            "");
}

TEST(IndexReports, RootWalk) {
  // $INDEX_ROOT of a directory: one entry and the last-entry record.
  bytes root(32 + 0x58 + 16, 0);
  store_u32(&root[0], 0x30);
  store_u32(&root[4], 1);
  store_u32(&root[8], 0x1000);
  root[12] = 1;
  store_u32(&root[16], 16);
  store_u32(&root[20], 16 + 0x58 + 16);
  store_u32(&root[24], 16 + 0x58 + 16);
  bytes r = indx_record();
  std::copy(r.begin() + k_entry, r.begin() + k_entry + 0x58, root.begin() + 32);
  store_u16(&root[32 + 0x58 + 8], 16);
  store_u16(&root[32 + 0x58 + 12], 2);
  const std::string out = text_of([&](std::ostream& os) {
    dump_index_root(os, root.data(), static_cast<int>(root.size()), 0x100);
  });
  EXPECT_NE(out.find("(0x120) child_inode:        0x000000000040 (64)\n"), std::string::npos) << out;
  EXPECT_NE(out.find("(0x178) child_inode:        0x000000000000 (0)\n"), std::string::npos) << out;
  const std::string all = text_of([&](std::ostream& os) { dump_index_root_all(os, root.data()); });
  EXPECT_NE(all.find("(0x000) child_inode:        0x000000000040 (64)\n"), std::string::npos) << all;

  // An entry length of 0, or one past the root, ends the walk inside it.
  bytes zero = root;
  store_u16(&zero[32 + 8], 0);
  EXPECT_EQ(text_of([&](std::ostream& os) { dump_index_root(os, zero.data(), static_cast<int>(zero.size()), 0); })
                .find("dir entry"),
            std::string::npos);
  bytes past = root;
  store_u16(&past[32 + 8], 0xFFF0);
  const std::string p = text_of([&](std::ostream& os) {
    dump_index_root(os, past.data(), static_cast<int>(past.size()), 0);
  });
  EXPECT_NE(p.find("(0x020) child_inode"), std::string::npos) << p;
  EXPECT_EQ(p.find("(0x078) child_inode"), std::string::npos) << p;
  const std::string a = text_of([&](std::ostream& os) { dump_index_root_all(os, byte_view(past.data(), past.size())); });
  EXPECT_EQ(a.find("child_inode"), a.rfind("child_inode")) << a;
}

TEST(IndxRecordDump, FullAndShort) {
  const bytes r = indx_record();
  EXPECT_EQ(text_of([&](std::ostream& os) { EXPECT_TRUE(dump_indx_record("$I30", r.data(), 4096, 512, os, 0)); }),
            k_indx_header + k_dir_entry + "\n");
  EXPECT_EQ(text_of([&](std::ostream& os) {
              EXPECT_TRUE(dump_indx_record_short("$i30", r.data(), 4096, 0, os, true));
            }),
            k_i30_columns + k_i30_row);

  // Refused: short, unsigned or absent records; nothing written.
  bytes not_indx = r;
  not_indx[0] = 'X';
  EXPECT_EQ(text_of([&](std::ostream& os) {
              EXPECT_FALSE(dump_indx_record("$I30", r.data(), 4095, 512, os, 0));
              EXPECT_FALSE(dump_indx_record("$I30", nullptr, 4096, 512, os, 0));
              EXPECT_FALSE(dump_indx_record_short("$I30", not_indx.data(), 4096, 512, os, true));
            }),
            "");
}

TEST(IndxRecordDump, FixupOnACopy) {
  // The entry's name runs over the end of the first sector, where the
  // record holds the check value 0x0001 and the array the true unit 'g'.
  bytes r = indx_record(u"abcdefghij");
  const uint32 at = 512 - 82 - 14;
  std::fill(r.begin() + k_entry, r.begin() + k_entry + 0x70, 0);
  store_u32(&r[24], at - 24);
  put_dir_entry(r, at, u"abcdefghij");
  const uint32 last = at + load_u16(&r[at + 8]);
  store_u16(&r[last + 8], 16);
  store_u16(&r[last + 12], 2);
  store_u32(&r[28], last + 16 - 24);
  store_u16(&r[0x28 + 2], 'g');
  store_u16(&r[510], 0x0001);
  const bytes before = r;
  const std::string fixed = text_of([&](std::ostream& os) { dump_indx_record_short("$I30", r.data(), 4096, 512, os, false); });
  const std::string raw = text_of([&](std::ostream& os) { dump_indx_record_short("$I30", r.data(), 4096, 0, os, false); });
  EXPECT_NE(fixed.find(", abcdefghij\n"), std::string::npos) << fixed;
  EXPECT_NE(raw.find(", abcdef\x01hij\n"), std::string::npos) << raw;
  EXPECT_EQ(r, before);
}

TEST(IndxRecordDump, WalkEndsInsideTheRecord) {
  struct {
    const char* what;
    void (*damage)(bytes&);
  } cases[] = {
      {"entry length 0", [](bytes& r) { store_u16(&r[k_entry + 8], 0); }},
      {"entry length below its header", [](bytes& r) { store_u16(&r[k_entry + 8], 8); }},
      {"entry past the record", [](bytes& r) {
         store_u16(&r[k_entry + 8], 0xFFF8);
         store_u32(&r[28], 0xFFFFFFF0);
       }},
      {"entry past the index length", [](bytes& r) { store_u32(&r[28], 0x50); }},
      {"first entry past the record", [](bytes& r) { store_u32(&r[24], 0xFFFFFFF0); }},
      {"file reference 0", [](bytes& r) { store_u64(&r[k_entry], 0); }},
  };
  for (const auto& c : cases) {
    bytes r = indx_record();
    c.damage(r);
    std::ostringstream full, rows;
    EXPECT_TRUE(dump_indx_record("$I30", r.data(), 4096, 512, full, 0)) << c.what;
    EXPECT_TRUE(dump_indx_record_short("$I30", r.data(), 4096, 512, rows, true)) << c.what;
    EXPECT_EQ(full.str().find("dir entry"), std::string::npos) << c.what;
    EXPECT_EQ(rows.str(), "") << c.what;
  }

  // A view index: entries while they start before the index length, each
  // inside the node.
  bytes v(4096, 0);
  std::copy_n("INDX", 4, v.begin());
  store_u32(&v[24], 16);
  const bytes rp = r_entry();
  std::copy(rp.begin(), rp.end(), v.begin() + 40);
  std::copy(rp.begin(), rp.end(), v.begin() + 72);
  store_u16(&v[104 + 8], 16);
  store_u16(&v[104 + 12], 2);
  store_u32(&v[28], 104 + 16 - 24);
  std::ostringstream rows;
  EXPECT_TRUE(dump_indx_record_short("$R", v.data(), 4096, 0, rows, true));
  EXPECT_EQ(rows.str(), "    Tag,     MFT entry,    Seq num\n\n0xa000000c, 0x000000000041, 0x0001, \n"
                        "0xa000000c, 0x000000000041, 0x0001, \n");
  store_u16(&v[72 + 8], 0x1000);
  std::ostringstream cut;
  EXPECT_TRUE(dump_indx_record("$R", v.data(), 4096, 0, cut, 0));
  EXPECT_NE(cut.str().find("(0x000038) m_reparse_tag"), std::string::npos);
  EXPECT_EQ(cut.str().find("(0x000058) m_reparse_tag"), std::string::npos);
}

// The bounded, based and two-argument forms of each header report show the
// same fields at the positions their base gives.
TEST(IndexReports, EveryFormOfTheHeaders) {
  const bytes r = indx_record();
  const byte* node = r.data() + 24;
  const std::string node_lines = "(0x%) offset_entry:       0x00000028\n(0x%) size_entries:       0x00000090\n"
                                 "(0x%) num entries alloc:  0x00000fe8\n(0x%) flags:              0x00 (small dir)\n";
  auto at = [](std::string text, std::initializer_list<const char*> positions) {
    for (const char* p : positions) text.replace(text.find('%'), 1, p);
    return text;
  };
  const std::string node_0 = "---- (dir index) data ----\n" + at(node_lines, {"000", "004", "008", "00c"});
  bytes root(16, 0);
  store_u32(&root[0], 0x30);
  store_u32(&root[4], 1);
  store_u32(&root[8], 0x1000);
  root[12] = 1;
  const std::string root_lines = "---- (root) data ----\n(0x%) type:                0x00000030 (Filename Attrib)\n"
                                 "(0x%) rule:                0x00000001 (filename compare)\n"
                                 "(0x%) size_index_entry:    0x00001000\n"
                                 "(0x%) blks_per_index:      0x01, large index (index allocation needed)\n";
  const std::string root_90 = at(root_lines, {"90", "94", "98", "9c"});
  struct {
    const char* form;
    std::string text, expected;
  } cases[] = {
      {"node, two arguments", text_of([&](std::ostream& os) { dump_index_header(os, node); }), node_0},
      {"node view", text_of([&](std::ostream& os) { dump_index_header(os, byte_view(node, 16), 0x2018); }),
       "---- (dir index) data ----\n" + at(node_lines, {"2018", "201c", "2020", "2024"})},
      {"node view cut before flags",
       text_of([&](std::ostream& os) { dump_index_header(os, byte_view(node, 12), 0); }),
       node_0.substr(0, node_0.find("(0x00c)"))},
      {"root pointer", text_of([&](std::ostream& os) { dump_index_root_header(os, root.data(), 0x90); }), root_90},
      {"root view", text_of([&](std::ostream& os) { dump_index_root_header(os, byte_view(root.data(), 16), 0x90); }),
       root_90},
      {"root view cut after rule",
       text_of([&](std::ostream& os) { dump_index_root_header(os, byte_view(root.data(), 11), 0x90); }),
       root_90.substr(0, root_90.find("(0x98)"))},
      {"INDX pointer",
       text_of([&](std::ostream& os) { dump_indx_header(os, r.data(), 0x2000); }),
       "(0x002000) keyword:                  INDX\n(0x002004) offset_sequence_array:    0x0028\n"
       "(0x002006) size_sequence_array:      0x0009\n(0x002008) log_sequence_number:      0x0000000000001234\n"
       "(0x002010) vcn_this_blk:             0x0000000000000002\n---- (dir index) data ----\n" +
           at(node_lines, {"2018", "201c", "2020", "2024"})},
  };
  for (const auto& c : cases) EXPECT_EQ(c.text, c.expected) << c.form;
}

// The bounded row form: any case of the index name, and no row for an entry
// shorter than its fields.
TEST(IndexReports, ViewRowFromAView) {
  const bytes sii = sii_entry();
  const std::string head = "SD ID (key), SD hash (key), SD ID (data),    $SDS offset,     $SDS size\n\n";
  EXPECT_EQ(text_of([&](std::ostream& os) {
              print_view_index_entry_line("$sii", os, byte_view(sii.data(), sii.size()), true);
            }),
            head + "0x00000100,  0xf80312f0,    0x00000100,   0x0000000000040080, 0x0000007c, \n");
  EXPECT_EQ(text_of([&](std::ostream& os) {
              print_view_index_entry_line("$SII", os, byte_view(sii.data(), 39), true);
              print_view_index_entry_line("$SII", os, byte_view(sii.data(), 1), true);
            }),
            head);
}

TEST(IndexReports, AttributeTypeNamesReplaceTheText) {
  const struct {
    int type;
    const char* name;
  } cases[] = {{0x10, "Standard Info Attrib"}, {0x40, "Oject ID Attrib"}, {0xA0, "Index Allocation Attrib"},
               {0xE0, "NTFS_EA"},  {0x100, "Logged Utility Stream Attrib"}, {-1, "NTFS_ATTRIBUTE_END_MARKER"},
               {0x45, "unk"},       {0, "unk"}};
  for (const auto& c : cases) {
    std::string out = "previous text";
    attribute_type_name(out, c.type);
    EXPECT_EQ(out, c.name) << c.type;
  }
}
