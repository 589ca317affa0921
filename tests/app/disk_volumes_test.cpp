// Every NTFS volume of the disk a run reads answers for its own files, each
// opened once, all on the disk's one descriptor, whatever its table names:
// a GPT disk naming one start in 1,098 of its 1,100 slots, read with the
// usual limit of 1,024 descriptors.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/app/quor_run.h"
#include "tests/support/layer_setups.h"
#include "tests/support/partitioned_disk.h"

namespace {

using namespace quor_test;

const char* who_is(const std::string& who) { return who.empty() ? "root" : "nobody"; }

// The disk: sample.img's volume first (the run's), links.img's named over
// and over, moved.img's in the last slot, exported writable by
// qemu-storage-daemon and mounted by ntfs-3g, open to every user, with
// notes.txt made there. Nobody's and root's listing onto an NTFS case drive
// is the listing a local run writes, not a word of a volume's open among
// it; into the last volume it is refused, naming that volume, and leaves it
// as it was.
TEST(DiskVolumes, ADiskNamingOneVolumeOverAndOverIsReadOnceAVolume) {
  if (!have_program("setpriv") || !have_program("icat") || !have_program("ifind"))
    GTEST_SKIP() << "setpriv, icat or ifind not installed";
  const std::string dir = folder("repeating"), local = folder("repeating/local"), disk = dir + "/disk.img";
  open_to_nobody({dir, folder("repeating/last")});
  ASSERT_EQ(::chmod(local.c_str(), 0777), 0);
  {
    layer_stack make;
    if (!repeating_gpt_disk(make, disk, {"sample.img", "links.img", "moved.img"}, 1100)) GTEST_SKIP() << make.why();
  }
  const std::string last = std::to_string(disk_volume_offset(2)), limit = "ulimit -n 1024 && ";
  const std::vector<std::string> args = {"-image", "disk.img", "-offset", std::to_string(disk_volume_offset(0)),
                                         "-all",   "-csv"};
  {
    layer_stack drive;
    if (!ntfs_case_drive(drive, dir + "/drive.img", dir + "/cd", false) ||
        !drive.mount("ntfs-3g -o allow_other,noatime " + quote(dir + "/drive.img") + " " + quote(dir + "/cd"),
                     dir + "/cd", dir + "/drive.img") ||
        !drive.step("chmod 0777 " + quote(dir + "/cd")))
      GTEST_SKIP() << drive.why();
    block_export exported(
        dir + "/last",
        "--blockdev " + quote("driver=file,filename=" + disk + ",node-name=f,locking=off") + " --blockdev " +
            quote("driver=raw,file=f,offset=" + last + ",size=" + std::to_string(kDiskVolume * 512) + ",node-name=c"),
        "c");
    if (!exported.ok() || !exported.step("echo note > " + quote(exported.at + "/notes.txt")))
      GTEST_SKIP() << exported.why();
    for (const std::string& who : {std::string(), as_nobody()}) {
      const quor_call run = {std::string(who_is(who)) + ", 1,024 descriptors", dir, args, "", limit + who};
      for (const stream_form& f : {stream_form{"a new listing", ">@", "list.csv", ""},
                                   stream_form{"the listing and its log", ">@ 2>&1", "both.txt", ""}})
        expect_written(run, f, dir + "/cd", local + "/" + f.name);
      // Root sees the export's server hold the disk; nobody has the volumes alone to ask.
      const auto refusal = [&](const std::string& name) {
        return "refused to write: " + exported.at + "/" + name + ": " +
               (who.empty() ? "it is stored in the evidence disk.img"
                            : "it is \\" + name + " of the volume at offset " + last + " of the evidence " + disk);
      };
      const std::string into = exported.at + "/notes.txt", made = std::string(who_is(who)) + ".csv";
      expect_refused(
          {{run.how + ": appended to the last volume's notes.txt", dir, args, ">>" + quote(into), run.prefix}}, {into},
          {}, refusal("notes.txt"));
      std::string said;
      EXPECT_EQ(
          run_call({run.how + ": a new listing there", dir, args, ">" + quote(exported.at + "/" + made), run.prefix},
                   said),
          kFailed);
      EXPECT_NE(said.find(refusal(made)), std::string::npos) << said;
      EXPECT_EQ(read_whole(exported.at + "/" + made), "") << run.how;
    }
  }
  ASSERT_TRUE(wait_until_unheld(disk));
  ASSERT_TRUE(copy_disk_volume(disk, 2, dir + "/last.raw"));
  EXPECT_EQ(volume_file_text(dir + "/last.raw", "/notes.txt"), "note\n");
  for (const std::string who : {"root", "nobody"})
    EXPECT_EQ(volume_file_text(dir + "/last.raw", "/" + who + ".csv"), "");
}

}  // namespace
