#pragma once
// The layered set-ups the evidence guard is tried on: images seen through
// container views (EWF, AFF, squashfs), encrypted folders, archive views,
// pass-through views, a share of this machine over ssh, btrfs, a disk in a
// file in a disk, another mount namespace. Each maker builds its set-up in a
// folder of its own and undoes all of it (mounts, loop devices, processes)
// when the object goes, in the reverse order, on every path: a test that
// fails half-way leaves nothing mounted, attached or running. Last, quor's
// runs through them: refused, or written as onto the local disk.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/app/quor_run.h"
#include "tests/support/fixture.h"
#include "tests/support/mount_guard.h"

namespace quor_test {

inline std::string shell_word(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Asked again, for up to five seconds, where md5sum itself could not be
// run (a machine short of memory for a moment under a full test run): an
// empty digest reads as a change, and putting the file back would change
// the image under it for the calls after.
inline std::string md5_of_file(const std::string& path) {
  std::string out;
  for (int tries = 0; tries < 50; ++tries) {
    if (run_command("md5sum < " + shell_word(path) + " 2>/dev/null", out) == 0 && out.size() >= 32)
      return out.substr(0, 32);
    ::usleep(100000);
  }
  return "";
}

// Shell text that, run first in a mount namespace of its own, lets go of
// every mount copied into it but those on the way to or under `keep` (and
// /proc, /sys, /dev): the host's mounts are private here, so a copy held
// there would keep another test's file system mounted after that test
// unmounts it, and its image unfinished when it is checked. Only the copy
// goes: no unmount helper is called (umount.davfs would end the host's
// davfs2 server and wait for it, saying so on the standard output that is
// the run's).
inline std::string let_go_of_other_mounts(const std::vector<std::string>& keep) {
  std::string kept;
  for (const std::string& k : keep) kept += " " + shell_word(k);
  return "for m in $(cut -d' ' -f5 /proc/self/mountinfo | sort -r); do case $m in "
         "/|/proc|/proc/*|/sys|/sys/*|/dev|/dev/*)"
         " continue;; esac; k=0; for p in" +
         kept +
         "; do case $p/ in $m/*) k=1;; esac; case $m/ in $p/*) k=1;; esac; done;"
         " [ $k = 1 ] || umount -i -l $m >/dev/null 2>&1; done; ";
}

// The shell text that runs the command after it in a PID namespace of its
// own (where no process serving a mount can be seen), with the mounts on
// the way to or under `dir` only.
inline std::string own_pid_namespace(const std::string& dir) {
  return "unshare --pid --fork --mount-proc sh -c " + shell_word(let_go_of_other_mounts({dir}) + "exec \"$@\"") +
         " sh ";
}

// What a set-up made, undone in the reverse order. ok() is false once a
// step failed, and why() says which; the steps after it are not tried.
class layer_stack {
 public:
  layer_stack() = default;
  ~layer_stack() { undo_all(); }
  layer_stack(const layer_stack&) = delete;
  layer_stack& operator=(const layer_stack&) = delete;

  bool ok() const { return m_why.empty(); }
  const std::string& why() const { return m_why; }

  // False (and not ok) when a program is missing or this is not root.
  bool need(const std::vector<std::string>& programs) {
    if (!ok()) return false;
    if (::geteuid() != 0) return fail("the set-up needs root");
    for (const std::string& p : programs)
      if (!have_program(p)) return fail(p + " not installed");
    return true;
  }

  // A shell step whose work goes with the scratch folder.
  bool step(const std::string& command) {
    if (!ok()) return false;
    std::string out;
    if (run_command("{ " + command + " ; } >/dev/null 2>&1", out) != 0) return fail("failed: " + command);
    return true;
  }

  // A step whose standard output the caller wants.
  bool ask(const std::string& command, std::string& out) {
    if (!ok()) return false;
    if (run_command(command + " 2>/dev/null", out) != 0) return fail("failed: " + command);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return true;
  }

  // `command` mounts something at `at` (made when missing); unmounted when
  // the set-up goes, and then a FUSE mount's server is waited for until it
  // ends, and the loop device that `mount -o loop` attached until the
  // kernel lets it go; where no server is seen and `held` is named (a
  // container a FUSE server writes back as it ends), until nothing holds
  // the file. A server that mounts in the background (rclone) says nothing
  // of when it is ready: the mount table is waited for.
  bool mount(const std::string& command, const std::string& at, const std::string& held = "") {
    if (!ok()) return false;
    ::mkdir(at.c_str(), 0700);
    std::string out;
    if (run_command("{ " + command + " ; } >/dev/null 2>&1 </dev/null", out) != 0 ||
        !wait_for([at] { return is_mount_point(at); }, "the mount at " + at))
      return fail("could not mount: " + command);
    // Taken now: once unmounted, `at` shows the folder under it, which may
    // be another FUSE mount.
    const unsigned long long connection = fuse_connection_at(at);
    std::string loop_device, loop_backing;
    autoclear_loop_at(at, loop_device, loop_backing);
    m_undo.push_back([at, held, connection, loop_device, loop_backing] {
      const std::vector<process_mark> servers = fuse_servers_of(connection);
      std::string ignored;
      bool gone = false;
      for (int tick = 0; tick < 50 && !gone; ++tick) {
        gone = run_command("umount " + shell_word(at) + " 2>/dev/null", ignored) == 0;
        if (!gone) ::usleep(100000);
      }
      if (!gone) run_command("umount -l " + shell_word(at) + " 2>/dev/null", ignored);
      // The server's end is what makes the file final; the file itself is
      // waited for only where no server was seen, for another mount of it
      // may hold it as long as it stays.
      wait_until_ended(servers);
      wait_until_loop_gone(loop_device, loop_backing);
      if (!held.empty() && servers.empty()) wait_until_unheld(held);
    });
    return true;
  }

  // A loop device over `backing` (over the part of it that losetup's
  // `range` options name, when given); "" (and not ok) when none can be had.
  std::string loop(const std::string& backing, bool read_only = false, const std::string& range = "") {
    std::string dev;
    if (!ask(std::string("losetup -f --show") + (read_only ? " -r " : " ") + range + (range.empty() ? "" : " ") +
                 shell_word(backing),
             dev))
      return "";
    if (dev.compare(0, 5, "/dev/") != 0) {
      fail("no loop device over " + backing);
      return "";
    }
    m_undo.push_back([dev] {
      std::string ignored;
      run_command("losetup -d " + shell_word(dev) + " 2>/dev/null", ignored);
      // A device still open elsewhere (a mount of it that a namespace of
      // another test copied) is detached only when that lets it go: until
      // then the file behind it is not final.
      const auto deadline = std::chrono::steady_clock::now() + kServerEndBound;
      while (run_command("losetup " + shell_word(dev) + " >/dev/null 2>&1", ignored) == 0 &&
             std::chrono::steady_clock::now() < deadline)
        ::usleep(20000);
    });
    return dev;
  }

  // `command` run by the shell as a process of its own group, ended (the
  // group, by its id) when the set-up goes; its pid, or -1 (and not ok).
  pid_t start(const std::string& command, const std::string& log) {
    if (!ok()) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setpgid(0, 0);
      const std::string line = "exec >" + shell_word(log) + " 2>&1 </dev/null; exec " + command;
      ::execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    if (pid < 0) {
      fail("could not start: " + command);
      return -1;
    }
    ::setpgid(pid, pid);
    m_undo.push_back([pid] {
      ::kill(-pid, SIGTERM);
      for (int tick = 0; tick < 100; ++tick) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
        ::usleep(20000);
      }
      ::kill(-pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    });
    return pid;
  }

  // Anything else to undo, in its turn.
  void on_undo(const std::function<void()>& undo) { m_undo.push_back(undo); }

  // Waits, five seconds at most, until `test` holds.
  bool wait_for(const std::function<bool()>& test, const std::string& what) {
    if (!ok()) return false;
    for (int tick = 0; tick < 250; ++tick) {
      if (test()) return true;
      ::usleep(20000);
    }
    return fail("waited in vain for " + what);
  }

  bool fail(const std::string& why) {
    if (m_why.empty()) m_why = why;
    return false;
  }

  // Undoes all now (to look at a container a server wrote back on its end).
  void undo_all() {
    while (!m_undo.empty()) {
      const std::function<void()> undo = m_undo.back();
      m_undo.pop_back();
      undo();
    }
  }

  static bool is_mount_point(const std::string& at) {
    std::string out;
    return run_command("mountpoint -q " + shell_word(at), out) == 0;
  }

 private:
  std::vector<std::function<void()>> m_undo;
  std::string m_why;
};

// The one file of `folder` whose name none of `known` is; "" when there is
// not exactly one (the cipher name an encrypted folder gave a file).
inline std::string only_new_file(const std::string& folder, const std::vector<std::string>& known) {
  std::string found;
  int count = 0;
  if (DIR* d = ::opendir(folder.c_str())) {
    while (const struct dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      bool old = name == "." || name == "..";
      for (const std::string& k : known) old = old || name == k;
      if (!old) {
        found = folder + "/" + name;
        ++count;
      }
    }
    ::closedir(d);
  }
  return count == 1 ? found : "";
}

// An E01 of `image` (segments of `segment_size` bytes when not 0: case.E01,
// case.E02, ...) in `dir`, and ewfmount's view of it at dir/m: m/ewf1.
struct ewf_view : layer_stack {
  std::string e01, view, at;
  ewf_view(const std::string& dir, const std::string& image, unsigned segment_size = 0) {
    need({"ewfacquire", "ewfmount", "ewfverify"});
    ::mkdir(dir.c_str(), 0700);
    step("cd " + shell_word(dir) + " && ewfacquire -u -q -t case -c none" +
         (segment_size ? " -f encase5 -S " + std::to_string(segment_size) : std::string()) + " " + shell_word(image) +
         " </dev/null");
    e01 = dir + "/case.E01";
    at = dir + "/m";
    view = at + "/ewf1";
    mount("ewfmount " + shell_word(e01) + " " + shell_word(at), at);
  }
  std::string segment(int n) const {
    std::string two = std::to_string(n);
    if (two.size() < 2) two = "0" + two;
    return e01.substr(0, e01.size() - 2) + two;
  }
};

// xmount's raw view at dir/<name> of the input files `inputs` (of xmount's
// type `type`); `view` is the one raw file it shows.
struct xmount_view : layer_stack {
  std::string at, view;
  xmount_view(const std::string& type, const std::vector<std::string>& inputs, const std::string& at_) : at(at_) {
    need({"xmount"});
    std::string named;
    for (const std::string& in : inputs) named += " " + shell_word(in);
    mount("xmount --in " + type + named + " --out raw " + shell_word(at), at);
    std::string dd;
    if (ask("ls " + shell_word(at) + " | grep '\\.dd$'", dd)) view = at + "/" + dd;
  }
};

// affconvert's AFF of `image` in dir/case.aff, and affuse's view of it.
struct aff_view : layer_stack {
  std::string aff, at, view;
  aff_view(const std::string& dir, const std::string& image) {
    need({"affconvert", "affuse"});
    ::mkdir(dir.c_str(), 0700);
    aff = dir + "/case.aff";
    // affconvert takes a raw image by its extension.
    step("cp " + shell_word(image) + " " + shell_word(dir + "/ev.raw") + " && cd " + shell_word(dir) +
         " && affconvert -y -o case.aff ev.raw && rm ev.raw");
    at = dir + "/m";
    view = at + "/case.aff.raw";
    mount("affuse " + shell_word(aff) + " " + shell_word(at), at);
  }
};

// A squashfs (dir/case.sqfs) of a folder holding `image` as sample.img, and
// squashfuse's view of it.
struct squash_view : layer_stack {
  std::string sqfs, at, view;
  squash_view(const std::string& dir, const std::string& image) {
    need({"mksquashfs", "squashfuse"});
    ::mkdir(dir.c_str(), 0700);
    sqfs = dir + "/case.sqfs";
    step("mkdir -p " + shell_word(dir + "/in") + " && cp " + shell_word(image) + " " +
         shell_word(dir + "/in/sample.img") + " && mksquashfs " + shell_word(dir + "/in") + " " + shell_word(sqfs) +
         " -quiet -noappend && rm -r " + shell_word(dir + "/in"));
    at = dir + "/m";
    view = at + "/sample.img";
    mount("squashfuse " + shell_word(sqfs) + " " + shell_word(at), at);
  }
};

// An encrypted folder dir/c (gocryptfs or encfs, by `kind`) and its clear
// view dir/v holding a copy of `image` as ev.img (unless `image` is "");
// `cipher` is that file's encrypted one in dir/c. `options` are the
// server's more (-o allow_other, for a view root serves to every user).
struct encrypted_folder : layer_stack {
  std::string cipher_dir, at, view, cipher;
  encrypted_folder(const std::string& kind, const std::string& dir, const std::string& image,
                   const std::string& options = "") {
    const std::string more = options.empty() ? "" : options + " ";
    need({kind});
    ::mkdir(dir.c_str(), 0700);
    cipher_dir = dir + "/c";
    at = dir + "/v";
    ::mkdir(cipher_dir.c_str(), 0700);
    std::vector<std::string> known;
    if (kind == "gocryptfs") {
      // A low scrypt cost: the key is made in milliseconds.
      step("gocryptfs -init -q -scryptn 10 -extpass 'echo pw' " + shell_word(cipher_dir));
      mount("gocryptfs -q " + more + "-extpass 'echo pw' " + shell_word(cipher_dir) + " " + shell_word(at), at);
      known = {"gocryptfs.conf", "gocryptfs.diriv"};
    } else {
      mount("encfs --standard " + more + "--extpass='echo pw' " + shell_word(cipher_dir) + " " + shell_word(at), at);
      known = {".encfs6.xml"};
    }
    view = at + "/ev.img";
    if (image.empty()) return;
    step("cp " + shell_word(image) + " " + shell_word(view) + " && sync");
    if (ok()) {
      cipher = only_new_file(cipher_dir, known);
      if (cipher.empty()) fail("no cipher file for ev.img in " + cipher_dir);
    }
  }
};

// An archive dir/case.zip or dir/case.tar (by `kind`: fuse-zip or
// archivemount) of `image` as sample.img and an empty notes.txt, stored
// without compression, and the view at dir/m that writes the archive anew
// when it is unmounted; `options` go to the server.
struct archive_view : layer_stack {
  std::string archive, at, view, notes;
  archive_view(const std::string& kind, const std::string& dir, const std::string& image,
               const std::string& options = "") {
    const bool zip = kind == "fuse-zip";
    need({kind, zip ? "zip" : "tar"});
    ::mkdir(dir.c_str(), 0700);
    archive = dir + (zip ? "/case.zip" : "/case.tar");
    const std::string in = dir + "/in";
    step("mkdir -p " + shell_word(in) + " && cp " + shell_word(image) + " " + shell_word(in + "/sample.img") +
         " && : > " + shell_word(in + "/notes.txt") + " && cd " + shell_word(in) +
         (zip ? " && zip -q -0 ../case.zip sample.img notes.txt" : " && tar cf ../case.tar sample.img notes.txt") +
         " && cd .. && rm -r in");
    at = dir + "/m";
    view = at + "/sample.img";
    notes = at + "/notes.txt";
    mount(kind + " " + options + (options.empty() ? "" : " ") + shell_word(archive) + " " + shell_word(at), at,
          archive);
  }
};

// A pass-through view at `at` of the folder `under` by `kind`: bindfs,
// unionfs (copy on write, the folder writable), fuse-overlayfs (the folder
// its upper layer, over an empty lower one beside `at`), mergerfs or rclone (a
// local path, no configuration, its log beside the view); "mergerfs
// fsname" names itself by a word of its own, as fstab lines do; "rclone
// :local:" is rclone's local remote with its write cache; "mergerfs modes"
// is a pool named by a word of its own whose branches carry their modes
// (`under` to be written, an empty folder beside `at` only read); "avfs"
// is avfs's view of the whole tree, mounted by mountavfs with `at` as its
// home, at at/.avfs. `shows` is where the view shows `under`. `read_only` asks
// bindfs for a view that cannot be written; `options` are the server's
// more options (allow_other, mergerfs's xattr=nosys, rclone's cache mode).
struct pass_through : layer_stack {
  std::string at, shows;
  pass_through(const std::string& kind, const std::string& under, const std::string& at_, bool read_only = false,
               const std::string& options = "")
      : at(at_), shows(at_) {
    const std::string program = kind.substr(0, kind.find(' '));
    need({program == "avfs" ? "mountavfs" : program});
    if (kind == "avfs") {
      ::mkdir(at_.c_str(), 0700);
      at = at_ + "/.avfs";
      shows = at + under;
      mount("HOME=" + shell_word(at_) + " mountavfs", at);
    } else if (kind == "mergerfs fsname") {
      mount("mergerfs -o fsname=pool " + options + (options.empty() ? "" : " ") + shell_word(under) + " " +
                shell_word(at),
            at);
    } else if (kind == "mergerfs modes") {
      step("mkdir -p " + shell_word(at + ".ro"));
      mount("mergerfs -o fsname=pool " + shell_word(under + "=RW:" + at + ".ro=RO") + " " + shell_word(at), at);
    } else if (kind == "rclone :local:") {
      mount("rclone mount --config /dev/null --daemon --vfs-cache-mode writes --cache-dir " +
                shell_word(at + ".cache") + " " + shell_word(":local:" + under) + " " + shell_word(at) +
                (options.empty() ? "" : " " + options),
            at);
    } else if (kind == "bindfs") {
      mount(std::string("bindfs ") + (read_only ? "-r " : "") + options + (options.empty() ? "" : " ") +
                shell_word(under) + " " + shell_word(at),
            at);
    } else if (kind == "unionfs") {
      mount("unionfs -o cow " + options + (options.empty() ? "" : " ") + shell_word(under + "=RW") + " " +
                shell_word(at),
            at);
    } else if (kind == "fuse-overlayfs") {
      step("mkdir -p " + shell_word(at + ".lower") + " " + shell_word(at + ".work"));
      const std::string layers = "lowerdir=" + at + ".lower,upperdir=" + under + ",workdir=" + at + ".work";
      mount("fuse-overlayfs -o " + shell_word(layers) + " " + options + (options.empty() ? "" : " ") + shell_word(at),
            at);
    } else if (kind == "mergerfs") {
      mount("mergerfs " + options + (options.empty() ? "" : " ") + shell_word(under) + " " + shell_word(at), at);
    } else if (kind == "rclone") {
      mount("rclone mount --config /dev/null --daemon -vv --log-file " + shell_word(at + ".log") + " " +
                shell_word(under) + " " + shell_word(at) + (options.empty() ? "" : " " + options),
            at);
    } else {
      fail("no pass-through view " + kind);
    }
  }
};

// ntfs-3g over `image` at `at`, without the access times that reads through
// it would write into the image; undone with the wait for ntfs-3g to let
// the image go.
inline bool mount_ntfs(layer_stack& stack, const std::string& image, const std::string& at) {
  return stack.need({"ntfs-3g"}) &&
         stack.mount("ntfs-3g -o noatime " + shell_word(image) + " " + shell_word(at), at, image);
}

// An examiner's NTFS case drive: a fresh NTFS volume `image` of 8 MiB;
// with `like_sample`, its root holds readme.txt, Documents (with
// notes.txt), Photos, Projects, Downloads and Temp, its first folders under
// the very record numbers sample.img gives them, put there through a first
// mount at `at`, unmounted again.
inline bool ntfs_case_drive(layer_stack& stack, const std::string& image, const std::string& at, bool like_sample) {
  if (!stack.need({"mkntfs", "ntfs-3g"}) ||
      !stack.step("truncate -s 8M " + shell_word(image) + " && mkntfs -q -F -f " + shell_word(image)))
    return false;
  if (!like_sample) return true;
  layer_stack first;
  if (!mount_ntfs(first, image, at) ||
      !first.step("cd " + shell_word(at) +
                  " && echo text > readme.txt && echo pad > pad.txt && mkdir Documents Photos Projects Downloads Temp"
                  " && echo note > Documents/notes.txt && rm pad.txt"))
    return stack.fail(first.why());
  first.undo_all();
  return wait_until_unheld(image) || stack.fail("ntfs-3g did not let " + image + " go");
}

// What the root of a drive Windows has used holds beside an examiner's
// case, put into the folder `at` (a local one, or a mount's): System Volume
// Information (IndexerVolumeGuid, WPSettings.dat) and one user's recycle bin
// under the names, and with the sizes, the exhibit's own hold (sysvol.img,
// recycle.img), but this drive's own content and times; notes.txt and
// Case-117/ (with report.txt) beside them.
inline bool windows_used_case_drive(layer_stack& stack, const std::string& at) {
  const std::string svi = at + "/System Volume Information",
                    user = at + "/$RECYCLE.BIN/S-1-5-21-1004336348-1177238915-682003330-1001";
  return stack.step("mkdir -p " + shell_word(svi) + " " + shell_word(user) + " " + shell_word(at + "/Case-117") +
                    " && printf '%076d' 1 > " + shell_word(svi + "/IndexerVolumeGuid") + " && printf '%012d' 2 > " +
                    shell_word(svi + "/WPSettings.dat") + " && printf '%0129d' 3 > " +
                    shell_word(user + "/desktop.ini") + " && echo 'case 117: intake' > " +
                    shell_word(at + "/notes.txt") + " && echo report > " + shell_word(at + "/Case-117/report.txt"));
}

// existing.txt, holding "already there", put into `image` through ntfs-3g
// at `at`, unmounted again before this returns; false, with why, when no
// mount could be had.
inline bool put_existing(const std::string& image, const std::string& at, std::string& why) {
  layer_stack setup;
  if (!mount_ntfs(setup, image, at)) {
    why = setup.why();
    return false;
  }
  std::ofstream(at + "/existing.txt") << "already there\n";
  return true;
}

// A private sshd of this machine on a high port chosen by the process id
// (a port taken makes the test skip, saying so), started in a mount
// namespace of its own (its privilege separation folder on a tmpfs there),
// with host and user keys made in dir, seeing of the mounts only those on
// the way to or under itself and the folder `served`; `share(remote, at)`
// mounts the folder `remote` (in `served`) of this machine at `at` by sshfs,
// with sshfs's `options` more. `config_line` is one line more for sshd (a
// ForceCommand), `slot` a second sshd's port beside the first.
struct ssh_share : layer_stack {
  std::string dir, key;
  int port = 0;
  ssh_share(const std::string& dir_, const std::string& served, const std::string& config_line = "", int slot = 0)
      : dir(dir_) {
    std::string sshd;
    if (run_command("command -v sshd || command -v /usr/sbin/sshd", sshd) != 0 || sshd.empty()) {
      fail("sshd not installed");
      return;
    }
    while (!sshd.empty() && sshd.back() == '\n') sshd.pop_back();
    need({"sshfs", "ssh-keygen", "unshare"});
    ::mkdir(dir.c_str(), 0700);
    key = dir + "/id";
    step("cd " + shell_word(dir) +
         " && ssh-keygen -q -t ed25519 -N '' -f host && ssh-keygen -q -t ed25519 -N '' -f id" +
         " && cp id.pub authorized");
    port = 20000 + static_cast<int>(::getpid() % 10000) * 2 + slot;
    const std::string config = dir + "/sshd_config";
    step("printf '%s\\n' 'Port " + std::to_string(port) + "' 'ListenAddress 127.0.0.1' 'HostKey " + dir + "/host' " +
         "'AuthorizedKeysFile " + dir + "/authorized' 'PermitRootLogin prohibit-password' 'StrictModes no' " +
         "'UsePAM no' 'PidFile none' 'Subsystem sftp internal-sftp' " + shell_word(config_line) + " > " +
         shell_word(config));
    start("unshare -m --propagation private sh -c " +
              shell_word(let_go_of_other_mounts({dir, served}) +
                         "mount -t tmpfs tmpfs /run && mkdir -p /run/sshd && exec " + sshd + " -D -e -f " +
                         shell_word(config)),
          dir + "/sshd.log");
    wait_for(
        [this] {
          std::string out;
          return run_command("grep -q 'listening on' " + shell_word(dir + "/sshd.log"), out) == 0;
        },
        "sshd to listen (see " + dir + "/sshd.log)");
  }
  bool share(const std::string& remote, const std::string& at, const std::string& options = "") {
    return mount("sshfs -p " + std::to_string(port) + " -o IdentityFile=" + key +
                     ",StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,BatchMode=yes" +
                     (options.empty() ? "" : "," + options) + " root@127.0.0.1:" + shell_word(remote) + " " +
                     shell_word(at),
                 at);
  }
};

// A btrfs of 128 MiB in dir/b.img on a loop device, mounted at dir/mnt,
// with a copy of `image` as mnt/top.img.
struct btrfs_disk : layer_stack {
  std::string file, device, at, view;
  btrfs_disk(const std::string& dir, const std::string& image) {
    need({"mkfs.btrfs", "btrfs", "losetup"});
    ::mkdir(dir.c_str(), 0700);
    file = dir + "/b.img";
    step("truncate -s 128M " + shell_word(file) + " && mkfs.btrfs -q -f " + shell_word(file));
    device = loop(file);
    at = dir + "/mnt";
    mount("mount -t btrfs " + shell_word(device) + " " + shell_word(at), at);
    view = at + "/top.img";
    step("cp " + shell_word(image) + " " + shell_word(view) + " && sync");
  }
};

// A disk in a file in a disk: an xfs in the sparse file dir/outer.xfs on a
// loop device, mounted at dir/mnt, holds inner.ext4, on a second loop
// device mounted at mnt/ei, which holds a copy of `image` as ev.img.
struct nested_disk : layer_stack {
  std::string outer, outer_device, at, inner, inner_device, inner_at, view;
  nested_disk(const std::string& dir, const std::string& image) {
    need({"mkfs.xfs", "mkfs.ext4", "losetup"});
    ::mkdir(dir.c_str(), 0700);
    outer = dir + "/outer.xfs";
    step("truncate -s 320M " + shell_word(outer) + " && mkfs.xfs -q -f " + shell_word(outer));
    outer_device = loop(outer);
    at = dir + "/mnt";
    mount("mount -t xfs " + shell_word(outer_device) + " " + shell_word(at), at);
    inner = at + "/inner.ext4";
    step("truncate -s 32M " + shell_word(inner) + " && mkfs.ext4 -q -F " + shell_word(inner));
    inner_device = loop(inner);
    inner_at = at + "/ei";
    mount("mount -t ext4 " + shell_word(inner_device) + " " + shell_word(inner_at), inner_at);
    view = inner_at + "/ev.img";
    step("cp " + shell_word(image) + " " + shell_word(view) + " && sync");
  }
};

// An ntfs-3g mount of `image` at `at` made in a mount namespace of its own
// (private), held by a process that sleeps there: the host's table does
// not show it; `through` is the mount reached by that process's root
// (/proc/<pid>/root<at>).
struct namespace_mount : layer_stack {
  pid_t pid = -1;
  std::string through;
  namespace_mount(const std::string& image, const std::string& at) {
    need({"unshare", "ntfs-3g"});
    ::mkdir(at.c_str(), 0700);
    const std::string ready = at + ".ready";
    ::unlink(ready.c_str());
    // The namespace goes with its last process; ntfs-3g, unmounted first,
    // then ends by itself, writing the image last.
    auto servers = std::make_shared<std::vector<process_mark>>();
    on_undo([image, servers] {
      wait_until_ended(*servers);
      wait_until_unheld(image);
    });
    pid = start("unshare -m --propagation private sh -c " +
                    shell_word(let_go_of_other_mounts({image, at}) + "ntfs-3g -o noatime " + shell_word(image) + " " +
                               shell_word(at) + " && : > " + shell_word(ready) + " && exec sleep 300"),
                at + ".log");
    struct stat st;
    wait_for([&] { return ::stat(ready.c_str(), &st) == 0; }, "ntfs-3g in another namespace");
    if (!ok()) return;
    // unshare forks nothing here: the pid is the shell's, then sleep's.
    through = "/proc/" + std::to_string(pid) + "/root" + at;
    *servers = fuse_servers_of(fuse_connection_at(through));
    const std::string ns = std::to_string(pid);
    // ntfs-3g is a process of that namespace too: a mount left there (busy
    // for a moment, or nsenter not started on a loaded machine) would keep
    // it, and with it the namespace, alive for ever. Tried again, then let
    // go lazily.
    on_undo([ns, at] {
      std::string ignored;
      const std::string enter = "nsenter -t " + ns + " -m umount ";
      for (int tick = 0; tick < 50; ++tick) {
        if (run_command(enter + shell_word(at) + " 2>/dev/null", ignored) == 0) return;
        ::usleep(100000);
      }
      run_command(enter + "-l " + shell_word(at) + " 2>/dev/null", ignored);
    });
  }
};

// An archive dir/case.tar of `image` as sample.img and an empty notes.txt,
// mounted by archivemount started in the folder `from` (the archive's own
// folder, or one above it), as an examiner starts it: `cd case;
// archivemount case.tar m`. archivemount holds that folder open as long as
// it runs. mount_again() mounts the same archive a second time; each mount
// is open to every user, as root serves it to a lab's examiners.
struct archive_from_folder : layer_stack {
  std::string archive, from, at, view, notes;
  archive_from_folder(const std::string& dir, const std::string& from_, const std::string& image) : from(from_) {
    need({"archivemount", "tar"});
    ::mkdir(dir.c_str(), 0700);
    archive = dir + "/case.tar";
    step("mkdir -p " + shell_word(dir + "/in") + " && cp " + shell_word(image) + " " +
         shell_word(dir + "/in/sample.img") + " && : > " + shell_word(dir + "/in/notes.txt") + " && cd " +
         shell_word(dir + "/in") + " && tar cf ../case.tar sample.img notes.txt && cd .. && rm -r in");
    at = dir + "/m";
    view = at + "/sample.img";
    notes = at + "/notes.txt";
    mount_again(at);
  }
  bool mount_again(const std::string& where) {
    return mount(
        "cd " + shell_word(from) + " && archivemount -o allow_other " + shell_word(archive) + " " + shell_word(where),
        where, archive);
  }
};

// The lines `tar tvf` gives of `archive`, or why not.
inline std::string tar_listing(const std::string& archive) {
  std::string out;
  return run_command("tar tvf " + shell_word(archive) + " 2>&1", out) == 0 ? out : "tar failed: " + out;
}

// archivemount started in the archive's folder `<scratch>/<name>-archive/
// case` and in the folder above it, with a second mount of the archive at
// case/m2: `check` runs with both up, and once they are down the archive's
// digest and tar's listing of it are as before. What could not be set up
// is said in the text returned.
inline std::string with_archive_mounted_from_its_folder(
    const std::string& name, const std::function<void(const std::string& from, archive_from_folder&)>& check) {
  std::string skipped;
  for (const std::string from : {"archive", "parent"}) {
    const std::string parent = scratch_dir() + "/" + name + "-" + from, dir = parent + "/case";
    ::mkdir(parent.c_str(), 0700);
    std::string sum, listed;
    {
      archive_from_folder archive(dir, from == "archive" ? dir : parent, fixture("sample.img"));
      if (!archive.ok() || !archive.mount_again(dir + "/m2")) {
        skipped += " " + from + ": " + archive.why();
        continue;
      }
      sum = md5_of_file(archive.archive);
      listed = tar_listing(archive.archive);
      check(from, archive);
    }
    EXPECT_TRUE(wait_until_unheld(dir + "/case.tar"));
    EXPECT_EQ(md5_of_file(dir + "/case.tar"), sum) << from << " folder: the archive was written anew";
    EXPECT_EQ(tar_listing(dir + "/case.tar"), listed) << from;
  }
  return skipped;
}

// rclone serving the folder `served` on this machine over `kind` (webdav,
// http or sftp, the last without authentication and with a host key made
// in dir) at 127.0.0.1 on a port chosen by the process id and `slot`, with
// nothing written outside dir; `mount_webdav(at, mode, options)` mounts it
// by rclone (in its file cache mode `mode`, the cache beside the mount,
// with rclone's `options` more: --allow-other),
// `mount_davfs(at)` by davfs2 (its configuration and answers in dir, each
// upload at once), `mount_http(file, at)` one file of it by httpfs2, and
// `mount_sftp(at)` all of it by sshfs.
struct rclone_served : layer_stack {
  std::string dir, url;
  int port = 0;
  rclone_served(const std::string& kind, const std::string& dir_, const std::string& served, int slot = 0)
      : dir(dir_) {
    need({"rclone"});
    ::mkdir(dir.c_str(), 0700);
    port = 40000 + static_cast<int>(::getpid() % 10000) * 2 + slot;
    url = "http://127.0.0.1:" + std::to_string(port);
    std::string extra;
    if (kind == "sftp") {
      need({"ssh-keygen", "sshfs"});
      step("rm -f " + shell_word(dir + "/key") + "* && ssh-keygen -q -t ed25519 -N '' -f " + shell_word(dir + "/key"));
      extra = " --no-auth --key " + shell_word(dir + "/key");
    }
    start("rclone serve " + kind + " --config /dev/null --cache-dir " + shell_word(dir + "/serve-cache") + extra +
              " --addr 127.0.0.1:" + std::to_string(port) + " " + shell_word(served),
          dir + "/serve-" + kind + ".log");
    const std::string probe = "bash -c 'exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(port) + "' 2>/dev/null";
    wait_for(
        [probe] {
          std::string ignored;
          return run_command(probe, ignored) == 0;
        },
        "rclone serve " + kind + " to listen");
  }
  bool mount_webdav(const std::string& at, const std::string& mode = "off", const std::string& options = "") {
    return mount("rclone mount --config /dev/null --daemon :webdav: " + shell_word(at) + " --webdav-url " + url +
                     " --cache-dir " + shell_word(at + ".cache") + " --vfs-cache-mode " + mode +
                     (options.empty() ? "" : " " + options),
                 at);
  }
  bool mount_davfs(const std::string& at) {
    // mount.davfs works as the user davfs2: its cache folder is theirs, in
    // the scratch folder opened to them.
    const std::string conf = dir + "/davfs2.conf", secrets = dir + "/davfs2.secrets",
                      cache = scratch_dir() + "/davfs2-cache";
    return need({"mount.davfs"}) && step("chmod 0711 " + shell_word(scratch_dir())) &&
           step("mkdir -p " + shell_word(cache) + " && chgrp davfs2 " + shell_word(cache) + " && chmod 0775 " +
                shell_word(cache) + " && printf '%s\\n' " +
                shell_word("cache_dir " + cache) + " " + shell_word("secrets " + secrets) +
                " 'ask_auth 0' 'use_locks 0' 'delay_upload 0' > " + shell_word(conf) + " && echo " +
                shell_word(url + "/ x x") + " > " + shell_word(secrets) + " && chmod 0600 " + shell_word(secrets)) &&
           mount("mount -t davfs -o conf=" + shell_word(conf) + " " + url + "/ " + shell_word(at), at);
  }
  bool mount_http(const std::string& file, const std::string& at) {
    return need({"httpfs2"}) && mount("httpfs2 " + url + "/" + file + " " + shell_word(at), at);
  }
  bool mount_sftp(const std::string& at) {
    return mount("sshfs -p " + std::to_string(port) +
                     " -o StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,BatchMode=yes x@127.0.0.1:/ " +
                     shell_word(at),
                 at);
  }
};

// A copy of `image` as dir/disk.vmdk, a VMDK split into a descriptor and
// one extent (dir/disk-s001.vmdk), exposed by vmdkmount at dir/m as m/vmdk1:
// vmdkmount holds the extent open, and read the descriptor and closed it.
struct vmdk_split_view : layer_stack {
  std::string descriptor, extent, at, view;
  vmdk_split_view(const std::string& dir, const std::string& image) {
    need({"qemu-img", "vmdkmount"});
    ::mkdir(dir.c_str(), 0700);
    descriptor = dir + "/disk.vmdk";
    extent = dir + "/disk-s001.vmdk";
    step("qemu-img convert -f raw -O vmdk -o subformat=twoGbMaxExtentSparse " + shell_word(image) + " " +
         shell_word(descriptor));
    at = dir + "/m";
    view = at + "/vmdk1";
    mount("vmdkmount " + shell_word(descriptor) + " " + shell_word(at), at, extent);
  }
};

// An ext4 in dir/hold.ext4 holding the index records of /Documents of
// `image` as t.i30 in whole blocks (so the ext4 file read as an index-record
// file gives a listing), on a loop device `device` served by fuse2fs at
// dir/m, with m/existing.txt written there.
struct fuse2fs_over_loop : layer_stack {
  std::string file, device, at;
  fuse2fs_over_loop(const std::string& dir, const std::string& image) {
    need({"fuse2fs", "mkfs.ext4", "e2fsck", "debugfs", "icat", "losetup"});
    ::mkdir(dir.c_str(), 0700);
    file = dir + "/hold.ext4";
    step("cd " + shell_word(dir) + " && icat " + shell_word(image) + " 66-160 > t.i30" +
         " && truncate -s 32M hold.ext4 && mkfs.ext4 -q -F -b 4096 hold.ext4" +
         " && debugfs -w -R 'write t.i30 t.i30' hold.ext4");
    device = loop(file);
    at = dir + "/m";
    mount("fuse2fs " + shell_word(device) + " " + shell_word(at), at);
    step("echo 'already there' > " + shell_word(at + "/existing.txt") + " && sync");
  }
};

// A disk dir/disk.dd whose MBR puts an NTFS partition, a copy of the
// volume `volume` holding NTFS.TXT, at sector 63, as old disks have it;
// root's loop device `device` over that partition alone (the kernel makes
// no partitions of a loop device here) and root's ntfs-3g mount of the
// device at dir/ld, open to every user.
struct partition_on_loop : layer_stack {
  static constexpr unsigned long long kStart = 63 * 512;
  std::string disk, device, at;
  partition_on_loop(const std::string& dir, const std::string& volume) {
    need({"sfdisk", "losetup", "ntfs-3g"});
    ::mkdir(dir.c_str(), 0700);
    disk = dir + "/disk.dd";
    at = dir + "/ld";
    const std::string copy = dir + "/volume.img";
    step("cp " + shell_word(volume) + " " + shell_word(copy));
    {
      layer_stack first;
      if (!mount_ntfs(first, copy, at) || !first.step("echo 'already there' > " + shell_word(at + "/NTFS.TXT")))
        fail(first.why());
    }
    struct stat st;
    if (!ok() || ::stat(copy.c_str(), &st) != 0) return;
    const std::string size = std::to_string(st.st_size), sectors = std::to_string(st.st_size / 512);
    step("truncate -s " + std::to_string(kStart + st.st_size + 512) + " " + shell_word(disk) +
         " && printf 'label: dos\nstart=63, size=" + sectors + ", type=7\n' | sfdisk -q " + shell_word(disk) +
         " && dd if=" + shell_word(copy) + " of=" + shell_word(disk) +
         " bs=512 seek=63 conv=notrunc status=none && rm " + shell_word(copy));
    device = loop(disk, false, "-o " + std::to_string(kStart) + " --sizelimit " + size);
    mount("ntfs-3g -o allow_other,noatime " + shell_word(device) + " " + shell_word(at), at);
  }
};

// An ext4 in the file `file` (16 MiB) mounted at `at` through a loop
// device, as a case store kept in a file; `at` is open to every user.
// `head`, bytes in printf's octal escapes, is written `head_at` bytes into
// the file first: ext4 leaves its first KiB to a boot loader, so a store
// can begin as a disk or an archive does and still mount.
inline bool file_store(layer_stack& stack, const std::string& file, const std::string& at,
                       const std::string& head = "", int head_at = 0) {
  return stack.need({"mkfs.ext4", "losetup"}) &&
         stack.step("truncate -s 16M " + shell_word(file) + " && mkfs.ext4 -q -F " + shell_word(file)) &&
         (head.empty() || stack.step("printf " + shell_word(head) + " | dd of=" + shell_word(file) +
                                     " bs=1 seek=" + std::to_string(head_at) + " conv=notrunc status=none")) &&
         stack.mount("mount -o loop " + shell_word(file) + " " + shell_word(at), at) &&
         stack.step("chmod 0777 " + shell_word(at));
}

// The shell text that runs the command after it as nobody, with no groups.
inline std::string as_nobody() { return "setpriv --reuid=nobody --regid=nogroup --clear-groups "; }

// The shell text that runs the command after it in a mount namespace of its
// own whose /proc shows a user only the processes that are his own
// (hidepid=2), with the mounts on the way to or under `dir` only.
inline std::string hidden_processes(const std::string& dir) {
  return "unshare -m --propagation private sh -c " +
         shell_word(let_go_of_other_mounts({dir}) + "mount -t proc -o hidepid=2 proc /proc && exec \"$@\"") + " sh ";
}

// The folder `start` of this machine shared at `at` over the private sshd
// `ssh` as another machine's case folder reads: mounted as
// "root@127.0.0.1:", a name of no folder here, its sftp server started in
// `start`. `options` are sshfs's more (fsname=..., subtype=...).
inline bool share_start_folder(ssh_share& ssh, const std::string& start, const std::string& at,
                               const std::string& options = "") {
  std::string server;
  if (!ssh.ask("ls /usr/lib/openssh/sftp-server /usr/lib/sftp-server | head -n 1", server) || server.empty())
    return ssh.fail("no sftp-server to start in a folder");
  return ssh.mount("sshfs -p " + std::to_string(ssh.port) + " -o IdentityFile=" + ssh.key +
                       ",StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,BatchMode=yes" +
                       (options.empty() ? "" : "," + options) + " -o " +
                       shell_word("sftp_server=" + server + " -d " + start) + " root@127.0.0.1: " + shell_word(at),
                   at);
}

// rclone's share of its memory at `at`, files written through its cache in
// `cache`: its table entry names no file, and it holds only cache files.
inline bool memory_share(layer_stack& stack, const std::string& at, const std::string& cache) {
  return stack.need({"rclone"}) &&
         stack.mount("rclone mount --config /dev/null --daemon --vfs-cache-mode writes --cache-dir " +
                         shell_word(cache) + " :memory: " + shell_word(at),
                     at);
}

// A FAT in the file `file` (16 MiB) served by fusefat at `at`, writable
// and open to every user, as a case store kept on a FAT image.
inline bool fat_store(layer_stack& stack, const std::string& file, const std::string& at) {
  return stack.need({"fusefat", "mkfs.vfat"}) &&
         stack.step("truncate -s 16M " + shell_word(file) + " && mkfs.vfat " + shell_word(file)) &&
         stack.mount("fusefat -o rw+,allow_other " + shell_word(file) + " " + shell_word(at), at, file);
}

// libguestfs's guestmount of the disk image `image` (of qemu's format
// `format`) at `at`, its file system `device` (/dev/sda: a bare volume is
// the whole disk to the appliance; /dev/sda2: a disk's second partition)
// mounted to be written and open to every user. The appliance runs under TCG: nested KVM, where it is offered, may
// never boot, and TCG starts in some seconds. The appliance is built and
// run in the scratch folder, once a test process. Undone by guestunmount and a
// wait for guestmount to end, which it does once its appliance has written
// the image back and quit.
struct guest_mount : layer_stack {
  std::string at;
  guest_mount(const std::string& image, const std::string& format, const std::string& at_,
              const std::string& device = "/dev/sda")
      : at(at_) {
    if (!need({"guestmount", "guestunmount"})) return;
    ::mkdir(at.c_str(), 0700);
    const std::string pid_file = at + ".pid", log = at + ".log";
    std::string out;
    const std::string cache = scratch_dir() + "/guestfs-cache", temp = scratch_dir() + "/guestfs-tmp";
    ::mkdir(cache.c_str(), 0700);
    ::mkdir(temp.c_str(), 0700);
    const std::string appliance = "LIBGUESTFS_CACHEDIR=" + shell_word(cache) + " TMPDIR=" + shell_word(temp) +
                                  " LIBGUESTFS_BACKEND=direct LIBGUESTFS_BACKEND_SETTINGS=force_tcg timeout 300 ";
    if (run_command(appliance + "guestmount --pid-file " + shell_word(pid_file) + " --format=" + format + " -a " +
                        shell_word(image) + " -m " + device + " -o allow_other " + shell_word(at) + " >" + shell_word(log) +
                        " 2>&1 </dev/null",
                    out) != 0 ||
        !is_mount_point(at)) {
      fail("libguestfs's appliance did not start here (see " + log + ")");
      return;
    }
    const int pid = std::atoi(read_file_text(pid_file).c_str());
    const std::string mounted = at;
    on_undo([mounted, pid] {
      std::string ignored;
      run_command("guestunmount --retry=10 " + shell_word(mounted) + " >/dev/null 2>&1", ignored);
      for (int tick = 0; tick < 600 && pid > 0 && ::kill(pid, 0) == 0; ++tick) ::usleep(100000);
    });
  }
};

// qemu-storage-daemon's writable FUSE export, open to every user, of the
// node `node` that the `blockdevs` (its --blockdev options) make: the
// regular file dir/expr shows the disk; `mounter` (ntfs-3g, or lowntfs-3g
// with its options) mounts that at dir/nr, open to every user.
struct block_export : layer_stack {
  std::string exported, at;
  block_export(const std::string& dir, const std::string& blockdevs, const std::string& node,
               const std::string& mounter = "ntfs-3g -o allow_other,noatime") {
    need({"qemu-storage-daemon", mounter.substr(0, mounter.find(' '))});
    exported = dir + "/expr";
    at = dir + "/nr";
    step(": > " + shell_word(exported));
    start("qemu-storage-daemon " + blockdevs + " --export " +
              shell_word("type=fuse,id=e,node-name=" + node + ",mountpoint=" + exported +
                         ",writable=on,allow-other=on"),
          dir + "/qsd.log");
    const std::string shown = exported;
    wait_for([shown] { return is_mount_point(shown); }, "qemu-storage-daemon's export at " + exported);
    mount(mounter + " " + shell_word(exported) + " " + shell_word(at), at, exported);
  }
};

// One run of quor: started in `cwd` behind the shell text `prefix` (a
// namespace of its own), standard output into a file and standard error
// into a pipe unless `redirect` sends one elsewhere; `said` takes what both
// received (a refused standard error is refused on standard output). A
// pipe takes the refusal even where the run cannot tell whether a file it
// did not make is the evidence. Every file it writes is bounded: a run
// writing into a view of what it reads could otherwise go on reading what
// it wrote.
struct quor_call {
  std::string how, cwd;
  std::vector<std::string> args;
  std::string redirect;
  std::string prefix = "";
};

// A copy of the build's file `file` as `name` in the scratch folder, open to
// every user, wherever the build itself lies (a checkout in a folder of
// mode 0700 is closed to another user's runs); the file itself where no copy
// could be made.
inline std::string open_to_all(const std::string& file, const std::string& name) {
  const std::string path = scratch_dir() + "/" + name;
  std::string ignored;
  return run_command("cp " + quote(file) + " " + quote(path) + " && chmod 0755 " + quote(path), ignored) == 0 ? path
                                                                                                              : file;
}
// quor as these runs start it.
inline const std::string& quor_exe() {
  static const std::string copy = open_to_all(QUOR_EXE, "quor");
  return copy;
}

inline int run_call(const quor_call& c, std::string& said) {
  const std::string base = scratch_dir() + "/layer-setups";
  std::string cmd = "cd " + quote(c.cwd) + " && ulimit -f 1000000 && { " + c.prefix + "timeout 60 " + quote(quor_exe());
  for (const std::string& a : c.args) cmd += " " + quote(a);
  cmd += " >" + quote(base + ".out") + " 2>&3 " + c.redirect + " </dev/null; echo $? >" + quote(base + ".status") +
         "; } 3>&1 | cat >" + quote(base + ".err");
  std::string ignored;
  for (const char* tail : {".out", ".err", ".status"}) ::unlink((base + tail).c_str());
  if (run_command(cmd, ignored) != 0) return -1;
  said = read_whole(base + ".out") + read_whole(base + ".err");
  const std::string status = read_whole(base + ".status");
  return status.empty() ? -1 : std::atoi(status.c_str());
}

inline bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// Each call is refused: status 255, the refusal said (holding `says` when
// given), every file of `kept` with its digest as before, nothing of
// `absent` made. A file a call changed is put back as it was, in place, so
// that each call is judged on its own.
inline void expect_refused(const std::vector<quor_call>& calls, const std::vector<std::string>& kept,
                           const std::vector<std::string>& absent = {}, const std::string& says = "") {
  std::vector<std::string> sums, contents;
  for (const std::string& k : kept) {
    sums.push_back(md5_of_file(k));
    contents.push_back(read_whole(k));
    ASSERT_EQ(sums.back().size(), 32u) << k;
  }
  for (const quor_call& c : calls) {
    std::string err;
    EXPECT_EQ(run_call(c, err), kFailed) << c.how << ": " << err.substr(0, 300);
    EXPECT_NE(err.find("refused to write"), std::string::npos) << c.how << ": " << err.substr(0, 300);
    EXPECT_NE(err.find(says), std::string::npos) << c.how << ": not said: " << says << ": " << err.substr(0, 300);
    for (size_t i = 0; i < kept.size(); ++i) {
      const std::string now = md5_of_file(kept[i]);
      if (now == sums[i]) continue;
      ADD_FAILURE() << c.how << ": " << kept[i] << (now.empty() ? " could not be digested" : " changed");
      if (!now.empty()) std::ofstream(kept[i], std::ios::binary | std::ios::trunc) << contents[i];
    }
    for (const std::string& a : absent) {
      EXPECT_FALSE(exists(a)) << c.how << ": " << a << " made";
      std::string ignored;
      run_command("rm -rf " + quote(a), ignored);
    }
  }
}

inline std::string fls_of(const std::string& image) {
  std::string out;
  return run_command("fls -r -p " + quote(image) + " 2>&1", out) == 0 ? out : "fls failed: " + out;
}

// Opens the scratch folder to every user, and `folders` in it, as a lab's
// case folder is open to its examiners: nobody reaches the images and
// views there by the names the runs give.
inline void open_to_nobody(const std::vector<std::string>& folders) {
  ASSERT_EQ(::chmod(scratch_dir().c_str(), 0711), 0);
  for (const std::string& f : folders) ASSERT_EQ(::chmod(f.c_str(), 0755), 0) << f;
}

inline std::string folder(const std::string& name) {
  const std::string dir = scratch_dir() + "/" + name;
  ::mkdir(dir.c_str(), 0700);
  return dir;
}

// A status line is written whole, between two runs of this many
// backspaces: a run twice as long closes one and opens the next.
const size_t STATUS_BACK = 80;

// A run's text as another run's can be compared with it: without the
// status lines that come as time passes, the run time and the time the
// command line is echoed with.
inline std::string comparable(const std::string& text) {
  std::string plain;
  bool in_status = false;
  for (size_t at = 0; at < text.size();) {
    size_t run = 0;
    for (; at < text.size() && text[at] == '\b'; ++at) ++run;
    if ((run / STATUS_BACK) % 2 == 1) in_status = !in_status;
    if (run == 0 && !in_status) plain += text[at];
    if (run == 0) ++at;
  }
  std::string kept;
  for (const std::string& line : lines_of(plain)) {
    if (line.rfind("run time: ", 0) == 0) continue;
    const size_t stamp = line.find(" UTC] : ");
    kept += (line[0] == '[' && stamp != std::string::npos ? line.substr(stamp + 8) : line) + "\n";
  }
  return kept;
}

// The first line where `a` and `b` differ, each shown; "" when they are
// the same.
inline std::string first_difference(const std::string& a, const std::string& b) {
  const std::vector<std::string> la = lines_of(a), lb = lines_of(b);
  for (size_t i = 0; i < la.size() || i < lb.size(); ++i) {
    const std::string x = i < la.size() ? la[i] : "(end)", y = i < lb.size() ? lb[i] : "(end)";
    if (x != y) return "line " + std::to_string(i + 1) + ": \"" + x + "\" against \"" + y + "\"";
  }
  return a == b ? "" : "the last line's end";
}

// The first status line of a run's standard error, as it was written.
inline std::string first_status(const std::string& text) {
  const size_t start = text.find('\b');
  if (start == std::string::npos) return "";
  const size_t end = text.find('\b', text.find_first_not_of('\b', start + STATUS_BACK));
  return end == std::string::npos ? text.substr(start) : text.substr(start, end + STATUS_BACK - start);
}

// How a stream is sent to a file: `form` with '@' where the file's name
// goes; `before` is what the file holds first ("" for a file the shell
// makes).
struct stream_form {
  std::string how, form, name, before;
};

// The four ways an examiner sends a run's streams to a file.
inline const std::vector<stream_form>& stream_forms() {
  static const std::vector<stream_form> forms = {
      {"appended to a listing", ">>@", "case.csv", "earlier listing\n"},
      {"a new listing", ">@", "new.csv", ""},
      {"standard error appended to a log", "2>>@", "run.log", "earlier log\n"},
      {"both into one new file", ">@ 2>&1", "x.txt", ""},
  };
  return forms;
}

inline std::string with_file(const std::string& form, const std::string& file) {
  const size_t at = form.find('@');
  return form.substr(0, at) + quote(file) + form.substr(at + 1);
}

// `c` run with its stream sent by `f` into `folder` is left to the run: it
// ends as the same run whose stream goes to a file on the local disk
// (`reference`, a new one), with `status`, and the file holds what it held
// and then, line for line, what the local one took; standard error's log
// begins with the same status line.
inline void expect_written(const quor_call& c, const stream_form& f, const std::string& folder,
                           const std::string& reference, int status = 0) {
  const std::string file = folder + "/" + f.name, how = c.how + ", " + f.how;
  ::unlink(file.c_str());
  ::unlink(reference.c_str());
  if (!f.before.empty()) std::ofstream(file) << f.before;
  quor_call on = c, local = c;
  on.redirect = with_file(f.form, file);
  local.redirect = with_file(f.form, reference);
  std::string said, said_locally;
  EXPECT_EQ(run_call(local, said_locally), status) << how << ": " << said_locally.substr(0, 300);
  EXPECT_EQ(run_call(on, said), status) << how << ": " << said.substr(0, 300);
  const std::string got = read_whole(file), want = read_whole(reference);
  EXPECT_FALSE(comparable(want).empty() && first_status(want).empty()) << how << ": the local run wrote nothing";
  ASSERT_EQ(got.compare(0, f.before.size(), f.before), 0) << how;
  EXPECT_EQ(first_difference(comparable(got.substr(f.before.size())), comparable(want)), "") << how;
  EXPECT_TRUE(first_status(got) == first_status(want)) << how << ": the log lacks the first status line";
}

// The text of the file `path` in the volume of the raw image `raw`, by
// ifind and icat; "(none)" when it is not there.
inline std::string volume_file_text(const std::string& raw, const std::string& path) {
  std::string entry, text;
  if (run_command("ifind -n " + quote(path) + " " + quote(raw) + " 2>/dev/null", entry) != 0 || entry.empty())
    return "(none)";
  while (!entry.empty() && entry.back() == '\n') entry.pop_back();
  return run_command("icat " + quote(raw) + " " + quote(entry), text) == 0 ? text : "(icat failed)";
}

}  // namespace quor_test
