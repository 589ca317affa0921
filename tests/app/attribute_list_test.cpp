// Attribute lists on hand-built records: attributes fetched from extension
// records, entries naming the base record or a damaged record, short entries;
// on real volumes, every attribute of every record a list names, as fls and
// istat list them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/attribute_list.h"
#include "app/record_names.h"
#include "app/record_reader.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "tests/app/record_builder.h"
#include "tests/support/engine.h"
#include "tests/support/fixture.h"
#include "tests/support/istat.h"
#include "utils/byte_order.h"
#include "utils/utf_convert.h"

namespace {

using quor_test::record_builder;

void add_list_entry(std::vector<byte>& list, uint32 type, ulong64 holder, uint16 id, uint16 length = 32) {
  size_t at = list.size();
  list.resize(at + length, 0);
  store_u32(&list[at], type);
  store_u16(&list[at + 4], length);
  store_u64(&list[at + 16], holder);
  if (length >= 26) store_u16(&list[at + 24], id);
}

TEST(AttributeList, AttributesOfExtensionRecordsAreFiledIntoTheBase) {
  std::vector<byte> list;
  add_list_entry(list, 0x30, 0, 1);                   // the base record's own name
  add_list_entry(list, 0x80, 2 | (1ull << 48), 5);    // a stream in record 2
  add_list_entry(list, 0x80, 3, 1);                   // record 3 is "BAAD"
  add_list_entry(list, 0x30, 2, 6);                   // a second name in record 2
  add_list_entry(list, 0x80, 2, 7, 20);               // too short: ends the walk
  add_list_entry(list, 0x80, 2, 7);
  record_builder base, unused, extension, damaged;
  base.add(0x20, 0, u"", list);
  base.add_file_name(1, 5, u"Base.txt", 1, 1);
  extension.add(0x80, 5, u"ext", {1, 2, 3});
  extension.add_file_name(6, 5, u"Second.txt", 1, 1);
  extension.add(0x80, 7, u"late", {4});
  damaged.add(0x80, 1, u"bad", {5});
  std::vector<byte> baad = damaged.finish();
  std::memcpy(baad.data(), "BAAD", 4);

  // Record 4: a list whose second entry claims more bytes than are left.
  std::vector<byte> cut_list;
  add_list_entry(cut_list, 0x80, 2, 5);
  add_list_entry(cut_list, 0x80, 2, 7);
  store_u16(&cut_list[36], 200);
  record_builder cut;
  cut.add(0x20, 0, u"", cut_list);

  user_ctx ctx;
  quor_test::open_as_mft_file(ctx, {base.finish(), unused.finish(), extension.finish(), baad, cut.finish()},
                              "lists.mft");

  const ulong64 ext = 0x80 | (5ull << 48), late = 0x80 | (7ull << 48);
  inode_attributes rec;
  ASSERT_TRUE(read_inode(rec, ctx, 0));
  EXPECT_TRUE(rec.has_attr_list);
  ASSERT_EQ(rec.attributes.count(ext), 1u);
  EXPECT_EQ(rec.attributes.at(ext).name, L"ext");
  EXPECT_EQ(rec.attributes.count(late), 0u);
  EXPECT_EQ(rec.attributes.count(0x80 | (1ull << 48)), 0u);
  std::vector<std::wstring> names;
  for (const auto& kv : rec.filename_records) names.push_back(kv.second.name);
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Base.txt", L"Second.txt"}));

  ASSERT_TRUE(read_inode(rec, ctx, 4));
  EXPECT_EQ(rec.attributes.count(ext), 1u);
  EXPECT_EQ(rec.attributes.count(late), 0u);
}

// The two list readers called on their own: a list's bytes, a resident and a
// non-resident $ATTRIBUTE_LIST attribute, and calls that have nothing to read.
TEST(AttributeList, ListReadersCalledDirectly) {
  std::vector<byte> list;
  add_list_entry(list, 0x80, 1, 5);
  add_list_entry(list, 0x80, 0, 2);  // the base record's own: skipped
  record_builder base, extension;
  const uint32 resident = base.resident(0x20, list);
  const uint32 outside = base.non_resident(0x20, {0x11, 0x01, 0x30}, 4096);
  base.add(0x80, 2, u"own", {9});
  extension.add(0x80, 5, u"ext", {1, 2, 3});
  const std::vector<byte> b = base.done();
  const ulong64 ext = 0x80 | (5ull << 48);

  user_ctx closed;
  inode_attributes rec;
  EXPECT_FALSE(parse_attribute_list_entries(rec, closed, 0, list.data(), static_cast<uint32>(list.size())));
  EXPECT_FALSE(read_attribute_list(rec, closed, 0, &b[resident], load_u32(&b[resident + 4])));
  EXPECT_FALSE(rec.has_attr_list);

  user_ctx ctx;
  quor_test::open_as_mft_file(ctx, {base.finish(), extension.finish()}, "direct-lists.mft");
  EXPECT_FALSE(parse_attribute_list_entries(rec, ctx, 0, nullptr, 32));
  EXPECT_FALSE(parse_attribute_list_entries(rec, ctx, 0, list.data(), 0));
  ASSERT_TRUE(parse_attribute_list_entries(rec, ctx, 0, list.data(), static_cast<uint32>(list.size())));
  ASSERT_EQ(rec.attributes.size(), 1u);
  EXPECT_EQ(rec.attributes.at(ext).name, L"ext");
  EXPECT_FALSE(rec.has_attr_list);

  inode_attributes from_attribute;
  ASSERT_TRUE(read_attribute_list(from_attribute, ctx, 0, &b[resident], load_u32(&b[resident + 4])));
  EXPECT_TRUE(from_attribute.has_attr_list);
  EXPECT_FALSE(from_attribute.attr_list_nonresident);
  EXPECT_EQ(from_attribute.attributes.count(ext), 1u);

  // An extracted $MFT file has no clusters to read a non-resident list from.
  inode_attributes non_resident;
  ASSERT_TRUE(read_attribute_list(non_resident, ctx, 0, &b[outside], load_u32(&b[outside + 4])));
  EXPECT_TRUE(non_resident.has_attr_list);
  EXPECT_TRUE(non_resident.attr_list_nonresident);
  EXPECT_TRUE(non_resident.attributes.empty());
}

// The list of runlist.img's /frag/a.bin is non-resident and names a
// $FILE_NAME and three pieces of $DATA (all with attribute id 0) in
// extension records. Handed only the list's header, the reader files what
// istat's list names outside the base record, the first piece under its key,
// and nothing the base record holds itself.
TEST(AttributeList, ListReadFromItsHeaderAloneAsIstatListsIt) {
  if (!quor_test::have_program("istat")) GTEST_SKIP() << "istat not installed";
  const std::string image = quor_test::fixture("runlist.img");
  const ulong64 entry = quor_test::listed_inode("runlist.img", "/frag/a.bin");
  const std::vector<quor_test::istat_list_entry> listed =
      quor_test::istat_list_entries(quor_test::istat_report(image, entry));
  ASSERT_GE(listed.size(), 4u);
  CNtfs* engine = nullptr;
  ASSERT_TRUE(open_ntfs_image(image.c_str(), 0, engine, false, false));
  user_ctx ctx(engine, true);
  std::vector<byte> bytes;
  bool is_baad = false;
  ASSERT_TRUE(read_source_record(bytes, is_baad, ctx, entry));
  const byte* header = nullptr;
  ASSERT_TRUE(find_attribute(bytes.data(), static_cast<uint32>(bytes.size()), 0x20, header));

  inode_attributes rec;
  ASSERT_TRUE(read_attribute_list(rec, ctx, entry, header));
  EXPECT_TRUE(rec.has_attr_list && rec.attr_list_nonresident);
  std::map<ulong64, ulong64> first_vcn;  // attribute key -> VCN of its first piece elsewhere
  size_t names = 0;
  for (const auto& e : listed) {
    const ulong64 key = e.type | (static_cast<ulong64>(e.id) << 48);
    if (e.holder == entry) {
      EXPECT_EQ(rec.attributes.count(key), 0u) << e.type;
    } else if (e.type == 0x30) {
      ++names;
    } else {
      first_vcn.emplace(key, e.vcn);
    }
  }
  ASSERT_EQ(rec.attributes.size(), first_vcn.size());
  for (const auto& kv : first_vcn) {
    ASSERT_EQ(rec.attributes.count(kv.first), 1u);
    ASSERT_FALSE(rec.attributes.at(kv.first).runs.empty());
    EXPECT_EQ(rec.attributes.at(kv.first).runs[0].vcn, kv.second);
  }
  EXPECT_TRUE(rec.si_records.empty());
  ASSERT_EQ(rec.filename_records.size(), names);
  EXPECT_EQ(rec.filename_records.begin()->second.name, L"a.bin");

  // No header: a list of nothing; a closed source: false.
  inode_attributes none;
  EXPECT_TRUE(read_attribute_list(none, ctx, entry, nullptr));
  EXPECT_TRUE(none.has_attr_list && none.attributes.empty() && none.filename_records.empty());
  user_ctx closed;
  EXPECT_FALSE(read_attribute_list(none, closed, entry, header));
}

// Ids repeated across the records of one list, by hand: a name and a stream
// of record 1 whose keys the base record's attributes hold are kept beside
// them, a list entry named twice files its attribute once, and a piece of a
// non-resident stream listed before its first piece joins it. The form that
// takes no holder tells an extension record by its own number.
TEST(AttributeList, IdsRepeatedAcrossRecordsKeepEveryAttribute) {
  const ulong64 base_key = 0x80 | (2ull << 48), repeated_key = base_key | (1ull << 32);
  std::vector<byte> list;
  add_list_entry(list, 0x30, 0, 1);
  add_list_entry(list, 0x30, 1, 1);
  add_list_entry(list, 0x80, 1, 2);
  add_list_entry(list, 0x80, 1 | (3ull << 48), 2);  // the same attribute again
  add_list_entry(list, 0x80, 2, 0);                  // "big" from VCN 8
  add_list_entry(list, 0x80, 1, 3);                  // "big" from VCN 0
  record_builder base, first, second;
  base.add(0x20, 0, u"", list);
  base.add_file_name(1, 5, u"Base.txt", 1, 1);
  base.add(0x80, 2, u"", {1});
  first.add_file_name(1, 5, u"Link.txt", 1, 1);
  first.add(0x80, 2, u"s", {2});
  const uint32 start = first.non_resident(0x80, {0x11, 0x08, 0x10}, 12 * 4096, 0, u"big");
  store_u16(&first.rec[start + AH_INSTANCE], 3);
  second.non_resident(0x80, {0x11, 0x04, 0x40}, 0, 8, u"big");
  store_u64(&first.rec[FRH_BASE_RECORD], 1ull << 48);  // entry 0, sequence 1
  store_u32(&first.rec[0x2C], 1);
  store_u64(&second.rec[FRH_BASE_RECORD], 1ull << 48);
  store_u32(&second.rec[0x2C], 2);
  user_ctx ctx;
  const std::vector<byte> extension = first.done();
  quor_test::open_as_mft_file(ctx, {base.finish(), first.finish(), second.finish()}, "repeated-ids.mft");

  inode_attributes rec;
  ASSERT_TRUE(read_inode(rec, ctx, 0));
  std::map<ulong64, std::wstring> names;
  for (const auto& kv : rec.filename_records) names[kv.first] = kv.second.name;
  const ulong64 name_key = file_name_key(5, 1, 1);
  EXPECT_EQ(names, (std::map<ulong64, std::wstring>{{name_key, L"Base.txt"}, {name_key + (1ull << 48), L"Link.txt"}}));
  std::map<std::wstring, size_t> streams;
  for (const auto& kv : rec.attributes) streams[kv.second.name] += kv.second.type() == 0x80;
  EXPECT_EQ(streams, (std::map<std::wstring, size_t>{{L"", 1}, {L"s", 1}, {L"big", 1}}));
  ASSERT_EQ(rec.attributes.count(base_key), 1u);
  EXPECT_EQ(rec.attributes.at(base_key).name, L"");
  ASSERT_EQ(rec.attributes.count(repeated_key), 1u);
  EXPECT_EQ(rec.attributes.at(repeated_key).name, L"s");
  const attribute_record* big = nullptr;
  for (const auto& kv : rec.attributes)
    if (kv.second.name == L"big") big = &kv.second;
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(load_u64(big->raw.data() + AH_DATA_SIZE), 12u * 4096);  // the first piece's header
  ASSERT_EQ(big->runs.size(), 2u);
  EXPECT_EQ(big->runs[0].vcn, 0u);
  EXPECT_EQ(big->runs[0].lcn, 0x10u);
  EXPECT_EQ(big->runs[1].vcn, 8u);
  EXPECT_EQ(big->runs[1].lcn, 0x40u);

  // Record 1's name filed through the form without a holder beside the base
  // record's: the record's own number keeps it apart; filed again, once.
  const byte* link = nullptr;
  ASSERT_TRUE(find_attribute(extension.data(), static_cast<uint32>(extension.size()), 0x30, link));
  bool is_list = true;
  inode_attributes base_only;
  std::vector<byte> base_record;
  bool baad = false;
  ASSERT_TRUE(read_source_record(base_record, baad, ctx, 0));
  const byte* own = nullptr;
  ASSERT_TRUE(find_attribute(base_record.data(), static_cast<uint32>(base_record.size()), 0x30, own));
  for (const byte* attr : {own, link, link}) {
    const std::vector<byte>& holder = attr == own ? base_record : extension;
    ASSERT_TRUE(base_only.parse_attribute(ctx, 0, holder.data(), static_cast<uint32>(holder.size()), attr, is_list));
    EXPECT_FALSE(is_list);
  }
  ASSERT_EQ(base_only.filename_records.size(), 2u);
  EXPECT_EQ(base_only.filename_records.at(name_key + (1ull << 48)).name, L"Link.txt");
}

// Every stream of `entry` that fls lists under the entry's first path: ""
// for the unnamed one (a hard link lists them all again).
std::multiset<std::string> fls_streams(const std::string& image, ulong64 entry) {
  std::multiset<std::string> streams;
  std::string text, line, first;
  quor_test::run_command("fls -r -p '" + image + "'", text);
  std::istringstream lines(text);
  const std::string address = " " + std::to_string(entry) + "-128-";
  while (std::getline(lines, line)) {
    const size_t tab = line.find(":\t");
    if (line.find(address) != 3 || tab == std::string::npos) continue;
    const std::string path = line.substr(tab + 2);
    const size_t colon = path.find(':');
    if (first.empty()) first = path.substr(0, colon);
    if (path.compare(0, colon, first) == 0) streams.insert(colon == std::string::npos ? "" : path.substr(colon + 1));
  }
  return streams;
}

// The names of istat's "$FILE_NAME Attribute Values:" sections.
std::multiset<std::string> istat_file_names(const std::string& report) {
  std::multiset<std::string> names;
  std::istringstream lines(report);
  bool in = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("$", 0) == 0) in = line == "$FILE_NAME Attribute Values:";
    if (in && line.rfind("Name: ", 0) == 0) names.insert(line.substr(6));
  }
  return names;
}

// Each non-resident $DATA istat lists, by name ("" unnamed), with its clusters.
std::map<std::string, std::vector<ulong64>> istat_data_clusters(const std::string& report) {
  std::map<std::string, std::vector<ulong64>> out;
  std::istringstream lines(report);
  for (std::string line; std::getline(lines, line);) {
    unsigned id = 0;
    if (std::sscanf(line.c_str(), "Type: $DATA (128-%u)", &id) != 1 || line.find("Non-Resident") == std::string::npos)
      continue;
    const size_t at = line.find("Name: ") + 6;
    const std::string name = line.substr(at, line.find("   ", at) - at);
    out[name == "N/A" ? "" : name] = quor_test::istat_clusters(report, 128, id);
  }
  return out;
}

// The records of an attribute list repeat attribute ids, which start again
// in every record: read_inode keeps each attribute of each record once, as
// fls and istat list them, and joins the pieces of one attribute. The
// pre-scan's names agree with it.
TEST(AttributeList, EveryAttributeOfEveryListedRecordOnce) {
  if (!quor_test::have_program("istat") || !quor_test::have_program("fls")) GTEST_SKIP() << "The Sleuth Kit absent";
  const struct {
    std::string image;
    ulong64 entry;
    size_t streams, names;  // at least
  } cases[] = {
      // Sixty named streams in three extension records (ids 0 to 16 in each).
      {quor_test::fixture("streams.img"), quor_test::listed_inode("streams.img", "/many.bin"), 61, 1},
      // Thirty names of one parent in four records.
      {quor_test::fixture("streams.img"), quor_test::listed_inode("streams.img", "/hard/h00.txt"), 1, 30},
      // $DATA in four pieces, three of them id 0 in records of their own.
      {quor_test::fixture("runlist.img"), quor_test::listed_inode("runlist.img", "/frag/a.bin"), 1, 1},
      // A hundred hard links, nine names to an extension record.
      {quor_test::shared_testdata("ntfs3_attrlist.raw"), 27, 1, 100},
  };
  for (const auto& c : cases) {
    if (c.image.empty()) continue;  // the shared test data is absent
    SCOPED_TRACE(c.image + " " + std::to_string(c.entry));
    CNtfs* engine = nullptr;
    ASSERT_TRUE(open_ntfs_image(c.image.c_str(), 0, engine, false, false));
    user_ctx ctx(engine, true);
    inode_attributes rec;
    ASSERT_TRUE(read_inode(rec, ctx, c.entry));
    ASSERT_TRUE(rec.has_attr_list && rec.attr_list_nonresident);
    const std::string report = quor_test::istat_report(c.image, c.entry);

    std::multiset<std::string> streams;
    std::map<std::string, std::vector<ulong64>> clusters;
    for (const auto& kv : rec.attributes) {
      const attribute_record& a = kv.second;
      if (a.type() != 0x80) continue;
      EXPECT_TRUE(a.is_data);
      const std::string name(a.name.begin(), a.name.end());
      streams.insert(name);
      if (a.runs.empty()) continue;
      std::vector<ulong64>& lcns = clusters[name];
      for (const data_run& r : a.runs) {
        EXPECT_EQ(r.vcn, lcns.size()) << name;
        for (uint32 i = 0; i < r.num_clusters; ++i) lcns.push_back(r.sparse ? 0 : r.lcn + i);
      }
    }
    EXPECT_EQ(streams, fls_streams(c.image, c.entry));
    EXPECT_GE(streams.size(), c.streams);
    EXPECT_EQ(clusters, istat_data_clusters(report));

    std::multiset<std::string> names;
    for (const auto& kv : rec.filename_records) names.insert(wstring_to_utf8(kv.second.name));
    EXPECT_EQ(names, istat_file_names(report));
    EXPECT_GE(names.size(), c.names);

    std::wstring first, scanned;
    ulong64_set parents, scanned_parents;
    bool is_dir = false, scanned_dir = true;
    ASSERT_TRUE(get_inode_parents(first, parents, is_dir, c.entry, ctx));
    ASSERT_TRUE(record_names_reader().read(scanned, scanned_parents, scanned_dir, c.entry, ctx));
    EXPECT_EQ(scanned, first);
    EXPECT_EQ(scanned_parents, parents);
    EXPECT_EQ(scanned_dir, is_dir);
  }
}

}  // namespace
