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
// unless asked for (istat numbers attributes of extension records its own
// way).
std::multiset<std::string> istat_attributes(const std::string& image, ulong64 entry, bool with_list = false) {
  std::string out, line;
  std::multiset<std::string> found;
  quor_test::run_command("istat " + image + " " + std::to_string(entry) + " | grep '^Type: \\$'" +
                             (with_list ? "" : " | grep -v LIST"),
                         out);
  std::istringstream lines(out);
  while (std::getline(lines, line)) {
    const size_t type = line.find(" (") + 2, name = line.find("Name: ") + 6;
    const std::string n = line.substr(name, line.find("   ", name) - name);
    found.insert(line.substr(type, line.find('-', type) - type) + " " + (n == "N/A" ? "" : n));
  }
  return found;
}

// Every attribute istat lists, once: a $DATA continued in extension records
// is one record, and attributes of different records that share an id (ids
// start again in every record) are all there: sixty named streams, thirty
// and a hundred names of one parent.
TEST(EntryRecords, AttributeListsFollowedLikeIstat) {
  if (!quor_test::have_program("istat")) GTEST_SKIP() << "istat not installed";
  const struct {
    std::string image;
    ulong64 entry;
  } cases[] = {
      {quor_test::fixture("default.img"), quor_test::listed_inode("default.img", "/longnames")},
      {quor_test::fixture("bigdir.img"), quor_test::listed_inode("bigdir.img", "/d20000")},
      {quor_test::fixture("runlist.img"), quor_test::listed_inode("runlist.img", "/frag/a.bin")},
      {quor_test::fixture("default.img"), quor_test::listed_inode("default.img", "/streams.txt")},
      {quor_test::fixture("streams.img"), quor_test::listed_inode("streams.img", "/many.bin")},
      {quor_test::fixture("streams.img"), quor_test::listed_inode("streams.img", "/hard/h00.txt")},
      {quor_test::shared_testdata("ntfs3_attrlist.raw"), 27},
  };
  for (const auto& c : cases) {
    if (c.image.empty()) continue;  // the shared test data is absent
    SCOPED_TRACE(c.image + " " + std::to_string(c.entry));
    std::unique_ptr<CNtfs> engine = quor_test::open_engine_at(c.image);
    ASSERT_NE(engine, nullptr);
    std::vector<entry_record> records;
    ASSERT_TRUE(collect_entry_records(engine.get(), c.entry, records));
    std::multiset<std::string> ours;
    for (const entry_record& r : records)
      if (r.item.header.type != ENTRY_SUMMARY_TYPE) ours.insert(std::to_string(r.item.header.type) + " " + r.name);
    const std::multiset<std::string> listed = istat_attributes(c.image, c.entry);
    EXPECT_EQ(ours, listed);
    EXPECT_GE(listed.size(), 4u);
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

// Attribute names by type as istat lists them: an entry with a
// non-resident $ATTRIBUTE_LIST and sixty named streams in extension
// records, one with two named streams and none; the FILE record's summary
// type is no attribute's.
TEST(EntryRecords, AttributeNamesOfEveryTypeLikeIstat) {
  if (!quor_test::have_program("istat")) GTEST_SKIP() << "istat not installed";
  volume v("streams.img");
  ASSERT_NE(v.ntfs, nullptr);
  for (const char* path : {"/many.bin", "/host.bin"}) {
    const ulong64 entry = v.entry_of(path);
    const std::multiset<std::string> listed = istat_attributes(v.image, entry, true);
    for (const uint32 type : {0x10u, 0x20u, 0x30u, 0x80u, 0xA0u, ENTRY_SUMMARY_TYPE}) {
      SCOPED_TRACE(std::string(path) + " type " + std::to_string(type));
      std::set<std::string> want;
      bool any = false;
      const std::string prefix = std::to_string(type) + " ";
      for (const std::string& l : listed) {
        if (l.compare(0, prefix.size(), prefix) != 0) continue;
        any = true;
        if (l.size() > prefix.size()) want.insert(l.substr(prefix.size()));
      }
      std::vector<std::string> names = {"stale"};
      EXPECT_EQ(get_attribute_names(v.ntfs, entry, type, names), any);
      EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), want);
      EXPECT_EQ(names.size(), want.size());
    }
  }
}

// moved.img cut 0x100 bytes into /b's record: its $STANDARD_INFORMATION
// (0x38, 0x48 bytes) and $FILE_NAME (0x80, 0x60 bytes) are read whole and
// gathered as istat lists them; its $SECURITY_DESCRIPTOR, which the cut
// runs through, and its $INDEX_ROOT beyond are not.
TEST(EntryRecords, RecordCutByTheEndOfTheImage) {
  if (!quor_test::have_program("istat")) GTEST_SKIP() << "istat not installed";
  volume whole("moved.img");
  ASSERT_NE(whole.ntfs, nullptr);
  const ulong64 entry = whole.entry_of("/b");
  std::vector<entry_record> records;
  ASSERT_TRUE(collect_entry_records(whole.ntfs, entry, records));
  const std::multiset<std::string> listed = istat_attributes(whole.image, entry);
  ASSERT_EQ(listed, (std::multiset<std::string>{"16 ", "48 ", "80 ", "144 $I30"}));
  const std::string copy = quor_test::copy_fixture("moved.img", "records-cut.img");
  ASSERT_FALSE(copy.empty());
  ASSERT_EQ(::truncate(copy.c_str(), static_cast<off_t>(whole.ntfs->get_inode_file_pos(entry) + 0x100)), 0);
  std::unique_ptr<CNtfs> cut = quor_test::open_engine_at(copy);
  ASSERT_NE(cut, nullptr);
  ASSERT_TRUE(collect_entry_records(cut.get(), entry, records));
  std::multiset<std::string> ours;
  for (const entry_record& r : records)
    if (r.item.header.type != ENTRY_SUMMARY_TYPE) ours.insert(std::to_string(r.item.header.type) + " " + r.name);
  EXPECT_EQ(ours, (std::multiset<std::string>{"16 ", "48 "}));
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
