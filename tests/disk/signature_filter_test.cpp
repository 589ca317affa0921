// The signature filter over the temporary tree: big.dat holds "REGION" with
// only its last byte past the first 16 KiB piece of a region starting at 100
// (so the pieces must overlap by the pattern's length less one), "BLK!" 10
// bytes into block 4000, and "TAIL" 100 bytes before its end.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "disk/signature_filter.h"
#include "tests/disk/host_tree.h"

namespace {

std::vector<byte> bytes(const char* text) { return std::vector<byte>(text, text + std::strlen(text)); }

// A signature of the content tests given a length (a region from 100 to
// `region_end`, a block prefix, a file tail); a length of 0 leaves the test out.
file_signature content(uint32 region_end, uint32 block, uint32 tail, uint32 region_start = 100,
                       const char* region_pattern = "REGION") {
  file_signature s;
  if (region_end) {
    s.region_start = region_start;
    s.region_end = region_end;
    s.region_pattern = bytes(region_pattern);
  }
  if (block) {
    s.block_length = block;
    s.block_pattern = bytes("BLK!");
  }
  if (tail) {
    s.tail_length = tail;
    s.tail_pattern = bytes("TAIL");
  }
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
  const uint32 mark = host_tree::region_mark;
  file_signature dat_ext, upper_ext, recent, future;
  dat_ext.ext = L"dat";
  upper_ext.ext = L"DAT";
  recent.time_threshold = host_tree::old_seconds + 1;  // mtimes of big.dat and Notes.txt are older; every ctime is now
  future.time_threshold = 4000000000u;

  const std::vector<std::string> big{r + "big.dat", r + "link-big"};
  const struct { const char* what; std::vector<file_signature> signatures; std::vector<std::string> kept; } cases[] = {
      {"extension, case kept", {dat_ext}, {r + "big.dat"}},
      {"extension of another case", {upper_ext}, {}},
      {"size range", {sized(1, 11)}, {r + "Notes.txt", r + host_tree::unicode_name}},
      {"empty files only", {sized(0, 0)}, {r + "empty.bin"}},
      {"time: ctime is recent", {recent}, {big[0], big[1], r + "empty.bin", r + "Notes.txt", r + host_tree::unicode_name}},
      {"time: both earlier", {future}, {}},
      {"region across a piece boundary", {content(40000, 0, 0)}, big},
      {"region ending inside the mark", {content(mark + 5, 0, 0)}, {}},
      {"region ending at the mark's end", {content(mark + 6, 0, 0)}, big},
      {"region starting after the mark", {content(40000, 0, 0, mark + 1)}, {}},
      {"block long enough", {content(0, 14, 0)}, big},
      {"block one byte short", {content(0, 13, 0)}, {}},
      {"tail long enough", {content(0, 0, 100)}, big},
      {"tail one byte short", {content(0, 0, 99)}, {}},
      {"all applicable tests must pass", {content(40000, 0, 99)}, {}},
      {"all three passing", {content(40000, 14, 100)}, big},
      {"some signature suffices", {content(0, 13, 0), content(0, 0, 100)}, big},
      // An empty file is larger than no region start: no content test applies to
      // it, and a signature with patterns does not select it on attributes alone.
      {"empty file, no content test applies", {content(64, 0, 0, 0, "x")}, big},
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
  EXPECT_TRUE(filter_files_by_signature(paths, {content(64, 0, 0, 0, "x")}));
  EXPECT_EQ(paths, std::vector<std::string>{r + "big.dat"});
}

}  // namespace
