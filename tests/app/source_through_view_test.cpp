// A case folder that holds the image, seen through a pass-through view
// (a mergerfs pool, bindfs, fuse-overlayfs, unionfs), read through that
// view and written beside it: the view's server holds the image because the
// run opened it there, and the listing because the shell did, and neither
// is what the view is stored in. Every stream is written byte for byte as
// onto the local disk; the image's own path through the view is refused;
// so is a view whose server holds the image for another reader (another
// view than the run's, or a writer through the run's own).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/support/layer_setups.h"

namespace {

using namespace quor_test;

// The ways an examiner sends a run's streams to a file.
const std::vector<stream_form> kForms = {
    {"appended to a listing", ">>@", "case.csv", "earlier listing\n"},
    {"a new listing", ">@", "new.csv", ""},
    {"standard error appended to a log", "2>>@", "run.log", "earlier log\n"},
    {"both into one new file", ">@ 2>&1", "x.txt", ""},
};

// The case folder dir/d: ev/links.img, with a second name ev/alias.img (a
// view may number each name apart), a VMDK chain in ev and an empty sub/.
std::string case_folder(const std::string& name) {
  const std::string d = folder(name + "/d");
  folder(name + "/d/ev");
  folder(name + "/d/sub");
  for (const char* f : {"links.img", "vmdk-child.vmdk", "vmdk-base.vmdk"})
    if (copy_fixture(f, name + "/d/ev/" + std::string(f)).empty()) return "";
  return ::link((d + "/ev/links.img").c_str(), (d + "/ev/alias.img").c_str()) == 0 ? d : "";
}

// A process of `stack` that holds `file` open by the shell's `opens` ("3<@")
// as long as the stack stands; false when it never opened it.
bool hold_open(layer_stack& stack, const std::string& file, const std::string& opens) {
  std::string open_it = opens;
  for (size_t at = open_it.find('@'); at != std::string::npos; at = open_it.find('@'))
    open_it.replace(at, 1, quote(file));
  const pid_t pid = stack.start("sh -c " + shell_word(open_it + "; exec sleep 300"), file + ".holder.log");
  const std::string last = "/proc/" + std::to_string(pid) + "/fd/5";
  struct stat st;
  return stack.wait_for([&] { return ::stat(last.c_str(), &st) == 0; }, "a holder of " + file);
}

// Root's views of the case folder, each open to every user, the run reading
// the image (or the VMDK chain) through the view and writing into it: at its
// top and in a folder below, every stream form written as onto the local
// disk. Onto the image's own path through the view, refused.
TEST(SourceThroughView, StreamsBesideTheSourceInTheViewAreWritten) {
  const std::string dir = folder("source-view"), local = folder("source-view/local"), d = case_folder("source-view");
  ASSERT_FALSE(d.empty());
  const struct {
    std::string kind, options;
  } views[] = {
      {"mergerfs fsname", "-o allow_other"},
      {"mergerfs", "-o allow_other,fsname=pool,category.create=ff"},
      {"bindfs", "-o allow_other"},
      {"fuse-overlayfs", "-o allow_other"},
      {"unionfs", "-o allow_other"},
  };
  std::string skipped;
  int index = 0;
  for (const auto& v : views) {
    const std::string at = dir + "/v" + std::to_string(index++);
    pass_through view(v.kind, d, at, false, v.options);
    if (!view.ok()) {
      skipped += " " + v.kind + ": " + view.why();
      continue;
    }
    const quor_call listing = {v.kind + ", the image", dir, {"-image", at + "/ev/links.img", "-all", "-csv"}, ""},
                    chain = {v.kind + ", the VMDK chain",
                             dir,
                             {"-vmdk", at + "/ev/vmdk-child.vmdk", "-vmdk", at + "/ev/vmdk-base.vmdk", "-all"},
                             ""};
    for (const std::string& into : {at, at + "/sub"})
      for (const stream_form& f : kForms) expect_written(listing, f, into, local + "/" + f.name);
    expect_written(chain, kForms[1], at, local + "/" + kForms[1].name);
    const std::string image = at + "/ev/links.img", alias = at + "/ev/alias.img";
    expect_refused({{v.kind + ": appended to the image", dir, listing.args, ">>" + quote(image)},
                    {v.kind + ": standard error appended to it", dir, listing.args, "2>>" + quote(image)},
                    {v.kind + ": written in place on it", dir, listing.args, "1<>" + quote(image)},
                    {v.kind + ": appended to its second name", dir, listing.args, ">>" + quote(alias)},
                    {v.kind + ": written in place there", dir, listing.args, "1<>" + quote(alias)}},
                   {d + "/ev/links.img"}, {}, "it is the evidence " + image);
  }
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// A file a server holds for another reader or writer is what its view may be
// stored in. With a reader of the image through fuse-overlayfs, a run reading
// it through a mergerfs pool of the same folder may not write through
// fuse-overlayfs (which it may without that reader), nor through
// fuse-overlayfs into a file the pool's server holds for a writer; with a
// writer of the image through fuse-overlayfs, a run reading through
// fuse-overlayfs may not either, even where the server holds the run's read
// before that writer's (its slots in the server's descriptors freed first).
TEST(SourceThroughView, WhatAViewHoldsForAnotherIsItsStore) {
  const std::string dir = folder("source-held"), local = folder("source-held/local"), d = case_folder("source-held");
  ASSERT_FALSE(d.empty());
  pass_through pool("mergerfs fsname", d, dir + "/p");
  pass_through overlay("fuse-overlayfs", d, dir + "/o");
  if (!pool.ok() || !overlay.ok()) GTEST_SKIP() << pool.why() << overlay.why();
  const std::vector<std::string> through_pool = {"-image", "p/ev/links.img", "-all", "-csv"},
                                 through_overlay = {"-image", "o/ev/links.img", "-all", "-csv"};
  expect_written({"read through the pool, written through the overlay", dir, through_pool, ""}, kForms[1],
                 overlay.at, local + "/" + kForms[1].name);
  const std::string image = overlay.at + "/ev/links.img", kept = d + "/ev/links.img";
  {
    layer_stack reader;
    ASSERT_TRUE(hold_open(reader, image, "exec 5<@")) << reader.why();
    expect_refused({{"another reader through the overlay", dir, through_pool, ">" + quote(overlay.at + "/x.csv")}},
                   {kept}, {}, "it is stored in the evidence p/ev/links.img through the FUSE mount at " + overlay.at);
  }
  {
    layer_stack writer;
    ASSERT_TRUE(hold_open(writer, pool.at + "/x.csv", "exec 5>>@")) << writer.why();
    expect_refused({{"a writer through the pool", dir, through_pool, ">" + quote(overlay.at + "/x.csv")}}, {kept}, {},
                   "it is what the evidence p/ev/links.img is stored on through the view at " + overlay.at);
  }
  {
    layer_stack writer;
    ASSERT_TRUE(hold_open(writer, image, "exec 3<@ 4<@ 6<@; exec 5<>@; exec 3<&- 4<&- 6<&-")) << writer.why();
    expect_refused({{"a writer through the overlay", dir, through_overlay, ">" + quote(overlay.at + "/x.csv")}}, {kept},
                   {}, "it is stored in the evidence o/ev/links.img through the FUSE mount at " + overlay.at);
  }
}

// The examiner's own bindfs of their case folder (root cannot reach it):
// their listing and log written there as onto their local disk.
TEST(SourceThroughView, StreamsIntoTheExaminersOwnBindfsAreWritten) {
  if (!have_program("setpriv") || !have_program("bindfs")) GTEST_SKIP() << "setpriv or bindfs not installed";
  const std::string dir = folder("own-view"), d = case_folder("own-view"), local = folder("own-view/local");
  ASSERT_FALSE(d.empty());
  open_to_nobody({dir});
  std::string ignored;
  ASSERT_EQ(run_command("chown -R nobody:nogroup " + quote(d) + " " + quote(local), ignored), 0);
  // Root cannot even look at it: mounted and unmounted by hand.
  const std::string at = dir + "/b";
  ::mkdir(at.c_str(), 0755);
  ASSERT_EQ(::chown(at.c_str(), 65534, 65534), 0);
  layer_stack view;
  if (!view.step(as_nobody() + "bindfs --no-allow-other " + quote(d) + " " + quote(at))) GTEST_SKIP() << view.why();
  view.on_undo([at] {
    std::string ignored;
    run_command("umount " + quote(at), ignored);
  });
  const std::vector<std::string> args = {"-image", "b/ev/links.img", "-all", "-csv"};
  for (const stream_form& f : {kForms[1], kForms[2]}) {
    // Sent by nobody's own shell: root's is kept out of the view.
    const auto call = [&](const std::string& file) {
      const std::string sends = "exec \"$@\" " + with_file(f.form, file);
      return quor_call{f.how, dir, args, "", as_nobody() + "sh -c " + shell_word(sends) + " sh "};
    };
    const std::string shown = d + "/" + f.name, reference = local + "/" + f.name;
    std::ofstream(shown) << f.before;
    std::ofstream(reference) << f.before;
    ASSERT_EQ(run_command("chown nobody:nogroup " + quote(shown) + " " + quote(reference), ignored), 0);
    std::string said, said_locally;
    EXPECT_EQ(run_call(call(reference), said_locally), 0) << f.how << ": " << said_locally.substr(0, 300);
    EXPECT_EQ(run_call(call(at + "/" + f.name), said), 0) << f.how << ": " << said.substr(0, 300);
    const std::string got = read_whole(shown), want = read_whole(reference);
    EXPECT_GT(want.size(), f.before.size()) << f.how << ": the local run wrote nothing";
    EXPECT_EQ(first_difference(comparable(got), comparable(want)), "") << f.how;
  }
}

}  // namespace
