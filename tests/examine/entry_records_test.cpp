// Entry records across attribute lists: the attributes istat shows, $DATA
// continued in extension records read whole and equal to icat, non-ASCII
// stream names in UTF-8, and the order of the keys.
#include "examine/entry_records.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "examine/attribute_writer.h"
#include "tests/examine/examine_support.h"

namespace {

using examine_test::volume;

// "type name" of every attribute istat lists, $ATTRIBUTE_LIST left out
// (istat numbers attributes of extension records its own way).
std::set<std::string> istat_attributes(const std::string& image, ulong64 entry) {
  std::string out, line;
  std::set<std::string> found;
  quor_test::run_command("istat " + image + " " + std::to_string(entry) + " | grep '^Type: \\$' | grep -v LIST", out);
  std::istringstream lines(out);
  while (std::getline(lines, line)) {
    const size_t type = line.find(" (") + 2, name = line.find("Name: ") + 6;
    const std::string n = line.substr(name, line.find("   ", name) - name);
    found.insert(line.substr(type, line.find('-', type) - type) + " " + (n == "N/A" ? "" : n));
  }
  return found;
}

TEST(EntryRecords, AttributeListsFollowedLikeIstat) {
  if (!quor_test::have_program("istat")) GTEST_SKIP() << "istat not installed";
  const struct {
    const char* image;
    const char* path;
  } cases[] = {{"default.img", "/longnames"}, {"bigdir.img", "/d20000"}, {"runlist.img", "/frag/a.bin"},
               {"default.img", "/streams.txt"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.image) + c.path);
    volume v(c.image);
    ASSERT_NE(v.ntfs, nullptr);
    const ulong64 entry = v.entry_of(c.path);
    std::vector<entry_record> records;
    ASSERT_TRUE(collect_entry_records(v.ntfs, entry, records));
    std::set<std::string> ours;
    size_t attributes = 0;
    for (const entry_record& r : records) {
      if (r.item.header.type == ENTRY_SUMMARY_TYPE) continue;
      ours.insert(std::to_string(r.item.header.type) + " " + r.name);
      ++attributes;
    }
    EXPECT_EQ(ours, istat_attributes(v.image, entry));
    EXPECT_EQ(attributes, ours.size());  // a continued $DATA is one record
  }
}

TEST(EntryRecords, DataContinuedInExtensionRecordsReadsWhole) {
  if (!quor_test::have_program("icat") || !quor_test::have_program("md5sum")) GTEST_SKIP() << "icat or md5sum missing";
  volume v("runlist.img");
  ASSERT_NE(v.ntfs, nullptr);
  const ulong64 entry = v.entry_of("/frag/a.bin");
  std::vector<entry_record> records;
  const entry_record* data = v.find(records, entry, 0x80, "");
  ASSERT_NE(data, nullptr);
  ASSERT_GT(data->runs.size(), 1000u);
  std::ostringstream out, messages;
  std::string md5, want;
  ASSERT_TRUE(write_attribute_data(v.ntfs, *data, out, messages, false, true, md5));
  ASSERT_EQ(quor_test::run_command("icat " + v.image + " " + std::to_string(entry) + " | md5sum", want), 0);
  EXPECT_EQ(md5, want.substr(0, 32));
}

TEST(EntryRecords, NamesAndKeyOrder) {
  volume v("runlist.img");
  ASSERT_NE(v.ntfs, nullptr);
  std::vector<std::string> names;
  ASSERT_TRUE(get_attribute_names(v.ntfs, v.entry_of("/named.txt"), 0x80, names));
  EXPECT_EQ(names, std::vector<std::string>{"strömé"});
  std::vector<entry_record> records;
  ASSERT_TRUE(collect_entry_records(v.ntfs, v.entry_of("/named.txt"), records));
  // " nada_0_16" sorts before the FILE record's " nada_0_272".
  ASSERT_GE(records.size(), 3u);
  EXPECT_EQ(records[0].item.header.type, 0x10u);
  EXPECT_EQ(records[1].item.header.type, ENTRY_SUMMARY_TYPE);
  EXPECT_EQ(records.back().name, "strömé");
  EXPECT_FALSE(get_attribute_names(v.ntfs, v.entry_of("/named.txt"), 0xA0, names));
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(collect_entry_records(v.ntfs, v.ntfs->get_inode_count() + 5, records, 0, 0), 0);
  EXPECT_TRUE(records.empty());
}

}  // namespace
