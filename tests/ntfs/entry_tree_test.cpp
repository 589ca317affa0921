// The entry tree maps against fls (live and deleted names), the paths of an
// entry against the kit's listing, and the gathered entry information.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "ntfs/dir_children.h"
#include "ntfs/entry_info.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "tests/support/engine.h"
#include "tests/support/istat.h"
#include "tests/support/record_builder.h"
#include "utils/byte_order.h"
#include "utils/utf_convert.h"

namespace {

std::unique_ptr<CNtfs> open(const std::string& name) { return quor_test::open_engine(name + ".img"); }

// `fls -r -p <flags>` of an image: path to entry, a named stream standing
// for its file, the virtual orphan folder left out.
std::multimap<std::string, ulong64> fls_entries(const std::string& img, const std::string& flags) {
  std::multimap<std::string, ulong64> out;
  const std::string file = quor_test::scratch_dir() + "/entry-tree.fls";
  std::string ignored;
  if (quor_test::run_command("fls -r -p " + flags + " '" + img + "' > '" + file + "'", ignored) != 0) return out;
  for (const quor_test::fls_line& f : quor_test::read_fls(file))
    if (f.path.find("$OrphanFiles") == std::string::npos) out.emplace(f.path.substr(0, f.path.find(':')), f.inode);
  return out;
}

std::string parent_path(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string leaf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Where the $FILE_NAME attribute holding `name` ends in a record read whole:
// the name is the value's last field, after its length and name-space
// bytes, and attributes are padded to 8 bytes. 0 when it is not there.
size_t name_attribute_end(const std::vector<byte>& record, const std::string& name) {
  std::vector<uint32> code_points;
  for (wchar_t c : utf8_to_wstring(name)) code_points.push_back(static_cast<uint32>(c));
  std::vector<uint16> units;
  if (!utf32_to_utf16(units, code_points)) return 0;
  const size_t bytes = 2 * units.size();
  for (size_t at = 2; at + bytes <= record.size(); ++at) {
    bool same = record[at - 2] == units.size();
    for (size_t i = 0; same && i < units.size(); ++i) same = load_u16(&record[at + 2 * i]) == units[i];
    if (same) return (at + bytes + 7) & ~static_cast<size_t>(7);
  }
  return 0;
}

// Stale heap, as a walk past the bytes of a short copy would meet it: a
// chunk of the copy's size is freed just before the lookup, and the chunk
// the allocator placed after it holds, at record offset `at`, a $FILE_NAME
// "planted.txt" and an end marker. Where no two chunks lie side by side (a
// sanitizer's allocator keeps gaps) nothing is planted.
struct stale_heap {
  std::vector<void*> held;
  stale_heap(size_t copy_size, size_t at) {
    quor_test::record_builder b;
    const uint32 first = b.resident(ATTR_FILE_NAME, quor_test::record_builder::file_name_value(5, u"planted.txt"));
    const std::vector<byte> rec = b.done();
    const size_t room = 4096, length = load_u32(rec.data(), FRH_BYTES_IN_USE) - first;
    // Chunks of that size freed earlier are handed out first: take them
    // until one comes from fresh memory with the next chunk behind it.
    for (int tries = 0; tries < 64; ++tries) {
      void* copy = std::malloc(copy_size);
      void* after = std::malloc(room);
      const uintptr_t gap = reinterpret_cast<uintptr_t>(after) - reinterpret_cast<uintptr_t>(copy);
      if (copy && after && reinterpret_cast<uintptr_t>(after) > reinterpret_cast<uintptr_t>(copy) &&
          gap >= copy_size && gap <= at && at - gap + length <= room) {
        std::memcpy(static_cast<byte*>(after) + (at - gap), &rec[first], length);
        held.push_back(after);
        std::free(copy);
        return;
      }
      held.push_back(copy);
      held.push_back(after);
    }
  }
  ~stale_heap() {
    for (void* p : held) std::free(p);
  }
};

TEST(EntryTree, LiveAndDeletedEntriesAsFlsSeesThem) {
  if (!quor_test::have_program("fls")) GTEST_SKIP() << "fls not installed";
  for (const char* name : {"default", "sample", "c512", "c64k", "s4096", "c128k", "bigdir", "streams"}) {
    auto engine = open(name);
    ASSERT_TRUE(engine) << name;
    const std::string img = quor_test::fixture(std::string(name) + ".img");
    ulong64 progress = 0, total = 0;
    tree_node_mmap by_parent;
    tree_node_map orphans;
    ASSERT_TRUE(engine->find_deleted_entries(progress, total, by_parent, orphans)) << name;
    EXPECT_EQ(total, engine->get_inode_count() + 4);
    EXPECT_EQ(progress, total);
    const tree_node_map& dirs = engine->m_tree_map_first;
    const tree_node_map& files = engine->m_tree_map_second;
    ASSERT_TRUE(dirs.count(5));
    EXPECT_TRUE(dirs.at(5).children.count(5));  // the root names itself

    // Live: every entry reachable from the root through live directories.
    auto live = [&](ulong64 e) {
      auto d = dirs.find(e);
      if (d != dirs.end()) return !d->second.is_deleted;
      auto f = files.find(e);
      return f != files.end() && !f->second.is_deleted;
    };
    std::set<ulong64> reached;
    std::vector<ulong64> todo{5};
    while (!todo.empty()) {
      const ulong64 d = todo.back();
      todo.pop_back();
      for (ulong64 c : dirs.at(d).children) {
        if (!live(c) || !reached.insert(c).second) continue;
        if (dirs.count(c)) todo.push_back(c);
      }
    }
    reached.erase(5);
    // Extension records have nodes of their own, under the folders their
    // names name, where fls lists the entry they belong to: each stands
    // beside its base entry, and what follows compares base entries.
    auto base_of = [&](ulong64 e) -> ulong64 {
      std::vector<byte> rec;
      bool torn = false;
      if (!engine->read_mft_record_to_vector(rec, torn, e)) return 0;
      return mft_reference_entry(load_u64(rec.data(), FRH_BASE_RECORD));
    };
    for (auto it = reached.begin(); it != reached.end();) {
      const ulong64 base = base_of(*it);
      if (base == 0) {
        ++it;
        continue;
      }
      EXPECT_TRUE(reached.count(base)) << name << ": extension record " << *it << " without its base " << base;
      it = reached.erase(it);
    }
    // The Sleuth Kit reads no volume with clusters above 64 KiB: there the
    // kit's listing from the mount stands for fls (user entries from 64 on).
    const std::multimap<std::string, ulong64> fls_live_names = fls_entries(img, "-u");
    if (fls_live_names.empty()) {
      std::set<ulong64> listed, user;
      for (const quor_test::listing_entry& e : quor_test::read_listing(name)) listed.insert(e.inode);
      for (ulong64 e : reached)
        if (e >= 64) user.insert(e);
      EXPECT_FALSE(listed.empty()) << name;
      EXPECT_EQ(user, listed) << name;
      continue;
    }
    std::set<ulong64> fls_live;
    std::map<std::string, ulong64> dir_of;
    for (const auto& kv : fls_live_names) {
      fls_live.insert(kv.second);
      dir_of[kv.first] = kv.second;
    }
    // fls also lists a name that an index still holds for a record no longer
    // in use (an emptied folder's root node); istat says which those are,
    // and they belong with the deleted names.
    // A wrong tree leaves thousands of names unreached: one unreached name
    // whose record is in use already fails the comparison below, and the kit
    // holds only a handful of names of freed records, so istat stops there
    // rather than running once for every name.
    constexpr size_t max_freed_names = 16;
    std::multiset<std::pair<ulong64, ulong64>> theirs;
    size_t freed_names = 0;
    for (const auto& kv : fls_live_names) {
      if (reached.count(kv.second)) continue;
      std::string stat;
      quor_test::run_command("istat '" + img + "' " + std::to_string(kv.second), stat);
      if (stat.find("Not Allocated") == std::string::npos) {
        ADD_FAILURE() << name << ": live entry " << kv.second << " (" << kv.first << ") not reached from the root";
        break;
      }
      if (++freed_names > max_freed_names) {
        ADD_FAILURE() << name << ": more than " << max_freed_names << " names unreached, all of freed records";
        break;
      }
      fls_live.erase(kv.second);
      const std::string dir = parent_path(kv.first);
      theirs.emplace(dir.empty() ? 5 : dir_of.at(dir), kv.second);
    }
    EXPECT_EQ(reached, fls_live) << name;

    // Deleted, grouped by parent: fls -d names each under its folder's path.
    std::multiset<std::pair<ulong64, ulong64>> ours;
    std::set<std::pair<ulong64, ulong64>> extensions;
    for (const auto& kv : by_parent) {
      const ulong64 base = base_of(kv.second.inode);
      if (base != 0)
        extensions.emplace(kv.first, base);
      else
        ours.emplace(kv.first, kv.second.inode);
    }
    for (const auto& kv : fls_entries(img, "-d")) {
      const std::string dir = parent_path(kv.first);
      theirs.emplace(dir.empty() ? 5 : dir_of.at(dir), kv.second);
    }
    EXPECT_EQ(ours, theirs) << name;
    for (const auto& e : extensions)
      EXPECT_TRUE(ours.count(e)) << name << ": a deleted extension record of " << e.second << " under " << e.first;
    for (const auto& kv : orphans) EXPECT_TRUE(kv.second.is_deleted);
  }
}

TEST(EntryTree, BuildKeepsTheDirectoriesWithTheirChildren) {
  auto engine = open("default");
  ASSERT_TRUE(engine);
  ulong64 progress = 0, total = 0;
  ASSERT_TRUE(engine->build_entry_tree(progress, total));
  EXPECT_EQ(total, engine->get_inode_count() + 2);
  EXPECT_TRUE(engine->m_tree_map_second.empty());
  const mft_tree_node& frag = engine->m_tree_map_first.at(66);
  EXPECT_TRUE(frag.is_dir);
  EXPECT_EQ(frag.children, (ulong64_set{67, 68}));
  EXPECT_EQ(frag.parents.size(), 1u);
  EXPECT_EQ(*frag.parents.begin() & 0xFFFFFFFFFFFFULL, 5u);
  // The hard-linked file is a child of the root under both names, once.
  EXPECT_TRUE(engine->m_tree_map_first.at(5).children.count(65));
}

TEST(EntryInfo, PathsOfEveryListedEntryAreEveryLink) {
  for (const char* name : {"default", "sample", "c512", "c64k", "s4096", "c128k", "bigdir", "streams"}) {
    auto engine = open(name);
    ASSERT_TRUE(engine) << name;
    std::map<ulong64, std::multiset<std::string>> listed;
    for (const quor_test::listing_entry& e : quor_test::read_listing(name)) {
      std::string p = e.path.substr(1) + "/";
      for (char& c : p)
        if (c == '/') c = '\\';
      listed[e.inode].insert(p);
    }
    ASSERT_FALSE(listed.empty());
    for (const auto& kv : listed) {
      std::vector<std::string> paths;
      ASSERT_TRUE(engine->get_path_list(kv.first, {}, paths)) << kv.first;
      EXPECT_EQ(std::multiset<std::string>(paths.begin(), paths.end()), kv.second) << name << " " << kv.first;
    }
  }
  auto engine = open("default");
  std::vector<std::wstring> paths;
  ASSERT_TRUE(engine->get_path_list_w(5, {}, paths));
  EXPECT_EQ(paths, std::vector<std::wstring>{L""});
  paths.clear();
  ASSERT_TRUE(engine->get_path_list_w(67, {L"x", L"y"}, paths));
  EXPECT_EQ(paths, std::vector<std::wstring>{L"frag\\a.bin\\y\\x\\"});
}

// The listing prints by parent, in the order gathered, with the flags istat
// and the kit give: streams, directory, deleted. No kit name has a zero
// time (mkntfs -T gives the system files' names 1970-01-01, which istat
// shows as 0000-00-00), so a copy gets one: the note follows the name.
TEST(EntryInfo, NullTimeNoteAndTheListingByParent) {
  auto engine = open("default");
  ASSERT_TRUE(engine);
  const struct {
    ulong64 entry;
    const char* line;
  } cases[] = {
      {0, "[       5] [       0] [....] $MFT\n"},
      {564, "[       5] [     564] [...X] del-root-1.txt\n"},  // /del-root-1.txt, deleted
      {73, "[       5] [      73] [A...] streams.txt ads=[ alt ]\n"},
      {66, "[       5] [      66] [..D.] frag\n"},
      {67, "[      66] [      67] [....] a.bin\n"},
  };
  inode_info_mmap infos;
  std::string want;
  for (const auto& c : cases) {
    inode_info info;
    ASSERT_TRUE(engine->get_inode_info(c.entry, info, ~0ULL)) << c.entry;
    ASSERT_EQ(info.names.size(), 1u) << c.entry;
    EXPECT_FALSE(info.names[0].time_null) << c.entry;
    EXPECT_EQ(info.names[0].note, "") << c.entry;
    testing::internal::CaptureStdout();
    print_inode_info(info);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);
    infos.emplace(info.parent, info);
  }
  // /small.txt's name created at 0, on a copy.
  const std::string copy = quor_test::copy_fixture("default.img", "fn-null.img");
  ASSERT_FALSE(copy.empty());
  const ulong64 small = quor_test::listed_inode("default", "/small.txt");
  std::vector<byte> record;
  bool torn = false;
  ASSERT_TRUE(engine->read_mft_record_to_vector(record, torn, small));
  const byte* fn = nullptr;
  ASSERT_TRUE(find_attribute(record.data(), static_cast<uint32>(record.size()), ATTR_FILE_NAME, fn));
  const ulong64 created = static_cast<ulong64>(fn - record.data()) + load_u16(fn, 20) + 8;
  ASSERT_LT(created + 8, 510u);  // clear of the sector's update-sequence bytes
  {
    std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(engine->get_inode_file_pos(small) + created));
    f.write(std::string(8, '\0').data(), 8);
    ASSERT_TRUE(f.good());
  }
  auto changed = quor_test::open_engine_at(copy);
  ASSERT_TRUE(changed);
  inode_info nulled;
  ASSERT_TRUE(changed->get_inode_info(small, nulled, ~0ULL));
  ASSERT_EQ(nulled.names.size(), 1u);
  EXPECT_TRUE(nulled.names[0].time_null);
  EXPECT_EQ(nulled.names[0].note, "fn:time null");
  testing::internal::CaptureStdout();
  print_inode_info(nulled);
  char line[64];
  std::snprintf(line, sizeof line, "[       5] [%8llu] [....] small.txt\n", static_cast<unsigned long long>(small));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), line);

  // Key order, and within a key the order of insertion.
  for (ulong64 parent : {5, 66})
    for (const auto& c : cases)
      if ((c.entry == 67) == (parent == 66)) want += c.line;
  testing::internal::CaptureStdout();
  print_inode_info_map(infos);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), want);
  testing::internal::CaptureStdout();
  print_inode_info_map(inode_info_mmap());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(EntryInfo, GatheredInformationAndItsLine) {
  auto engine = open("default");
  ASSERT_TRUE(engine);
  inode_info info;
  ASSERT_TRUE(engine->get_inode_info(73, info, ~0ULL));  // /streams.txt
  EXPECT_EQ(info.parent, 5u);
  EXPECT_TRUE(info.has_ads);
  EXPECT_EQ(info.ads_names, (std::set<std::wstring>{L"alt"}));
  EXPECT_FALSE(info.is_dir || info.is_deleted || info.is_reparse_point);
  ASSERT_EQ(info.names.size(), 1u);
  EXPECT_FALSE(info.names[0].time_null);
  EXPECT_NE(info.si_times[0], 0u);
  EXPECT_GT(info.record_position, 0u);
  inode_info dir;
  ASSERT_TRUE(engine->get_inode_info(66, dir, ~0ULL));
  dir.indent = 2;
  testing::internal::CaptureStdout();
  print_inode_info(info);
  print_inode_info(dir);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "[       5] [      73] [A...] streams.txt ads=[ alt ]\n"
            "  [       5] [      66] [..D.] frag\n");
  // The record-based twin gathers the same from a record already read.
  std::vector<byte> record;
  bool torn = false;
  ASSERT_TRUE(engine->read_mft_record_to_vector(record, torn, 73));
  inode_info twin;
  ASSERT_TRUE(get_record_inode_info(engine.get(), record.data(), 73, twin, ~0ULL));
  EXPECT_EQ(twin.ads_names, info.ads_names);
  EXPECT_EQ(twin.first_name, info.first_name);
  EXPECT_EQ(std::vector<ulong64>(twin.si_times, twin.si_times + 4), std::vector<ulong64>(info.si_times, info.si_times + 4));
  record[0] = 'X';
  EXPECT_FALSE(get_record_inode_info(engine.get(), record.data(), 73, twin, ~0ULL));
  std::wstring name, parent_name;
  ASSERT_TRUE(engine->get_inode_and_parent_names(67, name, parent_name));
  EXPECT_EQ(name, L"a.bin");
  EXPECT_EQ(parent_name, L"frag");
  ulong64 parent = 0;
  FILE_RECORD_HEADER header;
  ASSERT_TRUE(engine->get_inode_name_and_header(67, name, parent, header));
  EXPECT_EQ(parent, 66u);
  EXPECT_EQ(header.sequence_number, 1u);

  // A tree print that meets the root filed under itself ends.
  inode_info_mmap infos;
  inode_info root;
  root.inode = 5;
  root.parent = 5;
  root.display_name = L".";
  infos.emplace(5, root);
  infos.emplace(5, info);
  EXPECT_FALSE(engine->get_inode_info(engine->get_inode_count() + 5, info, ~0ULL));
  EXPECT_EQ(info.inode, 0u);
  testing::internal::CaptureStdout();
  print_inode_info_tree(infos, 5);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "[       5] [       5] [....] .\n"
            "[       5] [      73] [A...] streams.txt ads=[ alt ]\n");
}

}  // namespace

TEST(EntryInfo, NamesInUtf8) {
  auto engine = open("default");
  ASSERT_NE(engine, nullptr);
  const ulong64 cafe = quor_test::listed_inode("default", "/names/caf\xC3\xA9.txt");
  const ulong64 folder = quor_test::listed_inode("default", "/names");
  ASSERT_NE(cafe, 0u);
  std::string name = "stale", parent_name = "stale";
  ASSERT_TRUE(engine->get_inode_and_parent_names(cafe, name, parent_name));
  EXPECT_EQ(name, "caf\xC3\xA9.txt");
  EXPECT_EQ(parent_name, "names");
  ulong64 parent = 0;
  FILE_RECORD_HEADER header;
  name = "stale";
  ASSERT_TRUE(engine->get_inode_name_and_header(cafe, name, parent, header));
  EXPECT_EQ(name, "caf\xC3\xA9.txt");
  EXPECT_EQ(parent, folder);
  EXPECT_EQ(header.sequence_number, 2u);  // as the listing gives it
  // An entry past the end: nothing, and the old texts gone.
  name = parent_name = "stale";
  EXPECT_FALSE(engine->get_inode_and_parent_names(engine->get_inode_count() + 5, name, parent_name));
  EXPECT_EQ(name + parent_name, "");
  name = "stale";
  EXPECT_FALSE(engine->get_inode_name_and_header(engine->get_inode_count() + 5, name, parent, header));
  EXPECT_EQ(name, "");
}

// Scan and link on their own, as the build runs them: every readable entry
// lands in one of two maps, then under the directories its names name.
TEST(EntryTree, ScanThenLinkStepByStep) {
  auto engine = open("default");
  ASSERT_TRUE(engine);
  tree_node_map dirs, files;
  ulong64 progress = 7, total = 0;
  ASSERT_TRUE(engine->scan_mft_entries(progress, total, dirs, files));
  EXPECT_EQ(total, engine->get_inode_count());
  EXPECT_EQ(progress, total);
  const std::vector<quor_test::listing_entry> listing = quor_test::read_listing("default");
  ASSERT_FALSE(listing.empty());
  for (const quor_test::listing_entry& e : listing) {
    EXPECT_EQ(dirs.count(e.inode), e.kind == 'd' ? 1u : 0u) << e.path;
    EXPECT_EQ(files.count(e.inode), e.kind == 'd' ? 0u : 1u) << e.path;
  }
  ASSERT_TRUE(dirs.count(5) && dirs.count(66));
  EXPECT_TRUE(dirs.at(66).children.empty());  // nothing linked yet
  total = 0;
  ASSERT_TRUE(engine->link_tree_children(progress, total, dirs, files));
  EXPECT_EQ(total, dirs.size() + files.size());
  EXPECT_EQ(dirs.at(66).children, (ulong64_set{67, 68}));
  EXPECT_TRUE(dirs.at(5).children.count(5));
  EXPECT_TRUE(dirs.at(5).children.count(66));
  tree_node_map no_dirs;
  EXPECT_FALSE(engine->link_tree_children(progress, total, no_dirs, files));
}

// Every readable entry gets a node, extension records too: the names one
// holds give its parents as istat shows them, and one without names has the
// single parent 0. runlist.img's /frag/a.bin keeps its name in one extension
// record and pieces of its data in three more; ntfs3_attrlist's entry 27
// keeps most of its hundred names in eleven.
TEST(EntryTree, ExtensionRecordsGetNodesOfTheirOwn) {
  if (!quor_test::have_program("istat")) GTEST_SKIP() << "istat not installed";
  const struct {
    std::string image;
    ulong64 base;
  } cases[] = {{quor_test::fixture("runlist.img"), 65}, {quor_test::shared_testdata("ntfs3_attrlist.raw"), 27}};
  for (const auto& c : cases) {
    if (c.image.empty()) continue;
    SCOPED_TRACE(c.image);
    auto engine = quor_test::open_engine_at(c.image);
    ASSERT_TRUE(engine);
    tree_node_map dirs, files;
    ulong64 progress = 0, total = 0;
    ASSERT_TRUE(engine->scan_mft_entries(progress, total, dirs, files));
    std::set<ulong64> holders;
    for (const quor_test::istat_list_entry& e : quor_test::istat_list_entries(quor_test::istat_report(c.image, c.base)))
      if (e.holder != c.base) holders.insert(e.holder);
    ASSERT_FALSE(holders.empty());
    size_t nameless = 0;
    for (ulong64 h : holders) {
      const std::string report = quor_test::istat_report(c.image, h);
      ASSERT_NE(report.find("Base File Record: " + std::to_string(c.base)), std::string::npos) << h;
      std::set<ulong64> parents;
      for (ulong64 p : quor_test::istat_parent_references(report)) parents.insert(p);
      if (parents.empty()) {
        parents.insert(0);
        ++nameless;
      }
      EXPECT_EQ(dirs.count(h), 0u) << h;
      ASSERT_EQ(files.count(h), 1u) << h;
      EXPECT_EQ(files.at(h).inode, h);
      EXPECT_EQ(files.at(h).parents, parents) << h;
    }
    if (c.base == 65) {
      EXPECT_EQ(nameless, 3u);
    }
  }
}

// The orphans alone are the orphans of the search by parent; each is deleted
// and names no parent.
TEST(EntryTree, OrphansAloneAreThoseOfTheFullSearch) {
  for (const char* name : {"default", "sample"}) {
    auto engine = open(name);
    ASSERT_TRUE(engine) << name;
    ulong64 progress = 0, total = 0;
    tree_node_mmap by_parent;
    tree_node_map all, orphans;
    engine->find_deleted_entries(progress, total, by_parent, all);
    progress = total = 0;
    EXPECT_EQ(engine->find_orphan_entries(progress, total, orphans), !all.empty()) << name;
    EXPECT_EQ(progress, total) << name;
    ASSERT_EQ(orphans.size(), all.size()) << name;
    // Reserved records never used (from 16 on) are deleted and nameless.
    EXPECT_TRUE(orphans.count(16)) << name;
    for (const auto& kv : orphans) {
      EXPECT_TRUE(all.count(kv.first)) << name << " " << kv.first;
      EXPECT_TRUE(kv.second.is_deleted) << kv.first;
      EXPECT_EQ(*kv.second.parents.begin() & 0xFFFFFFFFFFFFULL, 0u) << kv.first;
    }
  }
}

// The form with a further (unused) argument gathers the same.
TEST(EntryInfo, FourArgumentFormGathersTheSame) {
  auto engine = open("default");
  ASSERT_TRUE(engine);
  for (ulong64 entry : {0, 5, 66, 67, 73, 564}) {
    inode_info three, four;
    ASSERT_TRUE(engine->get_inode_info(entry, three, ~0ULL)) << entry;
    four.first_name = L"stale";
    ASSERT_TRUE(engine->get_inode_info(entry, four, ~0ULL, ~0ULL)) << entry;
    EXPECT_EQ(four.inode, entry);
    EXPECT_EQ(four.parent, three.parent) << entry;
    EXPECT_EQ(four.record_position, three.record_position) << entry;
    EXPECT_EQ(four.is_dir, three.is_dir) << entry;
    EXPECT_EQ(four.is_deleted, three.is_deleted) << entry;
    EXPECT_EQ(four.first_name, three.first_name) << entry;
    EXPECT_EQ(four.ads_names, three.ads_names) << entry;
    EXPECT_EQ(four.names.size(), three.names.size()) << entry;
    EXPECT_TRUE(std::equal(std::begin(four.si_times), std::end(four.si_times), std::begin(three.si_times))) << entry;
  }
  inode_info none;
  EXPECT_FALSE(engine->get_inode_info(engine->get_inode_count() + 5, none, ~0ULL, ~0ULL));
}

TEST(EntryTree, NodeKeepsTheFullParentReferences) {
  quor_test::record_builder b(1024);
  b.add_file_name(1, 0x0002000000000005ULL, u"a", 1, 1);
  b.add_file_name(2, 0x0001000000000007ULL, u"b", 0, 1);
  b.add_file_name(3, 0x0002000000000005ULL, u"c", 1, 1);
  const std::vector<byte> rec = b.done();
  file_name_map names;
  ASSERT_TRUE(collect_record_file_names(names, rec.data()));
  const mft_tree_node node(40, names, true, false);
  EXPECT_EQ(node.inode, 40u);
  EXPECT_EQ(node.parents, (std::set<ulong64>{0x0001000000000007ULL, 0x0002000000000005ULL}));
  EXPECT_TRUE(node.is_dir);
  EXPECT_FALSE(node.is_deleted);
  EXPECT_TRUE(node.children.empty());
  const mft_tree_node nameless(41, file_name_map(), false, true);
  EXPECT_EQ(nameless.parents, (std::set<ulong64>{0}));
  EXPECT_TRUE(nameless.is_deleted);
}

TEST(EntryInfo, ClearEmptiesEveryField) {
  auto engine = open("default");
  ASSERT_TRUE(engine);
  inode_info info;
  ASSERT_TRUE(engine->get_inode_info(73, info, ~0ULL));  // /streams.txt, with a named stream
  ASSERT_TRUE(info.has_ads && !info.names.empty() && info.si_times[0] != 0);
  info.is_dir = info.is_deleted = info.is_reparse_point = true;
  info.reparse_target = "t";
  info.indent = 3;
  info.record_position = 1;
  info.clear();
  EXPECT_TRUE(info.inode == 0 && info.parent == 0 && info.record_position == 0 && info.indent == 0);
  EXPECT_FALSE(info.is_dir || info.is_deleted || info.is_reparse_point || info.has_ads);
  EXPECT_TRUE(info.reparse_target.empty() && info.ads_names.empty() && info.display_name.empty() &&
              info.names.empty() && info.first_name.empty());
  for (ulong64 t : info.si_times) EXPECT_EQ(t, 0u);
}

// The lookups of an entry whose record, or whose parent's record, the end of
// the image cuts short. Every walk keeps to the bytes read: the names whose
// $FILE_NAME attributes lie wholly inside them are found as the kit's
// listing gives them, and nothing else, neither a name the cut runs through
// nor one past it, nor what lies in memory after a copy of the bytes read.
// The cuts: inside /host.bin's record after its name, inside /target.bin's
// 4 KiB record in its second name (a long hard link), and inside /b's record
// after its name, where /b/x, numbered below its folder, is looked up. No
// row keeps a named stream's attribute.
TEST(EntryInfo, LookupsOverRecordsCutByTheEndOfTheImage) {
  const struct {
    const char* image;
    const char* cut_path;  // whose record the end of the image cuts
    uint32 kept;           // the bytes of that record left in the image
    const char* probe;     // the entry looked up
    std::set<std::string> paths;
  } rows[] = {{"streams", "/host.bin", 300, "/host.bin", {"host.bin\\"}},
              {"names4k", "/target.bin", 0x180, "/target.bin", {"target.bin\\"}},
              {"moved", "/b", 0x100, "/b/x", {"b\\x\\"}}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.image);
    std::map<ulong64, std::set<std::string>> names_of{{5, {"."}}};
    for (const quor_test::listing_entry& e : quor_test::read_listing(row.image))
      names_of[e.inode].insert(leaf(e.path));
    const ulong64 cut_entry = quor_test::listed_inode(row.image, row.cut_path);
    const ulong64 probe = quor_test::listed_inode(row.image, row.probe);
    auto whole = open(row.image);
    ASSERT_TRUE(whole);
    std::vector<byte> record;
    bool torn = false;
    ASSERT_TRUE(whole->read_mft_record_to_vector(record, torn, cut_entry));
    std::set<std::string> kept_names;
    for (const std::string& name : names_of[cut_entry]) {
      const size_t end = name_attribute_end(record, name);
      ASSERT_NE(end, 0u) << name;
      if (end <= row.kept) kept_names.insert(name);
    }
    ASSERT_FALSE(kept_names.empty());
    names_of[cut_entry] = kept_names;
    // A walk past the bytes read goes on where the attribute the cut runs
    // through ends.
    uint32 after_cut = load_u16(record.data(), FRH_FIRST_ATTRIBUTE);
    for (uint32 length = 1; after_cut <= row.kept && length != 0; after_cut += length)
      length = load_u32(record.data(), after_cut + AH_LENGTH);
    const std::string copy = quor_test::copy_fixture(std::string(row.image) + ".img", std::string("cut-") + row.image);
    ASSERT_FALSE(copy.empty());
    ASSERT_EQ(::truncate(copy.c_str(), static_cast<off_t>(whole->get_inode_file_pos(cut_entry) + row.kept)), 0);
    auto cut = quor_test::open_engine_at(copy);
    ASSERT_TRUE(cut);

    inode_info info;
    {
      const stale_heap heap(row.kept, after_cut);
      ASSERT_TRUE(cut->get_inode_info(probe, info, ~0ULL));
    }
    std::set<std::string> found;
    for (const file_name_info& n : info.names) found.insert(wstring_to_utf8(n.name));
    EXPECT_EQ(found, names_of[probe]);
    EXPECT_TRUE(info.ads_names.empty());
    std::vector<std::string> paths;
    ASSERT_TRUE(cut->get_path_list(probe, {}, paths));
    EXPECT_EQ(std::set<std::string>(paths.begin(), paths.end()), row.paths);
    std::string name, parent_name;
    ASSERT_TRUE(cut->get_inode_and_parent_names(probe, name, parent_name));
    EXPECT_EQ(names_of[probe].count(name), 1u) << name;
    ulong64 parent = 0;
    FILE_RECORD_HEADER header;
    ASSERT_TRUE(cut->get_inode_name_and_header(probe, name, parent, header));
    EXPECT_EQ(names_of[probe].count(name), 1u) << name;
    EXPECT_EQ(names_of[parent], std::set<std::string>{parent_name});
  }
}
