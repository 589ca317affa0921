// The open volume's word on a file or folder of a real mount: its own
// through ntfs-3g, through bindfs (with the creation time passed on or
// not), through views that number files their own way (mergerfs, avfs);
// never another NTFS volume's, fresh or holding the same names under the
// same numbers, nor a local folder, nor a folder whose record is damaged.
#include "ntfs/own_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "ntfs/ntfs_structs.h"
#include "tests/support/engine.h"
#include "tests/support/layer_setups.h"
#include "utils/byte_order.h"
#include "utils/output_file.h"

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

// What the guard says of the file or folder at `at` by the volume's word
// alone (no identity of its image, which a server in sight may hold): the
// refusal's why, or "" where it would be written.
std::string guard_says(CNtfs& volume, const std::string& image, const std::string& at) {
  uni::file_identities sources(1);
  sources[0].volume = &volume;
  sources[0].name = image;
  const int fd = ::open(at.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  std::string why;
  const bool folder = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
  const uni::reach_answer a =
      folder ? uni::folder_descriptor_reach(fd, sources, why) : uni::descriptor_reach(fd, sources, why);
  if (fd >= 0) ::close(fd);
  return a == uni::reach_answer::source ? why : std::string();
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

// A copy of sample.img in the new folder `name`, mounted by ntfs-3g at
// its n: the folder, "" where no mount could be had (`ntfs` says why).
std::string mounted_sample(const std::string& name, layer_stack& ntfs, std::string& image) {
  const std::string dir = made_folder(name);
  image = copy_fixture("sample.img", name + "/ev.img");
  return !image.empty() && mount_ntfs(ntfs, image, dir + "/n") ? dir : "";
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
    for (const auto& c : cases) {
      const answer a = ask(*volume, u.second + c.what);
      if (whole_seconds) {
        EXPECT_FALSE(a.holds) << u.first << ": " << c.what << ": " << text(a);
        const std::string why = guard_says(*volume, image, u.second + c.what);
        EXPECT_NE(why.find("it is " + c.path + " of the evidence "), std::string::npos) << c.what << ": " << why;
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
// file proves itself by its own record and the creation time ntfs-3g shows
// of it, so it is the volume's, under the path its record and the mount
// both give, never a path cut where the damage lies.
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
  EXPECT_TRUE(file.holds && file.path == "\\Documents\\notes.txt" &&
              file.record == listed_inode("sample.img", "/Documents/notes.txt"))
      << text(file);
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

// A copy of sample.img named `as` in the scratch folder whose record
// `number` is marked free: the in-use bit of its header's flags cleared,
// which lie in the record's first sector clear of the update sequence's
// places, so the record stays whole. "" (with why) when it cannot be made.
std::string freed_copy(const std::string& as, uint64 number, std::string& why) {
  const std::string freed = copy_fixture("sample.img", as);
  ulong64 pos = 0;
  {
    const std::unique_ptr<CNtfs> whole = open_engine_at(freed);
    byte* buf = nullptr;
    int size = 0;
    const bool read = whole && whole->read_mft_record(number, buf, pos, size, true) && size >= 1024;
    const bool in_use = read && (load_u16(buf, FRH_FLAGS) & 1) != 0;
    delete[] buf;
    if (!in_use) {
      why = "record " + std::to_string(number) + " of " + as + " cannot be read, or is free already";
      return "";
    }
  }
  std::fstream f(freed, std::ios::in | std::ios::out | std::ios::binary);
  char flags = 0;
  f.seekg(static_cast<std::streamoff>(pos + FRH_FLAGS));
  f.read(&flags, 1);
  flags = static_cast<char>(flags & ~1);
  f.seekp(static_cast<std::streamoff>(pos + FRH_FLAGS));
  if (!f.write(&flags, 1) || !f.flush()) {
    why = "cannot write " + freed;
    return "";
  }
  return freed;
}

// The header flags of record `number` as `volume` reads it now, its
// read-ahead window and all; -1 when it cannot be read.
int record_flags(const CNtfs& volume, uint64 number) {
  byte* buf = nullptr;
  int size = 0;
  ulong64 pos = 0;
  const bool read = volume.read_mft_record(number, buf, pos, size, true) && size >= 1024;
  const int flags = read ? load_u16(buf, FRH_FLAGS) : -1;
  delete[] buf;
  return flags;
}

// `cp -a` keeps the names, sizes and modification times (to the tick
// ntfs-3g shows) of what it copies: a case folder holding such a copy of
// every entry of the volume's root, and of \Documents, is no folder of the
// volume, seen directly, through bindfs without extended attributes (the
// root's copy at its top: bindfs shows the local disk's numbers), or through
// mergerfs without them, the copies in folders below its top (which stands
// for the volume's root, and the folders below for none of its folders).
TEST(OwnFiles, CopiesOfTheVolumesFoldersAreNotItsOwn) {
  const std::string dir = made_folder("own-copied");
  const std::string image = copy_fixture("sample.img", "own-copied/ev.img"),
                    source = copy_fixture("sample.img", "own-copied/src.img");
  ASSERT_FALSE(image.empty() || source.empty());
  const std::unique_ptr<CNtfs> volume = open_engine_at(image);
  ASSERT_TRUE(volume);
  const std::string cases = made_folder("own-copied/case"), root = cases + "/root-copy",
                    docs = cases + "/docs-copy";
  {
    layer_stack from;
    if (!mount_ntfs(from, source, dir + "/src") ||
        !from.step("mkdir " + shell_word(root) + " " + shell_word(docs) + " && cp -a " + shell_word(dir + "/src/.") +
                   " " + shell_word(root) + " && cp -a " + shell_word(dir + "/src/Documents/.") + " " +
                   shell_word(docs)))
      GTEST_SKIP() << from.why();
    struct stat shown, copied;
    ASSERT_EQ(::stat((dir + "/src/Documents/notes.txt").c_str(), &shown), 0);
    ASSERT_EQ(::stat((docs + "/notes.txt").c_str(), &copied), 0);
    ASSERT_TRUE(shown.st_size == copied.st_size && shown.st_mtim.tv_sec == copied.st_mtim.tv_sec &&
                shown.st_mtim.tv_nsec == copied.st_mtim.tv_nsec)
        << "cp -a did not keep notes.txt's size and time to the nanosecond";
  }
  std::vector<std::pair<std::string, std::string>> places = {
      {"a local copy of the root", root},
      {"a local copy of the root: Documents", root + "/Documents"},
      {"a local copy of the root: Projects/quor/src", root + "/Projects/quor/src"},
      {"a local copy of the root: readme.txt", root + "/readme.txt"},
      {"a local copy of \\Documents", docs},
      {"a local copy of \\Documents: notes.txt", docs + "/notes.txt"},
  };
  std::string skipped;
  pass_through bare("bindfs", root, dir + "/bx", false, "--xattr-none");
  if (bare.ok()) {
    for (const char* below : {"", "/Documents", "/Projects/quor/src", "/Documents/notes.txt"})
      places.push_back({std::string("bindfs --xattr-none of the root's copy: ") + below, bare.at + below});
  } else {
    skipped += " bindfs: " + bare.why();
  }
  pass_through merged("mergerfs", cases, dir + "/m", false, "-o xattr=nosys");
  if (merged.ok()) {
    for (const char* below :
         {"/root-copy", "/root-copy/Documents", "/root-copy/readme.txt", "/docs-copy", "/docs-copy/notes.txt"})
      places.push_back({std::string("mergerfs of the case folder: ") + below, merged.at + below});
  } else {
    skipped += " mergerfs: " + merged.why();
  }
  for (const auto& p : places) {
    const answer a = ask(*volume, p.second);
    EXPECT_FALSE(a.holds) << p.first << ": " << text(a);
  }
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// ntfs-3g's mount of the volume through mergerfs without extended
// attributes, with names made through the view after the volume was opened
// (an examiner's listings, logs, a copy folder): names the volume's folders
// show beside their own entries neither prove nor disprove, so each folder
// and file is still the volume's, under its record and path, after a few
// names and after a dozen.
TEST(OwnFiles, MountThroughMergerfsStaysItsOwnBesideNamesMadeThroughIt) {
  layer_stack ntfs;
  std::string image;
  const std::string dir = mounted_sample("own-beside", ntfs, image);
  if (dir.empty()) GTEST_SKIP() << (image.empty() ? "no sample.img" : ntfs.why());
  const std::string n = dir + "/n";
  const std::unique_ptr<CNtfs> volume = open_engine_at(image);
  ASSERT_TRUE(volume);
  // mergerfs makes nothing on a branch with less than its minimum free
  // space (4 GiB unless told), and the volume holds 8 MiB.
  pass_through merged("mergerfs", n, dir + "/m", false, "-o xattr=nosys,minfreespace=0");
  if (!merged.ok()) GTEST_SKIP() << merged.why();
  const std::string m = merged.at;
  const uint64 documents = listed_inode("sample.img", "/Documents"),
               notes = listed_inode("sample.img", "/Documents/notes.txt"),
               src = listed_inode("sample.img", "/Projects/quor/src");
  ASSERT_EQ(::mkdir((m + "/Documents/copies").c_str(), 0755), 0);
  std::ofstream(m + "/Documents/copies/a.bin") << "copied\n";
  for (const int made : {3, 12}) {
    for (int i = 0; i < made; ++i) {
      const std::string two = (i < 10 ? "0" : "") + std::to_string(i);
      std::ofstream(m + "/case-" + two + ".csv") << "listing\n";
      std::ofstream(m + "/Documents/log-" + two + ".txt") << "log\n";
    }
    const struct {
      std::string what;
      uint64 record;
      std::string path;
    } cases[] = {
        {"", 5, "\\"},
        {"/Documents", documents, "\\Documents"},
        {"/Documents/notes.txt", notes, "\\Documents\\notes.txt"},
        {"/Projects/quor/src", src, "\\Projects\\quor\\src"},
        {"/Documents/copies", shown_number(n + "/Documents/copies"), "\\Documents\\copies"},
        {"/case-01.csv", shown_number(n + "/case-01.csv"), "\\case-01.csv"},
    };
    for (const auto& c : cases) {
      const answer a = ask(*volume, m + c.what);
      EXPECT_TRUE(a.holds && a.record == c.record && a.path == c.path)
          << made << " names made in the root: " << c.what << ": " << text(a) << " against record " << c.record
          << ", " << c.path;
    }
  }
}

// The root of a drive Windows has used holds the folders every Windows
// drive's root holds, under the exhibit's names, their files of the
// exhibit's sizes: a case folder holding them beside the case's own names
// (windows_used_case_drive) is no folder of a volume whose live root holds
// System Volume Information alone (sysvol.img) or with a recycle bin beside
// it (recycle.img), seen directly or through a view that numbers files its
// own way: mergerfs passing extended attributes on, rclone's local remote,
// sshfs of this machine, fusefat's FAT image.
TEST(OwnFiles, WindowsUsedCaseDriveIsNotItsOwn) {
  const std::string dir = made_folder("own-windows");
  std::vector<std::pair<std::string, std::unique_ptr<CNtfs>>> volumes;
  for (const std::string name : {"sysvol.img", "recycle.img"}) {
    volumes.emplace_back(name, open_engine_at(copy_fixture(name, "own-windows/" + name)));
    ASSERT_TRUE(volumes.back().second) << name;
  }
  const std::string cases = made_folder("own-windows/case");
  layer_stack local;
  ASSERT_TRUE(windows_used_case_drive(local, cases)) << local.why();
  std::vector<std::pair<std::string, std::string>> drives = {{"a local folder", cases}};
  std::string skipped;
  pass_through merged("mergerfs", cases, dir + "/m");
  pass_through rclone("rclone :local:", cases, dir + "/r");
  for (const pass_through* view : {&merged, &rclone})
    if (!view->ok()) skipped += " " + view->why();
  if (merged.ok()) drives.push_back({"mergerfs", merged.at});
  if (rclone.ok()) drives.push_back({"rclone :local:", rclone.at});
  ssh_share ssh(dir + "/sshd", cases);
  if (ssh.ok() && ssh.share(cases, dir + "/s"))
    drives.push_back({"sshfs", dir + "/s"});
  else
    skipped += " sshfs: " + ssh.why();
  layer_stack fat;
  if (fat_store(fat, dir + "/fat.img", dir + "/f") && windows_used_case_drive(fat, dir + "/f"))
    drives.push_back({"fusefat", dir + "/f"});
  else
    skipped += " fusefat: " + fat.why();
  const std::string user = "/$RECYCLE.BIN/S-1-5-21-1004336348-1177238915-682003330-1001";
  const std::string below[] = {"",
                               "/notes.txt",
                               "/Case-117",
                               "/Case-117/report.txt",
                               "/System Volume Information",
                               "/System Volume Information/IndexerVolumeGuid",
                               "/$RECYCLE.BIN",
                               user,
                               user + "/desktop.ini"};
  for (const auto& v : volumes)
    for (const auto& d : drives)
      for (const std::string& b : below) {
        const answer a = ask(*v.second, d.second + b);
        EXPECT_FALSE(a.holds) << v.first << ", " << d.first << ": " << b << ": " << text(a);
      }
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// Windows gives a long name a DOS name beside it, two entries in the
// folder's index (recycle.img, whose records istat shows with both names);
// ntfs-3g shows the long names alone, and so do the views over it: the
// volume's folders and files are its own by their long names, directly and
// through bindfs without extended attributes, mergerfs without them and
// avfs (whose path names the mount's folder behind it).
TEST(OwnFiles, FoldersWhoseIndexHoldsDosNamesBesideTheLongOnesAreItsOwn) {
  if (!have_program("istat")) GTEST_SKIP() << "istat not installed";
  const std::string dir = made_folder("own-dos");
  const std::string image = copy_fixture("recycle.img", "own-dos/ev.img");
  ASSERT_FALSE(image.empty());
  const std::string user = "/$RECYCLE.BIN/S-1-5-21-1004336348-1177238915-682003330-1001";
  const struct {
    std::string path, dos;
  } named[] = {{"/System Volume Information", "SYSTEM~1"},
               {"/System Volume Information/IndexerVolumeGuid", "INDEXE~1"},
               {"/System Volume Information/WPSettings.dat", "WPSETT~1.DAT"},
               {user, "S-1-5-~1"}};
  for (const auto& e : named) {
    std::string shown;
    ASSERT_EQ(run_command("istat " + shell_word(image) + " " + std::to_string(listed_inode("recycle.img", e.path)),
                          shown),
              0);
    const std::string name = e.path.substr(e.path.rfind('/') + 1);
    EXPECT_NE(shown.find("Name: " + name + "\n"), std::string::npos) << e.path << ": " << shown;
    EXPECT_NE(shown.find("Name: " + e.dos + "\n"), std::string::npos) << e.path << ": " << shown;
  }
  layer_stack ntfs;
  if (!mount_ntfs(ntfs, image, dir + "/n")) GTEST_SKIP() << ntfs.why();
  const std::string n = dir + "/n";
  const std::unique_ptr<CNtfs> volume = open_engine_at(image);
  ASSERT_TRUE(volume);
  pass_through bare("bindfs", n, dir + "/bx", false, "--xattr-none");
  pass_through merged("mergerfs", n, dir + "/m", false, "-o xattr=nosys");
  pass_through avfs("avfs", n, dir + "/a");
  std::vector<std::pair<std::string, std::string>> under = {{"ntfs-3g", n}};
  std::string skipped;
  for (const auto& w : {std::make_pair("bindfs --xattr-none", &bare), std::make_pair("mergerfs, no xattrs", &merged),
                        std::make_pair("avfs", &avfs)})
    if (w.second->ok())
      under.push_back({w.first, w.second->shows});
    else
      skipped += std::string(" ") + w.first + ": " + w.second->why();
  const struct {
    std::string what, path;
  } cases[] = {
      {"", "\\"},
      {"/System Volume Information", "\\System Volume Information"},
      {"/System Volume Information/IndexerVolumeGuid", "\\System Volume Information\\IndexerVolumeGuid"},
      {"/$RECYCLE.BIN", "\\$RECYCLE.BIN"},
      {user, "\\$RECYCLE.BIN\\S-1-5-21-1004336348-1177238915-682003330-1001"},
      {user + "/desktop.ini", "\\$RECYCLE.BIN\\S-1-5-21-1004336348-1177238915-682003330-1001\\desktop.ini"},
  };
  for (const auto& u : under)
    for (const auto& c : cases) {
      const uint64 record = c.what.empty() ? 5 : listed_inode("recycle.img", c.what);
      const answer a = ask(*volume, u.second + c.what);
      if (u.first == "avfs") {  // whole seconds: the guard's word, by the folder behind the view
        EXPECT_FALSE(a.holds) << u.first << ": " << c.what << ": " << text(a);
        const std::string why = guard_says(*volume, image, u.second + c.what);
        EXPECT_NE(why.find("it is " + c.path + " of the evidence " + image + " (record " + std::to_string(record) + ")"),
                  std::string::npos)
            << c.what << ": " << why;
        continue;
      }
      EXPECT_TRUE(a.holds && a.record == record && a.path == c.path)
          << u.first << ": " << c.what << ": " << text(a) << " against record " << record << ", " << c.path;
    }
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// The volume opened from a copy of the image in which the record of
// Documents is marked free, while ntfs-3g serves the original: the mount's
// Documents shows that record's number and name, but a record not in use is
// no folder of the volume, directly or through the views; Photos beside it
// still is.
TEST(OwnFiles, FolderWhoseRecordIsFreeIsNotItsOwn) {
  const std::string dir = made_folder("own-freed");
  const uint64 documents = listed_inode("sample.img", "/Documents"), photos = listed_inode("sample.img", "/Photos");
  std::string why;
  const std::string image = copy_fixture("sample.img", "own-freed/ev.img"),
                    freed = freed_copy("own-freed/freed.img", documents, why);
  ASSERT_FALSE(image.empty() || freed.empty()) << why;
  layer_stack ntfs;
  if (!mount_ntfs(ntfs, image, dir + "/n")) GTEST_SKIP() << ntfs.why();
  const std::string n = dir + "/n";
  const std::unique_ptr<CNtfs> volume = open_engine_at(freed);
  ASSERT_TRUE(volume);
  ASSERT_EQ(record_flags(*volume, documents), 2) << "the record of Documents is not a free folder's";
  ASSERT_FALSE(volume->last_record_torn());
  ASSERT_EQ(shown_number(n + "/Documents"), documents);
  pass_through bare("bindfs", n, dir + "/bx", false, "--xattr-none");
  pass_through merged("mergerfs", n, dir + "/m", false, "-o xattr=nosys");
  std::vector<std::pair<std::string, std::string>> under = {{"ntfs-3g", n}};
  std::string skipped;
  for (const auto& w : {std::make_pair("bindfs --xattr-none", &bare), std::make_pair("mergerfs, no xattrs", &merged)})
    if (w.second->ok())
      under.push_back({w.first, w.second->at});
    else
      skipped += std::string(" ") + w.first + ": " + w.second->why();
  for (const auto& u : under) {
    const answer freed_folder = ask(*volume, u.second + "/Documents");
    EXPECT_FALSE(freed_folder.holds) << u.first << ": " << text(freed_folder);
    const answer beside = ask(*volume, u.second + "/Photos");
    EXPECT_TRUE(beside.holds && beside.record == photos && beside.path == "\\Photos") << u.first << ": "
                                                                                       << text(beside);
  }
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// The walk reads records ahead, a window that the mount's later writes
// leave stale: a folder made through ntfs-3g after the window was read, in
// a record the window still holds as free, is the volume's under its
// record, directly and through bindfs without extended attributes.
TEST(OwnFiles, FolderMadeAfterTheWalksReadAheadIsItsOwn) {
  layer_stack ntfs;
  std::string image;
  const std::string dir = mounted_sample("own-ahead", ntfs, image);
  if (dir.empty()) GTEST_SKIP() << (image.empty() ? "no sample.img" : ntfs.why());
  const std::string n = dir + "/n";
  pass_through bare("bindfs", n, dir + "/bx", false, "--xattr-none");
  const std::unique_ptr<CNtfs> volume = open_engine_at(image);
  ASSERT_TRUE(volume);
  // A folder made and removed first frees the record the next one takes.
  ASSERT_EQ(::mkdir((n + "/probe").c_str(), 0755), 0);
  const uint64 probe = shown_number(n + "/probe");
  ASSERT_EQ(::rmdir((n + "/probe").c_str()), 0);
  for (uint64 r = 0; r <= probe + 4; ++r) record_flags(*volume, r);
  ASSERT_GT(volume->m_mft_cache_len, 0u) << "the walk left no read-ahead window";
  ASSERT_EQ(::mkdir((n + "/made-later").c_str(), 0755), 0);
  const uint64 made = shown_number(n + "/made-later");
  ASSERT_GT(made, 23u);
  ASSERT_EQ(record_flags(*volume, made) & 1, 0) << "record " << made << " was read past the window";
  std::vector<std::pair<std::string, std::string>> under = {{"ntfs-3g", n}};
  if (bare.ok()) under.push_back({"bindfs --xattr-none", bare.at});
  for (const auto& u : under) {
    const answer a = ask(*volume, u.second + "/made-later");
    EXPECT_TRUE(a.holds && a.record == made && a.path == "\\made-later")
        << u.first << ": " << text(a) << " against record " << made;
  }
  if (!bare.ok()) GTEST_SKIP() << "not tried: bindfs: " << bare.why();
}

// The root's creation time as istat shows it (its first "Created:" line).
std::string root_created(const std::string& image) {
  std::string shown;
  if (run_command("istat " + shell_word(image) + " 5", shown) != 0) return "";
  const size_t at = shown.find("Created:");
  return at == std::string::npos ? "" : shown.substr(at, shown.find('\n', at) - at);
}

// mkntfs writes its times in whole seconds, and with -T the epoch: two
// volumes formatted in one second hold the same root creation time, as the
// kit's images all do. A case drive that is such a volume (a copy of
// default.img; a volume formatted with -T whose first folders are made
// under the names and numbers links.img gives them, real and real/inner)
// is none of the source's (links.img) folders, through ntfs-3g or bindfs.
TEST(OwnFiles, CaseDriveFormattedInTheSameSecondIsNotItsOwn) {
  if (!have_program("istat")) GTEST_SKIP() << "istat not installed";
  const std::string dir = made_folder("own-second");
  const std::string source = copy_fixture("links.img", "own-second/links.img"),
                    copied = copy_fixture("default.img", "own-second/default.img");
  ASSERT_FALSE(source.empty() || copied.empty());
  const std::unique_ptr<CNtfs> volume = open_engine_at(source);
  ASSERT_TRUE(volume);
  const std::string formatted = dir + "/formatted.img";
  layer_stack drives;
  if (!drives.need({"mkntfs"}) ||
      !drives.step("truncate -s 8M " + shell_word(formatted) + " && mkntfs -q -F -f -T " + shell_word(formatted)))
    GTEST_SKIP() << drives.why();
  const std::string created = root_created(source);
  ASSERT_NE(created.find(":00 "), std::string::npos) << created;
  for (const std::string& drive : {copied, formatted}) ASSERT_EQ(root_created(drive), created) << drive;
  if (!mount_ntfs(drives, copied, dir + "/d") || !mount_ntfs(drives, formatted, dir + "/t") ||
      !drives.step("mkdir " + shell_word(dir + "/t/real") + " " + shell_word(dir + "/t/real/inner")))
    GTEST_SKIP() << drives.why();
  ASSERT_EQ(shown_number(dir + "/t/real"), listed_inode("links.img", "/real"));
  ASSERT_EQ(shown_number(dir + "/t/real/inner"), listed_inode("links.img", "/real/inner"));
  for (const std::string& root : {dir + "/d", dir + "/t"}) {
    byte ticks[8];
    ASSERT_EQ(::getxattr(root.c_str(), "system.ntfs_crtime", ticks, sizeof ticks), 8) << root;
    EXPECT_EQ(load_u64(ticks, 0) % 10000000, 0u) << root << ": the root's creation time is not whole seconds";
  }
  pass_through bound_copy("bindfs", dir + "/d", dir + "/db"), bound_formatted("bindfs", dir + "/t", dir + "/tb");
  std::vector<std::pair<std::string, std::string>> places;
  for (const std::string& at : {dir + "/d", dir + "/d/deep", dir + "/d/compressed"})
    places.push_back({"a copy of default.img", at});
  for (const std::string& at : {dir + "/t", dir + "/t/real", dir + "/t/real/inner"})
    places.push_back({"a volume formatted with -T", at});
  std::string skipped;
  if (bound_copy.ok() && bound_formatted.ok()) {
    for (const std::string& at : {bound_copy.at, bound_copy.at + "/deep"})
      places.push_back({"a copy of default.img through bindfs", at});
    for (const std::string& at : {bound_formatted.at, bound_formatted.at + "/real"})
      places.push_back({"a volume formatted with -T through bindfs", at});
  } else {
    skipped = " bindfs: " + bound_copy.why() + bound_formatted.why();
  }
  for (const auto& p : places) {
    const answer a = ask(*volume, p.second);
    EXPECT_FALSE(a.holds) << p.first << ": " << p.second << ": " << text(a);
  }
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// A view of the volume's root stays its own when files were written through
// the mount after the volume read them (their times later than the records'
// it holds), however many; a copy of the root made since, every time later
// and none to the tick, is never taken for it.
TEST(OwnFiles, FilesWrittenSinceTheVolumeReadThemLeaveAViewItsOwn) {
  layer_stack ntfs;
  std::string image;
  const std::string dir = mounted_sample("own-later", ntfs, image);
  if (dir.empty()) GTEST_SKIP() << (image.empty() ? "no sample.img" : ntfs.why());
  const std::string n = dir + "/n";
  for (int i = 0; i < 12; ++i) std::ofstream(n + "/note-" + std::to_string(i) + ".txt") << "note\n";
  const std::unique_ptr<CNtfs> volume = open_engine_at(image);
  ASSERT_TRUE(volume);
  pass_through first("mergerfs", n, dir + "/m1", false, "-o xattr=nosys,minfreespace=0");
  if (!first.ok()) GTEST_SKIP() << first.why();
  const answer before = ask(*volume, first.at + "/Documents");
  ASSERT_TRUE(before.holds && before.path == "\\Documents") << text(before);
  ::usleep(20000);
  for (int i = 0; i < 10; ++i) std::ofstream(n + "/note-" + std::to_string(i) + ".txt", std::ios::app) << "more\n";
  // A second view is asked anew, against the records as the volume read them.
  pass_through second("mergerfs", n, dir + "/m2", false, "-o xattr=nosys,minfreespace=0");
  if (!second.ok()) GTEST_SKIP() << second.why();
  const answer after = ask(*volume, second.at + "/Documents");
  EXPECT_TRUE(after.holds && after.path == "\\Documents") << text(after);

  const std::string copy = made_folder("own-later/copy");
  std::string ignored;
  ASSERT_EQ(run_command("cp -r " + shell_word(n) + "/. " + shell_word(copy), ignored), 0);
  pass_through copied("mergerfs", copy, dir + "/mc", false, "-o xattr=nosys");
  if (!copied.ok()) GTEST_SKIP() << copied.why();
  for (const std::string& at : {copied.at, copied.at + "/Documents", copied.at + "/note-11.txt"}) {
    const answer a = ask(*volume, at);
    EXPECT_FALSE(a.holds) << at << ": " << text(a);
  }
}

// A record whose bytes cannot be read at all (here the image was cut short
// under the open volume, where its records lay) is no damage the volume
// can judge: it cannot answer, and the guard refuses rather than write.
TEST(OwnFiles, ARecordThatCannotBeReadLeavesNoAnswer) {
  layer_stack ntfs;
  std::string image;
  const std::string dir = mounted_sample("own-unread", ntfs, image);
  if (dir.empty()) GTEST_SKIP() << (image.empty() ? "no sample.img" : ntfs.why());
  const std::string cut = copy_fixture("sample.img", "own-unread/cut.img");
  ASSERT_FALSE(cut.empty());
  const std::unique_ptr<CNtfs> volume = open_engine_at(cut);
  ASSERT_TRUE(volume);
  const ulong64 documents = listed_inode("sample.img", "/Documents");
  const ulong64 at = volume->get_inode_file_pos(documents);
  ASSERT_GT(at, 0u);
  ASSERT_EQ(::truncate(cut.c_str(), static_cast<off_t>(volume->m_volume_offset + at)), 0);
  volume->invalidate_read_cache();
  uint64 record = 0;
  std::string path;
  EXPECT_THROW(volume_holds(*volume, dir + "/n/Documents", record, path), std::runtime_error);
  const std::string why = guard_says(*volume, cut, dir + "/n/Documents");
  EXPECT_EQ(why, "") << "a folder the volume cannot read is no file of its own";
  uni::file_identities sources(1);
  sources[0].volume = volume.get();
  sources[0].name = cut;
  const int fd = ::open((dir + "/n/Documents").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::string untold;
  EXPECT_EQ(uni::folder_descriptor_reach(fd, sources, untold), uni::reach_answer::untold);
  EXPECT_EQ(untold, "cannot tell whether it is a file of the evidence " + cut + ": its record " +
                        std::to_string(documents) + " cannot be read");
  if (fd >= 0) ::close(fd);
}

// mergerfs numbers files its own way: through it, each file and folder of a
// volume is found by its names down the volume's indexes, under the number
// ntfs-3g shows (the kit's listing), whatever the cluster size (and so the
// unit an index record's place is counted in), in a folder of thousands of
// names (an index several records deep), and for names beyond ASCII, which
// the index orders by the volume's $UpCase (a pair of UTF-16 halves among
// them).
TEST(OwnFiles, EveryNameIsFoundDownTheIndexesThroughAViewThatNumbersItsOwnWay) {
  for (const std::string name : {"default.img", "c512.img", "c64k.img", "bigdir.img"}) {
    const std::string dir = made_folder("own-every-" + name);
    const std::string image = copy_fixture(name, "own-every-" + name + "/ev.img");
    ASSERT_FALSE(image.empty()) << name;
    layer_stack ntfs;
    if (!mount_ntfs(ntfs, image, dir + "/n")) GTEST_SKIP() << ntfs.why();
    pass_through merged("mergerfs", dir + "/n", dir + "/m", false, "-o xattr=nosys");
    if (!merged.ok()) GTEST_SKIP() << merged.why();
    const std::unique_ptr<CNtfs> volume = open_engine_at(image);
    ASSERT_TRUE(volume) << name;
    const std::vector<listing_entry> listed = read_listing(name);
    ASSERT_FALSE(listed.empty()) << name;
    // Of the folder of thousands, a sample across it.
    const size_t step = listed.size() > 5000 ? 37 : 1;
    for (size_t i = 0; i < listed.size(); i += step) {
      std::string path = listed[i].path;
      std::replace(path.begin(), path.end(), '/', '\\');
      const answer a = ask(*volume, merged.at + listed[i].path);
      EXPECT_TRUE(a.holds && a.record == listed[i].inode && a.path == path)
          << name << ": " << listed[i].path << ": " << text(a) << " against record " << listed[i].inode;
    }
  }
}

// Two volumes formatted with -T hold the same whole-second times and no
// user name: an exhibit and a case drive fresh from the format. No folder
// or file the case drive shows is the exhibit's, through ntfs-3g or bindfs
// without extended attributes: an index with no name to look up agrees
// with nothing.
TEST(OwnFiles, FreshCaseDriveIsNoFreshExhibitsOwn) {
  const std::string dir = made_folder("own-fresh");
  const std::string exhibit = dir + "/exhibit.img", drive = dir + "/drive.img";
  layer_stack made;
  if (!made.need({"mkntfs"}) || !made.step("truncate -s 8M " + shell_word(exhibit) + " " + shell_word(drive) +
                                           " && mkntfs -q -F -f -T " + shell_word(exhibit) + " && mkntfs -q -F -f -T " +
                                           shell_word(drive)))
    GTEST_SKIP() << made.why();
  if (!mount_ntfs(made, drive, dir + "/d") ||
      !made.step("mkdir " + shell_word(dir + "/d/case") + " && echo notes > " + shell_word(dir + "/d/case/notes.txt")))
    GTEST_SKIP() << made.why();
  pass_through bare("bindfs", dir + "/d", dir + "/db", false, "--xattr-none");
  if (!bare.ok()) GTEST_SKIP() << bare.why();
  const std::unique_ptr<CNtfs> volume = open_engine_at(exhibit);
  ASSERT_TRUE(volume);
  for (const std::string& top : {dir + "/d", bare.at})
    for (const std::string& at : {top, top + "/case", top + "/case/notes.txt"}) {
      const answer a = ask(*volume, at);
      EXPECT_FALSE(a.holds) << at << ": " << text(a);
    }
}

// Where the record `number` of `image` holds its attribute `type` whose
// value's byte `at` lies: the offset in the image, or 0 (with why) where it
// cannot be found or lies in a sector's last two bytes, which the update
// sequence keeps elsewhere.
ulong64 value_byte_at(const std::string& image, uint64 number, uint32 type, uint32 at, std::string& why) {
  const std::unique_ptr<CNtfs> volume = open_engine_at(image);
  byte* buf = nullptr;
  int size = 0;
  ulong64 pos = 0;
  const byte* attr = nullptr;
  ulong64 found = 0;
  if (volume && volume->read_mft_record(number, buf, pos, size, true) && size >= 1024 &&
      find_attribute(buf, static_cast<uint32>(size), type, attr) && attr[8] == 0) {
    const ulong64 in_record = static_cast<ulong64>(attr - buf) + load_u16(attr, AH_VALUE_OFFSET) + at;
    if (in_record % 512 < 504) found = pos + in_record;
  }
  delete[] buf;
  if (found == 0) why = "record " + std::to_string(number) + " of " + image + " holds no such value to change";
  return found;
}

bool write_at(const std::string& image, ulong64 at, const byte* bytes, size_t count) {
  std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(static_cast<std::streamoff>(at));
  return static_cast<bool>(f.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(count)).flush());
}

// A copy of sample.img whose root's index bitmap marks its one index
// record free, while ntfs-3g serves the original: the names that record
// still holds are no live names of the copy, so they prove nothing of its
// root through mergerfs, which numbers files its own way; the original
// volume's root is its own there.
TEST(OwnFiles, IndexRecordsTheBitmapMarksFreeHoldNoNames) {
  const std::string dir = made_folder("own-bitmap");
  const std::string image = copy_fixture("sample.img", "own-bitmap/ev.img"),
                    freed = copy_fixture("sample.img", "own-bitmap/freed.img");
  ASSERT_FALSE(image.empty() || freed.empty());
  std::string why;
  const ulong64 at = value_byte_at(freed, 5, ATTR_BITMAP, 0, why);
  ASSERT_NE(at, 0u) << why;
  const byte none = 0;
  ASSERT_TRUE(write_at(freed, at, &none, 1));
  layer_stack ntfs;
  if (!mount_ntfs(ntfs, image, dir + "/n")) GTEST_SKIP() << ntfs.why();
  pass_through merged("mergerfs", dir + "/n", dir + "/m", false, "-o xattr=nosys");
  if (!merged.ok()) GTEST_SKIP() << merged.why();
  const std::unique_ptr<CNtfs> original = open_engine_at(image), copy = open_engine_at(freed);
  ASSERT_TRUE(original && copy);
  const answer own = ask(*original, merged.at);
  EXPECT_TRUE(own.holds && own.path == "\\") << text(own);
  const answer freed_root = ask(*copy, merged.at);
  EXPECT_FALSE(freed_root.holds) << text(freed_root);
}

// A copy of sample.img named `as` in which no record of the root or a
// user's has an MFT change time with ticks below the second (each cut to
// its second), and each a creation time with them, but, with
// `root_entries_whole`, those named in the root, cut to their second too.
std::string times_cut(const std::string& as, bool root_entries_whole) {
  const std::string image = copy_fixture("sample.img", as);
  std::set<uint64> in_root;
  for (const listing_entry& e : read_listing("sample.img"))
    if (root_entries_whole && e.path.find('/', 1) == std::string::npos) in_root.insert(e.inode);
  const std::unique_ptr<CNtfs> volume = open_engine_at(image);
  int changed = 0;
  for (uint64 number = 5; volume && number < volume->get_inode_count(); number = number == 5 ? 16 : number + 1) {
    std::string why;
    byte* buf = nullptr;
    int size = 0;
    ulong64 pos = 0;
    const bool used =
        volume->read_mft_record(number, buf, pos, size, true) && size >= 1024 && (load_u16(buf, FRH_FLAGS) & 1) != 0;
    delete[] buf;
    const ulong64 at = used ? value_byte_at(image, number, ATTR_STANDARD_INFORMATION, 0, why) : 0;
    byte times[24];
    std::ifstream in(image, std::ios::binary);
    if (at == 0 || !in.seekg(static_cast<std::streamoff>(at)) || !in.read(reinterpret_cast<char*>(times), 24)) continue;
    // The creation time at 0, the change time at 16.
    const uint64 second = load_u64(times, 0) - load_u64(times, 0) % 10000000,
                 created = in_root.count(number) ? second : second + 1234567 + number,
                 whole = load_u64(times, 16) - load_u64(times, 16) % 10000000;
    for (int i = 0; i < 8; ++i) {
      times[i] = static_cast<byte>(created >> (8 * i));
      times[16 + i] = static_cast<byte>(whole >> (8 * i));
    }
    if (write_at(image, at, times, sizeof times)) ++changed;
  }
  return changed > 20 ? image : "";
}

// Where no record's change time has ticks below the second, only the
// creation times ntfs-3g shows as an extended attribute prove a file or
// folder the volume's: through ntfs-3g and mergerfs, which passes them on,
// each is, by its own where the mount shows the volume's numbers, else by
// the root's entries; through bindfs without them, none is. With the root's
// entries' creation times whole seconds too, the root's names prove
// nothing through mergerfs, while a file's own still proves it through
// ntfs-3g and bindfs passing them on.
TEST(OwnFiles, CreationTimeShownAloneProves) {
  const std::string dir = made_folder("own-created");
  const uint64 notes = listed_inode("sample.img", "/Documents/notes.txt");
  for (const bool root_entries_whole : {false, true}) {
    const std::string sub = root_entries_whole ? "/whole-root" : "/ticked", at = made_folder("own-created" + sub);
    const std::string image = times_cut("own-created" + sub + "/ev.img", root_entries_whole);
    ASSERT_FALSE(image.empty());
    layer_stack ntfs;
    if (!mount_ntfs(ntfs, image, at + "/n")) GTEST_SKIP() << ntfs.why();
    pass_through merged("mergerfs", at + "/n", at + "/m", false, "-o minfreespace=0");
    pass_through bound("bindfs", at + "/n", at + "/b"), bare("bindfs", at + "/n", at + "/bx", false, "--xattr-none");
    if (!merged.ok() || !bound.ok() || !bare.ok()) GTEST_SKIP() << merged.why() << bound.why() << bare.why();
    const std::unique_ptr<CNtfs> volume = open_engine_at(image);
    ASSERT_TRUE(volume);
    for (const std::string& top : {at + "/n", bound.at, merged.at, bare.at}) {
      const bool shown = top != bare.at && !(root_entries_whole && top == merged.at);
      const answer folder = ask(*volume, top + "/Documents"), file = ask(*volume, top + "/Documents/notes.txt");
      if (!root_entries_whole) {
        EXPECT_EQ(folder.holds, shown) << top << ": " << text(folder);
      }
      EXPECT_EQ(file.holds && file.record == notes && file.path == "\\Documents\\notes.txt", shown)
          << sub << ": " << top << ": " << text(file);
    }
  }
}

// The index orders names by their upper-case forms as the volume's $UpCase
// gives them, letters beyond ASCII too: through a view that numbers files
// its own way, each is found down the index under the number ntfs-3g shows.
TEST(OwnFiles, NamesBeyondAsciiAreFoundAsTheVolumeOrdersThem) {
  layer_stack ntfs;
  std::string image;
  const std::string dir = mounted_sample("own-upcase", ntfs, image);
  if (dir.empty()) GTEST_SKIP() << (image.empty() ? "no sample.img" : ntfs.why());
  const std::vector<std::string> names = {"ångström.txt", "Åse.txt", "öga.txt", "ÖL.txt", "äpple.txt", "Zebra.txt",
                                          "ÉTÉ", "école", "Ωmega.txt", "ωmega-2.txt"};
  ASSERT_EQ(::mkdir((dir + "/n/nordic").c_str(), 0755), 0);
  for (const std::string& name : names) std::ofstream(dir + "/n/nordic/" + name) << name << "\n";
  pass_through merged("mergerfs", dir + "/n", dir + "/m", false, "-o xattr=nosys");
  if (!merged.ok()) GTEST_SKIP() << merged.why();
  const std::unique_ptr<CNtfs> volume = open_engine_at(image);
  ASSERT_TRUE(volume);
  for (const std::string& name : names) {
    const answer a = ask(*volume, merged.at + "/nordic/" + name);
    EXPECT_TRUE(a.holds && a.record == shown_number(dir + "/n/nordic/" + name) && a.path == "\\nordic\\" + name)
        << name << ": " << text(a);
  }
}

// A kernel bind mount of a folder of a view that numbers files its own way
// shows that folder at its top, which its table entry's root field names:
// the top stands for the volume's folder of that path, its files for the
// volume's files there.
TEST(OwnFiles, KernelBindOfAViewsFolderStandsForThatFolder) {
  layer_stack ntfs;
  std::string image;
  const std::string dir = mounted_sample("own-bound", ntfs, image);
  if (dir.empty()) GTEST_SKIP() << (image.empty() ? "no sample.img" : ntfs.why());
  pass_through merged("mergerfs", dir + "/n", dir + "/m", false, "-o xattr=nosys");
  if (!merged.ok()) GTEST_SKIP() << merged.why();
  layer_stack bound;
  const std::string b = made_folder("own-bound/b");
  if (!bound.need({"mount"}) || !bound.step("mount --bind " + shell_word(merged.at + "/Projects/quor") + " " +
                                            shell_word(b)))
    GTEST_SKIP() << bound.why();
  bound.on_undo([b] {
    std::string ignored;
    run_command("umount " + shell_word(b) + " 2>/dev/null || umount -l " + shell_word(b) + " 2>/dev/null", ignored);
  });
  const std::unique_ptr<CNtfs> volume = open_engine_at(image);
  ASSERT_TRUE(volume);
  const answer top = ask(*volume, b), below = ask(*volume, b + "/src");
  EXPECT_TRUE(top.holds && top.record == listed_inode("sample.img", "/Projects/quor") && top.path == "\\Projects\\quor")
      << text(top);
  EXPECT_TRUE(below.holds && below.record == listed_inode("sample.img", "/Projects/quor/src") &&
              below.path == "\\Projects\\quor\\src")
      << text(below);
}

// A view of a folder that holds a mount of the volume below its top (a
// union one of whose branches holds it): the view's top is no folder of
// the volume, but a folder between it and the output shows the volume's
// root, and the output below that is the volume's.
TEST(OwnFiles, ViewHoldingAMountOfTheVolumeBelowItsTopIsItsOwnThere) {
  const std::string dir = made_folder("own-union");
  const std::string branch = made_folder("own-union/branch");
  const std::string image = copy_fixture("sample.img", "own-union/ev.img");
  ASSERT_FALSE(image.empty());
  std::ofstream(branch + "/case-notes.txt") << "mine\n";
  layer_stack ntfs;
  if (!mount_ntfs(ntfs, image, branch + "/ev")) GTEST_SKIP() << ntfs.why();
  pass_through merged("mergerfs", branch, dir + "/p", false, "-o xattr=nosys");
  if (!merged.ok()) GTEST_SKIP() << merged.why();
  const std::unique_ptr<CNtfs> volume = open_engine_at(image);
  ASSERT_TRUE(volume);
  const answer top = ask(*volume, merged.at), notes = ask(*volume, merged.at + "/ev/Documents/notes.txt");
  EXPECT_FALSE(top.holds) << text(top);
  EXPECT_TRUE(notes.holds && notes.record == listed_inode("sample.img", "/Documents/notes.txt") &&
              notes.path == "\\Documents\\notes.txt")
      << text(notes);
}

// ntfs-3g over a block device mounts as fuseblk, whose files carry the
// device's number as a disk's own file system's do: the volume is asked of
// them all the same, and a copy of it holds the same records and times.
TEST(OwnFiles, FilesOfANtfsMountOfADeviceAreAsked) {
  const std::string dir = made_folder("own-fuseblk");
  const std::string image = copy_fixture("sample.img", "own-fuseblk/ev.img"),
                    copy = copy_fixture("sample.img", "own-fuseblk/copy.img");
  ASSERT_FALSE(image.empty() || copy.empty());
  layer_stack blk;
  const std::string device = blk.loop(copy);
  if (device.empty() || !blk.mount("ntfs-3g -o noatime " + shell_word(device) + " " + shell_word(dir + "/n"),
                                   dir + "/n"))
    GTEST_SKIP() << blk.why();
  struct stat st;
  ASSERT_EQ(::stat((dir + "/n/Documents/notes.txt").c_str(), &st), 0);
  ASSERT_NE(major(st.st_dev), 0u) << "not mounted as fuseblk";
  const std::unique_ptr<CNtfs> volume = open_engine_at(image);
  ASSERT_TRUE(volume);
  const answer a = ask(*volume, dir + "/n/Documents/notes.txt");
  EXPECT_TRUE(a.holds && a.record == listed_inode("sample.img", "/Documents/notes.txt") &&
              a.path == "\\Documents\\notes.txt")
      << text(a);
}

}  // namespace
