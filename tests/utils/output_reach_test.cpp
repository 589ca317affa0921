// Identities as the output check compares them: a block device is the disk
// it stands for, whichever node names it or none; a file is its device and
// inode.
#include "utils/output_reach.h"

#include <gtest/gtest.h>

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
  EXPECT_TRUE(uni::present({disk(0x700), disk(0x701)}, disk(0x701)));
  EXPECT_FALSE(uni::present({disk(0x700)}, disk(0x701)));
}

}  // namespace
