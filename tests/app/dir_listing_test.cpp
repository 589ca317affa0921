// The compact listing the work loop merges with: the same rows and holders
// as the map merge on hand-built directories, the same listing whether a
// kit folder's index is read whole or eight records at a time, and the same
// again when memory runs out while the parser's maps are taken.
#include "tests/app/index_entry_builder.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "app/dir_listing.h"
#include "app/entry_fields.h"
#include "app/gather_entries.h"
#include "app/merge_entries.h"
#include "app/source_open.h"
#include "tests/support/allocation_failure.h"
#include "tests/support/fixture.h"
#include "tests/support/listing.h"
#include "utils/utf_convert.h"

namespace {

const ulong64 k_t = 132224078456780000ull;

INDX_ENTRY_INFO entry(ulong64 number, uint16 seq, ulong64 parent, const std::string& name, bool valid,
                      ulong64 offset, ulong64 m_shift = 0, ulong64 size = 1) {
  index_entry_fields f;
  f.reference = file_reference(number, seq);
  f.parent_reference = parent;
  f.modify = k_t + m_shift, f.access = k_t + 1, f.mft_change = k_t + 2, f.create = k_t + 3;
  f.real_size = size;
  INDX_ENTRY_INFO e = build_index_entry(f, name, valid);
  e.file_offset = offset;
  return e;
}

// Everything a writer shows of an entry, on one line.
std::string shown(const INDX_ENTRY_INFO& e) {
  return std::string(reinterpret_cast<const char*>(e.entry), sizeof e.entry) + "|" + e.name + "|" +
         std::to_string(e.valid) + "|" + std::to_string(e.file_offset) + "|" + std::to_string(e.attribute_type) +
         "|" + e.slack_comment + "|" + std::to_string(e.is_dir) + "|" + std::to_string(e.mtime_invalid);
}

void listing_rows(const dir_listing& listing, std::vector<std::string>& rows, std::vector<std::string>& nodup) {
  INDX_ENTRY_INFO scratch;
  rows.clear();
  nodup.clear();
  for (size_t i = 0; i < listing.row_count(); ++i) rows.push_back(shown(listing.row(i, scratch)));
  std::vector<uint32> ids;
  listing.nodup_rows(ids);
  for (uint32 id : ids) nodup.push_back(shown(listing.entry_of(id, scratch)));
}

void add_live(string_indx_map& valid, const INDX_ENTRY_INFO& e) {
  std::string key;
  make_entry_key(key, entry_fields::parent_entry(e), e.name);
  valid.emplace(key, e);
}

TEST(DirListing, MergesAsTheMapMerge) {
  // Root and allocation of directory 7: a carved entry judged against a live
  // one of the other attribute, a stale copy, case twins (live and carved), a
  // carved key taken over, a nameless entry, an impossible reference and one
  // at the entry count (possible), equal times in filing order.
  std::vector<indx_attribute_entries> attrs(2);
  attrs[0].type = 0x90;
  attrs[1].type = 0xA0;
  add_live(attrs[0].valid, entry(40, 1, 7, "Report.doc", true, 0x18, 5));
  add_live(attrs[1].valid, entry(41, 1, 7, "b.txt", true, 0x1018));
  add_live(attrs[1].valid, entry(42, 1, 7, "a.txt", true, 0x1058));
  INDX_ENTRY_INFO twin = entry(43, 1, 7, "A.TXT", true, 0x1098);
  attrs[1].valid.emplace("0000000007_a.txt\x01" "A.TXT", twin);
  attrs[1].carved.emplace(7, entry(40, 1, 7, "report.doc", false, 0x1100, 5, 9));
  attrs[1].carved.emplace(7, entry(41, 1, 7, "b.txt", false, 0x1140));
  attrs[1].carved.emplace(7, entry(300, 0, 7, "gone.txt", false, 0x1180, 2));
  attrs[1].carved.emplace(9, entry(301, 2, 7, "GONE.txt", false, 0x11C0, 2));
  attrs[1].carved.emplace(7, entry(302, 2, 7, "", false, 0x1200));
  attrs[1].carved.emplace(7, entry(5000, 0, 7, "far.txt", false, 0x1240, 2));
  attrs[1].carved.emplace(7, entry(1000, 0, 7, "edge.txt", false, 0x1280, 2));
  attrs[0].carved.emplace(7, entry(44, 3, 7, "x", false, 0x40));

  dir_listing listing;
  for (size_t a = 0; a < attrs.size(); ++a) {
    const size_t index = listing.add_attribute(attrs[a].type);
    listing.parsed(index) = attrs[a];
    listing.take_parsed(index);
  }
  ASSERT_TRUE(listing.merge(1000));
  inode_indx_mmap all;
  string_indx_map nodup;
  ASSERT_TRUE(merge_dir_entries(all, nodup, attrs, 1000));

  std::vector<std::string> rows, holders, want_rows, want_holders;
  listing_rows(listing, rows, holders);
  for (const auto& kv : all) want_rows.push_back(shown(kv.second));
  for (const auto& kv : nodup) want_holders.push_back(shown(kv.second));
  EXPECT_EQ(rows, want_rows);
  EXPECT_EQ(holders, want_holders);
  EXPECT_EQ(rows.size(), 11u);  // the nameless one is not a row

  dir_listing empty;
  empty.add_attribute(0xA0);
  EXPECT_FALSE(empty.merge(1000));
}

TEST(DirListing, IndexReadInPiecesGivesTheWholeIndexListing) {
  int folders = 0;
  for (const char* name : {"bigdir.img", "default.img", "c512.img"}) {
    const std::string image = quor_test::fixture(name);
    if (image.empty()) continue;
    user_ctx ctx;
    ctx.resolved_image = utf8_to_wstring(image);
    ctx.verbose = false;
    ASSERT_TRUE(initialize_mft(ctx)) << name;
    std::vector<ulong64> dirs{5};
    for (const auto& e : quor_test::read_listing(name))
      if (e.kind == 'd') dirs.push_back(e.inode);
    for (ulong64 dir : dirs) {
      SCOPED_TRACE(testing::Message() << name << " " << dir);
      dir_listing whole, pieces;
      std::vector<byte> buffer;
      ASSERT_TRUE(gather_dir_listing(whole, buffer, ctx, dir));
      ASSERT_TRUE(gather_dir_listing(pieces, buffer, ctx, dir, true, 1));
      ASSERT_EQ(whole.merge(ctx.mft_entry_count), pieces.merge(ctx.mft_entry_count));
      std::vector<std::string> a, b, c, d;
      listing_rows(whole, a, b);
      listing_rows(pieces, c, d);
      EXPECT_EQ(a, c);
      EXPECT_EQ(b, d);
      ++folders;
    }
  }
  if (folders == 0) GTEST_SKIP() << "kit volumes absent";
}

// Each allocation of taking two attributes' maps and merging them fails in
// turn: the merge of what was gathered, after the exception, gives the rows
// and holders of the map merge, each entry once. The allocation
// holds enough live names to grow the key tables, enough name bytes to grow
// the block they are kept in while its live and its carved entries are
// taken, and a case twin.
TEST(DirListing, TakeCutShortByAnExceptionGoesOnWhereItStopped) {
  std::vector<indx_attribute_entries> attrs(2);
  attrs[0].type = 0x90;
  attrs[1].type = 0xA0;
  add_live(attrs[0].valid, entry(40, 1, 7, "Report.doc", true, 0x18, 5));
  attrs[0].carved.emplace(7, entry(44, 3, 7, "x", false, 0x40));
  for (ulong64 i = 0; i < 80; ++i) {
    const std::string name = "f" + std::to_string(i) + std::string(50, '_') + ".txt";
    add_live(attrs[1].valid, entry(100 + i, 1, 7, name, true, 0x1000 + 0x80 * i, i));
    attrs[1].carved.emplace(7, entry(100 + i, 1, 7, name, false, 0x4000 + 0x80 * i, i + i % 2));
  }
  const std::string twin = "F1" + std::string(50, '_') + ".TXT";
  attrs[1].valid.emplace("0000000007_f1" + std::string(50, '_') + ".txt\x01" + twin,
                         entry(300, 1, 7, twin, true, 0x3000, 1));
  attrs[1].carved.emplace(7, entry(40, 1, 7, "report.doc", false, 0x5000, 5, 9));
  auto parsed = [&attrs](dir_listing& listing) {
    for (const indx_attribute_entries& a : attrs) listing.parsed(listing.add_attribute(a.type)) = a;
  };
  auto take_and_merge = [](dir_listing& listing) {
    listing.take_parsed(0);
    listing.take_parsed(1);
    return listing.merge(1000);
  };

  // What the map merge files from the same maps.
  std::vector<indx_attribute_entries> copies = attrs;
  inode_indx_mmap all;
  string_indx_map nodup;
  ASSERT_TRUE(merge_dir_entries(all, nodup, copies, 1000));
  std::vector<std::string> want_rows, want_holders;
  for (const auto& kv : all) want_rows.push_back(shown(kv.second));
  for (const auto& kv : nodup) want_holders.push_back(shown(kv.second));
  ASSERT_EQ(want_rows.size(), 164u);

  long64 thrown = 0;
  for (long64 n = 0;; ++n) {
    ASSERT_LT(n, 100000);
    dir_listing listing;
    parsed(listing);
    bool threw = false;
    quor_test::arm_allocation_failure(n);
    try {
      take_and_merge(listing);
    } catch (const std::bad_alloc&) {
      threw = true;
    }
    const bool failed = quor_test::allocations_counted() > n;
    quor_test::arm_allocation_failure(-1);
    if (!failed) break;
    if (threw) {
      ++thrown;
      EXPECT_TRUE(listing.merge_gathered(1000)) << "allocation " << n;
    }
    std::vector<std::string> rows, holders;
    listing_rows(listing, rows, holders);
    EXPECT_EQ(rows, want_rows) << "allocation " << n;
    EXPECT_EQ(holders, want_holders) << "allocation " << n;
  }
  EXPECT_GT(thrown, 10);
}

}  // namespace
