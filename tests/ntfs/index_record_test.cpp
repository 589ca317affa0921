// INDX record fixup on hand-made records, and the allocation reader on a
// fixture volume whose index has one damaged record.
#include "ntfs/index_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "ntfs/dir_children.h"
#include "ntfs/index_node.h"
#include "tests/support/engine.h"
#include "tests/support/istat.h"
#include "utils/byte_order.h"

namespace {

// A 4096-byte INDX record whose sector ends hold the check value 0xABCD and
// whose array holds the true bytes 0x1100 + i.
std::vector<byte> protected_record(uint16 usa_offset = 40, uint16 count = 9) {
  std::vector<byte> r(4096, 0x5A);
  std::memcpy(r.data(), "INDX", 4);
  store_u16(&r[4], usa_offset);
  store_u16(&r[6], count);
  if (usa_offset + 2u * count <= r.size()) {
    store_u16(&r[usa_offset], 0xABCD);
    for (uint16 i = 1; i < count; ++i) store_u16(&r[usa_offset + 2 * i], static_cast<uint16>(0x1100 + i));
  }
  for (int i = 1; i <= 8; ++i) store_u16(&r[i * 512 - 2], 0xABCD);
  return r;
}

}  // namespace

// No record is dropped for its update sequence: the sectors min(count - 1,
// 8) are restored when the whole array lies in the record, none otherwise,
// and the check value is never compared. Only a missing "INDX" refuses.
TEST(IndexRecord, Fixup) {
  struct fixup_case {
    const char* what;
    uint16 usa_offset, count;
    uint32 restored;  // sectors 1..restored get their true bytes back
    bool torn, indx;
  } cases[] = {
      {"whole record", 40, 9, 8, false, true},
      {"torn sector restored all the same", 40, 9, 8, true, true},
      {"count short of the record", 40, 3, 2, false, true},
      {"count beyond the record", 40, 17, 8, false, true},
      {"array past the record end", 4090, 9, 0, false, true},
      {"count 0xFFFF", 40, 0xFFFF, 0, false, true},
      {"count 1: no protection", 40, 1, 0, false, true},
      {"not an index record", 40, 9, 0, false, false},
  };
  for (const fixup_case& c : cases) {
    std::vector<byte> r = protected_record(c.usa_offset, c.count);
    if (c.torn) store_u16(&r[3 * 512 - 2], 0x0000);
    if (!c.indx) std::memcpy(r.data(), "FILE", 4);
    const std::vector<byte> before = r;
    EXPECT_EQ(fix_indx_record(r.data(), 4096), c.indx) << c.what;
    for (uint32 i = 1; i <= 8; ++i) {
      const uint16 expected = i <= c.restored ? static_cast<uint16>(0x1100 + i) : load_u16(&before[i * 512 - 2]);
      EXPECT_EQ(load_u16(&r[i * 512 - 2]), expected) << c.what << " sector " << i;
    }
  }
}

// A record that is not "INDX" is passed over in its own slot: the records
// after it keep their offsets and their entries stay live.
TEST(IndexRecord, DamagedRecordKeepsItsSlot) {
  const std::string original = quor_test::fixture("default.img");
  if (original.empty()) GTEST_SKIP() << "fixture kit absent";
  const uint64_t many = quor_test::listed_inode("default.img", "/many");

  CNtfs* ntfs = nullptr;
  ASSERT_TRUE(open_ntfs_image(original.c_str(), 0, ntfs, false, false));
  directory_index index;
  ASSERT_TRUE(read_directory_index(*ntfs, many, index));
  ASSERT_EQ(index.record_size, 4096u);
  std::vector<byte> before;
  ASSERT_TRUE(ntfs->read_index_allocation(before, index.runs, index.record_size, index.allocation_size));
  ASSERT_GE(before.size(), 3u * 4096);
  const ulong64 lcn = index.runs.at(0).lcn;
  const uint32 cluster = ntfs->m_cluster_size;
  delete ntfs;
  ntfs = nullptr;

  // Damage the second record of the first run in a copy of the image.
  ASSERT_EQ(index.runs[0].vcn, 0u);
  ASSERT_GE(static_cast<uint64>(index.runs[0].num_clusters) * cluster, 2u * 4096);
  const std::string copy = quor_test::copy_fixture("default.img", "damaged-index.img");
  ASSERT_FALSE(copy.empty());
  FILE* f = std::fopen(copy.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fseek(f, static_cast<long>(lcn * cluster + 4096), SEEK_SET), 0);
  ASSERT_EQ(std::fwrite("XXXX", 1, 4, f), 4u);
  std::fclose(f);

  ASSERT_TRUE(open_ntfs_image(copy.c_str(), 0, ntfs, false, false));
  std::vector<byte> after;
  ASSERT_TRUE(ntfs->read_index_allocation(after, index.runs, index.record_size, index.allocation_size));
  ASSERT_EQ(after.size(), before.size());
  EXPECT_TRUE(std::equal(after.begin(), after.begin() + 4096, before.begin()));
  EXPECT_TRUE(std::all_of(after.begin() + 4096, after.begin() + 8192, [](byte b) { return b == 0; }));
  EXPECT_TRUE(std::equal(after.begin() + 8192, after.end(), before.begin() + 8192));

  // The damaged record's entries are lost; every other one stays live at its
  // true offset.
  string_indx_map valid_before, valid_after;
  inode_indx_mmap carved_before, carved_after;
  const byte* bitmap = index.has_bitmap ? index.bitmap.data() : nullptr;
  parse_index_allocation_w_carve(valid_before, carved_before, many, before.data(), before.size(), 4096, bitmap,
                                 index.bitmap.size(), 0);
  parse_index_allocation_w_carve(valid_after, carved_after, many, after.data(), after.size(), 4096, bitmap,
                                 index.bitmap.size(), 0);
  size_t lost = 0, kept = 0;
  for (const auto& kv : valid_before) {
    const bool in_damaged = kv.second.file_offset >= 4096 && kv.second.file_offset < 8192;
    auto it = valid_after.find(kv.first);
    if (in_damaged) {
      ++lost;
      EXPECT_EQ(it, valid_after.end()) << kv.second.name;
    } else {
      ++kept;
      ASSERT_NE(it, valid_after.end()) << kv.second.name;
      EXPECT_EQ(it->second.file_offset, kv.second.file_offset) << kv.second.name;
    }
  }
  EXPECT_GT(lost, 0u);
  EXPECT_GT(kept, 0u);
  EXPECT_EQ(valid_after.size(), kept);
  delete ntfs;
}

// Given the list's last VCN as its end, as the directory walkers pass it,
// the record-at-a-VCN reader delivers every record, the last one included,
// as the allocation reader does, on 4 KiB, 512-byte and 64 KiB clusters.
TEST(IndexRecord, RecordAtAVcnUpToTheLastCluster) {
  for (const char* image : {"default.img", "c512.img", "c64k.img"}) {
    SCOPED_TRACE(image);
    if (quor_test::fixture(image).empty()) GTEST_SKIP() << "fixture kit absent";
    const uint64_t dir = quor_test::listed_inode(image, "/many") + quor_test::listed_inode(image, "/dir500");
    CNtfs* ntfs = nullptr;
    ASSERT_TRUE(open_ntfs_image(quor_test::fixture(image).c_str(), 0, ntfs, false, false));
    directory_index index;
    std::vector<byte> all;
    ASSERT_TRUE(read_directory_index(*ntfs, dir, index) && ntfs->read_index_allocation(all, index.runs, 4096, 0));
    // The two-argument form is the same read with 4 KiB records and no size bound.
    std::vector<byte> plain(3, 0xEE);
    ASSERT_TRUE(ntfs->read_index_allocation(plain, index.runs));
    EXPECT_TRUE(plain == all);
    lcn_run_list clusters;
    for (const data_run& r : index.runs)
      for (uint32 k = 0; k < r.num_clusters; ++k) clusters.emplace_back(r.lcn + k, r.vcn + k, r.sparse != 0);
    const ulong64 cs = ntfs->m_cluster_size, last = clusters.size() - 1;
    size_t records = 0;
    for (ulong64 vcn = 0, next = last; vcn <= last; next = last) {
      byte* buffer = nullptr;
      int size = 0;
      if (!ntfs->read_and_fix_indexrecord(clusters, vcn, next, buffer, size)) {
        EXPECT_EQ(next, last);
        ++vcn;
        continue;
      }
      ASSERT_LE(vcn * cs + size, all.size());
      EXPECT_EQ(std::memcmp(buffer, all.data() + vcn * cs, size), 0) << "vcn " << vcn;
      delete[] buffer;
      records += static_cast<size_t>(size) / 4096;
      EXPECT_EQ(next, vcn + std::max<ulong64>(1, std::min<ulong64>(4096 / cs, last - vcn)));
      vcn = next;
    }
    EXPECT_EQ(records, all.size() / 4096);
    delete ntfs;
  }
}

// The $I30 $INDEX_ALLOCATION of a directory as icat reads it (the bytes as
// stored, sector tails holding the check value), with every record's
// update sequence undone here: the sectors 1 .. count - 1 of each record
// get back the words its array keeps for them, 512 bytes apart.
std::vector<byte> icat_index_allocation_fixed(const std::string& image, ulong64 dir, uint32 record_size) {
  const std::string report = quor_test::istat_report(image, dir);
  std::string raw;
  const std::string head = "$INDEX_ALLOCATION (160-";
  const size_t at = report.find(head);
  if (at == std::string::npos) return {};
  const std::string attribute = std::to_string(dir) + "-160-" + std::to_string(std::stoul(report.substr(at + head.size())));
  if (quor_test::run_command("icat '" + image + "' " + attribute, raw) != 0) return {};
  std::vector<byte> fixed(raw.begin(), raw.end());
  for (size_t r = 0; r + record_size <= fixed.size(); r += record_size) {
    byte* rec = &fixed[r];
    const uint32 usa = load_u16(rec + 4), count = load_u16(rec + 6);
    for (uint32 i = 1; i < count && usa + 2 * i + 2 <= record_size && i * 512 <= record_size; ++i)
      std::memcpy(rec + i * 512 - 2, rec + usa + 2 * i, 2);
  }
  return fixed;
}

// Both readers against icat, with the fixup applied here, on every cluster
// size The Sleuth Kit reads (512 bytes to 64 KiB), 4 KiB sectors, an index
// of several levels and one whose $INDEX_ROOT went to an extension record:
// the whole allocation, and each record read at its VCN.
TEST(IndexRecord, ReadersEqualIcatWithTheFixupAppliedHere) {
  if (!quor_test::have_program("icat") || !quor_test::have_program("istat")) GTEST_SKIP() << "icat not installed";
  const struct {
    const char* image;
    const char* dir;
  } dirs[] = {{"default", "/many"},   {"default", "/longnames"}, {"c512", "/dir500"},
              {"c64k", "/dir500"},    {"s4096", "/dir500"},      {"bigdir", "/d20000"}};
  for (const auto& d : dirs) {
    SCOPED_TRACE(std::string(d.image) + d.dir);
    const std::string image = quor_test::fixture(std::string(d.image) + ".img");
    auto engine = quor_test::open_engine_at(image);
    ASSERT_NE(engine, nullptr);
    const ulong64 dir = quor_test::listed_inode(d.image, d.dir);
    directory_index index;
    ASSERT_TRUE(read_directory_index(*engine, dir, index));
    ASSERT_EQ(index.record_size, 4096u);
    const std::vector<byte> want = icat_index_allocation_fixed(image, dir, index.record_size);
    ASSERT_GE(want.size(), 2u * index.record_size);
    std::vector<byte> all;
    ASSERT_TRUE(engine->read_index_allocation(all, index.runs));
    // The runs end on a cluster; icat ends at the data size.
    ASSERT_GE(all.size(), want.size());
    EXPECT_TRUE(std::equal(want.begin(), want.end(), all.begin()));

    lcn_run_list clusters;
    for (const data_run& r : index.runs)
      for (uint32 k = 0; k < r.num_clusters; ++k) clusters.emplace_back(r.lcn + k, r.vcn + k, r.sparse != 0);
    const ulong64 cs = engine->m_cluster_size;
    size_t records = 0;
    for (ulong64 vcn = 0, next = clusters.size(); vcn * cs < want.size(); next = clusters.size()) {
      byte* buffer = nullptr;
      int size = 0;
      ASSERT_TRUE(engine->read_and_fix_indexrecord(clusters, vcn, next, buffer, size)) << "vcn " << vcn;
      const size_t n = std::min<size_t>(static_cast<size_t>(size), want.size() - vcn * cs);
      EXPECT_EQ(std::memcmp(buffer, want.data() + vcn * cs, n), 0) << "vcn " << vcn;
      delete[] buffer;
      records += n / index.record_size;
      vcn = next;
    }
    EXPECT_EQ(records, want.size() / index.record_size);
  }
}

// An index record larger than 4 KiB is read whole, at the size its node
// header gives, each cluster from where the list maps it; one smaller than
// 4 KiB ends at its own last cluster. Either way the record after it starts
// at the next VCN. Records written by hand into the clusters of a file on a
// copy of the 512-byte-cluster volume, scattered.
TEST(IndexRecord, RecordOfItsAllocatedSizeFromScatteredClusters) {
  const std::vector<uint32> layouts[] = {{8192, 4096}, {2048, 1024, 4096}};
  for (const std::vector<uint32>& sizes : layouts) {
    const std::string copy = quor_test::copy_fixture("c512.img", "indx-" + std::to_string(sizes[0]) + ".img");
    ASSERT_FALSE(copy.empty());
    auto engine = quor_test::open_engine_at(copy);
    ASSERT_NE(engine, nullptr);
    const uint32 cs = engine->m_cluster_size;
    ASSERT_EQ(cs, 512u);
    std::vector<data_run> runs;
    byte* resident = nullptr;
    uint32 resident_size = 0;
    ASSERT_TRUE(engine->find_data_runs(quor_test::listed_inode("c512", "/nonres.bin"), runs, resident,
                                       resident_size, true));
    std::vector<ulong64> lcns;
    for (const data_run& r : runs)
      for (uint32 k = 0; k < r.num_clusters && !r.sparse; ++k) lcns.push_back(r.lcn + k);
    ASSERT_GE(lcns.size(), 48u);
    // Every other cluster of the file, from the end.
    std::vector<byte> plain, written;
    for (uint32 size : sizes) {
      std::vector<byte> rec(size);
      for (uint32 i = 0; i < size; ++i) rec[i] = static_cast<byte>((i * 7 + size / 512) % 251);
      std::memcpy(rec.data(), "INDX", 4);
      const uint32 count = size / 512 + 1;
      store_u16(&rec[4], 0x28);
      store_u16(&rec[6], static_cast<uint16>(count));
      store_u32(&rec[24 + 8], size - 24);  // allocated size of the node
      std::vector<byte> prot = rec;
      store_u16(&prot[0x28], 0x0505);
      for (uint32 i = 1; i < count; ++i) {
        std::memcpy(&prot[0x28 + 2 * i], &rec[i * 512 - 2], 2);
        store_u16(&prot[i * 512 - 2], 0x0505);
      }
      std::copy(prot.begin() + 0x28, prot.begin() + 0x28 + 2 * count, rec.begin() + 0x28);
      plain.insert(plain.end(), rec.begin(), rec.end());
      written.insert(written.end(), prot.begin(), prot.end());
    }
    lcn_run_list clusters;
    {
      std::fstream io(copy, std::ios::in | std::ios::out | std::ios::binary);
      for (size_t v = 0; v < written.size() / cs; ++v) {
        const ulong64 lcn = lcns[lcns.size() - 1 - 2 * v];
        clusters.emplace_back(lcn, v, false);
        io.seekp(static_cast<std::streamoff>(engine->m_volume_offset + lcn * cs));
        io.write(reinterpret_cast<const char*>(&written[v * cs]), cs);
      }
      ASSERT_TRUE(io.flush());
    }
    ulong64 vcn = 0;
    size_t at = 0;
    for (uint32 size : sizes) {
      ulong64 next = clusters.size();
      byte* buffer = nullptr;
      int got = 0;
      ASSERT_TRUE(engine->read_and_fix_indexrecord(clusters, vcn, next, buffer, got)) << size;
      // A short record comes in a buffer of at least 4 KiB.
      ASSERT_EQ(got, static_cast<int>(std::max<uint32>(size, 4096)));
      EXPECT_EQ(std::memcmp(buffer, &plain[at], size), 0) << size;
      delete[] buffer;
      EXPECT_EQ(next, vcn + size / cs) << size;
      vcn = next;
      at += size;
    }
    if (sizes[0] <= 4096) continue;
    // An allocated size beyond any index record is damage, not a record.
    store_u32(&written[32], 0x7FFFFFF0);
    {
      std::fstream io(copy, std::ios::in | std::ios::out | std::ios::binary);
      io.seekp(static_cast<std::streamoff>(engine->m_volume_offset + clusters[0].lcn * cs));
      io.write(reinterpret_cast<const char*>(written.data()), cs);
    }
    ulong64 next = clusters.size();
    byte* buffer = reinterpret_cast<byte*>(&next);
    int got = 0;
    EXPECT_FALSE(engine->read_and_fix_indexrecord(clusters, 0, next, buffer, got));
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(next, clusters.size());
  }
}
