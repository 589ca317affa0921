// Record reading: hand-built FILE records in an extracted $MFT file, and a
// record split over two $MFT runs. Whole kit volumes are read end to end
// (end_to_end_test.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/record_reader.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "tests/app/mft_runs_rewrite.h"
#include "tests/app/record_builder.h"
#include "tests/support/fixture.h"

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

// 512-byte clusters hold half a 1 KiB record: an $MFT split after an odd
// number of clusters has a record whose halves lie in two runs. The second
// run is moved elsewhere and its old place filled with other bytes, so that a
// record read in one piece from its first cluster comes out wrong.
TEST(RecordReader, RecordSpanningTwoMftRunsIsReadFromBoth) {
  if (quor_test::fixture("c512.img").empty()) GTEST_SKIP() << "c512.img not in the fixture kit";
  const std::string path = quor_test::copy_fixture("c512.img", "c512-split.img");
  CNtfs* engine = nullptr;
  ASSERT_TRUE(open_ntfs_image(path.c_str(), 0, engine, false, false));
  ASSERT_EQ(engine->m_cluster_size, 512u);
  ASSERT_EQ(engine->m_mft_stats.data_runs.size(), 1u);
  const ulong64 lcn = engine->m_mft_stats.data_runs[0].lcn;
  const ulong64 clusters = engine->m_mft_stats.data_runs[0].num_clusters;
  const ulong64 mft_pos = engine->m_mft_file_pos;
  const ulong64 count = engine->get_inode_count();
  const ulong64 total = engine->m_total_clusters;
  std::vector<std::vector<byte>> expected(count);
  for (ulong64 i = 0; i < count; ++i) {
    bool torn = false;
    ASSERT_TRUE(engine->read_mft_record_to_vector(expected[i], torn, i)) << i;
  }
  delete engine;
  const ulong64 split = 2 * 24 + 1;  // record 24 straddles the runs
  ASSERT_GT(count, 30u);
  ASSERT_GT(clusters, split + 8);

  // The moved run goes to the highest stretch of zero clusters that fits.
  const ulong64 moved = clusters - split;
  std::vector<byte> tail(static_cast<size_t>(moved * 512));
  ulong64 to = total - 2 - moved;
  for (;; to -= moved) {
    ASSERT_GT(to, lcn + clusters);
    quor_test::read_at(path, to * 512, tail);
    if (std::all_of(tail.begin(), tail.end(), [](byte b) { return b == 0; })) break;
  }
  quor_test::read_at(path, (lcn + split) * 512, tail);
  quor_test::write_at(path, to * 512, tail);
  quor_test::write_at(path, (lcn + split) * 512, std::vector<byte>(tail.size(), 0xEE));
  ASSERT_TRUE(quor_test::rewrite_mft_runs(path, mft_pos, {{split, lcn}, {moved, to}}, 0));
  quor_test::read_at(path, mft_pos, expected[0]);  // record 0 holds the new runs
  apply_update_sequence(expected[0].data(), 1024);

  ASSERT_TRUE(open_ntfs_image(path.c_str(), 0, engine, false, false));
  ASSERT_EQ(engine->m_mft_stats.data_runs.size(), 2u);
  user_ctx ctx(engine, true);
  for (ulong64 i = 0; i < count; ++i) {
    std::vector<byte> bytes;
    bool is_baad = false;
    ASSERT_TRUE(read_source_record(bytes, is_baad, ctx, i)) << i;
    EXPECT_TRUE(bytes == expected[i]) << i;
  }
  // The record's first cluster followed by the next one on disk is not it.
  std::vector<byte> contiguous(1024);
  quor_test::read_at(path, (lcn + split - 1) * 512, contiguous);
  EXPECT_NE(load_u32(&contiguous[1020]), load_u32(&expected[24][1020]));
}

}  // namespace
