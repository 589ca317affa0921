// The output folder maker: folders made as mkdir -p makes them, none on the
// evidence (an ntfs-3g mount of the image here), and none there either when
// another thread switches a link in the path while folders are made.
#include "utils/output_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fixture.h"
#include "tests/support/loop_device.h"
#include "tests/support/mount_guard.h"

namespace {

using quor_test::scratch_dir;

bool same_folder(int fd, const std::string& path) {
  struct stat open_st, named_st;
  return fd >= 0 && ::fstat(fd, &open_st) == 0 && ::stat(path.c_str(), &named_st) == 0 &&
         S_ISDIR(named_st.st_mode) && open_st.st_dev == named_st.st_dev && open_st.st_ino == named_st.st_ino;
}

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// The names in a folder that begin with `prefix`.
std::vector<std::string> names_in(const std::string& folder, const std::string& prefix) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(d))
      if (std::string(e->d_name).compare(0, prefix.size(), prefix) == 0) names.push_back(e->d_name);
    ::closedir(d);
  }
  return names;
}

uni::file_identities identities(const std::string& path) {
  uni::file_identities ids;
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd >= 0) uni::identities_of_source(fd, ids);
  if (fd >= 0) ::close(fd);
  return ids;
}

TEST(OutputFolder, MadeAsMkdirPMakesIt) {
  const std::string top = scratch_dir() + "/folders";
  ASSERT_EQ(::mkdir(top.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir((top + "/there").c_str(), 0700), 0);
  ASSERT_EQ(::symlink((top + "/there").c_str(), (top + "/link").c_str()), 0);
  ASSERT_EQ(::symlink((top + "/nowhere").c_str(), (top + "/dangling").c_str()), 0);
  { std::ofstream(top + "/file") << "x"; }
  const uni::file_identities none;
  const struct {
    std::string path;
    uni::folder_result want;
    std::string lands;           // the folder the descriptor holds ("" on failure)
    std::vector<std::string> also;  // made on the way
  } cases[] = {
      {top + "/new/a/b", uni::folder_result::made, top + "/new/a/b", {top + "/new/a"}},
      {top + "/there", uni::folder_result::made, top + "/there", {}},
      {top + "/x/../y", uni::folder_result::made, top + "/y", {top + "/x"}},
      {top + "/link/inside", uni::folder_result::made, top + "/there/inside", {}},
      {top + "//dots/./in//", uni::folder_result::made, top + "/dots/in", {}},
      {top + "/closed/too", uni::folder_result::made, top + "/closed/too", {top + "/closed"}},
      {top + "/file/copies", uni::folder_result::failed, "", {}},
      {top + "/dangling", uni::folder_result::failed, "", {}},
      {"", uni::folder_result::failed, "", {}},
  };
  for (const auto& c : cases) {
    int fd = -2;
    EXPECT_EQ(uni::make_output_folder(c.path, none, fd), c.want) << c.path;
    if (c.lands.empty()) {
      EXPECT_EQ(fd, -1) << c.path;
      continue;
    }
    EXPECT_TRUE(same_folder(fd, c.lands)) << c.path;
    for (const std::string& made : c.also) EXPECT_TRUE(exists(made)) << made;
    // Held, the folder has a name of its own that stays with it.
    const std::string held = uni::held_folder_name(fd, c.path);
    EXPECT_EQ(held, "/proc/self/fd/" + std::to_string(fd));
    EXPECT_TRUE(same_folder(fd, held));
    ::close(fd);
  }
  EXPECT_FALSE(exists(top + "/nowhere"));
  EXPECT_EQ(uni::held_folder_name(-1, top + "/there"), top + "/there");
}

// A folder in a mount of the image, the mount itself, and one reached by a
// climb out of a folder still to be made, are refused with nothing made,
// and so are those seen through a bindfs view of the mount and a view of
// that view; fls lists the image as before. A folder beside the mount is
// made.
TEST(OutputFolder, NothingIsMadeOnTheEvidence) {
  if (!quor_test::have_program("fls")) GTEST_SKIP() << "fls not installed";
  const std::string image = quor_test::copy_fixture("default.img", "folder-evidence.img");
  ASSERT_FALSE(image.empty());
  const uni::file_identities sources = identities(image);
  std::string before, after;
  ASSERT_EQ(quor_test::run_command("fls -r -p '" + image + "'", before), 0);
  const std::string at = scratch_dir() + "/folder-mount", climbing = scratch_dir() + "/folder-not-yet";
  {
    const quor_test::ntfs3g_mount mount(image, at);
    if (mount.dir().empty()) GTEST_SKIP() << mount.why();
    const std::string view = scratch_dir() + "/folder-view", view_of_view = scratch_dir() + "/folder-view2";
    const bool bindfs = quor_test::have_program("bindfs");
    const quor_test::mount_guard by_view(bindfs ? "bindfs '" + at + "' '" + view + "'" : "", view);
    const quor_test::mount_guard by_view_of_view(bindfs ? "bindfs '" + view + "' '" + view_of_view + "'" : "",
                                                 view_of_view);
    std::vector<std::string> paths = {at + "/new", at + "/new/deeper", at, climbing + "/../folder-mount/new"};
    for (const std::string& shown : {by_view.dir(), by_view_of_view.dir()})
      if (!shown.empty()) paths.insert(paths.end(), {shown + "/copies", shown, shown + "/new/deeper"});
    for (const std::string& path : paths) {
      int fd = -2;
      testing::internal::CaptureStderr();
      EXPECT_EQ(uni::make_output_folder(path, sources, fd), uni::folder_result::is_source) << path;
      EXPECT_EQ(testing::internal::GetCapturedStderr(), "refused to write: " + path + ": it is stored in the evidence " +
                                                            image + " through the FUSE mount at " + at + " (fuse)\n");
      EXPECT_EQ(fd, -1);
    }
    if (by_view_of_view.dir().empty()) std::printf("bindfs views not tried: %s\n", by_view_of_view.why().c_str());
    EXPECT_FALSE(exists(at + "/copies"));
    EXPECT_FALSE(exists(at + "/new"));
    EXPECT_FALSE(exists(climbing));
    int fd = -1;
    EXPECT_EQ(uni::make_output_folder(scratch_dir() + "/folder-beside/new", sources, fd), uni::folder_result::made);
    ::close(fd);
  }
  ASSERT_EQ(quor_test::run_command("fls -r -p '" + image + "'", after), 0);
  EXPECT_TRUE(after == before) << "fls lists the image otherwise";
}

// A link in the path switched between a folder in a mount of the image and
// a harmless folder, over and over, while folders are made through it: some
// are made in the harmless folder, some refused, none made in the mount.
TEST(OutputFolder, ALinkSwitchedMeanwhileLeadsNoFolderOntoTheEvidence) {
  if (!quor_test::have_program("fls")) GTEST_SKIP() << "fls not installed";
  const std::string image = quor_test::copy_fixture("default.img", "folder-race.img");
  ASSERT_FALSE(image.empty());
  const uni::file_identities sources = identities(image);
  const std::string at = scratch_dir() + "/race-mount", harmless = scratch_dir() + "/race-harmless";
  const std::string link = scratch_dir() + "/race-link";
  ASSERT_EQ(::mkdir(harmless.c_str(), 0700), 0);
  ASSERT_EQ(::symlink(harmless.c_str(), link.c_str()), 0);
  const int runs = 300;
  int made = 0, refused = 0;
  std::vector<std::string> in_mount;
  {
    const quor_test::ntfs3g_mount mount(image, at);
    if (mount.dir().empty()) GTEST_SKIP() << mount.why();
    std::atomic<bool> stop(false);
    // Each switch is a rename of a new link over the old: the path always
    // leads to one folder or the other.
    std::thread switcher([&] {
      const std::string next = link + ".next";
      for (unsigned n = 0; !stop.load(); ++n) {
        ::unlink(next.c_str());
        if (::symlink(n % 2 == 0 ? at.c_str() : harmless.c_str(), next.c_str()) == 0) ::rename(next.c_str(), link.c_str());
      }
    });
    testing::internal::CaptureStderr();
    for (int run = 0; run < runs; ++run) {
      int fd = -1;
      const uni::folder_result r = uni::make_output_folder(link + "/race-" + std::to_string(run), sources, fd);
      if (r == uni::folder_result::made) ++made;
      if (r == uni::folder_result::is_source) ++refused;
      if (fd >= 0) ::close(fd);
    }
    testing::internal::GetCapturedStderr();
    stop = true;
    switcher.join();
    // By name, not by a listing the mount may give from an older state.
    for (int run = 0; run < runs; ++run)
      if (exists(at + "/race-" + std::to_string(run))) in_mount.push_back("race-" + std::to_string(run));
  }
  EXPECT_TRUE(in_mount.empty()) << in_mount.size() << " folders made on the evidence, " << in_mount.front();
  EXPECT_EQ(made + refused, runs);
  // Both ways were taken, so the switch did race the maker.
  EXPECT_GT(made, 0);
  EXPECT_GT(refused, 0);
  EXPECT_EQ(static_cast<int>(names_in(harmless, "race-").size()), made);
  std::string listed;
  ASSERT_EQ(quor_test::run_command("fls -r -p '" + image + "'", listed), 0);
  EXPECT_EQ(listed.find("race-"), std::string::npos);
}

}  // namespace
