// Record queries, write-back and the free-entry scan on the kit's volumes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "tests/support/record_builder.h"
#include "tests/support/fixture.h"
#include "tests/support/slack_oracle.h"
#include "utils/byte_order.h"

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

std::vector<byte> image_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<byte>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool same_bytes(const byte* got, const std::vector<byte>& image, ulong64 at, size_t n) {
  return got && at + n <= image.size() && std::equal(got, got + n, image.begin() + at);
}

// The report of the cluster that holds an entry's record, from its rules:
// B bytes a sector, clusters of K bytes, the partition at S.
std::string lcn_report(ulong64 inode, ulong64 lcn, ulong64 within, ulong64 b, ulong64 k, ulong64 s) {
  const ulong64 p = lcn * k + within;
  std::ostringstream o;
  o << std::hex << "inode: 0x" << inode << " (" << std::dec << inode << "),  LCN: 0x" << std::hex << lcn << " ("
    << std::dec << lcn << "),  byte offset w/i lcn: 0x" << std::hex << within << " (" << std::dec << within << ")\n"
    << std::hex << "start of partition:         0x" << s << " bytes [0x" << s / b << " sectors]\n"
    << "inode offset w/i partition: 0x" << p << " bytes [0x" << p / b << " sectors]\n"
    << "inode offset w/i drive:     0x" << p + s << " bytes [0x" << (p + s) / b << " sectors]\n"
    << "To compute LCN to byte offset w/i partition, use:  LCN * 0x" << k << "\n"
    << "To compute LCN to byte offset w/i drive, use:     (LCN * 0x" << k << ") + 0x" << s << "\n";
  return o.str();
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
  // The vector reader's flag says nothing of the fixup: a read that succeeds
  // clears it, torn record or not; the engine tells of the tear.
  std::vector<byte> rec;
  bool flag = true;
  ASSERT_TRUE(engine->read_mft_record_to_vector(rec, flag, inode));
  EXPECT_FALSE(flag);
  EXPECT_TRUE(engine->last_record_torn());
  flag = true;
  ASSERT_TRUE(engine->read_mft_record_to_vector(rec, flag, 5));
  EXPECT_FALSE(flag);
  EXPECT_FALSE(engine->last_record_torn());
  delete engine;
}

// An image that ends inside a record: the record is read as far as it goes,
// its size the bytes there, each sector read whole fixed up as in a whole
// record and the rest left as read, from the volume as from an extracted
// $MFT. With half-kibibyte clusters the record's second cluster is the one
// missing; in names4k's 4 KiB record of \three, cut 8 bytes short, the
// index root's names cross seven sector ends. A record wholly past the end
// does not read.
TEST(RecordReads, RecordCutShortByTheEndOfTheImage) {
  const bool have_icat = quor_test::have_program("icat");
  const struct {
    const char* name;
    ulong64 inode;
    uint32 got;  // bytes of the record the cut image keeps
  } cases[] = {{"default", 64, 512}, {"c512", 64, 512}, {"names4k", 67, 4096 - 8}};
  for (const auto& c : cases) {
    const std::string name = c.name;
    SCOPED_TRACE(name);
    const std::string path = quor_test::copy_fixture(name + ".img", name + "-cut.img");
    ASSERT_FALSE(path.empty());
    ulong64 at = 0;
    uint32 record_size = 0;
    {
      CNtfs* whole = nullptr;
      ASSERT_TRUE(open_ntfs_image(path.c_str(), 0, whole, false, false));
      at = whole->get_inode_file_pos(c.inode);
      record_size = whole->m_mft_record_size;
      delete whole;
    }
    ASSERT_NE(at, 0u);
    ASSERT_LT(c.got, record_size);
    // The record as the whole image holds it, fixed up by the oracle.
    std::vector<byte> fixed = image_bytes(path);
    ASSERT_GE(fixed.size(), at + record_size);
    fixed.erase(fixed.begin(), fixed.begin() + static_cast<std::ptrdiff_t>(at));
    fixed.resize(record_size);
    const std::vector<byte> raw = fixed;
    quor_test::undo_update_sequence(fixed.data(), record_size);
    ASSERT_NE(fixed, raw);
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(at + c.got)), 0);
    const std::string mft = quor_test::scratch_dir() + "/" + name + "-cut.mft";
    if (have_icat) {
      // icat copies the $MFT as stored; ntfscat's copy comes fixed up.
      std::string out;
      ASSERT_EQ(quor_test::run_command("icat '" + quor_test::fixture(name + ".img") + "' 0 > '" + mft + "'", out), 0);
      ASSERT_EQ(::truncate(mft.c_str(), static_cast<off_t>(c.inode * record_size + c.got)), 0);
    }
    CNtfs* volume = nullptr;
    ASSERT_TRUE(open_ntfs_image(path.c_str(), 0, volume, false, false));
    std::unique_ptr<CNtfs> volume_owner(volume);
    CNtfs* extracted = nullptr;
    if (have_icat) {
      ASSERT_TRUE(open_ntfs_mft_file(mft.c_str(), extracted));
    }
    std::unique_ptr<CNtfs> extracted_owner(extracted);
    for (CNtfs* engine : {volume, extracted}) {
      if (!engine) continue;
      const bool from_volume = engine == volume;
      SCOPED_TRACE(from_volume ? "volume" : "extracted $MFT");
      const ulong64 record_at = from_volume ? at : c.inode * record_size;
      // Read in order too, as a scan reads, through the read-ahead.
      for (ulong64 inode = c.inode - 4; inode < c.inode; ++inode) {
        std::vector<byte> rec;
        bool torn = false;
        ASSERT_TRUE(engine->read_mft_record_to_vector(rec, torn, inode)) << inode;
        EXPECT_EQ(rec.size(), record_size) << inode;
      }
      byte* rec = nullptr;
      ulong64 pos = 0;
      int size = 0;
      ASSERT_TRUE(engine->read_mft_record(c.inode, rec, pos, size, true));
      EXPECT_EQ(size, static_cast<int>(c.got));
      EXPECT_EQ(pos, record_at);
      EXPECT_TRUE(same_bytes(rec, fixed, 0, c.got));
      EXPECT_FALSE(engine->last_record_torn());
      delete[] rec;
      std::vector<byte> room(record_size, 0xEE);
      byte* buf = room.data();
      size = static_cast<int>(record_size);
      ASSERT_TRUE(engine->read_mft_record(c.inode, buf, pos, size, false));
      EXPECT_EQ(size, static_cast<int>(c.got));
      EXPECT_TRUE(same_bytes(buf, fixed, 0, c.got));
      EXPECT_TRUE(std::all_of(room.begin() + c.got, room.end(), [](byte b) { return b == 0; }));
      std::vector<byte> vec;
      bool torn = true;
      ASSERT_TRUE(engine->read_mft_record_to_vector(vec, torn, c.inode));
      EXPECT_EQ(vec.size(), c.got);
      EXPECT_TRUE(same_bytes(vec.data(), fixed, 0, c.got));
      EXPECT_FALSE(engine->last_record_torn());
      rec = reinterpret_cast<byte*>(0x1);
      EXPECT_FALSE(engine->read_mft_record(c.inode + 1, rec, pos, size, true));
      EXPECT_EQ(rec, nullptr);
    }
  }
}

// Clusters, and the cluster from a record's position on, as the image holds
// them (no fixup): 4 KiB clusters, 1 KiB records, entry 5 in the $MFT's
// second cluster at 1 KiB.
TEST(RecordReads, ClustersAndRecordClustersAreTheImageBytes) {
  const std::string img = quor_test::fixture("default.img");
  ASSERT_FALSE(img.empty());
  const std::vector<byte> image = image_bytes(img);
  CNtfs* engine = nullptr;
  ASSERT_TRUE(open_ntfs_image(img.c_str(), 0, engine, false, false));
  std::unique_ptr<CNtfs> owner(engine);
  const ulong64 cs = 4096;
  ASSERT_EQ(engine->m_cluster_size, cs);
  const ulong64 mft = load_u64(&image[48]);
  const ulong64 beyond = image.size() / cs;
  const struct {
    ulong64 lcn;
    int size;
    bool ok;
  } whole[] = {{mft, 8192, true}, {0, 4096, true}, {mft, 4095, false}, {mft, 0, false}, {beyond, 4096, false}};
  for (const auto& c : whole) {
    std::vector<byte> a(c.size > 0 ? c.size : 1), b(a.size());
    int na = c.size;
    uint32 nb = static_cast<uint32>(c.size);
    EXPECT_EQ(engine->read_lcn(c.lcn, static_cast<void*>(a.data()), na), c.ok) << c.lcn << " " << c.size;
    EXPECT_EQ(engine->read_lcn(c.lcn, b.data(), nb), c.ok) << c.lcn << " " << c.size;
    if (!c.ok) continue;
    EXPECT_EQ(na, c.size);
    EXPECT_EQ(nb, static_cast<uint32>(c.size));
    EXPECT_TRUE(same_bytes(a.data(), image, c.lcn * cs, c.size)) << c.lcn;
    EXPECT_TRUE(same_bytes(b.data(), image, c.lcn * cs, c.size)) << c.lcn;
  }
  // Fewer bytes than a cluster are raised to one.
  const struct {
    ulong64 lcn;
    int size, got;
  } some[] = {{mft, 10, 4096}, {mft + 1, 3 * 4096 + 1, 3 * 4096 + 1}, {beyond - 1, 3 * 4096, 4096}};
  for (const auto& c : some) {
    byte* buf = nullptr;
    int size = c.size;
    ulong64 pos = 1;
    ASSERT_TRUE(engine->read_clusters(c.lcn, buf, size, pos)) << c.lcn;
    EXPECT_EQ(pos, c.lcn * cs);
    EXPECT_EQ(size, c.got);
    EXPECT_TRUE(same_bytes(buf, image, pos, c.got)) << c.lcn;
    delete[] buf;
  }
  const struct {
    ulong64 inode, lcn, pos;
  } records[] = {{0, mft, mft * cs}, {5, mft + 1, (mft + 1) * cs + 1024}};
  for (const auto& r : records) {
    byte* buf = nullptr;
    int size = 0;
    ulong64 lcn = 0, pos = 0;
    ASSERT_TRUE(engine->read_record_cluster(r.inode, buf, size, lcn, pos)) << r.inode;
    EXPECT_EQ(lcn, r.lcn);
    EXPECT_EQ(pos, r.pos);
    EXPECT_EQ(size, 4096);
    EXPECT_TRUE(same_bytes(buf, image, pos, 4096)) << r.inode;
    delete[] buf;
  }
  // Nothing without a validated volume, nor for an entry beyond the $MFT.
  CNtfs none;
  byte* buf = reinterpret_cast<byte*>(&none);
  int size = 4096;
  ulong64 lcn = 0, pos = 0;
  std::vector<byte> room(4096);
  uint32 len = 4096;
  EXPECT_FALSE(none.read_lcn(0, room.data(), len));
  EXPECT_FALSE(none.read_clusters(0, buf, size, pos));
  EXPECT_EQ(buf, nullptr);
  EXPECT_FALSE(none.read_record_cluster(0, buf, size, lcn, pos));
  EXPECT_FALSE(engine->read_record_cluster(engine->get_inode_count() + 100, buf, size, lcn, pos));
  EXPECT_EQ(buf, nullptr);
}

TEST(RecordQueries, LcnReportOfAnEntry) {
  const std::string img = quor_test::fixture("default.img");
  const std::string base = quor_test::fixture("vmdk-base.vmdk");
  ASSERT_FALSE(img.empty() || base.empty());
  CNtfs* plain = nullptr;
  CNtfs* chain = nullptr;
  ASSERT_TRUE(open_ntfs_image(img.c_str(), 0, plain, false, false));
  ASSERT_TRUE(open_ntfs_vmdk_chain(std::vector<std::wstring>{std::wstring(base.begin(), base.end())}, 0, chain, false));
  std::unique_ptr<CNtfs> own_plain(plain), own_chain(chain);
  CNtfs none;
  const ulong64 mft = load_u64(&image_bytes(img)[48]);
  const ulong64 chain_mft = chain->get_mft_lcn();
  const ulong64 chain_cs = chain->m_cluster_size;
  const struct {
    const char* what;
    CNtfs* engine;
    ulong64 inode;
    long64 lcn;
    std::string report;
  } cases[] = {
      {"entry 0", plain, 0, static_cast<long64>(mft), lcn_report(0, mft, 0, 512, 4096, 0)},
      {"entry 5", plain, 5, static_cast<long64>(mft + 1), lcn_report(5, mft + 1, 1024, 512, 4096, 0)},
      {"entry 5 of the chain", chain, 5, static_cast<long64>(chain_mft + 5 * 1024 / chain_cs),
       lcn_report(5, chain_mft + 5 * 1024 / chain_cs, 5 * 1024 % chain_cs, 512, chain_cs, 0x100000)},
      {"beyond the $MFT", plain, plain->get_inode_count() + 100, -1, "prob calling get_lcn_for_inode\n"},
      {"no volume", &none, 0, -1, "prob calling get_lcn_for_inode\n"},
  };
  for (const auto& c : cases) {
    std::ostringstream out;
    EXPECT_EQ(c.engine->get_lcn_for_inode(c.inode, out), c.lcn) << c.what;
    EXPECT_EQ(out.str(), c.report) << c.what;
  }
}

// Rewriting a record puts back what was read, protected again with the next
// check value: only the check value and the sector tails change on disk.
TEST(RecordWrite, RewrittenRecordsReadTheSame) {
  const std::string path = quor_test::copy_fixture("default.img", "rewrite.img");
  ASSERT_FALSE(path.empty());
  const ulong64 small = listing_inodes("default.listing").at("/small.txt");
  CNtfs* ro = nullptr;
  ASSERT_TRUE(open_ntfs_image(path.c_str(), 0, ro, false, false));
  EXPECT_FALSE(ro->rewrite_mft_record(small));
  delete ro;
  CNtfs* engine = nullptr;
  ASSERT_TRUE(open_ntfs_image(path.c_str(), 0, engine, true, false));
  std::unique_ptr<CNtfs> owner(engine);
  EXPECT_FALSE(engine->rewrite_mft_record(engine->get_inode_count() + 100));
  for (ulong64 inode : {ulong64(0), ulong64(5), small}) {
    std::vector<byte> before_rec, after_rec;
    bool torn = true;
    ASSERT_TRUE(engine->read_mft_record_to_vector(before_rec, torn, inode));
    const ulong64 pos = engine->get_inode_file_pos(inode);
    std::vector<byte> want = image_bytes(path);
    const uint32 usa = load_u16(&want[pos + FRH_USA_OFFSET]);
    const uint16 check = static_cast<uint16>(load_u16(&want[pos + usa]) + 1);
    for (ulong64 at : {pos + usa, pos + 510, pos + 1022}) store_u16(&want[at], check);
    ASSERT_TRUE(engine->rewrite_mft_record(inode)) << inode;
    EXPECT_TRUE(image_bytes(path) == want) << inode;
    ASSERT_TRUE(engine->read_mft_record_to_vector(after_rec, torn, inode));
    EXPECT_FALSE(torn);
    store_u16(&before_rec[usa], check);  // the array keeps its new check value
    EXPECT_TRUE(after_rec == before_rec) << inode;
  }
}
