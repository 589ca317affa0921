// A file a view's server holds because a file was opened through that view
// is one the view shows, not what the view is stored in: the output itself,
// or the run's source read through it. Anything else a server holds (for
// another view's read, for a writer, a container with no source shown as
// it) stays a store; the source's own file, and an image it is stored in,
// stay so by every name.
#include <fcntl.h>
#include <gtest/gtest.h>

#include "tests/support/layer_setups.h"
#include "utils/output_reach.h"

namespace {

const uint64 kView = 0x2a, kOther = 0x2b;

// The file `inode` of the local disk, seen through (or held by) `view`.
uni::file_identity seen(uint64 inode, uint64 view, bool holder = false, bool container = false) {
  uni::file_identity id;
  id.device = 0x801;
  id.inode = inode;
  id.view = view;
  id.holder = holder;
  id.container = container;
  return id;
}

TEST(OutputReachViews, WhatAViewHoldsForAFileOpenedThroughItIsNoStore) {
  // An output written through the view: its file there (20), and the image
  // (10) its server holds, only to read unless `written`.
  const auto output = [](bool written) {
    uni::output_reach r;
    r.self = {seen(1, 0), seen(20, kView)};
    r.under = {seen(10, kView, false, !written)};
    return r;
  };
  const struct {
    const char* how;
    bool written;
    uni::file_identities sources;
    uni::reach_answer answer;
  } cases[] = {
      {"the source read through the view", false, {seen(10, kView)}, uni::reach_answer::clear},
      {"the source read through the view, a holder of it too", false,
       {seen(10, kView), seen(10, kView, true, true)}, uni::reach_answer::clear},
      {"the source read through the view, held to write too", true, {seen(10, kView)}, uni::reach_answer::source},
      {"the source read through another view", false, {seen(10, kOther)}, uni::reach_answer::source},
      {"the source read by its own name", false, {seen(10, 0)}, uni::reach_answer::source},
      {"a container the view's server holds, shown as no source", false,
       {seen(30, kView), seen(10, kView, true, true)}, uni::reach_answer::source},
      {"the output's own file, held by the source's view", false,
       {seen(30, kView), seen(20, kView, true)}, uni::reach_answer::clear},
      {"the output's own file, held by another view", false,
       {seen(30, kView), seen(20, kOther, true)}, uni::reach_answer::source},
      {"the output's own file, the source itself through the view", false, {seen(20, kView)},
       uni::reach_answer::source},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_EQ(uni::reaches_source(output(c.written), c.sources, uni::reach_use::made, why), c.answer) << c.how;
  }
}

// An NTFS image in a folder seen through a mergerfs pool, mounted by ntfs-3g
// through the pool, the source a file of its volume: the image is what the
// source is stored in by each of its names through the pool, the pool
// numbering each name apart and its server holding the image for ntfs-3g.
TEST(OutputReachViews, AnImageTheSourceIsStoredInThroughAViewIsItsStoreByEveryName) {
  using namespace quor_test;
  const std::string dir = folder("view-store"), d = folder("view-store/d"), outer = d + "/outer.img";
  const std::string inner = fixture("links.img");
  layer_stack setup;
  if (!setup.need({"mkntfs", "ntfs-3g", "mergerfs"}) || inner.empty() ||
      !setup.step("truncate -s 24M " + quote(outer) + " && mkntfs -q -F -f " + quote(outer)))
    GTEST_SKIP() << setup.why();
  {
    layer_stack first;
    ASSERT_TRUE(mount_ntfs(first, outer, dir + "/n0") &&
                first.step("cp " + quote(inner) + " " + quote(dir + "/n0/links.img")))
        << first.why();
  }
  ASSERT_TRUE(wait_until_unheld(outer));
  ASSERT_EQ(::link(outer.c_str(), (d + "/alias.img").c_str()), 0);
  pass_through pool("mergerfs fsname", d, dir + "/p");
  layer_stack volume;
  if (!pool.ok() || !mount_ntfs(volume, pool.at + "/outer.img", dir + "/n")) GTEST_SKIP() << pool.why() << volume.why();
  const uni::held_descriptor source(::open((dir + "/n/links.img").c_str(), O_RDONLY | O_CLOEXEC));
  uni::file_identities sources;
  ASSERT_GE(source.fd, 0);
  ASSERT_TRUE(uni::identities_of_source(source.fd, sources));
  for (const std::string name : {"outer.img", "alias.img"}) {
    const uni::held_descriptor output(::open((pool.at + "/" + name).c_str(), O_RDONLY | O_CLOEXEC));
    std::string why;
    ASSERT_GE(output.fd, 0) << name;
    EXPECT_EQ(uni::descriptor_reach(output.fd, sources, why), uni::reach_answer::source) << name;
    EXPECT_NE(why.find("it is what the evidence"), std::string::npos) << name << ": " << why;
  }
}

}  // namespace
