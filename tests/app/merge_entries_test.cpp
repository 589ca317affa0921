// The valid/slack merge on hand-built entries: comments, the two
// collections, and which entry holds a no-duplicates key.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/entry_fields.h"
#include "app/merge_entries.h"
#include "utils/byte_order.h"

namespace {

struct times4 {
  ulong64 m, a, c, b;
};

const times4 k_times = {132224078456780000ull, 132224078456780001ull, 132224078456780002ull,
                        132224078456780003ull};

INDX_ENTRY_INFO make_entry(ulong64 entry, uint16 seq, ulong64 parent, const std::string& name, times4 t,
                           ulong64 size, bool valid, ulong64 offset) {
  INDX_ENTRY_INFO e;
  store_u64(e.entry, entry | (static_cast<ulong64>(seq) << 48));
  store_u64(e.entry + 16, parent | (1ull << 48));
  store_u64(e.entry + 24, t.b);
  store_u64(e.entry + 32, t.m);
  store_u64(e.entry + 40, t.c);
  store_u64(e.entry + 48, t.a);
  store_u64(e.entry + 56, (size + 7) & ~7ull);
  store_u64(e.entry + 64, size);
  e.name = name;
  e.valid = valid ? 1 : 0;
  e.file_offset = offset;
  return e;
}

std::string live_key(const INDX_ENTRY_INFO& e) {
  std::string key;
  make_entry_key(key, entry_fields::parent_entry(e), e.name);
  return key;
}

// The comment on the all_entries copy of the carved entry at `offset`.
std::string carved_comment(const inode_indx_mmap& all, ulong64 offset) {
  for (const auto& kv : all)
    if (!kv.second.valid && kv.second.file_offset == offset) return kv.second.slack_comment;
  return "<missing>";
}

TEST(MergeEntries, CarvedEntryIsJudgedAgainstItsLiveNamesake) {
  const INDX_ENTRY_INFO live = make_entry(40, 2, 5, "report.txt", k_times, 100, true, 0x58);
  times4 other_access = k_times;
  other_access.a += 10;
  times4 other_m_b = k_times;
  other_m_b.m -= 5;
  other_m_b.b -= 5;
  struct row {
    const char* what;
    INDX_ENTRY_INFO carved;
    const char* comment;
  } rows[] = {
      {"identical", make_entry(40, 2, 5, "report.txt", k_times, 100, false, 0x800), "exists [dup slack entry]"},
      {"access time", make_entry(40, 2, 5, "report.txt", other_access, 100, false, 0x800), "modified [.a..]"},
      {"access and size", make_entry(40, 2, 5, "report.txt", other_access, 90, false, 0x800),
       "modified [.a..] [size]"},
      {"modify and create", make_entry(40, 2, 5, "report.txt", other_m_b, 100, false, 0x800),
       "modified [m..b]"},
      {"size only", make_entry(40, 2, 5, "report.txt", k_times, 90, false, 0x800), "exists [modified [size]]"},
      {"letter case", make_entry(40, 2, 5, "REPORT.txt", k_times, 100, false, 0x800),
       "exists [modified [name]]"},
      {"no namesake", make_entry(41, 1, 5, "gone.txt", k_times, 100, false, 0x800), "deleted"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    string_indx_map valid;
    inode_indx_mmap carved;
    valid.emplace(live_key(live), live);
    carved.emplace(5, r.carved);
    inode_indx_mmap all;
    string_indx_map nodup;
    ASSERT_TRUE(merge_indx_entries(all, nodup, valid, carved, 0xA0, 1000));
    EXPECT_EQ(all.size(), 2u);
    EXPECT_EQ(carved_comment(all, 0x800), r.comment);
    EXPECT_EQ(carved.begin()->second.slack_comment, r.comment);
    // The live entry keeps its own key whatever the carved one is.
    auto held = nodup.find(nodup_key(live));
    ASSERT_NE(held, nodup.end());
    EXPECT_EQ(held->second.valid, 1);
  }
}

TEST(MergeEntries, LiveEntryInTheRootIsNotCalledDeletedFromAnIndxRecord) {
  // The file lives in $INDEX_ROOT; a stale copy of it sits in an INDX
  // record of $INDEX_ALLOCATION.
  const INDX_ENTRY_INFO live = make_entry(64, 3, 70, "kept.doc", k_times, 10, true, 0x20);
  times4 older = k_times;
  older.m -= 100;
  std::vector<indx_attribute_entries> attrs(2);
  attrs[0].type = 0x90;
  attrs[0].valid.emplace(live_key(live), live);
  attrs[1].type = 0xA0;
  attrs[1].carved.emplace(70, make_entry(64, 3, 70, "kept.doc", older, 10, false, 0x1100));
  attrs[1].carved.emplace(70, make_entry(64, 3, 70, "kept.doc", k_times, 10, false, 0x1200));
  inode_indx_mmap all;
  string_indx_map nodup;
  ASSERT_TRUE(merge_dir_entries(all, nodup, attrs, 1000));
  EXPECT_EQ(carved_comment(all, 0x1100), "modified [m...]");
  EXPECT_EQ(carved_comment(all, 0x1200), "exists [dup slack entry]");
  for (const auto& kv : all) EXPECT_EQ(kv.second.attribute_type, kv.second.valid ? 0x90u : 0xA0u);
}

TEST(MergeEntries, LiveEntryTakesItsKeyFromACarvedEntryMergedEarlier) {
  const INDX_ENTRY_INFO live = make_entry(80, 1, 90, "x.bin", k_times, 5, true, 0x1058);
  string_indx_map root_valid;
  inode_indx_mmap root_carved;
  root_carved.emplace(90, make_entry(80, 1, 90, "x.bin", k_times, 5, false, 0x40));
  string_indx_map alloc_valid;
  inode_indx_mmap alloc_carved;
  alloc_valid.emplace(live_key(live), live);

  inode_indx_mmap all;
  string_indx_map nodup;
  ASSERT_TRUE(merge_indx_entries(all, nodup, root_valid, root_carved, 0x90, 1000));
  ASSERT_TRUE(merge_indx_entries(all, nodup, alloc_valid, alloc_carved, 0xA0, 1000));
  ASSERT_EQ(nodup.size(), 1u);
  EXPECT_EQ(nodup.begin()->second.valid, 1);
  EXPECT_EQ(nodup.begin()->second.file_offset, 0x1058u);
  EXPECT_EQ(carved_comment(all, 0x40), "exists [deleted]");
}

TEST(MergeEntries, CarvedEntryThatTakesOverAKeyTakesItOverWhole) {
  struct row {
    const char* what;
    ulong64 live_parent;      // 0: no live entry, directory unknown
    ulong64 first_entry;      // the first carved holder
    uint16 first_seq;
    ulong64 first_parent;
    bool second_takes_over;
  } rows[] = {
      {"unknown directory, holder without sequence", 0, 300, 0, 7, true},
      {"unknown directory, sound holder", 0, 300, 4, 7, false},
      {"holder from another directory", 7, 300, 4, 99, true},
      {"holder of this directory", 7, 300, 4, 7, false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    string_indx_map valid;
    inode_indx_mmap carved;
    if (r.live_parent) {
      INDX_ENTRY_INFO other = make_entry(12, 1, r.live_parent, "other", k_times, 1, true, 0x18);
      valid.emplace(live_key(other), other);
    }
    carved.emplace(1, make_entry(r.first_entry, r.first_seq, r.first_parent, "old.txt", k_times, 1, false, 0x500));
    carved.emplace(2, make_entry(301, 2, 7, "OLD.txt", k_times, 1, false, 0x600));
    inode_indx_mmap all;
    string_indx_map nodup;
    ASSERT_TRUE(merge_indx_entries(all, nodup, valid, carved, 0xA0, 1000));
    auto held = nodup.find(nodup_key(carved.begin()->second));
    ASSERT_NE(held, nodup.end());
    const INDX_ENTRY_INFO& h = held->second;
    // Name, reference and offset always come from one and the same entry.
    if (r.second_takes_over) {
      EXPECT_EQ(h.name, "OLD.txt");
      EXPECT_EQ(entry_fields::entry_number(h), 301u);
      EXPECT_EQ(h.file_offset, 0x600u);
    } else {
      EXPECT_EQ(h.name, "old.txt");
      EXPECT_EQ(entry_fields::entry_number(h), r.first_entry);
      EXPECT_EQ(h.file_offset, 0x500u);
    }
    EXPECT_EQ(carved_comment(all, 0x500), "deleted");
    EXPECT_EQ(carved_comment(all, 0x600), "deleted");
  }
}

TEST(MergeEntries, ReferencesBeyondTheMftAndNamelessEntries) {
  string_indx_map valid;
  inode_indx_mmap carved;
  carved.emplace(5, make_entry(5000, 0, 5, "a", k_times, 1, false, 0x100));
  carved.emplace(5, make_entry(5000, 3, 5, "b", k_times, 1, false, 0x200));
  carved.emplace(5, make_entry(20, 1, 5, "", k_times, 1, false, 0x300));
  inode_indx_mmap all;
  string_indx_map nodup;
  ASSERT_TRUE(merge_indx_entries(all, nodup, valid, carved, 0x90, 1000));
  ASSERT_EQ(all.size(), 2u);
  for (const auto& kv : all) {
    const INDX_ENTRY_INFO& e = kv.second;
    EXPECT_EQ(e.attribute_type, 0x90u);
    ulong64 expected = e.name == "a" ? 0 : 5000u | (3ull << 48);
    EXPECT_EQ(load_u64(e.entry), expected) << e.name;
  }
}

TEST(MergeEntries, EmptyMapsChangeNothingAndAllEntriesFollowModifyTime) {
  string_indx_map valid;
  inode_indx_mmap carved;
  inode_indx_mmap all;
  string_indx_map nodup;
  EXPECT_FALSE(merge_indx_entries(all, nodup, valid, carved, 0xA0, 1000));
  EXPECT_TRUE(all.empty());
  EXPECT_TRUE(nodup.empty());

  times4 later = k_times;
  later.m += 1000;
  times4 earlier = k_times;
  earlier.m -= 1000;
  INDX_ENTRY_INFO v1 = make_entry(30, 1, 5, "late", later, 1, true, 0x18);
  INDX_ENTRY_INFO v2 = make_entry(31, 1, 5, "mid", k_times, 1, true, 0x80);
  valid.emplace(live_key(v1), v1);
  valid.emplace(live_key(v2), v2);
  carved.emplace(5, make_entry(32, 1, 5, "early", earlier, 1, false, 0x900));
  ASSERT_TRUE(merge_indx_entries(all, nodup, valid, carved, 0xA0, 1000));
  std::vector<std::string> order;
  for (const auto& kv : all) order.push_back(kv.second.name);
  EXPECT_EQ(order, (std::vector<std::string>{"early", "mid", "late"}));
}

TEST(MergeEntries, NoDuplicatesKeyIsLowerCasedNameAndPaddedTimes) {
  times4 t = {1, 22, 333, 12345678901ull};
  INDX_ENTRY_INFO e = make_entry(1, 1, 5, "AbC.TXT", t, 0, true, 0);
  EXPECT_EQ(nodup_key(e), "abc.txt_0000000001_0000000022_0000000333_12345678901");
}

}  // namespace
