// The valid/slack merge on hand-built entries: comments, the two
// collections, and which entry holds a no-duplicates key.
#include "tests/app/index_entry_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/entry_fields.h"
#include "app/merge_entries.h"
#include "utils/byte_order.h"

namespace {

const ulong64 k_t = 132224078456780000ull;

// Times M, A, C, B are t, t+1, t+2, t+3 unless shifted.
INDX_ENTRY_INFO entry(ulong64 number, uint16 seq, ulong64 parent, const std::string& name, ulong64 size,
                      bool valid, ulong64 offset, ulong64 m_shift = 0, ulong64 a_shift = 0, ulong64 b_shift = 0,
                      ulong64 c_shift = 0) {
  index_entry_fields f;
  f.reference = file_reference(number, seq);
  f.parent_reference = parent;
  f.modify = k_t + m_shift, f.access = k_t + 1 + a_shift, f.mft_change = k_t + 2 + c_shift, f.create = k_t + 3 + b_shift;
  f.real_size = size;
  INDX_ENTRY_INFO e = build_index_entry(f, name, valid);
  e.file_offset = offset;
  return e;
}

void add_live(string_indx_map& valid, const INDX_ENTRY_INFO& e) {
  std::string key;
  make_entry_key(key, entry_fields::parent_entry(e), e.name);
  valid.emplace(key, e);
}

std::string comment_at(const inode_indx_mmap& all, ulong64 offset) {
  for (const auto& kv : all)
    if (!kv.second.valid && kv.second.file_offset == offset) return kv.second.slack_comment;
  return "<missing>";
}

TEST(MergeEntries, CarvedEntryIsJudgedAgainstItsLiveNamesake) {
  struct row {
    INDX_ENTRY_INFO carved;
    const char* comment;
  } rows[] = {
      {entry(40, 2, 5, "report.txt", 100, false, 0x800), "exists [dup slack entry]"},
      {entry(40, 2, 5, "report.txt", 100, false, 0x800, 0, 9), "modified [.a..]"},
      {entry(40, 2, 5, "report.txt", 90, false, 0x800, 0, 9), "modified [.a..] [size]"},
      {entry(40, 2, 5, "report.txt", 100, false, 0x800, 5, 0, 5), "modified [m..b]"},
      {entry(40, 2, 5, "report.txt", 100, false, 0x800, 0, 0, 0, 7), "modified [..c.]"},
      {entry(40, 2, 5, "report.txt", 90, false, 0x800), "exists [modified [size]]"},
      {entry(40, 2, 5, "REPORT.txt", 100, false, 0x800), "exists [modified [name]]"},
      {entry(41, 1, 5, "gone.txt", 100, false, 0x800), "deleted"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.comment);
    string_indx_map valid;
    inode_indx_mmap carved{{5, r.carved}};
    add_live(valid, entry(40, 2, 5, "report.txt", 100, true, 0x58));
    inode_indx_mmap all;
    string_indx_map nodup;
    ASSERT_TRUE(merge_indx_entries(all, nodup, valid, carved, 0xA0, 1000));
    EXPECT_EQ(comment_at(all, 0x800), r.comment);
    EXPECT_EQ(carved.begin()->second.slack_comment, r.comment);
    EXPECT_EQ(nodup.at(nodup_key(valid.begin()->second)).valid, 1);
  }
}

TEST(MergeEntries, LiveEntriesOfEveryIndexAttributeCount) {
  // Alive in $INDEX_ROOT, with stale copies in an INDX record.
  std::vector<indx_attribute_entries> attrs(2);
  attrs[0].type = 0x90;
  add_live(attrs[0].valid, entry(64, 3, 70, "kept.doc", 10, true, 0x20));
  attrs[1].carved.emplace(70, entry(64, 3, 70, "kept.doc", 10, false, 0x1100, 100));
  attrs[1].carved.emplace(70, entry(64, 3, 70, "kept.doc", 10, false, 0x1200));
  inode_indx_mmap all;
  string_indx_map nodup;
  ASSERT_TRUE(merge_dir_entries(all, nodup, attrs, 1000));
  EXPECT_EQ(comment_at(all, 0x1100), "modified [m...]");
  EXPECT_EQ(comment_at(all, 0x1200), "exists [dup slack entry]");
  for (const auto& kv : all) EXPECT_EQ(kv.second.attribute_type, kv.second.valid ? 0x90u : 0xA0u);

  // A live entry takes its key from a carved one merged in an earlier call.
  string_indx_map root_valid, alloc_valid;
  inode_indx_mmap root_carved{{90, entry(80, 1, 90, "x.bin", 5, false, 0x40)}}, alloc_carved;
  add_live(alloc_valid, entry(80, 1, 90, "x.bin", 5, true, 0x1058));
  all.clear();
  nodup.clear();
  ASSERT_TRUE(merge_indx_entries(all, nodup, root_valid, root_carved, 0x90, 1000));
  ASSERT_TRUE(merge_indx_entries(all, nodup, alloc_valid, alloc_carved, 0xA0, 1000));
  ASSERT_EQ(nodup.size(), 1u);
  EXPECT_EQ(nodup.begin()->second.file_offset, 0x1058u);
  EXPECT_EQ(comment_at(all, 0x40), "exists [deleted]");
}

TEST(MergeEntries, CarvedEntryThatTakesOverAKeyTakesItOverWhole) {
  struct row {
    ulong64 live_parent;  // 0: no live entry, directory unknown
    uint16 first_seq;
    ulong64 first_parent;
    bool second_takes_over;
  } rows[] = {{0, 0, 7, true}, {0, 4, 7, false}, {7, 4, 99, true}, {7, 4, 7, false}};
  for (const row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.live_parent << " " << r.first_seq << " " << r.first_parent);
    string_indx_map valid;
    if (r.live_parent) add_live(valid, entry(12, 1, r.live_parent, "other", 1, true, 0x18));
    inode_indx_mmap carved{{1, entry(300, r.first_seq, r.first_parent, "old.txt", 1, false, 0x500)},
                           {2, entry(301, 2, 7, "OLD.txt", 1, false, 0x600)}};
    inode_indx_mmap all;
    string_indx_map nodup;
    ASSERT_TRUE(merge_indx_entries(all, nodup, valid, carved, 0xA0, 1000));
    const INDX_ENTRY_INFO& held = nodup.at(nodup_key(carved.begin()->second));
    // Name, reference and offset come from one and the same entry.
    EXPECT_EQ(held.name, r.second_takes_over ? "OLD.txt" : "old.txt");
    EXPECT_EQ(entry_fields::entry_number(held), r.second_takes_over ? 301u : 300u);
    EXPECT_EQ(held.file_offset, r.second_takes_over ? 0x600u : 0x500u);
    EXPECT_EQ(comment_at(all, 0x600), "deleted");
  }
}

TEST(MergeEntries, ImpossibleReferencesNamelessEntriesAndOrder) {
  string_indx_map valid;
  inode_indx_mmap carved;
  inode_indx_mmap all;
  string_indx_map nodup;
  EXPECT_FALSE(merge_indx_entries(all, nodup, valid, carved, 0xA0, 1000));
  add_live(valid, entry(30, 1, 5, "late", 1, true, 0x18, 50));
  carved.emplace(5, entry(5000, 0, 5, "a", 1, false, 0x100, 20));
  carved.emplace(5, entry(5000, 3, 5, "b", 1, false, 0x200, 10));
  carved.emplace(5, entry(20, 1, 5, "", 1, false, 0x300));
  ASSERT_TRUE(merge_indx_entries(all, nodup, valid, carved, 0x90, 1000));
  std::vector<std::string> order;
  for (const auto& kv : all) order.push_back(kv.second.name);
  EXPECT_EQ(order, (std::vector<std::string>{"b", "a", "late"}));
  EXPECT_EQ(load_u64(std::next(all.begin())->second.entry), 0u);
  EXPECT_EQ(load_u64(all.begin()->second.entry), 5000u | (3ull << 48));
  // Only an entry number past the entry count is impossible.
  for (ulong64 number : {1000ull, 1001ull}) {
    inode_indx_mmap one{{5, entry(number, 0, 5, "n", 1, false, 0x100)}}, merged;
    string_indx_map none, nodups;
    ASSERT_TRUE(merge_indx_entries(merged, nodups, none, one, 0xA0, 1000));
    EXPECT_EQ(load_u64(merged.begin()->second.entry), number == 1000 ? 1000u : 0u) << number;
  }
  INDX_ENTRY_INFO k = entry(1, 1, 5, "AbZ", 0, true, 0);
  for (int i = 0; i < 4; ++i) store_u64(k.entry + 24 + 8 * i, i + 1);
  EXPECT_EQ(nodup_key(k), "abz_0000000002_0000000004_0000000003_0000000001");
}

}  // namespace
