#include "app/source_open.h"

#include <gtest/gtest.h>

#include <fstream>

#include "ntfs/ntfs.h"
#include "tests/support/fixture.h"
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

}  // namespace
