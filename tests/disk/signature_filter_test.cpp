// The signature filter over the temporary tree: big.dat holds "REGION"
// across the first 16 KiB piece of a region starting at 100, "BLK!" 10 bytes
// into block 4000, and "TAIL" 100 bytes before its end.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "disk/signature_filter.h"
#include "tests/disk/host_tree.h"

namespace {

std::vector<byte> bytes(const char* text) { return std::vector<byte>(text, text + std::strlen(text)); }

file_signature region(uint32 start, uint32 end, const char* pattern) {
  file_signature s;
  s.region_start = start;
  s.region_end = end;
  s.region_pattern = bytes(pattern);
  return s;
}

file_signature block(uint32 length, const char* pattern) {
  file_signature s;
  s.block_length = length;
  s.block_pattern = bytes(pattern);
  return s;
}

file_signature tail(uint32 length, const char* pattern) {
  file_signature s;
  s.tail_length = length;
  s.tail_pattern = bytes(pattern);
  return s;
}

file_signature sized(uint64 lo, uint64 hi) {
  file_signature s;
  s.min_size = lo;
  s.max_size = hi;
  return s;
}

TEST(SignatureFilter, EachTestAndHowTheyCombine) {
  const std::string r = host_tree::root();
  const std::vector<std::string> files{r + "big.dat", r + "link-big", r + "empty.bin", r + "Notes.txt",
                                       r + host_tree::unicode_name, r + "cycle-a", r + "missing"};
  const long mark = host_tree::region_mark;
  file_signature dat_ext;
  dat_ext.ext = L"dat";
  file_signature upper_ext;
  upper_ext.ext = L"DAT";
  file_signature recent;  // mtimes of big.dat and Notes.txt are older; every ctime is now
  recent.time_threshold = host_tree::old_seconds + 1;
  file_signature future;
  future.time_threshold = 4000000000u;
  file_signature region_and_tail = region(100, 40000, "REGION");
  region_and_tail.tail_length = 99;
  region_and_tail.tail_pattern = bytes("TAIL");
  file_signature all_three = region(100, 40000, "REGION");
  all_three.block_length = 14;
  all_three.block_pattern = bytes("BLK!");
  all_three.tail_length = 100;
  all_three.tail_pattern = bytes("TAIL");

  const std::vector<std::string> big{r + "big.dat", r + "link-big"};
  const struct {
    const char* what;
    std::vector<file_signature> signatures;
    std::vector<std::string> kept;
  } cases[] = {
      {"extension, case kept", {dat_ext}, {r + "big.dat"}},
      {"extension of another case", {upper_ext}, {}},
      {"size range", {sized(1, 11)}, {r + "Notes.txt", r + host_tree::unicode_name}},
      {"empty files only", {sized(0, 0)}, {r + "empty.bin"}},
      {"time: ctime is recent", {recent}, {big[0], big[1], r + "empty.bin", r + "Notes.txt", r + host_tree::unicode_name}},
      {"time: both earlier", {future}, {}},
      {"region across a piece boundary", {region(100, 40000, "REGION")}, big},
      {"region ending inside the mark", {region(100, static_cast<uint32>(mark + 5), "REGION")}, {}},
      {"region ending at the mark's end", {region(100, static_cast<uint32>(mark + 6), "REGION")}, big},
      {"region starting after the mark", {region(static_cast<uint32>(mark + 1), 40000, "REGION")}, {}},
      {"block long enough", {block(14, "BLK!")}, big},
      {"block one byte short", {block(13, "BLK!")}, {}},
      {"tail long enough", {tail(100, "TAIL")}, big},
      {"tail one byte short", {tail(99, "TAIL")}, {}},
      {"all applicable tests must pass", {region_and_tail}, {}},
      {"all three passing", {all_three}, big},
      {"some signature suffices", {block(13, "BLK!"), tail(100, "TAIL")}, big},
      // An empty file is larger than no region start: no content test applies to
      // it, and a signature with patterns does not select it on attributes alone.
      {"empty file, no content test applies", {region(0, 64, "x")}, big},
  };
  for (const auto& c : cases) {
    std::vector<std::string> paths = files;
    EXPECT_EQ(filter_files_by_signature(paths, c.signatures), !c.kept.empty()) << c.what;
    EXPECT_EQ(paths, c.kept) << c.what;
  }

  std::vector<std::string> unchanged = files;
  EXPECT_TRUE(filter_files_by_signature(unchanged, {}));
  EXPECT_EQ(unchanged, files);
  std::vector<std::string> none;
  EXPECT_FALSE(filter_files_by_signature(none, {dat_ext}));
}

TEST(SignatureFilter, UnreadableFilesAndFolders) {
  if (!host_tree::locked_is_unreadable())
    GTEST_SKIP() << "running as root, which reads mode-000 files and folders: nothing is unreadable";
  const std::string r = host_tree::root();
  // Inside the locked folder even the facts cannot be read: the file is
  // dropped. A mode-000 file has facts but cannot be searched.
  const std::vector<std::string> files{r + "locked/hidden.txt", r + "sealed.bin", r + "big.dat"};
  std::vector<std::string> paths = files;
  EXPECT_TRUE(filter_files_by_signature(paths, {sized(0, 100)}));
  EXPECT_EQ(paths, std::vector<std::string>{r + "sealed.bin"});
  paths = files;
  EXPECT_TRUE(filter_files_by_signature(paths, {region(0, 64, "x")}));
  EXPECT_EQ(paths, std::vector<std::string>{r + "big.dat"});
}

}  // namespace
