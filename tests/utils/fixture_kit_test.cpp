// The fixture kit itself: every image decompresses to an NTFS volume of the
// geometry its script asked for, and the files beside it parse and agree with
// the rules the scripts follow (counts worked out from those rules by hand).
#include "tests/support/fixture.h"
#include "tests/support/listing.h"
#include "utils/byte_order.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace quor_test;

namespace {

struct geometry {
  const char* image;
  uint64_t volume_bytes;
  uint32_t sector;
  uint32_t cluster;
  uint32_t mft_record;
  uint32_t index_record;
};

const geometry kImages[] = {
    {"default", 24u << 20, 512, 4096, 1024, 4096},
    {"c512", 16u << 20, 512, 512, 1024, 4096},
    {"c64k", 64u << 20, 512, 65536, 1024, 4096},
    {"s4096", 24u << 20, 4096, 4096, 4096, 4096},
    {"c128k", 128u << 20, 512, 131072, 1024, 4096},
    {"bigdir", 64u << 20, 512, 4096, 1024, 4096},
    {"sample", 8u << 20, 512, 4096, 1024, 4096},
};

// A boot-sector size byte: positive counts clusters, negative is a power of 2.
uint64_t record_bytes(int8_t v, uint64_t cluster) {
  return v > 0 ? uint64_t(v) * cluster : uint64_t(1) << -v;
}

bool starts_with(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

TEST(FixtureKit, ImagesAreNtfsVolumesOfTheirGeometry) {
  for (const geometry& g : kImages) {
    SCOPED_TRACE(g.image);
    std::string path = fixture(std::string(g.image) + ".img");
    ASSERT_NE(path, "");
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    ASSERT_TRUE(in);
    EXPECT_EQ(uint64_t(in.tellg()), g.volume_bytes);
    byte boot[512] = {};
    in.seekg(0);
    ASSERT_TRUE(in.read(reinterpret_cast<char*>(boot), sizeof boot));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(boot) + 3, 8), "NTFS    ");
    EXPECT_EQ(load_u16(boot, 510), 0xAA55);
    uint32_t sector = load_u16(boot, 0x0B);
    uint8_t spc = boot[0x0D];
    uint64_t cluster = uint64_t(sector) * (spc <= 0x80 ? spc : uint64_t(1) << (256 - spc));
    EXPECT_EQ(sector, g.sector);
    EXPECT_EQ(cluster, g.cluster);
    EXPECT_EQ(record_bytes(int8_t(boot[0x40]), cluster), g.mft_record);
    EXPECT_EQ(record_bytes(int8_t(boot[0x44]), cluster), g.index_record);
    // mkntfs keeps the last sector for the backup boot sector.
    EXPECT_EQ(load_u64(boot, 0x28), g.volume_bytes / g.sector - 1);
  }
}

TEST(FixtureKit, SideFilesAgreeWithEachOther) {
  for (const geometry& g : kImages) {
    SCOPED_TRACE(g.image);
    std::vector<listing_entry> live = read_listing(g.image);
    std::vector<deleted_entry> gone = read_deleted(g.image);
    std::vector<content_range> content = read_content(g.image);
    ASSERT_FALSE(live.empty());
    ASSERT_FALSE(gone.empty());

    std::map<std::string, const listing_entry*> by_path;
    std::set<uint64_t> live_inodes;
    for (size_t i = 0; i < live.size(); ++i) {
      if (i > 0) {
        EXPECT_LT(live[i - 1].path, live[i].path) << "sorted, no repeats";
      }
      by_path[live[i].path] = &live[i];
      live_inodes.insert(live[i].inode);
      // Records below 16 hold the NTFS system files, the root among them.
      EXPECT_GE(live[i].inode, 16u) << live[i].path;
      EXPECT_GE(live[i].sequence, 1u) << live[i].path;
    }
    // Every parent of a listed path is a listed folder.
    for (const listing_entry& e : live) {
      size_t slash = e.path.rfind('/');
      if (slash == 0) continue;
      auto parent = by_path.find(e.path.substr(0, slash));
      ASSERT_NE(parent, by_path.end()) << e.path;
      EXPECT_EQ(parent->second->kind, 'd') << e.path;
    }
    // The scripts never reuse a path that left, and never delete a renamed
    // file afterwards.
    for (const deleted_entry& d : gone) {
      EXPECT_EQ(by_path.count(d.path), 0u) << d.path;
      if (d.renamed) {
        EXPECT_EQ(live_inodes.count(d.inode), 1u) << d.path;
      }
    }
    for (const content_range& r : content) {
      auto it = by_path.find(r.path);
      ASSERT_NE(it, by_path.end()) << r.path;
      EXPECT_EQ(it->second->kind, 'f');
      EXPECT_LE(r.offset + r.length, it->second->size) << r.path;
    }
  }
}

// Slack names are removed names, with the removed file's reference or 0.
TEST(FixtureKit, SlackNamesAreRemovedNames) {
  for (const geometry& g : kImages) {
    SCOPED_TRACE(g.image);
    std::map<std::string, deleted_entry> gone;
    for (const deleted_entry& d : read_deleted(g.image)) gone[d.path] = d;
    std::vector<deleted_entry> slack = read_slack(g.image);
    ASSERT_FALSE(slack.empty());
    for (const deleted_entry& s : slack) {
      auto it = gone.find(s.path);
      ASSERT_NE(it, gone.end()) << s.path;
      EXPECT_EQ(s.renamed, it->second.renamed) << s.path;
      if (s.inode != 0) {
        EXPECT_EQ(s.inode, it->second.inode) << s.path;
      }
    }
  }
  // Removing a folder's last names newest first moves its last-entry record
  // back over the head of each one in turn: every key stays, no reference.
  std::set<std::string> downloads;
  for (const deleted_entry& s : read_slack("sample")) {
    if (starts_with(s.path, "/Downloads/")) {
      EXPECT_EQ(s.inode, 0u) << s.path;
      downloads.insert(s.path);
    }
  }
  std::set<std::string> want;
  for (int k = 13; k <= 24; ++k)
    want.insert("/Downloads/installer-package-" + std::to_string(k) + ".exe");
  EXPECT_EQ(downloads, want);
}

// Counts under a folder follow from the scripts: a folder of n files thinned
// every k loses the i with i % k == 0 and renames the i with i % k == 1.
TEST(FixtureKit, CountsFollowTheScripts) {
  struct expect {
    const char* image;
    const char* prefix;  // "" for the whole image
    size_t live;         // listed paths below the prefix
    size_t deleted;
    size_t renamed;
  };
  const expect cases[] = {
      {"default", "", 2097, 1000 + 12 + 3 + 2, 1000 + 12 + 1 + 2},
      {"default", "/many/", 2000, 1000, 1000},
      {"default", "/longnames/", 48, 12, 12},
      {"default", "/names/", 7, 0, 0},
      {"default", "/sub/", 3, 2, 2},
      {"c512", "", 345, 169, 168},
      {"c64k", "/dir500/", 333, 167, 167},
      {"s4096", "/dir500/", 333, 167, 167},
      {"c128k", "/sub/", 2, 1, 1},
      {"bigdir", "/d2000/", 1333, 667, 667},
      {"bigdir", "/d20000/", 13333, 6667, 6667},
      {"sample", "", 89, 13 + 12 + 30, 2},
      {"sample", "/Documents/", 36, 8, 1},
      {"sample", "/Temp/", 0, 30, 0},
  };
  for (const expect& c : cases) {
    SCOPED_TRACE(std::string(c.image) + " " + c.prefix);
    size_t live = 0, deleted = 0, renamed = 0;
    for (const listing_entry& e : read_listing(c.image))
      if (starts_with(e.path, c.prefix)) ++live;
    for (const deleted_entry& d : read_deleted(c.image))
      if (starts_with(d.path, c.prefix)) ++(d.renamed ? renamed : deleted);
    EXPECT_EQ(live, c.live);
    EXPECT_EQ(deleted, c.deleted);
    EXPECT_EQ(renamed, c.renamed);
  }
}

// Files whose names or data shape matter to other tests are where the
// README says, with the sizes it gives.
TEST(FixtureKit, NamedFilesAreListed) {
  struct expect {
    const char* image;
    const char* path;
    char kind;
    uint64_t size;
  };
  const expect cases[] = {
      {"default", "/sparse.bin", 'f', 5u << 20},
      {"default", "/frag/a.bin", 'f', 65536},
      {"default", "/compressed/longer.bin", 'f', 153600},
      {"default", "/names/\xF0\x9F\x98\x80smile.txt", 'f', 42},
      {"default", "/names/caf\xC3\xA9.txt", 'f', 40},
      {"default", "/names/Readme", 'f', 43},
      {"default", "/names/README", 'f', 44},
      {"default", "/names/Long Name With Short.txt", 'f', 46},
      {"default",
       "/deep/l01/l02/l03/l04/l05/l06/l07/l08/l09/l10/l11/l12/l13/l14/l15/l16/l17/l18/l19/l20/leaf.txt",
       'f', 20},
      {"s4096", "/unicode/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt", 'f', 60},
      {"c64k", "/frag", 'd', 0},
      {"sample", "/Photos/\xC3\x9Cn\xC3\xAF\x63\xC3\xB6\x64\xC3\xA9-2.png", 'f', 2700},
  };
  for (const expect& c : cases) {
    SCOPED_TRACE(std::string(c.image) + " " + c.path);
    const listing_entry* found = nullptr;
    std::vector<listing_entry> live = read_listing(c.image);
    for (const listing_entry& e : live)
      if (e.path == c.path) found = &e;
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->kind, c.kind);
    EXPECT_EQ(found->size, c.size);
  }
  // One inode under two names: the hard link.
  std::map<std::string, uint64_t> inode;
  for (const listing_entry& e : read_listing("default")) inode[e.path] = e.inode;
  EXPECT_EQ(inode.at("/nonres.bin"), inode.at("/hardlink.bin"));
  EXPECT_EQ(inode.count("/names/" + std::string(251, 'n') + ".txt"), 1u);
}

TEST(FixtureKit, LineParsersRejectMalformedLines) {
  struct line_case {
    const char* line;
    bool ok;
  };
  const line_case listing_lines[] = {
      {"64\t2\tf\t300\t/a b/c.txt", true},
      {"64\t-\td\t0\t/dir", true},
      {"64\t2\tf\t300\t/x\tx", false},  // a tab inside the path
      {"64\t2\tx\t300\t/a", false},
      {"64\t2\td\t4096\t/dir", false},  // folders have size 0
      {"64\t2\tf\t300\ta", false},
      {"64\t2\tf\t300\t/", false},
      {"64\t2\tf\t/a", false},
      {"6x\t2\tf\t1\t/a", false},
      {"18446744073709551616\t2\tf\t1\t/a", false},
      {"", false},
  };
  for (const line_case& c : listing_lines) {
    listing_entry e;
    EXPECT_EQ(parse_listing_line(c.line, e), c.ok) << c.line;
  }
  listing_entry e;
  ASSERT_TRUE(parse_listing_line("18446744073709551615\t7\tf\t12\t/x/y", e));
  EXPECT_EQ(e.inode, UINT64_MAX);
  EXPECT_EQ(e.sequence, 7u);
  EXPECT_EQ(e.size, 12u);
  EXPECT_EQ(e.path, "/x/y");

  deleted_entry d;
  EXPECT_TRUE(parse_deleted_line("70\t/a/b\trenamed", d));
  EXPECT_TRUE(d.renamed);
  EXPECT_FALSE(parse_deleted_line("70\t/a/b\tmoved", d));
  EXPECT_FALSE(parse_deleted_line("70\t/a/b", d));

  content_range r;
  EXPECT_TRUE(parse_content_line("/s.bin\t5\t1048576\t8192", r));
  EXPECT_EQ(r.offset, 1048576u);
  EXPECT_FALSE(parse_content_line("/s.bin\t251\t0\t1", r));  // seeds are below 251
  EXPECT_FALSE(parse_content_line("/s.bin\t5\t18446744073709551615\t2", r));
}

TEST(FixtureKit, PatternMatchesTheRule) {
  EXPECT_EQ(pattern_byte(0, 0), 0);
  EXPECT_EQ(pattern_byte(1, 0), 7);
  EXPECT_EQ(pattern_byte(36, 0), 1);    // 252 mod 251
  EXPECT_EQ(pattern_byte(251, 9), 9);   // the period is 251
  EXPECT_EQ(pattern_byte(1048576, 5), 44);  // 1048576 = 251*4177 + 149

  std::string data;
  ASSERT_TRUE(expected_file_data("default", "/sparse.bin", data));
  ASSERT_EQ(data.size(), 5u << 20);
  EXPECT_EQ(data[0], 0);
  EXPECT_EQ(uint8_t(data[1048576]), pattern_byte(1048576, 5));
  EXPECT_EQ(data[1048576 + 8192], 0);
  EXPECT_EQ(uint8_t(data[4194304 + 8191]), pattern_byte(4194304 + 8191, 5));
  EXPECT_FALSE(expected_file_data("default", "/many", data));      // a folder
  EXPECT_FALSE(expected_file_data("default", "/no-such", data));
}

// An independent reader sees the data the rule promises.
TEST(FixtureKit, DataReadsBackThroughTheSleuthKit) {
  if (!have_program("icat")) GTEST_SKIP() << "icat (The Sleuth Kit) not installed";
  const char* paths[] = {"/frag/b.bin", "/sparse.bin", "/compressed/pattern.bin", "/small.txt"};
  std::map<std::string, uint64_t> inode;
  for (const listing_entry& e : read_listing("default")) inode[e.path] = e.inode;
  std::string img = fixture("default.img");
  ASSERT_NE(img, "");
  for (const char* p : paths) {
    SCOPED_TRACE(p);
    std::string want, got;
    ASSERT_TRUE(expected_file_data("default", p, want));
    ASSERT_EQ(run_command("icat '" + img + "' " + std::to_string(inode.at(p)), got), 0);
    EXPECT_TRUE(got == want);
  }
}

// The folders the README names keep $INDEX_ROOT in an extension record,
// found through an attribute list; others keep it in their own record.
TEST(FixtureKit, AttributeListFoldersAreWhereTheReadmeSays) {
  if (!have_program("istat")) GTEST_SKIP() << "istat (The Sleuth Kit) not installed";
  struct expect {
    const char* image;
    const char* path;
    bool moved;
  };
  const expect cases[] = {
      {"default", "/longnames", true}, {"bigdir", "/d2000", true}, {"bigdir", "/d20000", true},
      {"default", "/many", false},     {"sample", "/Documents", false},
  };
  for (const expect& c : cases) {
    SCOPED_TRACE(std::string(c.image) + " " + c.path);
    uint64_t folder = 0;
    for (const listing_entry& e : read_listing(c.image))
      if (e.path == c.path) folder = e.inode;
    ASSERT_NE(folder, 0u);
    std::string img = fixture(std::string(c.image) + ".img"), out;
    ASSERT_NE(img, "");
    ASSERT_EQ(run_command("istat '" + img + "' " + std::to_string(folder), out), 0);
    // The attribute list's lines read "Type: 144-<id> \tMFT Entry: <n> ...".
    size_t at = out.find("Type: 144-");
    bool listed = at != std::string::npos && out.find("MFT Entry: ", at) < out.find('\n', at);
    EXPECT_EQ(out.find("$ATTRIBUTE_LIST") != std::string::npos, c.moved);
    ASSERT_EQ(listed, c.moved);
    if (!listed) continue;
    size_t num = out.find("MFT Entry: ", at) + 11;
    EXPECT_NE(std::stoull(out.substr(num)), folder);
  }
}
