// The open volume's word on a file or folder of a real mount: its own
// through ntfs-3g, through bindfs (with the creation time passed on or
// not), through views that number files their own way (mergerfs, avfs);
// never another NTFS volume's, fresh or holding the same names under the
// same numbers, nor a local folder, nor a folder whose record is damaged.
#include "ntfs/own_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ntfs/ntfs.h"
#include "utils/output_file.h"
#include "tests/support/engine.h"
#include "tests/support/layer_setups.h"

namespace {

using namespace quor_test;

struct answer {
  bool holds = false;
  uint64 record = 0;
  std::string path;
};

// What `volume` says of the file or folder at `at`, asked by a descriptor
// of it as the guard asks; the record and path hold, beforehand, what a
// true answer must not leave there.
answer ask(CNtfs& volume, const std::string& at) {
  answer a;
  a.record = 12345;
  a.path = "left over";
  const int fd = ::open(at.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    ADD_FAILURE() << "cannot open " << at;
    return a;
  }
  a.holds = volume_holds(volume, fd, a.record, a.path);
  ::close(fd);
  return a;
}

std::string text(const answer& a) {
  return std::string(a.holds ? "true" : "false") + ", record " + std::to_string(a.record) + ", \"" + a.path + "\"";
}

// The number ntfs-3g shows for `at` (ls -i).
uint64 shown_number(const std::string& at) {
  struct stat st;
  return ::stat(at.c_str(), &st) == 0 ? static_cast<uint64>(st.st_ino) : 0;
}

std::string made_folder(const std::string& name) {
  const std::string dir = scratch_dir() + "/" + name;
  ::mkdir(dir.c_str(), 0700);
  return dir;
}

// A copy of sample.img in `dir` with an empty folder Documents/empty made
// in it through a first mount, then unmounted; "" (with why) when no
// mount could be had.
std::string sample_with_empty_folder(const std::string& dir, std::string& why) {
  const std::string image = copy_fixture("sample.img", dir.substr(scratch_dir().size() + 1) + "/ev.img");
  layer_stack first;
  if (image.empty()) {
    why = "no sample.img";
  } else if (!mount_ntfs(first, image, dir + "/first") ||
             !first.step("mkdir " + shell_word(dir + "/first/Documents/empty"))) {
    why = first.why();
  } else {
    first.undo_all();
    if (wait_until_unheld(image)) return image;
    why = "ntfs-3g did not let the image go";
  }
  return "";
}

TEST(OwnFiles, FilesAndFoldersOfMountsOfTheVolumeAreItsOwn) {
  const std::string dir = made_folder("own-mounts");
  std::string why;
  const std::string image = sample_with_empty_folder(dir, why);
  if (image.empty()) GTEST_SKIP() << why;
  layer_stack ntfs;
  if (!mount_ntfs(ntfs, image, dir + "/n")) GTEST_SKIP() << ntfs.why();
  const std::string n = dir + "/n";
  const std::unique_ptr<CNtfs> volume = open_engine_at(image);
  ASSERT_TRUE(volume);
  const uint64 documents = listed_inode("sample.img", "/Documents"),
               notes = listed_inode("sample.img", "/Documents/notes.txt"),
               src = listed_inode("sample.img", "/Projects/quor/src"), empty = shown_number(n + "/Documents/empty");
  ASSERT_EQ(documents, 66u);
  ASSERT_EQ(shown_number(n + "/Documents"), documents);
  ASSERT_EQ(shown_number(n + "/Documents/notes.txt"), notes);
  ASSERT_GT(empty, 23u);
  const std::string views = made_folder("own-mounts/views");
  pass_through bound("bindfs", n, views + "/b");
  pass_through bare("bindfs", n, views + "/bx", false, "--xattr-none");
  pass_through merged("mergerfs", n, views + "/m", false, "-o xattr=nosys");
  pass_through avfs("avfs", n, views + "/a");
  // bindfs passes the numbers on, with or without the creation times;
  // mergerfs and avfs number files their own way.
  const struct {
    std::string how;
    const pass_through* view;
  } ways[] = {{"bindfs", &bound}, {"bindfs --xattr-none", &bare}, {"mergerfs, no xattrs", &merged}, {"avfs", &avfs}};
  // One more made while the volume is open, through the view that shows
  // no creation time where there is one.
  ASSERT_EQ(::mkdir(((bare.ok() ? bare.at : n) + "/Documents/made-here").c_str(), 0755), 0);
  const uint64 made = shown_number(n + "/Documents/made-here");
  ASSERT_GT(made, 23u);
  std::string skipped;
  std::vector<std::pair<std::string, std::string>> under = {{"ntfs-3g", n}};
  for (const auto& w : ways)
    if (w.view->ok())
      under.push_back({w.how, w.view->shows});
    else
      skipped += " " + w.how + ": " + w.view->why();
  for (const auto& u : under) {
    const struct {
      std::string what;
      uint64 record;
      std::string path;
    } cases[] = {
        {"", 5, "\\"},
        {"/Documents", documents, "\\Documents"},
        {"/Documents/notes.txt", notes, "\\Documents\\notes.txt"},
        {"/Projects/quor/src", src, "\\Projects\\quor\\src"},
        // A folder that shows no name: the nearest folder above that shows
        // names tells it, where no creation time is shown.
        {"/Documents/empty", empty, "\\Documents\\empty"},
        {"/Documents/made-here", made, "\\Documents\\made-here"},
    };
    // avfs shows whole seconds, which no copy lacks: the volume does not take its view
    // for its own, but the guard asks it of the path below the view, which is the mount's.
    const bool whole_seconds = u.first == "avfs";
    // Only the volume's word: no identity of the image, which ntfs-3g's server holds in sight.
    uni::file_identities sources(1);
    sources[0].volume = volume.get();
    sources[0].name = image;
    for (const auto& c : cases) {
      const answer a = ask(*volume, u.second + c.what);
      if (whole_seconds) {
        EXPECT_FALSE(a.holds) << u.first << ": " << c.what << ": " << text(a);
        const int fd = ::open((u.second + c.what).c_str(), O_RDONLY | O_CLOEXEC);
        std::string why;
        const bool folder = c.what.find(".txt") == std::string::npos;
        EXPECT_EQ(folder ? uni::folder_descriptor_reach(fd, sources, why) : uni::descriptor_reach(fd, sources, why),
                  uni::reach_answer::source)
            << c.what << ": " << why;
        EXPECT_NE(why.find("it is " + c.path + " of the evidence "), std::string::npos) << why;
        if (fd >= 0) ::close(fd);
        continue;
      }
      EXPECT_TRUE(a.holds && a.record == c.record && a.path == c.path)
          << u.first << ": " << c.what << ": " << text(a) << " against record " << c.record << ", " << c.path;
    }
  }
  // Without a creation time, the numbers of the names a folder shows are
  // what only this volume holds: bindfs --xattr-none really shows none.
  if (bare.ok()) {
    EXPECT_EQ(::getxattr((views + "/bx/Documents").c_str(), "system.ntfs_crtime", nullptr, 0), -1);
    EXPECT_GT(::getxattr((n + "/Documents").c_str(), "system.ntfs_crtime", nullptr, 0), 0);
  }
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

TEST(OwnFiles, OtherFoldersAreNotItsOwn) {
  const std::string dir = made_folder("own-not");
  const std::string image = copy_fixture("sample.img", "own-not/ev.img");
  ASSERT_FALSE(image.empty());
  const std::unique_ptr<CNtfs> volume = open_engine_at(image);
  ASSERT_TRUE(volume);
  std::vector<std::pair<std::string, std::string>> places;  // how, path
  std::string skipped;

  // A plain folder of the local disk holding the root's names.
  const std::string local = made_folder("own-not/local");
  made_folder("own-not/local/Documents");
  std::ofstream(local + "/readme.txt") << "text\n";
  std::ofstream(local + "/Documents/notes.txt") << "note\n";
  places.push_back({"a local folder", local});
  places.push_back({"a local folder's folder", local + "/Documents"});
  places.push_back({"a local folder's file", local + "/Documents/notes.txt"});

  // A case folder through mergerfs holding some of the root's names, and
  // one more.
  const std::string case_dir = made_folder("own-not/case");
  for (const char* sub : {"/Documents", "/Photos"}) ::mkdir((case_dir + sub).c_str(), 0700);
  std::ofstream(case_dir + "/Documents/notes.txt") << "note\n";
  std::ofstream(case_dir + "/case-notes.txt") << "mine\n";
  pass_through merged("mergerfs", case_dir, dir + "/mc", false, "-o xattr=nosys");
  if (merged.ok()) {
    places.push_back({"a case folder through mergerfs", merged.at});
    places.push_back({"its Documents", merged.at + "/Documents"});
    places.push_back({"its Documents' file", merged.at + "/Documents/notes.txt"});
  } else {
    skipped += " mergerfs: " + merged.why();
  }

  // Other NTFS volumes, mounted by ntfs-3g, directly and through bindfs.
  layer_stack fresh, like;
  const bool fresh_ok = ntfs_case_drive(fresh, dir + "/fresh.img", dir + "/f", false) &&
                        mount_ntfs(fresh, dir + "/fresh.img", dir + "/f");
  const bool like_ok = ntfs_case_drive(like, dir + "/like.img", dir + "/l", true) &&
                       mount_ntfs(like, dir + "/like.img", dir + "/l");
  std::vector<std::unique_ptr<pass_through>> bound;
  if (fresh_ok) {
    // Its one folder is named as one of the source's root.
    ASSERT_EQ(shown_number(dir + "/f"), 5u);
    ASSERT_EQ(::mkdir((dir + "/f/Documents").c_str(), 0755), 0);
    places.push_back({"a fresh NTFS volume's root", dir + "/f"});
    places.push_back({"a fresh NTFS volume's folder", dir + "/f/Documents"});
    bound.emplace_back(new pass_through("bindfs", dir + "/f", dir + "/fb"));
    if (bound.back()->ok()) {
      places.push_back({"a fresh NTFS volume's root through bindfs", dir + "/fb"});
      places.push_back({"a fresh NTFS volume's folder through bindfs", dir + "/fb/Documents"});
    }
  } else {
    skipped += " a fresh volume: " + fresh.why();
  }
  if (like_ok) {
    // The same names under the same numbers as the source's.
    for (const char* name : {"/Documents", "/Photos", "/Projects"})
      ASSERT_EQ(shown_number(dir + "/l" + name), listed_inode("sample.img", name)) << name;
    for (const std::string& at : {dir + "/l", dir + "/l/Documents", dir + "/l/Photos", dir + "/l/Documents/notes.txt"})
      places.push_back({"an NTFS volume like the source's", at});
    bound.emplace_back(new pass_through("bindfs", dir + "/l", dir + "/lb"));
    if (bound.back()->ok())
      for (const std::string& at : {dir + "/lb", dir + "/lb/Documents", dir + "/lb/Documents/notes.txt"})
        places.push_back({"an NTFS volume like the source's through bindfs", at});
  } else {
    skipped += " a volume like the source's: " + like.why();
  }
  for (const auto& b : bound)
    if (!b->ok()) skipped += " bindfs: " + b->why();

  for (const auto& p : places) {
    const answer a = ask(*volume, p.second);
    EXPECT_FALSE(a.holds) << p.first << ": " << p.second << ": " << text(a);
  }
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// A copy of sample.img named `as` in the scratch folder whose record
// `number` has a torn update sequence: the last two bytes of its second
// sector no longer hold the sequence number. "" (with why) when it cannot
// be made.
std::string torn_copy(const std::string& as, uint64 number, std::string& why) {
  const std::string torn = copy_fixture("sample.img", as);
  ulong64 pos = 0;
  {
    const std::unique_ptr<CNtfs> whole = open_engine_at(torn);
    byte* buf = nullptr;
    int size = 0;
    if (!whole || !whole->read_mft_record(number, buf, pos, size, true) || size < 1024) {
      delete[] buf;
      why = "record " + std::to_string(number) + " of " + as + " cannot be read";
      return "";
    }
    delete[] buf;
  }
  std::fstream f(torn, std::ios::in | std::ios::out | std::ios::binary);
  char tail[2] = {0, 0};
  f.seekg(static_cast<std::streamoff>(pos + 1022));
  f.read(tail, 2);
  tail[0] = static_cast<char>(tail[0] ^ 0x5a);
  f.seekp(static_cast<std::streamoff>(pos + 1022));
  if (!f.write(tail, 2) || !f.flush()) {
    why = "cannot write " + torn;
    return "";
  }
  return torn;
}

// The volume opened from a copy of the image whose record of Documents is
// torn (one sector's update sequence number changed), while ntfs-3g serves
// the whole original: the mount's Documents is not the open volume's, by
// its number nor by its name, and the check reads the damage without a
// fault.
TEST(OwnFiles, DamagedRecordNeverMatches) {
  const std::string dir = made_folder("own-torn");
  const uint64 documents = listed_inode("sample.img", "/Documents");
  std::string why;
  const std::string image = copy_fixture("sample.img", "own-torn/ev.img"),
                    torn = torn_copy("own-torn/torn.img", documents, why);
  ASSERT_FALSE(image.empty() || torn.empty()) << why;
  layer_stack ntfs;
  if (!mount_ntfs(ntfs, image, dir + "/n")) GTEST_SKIP() << ntfs.why();
  const std::unique_ptr<CNtfs> volume = open_engine_at(torn);
  ASSERT_TRUE(volume);
  {
    byte* buf = nullptr;
    int size = 0;
    ulong64 at = 0;
    volume->read_mft_record(documents, buf, at, size, true);
    delete[] buf;
    ASSERT_TRUE(volume->last_record_torn()) << "the record of Documents is whole";
  }
  const std::string n = dir + "/n";
  ASSERT_EQ(shown_number(n + "/Documents"), documents);
  const answer folder = ask(*volume, n + "/Documents");
  EXPECT_FALSE(folder.holds) << text(folder);
  // The folders beside it are whole.
  const answer beside = ask(*volume, n + "/Photos");
  EXPECT_TRUE(beside.holds && beside.path == "\\Photos") << text(beside);
}

// A file whose own record is whole, in a folder whose record is torn: the
// volume may own it by its record, but then under the path its record and
// the mount both give, not under a path cut where the damage lies.
TEST(OwnFiles, FileOfADamagedFolderIsNeverNamedByAPartOfItsPath) {
  const std::string dir = made_folder("own-torn-file");
  std::string why;
  const std::string image = copy_fixture("sample.img", "own-torn-file/ev.img"),
                    torn = torn_copy("own-torn-file/torn.img", listed_inode("sample.img", "/Documents"), why);
  ASSERT_FALSE(image.empty() || torn.empty()) << why;
  layer_stack ntfs;
  if (!mount_ntfs(ntfs, image, dir + "/n")) GTEST_SKIP() << ntfs.why();
  const std::unique_ptr<CNtfs> volume = open_engine_at(torn);
  ASSERT_TRUE(volume);
  const answer file = ask(*volume, dir + "/n/Documents/notes.txt");
  EXPECT_FALSE(file.holds && file.path != "\\Documents\\notes.txt") << text(file);
}

// An examiner's NTFS case drive whose root holds folders the source's root
// holds, through bindfs without extended attributes: bindfs shows the
// drive's own record numbers, which are not the source's for every name
// (Downloads, Temp), so nothing stands for the source's root there.
TEST(OwnFiles, CaseDriveWithTheRootsNamesThroughBindfsWithoutXattrsIsNotItsOwn) {
  const std::string dir = made_folder("own-bare");
  const std::string image = copy_fixture("sample.img", "own-bare/ev.img");
  ASSERT_FALSE(image.empty());
  const std::unique_ptr<CNtfs> volume = open_engine_at(image);
  ASSERT_TRUE(volume);
  layer_stack like;
  if (!ntfs_case_drive(like, dir + "/like.img", dir + "/l", true) || !mount_ntfs(like, dir + "/like.img", dir + "/l"))
    GTEST_SKIP() << like.why();
  pass_through bare("bindfs", dir + "/l", dir + "/lbx", false, "--xattr-none");
  if (!bare.ok()) GTEST_SKIP() << bare.why();
  ASSERT_NE(shown_number(dir + "/lbx/Downloads"), listed_inode("sample.img", "/Downloads"));
  for (const std::string& at :
       {bare.at, bare.at + "/Documents", bare.at + "/Documents/notes.txt", bare.at + "/Photos"}) {
    const answer a = ask(*volume, at);
    EXPECT_FALSE(a.holds) << at << ": " << text(a);
  }
}

}  // namespace
