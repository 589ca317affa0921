// Record queries, write-back and the free-entry scan on the kit's volumes.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "tests/support/record_builder.h"
#include "tests/support/fixture.h"
#include "tests/support/slack_oracle.h"

using quor_test::record_builder;

namespace {

std::map<std::string, ulong64> listing_inodes(const std::string& name) {
  std::map<std::string, ulong64> out;
  std::ifstream in(quor_test::fixture_listing(name));
  std::string inode, seq, kind, size, path;
  while (std::getline(in, inode, '\t') && std::getline(in, seq, '\t') && std::getline(in, kind, '\t') &&
         std::getline(in, size, '\t') && std::getline(in, path))
    out[path] = std::stoull(inode);
  return out;
}


}  // namespace

TEST(RecordQueries, StreamSizesAndDataAttributeSizes) {
  const std::string img = quor_test::fixture("default.img");
  ASSERT_FALSE(img.empty());
  CNtfs* engine = nullptr;
  ASSERT_TRUE(open_ntfs_image(img.c_str(), 0, engine, false, false));
  const auto inodes = listing_inodes("default.listing");
  ulong64 allocated = 0, size = 0, compressed = 0;
  bool flagged = true;
  ASSERT_TRUE(engine->get_stream_sizes(inodes.at("/streams.txt"), allocated, size, nullptr));
  EXPECT_EQ(size, 50u);
  const uint16 alt[] = {'a', 'l', 't', 0};
  ASSERT_TRUE(engine->get_stream_sizes(inodes.at("/streams.txt"), allocated, size, alt));
  EXPECT_EQ(size, 21u);
  const uint16 al[] = {'a', 'l', 0};
  EXPECT_FALSE(engine->get_stream_sizes(inodes.at("/streams.txt"), allocated, size, al));
  ASSERT_TRUE(engine->get_data_attribute_sizes(inodes.at("/nonres.bin"), size, compressed, flagged));
  EXPECT_EQ(size, 204800u);
  EXPECT_FALSE(flagged);
  ASSERT_TRUE(engine->get_data_attribute_sizes(inodes.at("/compressed/pattern.bin"), size, compressed, flagged));
  EXPECT_EQ(size, 102400u);
  EXPECT_TRUE(flagged);
  EXPECT_GT(compressed, 0u);
  EXPECT_LT(compressed, 102400u);
  ulong64 total = 0;
  ASSERT_TRUE(engine->get_data_size_incl_attribute_list(inodes.at("/sparse.bin"), total));
  EXPECT_EQ(total, 5242880u);
  ulong64 base = 1;
  ASSERT_TRUE(engine->get_base_reference(inodes.at("/small.txt"), base));
  EXPECT_EQ(base, 0u);
  delete engine;
}

TEST(RecordWrite, RecordWrittenBackReadsTheSameAndIsProtectedOnDisk) {
  const std::string path = quor_test::copy_fixture("c512.img", "c512-write.img");
  const auto inodes = listing_inodes("c512.listing");
  const ulong64 inode = inodes.begin()->second;
  CNtfs* engine = nullptr;
  ASSERT_TRUE(open_ntfs_image(path.c_str(), 0, engine, true, false));
  std::vector<byte> rec;
  bool torn = false;
  ASSERT_TRUE(engine->read_mft_record_to_vector(rec, torn, inode));
  const ulong64 pos = engine->get_inode_file_pos(inode);
  const uint16 check = load_u16(&rec[load_u16(&rec[FRH_USA_OFFSET])]);
  rec[1022] ^= 0xFF;  // a byte under a sector tail
  std::vector<byte> expected = rec;
  int size = static_cast<int>(rec.size());
  ASSERT_TRUE(engine->write_mft_record(inode, rec.data(), size));
  delete engine;

  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(pos));
  std::vector<char> raw(1024);
  in.read(raw.data(), 1024);
  EXPECT_EQ(load_u16(reinterpret_cast<const byte*>(&raw[510])), static_cast<uint16>(check + 1));
  EXPECT_EQ(load_u16(reinterpret_cast<const byte*>(&raw[1022])), static_cast<uint16>(check + 1));

  ASSERT_TRUE(open_ntfs_image(path.c_str(), 0, engine, false, false));
  std::vector<byte> back;
  ASSERT_TRUE(engine->read_mft_record_to_vector(back, torn, inode));
  EXPECT_FALSE(torn);
  EXPECT_EQ(back[1022], expected[1022]);
  EXPECT_EQ(back[100], expected[100]);
  // A read-only engine writes nothing.
  size = static_cast<int>(back.size());
  EXPECT_FALSE(engine->write_mft_record(inode, back.data(), size));
  delete engine;
}

TEST(UnusedEntries, DeletedFilesAreFoundWithTheirParents) {
  const std::string img = quor_test::fixture("default.img");
  ASSERT_FALSE(img.empty());
  CNtfs* engine = nullptr;
  ASSERT_TRUE(open_ntfs_image(img.c_str(), 0, engine, false, false));
  entry_name_list names, parents;
  engine->scan_unused_entries(names, parents);
  const std::set<std::pair<ulong64, std::wstring>> found(names.begin(), names.end());
  // The three files deleted from the root, whose entries nothing reused.
  const auto live = listing_inodes("default.listing");
  std::set<ulong64> live_inodes;
  for (const auto& kv : live) live_inodes.insert(kv.second);
  const std::pair<ulong64, std::wstring> want[] = {
      {564, L"del-root-1.txt"}, {567, L"del-root-2.txt"}, {570, L"del-root-3.txt"}};
  for (const auto& w : want) {
    if (live_inodes.count(w.first)) continue;
    EXPECT_TRUE(found.count(w)) << w.first;
  }
  for (const auto& n : names) EXPECT_FALSE(live_inodes.count(n.first)) << "live entry " << n.first << " reported free";
  bool root_parent = false;
  for (const auto& p : parents) root_parent |= p.first == 5 && p.second == L".";
  EXPECT_TRUE(root_parent);
  delete engine;
}

TEST(RecordReads, RecordsReadInOrderMatchTheImageBytes) {
  // Half-kibibyte clusters: every record spans two clusters.
  const std::string img = quor_test::fixture("c512.img");
  ASSERT_FALSE(img.empty());
  CNtfs* engine = nullptr;
  ASSERT_TRUE(open_ntfs_image(img.c_str(), 0, engine, false, false));
  ASSERT_EQ(engine->m_mft_stats.data_runs.size(), 1u);  // the $MFT lies in one piece
  std::ifstream raw(img, std::ios::binary);
  std::vector<byte> expected(1024);
  bool torn = false;
  for (ulong64 i = 0; i < engine->get_inode_count(); ++i) {
    std::vector<byte> rec;
    ASSERT_TRUE(engine->read_mft_record_to_vector(rec, torn, i)) << i;
    raw.seekg(static_cast<std::streamoff>(engine->m_mft_file_pos + i * 1024));
    raw.read(reinterpret_cast<char*>(expected.data()), 1024);
    quor_test::undo_update_sequence(expected.data(), 1024);
    ASSERT_TRUE(rec == expected) << i;
    EXPECT_EQ(engine->get_inode_file_pos(i), engine->m_mft_file_pos + i * 1024) << i;
  }
  delete engine;
}

TEST(RecordReads, TornRecordIsReadAndReportedAsTorn) {
  const std::string path = quor_test::copy_fixture("default.img", "torn.img");
  CNtfs* engine = nullptr;
  ASSERT_TRUE(open_ntfs_image(path.c_str(), 0, engine, false, false));
  const ulong64 inode = listing_inodes("default.listing").at("/small.txt");
  const ulong64 pos = engine->get_inode_file_pos(inode);
  delete engine;
  {
    std::fstream io(path, std::ios::in | std::ios::out | std::ios::binary);
    io.seekp(static_cast<std::streamoff>(pos + 1022));
    io.write("\x12\x34", 2);  // the second sector from another write
  }
  ASSERT_TRUE(open_ntfs_image(path.c_str(), 0, engine, false, false));
  std::vector<byte> rec;
  bool torn = false;
  ASSERT_TRUE(engine->read_mft_record_to_vector(rec, torn, inode));
  EXPECT_TRUE(torn);
  EXPECT_TRUE(engine->last_record_torn());
  ASSERT_TRUE(engine->read_mft_record_to_vector(rec, torn, 5));
  EXPECT_FALSE(torn);
  delete engine;
}
