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
#include "ntfs/mft_record.h"
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

TEST(DirChildren, RootAndIndxWrappers) {
  // One live entry for 0x123, then the last entry: after a root header (16
  // bytes) and after an INDX header (24 bytes).
  std::vector<byte> node(16 + 0x58 + 16, 0);
  store_u32(&node[0], 16);
  store_u32(&node[4], 0x58 + 16);
  store_u64(&node[16], 0x0001000000000123ULL);
  store_u16(&node[16 + 8], 0x58);
  store_u16(&node[16 + 10], 0x44);
  store_u16(&node[16 + 0x58 + 8], 16);
  store_u16(&node[16 + 0x58 + 12], 2);
  std::vector<byte> root(16, 0), indx(24, 0);
  store_u32(&root[0], ATTR_FILE_NAME);
  store_u32(&root[8], 4096);
  root.insert(root.end(), node.begin(), node.end());
  std::copy_n("INDX", 4, indx.begin());
  indx.insert(indx.end(), node.begin(), node.end());
  ulong64_set from_root, from_indx, none;
  // The root's length is its node's, from the value's 16th byte.
  EXPECT_TRUE(find_children_in_root(root.data(), static_cast<int>(node.size()), from_root));
  EXPECT_TRUE(find_children_in_indx(indx.data(), static_cast<int>(indx.size()), from_indx));
  EXPECT_EQ(from_root, (ulong64_set{0x123}));
  EXPECT_EQ(from_indx, (ulong64_set{0x123}));
  // A root of another indexed type, or without an index record size, lists nothing.
  for (uint32 at : {0u, 8u}) {
    std::vector<byte> bad = root;
    store_u32(&bad[at], at == 0 ? ATTR_DATA : 0);
    EXPECT_FALSE(find_children_in_root(bad.data(), static_cast<int>(node.size()), none)) << at;
  }
  // A value shorter than its 16-byte header has a negative node length: its
  // header is not read (the 12 bytes held here would pass its checks), and
  // nothing is listed.
  const std::vector<byte> short_value(root.begin(), root.begin() + 12);
  for (int length : {-4, -16, -0x7FFFFFFF}) {
    EXPECT_FALSE(find_children_in_root(short_value.data(), length, none)) << length;
    string_indx_map valid;
    inode_indx_mmap carved;
    EXPECT_FALSE(parse_index_root_w_carve(valid, carved, 5, short_value.data(), length, 0)) << length;
    EXPECT_TRUE(valid.empty() && carved.empty());
  }
  EXPECT_TRUE(find_children_in_root(root.data(), 0, none));
  // A live entry that ends the node is read whole: the node's last 16 bytes
  // are as much the node's as its first.
  std::vector<byte> full = root;
  full.resize(16 + 16 + 2 * 0x58);
  std::copy_n(&full[16 + 16], 0x58, &full[16 + 16 + 0x58]);
  store_u64(&full[16 + 16 + 0x58], 0x0001000000000124ULL);
  store_u32(&full[16 + 4], 2 * 0x58 + 16);
  ulong64_set both;
  EXPECT_TRUE(find_children_in_root(full.data(), static_cast<int>(full.size() - 16), both));
  EXPECT_EQ(both, (ulong64_set{0x123, 0x124}));
  EXPECT_FALSE(find_children_in_indx(indx.data(), 23, none));
  EXPECT_TRUE(none.empty());
}

// A record with a DOS and a Win32 name in /5, a POSIX name in /7, a named
// stream "alt" and a resident attribute list naming a stream "zone".
TEST(DirChildren, NamesOfARecord) {
  quor_test::record_builder b(1024);
  b.add_file_name(2, 0x0005000000000005ULL, u"LONGNA~1.TXT", 2, 1);
  b.add_file_name(3, 0x0005000000000005ULL, u"Long Name.txt", 1, 1);
  const uint32 posix_at = b.next;
  b.add_file_name(4, 7, u"other", 0, 1);
  b.resident(ATTR_DATA, {1, 2}, u"", 5);
  b.resident(ATTR_DATA, {3}, u"alt", 6);
  std::vector<byte> entry(40, 0);
  store_u32(&entry[ALE_TYPE], ATTR_DATA);
  store_u16(&entry[ALE_LENGTH], 40);
  entry[ALE_NAME_LENGTH] = 4;
  entry[ALE_NAME_OFFSET] = 26;
  for (int i = 0; i < 4; ++i) store_u16(&entry[26 + 2 * i], static_cast<uint16>("zone"[i]));
  b.resident(ATTR_ATTRIBUTE_LIST, entry, u"", 7);
  const std::vector<byte> rec = b.done();
  const byte* r = rec.data();
  const ulong64 long_key = 5 | (ulong64{3 * 16 + 1} << 48), dos_key = 5 | (ulong64{2 * 16 + 2} << 48),
                other_key = 7 | (ulong64{4 * 16} << 48);

  file_name_map names;
  ASSERT_TRUE(collect_file_names(names, r, false, ~0ULL, true));
  ASSERT_EQ(names.size(), 2u);
  ASSERT_TRUE(names.count(long_key) && names.count(other_key));
  EXPECT_EQ(names[long_key].name, L"Long Name.txt");
  EXPECT_EQ(names[long_key].parent, 0x0005000000000005ULL);
  EXPECT_EQ(names[other_key].parent_count, 2u);  // two distinct parents
  ASSERT_TRUE(collect_file_names(names, r, true, 5, true));
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[dos_key].dos_only, 1);
  EXPECT_EQ(names[long_key].dos_only, 0);
  EXPECT_FALSE(collect_file_names(names, r, true, 9, true));
  // The sized form walks only the bytes it is given; without clearing, the
  // names found before stay.
  ASSERT_TRUE(collect_file_names(names, r, posix_at, false, ~0ULL, true));
  EXPECT_EQ(names.size(), 1u);
  collect_file_names(names, r, 1024, false, 7, false);
  EXPECT_EQ(names.size(), 2u);
  ASSERT_TRUE(collect_record_file_names(names, r));
  EXPECT_EQ(names.size(), 2u);
  ASSERT_TRUE(collect_record_file_names(names, r, posix_at));
  EXPECT_EQ(names.size(), 1u);
  // Without an engine the attribute list names no further record.
  ASSERT_TRUE(collect_all_file_names(names, nullptr, 40, r, true, ~0ULL));
  EXPECT_EQ(names.size(), 3u);

  EXPECT_TRUE(record_has_file_name_w(names, r, 1024, L"LONG NAME.TXT"));
  EXPECT_FALSE(record_has_file_name_w(names, r, 1024, L"longna~1.txt"));  // DOS names are not matched
  EXPECT_FALSE(record_has_file_name_w(names, r, 1023, L"other"));
  EXPECT_FALSE(record_has_file_name_w(names, r, 1024, L""));
  EXPECT_TRUE(names.empty());
  EXPECT_TRUE(record_has_file_name(names, r, 1024, "long name.TXT"));
  std::map<ulong64, std::wstring> plain = {{1, L"stale"}};
  EXPECT_TRUE(record_has_file_name(plain, r, 1024, "OTHER"));
  EXPECT_EQ(plain, (std::map<ulong64, std::wstring>{{long_key, L"Long Name.txt"}, {other_key, L"other"}}));
  EXPECT_FALSE(record_has_file_name(plain, r, 1024, "nothing"));

  std::set<std::wstring> streams;
  ulong64 parent = 0;
  ASSERT_TRUE(get_record_ads_names(r, streams, parent));
  EXPECT_EQ(streams, (std::set<std::wstring>{L"alt", L"zone"}));
  EXPECT_EQ(parent, 5u);
  streams.clear();
  parent = 9;
  EXPECT_FALSE(get_record_ads_names(r, posix_at, streams, parent));
  EXPECT_EQ(parent, 9u);
  EXPECT_TRUE(streams.empty());
}

// Names kept in the records an attribute list names: a hand-made list over
// the kit's /small.txt, and the list of runlist.img's /frag/a.bin, whose only
// $FILE_NAME lies in an extension record.
TEST(DirChildren, NamesThroughAnAttributeList) {
  engine e;
  volume_view v;
  ASSERT_TRUE(open_image("default.img", e, v));
  const ulong64 small = v.children["/"].lower_bound({"small.txt", 0})->second;
  std::vector<byte> rec;
  bool torn = false;
  ASSERT_TRUE(e.ntfs->read_mft_record_to_vector(rec, torn, small));
  const byte* fn = nullptr;
  ASSERT_TRUE(find_attribute(rec.data(), static_cast<uint32>(rec.size()), ATTR_FILE_NAME, fn));
  std::vector<byte> list(32, 0);
  store_u32(&list[ALE_TYPE], ATTR_FILE_NAME);
  store_u16(&list[ALE_LENGTH], 32);
  store_u64(&list[ALE_REFERENCE], small);
  store_u16(&list[ALE_INSTANCE], load_u16(fn, AH_INSTANCE));
  const int n = static_cast<int>(list.size());
  file_name_map names;
  ASSERT_TRUE(collect_listed_file_names(names, *e.ntfs, 5, list.data(), n, false, ~0ULL));
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names.begin()->second.name, L"small.txt");
  EXPECT_EQ(names.begin()->second.record_entry, small);
  names.clear();
  // The base record itself is not read again; a record without the listed
  // attribute gives nothing; an empty list is refused.
  EXPECT_TRUE(collect_listed_file_names(names, *e.ntfs, small, list.data(), n, false, ~0ULL));
  store_u16(&list[ALE_INSTANCE], 0x7777);
  EXPECT_TRUE(collect_listed_file_names(names, *e.ntfs, 5, list.data(), n, false, ~0ULL));
  EXPECT_TRUE(names.empty());
  EXPECT_FALSE(collect_listed_file_names(names, *e.ntfs, 5, list.data(), 0, false, ~0ULL));

  engine r;
  volume_view rv;
  ASSERT_TRUE(open_image("runlist.img", r, rv));
  const ulong64 frag = rv.dirs["/frag"];
  const ulong64 a = rv.children["/frag"].begin()->second;
  ASSERT_EQ(rv.children["/frag"].begin()->first, "a.bin");
  ASSERT_TRUE(r.ntfs->read_mft_record_to_vector(rec, torn, a));
  ASSERT_TRUE(collect_all_file_names(names, r.ntfs, a, rec.data(), true, ~0ULL));
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names.begin()->second.name, L"a.bin");
  EXPECT_EQ(names.begin()->second.parent & 0xFFFFFFFFFFFFULL, frag);
  EXPECT_NE(names.begin()->second.record_entry, a);
  file_name_map alone;
  EXPECT_FALSE(collect_file_names(alone, rec.data(), static_cast<uint32>(rec.size()), true, ~0ULL, true));
}
