// Mapping-pairs decoding and the run-list conversions.
#include "ntfs/data_runs.h"

#include <gtest/gtest.h>

#include <sstream>

#include "ntfs/ntfs.h"
#include "tests/support/record_builder.h"

using quor_test::record_builder;

namespace {

// A non-resident attribute holding the pairs, as decode_attribute_runs reads it.
std::vector<byte> attribute_with(const std::vector<byte>& pairs, uint64 first_vcn = 0) {
  record_builder b;
  const uint32 at = b.non_resident(ATTR_DATA, pairs, 4096, first_vcn);
  std::vector<byte> rec = b.done();
  return std::vector<byte>(rec.begin() + at, rec.begin() + at + load_u32(&rec[at + AH_LENGTH]));
}

}  // namespace

TEST(DataRuns, DecodesAbsoluteNegativeAndSparseRuns) {
  // 0x18 clusters at 0x34; 5 at 0x34 - 1; 4 sparse; 2 at 0x33 + 0x100.
  const std::vector<byte> attr =
      attribute_with({0x11, 0x18, 0x34, 0x11, 0x05, 0xFF, 0x01, 0x04, 0x21, 0x02, 0x00, 0x01, 0x00}, 0x40);
  std::vector<run_record> runs;
  ASSERT_TRUE(decode_attribute_runs(attr.data(), runs));
  ASSERT_EQ(runs.size(), 4u);
  struct Want {
    ulong64 lcn, lcn_offset, vcn;
    uint32 clusters;
    uint8 negative;
  };
  const Want want[] = {{0x34, 0x34, 0x40, 0x18, 0}, {0x33, 1, 0x58, 5, 1}, {0x33, 0, 0x5D, 4, 0}, {0x133, 0x100, 0x61, 2, 0}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(runs[i].lcn, want[i].lcn) << i;
    EXPECT_EQ(runs[i].lcn_offset, want[i].lcn_offset) << i;
    EXPECT_EQ(runs[i].vcn, want[i].vcn) << i;
    EXPECT_EQ(runs[i].num_clusters, want[i].clusters) << i;
    EXPECT_EQ(runs[i].negative_offset, want[i].negative) << i;
  }

  // The engine's decoder marks the hole with an all-ones LCN instead.
  std::vector<run_record> engine_runs;
  const byte pairs[] = {0x11, 0x18, 0x34, 0x11, 0x05, 0xFF, 0x01, 0x04, 0x21, 0x02, 0x00, 0x01, 0x00};
  ASSERT_TRUE(decode_mapping_pairs_bounded(pairs, sizeof pairs, engine_runs, ATTR_DATA, true));
  ASSERT_EQ(engine_runs.size(), 4u);
  EXPECT_TRUE(engine_runs[2].is_sparse_lcn());
  EXPECT_EQ(engine_runs[3].lcn, 0x133u);

  std::vector<data_run> compact;
  run_records_to_data_runs(runs, compact);
  EXPECT_EQ(get_data_runs_size(compact, 4096, false), (0x18 + 5 + 4 + 2) * 4096ULL);
  EXPECT_EQ(get_data_runs_size(compact, 4096, true), (0x18 + 5 + 2) * 4096ULL);
  uint32 index = 0;
  ulong64 lcn = 0;
  ASSERT_TRUE(find_lcn_for_vcn(compact, 0x57, index, lcn));
  EXPECT_EQ(index, 0u);
  EXPECT_EQ(lcn, 0x34u + 0x17);
  ASSERT_TRUE(find_lcn_for_vcn(compact, 0x58, index, lcn));
  EXPECT_EQ(lcn, 0x33u);
  ASSERT_TRUE(find_lcn_for_vcn(compact, 0x5E, index, lcn));
  EXPECT_EQ(lcn, 0u);
  EXPECT_FALSE(find_lcn_for_vcn(compact, 0x63, index, lcn));

  ulong64 left = 0;
  std::vector<byte> bounded = attr;
  store_u64(&bounded[AH_LAST_VCN], 0x62);
  EXPECT_FALSE(lookup_vcn_in_mapping_pairs(attr.data(), 0x5A, lcn, left));  // past the last VCN it names
  ASSERT_TRUE(lookup_vcn_in_mapping_pairs(bounded.data(), 0x5A, lcn, left));
  EXPECT_EQ(lcn, 0x35u);
  EXPECT_EQ(left, 3u);

  lcn_run_list clusters;
  run_records_to_lcn_run_list(runs, clusters);
  ASSERT_EQ(clusters.size(), 0x18u + 5 + 4 + 2);
  EXPECT_TRUE(clusters[0x18 + 5].m_bSparse);
  EXPECT_EQ(clusters.back().lcn, 0x134u);
  EXPECT_EQ(clusters.back().vcn, 0x62u);
}

TEST(DataRuns, FirstRunAtClusterZeroIsNotAHoleInTheCompactForm) {
  const std::vector<byte> attr = attribute_with({0x11, 0x08, 0x00, 0x00});
  std::vector<run_record> runs;
  ASSERT_TRUE(decode_attribute_runs(attr.data(), runs));
  std::vector<data_run> compact;
  run_records_to_data_runs(runs, compact);
  ASSERT_EQ(compact.size(), 1u);
  EXPECT_EQ(compact[0].sparse, 0);
  lcn_run_list clusters;
  run_records_to_lcn_run_list(runs, clusters);
  ASSERT_EQ(clusters.size(), 8u);
  EXPECT_TRUE(clusters[0].m_bSparse);
}

// A run without length bytes holds no clusters but still moves the LCN the
// next run counts from.
TEST(DataRuns, RunWithoutLengthBytesIsEmpty) {
  const std::vector<byte> pairs = {0x11, 0x08, 0x10, 0x10, 0x05, 0x11, 0x02, 0x01, 0x00};
  std::vector<byte> attr = attribute_with(pairs);
  store_u64(&attr[AH_LAST_VCN], 9);
  std::vector<run_record> runs, engine_runs;
  ASSERT_TRUE(decode_attribute_runs(attr.data(), runs));
  ASSERT_TRUE(decode_mapping_pairs_bounded(pairs.data(), pairs.size(), engine_runs, ATTR_DATA, true));
  const struct {
    ulong64 lcn, lcn_offset, vcn;
    uint32 clusters;
  } want[] = {{0x10, 0x10, 0, 8}, {0x15, 5, 8, 0}, {0x16, 1, 8, 2}};
  ASSERT_EQ(runs.size(), 3u);
  ASSERT_EQ(engine_runs.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(runs[i].lcn, want[i].lcn) << i;
    EXPECT_EQ(runs[i].lcn_offset, want[i].lcn_offset) << i;
    EXPECT_EQ(runs[i].vcn, want[i].vcn) << i;
    EXPECT_EQ(runs[i].num_clusters, want[i].clusters) << i;
    EXPECT_EQ(engine_runs[i].lcn, want[i].lcn) << i;
    EXPECT_EQ(engine_runs[i].num_clusters, want[i].clusters) << i;
  }
  EXPECT_EQ(get_run_length(&pairs[3]), 0u);
  EXPECT_EQ(get_run_size(&pairs[3]), 2u);
  ulong64 lcn = 0, left = 0;
  ASSERT_TRUE(lookup_vcn_in_mapping_pairs(attr.data(), 9, lcn, left));
  EXPECT_EQ(lcn, 0x17u);
  EXPECT_EQ(left, 1u);
  lcn_run_list clusters;
  run_records_to_lcn_run_list(runs, clusters);
  ASSERT_EQ(clusters.size(), 10u);
  EXPECT_EQ(clusters[8].lcn, 0x16u);
}

TEST(DataRuns, MalformedListsAreRefused) {
  struct Case {
    const char* what;
    std::vector<byte> pairs;
    size_t keep;  // runs decoded before the fault
  };
  const Case cases[] = {
      {"length field of 9 bytes", {0x19, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0x00}, 0},
      {"offset field of 9 bytes", {0x91, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0x00}, 0},
      {"offset before cluster 0", {0x11, 0x02, 0x10, 0x11, 0x02, 0xE0, 0x00}, 1},
      {"run longer than 2^32 clusters", {0x15, 0, 0, 0, 0, 1, 0x00}, 0},
  };
  for (const Case& c : cases) {
    std::vector<run_record> runs;
    EXPECT_FALSE(decode_mapping_pairs_bounded(c.pairs.data(), c.pairs.size(), runs, ATTR_DATA, true)) << c.what;
    EXPECT_EQ(runs.size(), c.keep) << c.what;
  }
  // Pairs that run past the end of their attribute, with no terminator.
  std::vector<byte> attr = attribute_with({0x11, 0x08, 0x10});
  const uint32 pairs_at = load_u16(&attr[AH_MAPPING_PAIRS]);
  for (size_t i = pairs_at; i < attr.size(); ++i) attr[i] = 0x11;
  std::vector<run_record> runs;
  EXPECT_FALSE(decode_attribute_runs(attr.data(), runs));
  EXPECT_FALSE(decode_attribute_runs(attr.data(), 40, runs));  // header cut short
  const byte unterminated[] = {0x11, 0x08, 0x10};
  EXPECT_FALSE(decode_mapping_pairs_bounded(unterminated, sizeof unterminated, runs, ATTR_DATA, true));
}

TEST(DataRuns, CompactingDropsHolesAndRenumbers) {
  std::vector<data_run> runs = {data_run(0x900, 10, 2, false), data_run(0, 0, 4, true), data_run(0x100, 4, 6, false)};
  compact_data_runs(runs);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].lcn, 0x100u);
  EXPECT_EQ(runs[0].vcn, 0u);
  EXPECT_EQ(runs[1].lcn, 0x900u);
  EXPECT_EQ(runs[1].vcn, 6u);

  std::vector<data_run> target = {data_run(0x10, 0, 3, false)};
  merge_data_runs({data_run(0x20, 0, 9, false), data_run(0x30, 3, 5, false)}, target);
  ASSERT_EQ(target.size(), 2u);
  EXPECT_EQ(target[0].lcn, 0x10u);  // the target's run wins on an equal VCN
  EXPECT_EQ(target[1].vcn, 3u);
}

// The engine's member decoder, given no length, reads up to the end marker:
// 8 clusters at 0x100, 4 sparse, 2 at 0x200 (+0x100), 3 at 0x1F0 (-0x10),
// each with its trace text; appending goes on from the last LCN.
TEST(DataRuns, EngineMemberDecoderWithTraceAndAppend) {
  std::vector<byte> pairs(1024, 0);  // as large as the record the pairs lie in
  const byte list[] = {0x21, 0x08, 0x00, 0x01, 0x01, 0x04, 0x21, 0x02, 0x00, 0x01, 0x11, 0x03, 0xF0, 0x00};
  std::copy(std::begin(list), std::end(list), pairs.begin());
  CNtfs engine;
  std::vector<run_record> runs(2);
  ASSERT_TRUE(engine.decode_mapping_pairs(pairs.data(), runs, ATTR_INDEX_ALLOCATION, true));
  const struct {
    ulong64 lcn;
    uint32 clusters;
    std::vector<byte> bytes;
    const char* trace;
  } want[] = {
      {0x100, 8, {0x21, 0x08, 0x00, 0x01},
       "\thdr: 0x21, 0x1 byte length, 0x2 byte offset\n\tnum clusters: 0x8\n\tlcn: 0x0 + 0x100 = 0x100\n"},
      {RUN_NOT_RECORDED, 4, {0x01, 0x04}, "\thdr: 0x1, 0x1 byte length, 0x0 byte offset\n\tnum clusters: 0x4\n"},
      {0x200, 2, {0x21, 0x02, 0x00, 0x01},
       "\thdr: 0x21, 0x1 byte length, 0x2 byte offset\n\tnum clusters: 0x2\n\tlcn: 0x100 + 0x100 = 0x200\n"},
      {0x1F0, 3, {0x11, 0x03, 0xF0},
       "\thdr: 0x11, 0x1 byte length, 0x1 byte offset\n\tnum clusters: 0x3\n\tlcn: 0x200 - 0x10 = 0x1f0\n"},
  };
  ASSERT_EQ(runs.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(runs[i].lcn, want[i].lcn) << i;
    EXPECT_EQ(runs[i].lcn_offset, RUN_NOT_RECORDED) << i;
    EXPECT_EQ(runs[i].num_clusters, want[i].clusters) << i;
    EXPECT_EQ(runs[i].attribute_type, static_cast<uint32>(ATTR_INDEX_ALLOCATION)) << i;
    EXPECT_EQ(runs[i].run_bytes, want[i].bytes) << i;
    EXPECT_EQ(runs[i].name, want[i].trace) << i;
    EXPECT_TRUE(runs[i].next_bytes.empty()) << i;
  }
  // Appending starts from the last LCN: +0x10 lands at 0x200.
  const byte more[] = {0x11, 0x01, 0x10, 0x00};
  std::copy(std::begin(more), std::end(more), pairs.begin());
  ASSERT_TRUE(engine.decode_mapping_pairs(pairs.data(), runs, ATTR_DATA, false));
  ASSERT_EQ(runs.size(), 5u);
  EXPECT_EQ(runs[4].lcn, 0x200u);
  // An empty list is refused after the clearing; no list at all is refused.
  pairs[0] = 0;
  EXPECT_FALSE(engine.decode_mapping_pairs(pairs.data(), runs, ATTR_DATA, true));
  EXPECT_TRUE(runs.empty());
  EXPECT_FALSE(engine.decode_mapping_pairs(nullptr, runs, ATTR_DATA, true));
}

TEST(DataRuns, SortingKeepsHolesAndRawOffsetsHaveNoSign) {
  std::vector<data_run> runs = {data_run(7, 10, 3, false), data_run(0, 2, 5, true), data_run(9, 10, 1, false)};
  sort_data_runs(runs);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_TRUE(runs[0].sparse);
  EXPECT_EQ(runs[0].vcn, 0u);
  EXPECT_EQ(runs[1].lcn, 7u);  // the first run at a VCN is kept
  EXPECT_EQ(runs[1].vcn, 5u);

  const byte positive[] = {0x21, 0x02, 0x00, 0x01}, negative[] = {0x11, 0x05, 0xFF}, sparse[] = {0x01, 0x04};
  EXPECT_EQ(get_run_offset_raw(positive), 0x100u);
  EXPECT_EQ(get_run_offset_raw(negative), 0xFFu);
  EXPECT_EQ(get_run_offset_raw(sparse), 0u);
  EXPECT_EQ(get_run_offset_raw(nullptr), 0u);
}

TEST(DataRuns, RecordConstructorsAndClear) {
  const std::vector<byte> own = {0x11, 0x18, 0x34}, next = {0x01, 0x04, 0x00};
  const run_record traced(0x34, 0x18, ATTR_DATA, own, "trace");
  EXPECT_EQ(traced.lcn_offset, RUN_NOT_RECORDED);
  EXPECT_EQ(traced.run_bytes, own);
  EXPECT_EQ(traced.name, "trace");
  EXPECT_EQ(run_record(0x34, 0x18, ATTR_DATA, std::string("n")).lcn_offset, RUN_NOT_RECORDED);
  run_record full(0x34, 0x34, 0x18, 0x40, ATTR_DATA, 0x40, own, next, 1, "n");
  EXPECT_EQ(full.vcn, 0x40u);
  EXPECT_EQ(full.run_offset, 0x40u);
  EXPECT_EQ(full.next_bytes, next);
  EXPECT_EQ(full.negative_offset, 1);
  const byte value[] = {'a', 'b', 'c'};
  const run_record resident(value, 3, ATTR_STANDARD_INFORMATION, "");
  EXPECT_EQ(resident.resident, 1);
  EXPECT_EQ(resident.resident_size, 3u);
  EXPECT_EQ(resident.resident_data, std::vector<byte>(value, value + 3));
  full.clear();
  EXPECT_TRUE(full.lcn == 0 && full.lcn_offset == 0 && full.num_clusters == 0 && full.vcn == 0 &&
              full.negative_offset == 0 && full.attribute_type == 0 && full.run_offset == 0 && full.name.empty() &&
              full.run_bytes.empty() && full.next_bytes.empty());
}

TEST(DataRuns, Dumps) {
  const run_record runs[] = {run_record(0x34, 0x34, 0x18, 0x40, ATTR_DATA, 0x40, {0x11, 0x18, 0x34}, {}, 0, ""),
                             run_record(0x34, 0, 4, 0x58, ATTR_DATA, 0, ""),
                             run_record(0x33, 1, 5, 0x5c, ATTR_DATA, 1, "")};
  std::ostringstream records;
  dump_run_records(records, std::vector<run_record>(runs, runs + 3));
  EXPECT_EQ(records.str(),
            "run: 0x00 [ 0x000040 ],  [ 11 18 34 ]\n"
            "type_data:         0x80 (Data Attrib)\nvcn (start):       40\nvcn (end):         57\n"
            "lcn (offset):      34\nlcn (start):       34 (52)\nlcn (stop):        4b (75)\n"
            "num_clusters:      0x18\ntotal num clusters: 0x18\n\n"
            "run: 0x01 [ 0x000000 ], \n"
            "type_data:         0x80 (Data Attrib)\nvcn (start):       58\nvcn (end):         5b\n"
            "lcn (offset):      0 -- no lcn offset (sparse array)\nnum_clusters:      0x4\n"
            "sparse cluster doesn't add to the LCN's but adds to the VCN\n\n"
            "run: 0x02 [ 0x000000 ], \n"
            "type_data:         0x80 (Data Attrib)\nvcn (start):       5c\nvcn (end):         60\n"
            "lcn (offset):      1 [negative offset]\nlcn (start):       33 (51)\nlcn (stop):        37 (55)\n"
            "num_clusters:      0x5\ntotal num clusters: 0x1d\n\n");
  const byte value[] = {'a', 'b', 'c'};
  std::ostringstream resident;
  dump_run_record(resident, run_record(value, 3, ATTR_STANDARD_INFORMATION, ""));
  EXPECT_EQ(resident.str(), "type_data:         0x10 (Standard Info Attrib)\nData is Resident\n"
                            "0000 0000:  61 62 63 " + std::string(41, ' ') + "abc\n");

  const std::vector<data_run> compact = {data_run(4, 0, 3, false), data_run(0x34, 3, 0x18, false),
                                         data_run(0, 0x1b, 2, true)};
  std::ostringstream list, clusters, none;
  dump_data_runs(list, {compact[0], data_run(8, 3, 1, false)});
  EXPECT_EQ(list.str(), "4->6, 8->8\n");
  dump_cluster_runs(compact, clusters, "\t");
  EXPECT_EQ(clusters.str(), "\tcluster runs:\n"
                            "\t  " + std::string(15, ' ') + "4 : " + std::string(15, ' ') + "6\n"
                            "\t  " + std::string(14, ' ') + "34 : " + std::string(14, ' ') + "4b\n"
                            "\t  " + std::string(15, ' ') + "0 : " + std::string(15, ' ') + "1 [sparsed]\n");
  dump_cluster_runs({}, none, "\t");
  dump_cluster_runs(std::vector<data_run>(1, data_run(1, 0, 1, false)), none, nullptr);
  EXPECT_EQ(none.str(), "cluster runs:\n  " + std::string(15, ' ') + "1 : " + std::string(15, ' ') + "1\n");

  std::ostringstream entries, bytes;
  dump_lcn_run_entry(entries, lcn_run_entry(0x1234567890ULL, 0x41, false));
  entries << "|";
  dump_lcn_run_list(entries, {lcn_run_entry(0x35, 0x42, false), lcn_run_entry(0, 0x43, true)});
  EXPECT_EQ(entries.str(), "vcn: 0x41, lcn: 0x34567890|vcn: 0x42, lcn: 0x00000035\nvcn: 0x43, lcn: 0x00000000 (sparse)\n");
  dump_hex_bytes({0x0a, 0xff, 0x00}, bytes);
  EXPECT_EQ(bytes.str(), "0a ff 00 ");
}
