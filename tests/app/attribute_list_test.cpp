// Attribute lists on hand-built records: attributes fetched from extension
// records, entries naming the base record or a damaged record, short entries.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/attribute_list.h"
#include "app/record_reader.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "tests/app/record_builder.h"
#include "tests/support/engine.h"
#include "tests/support/fixture.h"
#include "tests/support/istat.h"
#include "utils/byte_order.h"

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

}  // namespace
