// Identities as the output check compares them: a block device is the disk
// it stands for, whichever node names it or none; a file is its device and
// inode.
#include "utils/output_reach.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

uni::file_identity file(uint64 device, uint64 inode) {
  uni::file_identity id;
  id.device = device;
  id.inode = inode;
  return id;
}

uni::file_identity disk(uint64 number, uint64 node_device = 0, uint64 node_inode = 0) {
  uni::file_identity id = file(node_device, node_inode);
  id.block_device = number;
  return id;
}

TEST(OutputReach, SameFile) {
  const struct {
    uni::file_identity a, b;
    bool same;
  } cases[] = {
      {file(0x801, 12), file(0x801, 12), true},
      {file(0x801, 12), file(0x801, 13), false},
      {file(0x801, 12), file(0x802, 12), false},
      // Two disks found from the system's lists, neither with a node.
      {disk(0x700), disk(0x701), false},
      {disk(0x700), disk(0x700), true},
      // Two nodes of one disk, and a node against the disk as listed.
      {disk(0x700, 6, 300), disk(0x700, 0x801, 44), true},
      {disk(0x700, 6, 300), disk(0x700), true},
      // A node is not the file it lies beside, nor the other way round.
      {disk(0x700, 6, 300), file(6, 300), false},
      {file(0, 0), disk(0x700), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(uni::same_file(c.a, c.b), c.same) << c.a.block_device << " " << c.b.block_device;
    EXPECT_EQ(uni::same_file(c.b, c.a), c.same);
  }
  EXPECT_TRUE(uni::is_one_of(disk(0x701), {disk(0x700), disk(0x701)}));
  EXPECT_FALSE(uni::is_one_of(disk(0x701), {disk(0x700)}));
}

// A volume of the test's own that claims the paths it is given, cannot
// tell of those it is told cannot be read, and keeps every path it is asked.
struct claiming_volume {
  std::vector<std::string> asked, claims, unreadable;
  std::vector<int> descriptors;  // the output's own, -1 for each place behind it
  std::vector<bool> behind;      // whether the places behind it were asked too
  static uni::volume_word answer(void* volume, int fd, const std::string& path, bool behind, std::string& where,
                                 uint64& record) {
    claiming_volume& v = *static_cast<claiming_volume*>(volume);
    v.asked.push_back(path);
    v.descriptors.push_back(fd);
    v.behind.push_back(behind);
    if (std::find(v.unreadable.begin(), v.unreadable.end(), path) != v.unreadable.end()) {
      where = "its record 70 cannot be read";
      return uni::volume_word::untold;
    }
    if (std::find(v.claims.begin(), v.claims.end(), path) == v.claims.end()) return uni::volume_word::other;
    where = "\\Documents\\draft.txt";
    record = 70;
    return uni::volume_word::own;
  }
};

uni::file_identities sources_of(void* volume) {
  uni::file_identity self = file(0x801, 12), holder = disk(0x700);
  self.name = holder.name = "/cases/ev.img";
  self.volume = holder.volume = volume;
  holder.holder = true;
  return {self, holder};
}

// A volume answers for its own files while it is open, once for the output
// and each place behind it however many sources name it, and only where the
// sources name it; a check it could not finish refuses, unless another place
// is its own.
TEST(OutputReach, OpenVolumesAreAskedOfTheOutputsCheckedAgainstThem) {
  const std::string self = uni::descriptor_path(1);
  claiming_volume open, other;
  open.claims = {"/views/real"};
  uni::volume_opened(&open, claiming_volume::answer);
  uni::volume_opened(&open, claiming_volume::answer);
  uni::output_reach r;
  r.behind = {"/views/elsewhere", "/views/real", "/views/after"};
  r.view_followed = true;
  uni::ask_volumes(1, sources_of(&open), r);
  EXPECT_EQ(r.own, "it is \\Documents\\draft.txt of the evidence /cases/ev.img (record 70)");
  EXPECT_EQ(open.asked, (std::vector<std::string>{self, "/views/elsewhere", "/views/real"}));
  EXPECT_EQ(open.descriptors, (std::vector<int>{1, -1, -1}));
  EXPECT_EQ(open.behind, (std::vector<bool>{true, false, false}));
  std::string why;
  EXPECT_EQ(uni::reaches_source(r, sources_of(&open), uni::reach_use::made, why), uni::reach_answer::source);
  EXPECT_EQ(why, r.own);

  open.asked.clear();
  open.unreadable = {"/views/elsewhere"};
  uni::output_reach unread;
  unread.behind = {"/views/elsewhere", "/views/after"};
  uni::ask_volumes(1, sources_of(&open), unread);
  EXPECT_EQ(open.asked.size(), 3u);
  for (const uni::reach_use use : {uni::reach_use::made, uni::reach_use::existing, uni::reach_use::stream}) {
    EXPECT_EQ(uni::reaches_source(unread, sources_of(&open), use, why), uni::reach_answer::untold);
    EXPECT_EQ(why, "cannot tell whether it is a file of the evidence /cases/ev.img: its record 70 cannot be read");
  }
  uni::output_reach claimed_after;
  claimed_after.behind = {"/views/elsewhere", "/views/real"};
  uni::ask_volumes(1, sources_of(&open), claimed_after);
  EXPECT_FALSE(claimed_after.own_untold);
  EXPECT_EQ(uni::reaches_source(claimed_after, sources_of(&open), uni::reach_use::stream, why),
            uni::reach_answer::source);

  open.asked.clear();
  uni::output_reach unnamed;
  uni::ask_volumes(1, sources_of(nullptr), unnamed);
  uni::ask_volumes(1, sources_of(&other), unnamed);
  EXPECT_EQ(unnamed.own, "");
  EXPECT_TRUE(other.asked.empty());
  uni::volume_closed(&open);
  uni::output_reach closed;
  uni::ask_volumes(1, sources_of(&open), closed);
  EXPECT_EQ(closed.own, "");
  EXPECT_TRUE(open.asked.empty());
}

// A layer nothing tells under a standard stream: left to the volume that is
// open to answer for it, unless a source is read through that very mount or
// no volume is open; what a run makes is refused there either way.
TEST(OutputReach, UnknownLayerRefusesAStreamOnlyWhereNoVolumeAnswers) {
  int volume = 0;
  uni::output_reach r;
  r.unknown = "cannot tell what the FUSE mount at /c/plain (fuse.encfs) is stored on; write the listing elsewhere";
  r.why = r.unknown;
  r.unknown_mounts = {0x2a};
  const struct {
    const char* how;
    uni::file_identities sources;
    uni::reach_use use;
    uni::reach_answer answer;
  } cases[] = {
      {"a volume open elsewhere", sources_of(&volume), uni::reach_use::stream, uni::reach_answer::clear},
      {"no volume open", sources_of(nullptr), uni::reach_use::stream, uni::reach_answer::unknown},
      {"the source read through that mount",
       {[&] {
         uni::file_identity s = file(0x2a, 9);
         s.volume = &volume;
         return s;
       }()},
       uni::reach_use::stream,
       uni::reach_answer::unknown},
      {"a copy made there", sources_of(&volume), uni::reach_use::made, uni::reach_answer::untold},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_EQ(uni::reaches_source(r, c.sources, c.use, why), c.answer) << c.how;
    EXPECT_EQ(why, c.answer == uni::reach_answer::clear ? "" : r.unknown) << c.how;
  }
  r.unlisted = true;
  std::string why;
  EXPECT_EQ(uni::reaches_source(r, sources_of(&volume), uni::reach_use::stream, why), uni::reach_answer::untold);
}

// A stream on a mount only a volume can tell from its own files (FUSE,
// NTFS) waits, before the run's volume opens, whatever the sources named;
// once it is open, or for a run that opens none, it is judged as before.
TEST(OutputReach, StreamOnAMountOfVolumesWaitsForTheVolume) {
  int volume = 0;
  uni::output_reach r;
  r.volume_layer = "it lies on the mount at /c/n (fuseblk), which only the evidence's volume can tell";
  std::string why;
  for (const uni::file_identities& named : {uni::file_identities(), sources_of(nullptr)}) {
    EXPECT_EQ(uni::reaches_source(r, named, uni::reach_use::stream_before_volume, why), uni::reach_answer::unknown);
    EXPECT_EQ(why, r.volume_layer);
    EXPECT_EQ(uni::reaches_source(r, named, uni::reach_use::stream, why), uni::reach_answer::clear);
  }
  EXPECT_EQ(uni::reaches_source(r, sources_of(&volume), uni::reach_use::stream, why), uni::reach_answer::clear);
  uni::output_reach local;
  EXPECT_EQ(uni::reaches_source(local, {}, uni::reach_use::stream_before_volume, why), uni::reach_answer::clear);
  EXPECT_EQ(uni::reaches_source(local, sources_of(nullptr), uni::reach_use::stream_before_volume, why),
            uni::reach_answer::clear);
}

// A set of the evidence's identities that memory cut short may lack what
// stands for a source: every output checked against it is refused, for
// every use, however clear it is of the rest of the set.
TEST(OutputReach, SetMemoryCutShortRefusesEveryOutput) {
  uni::file_identities sources = {file(0x801, 12), file(0x801, 13)};
  sources.back().unsure = true;
  const uni::output_reach clear_of_all;
  for (const uni::reach_use use :
       {uni::reach_use::made, uni::reach_use::existing, uni::reach_use::stream, uni::reach_use::stream_before_volume}) {
    std::string why;
    EXPECT_EQ(uni::reaches_source(clear_of_all, sources, use, why), uni::reach_answer::untold);
    EXPECT_EQ(why, "memory ran out while the evidence's identities were gathered");
    sources.back().unsure = false;
    EXPECT_EQ(uni::reaches_source(clear_of_all, sources, use, why), uni::reach_answer::clear);
    sources.back().unsure = true;
  }
}

}  // namespace
