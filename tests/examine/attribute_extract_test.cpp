// Extraction to files: content and digest-bearing names, the temporary file
// never opened over an existing one, a failed rename leaving nothing, and the
// report with its index-record lines.
#include "examine/attribute_extract.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>

#include "examine/attribute_writer.h"
#include "tests/examine/examine_support.h"
#include "tests/support/listing.h"
#include "utils/random_text.h"

namespace {

std::set<std::string> names_in(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.insert(e->d_name);
    closedir(d);
  }
  return names;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string fresh_dir(const std::string& name) {
  const std::string dir = quor_test::scratch_dir() + "/" + name;
  mkdir(dir.c_str(), 0700);
  return dir;
}

struct fixture_file {
  examine_test::volume v{"default.img"};
  std::vector<entry_record> records;
  const entry_record* rec = nullptr;
  std::string want, md5;
  explicit fixture_file(const char* path) {
    rec = v.find(records, v.entry_of(path), 0x80, "");
    // The writer's bytes are checked against icat in its own tests.
    std::ostringstream out, messages;
    if (rec) write_attribute_data(v.ntfs, *rec, out, messages, false, true, md5);
    want = out.str();
  }
};

TEST(AttributeExtract, HashedNamesCarryStampNameAndDigest) {
  fixture_file f("/nonres.bin");
  ASSERT_NE(f.rec, nullptr);
  ASSERT_EQ(f.md5.size(), 32u);
  const struct {
    ulong64 stamp;
    const char* prefix;
    bool wide;
  } cases[] = {{0x1234, "0000000000001234", false}, {0, "0000000000000000", true}};
  for (const auto& c : cases) {
    const std::string dir = fresh_dir(std::string("hashed_") + c.prefix + (c.wide ? "w" : "n"));
    const std::string path = dir + "/out.bin";
    const bool ok = c.wide ? extract_attribute_hashed(std::wstring(path.begin(), path.end()).c_str(), nullptr,
                                                      f.v.ntfs, *f.rec, false, c.stamp)
                           : extract_attribute_hashed(path.c_str(), nullptr, f.v.ntfs, *f.rec, false, c.stamp);
    ASSERT_TRUE(ok);
    const std::string name = std::string(c.prefix) + "_out.bin_" + f.md5;
    EXPECT_EQ(names_in(dir), std::set<std::string>{name});
    EXPECT_TRUE(read_file(dir + "/" + name) == f.want);
  }
  EXPECT_FALSE(extract_attribute_hashed("out.bin", nullptr, f.v.ntfs, *f.rec, false, 1));
  EXPECT_FALSE(extract_attribute_hashed(static_cast<const char*>(nullptr), nullptr, f.v.ntfs, *f.rec, false, 1));
}

TEST(AttributeExtract, TemporaryNeverOpensAnExistingFile) {
  fixture_file f("/small.txt");
  ASSERT_NE(f.rec, nullptr);
  const std::string dir = fresh_dir("collision");
  random_hex_string(5);  // the generator seeds itself on first use
  std::srand(4242);
  const std::string first_pick = "_" + random_hex_string(5);
  std::srand(4242);
  { std::ofstream(dir + "/" + first_pick) << "evidence of another run"; }
  ASSERT_TRUE(extract_attribute_hashed((dir + "/s.txt").c_str(), nullptr, f.v.ntfs, *f.rec, false, 7));
  EXPECT_EQ(read_file(dir + "/" + first_pick), "evidence of another run");
  EXPECT_EQ(names_in(dir), (std::set<std::string>{first_pick, "0000000000000007_s.txt_" + f.md5}));
}

TEST(AttributeExtract, FailedRenameOrReadLeavesNoFile) {
  fixture_file f("/small.txt");
  ASSERT_NE(f.rec, nullptr);
  const std::string dir = fresh_dir("rename");
  // A folder, with something in it, in the way of the final name.
  const std::string blocker = dir + "/0000000000000009_s.txt_" + f.md5;
  mkdir(blocker.c_str(), 0700);
  { std::ofstream(blocker + "/inside") << "x"; }
  EXPECT_FALSE(extract_attribute_hashed((dir + "/s.txt").c_str(), nullptr, f.v.ntfs, *f.rec, false, 9));
  EXPECT_EQ(names_in(dir), std::set<std::string>{"0000000000000009_s.txt_" + f.md5});

  const std::string empty_dir = fresh_dir("nothing");
  EXPECT_FALSE(extract_attribute_hashed((empty_dir + "/e").c_str(), nullptr, f.v.ntfs, entry_record(), false, 9));
  EXPECT_TRUE(names_in(empty_dir).empty());
}

TEST(AttributeExtract, PlainFormAndItsReport) {
  examine_test::volume v("default.img");
  ASSERT_NE(v.ntfs, nullptr);
  std::vector<entry_record> records;
  const entry_record* rec = v.find(records, v.entry_of("/many"), 0xA0, "$I30");
  ASSERT_NE(rec, nullptr);
  const std::string dir = fresh_dir("plain");
  const std::string data = dir + "/i30.bin", report = dir + "/report.txt";
  ASSERT_TRUE(extract_attribute(data.c_str(), report.c_str(), v.ntfs, *rec, false));
  std::ostringstream want, messages;
  ASSERT_TRUE(copy_attribute_data(v.ntfs, *rec, want, messages, false));
  EXPECT_TRUE(read_file(data) == want.str());
  const std::string text = read_file(report);
  EXPECT_EQ(text.rfind("Parsed output from the following attribute: \n\nIndex Allocation Attrib: $I30(unnamed)", 0),
            std::string::npos);
  EXPECT_EQ(text.rfind("Parsed output from the following attribute: \n\nIndex Allocation Attrib: $I30\n", 0), 0u);
  // One line per live entry of the folder's index records: the live names
  // below /many that the listing shows, at least.
  size_t listed = 0;
  for (const auto& e : quor_test::read_listing("default.img"))
    if (e.path.rfind("/many/", 0) == 0) ++listed;
  size_t lines = 0;
  for (char c : text) lines += c == '\n';
  EXPECT_GT(lines, listed / 2);
  // Raw: no index lines, the report is the section alone.
  const std::string raw_report = dir + "/raw.txt";
  ASSERT_TRUE(extract_attribute(data.c_str(), raw_report.c_str(), v.ntfs, *rec, true));
  EXPECT_LT(read_file(raw_report).size(), 400u);
}

}  // namespace
