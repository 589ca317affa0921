// The index allocation listing lists every INDX record of a folder, also
// when one cluster holds several records or one record spans several
// clusters; icat's copy of the attribute says how many there are. Running
// out of memory anywhere in the listing ends it with a result, never with
// an exception.
#include "examine/index_listing.h"

#include <gtest/gtest.h>

#include <streambuf>

#include "tests/examine/examine_support.h"
#include "tests/support/allocation_failure_new.h"

namespace {

using quor_test::allocations_counted;
using quor_test::arm_allocation_failure;

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

// The root's allocation rewritten as one run of 0xFFFFFFFF clusters at its
// real place: an 8 MiB volume that claims 16 TiB. The listing keeps to the
// volume (no more records than it has room for) and still lists the real
// records first, as the whole volume's listing does.
TEST(IndexListing, RunListClaimingFarMoreThanTheVolumeKeepsToIt) {
  examine_test::volume v("streams.img");
  ASSERT_NE(v.ntfs, nullptr);
  std::vector<entry_record> records;
  const entry_record* rec = v.find(records, 5, 0xA0, "$I30");
  ASSERT_NE(rec, nullptr);
  ASSERT_EQ(rec->runs.size(), 1u);
  std::ostringstream whole;
  ASSERT_TRUE(list_index_allocations(v.ntfs, 5, whole));
  ASSERT_GE(count_of(whole.str(), "keyword:                  INDX"), 1u);
  const std::string path = quor_test::copy_fixture("streams.img", "root-claims-16t.img");
  ASSERT_TRUE(quor_test::rewrite_mft_runs(path, v.ntfs->get_inode_file_pos(5), {{0xFFFFFFFFull, rec->runs[0].lcn}},
                                          0, ATTR_INDEX_ALLOCATION));
  std::unique_ptr<CNtfs> damaged = quor_test::open_engine_at(path);
  ASSERT_NE(damaged, nullptr);
  std::vector<entry_record> claimed;
  const entry_record* big = examine_test::find_record(damaged.get(), claimed, 5, 0xA0, "$I30");
  ASSERT_NE(big, nullptr);
  ASSERT_EQ(big->runs.size(), 1u);
  ASSERT_EQ(big->runs[0].num_clusters, 0xFFFFFFFFu);

  std::ostringstream out;
  ASSERT_TRUE(list_index_allocations(damaged.get(), 5, out));
  EXPECT_EQ(out.str().compare(0, whole.str().size(), whole.str()), 0);
  const ulong64 volume = damaged->m_total_clusters * damaged->m_cluster_size;
  EXPECT_EQ(volume_bytes(*damaged), volume);
  EXPECT_LE(count_of(out.str(), "keyword:  "), volume / 4096);
}

// The same run of 0xFFFFFFFF clusters, in a copy whose boot sector also
// claims 2^40 sectors (512 TiB): the listing keeps to the 8 MiB the image
// holds. The volume's size is checked first, so a lost bound fails at once
// rather than as a walk of four billion records; the listing is that of the
// run alone.
TEST(IndexListing, BootSectorClaimingMoreThanTheImageKeepsToTheImage) {
  examine_test::volume v("streams.img");
  ASSERT_NE(v.ntfs, nullptr);
  ASSERT_EQ(v.ntfs->m_total_clusters, 2047u);
  std::vector<entry_record> records;
  const entry_record* rec = v.find(records, 5, 0xA0, "$I30");
  ASSERT_NE(rec, nullptr);
  ASSERT_EQ(rec->runs.size(), 1u);
  const std::vector<std::pair<ulong64, ulong64>> claim = {{0xFFFFFFFFull, rec->runs[0].lcn}};
  const std::string runs_only = quor_test::copy_fixture("streams.img", "root-claims-16t.img");
  const std::string both = quor_test::copy_fixture("streams.img", "root-and-boot-claim.img");
  for (const std::string& path : {runs_only, both})
    ASSERT_TRUE(quor_test::rewrite_mft_runs(path, v.ntfs->get_inode_file_pos(5), claim, 0, ATTR_INDEX_ALLOCATION));
  quor_test::rewrite_total_sectors(both, 1ull << 40);
  std::unique_ptr<CNtfs> run_damaged = quor_test::open_engine_at(runs_only);
  std::unique_ptr<CNtfs> damaged = quor_test::open_engine_at(both);
  ASSERT_NE(run_damaged, nullptr);
  ASSERT_NE(damaged, nullptr);
  ASSERT_EQ(damaged->m_total_clusters, (1ull << 40) / 8);
  ASSERT_EQ(volume_bytes(*damaged), 8u << 20);

  std::ostringstream expected, out;
  ASSERT_TRUE(list_index_allocations(run_damaged.get(), 5, expected));
  ASSERT_TRUE(list_index_allocations(damaged.get(), 5, out));
  EXPECT_GE(count_of(out.str(), "keyword:                  INDX"), 1u);
  EXPECT_EQ(out.str(), expected.str());
}

// Each allocation of the listing's buffer and of gathering the entry's
// records made to fail in turn, then a stream that throws on its first
// write: the call returns false and nothing escapes.
TEST(IndexListing, ExceptionsEndTheListingWithAResult) {
  examine_test::volume v("default.img");
  const ulong64 entry = v.entry_of("/longnames");
  std::vector<entry_record> records;
  arm_allocation_failure(long64(1) << 40);
  ASSERT_TRUE(collect_entry_records(v.ntfs, entry, records));
  const long64 gathering = allocations_counted();
  arm_allocation_failure(-1);
  ASSERT_GT(gathering, 10);
  std::ostringstream whole;
  ASSERT_TRUE(list_index_allocations(v.ntfs, entry, whole));
  for (long64 n = 0; n <= gathering; ++n) {
    std::ostringstream out;
    bool listed = true;
    arm_allocation_failure(n);
    EXPECT_NO_THROW(listed = list_index_allocations(v.ntfs, entry, out)) << "allocation " << n;
    arm_allocation_failure(-1);
    EXPECT_FALSE(listed) << "allocation " << n;
    EXPECT_EQ(out.str(), "") << "allocation " << n;
  }

  struct refusing : std::streambuf {
    int overflow(int) override { return traits_type::eof(); }
    std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
  } sink;
  std::ostream out(&sink);
  out.exceptions(std::ios::badbit);
  bool listed = true;
  EXPECT_NO_THROW(listed = list_index_allocations(v.ntfs, entry, out));
  EXPECT_FALSE(listed);
}

}  // namespace
