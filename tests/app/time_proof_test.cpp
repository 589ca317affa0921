// The evidence's own files are told by a record's time to the tick, found
// by the number a mount shows or by a name looked up through a view; names
// neither prove nor disprove. So a mount that answers DOS names or folds
// case, and root's guestmount after files were saved, renamed and deleted
// through it (its attributes cached, the image written back late), are the
// evidence, root's runs and the examiner's alike: each stream into them
// ends with status 255, the examiner's refusal naming the file's record,
// and the image keeps what it held. A cp -a copy of the volume's folders,
// whose change times are the copy's, takes the listing through every view
// as the local disk does.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tests/app/quor_run.h"
#include "tests/support/layer_setups.h"
#include "tests/support/mount_guard.h"

namespace {

using namespace quor_test;

const char* who_is(const std::string& who) { return who.empty() ? "root" : "nobody"; }

bool have_oracles() {
  for (const char* tool : {"fls", "icat", "ifind", "setpriv", "setfattr"})
    if (!have_program(tool)) return false;
  return true;
}

// `image` shaped by the shell text `script`, run in a first ntfs-3g mount
// of it at `at`, unmounted again; false, with why, where no mount could be
// had.
bool shaped(const std::string& image, const std::string& at, const std::string& script, std::string& why) {
  layer_stack first;
  if (!mount_ntfs(first, image, at) || !first.step("cd " + quote(at) + " && " + script)) {
    why = first.why();
    return false;
  }
  first.undo_all();
  if (wait_until_unheld(image)) return true;
  why = "ntfs-3g did not let " + image + " go";
  return false;
}

// The record the volume of the raw image `raw` gives `path`, by ifind; ""
// for none.
std::string record_of(const std::string& raw, const std::string& path) {
  std::string entry;
  if (run_command("ifind -n " + quote(path) + " " + quote(raw) + " 2>/dev/null", entry) != 0) return "";
  while (!entry.empty() && (entry.back() == '\n' || entry.back() == ' ')) entry.pop_back();
  return entry;
}

// Waits, `seconds` at most, until `test` holds.
bool within(int seconds, const std::function<bool()>& test) {
  for (int tick = 0; tick < seconds * 5; ++tick) {
    if (test()) return true;
    ::usleep(200000);
  }
  return test();
}

// A run of `args` in `dir` by root and by nobody, sending a stream by
// `redirect`, is refused; the file there keeps its bytes (a file the shell
// emptied for `>` stays empty), and nobody's refusal names the evidence
// `raw` and the record `record` (any where ""), which only the volume's
// check knows (root's may be refused first by what root sees holding the
// image).
void expect_each_refused(const std::string& how, const std::string& dir, const std::vector<std::string>& args,
                         const std::string& redirect, const std::string& raw, const std::string& record) {
  const size_t at = redirect.find_first_not_of("2>&");
  const std::string file = dir + "/" + redirect.substr(at);
  const bool emptied = redirect.compare(0, at, ">") == 0;
  for (const std::string& who : {std::string(), as_nobody()}) {
    const std::string says =
        who.empty() ? "" : " of the evidence " + raw + " (record " + record + (record.empty() ? "" : ")");
    expect_refused({{std::string(who_is(who)) + ": " + how + ": " + redirect, dir, args, redirect, who}},
                   emptied ? std::vector<std::string>() : std::vector<std::string>{file}, {}, says);
    if (emptied) {
      EXPECT_EQ(read_whole(file), "") << who_is(who) << ": " << how << ": " << redirect;
    }
  }
}

// Windows gives DOS names (ntfs-3g takes them through setfattr), and
// ntfs-3g answers a path made of them; lowntfs-3g with ignore_case answers
// a path in any case. Through either, each mounted from root's writable
// export of the image so that the examiner sees no server holding it, a
// file so named is the evidence's own record: appended to, standard error
// appended to, replaced. The image keeps every file as it was, but the one
// the shell itself emptied.
TEST(TimeProof, DosAndFoldedNamesOfAMountNumberingAsNtfsAreTheEvidence) {
  if (!have_oracles()) GTEST_SKIP() << "fls, icat, ifind, setpriv or setfattr not installed";
  const std::string dir = folder("names"), ev = folder("names/ev");
  const std::string raw = copy_fixture("links.img", "names/ev/raw.img");
  ASSERT_FALSE(raw.empty());
  const std::string svi = "System Volume Information", notes = svi + "/case notes 1.txt";
  std::string why;
  if (!shaped(raw, dir + "/first",
              "mkdir " + quote(svi) + " && echo notes > " + quote(notes) +
                  " && setfattr -n system.ntfs_dos_name -v SYSTEM~1 " + quote(svi) +
                  " && setfattr -n system.ntfs_dos_name -v CASENO~1.TXT " + quote(notes) +
                  " && mkdir -p sub deep/l01/l02 && echo one > sub/file-1.txt && echo six > sub/file-6.txt" +
                  " && echo t > deep/l01/l02/t.txt",
              why))
    GTEST_SKIP() << why;
  ASSERT_EQ(::chmod(raw.c_str(), 0644), 0);
  const std::string listed = fls_of(raw);
  const std::vector<std::string> args = {"-image", "ev/raw.img", "-all", "-csv"};
  const std::string blockdev = "--blockdev " + quote("driver=file,filename=" + raw + ",node-name=r");
  {
    block_export dos(folder("names/dos"), blockdev, "r");
    if (!dos.ok()) GTEST_SKIP() << dos.why();
    open_to_nobody({dir, ev, dir + "/dos"});
    for (const char* redirect : {">>dos/nr/SYSTEM~1/CASENO~1.TXT", "2>>dos/nr/SYSTEM~1/CASENO~1.TXT"})
      expect_each_refused("a DOS-named file", dir, args, redirect, raw, record_of(raw, "/" + notes));
  }
  ASSERT_TRUE(wait_until_unheld(raw));
  {
    block_export folded(folder("names/folded"), blockdev, "r", "lowntfs-3g -o allow_other,noatime,ignore_case");
    if (!folded.ok()) GTEST_SKIP() << folded.why();
    open_to_nobody({dir, ev, dir + "/folded"});
    const struct {
      std::string redirect, path;
    } rows[] = {{">>folded/nr/SUB/FILE-1.TXT", "/sub/file-1.txt"},
                {">folded/nr/SUB/FILE-6.TXT", "/sub/file-6.txt"},
                {">>folded/nr/DEEP/L01/L02/T.TXT", "/deep/l01/l02/t.txt"}};
    for (const auto& r : rows)
      expect_each_refused("a case-folded path", dir, args, r.redirect, raw, record_of(raw, r.path));
  }
  ASSERT_TRUE(wait_until_unheld(raw));
  EXPECT_EQ(fls_of(raw), listed);
  EXPECT_EQ(volume_file_text(raw, "/" + notes), "notes\n");
  EXPECT_EQ(volume_file_text(raw, "/sub/file-1.txt"), "one\n");
  EXPECT_EQ(volume_file_text(raw, "/sub/file-6.txt"), "");
  EXPECT_EQ(volume_file_text(raw, "/deep/l01/l02/t.txt"), "t\n");
}

// What the examiner's image holds beside links.img's own for the
// guestmount rows: files to rename, delete and append to.
const char* const kGuestFiles =
    "echo r > renamed.txt && echo g > gone.txt && mkdir -p sub deep/l01 && echo m > sub/moved.txt"
    " && echo k > sub/keep.txt && echo n > deep/l01/notes.txt";

// Root's read-write guestmount of the image, open to every user. A file
// saved through it is written back to the image some seconds later, while
// the mount shows the folders' attributes it cached before; a rename and a
// delete reach the image 20 seconds or more after they are made. Runs
// while the image and the mount disagree so, each by root and by nobody, into the mount, through bindfs and mergerfs
// views of its folders (a view over a view among them) and a kernel bind
// mount of one: each is refused. Once the appliance wrote the image back,
// each file holds what it held.
TEST(TimeProof, GuestmountAfterFilesSavedRenamedAndDeletedThroughItIsTheEvidence) {
  if (!have_oracles()) GTEST_SKIP() << "fls, icat, ifind, setpriv or setfattr not installed";
  const std::string dir = folder("gm-lag"), ev = folder("gm-lag/ev");
  const std::string raw = copy_fixture("links.img", "gm-lag/ev/g.img");
  ASSERT_FALSE(raw.empty());
  std::string why;
  if (!shaped(raw, dir + "/first", kGuestFiles, why)) GTEST_SKIP() << why;
  ASSERT_EQ(::chmod(raw.c_str(), 0644), 0);
  open_to_nobody({dir, ev});
  const std::string top = record_of(raw, "/real/top.txt"), notes = record_of(raw, "/deep/l01/notes.txt"),
                    keep = record_of(raw, "/sub/keep.txt");
  const std::vector<std::string> args = {"-image", "ev/g.img", "-all", "-csv"},
                                 by_entry = {"-image", "ev/g.img", "-mft", "5", "-csv"};
  {
    guest_mount gm(raw, "raw", dir + "/g");
    if (!gm.ok()) GTEST_SKIP() << gm.why();
    const std::string g = dir + "/g";
    pass_through real_b("bindfs", g + "/real", dir + "/rb", false, "-o allow_other");
    pass_through real_m("mergerfs", g + "/real", dir + "/rm", false, "-o allow_other");
    pass_through deep_m("mergerfs", g + "/deep", dir + "/dm", false, "-o allow_other");
    if (!real_b.ok() || !real_m.ok() || !deep_m.ok()) GTEST_SKIP() << real_b.why() << real_m.why() << deep_m.why();
    pass_through deep_mb("bindfs", dir + "/dm", dir + "/dmb", false, "-o allow_other");
    if (!deep_mb.ok()) GTEST_SKIP() << deep_mb.why();
    layer_stack kernel;
    const std::string sb = folder("gm-lag/sb");
    if (!kernel.need({"mount"}) || !kernel.step("mount --bind " + quote(g + "/sub") + " " + quote(sb)))
      GTEST_SKIP() << kernel.why();
    kernel.on_undo([sb] {
      std::string ignored;
      run_command("umount " + quote(sb) + " 2>/dev/null || umount -l " + quote(sb) + " 2>/dev/null", ignored);
    });
    // What the mount shows now is what it keeps showing for a while.
    std::string ignored;
    ASSERT_EQ(
        run_command("ls -la " + quote(g) + " " + quote(g + "/real") + " " + quote(g + "/sub") + " >/dev/null", ignored),
        0);

    ASSERT_TRUE(gm.step("echo data > " + quote(g + "/real/c.txt")));
    ASSERT_TRUE(within(60, [&] { return !record_of(raw, "/real/c.txt").empty(); }))
        << "the appliance did not write real/c.txt back";
    expect_each_refused("a new listing after a file was saved", dir, args, ">g/x.csv", raw, "");
    expect_each_refused("a listing of the root by its entry", dir, by_entry, ">g/m5.csv", raw, "");
    expect_each_refused("appended to a file of the folder saved into", dir, args, ">>g/real/top.txt", raw, top);
    expect_each_refused("through bindfs of that folder", dir, args, ">>rb/top.txt", raw, top);
    expect_each_refused("through mergerfs of that folder", dir, args, ">>rm/top.txt", raw, top);

    ASSERT_TRUE(gm.step("cd " + quote(g) + " && mv renamed.txt renamed-x.txt && rm gone.txt && mv sub/moved.txt " +
                        "sub/moved-x.txt"));
    const bool lagging = !record_of(raw, "/renamed.txt").empty();
    expect_each_refused("a new listing after a rename and a delete", dir, args, ">g/t.csv", raw, "");
    expect_each_refused("through a kernel bind mount of the folder renamed in", dir, args, ">>sb/keep.txt", raw, keep);
    expect_each_refused("through bindfs over mergerfs", dir, args, ">>dmb/l01/notes.txt", raw, notes);
    if (!lagging) std::printf("note: the rename reached the image before the runs that should see it lag\n");
  }
  ASSERT_TRUE(wait_until_unheld(raw));
  EXPECT_EQ(volume_file_text(raw, "/real/top.txt"), volume_file_text(fixture("links.img"), "/real/top.txt"));
  EXPECT_EQ(volume_file_text(raw, "/real/c.txt"), "data\n");
  EXPECT_EQ(volume_file_text(raw, "/sub/keep.txt"), "k\n");
  EXPECT_EQ(volume_file_text(raw, "/deep/l01/notes.txt"), "n\n");
  for (const char* made : {"/x.csv", "/m5.csv", "/t.csv"}) EXPECT_EQ(volume_file_text(raw, made), "") << made;
}

// The same after a write into a guestmount of a VMDK snapshot (the run
// reading the chain), and of the second NTFS partition of a disk after a
// rename there, whose run reads that partition by its offset: refused, the
// record named.
TEST(TimeProof, GuestmountsOfASnapshotAndOfAPartitionAfterWritesAreTheEvidence) {
  if (!have_oracles() || !have_program("qemu-img") || !have_program("sfdisk"))
    GTEST_SKIP() << "fls, icat, ifind, setpriv, setfattr, qemu-img or sfdisk not installed";
  const std::string dir = folder("gm-kinds"), ev = folder("gm-kinds/ev");
  const std::string raw = copy_fixture("links.img", "gm-kinds/ev/raw.img"),
                    second = copy_fixture("links.img", "gm-kinds/second.img"),
                    first = copy_fixture("sample.img", "gm-kinds/first.img");
  ASSERT_FALSE(raw.empty() || second.empty() || first.empty());
  std::string why, ignored;
  if (!shaped(raw, dir + "/m1", kGuestFiles, why) ||
      !shaped(second, dir + "/m2", "echo 'NTFS two' > NTFS.TXT && echo a > a.txt", why))
    GTEST_SKIP() << why;
  // An MBR disk: the sample volume at 1 MiB, the second beside it.
  const long long mib = 1 << 20;
  struct stat one, two;
  ASSERT_EQ(::stat(first.c_str(), &one), 0);
  ASSERT_EQ(::stat(second.c_str(), &two), 0);
  const long long second_at = mib + (one.st_size + mib - 1) / mib * mib;
  const std::string disk = ev + "/disk.dd";
  ASSERT_EQ(run_command("truncate -s " + std::to_string(second_at + two.st_size + mib) + " " + quote(disk) +
                            " && printf 'start=2048, size=" + std::to_string(one.st_size / 512) +
                            ", type=7\\nstart=" + std::to_string(second_at / 512) +
                            ", size=" + std::to_string(two.st_size / 512) + ", type=7\\n' | sfdisk -q " + quote(disk) +
                            " && dd if=" + quote(first) + " of=" + quote(disk) + " bs=1M seek=1 conv=notrunc" +
                            " status=none && dd if=" + quote(second) + " of=" + quote(disk) +
                            " bs=512 seek=" + std::to_string(second_at / 512) + " conv=notrunc status=none",
                        ignored),
            0)
      << ignored;
  ASSERT_EQ(run_command("cd " + quote(ev) + " && qemu-img convert -f raw -O vmdk raw.img base.vmdk" +
                            " && qemu-img create -q -f vmdk -b base.vmdk -F vmdk child.vmdk" +
                            " && chmod 0644 raw.img base.vmdk child.vmdk disk.dd",
                        ignored),
            0);
  open_to_nobody({dir, ev});
  const std::string top = record_of(raw, "/real/top.txt"), ntfs_txt = record_of(second, "/NTFS.TXT");
  {
    guest_mount gm(ev + "/child.vmdk", "vmdk", dir + "/g");
    if (!gm.ok()) GTEST_SKIP() << gm.why();
    ASSERT_EQ(run_command("ls -la " + quote(dir + "/g") + " " + quote(dir + "/g/real") + " >/dev/null", ignored), 0);
    ASSERT_TRUE(gm.step("echo data > " + quote(dir + "/g/real/c.txt") + " && sync"));
    ::sleep(10);
    const std::vector<std::string> chain = {"-vmdk", "ev/child.vmdk", "-vmdk", "ev/base.vmdk", "-all", "-csv"};
    for (const std::string& redirect : {std::string(">g/x.csv"), std::string(">>g/real/top.txt")}) {
      const bool appends = redirect[1] == '>';
      for (const std::string& who : {std::string(), as_nobody()}) {
        const std::string says = who.empty() ? "" : appends ? "(record " + top + ")" : " of the evidence ";
        expect_refused(
            {{std::string(who_is(who)) + ": the snapshot's guestmount: " + redirect, dir, chain, redirect, who}},
            appends ? std::vector<std::string>{dir + "/g/real/top.txt"} : std::vector<std::string>(), {}, says);
      }
    }
  }
  {
    guest_mount gm(disk, "raw", dir + "/g2", "/dev/sda2");
    if (!gm.ok()) GTEST_SKIP() << gm.why();
    ASSERT_EQ(run_command("ls -la " + quote(dir + "/g2") + " >/dev/null", ignored), 0);
    ASSERT_TRUE(gm.step("mv " + quote(dir + "/g2/a.txt") + " " + quote(dir + "/g2/a-x.txt")));
    for (const long long offset : {second_at, mib}) {
      const std::vector<std::string> args = {"-image", "ev/disk.dd", "-offset", std::to_string(offset), "-all", "-csv"};
      for (const std::string& who : {std::string(), as_nobody()})
        expect_refused(
            {{std::string(who_is(who)) + ": the second partition's guestmount, the run at " + std::to_string(offset),
              dir, args, ">>g2/NTFS.TXT", who}},
            {dir + "/g2/NTFS.TXT"}, {}, who.empty() ? "" : "(record " + ntfs_txt + ")");
    }
  }
  ASSERT_TRUE(wait_until_unheld(disk));
  std::string now;
  ASSERT_EQ(run_command("dd if=" + quote(disk) + " bs=512 skip=" + std::to_string(second_at / 512) + " count=" +
                            std::to_string(two.st_size / 512) + " status=none of=" + quote(dir + "/second-now.img"),
                        ignored),
            0);
  EXPECT_EQ(volume_file_text(dir + "/second-now.img", "/NTFS.TXT"), "NTFS two\n");
}

// A cp -a copy of the volume's files keeps their names, sizes and
// modification times to the tick, never their change times: a case folder
// holding such a copy of the root takes every stream form, root's runs and
// nobody's, as the local disk takes them, through bindfs, mergerfs and
// unionfs-fuse, and through rclone's local remote, which shows modification
// times as change times: a folder made since, whose two times are one, then
// proves nothing, the view seen to echo by a file whose two times differ
// (sample.img's root holds such; links.img's holds them only in links,
// which rclone does not show).
TEST(TimeProof, CopyOfTheVolumesFoldersTakesTheListingThroughEveryView) {
  if (!have_oracles()) GTEST_SKIP() << "fls, icat, ifind, setpriv or setfattr not installed";
  const std::string dir = folder("copied"), ev = folder("copied/ev"), local = folder("copied/local");
  open_to_nobody({dir, ev, local});
  ASSERT_EQ(::chmod(local.c_str(), 0777), 0);
  const struct {
    std::string image, below;
    std::vector<std::string> views;
  } copies[] = {{"links.img", "/real", {"bindfs", "mergerfs", "unionfs"}},
                {"sample.img", "/Documents", {"rclone :local:"}}};
  for (const auto& c : copies) {
    const std::string raw = copy_fixture(c.image, "copied/ev/" + c.image), copy = folder("copied/" + c.image);
    ASSERT_FALSE(raw.empty());
    {
      layer_stack from;
      if (!mount_ntfs(from, raw, dir + "/n") ||
          !from.step("mkdir " + quote(dir + "/n/case-new") + " && cp -a " + quote(dir + "/n/.") + " " + quote(copy) +
                     " && chmod -R a+rwX " + quote(copy)))
        GTEST_SKIP() << from.why();
    }
    ASSERT_TRUE(wait_until_unheld(raw));
    ASSERT_EQ(::chmod(raw.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(copy.c_str(), 0777), 0);
    const std::string listed = fls_of(raw);
    const quor_call run = {"", dir, {"-image", "ev/" + c.image, "-all", "-csv"}, "", ""};
    for (const std::string& kind : c.views) {
      pass_through view(kind, copy, dir + "/" + c.image + "-" + kind.substr(0, kind.find(' ')), false,
                        kind == "rclone :local:" ? "--allow-other" : "-o allow_other");
      if (!view.ok()) GTEST_SKIP() << kind << ": " << view.why();
      for (const std::string& who : {std::string(), as_nobody()})
        for (const stream_form& f : stream_forms()) {
          quor_call each = run;
          each.how = std::string(who_is(who)) + ": a copy of " + c.image + " through " + kind;
          each.prefix = who;
          expect_written(each, f, view.shows + c.below, local + "/reference");
        }
    }
    EXPECT_EQ(fls_of(raw), listed);
  }
}

// An exhibit fresh from the format and an examiner's NTFS case drive fresh
// from it too, both with mkntfs -T (the same whole-second times, no user
// name): the drive holds nothing of the exhibit's, so the listing is written
// onto it, through ntfs-3g and through bindfs without extended attributes,
// by root and by nobody, as onto the local disk.
TEST(TimeProof, FreshExhibitsListingOntoAFreshNtfsCaseDriveIsWritten) {
  if (!have_program("mkntfs") || !have_program("setpriv")) GTEST_SKIP() << "mkntfs or setpriv not installed";
  const std::string dir = folder("fresh"), ev = folder("fresh/ev"), local = folder("fresh/local");
  const std::string exhibit = ev + "/exhibit.img", drive = dir + "/drive.img";
  layer_stack made;
  if (!made.step("truncate -s 8M " + quote(exhibit) + " " + quote(drive) + " && mkntfs -q -F -f -T " + quote(exhibit) +
                 " && mkntfs -q -F -f -T " + quote(drive) + " && chmod 0644 " + quote(exhibit)))
    GTEST_SKIP() << made.why();
  if (!made.mount("ntfs-3g -o allow_other " + quote(drive) + " " + quote(dir + "/d"), dir + "/d"))
    GTEST_SKIP() << made.why();
  pass_through bare("bindfs", dir + "/d", dir + "/db", false, "--xattr-none -o allow_other");
  if (!bare.ok()) GTEST_SKIP() << bare.why();
  open_to_nobody({dir, ev, local});
  ASSERT_EQ(::chmod(local.c_str(), 0777), 0);
  const quor_call run = {"", dir, {"-image", "ev/exhibit.img", "-all", "-csv"}, "", ""};
  for (const std::string& on : {dir + "/d", bare.at})
    for (const std::string& who : {std::string(), as_nobody()})
      for (const stream_form& f : stream_forms()) {
        quor_call each = run;
        each.how = std::string(who_is(who)) + ": onto " + on;
        each.prefix = who;
        expect_written(each, f, on, local + "/reference");
      }
}

// A volume whose root holds 2,000 files, and a case folder holding a copy
// of each (names, sizes and modification times as the volume's) seen
// through root's unionfs-fuse, whose branch the examiner sees named
// nowhere: the examiner's listing into the view is written after a few
// names were looked up through it, never each of the 2,000.
TEST(TimeProof, CaseFolderHoldingTheRootsNamesCostsAFewLookups) {
  if (!have_program("strace") || !have_program("mkntfs") || !have_program("setpriv"))
    GTEST_SKIP() << "strace, mkntfs or setpriv not installed";
  const std::string dir = folder("lookups"), image = dir + "/ev.img", copy = folder("lookups/case");
  layer_stack made;
  if (!made.step("truncate -s 32M " + quote(image) + " && mkntfs -q -F -f " + quote(image)) ||
      !mount_ntfs(made, image, dir + "/n") ||
      !made.step("cd " + quote(dir + "/n") +
                 " && for i in $(seq -w 1 2000); do echo $i > note$i.txt; done && cp -a . " + quote(copy)))
    GTEST_SKIP() << made.why();
  made.undo_all();
  ASSERT_TRUE(wait_until_unheld(image));
  pass_through view("unionfs", copy, dir + "/m", false, "-o allow_other");
  if (!view.ok()) GTEST_SKIP() << view.why();
  open_to_nobody({dir, copy});
  ASSERT_EQ(::chmod(image.c_str(), 0644), 0);
  ASSERT_EQ(::chmod(copy.c_str(), 0777), 0);
  const std::string log = dir + "/strace.log";
  std::string said;
  // A leak check stops the process by ptrace, which a traced process cannot take.
  EXPECT_EQ(run_command("ASAN_OPTIONS=detect_leaks=0 strace -f -qq -e trace=/stat -o " + quote(log) + " " +
                            as_nobody() + quote(quor_exe()) + " -image " + quote(image) + " -mft 5 -csv > " +
                            quote(view.at + "/list.csv") + " 2>&1",
                        said),
            0)
      << said;
  EXPECT_NE(read_whole(view.at + "/list.csv").find("note0001.txt"), std::string::npos);
  const auto names_asked = [&log] {
    size_t asked = 0;
    for (const std::string& line : lines_of(read_whole(log))) asked += line.find("\"note") != std::string::npos;
    return asked;
  };
  EXPECT_GT(names_asked(), 0u) << "no name of the root was looked up through the view";
  EXPECT_LE(names_asked(), 24u) << "names of the root looked up through the view";
  // Through a view whose folder behind it root sees (mergerfs's branch), that folder is asked,
  // and the view of no name.
  pass_through pool("mergerfs", copy, dir + "/p", false, "-o minfreespace=0");
  if (!pool.ok()) GTEST_SKIP() << pool.why();
  EXPECT_EQ(run_command("ASAN_OPTIONS=detect_leaks=0 strace -f -qq -e trace=/stat -o " + quote(log) + " " +
                            quote(quor_exe()) + " -image " + quote(image) + " -mft 5 -csv > " +
                            quote(pool.at + "/list.csv") + " 2>&1",
                        said),
            0)
      << said;
  EXPECT_EQ(names_asked(), 0u) << "names of the root looked up through a view whose folder is asked";
}

}  // namespace
