// The MFT entries the $MFT bitmap marks free, gathered whole, against The
// Sleuth Kit: ils -e marks the unallocated entries, fls -d the names of deleted
// files whose entries were not reused.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "ntfs/entry_info.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "tests/app/mft_runs_rewrite.h"
#include "tests/support/engine.h"
#include "tests/support/fixture.h"
#include "tests/support/listing.h"
#include "utils/utf_convert.h"

namespace {

std::set<ulong64> ils_free(const std::string& image) {
  std::set<ulong64> out;
  std::string text;
  if (quor_test::run_command("ils -e '" + image + "'", text) != 0) return out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const size_t bar = line.find('|');
    if (bar == std::string::npos || line.compare(bar, 3, "|f|") != 0) continue;
    out.insert(std::stoull(line.substr(0, bar)));
  }
  return out;
}

// Entry -> the leaf names fls -d gives it (reused entries and the virtual
// orphan folder left out).
std::map<ulong64, std::set<std::string>> fls_deleted(const std::string& image) {
  std::map<ulong64, std::set<std::string>> out;
  const std::string file = quor_test::scratch_dir() + "/unused.fls";
  std::string ignored;
  quor_test::run_command("fls -r -p -d '" + image + "' | grep -v '(realloc)' > '" + file + "'", ignored);
  for (const quor_test::fls_line& f : quor_test::read_fls(file)) {
    if (f.path.find("$OrphanFiles") != std::string::npos || f.path.find(':') != std::string::npos) continue;
    out[f.inode].insert(f.path.substr(f.path.rfind('/') + 1));
  }
  return out;
}

std::map<ulong64, std::set<std::string>> named(const std::map<ulong64, inode_info>& entries) {
  std::map<ulong64, std::set<std::string>> out;
  for (const auto& kv : entries)
    for (const file_name_info& n : kv.second.names) out[kv.first].insert(wstring_to_utf8(n.name));
  return out;
}

}  // namespace

TEST(UnusedEntries, FreeEntriesAndTheirNamesAsTheSleuthKitSeesThem) {
  if (!quor_test::have_program("ils") || !quor_test::have_program("fls")) GTEST_SKIP() << "The Sleuth Kit absent";
  const struct {
    std::string image;
    bool deleted;   // the volume had files deleted
    bool optional;  // the shared volumes may be absent
  } volumes[] = {{quor_test::fixture("default.img"), true, false},
                 {quor_test::fixture("streams.img"), false, false},
                 {quor_test::shared_testdata("ntfs3.raw"), false, true}};
  for (const auto& v : volumes) {
    ASSERT_TRUE(!v.image.empty() || v.optional);
    if (v.image.empty()) continue;
    SCOPED_TRACE(v.image);
    auto engine = quor_test::open_engine_at(v.image);
    ASSERT_NE(engine, nullptr);
    std::map<ulong64, inode_info> out;
    ASSERT_TRUE(engine->collect_unused_entries(out));
    std::set<ulong64> keys;
    for (const auto& kv : out) {
      keys.insert(kv.first);
      EXPECT_EQ(kv.second.inode, kv.first);
      EXPECT_TRUE(kv.second.is_deleted) << kv.first;
    }
    EXPECT_EQ(keys, ils_free(v.image));
    const auto names = named(out);
    const auto fls = fls_deleted(v.image);
    EXPECT_EQ(names, fls);
    EXPECT_EQ(names.empty(), !v.deleted);
  }
}

// The end of the image cuts free entry 255 of default.img 200 bytes in,
// through its one $FILE_NAME (at record offset 0x80, 0x1F0 bytes long, as
// the whole record shows): the free entries before it are gathered as The
// Sleuth Kit sees them in the whole image (the first deleted file's is the
// first free entry with a name), the cut one without a name, and none past
// the end.
TEST(UnusedEntries, FreeRecordCutByTheEndOfTheImage) {
  if (!quor_test::have_program("ils") || !quor_test::have_program("fls")) GTEST_SKIP() << "The Sleuth Kit absent";
  const std::string image = quor_test::fixture("default.img");
  const ulong64 cut_entry = 255;
  const uint32 kept = 200;
  std::vector<byte> record;
  {
    auto whole = quor_test::open_engine_at(image);
    ASSERT_NE(whole, nullptr);
    ASSERT_EQ(whole->get_inode_file_pos(cut_entry), 4 * 4096 + cut_entry * 1024);
    bool torn = false;
    ASSERT_TRUE(whole->read_mft_record_to_vector(record, torn, cut_entry));
  }
  ASSERT_EQ(load_u32(record.data(), 0x80), ATTR_FILE_NAME);
  ASSERT_EQ(load_u32(record.data(), 0x80 + AH_LENGTH), 0x1F0u);
  const std::string copy = quor_test::copy_fixture("default.img", "unused-cut.img");
  ASSERT_FALSE(copy.empty());
  ASSERT_EQ(::truncate(copy.c_str(), static_cast<off_t>(4 * 4096 + cut_entry * 1024 + kept)), 0);

  std::set<ulong64> keys_expected;
  for (ulong64 e : ils_free(image))
    if (e <= cut_entry) keys_expected.insert(e);
  ASSERT_EQ(keys_expected.count(cut_entry), 1u);
  std::map<ulong64, std::set<std::string>> names_expected = fls_deleted(image);
  ASSERT_EQ(names_expected.count(cut_entry), 1u);
  names_expected.erase(names_expected.lower_bound(cut_entry), names_expected.end());

  auto engine = quor_test::open_engine_at(copy);
  ASSERT_NE(engine, nullptr);
  std::map<ulong64, inode_info> out;
  ASSERT_TRUE(engine->collect_unused_entries(out));
  std::set<ulong64> keys;
  for (const auto& kv : out) keys.insert(kv.first);
  EXPECT_EQ(keys, keys_expected);
  EXPECT_EQ(named(out), names_expected);
  ASSERT_EQ(out.count(cut_entry), 1u);
  EXPECT_TRUE(out.at(cut_entry).is_deleted);
  EXPECT_TRUE(out.at(cut_entry).names.empty());
}

// default.img whose boot sector claims 2^40 sectors and whose $MFT's own
// runs lie elsewhere or claim four billion clusters more (the claims of
// mft_claims_past_default_img). Entries are counted through every run, as
// far as the last cluster the image holds and no further than it has room
// for, so no more entries are tried than that; an entry whose clusters it
// does not hold is missing, and the free entries gathered are the sound
// volume's less those.
TEST(UnusedEntries, MftRunsAndBootSectorClaimingMoreThanTheImage) {
  std::map<ulong64, inode_info> sound;
  std::vector<std::pair<ulong64, ulong64>> real;
  ulong64 mft_pos = 0;
  {
    auto engine = quor_test::open_engine("default.img");
    ASSERT_NE(engine, nullptr);
    ASSERT_TRUE(engine->collect_unused_entries(sound));
    for (const run_record& r : engine->m_mft_stats.data_runs) real.emplace_back(r.num_clusters, r.lcn);
    mft_pos = engine->m_mft_file_pos;
    ASSERT_EQ(engine->m_cluster_size, 4096u);
  }
  ASSERT_EQ(real.size(), 2u);
  ASSERT_GT(sound.size(), 100u);
  int n = 0;
  for (const quor_test::mft_claim& c : quor_test::mft_claims_past_default_img(real)) {
    SCOPED_TRACE(c.what);
    ulong64 clusters = 0;
    const std::string copy =
        quor_test::copy_with_mft_claim("mft-claims-" + std::to_string(n++) + ".img", mft_pos, c, clusters);
    ASSERT_FALSE(copy.empty());
    auto engine = quor_test::open_engine_at(copy);
    ASSERT_NE(engine, nullptr);
    ASSERT_EQ(engine->get_inode_count(), c.entries);
    std::map<ulong64, inode_info> out;
    ASSERT_TRUE(engine->collect_unused_entries(out));
    std::map<ulong64, inode_info> held = sound;
    held.erase(held.lower_bound(c.missing.first), held.lower_bound(c.missing.second));
    // A stretch of missing entries inside the sound $MFT holds free ones.
    if (c.missing.first != c.missing.second && c.missing.second != ~0ull) {
      ASSERT_LT(held.size(), sound.size());
    }
    std::set<ulong64> keys, held_keys;
    for (const auto& kv : out) keys.insert(kv.first);
    for (const auto& kv : held) held_keys.insert(kv.first);
    EXPECT_EQ(keys, held_keys);
    EXPECT_EQ(named(out), named(held));
  }
}

TEST(UnusedEntries, KeptKeysFullBitmapAndBrokenAttributes) {
  const std::string copy = quor_test::copy_fixture("default.img", "unused-full.img");
  ASSERT_FALSE(copy.empty());
  const ulong64 freed = 564;  // /del-root-1.txt, deleted and not reused
  {
    auto engine = quor_test::open_engine_at(copy);
    ASSERT_NE(engine, nullptr);
    std::map<ulong64, inode_info> out;
    out[freed].inode = 99999;  // a key the caller already holds keeps its value
    ASSERT_TRUE(engine->collect_unused_entries(out));
    EXPECT_EQ(out.at(freed).inode, 99999u);
    EXPECT_GT(out.size(), 1u);

    // Record 0 without a $BITMAP, or with one whose runs do not decode.
    const uint32 size = engine->m_mft_record_alloc_size;
    const byte* bitmap = nullptr;
    ASSERT_TRUE(find_attribute(engine->m_mft_record0, size, ATTR_BITMAP, bitmap));
    byte* attr = engine->m_mft_record0 + (bitmap - engine->m_mft_record0);
    ASSERT_EQ(attr[AH_NON_RESIDENT], 1);
    byte* pairs = attr + load_u16(attr + AH_MAPPING_PAIRS);
    const byte header = pairs[0];
    pairs[0] = 0x19;  // nine length bytes: no run
    out.clear();
    EXPECT_FALSE(engine->collect_unused_entries(out));
    pairs[0] = header;
    store_u32(attr + AH_TYPE, ATTR_REPARSE_POINT);
    EXPECT_FALSE(engine->collect_unused_entries(out));
    EXPECT_TRUE(out.empty());
    store_u32(attr + AH_TYPE, ATTR_BITMAP);

    // Every bit set on disk: every entry in use.
    ASSERT_FALSE(engine->m_mft_stats.bitmap_runs.empty());
    std::fstream io(copy, std::ios::in | std::ios::out | std::ios::binary);
    for (const run_record& r : engine->m_mft_stats.bitmap_runs) {
      ASSERT_FALSE(r.resident);
      io.seekp(static_cast<std::streamoff>(engine->m_volume_offset + r.lcn * engine->m_cluster_size));
      const std::string ones(static_cast<size_t>(r.num_clusters) * engine->m_cluster_size, '\xFF');
      io.write(ones.data(), static_cast<std::streamsize>(ones.size()));
    }
    ASSERT_TRUE(io.flush());
  }
  auto engine = quor_test::open_engine_at(copy);
  ASSERT_NE(engine, nullptr);
  std::map<ulong64, inode_info> out;
  EXPECT_TRUE(engine->collect_unused_entries(out));
  EXPECT_TRUE(out.empty());
}
