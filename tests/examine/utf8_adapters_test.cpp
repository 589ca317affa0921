// The UTF-8 forms of the engine's record and open-and-resolve operations:
// names out of hand-built records, and paths resolved on kit volumes whose
// entry numbers come from the kit's listings and fls.
#include "examine/utf8_adapters.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "ntfs/ntfs.h"
#include "tests/examine/examine_support.h"
#include "tests/support/fixture.h"
#include "tests/support/record_builder.h"

namespace {

using quor_test::record_builder;

TEST(Utf8Adapters, RecordNamesParentsAndStreams) {
  record_builder b;
  const uint32 first = b.resident(0x30, record_builder::file_name_value(5 | (5ull << 48), u"Caf\u00e9.txt"), u"", 1);
  b.resident(0x30, record_builder::file_name_value(64 | (2ull << 48), u"CAFE~1.TXT", 0, 2), u"", 2);
  b.resident(0x80, {1}, u"zone", 3);
  b.resident(0x80, {2}, u"\u00fcber", 4);
  b.resident(0x80, {3}, u"", 5);
  const std::vector<byte> rec = b.done();
  record_builder nameless;
  nameless.resident(0x80, {1}, u"", 1);
  const std::vector<byte> bare = nameless.done();

  std::map<ulong64, std::wstring> names{{9, L"stale"}};
  EXPECT_FALSE(record_has_file_name(names, rec.data(), 1024, nullptr));
  EXPECT_EQ(names.size(), 1u);  // no call made: left as it was
  EXPECT_TRUE(record_has_file_name(names, rec.data(), 1024, "caf\xc3\xa9.TXT"));
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names.begin()->second, L"Caf\u00e9.txt");
  EXPECT_FALSE(record_has_file_name(names, rec.data(), 1024, "CAFE~1.TXT"));  // a DOS name never matches
  EXPECT_FALSE(record_has_file_name(names, rec.data(), 1023, "Caf\xc3\xa9.txt"));

  std::string name = "stale";
  ulong64_set parents{77};
  uint32 offset = 0;
  ASSERT_TRUE(get_record_names_and_parents(rec.data(), name, parents, offset));
  EXPECT_EQ(name, "Caf\xc3\xa9.txt");
  EXPECT_EQ(parents, (ulong64_set{5}));
  EXPECT_EQ(offset, first);
  name = "stale";
  parents = {77};
  ASSERT_TRUE(get_record_names_and_parents(rec.data(), name, parents));
  EXPECT_EQ(name, "Caf\xc3\xa9.txt");
  EXPECT_EQ(parents, (ulong64_set{5}));
  EXPECT_FALSE(get_record_names_and_parents(bare.data(), name, parents));
  EXPECT_TRUE(name.empty());
  EXPECT_TRUE(parents.empty());

  std::set<std::string> streams;
  ulong64 parent = 0;
  ASSERT_TRUE(get_record_ads_names(rec.data(), streams, parent));
  EXPECT_EQ(streams, (std::set<std::string>{"zone", "\xc3\xbc" "ber"}));
  EXPECT_EQ(parent, 5u);
  std::set<std::string> none;
  parent = 0;
  EXPECT_FALSE(get_record_ads_names(bare.data(), none, parent));
  EXPECT_TRUE(none.empty());

  // The same record with a header that claims 4 KiB in use and allocated,
  // its end marker overwritten by an attribute to the 1 KiB end, and another
  // file's name and stream after it in memory: only the record's own count.
  std::vector<byte> damaged = rec;
  const uint32 end = load_u32(rec.data(), FRH_BYTES_IN_USE) - 8;
  store_u32(&damaged[end], ATTR_LOGGED_UTILITY_STREAM);
  store_u32(&damaged[end + AH_LENGTH], 1024 - end);
  store_u32(&damaged[FRH_BYTES_IN_USE], 4096);
  store_u32(&damaged[FRH_BYTES_ALLOCATED], 4096);
  record_builder other;
  other.resident(0x30, record_builder::file_name_value(70, u"another-file.txt"), u"", 1);
  other.resident(0x80, {1}, u"bait", 2);
  const std::vector<byte> after = other.done();
  damaged.insert(damaged.end(), after.begin() + load_u16(after.data(), FRH_FIRST_ATTRIBUTE), after.end());
  damaged.resize(4096);
  ASSERT_TRUE(get_record_names_and_parents(damaged.data(), name, parents, offset));
  EXPECT_EQ(name, "Caf\xc3\xa9.txt");
  EXPECT_EQ(parents, (ulong64_set{5}));
  streams.clear();
  parent = 0;
  ASSERT_TRUE(get_record_ads_names(damaged.data(), streams, parent));
  EXPECT_EQ(streams, (std::set<std::string>{"zone", "\xc3\xbc" "ber"}));
}

// Every form resolves the same paths; the name goes out only when asked for,
// and the opened volume is the caller's also when the path names nothing.
TEST(Utf8Adapters, OpenAndResolveEveryForm) {
  const std::string image = quor_test::fixture("default.img");
  const std::string disk = quor_test::fixture("mbr-1p.img");
  const std::string base = quor_test::fixture("vmdk-base.vmdk"), child = quor_test::fixture("vmdk-child.vmdk");
  ASSERT_FALSE(image.empty() || disk.empty() || base.empty() || child.empty());
  quor_test::drive_letter q(image);
  ASSERT_TRUE(q.ok);
  const ulong64 none = ~0ull;  // the path names nothing
  const struct {
    const char *path, *name, *letter_path, *letter_name;
    ulong64 entry;
  } on_default[] = {{"/frag/a.bin", "\\frag\\a.bin", "Q:\\frag\\a.bin", "Q:\\frag\\a.bin", 67},
                    {"\\frag\\b.bin", "\\frag\\b.bin", "Q:/frag/b.bin", "Q:\\frag\\b.bin", 68},
                    {"frag/A.BIN", "frag\\A.BIN", "Q:\\FRAG\\a.bin", "Q:\\FRAG\\a.bin", 67},
                    {".", ".", nullptr, nullptr, 5},
                    {"/frag/missing.bin", "", "Q:\\frag\\missing.bin", "", none}};
  enum form { full, full_nameless, short_form, short_offset, letter, letter_short };
  for (const auto& c : on_default) {
    for (form f : {full, full_nameless, short_form, short_offset, letter, letter_short}) {
      if ((f == letter || f == letter_short) && !c.letter_path) continue;
      SCOPED_TRACE(std::string(c.path) + " form " + std::to_string(f));
      CNtfs* ntfs = reinterpret_cast<CNtfs*>(&ntfs);
      ulong64 entry = 12345;
      std::string name = "kept";
      bool ok = false;
      switch (f) {
        case full: ok = open_ntfs_image_resolve_path(image, 0, c.path, name, entry, ntfs, true, false, false); break;
        case full_nameless:
          ok = open_ntfs_image_resolve_path(image, 0, c.path, name, entry, ntfs, false, false, false);
          break;
        case short_form: ok = open_ntfs_image_resolve_path(image, c.path, entry, ntfs, false, false); break;
        case short_offset: ok = open_ntfs_image_resolve_path(image, 0, c.path, entry, ntfs, false, false); break;
        case letter:
          ok = open_ntfs_by_drive_letter_resolve_path(c.letter_path, name, entry, ntfs, true, false, false);
          break;
        case letter_short: ok = open_ntfs_by_drive_letter_resolve_path(c.letter_path, entry, ntfs, false, false); break;
      }
      ASSERT_NE(ntfs, nullptr);
      EXPECT_TRUE(ntfs->is_directory(5));
      delete ntfs;
      EXPECT_EQ(ok, c.entry != none);
      if (ok) {
        EXPECT_EQ(entry, c.entry);
      }
      EXPECT_EQ(name, ok && f == full ? c.name : ok && f == letter ? c.letter_name : "kept");
    }
  }

  // A volume inside a partitioned disk and inside a VMDK chain; entry
  // numbers from fls.
  CNtfs* ntfs = nullptr;
  ulong64 entry = 0;
  std::string name;
  ASSERT_TRUE(open_ntfs_image_resolve_path(disk, 2048 * 512, "/one-docs/readme.txt", name, entry, ntfs, true, false,
                                           false));
  EXPECT_EQ(entry, 66u);
  EXPECT_EQ(name, "\\one-docs\\readme.txt");
  delete ntfs;
  ASSERT_TRUE(open_ntfs_image_resolve_path(disk, 2048 * 512, "one-docs/inner/notes.txt", entry, ntfs, false, false));
  EXPECT_EQ(entry, 67u);
  delete ntfs;
  ASSERT_TRUE(open_ntfs_vmdk_chain_resolve_path({child, base}, 0, "/snap-dir/later.txt", name, entry, ntfs, true,
                                                false, false));
  EXPECT_EQ(entry, 70u);
  EXPECT_EQ(name, "\\snap-dir\\later.txt");
  delete ntfs;
  ntfs = reinterpret_cast<CNtfs*>(&ntfs);
  EXPECT_FALSE(open_ntfs_vmdk_chain_resolve_path({}, 0, "/snap-dir/later.txt", name, entry, ntfs, true, false, false));
  EXPECT_EQ(ntfs, nullptr);
  // No physical drive opens by number on this host.
  ntfs = reinterpret_cast<CNtfs*>(&ntfs);
  name = "kept";
  EXPECT_FALSE(open_ntfs_by_drive_number_resolve_path(0, 0, "/frag/a.bin", name, entry, ntfs, true, false, false));
  EXPECT_EQ(ntfs, nullptr);
  EXPECT_EQ(name, "kept");
  ntfs = reinterpret_cast<CNtfs*>(&ntfs);
  EXPECT_FALSE(open_ntfs_by_drive_letter_resolve_path("", name, entry, ntfs, true, false, false));
  EXPECT_EQ(ntfs, nullptr);
  EXPECT_FALSE(open_ntfs_by_drive_letter_resolve_path("Z:\\frag\\a.bin", entry, ntfs, false, false));
  EXPECT_EQ(ntfs, nullptr);
}

// The engine's own UTF-8 path lookup: the name goes out only when asked
// for and found; an empty path is refused before any lookup.
TEST(Utf8Adapters, EnginePathLookupNamesOnlyWhenAskedAndFound) {
  examine_test::volume v("default.img");
  ASSERT_NE(v.ntfs, nullptr);
  const struct {
    const char* path;
    bool want_name, ok;
    ulong64 entry;
    const char* name;
  } cases[] = {{"/frag/a.bin", true, true, 67, "\\frag\\a.bin"}, {"frag\\B.BIN", true, true, 68, "frag\\B.BIN"},
               {"/frag/a.bin", false, true, 67, "kept"},          {"/frag/missing.bin", true, false, 0, "kept"},
               {"/frag/missing.bin", false, false, 0, "kept"},    {"", true, false, 12345, "kept"}};
  for (const auto& c : cases) {
    std::string name = "kept";
    ulong64 entry = 12345;
    EXPECT_EQ(v.ntfs->get_inode_from_path(std::string(c.path), name, entry, c.want_name), c.ok) << c.path;
    if (c.ok || !*c.path) {
      EXPECT_EQ(entry, c.entry) << c.path;
    }
    EXPECT_EQ(name, c.name) << c.path << " " << c.want_name;
  }
}

}  // namespace
