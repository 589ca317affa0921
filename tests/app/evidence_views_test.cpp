// The volume quor reads answers for its own files wherever someone mounts
// it read-write and whatever view shows them: a folder of root's guestmount
// seen through a kernel bind mount, bindfs, mergerfs or a bwrap sandbox;
// that guestmount after names were made through it; ntfs-3g over a writable
// block export, seen by another user through mergerfs, bindfs and rclone,
// a view ten folders deep among them; a configured rclone remote holding
// an ntfs-3g mount; another partition of the disk the run reads. Each
// stream into such a file ends with status 255, says that the file is one
// of the evidence, and leaves the volume as it was (fls and icat of the
// image, its digest where nothing else wrote it). A run whose source does
// not open writes nothing into a mount of the image. A view of a plain
// local folder takes the listing as the local disk does.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/app/quor_run.h"
#include "tests/support/child_process.h"
#include "tests/support/layer_setups.h"

namespace {

using namespace quor_test;

// The record the volume of the raw image `raw` gives `path`, by ifind; ""
// when it has none.
std::string record_of(const std::string& raw, const std::string& path) {
  std::string entry;
  if (run_command("ifind -n " + quote(path) + " " + quote(raw) + " 2>/dev/null", entry) != 0) return "";
  while (!entry.empty() && (entry.back() == '\n' || entry.back() == ' ')) entry.pop_back();
  return entry;
}

// The refusal of a stream into `output` that is the volume's `in_volume`
// (its path there, with backslashes), read from the evidence `source`:
// the text up to the record's number.
std::string own_file(const std::string& output, const std::string& in_volume, const std::string& source) {
  return "refused to write: " + output + ": it is " + in_volume + " of the evidence " + source + " (record ";
}

// fls's lines of the live files of the raw image `raw`, but those whose path
// is one of `made` (names the shell made through a mount for a stream that
// was then refused): what a refused run leaves as it was, whatever records
// the names made took (freed records and the orphan folder fls numbers
// after the last record come and go with them).
std::string live_listing(const std::string& raw, const std::set<std::string>& made) {
  std::string out;
  if (run_command("fls -r -p " + quote(raw) + " 2>&1", out) != 0) return "fls failed: " + out;
  std::string kept;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos || line.find(" * ") != std::string::npos || line.compare(0, 3, "V/V") == 0 ||
        line.find("$OrphanFiles") != std::string::npos || made.count(line.substr(tab + 1)))
      continue;
    kept += line + "\n";
  }
  return kept;
}

// Why bwrap cannot start here for the shell text `who` (as_nobody() or
// root's ""); "" when it can.
std::string bwrap_cannot_start(const std::string& who) {
  std::string ignored;
  if (!have_program("bwrap")) return "bwrap not installed";
  return run_command(who + "bwrap --dev-bind / / --unshare-pid true >/dev/null 2>&1", ignored) == 0
             ? ""
             : "bwrap does not start here" + std::string(who.empty() ? "" : " for nobody");
}

// The shell text that runs the command after it in bwrap's sandbox of its
// own PID namespace over the host's root, with `shown` bound at `at`, its
// standard output appended to `into` there.
std::string sandbox_with_bound_folder(const std::string& shown, const std::string& at, const std::string& into) {
  return "bwrap --dev-bind / / --bind " + quote(shown) + " " + quote(at) + " --unshare-pid sh -c " +
         quote("exec \"$@\" >>" + quote(into)) + " sh ";
}

// What a file that should be empty holds, told short: its size and head.
std::string held(const std::string& text) {
  return std::to_string(text.size()) + " bytes: " + text.substr(0, 80);
}

const char* who_is(const std::string& who) { return who.empty() ? "root" : "nobody"; }

// Root's read-write guestmount of the image, open to every user: its folder
// /real shown by a kernel bind mount, bindfs and mergerfs, and bound into a
// bwrap sandbox. Each view's top stands for /real of the volume, so a
// stream into top.txt there is \real\top.txt of the evidence, root's or
// nobody's, as it is through the guestmount itself. fls and icat of the
// image show it as it was once the appliance wrote it back.
TEST(EvidenceViews, StreamsIntoViewsOfAFolderOfAGuestmountAreRefused) {
  if (!have_program("fls") || !have_program("icat") || !have_program("ifind") || !have_program("setpriv"))
    GTEST_SKIP() << "fls, icat, ifind or setpriv not installed";
  const std::string dir = folder("gm-views"), ev = folder("gm-views/ev"), bound = folder("gm-views/case");
  open_to_nobody({dir, ev, bound});
  const std::string image = copy_fixture("links.img", "gm-views/ev/g.img");
  ASSERT_FALSE(image.empty());
  ASSERT_EQ(::chmod(image.c_str(), 0644), 0);
  const std::string listed = fls_of(image), top = volume_file_text(image, "/real/top.txt");
  ASSERT_EQ(top.size(), 10u) << top;
  const std::string record = record_of(image, "/real/top.txt");
  ASSERT_FALSE(record.empty());
  const std::vector<std::string> args = {"-image", "ev/g.img", "-all", "-csv"};
  std::string skipped;
  {
    guest_mount gm(image, "raw", dir + "/g");
    if (!gm.ok()) GTEST_SKIP() << gm.why();
    const std::string real = dir + "/g/real";
    std::vector<std::string> views = {"g/real"};
    // Undone by its unmount alone: the server of the mount it binds goes
    // on serving the guestmount.
    layer_stack kernel;
    const std::string gb = folder("gm-views/gb");
    if (kernel.need({"mount"}) && kernel.step("mount --bind " + quote(real) + " " + quote(gb))) {
      kernel.on_undo([gb] {
        std::string ignored;
        run_command("umount " + quote(gb) + " 2>/dev/null || umount -l " + quote(gb) + " 2>/dev/null", ignored);
      });
      views.push_back("gb");
    } else {
      skipped += " mount --bind: " + kernel.why();
    }
    pass_through by_bindfs("bindfs", real, dir + "/gbx", false, "-o allow_other");
    if (by_bindfs.ok())
      views.push_back("gbx");
    else
      skipped += " bindfs: " + by_bindfs.why();
    pass_through by_mergerfs("mergerfs", real, dir + "/gmf", false, "-o allow_other");
    if (by_mergerfs.ok())
      views.push_back("gmf");
    else
      skipped += " mergerfs: " + by_mergerfs.why();
    for (const std::string& view : views)
      for (const std::string& who : {std::string(), as_nobody()}) {
        const std::string out = view + "/top.txt";
        expect_refused({{std::string(who_is(who)) + ": appended to " + out, dir, args, ">>" + out, who}},
                       {real + "/top.txt"}, {}, own_file(dir + "/" + out, "\\real\\top.txt", image) + record + ")");
      }
    for (const std::string& who : {std::string(), as_nobody()}) {
      const std::string why = bwrap_cannot_start(who);
      if (!why.empty()) {
        skipped += " " + why + ";";
        continue;
      }
      const std::string out = bound + "/top.txt";
      expect_refused({{std::string(who_is(who)) + ": appended to top.txt bound into a bwrap sandbox", dir, args, "",
                       who + sandbox_with_bound_folder(real, bound, out)}},
                     {real + "/top.txt"}, {}, own_file(out, "\\real\\top.txt", image) + record + ")");
    }
  }
  EXPECT_EQ(fls_of(image), listed);
  EXPECT_EQ(volume_file_text(image, "/real/top.txt"), top);
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// Names made through root's guestmount of the image, which the image the
// run opens does not hold yet, stand for nothing: twelve runs of root's and
// twelve of nobody's in a row, each into a new file of the mount's root,
// are each refused, and so is a stream into existing.txt after nine more
// names were touched there. Once the appliance wrote the image back, every
// new file is empty, existing.txt holds what it held, and fls shows the
// volume's live files as before.
TEST(EvidenceViews, StreamsIntoAGuestmountAfterNamesMadeThroughItAreRefused) {
  if (!have_program("fls") || !have_program("icat") || !have_program("ifind") || !have_program("setpriv"))
    GTEST_SKIP() << "fls, icat, ifind or setpriv not installed";
  const std::string dir = folder("gm-names"), ev = folder("gm-names/ev");
  open_to_nobody({dir, ev});
  const std::string image = copy_fixture("links.img", "gm-names/ev/g.img");
  ASSERT_FALSE(image.empty());
  std::string put_why;
  if (!put_existing(image, dir + "/pn", put_why)) GTEST_SKIP() << put_why;
  ASSERT_TRUE(wait_until_unheld(image));
  ASSERT_EQ(::chmod(image.c_str(), 0644), 0);
  std::set<std::string> made;
  const std::string listed = live_listing(image, made);
  const std::vector<std::string> args = {"-image", "ev/g.img", "-all", "-csv"};
  const int kBatch = 12, kTouched = 9;
  {
    guest_mount gm(image, "raw", dir + "/g");
    if (!gm.ok()) GTEST_SKIP() << gm.why();
    int run = 0;
    for (const std::string& who : {std::string(), as_nobody()})
      for (int i = 0; i < kBatch; ++i) {
        const std::string name = "batch" + std::to_string(++run) + ".csv", out = dir + "/g/" + name;
        made.insert(name);
        expect_refused({{std::string(who_is(who)) + ": a new listing, run " + std::to_string(run), dir, args,
                         ">" + quote(out), who}},
                       {}, {}, own_file(out, "\\" + name, image));
        const std::string text = read_whole(out);
        EXPECT_TRUE(text.empty()) << name << " holds " << held(text);
      }
    for (int i = 1; i <= kTouched; ++i) {
      const std::string name = "t" + std::to_string(i);
      made.insert(name);
      ASSERT_TRUE(gm.step("touch " + quote(dir + "/g/" + name))) << gm.why();
    }
    for (const std::string& who : {std::string(), as_nobody()})
      expect_refused({{std::string(who_is(who)) + ": appended to existing.txt after " + std::to_string(kTouched) +
                           " names touched",
                       dir, args, ">>g/existing.txt", who}},
                     {dir + "/g/existing.txt"}, {}, own_file(dir + "/g/existing.txt", "\\existing.txt", image));
  }
  for (int i = 1; i <= 2 * kBatch; ++i) {
    const std::string name = "/batch" + std::to_string(i) + ".csv";
    const std::string text = volume_file_text(image, name);
    EXPECT_TRUE(text.empty()) << name << " holds " << held(text);
  }
  EXPECT_EQ(volume_file_text(image, "/existing.txt"), "already there\n");
  EXPECT_EQ(live_listing(image, made), listed);
}

// The folders lvl1/lvl2/.../lvl10, each holding f<level>.txt, put into
// `image` through a first ntfs-3g mount at `at`, unmounted again.
bool put_levels(layer_stack& stack, const std::string& image, const std::string& at) {
  layer_stack first;
  std::string make = "cd " + quote(at);
  for (int level = 1; level <= 10; ++level)
    make += " && mkdir lvl" + std::to_string(level) + " && cd lvl" + std::to_string(level) + " && echo 'level " +
            std::to_string(level) + "' > f" + std::to_string(level) + ".txt";
  if (!mount_ntfs(first, image, at) || !first.step(make)) return stack.fail(first.why());
  first.undo_all();
  return wait_until_unheld(image) || stack.fail("ntfs-3g did not let " + image + " go");
}

// The path of f<level>.txt below the folder lvl<from> (below the root for
// 0), its folders parted by `sep`.
std::string level_path(int level, int from, const std::string& sep) {
  std::string path;
  for (int l = from + 1; l <= level; ++l) path += "lvl" + std::to_string(l) + sep;
  return path + "f" + std::to_string(level) + ".txt";
}

// Root's writable FUSE export of the image by qemu-storage-daemon, mounted
// by ntfs-3g, and views of its folders open to every user: mergerfs and
// bindfs (without extended attributes) of /real, rclone's local remote of
// /lvl1 with its write cache, mergerfs of /lvl1/lvl2. Each view's top
// stands for the folder it shows, and nobody's stream into a file below it
// is that file of the evidence, ten folders down as at the top; root's is
// refused too. The image keeps its digest, and icat shows each file as it
// was.
TEST(EvidenceViews, StreamsThroughViewsOfNtfs3gOverABlockExportAreRefused) {
  if (!have_program("fls") || !have_program("icat") || !have_program("ifind") || !have_program("setpriv"))
    GTEST_SKIP() << "fls, icat, ifind or setpriv not installed";
  const std::string dir = folder("qsd-views"), ev = folder("qsd-views/ev"), at = folder("qsd-views/x");
  const std::string image = copy_fixture("links.img", "qsd-views/ev/img.dd");
  ASSERT_FALSE(image.empty());
  {
    layer_stack levels;
    if (!put_levels(levels, image, dir + "/pn")) GTEST_SKIP() << levels.why();
  }
  ASSERT_EQ(::chmod(image.c_str(), 0644), 0);
  const std::string sum = md5_of_file(image), listed = fls_of(image);
  ASSERT_EQ(sum.size(), 32u);
  struct target {
    std::string how, out, in_volume;
  };
  std::vector<target> targets;
  std::string skipped;
  {
    block_export exported(at, "--blockdev " + quote("driver=file,filename=" + image + ",node-name=r"), "r");
    if (!exported.ok()) GTEST_SKIP() << exported.why();
    open_to_nobody({dir, ev, at});
    const std::string n = exported.at;
    pass_through merged("mergerfs", n + "/real", dir + "/mf", false, "-o allow_other");
    if (merged.ok())
      targets.push_back({"mergerfs of /real", "mf/top.txt", "\\real\\top.txt"});
    else
      skipped += " mergerfs: " + merged.why();
    pass_through bound("bindfs", n + "/real", dir + "/bx", false, "-o allow_other --xattr-none");
    if (bound.ok())
      targets.push_back({"bindfs of /real", "bx/top.txt", "\\real\\top.txt"});
    else
      skipped += " bindfs: " + bound.why();
    pass_through remote("rclone", ":local:" + n + "/lvl1", dir + "/rc", false,
                        "--allow-other --vfs-cache-mode writes --vfs-write-back 0s --cache-dir " +
                            quote(dir + "/rc.cache"));
    if (remote.ok())
      targets.push_back({"rclone's :local: of /lvl1", "rc/" + level_path(3, 1, "/"), "\\" + level_path(3, 0, "\\")});
    else
      skipped += " rclone: " + remote.why();
    pass_through deep("mergerfs", n + "/lvl1/lvl2", dir + "/m2", false, "-o allow_other");
    if (deep.ok())
      targets.push_back({"mergerfs of /lvl1/lvl2, ten folders down", "m2/" + level_path(10, 2, "/"),
                         "\\" + level_path(10, 0, "\\")});
    else
      skipped += " mergerfs of /lvl1/lvl2: " + deep.why();
    const std::vector<std::string> args = {"-image", "ev/img.dd", "-all", "-csv"};
    for (const target& t : targets) {
      std::string kept = t.in_volume;
      for (char& c : kept)
        if (c == '\\') c = '/';
      const std::string out = dir + "/" + t.out;
      expect_refused({{"nobody, " + t.how + ": appended to " + t.out, dir, args, ">>" + quote(t.out), as_nobody()}},
                     {n + kept}, {}, own_file(out, t.in_volume, image));
      expect_refused({{"root, " + t.how + ": appended to " + t.out, dir, args, ">>" + quote(t.out)}}, {n + kept}, {},
                     "refused to write: " + out + ": it is ");
    }
    // One allocation refused anywhere in the run (in the volume's check
    // among them: a folder's index, a record) never lets the listing into
    // the volume: the run is refused, or ends for memory.
    if (merged.ok() && allocation_failures_throw()) {
      const std::string kept = md5_of_file(n + "/real/top.txt");
      const std::string preload = open_to_all(QUOR_MEMORY_EXHAUSTION_PRELOAD, "memory-exhaustion.so");
      int failed_runs = 0;
      for (long long at = 0; at < 3000000; at += std::max(1LL, at / 20)) {
        const std::string env = "env QUOR_NEW_FAILS_ONCE=1 QUOR_NEW_FAILS_FROM=" + std::to_string(at) +
                                " LD_PRELOAD=" + quote(preload) + " ";
        std::string said;
        const int status = run_call({"", dir, args, ">>mf/top.txt", as_nobody() + env}, said);
        failed_runs += said.find("running out of memory") != std::string::npos ||
                       said.find("memory ran out") != std::string::npos;
        EXPECT_NE(status, 0) << "allocation " << at << ": " << said.substr(0, 300);
        ASSERT_EQ(md5_of_file(n + "/real/top.txt"), kept) << "allocation " << at << ": " << said.substr(0, 300);
      }
      EXPECT_GT(failed_runs, 0) << "no allocation was refused";
    }
  }
  ASSERT_TRUE(wait_until_unheld(image));
  EXPECT_EQ(md5_of_file(image), sum);
  EXPECT_EQ(fls_of(image), listed);
  EXPECT_EQ(volume_file_text(image, "/real/top.txt").size(), 10u);
  EXPECT_EQ(volume_file_text(image, "/lvl1/" + level_path(3, 1, "/")), "level 3\n");
  EXPECT_EQ(volume_file_text(image, "/" + level_path(10, 0, "/")), "level 10\n");
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// rclone's mount of a remote its configuration file names (type local),
// open to every user, of a folder holding root's ntfs-3g mount of the
// image, with rclone's default cache and with its write cache: a new
// listing there, root's or nobody's (the configuration named to the run as
// to the mount), is a file of the evidence's root. Each stays empty, in the
// mount and in the image, and fls shows the volume's live files as before.
TEST(EvidenceViews, NewListingThroughRcloneOfAConfiguredRemoteHoldingAMountIsRefused) {
  if (!have_program("fls") || !have_program("icat") || !have_program("ifind") || !have_program("setpriv"))
    GTEST_SKIP() << "fls, icat, ifind or setpriv not installed";
  const std::string dir = folder("rclone-remote"), store = folder("rclone-remote/store");
  open_to_nobody({dir, store});
  const std::string image = copy_fixture("links.img", "rclone-remote/ev.img");
  ASSERT_FALSE(image.empty());
  ASSERT_EQ(::chmod(image.c_str(), 0644), 0);
  const std::string config = dir + "/rclone.conf";
  std::ofstream(config) << "[remote]\ntype = local\n";
  ASSERT_EQ(::chmod(config.c_str(), 0644), 0);
  const std::string with_config = "RCLONE_CONFIG=" + quote(config) + " ";
  std::set<std::string> made;
  const std::string listed = live_listing(image, made);
  const std::vector<std::string> args = {"-image", "ev.img", "-all", "-csv"};
  const struct {
    std::string mode, options;
  } modes[] = {{"default", ""}, {"writes", " --vfs-cache-mode writes --vfs-write-back 0s --cache-dir "}};
  for (const auto& m : modes) {
    const std::string at = dir + "/r-" + m.mode;
    {
      layer_stack setup;
      if (!setup.need({"ntfs-3g", "rclone"}) ||
          !setup.mount("ntfs-3g -o allow_other,noatime " + quote(image) + " " + quote(store + "/n"), store + "/n",
                       image) ||
          !setup.mount(with_config + "rclone mount remote:" + quote(store) + " " + quote(at) +
                           " --allow-other --daemon" + (m.options.empty() ? "" : m.options + quote(at + ".cache")),
                       at))
        GTEST_SKIP() << m.mode << ": " << setup.why();
      for (const std::string& who : {std::string(), as_nobody()}) {
        const std::string name = "new-" + m.mode + "-" + who_is(who) + ".csv", out = at + "/n/" + name;
        made.insert(name);
        // The mount's table names the image, which every user may read: it
        // may be refused by what stores the mount before the volume is asked.
        const std::string says = "refused to write: " + out + ": it is ";
        expect_refused({{m.mode + " cache, " + who_is(who) + ": a new listing", dir, args, ">" + quote(out),
                         with_config + who}},
                       {}, {}, says);
        const std::string through = read_whole(out), below = read_whole(store + "/n/" + name);
        EXPECT_TRUE(through.empty()) << name << " holds " << held(through);
        EXPECT_TRUE(below.empty()) << name << " holds in the mount " << held(below);
      }
    }
    ASSERT_TRUE(wait_until_unheld(image));
    for (const std::string& name : made) {
      const std::string text = volume_file_text(image, "/" + name);
      EXPECT_TRUE(text.empty() || text == "(none)") << name << " holds " << held(text);
    }
  }
  EXPECT_EQ(live_listing(image, made), listed);
}

// A run whose source does not open (an offset where no volume begins)
// writes nothing into a mount of the image: the listing file the shell made
// there stays empty, in the mount and in the image. So it is for nobody's
// runs through ntfs-3g over root's writable block export, whose server is
// out of nobody's sight, and for a run of the mounted image itself at the
// wrong offset through root's plain ntfs-3g mount, root's or nobody's. (A
// mount of an image the run does not read, a missing one among them, is the
// examiner's to write: see failed_runs_test.)
TEST(EvidenceViews, RunWhoseSourceDoesNotOpenWritesNothingIntoAMountOfTheImage) {
  if (!have_program("fls") || !have_program("icat") || !have_program("ifind") || !have_program("setpriv"))
    GTEST_SKIP() << "fls, icat, ifind or setpriv not installed";
  const std::string dir = folder("no-source"), ev = folder("no-source/ev"), at = folder("no-source/x");
  const std::string exported_image = copy_fixture("sample.img", "no-source/ev/x.img"),
                    plain_image = copy_fixture("sample.img", "no-source/ev/p.img");
  ASSERT_FALSE(exported_image.empty());
  ASSERT_FALSE(plain_image.empty());
  ASSERT_EQ(::chmod(exported_image.c_str(), 0644), 0);
  ASSERT_EQ(::chmod(plain_image.c_str(), 0644), 0);
  const std::string listed = live_listing(exported_image, {});
  ASSERT_EQ(live_listing(plain_image, {}), listed);
  const std::vector<std::string> wrong_offset = {"-image", "ev/x.img", "-offset", "512"},
                                 plain_wrong_offset = {"-image", "ev/p.img", "-offset", "512"};
  const struct {
    std::string how, who, image, into;
    std::vector<std::string> args;
  } runs[] = {
      {"nobody, ntfs-3g over the block export: an offset where no volume begins", as_nobody(), exported_image,
       "x/nr/Documents/wrong_offset.csv", wrong_offset},
      {"root, ntfs-3g over the block export: an offset where no volume begins", "", exported_image,
       "x/nr/Documents/wrong_offset-root.csv", wrong_offset},
      {"nobody, plain ntfs-3g: an offset where no volume begins", as_nobody(), plain_image,
       "pl/Documents/wrong_offset.csv", plain_wrong_offset},
      {"root, plain ntfs-3g: an offset where no volume begins", "", plain_image, "pl/Documents/wrong_offset-root.csv",
       plain_wrong_offset},
  };
  {
    block_export exported(at, "--blockdev " + quote("driver=file,filename=" + exported_image + ",node-name=r"), "r");
    if (!exported.ok()) GTEST_SKIP() << exported.why();
    layer_stack plain;
    if (!plain.mount("ntfs-3g -o allow_other,noatime " + quote(plain_image) + " " + quote(dir + "/pl"), dir + "/pl",
                     plain_image))
      GTEST_SKIP() << plain.why();
    open_to_nobody({dir, ev, at});
    for (const auto& r : runs) {
      std::vector<std::string> args = r.args;
      args.insert(args.end(), {"-all", "-csv"});
      std::string said;
      EXPECT_EQ(run_call({r.how, dir, args, ">" + quote(r.into), r.who}, said), kFailed) << r.how << ": " << said;
      EXPECT_FALSE(said.empty()) << r.how << ": nothing said why the run ended";
      const std::string text = read_whole(dir + "/" + r.into);
      EXPECT_TRUE(text.empty()) << r.how << ": the file holds " << held(text);
    }
  }
  for (const std::string& image : {exported_image, plain_image}) {
    ASSERT_TRUE(wait_until_unheld(image));
    std::set<std::string> made;
    for (const auto& r : runs) {
      if (r.image != image) continue;
      const std::string name = r.into.substr(r.into.find("/Documents/") + 1);
      made.insert(name);
      const std::string text = volume_file_text(image, "/" + name);
      EXPECT_TRUE(text.empty()) << r.how << ": the image's " << name << " holds " << held(text);
    }
    EXPECT_EQ(live_listing(image, made), listed) << image;
  }
}

// A disk of two NTFS partitions (the first a copy of links.img, the second
// a fresh volume holding NTFS.TXT), both exported writable by one
// qemu-storage-daemon and mounted by ntfs-3g, open to every user. Nobody's
// run of the first partition is refused a stream into the second's
// NTFS.TXT: every volume of the evidence disk answers for its files, and
// the disk keeps its digest. A fresh NTFS volume of no disk the run reads,
// made in the same second as the second partition, takes nobody's and
// root's listing as the local disk does.
TEST(EvidenceViews, StreamIntoAnotherPartitionOfTheEvidenceDiskIsRefused) {
  if (!have_program("fls") || !have_program("icat") || !have_program("ifind") || !have_program("setpriv"))
    GTEST_SKIP() << "fls, icat, ifind or setpriv not installed";
  const std::string dir = folder("two-parts"), local = folder("two-parts/local");
  open_to_nobody({dir});
  ASSERT_EQ(::chmod(local.c_str(), 0777), 0);
  const unsigned long long kSectors = 16384, kFirst = 2048, kSecond = kFirst + kSectors;
  const std::string disk = dir + "/disk.dd", drive = dir + "/drive.img";
  ASSERT_FALSE(copy_fixture("links.img", "two-parts/p1.img").empty());
  {
    layer_stack make;
    if (!make.need({"sfdisk", "mkntfs", "ntfs-3g", "qemu-storage-daemon"})) GTEST_SKIP() << make.why();
    // Both fresh volumes in one step: their roots' creation times are
    // whole seconds, most often the same.
    ASSERT_TRUE(make.step("cd " + quote(dir) +
                          " && truncate -s 8M p2.img drive.img && mkntfs -q -F -f p2.img && mkntfs -q -F -f drive.img"))
        << make.why();
    layer_stack first;
    ASSERT_TRUE(mount_ntfs(first, dir + "/p2.img", dir + "/pn") &&
                first.step("echo 'partition two' > " + quote(dir + "/pn/NTFS.TXT")))
        << first.why();
    first.undo_all();
    ASSERT_TRUE(wait_until_unheld(dir + "/p2.img"));
    ASSERT_TRUE(make.step("cd " + quote(dir) + " && truncate -s " + std::to_string((kSecond + kSectors + 2048) * 512) +
                          " disk.dd && printf 'label: dos\\nstart=" + std::to_string(kFirst) +
                          ", size=" + std::to_string(kSectors) + ", type=7\\nstart=" + std::to_string(kSecond) +
                          ", size=" + std::to_string(kSectors) + ", type=7\\n' | sfdisk -q disk.dd" +
                          " && dd if=p1.img of=disk.dd bs=512 seek=" + std::to_string(kFirst) +
                          " conv=notrunc status=none && dd if=p2.img of=disk.dd bs=512 seek=" +
                          std::to_string(kSecond) + " conv=notrunc status=none && rm p1.img p2.img" +
                          " && chmod 0644 disk.dd drive.img"))
        << make.why();
  }
  const std::string sum = md5_of_file(disk);
  ASSERT_EQ(sum.size(), 32u);
  {
    layer_stack setup;
    std::string nodes, exports;
    for (int p = 1; p <= 2; ++p) {
      const std::string n = std::to_string(p);
      const unsigned long long start = (p == 1 ? kFirst : kSecond) * 512;
      // A file node each: one node under both would be asked by each
      // export to grow, which the other forbids.
      nodes += " --blockdev " + quote("driver=file,filename=" + disk + ",node-name=f" + n + ",locking=off") +
               " --blockdev " + quote("driver=raw,file=f" + n + ",offset=" + std::to_string(start) +
                                      ",size=" + std::to_string(kSectors * 512) + ",node-name=p" + n);
      exports += " --export " + quote("type=fuse,id=e" + n + ",node-name=p" + n + ",mountpoint=" + dir + "/e" + n +
                                      ",writable=on,allow-other=on");
    }
    ASSERT_TRUE(setup.step(": > " + quote(dir + "/e1") + " && : > " + quote(dir + "/e2"))) << setup.why();
    setup.start("qemu-storage-daemon" + nodes + exports, dir + "/qsd.log");
    for (const std::string e : {"/e1", "/e2"}) {
      const std::string shown = dir + e;
      setup.wait_for([shown] { return layer_stack::is_mount_point(shown); }, "the export at " + shown);
    }
    for (const std::string p : {"1", "2"})
      setup.mount("ntfs-3g -o allow_other,noatime " + quote(dir + "/e" + p) + " " + quote(dir + "/p" + p),
                  dir + "/p" + p, dir + "/e" + p);
    if (!setup.ok()) GTEST_SKIP() << setup.why();
    layer_stack other;
    if (!other.mount("ntfs-3g -o allow_other,noatime " + quote(drive) + " " + quote(dir + "/d"), dir + "/d", drive))
      GTEST_SKIP() << other.why();
    const std::vector<std::string> args = {"-image", "disk.dd", "-offset", std::to_string(kFirst * 512), "-all",
                                           "-csv"};
    // The refusal may name the volume of the disk that answered.
    const quor_call into_second = {"nobody: appended to the second partition's NTFS.TXT", dir, args, ">>p2/NTFS.TXT",
                                   as_nobody()};
    expect_refused({into_second}, {dir + "/p2/NTFS.TXT"}, {},
                   "refused to write: " + dir + "/p2/NTFS.TXT: it is \\NTFS.TXT of ");
    std::string said;
    EXPECT_EQ(run_call(into_second, said), kFailed);
    const size_t named = said.find("refused to write: " + dir + "/p2/NTFS.TXT: it is \\NTFS.TXT of ");
    EXPECT_NE(said.find(" of the evidence " + disk + " (record ", named), std::string::npos) << said;
    // The same disk as a VMDK: the other volume of its chain's disk answers.
    std::string converted;
    if (run_command("qemu-img convert -f raw -O vmdk " + quote(disk) + " " + quote(dir + "/disk.vmdk") +
                        " && chmod 0644 " + quote(dir + "/disk.vmdk"),
                    converted) == 0) {
      const quor_call from_vmdk = {"nobody: the disk as a VMDK, into the second partition's NTFS.TXT", dir,
                                   {"-vmdk", "disk.vmdk", "-offset", std::to_string(kFirst * 512), "-all", "-csv"},
                                   ">>p2/NTFS.TXT", as_nobody()};
      expect_refused({from_vmdk}, {dir + "/p2/NTFS.TXT"}, {},
                     "refused to write: " + dir + "/p2/NTFS.TXT: it is \\NTFS.TXT of the volume at offset " +
                         std::to_string(kSecond * 512) + " of the evidence ");
    } else {
      ADD_FAILURE() << "qemu-img could not make a VMDK of the disk: " << converted;
    }
    expect_refused({{"root: appended to the second partition's NTFS.TXT", dir, args, ">>p2/NTFS.TXT"}},
                   {dir + "/p2/NTFS.TXT"}, {}, "refused to write: " + dir + "/p2/NTFS.TXT: it is ");
    for (const std::string& who : {as_nobody(), std::string()})
      expect_written({std::string(who_is(who)) + ": onto another NTFS volume", dir, args, "", who},
                     {"appended to a listing", ">>@", "x.txt", "earlier listing\n"}, dir + "/d", local + "/x.txt");
  }
  ASSERT_TRUE(wait_until_unheld(disk));
  EXPECT_EQ(md5_of_file(disk), sum);
  std::string text;
  EXPECT_EQ(run_command("dd if=" + quote(disk) + " of=" + quote(dir + "/p2.raw") + " bs=512 skip=" +
                            std::to_string(kSecond) + " count=" + std::to_string(kSectors) + " status=none",
                        text),
            0);
  EXPECT_EQ(volume_file_text(dir + "/p2.raw", "/NTFS.TXT"), "partition two\n");
}

// A mergerfs view, open to every user, of a plain folder of the local disk
// beside the image: a listing appended there by root's or nobody's run is
// written byte for byte as onto the local disk.
TEST(EvidenceViews, StreamIntoAMergerfsViewOfALocalFolderIsWritten) {
  if (!have_program("setpriv")) GTEST_SKIP() << "setpriv not installed";
  const std::string dir = folder("merged-local"), branch = folder("merged-local/branch"),
                    local = folder("merged-local/local");
  open_to_nobody({dir});
  ASSERT_EQ(::chmod(branch.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(local.c_str(), 0777), 0);
  const std::string image = copy_fixture("sample.img", "merged-local/ev.img");
  ASSERT_FALSE(image.empty());
  ASSERT_EQ(::chmod(image.c_str(), 0644), 0);
  pass_through view("mergerfs", branch, dir + "/view", false, "-o allow_other");
  if (!view.ok()) GTEST_SKIP() << view.why();
  for (const std::string& who : {std::string(), as_nobody()})
    expect_written({std::string(who_is(who)) + ": mergerfs of a local folder", dir,
                    {"-image", "ev.img", "-all", "-csv"}, "", who},
                   {"appended to a listing", ">>@", "x.txt", "earlier listing\n"}, view.at, local + "/x.txt");
}

}  // namespace
