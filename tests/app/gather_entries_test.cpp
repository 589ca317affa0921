// Gathering directories of the fixture volumes: the live entries of every
// folder against the listing, and the carved entries against what the
// fixture script deleted.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/entry_fields.h"
#include "app/gather_entries.h"
#include "app/user_ctx.h"
#include "ntfs/ntfs.h"
#include "tests/support/fixture.h"
#include "tests/support/listing.h"
#include "utils/byte_order.h"

namespace {

struct gathered {
  std::set<std::string> live;     // long names (DOS 8.3 names left out)
  std::map<std::string, std::string> carved;  // name -> comment of its first carved copy
  size_t all = 0;
};

bool gather(user_ctx& ctx, ulong64 dir, gathered& out) {
  std::vector<byte> alloc, root;
  inode_indx_mmap all;
  string_indx_map nodup;
  if (!collect_dir_entries(alloc, root, all, nodup, ctx, dir)) return false;
  for (const auto& kv : all) {
    const INDX_ENTRY_INFO& e = kv.second;
    EXPECT_EQ(kv.first, entry_fields::modified(e));
    if (e.valid) {
      if (e.entry[81] != 2) out.live.insert(e.name);
    } else {
      out.carved.emplace(e.name, e.slack_comment);
    }
  }
  out.all = all.size();
  return true;
}

void check_volume(const char* image) {
  std::string path = quor_test::fixture(image);
  if (path.empty()) GTEST_SKIP() << image << " not in the fixture kit";
  std::vector<quor_test::listing_entry> listing = quor_test::read_listing(image);
  std::vector<quor_test::deleted_entry> deleted = quor_test::read_deleted(image);
  ASSERT_FALSE(listing.empty());

  std::map<std::string, ulong64> dirs{{"", 5}};
  std::map<std::string, std::set<std::string>> children;
  for (const auto& e : listing) {
    if (e.kind == 'd') dirs[e.path] = e.inode;
    size_t slash = e.path.rfind('/');
    children[e.path.substr(0, slash)].insert(e.path.substr(slash + 1));
  }
  std::map<std::string, std::set<std::string>> gone;
  for (const auto& d : deleted) {
    size_t slash = d.path.rfind('/');
    gone[d.path.substr(0, slash)].insert(d.path.substr(slash + 1));
  }

  CNtfs* engine = nullptr;
  ASSERT_TRUE(open_ntfs_image(path.c_str(), 0, engine, false, false));
  user_ctx ctx(engine, true);
  size_t deleted_found = 0;
  for (const auto& d : dirs) {
    SCOPED_TRACE(d.first.empty() ? "/" : d.first);
    gathered g;
    const std::set<std::string>& expected = children[d.first];
    bool any = gather(ctx, d.second, g);
    if (expected.empty() && !any) continue;
    ASSERT_TRUE(any);
    if (d.second == 5) {
      for (const std::string& name : expected) EXPECT_EQ(g.live.count(name), 1u) << name;
    } else {
      EXPECT_EQ(g.live, expected);
    }
    // A name that is live in the folder is never reported as deleted.
    for (const auto& c : g.carved) {
      if (c.second == "deleted") {
        EXPECT_EQ(expected.count(c.first), 0u) << c.first;
      }
      if (gone[d.first].count(c.first)) ++deleted_found;
    }
  }
  EXPECT_GT(deleted_found, 0u);
}

TEST(GatherEntries, DefaultVolume) { check_volume("default.img"); }
TEST(GatherEntries, SmallClusters) { check_volume("c512.img"); }
TEST(GatherEntries, LargeClusters) { check_volume("c64k.img"); }

// A file, the view indexes of $Secure (keyed by security id and hash, not
// by name) and an entry beyond the MFT hold no directory entries.
TEST(GatherEntries, EntriesWithoutFileNameIndexesGatherNothing) {
  std::string path = quor_test::fixture("default.img");
  if (path.empty()) GTEST_SKIP() << "default.img not in the fixture kit";
  CNtfs* engine = nullptr;
  ASSERT_TRUE(open_ntfs_image(path.c_str(), 0, engine, false, false));
  user_ctx ctx(engine, true);
  std::vector<quor_test::listing_entry> listing = quor_test::read_listing("default.img");
  ulong64 file = 0;
  for (const auto& e : listing)
    if (e.kind == 'f') file = e.inode;
  std::vector<byte> alloc, root;
  inode_indx_mmap all;
  string_indx_map nodup;
  EXPECT_FALSE(collect_dir_entries(alloc, root, all, nodup, ctx, file));
  EXPECT_TRUE(all.empty());
  EXPECT_FALSE(collect_dir_entries(alloc, root, all, nodup, ctx, 9));
  EXPECT_TRUE(all.empty());
  EXPECT_FALSE(collect_dir_entries(alloc, root, all, nodup, ctx, 1ull << 40));
}

// An INDX record that the index's $BITMAP marks free holds no live entries,
// whatever its header says: its names are reported as carved.
TEST(GatherEntries, RecordsFreedInTheIndexBitmapHoldOnlySlack) {
  std::string path = quor_test::fixture("default.img");
  if (path.empty()) GTEST_SKIP() << "default.img not in the fixture kit";
  ulong64 dir = 0;
  std::set<std::string> expected;
  for (const auto& e : quor_test::read_listing("default.img")) {
    if (e.path == "/longnames") dir = e.inode;
    if (e.path.rfind("/longnames/", 0) == 0) expected.insert(e.path.substr(11));
  }
  ASSERT_NE(dir, 0u);

  // Clear the bit of the folder's second INDX record in a copy of the image.
  std::string copy = quor_test::scratch_dir() + "/freed.img";
  {
    std::ifstream in(path, std::ios::binary);
    std::ofstream(copy, std::ios::binary) << in.rdbuf();
  }
  ulong64 pos = 0;
  {
    CNtfs* engine = nullptr;
    ASSERT_TRUE(open_ntfs_image(path.c_str(), 0, engine, false, false));
    pos = engine->get_inode_file_pos(dir);
    delete engine;
  }
  std::fstream img(copy, std::ios::binary | std::ios::in | std::ios::out);
  std::vector<byte> rec(1024);
  img.seekg(static_cast<std::streamoff>(pos));
  img.read(reinterpret_cast<char*>(rec.data()), 1024);
  uint32 off = load_u16(rec.data() + 20);
  while (off + 24 <= 1024 && load_u32(rec.data() + off) != 0xB0 && load_u32(rec.data() + off) != 0xFFFFFFFF)
    off += load_u32(rec.data() + off + 4);
  ASSERT_EQ(load_u32(rec.data() + off), 0xB0u);
  uint32 bits = off + load_u16(rec.data() + off + 20);
  ASSERT_NE(bits % 512, 510u);
  ASSERT_EQ(rec[bits] & 2, 2);
  rec[bits] = static_cast<byte>(rec[bits] & ~2);
  img.seekp(static_cast<std::streamoff>(pos));
  img.write(reinterpret_cast<const char*>(rec.data()), 1024);
  img.close();

  CNtfs* engine = nullptr;
  ASSERT_TRUE(open_ntfs_image(copy.c_str(), 0, engine, false, false));
  user_ctx ctx(engine, true);
  gathered g;
  ASSERT_TRUE(gather(ctx, dir, g));
  size_t freed = 0;
  for (const std::string& name : expected) {
    if (g.live.count(name)) continue;
    ++freed;
    EXPECT_EQ(g.carved.count(name), 1u) << name;
  }
  EXPECT_GT(freed, 0u);
  EXPECT_LT(freed, expected.size());
  for (const std::string& name : g.live) EXPECT_EQ(expected.count(name), 1u) << name;
}

}  // namespace
