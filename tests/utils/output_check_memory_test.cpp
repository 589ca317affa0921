// Memory that runs out anywhere in the output check is a refusal or a
// failure, never an exception: each check is run with each of its
// allocations failing in turn, on a file beside the evidence and on one in
// a FUSE mount of the evidence (whose serving process is looked for) and
// on one seen through a bindfs view of that mount, and no descriptor is
// left open. A run where memory ran out never opens the
// output, nor calls it no source.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "tests/support/allocation_failure_new.h"
#include "tests/support/fixture.h"
#include "tests/support/loop_device.h"
#include "tests/support/mount_guard.h"
#include "utils/mount_table.h"
#include "utils/output_file.h"
#include "utils/output_reach.h"

namespace {

using uni::output_open;
using uni::output_result;

int open_descriptors() {
  int count = 0;
  if (DIR* fds = ::opendir("/proc/self/fd")) {
    while (const struct dirent* e = ::readdir(fds)) count += e->d_name[0] != '.';
    ::closedir(fds);
  }
  return count;
}

// Runs `check` with its allocation number n failing, for n from 0 until a
// run where none failed. `allowed(got, failed)` says whether it may give
// `got` then: where an allocation failed, only an answer of doubt.
void each_allocation_failing(const std::string& what, const std::function<int()>& check,
                             const std::function<bool(int got, bool failed)>& allowed) {
  const int before = open_descriptors();
  for (long64 n = 0; n < 200000; ++n) {
    quor_test::arm_allocation_failure(n);
    int got = -1;
    bool threw = false;
    try {
      got = check();
    } catch (...) {
      threw = true;
    }
    const bool failed = quor_test::allocations_counted() > n;
    quor_test::arm_allocation_failure(-1);
    ASSERT_FALSE(threw) << what << ": the failure of allocation " << n << " escaped";
    ASSERT_TRUE(allowed(got, failed)) << what << ": " << got << " where allocation " << n
                                      << (failed ? " failed" : " was not reached");
    if (!failed) break;
  }
  EXPECT_EQ(open_descriptors(), before) << what;
}

int result(output_result r) { return static_cast<int>(r); }

// 1 when writing to the open descriptor `fd` would write one of `sources`,
// or cannot be told not to.
int reaches(int fd, const uni::file_identities& sources) {
  std::string why;
  return uni::descriptor_reach(fd, sources, why) != uni::reach_answer::clear ? 1 : 0;
}

TEST(OutputCheckMemory, EveryCheckRefusesWhenMemoryRunsOut) {
  const std::string dir = quor_test::scratch_dir();
  const std::string image = quor_test::copy_fixture("default.img", "memory,cut.img");
  ASSERT_FALSE(image.empty());
  const std::string beside = dir + "/memory-beside", kept = dir + "/memory-kept";
  std::ofstream(beside) << "beside";
  const quor_test::ntfs3g_mount mount(image, dir + "/memory-mount");
  const quor_test::mount_guard view(
      !mount.dir().empty() && quor_test::have_program("bindfs") ? "bindfs '" + mount.dir() + "' '" + dir + "/memory-view'"
                                                               : "",
      dir + "/memory-view");
  std::vector<std::string> outputs = {beside};
  if (!mount.dir().empty()) {
    std::ofstream(mount.dir() + "/kept") << "kept";
    outputs.push_back(mount.dir() + "/kept");
  }
  if (!view.dir().empty()) outputs.push_back(view.dir() + "/kept");
  struct stat st;
  ASSERT_EQ(::stat(dir.c_str(), &st), 0);
  // The kept table holds the table open to watch it for changes from its
  // first read on: a descriptor of the process's, not one a check leaks.
  ASSERT_TRUE(uni::current_mount_table());
  // A mount and an unmount just before make the table read again, each
  // allocation of that failing: what ran out is thrown as std::bad_alloc
  // and nothing else, with nothing left open.
  const std::string stale = dir + "/memory-stale";
  ::mkdir(stale.c_str(), 0700);
  each_allocation_failing(
      "mount table", [&] {
        if (::mount("stale", stale.c_str(), "tmpfs", 0, nullptr) == 0) ::umount2(stale.c_str(), 0);
        try {
          const std::shared_ptr<const uni::mount_table> table = uni::current_mount_table();
          return table && table->by_device(static_cast<uint64>(st.st_dev)) != nullptr ? 1 : 0;
        } catch (const std::bad_alloc&) {
          return 0;
        }
      },
      [](int, bool) { return true; });

  const int image_fd = ::open(image.c_str(), O_RDONLY);
  uni::file_identities sources;
  ASSERT_TRUE(uni::identities_of_source(image_fd, sources));
  // A set left part made, or left empty, is marked so that every check
  // against it refuses: an empty one would be checked against nothing.
  each_allocation_failing(
      "source", [&] {
        uni::file_identities ids;
        const bool told = uni::identities_of_source(image_fd, ids);
        bool marked = false;
        for (const uni::file_identity& id : ids) marked = marked || id.unsure;
        return told ? 1 : marked ? 0 : 2;
      },
      [](int got, bool failed) { return got == (failed ? 0 : 1); });
  ::close(image_fd);

  for (const std::string& output : outputs) {
    const bool evidence = output != beside;
    const int fd = ::open(output.c_str(), O_RDWR);
    const int folder = ::open(output.substr(0, output.rfind('/')).c_str(), O_RDONLY | O_DIRECTORY);
    each_allocation_failing(
        output + " as a descriptor", [&] { return reaches(fd, sources); },
        [&](int got, bool failed) { return got == (failed || evidence ? 1 : 0); });
    // With a mount and an unmount just before, the table is read again and
    // the FUSE servers walked again, each allocation of that failing too.
    each_allocation_failing(
        output + " as a descriptor, after a mount", [&] {
          if (::mount("stale", stale.c_str(), "tmpfs", 0, nullptr) == 0) ::umount2(stale.c_str(), 0);
          return reaches(fd, sources);
        },
        [&](int got, bool failed) { return got == (failed || evidence ? 1 : 0); });
    each_allocation_failing(
        output + "'s folder", [&] {
          std::string why;
          return uni::folder_descriptor_reach(folder, sources, why) != uni::reach_answer::clear ? 1 : 0;
        },
        [&](int got, bool failed) { return got == (failed || evidence ? 1 : 0); });
    each_allocation_failing(
        output + "'s holders", [&] {
          // What it is stored on, which memory that runs out leaves untold.
          struct stat held;
          uni::output_reach r;
          try {
            if (::fstat(fd, &held) == 0) uni::reach_of(fd, held, r);
          } catch (const std::bad_alloc&) {
            return 0;
          }
          return r.under.empty() ? 0 : 1;
        },
        [&](int got, bool failed) { return got == (failed ? 0 : 1); });
    ::close(fd);
    ::close(folder);
    // A check that ran out of memory fails the open or refuses it, and
    // leaves the file as it was; the FUSE file is never opened.
    const auto opened_or = [&](int got, bool failed) {
      if (failed || evidence) return got == result(output_result::failed) || got == result(output_result::is_source);
      return got == result(output_result::opened);
    };
    each_allocation_failing(
        output + " as a stream", [&] {
          std::ofstream s;
          return result(uni::open_output(s, output, sources, output_open::append));
        },
        opened_or);
    each_allocation_failing(
        output + " opened as a descriptor", [&] {
          int opened = -1;
          const output_result r = uni::open_output(opened, output, sources, output_open::append);
          if (opened >= 0) ::close(opened);
          return result(r);
        },
        opened_or);
    each_allocation_failing(
        output + " as stdio", [&] {
          std::FILE* file = nullptr;
          const output_result r = uni::open_output(file, output, sources, output_open::append);
          if (file != nullptr) std::fclose(file);
          return result(r);
        },
        opened_or);
    each_allocation_failing(
        output + "'s name", [&] { return uni::names_source(output, sources) ? 1 : 0; },
        [&](int got, bool failed) { return got == (failed ? 1 : 0); });
    const std::string folders = output.substr(0, output.rfind('/')) + "/new/deeper";
    each_allocation_failing(
        folders, [&] { return uni::folder_writes_source(folders, sources) ? 1 : 0; },
        [&](int got, bool failed) { return got == (failed || evidence ? 1 : 0); });
    EXPECT_EQ(quor_test::read_file_text(output), evidence ? "kept" : "beside");
  }
  if (mount.dir().empty()) GTEST_SKIP() << "the FUSE mount not tried: " << mount.why();
}

}  // namespace
