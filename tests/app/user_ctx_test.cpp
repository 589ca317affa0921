#include "app/user_ctx.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <fstream>
#include <vector>

#include "app/evidence_guard.h"
#include "app/source_open.h"
#include "ntfs/ntfs.h"
#include "tests/support/fixture.h"
#include "utils/byte_order.h"
#include "utils/utf_convert.h"

namespace {

// A context without a source neither reads nor closes anything.
TEST(UserCtx, NoSourceNoRecords) {
  user_ctx c;
  EXPECT_FALSE(c.source_ready());
  std::vector<byte> out{1, 2};
  EXPECT_FALSE(c.read_mft_entry(out, 0));
  EXPECT_TRUE(out.empty());
  c.close_source();
  EXPECT_FALSE(c.is_open);
}

// An extracted $MFT file of `records` records of `size` bytes, each
// starting with its own index; record 0 carries the update-sequence count.
std::string write_mft_file(const std::string& name, uint16 count, uint32 size, int records) {
  std::vector<byte> data(static_cast<size_t>(size) * records, 0);
  for (int i = 0; i < records; ++i) {
    std::memcpy(&data[static_cast<size_t>(i) * size], "FILE", 4);
    data[static_cast<size_t>(i) * size + 8] = static_cast<byte>(0xA0 + i);
  }
  store_u16(&data[6], count);
  const std::string path = quor_test::scratch_dir() + "/" + name;
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                              static_cast<std::streamsize>(data.size()));
  return path;
}

TEST(UserCtx, ExtractedMftFileRecordSizeIsLearntFromRecordZero) {
  struct mft_case {
    uint16 count;
    uint32 file_record;  // size the file is laid out in
    uint32 learnt;       // record size used afterwards
  } cases[] = {{9, 4096, 4096}, {3, 1024, 1024}, {0, 1024, 1024}};
  for (const mft_case& m : cases) {
    const std::string path =
        write_mft_file("mft-" + std::to_string(m.count) + ".bin", m.count, m.file_record, 3);
    user_ctx ctx;
    ctx.mftfile = utf8_to_wstring(path);
    ASSERT_TRUE(initialize_mft(ctx));
    // Three records, whatever their size: the count judges impossible references.
    EXPECT_EQ(ctx.mft_entry_count, 3u) << m.count;
    std::vector<byte> rec;
    ASSERT_TRUE(ctx.read_mft_entry(rec, 1)) << m.count;
    ASSERT_EQ(rec.size(), m.learnt);
    EXPECT_EQ(rec[8], 0xA1) << m.count;
    EXPECT_FALSE(ctx.read_mft_entry(rec, 3)) << "past the end";
  }
}

TEST(UserCtx, AdoptsOnlyValidatedEnginesAndFreesOnlyOwnedOnes) {
  const std::string img = quor_test::fixture("default.img");
  if (img.empty()) GTEST_SKIP() << "default.img fixture absent";
  CNtfs* engine = nullptr;
  ASSERT_TRUE(open_ntfs_image(img.c_str(), 0, engine, false, false));
  {
    user_ctx borrowed(engine, false);
    EXPECT_TRUE(borrowed.is_open);
    EXPECT_EQ(borrowed.ntfs, engine);
  }
  // Still usable: the borrowing context left it alive.
  EXPECT_TRUE(engine->is_validated());
  user_ctx owner(engine, true);
  EXPECT_TRUE(owner.is_open);
  owner.close_source();
  EXPECT_FALSE(owner.is_open);
  EXPECT_EQ(owner.ntfs, nullptr);

  user_ctx refused(static_cast<CNtfs*>(nullptr), true);
  EXPECT_FALSE(refused.is_open);
}

TEST(UserCtx, FilteringIsOnWhenAnyRecordFilterIsGiven) {
  const struct {
    void (*set)(user_ctx&);
    bool on;
  } cases[] = {{[](user_ctx&) {}, false},
               {[](user_ctx& c) { c.filter_deleted_files = true; }, true},
               {[](user_ctx& c) { c.filter_ext = L"txt"; }, true},
               {[](user_ctx& c) { c.filter_name = L"a"; }, true},
               {[](user_ctx& c) { c.filter_start_time = 1; }, true},
               {[](user_ctx& c) { c.filter_stop_time = 1; }, true}};
  for (const auto& c : cases) {
    user_ctx ctx;
    ctx.filters_active = !c.on;  // the old value must not survive
    c.set(ctx);
    EXPECT_EQ(ctx.update_filtering(), c.on);
    EXPECT_EQ(ctx.filters_active, c.on);
  }
}

// The copy folder a run made is the context's own, unlike its sources: back
// to the defaults, its descriptor is closed and no longer held.
TEST(UserCtx, SetDefaultsClosesTheCopyFolder) {
  user_ctx c;
  c.copy_files = true;
  c.copy_dir = utf8_to_wstring(quor_test::scratch_dir() + "/copies-to-forget");
  ASSERT_EQ(make_copy_folder(c), 0);
  const int fd = c.copy_dir_fd;
  ASSERT_GE(fd, 0);
  struct stat st {};
  ASSERT_EQ(::fstat(fd, &st), 0);
  ASSERT_TRUE(S_ISDIR(st.st_mode));
  c.set_defaults();
  EXPECT_EQ(c.copy_dir_fd, -1);
  errno = 0;
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
  EXPECT_EQ(errno, EBADF);
}

// Back to the defaults after a run has changed the context, without touching
// the source pointers' targets (the caller owns what they pointed to).
TEST(UserCtx, SetDefaultsAndClearCopyResult) {
  user_ctx c;
  c.csv = c.bodyfile = c.csvl2t = c.hide_dos_fntimes = c.include_header = c.filters_active = true;
  c.hex_sizes = c.header_pending = c.verbose = c.omit_clusterinfo = c.note_time_sources = c.copy_md5 = false;
  c.valid = false;
  c.filter_deleted_files = c.copy_files = c.raw = c.all_streams = c.named_streams = c.record_size_known = true;
  c.is_open = c.rawfile = c.slack = c.all = c.nodups = c.unnamed_stream = true;
  c.out_file = c.mftfile = c.image = c.resolved_image = c.partition = c.filter_ext = c.filter_name = L"x";
  c.path_w = c.copy_dir = c.copy_dest = c.source_desc = c.cmdline = c.csv_separator = L"x";
  c.path = c.indxfile = c.username = c.hostname = c.tool_name = "x";
  c.vmdk_files.push_back(L"a.vmdk");
  c.mft_entry_count = c.mft_start = c.mft_count = c.mft_pos = c.volume_offset = c.header_offset = 5;
  c.filter_start_time = c.filter_stop_time = c.future_limit = 5;
  c.header_length = 5;
  c.owns_ntfs = false;
  c.drivenum = 2;
  c.level = 3;
  c.record_size = 4096;
  c.sector_size = 4096;
  c.copy_digest[15] = 0xAB;
  c.set_defaults();
  EXPECT_FALSE(c.csv || c.bodyfile || c.csvl2t || c.hide_dos_fntimes || c.include_header || c.filters_active);
  EXPECT_TRUE(c.hex_sizes && c.header_pending && c.verbose && c.omit_clusterinfo && c.note_time_sources);
  EXPECT_TRUE(c.copy_md5 && c.valid && c.owns_ntfs);
  EXPECT_FALSE(c.filter_deleted_files || c.copy_files || c.raw || c.all_streams || c.named_streams);
  EXPECT_FALSE(c.record_size_known || c.is_open || c.rawfile || c.slack || c.all || c.nodups || c.unnamed_stream);
  for (const std::wstring* w : {&c.out_file, &c.mftfile, &c.image, &c.resolved_image, &c.partition, &c.filter_ext,
                                &c.filter_name, &c.path_w, &c.copy_dir, &c.copy_dest, &c.source_desc, &c.cmdline})
    EXPECT_TRUE(w->empty());
  for (const std::string* n : {&c.path, &c.indxfile, &c.username, &c.hostname, &c.tool_name}) EXPECT_TRUE(n->empty());
  EXPECT_EQ(c.csv_separator, L",");
  EXPECT_TRUE(c.vmdk_files.empty());
  for (ulong64 v : {c.mft_entry_count, c.mft_start, c.mft_count, c.mft_pos, c.volume_offset, c.header_offset,
                    c.filter_start_time, c.filter_stop_time, c.future_limit})
    EXPECT_EQ(v, 0u);
  EXPECT_EQ(c.header_length, 0u);
  EXPECT_EQ(c.drivenum, -1);
  EXPECT_EQ(c.level, 0);
  EXPECT_EQ(c.record_size, 1024u);
  EXPECT_EQ(c.sector_size, 512u);
  EXPECT_EQ(c.mft_reader, nullptr);
  EXPECT_EQ(c.ntfs, nullptr);
  EXPECT_EQ(c.copy_digest[15], 0);

  c.copy_md5 = false;
  c.copy_dest = L"/tmp/copy";
  std::memset(c.copy_digest, 0x5A, sizeof c.copy_digest);
  c.clear_copy_result();
  EXPECT_TRUE(c.copy_dest.empty());
  EXPECT_EQ(std::count(std::begin(c.copy_digest), std::end(c.copy_digest), 0), 16);
  EXPECT_FALSE(c.copy_md5);  // only the last copy's result is forgotten
}

}  // namespace
