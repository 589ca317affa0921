// Gathering a folder's entries: the attribute-by-attribute operations against
// fls and the raw index bytes icat gives, indexes that give no names, and the
// tool's own road where the index bitmap frees a record; whole kit volumes
// are run end to end in end_to_end_test.cpp.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/gather_entries.h"
#include "ntfs/index_node.h"
#include "ntfs/ntfs.h"
#include "tests/app/fls_folders.h"
#include "tests/app/mft_runs_rewrite.h"
#include "tests/support/fixture.h"
#include "tests/support/istat.h"
#include "tests/support/listing.h"
#include "utils/byte_order.h"

namespace {

typedef std::map<std::string, std::set<std::string>> names_by_folder;

// A folder's collections with the two buffers the operation is handed.
struct gathered {
  std::vector<byte> allocation, root;
  inode_indx_mmap all;
  string_indx_map nodup;
  bool collect(user_ctx& ctx, ulong64 dir) { return collect_dir_entries(allocation, root, all, nodup, ctx, dir); }
  // Live long names (8.3 names and the folder's own "." left out).
  std::set<std::string> live() const {
    std::set<std::string> out;
    for (const auto& kv : all)
      if (kv.second.valid && kv.second.entry[81] != 2 && kv.second.name != ".") out.insert(kv.second.name);
    return out;
  }
  std::set<std::string> carved() const {
    std::set<std::string> out;
    for (const auto& kv : all)
      if (!kv.second.valid) out.insert(kv.second.name);
    return out;
  }
};

// A context over kit image `name`, owning its volume; without a volume when
// the image is absent or does not open.
std::unique_ptr<user_ctx> open_context(const std::string& name) {
  const std::string path = quor_test::fixture(name);
  CNtfs* engine = nullptr;
  if (path.empty() || !open_ntfs_image(path.c_str(), 0, engine, false, false)) return std::make_unique<user_ctx>();
  return std::make_unique<user_ctx>(engine, true);
}

std::string icat(const std::string& image, const std::string& address) {
  std::string out;
  quor_test::run_command("icat '" + image + "' " + address, out);
  return out;
}

const attribute_record* first_of_type(const inode_attributes& record, uint32 type) {
  for (const auto& kv : record.attributes)
    if (kv.second.type() == type && kv.second.name == L"$I30") return &kv.second;
  return nullptr;
}

// Every folder of each volume, gathered index attribute by index attribute:
// its live names are the ones fls lists in it, and every removed name the
// kit found in the slack of its index records is among its carved entries.
TEST(CollectDirEntries, LiveNamesAreFlsNamesAndRemovedNamesAreCarved) {
  if (!quor_test::have_program("fls")) GTEST_SKIP() << "fls not installed";
  size_t removed_found = 0;
  for (const char* name : {"default", "c512", "c64k", "s4096", "sample", "moved", "bigdir"}) {
    const std::string image = quor_test::fixture(std::string(name) + ".img");
    if (image.empty()) continue;
    std::map<ulong64, std::set<std::string>> expected;
    std::map<std::string, ulong64> folders;
    ASSERT_TRUE(quor_test::fls_folders(image, expected, folders)) << name;
    names_by_folder slack;
    for (const quor_test::deleted_entry& d : quor_test::read_slack(name)) {
      const size_t slash = d.path.rfind('/');
      slack[d.path.substr(1, slash == 0 ? 0 : slash - 1)].insert(d.path.substr(slash + 1));
    }
    std::unique_ptr<user_ctx> opened = open_context(std::string(name) + ".img");
    user_ctx& ctx = *opened;
    ASSERT_NE(ctx.ntfs, nullptr) << name;
    for (const auto& folder : folders) {
      gathered g;
      ASSERT_TRUE(g.collect(ctx, folder.second)) << name << " /" << folder.first;
      EXPECT_EQ(g.live(), expected[folder.second]) << name << " /" << folder.first;
      const std::set<std::string> carved = g.carved();
      for (const std::string& gone : slack[folder.first]) {
        EXPECT_EQ(carved.count(gone), 1u) << name << " /" << folder.first << "/" << gone;
        ++removed_found;
      }
      std::map<uint32, size_t> live_by_type;
      for (const auto& kv : g.all) {
        EXPECT_TRUE(kv.second.attr_type == 0x90 || kv.second.attr_type == 0xA0) << kv.second.attr_type;
        live_by_type[kv.second.attr_type] += kv.second.valid;
      }
      // The index root of /d2000 keeps two keys above its INDX records: the
      // two attributes are filed into the same collections.
      if (std::string(name) == "bigdir" && folder.first == "d2000") {
        EXPECT_EQ(live_by_type[0x90], 2u);
        EXPECT_GT(live_by_type[0xA0], 1000u);
      }
    }
  }
  EXPECT_GT(removed_found, 1000u);
}

// A folder small enough for its $INDEX_ROOT: the root buffer holds the node
// as icat reads the root's value from byte 16 on, each entry lies at its file
// offset in it, and the allocation buffer stays empty.
TEST(CollectDirEntries, RootOnlyFolderGivesOffsetsFromTheRootNode) {
  if (!quor_test::have_program("icat")) GTEST_SKIP() << "icat not installed";
  const std::string image = quor_test::fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "default.img not in the fixture kit";
  ulong64 frag = 0;
  size_t listed = 0;
  for (const auto& e : quor_test::read_listing("default.img")) {
    if (e.path == "/frag") frag = e.inode;
    listed += e.path.rfind("/frag/", 0) == 0;
  }
  ASSERT_NE(frag, 0u);
  std::unique_ptr<user_ctx> opened = open_context("default.img");
  user_ctx& ctx = *opened;
  inode_attributes record;
  ASSERT_TRUE(read_inode(record, ctx, frag));
  ASSERT_EQ(first_of_type(record, 0xA0), nullptr);
  const std::string value = icat(image, std::to_string(frag) + "-144");
  ASSERT_GT(value.size(), 16u + 16);

  gathered g;
  g.allocation.assign(8192, 0xEE);
  ASSERT_TRUE(g.collect(ctx, frag));
  EXPECT_TRUE(g.allocation.empty());
  EXPECT_EQ(std::string(g.root.begin(), g.root.end()), value.substr(16));
  size_t live = 0;
  for (const auto& kv : g.all) {
    const INDX_ENTRY_INFO& e = kv.second;
    EXPECT_EQ(e.attr_type, 0x90u);
    ASSERT_LE(16 + e.file_offset + sizeof e.entry, value.size()) << e.name;
    EXPECT_EQ(value.compare(16 + e.file_offset, sizeof e.entry, reinterpret_cast<const char*>(e.entry),
                            sizeof e.entry),
              0)
        << e.name;
    live += e.valid;
  }
  EXPECT_EQ(live, listed);
}

// The collections carry over between calls: a file (no index) or an entry
// past the MFT adds nothing, and the result says whether anything is held.
// Both buffers are emptied first, whatever the call then finds.
TEST(CollectDirEntries, AnEntryWithoutIndexAddsNothingToWhatIsHeld) {
  ulong64 file = 0, folder = 0;
  for (const auto& e : quor_test::read_listing("default.img")) {
    if (e.path == "/small.txt") file = e.inode;
    if (e.path == "/longnames") folder = e.inode;
  }
  std::unique_ptr<user_ctx> opened = open_context("default.img");
  user_ctx& ctx = *opened;
  if (!ctx.ntfs) GTEST_SKIP() << "default.img not in the fixture kit";
  gathered g;
  g.root.assign(100, 1);
  g.allocation.assign(100, 2);
  EXPECT_FALSE(g.collect(ctx, file));
  EXPECT_TRUE(g.all.empty() && g.nodup.empty() && g.root.empty() && g.allocation.empty());

  ASSERT_TRUE(g.collect(ctx, folder));
  const size_t all = g.all.size(), nodup = g.nodup.size();
  ASSERT_GT(all, 60u);
  EXPECT_FALSE(g.allocation.empty());
  EXPECT_TRUE(g.collect(ctx, file));
  EXPECT_TRUE(g.root.empty() && g.allocation.empty());
  // A record that cannot be read is false, whatever is held.
  testing::internal::CaptureStdout();
  const bool held = g.collect(ctx, ulong64(1) << 40);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "invalid inode\n");
  EXPECT_FALSE(held);
  EXPECT_EQ(g.all.size(), all);
  EXPECT_EQ(g.nodup.size(), nodup);

  user_ctx closed;
  EXPECT_FALSE(g.collect(closed, folder));
  EXPECT_EQ(g.all.size(), all);
}

// A file, an entry beyond the MFT, and indexes keyed by security ids and
// hashes ($Secure's $SII and $SDH; on views.img with 64 entries in an INDX
// record each), owners, object ids and reparse tags ($Quota, $ObjId and
// $Reparse under $Extend, by the numbers mkntfs gives them): no names.
TEST(CollectDirEntries, NoFileNameIndexNoEntries) {
  struct no_names_case {
    const char* image;
    std::vector<ulong64> entries;
  } cases[] = {{"default.img", {3, 9, ulong64(1) << 40}}, {"views.img", {9, 24, 25, 26}}};
  for (const no_names_case& c : cases) {
    std::unique_ptr<user_ctx> opened = open_context(c.image);
    if (!opened->ntfs) continue;
    for (ulong64 entry : c.entries) {
      gathered g;
      testing::internal::CaptureStdout();
      const bool held = g.collect(*opened, entry);
      testing::internal::GetCapturedStdout();
      EXPECT_FALSE(held) << c.image << " " << entry;
      EXPECT_TRUE(g.all.empty() && g.nodup.empty()) << c.image << " " << entry;
    }
  }
}

// On 512-byte clusters an allocation can end inside a record: exactly one
// record is parsed as one, a shorter one not at all.
TEST(CollectIndxAttribute, AllocationShorterThanARecordIsNotParsed) {
  ulong64 dir = 0;
  for (const auto& e : quor_test::read_listing("c512.img"))
    if (e.path == "/dir500") dir = e.inode;
  std::unique_ptr<user_ctx> opened = open_context("c512.img");
  user_ctx& ctx = *opened;
  if (!ctx.ntfs) GTEST_SKIP() << "c512.img not in the fixture kit";
  ASSERT_EQ(ctx.ntfs->m_cluster_size, 512u);
  inode_attributes record;
  ASSERT_TRUE(read_inode(record, ctx, dir));
  const attribute_record* allocation = first_of_type(record, 0xA0);
  ASSERT_NE(allocation, nullptr);
  ASSERT_FALSE(allocation->runs.empty());
  ASSERT_GE(allocation->runs[0].num_clusters, 8u);

  gathered whole;
  ASSERT_TRUE(whole.collect(ctx, dir));
  std::set<std::string> in_first;
  for (const auto& kv : whole.all)
    if (kv.second.valid && kv.second.attr_type == 0xA0 && kv.second.file_offset < 4096) in_first.insert(kv.second.name);
  ASSERT_FALSE(in_first.empty());

  for (uint32 clusters : {8u, 7u}) {
    attribute_record cut = *allocation;
    cut.runs.assign(1, allocation->runs[0]);
    cut.runs[0].num_clusters = clusters;
    gathered g;
    const bool parsed = collect_indx_attribute(g.allocation, g.all, g.nodup, dir, ctx, cut, 0xA0);
    EXPECT_EQ(parsed, clusters == 8) << clusters;
    std::set<std::string> live;
    for (const auto& kv : g.all) {
      EXPECT_LT(kv.second.file_offset, 4096u) << kv.second.name;
      if (kv.second.valid) live.insert(kv.second.name);
    }
    EXPECT_EQ(live, clusters == 8 ? in_first : std::set<std::string>()) << clusters;
    EXPECT_EQ(g.nodup.empty(), clusters != 8) << clusters;
  }
}

// Damaged attributes are read only inside their own bytes: a root whose
// value offset leaves less than an empty node, or a node cut to the least a
// root may hold, gives no entry that lies past what is there; runs that
// leave the volume are refused before anything is allocated for them.
TEST(CollectIndxAttribute, DamagedRootsAndRunsStayInsideTheirBytes) {
  ulong64 frag = 0, longnames = 0;
  size_t listed = 0;
  for (const auto& e : quor_test::read_listing("default.img")) {
    if (e.path == "/frag") frag = e.inode;
    if (e.path == "/longnames") longnames = e.inode;
    listed += e.path.rfind("/frag/", 0) == 0;
  }
  std::unique_ptr<user_ctx> opened = open_context("default.img");
  user_ctx& ctx = *opened;
  if (!ctx.ntfs) GTEST_SKIP() << "default.img not in the fixture kit";
  inode_attributes small, large;
  ASSERT_TRUE(read_inode(small, ctx, frag));
  ASSERT_TRUE(read_inode(large, ctx, longnames));
  const attribute_record* root = first_of_type(small, 0x90);
  const attribute_record* allocation = first_of_type(large, 0xA0);
  ASSERT_TRUE(root && allocation);
  const uint32 v = load_u16(root->raw.data() + 20), n = static_cast<uint32>(root->raw.size());
  ASSERT_GE(n, v + 88u);

  // Each case: the damage done to a copy, and the live entries still found.
  struct damage {
    const char* what;
    uint32 type;
    std::function<void(attribute_record&)> change;
    size_t live;
  } cases[] = {
      {"root as stored", 0x90, [](attribute_record&) {}, listed},
      {"value offset 0xffff", 0x90, [](attribute_record& a) { store_u16(&a.raw[20], 0xFFFF); }, 0},
      {"value offset one past an empty node", 0x90,
       [n](attribute_record& a) { store_u16(&a.raw[20], static_cast<uint16>(n - 87)); }, 0},
      {"node cut to 72 bytes", 0x90, [v](attribute_record& a) { a.raw.resize(v + 88); }, 0},
      {"run of 2^32 - 1 clusters", 0xA0,
       [](attribute_record& a) { a.runs.assign(1, data_run(1, 0, 0xFFFFFFFFu, false)); }, 0},
      {"run past the last cluster", 0xA0,
       [&ctx](attribute_record& a) { a.runs.assign(1, data_run(ctx.ntfs->m_total_clusters, 0, 1, false)); }, 0},
  };
  for (const damage& c : cases) {
    attribute_record changed = c.type == 0x90 ? *root : *allocation;
    c.change(changed);
    gathered g;
    const bool filed = collect_indx_attribute(c.type == 0x90 ? g.root : g.allocation, g.all, g.nodup,
                                              c.type == 0x90 ? frag : longnames, ctx, changed, c.type);
    EXPECT_EQ(filed, !g.all.empty()) << c.what;
    size_t live = 0;
    for (const auto& kv : g.all) {
      live += kv.second.valid;
      EXPECT_LE(16 + kv.second.file_offset + kv.second.entry_length, changed.raw.size() - v) << c.what;
    }
    EXPECT_EQ(live, c.live) << c.what;
    EXPECT_LT(g.allocation.capacity(), size_t(1) << 20) << c.what;
  }
}

// A copy of default.img whose root claims, by one damaged run length, every
// cluster from its index allocation's to the volume's end: one call holds
// only the allocation's data size (istat's size of $I30) and finds the live
// names of the undamaged root.
TEST(CollectIndxAttribute, AllocationReadUpToItsDataSize) {
  if (!quor_test::have_program("istat")) GTEST_SKIP() << "istat not installed";
  const ulong64 root_entry = 5;
  unsigned long long data_size = 0;
  const std::string report = quor_test::istat_report(quor_test::fixture("default.img"), root_entry);
  const size_t row = report.find("$INDEX_ALLOCATION (160-");
  ASSERT_NE(row, std::string::npos) << report;
  ASSERT_EQ(std::sscanf(report.c_str() + report.find("size: ", row), "size: %llu", &data_size), 1);

  std::unique_ptr<user_ctx> original = open_context("default.img");
  ASSERT_NE(original->ntfs, nullptr);
  CNtfs& ntfs = *original->ntfs;
  inode_attributes record;
  ASSERT_TRUE(read_inode(record, *original, root_entry));
  const attribute_record* allocation = first_of_type(record, 0xA0);
  ASSERT_NE(allocation, nullptr);
  ASSERT_EQ(allocation->runs.size(), 1u);
  const ulong64 lcn = allocation->runs[0].lcn;
  const ulong64 claimed = ntfs.m_total_clusters - lcn;
  ASSERT_GT(claimed * ntfs.m_cluster_size, 16 * data_size);
  gathered whole;
  ASSERT_TRUE(whole.collect(*original, root_entry));

  const std::string copy = quor_test::copy_fixture("default.img", "root-runs.img");
  const ulong64 root_pos = ntfs.get_mft_lcn() * ntfs.m_cluster_size + root_entry * 1024;
  ASSERT_TRUE(quor_test::rewrite_mft_runs(copy, root_pos, {{claimed, lcn}}, 0, 0xA0));
  CNtfs* engine = nullptr;
  ASSERT_TRUE(open_ntfs_image(copy.c_str(), 0, engine, false, false));
  user_ctx damaged(engine, true);
  inode_attributes changed;
  ASSERT_TRUE(read_inode(changed, damaged, root_entry));
  ASSERT_NE(first_of_type(changed, 0xA0), nullptr);
  ASSERT_EQ(first_of_type(changed, 0xA0)->runs[0].num_clusters, claimed);

  gathered g;
  ASSERT_TRUE(g.collect(damaged, root_entry));
  EXPECT_EQ(g.allocation.size(), data_size);
  EXPECT_EQ(g.live(), whole.live());
  EXPECT_FALSE(g.live().empty());
}

// The tool's own road: an INDX record that the index's $BITMAP marks free
// holds no live entries, whatever its header says.
TEST(GatherDirListing, RecordsFreedInTheIndexBitmapHoldOnlySlack) {
  std::string path = quor_test::fixture("default.img");
  if (path.empty()) GTEST_SKIP() << "default.img not in the fixture kit";
  ulong64 dir = 0;
  names_by_folder children;
  for (const auto& e : quor_test::read_listing("default.img")) {
    if (e.path == "/longnames") dir = e.inode;
    const size_t slash = e.path.rfind('/');
    children[e.path.substr(0, slash)].insert(e.path.substr(slash + 1));
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
  dir_listing listing;
  std::vector<byte> buffer;
  ASSERT_TRUE(gather_dir_listing(listing, buffer, ctx, dir));
  ASSERT_TRUE(listing.merge(ctx.mft_entry_count));
  std::set<std::string> live;
  std::map<std::string, std::string> carved;
  INDX_ENTRY_INFO scratch;
  for (size_t i = 0; i < listing.row_count(); ++i) {
    const INDX_ENTRY_INFO& e = listing.row(i, scratch);
    if (!e.valid) carved.emplace(e.name, e.slack_comment);
    if (e.valid && e.entry[81] != 2) live.insert(e.name);
  }
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
