// Open-and-resolve entry points, the folder probes, the directory test, and
// the extracted $MFT file's record 0 fixed up like every other record.
#include "ntfs/open_resolve.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <fstream>
#include <vector>

#include "ntfs/ntfs.h"
#include "ntfs/path_lookup.h"
#include "tests/support/fixture.h"
#include "utils/utf_convert.h"

namespace {

TEST(OpenResolve, ResolvesAndKeepsTheOpenVolume) {
  const std::string img = quor_test::fixture("default.img");
  ASSERT_FALSE(img.empty());
  const std::wstring image = utf8_to_wstring(img);
  const struct {
    std::wstring image;
    std::wstring path;
    bool ok;
    ulong64 inode;
    bool opened;  // the engine is handed out, whatever the lookup found
  } cases[] = {{image, L"/frag/a.bin", true, 67, true},      {image, L"\\frag\\b.bin", true, 68, true},
               {image, L".", true, 5, true},                  {image, L"\\.\\", true, 5, true},
               {image, L"/frag/missing.bin", false, 0, true}, {image + L".missing", L"/frag/a.bin", false, 0, false}};
  for (const auto& c : cases) {
    for (bool on_volume : {false, true}) {
      CNtfs* engine = reinterpret_cast<CNtfs*>(&engine);  // any non-null value must be replaced
      std::wstring resolved;
      ulong64 inode = 0;
      const bool ok = on_volume ? open_ntfs_image_resolve_path_on_volume(inode, engine, resolved, 0, c.image, 0,
                                                                         c.path, false, false, false)
                                : open_ntfs_image_resolve_path(c.image, 0, c.path, resolved, inode, engine, false,
                                                               false, false);
      EXPECT_EQ(ok, c.ok) << wstring_to_utf8(c.path) << " " << on_volume;
      EXPECT_EQ(engine != nullptr, c.opened) << wstring_to_utf8(c.path);
      if (!ok) {
        // The caller goes on with the open volume after a path that names nothing.
        if (engine) {
          EXPECT_TRUE(engine->is_directory(ROOT_DIRECTORY_ENTRY));
          delete engine;
        }
        continue;
      }
      ASSERT_NE(engine, nullptr);
      EXPECT_EQ(inode, c.inode) << wstring_to_utf8(c.path);
      if (c.inode == 5) {
        EXPECT_EQ(resolved, c.path);
      }
      EXPECT_EQ(engine->is_directory(inode), c.inode == 5);
      delete engine;
    }
  }
}

TEST(OpenResolve, FolderProbesAndDirectoryTest) {
  CNtfs* engine = nullptr;
  ASSERT_TRUE(open_ntfs_image(quor_test::fixture("default.img").c_str(), 0, engine, false, false));
  EXPECT_TRUE(engine->is_directory(66));   // /frag
  EXPECT_FALSE(engine->is_directory(67));  // /frag/a.bin
  EXPECT_FALSE(engine->is_directory(engine->get_inode_count() + 10));
  EXPECT_FALSE(engine->has_users_public_dir());
  EXPECT_FALSE(engine->has_default_user_dir());
  delete engine;
}

TEST(OpenResolve, ExtractedMftRecordZeroIsFixedUp) {
  const std::string img = quor_test::fixture("default.img");
  CNtfs* volume = nullptr;
  ASSERT_TRUE(open_ntfs_image(img.c_str(), 0, volume, false, false));
  // The first records of the $MFT as they lie on the volume, protected: their
  // sector tails carry the check value.
  std::ifstream in(img, std::ios::binary);
  std::vector<char> raw(64 * 1024);
  in.seekg(static_cast<std::streamoff>(volume->m_mft_file_pos));
  ASSERT_TRUE(in.read(raw.data(), static_cast<std::streamsize>(raw.size())));
  ASSERT_NE(std::memcmp(raw.data(), volume->m_mft_record0, 1024), 0);
  const std::string mft = quor_test::scratch_dir() + "/fixup.mft";
  std::ofstream(mft, std::ios::binary).write(raw.data(), static_cast<std::streamsize>(raw.size()));
  CNtfs* file = nullptr;
  ASSERT_TRUE(open_ntfs_mft_file(mft.c_str(), file));
  EXPECT_EQ(std::memcmp(file->m_mft_record0, volume->m_mft_record0, 1024), 0);
  std::vector<byte> rec;
  bool torn = true;
  ASSERT_TRUE(file->read_mft_record_to_vector(rec, torn, 5));
  EXPECT_FALSE(torn);
  delete volume;
  delete file;
}

// The chain, drive-letter and drive-number forms: a chain resolves in its
// newest state; "Q:" is, on this host, the file of that name in the working
// folder (here a link to a kit image); a drive by number never opens here.
TEST(OpenResolve, ChainLetterAndDriveNumberForms) {
  const std::string base = quor_test::fixture("vmdk-base.vmdk");
  const std::string child = quor_test::fixture("vmdk-child.vmdk");
  const std::string image = quor_test::fixture("default.img");
  ASSERT_FALSE(base.empty() || child.empty() || image.empty());
  const std::vector<std::wstring> chain = {utf8_to_wstring(child), utf8_to_wstring(base)};
  const std::vector<std::wstring> missing = {utf8_to_wstring(base + ".missing")};
  quor_test::drive_letter q(image);
  ASSERT_TRUE(q.ok);
  using opener = std::function<bool(const std::wstring&, std::wstring&, ulong64&, CNtfs*&)>;
  const opener on_chain = [&](const std::wstring& p, std::wstring& r, ulong64& i, CNtfs*& e) {
    return open_ntfs_vmdk_chain_resolve_path(chain, 0, p, r, i, e, false, false, false);
  };
  const opener on_missing_chain = [&](const std::wstring& p, std::wstring& r, ulong64& i, CNtfs*& e) {
    return open_ntfs_vmdk_chain_resolve_path(missing, 0, p, r, i, e, false, false, false);
  };
  const opener on_letter = [](const std::wstring& p, std::wstring& r, ulong64& i, CNtfs*& e) {
    return open_ntfs_by_drive_letter_resolve_path(p, r, i, e, false, false, false);
  };
  const opener on_drive = [](const std::wstring& p, std::wstring& r, ulong64& i, CNtfs*& e) {
    return open_ntfs_by_drive_number_resolve_path(0, 0x100000, p, r, i, e, false, false, false);
  };
  const struct {
    const char* what;
    const opener& open;
    std::wstring path;
    bool ok, opened;
    ulong64 inode;
    std::wstring resolved;
  } cases[] = {
      {"chain", on_chain, L"/one-docs/inner/notes.txt", true, true, 67, L"\\one-docs\\inner\\notes.txt"},
      {"chain root", on_chain, L".", true, true, 5, L"."},
      {"removed in the newer state", on_chain, L"/one-docs/readme.txt", false, true, 0, L""},
      {"missing chain", on_missing_chain, L".", false, false, 0, L""},
      {"letter", on_letter, L"Q:\\frag\\a.bin", true, true, 67, L"Q:\\frag\\a.bin"},
      {"letter alone", on_letter, L"Q:\\", true, true, 5, L"Q:"},
      {"other letter", on_letter, L"Z:\\frag\\a.bin", false, false, 0, L""},
      {"drive number", on_drive, L"/frag", false, false, 0, L""},
  };
  for (const auto& c : cases) {
    CNtfs* engine = reinterpret_cast<CNtfs*>(&engine);
    std::wstring resolved;
    ulong64 inode = 99;
    EXPECT_EQ(c.open(c.path, resolved, inode, engine), c.ok) << c.what;
    EXPECT_EQ(engine != nullptr, c.opened) << c.what;
    if (c.ok) {
      EXPECT_EQ(inode, c.inode) << c.what;
      EXPECT_EQ(resolved, c.resolved) << c.what;
    }
    delete engine;
  }
}

}  // namespace
