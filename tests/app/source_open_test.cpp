#include "app/source_open.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <set>
#include <string>

#include "app/dir_tree.h"
#include "app/record_reader.h"
#include "ntfs/ntfs.h"
#include "tests/support/fixture.h"
#include "tests/support/listing.h"
#include "utils/utf_convert.h"

namespace {

std::wstring scratch_file(const std::string& name, size_t size) {
  const std::string path = quor_test::scratch_dir() + "/" + name;
  std::ofstream out(path, std::ios::binary);
  out << std::string(size, '\0');
  return utf8_to_wstring(path);
}

TEST(InitializeMft, ExtractedMftFileCountsWholeKilobytesAndWinsOverAnImage) {
  struct size_case {
    size_t bytes;
    ulong64 entries;
  } cases[] = {{1048576, 1024}, {1000, 0}, {4096 + 1000, 4}};
  for (const size_case& s : cases) {
    user_ctx ctx;
    ctx.mftfile = scratch_file("mft-" + std::to_string(s.bytes), s.bytes);
    ctx.image = L"/nonexistent/image.dd";
    ASSERT_TRUE(initialize_mft(ctx));
    EXPECT_TRUE(ctx.is_open);
    EXPECT_EQ(ctx.mft_entry_count, s.entries);
    EXPECT_EQ(ctx.source_desc, ctx.mftfile);
    EXPECT_EQ(ctx.ntfs, nullptr);
    EXPECT_TRUE(ctx.source_ready());
  }
}

TEST(InitializeMft, FailuresDescribeTheSourceAndLeaveItClosed) {
  struct fail_case {
    const char* what;
    void (*setup)(user_ctx&);
    std::wstring desc;
  } cases[] = {
      {"nothing", [](user_ctx&) {}, L""},
      {"missing mft file", [](user_ctx& c) { c.mftfile = L"/nonexistent/$MFT"; }, L""},
      {"drive number", [](user_ctx& c) { c.drivenum = 3; }, L"physical drive: 3"},
      {"missing image", [](user_ctx& c) { c.image = L"/nonexistent/a.dd"; }, L"/nonexistent/a.dd"},
      {"one vmdk", [](user_ctx& c) { c.vmdk_files = {L"/nx/a.vmdk"}; },
       L"vmdk file: '/nx/a.vmdk'"},
      {"three vmdk",
       [](user_ctx& c) { c.vmdk_files = {L"/nx/a.vmdk", L"/nx/b.vmdk", L"/nx/c.vmdk"}; },
       L"vmdk files: '/nx/a.vmdk'; '/nx/b.vmdk'; '/nx/c.vmdk'"},
  };
  for (const fail_case& f : cases) {
    user_ctx ctx;
    f.setup(ctx);
    EXPECT_FALSE(initialize_mft(ctx)) << f.what;
    EXPECT_FALSE(ctx.is_open) << f.what;
    EXPECT_EQ(ctx.ntfs, nullptr) << f.what;
    EXPECT_EQ(ctx.mft_reader, nullptr) << f.what;
    EXPECT_EQ(ctx.source_desc, f.desc) << f.what;
  }
}

TEST(InitializeMft, OpensAVolumeOnceAndPrefersTheResolvedImage) {
  const std::string img = quor_test::fixture("default.img");
  if (img.empty()) GTEST_SKIP() << "default.img fixture absent";
  user_ctx ctx;
  ctx.resolved_image = utf8_to_wstring(img);
  ctx.image = L"/nonexistent/a.dd";
  ASSERT_TRUE(initialize_mft(ctx));
  ASSERT_NE(ctx.ntfs, nullptr);
  CNtfs* first = ctx.ntfs;
  EXPECT_EQ(ctx.source_desc, ctx.resolved_image);
  EXPECT_EQ(ctx.mft_entry_count, first->get_inode_count());
  EXPECT_GT(ctx.mft_pos, 0u);
  ASSERT_TRUE(initialize_mft(ctx));
  EXPECT_EQ(ctx.ntfs, first);
}

// s4096.img keeps 4 KiB MFT records (fsstat: "Size of MFT Entries: 4096
// bytes"). Its $MFT as icat extracts it teaches the context that size from
// record 0, counts its entries by it, and every listed file and folder is
// read at 4096 bytes times its number: its name and sequence number are the
// listing's, and a path is found through the tree built from those reads. The
// volume itself is read by the boot sector's size.
TEST(InitializeMft, FourKibRecordsAreReadByTheSizeTheSourceGives) {
  const std::string img = quor_test::fixture("s4096.img");
  if (img.empty()) GTEST_SKIP() << "s4096.img fixture absent";
  if (!quor_test::have_program("icat") || !quor_test::have_program("fsstat")) GTEST_SKIP() << "icat or fsstat absent";
  std::string stat;
  ASSERT_EQ(quor_test::run_command("fsstat '" + img + "'", stat), 0);
  const size_t at = stat.find("Size of MFT Entries: ");
  ASSERT_NE(at, std::string::npos);
  const uint32 record_size = static_cast<uint32>(std::stoul(stat.substr(at + 21)));
  ASSERT_EQ(record_size, 4096u);
  const std::string mft = quor_test::scratch_dir() + "/s4096.mft";
  std::string ignored;
  ASSERT_EQ(quor_test::run_command("icat '" + img + "' 0 > '" + mft + "'", ignored), 0);
  std::ifstream in(mft, std::ios::binary | std::ios::ate);
  const ulong64 mft_bytes = static_cast<ulong64>(in.tellg());
  ASSERT_EQ(mft_bytes % record_size, 0u);
  const std::vector<quor_test::listing_entry> listing = quor_test::read_listing("s4096.img");
  ASSERT_FALSE(listing.empty());

  CNtfs* engine = nullptr;
  ASSERT_TRUE(open_ntfs_image(img.c_str(), 0, engine, false, false));
  std::unique_ptr<user_ctx> sources[2] = {std::make_unique<user_ctx>(), std::make_unique<user_ctx>(engine, true)};
  sources[0]->mftfile = utf8_to_wstring(mft);
  for (int i = 0; i < 2; ++i) {
    user_ctx& ctx = *sources[i];
    const char* what = i == 0 ? "extracted $MFT" : "volume";
    ASSERT_TRUE(initialize_mft(ctx)) << what;
    EXPECT_EQ(ctx.mft_entry_count, mft_bytes / record_size) << what;
    for (const quor_test::listing_entry& e : listing) {
      inode_attributes record;
      ASSERT_TRUE(read_inode(record, ctx, e.inode)) << what << " " << e.path;
      EXPECT_EQ(ctx.record_size, record_size) << what;
      EXPECT_EQ(record.sequence, e.sequence) << what << " " << e.path;
      std::set<std::string> names;
      for (const auto& kv : record.filename_records) names.insert(wstring_to_utf8(kv.second.name));
      EXPECT_EQ(names.count(e.path.substr(e.path.rfind('/') + 1)), 1u) << what << " " << e.path;
    }
  }
  user_ctx lookup;
  lookup.verbose = false;
  lookup.mftfile = utf8_to_wstring(mft);
  for (const quor_test::listing_entry& e : listing) {
    if (e.kind != 'f' || e.path.rfind("/dir500/", 0) == 0) continue;
    ulong64 entry = 0;
    EXPECT_TRUE(find_inode_by_path(entry, utf8_to_wstring(e.path), lookup, false)) << e.path;
    EXPECT_EQ(entry, e.inode) << e.path;
  }
}

}  // namespace
