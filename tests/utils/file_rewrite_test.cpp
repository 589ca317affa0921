// Whole-file rewrites write the file they name: through symbolic links (the
// link stays a link), into a FIFO or a device in place, into every name of
// a hard-linked file, keeping its owner and mode; a new output takes the
// process's mask, and a write the file system refuses leaves the old text.
#include "utils/file_rewrite.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "tests/support/child_process.h"
#include "tests/support/fixture.h"
#include "tests/support/output_rules.h"
#include "utils/html_to_text.h"
#include "utils/tag_sections.h"
#include "utils/text_tables.h"

namespace {

std::string make_dir(const std::string& name) {
  const std::string dir = quor_test::scratch_dir() + "/" + name;
  ::mkdir(dir.c_str(), 0755);
  return dir;
}

void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

bool is_link(const std::string& path, std::string& names) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
  char buffer[4096];
  const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
  names.assign(buffer, n > 0 ? static_cast<size_t>(n) : 0);
  return true;
}

// Files whose names hold ".tmp-" in a folder: temporaries left behind.
std::string temporaries(const std::string& dir) {
  std::string out;
  quor_test::run_command("ls -a '" + dir + "' | grep -F '.tmp-' || true", out);
  return out;
}

TEST(FileRewrite, EveryRewriteChangesTheFileALinkNames) {
  const std::string dir = make_dir("links"), real = make_dir("links/real");
  const struct {
    const char* name;
    std::string before, after;
    std::function<bool(const char*)> rewrite;
  } cases[] = {
      {"tabs", "\tc\n", "    c\n", [](const char* p) { return expand_tabs_in_file(p, p, 4, false); }},
      {"scripts", "a<script>x()</script>b", "ab", [](const char* p) { return remove_scripts_from_file(p, nullptr, true); }},
      {"sections", "x<b>y</b>z", "xz", [](const char* p) { return remove_tag_sections_from_file(p, nullptr, "b"); }},
      {"string", "a&amp;b&amp;", "ab", [](const char* p) { return remove_string_from_file(p, "&amp;", false); }},
  };
  for (const auto& c : cases) {
    // A relative link to a file in another folder.
    const std::string target = real + "/" + c.name + ".txt", link = dir + "/" + c.name + ".lnk";
    const std::string relative = std::string("real/") + c.name + ".txt";
    write_text(target, c.before);
    ASSERT_EQ(::symlink(relative.c_str(), link.c_str()), 0) << c.name;
    ASSERT_TRUE(c.rewrite(link.c_str())) << c.name;
    std::string names;
    EXPECT_TRUE(is_link(link, names)) << c.name << ": the link was replaced by a file";
    EXPECT_EQ(names, relative) << c.name;
    EXPECT_EQ(quor_test::read_file_text(target), c.after) << c.name;
  }
  EXPECT_EQ(temporaries(dir), "");
  EXPECT_EQ(temporaries(real), "");

  // HTML to text: the output written through a link equals the output
  // written to a plain file.
  const std::string page = std::string(QUOR_SOURCE_DIR) + "/tests/utils/html/page.html";
  const std::string plain = dir + "/page.txt", target = real + "/page-target.txt", link = dir + "/page.lnk";
  write_text(target, "old");
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  ASSERT_TRUE(html_file_to_text(page.c_str(), plain.c_str()));
  ASSERT_TRUE(html_file_to_text(page.c_str(), link.c_str()));
  std::string names;
  EXPECT_TRUE(is_link(link, names));
  EXPECT_NE(quor_test::read_file_text(plain), "");
  EXPECT_EQ(quor_test::read_file_text(target), quor_test::read_file_text(plain));
}

TEST(FileRewrite, ChainsDanglingLinksAndLoops) {
  const std::string dir = make_dir("chain");
  const std::string target = dir + "/target", first = dir + "/first", second = dir + "/second";
  write_text(target, "old");
  ::chmod(target.c_str(), 0640);
  ASSERT_EQ(::symlink("target", first.c_str()), 0);
  ASSERT_EQ(::symlink(first.c_str(), second.c_str()), 0);
  ASSERT_TRUE(replace_file_contents(second.c_str(), "new"));
  std::string names;
  EXPECT_TRUE(is_link(second, names));
  EXPECT_EQ(names, first);
  EXPECT_TRUE(is_link(first, names));
  EXPECT_EQ(names, "target");
  EXPECT_EQ(quor_test::read_file_text(target), "new");
  struct stat st;
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u) << "the target keeps its permission bits";

  // A link to a file not yet there: the file is made where the link points.
  const std::string dangling = dir + "/dangling";
  ASSERT_EQ(::symlink("made", dangling.c_str()), 0);
  ASSERT_TRUE(replace_file_contents(dangling.c_str(), "fresh"));
  EXPECT_TRUE(is_link(dangling, names));
  EXPECT_EQ(quor_test::read_file_text(dir + "/made"), "fresh");

  // A loop of links cannot be followed: refused, the links left alone.
  const std::string a = dir + "/loop_a", b = dir + "/loop_b";
  ASSERT_EQ(::symlink("loop_b", a.c_str()), 0);
  ASSERT_EQ(::symlink("loop_a", b.c_str()), 0);
  EXPECT_FALSE(replace_file_contents(a.c_str(), "x"));
  EXPECT_TRUE(is_link(a, names));
  EXPECT_EQ(names, "loop_b");
  EXPECT_EQ(temporaries(dir), "");
}

// The file rewriters that take an output apart from their input, each with
// an input and the text it writes.
struct rewriter {
  const char* name;
  std::string input, output;
  std::function<bool(const char* in, const char* out)> rewrite;
};

std::vector<rewriter> rewriters_with_output() {
  return {
      {"tabs", "\tc\n", "    c\n", [](const char* i, const char* o) { return expand_tabs_in_file(i, o, 4, false); }},
      {"html", "<b>x</b>", "_x_<b>x</b>", [](const char* i, const char* o) { return html_file_to_text(i, o); }},
      {"scripts", "a<script>x()</script>b", "ab",
       [](const char* i, const char* o) { return remove_scripts_from_file(i, o, false); }},
      {"sections", "x<b>y</b>z", "xz", [](const char* i, const char* o) { return remove_tag_sections_from_file(i, o, "b"); }},
  };
}

// A hard-linked file is rewritten in place: both names show the new text,
// and inode, owner and mode stay. So for the in-place string remover.
TEST(FileRewrite, HardLinksOwnerAndModeStay) {
  const std::string dir = make_dir("linked");
  std::vector<rewriter> cases = rewriters_with_output();
  cases.push_back({"string", "a&amp;b", "ab", [](const char*, const char* o) { return remove_string_from_file(o, "&amp;", false); }});
  const bool root = ::geteuid() == 0;
  for (const rewriter& c : cases) {
    const std::string in = dir + "/" + c.name + ".in", first = dir + "/" + c.name, second = first + ".link";
    write_text(in, c.input);
    write_text(first, c.name == std::string("string") ? c.input : "old text");
    ASSERT_EQ(::link(first.c_str(), second.c_str()), 0);
    ASSERT_EQ(::chmod(first.c_str(), 0604), 0);
    if (root) {
      ASSERT_EQ(::chown(first.c_str(), 4321, 4322), 0);
    }
    struct stat before, after;
    ASSERT_EQ(::stat(first.c_str(), &before), 0);
    ASSERT_TRUE(c.rewrite(in.c_str(), second.c_str())) << c.name;
    EXPECT_EQ(quor_test::read_file_text(first), c.output) << c.name;
    EXPECT_EQ(quor_test::read_file_text(second), c.output) << c.name;
    ASSERT_EQ(::stat(second.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << c.name;
    EXPECT_EQ(after.st_nlink, 2u) << c.name;
    EXPECT_EQ(after.st_mode, before.st_mode) << c.name;
    EXPECT_EQ(after.st_uid, before.st_uid) << c.name;
    EXPECT_EQ(after.st_gid, before.st_gid) << c.name;
  }
  EXPECT_EQ(temporaries(dir), "");
}

// A FIFO or a device is written in place, the node left as it was: a
// FIFO's reader gets the text, a FIFO nobody reads is refused at once, and
// a device node (here /dev/null's numbers, in the scratch folder) reached
// through a link takes the text and stays a device. A new output gets 0666
// less the process's mask.
TEST(FileRewrite, SpecialFilesAreWrittenInPlaceAndNewFilesTakeTheMask) {
  const std::string dir = make_dir("special"), err = dir + "/child.err";
  const std::string fifo = dir + "/fifo", device = dir + "/null", device_link = dir + "/null.lnk";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const bool have_device = ::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
  ASSERT_EQ(::symlink("null", device_link.c_str()), 0);
  for (const rewriter& c : rewriters_with_output()) {
    const std::string in = dir + "/" + c.name + ".in";
    write_text(in, c.input);

    const int unread = quor_test::exit_status_in_child([&] { return c.rewrite(in.c_str(), fifo.c_str()) ? 1 : 0; }, err);
    EXPECT_EQ(unread, 0) << c.name << (unread == -1 ? ": waited for a reader" : ": not refused");
    EXPECT_EQ(quor_test::read_file_text(err), "no reader: " + fifo + "\n") << c.name;

    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const int read = quor_test::exit_status_in_child([&] { return c.rewrite(in.c_str(), fifo.c_str()) ? 1 : 0; }, err);
    EXPECT_EQ(read, 1) << c.name;
    EXPECT_EQ(quor_test::drain(reader), c.output) << c.name;
    ::close(reader);
    struct stat st;
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << c.name;

    if (have_device) {
      EXPECT_TRUE(c.rewrite(in.c_str(), device_link.c_str())) << c.name;
      ASSERT_EQ(::lstat(device.c_str(), &st), 0);
      EXPECT_TRUE(S_ISCHR(st.st_mode) && st.st_rdev == makedev(1, 3)) << c.name;
      ASSERT_EQ(::lstat(device_link.c_str(), &st), 0);
      EXPECT_TRUE(S_ISLNK(st.st_mode)) << c.name;
    }

    const std::string fresh = dir + "/" + c.name + ".new";
    const mode_t mask = ::umask(027);
    const bool made = c.rewrite(in.c_str(), fresh.c_str());
    ::umask(mask);
    ASSERT_TRUE(made) << c.name;
    ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << c.name;
    EXPECT_EQ(quor_test::read_file_text(fresh), c.output) << c.name;
  }
  EXPECT_EQ(temporaries(dir), "");
}

// An input FIFO nobody writes to is not waited on: the read, and so every
// rewrite that reads it, is false at once. One whose writer is there gives
// what the writer writes, up to the writer's end.
TEST(FileRewrite, InputFifoWithoutAWriterIsNotWaitedOn) {
  const std::string dir = make_dir("input-fifo"), fifo = dir + "/fifo", err = dir + "/child.err";
  const std::string out = dir + "/out";
  ::unlink(fifo.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    const char* name;
    std::function<bool()> read;
  } readers[] = {
      {"read", [&] {
         std::string got;
         return read_file_bytes(fifo.c_str(), got, UINT32_MAX);
       }},
      {"string", [&] { return remove_string_from_file(fifo.c_str(), "x", false); }},
      {"tabs", [&] { return expand_tabs_in_file(fifo.c_str(), out.c_str(), 4, false); }},
  };
  for (const auto& r : readers) {
    const int status = quor_test::exit_status_in_child([&] { return r.read() ? 1 : 0; }, err);
    EXPECT_EQ(status, 0) << r.name << (status == -1 ? ": waited for a writer" : ": read");
  }

  // A writer that has opened the FIFO and writes only after the read began.
  int opened[2];
  ASSERT_EQ(::pipe(opened), 0);
  const pid_t writer = ::fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    if (fd < 0 || ::write(opened[1], "o", 1) != 1) ::_exit(1);
    ::usleep(200000);
    const bool wrote = ::write(fd, "late bytes", 10) == 10;
    ::_exit(wrote ? 0 : 1);
  }
  ::close(opened[1]);
  // A reader of the test's own lets the writer's open end.
  const int held = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  char c = 0;
  ASSERT_EQ(::read(opened[0], &c, 1), 1);
  ::close(opened[0]);
  const int status = quor_test::exit_status_in_child(
      [&] {
        std::string got;
        uni::file_identities ids;
        return read_file_bytes(fifo.c_str(), got, UINT32_MAX, ids) && got == "late bytes" && ids.size() == 1 ? 1 : 0;
      },
      err);
  EXPECT_EQ(status, 1) << (status == -1 ? "waited past the writer's end" : "not the writer's bytes");
  ::close(held);
  int ended = 0;
  ::waitpid(writer, &ended, 0);
  EXPECT_TRUE(WIFEXITED(ended) && WEXITSTATUS(ended) == 0);
}

// Removes a mount when the test ends, however it ends.
struct mounted {
  std::string at;
  ~mounted() {
    if (!at.empty()) ::umount2(at.c_str(), MNT_DETACH);
  }
};

// A new text the file system does not take leaves the old text whole: a
// size limit in a child, and (as root) a small full tmpfs. Room that the old
// text frees counts: a new text that fits once the old is gone is written.
TEST(FileRewrite, RefusedWriteLeavesTheOldTextWhole) {
  const std::string dir = make_dir("refused"), target = dir + "/target", fresh = dir + "/fresh";
  const std::string err = dir + "/child.err";
  const std::string old_text(100, 'o');
  write_text(target, old_text);
  const int limited = quor_test::exit_status_in_child(
      [&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {150, 150};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
        const std::string text(300, 'n');
        return (replace_file_contents(target.c_str(), text) ? 1 : 0) + (replace_file_contents(fresh.c_str(), text) ? 2 : 0);
      },
      err);
  EXPECT_EQ(limited, 0);
  EXPECT_TRUE(quor_test::read_file_text(target) == old_text);
  struct stat st;
  EXPECT_NE(::lstat(fresh.c_str(), &st), 0) << "a new file left half written";
  EXPECT_EQ(temporaries(dir), "");

  const std::string small = make_dir("refused/tmpfs");
  mounted m;
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "no tmpfs can be mounted here";
  }
  m.at = small;
  // 16 pages: 4 of old text and 7 of filler leave 5 free.
  const std::string file = small + "/file";
  write_text(file, std::string(16384, 'o'));
  write_text(small + "/filler", std::string(28672, 'f'));
  ASSERT_TRUE(replace_file_contents(file.c_str(), std::string(20480, 'n')));
  EXPECT_TRUE(quor_test::read_file_text(file) == std::string(20480, 'n'));
  // Now 5 pages of text and 4 free: 10 pages fit neither beside it nor in its place.
  EXPECT_FALSE(replace_file_contents(file.c_str(), std::string(40960, 'x')));
  EXPECT_TRUE(quor_test::read_file_text(file) == std::string(20480, 'n'));
  EXPECT_EQ(temporaries(small), "");
}

// The first `n` bytes of a file.
std::string head_of(const std::string& path, size_t n) {
  std::string out(n, '\0');
  std::ifstream in(path, std::ios::binary);
  in.read(&out[0], static_cast<std::streamsize>(n));
  out.resize(static_cast<size_t>(in.gcount()));
  return out;
}

// A file longer than a rewriter measures its text in (uint32 for the tab
// expander, int for the others) is refused whole, read into memory or
// not: false, and the input and the output as they were. Cut to what
// fits, 4 GiB and 4 bytes would be taken for 4 bytes and those written in
// the file's place. Sparse files: only their first bytes take room.
TEST(FileRewrite, FilesLongerThanTheirTextCanBeAreRefusedWhole) {
  const std::string dir = make_dir("too-long"), big = dir + "/big", kept = dir + "/kept", err = dir + "/child.err";
  std::vector<rewriter> cases = rewriters_with_output();
  cases.push_back({"string", "a&amp;b", "", [](const char*, const char* o) { return remove_string_from_file(o, "&amp;", false); }});
  const uint64 past_int = 0x80000004ull, past_uint32 = 0x100000004ull;
  for (const rewriter& c : cases) {
    for (const uint64 size : {past_int, past_uint32}) {
      if (size == past_int && c.name == std::string("tabs")) continue;  // a text it can hold
      for (const bool in_place : {false, true}) {
        if (!in_place && c.name == std::string("string")) continue;  // it writes where it reads
        SCOPED_TRACE(std::string(c.name) + " of " + std::to_string(size) + (in_place ? " in place" : ""));
        if (!quor_test::make_sparse_file(big, c.input, size)) GTEST_SKIP() << "no sparse file of " << size << " bytes here";
        write_text(kept, "kept");
        const std::string target = in_place ? big : kept;
        const int status = quor_test::exit_status_in_child([&] { return c.rewrite(big.c_str(), target.c_str()) ? 1 : 0; }, err);
        EXPECT_EQ(status, 0) << (status == -1 ? "read for more than five seconds" : "not refused");
        struct stat st;
        ASSERT_EQ(::stat(big.c_str(), &st), 0);
        EXPECT_EQ(static_cast<uint64>(st.st_size), size);
        EXPECT_EQ(head_of(big, c.input.size() + 4), c.input + std::string(4, '\0'));
        EXPECT_EQ(quor_test::read_file_text(kept), "kept");
      }
    }
  }
  ::unlink(big.c_str());
  EXPECT_EQ(temporaries(dir), "");
}

// The whole-file read stops at the bound it is given: a regular file by
// its size, a device that never ends once more has come than may. None of
// these failures is a want of memory.
TEST(FileRewrite, WholeFileReadsKeepToTheirBound) {
  const std::string dir = make_dir("bound"), ten = dir + "/ten";
  write_text(ten, "0123456789");
  const struct {
    std::string path;
    uint64 most;
    bool read;
  } cases[] = {{ten, 10, true},  {ten, 11, true}, {ten, 9, false}, {ten, 0, false}, {"/dev/zero", 3u << 20, false},
               {dir, 10, false}, {dir + "/absent", 10, false}};
  for (const auto& c : cases) {
    std::string got = "old";
    uni::file_identities ids;
    EXPECT_EQ(read_file_bytes(c.path.c_str(), got, c.most, ids), c.read) << c.path << " " << c.most;
    EXPECT_EQ(got, c.read ? "0123456789" : "") << c.path << " " << c.most;
    EXPECT_EQ(ids.size(), c.read ? 1u : 0u) << c.path << " " << c.most;
    bool no_memory = true;
    got = "old";
    EXPECT_EQ(read_file_bytes(c.path.c_str(), got, c.most, no_memory), c.read) << c.path << " " << c.most;
    EXPECT_EQ(got, c.read ? "0123456789" : "") << c.path << " " << c.most;
    EXPECT_FALSE(no_memory) << c.path << " " << c.most;
  }
}

// A file of 48 MiB with 16 MiB left is a want of memory, told apart from
// every other failure; a short file is read after it. In a child, whose
// address space is cut.
TEST(FileRewrite, WholeFileReadWithoutMemoryIsToldApart) {
  if (!quor_test::allocation_failures_throw()) GTEST_SKIP() << "this allocator ends the process when memory runs out";
  const std::string dir = make_dir("no-memory"), ten = dir + "/ten", big = dir + "/big";
  write_text(ten, "0123456789");
  write_text(big, std::string(48u << 20, 'b'));
  const int status = quor_test::exit_status_in_child(
      [&] {
        if (!quor_test::limit_address_space(16u << 20)) return 2;
        std::string got = "old";
        bool no_memory = false;
        if (read_file_bytes(big.c_str(), got, UINT32_MAX, no_memory) || !no_memory || !got.empty()) return 3;
        return read_file_bytes(ten.c_str(), got, 10, no_memory) && !no_memory && got == "0123456789" ? 0 : 4;
      },
      dir + "/child.err");
  EXPECT_EQ(status, 0) << (status == 3 ? "not told apart as a want of memory" : "");
  ::unlink(big.c_str());
}

}  // namespace
