// Gathering the folders of the fixture volumes: live entries against the
// listing, carved entries against what the fixture script removed.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/gather_entries.h"
#include "ntfs/ntfs.h"
#include "tests/support/fixture.h"
#include "tests/support/listing.h"
#include "utils/byte_order.h"

namespace {

typedef std::map<std::string, std::set<std::string>> names_by_folder;

// Live long names (8.3 names left out), and the comment of each carved name.
bool gather(user_ctx& ctx, ulong64 dir, std::set<std::string>& live, std::map<std::string, std::string>& carved) {
  std::vector<byte> alloc, root;
  inode_indx_mmap all;
  string_indx_map nodup;
  if (!collect_dir_entries(alloc, root, all, nodup, ctx, dir)) return false;
  for (const auto& kv : all) {
    if (!kv.second.valid) carved.emplace(kv.second.name, kv.second.slack_comment);
    if (kv.second.valid && kv.second.entry[81] != 2) live.insert(kv.second.name);
  }
  return true;
}

void split_path(const std::string& path, names_by_folder& into) {
  size_t slash = path.rfind('/');
  into[path.substr(0, slash)].insert(path.substr(slash + 1));
}

void check_volume(const char* image) {
  std::string path = quor_test::fixture(image);
  if (path.empty()) GTEST_SKIP() << image << " not in the fixture kit";
  std::map<std::string, ulong64> dirs{{"", 5}};
  names_by_folder children, gone;
  for (const auto& e : quor_test::read_listing(image)) {
    if (e.kind == 'd') dirs[e.path] = e.inode;
    split_path(e.path, children);
  }
  for (const auto& d : quor_test::read_deleted(image)) split_path(d.path, gone);
  ASSERT_GT(dirs.size(), 1u);

  CNtfs* engine = nullptr;
  ASSERT_TRUE(open_ntfs_image(path.c_str(), 0, engine, false, false));
  user_ctx ctx(engine, true);
  size_t gone_found = 0;
  for (const auto& d : dirs) {
    SCOPED_TRACE(d.first);
    std::set<std::string> live;
    std::map<std::string, std::string> carved;
    const std::set<std::string>& expected = children[d.first];
    if (!gather(ctx, d.second, live, carved) && expected.empty()) continue;
    for (const std::string& name : expected) EXPECT_EQ(live.count(name), 1u) << name;
    EXPECT_TRUE(d.second == 5 || live.size() == expected.size()) << live.size();
    for (const auto& c : carved) {
      // A name that lives in the folder is never called deleted.
      EXPECT_FALSE(c.second == "deleted" && expected.count(c.first)) << c.first;
      gone_found += gone[d.first].count(c.first);
    }
  }
  EXPECT_GT(gone_found, 0u);
}

TEST(GatherEntries, DefaultVolume) { check_volume("default.img"); }
TEST(GatherEntries, LargeClusters) { check_volume("c64k.img"); }

TEST(GatherEntries, NoFileNameIndexNoEntries) {
  std::string path = quor_test::fixture("default.img");
  if (path.empty()) GTEST_SKIP() << "default.img not in the fixture kit";
  CNtfs* engine = nullptr;
  ASSERT_TRUE(open_ntfs_image(path.c_str(), 0, engine, false, false));
  user_ctx ctx(engine, true);
  std::set<std::string> live;
  std::map<std::string, std::string> carved;
  // A file, $Secure (whose indexes are keyed by security id and hash), an
  // entry beyond the MFT.
  for (ulong64 entry : {ulong64(3), ulong64(9), ulong64(1) << 40}) EXPECT_FALSE(gather(ctx, entry, live, carved));
  EXPECT_TRUE(live.empty() && carved.empty());
}

// An INDX record that the index's $BITMAP marks free holds no live entries,
// whatever its header says.
TEST(GatherEntries, RecordsFreedInTheIndexBitmapHoldOnlySlack) {
  std::string path = quor_test::fixture("default.img");
  if (path.empty()) GTEST_SKIP() << "default.img not in the fixture kit";
  ulong64 dir = 0;
  names_by_folder children;
  for (const auto& e : quor_test::read_listing("default.img")) {
    if (e.path == "/longnames") dir = e.inode;
    split_path(e.path, children);
  }
  const std::set<std::string>& expected = children["/longnames"];

  // In a copy of the image, clear the bit of the folder's second record.
  std::string copy = quor_test::scratch_dir() + "/freed.img";
  std::ifstream in(path, std::ios::binary);
  std::ofstream(copy, std::ios::binary) << in.rdbuf();
  CNtfs* engine = nullptr;
  ASSERT_TRUE(open_ntfs_image(path.c_str(), 0, engine, false, false));
  std::streamoff pos = static_cast<std::streamoff>(engine->get_inode_file_pos(dir));
  delete engine;
  std::fstream img(copy, std::ios::binary | std::ios::in | std::ios::out);
  byte rec[1024];
  img.seekg(pos).read(reinterpret_cast<char*>(rec), sizeof rec);
  uint32 off = load_u16(rec + 20);
  while (off < 1000 && load_u32(rec + off) < 0xB0) off += load_u32(rec + off + 4);
  ASSERT_EQ(load_u32(rec + off), 0xB0u);
  off += load_u16(rec + off + 20);
  ASSERT_TRUE(off % 512 < 510 && (rec[off] & 2));
  rec[off] = static_cast<byte>(rec[off] & ~2);
  img.seekp(pos).write(reinterpret_cast<const char*>(rec), sizeof rec);
  img.close();

  ASSERT_TRUE(open_ntfs_image(copy.c_str(), 0, engine, false, false));
  user_ctx ctx(engine, true);
  std::set<std::string> live;
  std::map<std::string, std::string> carved;
  ASSERT_TRUE(gather(ctx, dir, live, carved));
  size_t freed = 0;
  for (const std::string& name : expected) {
    if (live.count(name)) continue;
    ++freed;
    EXPECT_EQ(carved.count(name), 1u) << name;
  }
  EXPECT_TRUE(freed > 0 && freed < expected.size()) << freed;
  for (const std::string& name : live) EXPECT_EQ(expected.count(name), 1u) << name;
}

}  // namespace
