// Host file-system operations on a scratch folder.
#include "disk/fs_ops.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "tests/support/child_process.h"
#include "tests/support/fixture.h"
#include "tests/support/output_rules.h"
#include "utils/utf_convert.h"

namespace {

std::string scratch(const std::string& name) { return quor_test::scratch_dir() + "/fs_ops/" + name; }

}  // namespace

TEST(FsOps, MakeDirsCreatesEachComponentAndAcceptsExistingOnes) {
  ASSERT_TRUE(make_dirs(scratch("a/b/c")));
  EXPECT_TRUE(path_exists(scratch("a/b/c")));
  EXPECT_TRUE(make_dirs(scratch("a/b/c")));
  EXPECT_TRUE(make_dirs(scratch("a/d/")));
  EXPECT_TRUE(path_exists(scratch("a/d")));
  EXPECT_TRUE(make_dir(scratch("a")));
  EXPECT_FALSE(make_dir(""));
  EXPECT_FALSE(make_dirs(""));
  EXPECT_TRUE(make_dirs_w(utf8_to_wstring(scratch("w/ü"))));
  EXPECT_TRUE(path_exists(scratch("w/ü")));
  // A component that is a file cannot hold a directory.
  ASSERT_TRUE(write_file(scratch("file").c_str(), "x", 1));
  EXPECT_FALSE(make_dirs(scratch("file/sub")));
}

mode_t mode_of(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : static_cast<mode_t>(-1);
}

TEST(FsOps, FoldersAreMadeOpenToAllWithoutChangingTheProcessMask) {
  const mode_t saved = umask(027);
  ASSERT_TRUE(make_dirs(scratch("mask")));
  // An existing folder keeps its own mode.
  ASSERT_EQ(::chmod(scratch("mask").c_str(), 0750), 0);
  const struct {
    const char* what;
    bool (*make)(const std::string&);
    const char* made;  // every folder the call creates
  } cases[] = {
      {"make_dir", [](const std::string& p) { return make_dir(p); }, "one"},
      {"make_dirs", [](const std::string& p) { return make_dirs(p); }, "p/q/r"},
      {"make_dir_w", [](const std::string& p) { return make_dir_w(utf8_to_wstring(p)); }, "\xC3\xBC"},
      {"make_dirs_w", [](const std::string& p) { return make_dirs_w(utf8_to_wstring(p)); }, "w/x"},
      {"write_file", [](const std::string& p) { return write_file((p + "/f").c_str(), "x", 1); }, "wf/g"},
  };
  for (const auto& c : cases) {
    const std::string path = scratch("mask/") + c.made;
    ASSERT_TRUE(c.make(path)) << c.what;
    EXPECT_EQ(quor_test::process_mask(), 027u) << c.what << " must leave the process's mask as it was";
    for (std::string folder = path; folder != scratch("mask"); folder.erase(folder.rfind('/')))
      EXPECT_EQ(mode_of(folder), 0777u) << c.what << " " << folder;
    // What the process creates afterwards gets the mode its mask gives.
    const std::string after = path + "/after.txt";
    std::ofstream(after) << "x";
    EXPECT_EQ(mode_of(after), 0640u) << c.what;
  }
  EXPECT_EQ(mode_of(scratch("mask")), 0750u);
  umask(saved);
}

TEST(FsOps, ReadFileDeliversTheFirstBytesAndReportsFailures) {
  const std::string path = scratch("five.bin");
  ASSERT_TRUE(write_file(path.c_str(), "12345", 5));
  std::vector<byte> out;
  ASSERT_TRUE(read_file(out, path, 0x200000));
  EXPECT_EQ(std::string(out.begin(), out.end()), "12345");
  ASSERT_TRUE(read_file(out, path, 2));
  EXPECT_EQ(std::string(out.begin(), out.end()), "12");
  ASSERT_TRUE(write_file(scratch("empty.bin").c_str(), nullptr, 0));
  ASSERT_TRUE(read_file(out, scratch("empty.bin"), 100));
  EXPECT_TRUE(out.empty());
  out.assign(3, 1);
  EXPECT_FALSE(read_file(out, scratch("missing.bin"), 100));
  EXPECT_TRUE(out.empty());
}

TEST(FsOps, WriteFileCreatesParentsAndReportsFailures) {
  const std::string path = scratch("deep/er/out.txt");
  ASSERT_TRUE(write_file(path.c_str(), "data", 4));
  std::vector<byte> back;
  ASSERT_TRUE(read_file(back, path, 100));
  EXPECT_EQ(std::string(back.begin(), back.end()), "data");
  EXPECT_FALSE(write_file(scratch("deep/er/out.txt/child").c_str(), "x", 1));
  EXPECT_FALSE(write_file("/proc/quor-cannot-create-this", "x", 1));
  if (path_exists("/dev/full")) {
    EXPECT_FALSE(write_file("/dev/full", "x", 1));  // the close reports the full device
  }
  EXPECT_FALSE(write_file(nullptr, "x", 1));
}

// A FIFO is written like any other output: with no reader both forms
// return false at once instead of waiting; a reader gets the bytes.
TEST(FsOps, WriteFileToAFifoWaitsForNoReader) {
  const std::string fifo = scratch("fifo"), err = scratch("fifo.err");
  ASSERT_TRUE(make_dirs(scratch("")));
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::wstring wide_fifo(fifo.begin(), fifo.end());
  const std::function<bool()> forms[] = {[&] { return write_file(fifo.c_str(), "narrow", 6); },
                                         [&] { return write_file_w(wide_fifo.c_str(), "wide", 4); }};
  std::string delivered;
  for (const auto& write : forms) {
    const int unread = quor_test::exit_status_in_child([&] { return write() ? 1 : 0; }, err);
    EXPECT_EQ(unread, 0) << (unread == -1 ? "waited for a reader" : "not refused");
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(quor_test::exit_status_in_child([&] { return write() ? 1 : 0; }, err), 1);
    char buffer[16];
    const ssize_t n = ::read(reader, buffer, sizeof buffer);
    if (n > 0) delivered.append(buffer, static_cast<size_t>(n));
    ::close(reader);
  }
  EXPECT_EQ(delivered, "narrowwide");
}

// The stdio opens for writing ("w+") and the whole-file writers all go
// through the guarded opener; "w+" reads back what it wrote.
TEST(FsOps, WritersKeepTheOutputRules) {
  ASSERT_TRUE(make_dirs(scratch("")));
  const std::string text = "through stdio";
  const auto stdio = [text](bool write, bool write_too, bool binary) {
    return [=](const std::string& target) {
      FILE* f = nullptr;
      const std::wstring wide = utf8_to_wstring(target);
      const bool opened = write && write_too ? open_file_for_write_w(f, wide, binary)
                                             : open_file_w(f, wide, write, false, write_too, binary);
      return opened && std::fputs(text.c_str(), f) >= 0 && std::fclose(f) == 0;
    };
  };
  const quor_test::output_writer writers[] = {
      {"open_file_w write", stdio(true, false, false), text},
      {"open_file_w write_too", stdio(false, true, true), text},
      {"open_file_for_write_w", stdio(true, true, false), text},
      {"write_file", [text](const std::string& t) { return write_file(t.c_str(), text.data(), 13); }, text},
      {"write_file_w",
       [text](const std::string& t) { return write_file_w(utf8_to_wstring(t).c_str(), text.data(), 13); }, text},
  };
  for (const auto& w : writers) quor_test::expect_output_rules(w);

  FILE* f = nullptr;
  ASSERT_TRUE(open_file_for_write_w(f, utf8_to_wstring(scratch("w-plus.txt")), true));
  char back[16] = {};
  EXPECT_GE(std::fputs(text.c_str(), f), 0);
  std::rewind(f);
  EXPECT_EQ(std::fread(back, 1, sizeof back, f), text.size());
  std::fclose(f);
  EXPECT_EQ(std::string(back), text);
}

TEST(FsOps, StatusAndTimes) {
  const std::string path = scratch("epoch.txt");
  ASSERT_TRUE(write_file(path.c_str(), "abc", 3));
  struct utimbuf times = {0, 0};
  ASSERT_EQ(utime(path.c_str(), &times), 0);
  uint64 size = 0;
  uint16 mode = 0;
  uint64 created = 0, altered = 1, accessed = 1;
  ASSERT_TRUE(stat_times(path, &size, &mode, &created, &altered, &accessed));
  EXPECT_EQ(size, 3u);
  EXPECT_TRUE(S_ISREG(mode));
  EXPECT_EQ(altered, 116444736000000000ULL);
  EXPECT_EQ(accessed, 116444736000000000ULL);
  ASSERT_TRUE(make_dirs(scratch("st")));
  EXPECT_TRUE(stat_info(scratch("st/"), &size, &mode, nullptr, nullptr, nullptr));
  EXPECT_TRUE(S_ISDIR(mode));
  EXPECT_FALSE(stat_info("/", &size, &mode, nullptr, nullptr, nullptr));
  EXPECT_FALSE(stat_info_c(nullptr, &size, &mode, nullptr, nullptr, nullptr));
  EXPECT_EQ(unix_seconds_to_filetime(-1), 116444736000000000ULL - 10000000ULL);
}

TEST(FsOps, StreamsPathsAndOrdering) {
  FILE* f = nullptr;
  const std::wstring wide = utf8_to_wstring(quor_test::scratch_dir() + "/fs-ops-stream.txt");
  ASSERT_TRUE(open_file_for_write_w(f, wide, true));
  fputs("hello", f);
  fclose(f);
  ASSERT_TRUE(open_file_for_read_w(f, wide, true));
  char buf[8] = {};
  EXPECT_EQ(fread(buf, 1, 8, f), 5u);
  fclose(f);
  EXPECT_TRUE(remove_file_w(wide));
  EXPECT_FALSE(open_file_for_read_w(f, wide, false));
  EXPECT_EQ(f, nullptr);

  std::stringstream ss("0123456789");
  ss.seekg(3);
  EXPECT_EQ(istream_size(ss), 10);
  EXPECT_EQ(ss.tellg(), 3);
  EXPECT_EQ(own_executable_path().substr(0, 1), "/");
  EXPECT_TRUE(string_less("ab", "abc"));
  EXPECT_TRUE(string_less("a\x01", "a\xff"));
  EXPECT_FALSE(string_less("b", "abc"));
}

TEST(FsOps, WideTwinsRenamesAndStreamSizes) {
  ASSERT_TRUE(make_dirs(scratch("wide")));
  const std::string dir = scratch("wide/\xC3\xBC");  // "ü"
  EXPECT_TRUE(make_dir_w(utf8_to_wstring(dir)));
  EXPECT_TRUE(make_dir_w(utf8_to_wstring(dir)));  // already there
  EXPECT_TRUE(path_exists(dir));
  EXPECT_FALSE(make_dir_w(L""));
  EXPECT_FALSE(make_dir_w(utf8_to_wstring(scratch("wide/none/deeper"))));

  const std::wstring file = utf8_to_wstring(dir + "/\xE5\x90\x8D.bin");  // "名"
  ASSERT_TRUE(write_file_w(file.c_str(), "wide!", 5));
  std::vector<byte> back(2, 7);
  ASSERT_TRUE(read_file_w(back, file, 4));
  EXPECT_EQ(std::string(back.begin(), back.end()), "wide");
  uint64 size = 0, created = 0, altered = 0, accessed = 0;
  uint16 mode = 0;
  ASSERT_TRUE(stat_info_w(file, &size, &mode, &created, &altered, &accessed));
  EXPECT_TRUE(size == 5 && S_ISREG(mode) && altered > 0);
  EXPECT_FALSE(stat_info_w(L"", &size, &mode, nullptr, nullptr, nullptr));
  EXPECT_FALSE(write_file_w(nullptr, "x", 1));
  EXPECT_FALSE(read_file_w(back, utf8_to_wstring(dir + "/missing"), 4));
  EXPECT_TRUE(back.empty());

  // "w+" for either write flag (truncating), "rb"/"r" otherwise.
  FILE* f = reinterpret_cast<FILE*>(&size);
  ASSERT_TRUE(open_file_w(f, file, false, false, false, true));
  char buf[8] = {};
  EXPECT_EQ(fread(buf, 1, 8, f), 5u);
  fclose(f);
  ASSERT_TRUE(open_file_w(f, file, false, true, true, false));
  fputs("ab", f);
  fclose(f);
  EXPECT_TRUE(stat_info_w(file, &size, nullptr, nullptr, nullptr, nullptr) && size == 2);
  EXPECT_FALSE(open_file_w(f, L"", true, false, false, true));
  EXPECT_EQ(f, nullptr);

  const std::string from = dir + "/\xE5\x90\x8D.bin", to = scratch("wide/moved.bin"), again = scratch("wide/again.bin");
  EXPECT_TRUE(rename_file_w(file, utf8_to_wstring(to)));
  EXPECT_FALSE(path_exists(from));
  EXPECT_TRUE(rename_file(to, again));
  EXPECT_FALSE(rename_file(to, again));
  EXPECT_FALSE(rename_file_w(utf8_to_wstring(to), file));
  EXPECT_TRUE(remove_file(again));
  EXPECT_FALSE(remove_file(again));
  EXPECT_FALSE(path_exists(again));

  std::ostringstream os;
  os << "0123456789";
  os.seekp(4);
  EXPECT_EQ(ostream_size(os), 10);
  os << "x";
  EXPECT_EQ(os.str(), "0123x56789");
  std::ofstream closed;
  EXPECT_EQ(ostream_size(closed), -1);

  EXPECT_TRUE(string_equal("abc", "abc") && string_equal("", ""));
  EXPECT_FALSE(string_equal("abc", "abd") || string_equal("abc", "ab") || string_equal("ABC", "abc"));
  EXPECT_FALSE(string_equal(std::string("a\0b", 3), std::string("a\0c", 3)));
}
