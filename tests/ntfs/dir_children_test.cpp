// Directory indexes on the fixture volumes: the live entries of every
// directory equal the mount's listing (name and entry number), the children
// sets agree, and the old names that an independent reading finds in INDX
// slack are carved, and only names the volume has held.
#include "ntfs/dir_children.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ntfs/index_node.h"
#include "ntfs/ntfs.h"
#include "tests/support/fixture.h"
#include "tests/support/listing.h"
#include "tests/support/record_builder.h"
#include "tests/support/slack_oracle.h"
#include "utils/byte_order.h"

namespace {

const char* const k_images[] = {"default.img", "c512.img", "c64k.img", "s4096.img",
                                "c128k.img",   "bigdir.img", "sample.img"};

std::string parent_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}
std::string leaf_of(const std::string& path) { return path.substr(path.rfind('/') + 1); }

typedef std::set<std::pair<std::string, uint64_t>> name_set;

struct volume_view {
  std::map<std::string, uint64_t> dirs;       // directory path -> entry
  std::map<std::string, name_set> children;  // directory path -> (name, entry)
  std::map<std::string, std::set<std::string>> deleted;  // directory path -> old names
  std::set<std::string> every_name;           // every name the volume held
};

volume_view view_of(const std::string& image) {
  volume_view v;
  v.dirs["/"] = 5;
  v.children["/"];
  for (const auto& e : quor_test::read_listing(image)) {
    v.children[parent_of(e.path)].insert({leaf_of(e.path), e.inode});
    v.every_name.insert(leaf_of(e.path));
    if (e.kind == 'd') {
      v.dirs[e.path] = e.inode;
      v.children[e.path];
    }
  }
  for (const auto& d : quor_test::read_deleted(image)) {
    v.deleted[parent_of(d.path)].insert(leaf_of(d.path));
    v.every_name.insert(leaf_of(d.path));
  }
  return v;
}

struct engine {
  CNtfs* ntfs = nullptr;
  ~engine() { delete ntfs; }
};

bool open_image(const std::string& name, engine& e, volume_view& v) {
  const std::string path = quor_test::fixture(name);
  if (path.empty()) return false;
  v = view_of(name);
  EXPECT_FALSE(v.children.size() < 2) << name << ": listing missing";
  EXPECT_TRUE(open_ntfs_image(path.c_str(), 0, e.ntfs, false, false)) << name;
  return e.ntfs != nullptr;
}

// The root lists the system files and itself; the listing does not.
bool listed_name(const std::string& dir, const std::string& name) {
  return !(dir == "/" && (name.empty() || name[0] == '$' || name == "."));
}

}  // namespace

TEST(DirChildren, LiveEntriesEqualTheMountOnEveryGeometry) {
  for (const char* image : k_images) {
    engine e;
    volume_view v;
    ASSERT_TRUE(open_image(image, e, v)) << image;
    for (const auto& dir : v.dirs) {
      string_indx_map valid;
      inode_indx_mmap carved;
      ASSERT_TRUE(e.ntfs->find_children_w_carve(valid, carved, dir.second, 0)) << image << " " << dir.first;
      name_set live;
      for (const auto& kv : valid) {
        const INDX_ENTRY_INFO& info = kv.second;
        if (info.entry[16 + 65] == 2) continue;  // DOS-only names are not listed
        if (!listed_name(dir.first, info.name)) continue;
        live.insert({info.name, load_u64(info.entry, 0) & 0xFFFFFFFFFFFFULL});
      }
      EXPECT_EQ(live, v.children[dir.first]) << image << " " << dir.first;

      ulong64_set children;
      ASSERT_TRUE(e.ntfs->find_children(dir.second, children)) << image << " " << dir.first;
      std::set<uint64_t> expected;
      for (const auto& c : v.children[dir.first]) expected.insert(c.second);
      std::set<uint64_t> got;
      for (ulong64 c : children)
        if (dir.first != "/" || c >= 16) got.insert(c);
      EXPECT_EQ(got, expected) << image << " " << dir.first;
    }
  }
}

TEST(DirChildren, SlackNamesFoundIndependentlyAreCarved) {
  if (!quor_test::have_program("ntfscat") && !quor_test::have_program("icat"))
    GTEST_SKIP() << "neither ntfscat nor icat installed to extract index allocations";
  int sample_checked = 0;
  for (const char* image : k_images) {
    engine e;
    volume_view v;
    ASSERT_TRUE(open_image(image, e, v)) << image;
    const std::string path = quor_test::fixture(image);
    for (const auto& dir : v.dirs) {
      string_indx_map valid;
      inode_indx_mmap carved;
      ASSERT_TRUE(e.ntfs->find_children_w_carve(valid, carved, dir.second, 0)) << image << " " << dir.first;
      std::set<std::string> carved_names;
      for (const auto& kv : carved) {
        const INDX_ENTRY_INFO& info = kv.second;
        carved_names.insert(info.name);
        // Whatever is carved must be a name this volume has held (system
        // names and DOS short names aside).
        if (info.name.empty() || info.entry[16 + 65] == 2 || info.name[0] == '$' || info.name == ".") continue;
        EXPECT_TRUE(v.every_name.count(info.name)) << image << " " << dir.first << ": carved " << info.name;
      }

      auto gone = v.deleted.find(dir.first);
      if (gone == v.deleted.end()) continue;
      std::set<std::string> live_names;
      for (const auto& c : v.children[dir.first]) live_names.insert(c.first);
      std::vector<std::string> old_names;
      for (const std::string& n : gone->second)
        if (!live_names.count(n)) old_names.push_back(n);
      std::vector<uint8_t> alloc;
      // A small folder keeps its index in the root alone: no slack to check.
      if (!quor_test::extract_index_allocation(path, dir.second, alloc)) continue;
      for (const auto& s : quor_test::find_slack_names(alloc, 4096, dir.second, old_names)) {
        if (std::string(image) == "sample.img") ++sample_checked;
        EXPECT_TRUE(carved_names.count(s.name))
            << image << " " << dir.first << ": " << s.name << " at record " << s.record_offset << " +"
            << s.entry_offset << " not carved";
      }
    }
  }
  // The sample's Documents and Photos keep all 13 of their deleted names in
  // slack; an oracle that finds fewer is broken, not the carver.
  EXPECT_GE(sample_checked, 13);
}

TEST(DirChildren, NodeWalkLimits) {
  // One live entry with a 255-character name (592 bytes), then the end.
  std::vector<byte> node(1024, 0);
  store_u32(&node[0], 16);
  store_u32(&node[4], 16 + 592 + 16);
  store_u64(&node[16], 0x0001000000000123ULL);
  store_u16(&node[16 + 8], 592);
  store_u16(&node[16 + 10], 576);
  store_u16(&node[16 + 592 + 8], 16);
  store_u16(&node[16 + 592 + 12], 2);
  ulong64_set children;
  EXPECT_TRUE(find_children_in_node(node.data(), static_cast<int>(node.size()), children));
  EXPECT_EQ(children, (ulong64_set{0x123}));

  store_u16(&node[16 + 8], 601);
  children.clear();
  find_children_in_node(node.data(), static_cast<int>(node.size()), children);
  EXPECT_TRUE(children.empty());
  EXPECT_FALSE(find_children_in_node(nullptr, 100, children));
}

// Volumes written by Windows: a small directory with a deleted file, and a
// root whose one file has a hundred names (its record needs an
// $ATTRIBUTE_LIST). The Sleuth Kit's deleted names come from the MFT here,
// not from index slack, so only the live entries are compared.
TEST(DirChildren, VolumesFromElsewhere) {
  for (const std::string name : {"ntfs3", "ntfs3_attrlist"}) {
    const std::string image = quor_test::shared_testdata(name + ".raw");
    if (image.empty()) GTEST_SKIP() << name << ": shared test data absent";
    const std::string fls_file = std::string(QUOR_SHARED_TESTDATA_DIR) + "/" + name + ".fls.txt";
    std::map<std::string, name_set> live;  // directory -> (name, entry)
    std::map<std::string, uint64_t> dirs{{"", 5}};
    for (const quor_test::fls_line& f : quor_test::read_fls(fls_file)) {
      if (f.path[0] == '$' || f.path.find(':') != std::string::npos) continue;
      const size_t slash = f.path.rfind('/');
      const std::string dir = slash == std::string::npos ? "" : f.path.substr(0, slash);
      if (!f.deleted) live[dir].insert({f.path.substr(slash + 1), f.inode});
      if (!f.deleted && slash == std::string::npos && name == "ntfs3") dirs[f.path] = f.inode;
    }
    ASSERT_FALSE(live.empty()) << fls_file;
    engine e;
    ASSERT_TRUE(open_ntfs_image(image.c_str(), 0, e.ntfs, false, false)) << name;
    for (const auto& d : dirs) {
      string_indx_map valid;
      inode_indx_mmap carved;
      ASSERT_TRUE(e.ntfs->find_children_w_carve(valid, carved, d.second, 0)) << name << " " << d.first;
      name_set got;
      for (const auto& kv : valid)
        if (kv.second.entry[16 + 65] != 2 && listed_name("/", kv.second.name))
          got.insert({kv.second.name, load_u64(kv.second.entry, 0) & 0xFFFFFFFFFFFFULL});
      EXPECT_EQ(got, live[d.first]) << name << " " << d.first;
    }
  }
}

TEST(DirChildren, ListingOrder) {
  // In listing order; each sorts after every one before it.
  const listing_name order[] = {
      {90, false, L""},        {30, false, L"$Zeta"}, {40, true, L"$alpha"}, {12, true, L"Docs"},
      {11, true, L"docs2"},    {10, false, L"a"},     {9, false, L"A.txt"},  {8, false, L"b"},
  };
  const size_t n = sizeof(order) / sizeof(order[0]);
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < n; ++j)
      EXPECT_EQ(compare_entry_names(order[i], order[j]), i > j) << i << " " << j;
}

// The name of an entry no longer in use is its first Win32 name where the
// record holds it, whatever the attribute instances; without one, its last
// name with a name.
TEST(DirChildren, UnusedRecordNamesInAttributeOrder) {
  const std::string copy = quor_test::copy_fixture("default.img", "unused-names.img");
  ASSERT_FALSE(copy.empty());
  const struct {
    ulong64 entry;  // free entries of the kit volume (deleted files)
    std::u16string first, second;
    uint16 first_instance, second_instance;
    uint8 space;
    const wchar_t* want;
  } cases[] = {{564, u"first.txt", u"second.txt", 3, 1, 1, L"first.txt"},
               {567, u"alpha", u"omega", 2, 1, 0, L"omega"},
               {570, u"DOSNAME", u"posix", 1, 2, 2, L"posix"}};
  CNtfs* engine = nullptr;
  ASSERT_TRUE(open_ntfs_image(copy.c_str(), 0, engine, true, false));
  for (const auto& c : cases) {
    quor_test::record_builder b(1024);
    store_u16(&b.rec[FRH_FLAGS], 0);
    b.add_file_name(c.first_instance, 0x70, c.first, c.space, 1);
    b.add_file_name(c.second_instance, 5, c.second, c.space == 2 ? 0 : c.space, 1);
    std::vector<byte> rec = b.done();
    int size = static_cast<int>(rec.size());
    ASSERT_TRUE(engine->write_mft_record(c.entry, rec.data(), size)) << c.entry;
  }
  delete engine;
  ASSERT_TRUE(open_ntfs_image(copy.c_str(), 0, engine, false, false));
  entry_name_list names;
  ASSERT_TRUE(engine->collect_unused_record_names(names));
  const std::map<ulong64, std::wstring> found(names.begin(), names.end());
  for (const auto& c : cases) {
    ASSERT_TRUE(found.count(c.entry)) << c.entry;
    EXPECT_EQ(found.at(c.entry), c.want) << c.entry;
  }
  delete engine;
}
