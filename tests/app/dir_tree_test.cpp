#include "app/dir_tree.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>

#include "app/source_open.h"
#include "ntfs/ntfs.h"
#include "tests/app/mft_runs_rewrite.h"
#include "tests/support/fixture.h"
#include "tests/support/listing.h"
#include "utils/byte_order.h"
#include "utils/utf_convert.h"

namespace {

// path ("/a/b") -> inode, from the listing.
std::map<std::string, ulong64> listed_inodes(const std::string& name) {
  std::map<std::string, ulong64> out;
  for (const auto& e : quor_test::read_listing(name)) out[e.path] = e.inode;
  return out;
}

class DirTreeOnDefault : public testing::Test {
 protected:
  void SetUp() override {
    const std::string img = quor_test::fixture("default.img");
    if (img.empty()) GTEST_SKIP() << "default.img fixture absent";
    ctx_.resolved_image = utf8_to_wstring(img);
    ctx_.verbose = false;
    ASSERT_TRUE(initialize_mft(ctx_));
    listing_ = listed_inodes("default.img");
  }
  user_ctx ctx_;
  std::map<std::string, ulong64> listing_;
};

TEST_F(DirTreeOnDefault, ParentLoopsEndAsCorruptedPaths) {
  // The cache stands in for damaged records: its nodes are used unread.
  dir_tree_map cache;
  cache.emplace(900, dir_tree_node(900, ulong64_set{900}, std::wstring(L"self"), true));
  cache.emplace(901, dir_tree_node(901, ulong64_set{(7ULL << 48) | 902}, std::wstring(L"a"), true));
  cache.emplace(902, dir_tree_node(902, ulong64_set{903}, std::wstring(L"b"), true));
  cache.emplace(903, dir_tree_node(903, ulong64_set{901}, std::wstring(L"c"), true));
  cache.emplace(905, dir_tree_node(905, ulong64_set{901, 5}, std::wstring(L"two"), true));
  cache.emplace(904, dir_tree_node(904, ulong64_set{}, std::wstring(L"lost"), true));
  struct loop_case {
    ulong64 entry;
    std::wstring path;
  } cases[] = {
      {900, L"[root]\\<path corrupted>\\self\\"},
      {901, L"[root]\\<path corrupted>\\c\\b\\a\\"},
      {903, L"[root]\\<path corrupted>\\b\\a\\c\\"},
      {904, L"[root]\\$MFT\\lost\\"},  // parent 0 is $MFT, whose parent is the root
      {905, L"[root]\\two\\"},          // the smallest parent reference is followed
  };
  for (const loop_case& c : cases) {
    std::wstring path;
    ASSERT_TRUE(build_inode_path(path, c.entry, ctx_, cache));
    EXPECT_EQ(path, c.path) << c.entry;
  }
  EXPECT_EQ(cache.at(904).parents, ulong64_set{0});
}

// Named paths are looked up end to end (end_to_end_test.cpp); the root has
// no component to match.
TEST_F(DirTreeOnDefault, FindInodeByPathOfTheRootAndClose) {
  ulong64 entry = 0;
  EXPECT_TRUE(find_inode_by_path(entry, L"\\", ctx_, false));
  EXPECT_EQ(entry, 5u);
  EXPECT_TRUE(find_inode_by_path(entry, L"\\sub", ctx_, true));
  EXPECT_EQ(entry, listing_.at("/sub"));
  EXPECT_FALSE(ctx_.is_open);
}

// On an extracted $MFT the lookup walks the application's own tree: paths
// with '/', components matched without regard to case, the last one a file.
TEST(DirTree, FindInodeByPathOnAnExtractedMft) {
  const std::string img = quor_test::fixture("default.img");
  if (img.empty() || !quor_test::have_program("icat")) GTEST_SKIP() << "default.img or icat absent";
  const std::string mft = quor_test::scratch_dir() + "/default.mft";
  ASSERT_EQ(std::system(("icat '" + img + "' 0 > '" + mft + "'").c_str()), 0);
  const std::map<std::string, ulong64> list = listed_inodes("default.img");
  struct mft_case {
    std::wstring path;
    bool found;
    ulong64 entry;
  } cases[] = {
      {L".", true, 5},
      {L"/sub/file-6.txt", true, list.at("/sub/file-6.txt")},
      {L"C:/SUB/File-6.TXT", true, list.at("/sub/file-6.txt")},
      {L"deep/l01/l02/l03/l04/l05/l06/l07/l08/l09/l10/l11/l12/l13/l14/l15/l16/l17/l18/l19/l20/leaf.txt",
       true, list.at("/deep/l01/l02/l03/l04/l05/l06/l07/l08/l09/l10/l11/l12/l13/l14/l15/l16/"
                           "l17/l18/l19/l20/leaf.txt")},
      {L"/sub", false, 0},                // a directory as the last component
      {L"\\sub\\file-6.txt", false, 0},  // one component, not a name in the root
      {L"/", false, 0},
      {L"", false, 0},
  };
  for (const mft_case& c : cases) {
    user_ctx ctx;
    ctx.verbose = false;
    ctx.mftfile = utf8_to_wstring(mft);
    ulong64 entry = 0;
    EXPECT_EQ(find_inode_by_path(entry, c.path, ctx, true), c.found) << wstring_to_utf8(c.path);
    if (c.found) {
      EXPECT_EQ(entry, c.entry) << wstring_to_utf8(c.path);
    }
    EXPECT_FALSE(ctx.is_open);
  }
}

// An $MFT whose run list claims two billion clusters more than the image
// holds, in a volume whose boot sector claims room for them: the scan stops
// at the run of records past the image's end instead of trying each of them,
// and still finds every directory of the real runs.
TEST(DirTree, ScanOfAnMftClaimingMoreThanTheImageEnds) {
  if (quor_test::fixture("default.img").empty()) GTEST_SKIP() << "default.img fixture absent";
  const std::string path = quor_test::copy_fixture("default.img", "mft-beyond-image.img");
  CNtfs* engine = nullptr;
  ASSERT_TRUE(open_ntfs_image(path.c_str(), 0, engine, false, false));
  std::vector<std::pair<ulong64, ulong64>> runs;
  ulong64 clusters = 0;
  for (const run_record& r : engine->m_mft_stats.data_runs) {
    runs.emplace_back(r.num_clusters, r.lcn);
    clusters += r.num_clusters;
  }
  const ulong64 mft_pos = engine->m_mft_file_pos;
  const ulong64 cluster_size = engine->m_cluster_size;
  delete engine;
  const ulong64 claimed = 1ull << 31;
  runs.emplace_back(claimed, runs.back().second + (1ull << 32));
  ASSERT_TRUE(quor_test::rewrite_mft_runs(path, mft_pos, runs, (clusters + claimed) * cluster_size));
  std::vector<byte> sectors(8);
  store_u64(sectors.data(), 1ull << 37);
  quor_test::write_at(path, 0x28, sectors);

  user_ctx ctx;
  ctx.resolved_image = utf8_to_wstring(path);
  ctx.verbose = false;
  ASSERT_TRUE(initialize_mft(ctx));
  dir_tree_map files, dirs;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(scan_dir_inodes(files, dirs, ctx, true));
  // A guard against a scan of billions of records, not a speed claim.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  for (const auto& e : quor_test::read_listing("default.img")) {
    if (e.kind != 'd') continue;
    EXPECT_EQ(dirs.count(e.inode), 1u) << e.path;
  }
}

TEST(DirTree, NoSourceNoPath) {
  user_ctx ctx;
  dir_tree_map cache;
  std::wstring out = L"kept";
  EXPECT_FALSE(build_inode_path(out, 5, ctx, cache));
  EXPECT_EQ(out, L"kept");
  ulong64 entry = 0;
  EXPECT_FALSE(find_inode_by_path(entry, L"\\", ctx, false));
  dir_tree_map files, dirs;
  EXPECT_FALSE(scan_dir_inodes(files, dirs, ctx, true));
  EXPECT_FALSE(build_dir_tree(dirs, files, ctx));
}

// A node made from a UTF-8 name, or assigned a wide one, carries both forms;
// assigning or clearing forgets the node's earlier state.
TEST(DirTree, NodeFormsAssignAndClear) {
  struct {
    const char* utf8;
    std::wstring wide;
    std::string kept;
  } names[] = {{"plain.txt", L"plain.txt", "plain.txt"},
               {"Gr\xc3\xb6\xc3\x9f" "e", L"Gr\u00f6\u00dfe", "Gr\xc3\xb6\xc3\x9f" "e"},
               {"ab\xff" "cd", L"ab", "ab"}};  // a bad byte ends the name
  for (const auto& n : names) {
    dir_tree_node node(7, ulong64_set{(2ull << 48) | 5}, std::string(n.utf8), true);
    EXPECT_EQ(node.name_w, n.wide) << n.utf8;
    EXPECT_EQ(node.name, n.kept) << n.utf8;
    EXPECT_EQ(node.entry, 7u);
    EXPECT_EQ(node.parents, (ulong64_set{(2ull << 48) | 5}));
    EXPECT_TRUE(node.is_dir);
  }
  dir_tree_node node(3, ulong64_set{}, std::string("x"), false);
  EXPECT_EQ(node.parents, (ulong64_set{0}));
  node.children.insert(40);
  EXPECT_TRUE(node.assign(9, ulong64_set{11, 12}, L"\u00e9t\u00e9", true));
  EXPECT_EQ(node.entry, 9u);
  EXPECT_EQ(node.parents, (ulong64_set{11, 12}));
  EXPECT_EQ(node.name, "\xc3\xa9t\xc3\xa9");
  EXPECT_TRUE(node.is_dir);
  EXPECT_TRUE(node.children.empty());
  EXPECT_TRUE(node.assign(10, ulong64_set{}, L"", false));
  EXPECT_EQ(node.parents, (ulong64_set{0}));
  node.children.insert(41);
  node.clear();
  EXPECT_EQ(node.entry, 0u);
  EXPECT_TRUE(node.parents.empty() && node.children.empty() && node.name.empty() && node.name_w.empty());
  EXPECT_FALSE(node.is_dir);
}

}  // namespace
