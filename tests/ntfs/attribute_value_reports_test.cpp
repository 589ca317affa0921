// Attribute value reports against goldens written from the report rules, and
// damaged values whose lengths and offsets point past their bytes.
#include "ntfs/attribute_value_reports.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/engine.h"
#include "tests/support/fixture.h"
#include "tests/support/istat.h"
#include "utils/byte_order.h"

namespace {

typedef std::vector<byte> bytes;

// 2020-01-02 03:04:05.678 and 2010-01-01 00:00:00 UTC.
const uint64 k_time1 = 0x01d5c1194b2b74e0ULL;
const uint64 k_time2 = 0x01ca8a755c6e0000ULL;
const std::string k_text1 = "0x01d5c1194b2b74e0, ( 01/02/20 03:04:05.678 ) \n";
const std::string k_text2 = "0x01ca8a755c6e0000, ( 01/01/10 00:00:00.000 ) \n";
const std::string k_zero = "0x0000000000000000, ( 00/00/00 00:00:00 ) \n";

void put_name(bytes& b, size_t at, const std::u16string& name) {
  for (size_t i = 0; i < name.size(); ++i) store_u16(&b[at + 2 * i], name[i]);
}

bytes standard_information(size_t size) {
  bytes v(72, 0);
  store_u64(&v[0], k_time1);
  store_u64(&v[16], k_time2);
  store_u32(&v[32], 0x21);
  store_u32(&v[36], 3);
  store_u32(&v[52], 0x102);
  v.resize(size);
  return v;
}

bytes file_name(uint8 units, uint8 space, const std::u16string& name) {
  bytes v(66 + 2 * name.size(), 0);
  store_u64(&v[0], 0x0005000000000005ULL);
  store_u64(&v[8], k_time1);
  store_u64(&v[24], k_time2);
  store_u64(&v[40], 0x1000);
  store_u64(&v[48], 0x123);
  store_u32(&v[56], 0x10000000);
  v[64] = units;
  v[65] = space;
  put_name(v, 66, name);
  return v;
}

bytes guid(byte first) {
  bytes g(16);
  for (int i = 0; i < 16; ++i) g[i] = static_cast<byte>(first + i);
  return g;
}

template <typename F>
std::string text_of(F f) {
  std::ostringstream os;
  f(os);
  return os.str();
}

}  // namespace

TEST(AttributeValueReports, StandardInformation) {
  const std::string common = "---- data ----\n(0x00) time file creation:  " + k_text1 +
                             "(0x08) time file altered:   " + k_zero + "(0x10) time mft changed:    " + k_text2 +
                             "(0x18) time file accessed:  " + k_zero +
                             "(0x20) file attributes:     0x00000021, READ_ONLY, ARCHIVE\n"
                             "(0x24) max versions:        0x00000003\n"
                             "(0x28) version num:         0x00000000\n"
                             "(0x2c) class id:            0x00000000\n";
  const bytes v72 = standard_information(72);
  EXPECT_EQ(text_of([&](std::ostream& os) { dump_standard_information(os, v72.data()); }), common);
  EXPECT_EQ(text_of([&](std::ostream& os) { dump_standard_information(os, v72.data(), 0, 72); }),
            common +
                "(0x30) $Quota:$O key:       0x00000000\n"
                "(0x34) $Secure:$SII key:    0x00000102\n"
                "(0x38) quota charged:       0x0000000000000000\n"
                "(0x40) UsnJrnl index num:   0x0000000000000000\n");
  // A value that ends inside the fields, optional or not, shows those that fit.
  const bytes v60 = standard_information(60);
  EXPECT_EQ(text_of([&](std::ostream& os) { dump_standard_information(os, v60.data(), 0, 60); }),
            common + "(0x30) $Quota:$O key:       0x00000000\n(0x34) $Secure:$SII key:    0x00000102\n");
  const bytes v20 = standard_information(20);
  EXPECT_EQ(text_of([&](std::ostream& os) { dump_standard_information(os, v20.data(), 0x100, 20); }),
            "---- data ----\n(0x100) time file creation:  " + k_text1 + "(0x108) time file altered:   " + k_zero);
  EXPECT_EQ(text_of([&](std::ostream& os) { print_mace_times(os, v72.data()); }),
            "MACE times: 00/00/00 00:00:00, 00/00/00 00:00:00, 01/02/20 03:04:05.678, 01/01/10 00:00:00.000\n"
            "file attributes: READ_ONLY, ARCHIVE\n");
}

TEST(AttributeValueReports, FileName) {
  const std::string fixed = "---- data ----\n"
                            "(0x00) parent_inode:        0x000000000005 (5)\n"
                            "(0x06) sequence_num:        0x0005\n"
                            "(0x08) time_file_creation:  " + k_text1 +
                            "(0x10) time_file_altered:   " + k_zero + "(0x18) time_mft_changed:    " + k_text2 +
                            "(0x20) time_file_accessed:  " + k_zero +
                            "(0x28) size_file_allocated: 0x0000000000001000\n"
                            "(0x30) size_file_real:      0x0000000000000123\n"
                            "(0x38) file attributes:     0x10000000, DIRECTORY\n"
                            "(0x3c) ea_or_reparse:       0x00000000\n";
  const bytes named = file_name(2, 1, u"a\u00e9");
  EXPECT_EQ(text_of([&](std::ostream& os) { dump_file_name_attribute(os, named.data()); }),
            fixed + "(0x40) size_filename:       0x02\n(0x41) filename_flags:      0x01 (long filename)\n"
                    "(0x42) filename:            a\xc3\xa9\n");
  const bytes unnamed = file_name(0, 0, u"");
  EXPECT_EQ(text_of([&](std::ostream& os) { dump_file_name_attribute(os, unnamed.data()); }),
            fixed + "(0x40) size_filename:       0x00\n(0x41) filename_flags:      0x00\n(0x42) ");
  // A name length past the value: the name is cut to the value's bytes.
  const bytes long_claim = file_name(200, 3, u"xy");
  EXPECT_EQ(text_of([&](std::ostream& os) {
              dump_file_name_attribute(os, byte_view(long_claim.data(), long_claim.size()), 0);
            }),
            fixed + "(0x40) size_filename:       0xc8\n(0x41) filename_flags:      0x03 (normal filename)\n"
                    "(0x42) filename:            xy\n");
  EXPECT_EQ(text_of([&](std::ostream& os) { dump_file_name_attribute(os, byte_view(named.data(), 7), 0x10); }),
            "---- data ----\n(0x10) parent_inode:        0x000000000005 (5)\n");
}

TEST(AttributeValueReports, ObjectId) {
  bytes v;
  for (byte first : {0x00, 0x10, 0x20, 0x30}) {
    const bytes g = guid(first);
    v.insert(v.end(), g.begin(), g.end());
  }
  const std::string g0 = "{ 03020100-0504-0706-0809-0a0b0c0d0e0f }";
  EXPECT_EQ(text_of([&](std::ostream& os) { dump_object_id(os, v.data(), 15, 0); }), "");
  EXPECT_EQ(text_of([&](std::ostream& os) { dump_object_id(os, v.data(), 16, 0); }),
            "---- data ----\n(0x00) object_id:           " + g0 + "\n");
  EXPECT_EQ(text_of([&](std::ostream& os) { dump_object_id(os, v.data()); }),
            "---- data ----\n(0x00) object_id:           " + g0 +
                "\n(0x10) birth_vol_id:        { 13121110-1514-1716-1819-1a1b1c1d1e1f }"
                "\n(0x20) birth_object_id:     { 23222120-2524-2726-2829-2a2b2c2d2e2f }"
                "\n(0x30) domain_id:           { 33323130-3534-3736-3839-3a3b3c3d3e3f }\n");
  EXPECT_EQ(text_of([&](std::ostream& os) { print_object_id_short(os, v.data(), 63); }), "obj id: " + g0 + "\n");
}

TEST(AttributeValueReports, VolumeInformation) {
  struct {
    byte major, minor;
    uint16 flags;
    std::string expected;
  } cases[] = {
      {3, 1, 0x8001,
       "---- data ----\n(0x00) unk1:                0x00000000\n(0x04) unk2:                0x00000000\n"
       "(0x08) major_ver:           0x03\n(0x09) minor_ver:           0x01\n"
       "(0x0a) flags:               0x8001 (dirty) (modified by chkdsk)\nmajor:minor ver = 3:1 (WinXP)\n"},
      {2, 0, 0,
       "---- data ----\n(0x00) unk1:                0x00000000\n(0x04) unk2:                0x00000000\n"
       "(0x08) major_ver:           0x02\n(0x09) minor_ver:           0x00\n"
       "(0x0a) flags:               0x0000\nmajor:minor ver = 2:0 (unk version)\n"},
  };
  for (const auto& c : cases) {
    bytes v(12, 0);
    v[8] = c.major;
    v[9] = c.minor;
    store_u16(&v[10], c.flags);
    EXPECT_EQ(text_of([&](std::ostream& os) { dump_volume_information(os, v.data()); }), c.expected);
  }
  const bytes nt = {0, 0, 0, 0, 0, 0, 0, 0, 1, 2};
  EXPECT_EQ(text_of([&](std::ostream& os) { print_ntfs_version(os, nt.data()); }), "ver = 1:2 (WinNT)\n");
}

TEST(AttributeValueReports, ReparsePoint) {
  // A target \??\C: after two zero units, and the print name C: that
  // the same shift of 4 bytes finds at 36.
  bytes v(40, 0);
  store_u32(&v[0], 0xA000000C);
  store_u16(&v[4], static_cast<uint16>(v.size() - 8));
  store_u16(&v[8], 0);
  store_u16(&v[10], 12);
  store_u16(&v[12], 16);
  store_u16(&v[14], 4);
  put_name(v, 20, u"\\??\\C:");
  put_name(v, 36, u"C:");
  const std::string header = "---- data ----\n"
                             "(0x00) type_and_flag:       0xa000000c\n"
                             "(0x04) size_data:           0x0020\n"
                             "(0x06) pad:                 0x0000\n"
                             "(0x08) offset_target_name:  0x0000\n"
                             "(0x0a) size_target_name:    0x000c\n"
                             "(0x0c) offset_print_name:   0x0010\n"
                             "(0x0e) size_print_name:     0x0004\n"
                             "---- symbolic link ----\n";
  EXPECT_EQ(text_of([&](std::ostream& os) { dump_reparse_point(os, v.data()); }),
            header +
                "(0x14) target name:         \\??\\C:\n"
                "(0x24) print name:          C:\n"
                "----  raw data ----\n"
                "0000 0010:  00 00 00 00 5c 00 3f 00  3f 00 5c 00 43 00 3a 00  ....\\.?.?.\\.C.:.\n"
                "0000 0020:  00 00 " + std::string(44, ' ') + "..\n");
  EXPECT_EQ(text_of([&](std::ostream& os) { print_reparse_print_name(os, v.data()); }), "C:\n");

  // Offsets and lengths past the value: the names and the raw bytes are cut.
  bytes bad = v;
  store_u16(&bad[8], 0x4000);
  store_u16(&bad[12], 0x04);
  store_u16(&bad[14], 0x7FFE);
  const std::string cut =
      text_of([&](std::ostream& os) { dump_reparse_point(os, byte_view(bad.data(), bad.size()), 0); });
  EXPECT_NE(cut.find("(0x4010) target name:         \n(0x14) print name:          \\??\\C:\n"), std::string::npos)
      << cut;
  EXPECT_NE(cut.find("\n0000 0020:  00 00 00 00 43 00 3a 00 " + std::string(26, ' ') + "....C.:.\n"),
            std::string::npos)
      << cut;
}

// A symbolic link keeps its flags word before the names, which start at 20:
// a relative link (flags 1), and an absolute one (flags 0) whose print name
// comes first.
TEST(AttributeValueReports, LinkNamesFollowItsFlagsWord) {
  bytes rel(40, 0);
  store_u32(&rel[0], 0xA000000C);
  store_u16(&rel[4], static_cast<uint16>(rel.size() - 8));
  store_u16(&rel[10], 8);
  store_u16(&rel[12], 8);
  store_u16(&rel[14], 6);
  store_u32(&rel[16], 1);
  put_name(rel, 20, u"..\\a");
  put_name(rel, 28, u"b\\c");
  EXPECT_EQ(text_of([&](std::ostream& os) { print_reparse_print_name(os, rel.data()); }), "b\\c\n");
  const std::string rel_dump = text_of([&](std::ostream& os) { dump_reparse_point(os, rel.data()); });
  EXPECT_NE(rel_dump.find("(0x14) target name:         ..\\a\n(0x1c) print name:          b\\c\n"),
            std::string::npos)
      << rel_dump;

  bytes abs(44, 0);
  store_u32(&abs[0], 0xA000000C);
  store_u16(&abs[4], static_cast<uint16>(abs.size() - 8));
  store_u16(&abs[8], 8);    // target after the print name
  store_u16(&abs[10], 16);
  store_u16(&abs[14], 8);
  put_name(abs, 20, u"C:\\a");
  put_name(abs, 28, u"\\??\\C:\\a");
  EXPECT_EQ(text_of([&](std::ostream& os) { print_reparse_print_name(os, abs.data()); }), "C:\\a\n");
  const std::string abs_dump = text_of([&](std::ostream& os) { dump_reparse_point(os, abs.data()); });
  EXPECT_NE(abs_dump.find("(0x1c) target name:         \\??\\C:\\a\n(0x14) print name:          C:\\a\n"),
            std::string::npos)
      << abs_dump;
}

TEST(AttributeValueReports, AttributeList) {
  bytes v(64, 0);
  store_u32(&v[0], 0x10);
  store_u16(&v[4], 32);
  store_u64(&v[16], 0x0001000000000010ULL);
  store_u32(&v[32], 0x80);
  store_u16(&v[36], 32);
  v[38] = 2;
  v[39] = 26;
  store_u16(&v[32 + 24], 3);
  put_name(v, 32 + 26, u"ab");
  const std::string first = "---- data ----\n"
                            "(0x100) type:               0x00000010 (Standard Info Attrib)\n"
                            "(0x104) size_record:        0x0020\n"
                            "(0x106) size_name:          0x00\n"
                            "(0x107) offset_name:        0x00\n"
                            "(0x108) startingVCN:        0x0000000000000000\n"
                            "(0x110) inode w/ attrib:    0x000000000010 (16)\n"
                            "(0x116) sequence_num:       0x0001\n"
                            "(0x118) attribute_id:       0x0000\n"
                            "(0x11a) unk0:               0x0\n"
                            "(0x11c) unk1:               0x0\n"
                            "(0x11e) unk2:               0x0\n";
  const std::string second = "---- data ----\n"
                             "(0x120) type:               0x00000080 (Data Attrib)\n"
                             "(0x124) size_record:        0x0020\n"
                             "(0x126) size_name:          0x02\n"
                             "(0x127) offset_name:        0x1a\n"
                             "(0x128) startingVCN:        0x0000000000000000\n"
                             "(0x130) inode w/ attrib:    0x000000000000 (0)\n"
                             "(0x136) sequence_num:       0x0000\n"
                             "(0x138) attribute_id:       0x0003\n"
                             "(0x13a) name:               ab\n";
  EXPECT_EQ(text_of([&](std::ostream& os) { dump_attribute_list(os, v.data(), 0x100, 64); }), first + second);
  bytes big(1024, 0);
  EXPECT_EQ(text_of([&](std::ostream& os) { dump_attribute_list(os, big.data(), 0, 1024); }), "");
  // A length of 0 ends the list after its entry; a length past the list
  // ends it too, and the name is cut to the list.
  bytes damaged = v;
  store_u16(&damaged[4], 0);
  EXPECT_EQ(text_of([&](std::ostream& os) { dump_attribute_list(os, damaged.data(), 0x100, 64); }),
            first.substr(0, first.find("(0x11a)")) .replace(first.find("0x0020"), 6, "0x0000"));
  bytes long_name = v;
  store_u16(&long_name[36], 0x300);
  long_name[38] = 0xFF;
  const std::string out = text_of([&](std::ostream& os) { dump_attribute_list(os, long_name.data(), 0x100, 64); });
  EXPECT_NE(out.find("(0x13a) name:               ab\n"), std::string::npos) << out;
}

// The based, bounded and two-argument forms beside the ones above: each
// shows the same fields, at positions from its base, and reads only the
// bytes it is given.
TEST(AttributeValueReports, EveryForm) {
  const bytes si = standard_information(48);
  const std::string mace = "MACE times: 00/00/00 00:00:00, 00/00/00 00:00:00, 01/02/20 03:04:05.678, "
                           "01/01/10 00:00:00.000\nfile attributes: READ_ONLY, ARCHIVE\n";
  const bytes named = file_name(2, 3, u"ab");
  bytes vol(12, 0);
  vol[8] = 3;
  store_u16(&vol[10], 0x20);
  const std::string vol_200 = "---- data ----\n(0x200) unk1:                0x00000000\n"
                              "(0x204) unk2:                0x00000000\n(0x208) major_ver:           0x03\n"
                              "(0x209) minor_ver:           0x00\n(0x20a) flags:               0x0020 (repair object ids)\n"
                              "major:minor ver = 3:0 (Win2k)\n";
  // A target name "a" and a print name "b" right after it.
  bytes rp(28, 0);
  store_u32(&rp[0], 0xA0000003);
  store_u16(&rp[4], 20);
  store_u16(&rp[10], 2);
  store_u16(&rp[12], 2);
  store_u16(&rp[14], 2);
  put_name(rp, 16, u"ab");
  const bytes g = guid(0x40);
  struct {
    const char* form;
    std::string text, expected;
  } cases[] = {
      {"MACE view", text_of([&](std::ostream& os) { print_mace_times(os, byte_view(si.data(), 36)); }), mace},
      {"MACE view too short", text_of([&](std::ostream& os) { print_mace_times(os, byte_view(si.data(), 35)); }), ""},
      {"$FILE_NAME based",
       text_of([&](std::ostream& os) { dump_file_name_attribute(os, named.data(), 0x50); }).substr(15, 47),
       "(0x50) parent_inode:        0x000000000005 (5)\n"},
      {"$FILE_NAME name line",
       [&] {
         const std::string t = text_of([&](std::ostream& os) { dump_file_name_attribute(os, named.data(), 0x50); });
         return t.substr(t.rfind("(0x"));
       }(),
       "(0x92) filename:            ab\n"},
      {"GUID", text_of([&](std::ostream& os) { print_guid(os, g.data()); }),
       "{ 43424140-4544-4746-4849-4a4b4c4d4e4f }"},
      {"volume pointer", text_of([&](std::ostream& os) { dump_volume_information(os, vol.data(), 0x200); }), vol_200},
      {"volume view", text_of([&](std::ostream& os) { dump_volume_information(os, byte_view(vol.data(), 12), 0x200); }),
       vol_200},
      {"volume view cut", text_of([&](std::ostream& os) { dump_volume_information(os, byte_view(vol.data(), 9), 0x200); }),
       vol_200.substr(0, vol_200.find("(0x209)"))},
      {"version view", text_of([&](std::ostream& os) { print_ntfs_version(os, byte_view(vol.data(), 10)); }),
       "ver = 3:0 (Win2k)\n"},
      {"version view cut", text_of([&](std::ostream& os) { print_ntfs_version(os, byte_view(vol.data(), 9)); }), ""},
      {"reparse based", text_of([&](std::ostream& os) { dump_reparse_point(os, rp.data(), 0x100); }),
       "---- data ----\n(0x100) type_and_flag:       0xa0000003\n(0x104) size_data:           0x0014\n"
       "(0x106) pad:                 0x0000\n(0x108) offset_target_name:  0x0000\n"
       "(0x10a) size_target_name:    0x0002\n(0x10c) offset_print_name:   0x0002\n"
       "(0x10e) size_print_name:     0x0002\n---- symbolic link ----\n(0x110) target name:         a\n"
       "(0x112) print name:          b\n----  raw data ----\n0000 0110:  61 00 62 00 00 00 " +
           std::string(32, ' ') + "a.b...\n"},
      {"print name view", text_of([&](std::ostream& os) { print_reparse_print_name(os, byte_view(rp.data(), 28)); }),
       "b\n"},
      {"print name view cut", text_of([&](std::ostream& os) { print_reparse_print_name(os, byte_view(rp.data(), 19)); }),
       "\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.text, c.expected) << c.form;
}

// The attribute-list report over the list of
// runlist.img's /frag/a.bin as icat reads it: the entries istat lists, in
// its order, each with its type, the record holding it and its first VCN.
TEST(AttributeValueReports, AttributeListOfAKitFileAsIstatListsIt) {
  if (!quor_test::have_program("istat") || !quor_test::have_program("icat")) GTEST_SKIP() << "istat or icat missing";
  const std::string image = quor_test::fixture("runlist.img");
  const ulong64 entry = quor_test::listed_inode("runlist.img", "/frag/a.bin");
  std::string list;
  ASSERT_EQ(quor_test::run_command("icat " + image + " " + std::to_string(entry) + "-32", list), 0);
  ASSERT_GE(list.size(), 64u);
  const bytes value(list.begin(), list.end());
  std::ostringstream os;
  dump_attribute_list(os, value.data(), 0, static_cast<uint32>(value.size()));
  std::vector<std::string> ours, theirs;
  std::istringstream lines(os.str());
  std::string line, type;
  unsigned long long number = 0;
  while (std::getline(lines, line)) {
    const std::string field = line.substr(std::min(line.size(), line.find(") ") + 2));
    if (std::sscanf(field.c_str(), "type: 0x%llx", &number) == 1) type = std::to_string(number);
    if (std::sscanf(field.c_str(), "startingVCN: 0x%llx", &number) == 1) ours.push_back(std::to_string(number));
    if (std::sscanf(field.c_str(), "inode w/ attrib: 0x%llx", &number) == 1 && !ours.empty())
      ours.back() = type + " " + std::to_string(number) + " " + ours.back();
  }
  for (const auto& e : quor_test::istat_list_entries(quor_test::istat_report(image, entry)))
    theirs.push_back(std::to_string(e.type) + " " + std::to_string(e.holder) + " " + std::to_string(e.vcn));
  EXPECT_GE(ours.size(), 4u);
  EXPECT_EQ(ours, theirs);
}
