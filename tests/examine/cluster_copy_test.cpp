// Cluster-range copies equal to dd of the same clusters (an image, past its
// end, a VMDK chain); every cluster keeps its place when a read fails or
// comes back short; the log by hand; refusals; an output that stops taking
// the copy part way.
#include "examine/cluster_copy.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

#include <cstring>
#include <functional>

#include "tests/examine/examine_support.h"
#include "tests/support/child_process.h"

namespace {

TEST(ClusterCopy, CopiesEqualDd) {
  if (!quor_test::have_program("dd")) GTEST_SKIP() << "dd not installed";
  const std::string image = quor_test::fixture("default.img"), flat = quor_test::fixture("vmdk-state2.img");
  const std::string base = quor_test::fixture("vmdk-base.vmdk"), child = quor_test::fixture("vmdk-child.vmdk");
  const ulong64 last = quor_test::read_file_text(image).size() / 4096 - 1;
  const std::string out = quor_test::scratch_dir() + "/clusters.bin", log = quor_test::scratch_dir() + "/c.log";
  const struct {
    std::vector<std::string> vmdk;
    ulong64 offset, first, count;
    std::string oracle;
    ulong64 skip;
  } cases[] = {{{}, 0, 100, 50, image, 100},
               {{}, 0, last - 1, 6, image, last - 1},  // past the end of the image
               {{child, base}, 0x100000, 10, 40, flat, 0x100000 / 4096 + 10}};
  for (const auto& c : cases) {
    // A copy made before holds binary data, which no writer replaces.
    ::unlink(out.c_str());
    ASSERT_TRUE(copy_image_clusters(c.vmdk, image, c.offset, c.first, c.count, out, log)) << c.first;
    std::string want;
    quor_test::run_command("dd status=none bs=4096 if=" + c.oracle + " skip=" + std::to_string(c.skip) +
                               " count=" + std::to_string(c.count), want);
    EXPECT_TRUE(quor_test::read_file_text(out) == want) << c.first;
  }
  const std::string text = quor_test::read_file_text(log);
  EXPECT_EQ(text.rfind("drive/partition:       " + image + "\nvolume_offset:         0x000000100000\n", 0), 0u);
  ::unlink(out.c_str());
  ASSERT_TRUE(copy_image_clusters_w({}, std::wstring(image.begin(), image.end()), 0, last, 2,
                                    std::wstring(out.begin(), out.end()), std::wstring(log.begin(), log.end())));
  EXPECT_NE(quor_test::read_file_text(log).find(" [ok]\nclusters               0x"), std::string::npos);
  // No copy can be made, no volume.
  EXPECT_FALSE(copy_image_clusters({}, image, 0, 0, 1, quor_test::scratch_dir() + "/no/such/dir/x", ""));
  EXPECT_FALSE(copy_image_clusters({}, "/no/such/image", 0, 0, 1, out, ""));
}

TEST(ClusterCopy, EveryClusterKeepsItsPlace) {
  // Clusters of 16 bytes: 10 reads whole, 11 fails, 12 reads 10 bytes, 13 whole, 14 fails.
  const cluster_reader read = [](ulong64 lcn, byte* buffer, uint32& length) {
    if (lcn == 11 || lcn == 14) return false;
    std::memset(buffer, static_cast<int>('a' + lcn - 10), length);
    if (lcn == 12) length = 10;
    return true;
  };
  cluster_copy_volume v;
  v.source = "7";
  v.volume_offset = v.partition_start = 0x100000;
  v.bytes_per_sector = 512;
  v.cluster_size = 16;
  std::ostringstream out, log;
  ASSERT_TRUE(copy_cluster_range(read, v, 10, 5, out, &log));
  EXPECT_EQ(out.str(), std::string(16, 'a') + std::string(16, '\0') + std::string(10, 'c') + std::string(6, '\0') +
                           std::string(16, 'd'));
  EXPECT_EQ(log.str(),
            "drive/partition:       7\n"
            "volume_offset:         0x000000100000\n"
            "start of partition:    0x000000100000 bytes [0x800 sectors]\n"
            "starting LCN           0x00000000000a\n"
            "num clusters           0x000000000005 [5]\n"
            "\n"
            "cluster num            0x00000000000a,   physical addr:  0x00000000001000a0 [ok]\n"
            "clusters               0x00000000000b [failed]\n"
            "cluster num            0x00000000000c,   physical addr:  0x00000000001000c0\n"
            "cluster num            0x00000000000d,   physical addr:  0x00000000001000d0 [ok]\n"
            "clusters               0x00000000000e [failed]\n");
}

// This host opens no physical drive by number: both drive forms fail before
// they create an output file or a log.
TEST(ClusterCopy, DriveNumberFormsOpenNothing) {
  const std::string out = quor_test::scratch_dir() + "/drive-copy.bin", log = quor_test::scratch_dir() + "/drive.log";
  for (uint32 drive : {0u, 1u}) {
    EXPECT_FALSE(copy_drive_clusters(drive, 0, 0, 4, out, log));
    EXPECT_FALSE(copy_drive_clusters_w(drive, 1048576, 0, 4, std::wstring(out.begin(), out.end()),
                                       std::wstring(log.begin(), log.end())));
  }
  struct stat st {};
  EXPECT_NE(::stat(out.c_str(), &st), 0);
  EXPECT_NE(::stat(log.c_str(), &st), 0);
}

// A copy that cannot be made, or is refused, leaves no log behind (nor
// changes an earlier one: see evidence_outputs_test).
TEST(ClusterCopy, NoCopyLeavesNoLog) {
  const std::string dir = quor_test::scratch_dir(), image = quor_test::copy_fixture("default.img", "nolog.img");
  ASSERT_FALSE(image.empty());
  const std::string fifo = dir + "/nolog.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::wstring wide_image(image.begin(), image.end());
  const std::function<bool(const std::string&, const std::string&)> forms[] = {
      [&](const std::string& o, const std::string& l) { return copy_image_clusters({}, image, 0, 0, 4, o, l); },
      [&](const std::string& o, const std::string& l) {
        return copy_image_clusters_w({}, wide_image, 0, 0, 4, std::wstring(o.begin(), o.end()),
                                     std::wstring(l.begin(), l.end()));
      }};
  int n = 0;
  for (const auto& copy : forms)
    for (const std::string& out : {dir + "/no/such/dir/x", image, fifo}) {
      const std::string log = dir + "/nolog-" + std::to_string(++n) + ".log";
      EXPECT_FALSE(copy(out, log)) << out;
      struct stat st;
      EXPECT_NE(::lstat(log.c_str(), &st), 0) << out << ": a log was left";
    }
}

// A FIFO whose reader takes three clusters and goes: the copy returns false
// and names the output on standard error; the log calls ok only clusters
// the pipe took (read, or held in its buffer), calls the first one it did
// not take failed, and ends there.
TEST(ClusterCopy, ReaderLeavingPartWayIsNamed) {
  const std::string image = quor_test::fixture("default.img"), dir = quor_test::scratch_dir();
  const std::string fifo = dir + "/leaving.fifo", log = dir + "/leaving.log", err = dir + "/leaving.err";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const size_t cluster = 4096, taken = 3 * cluster, count = 64;
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t reader = ::fork();
  if (reader == 0) {
    ::close(ready[0]);
    const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    const int pipe_size = ::fcntl(fd, F_GETPIPE_SZ);
    ::fcntl(fd, F_SETFL, 0);
    if (fd < 0 || ::write(ready[1], &pipe_size, sizeof pipe_size) != sizeof pipe_size) ::_exit(2);
    // Until the writer comes, a read finds no writer and returns 0.
    char buffer[4096];
    size_t got = 0;
    for (int idle = 0; got < taken && idle < 500;) {
      const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, taken - got));
      if (n > 0) got += static_cast<size_t>(n);
      if (n < 0 || (n == 0 && got > 0)) break;
      if (n == 0) ::usleep(10000), ++idle;
    }
    ::_exit(got == taken ? 0 : 1);
  }
  ASSERT_GT(reader, 0);
  ::close(ready[1]);
  int pipe_size = 0;
  ASSERT_EQ(::read(ready[0], &pipe_size, sizeof pipe_size), static_cast<ssize_t>(sizeof pipe_size));
  ::close(ready[0]);
  const int copied = quor_test::exit_status_in_child(
      [&] {
        ::signal(SIGPIPE, SIG_IGN);
        return copy_image_clusters({}, image, 0, 0, count, fifo, log) ? 1 : 0;
      },
      err);
  int reader_status = 0;
  ::waitpid(reader, &reader_status, 0);
  ASSERT_TRUE(WIFEXITED(reader_status) && WEXITSTATUS(reader_status) == 0);
  EXPECT_EQ(copied, 0);
  EXPECT_EQ(quor_test::read_file_text(err), "write failed: " + fifo + "\n");

  const std::string text = quor_test::read_file_text(log);
  const size_t body = text.find("\n\n");
  ASSERT_NE(body, std::string::npos);
  std::istringstream lines(text.substr(body + 2));
  std::string line;
  size_t ok = 0;
  while (std::getline(lines, line) && line.find(" [ok]") != std::string::npos) {
    char want[32];
    std::snprintf(want, sizeof want, "0x%012zx,", ok);
    EXPECT_EQ(line.find(want), 23u) << line;
    ++ok;
  }
  char failed[64];
  std::snprintf(failed, sizeof failed, "clusters               0x%012zx [failed]", ok);
  EXPECT_EQ(line, failed);
  EXPECT_FALSE(std::getline(lines, line)) << "logged after the output failed: " << line;
  EXPECT_GE(ok * cluster, taken);
  EXPECT_LE(ok * cluster, taken + static_cast<size_t>(pipe_size));

  // A log that cannot be written whole (a node with /dev/full's numbers)
  // is named too; the copy itself is whole.
  const std::string full = dir + "/full", out = dir + "/beside-full.bin";
  if (::mknod(full.c_str(), S_IFCHR | 0600, makedev(1, 7)) != 0) return;
  EXPECT_EQ(quor_test::exit_status_in_child([&] { return copy_image_clusters({}, image, 0, 0, 4, out, full) ? 1 : 0; }, err), 1);
  EXPECT_EQ(quor_test::read_file_text(err), "write failed: " + full + "\n");
  EXPECT_EQ(quor_test::read_file_text(out).size(), 4 * cluster);
}

}  // namespace
