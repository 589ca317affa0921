// Record reading: hand-built FILE records in an extracted $MFT file (fixups,
// attribute walk, what each kind files) and the fixture volumes checked
// against their listings.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/record_reader.h"
#include "app/user_ctx.h"
#include "ntfs/ntfs.h"
#include "tests/app/record_builder.h"
#include "tests/support/fixture.h"
#include "tests/support/listing.h"
#include "utils/byte_order.h"
#include "utils/file_handle.h"
#include "utils/utf_convert.h"

namespace {

using quor_test::record_builder;

const uint16 k_check = 0x0707;

// A context reading the given records as an extracted $MFT file.
struct mft_file_ctx {
  user_ctx ctx;
  explicit mft_file_ctx(const std::vector<std::vector<byte>>& records, const std::string& name) {
    std::string path = quor_test::scratch_dir() + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    for (const auto& r : records) std::fwrite(r.data(), 1, r.size(), f);
    std::fclose(f);
    ctx.mft_reader = new uni::file_handle(path, false, false);
    ctx.is_open = true;
  }
};

std::vector<byte> text_bytes(const std::string& s) { return std::vector<byte>(s.begin(), s.end()); }

ulong64 attr_key(uint32 type, uint16 id) { return type | (static_cast<ulong64>(id) << 48); }

TEST(RecordReader, AttributesOfAHandBuiltRecordAreFiledByKind) {
  const ulong64 day = 864000000000ull;
  record_builder r0(1024, 0x0001, 7);
  std::vector<byte> si(72, 0);
  store_u64(si.data(), 130000000000000000ull);  // created; the modify time stays 0
  r0.add_resident(0x10, 0, u"", si);
  r0.add_file_name(1, 5 | (5ull << 48), u"Readme.txt", 1, 130000000000000000ull);
  r0.add_file_name(2, 5 | (5ull << 48), u"README~1.TXT", 2, 130000000000000000ull + 400 * day);
  // A named stream whose value runs across the first sector end.
  std::string stream_text(500, 's');
  stream_text += "across-the-sector-end";
  r0.add_resident(0x80, 3, u"alt", text_bytes(stream_text));
  std::vector<byte> vi(12, 0);
  vi[8] = 3;
  vi[9] = 1;
  r0.add_resident(0x70, 4, u"", vi);
  r0.add_resident(0x1234, 5, u"", text_bytes("x"));

  record_builder r1(1024, 0x0001, 1);
  r1.mark_baad();

  record_builder r2(1024, 0x0001, 1);
  std::vector<byte> vi2(12, 0);
  vi2[8] = 2;
  r2.add_resident(0x70, 1, u"", vi2);
  r2.add_bogus_length(0x10000);  // runs past the record: the walk stops here

  mft_file_ctx m({r0.finish(k_check), r1.finish(k_check), r2.finish(k_check)}, "kinds.mft");
  m.ctx.future_limit = 130000000000000000ull + day;

  inode_attributes rec;
  ASSERT_TRUE(read_inode(rec, m.ctx, 0));
  EXPECT_EQ(rec.sequence, 7u);
  ASSERT_EQ(rec.si_records.size(), 1u);
  EXPECT_EQ(rec.si_records.begin()->second.note, "null");
  ASSERT_EQ(rec.filename_records.size(), 2u);
  const filename_record& win32 = rec.filename_records.begin()->second;
  const filename_record& dos = std::next(rec.filename_records.begin())->second;
  EXPECT_EQ(win32.name, L"Readme.txt");
  EXPECT_FALSE(win32.time_suspect);
  EXPECT_EQ(dos.name, L"README~1.TXT");
  EXPECT_TRUE(dos.dos_name);
  EXPECT_EQ(dos.note, "future");
  ASSERT_EQ(rec.parents.size(), 1u);
  EXPECT_EQ(rec.parents.begin()->first, 5u);
  EXPECT_EQ(rec.parents.begin()->second.reference, 5 | (5ull << 48));
  ASSERT_EQ(rec.names.size(), 1u);
  EXPECT_EQ(rec.names.begin()->first, L"readme.txt");

  auto ads = rec.attributes.find(attr_key(0x80, 3));
  ASSERT_NE(ads, rec.attributes.end());
  EXPECT_EQ(ads->second.label, "ads");
  EXPECT_TRUE(ads->second.is_ads);
  EXPECT_EQ(ads->second.name, L"alt");
  const std::vector<byte>& raw = ads->second.raw;
  ASSERT_GE(raw.size(), 24u);
  std::string value(raw.begin() + load_u16(raw.data() + 20), raw.end());
  EXPECT_EQ(value.substr(0, stream_text.size()), stream_text);
  auto vol = rec.attributes.find(attr_key(0x70, 4));
  ASSERT_NE(vol, rec.attributes.end());
  EXPECT_EQ(vol->second.text, "ver: 3:1 (WinXP)");
  EXPECT_NE(rec.attributes.find(attr_key(0xFFFFFFFF, 5)), rec.attributes.end());

  std::vector<byte> bytes;
  bool baad = false;
  EXPECT_TRUE(read_source_record(bytes, baad, m.ctx, 1));
  EXPECT_TRUE(baad);
  EXPECT_FALSE(read_inode(rec, m.ctx, 1));

  ASSERT_TRUE(read_inode(rec, m.ctx, 2));
  ASSERT_EQ(rec.attributes.size(), 1u);
  EXPECT_EQ(rec.attributes.begin()->second.text, "ver: 2:0(Unk version)");

  std::wstring name;
  ulong64_set parents;
  bool is_dir = true;
  ASSERT_TRUE(get_inode_parents(name, parents, is_dir, 0, m.ctx));
  EXPECT_EQ(name, L"Readme.txt");
  EXPECT_EQ(parents, (ulong64_set{5 | (5ull << 48)}));
  EXPECT_FALSE(is_dir);
}

TEST(RecordReader, FourKibRecordsAreFixedUpInEverySector) {
  record_builder r0(4096, 0x0003, 1);
  std::string text(3500, 'a');
  text += "seventh-sector-end-is-in-here";
  text += std::string(200, 'b');
  r0.add_resident(0x80, 1, u"", text_bytes(text));
  mft_file_ctx m({r0.finish(k_check)}, "big.mft");

  inode_attributes rec;
  ASSERT_TRUE(read_inode(rec, m.ctx, 0));
  auto data = rec.attributes.find(attr_key(0x80, 1));
  ASSERT_NE(data, rec.attributes.end());
  const std::vector<byte>& raw = data->second.raw;
  std::string stored(raw.begin() + 24, raw.begin() + 24 + static_cast<long>(text.size()));
  EXPECT_EQ(stored, text);
  EXPECT_EQ(data->second.label, "unnamed data");
  EXPECT_EQ(load_u16(rec.header + 22) & 2, 2);
}

// Every file and folder of a fixture volume is read and carries its listed
// name under its listed parent.
void check_volume_against_listing(const char* image) {
  std::string path = quor_test::fixture(image);
  if (path.empty()) GTEST_SKIP() << image << " not in the fixture kit";
  std::vector<quor_test::listing_entry> listing = quor_test::read_listing(image);
  ASSERT_FALSE(listing.empty());
  std::map<std::string, ulong64> dirs{{"", 5}};
  for (const auto& e : listing)
    if (e.kind == 'd') dirs[e.path] = e.inode;

  CNtfs* engine = nullptr;
  ASSERT_TRUE(open_ntfs_image(path.c_str(), 0, engine, false, false));
  user_ctx ctx(engine, true);
  inode_attributes rec;
  for (const auto& e : listing) {
    SCOPED_TRACE(e.path);
    size_t slash = e.path.rfind('/');
    std::string parent_path = e.path.substr(0, slash);
    std::string name = e.path.substr(slash + 1);
    ASSERT_TRUE(read_inode(rec, ctx, e.inode));
    if (e.sequence) {
      EXPECT_EQ(rec.sequence, e.sequence);
    }
    EXPECT_EQ((load_u16(rec.header + 22) & 2) != 0, e.kind == 'd');
    EXPECT_EQ(rec.parents.count(dirs[parent_path]), 1u);
    bool named = false;
    for (const auto& kv : rec.filename_records) named = named || wstring_to_utf8(kv.second.name) == name;
    EXPECT_TRUE(named);
  }
}

TEST(RecordReader, DefaultVolumeMatchesItsListing) { check_volume_against_listing("default.img"); }
TEST(RecordReader, FourKibRecordVolumeMatchesItsListing) { check_volume_against_listing("s4096.img"); }

}  // namespace
