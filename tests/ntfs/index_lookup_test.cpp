// A name looked up down a folder's index tree, and the names read across it,
// checked against the listing the fixture kit made beside each image.
#include "ntfs/index_lookup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>

#include "ntfs/index_record.h"
#include "ntfs/ntfs.h"
#include "ntfs/open_resolve.h"
#include "tests/support/engine.h"
#include "tests/support/fixture.h"
#include "tests/support/layer_setups.h"
#include "tests/support/listing.h"

namespace {

std::unique_ptr<CNtfs> opened_at(const std::string& path) {
  CNtfs* volume = nullptr;
  if (path.empty() || !open_ntfs_image(path.c_str(), 0, volume, false, false)) return nullptr;
  return std::unique_ptr<CNtfs>(volume);
}

std::unique_ptr<CNtfs> opened(const std::string& image) { return opened_at(quor_test::fixture(image)); }

std::string name_of(const byte* e) {
  std::string name;
  utf16le_name_to_utf8(name, e + k_ie_name, e[k_ie_name_length]);
  return name;
}

}  // namespace

// Folders of 333, 1,333 and 13,333 names whose indexes are trees of index records:
// every name is found down the tree by its own name and by an upper-cased
// one, and the walk across the tree meets each exactly once, within its bound.
TEST(IndexLookup, EveryNameOfALargeFolderIsFoundDownItsTree) {
  // c64k.img's index records (4 KiB) are smaller than its clusters: their VCNs count 512-byte blocks.
  for (const auto& at : {std::make_pair("bigdir.img", "/d2000"), std::make_pair("bigdir.img", "/d20000"),
                         std::make_pair("c64k.img", "/dir500")}) {
    const std::unique_ptr<CNtfs> volume = opened(at.first);
    if (!volume) GTEST_SKIP() << "fixture kit absent";
    const std::vector<uint16> up = read_upcase_table(*volume);
    ASSERT_EQ(up.size(), 65536u);
    std::map<std::string, uint64_t> inode_of;
    for (const auto& l : quor_test::read_listing(at.first)) inode_of[l.path] = l.inode;
    const std::string folder = at.second;
    const uint64_t dir = inode_of.at(folder);
    std::map<std::string, uint64_t> names;
    for (const auto& p : inode_of)
      if (p.first.compare(0, folder.size() + 1, folder + "/") == 0) names[p.first.substr(folder.size() + 1)] = p.second;
    ASSERT_GT(names.size(), 300u) << folder;
    for (const auto& n : names) {
      ASSERT_EQ(index_child_named(*volume, up, dir, n.first), n.second) << folder << "/" << n.first;
      std::string upper = n.first;
      for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
      ASSERT_EQ(index_child_named(*volume, up, dir, upper), n.second) << folder << "/" << upper;
    }
    EXPECT_EQ(index_child_named(*volume, up, dir, "v00001-abcdefghijklm.txt.ol"), NO_INDEX_RECORD);
    EXPECT_EQ(index_child_named(*volume, up, dir, "zzz-after-every-name"), NO_INDEX_RECORD);
    std::map<std::string, uint64_t> met;
    size_t twice = 0;
    each_indexed_name(*volume, dir, 1 << 20, [&](const byte* e) {
      twice += !met.emplace(name_of(e), mft_reference_entry(load_u64(e, k_ie_file_reference))).second;
      return true;
    });
    EXPECT_EQ(met, names) << folder;
    EXPECT_EQ(twice, 0u);
    // The root's node alone, then one record more: a bounded walk stops short of the whole.
    size_t root_only = 0, one_more = 0;
    each_indexed_name(*volume, dir, 0, [&](const byte*) { return ++root_only, true; });
    each_indexed_name(*volume, dir, 1, [&](const byte*) { return ++one_more, true; });
    EXPECT_LT(root_only, one_more);
    EXPECT_LT(one_more, names.size());
    size_t stopped = 0;
    each_indexed_name(*volume, dir, 1 << 20, [&](const byte*) { return ++stopped < 3; });
    EXPECT_EQ(stopped, 3u);
  }
}

// Names beyond ASCII are ordered and folded by the volume's $UpCase; the exact
// name wins over one that differs only by case; without the table only A-Z fold.
TEST(IndexLookup, NamesAreFoldedAsTheVolumesTableFoldsThem) {
  const std::unique_ptr<CNtfs> volume = opened("default.img");
  if (!volume) GTEST_SKIP() << "fixture kit absent";
  std::map<std::string, uint64_t> inode_of;
  for (const auto& l : quor_test::read_listing("default.img")) inode_of[l.path] = l.inode;
  const uint64_t names = inode_of.at("/names");
  const std::vector<uint16> up = read_upcase_table(*volume), ascii;
  ASSERT_EQ(up.at(0xE9), 0xC9);
  struct row {
    std::string name;
    std::vector<uint16> table;
    uint64_t want;
  } rows[] = {
      {"caf\xC3\xA9.txt", up, inode_of.at("/names/caf\xC3\xA9.txt")},
      {"CAF\xC3\x89.TXT", up, inode_of.at("/names/caf\xC3\xA9.txt")},
      {"CAF\xC3\x89.TXT", ascii, NO_INDEX_RECORD},
      {"caf\xC3\xA9.TXT", ascii, inode_of.at("/names/caf\xC3\xA9.txt")},
      {"\xE6\x96\x87\xE4\xBB\xB6.txt", up, inode_of.at("/names/\xE6\x96\x87\xE4\xBB\xB6.txt")},
      {"\xF0\x9F\x98\x80SMILE.TXT", up, inode_of.at("/names/\xF0\x9F\x98\x80smile.txt")},
      {"README", up, inode_of.at("/names/README")},
      {"Readme", up, inode_of.at("/names/Readme")},
      {"", up, NO_INDEX_RECORD},
  };
  for (const row& r : rows) EXPECT_EQ(index_child_named(*volume, r.table, names, r.name), r.want) << r.name;
  const uint64_t either = index_child_named(*volume, up, names, "readme");
  EXPECT_TRUE(either == inode_of.at("/names/README") || either == inode_of.at("/names/Readme")) << either;
  EXPECT_EQ(index_child_named(*volume, up, inode_of.at("/names/README"), "README"), NO_INDEX_RECORD);  // a file
}

// A damaged node whose one entry, not marked last, is too short to hold a
// name: it is passed over unread past its end (the node ends with it).
TEST(IndexLookup, AnEntryTooShortForANameIsNeverReadPastItsEnd) {
  std::vector<byte> node(32, 0);
  node[0] = 16, node[4] = 32, node[16 + k_ie_entry_length] = 16;
  int met = 0;
  each_index_entry(node.data(), 32, [&](const byte* e, ulong64) { return met += e != nullptr ? 1 : 100, true; });
  EXPECT_EQ(met, 100);
}

// A folder ntfs-3g filled, in a scrambled order, with pairs of names that
// differ only by case, in a tree of index records: each name is found as
// itself (by the number ntfs-3g showed for it), also where its twin stands
// in a node above it.
TEST(IndexLookup, EachOfNamesDifferingOnlyByCaseIsFoundAsItself) {
  const std::string dir = quor_test::scratch_dir() + "/lookup-case", image = dir + "/case.img";
  ::mkdir(dir.c_str(), 0700);
  std::vector<std::string> names;
  for (int i = 0; i < 600; ++i)
    for (const char* twin : {"case-twin-", "cASE-TWIN-"}) names.push_back(twin + std::to_string(i));
  std::mt19937 pick(117);
  for (size_t i = names.size() - 1; i > 0; --i) std::swap(names[i], names[pick() % (i + 1)]);
  std::ofstream order(dir + "/order");
  for (const std::string& n : names) order << n << "\n";
  order.close();
  std::map<std::string, uint64_t> shown;
  {
    quor_test::layer_stack stack;
    std::string listed;
    if (!quor_test::ntfs_case_drive(stack, image, dir + "/m", false) ||
        !quor_test::mount_ntfs(stack, image, dir + "/m") ||
        !stack.ask("mkdir " + quor_test::shell_word(dir + "/m/f") + " && cd " + quor_test::shell_word(dir + "/m/f") +
                       " && xargs touch < ../../order && ls -i",
                   listed))
      GTEST_SKIP() << stack.why();
    std::istringstream in(listed);
    uint64_t number = 0;
    std::string name;
    while (in >> number >> name) shown[name] = number;
  }
  ASSERT_TRUE(quor_test::wait_until_unheld(image));
  const std::unique_ptr<CNtfs> volume = quor_test::open_engine_at(image);
  std::string resolved;
  ulong64 folder = 0;
  ASSERT_TRUE(volume && shown.size() == 1200u && volume->get_inode_from_path("\\f", resolved, folder, false));
  // The set-up's point: a later twin in a node, the earlier one under it.
  index_tree tree;
  size_t above = 0;
  std::deque<ulong64> nodes(1, NO_INDEX_RECORD);
  ASSERT_TRUE(tree.read(*volume, folder));
  for (; !nodes.empty(); nodes.pop_front()) {
    uint32 length = 0;
    const byte* node = tree.node(*volume, nodes.front(), length);
    each_index_entry(node, length, [&](const byte* e, ulong64 below) {
      if (below != NO_INDEX_RECORD) nodes.push_back(below), above += e != nullptr && name_of(e)[1] == 'a';
      return true;
    });
  }
  ASSERT_GT(above, 0u);
  const std::vector<uint16> up = read_upcase_table(*volume);
  for (const auto& n : shown) EXPECT_EQ(index_child_named(*volume, up, folder, n.first), n.second) << n.first;
}

// Copies of a folder's index damaged three ways: every record's used length
// stretched over its slack, every record's end entry stripped of its "last"
// mark, and the first record's own VCN changed. The slack's old names never
// read as live, and a record that is not the one its VCN asks for holds no name.
TEST(IndexLookup, DamagedIndexRecordsYieldNoOldOrMisplacedNames) {
  const std::unique_ptr<CNtfs> sound = opened("bigdir.img");
  if (!sound) GTEST_SKIP() << "fixture kit absent";
  std::map<std::string, uint64_t> live;
  uint64_t dir = 0;
  for (const auto& l : quor_test::read_listing("bigdir.img")) {
    if (l.path == "/d2000") dir = l.inode;
    if (l.path.compare(0, 7, "/d2000/") == 0) live[l.path.substr(7)] = l.inode;
  }
  std::set<std::string> old;
  for (const auto& d : quor_test::read_slack("bigdir.img"))
    if (d.path.compare(0, 7, "/d2000/") == 0) old.insert(d.path.substr(7));
  ASSERT_FALSE(old.empty() || live.empty());
  // Each index record's place in the image, and its end entry's in the record.
  index_tree tree;
  ASSERT_TRUE(tree.read(*sound, dir));
  const uint32 size = tree.dir.record_size, cluster = sound->m_cluster_size, unit = size >= cluster ? cluster : 512;
  std::vector<std::pair<uint64_t, uint32>> records;
  std::set<std::string> in_first;
  for (uint64_t at = 0; at < tree.dir.allocation_size; at += size) {
    uint32 length = 0, entry = 0;
    const byte* node = tree.node(*sound, at / unit, length);
    for (entry = node == nullptr ? length : load_u32(node, 0); entry + 16 <= length;) {
      if ((load_u16(node + entry, k_ie_flags) & 2) != 0) break;
      if (at == 0) in_first.insert(name_of(node + entry));
      entry += load_u16(node + entry, k_ie_entry_length);
    }
    for (const data_run& r : tree.dir.runs)
      if (entry + 16 <= length && at >= r.vcn * cluster && at < (r.vcn + r.num_clusters) * cluster)
        records.push_back({r.lcn * cluster + at - r.vcn * cluster, INDX_NODE_OFFSET + entry});
  }
  ASSERT_GT(records.size(), 2u);
  ASSERT_FALSE(in_first.empty());
  const auto damaged = [&](const std::string& as, const std::function<void(std::fstream&, uint64_t, uint32)>& damage) {
    const std::string path = quor_test::copy_fixture("bigdir.img", as);
    std::fstream image(path, std::ios::in | std::ios::out | std::ios::binary);
    for (size_t i = 0; i < records.size() && image; ++i)
      if (i == 0 || as != "index-vcn.img") damage(image, records[i].first, records[i].second);
    image.close();
    return opened_at(path);
  };
  const auto put = [](std::fstream& image, uint64_t at, const std::string& bytes) {
    image.seekp(static_cast<std::streamoff>(at));
    image.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  };
  const auto u32 = [](uint32 v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
  // The used length is stretched to the allocated one; a flag that lies in a sector's last two
  // bytes is the update sequence's and is left.
  const std::unique_ptr<CNtfs> stretched = damaged("index-used.img", [&](std::fstream& f, uint64_t at, uint32) {
    char allocated[4];
    f.seekg(static_cast<std::streamoff>(at + INDX_NODE_OFFSET + 8));
    f.read(allocated, 4);
    put(f, at + INDX_NODE_OFFSET + 4, std::string(allocated, 4));
  });
  const std::unique_ptr<CNtfs> unmarked = damaged("index-last.img", [&](std::fstream& f, uint64_t at, uint32 end) {
    char flags = 0;
    f.seekg(static_cast<std::streamoff>(at + end + k_ie_flags));
    f.get(flags);
    if ((end + k_ie_flags) % 512 < 510) put(f, at + end + k_ie_flags, std::string(1, char(flags & ~2)));
  });
  const std::unique_ptr<CNtfs> moved = damaged("index-vcn.img", [&](std::fstream& f, uint64_t at, uint32) {
    put(f, at + 16, u32(0x7777) + u32(0));
  });
  ASSERT_TRUE(stretched && unmarked && moved);
  for (CNtfs* volume : {stretched.get(), unmarked.get()}) {
    std::map<std::string, uint64_t> met;
    size_t slack = 0, lost = 0;
    each_indexed_name(*volume, dir, 1 << 20, [&](const byte* e) {
      met.emplace(name_of(e), mft_reference_entry(load_u64(e, k_ie_file_reference)));
      return true;
    });
    for (const auto& n : met) slack += live.count(n.first) == 0;
    for (const auto& n : live) lost += met.count(n.first) == 0;
    EXPECT_TRUE(slack == 0 && lost == 0) << (volume == unmarked.get() ? "unmarked " : "stretched ") << slack << " old names, " << lost << " lost";
  }
  const std::vector<uint16> up = read_upcase_table(*moved);
  for (const auto& n : live)
    EXPECT_EQ(index_child_named(*moved, up, dir, n.first), in_first.count(n.first) ? NO_INDEX_RECORD : n.second)
        << n.first;
}
