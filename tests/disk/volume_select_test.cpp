// Choosing the NTFS volume offset: the messages are the tool's own texts,
// written here by hand from the partition tables the fixture scripts made.
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "disk/disk_handle.h"
#include "disk/volume_select.h"
#include "tests/disk/host_tree.h"
#include "utils/utf_convert.h"

namespace {

struct selection {
  bool result;
  bool found;
  ulong64 offset;
  std::string msgs;
};

selection on_image(const std::string& path, ulong64 offset) {
  selection s;
  std::ostringstream msgs;
  s.offset = offset;
  s.found = true;
  s.result = select_ntfs_volume_on_image(msgs, path, s.offset, s.found);
  s.msgs = msgs.str();
  // The wide path form is the same operation.
  std::ostringstream wide_msgs;
  ulong64 wide_offset = offset;
  bool wide_found = true;
  const bool wide_result = select_ntfs_volume_on_image(wide_msgs, utf8_to_wstring(path), wide_offset, wide_found);
  EXPECT_TRUE(wide_result == s.result && wide_found == s.found && wide_offset == s.offset &&
              wide_msgs.str() == s.msgs)
      << path;
  return s;
}

void expect_selection(const selection& got, const selection& want, const std::string& what) {
  EXPECT_EQ(got.result, want.result) << what;
  EXPECT_EQ(got.found, want.found) << what;
  EXPECT_EQ(got.offset, want.offset) << what;
  EXPECT_EQ(got.msgs, want.msgs) << what;
}

}  // namespace

TEST(VolumeSelect, ImageMessagesFollowTheTable) {
  const std::string far = quor_test::fixture("mbr-far.img");
  const std::string ext = quor_test::fixture("mbr-ext.img");
  const std::string gpt = quor_test::fixture("gpt-slot3.img");
  const std::string bare = quor_test::fixture("mbr-1p-volume.img");
  ASSERT_FALSE(far.empty() || ext.empty() || gpt.empty() || bare.empty());

  const std::string far_list =
      "\n"
      "volume offset [ 0x100000 ] : ntfs\n"
      "volume offset [ 0x500000 ] : linux native\n"
      "volume offset [ 0x10100000 ] : ntfs\n"
      "\n";
  const struct { std::string path; ulong64 asked; selection want; } cases[] = {
      // Nothing asked: the last NTFS partition is suggested and taken.
      {far, 0, {false, true, 0x10100000, far_list + "use option [-image \"" + far + "\" -offset 0x10100000]\n"}},
      // The offset of an NTFS partition is confirmed without a word.
      {far, 0x100000, {true, true, 0x100000, ""}},
      // A Linux partition: the candidate is the last NTFS one before it.
      {far,
       0x500000,
       {false, true, 0x100000,
        "volume offset selected 0x500000 is not a NTFS partition, but a linux native\n" + far_list +
            "use option [-image \"" + far + "\" -offset 0x100000]\n"}},
      // An offset where nothing starts: the last NTFS partition of all.
      {far, 0x200000, {false, true, 0x10100000, far_list + "use option [-image \"" + far + "\" -offset 0x10100000]\n"}},
      {ext,
       0,
       {false, true, 0x600000,
        "\n"
        "volume offset [ 0x7e00 ] : linux native [guess]\n"
        "volume offset [ 0x100000 ] : linux native\n"
        "volume offset [ 0x300000 ] : extended\n"
        "volume offset [ 0x400000 ] : linux native\n"
        "volume offset [ 0x500000 ] : extended\n"
        "volume offset [ 0x600000 ] : ntfs\n"
        "\n"
        "use option [-image \"" +
            ext + "\" -offset 0x600000]\n"}},
      {gpt,
       0,
       {false, true, 0x200000,
        "\n"
        "volume offset [ 0x100000 ] : unk\n"
        "volume offset [ 0x200000 ] : ntfs\n"
        "\n"
        "use option [-image \"" +
            gpt + "\" -offset 0x200000]\n"}},
      // A bare volume has the boot mark but no table.
      {bare, 0, {false, false, 0, "couldn't find any partitions on disk: " + bare + "\n"}},
  };
  for (const auto& c : cases)
    expect_selection(on_image(c.path, c.asked), c.want, c.path + " at " + std::to_string(c.asked));
}

TEST(VolumeSelect, DisksWithoutUsableTables) {
  // A missing file; no boot mark anywhere; a table with only a Linux
  // partition; a boot mark only past the first 16 KiB (read relaxed).
  std::vector<byte> linux_only = host_tree::sector(), late = host_tree::sector();
  host_tree::set_entry(linux_only, 0, 0x83, 2048, 100);
  host_tree::mark(linux_only);
  host_tree::set_entry(late, 0, 0x07, 8, 64);
  host_tree::mark(late);
  const std::string missing = host_tree::scratch("no-such.img");
  const std::string blank = host_tree::write_disk(host_tree::scratch("blank.img"), 65536, {});
  const std::string linux_path = host_tree::write_disk(host_tree::scratch("linux.img"), 65536, {{0, linux_only}});
  const std::string late_path = host_tree::write_disk(host_tree::scratch("late.img"), 65536, {{20480, late}});
  const struct { std::string path; selection want; } cases[] = {
      {missing, {false, false, 0, "invalid disk: " + missing + "\n"}},
      {blank, {false, false, 0, "couldn't find any partitions on disk: " + blank + "\n"}},
      {linux_path,
       {false, false, 0,
        "\nvolume offset [ 0x100000 ] : linux native\n\ndrive " + linux_path + " has no ntfs partition\n"}},
      {late_path,
       {false, true, 0x6000,
        "disk " + late_path + " corrupted, partition info questionable\n\nvolume offset [ 0x6000 ] : ntfs\n\n" +
            "use option [-image \"" + late_path + "\" -offset 0x6000]\n"}},
  };
  for (const auto& c : cases) expect_selection(on_image(c.path, 0), c.want, c.path);
  std::ostringstream msgs;
  ulong64 offset = 0;
  bool found = true;
  EXPECT_FALSE(select_ntfs_volume_on_image(msgs, std::string(), offset, found));
  EXPECT_FALSE(found);
  EXPECT_EQ(msgs.str(), "");
}

TEST(VolumeSelect, BufferAndDriveMembers) {
  std::vector<byte> mbr = host_tree::sector();
  host_tree::set_entry(mbr, 0, 0x82, 63, 100);
  host_tree::mark(mbr);
  std::ostringstream msgs;
  ulong64 offset = 0;
  bool found = true;
  EXPECT_FALSE(select_ntfs_volume_in_buffer(msgs, mbr.data(), mbr.size(), offset, found));
  EXPECT_FALSE(found);
  EXPECT_EQ(msgs.str(), "volume offset [ 0x7e00 ] : linux swap\ndrive as no ntfs partition\n");

  mbr[446 + 4] = 0x07;
  msgs.str("");
  EXPECT_TRUE(select_ntfs_volume_in_buffer(msgs, mbr.data(), mbr.size(), offset = 0x7e00, found));
  EXPECT_TRUE(found);
  EXPECT_EQ(msgs.str(), "");

  // Drives by number never open here.
  msgs.str("");
  EXPECT_FALSE(select_ntfs_volume_on_drive(msgs, 3, offset, found, true));
  EXPECT_FALSE(found);
  EXPECT_EQ(msgs.str(), "problems accessing physical disk #3, aborting \n");
}

TEST(VolumeSelect, SnapshotChains) {
  const std::string base = quor_test::fixture("vmdk-base.vmdk");
  const std::string child = quor_test::fixture("vmdk-child.vmdk");
  ASSERT_FALSE(base.empty() || child.empty());
  std::ostringstream msgs;
  ulong64 offset = 0;
  bool found = false;
  EXPECT_FALSE(select_ntfs_volume_in_snapshots(msgs, std::vector<std::string>{base}, offset, found));
  EXPECT_TRUE(found);
  EXPECT_EQ(offset, 0x100000u);
  EXPECT_EQ(msgs.str(), "\nvolume offset [ 0x100000 ] : ntfs\n\n");

  // The child alone cannot be joined: its parent is not in the list.
  msgs.str("");
  offset = 0;
  EXPECT_FALSE(select_ntfs_volume_in_snapshots(msgs, std::vector<std::string>{child}, offset, found));
  EXPECT_FALSE(found);
  EXPECT_EQ(msgs.str(), "invalid disk collection of snaps \n");

  // Wide paths: the same chain, the same answers.
  const struct {
    std::vector<std::wstring> files;
    bool found;
    ulong64 offset;
    std::string msgs;
  } wide[] = {
      {{utf8_to_wstring(base)}, true, 0x100000, "\nvolume offset [ 0x100000 ] : ntfs\n\n"},
      {{utf8_to_wstring(base), utf8_to_wstring(child)}, true, 0x100000, "\nvolume offset [ 0x100000 ] : ntfs\n\n"},
      {{utf8_to_wstring(child)}, false, 0, "invalid disk collection of snaps \n"},
  };
  for (const auto& w : wide) {
    std::ostringstream said;
    ulong64 at = 0;
    bool seen = !w.found;
    EXPECT_FALSE(select_ntfs_volume_in_snapshots(said, w.files, at, seen));
    EXPECT_EQ(seen, w.found);
    EXPECT_EQ(at, w.offset);
    EXPECT_EQ(said.str(), w.msgs);
  }
}

TEST(VolumeSelect, ListsAndTheFactoryRule) {
  const std::string far = quor_test::fixture("mbr-far.img");
  const std::string bare = quor_test::fixture("mbr-1p-volume.img");
  ASSERT_FALSE(far.empty() || bare.empty());
  std::vector<ulong64> offsets;
  EXPECT_TRUE(list_ntfs_volumes_on_image(far, offsets));
  EXPECT_EQ(offsets, (std::vector<ulong64>{0x100000, 0x10100000}));
  EXPECT_FALSE(list_ntfs_volumes_on_image(bare, offsets));
  EXPECT_TRUE(offsets.empty());
  // Drives by number never open here: nothing listed, the outputs emptied.
  ulong64_set on_drive{1, 2};
  std::vector<ulong64> drive_list{3};
  EXPECT_FALSE(list_ntfs_volumes_on_drive(on_drive, 0));
  EXPECT_FALSE(list_ntfs_volumes_on_drive(0, drive_list));
  EXPECT_TRUE(on_drive.empty() && drive_list.empty());
  std::vector<ulong64> wide{7};
  EXPECT_TRUE(list_ntfs_volumes_on_image(utf8_to_wstring(far), wide));
  EXPECT_EQ(wide, (std::vector<ulong64>{0x100000, 0x10100000}));
  EXPECT_FALSE(list_ntfs_volumes_on_image(utf8_to_wstring(bare), wide));
  EXPECT_TRUE(wide.empty());

  disk_handle far_disk(far.c_str(), false, false, DISK_KIND_FILE);
  ulong64 chosen = 1;
  EXPECT_TRUE(choose_ntfs_volume_offset(&far_disk, chosen));
  EXPECT_EQ(chosen, 0x10100000u);
  disk_handle bare_disk(bare.c_str(), false, false, DISK_KIND_FILE);
  EXPECT_FALSE(choose_ntfs_volume_offset(&bare_disk, chosen));
  EXPECT_EQ(chosen, 0u);
}
