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
#include "tests/support/engine.h"
#include "tests/support/fixture.h"
#include "tests/support/istat.h"

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

// The last record of an extracted $MFT that ends 16 bytes short of it: the
// name that crosses a sector end is read as it was written, and the
// attribute the cut runs through is not filed.
TEST(RecordReader, RecordCutShortIsFixedUpAsFarAsItGoes) {
  const ulong64 t = 130000000000000000ull;
  record_builder whole(4096);
  whole.add(0x10, 0, u"", std::vector<byte>(72, 0));
  whole.add(0x80, 1, u"", std::vector<byte>(400, 'x'));
  std::u16string name;
  for (int i = 0; i < 250; ++i) name += static_cast<char16_t>(u'a' + i % 26);
  whole.add_file_name(2, 5 | (5ull << 48), name, 1, t);
  ASSERT_GT(whole.next, 1024u);
  // Named "cut" (32 bytes of header and name), it ends where the end marker starts.
  whole.add(0x80, 3, u"cut", std::vector<byte>(4096 - 8 - whole.next - 32, 'y'));
  ASSERT_EQ(whole.next, 4096u - 8);
  std::vector<byte> cut = whole.finish();
  cut.resize(4096 - 16);
  user_ctx m;
  open_as_mft_file(m, {whole.finish(), cut}, "cut.mft");

  inode_attributes rec;
  ASSERT_TRUE(read_inode(rec, m, 1));
  ASSERT_EQ(rec.filename_records.size(), 1u);
  EXPECT_TRUE(rec.filename_records.begin()->second.name == std::wstring(name.begin(), name.end()));
  EXPECT_EQ(rec.parents.size(), 1u);
  EXPECT_EQ(rec.attributes.count(key(0x80, 1)), 1u);
  EXPECT_EQ(rec.attributes.count(key(0x80, 3)), 0u);
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

// The header, the deleted-entry filter and the filing of single attributes,
// called on their own as the directory walker calls them.
TEST(RecordReader, HeaderFilterAndSingleAttributesOnTheirOwn) {
  record_builder b;
  const uint32 named = b.resident(0x80, {1, 2, 3}, u"alt", 7);
  const uint32 list = b.resident(0x20, std::vector<byte>(32, 0), u"", 8);
  const uint32 runs = b.non_resident(0x80, {0x21, 0x04, 0x34, 0x12, 0x11, 0x02, 0x10}, 6 * 4096);
  std::vector<byte> r = b.done();
  store_u16(&r[FRH_SEQUENCE], 9);
  store_u16(&r[FRH_NEXT_ATTRIBUTE_ID], 11);
  store_u64(&r[FRH_BASE_RECORD], 42 | (3ull << 48));

  inode_attributes rec;
  EXPECT_EQ(rec.set_record_header(77, r.data()), 0x38u);
  EXPECT_EQ(rec.entry, 77u);
  EXPECT_EQ(rec.sequence, 9u);
  EXPECT_EQ(rec.next_attr_id, 11u);
  EXPECT_TRUE(rec.has_base_record);
  EXPECT_EQ(rec.base_record, 42 | (3ull << 48));
  EXPECT_EQ(std::memcmp(rec.header, r.data(), 40), 0);
  store_u64(&r[FRH_BASE_RECORD], 0);  // no base record: the earlier one stays
  rec.set_record_header(78, r.data());
  EXPECT_TRUE(rec.has_base_record);
  EXPECT_EQ(rec.base_record, 42 | (3ull << 48));

  struct {
    uint16 flags;
    bool filter, passes;
  } rows[] = {{0, false, true}, {1, false, true}, {0, true, true}, {1, true, false},
              {2, true, true},  {3, true, false}, {3, false, true}};
  for (const auto& row : rows) {
    store_u16(&r[FRH_FLAGS], row.flags);
    rec.set_record_header(1, r.data());
    user_ctx ctx;
    ctx.filter_deleted_files = row.filter;
    EXPECT_EQ(rec.passes_deleted_filter(ctx), row.passes) << row.flags << " " << row.filter;
  }

  user_ctx ctx;
  inode_attributes one;
  bool is_list = true;
  ASSERT_TRUE(one.parse_attribute(ctx, 1, r.data(), 1024, &r[named], is_list));
  EXPECT_FALSE(is_list);
  const attribute_record& ads = one.attributes.at(key(0x80, 7));
  EXPECT_EQ(ads.label, "ads");
  EXPECT_TRUE(ads.is_ads && ads.is_data);
  EXPECT_EQ(ads.name, L"alt");
  ASSERT_TRUE(one.parse_attribute(ctx, 1, r.data(), 1024, &r[list], is_list));
  EXPECT_TRUE(is_list);
  // A header that runs past the bytes handed over is not filed.
  EXPECT_FALSE(one.parse_attribute(ctx, 1, r.data(), named + 20, &r[named], is_list));
  EXPECT_FALSE(one.parse_attribute(ctx, 1, r.data(), named + 30, &r[named], is_list));
  EXPECT_EQ(one.attributes.size(), 1u);

  // A record keeps the whole attribute; a non-resident one its runs as well:
  // 4 clusters at 0x1234, then 2 clusters 0x10 further on.
  const uint32 resident_length = load_u32(&r[named + 4]);
  attribute_record kept(&r[named], resident_length);
  EXPECT_TRUE(std::equal(kept.raw.begin(), kept.raw.end(), r.begin() + named));
  EXPECT_EQ(kept.raw.size(), resident_length);
  EXPECT_TRUE(kept.runs.empty());
  attribute_record mapped(&r[runs], load_u32(&r[runs + 4]));
  ASSERT_EQ(mapped.runs.size(), 2u);
  EXPECT_EQ(mapped.runs[0].lcn, 0x1234u);
  EXPECT_EQ(mapped.runs[0].num_clusters, 4u);
  EXPECT_EQ(mapped.runs[1].lcn, 0x1244u);
  EXPECT_EQ(mapped.runs[1].vcn, 4u);
  EXPECT_EQ(mapped.runs[1].num_clusters, 2u);
  EXPECT_TRUE(attribute_record(&r[named], 12).raw.empty());
}

// A record built from an attribute's header alone takes the attribute as
// long as the header says: the runs of a fragmented and of a sparse $DATA
// give the clusters istat lists (the sparse file's base record holds its
// first VCNs only); a damaged length gives an empty record without a read
// past the header.
TEST(RecordReader, AttributeRecordFromItsHeaderAlone) {
  if (!quor_test::have_program("istat")) GTEST_SKIP() << "istat not installed";
  const struct {
    const char* image;
    const char* path;
    bool whole;  // the base record holds the whole run list
  } cases[] = {{"default.img", "/frag/a.bin", true}, {"runlist.img", "/frag/a.bin", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.image);
    const std::string image = quor_test::fixture(c.image);
    CNtfs* engine = nullptr;
    ASSERT_TRUE(open_ntfs_image(image.c_str(), 0, engine, false, false));
    user_ctx ctx(engine, true);
    const ulong64 entry = quor_test::listed_inode(c.image, c.path);
    std::vector<byte> bytes;
    bool is_baad = false;
    ASSERT_TRUE(read_source_record(bytes, is_baad, ctx, entry));
    const byte* header = nullptr;
    ASSERT_TRUE(find_attribute(bytes.data(), static_cast<uint32>(bytes.size()), 0x80, header));

    const attribute_record data(header);
    const uint32 length = load_u32(header + 4);
    ASSERT_EQ(data.raw.size(), length);
    EXPECT_TRUE(std::equal(data.raw.begin(), data.raw.end(), header));
    std::vector<ulong64> ours;
    for (const data_run& r : data.runs)
      for (ulong64 i = 0; i < r.num_clusters; ++i) ours.push_back(r.sparse ? 0 : r.lcn + i);
    EXPECT_EQ(ours.size(), load_u64(header + 24) + 1);  // through the last VCN
    std::vector<ulong64> listed =
        quor_test::istat_clusters(quor_test::istat_report(image, entry), 0x80, load_u16(header + 14));
    ASSERT_GE(listed.size(), ours.size());
    if (c.whole) {
      EXPECT_EQ(listed.size(), ours.size());
    }
    listed.resize(ours.size());
    EXPECT_EQ(ours, listed);
  }

  record_builder b;
  const uint32 at = b.resident(0x80, {1, 2, 3}, u"alt", 7);
  std::vector<byte> r = b.done();
  const uint32 length = load_u32(&r[at + 4]);
  EXPECT_EQ(attribute_record(&r[at]).raw, std::vector<byte>(r.begin() + at, r.begin() + at + length));
  EXPECT_TRUE(attribute_record(&r[at]).runs.empty());
  for (uint32 claimed : {0u, MAX_MFT_RECORD_SIZE + 1, 0xFFFFFFFFu}) {
    store_u32(&r[at + 4], claimed);
    EXPECT_EQ(attribute_own_length(&r[at]), 0u) << claimed;
    EXPECT_TRUE(attribute_record(&r[at]).raw.empty()) << claimed;
  }
  // As long as the largest record there can be is still a length: an
  // attribute filling a whole 64 KiB record keeps it.
  r.resize(at + MAX_MFT_RECORD_SIZE);
  store_u32(&r[at + 4], MAX_MFT_RECORD_SIZE);
  EXPECT_EQ(attribute_own_length(&r[at]), MAX_MFT_RECORD_SIZE);
  EXPECT_EQ(attribute_record(&r[at]).raw.size(), MAX_MFT_RECORD_SIZE);
  EXPECT_TRUE(attribute_record(static_cast<const byte*>(nullptr)).raw.empty());
}

}  // namespace
