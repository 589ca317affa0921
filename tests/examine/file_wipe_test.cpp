// Wiping a file's data on a copy of a kit volume: every kind of file ends as
// zeros of its size in small chunks, holes stay holes, compressed data is
// refused untouched, other files keep their data; and the UTF-8 adapters.
#include "examine/file_wipe.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "examine/attribute_writer.h"
#include "examine/utf8_adapters.h"
#include "tests/examine/examine_support.h"
#include "tests/support/listing.h"

namespace {

std::string data_of(CNtfs* ntfs, const std::string& path) {
  std::string name;
  ulong64 entry = 0;
  if (!ntfs->get_inode_from_path(path, name, entry, false)) return "<no entry>";
  std::ostringstream out;
  return write_unnamed_data(ntfs, entry, out) ? out.str() : "<no data>";
}

TEST(FileWipe, ZerosOverEveryKindOfFileOnACopy) {
  const std::string image = quor_test::fixture("default.img");
  const std::string copy = quor_test::scratch_dir() + "/wipe.img";
  std::string ignored;
  ASSERT_EQ(quor_test::run_command("cp " + image + " " + copy, ignored), 0);
  const struct {
    const char* path;
    bool wiped;
  } cases[] = {{"/nonres.bin", true},  {"/frag/a.bin", true}, {"/sparse.bin", true},
               {"/small.txt", true},   {"/compressed/pattern.bin", false}};
  std::vector<std::string> before;
  {
    CNtfs* opened = nullptr;
    ASSERT_TRUE(open_ntfs_image(copy.c_str(), 0, opened, true, false));
    std::unique_ptr<CNtfs> ntfs(opened);
    for (const auto& c : cases) {
      before.push_back(data_of(ntfs.get(), c.path));
      std::string name;
      ulong64 entry = 0;
      ASSERT_TRUE(ntfs->get_inode_from_path(std::string(c.path), name, entry, false));
      EXPECT_EQ(wipe_entry_data(ntfs.get(), entry, 4096), c.wiped) << c.path;
    }
  }
  CNtfs* opened = nullptr;
  ASSERT_TRUE(open_ntfs_image(copy.c_str(), 0, opened, false, false));
  std::unique_ptr<CNtfs> ntfs(opened);
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const std::string after = data_of(ntfs.get(), cases[i].path);
    ASSERT_EQ(after.size(), before[i].size()) << cases[i].path;
    const std::string want = cases[i].wiped ? std::string(before[i].size(), '\0') : before[i];
    EXPECT_TRUE(after == want) << cases[i].path;
  }
  std::string kept;
  ASSERT_TRUE(quor_test::expected_file_data("default.img", "/frag/b.bin", kept));
  EXPECT_TRUE(data_of(ntfs.get(), "/frag/b.bin") == kept);
  // The original image is untouched.
  examine_test::volume original("default.img");
  EXPECT_TRUE(data_of(original.ntfs, "/nonres.bin") == before[0]);
  // A volume opened for reading only refuses.
  std::string name;
  ulong64 entry = 0;
  ASSERT_TRUE(original.ntfs->get_inode_from_path(std::string("/frag/b.bin"), name, entry, false));
  EXPECT_FALSE(wipe_entry_data(original.ntfs, entry));
  EXPECT_FALSE(wipe_file_data("Z:/frag/b.bin"));
}

TEST(Utf8Adapters, NamesAndResolvedPaths) {
  const std::string image = quor_test::fixture("default.img");
  std::string name = "untouched";
  ulong64 entry = 0;
  CNtfs* ntfs = nullptr;
  ASSERT_TRUE(open_ntfs_image_resolve_path(image, 0, "/names/café.txt", name, entry, ntfs, true, false, false));
  std::unique_ptr<CNtfs> owner(ntfs);
  EXPECT_NE(name.find("café.txt"), std::string::npos);
  std::vector<byte> record;
  ASSERT_TRUE(read_entry_file_record(ntfs, entry, record));
  std::string first;
  ulong64_set parents;
  ASSERT_TRUE(get_record_names_and_parents(record.data(), first, parents));
  EXPECT_EQ(first, "café.txt");
  EXPECT_EQ(parents.size(), 1u);

  ulong64 short_entry = 0;
  CNtfs* second = nullptr;
  ASSERT_TRUE(open_ntfs_image_resolve_path(image, "/streams.txt", short_entry, second, false, false));
  std::unique_ptr<CNtfs> second_owner(second);
  ASSERT_TRUE(read_entry_file_record(second, short_entry, record));
  std::set<std::string> streams;
  ulong64 parent = 0;
  ASSERT_TRUE(get_record_ads_names(record.data(), streams, parent));
  EXPECT_EQ(streams, std::set<std::string>{"alt"});
  EXPECT_EQ(parent & 0xFFFFFFFFFFFFULL, 5u);
  std::map<ulong64, std::wstring> names;
  EXPECT_FALSE(record_has_file_name(names, record.data(), static_cast<int>(record.size()), nullptr));

  CNtfs* none = reinterpret_cast<CNtfs*>(1);
  EXPECT_FALSE(open_ntfs_by_drive_letter_resolve_path(std::string(), entry, none, false, false));
  EXPECT_EQ(none, nullptr);
  ulong64 size = 1;
  EXPECT_FALSE(get_file_data_size("Z:/streams.txt", size));
}

}  // namespace
