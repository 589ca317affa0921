// A file a view's server holds because a file was opened through that view
// is one the view shows, not what the view is stored in: the output itself,
// or the run's source read through it. Anything else a server holds (for
// another view's read, for a writer, a container with no source shown as
// it) stays a store, and the source's own file, by any way, stays the source.
#include <gtest/gtest.h>

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

}  // namespace
