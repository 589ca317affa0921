// Where a file system can neither rename without replacing nor make a
// second name (renameat2 answers EINVAL, link EIO, as rclone's mounts do),
// the guarded rename still takes only a free name: a program run with a
// preload that makes a folder answer so renames into it, and leaves a name
// held by a file or a link as it is.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/support/child_process.h"
#include "tests/support/fixture.h"
#include "tests/support/layer_setups.h"

namespace {

using namespace quor_test;

// What the driver prints, run in the folder `dir` that the preload takes
// both calls from.
std::string driver_says(const std::string& dir, const std::string& args) {
  std::string out;
  const std::string cmd = "QUOR_NO_RENAME_DIR=" + shell_word(dir) + " LD_PRELOAD=" +
                          shell_word(QUOR_RENAME_FALLBACK_PRELOAD) + " " + shell_word(QUOR_RENAME_DRIVER) + " " + args;
  if (run_command(cmd + " 2>&1", out) != 0) return "driver failed: " + out;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

bool write_text(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

bool is_link(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

TEST(RenameFallback, TakesOnlyAFreeNameWhereNeitherRenameNorLinkKeepsOne) {
  if (!allocation_failures_throw()) GTEST_SKIP() << "a preload cannot come before the sanitizers' runtime";
  const std::string dir = scratch_dir() + "/no-rename";
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  ASSERT_TRUE(write_text(dir + "/probe-from", "p"));
  // The preload holds: both calls the rename would rather use fail here.
  ASSERT_EQ(driver_says(dir, "probe " + shell_word(dir + "/probe-from") + " " + shell_word(dir + "/probe-to")),
            "EINVAL EIO");
  ASSERT_EQ(::access((dir + "/probe-to").c_str(), F_OK), -1);

  enum class held_by { nothing, file, link };
  struct row {
    const char* name;
    held_by holder;
    const char* said;
  };
  const row rows[] = {
      {"free", held_by::nothing, "renamed"},
      {"file", held_by::file, "taken"},
      {"link", held_by::link, "failed"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    const std::string from = dir + "/" + r.name + ".tmp", to = dir + "/" + r.name + ".bin";
    const std::string data = std::string("copy ") + r.name;
    ASSERT_TRUE(write_text(from, data));
    if (r.holder == held_by::file) {
      ASSERT_TRUE(write_text(to, "held"));
    } else if (r.holder == held_by::link) {
      ASSERT_EQ(::symlink("elsewhere", to.c_str()), 0);
    }
    EXPECT_EQ(driver_says(dir, shell_word(from) + " " + shell_word(to)), r.said);
    if (r.holder == held_by::nothing) {
      EXPECT_EQ(::access(from.c_str(), F_OK), -1);
      EXPECT_EQ(read_file_text(to), data);
      continue;
    }
    // Nothing in the way is replaced, and the file to rename stays.
    EXPECT_EQ(read_file_text(from), data);
    if (r.holder == held_by::file) {
      EXPECT_EQ(read_file_text(to), "held");
    } else {
      EXPECT_TRUE(is_link(to));
    }
  }
}

}  // namespace
