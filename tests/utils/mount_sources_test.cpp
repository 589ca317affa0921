// The mount table's source of a device: read from lines in the table's own
// form (escapes, optional fields), and from the live table for a mount made
// here, as findmnt reports it.
#include "utils/mount_sources.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/support/fixture.h"
#include "tests/support/loop_device.h"
#include "utils/mount_table.h"

namespace {

// A line is found for `device` when it is in the table's form and its
// entry has that device number: a line of another device (0:411 where
// 0:41 is asked) is an entry all the same, and one not in the table's form
// (no "-" before the type) is none, its entry left as it was.
TEST(MountSources, LinesOfTheMountTable) {
  const uint64 fuse = makedev(0, 41);
  const struct {
    const char* line;
    bool parsed;
    uint64 device;
    bool found;
    std::string source;
  } cases[] = {
      {"46 27 0:41 / /tmp/m rw,relatime - fuse /tmp/d.img rw,user_id=0\n", true, fuse, true, "/tmp/d.img"},
      {"46 27 0:41 / /tmp/m rw shared:5 master:1 - fuseblk /dev/loop0 rw\n", true, fuse, true, "/dev/loop0"},
      {"46 27 0:41 / /tmp/m\\040x rw - fuse /tmp/a\\040b\\134c\\011d.img rw", true, fuse, true,
       "/tmp/a b\\c\td.img"},
      {"46 27 0:41 / /tmp/m rw - fuse /tmp/trailing\\04 rw", true, fuse, true, "/tmp/trailing\\04"},
      // An escape that ends the field is undone too.
      {"46 27 0:41 / /tmp/m rw - fuse /mnt/a\\040 rw", true, fuse, true, "/mnt/a "},
      {"46 27 0:411 / /tmp/m rw - fuse /tmp/d.img rw", true, fuse, false, ""},
      {"46 27 0:41 / /tmp/m rw fuse /tmp/d.img rw", false, fuse, false, ""},
      {"8 1 259:3 / / rw - ext4 /dev/nvme0n1p3 rw", true, makedev(259, 3), true, "/dev/nvme0n1p3"},
  };
  for (const auto& c : cases) {
    uni::mount_entry entry;
    entry.source = "untouched";
    ASSERT_EQ(uni::mount_entry_of_line(c.line, entry), c.parsed) << c.line;
    EXPECT_EQ(c.parsed && entry.device == c.device, c.found) << c.line;
    if (c.found) {
      EXPECT_EQ(entry.source, c.source) << c.line;
    } else if (!c.parsed) {
      EXPECT_EQ(entry.source, "untouched") << c.line;
    }
  }
}

// The sources of every entry of the live table with the device number
// `device`, in `out`; false when the table cannot be read.
bool sources_of(uint64 device, std::vector<std::string>& out) {
  const std::shared_ptr<const uni::mount_table> table = uni::current_mount_table();
  if (!table) return false;
  for (const uni::mount_entry& e : table->entries)
    if (e.device == device) out.push_back(e.source);
  return true;
}

TEST(MountSources, TheLiveTableNamesAnImageMountedByNtfs3g) {
  const std::string image = quor_test::copy_fixture("default.img", "mount-sources.img");
  ASSERT_FALSE(image.empty());
  const quor_test::ntfs3g_mount mount(image, quor_test::scratch_dir() + "/mount-sources");
  if (mount.dir().empty()) GTEST_SKIP() << mount.why();
  struct stat st;
  ASSERT_EQ(::stat(mount.dir().c_str(), &st), 0);
  std::vector<std::string> sources;
  ASSERT_TRUE(sources_of(static_cast<uint64>(st.st_dev), sources));
  ASSERT_FALSE(sources.empty());
  std::string findmnt;
  if (quor_test::have_program("findmnt") &&
      quor_test::run_command("findmnt -n -o SOURCE --mountpoint '" + mount.dir() + "'", findmnt) == 0) {
    while (!findmnt.empty() && findmnt.back() == '\n') findmnt.pop_back();
    EXPECT_EQ(sources, std::vector<std::string>{findmnt});
  }
  EXPECT_EQ(sources, std::vector<std::string>{image});
  // No mount has a device number of 0:0.
  const std::shared_ptr<const uni::mount_table> table = uni::current_mount_table();
  ASSERT_TRUE(table);
  EXPECT_EQ(table->by_device(0), nullptr);
}

}  // namespace

namespace {

// Every field of an entry, escapes undone; the file system's options one
// each, a comma or blank escaped inside a value (an overlay's layer) kept
// inside its option.
TEST(MountSources, EntriesOfTheMountTable) {
  const uint64 anon = makedev(0, 52);
  const struct {
    const char* line;
    bool parsed;
    bool found;  // the entry has the device number `anon`
    const char *root, *at, *type, *source;
    std::vector<std::string> options;
  } cases[] = {
      {"61 27 0:52 / /tmp/M rw,relatime - overlay overlay rw,lowerdir=L:L2\\134\\054x,upperdir=/u\\040p,workdir=W\n",
       true, true, "/", "/tmp/M", "overlay", "overlay", {"rw", "lowerdir=L:L2\\,x", "upperdir=/u p", "workdir=W"}},
      {"62 61 0:52 /sub /tmp/b\\040m rw shared:3 - overlay overlay rw,lowerdir+=/l\\054a,datadir+=/d", true, true,
       "/sub", "/tmp/b m", "overlay", "overlay", {"rw", "lowerdir+=/l,a", "datadir+=/d"}},
      {"63 27 0:52 / /tmp/m rw - fuse /tmp/case12 rw,user_id=0", true, true, "/", "/tmp/m", "fuse", "/tmp/case12",
       {"rw", "user_id=0"}},
      {"63 27 0:520 / /tmp/m rw - fuse /tmp/case12 rw", true, false, "", "", "", "", {}},
      {"63 27 0:52 / /tmp/m rw fuse /tmp/case12 rw", false, false, "", "", "", "", {}},
  };
  for (const auto& c : cases) {
    uni::mount_entry entry;
    entry.type = "untouched";
    ASSERT_EQ(uni::mount_entry_of_line(c.line, entry), c.parsed) << c.line;
    ASSERT_EQ(c.parsed && entry.device == anon, c.found) << c.line;
    if (!c.parsed) {
      EXPECT_EQ(entry.type, "untouched");
      continue;
    }
    if (!c.found) continue;
    EXPECT_EQ(entry.id, static_cast<uint64>(std::stoul(c.line))) << c.line;
    EXPECT_EQ(entry.root, c.root) << c.line;
    EXPECT_EQ(entry.mount_point, c.at) << c.line;
    EXPECT_EQ(entry.type, c.type) << c.line;
    EXPECT_EQ(entry.source, c.source) << c.line;
    EXPECT_EQ(entry.options, c.options) << c.line;
  }
  // Fields that are no numbers where numbers belong.
  uni::mount_entry none;
  for (const char* line : {"x 27 0:52 / /m rw - fuse /a rw", "63 27 0-52 / /m rw - fuse /a rw",
                           "63 27 :52 / /m rw - fuse /a rw", "63 27 0:4294967296 / /m rw - fuse /a rw"})
    EXPECT_FALSE(uni::mount_entry_of_line(line, none)) << line;
  // The live table: the root folder's mount is there, under its own number.
  struct stat st;
  ASSERT_EQ(::stat("/", &st), 0);
  const std::shared_ptr<const uni::mount_table> table = uni::current_mount_table();
  ASSERT_TRUE(table);
  bool root = false;
  for (const uni::mount_entry& e : table->entries)
    root = root || (e.device == static_cast<uint64>(st.st_dev) && e.mount_point == "/");
  EXPECT_TRUE(root);
}

// RCLONE_CONFIG set to `config` while the object lives: the config the run
// itself reads where no server of a mount is in sight.
struct run_config {
  explicit run_config(const std::string& config) {
    const char* const before = std::getenv("RCLONE_CONFIG");
    had = before != nullptr;
    if (had) kept = before;
    ::setenv("RCLONE_CONFIG", config.c_str(), 1);
  }
  ~run_config() {
    if (had) ::setenv("RCLONE_CONFIG", kept.c_str(), 1);
    if (!had) ::unsetenv("RCLONE_CONFIG");
  }
  bool had = false;
  std::string kept;
};

// The folders an rclone mount of `source` stores in, by the run's config.
uni::shown_folders folders_of(const std::string& source, const std::string& type = "fuse.rclone") {
  static int n = 0;
  uni::mount_entry m;
  m.id = 900000 + n;
  m.mount_point = quor_test::scratch_dir() + "/no-server-mounts-here-" + std::to_string(n++);
  m.type = type;
  m.source = source;
  return uni::rclone_remote_folders(m);
}

// The files below each folder, as rclone's `lsf -R --files-only` names them
// through a remote that shows the folder at `first` below its top.
std::set<std::string> files_shown(const uni::shown_folders& folders) {
  std::set<std::string> out;
  for (const auto& f : folders) {
    std::string listed;
    quor_test::run_command("cd '" + f.second + "' 2>/dev/null && find . -type f | sort", listed);
    for (const std::string& line : uni::split(listed, '\n'))
      out.insert((f.first.empty() ? "" : f.first.substr(1) + "/") + line.substr(2));
  }
  return out;
}

// The folders an rclone mount stores its files in, each where the mount
// shows it, read from the config as rclone reads it: its line ends, blanks,
// separators, comments, section names and quotes; remotes that name
// remotes (a union of local remotes and paths less their modes, a combine
// whose upstreams are folders of its top, an alias of a remote, of a remote
// with options or of a path), each with the path below the remote, eight
// deep at most; nothing from a config rclone refuses, for a remote of
// another kind, a missing one, a circle of remotes, another file system.
// rclone itself, where installed, is the oracle: it lists through each
// remote just the files of the folders found, and refuses what finds none.
TEST(MountSources, FoldersOfConfiguredRcloneRemotes) {
  const std::string dir = quor_test::scratch_dir() + "/rclone-remotes", a = dir + "/a", bc = dir + "/b c",
                    d = dir + "/d", config = dir + "/rclone.conf";
  std::string made;
  ASSERT_EQ(quor_test::run_command("mkdir -p '" + a + "/sub' '" + bc + "' '" + d + "/sub' && cd '" + dir +
                                       "' && touch a/in-a a/sub/in-a-sub 'b c/in-bc' d/in-d d/sub/in-d-sub",
                                   made),
            0);
  ASSERT_EQ(quor_test::run_command("cd '" + dir + "' && mkdir -p 'c:d' 'q\"x' && touch 'c:d/in-cd' 'q\"x/in-qx'", made), 0);
  const std::string loc = "[loc]\ntype = local\n", two = a + " " + d, cd = dir + "/c:d";
  // Aliases c0: to c<n-1>:, the last of the path a: a chain `n` remotes deep.
  const auto chain = [&a](int n) {
    std::string text;
    for (int i = 0; i < n; ++i)
      text += "[c" + std::to_string(i) + "]\ntype = alias\nremote = " +
              (i + 1 < n ? "c" + std::to_string(i + 1) + ":" : a) + "\n";
    return text;
  };
  const struct {
    std::string how, config, source;
    uni::shown_folders folders;
    bool oracle;  // rclone lists through it as the folders say
  } cases[] = {
      {"a local remote", loc, "loc:" + a, {{"", a}}, true},
      {"a local remote's folder", loc, "loc:" + a + "/sub", {{"", a + "/sub"}}, true},
      {"CRLF line ends", "[u]\r\ntype = union\r\nupstreams = " + two + "\r\n", "u:", {{"", a}, {"", d}}, true},
      {"blanks before keys, tabs around =", "[u]\n  type = union\n\tupstreams\t=\t" + two + "\n", "u:",
       {{"", a}, {"", d}}, true},
      {"key : value", "[l]\ntype : local\n", "l:" + d, {{"", d}}, true},
      {"[ name ]", "[ u ]\ntype = union\nupstreams = " + two + "\n", "u:", {{"", a}, {"", d}}, true},
      {"a quoted upstream with a blank", "[u]\ntype = union\nupstreams = \"" + bc + "\" " + d + "\n", "u:",
       {{"", bc}, {"", d}}, true},
      {"a value in backticks", "[u]\ntype = union\nupstreams = `" + two + "` and more\n", "u:",
       {{"", a}, {"", d}}, true},
      {"a value in triple quotes", "[u]\ntype = union\nupstreams = \"\"\"" + two + "\"\"\"\n", "u:",
       {{"", a}, {"", d}}, true},
      {"a section again, a key again", "[u]\ntype = local\n[x]\ntype = local\n[u]\ntype = union\nupstreams = " + a +
                                           "\nupstreams = " + two + "\n",
       "u:", {{"", a}, {"", d}}, true},
      {"a byte order mark", "\xEF\xBB\xBF[l]\ntype = local\n", "l:" + a, {{"", a}}, true},
      {"modes", "[u]\ntype = union\nupstreams = " + a + ":ro " + d + ":nc\n", "u:", {{"", a}, {"", d}}, true},
      // A writeback upstream is the union's cache: rclone lists none of it.
      {"a union of local remotes", loc + "[u]\ntype = union\nupstreams = loc:" + a + " loc:" + d + ":writeback\n",
       "u:", {{"", a}, {"", d}}, false},
      {"a union's folder", loc + "[u]\ntype = union\nupstreams = loc:" + a + " " + d + "\n", "u:sub",
       {{"", a + "/sub"}, {"", d + "/sub"}}, true},
      {"a combine", loc + "[c]\ntype = combine\nupstreams = \"docs=loc:" + a + "\" \"x y=" + bc + "\"\n", "c:",
       {{"/docs", a}, {"/x y", bc}}, true},
      {"a combine's upstream", "[c]\ntype = combine\nupstreams = docs=" + a + " other=" + d + "\n", "c:docs/sub",
       {{"", a + "/sub"}}, true},
      {"a combine's upstream that ends as a mode would", "[c]\ntype = combine\nupstreams = x=" + a + ":ro\n", "c:",
       {{"/x", a + ":ro"}}, false},
      {"an alias of a remote", loc + "[al]\ntype = alias\nremote = loc:" + dir + "\n", "al:a", {{"", a}}, true},
      {"an alias of a path", "[al]\ntype = alias\nremote = " + d + "\n", "al:", {{"", d}}, true},
      {"an alias of a union", loc + "[u]\ntype = union\nupstreams = " + two + "\n[al]\ntype = alias\nremote = u:sub\n",
       "al:", {{"", a + "/sub"}, {"", d + "/sub"}}, true},
      {"comments", "[l]\n# a comment\n; another\ntype = local\n", "l:" + a, {{"", a}}, true},
      {"a backtick inside backticks", "[u]\ntype = union\nupstreams = `" + a + " " + cd + "` x`\n", "u:",
       {{"", a}, {"", cd + "`"}}, true},
      {"a doubled quote", "[u]\ntype = union\nupstreams = \"" + dir + "/q\"\"x\" " + d + "\n", "u:",
       {{"", dir + "/q\"x"}, {"", d}}, true},
      {"a path with a colon", "[al]\ntype = alias\nremote = " + cd + "\n", "al:", {{"", cd}}, true},
      {"a remote with options", loc + "[al]\ntype = alias\nremote = loc,copy_links:" + dir + "\n", "al:a",
       {{"", a}}, true},
      {"remotes as deep as followed", chain(8), "c0:", {{"", a}}, true},
      {"remotes deeper", chain(9), "c0:", {}, false},
      {"a key in a section without a name", "[ ]\nx = y\n[l]\ntype = local\n", "l:" + a, {}, true},
      {"a line that begins with its separator", "= x\n[l]\ntype = local\n", "l:" + a, {}, true},
      {"a line rclone cannot read", "[l]\ntype = local\nbogus\n", "l:" + a, {}, true},
      {"an unclosed backtick", "[l]\ntype = `local\n", "l:" + a, {}, true},
      {"keys are told by case", "[l]\nType = local\n", "l:" + a, {}, true},
      {"a circle of aliases", "[p]\ntype = alias\nremote = q:\n[q]\ntype = alias\nremote = p:x\n", "p:", {}, false},
      {"a union of itself", "[u]\ntype = union\nupstreams = u: " + a + "\n", "u:", {{"", a}}, false},
      {"another kind of remote", "[cloud]\ntype = s3\n", "cloud:bucket", {}, false},
      {"a remote the config lacks", loc, "missing:/x", {}, false},
      {"rclone's local backend", "", ":local:" + a, {{"", a}}, true},
      {"another backend", "", ":memory:", {}, false},
  };
  for (const auto& c : cases) {
    std::ofstream(config, std::ios::binary | std::ios::trunc) << c.config;
    const run_config named(config);
    EXPECT_EQ(folders_of(c.source), c.folders) << c.how;
    if (!c.oracle || !quor_test::have_program("rclone")) continue;
    std::string listed;
    const bool lists = quor_test::run_command("timeout 20 rclone --config '" + config + "' lsf -R --files-only '" +
                                                  c.source + "' 2>/dev/null",
                                              listed) == 0;
    EXPECT_EQ(lists, !c.folders.empty()) << c.how << ": rclone";
    std::vector<std::string> lines = uni::split(listed, '\n');
    if (lists) {
      EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), files_shown(c.folders)) << c.how;
    }
  }
  std::ofstream(config, std::ios::binary | std::ios::trunc) << loc;
  const run_config named(config);
  EXPECT_EQ(folders_of("loc:" + a, "fuse.sshfs"), uni::shown_folders()) << "another file system";
  // A union that names itself below itself at every turn names a bounded few.
  std::ofstream(config, std::ios::binary | std::ios::trunc) << "[u]\ntype = union\nupstreams = u:x u:y u:z " << a;
  const uni::shown_folders many = folders_of("u:");
  EXPECT_TRUE(!many.empty() && many.size() <= 257u) << many.size();
}

// A process that stands for an rclone server: its command line `args`, its
// working folder `cwd`, its environment `env`, its standard input the file
// `in`; it stops itself at once, and is ended with the object.
struct fake_server {
  fake_server(const std::vector<std::string>& args, const std::string& cwd, const std::vector<std::string>& env,
              const std::string& in) {
    std::vector<std::string> all{args[0], "-c", "kill -STOP $$"};
    all.insert(all.end(), args.begin() + 1, args.end());
    std::vector<char*> argv, envp;
    for (std::string& a : all) argv.push_back(&a[0]);
    std::vector<std::string> environment = env;
    for (std::string& e : environment) envp.push_back(&e[0]);
    argv.push_back(nullptr), envp.push_back(nullptr);
    pid = ::fork();
    if (pid == 0) {
      const int fd = ::open(in.c_str(), O_RDONLY);
      if (fd < 0 || ::dup2(fd, 0) < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(127);
      ::execve("/bin/sh", argv.data(), envp.data());
      ::_exit(127);
    }
    int status = 0;
    stopped = pid > 0 && ::waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status);
  }
  ~fake_server() {
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  pid_t pid = -1;
  bool stopped = false;
};

// The config a server reads and the folders its remote names, as the server
// names them: a relative --config in its own working folder, --config=, its
// RCLONE_CONFIG (relative too), its standard input by each of its names, a
// file by its /proc/self/cwd; the mount point given relative to its folder;
// a local remote's path relative to its folder ("loc:", ":local:sub", an
// alias of "loc:"). A process of another name is no server, and a config
// that lacks the remote is passed over: the run's own config is read then.
TEST(MountSources, ConfigsAndFoldersAsTheServerNamesThem) {
  const std::string dir = quor_test::scratch_dir() + "/rclone-servers", srv = dir + "/srv", a = dir + "/a",
                    own = dir + "/own";
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(srv.c_str(), 0700), 0);
  const std::string rel = srv + "/rel.conf";
  std::ofstream(rel) << "[l]\ntype = alias\nremote = " << a << "\n[loc]\ntype = local\n[al]\ntype = alias\nremote = loc:\n";
  std::ofstream(srv + "/other.conf") << "[x]\ntype = local\n";
  std::ofstream(dir + "/own.conf") << "[l]\ntype = alias\nremote = " << own << "\n";
  const run_config named(dir + "/own.conf");
  const struct {
    std::vector<std::string> args;  // "@": the mount point, "@@": its name alone
    std::vector<std::string> env;
    std::string source;
    uni::shown_folders folders;
  } cases[] = {
      {{"rclone", "mount", "--config", "rel.conf", "l:", "@"}, {}, "l:", {{"", a}}},
      {{"rclone", "mount", "--config=" + rel, "l:", "@"}, {}, "l:", {{"", a}}},
      {{"rclone", "mount", "l:", "@"}, {"RCLONE_CONFIG=rel.conf"}, "l:", {{"", a}}},
      {{"rclone", "mount", "--config", "/dev/stdin", "l:", "@"}, {}, "l:", {{"", a}}},
      {{"rclone", "mount", "--config", "/dev/fd/0", "l:", "@"}, {}, "l:", {{"", a}}},
      {{"rclone", "mount", "--config", "/proc/self/fd/0", "l:", "@"}, {}, "l:", {{"", a}}},
      {{"rclone", "mount", "--config", "/proc/self/cwd/rel.conf", "l:", "@"}, {}, "l:", {{"", a}}},
      {{"rclone", "mount", "--config", "rel.conf", "l:", "@@"}, {}, "l:", {{"", a}}},
      {{"rclone", "mount", "--config", "rel.conf", "loc:", "@"}, {}, "loc:", {{"", srv}}},
      {{"rclone", "mount", ":local:sub", "@"}, {}, ":local:sub", {{"", srv + "/sub"}}},
      {{"rclone", "mount", "--config", "rel.conf", "al:sub", "@"}, {}, "al:sub", {{"", srv + "/sub"}}},
      {{"decoy", "mount", "--config", "rel.conf", "l:", "@"}, {}, "l:", {{"", own}}},
      {{"rclone", "mount", "--config", "other.conf", "l:", "@"}, {}, "l:", {{"", own}}},
  };
  int n = 0;
  for (const auto& c : cases) {
    uni::mount_entry m;
    m.id = 910000 + n;
    m.mount_point = dir + "/mnt-" + std::to_string(n++);
    m.type = "fuse.rclone";
    m.source = c.source;
    std::vector<std::string> args = c.args;
    for (std::string& arg : args)
      if (arg == "@" || arg == "@@") arg = arg == "@" ? m.mount_point : m.mount_point.substr(dir.size() + 1);
    const fake_server server(args, srv, c.env, rel);
    ASSERT_TRUE(server.stopped) << c.args[3];
    EXPECT_EQ(uni::rclone_remote_folders(m), c.folders) << n << ": " << c.args[2] << " " << c.args[3];
  }
  // A mount's server is asked once: its answer stands while the mount does;
  // a mount of another ID at that point is asked anew.
  uni::mount_entry m;
  m.id = 919999;
  m.mount_point = dir + "/mnt-again";
  m.type = "fuse.rclone";
  m.source = "l:";
  EXPECT_EQ(uni::rclone_remote_folders(m), (uni::shown_folders{{"", own}}));
  std::ofstream(dir + "/own.conf", std::ios::trunc) << "[l]\ntype = alias\nremote = " << a << "\n";
  EXPECT_EQ(uni::rclone_remote_folders(m), (uni::shown_folders{{"", own}}));
  ++m.id;
  EXPECT_EQ(uni::rclone_remote_folders(m), (uni::shown_folders{{"", a}}));
}

// Only a regular file of a few KiB is read as a config, and none blocks the
// read: a FIFO (which would wait for a writer, or holds the server's bytes),
// a link to an endless device, a folder, a config past 1 MiB name no folder;
// a link to a config, and one of 1 MiB, do.
TEST(MountSources, OnlyRegularConfigsOfSaneSizeAreRead) {
  const std::string dir = quor_test::scratch_dir() + "/rclone-configs";
  ::mkdir(dir.c_str(), 0700);
  const std::string plain = dir + "/plain.conf", fifo = dir + "/fifo.conf", zero = dir + "/zero.conf",
                    big = dir + "/big.conf", link = dir + "/link.conf";
  const std::string text = "[l]\ntype = local\n";
  std::ofstream(plain) << text;
  std::ofstream(big) << text << "# " << std::string(1 << 20, 'x') << "\n";
  const std::string edge = dir + "/edge.conf", past = dir + "/past.conf", held = dir + "/held.conf";
  std::ofstream(edge) << text << "#" << std::string((1 << 20) - text.size() - 2, 'x') << "\n";
  std::ofstream(past) << text << "#" << std::string((1 << 20) - text.size() - 1, 'x') << "\n";
  // A FIFO that holds a config, its writer still there: its bytes are the
  // server's, if anyone's, and stay in it.
  ASSERT_EQ(::mkfifo(held.c_str(), 0600), 0);
  const int writer = ::open(held.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(::write(writer, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", zero.c_str()), 0);
  ASSERT_EQ(::symlink(plain.c_str(), link.c_str()), 0);
  const struct {
    std::string config;
    bool read;
  } cases[] = {{plain, true}, {link, true}, {fifo, false}, {zero, false}, {dir, false},
               {big, false}, {edge, true}, {past, false}, {held, false}};
  for (const auto& c : cases) {
    const run_config named(c.config);
    // A read that blocks or never ends is ended by the alarm, and fails.
    ::alarm(20);
    EXPECT_EQ(folders_of("l:/srv").size(), c.read ? 1u : 0u) << c.config;
    ::alarm(0);
  }
  std::string left(text.size(), '\0');
  EXPECT_EQ(::read(writer, &left[0], left.size()), static_cast<ssize_t>(text.size()));
  EXPECT_EQ(left, text);
  ::close(writer);
}

// The pieces of a list as the guard splits them (a table line, a path, a
// command line, mergerfs's branches): empty pieces kept where they stand,
// none after a last separator, none of an empty text.
TEST(MountSources, PiecesOfAList) {
  const struct {
    std::string text;
    char separator;
    std::vector<std::string> pieces;
  } cases[] = {
      {"", ':', {}},
      {"a", ':', {"a"}},
      {"a::b:", ':', {"a", "", "b"}},
      {":a", ':', {"", "a"}},
      {"/cases//ev/./x/", '/', {"", "cases", "", "ev", ".", "x"}},
      {std::string("rclone\0mount\0\0/mnt/r\0", 21), '\0', {"rclone", "mount", "", "/mnt/r"}},
  };
  for (const auto& c : cases) EXPECT_EQ(uni::split(c.text, c.separator), c.pieces) << c.text;
}

// A device number as the table and /sys write it; anything else is none,
// and leaves the number as it was.
TEST(MountSources, DeviceNumbers) {
  const struct {
    const char* text;
    bool read;
    uint64 device;
  } cases[] = {
      {"8:0", true, makedev(8, 0)},
      {"259:3", true, makedev(259, 3)},
      {"7:1048575", true, makedev(7, 1048575)},
      {"8:0\n", false, 0},
      {" 8:0", false, 0},
      {"-1:0", false, 0},
      {"8:", false, 0},
      {"8", false, 0},
      {"4294967296:0", false, 0},
  };
  for (const auto& c : cases) {
    uint64 device = 12345;
    ASSERT_EQ(uni::device_number(c.text, device), c.read) << c.text;
    EXPECT_EQ(device, c.read ? c.device : 12345) << c.text;
  }
}

// A file is read whole however long, NULs and all, or as far as asked; one
// that is not there reads as nothing.
TEST(MountSources, TextOfAFile) {
  const std::string path = quor_test::scratch_dir() + "/file-text-whole";
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + '\0';
  ASSERT_GT(text.size(), 3 * 4096u);
  std::ofstream(path, std::ios::binary) << text;
  EXPECT_EQ(uni::file_text(path), text);
  EXPECT_EQ(uni::file_text(path, 5000), text.substr(0, 5000));
  EXPECT_EQ(uni::file_text(path + ".missing"), "");
  // A FIFO gives what it holds, its writer still there, and is not waited on.
  const std::string fifo = path + ".fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int writer = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(::write(writer, "held", 4), 4);
  ::alarm(20);
  EXPECT_EQ(uni::file_text(fifo), "held");
  ::alarm(0);
  ::close(writer);
}

}  // namespace
