// The second check of quor's outputs, made once the source is open: standard
// output or error on a file the run holds open is refused by that file's
// identity, whatever name led to it (the image, a VMDK extent, an extracted
// $MFT, an index-record file). Each check runs in a child whose standard
// output and error are set up for it.
#include "app/evidence_guard.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "app/indx_file.h"
#include "app/source_open.h"
#include "app/user_ctx.h"
#include "tests/app/quor_run.h"
#include "tests/support/child_process.h"
#include "utils/utf_convert.h"

namespace {

using namespace quor_test;

// `body`'s result in a child whose standard output appends to `out` and
// whose standard error goes to `err` (or to `out` too, with `both`).
int with_outputs(const std::string& out, const std::string& err, bool both, const std::function<int()>& body) {
  return exit_status_in_child(
      [&]() {
        const int fd = ::open(out.c_str(), O_WRONLY | O_APPEND);
        if (fd < 0) return 9;
        ::dup2(fd, STDOUT_FILENO);
        if (both) ::dup2(fd, STDERR_FILENO);
        return body();
      },
      err);
}

TEST(EvidenceGuard, OutputsOnTheOpenSourceAreRefused) {
  const std::string image = copy_fixture("default.img", "guard.img");
  const std::string base = copy_fixture("vmdk-base.vmdk", "guard-base.vmdk");
  const std::string child = copy_fixture("vmdk-child.vmdk", "guard-child.vmdk");
  ASSERT_FALSE(image.empty() || base.empty() || child.empty());
  const std::string other = scratch_dir() + "/guard.out", err = scratch_dir() + "/guard.err";
  const struct {
    std::string how;
    std::function<void(user_ctx&)> set;
    std::string held, named;
  } sources[] = {
      {"image", [&](user_ctx& c) { c.image = utf8_to_wstring(image); }, image, image},
      {"VMDK extent", [&](user_ctx& c) { c.vmdk_files = {utf8_to_wstring(child), utf8_to_wstring(base)}; }, base,
       "vmdk files: '" + child + "'; '" + base + "'"},
      {"extracted $MFT", [&](user_ctx& c) { c.mftfile = utf8_to_wstring(image); }, image, image},
  };
  for (const auto& s : sources) {
    user_ctx ctx;
    s.set(ctx);
    ASSERT_TRUE(initialize_mft(ctx)) << s.how;
    const std::string before = read_whole(s.held);
    std::ofstream(other, std::ios::trunc).flush();
    // Standard output on the file held, then standard error on it (the
    // refusal then said on standard output), then both: refused each time.
    EXPECT_EQ(with_outputs(s.held, err, false, [&] { return outputs_on_open_source(ctx) ? 1 : 0; }), 1) << s.how;
    EXPECT_EQ(read_whole(err), "refused to write to the evidence: " + s.named + "\n") << s.how;
    EXPECT_EQ(with_outputs(other, err, false, [&] {
                ::dup2(::open(s.held.c_str(), O_WRONLY | O_APPEND), STDERR_FILENO);
                return outputs_on_open_source(ctx) ? 1 : 0;
              }),
              1)
        << s.how;
    EXPECT_EQ(read_whole(other), "refused to write to the evidence: " + s.named + "\n") << s.how;
    EXPECT_EQ(with_outputs(s.held, err, true, [&] { return outputs_on_open_source(ctx) ? 1 : 0; }), 1) << s.how;
    EXPECT_EQ(read_whole(s.held), before) << s.how;
    // Any other file takes the run, silently.
    EXPECT_EQ(with_outputs(other, err, false, [&] { return outputs_on_open_source(ctx) ? 1 : 0; }), 0) << s.how;
    EXPECT_EQ(read_whole(err), "") << s.how;
  }

  // Before anything is open, the same by the name the parser makes of the
  // image's, blanks and all.
  std::string arg0 = "quor", arg1 = "-image", arg2 = image + " ";
  char* argv[] = {&arg0[0], &arg1[0], &arg2[0]};
  EXPECT_EQ(with_outputs(image, err, false, [&] { return outputs_on_named_evidence(3, argv) ? 1 : 0; }), 1);
  EXPECT_EQ(read_whole(err), "refused to write to the evidence: " + image + "\n");
  EXPECT_EQ(with_outputs(other, err, false, [&] { return outputs_on_named_evidence(3, argv) ? 1 : 0; }), 0);

  // The index-record file is checked once open, before it is read.
  user_ctx ctx;
  ctx.indxfile = image;
  const std::string before = read_whole(image);
  EXPECT_EQ(with_outputs(image, err, false, [&] { return static_cast<int>(analyze_indx_file(ctx)); }),
            static_cast<int>(indx_file_refused));
  EXPECT_EQ(read_whole(err), "refused to write to the evidence: " + image + "\n");
  EXPECT_EQ(read_whole(image), before);
  const std::string held = scratch_dir() + "/guard.i30";
  std::ofstream(held, std::ios::binary) << std::string(4096, 'q');
  ctx.indxfile = held;
  EXPECT_EQ(with_outputs(other, err, false, [&] { return static_cast<int>(analyze_indx_file(ctx)); }),
            static_cast<int>(indx_file_unparsable));
}

}  // namespace
