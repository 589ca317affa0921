// Attribute lists on hand-built records: attributes fetched from extension
// records, entries that name the base record, damaged and short entries.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/attribute_list.h"
#include "app/record_reader.h"
#include "tests/app/record_builder.h"
#include "tests/support/fixture.h"
#include "utils/byte_order.h"
#include "utils/file_handle.h"

namespace {

using quor_test::record_builder;

const uint16 k_check = 0x0303;
const ulong64 k_time = 131000000000000000ull;

ulong64 attr_key(uint32 type, uint16 id) { return type | (static_cast<ulong64>(id) << 48); }

std::vector<byte> bytes(const std::string& s) { return std::vector<byte>(s.begin(), s.end()); }

void open_as_mft_file(user_ctx& ctx, const std::vector<std::vector<byte>>& records, const std::string& name) {
  std::string path = quor_test::scratch_dir() + "/" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  for (const auto& r : records) std::fwrite(r.data(), 1, r.size(), f);
  std::fclose(f);
  ctx.mft_reader = new uni::file_handle(path, false, false);
  ctx.is_open = true;
}

TEST(AttributeList, AttributesOfExtensionRecordsAreFiledIntoTheBase) {
  // Record 0: the base. Its list names its own $FILE_NAME, a stream and a
  // second name in record 2, a stream in the damaged record 3, then a short
  // entry that ends the walk before a last, never-reached entry.
  std::vector<byte> list;
  record_builder::add_list_entry(list, 0x30, 0, 1);
  record_builder::add_list_entry(list, 0x80, 2 | (1ull << 48), 5);
  record_builder::add_list_entry(list, 0x80, 3, 1);
  record_builder::add_list_entry(list, 0x30, 2, 6);
  record_builder::add_list_entry(list, 0x80, 2, 7, 20);
  record_builder::add_list_entry(list, 0x80, 2, 7);
  record_builder base(1024, 1, 1);
  base.add_resident(0x20, 0, u"", list);
  base.add_file_name(1, 5, u"Base.txt", 1, k_time);

  // Record 4: a list whose second entry claims more bytes than are left.
  std::vector<byte> short_list;
  record_builder::add_list_entry(short_list, 0x80, 2, 5);
  record_builder::add_list_entry(short_list, 0x80, 2, 7);
  store_u16(&short_list[32 + 4], 200);
  record_builder cut(1024, 1, 1);
  cut.add_resident(0x20, 0, u"", short_list);

  // Record 5: a non-resident list cannot be read from an extracted $MFT.
  record_builder far(1024, 1, 1);
  far.add_nonresident(0x20, 0, 64);

  record_builder unused(1024, 0, 1);
  record_builder extension(1024, 1, 1);
  extension.add_resident(0x80, 5, u"ext", bytes("extension stream"));
  extension.add_file_name(6, 5, u"Second.txt", 1, k_time);
  extension.add_resident(0x80, 7, u"late", bytes("must not be filed"));
  record_builder damaged(1024, 1, 1);
  damaged.add_resident(0x80, 1, u"bad", bytes("never"));
  damaged.mark_baad();

  user_ctx ctx;
  open_as_mft_file(ctx,
                   {base.finish(k_check), unused.finish(k_check), extension.finish(k_check),
                    damaged.finish(k_check), cut.finish(k_check), far.finish(k_check)},
                   "lists.mft");

  inode_attributes rec;
  ASSERT_TRUE(read_inode(rec, ctx, 0));
  EXPECT_TRUE(rec.has_attr_list);
  EXPECT_FALSE(rec.attr_list_nonresident);
  ASSERT_EQ(rec.attributes.count(attr_key(0x80, 5)), 1u);
  EXPECT_EQ(rec.attributes.at(attr_key(0x80, 5)).name, L"ext");
  EXPECT_EQ(rec.attributes.count(attr_key(0x80, 7)), 0u);
  EXPECT_EQ(rec.attributes.count(attr_key(0x80, 1)), 0u);
  std::vector<std::wstring> names;
  for (const auto& kv : rec.filename_records) names.push_back(kv.second.name);
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Base.txt", L"Second.txt"}));

  ASSERT_TRUE(read_inode(rec, ctx, 4));
  EXPECT_EQ(rec.attributes.count(attr_key(0x80, 5)), 1u);
  EXPECT_EQ(rec.attributes.count(attr_key(0x80, 7)), 0u);

  ASSERT_TRUE(read_inode(rec, ctx, 5));
  EXPECT_TRUE(rec.has_attr_list);
  EXPECT_TRUE(rec.attr_list_nonresident);
  EXPECT_TRUE(rec.attributes.empty());
}

}  // namespace
