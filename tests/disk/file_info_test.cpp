// File-information records: built from the temporary tree, from values and
// from each other; the text block against a golden written from its rules.
#include <gtest/gtest.h>

#include <string>

#include "disk/file_info.h"
#include "tests/disk/host_tree.h"
#include "utils/utf_convert.h"

namespace {

TEST(FileInfo, DumpWritesTheLabelledBlock) {
  file_info info;
  info.path = "/x";
  info.filename = "f";
  info.ext = "txt";
  info.size = 4096;
  info.mode = 0x81a4;
  info.altered = 1000000000;  // 2001-09-09 01:46:40 UTC
  info.accessed = 4096;       // 1970-01-01 01:08:16 UTC
  info.permissions = 0x1ff;
  info.full_path = "never written";
  info.value64 = 0xdeadbeef;
  std::string out = "before\n";
  dump_file_info(info, out);
  EXPECT_EQ(out,
            "before\n"
            "path:         /x\n"
            "filename:     f\n"
            "ext:          txt\n"
            "file size     00001000\n"
            "flags:        81a4 [regular]\n"
            "created:      0000000000000000 [00/00/00 00:00:00]\n"
            "altered:      000000003b9aca00 [09/09/01 01:46:40]\n"
            "mft changed:  0000000000000000 [00/00/00 00:00:00]\n"
            "accessed:     0000000000001000 [01/01/70 01:08:16]\n"
            "permissions:  000001ff\n");

  const struct { uint16 mode; const char* flags_line; } types[] = {{0x41ed, "flags:        41ed [directory]\n"},
               {0x2190, "flags:        2190 [char special]\n"},
               {0x1180, "flags:        1180 []\n"}};
  for (const auto& t : types) {
    info.mode = t.mode;
    out.clear();
    dump_file_info(info, out);
    EXPECT_NE(out.find(t.flags_line), std::string::npos) << t.flags_line;
  }
}

TEST(FileInfo, FromPathsOfTheTree) {
  const std::string r = host_tree::root();
  const struct {
    std::string name;
    bool ok;
    const char* filename;
    const char* ext;
    long size;  // -1: not checked
  } cases[] = {
      {"big.dat", true, "big", "dat", host_tree::big_size},
      {"link-big", true, "link-big", "", host_tree::big_size},  // the link's target's status
      {"empty.bin", true, "empty", "bin", 0},
      {"a.tar.gz", true, "a", "tar.gz", 7},
      {host_tree::unicode_name, true, "\xC3\x9Cn\xC3\xAF" "c\xC3\xB6" "d\xC3\xA9 \xE5\x90\x8D\xE5\x89\x8D", "txt", 7},
      {"logs.old", true, "logs.old", "", -1},  // a directory keeps its extension in its name
      {"sub", true, "sub.", "", -1},
      {"cycle-a", false, "", "", -1},
      {"missing.txt", false, "", "", -1},
  };
  for (const auto& c : cases) {
    const std::string path = r + c.name;
    file_info info;
    ASSERT_EQ(get_file_info(path.c_str(), info), c.ok) << c.name;
    EXPECT_EQ(info.full_path, path);
    EXPECT_EQ(info.filename, c.filename) << c.name;
    EXPECT_EQ(info.ext, c.ext) << c.name;
    if (c.size >= 0) {
      EXPECT_EQ(info.size, static_cast<uint64>(c.size)) << c.name;
    }
    if (c.ok) {
      EXPECT_EQ(info.path, r.substr(0, r.size() - 1));
    }

    file_info_w wide;
    ASSERT_EQ(get_file_info_w(path.c_str(), wide), c.ok) << c.name;
    EXPECT_EQ(wstring_to_utf8(wide.filename), c.filename) << c.name;
    EXPECT_EQ(wstring_to_utf8(wide.ext), c.ext) << c.name;
  }

  file_info notes;
  ASSERT_TRUE(get_file_info((r + "Notes.txt").c_str(), notes));
  EXPECT_EQ(notes.altered, static_cast<uint64>(host_tree::old_seconds));
  EXPECT_EQ(notes.mode & 0xF000, 0x8000);
  EXPECT_FALSE(notes.is_directory());
  EXPECT_FALSE(get_file_info(nullptr, notes));

  // The wide-path builder leaves a directory's extension where the split put it.
  file_info_w dir;
  ASSERT_TRUE(get_file_info_w(utf8_to_wstring(r + "logs.old").c_str(), dir));
  EXPECT_EQ(std::wstring(dir.filename), L"logs");
  EXPECT_EQ(dir.ext, L"old");
  EXPECT_TRUE(dir.is_directory());

  // Texts longer than the wide record's arrays are cut to 511 characters.
  const std::string long_path = r + host_tree::long_dir() + std::string(200, 'f') + ".txt";
  file_info_w cut;
  ASSERT_TRUE(get_file_info_w(long_path.c_str(), cut));
  const std::string dir_part = long_path.substr(0, long_path.rfind('/'));
  ASSERT_GT(dir_part.size(), 511u);
  EXPECT_EQ(wstring_to_utf8(cut.path), dir_part.substr(0, 511));
  EXPECT_EQ(cut.size, 4u);
}

TEST(FileInfo, ConstructorsConversionAndOrder) {
  const uint64 created = 5, altered = 6, changed = 7, accessed = 8, value = 99;
  // The name's last dot, where the path builders take the leaf's first.
  file_info_w w(L"a.tar.gz", 10, 0x81a4, &created, &altered, &changed, &accessed, 0x1ff);
  EXPECT_EQ(w.ext, L"gz");
  EXPECT_EQ(std::wstring(w.filename), L"a.tar.gz");
  file_info_w too_long(std::wstring(512, L'n').c_str(), &value, 1, 0, nullptr, nullptr, nullptr, nullptr, 0);
  EXPECT_EQ(too_long.filename[0], L'\0');
  EXPECT_EQ(too_long.value64, 99u);
  EXPECT_EQ(too_long.ext, L"");
  // Only the name is left out of a record it does not fit; its extension
  // is kept.
  file_info_w long_txt((std::wstring(596, L'n') + L".txt").c_str(), 1, 0, nullptr, nullptr, nullptr, nullptr, 0);
  EXPECT_EQ(long_txt.filename[0], L'\0');
  EXPECT_EQ(long_txt.ext, L"txt");

  file_info_w parts;
  std::wcscpy(parts.path, L"/x");
  std::wcscpy(parts.filename, L"f");
  parts.ext = L"txt";
  parts.size = 3;
  parts.mft_changed = 4;
  const file_info narrow(parts);
  EXPECT_EQ(narrow.full_path, "/x\\f.txt");
  EXPECT_EQ(narrow.size, 3u);
  EXPECT_EQ(narrow.mft_changed, 4u);

  const file_info from_values(std::string("dir/notes"), 12, &value, 3, 0x81a4, &created, &altered, &changed,
                              &accessed, 0x1ff);
  EXPECT_EQ(from_values.path, "dir");
  EXPECT_EQ(from_values.filename, "notes.");  // the dot goes on even without an extension
  const file_info from_wide_path(std::wstring(L"d/\u540d.tar.gz"), 1, nullptr, 0, 0, nullptr, nullptr, nullptr,
                                 nullptr, 0);
  EXPECT_EQ(from_wide_path.filename, "\xE5\x90\x8D.tar.gz");
  EXPECT_EQ(from_wide_path.ext, "tar.gz");

  file_info_w upper(L"B.txt", 0, 0, &accessed, nullptr, nullptr, nullptr, 0);
  file_info_w lower(L"a.txt", 0, 0, &created, nullptr, nullptr, nullptr, 0);
  file_info_w same(L"b.TXT", 0, 0, &accessed, nullptr, nullptr, nullptr, 0);
  EXPECT_TRUE(name_less_w(lower, upper));
  EXPECT_FALSE(name_less_w(upper, lower));
  EXPECT_TRUE(name_equal_w(upper, same));
  EXPECT_TRUE(created_before_w(lower, upper));
  EXPECT_FALSE(created_before_w(upper, same));
  EXPECT_FALSE(created_before_w(same, upper));
}

TEST(FileInfo, AssignFromWideAndClear) {
  const uint64 created = 5, altered = 6, changed = 7, accessed = 8, value = 99;
  file_info_w w(L"\u540d.txt", &value, 10, 0x41ed, &created, &altered, &changed, &accessed, 0x1ff);
  std::wcscpy(w.path, L"/d\u00fc");
  file_info narrow(std::string("old/x.y"), 1, nullptr, 4, 0, nullptr, nullptr, nullptr, nullptr, 3);
  narrow.assign_from_wide(w);
  EXPECT_EQ(narrow.path, "/d\xC3\xBC");
  EXPECT_EQ(narrow.filename, "\xE5\x90\x8D.txt");
  EXPECT_EQ(narrow.ext, "txt");
  EXPECT_EQ(narrow.full_path, "/d\xC3\xBC\\\xE5\x90\x8D.txt.txt");
  EXPECT_TRUE(narrow.value64 == 99 && narrow.value16 == 0 && narrow.size == 10 && narrow.mode == 0x41ed);
  EXPECT_TRUE(narrow.created == 5 && narrow.altered == 6 && narrow.mft_changed == 7 && narrow.accessed == 8 &&
              narrow.permissions == 0x1ff && narrow.is_directory());

  narrow.clear();
  EXPECT_EQ(narrow.full_path + narrow.path + narrow.filename + narrow.ext, "");
  EXPECT_TRUE(narrow.value64 == 0 && narrow.value16 == 0 && narrow.size == 0 && narrow.mode == 0 &&
              narrow.created == 0 && narrow.altered == 0 && narrow.mft_changed == 0 && narrow.accessed == 0 &&
              narrow.permissions == 0);
  // The wide record keeps its directory when cleared.
  w.clear();
  EXPECT_EQ(std::wstring(w.path), L"/d\u00fc");
  EXPECT_EQ(std::wstring(w.filename) + w.ext, L"");
  EXPECT_TRUE(w.value64 == 0 && w.mode == 0 && w.size == 0 && w.created == 0 && w.altered == 0 &&
              w.mft_changed == 0 && w.accessed == 0 && w.permissions == 0);
}

}  // namespace
