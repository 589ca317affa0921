#include "tests/support/output_rules.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <fstream>

#include "tests/support/child_process.h"
#include "tests/support/fixture.h"

namespace quor_test {
namespace {

// A scratch name for `w`'s files: its description with anything but
// letters and digits made a dash.
std::string scratch_for(const output_writer& w, const std::string& suffix) {
  std::string tag = w.what;
  for (char& c : tag)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '-';
  return scratch_dir() + "/rules-" + tag + suffix;
}

void put_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string md5_of(const std::string& path) {
  std::string out;
  return run_command("md5sum < '" + path + "'", out) == 0 ? out.substr(0, 32) : "";
}

ino_t inode_of(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

void expect_fifo_rules(const output_writer& w) {
  const std::string fifo = scratch_for(w, ".fifo"), err = scratch_for(w, ".err");
  ::unlink(fifo.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << w.what;
  const int unread = exit_status_in_child([&] { return w.write(fifo) ? 1 : 0; }, err);
  EXPECT_EQ(unread, 0) << w.what << (unread == -1 ? ": waited for a reader" : ": not refused");
  EXPECT_NE(read_file_text(err).find("no reader: " + fifo + "\n"), std::string::npos) << w.what;

  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0) << w.what;
  const int read = exit_status_in_child([&] { return w.write(fifo) ? 1 : 0; }, err);
  EXPECT_EQ(read, 1) << w.what << (read == -1 ? ": waited with a reader there" : ": not written");
  EXPECT_EQ(drain(reader), w.bytes) << w.what;
  ::close(reader);
  struct stat st;
  EXPECT_TRUE(::lstat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) << w.what << ": the FIFO was replaced";
}

void expect_new_file_takes_the_mask(const output_writer& w) {
  const std::string fresh = scratch_for(w, ".new"), err = scratch_for(w, ".err");
  ::unlink(fresh.c_str());
  const int made = exit_status_in_child(
      [&] {
        ::umask(027);
        return w.write(fresh) ? 1 : 0;
      },
      err);
  struct stat st;
  if (w.existing == output_writer::overwrites) {
    EXPECT_EQ(made, 0) << w.what << ": written over a file that was not there";
    EXPECT_NE(::lstat(fresh.c_str(), &st), 0) << w.what << ": made a file to write over";
    return;
  }
  ASSERT_EQ(made, 1) << w.what << ": no new file";
  ASSERT_EQ(::stat(fresh.c_str(), &st), 0) << w.what;
  EXPECT_EQ(st.st_mode & 07777, w.permission & ~mode_t(027)) << w.what;
  EXPECT_EQ(read_file_text(fresh), w.bytes) << w.what;
}

void expect_links_written_in_place(const output_writer& w) {
  const std::string file = scratch_for(w, ".file"), hard = scratch_for(w, ".hard"), soft = scratch_for(w, ".soft");
  // Longer than what is written, so that what an emptying left shows.
  const std::string old(w.bytes.size() + 64, 'o');
  std::string after = w.bytes;
  if (w.existing == output_writer::appends) after = old + w.bytes;
  if (w.existing == output_writer::overwrites) after = w.bytes + old.substr(w.bytes.size());
  for (const std::string& name : {file, hard, soft}) ::unlink(name.c_str());
  put_text(file, old);
  ASSERT_EQ(::link(file.c_str(), hard.c_str()), 0) << w.what;
  ASSERT_EQ(::symlink(file.c_str(), soft.c_str()), 0) << w.what;
  const ino_t inode = inode_of(file);
  for (const std::string& name : {hard, soft}) {
    put_text(file, old);
    ASSERT_TRUE(w.write(name)) << w.what << " to " << name;
    EXPECT_EQ(inode_of(file), inode) << w.what << " to " << name << ": a new file took the name";
    EXPECT_EQ(inode_of(hard), inode) << w.what << " to " << name;
    EXPECT_TRUE(read_file_text(file) == after) << w.what << " to " << name;
  }
  struct stat st;
  EXPECT_TRUE(::lstat(soft.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) << w.what << ": the link was replaced";
}

// Told of no evidence, a general writer writes a file that is there as its
// mode says whatever the file holds (a container's head, a NUL), its own
// output of a run before among it, and says nothing of it.
void expect_binary_written_as_any(const output_writer& w) {
  const std::string file = scratch_for(w, ".binary");
  // Longer than what is written, so that what an emptying left shows.
  const std::string rest(w.bytes.size() + 64, 'o');
  const struct {
    const char* what;
    std::string old;
  } held[] = {{"an E01 header", std::string("EVF\x09\x0D\x0A\xFF\x00\x01\x01\x00", 11) + rest},
              {"a NUL", std::string("notes\0", 6) + rest},
              {"its own output", w.bytes + rest}};
  for (const auto& h : held) {
    std::string after = w.bytes;
    if (w.existing == output_writer::appends) after = h.old + w.bytes;
    if (w.existing == output_writer::overwrites) after = w.bytes + h.old.substr(w.bytes.size());
    put_text(file, h.old);
    testing::internal::CaptureStderr();
    const bool written = w.write(file);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << w.what << " over " << h.what;
    EXPECT_TRUE(written) << w.what << " over " << h.what;
    EXPECT_TRUE(read_file_text(file) == after) << w.what << " over " << h.what;
  }
}

}  // namespace

std::string drain(int reader) {
  std::string got;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(reader, buffer, sizeof buffer)) > 0) got.append(buffer, static_cast<size_t>(n));
  return got;
}

mode_t process_mask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

void expect_output_rules(const output_writer& w) {
  expect_fifo_rules(w);
  expect_new_file_takes_the_mask(w);
  expect_links_written_in_place(w);
  expect_binary_written_as_any(w);
}

void expect_source_refused(const output_writer& w, const std::string& source) {
  const std::string hard = scratch_for(w, ".source-hard"), soft = scratch_for(w, ".source-soft");
  ::unlink(hard.c_str());
  ::unlink(soft.c_str());
  ASSERT_EQ(::link(source.c_str(), hard.c_str()), 0) << w.what;
  ASSERT_EQ(::symlink(source.c_str(), soft.c_str()), 0) << w.what;
  const std::string before = md5_of(source);
  ASSERT_EQ(before.size(), 32u) << w.what;
  for (const std::string& name : {source, hard, soft}) {
    EXPECT_FALSE(w.write(name)) << w.what << " to " << name;
    EXPECT_EQ(md5_of(source), before) << w.what << " to " << name;
  }
  ::unlink(hard.c_str());
  ::unlink(soft.c_str());
}

}  // namespace quor_test
