// Record reading: hand-built FILE records in an extracted $MFT file, and the
// fixture volumes checked against their listings.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/record_reader.h"
#include "ntfs/ntfs.h"
#include "tests/app/record_builder.h"
#include "tests/support/fixture.h"
#include "tests/support/listing.h"
#include "utils/utf_convert.h"

namespace {

using quor_test::open_as_mft_file;
using quor_test::record_builder;

ulong64 key(uint32 type, uint16 id) { return type | (static_cast<ulong64>(id) << 48); }

TEST(RecordReader, HandBuiltRecordsAreFixedUpWalkedAndFiledByKind) {
  const ulong64 t = 130000000000000000ull, day = 864000000000ull;
  std::string across(500, 's');
  across += "runs-across-the-sector-end";
  record_builder r0;
  r0.add(0x10, 0, u"", std::vector<byte>(72, 0));  // zero times
  r0.add_file_name(1, 5 | (5ull << 48), u"Readme.txt", 1, t);
  r0.add_file_name(2, 5 | (5ull << 48), u"README~1.TXT", 2, t + 2 * day);
  r0.add(0x80, 3, u"alt", std::vector<byte>(across.begin(), across.end()));
  r0.add(0x70, 4, u"", {0, 0, 0, 0, 0, 0, 0, 0, 3, 1, 0, 0});
  r0.add(0x1234, 5, u"", {1});
  record_builder r1(4096);  // a 4 KiB record: nine array entries
  std::string long_value(3500, 'a');
  long_value += "seventh-sector-end";
  r1.add(0x80, 1, u"", std::vector<byte>(long_value.begin(), long_value.end()));
  r1.add(0x70, 2, u"", {0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0});
  store_u32(&r1.rec[r1.next + 4], 0x10000);  // an attribute running past the record ends the walk
  r1.next += 24;
  std::vector<byte> good = r0.finish(), baad = good;
  std::memcpy(baad.data(), "BAAD", 4);
  user_ctx m;
  open_as_mft_file(m, {good, baad}, "kinds.mft");
  m.future_limit = t + day;

  inode_attributes rec;
  ASSERT_TRUE(read_inode(rec, m, 0));
  EXPECT_EQ(rec.si_records.at(0).note, "null");
  ASSERT_EQ(rec.filename_records.size(), 2u);
  EXPECT_EQ(rec.filename_records.begin()->second.name, L"Readme.txt");
  const filename_record& dos = std::next(rec.filename_records.begin())->second;
  EXPECT_TRUE(dos.dos_name);
  EXPECT_EQ(dos.note, "future");
  ASSERT_EQ(rec.parents.size(), 1u);
  EXPECT_EQ(rec.parents.at(5).name, L"Readme.txt");
  ASSERT_EQ(rec.names.size(), 1u);
  EXPECT_EQ(rec.names.begin()->first, L"readme.txt");
  const attribute_record& ads = rec.attributes.at(key(0x80, 3));
  EXPECT_EQ(ads.label, "ads");
  EXPECT_EQ(ads.name, L"alt");
  EXPECT_EQ(std::string(ads.raw.begin() + 32, ads.raw.begin() + 32 + across.size()), across);
  EXPECT_EQ(rec.attributes.at(key(0x70, 4)).text, "ver: 3:1 (WinXP)");
  EXPECT_EQ(rec.attributes.at(key(0xFFFFFFFF, 5)).label, "unk");

  std::wstring name;
  ulong64_set parents;
  bool is_dir = true;
  ASSERT_TRUE(get_inode_parents(name, parents, is_dir, 0, m));
  EXPECT_EQ(name, L"Readme.txt");
  EXPECT_EQ(parents, (ulong64_set{5 | (5ull << 48)}));
  EXPECT_FALSE(is_dir);

  std::vector<byte> bytes;
  bool is_baad = false;
  EXPECT_TRUE(read_source_record(bytes, is_baad, m, 1));
  EXPECT_TRUE(is_baad);
  EXPECT_FALSE(read_inode(rec, m, 1));

  user_ctx big;
  open_as_mft_file(big, {r1.finish()}, "big.mft");
  ASSERT_TRUE(read_inode(rec, big, 0));
  ASSERT_EQ(rec.attributes.size(), 2u);
  const std::vector<byte>& raw = rec.attributes.at(key(0x80, 1)).raw;
  EXPECT_EQ(std::string(raw.begin() + 24, raw.begin() + 24 + long_value.size()), long_value);
  EXPECT_EQ(rec.attributes.at(key(0x70, 2)).text, "ver: 2:0(Unk version)");
}

// Every file and folder of a fixture volume carries its listed name under
// its listed parent.
void check_volume_against_listing(const char* image) {
  std::string path = quor_test::fixture(image);
  if (path.empty()) GTEST_SKIP() << image << " not in the fixture kit";
  std::vector<quor_test::listing_entry> listing = quor_test::read_listing(image);
  std::map<std::string, ulong64> dirs{{"", 5}};
  for (const auto& e : listing)
    if (e.kind == 'd') dirs[e.path] = e.inode;
  CNtfs* engine = nullptr;
  ASSERT_TRUE(open_ntfs_image(path.c_str(), 0, engine, false, false));
  user_ctx ctx(engine, true);
  inode_attributes rec;
  ASSERT_FALSE(listing.empty());
  for (const auto& e : listing) {
    SCOPED_TRACE(e.path);
    size_t slash = e.path.rfind('/');
    ASSERT_TRUE(read_inode(rec, ctx, e.inode));
    EXPECT_EQ((rec.header[22] & 2) != 0, e.kind == 'd');
    EXPECT_EQ(rec.parents.count(dirs[e.path.substr(0, slash)]), 1u);
    bool named = false;
    for (const auto& kv : rec.filename_records)
      named = named || wstring_to_utf8(kv.second.name) == e.path.substr(slash + 1);
    EXPECT_TRUE(named);
  }
}

TEST(RecordReader, DefaultVolumeMatchesItsListing) { check_volume_against_listing("default.img"); }
TEST(RecordReader, FourKibRecordVolumeMatchesItsListing) { check_volume_against_listing("s4096.img"); }

}  // namespace
