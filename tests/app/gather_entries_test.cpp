// Gathering a folder's entries where the index gives no names or its bitmap
// frees a record; whole kit volumes are gathered end to end
// (end_to_end_test.cpp).
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
  inode_indx_mmap all;
  string_indx_map nodup;
  if (!collect_dir_entries(all, nodup, ctx, dir)) return false;
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
  const std::string copy = quor_test::copy_fixture("default.img", "freed.img");
  ASSERT_FALSE(copy.empty());
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
