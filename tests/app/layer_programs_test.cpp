// Each layer under an output is read as its own program reads it, whoever
// runs quor: rclone over bindfs over root's guestmount; rclone remotes that
// name other remotes (a union of a local remote, a combine, aliases); rclone
// configs written in every form rclone reads, and one named relative to the
// server's own folder; configs that are its standard input, a FIFO or a
// link to an endless device, none of which a run waits on; a mergerfs pool
// whose branch list passes 4 KiB; ntfs-3g over a loop device (fuseblk).
// Each holds a read-write mount of the evidence, and every stream into it,
// root's and the examiner's, ends with status 255, says why, and leaves the
// volume as it was (fls of the image, the files the appends aimed at). A
// case drive over a loop device (fuseblk) takes nobody's copy folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tests/app/quor_run.h"
#include "tests/support/layer_setups.h"

namespace {

using namespace quor_test;

// The four ways an examiner sends a run's streams to a file; the appends'
// files are in the evidence's root first, holding `before`.
const stream_form kForms[] = {
    {"appended to a listing", ">>@", "case.csv", "earlier listing\n"},
    {"a new listing", ">@", "new.csv", ""},
    {"standard error appended to a log", "2>>@", "run.log", "earlier log\n"},
    {"both into one new file", ">@ 2>&1", "x.txt", ""},
};

const char* who_is(const std::string& who) { return who.empty() ? "root" : "nobody"; }

// A copy of `fixture_name` as `name` in `dir`, readable by every user, whose
// root holds the appends' files, put there through a first ntfs-3g mount at
// dir/first; "" and why where that fails.
std::string evidence_copy(const std::string& fixture_name, const std::string& dir, const std::string& name,
                          std::string& why) {
  const std::string image = dir + "/" + name;
  layer_stack first;
  if (run_command("cp " + quote(fixture(fixture_name)) + " " + quote(image), why) != 0 ||
      !mount_ntfs(first, image, dir + "/first")) {
    why = first.ok() ? "no copy of " + fixture_name : first.why();
    return "";
  }
  for (const stream_form& f : kForms)
    if (!f.before.empty()) std::ofstream(dir + "/first/" + f.name) << f.before;
  first.undo_all();
  if (!wait_until_unheld(image) || ::chmod(image.c_str(), 0644) != 0) {
    why = "ntfs-3g did not let " + image + " go";
    return "";
  }
  return image;
}

// fls's lines of the live files of `raw` but those whose path is one of
// `made` (names the shell made through a mount for a stream then refused,
// with whatever records they took).
std::string live_listing(const std::string& raw, const std::set<std::string>& made) {
  std::string out, kept;
  if (run_command("fls -r -p " + quote(raw) + " 2>&1", out) != 0) return "fls failed: " + out;
  for (const std::string& line : lines_of(out)) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos || line.find(" * ") != std::string::npos || line.compare(0, 3, "V/V") == 0 ||
        line.find("$OrphanFiles") != std::string::npos || made.count(line.substr(tab + 1)) != 0)
      continue;
    kept += line + "\n";
  }
  return kept;
}

// The run `c` with its streams sent by the form `f` into the file `name` of
// the folder `into`, a folder of the evidence's mount seen through layers,
// is refused: status 255, `says` said where a stream is left to say it, the
// file as it was at `shown` (that folder through the evidence's own mount):
// an append's as the volume held it (put back if not, so that each run is
// judged alone), a new one empty, its name added to `made`.
void expect_form_refused(const quor_call& c, const stream_form& f, const std::string& into, const std::string& name,
                         const std::string& shown, const std::string& says, std::set<std::string>& made) {
  quor_call call = c;
  call.how = c.how + ", " + f.how;
  call.redirect = with_file(f.form, into + "/" + name);
  std::string said;
  EXPECT_EQ(run_call(call, said), kFailed) << call.how << ": " << said.substr(0, 300);
  // Both streams into the one file refused leave none to say why.
  if (f.form.find("2>&1") == std::string::npos) {
    EXPECT_NE(said.find("refused to write: " + into + "/" + name + ": "), std::string::npos)
        << call.how << ": " << said;
    EXPECT_NE(said.find(says), std::string::npos) << call.how << ": not said: " << says << ": " << said;
  }
  const std::string now = read_whole(shown + "/" + name);
  EXPECT_EQ(now, f.before) << call.how;
  if (!f.before.empty() && now != f.before) std::ofstream(shown + "/" + name, std::ios::trunc) << f.before;
  if (f.before.empty()) made.insert(name);
}

// Each of the four forms, as expect_form_refused says, a new file's name its
// own; without `appends` (rclone without its cache takes no append) only
// the new files.
void expect_forms_refused(const quor_call& c, const std::string& into, const std::string& shown,
                          const std::string& says, std::set<std::string>& made, bool appends = true) {
  static int n = 0;
  for (const stream_form& f : kForms)
    if (f.before.empty() || appends)
      expect_form_refused(c, f, into, f.before.empty() ? "n" + std::to_string(++n) + "-" + f.name : f.name, shown,
                          says, made);
}

// Once every mount is gone: the volume's live files as before but the names
// made, each empty or never written back, and the appends' files as they were.
void expect_volume_as_it_was(const std::string& image, const std::string& listed, const std::set<std::string>& made) {
  ASSERT_TRUE(wait_until_unheld(image));
  EXPECT_EQ(live_listing(image, made), listed);
  for (const std::string& name : made) {
    const std::string text = volume_file_text(image, "/" + name);
    EXPECT_TRUE(text.empty() || text == "(none)") << name << " holds " << text.substr(0, 80);
  }
  for (const stream_form& f : kForms)
    if (!f.before.empty()) {
      EXPECT_EQ(volume_file_text(image, "/" + f.name), f.before);
    }
}

bool have_oracles() {
  return have_program("fls") && have_program("icat") && have_program("ifind") && have_program("setpriv");
}

// Root's read-write guestmount of the image, open to every user; bindfs of
// its folder /real, and rclone's on-the-fly local remote of that. Root sees
// the servers' own handles of the folders each view shows, the examiner only
// the folders their table entries name: the folder behind each is asked of
// the volume either way, so a new file there, root's or the examiner's, in
// either new-file form, is the evidence's \real, and refused.
TEST(LayerPrograms, RootIsRefusedThroughRcloneOverBindfsOverAGuestmountAsTheExaminerIs) {
  if (!have_oracles()) GTEST_SKIP() << "fls, icat, ifind or setpriv not installed";
  const std::string dir = folder("rc-bindfs-gm"), ev = folder("rc-bindfs-gm/ev");
  open_to_nobody({dir, ev});
  const std::string image = copy_fixture("links.img", "rc-bindfs-gm/ev/g.img");
  ASSERT_FALSE(image.empty());
  ASSERT_EQ(::chmod(image.c_str(), 0644), 0);
  std::set<std::string> made;
  const std::string listed = live_listing(image, made), top = volume_file_text(image, "/real/top.txt");
  ASSERT_EQ(top.size(), 10u) << top;
  const std::vector<std::string> args = {"-image", "ev/g.img", "-all", "-csv"};
  {
    guest_mount gm(image, "raw", dir + "/g");
    if (!gm.ok()) GTEST_SKIP() << gm.why();
    pass_through bsa("bindfs", dir + "/g/real", dir + "/bsa", false, "-o allow_other");
    if (!bsa.ok()) GTEST_SKIP() << bsa.why();
    pass_through rc4("rclone", ":local:" + dir + "/bsa", dir + "/rc4", false, "--allow-other");
    if (!rc4.ok()) GTEST_SKIP() << rc4.why();
    std::set<std::string> in_real;
    for (const std::string& who : {std::string(), as_nobody()})
      for (const stream_form& f : {kForms[1], kForms[3]})
        expect_form_refused({who_is(who), dir, args, "", who}, f, dir + "/rc4",
                            std::string("r-") + who_is(who) + "-" + f.name, dir + "/g/real", "it is \\real", in_real);
    for (const std::string& name : in_real) made.insert("real/" + name);
  }
  ASSERT_TRUE(wait_until_unheld(image));
  EXPECT_EQ(live_listing(image, made), listed);
  for (const std::string& name : made) {
    const std::string text = volume_file_text(image, "/" + name);
    EXPECT_TRUE(text.empty() || text == "(none)") << name << " holds " << text.substr(0, 80);
  }
  EXPECT_EQ(volume_file_text(image, "/real/top.txt"), top);
}

// A folder holding root's read-write ntfs-3g mount of the image (at n), open
// to every user, and rclone's mount of a remote of its config that reaches
// that folder only through other remotes: a union of a local remote's
// folder and a path, a combine that shows an alias of that local remote's
// folder as its `ev`, a union of an alias of the folder's path. In rclone's
// default cache mode and with its write cache, every stream form, root's and
// the examiner's, into the mount's folder n is a file of the evidence,
// refused (rclone without its cache takes no append).
TEST(LayerPrograms, StreamsThroughRcloneRemotesThatNameOtherRemotesAreRefused) {
  if (!have_oracles()) GTEST_SKIP() << "fls, icat, ifind or setpriv not installed";
  const std::string dir = folder("rc-named"), store = folder("rc-named/store"), other = folder("rc-named/other");
  open_to_nobody({dir, store, other});
  std::string why;
  const std::string image = evidence_copy("sample.img", dir, "ev.img", why);
  if (image.empty()) GTEST_SKIP() << why;
  std::set<std::string> made;
  const std::string listed = live_listing(image, made), config = dir + "/rclone.conf";
  // rclone names an alias mounted by what it stands for: only other remotes name one.
  std::ofstream(config) << "[loc]\ntype = local\n\n[al]\ntype = alias\nremote = loc:" << store
                        << "\n\n[ap]\ntype = alias\nremote = " << store << "\n\n[u]\ntype = union\nupstreams = loc:"
                        << store << " " << other << "\n\n[c]\ntype = combine\nupstreams = ev=al: more=" << other
                        << "\n\n[ua]\ntype = union\nupstreams = ap: " << other << "\n";
  ASSERT_EQ(::chmod(config.c_str(), 0644), 0);
  const std::vector<std::string> args = {"-image", "ev.img", "-all", "-csv"};
  {
    layer_stack setup;
    if (!setup.need({"ntfs-3g", "rclone"}) ||
        !setup.mount("ntfs-3g -o allow_other,noatime " + quote(image) + " " + quote(store + "/n"), store + "/n", image))
      GTEST_SKIP() << setup.why();
    const struct {
      std::string remote, folder;  // the remote mounted, where the mount shows store/n
    } remotes[] = {{"u:", "/n"}, {"c:", "/ev/n"}, {"ua:", "/n"}};
    for (const auto& r : remotes)
      for (const std::string mode : {"off", "writes"}) {
        const std::string at = dir + "/r-" + r.remote.substr(0, r.remote.size() - 1) + "-" + mode;
        layer_stack view;
        if (!view.mount("rclone mount --config " + quote(config) + " " + r.remote + " " + quote(at) +
                            " --allow-other --daemon --vfs-cache-mode " + mode +
                            " --vfs-write-back 0s --cache-dir " + quote(at + ".cache"),
                        at))
          GTEST_SKIP() << view.why();
        for (const std::string& who : {std::string(), as_nobody()})
          expect_forms_refused({r.remote + " in cache mode " + mode + ", " + who_is(who), dir, args, "", who},
                               at + r.folder, store + "/n",
                               "it is stored in the evidence ev.img through the FUSE mount at " + store + "/n ", made,
                               mode != "off");
      }
  }
  expect_volume_as_it_was(image, listed, made);
}

// rclone's config written in each form rclone itself reads: CRLF line ends,
// blanks before the keys, tabs around '=', "key : value", "[ name ]", and
// an upstream quoted for the blank in its folder's name (the folder that
// holds root's ntfs-3g mount of the image; the others reach it by a link
// without one). Each mount's \Documents, root's and the examiner's, takes
// no stream. So too where the server was started with a relative --config
// in a folder of its own: root reads that name there, not in its own
// folder, which holds a config of the same name naming nothing here.
TEST(LayerPrograms, StreamsThroughRcloneConfigsInEveryFormRcloneReadsAreRefused) {
  if (!have_oracles()) GTEST_SKIP() << "fls, icat, ifind or setpriv not installed";
  const std::string dir = folder("rc-forms"), store = folder("rc-forms/st ore"), other = folder("rc-forms/other"),
                    server = folder("rc-forms/server"), elsewhere = folder("rc-forms/elsewhere");
  open_to_nobody({dir, store, other, server, elsewhere});
  const std::string plain = dir + "/store";
  ASSERT_EQ(::symlink(store.c_str(), plain.c_str()), 0);
  std::string why;
  const std::string image = evidence_copy("sample.img", dir, "ev.img", why);
  if (image.empty()) GTEST_SKIP() << why;
  std::set<std::string> made;
  const std::string listed = live_listing(image, made), two = plain + " " + other;
  const struct {
    std::string how, config;
  } forms[] = {
      {"CRLF line ends", "[u]\r\ntype = union\r\nupstreams = " + two + "\r\n"},
      {"blanks before the keys", "[u]\n  type = union\n  upstreams = " + two + "\n"},
      {"tabs around =", "[u]\ntype\t=\tunion\nupstreams\t=\t" + two + "\n"},
      {"key : value", "[u]\ntype : union\nupstreams : " + two + "\n"},
      {"[ name ]", "[ u ]\ntype = union\nupstreams = " + two + "\n"},
      {"a quoted upstream", "[u]\ntype = union\nupstreams = \"" + store + "\" " + other + "\n"},
  };
  const std::vector<std::string> args = {"-image", "ev.img", "-all", "-csv"};
  const std::string says = "it is stored in the evidence ev.img through the FUSE mount at " + store + "/n ";
  layer_stack setup;
  if (!setup.need({"ntfs-3g", "rclone"}) ||
      !setup.mount("ntfs-3g -o allow_other,noatime " + quote(image) + " " + quote(store + "/n"), store + "/n", image))
    GTEST_SKIP() << setup.why();
  std::set<std::string> in_documents;
  int n = 0;
  for (const auto& f : forms) {
    const std::string config = dir + "/form-" + std::to_string(++n) + ".conf", at = dir + "/r" + std::to_string(n);
    std::ofstream(config, std::ios::binary) << f.config;
    ASSERT_EQ(::chmod(config.c_str(), 0644), 0);
    layer_stack view;
    if (!view.mount("rclone mount --config " + quote(config) + " u: " + quote(at) + " --allow-other --daemon", at))
      GTEST_SKIP() << f.how << ": " << view.why();
    for (const std::string& who : {std::string(), as_nobody()})
      for (const stream_form& form : {kForms[1], kForms[3]})
        expect_form_refused({f.how + ", " + who_is(who), dir, args, "", who}, form, at + "/n/Documents",
                            "f" + std::to_string(n) + "-" + who_is(who) + "-" + form.name, store + "/n/Documents",
                            says, in_documents);
  }
  // A decoy in the run's own folder: the same name, the remote a plain folder.
  std::ofstream(server + "/rel.conf") << forms[0].config;
  std::ofstream(elsewhere + "/rel.conf") << "[u]\ntype = local\n";
  {
    layer_stack view;
    const std::string at = dir + "/r-relative";
    ::mkdir(at.c_str(), 0755);
    view.start("sh -c " + quote("cd " + quote(server) + " && exec rclone mount --config rel.conf u: " + quote(at) +
                                " --allow-other"),
               at + ".log");
    view.on_undo([at] {
      std::string ignored;
      run_command("fusermount -u -z " + quote(at) + " 2>/dev/null", ignored);
    });
    if (!view.wait_for([at] { return layer_stack::is_mount_point(at); }, "rclone's mount at " + at))
      GTEST_SKIP() << view.why();
    for (const stream_form& form : {kForms[1], kForms[3]})
      expect_form_refused({"a relative config", elsewhere, {"-image", "../ev.img", "-all", "-csv"}, ""}, form,
                          at + "/n/Documents", std::string("rel-") + form.name, store + "/n/Documents",
                          "it is stored in the evidence ../ev.img", in_documents);
  }
  setup.undo_all();
  for (const std::string& name : in_documents) made.insert("Documents/" + name);
  expect_volume_as_it_was(image, listed, made);
}

// The shell text that runs the command after it, within `seconds`, after
// the shell text `first`, with its standard input a FIFO that never ends (a
// writer is held open, as a terminal's is): a run that reads its own
// standard input waits there.
std::string stdin_never_ends(const std::string& fifo, int seconds, const std::string& first) {
  return "timeout " + std::to_string(seconds) + " sh -c " +
         quote(first + "exec 4<>" + quote(fifo) + "; exec \"$@\" <" + quote(fifo)) + " sh ";
}

// rclone's configs that a run must not wait on: the server's standard input
// (--config /dev/stdin, a config file there), a config replaced by a FIFO
// after the server read it, one replaced by a link to /dev/zero. The run's
// own standard input never ends, and the run holds RCLONE_CONFIG naming a
// copy of the config (root's run of the first holds none: it reads the
// server's standard input, which only root may). Each run, root's and the
// examiner's, ends well within its bound, refused: the remote's folder holds
// root's ntfs-3g mount of the image.
TEST(LayerPrograms, ConfigsThatWouldBlockOrNeverEndAreNotWaitedOn) {
  if (!have_oracles() || !have_program("timeout") || !have_program("mkfifo"))
    GTEST_SKIP() << "fls, icat, ifind, setpriv, timeout or mkfifo not installed";
  const std::string dir = folder("rc-blocking"), store = folder("rc-blocking/store"),
                    other = folder("rc-blocking/other");
  open_to_nobody({dir, store, other});
  std::string why;
  const std::string image = evidence_copy("sample.img", dir, "ev.img", why);
  if (image.empty()) GTEST_SKIP() << why;
  std::set<std::string> made;
  const std::string listed = live_listing(image, made), copy = dir + "/copy.conf", fifo = dir + "/stdin.fifo";
  std::ofstream(copy) << "[u]\ntype = union\nupstreams = " << store << " " << other << "\n";
  ASSERT_EQ(::chmod(copy.c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(fifo.c_str(), 0666), 0);
  // A run that reads /dev/zero whole would take the machine's memory: bounded
  // where the sanitizers, which map memory of their own, do not run.
#ifdef __SANITIZE_ADDRESS__
  const std::string bounded = "";
#else
  const std::string bounded = "ulimit -v 4000000; ";
#endif
  layer_stack setup;
  if (!setup.need({"ntfs-3g", "rclone"}) ||
      !setup.mount("ntfs-3g -o allow_other,noatime " + quote(image) + " " + quote(store + "/n"), store + "/n", image))
    GTEST_SKIP() << setup.why();
  const struct {
    std::string how, started, then;  // how rclone is given its config, what the config is made after
  } configs[] = {
      {"the server's standard input", "--config /dev/stdin u: @ <" + quote(copy), ""},
      {"a config replaced by a FIFO", "--config " + quote(dir + "/fifo.conf") + " u: @",
       "rm " + quote(dir + "/fifo.conf") + " && mkfifo -m 0666 " + quote(dir + "/fifo.conf")},
      {"a config replaced by a link to /dev/zero", "--config " + quote(dir + "/zero.conf") + " u: @",
       "ln -sf /dev/zero " + quote(dir + "/zero.conf")},
  };
  std::string copied;
  ASSERT_EQ(run_command("cp " + quote(copy) + " " + quote(dir + "/fifo.conf") + " && cp " + quote(copy) + " " +
                            quote(dir + "/zero.conf"),
                        copied),
            0);
  int n = 0;
  for (const auto& c : configs) {
    const std::string at = dir + "/r" + std::to_string(++n);
    layer_stack view;
    ::mkdir(at.c_str(), 0755);
    view.start("rclone mount " + with_file(c.started, at) + " --allow-other", at + ".log");
    view.on_undo([at] {
      std::string ignored;
      run_command("fusermount -u -z " + quote(at) + " 2>/dev/null", ignored);
    });
    if (!view.wait_for([at] { return layer_stack::is_mount_point(at); }, "rclone's mount at " + at) ||
        (!c.then.empty() && !view.step(c.then)))
      GTEST_SKIP() << c.how << ": " << view.why();
    for (const std::string& who : {std::string(), as_nobody()}) {
      const std::string named = n == 1 && who.empty() ? "" : "env RCLONE_CONFIG=" + quote(copy) + " ";
      expect_form_refused({c.how + ", " + who_is(who), dir, {"-image", "ev.img", "-all", "-csv"}, "",
                           stdin_never_ends(fifo, 30, bounded) + named + who},
                          kForms[1], at + "/n", "b" + std::to_string(n) + "-" + who_is(who) + ".csv", store + "/n",
                          "it is stored in the evidence ev.img through the FUSE mount at " + store + "/n ", made);
    }
  }
  setup.undo_all();
  expect_volume_as_it_was(image, listed, made);
}

// Root's read-write ntfs-3g mount of the image (at store/n) in the last
// branch of a mergerfs pool, named by a word of its own, whose branch list
// (64 folders of long names before it) passes 4 KiB. Every stream form into
// the pool's folder n, root's and the examiner's, is refused.
TEST(LayerPrograms, StreamsThroughAMergerfsPoolOfALongBranchListAreRefused) {
  if (!have_oracles()) GTEST_SKIP() << "fls, icat, ifind or setpriv not installed";
  const std::string dir = folder("mf-long"), store = folder("mf-long/store"), branches = folder("mf-long/b");
  open_to_nobody({dir, store, branches});
  std::string why;
  const std::string image = evidence_copy("sample.img", dir, "ev.img", why);
  if (image.empty()) GTEST_SKIP() << why;
  std::set<std::string> made;
  const std::string listed = live_listing(image, made);
  std::string list;
  for (int i = 0; i < 64; ++i) {
    const std::string branch =
        folder("mf-long/b/a-branch-with-a-rather-long-name-so-that-the-list-passes-4-KiB-" + std::to_string(i));
    open_to_nobody({branch});
    list += branch + ":";
  }
  ASSERT_GT(list.size(), 4096u);
  {
    layer_stack setup;
    if (!setup.need({"ntfs-3g", "mergerfs"}) ||
        !setup.mount("ntfs-3g -o allow_other,noatime " + quote(image) + " " + quote(store + "/n"), store + "/n",
                     image) ||
        !setup.mount("mergerfs -o fsname=pool,allow_other " + quote(list + store) + " " + quote(dir + "/p"),
                     dir + "/p"))
      GTEST_SKIP() << setup.why();
    for (const std::string& who : {std::string(), as_nobody()})
      expect_forms_refused({std::string("the pool, ") + who_is(who), dir, {"-image", "ev.img", "-all", "-csv"}, "",
                            who},
                           dir + "/p/n", store + "/n",
                           "it is stored in the evidence ev.img through the FUSE mount at " + store + "/n ", made);
  }
  expect_volume_as_it_was(image, listed, made);
}

// Root's read-write ntfs-3g mount, open to every user, of a loop device over
// the image: a fuseblk mount, whose files' device number is the loop
// device's. The examiner's run of that device (which they cannot read) and
// root's, in every stream form into the mount, are refused.
TEST(LayerPrograms, StreamsIntoAFuseblkMountOfTheEvidenceDeviceAreRefused) {
  if (!have_oracles()) GTEST_SKIP() << "fls, icat, ifind or setpriv not installed";
  const std::string dir = folder("fuseblk");
  open_to_nobody({dir});
  std::string why;
  const std::string image = evidence_copy("sample.img", dir, "ev.img", why);
  if (image.empty()) GTEST_SKIP() << why;
  std::set<std::string> made;
  const std::string listed = live_listing(image, made);
  {
    layer_stack setup;
    const std::string device = setup.need({"ntfs-3g", "losetup"}) ? setup.loop(image) : "";
    if (device.empty() || !setup.mount("ntfs-3g -o allow_other,noatime " + quote(device) + " " + quote(dir + "/m"),
                                       dir + "/m"))
      GTEST_SKIP() << setup.why();
    std::string type;
    ASSERT_EQ(run_command("findmnt -n -o FSTYPE " + quote(dir + "/m"), type), 0);
    ASSERT_EQ(type, "fuseblk\n");
    for (const std::string& who : {std::string(), as_nobody()})
      expect_forms_refused({std::string("the device, ") + who_is(who), dir, {"-image", device, "-all", "-csv"}, "",
                            who},
                           dir + "/m", dir + "/m", "refused to write: " + dir + "/m/", made);
  }
  expect_volume_as_it_was(image, listed, made);
}

// Root's NTFS case drive mounted by ntfs-3g over a loop device (fuseblk),
// open to every user: the kernel opened the device for the mount, and that
// is its store though nobody sees the server. The copy folder is made at the
// drive's root for nobody as for root, and fls lists the evidence as before.
TEST(LayerPrograms, CopyFolderOnAnotherUsersFuseblkCaseDriveIsMade) {
  if (!have_oracles()) GTEST_SKIP() << "fls, icat, ifind or setpriv not installed";
  const std::string dir = folder("fuseblk-drive");
  open_to_nobody({dir});
  const std::string image = copy_fixture("sample.img", "fuseblk-drive/ev.img");
  ASSERT_FALSE(image.empty());
  ASSERT_EQ(::chmod(image.c_str(), 0644), 0);
  std::set<std::string> made;
  const std::string listed = live_listing(image, made), drive = dir + "/drive.img", at = dir + "/case";
  {
    layer_stack setup;
    const std::string device = ntfs_case_drive(setup, drive, at, false) && setup.need({"losetup"}) ? setup.loop(drive) : "";
    if (device.empty() || !setup.mount("ntfs-3g -o allow_other,noatime " + quote(device) + " " + quote(at), at))
      GTEST_SKIP() << setup.why();
    for (const std::string& who : {as_nobody(), std::string()}) {
      std::string said, ignored;
      EXPECT_EQ(run_call({who_is(who), dir, {"-image", "ev.img", "-all", "-csv", "-action_copy_files", "case/copies"},
                          "", who},
                         said),
                0)
          << who_is(who) << ": " << said.substr(0, 300);
      EXPECT_EQ(::access((at + "/copies").c_str(), F_OK), 0) << who_is(who);
      run_command("rm -rf " + quote(at + "/copies"), ignored);
    }
  }
  EXPECT_EQ(live_listing(image, made), listed);
}

}  // namespace
