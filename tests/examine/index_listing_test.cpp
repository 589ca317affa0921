// The index allocation listing lists every INDX record of a folder, also
// when one cluster holds several records or one record spans several
// clusters; icat's copy of the attribute says how many there are.
#include "examine/index_listing.h"

#include <gtest/gtest.h>

#include "tests/examine/examine_support.h"

namespace {

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(IndexListing, EveryRecordOnEveryClusterSize) {
  if (!quor_test::have_program("icat")) GTEST_SKIP() << "icat not installed";
  const struct {
    const char *image, *folder;
  } cases[] = {{"default.img", "/many"}, {"c64k.img", "/dir500"}, {"c512.img", "/dir500"}, {"s4096.img", "/dir500"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.image) + c.folder);
    examine_test::volume v(c.image);
    const ulong64 entry = v.entry_of(c.folder);
    std::vector<entry_record> records;
    const entry_record* rec = v.find(records, entry, 0xA0, "$I30");
    ASSERT_NE(rec, nullptr);
    std::string stored;
    ASSERT_TRUE(examine_test::icat(v.image, std::to_string(entry) + "-160-" + std::to_string(rec->item.header.small_value),
                                   stored));
    size_t want = 0;
    for (size_t at = 0; at + 4096 <= stored.size(); at += 4096) want += stored.compare(at, 4, "INDX") == 0;
    ASSERT_GT(want, 1u);
    std::ostringstream out;
    ASSERT_TRUE(list_index_allocations(v.ntfs, entry, out));
    EXPECT_EQ(count_of(out.str(), "indx name: $I30\n"), 1u);
    EXPECT_EQ(count_of(out.str(), "keyword:                  INDX"), want);
  }
  examine_test::volume v("default.img");
  std::ostringstream none;
  EXPECT_FALSE(list_index_allocations(v.ntfs, v.entry_of("/small.txt"), none));
  EXPECT_EQ(none.str(), "");
}

}  // namespace
