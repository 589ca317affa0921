// Opening outputs: a file that is a source (by any name) is left as it was;
// any other is emptied or appended to only after the check; a new file is
// never made over a name that is taken, not even by a dangling link, nor
// renamed onto one.
#include "utils/output_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/fixture.h"
#include "tests/support/layer_setups.h"
#include "tests/support/loop_device.h"
#include "tests/support/mount_guard.h"
#include "utils/output_folder.h"
#include "utils/output_reach.h"

namespace {

using uni::output_open;
using uni::output_result;

std::string scratch(const std::string& name) { return quor_test::scratch_dir() + "/out-" + name; }

void write_text(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// Everything writing through `path` would write, as a source is known.
uni::file_identities identities(const std::string& path) {
  uni::file_identities ids;
  const int fd = ::open(path.c_str(), O_RDONLY);
  EXPECT_TRUE(uni::identities_of_descriptor(fd, ids)) << path;
  ::close(fd);
  return ids;
}

uni::file_identities identity_of(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  uni::file_identity id;
  const bool ok = uni::identity_of_descriptor(fd, id);
  ::close(fd);
  return ok ? uni::file_identities{id} : uni::file_identities{};
}

// What writing the file open at `fd` writes besides the file itself: what
// it is stored on, layer under layer (uni::reach_of's `under`).
uni::file_identities stored_on(int fd) {
  uni::output_reach r;
  struct stat st;
  if (fd >= 0 && ::fstat(fd, &st) == 0) uni::reach_of(fd, st, r);
  return r.under;
}

// Whether writing to the open descriptor `fd` would write one of `sources`,
// or cannot be told not to.
bool reaches(int fd, const uni::file_identities& sources) {
  std::string why;
  return uni::descriptor_reach(fd, sources, why) != uni::reach_answer::clear;
}

// A rename gives a free name only: a regular file under the name is
// "taken" and both files stay as they were; a dangling link, a link to a
// file or a folder in the way is a failure and stays too.
TEST(OutputFile, RenameNeverReplaces) {
  const std::string held = scratch("rename-held");
  write_text(held, "held");
  const std::string folder = scratch("rename-folder");
  ::mkdir(folder.c_str(), 0700);
  const std::string dangling = scratch("rename-dangling"), linked = scratch("rename-linked");
  ::unlink(dangling.c_str());
  ::unlink(linked.c_str());
  ASSERT_EQ(::symlink((held + ".none").c_str(), dangling.c_str()), 0);
  ASSERT_EQ(::symlink(held.c_str(), linked.c_str()), 0);
  const std::string free_name = scratch("rename-free");
  ::unlink(free_name.c_str());
  const struct {
    std::string to;
    bool wide;  // through the wide form
    uni::rename_result want;
  } cases[] = {{free_name, false, uni::rename_result::renamed},
               {held, true, uni::rename_result::taken},
               {dangling, false, uni::rename_result::failed},
               {linked, true, uni::rename_result::failed},
               {folder, false, uni::rename_result::failed}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.to);
    const std::string from = scratch("rename-from");
    write_text(from, "new");
    struct stat before {};
    ::lstat(c.to.c_str(), &before);
    const uni::rename_result got =
        c.wide ? uni::rename_output(std::wstring(from.begin(), from.end()), std::wstring(c.to.begin(), c.to.end()))
             : uni::rename_output(from, c.to);
    EXPECT_EQ(static_cast<int>(got), static_cast<int>(c.want));
    struct stat after {};
    ASSERT_EQ(::lstat(c.to.c_str(), &after), 0);
    if (c.want == uni::rename_result::renamed) {
      EXPECT_EQ(quor_test::read_file_text(c.to), "new");
      EXPECT_NE(::access(from.c_str(), F_OK), 0) << "the old name stays";
    } else {
      EXPECT_EQ(after.st_ino, before.st_ino);
      EXPECT_EQ(quor_test::read_file_text(from), "new");
    }
  }
  EXPECT_EQ(quor_test::read_file_text(held), "held");
}

TEST(OutputFile, SourcesAreRefusedByAnyNameOthersOpenAsAsked) {
  const std::string source = scratch("source"), hard = scratch("hard"), soft = scratch("soft");
  const std::string other = scratch("other");
  write_text(source, "evidence");
  ASSERT_EQ(::link(source.c_str(), hard.c_str()), 0);
  ASSERT_EQ(::symlink(source.c_str(), soft.c_str()), 0);
  const uni::file_identities sources = identity_of(source);
  ASSERT_EQ(sources.size(), 1u);
  for (const std::string& name : {source, hard, soft})
    for (output_open how : {output_open::truncate, output_open::append}) {
      std::ofstream s;
      EXPECT_EQ(uni::open_output(s, name, sources, how), output_result::is_source) << name;
      EXPECT_FALSE(s.is_open());
      EXPECT_EQ(quor_test::read_file_text(source), "evidence");
    }
  // The names themselves: a rename onto the file or its hard link would take
  // the source's name; one onto the symbolic link would replace only the link.
  EXPECT_TRUE(uni::names_source(source, sources));
  EXPECT_TRUE(uni::names_source(hard, sources));
  EXPECT_FALSE(uni::names_source(soft, sources));
  EXPECT_FALSE(uni::names_source(other, sources));

  // An open descriptor, as standard output is handed to the process: the
  // source by any name is one, another file, a pipe or /dev/null never.
  write_text(other, "other");
  for (const std::string& name : {source, hard, soft, other, std::string("/dev/null")}) {
    const int fd = ::open(name.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0) << name;
    EXPECT_EQ(reaches(fd, sources), name != other && name != "/dev/null") << name;
    std::string why = "stale";
    EXPECT_EQ(uni::descriptor_reach(fd, sources, why),
              name != other && name != "/dev/null" ? uni::reach_answer::source : uni::reach_answer::clear)
        << name;
    // Named by what stands for it; these sources were gathered without a name.
    EXPECT_EQ(why, name != other && name != "/dev/null" ? "it is the evidence" : "") << name;
    ::close(fd);
  }
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  EXPECT_FALSE(reaches(ends[1], sources));
  ::close(ends[0]);
  ::close(ends[1]);
  EXPECT_FALSE(reaches(-1, sources));
  ::unlink(other.c_str());

  const struct {
    output_open how;
    output_result want;
    const char* after;  // the file after "new" was written
  } cases[] = {
      {output_open::truncate, output_result::opened, "new"},
      {output_open::append, output_result::opened, "older textnew"},
      {output_open::create_new, output_result::exists, "older text"},
  };
  // The file there is longer than what is written: emptied, nothing of it
  // may be left past the new bytes.
  for (const auto& c : cases) {
    write_text(other, "older text");
    std::ofstream s;
    EXPECT_EQ(uni::open_output(s, other, sources, c.how), c.want);
    s << "new";
    s.close();
    EXPECT_EQ(quor_test::read_file_text(other), c.after);
  }
  // A device is written in place: it has no length to cut.
  std::ofstream device;
  EXPECT_EQ(uni::open_output(device, "/dev/null", sources, output_open::truncate), output_result::opened);
  // A new file: made when the name is free, refused over a dangling link.
  const std::string fresh = scratch("fresh"), dangling = scratch("dangling");
  ASSERT_EQ(::symlink(scratch("nowhere").c_str(), dangling.c_str()), 0);
  std::ofstream made, refused;
  EXPECT_EQ(uni::open_output(made, std::wstring(fresh.begin(), fresh.end()), sources, output_open::create_new),
            output_result::opened);
  EXPECT_EQ(uni::open_output(refused, dangling, sources, output_open::create_new), output_result::exists);
  struct stat st;
  EXPECT_NE(::stat(scratch("nowhere").c_str(), &st), 0);
}

// The descriptor and stdio forms make the same check as the stream: a
// source refused by any name, untouched, with no descriptor handed out; any
// other file opened as asked, read-write only when asked, every write at
// the end when appending.
TEST(OutputFile, DescriptorAndStdioFormsCheckAsTheStreamDoes) {
  const std::string source = scratch("fd-source"), soft = scratch("fd-soft"), other = scratch("fd-other");
  write_text(source, "evidence");
  ASSERT_EQ(::symlink(source.c_str(), soft.c_str()), 0);
  const uni::file_identities sources = identity_of(source);
  for (const std::string& name : {source, soft}) {
    int fd = 7;
    EXPECT_EQ(uni::open_output(fd, name, sources, output_open::truncate, true), output_result::is_source);
    EXPECT_EQ(fd, -1);
    EXPECT_EQ(uni::open_output(fd, name, sources, output_open::append), output_result::is_source);
    // Judged by identity alone is judged by identity still.
    EXPECT_EQ(uni::open_output(fd, name, sources, output_open::extend), output_result::is_source);
    std::FILE* file = reinterpret_cast<std::FILE*>(&fd);
    EXPECT_EQ(uni::open_output(file, name, sources, output_open::truncate), output_result::is_source);
    EXPECT_EQ(file, nullptr);
    file = reinterpret_cast<std::FILE*>(&fd);
    EXPECT_EQ(uni::open_output(file, name, sources, output_open::rewrite), output_result::is_source);
    EXPECT_EQ(file, nullptr);
  }
  EXPECT_EQ(quor_test::read_file_text(source), "evidence");

  const struct {
    output_open how;
    bool readable;
    int access;
    const char* after;  // "0123456789" after "ab" was written at offset 0
  } cases[] = {
      {output_open::truncate, false, O_WRONLY, "ab"},
      {output_open::truncate, true, O_RDWR, "ab"},
      {output_open::append, true, O_RDWR, "0123456789ab"},
      {output_open::create_new, false, O_WRONLY, "0123456789"},
      {output_open::rewrite, true, O_RDWR, "ab"},
      {output_open::extend, false, O_WRONLY, "0123456789ab"},
  };
  for (const auto& c : cases) {
    write_text(other, "0123456789");
    int fd = -1;
    const output_result r = uni::open_output(fd, other, sources, c.how, c.readable);
    if (c.how == output_open::create_new) {
      EXPECT_EQ(r, output_result::exists);
      EXPECT_EQ(fd, -1);
    } else {
      ASSERT_EQ(r, output_result::opened) << static_cast<int>(c.how);
      EXPECT_EQ(::fcntl(fd, F_GETFL) & (O_ACCMODE | O_NONBLOCK), c.access);
      EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
      EXPECT_EQ(::pwrite(fd, "ab", 2, 0), 2);
      ::close(fd);
    }
    EXPECT_EQ(quor_test::read_file_text(other), c.after) << static_cast<int>(c.how);
  }
  // The stdio form reads back what it wrote, through the same stream.
  std::FILE* file = nullptr;
  ASSERT_EQ(uni::open_output(file, soft + "-new", {}, output_open::truncate), output_result::opened);
  char back[8] = {};
  EXPECT_EQ(std::fputs("stdio", file), 1);
  std::rewind(file);
  EXPECT_EQ(std::fread(back, 1, sizeof back, file), 5u);
  EXPECT_EQ(std::fclose(file), 0);
  EXPECT_EQ(std::string(back), "stdio");
}

// A stream that cannot be opened on the file just checked leaves that file
// as it was: it is emptied only once the stream holds it. Here the file may
// be written but not read (the stream opens it for both), by a process
// without the power to pass over file modes.
TEST(OutputFile, StreamThatCannotBeOpenedLeavesTheFileWhole) {
  const std::string kept = scratch("kept-whole"), err = scratch("kept-whole.err");
  write_text(kept, "old text");
  ASSERT_EQ(::chmod(kept.c_str(), 0200), 0);
  const int status = quor_test::exit_status_in_child(
      [&] {
        __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2] = {};
        if (::syscall(SYS_capget, &header, caps) != 0) return 8;
        caps[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        if (::syscall(SYS_capset, &header, caps) != 0) return 8;
        std::ofstream s;
        return uni::open_output(s, kept, {}, output_open::truncate) == output_result::failed && !s.is_open() ? 0 : 1;
      },
      err);
  ASSERT_EQ(::chmod(kept.c_str(), 0600), 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(quor_test::read_file_text(kept), "old text");
}

// A FIFO output waits for nothing: with no reader it is refused at once,
// saying so; with a reader it takes what is written, in either mode.
TEST(OutputFile, FifoWithoutAReaderIsRefusedAtOnce) {
  const std::string fifo = scratch("fifo"), err = scratch("fifo.err");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (output_open how : {output_open::truncate, output_open::append}) {
    const int result = quor_test::exit_status_in_child(
        [&] {
          std::ofstream s;
          const output_result r = uni::open_output(s, fifo, {}, how);
          return s.is_open() ? 100 : static_cast<int>(r);
        },
        err);
    EXPECT_EQ(result, static_cast<int>(output_result::no_reader)) << "mode " << static_cast<int>(how);
    EXPECT_EQ(quor_test::read_file_text(err), "no reader: " + fifo + "\n");

    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const int written = quor_test::exit_status_in_child(
        [&] {
          std::ofstream s;
          if (uni::open_output(s, fifo, {}, how) != output_result::opened) return 1;
          s << "through the pipe";
          s.close();
          return s.fail() ? 2 : 0;
        },
        err);
    EXPECT_EQ(written, 0) << "mode " << static_cast<int>(how);
    char buffer[64] = {};
    const ssize_t got = ::read(reader, buffer, sizeof buffer);
    ::close(reader);
    EXPECT_EQ(std::string(buffer, got > 0 ? static_cast<size_t>(got) : 0), "through the pipe");
  }
}

// Whether the process `pid` is traced yet, as its status says.
bool traced(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, 10, "TracerPid:") == 0) return std::stoi(line.substr(10)) != 0;
  return false;
}

// A FIFO whose reader was there at the check and is gone when the stream
// opens it is not waited for either: the open says "no reader". strace
// holds the writer's first status call long enough for the reader to go.
TEST(OutputFile, FifoWhoseReaderGoesIsNotWaitedFor) {
  if (!quor_test::have_program("strace")) GTEST_SKIP() << "strace not installed";
  const std::string fifo = scratch("fifo-going"), err = scratch("fifo-going.err");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t writer = ::fork();
  if (writer == 0) {
    // Only the test holds the reader, so that closing it leaves none.
    ::close(reader);
    ::close(go[1]);
    const int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) ::dup2(fd, 2);
    char c;
    if (::read(go[0], &c, 1) != 1) ::_exit(101);
    std::ofstream s;
    const output_result r = uni::open_output(s, fifo, {}, output_open::truncate);
    ::_exit(s.is_open() ? 100 : static_cast<int>(r));
  }
  ASSERT_GT(writer, 0);
  ::close(go[0]);
  const std::string pid = std::to_string(writer);
  const pid_t tracer = ::fork();
  if (tracer == 0) {
    ::close(reader);
    ::close(go[1]);
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
      ::dup2(null, 1);
      ::dup2(null, 2);
    }
    ::execlp("strace", "strace", "-q", "-o", "/dev/null", "-e", "trace=%fstat", "-e",
             "inject=%fstat:delay_exit=1500000:when=1", "-p", pid.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_GT(tracer, 0);
  for (int tick = 0; tick < 300 && !traced(writer); ++tick) ::usleep(10000);
  const bool attached = traced(writer);
  if (attached) {
    EXPECT_EQ(::write(go[1], "g", 1), 1);
    ::usleep(300000);  // the writer has found the reader and waits in its status call
  }
  ::close(reader);
  ::close(go[1]);
  int status = 0;
  bool ended = false;
  for (int tick = 0; tick < 500 && !ended; ++tick) {
    ended = ::waitpid(writer, &status, WNOHANG) == writer;
    if (!ended) ::usleep(10000);
  }
  if (!ended) {
    ::kill(writer, SIGKILL);
    ::waitpid(writer, &status, 0);
  }
  ::kill(tracer, SIGKILL);
  ::waitpid(tracer, nullptr, 0);
  if (!attached) GTEST_SKIP() << "strace could not trace the writer";
  ASSERT_TRUE(ended) << "the writer waited for a reader";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == static_cast<int>(output_result::no_reader)) << status;
  EXPECT_EQ(quor_test::read_file_text(err), "no reader: " + fifo + "\n");
}

// A loop device and the file behind it are one file: the file is refused
// when the source is the loop device (or a loop device over that one), and
// a loop device over the source is refused as an output.
TEST(OutputFile, LoopDeviceAndTheFileBehindItAreOne) {
  const std::string image = scratch("looped"), other = scratch("looped-other");
  write_text(image, std::string(64 * 1024, 'e'));
  write_text(other, "other");
  const quor_test::loop_device read_only(image, true);
  if (read_only.path().empty()) GTEST_SKIP() << read_only.why();
  const quor_test::loop_device over_loop(read_only.path(), true);
  const quor_test::loop_device writable(image, false);
  ASSERT_FALSE(over_loop.path().empty() || writable.path().empty());

  const struct {
    std::string source, output;
  } refused[] = {
      {read_only.path(), image},
      {over_loop.path(), image},
      {image, writable.path()},
      {other, other},
  };
  for (const auto& c : refused) {
    for (output_open how : {output_open::truncate, output_open::append}) {
      std::ofstream s;
      EXPECT_EQ(uni::open_output(s, c.output, identities(c.source), how), output_result::is_source)
          << c.output << " reading " << c.source;
    }
  }
  EXPECT_TRUE(quor_test::read_file_text(image) == std::string(64 * 1024, 'e')) << "the file behind was written";
  // Neither makes every loop device a source: the other file opens.
  std::ofstream s;
  EXPECT_EQ(uni::open_output(s, other, identities(read_only.path()), output_open::append), output_result::opened);
}

// An image mounted read-write through a loop device: a file made or written
// in the mount is written into the image, so it is refused whether the
// image is read as a file or through the loop device, and a new name is
// refused before it is made. A mount of another image is no source.
TEST(OutputFile, FileOnAnImageMountedThroughALoopDeviceIsRefused) {
  if (!quor_test::have_program("mkfs.ext2")) GTEST_SKIP() << "mkfs.ext2 not installed";
  const std::string image = scratch("mounted.img"), other = scratch("mounted-other.img");
  std::string ignored;
  for (const std::string& img : {image, other})
    ASSERT_EQ(quor_test::run_command("truncate -s 4M '" + img + "' && mkfs.ext2 -q -F '" + img + "'", ignored), 0);
  const quor_test::loop_device loop(image, false), other_loop(other, false);
  if (loop.path().empty() || other_loop.path().empty()) GTEST_SKIP() << loop.why();
  const quor_test::ext2_mount in_image(loop.path(), scratch("mount"));
  const quor_test::ext2_mount in_other(other_loop.path(), scratch("mount-other"));
  if (in_image.dir().empty() || in_other.dir().empty()) GTEST_SKIP() << "ext2 could not be mounted";
  const std::string kept = in_image.dir() + "/kept", fresh = in_image.dir() + "/fresh";
  write_text(kept, "already there");
  for (const std::string& source : {image, loop.path()})
    for (const std::string& output : {kept, fresh})
      for (output_open how : {output_open::truncate, output_open::append, output_open::create_new}) {
        std::ofstream s;
        EXPECT_EQ(uni::open_output(s, output, identities(source), how), output_result::is_source)
            << output << " reading " << source;
        EXPECT_FALSE(s.is_open());
      }
  struct stat st;
  EXPECT_NE(::stat(fresh.c_str(), &st), 0) << "made on the image before the refusal";
  // A folder there, one to be made there, and one reached by climbing out
  // of a folder that would be made first, are refused before anything is
  // made; a folder in the other mount or beside the mount is not.
  const std::string climbing = scratch("not-yet");
  for (const std::string& source : {image, loop.path()})
    for (const std::string& folder : {in_image.dir(), in_image.dir() + "/new/deeper", climbing + "/../out-mount/new"})
      EXPECT_TRUE(uni::folder_writes_source(folder, identities(source))) << folder << " reading " << source;
  EXPECT_NE(::stat(climbing.c_str(), &st), 0);
  EXPECT_NE(::stat((in_image.dir() + "/new").c_str(), &st), 0);
  EXPECT_FALSE(uni::folder_writes_source(in_other.dir() + "/new", identities(image)));
  EXPECT_FALSE(uni::folder_writes_source(climbing + "/../out-mount-other/new", identities(image)));
  EXPECT_FALSE(uni::folder_writes_source(scratch("beside/new"), identities(loop.path())));
  // What holds a file in the mount: the loop device and the image behind it;
  // a device node is held by no disk of its own.
  struct stat loop_st, image_st;
  ASSERT_EQ(::stat(loop.path().c_str(), &loop_st), 0);
  ASSERT_EQ(::stat(image.c_str(), &image_st), 0);
  const int kept_fd = ::open(kept.c_str(), O_RDONLY);
  const uni::file_identities held = stored_on(kept_fd);
  EXPECT_FALSE(held.empty());
  ::close(kept_fd);
  bool by_loop = false, by_image = false;
  for (const uni::file_identity& id : held) {
    by_loop = by_loop || id.block_device == static_cast<uint64>(loop_st.st_rdev);
    by_image = by_image || (id.device == static_cast<uint64>(image_st.st_dev) &&
                            id.inode == static_cast<uint64>(image_st.st_ino));
  }
  EXPECT_TRUE(by_loop && by_image) << held.size();
  const int null_fd = ::open("/dev/null", O_WRONLY);
  ASSERT_GE(null_fd, 0);
  EXPECT_TRUE(stored_on(null_fd).empty());
  ::close(null_fd);
  EXPECT_EQ(quor_test::read_file_text(kept), "already there");
  std::ofstream s;
  EXPECT_EQ(uni::open_output(s, in_other.dir() + "/report", identities(image), output_open::truncate),
            output_result::opened);
}

}  // namespace

namespace {

// An image mounted read-write by ntfs-3g (FUSE: a device number no disk
// stands for, the image named only as the mount's source): a file made or
// written in the mount is written into the image, so it is refused, and a
// new name before it is made; a file beside the mount is not.
TEST(OutputFile, FileOnAFuseMountOfTheImageIsRefused) {
  const std::string image = quor_test::copy_fixture("default.img", "out-fuse.img");
  ASSERT_FALSE(image.empty());
  const quor_test::ntfs3g_mount mount(image, scratch("fuse"));
  if (mount.dir().empty()) GTEST_SKIP() << mount.why();
  const std::string kept = mount.dir() + "/kept", fresh = mount.dir() + "/fresh";
  write_text(kept, "already there");
  for (const std::string& output : {kept, fresh})
    for (output_open how : {output_open::truncate, output_open::append, output_open::create_new}) {
      std::ofstream s;
      EXPECT_EQ(uni::open_output(s, output, identities(image), how), output_result::is_source) << output;
      EXPECT_FALSE(s.is_open());
    }
  struct stat st;
  EXPECT_NE(::stat(fresh.c_str(), &st), 0) << "made on the image before the refusal";
  // A folder to be made in the mount, named from the folder above it.
  const int relative = quor_test::exit_status_in_child(
      [&] {
        if (::chdir(quor_test::scratch_dir().c_str()) != 0) return 9;
        return (uni::folder_writes_source("out-fuse/new", identities(image)) ? 1 : 0) +
               (uni::folder_writes_source("out-beside-fuse/new", identities(image)) ? 2 : 0);
      },
      scratch("fuse.err"));
  EXPECT_EQ(relative, 1);
  EXPECT_EQ(quor_test::read_file_text(scratch("fuse.err")),
            "refused to write: out-fuse/new: it is stored in the evidence through the FUSE mount at " +
                scratch("fuse") + " (fuse)\n");
  EXPECT_EQ(quor_test::read_file_text(kept), "already there");
  const int kept_fd = ::open(kept.c_str(), O_RDONLY);
  const uni::file_identities held = stored_on(kept_fd);
  EXPECT_FALSE(held.empty());
  EXPECT_TRUE(reaches(kept_fd, identity_of(image)));
  ::close(kept_fd);
  EXPECT_TRUE(uni::is_one_of(identity_of(image).at(0), held));
  std::ofstream beside;
  EXPECT_EQ(uni::open_output(beside, scratch("beside-fuse"), identities(image), output_open::truncate),
            output_result::opened);
}

}  // namespace

namespace {

// What stands for the source open by `path`, as every source collection
// gathers it.
uni::file_identities source_ids(const std::string& path) {
  uni::file_identities ids;
  const int fd = ::open(path.c_str(), O_RDONLY);
  EXPECT_TRUE(uni::identities_of_source(fd, ids)) << path;
  ::close(fd);
  return ids;
}

// Every way an output named `output` is opened gives `want`; a file there
// keeps its text.
void expect_opened_as(const std::string& output, const uni::file_identities& sources, output_result want) {
  for (output_open how : {output_open::truncate, output_open::append}) {
    std::ofstream s;
    EXPECT_EQ(uni::open_output(s, output, sources, how), want) << output;
    int fd = -1;
    EXPECT_EQ(uni::open_output(fd, output, sources, how), want) << output;
    if (fd >= 0) ::close(fd);
  }
}

// ntfs-3g hands FUSE the image's name cut at its first comma, and an image
// renamed after its mount keeps its old name in the mount table, where
// another file may be put since: no entry names the image, but the process
// serving the mount holds it. Files and folders in the mount are refused,
// descriptors there are the source; a mount of another image whose name
// is the source's cut at its comma takes outputs, its serving process
// holding only that image.
TEST(OutputFile, FuseMountWhoseEntryDoesNotNameTheImageIsRefused) {
  const std::string comma = quor_test::copy_fixture("default.img", "out-case12,disk2.dd");
  const std::string moved = quor_test::copy_fixture("default.img", "out-moved-from.img");
  const std::string replaced = quor_test::copy_fixture("default.img", "out-replaced.img");
  const std::string cut = quor_test::copy_fixture("default.img", "out-Smith");
  const std::string named = quor_test::copy_fixture("default.img", "out-Smith, John.dd");
  ASSERT_FALSE(comma.empty() || moved.empty() || replaced.empty() || cut.empty() || named.empty());
  const quor_test::ntfs3g_mount by_comma(comma, scratch("by-comma")), by_moved(moved, scratch("by-moved"));
  const quor_test::ntfs3g_mount by_replaced(replaced, scratch("by-replaced"));
  const quor_test::ntfs3g_mount by_cut(cut, scratch("by-cut"));
  if (by_comma.dir().empty() || by_moved.dir().empty() || by_replaced.dir().empty() || by_cut.dir().empty()) GTEST_SKIP() << by_comma.why();
  const std::string renamed = scratch("moved-to.img");
  ASSERT_EQ(::rename(moved.c_str(), renamed.c_str()), 0);
  const std::string sub = scratch("sub"), under_sub = sub + "/ev3.img";
  ::mkdir(sub.c_str(), 0700);
  ASSERT_EQ(::rename(replaced.c_str(), under_sub.c_str()), 0);
  write_text(replaced, "another file under the old name");
  const struct {
    std::string image, dir;
  } cases[] = {{comma, by_comma.dir()}, {renamed, by_moved.dir()}, {under_sub, by_replaced.dir()}};
  for (const auto& c : cases) {
    const uni::file_identities sources = source_ids(c.image);
    const std::string kept = c.dir + "/kept";
    write_text(kept, "already there");
    expect_opened_as(kept, sources, output_result::is_source);
    expect_opened_as(c.dir + "/fresh", sources, output_result::is_source);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(uni::folder_writes_source(c.dir + "/new/deeper", sources));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "refused to write: " + c.dir +
                                                          "/new/deeper: it is stored in the evidence " + c.image +
                                                          " through the FUSE mount at " + c.dir + " (fuse)\n");
    const int kept_fd = ::open(kept.c_str(), O_RDONLY);
    const uni::file_identities held = stored_on(kept_fd);
    EXPECT_FALSE(held.empty());
    EXPECT_TRUE(uni::is_one_of(identity_of(c.image).at(0), held)) << c.image;
    EXPECT_TRUE(reaches(kept_fd, sources));
    ::close(kept_fd);
    EXPECT_EQ(quor_test::read_file_text(kept), "already there");
    struct stat st;
    EXPECT_NE(::stat((c.dir + "/fresh").c_str(), &st), 0);
    EXPECT_NE(::stat((c.dir + "/new").c_str(), &st), 0);
  }
  expect_opened_as(by_cut.dir() + "/report", source_ids(named), output_result::opened);
  EXPECT_FALSE(uni::folder_writes_source(by_cut.dir() + "/new", source_ids(named)));
}

// A file seen through an overlay is the file of its layer: read through
// either name, the other is refused, in the upper layer and in a lower one,
// and so is a file in an ntfs-3g mount of the image by its overlay name,
// or of a loop device over it by that name. Another file in the overlay
// takes outputs.
TEST(OutputFile, OverlayFileAndItsLayerFileAreOne) {
  const std::string top = scratch("overlay");
  for (const char* folder : {"", "/L", "/U", "/W"}) ::mkdir((top + folder).c_str(), 0700);
  write_text(top + "/U/up.img", "upper evidence");
  write_text(top + "/L/low.img", "lower evidence");
  const quor_test::mount_guard overlay(
      "cd '" + top + "' && mount -t overlay overlay -o lowerdir=L,upperdir=U,workdir=W M", top + "/M");
  if (overlay.dir().empty()) GTEST_SKIP() << overlay.why();
  const struct {
    const char *source, *output;
  } refused[] = {{"/U/up.img", "/M/up.img"}, {"/M/up.img", "/U/up.img"}, {"/M/low.img", "/L/low.img"}};
  for (const auto& c : refused) {
    SCOPED_TRACE(std::string(c.output) + " reading " + c.source);
    expect_opened_as(top + c.output, source_ids(top + c.source), output_result::is_source);
  }
  EXPECT_EQ(quor_test::read_file_text(top + "/U/up.img"), "upper evidence");
  EXPECT_EQ(quor_test::read_file_text(top + "/L/low.img"), "lower evidence");
  expect_opened_as(top + "/M/other", source_ids(top + "/U/up.img"), output_result::opened);

  const std::string image = top + "/U/ntfs.img";
  std::string ignored;
  ASSERT_EQ(quor_test::run_command("cp '" + quor_test::fixture("default.img") + "' '" + image + "'", ignored), 0);
  const quor_test::ntfs3g_mount by_overlay(top + "/M/ntfs.img", scratch("by-overlay"));
  if (by_overlay.dir().empty()) GTEST_SKIP() << by_overlay.why();
  expect_opened_as(by_overlay.dir() + "/report", source_ids(image), output_result::is_source);
  EXPECT_TRUE(uni::folder_writes_source(by_overlay.dir() + "/new", source_ids(image)));

  const std::string looped = top + "/U/looped.img";
  ASSERT_EQ(quor_test::run_command("cp '" + quor_test::fixture("default.img") + "' '" + looped + "'", ignored), 0);
  const quor_test::loop_device loop(top + "/M/looped.img", false);
  if (loop.path().empty()) GTEST_SKIP() << loop.why();
  const quor_test::ntfs3g_mount by_loop(loop.path(), scratch("by-overlay-loop"));
  ASSERT_FALSE(by_loop.dir().empty()) << by_loop.why();
  const uni::file_identities sources = source_ids(looped);
  int fd = -1;
  EXPECT_EQ(uni::make_output_folder(by_loop.dir() + "/nd", sources, fd), uni::folder_result::is_source);
  if (fd >= 0) ::close(fd);
  expect_opened_as(by_loop.dir() + "/report", sources, output_result::is_source);
  struct stat st;
  EXPECT_NE(::stat((by_loop.dir() + "/nd").c_str(), &st), 0) << "made in the image";
}

// The disk under the source's file system: an ext4 in the partition of a
// loop device over a file. The partition, the whole loop device (by a node
// of its own) and the file behind it are refused as outputs; a file or a
// folder beside the source on that ext4, or beside the disk, is not.
TEST(OutputFile, DiskUnderTheSourceIsRefusedAFileBesideItIsNot) {
  if (!quor_test::have_program("mkfs.ext4") || !quor_test::have_program("sfdisk"))
    GTEST_SKIP() << "mkfs.ext4 or sfdisk not installed";
  const std::string disk = scratch("disk.raw");
  std::string ignored;
  ASSERT_EQ(quor_test::run_command(
                "truncate -s 40M '" + disk + "' && echo 'start=2048, type=83' | sfdisk -q '" + disk + "'", ignored),
            0);
  std::string shown;
  if (::geteuid() != 0 || quor_test::run_command("losetup -f -P --show '" + disk + "'", shown) != 0)
    GTEST_SKIP() << "no loop device";
  const std::string loop = shown.substr(0, shown.find('\n'));
  struct detach {
    std::string device;
    ~detach() {
      std::string ignored;
      quor_test::run_command("losetup -d '" + device + "'", ignored);
    }
  } detached{loop};
  const std::string partition = loop + "p1";
  struct stat st;
  bool found = false;
  // Where the partitions are not read at once, partx asks for them.
  for (int tick = 0; tick < 100 && !found; ++tick) {
    if (tick == 10) quor_test::run_command("partx -a '" + loop + "' 2>/dev/null", ignored);
    found = ::stat(partition.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
    if (!found) ::usleep(20000);
  }
  if (!found) GTEST_SKIP() << "the loop device's partition was not found";
  ASSERT_EQ(quor_test::run_command("mkfs.ext4 -q -F '" + partition + "'", ignored), 0);
  const quor_test::mount_guard ext4("mount '" + partition + "' '" + scratch("m5") + "'", scratch("m5"));
  ASSERT_FALSE(ext4.dir().empty()) << ext4.why();
  const std::string evidence = ext4.dir() + "/ev.img";
  write_text(evidence, "evidence");
  // Another node of the whole disk, made here.
  struct stat whole;
  ASSERT_EQ(::stat(loop.c_str(), &whole), 0);
  const std::string node = scratch("whole-disk-node");
  ASSERT_EQ(::mknod(node.c_str(), S_IFBLK | 0600, whole.st_rdev), 0);
  const uni::file_identities sources = source_ids(evidence);
  for (const std::string& output : {partition, node, disk}) {
    int fd = ::open(output.c_str(), O_RDWR);
    EXPECT_TRUE(reaches(fd, sources)) << output;
    ::close(fd);
    fd = -1;
    EXPECT_EQ(uni::open_output(fd, output, sources, output_open::append), output_result::is_source) << output;
  }
  EXPECT_EQ(quor_test::read_file_text(evidence), "evidence");
  for (const std::string& beside : {ext4.dir() + "/beside.txt", scratch("beside-disk.txt")})
    expect_opened_as(beside, sources, output_result::opened);
  EXPECT_FALSE(uni::folder_writes_source(ext4.dir() + "/copies/deeper", sources));
  EXPECT_FALSE(uni::folder_writes_source(ext4.dir(), sources));
}

}  // namespace

namespace {

// A pass-through view shows the files of the folder behind it: read through
// the view, the folder's file is refused, and the other way round, for a
// mergerfs whose table entry lists its branches. A file of another name in
// the view takes outputs.
TEST(OutputFile, FileSeenThroughAViewIsTheFileBehindIt) {
  if (!quor_test::have_program("mergerfs")) GTEST_SKIP() << "mergerfs not installed";
  const std::string top = scratch("views");
  for (const char* folder : {"", "/b1", "/b2"}) ::mkdir((top + folder).c_str(), 0700);
  write_text(top + "/b2/ev.img", "evidence in the second branch");
  const quor_test::mount_guard merged("mergerfs -o fsname=" + top + "/b1:" + top + "/b2 '" + top + "/b1:" + top +
                                          "/b2' '" + top + "/mg'",
                                      top + "/mg");
  if (merged.dir().empty()) GTEST_SKIP() << merged.why();
  const struct {
    const char *source, *output;
  } refused[] = {{"/b2/ev.img", "/mg/ev.img"}, {"/mg/ev.img", "/b2/ev.img"}};
  for (const auto& c : refused) {
    SCOPED_TRACE(std::string(c.output) + " reading " + c.source);
    expect_opened_as(top + c.output, source_ids(top + c.source), output_result::is_source);
  }
  EXPECT_EQ(quor_test::read_file_text(top + "/b2/ev.img"), "evidence in the second branch");
  expect_opened_as(top + "/mg/other", source_ids(top + "/mg/ev.img"), output_result::opened);
}

// Where what a file system is stored on cannot be told (a FUSE mount whose
// server holds no file and whose table entry names none, as rclone's over
// a remote; a mount of another namespace, reached through a process's
// root), nothing is made or replaced there, and the refusal says why. A
// source read through such a mount keeps every file that is already there
// from being replaced or appended to; new files and folders are still made.
TEST(OutputFile, WhereTheStoreCannotBeToldNothingIsWritten) {
  if (!quor_test::have_program("rclone")) GTEST_SKIP() << "rclone not installed";
  const std::string remote = scratch("remote");
  const quor_test::mount_guard mount("rclone mount :memory: '" + remote + "' --daemon", remote);
  if (mount.dir().empty()) GTEST_SKIP() << mount.why();
  const std::string layer = "cannot tell what the FUSE mount at " + remote +
                            " (fuse.rclone) is stored on: its server holds no file and its table entry names none";
  write_text(remote + "/ev.img", "evidence");
  const std::string local = scratch("local-evidence");
  write_text(local, "local");
  const uni::file_identities sources = source_ids(local);
  for (const std::string& output : {remote + "/ev.img", remote + "/fresh"}) {
    testing::internal::CaptureStderr();
    expect_opened_as(output, sources, output_result::untold);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string() + [&] {
      std::string said;
      for (int i = 0; i < 4; ++i) said += "refused to write: " + output + ": " + layer + "\n";
      return said;
    }());
  }
  testing::internal::CaptureStderr();
  int copies = -1;
  EXPECT_EQ(uni::make_output_folder(remote + "/copies", sources, copies), uni::folder_result::is_source);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "refused to write: " + remote + "/copies: " + layer + "\n");
  EXPECT_EQ(quor_test::read_file_text(remote + "/ev.img"), "evidence");

  // The evidence read from there: a file that is already there elsewhere
  // may be it (the same remote mounted again, say).
  const uni::file_identities through = source_ids(remote + "/ev.img");
  const std::string shared = "it is read through the share at " + remote + " (fuse.rclone), whose store cannot be told";
  const std::string kept = scratch("untold-kept"), fresh = scratch("untold-fresh");
  write_text(kept, "kept");
  int fd = -1;
  testing::internal::CaptureStderr();
  EXPECT_EQ(uni::open_output(fd, kept, through, output_open::append), output_result::untold);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "refused to write: " + kept + ": it may be the evidence " + remote + "/ev.img: " + shared + "\n");
  // The mark the refusal came from, for a caller handed a descriptor.
  ASSERT_FALSE(through.empty());
  EXPECT_TRUE(through[0].untold);
  EXPECT_EQ(through[0].why, "it may be the evidence " + remote + "/ev.img: " + shared);
  EXPECT_EQ(quor_test::read_file_text(kept), "kept");
  ::unlink(fresh.c_str());
  EXPECT_EQ(uni::open_output(fd, fresh, through, output_open::truncate), output_result::opened);
  ::close(fd);
  EXPECT_EQ(uni::make_output_folder(scratch("untold-copies/deeper"), through, copies), uni::folder_result::made);
  ::close(copies);
  // A standard stream handed over is judged by what it holds: neither one
  // that already holds bytes nor one on the layer that cannot be told is
  // refused for that layer alone, for neither is stored in a file that may
  // be the source.
  const auto stream_answer = [&](const std::string& path, std::string& why) {
    const int held = ::open(path.c_str(), O_WRONLY | O_APPEND);
    const uni::reach_answer answer = uni::stream_reach(held, through, why);
    ::close(held);
    return answer;
  };
  std::string why;
  write_text(remote + "/empty", "");
  for (const std::string& stream : {kept, fresh, remote + "/empty"}) {
    EXPECT_EQ(stream_answer(stream, why), uni::reach_answer::clear) << stream;
    EXPECT_EQ(why, "") << stream;
  }

  // A tmpfs mounted in a namespace of its own, seen through its process.
  const std::string hidden = scratch("hidden"), ready = scratch("hidden-ready");
  ::mkdir(hidden.c_str(), 0700);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execlp("unshare", "unshare", "--mount", "--propagation", "private", "sh", "-c",
             (quor_test::let_go_of_other_mounts({hidden, ready}) + "mount -t tmpfs hidden '" + hidden +
              "' && touch '" + ready + "' && exec sleep 30")
                 .c_str(),
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_GT(pid, 0);
  struct reaped {
    pid_t pid;
    ~reaped() {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  } reap{pid};
  struct stat st;
  for (int tick = 0; tick < 200 && ::stat(ready.c_str(), &st) != 0; ++tick) ::usleep(10000);
  if (::stat(ready.c_str(), &st) != 0) GTEST_SKIP() << "no mount namespace could be made";
  const std::string there = "/proc/" + std::to_string(pid) + "/root" + hidden + "/x";
  testing::internal::CaptureStderr();
  EXPECT_EQ(uni::open_output(fd, there, sources, output_open::truncate), output_result::untold);
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(said.compare(0, 18 + there.size() + 2, "refused to write: " + there + ": "), 0) << said;
  EXPECT_NE(said.find("has no line in this process's mount table\n"), std::string::npos) << said;
  EXPECT_NE(::stat(there.c_str(), &st), 0) << "made in the hidden mount";
}

// Disks in files on disks: an ext4 image on a loop device whose ext4 holds
// a second image on a second loop device, whose ext4 holds the evidence.
// Every disk and file down the chain is refused; a file beside the
// evidence, or beside the inner image, is not.
TEST(OutputFile, NestedDisksAreFollowedToTheEnd) {
  if (!quor_test::have_program("mkfs.ext4")) GTEST_SKIP() << "mkfs.ext4 not installed";
  const std::string outer = scratch("nest-outer.ext4");
  std::string ignored;
  ASSERT_EQ(quor_test::run_command("truncate -s 64M '" + outer + "' && mkfs.ext4 -q -F '" + outer + "'", ignored), 0);
  const quor_test::loop_device outer_loop(outer, false);
  if (outer_loop.path().empty()) GTEST_SKIP() << outer_loop.why();
  const quor_test::mount_guard outer_mount("mount '" + outer_loop.path() + "' '" + scratch("nest-1") + "'",
                                           scratch("nest-1"));
  ASSERT_FALSE(outer_mount.dir().empty()) << outer_mount.why();
  const std::string inner = outer_mount.dir() + "/inner.ext4";
  ASSERT_EQ(quor_test::run_command("truncate -s 16M '" + inner + "' && mkfs.ext4 -q -F '" + inner + "'", ignored), 0);
  const quor_test::loop_device inner_loop(inner, false);
  ASSERT_FALSE(inner_loop.path().empty()) << inner_loop.why();
  const quor_test::mount_guard inner_mount("mount '" + inner_loop.path() + "' '" + scratch("nest-2") + "'",
                                           scratch("nest-2"));
  ASSERT_FALSE(inner_mount.dir().empty()) << inner_mount.why();
  const std::string evidence = inner_mount.dir() + "/ev.img";
  write_text(evidence, "evidence");
  const uni::file_identities sources = source_ids(evidence);
  for (const std::string& output : {inner_loop.path(), inner, outer_loop.path(), outer}) {
    const int fd = ::open(output.c_str(), O_RDONLY);
    EXPECT_TRUE(reaches(fd, sources)) << output;
    ::close(fd);
    int opened = -1;
    EXPECT_EQ(uni::open_output(opened, output, sources, output_open::append), output_result::is_source) << output;
  }
  EXPECT_EQ(quor_test::read_file_text(evidence), "evidence");
  for (const std::string& beside : {inner_mount.dir() + "/listing.txt", outer_mount.dir() + "/listing.txt"})
    expect_opened_as(beside, sources, output_result::opened);
}

// btrfs gives its files a device number no line of the mount table has:
// the mount is found by the file's mount ID, and the image under it is
// refused, by its file and by its loop device.
TEST(OutputFile, BtrfsFileIsKnownByItsMount) {
  if (!quor_test::have_program("mkfs.btrfs")) GTEST_SKIP() << "mkfs.btrfs not installed";
  const std::string image = scratch("b.img");
  std::string ignored;
  ASSERT_EQ(quor_test::run_command("truncate -s 128M '" + image + "' && mkfs.btrfs -q -f '" + image + "'", ignored),
            0);
  const quor_test::loop_device loop(image, false);
  if (loop.path().empty()) GTEST_SKIP() << loop.why();
  const quor_test::mount_guard mount("mount -t btrfs '" + loop.path() + "' '" + scratch("btrfs") + "'",
                                     scratch("btrfs"));
  if (mount.dir().empty()) GTEST_SKIP() << "btrfs could not be mounted";
  write_text(mount.dir() + "/top.img", "evidence");
  const uni::file_identities sources = source_ids(mount.dir() + "/top.img");
  for (const std::string& output : {image, loop.path()}) {
    SCOPED_TRACE(output);
    int fd = -1;
    EXPECT_EQ(uni::open_output(fd, output, sources, output_open::append), output_result::is_source);
  }
  expect_opened_as(mount.dir() + "/listing.txt", sources, output_result::opened);
}

// An archive mounted read-write by fuse-zip is written anew as a whole
// when it is unmounted: nothing is made in the mount while the evidence is
// read from inside it. A file beside the archive takes outputs.
TEST(OutputFile, ArchiveServedByFuseTakesNothingWhileItsFileIsRead) {
  if (!quor_test::have_program("fuse-zip") || !quor_test::have_program("zip"))
    GTEST_SKIP() << "fuse-zip or zip not installed";
  const std::string top = scratch("zipped");
  ::mkdir(top.c_str(), 0700);
  write_text(top + "/sample.img", std::string(4096, 's'));
  std::string ignored;
  ASSERT_EQ(quor_test::run_command("cd '" + top + "' && zip -q a.zip sample.img", ignored), 0);
  const std::string archive = quor_test::read_file_text(top + "/a.zip");
  {
    const quor_test::mount_guard mount("fuse-zip '" + top + "/a.zip' '" + top + "/m'", top + "/m");
    if (mount.dir().empty()) GTEST_SKIP() << mount.why();
    const uni::file_identities sources = source_ids(mount.dir() + "/sample.img");
    expect_opened_as(mount.dir() + "/notes.txt", sources, output_result::is_source);
    int fd = -1;
    EXPECT_EQ(uni::make_output_folder(mount.dir() + "/copies", sources, fd), uni::folder_result::is_source);
    if (fd >= 0) ::close(fd);
    expect_opened_as(top + "/beside.txt", sources, output_result::opened);
  }
  ASSERT_TRUE(quor_test::wait_until_unheld(top + "/a.zip"));
  EXPECT_TRUE(quor_test::read_file_text(top + "/a.zip") == archive) << "the archive was written";
}

}  // namespace

namespace {

// A bindfs view whose server this process cannot see (it runs in a PID
// namespace of its own with its own /proc): what the view is stored on
// cannot be told, so nothing is made or replaced there, and the refusal
// says so; seen from where the server can be read, the view is the folder
// behind it and takes outputs.
TEST(OutputFile, ViewWhoseServerIsOutOfSightTakesNothing) {
  if (!quor_test::have_program("bindfs")) GTEST_SKIP() << "bindfs not installed";
  const std::string behind = scratch("sight-behind"), view = scratch("sight-view");
  ::mkdir(behind.c_str(), 0700);
  const quor_test::mount_guard mount("bindfs '" + behind + "' '" + view + "'", view);
  if (mount.dir().empty()) GTEST_SKIP() << mount.why();
  const std::string local = scratch("sight-evidence");
  write_text(local, "evidence");
  const uni::file_identities sources = source_ids(local);
  expect_opened_as(view + "/kept", sources, output_result::opened);
  write_text(behind + "/kept", "kept");
  const std::string err = scratch("sight.err");
  const int got = quor_test::exit_status_in_child(
      [&] {
        if (::unshare(CLONE_NEWNS | CLONE_NEWPID) != 0) return 100;
        const pid_t inner = ::fork();
        if (inner == 0) {
          if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
              ::mount("proc", "/proc", "proc", 0, nullptr) != 0)
            ::_exit(100);
          int fd = -1;
          const output_result r = uni::open_output(fd, view + "/kept", sources, output_open::append);
          ::_exit(r == output_result::untold ? 0 : 1 + static_cast<int>(r));
        }
        int status = 0;
        if (inner < 0 || ::waitpid(inner, &status, 0) != inner || !WIFEXITED(status)) return 101;
        return WEXITSTATUS(status);
      },
      err);
  if (got == 100) GTEST_SKIP() << "no PID namespace of its own";
  EXPECT_EQ(got, 0);
  EXPECT_EQ(quor_test::read_file_text(err), "refused to write: " + view +
                                                "/kept: cannot tell what the FUSE mount at " + view +
                                                " (fuse) is stored on: its server cannot be found or read\n");
  EXPECT_EQ(quor_test::read_file_text(behind + "/kept"), "kept");
}

}  // namespace
namespace {

// Whatever identity says, an existing file whose first 8 KiB hold no text
// (a container's or a volume's signature, a NUL) is neither emptied nor
// added to, by any form of the opener, whoever the sources are; the
// refusal names what was seen. Text, an empty file, binary data past the
// head, a new file, a file whose own text is edited in place and the files
// of the general utilities are written as before.
TEST(OutputFile, AnExistingFileHoldingBinaryDataIsNeitherReplacedNorAppendedTo) {
  const std::string volume = quor_test::read_file_text(quor_test::fixture("sample.img")).substr(0, 16384);
  ASSERT_EQ(volume.size(), 16384u);
  const struct {
    std::string name, content, seen;
  } held[] = {
      {"e01", std::string("EVF\x09\x0D\x0A\xFF\x00\x01\x01\x00", 11) + "header", "an E01 header"},
      {"nul", std::string("case notes\0", 11) + "and more", "a NUL byte at 0xA"},
      {"volume", volume, "an NTFS boot sector"},
      {"vmdk", "# Disk DescriptorFile\nversion=1\ncreateType=\"twoGbMaxExtentSparse\"\n", "a VMDK descriptor"},
      {"late-nul", std::string(8191, 'x') + "\n" + std::string(1, '\0'), ""},
      {"text", "earlier listing\n", ""},
      {"empty", "", ""},
  };
  const uni::file_identities none;
  for (const auto& h : held) {
    const std::string path = scratch("head-" + h.name);
    const std::string refusal =
        "refused to write: " + path + ": it holds binary data (" + h.seen + ") and may be evidence; name another file\n";
    for (output_open how : {output_open::truncate, output_open::append}) {
      SCOPED_TRACE(h.name + (how == output_open::truncate ? " truncated" : " appended to"));
      write_text(path, h.content);
      const output_result want = h.seen.empty() ? output_result::opened : output_result::binary;
      testing::internal::CaptureStderr();
      std::ofstream stream;
      EXPECT_EQ(uni::open_output(stream, path, none, how), want);
      stream.close();
      int fd = -1;
      EXPECT_EQ(uni::open_output(fd, path, identities(quor_test::fixture("default.img")), how), want);
      if (fd >= 0) ::close(fd);
      std::FILE* file = nullptr;
      EXPECT_EQ(uni::open_output(file, path, none, how), want);
      if (file != nullptr) std::fclose(file);
      const std::string said = testing::internal::GetCapturedStderr();
      if (h.seen.empty()) {
        EXPECT_EQ(said, "");
        EXPECT_EQ(quor_test::read_file_text(path), how == output_open::append ? h.content : "");
      } else {
        EXPECT_EQ(said, refusal + refusal + refusal);
        EXPECT_TRUE(quor_test::read_file_text(path) == h.content);
        EXPECT_TRUE(uni::refused(want));
      }
    }
    // A file whose own text is edited in place (a UTF-16 text holds NULs),
    // and a file the general utilities are told to write or add to, are
    // judged by identity alone.
    for (output_open how : {output_open::rewrite, output_open::extend}) {
      const bool extend = how == output_open::extend;
      write_text(path, h.content);
      testing::internal::CaptureStderr();
      std::ofstream stream;
      EXPECT_EQ(uni::open_output(stream, path, none, how), output_result::opened) << h.name << extend;
      stream << "s";
      stream.close();
      int fd = -1;
      EXPECT_EQ(uni::open_output(fd, path, identities(quor_test::fixture("default.img")), how), output_result::opened)
          << h.name << extend;
      if (fd >= 0) {
        EXPECT_EQ(::write(fd, "d", 1), 1);
        ::close(fd);
      }
      std::FILE* file = nullptr;
      EXPECT_EQ(uni::open_output(file, path, none, how), output_result::opened) << h.name << extend;
      if (file != nullptr) {
        std::fputs("f", file);
        std::fclose(file);
      }
      EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << h.name << extend;
      EXPECT_TRUE(quor_test::read_file_text(path) == (extend ? h.content + "sdf" : "f")) << h.name << extend;
    }
  }
  ::unlink(scratch("head-new").c_str());
  int fd = -1;
  EXPECT_EQ(uni::open_output(fd, scratch("head-new"), none, output_open::create_new), output_result::opened);
  ::close(fd);
}

}  // namespace
