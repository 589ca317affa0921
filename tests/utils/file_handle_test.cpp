#include "utils/file_handle.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "tests/support/fixture.h"
#include "tests/support/output_rules.h"
#include "utils/utf16le.h"
#include "utils/utf_convert.h"

namespace {

std::string scratch(const std::string& name) { return quor_test::scratch_dir() + "/" + name; }

void write_file(const std::string& path, const std::string& bytes) {
  uni::file_handle h(path, true, true);
  ASSERT_TRUE(h.is_open());
  ASSERT_TRUE(h.append(bytes.data(), static_cast<uint32>(bytes.size())));
}

std::string ten_byte_file() {
  const std::string path = scratch("ten.bin");
  write_file(path, "0123456789");
  return path;
}

TEST(FileHandle, ReadsAreClampedToTheCachedSize) {
  const std::string path = ten_byte_file();
  uni::file_handle h(utf8_to_wstring(path), false, true);
  ASSERT_TRUE(h.is_open());
  EXPECT_EQ(h.cached_size(), 10u);
  EXPECT_EQ(h.current_size(), 10);

  char buf[16];
  struct Case {
    uint64 offset;
    bool ok;
    uint32 got;
    const char* bytes;
  } cases[] = {{4, true, 6, "456789"}, {10, true, 0, ""}, {11, false, 16, ""}, {0, true, 10, "0123456789"}};
  for (const Case& c : cases) {
    uint32 len = 16;
    std::memset(buf, 0, sizeof buf);
    EXPECT_EQ(h.read_at(buf, len, c.offset), c.ok) << c.offset;
    EXPECT_EQ(len, c.got) << c.offset;
    EXPECT_EQ(std::string(buf, c.ok ? len : 0), c.bytes);
  }

  std::vector<byte> v{9, 9};
  EXPECT_TRUE(h.read_bytes_at(v, 16, 4));
  EXPECT_EQ(std::string(v.begin(), v.end()), "456789");
  EXPECT_FALSE(h.read_bytes_at(v, 16, 10));
  EXPECT_TRUE(v.empty());

  EXPECT_EQ(h.seek_set(4), 4);
  uint32 len = 16;
  EXPECT_TRUE(h.read(buf, len));
  EXPECT_EQ(len, 6u);
}

// Volumes lie gigabytes into disk images: offsets must not pass through
// 32 bits anywhere.
TEST(FileHandle, ReadsAtOffsetsAboveFourGiB) {
  const std::string path = scratch("sparse.bin");
  const uint64 far_offset = 0x140000000ull + 123;  // 5 GiB and a little
  {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_NE(fd, -1);
    if (::ftruncate(fd, static_cast<off_t>(far_offset + 4096)) != 0 ||
        ::pwrite(fd, "FILE0", 5, static_cast<off_t>(far_offset)) != 5) {
      ::close(fd);
      ::unlink(path.c_str());
      GTEST_SKIP() << "no sparse file of 5 GiB here";
    }
    ::close(fd);
  }
  uni::file_handle h(path, false, true);
  ASSERT_TRUE(h.is_open());
  EXPECT_EQ(h.cached_size(), far_offset + 4096);
  std::vector<byte> v;
  ASSERT_TRUE(h.read_bytes_at(v, 5, far_offset));
  EXPECT_EQ(std::string(v.begin(), v.end()), "FILE0");
  // The same offset cut to 32 bits holds only zeros.
  ASSERT_TRUE(h.read_bytes_at(v, 5, far_offset & 0xFFFFFFFFu));
  EXPECT_EQ(v, std::vector<byte>(5, 0));
  uint32 len = 8192;
  std::vector<char> tail(8192);
  ASSERT_TRUE(h.read_at(tail.data(), len, far_offset + 1));
  EXPECT_EQ(len, 4095u);
  EXPECT_EQ(std::string(tail.data(), 4), "ILE0");
  EXPECT_EQ(h.seek_end(0), static_cast<int64>(far_offset + 4096));
  ::unlink(path.c_str());
}

TEST(FileHandle, OpeningRulesAndBadPaths) {
  const std::string path = scratch("trunc.bin");
  write_file(path, "old contents");
  {
    uni::file_handle h(path, true, true);
    ASSERT_TRUE(h.is_open());
    EXPECT_EQ(h.cached_size(), 0u) << "opening for writing truncates";
    EXPECT_TRUE(h.append_format("%d-%s", 7, "z"));
    EXPECT_EQ(h.cached_size(), 3u);
  }
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u & ~quor_test::process_mask()) << "a file made for writing is its owner's";
  EXPECT_EQ(st.st_size, 3);

  uni::file_handle missing(scratch("nothing-here"), false, true);
  EXPECT_FALSE(missing.is_open());
  uint32 len = 4;
  char buf[4];
  EXPECT_FALSE(missing.read_at(buf, len, 0));

  // A path that cannot be encoded, or one with a NUL inside, must not open
  // the file named by its first part.
  std::wstring bad = utf8_to_wstring(path);
  bad.push_back(static_cast<wchar_t>(0x110000));
  EXPECT_FALSE(uni::file_handle(bad, false, true).is_open());
  std::wstring with_nul = utf8_to_wstring(path);
  with_nul.push_back(L'\0');
  with_nul += L"x";
  EXPECT_FALSE(uni::file_handle(with_nul, false, true).is_open());

  uni::file_handle h;
  ASSERT_TRUE(h.open(path, false));
  const int first = h.descriptor();
  ASSERT_TRUE(h.open(ten_byte_file(), false));
  // POSIX hands out the lowest free number: getting the first one back
  // shows it was closed before the second open.
  EXPECT_EQ(h.descriptor(), first);
  EXPECT_EQ(h.cached_size(), 10u);
}

std::string file_bytes(const std::string& path) {
  uni::file_handle h(path, false, true);
  std::vector<byte> v;
  if (h.is_open() && h.cached_size() > 0) h.read_bytes_at(v, static_cast<uint32>(h.cached_size()), 0);
  return std::string(v.begin(), v.end());
}

TEST(FileHandle, WideOpensPositionedWritesAndAppends) {
  const std::string utf8 = scratch("caf\xC3\xA9-\xF0\x9F\x98\x80.bin");
  const std::wstring wide = utf8_to_wstring(utf8);
  write_file(utf8, "old contents");
  uni::file_handle h;
  EXPECT_FALSE(h.open(std::wstring(), true));
  ASSERT_TRUE(h.open(wide, true));
  EXPECT_EQ(h.path(), wide);
  EXPECT_EQ(h.cached_size(), 0u) << "the wide open for writing truncates the UTF-8 name";
  EXPECT_TRUE(h.write_at("abc", 3, 5));
  EXPECT_EQ(h.cached_size(), 8u);
  EXPECT_TRUE(h.append(std::vector<byte>{'X', 'Y'}));
  EXPECT_FALSE(h.append(std::vector<byte>()));
  EXPECT_EQ(h.cached_size(), 10u);
  EXPECT_TRUE(h.write_at("Q", 1, 1));
  EXPECT_EQ(h.cached_size(), 10u);

  EXPECT_EQ(h.seek_set(2), 2);
  EXPECT_EQ(h.seek_cur(3), 5);
  EXPECT_EQ(h.seek_cur(-1), 4);
  EXPECT_EQ(h.seek_cur(0), 4);
  h.close();
  EXPECT_FALSE(h.is_open());
  EXPECT_EQ(h.path(), wide) << "close keeps the other fields";
  EXPECT_EQ(h.seek_cur(0), -1);
  EXPECT_FALSE(h.write_at("z", 1, 0));
  EXPECT_FALSE(h.append(std::vector<byte>{'z'}));
  EXPECT_EQ(file_bytes(utf8), std::string("\0Q\0\0\0abcXY", 10));

  ASSERT_TRUE(h.open(wide, false));
  EXPECT_EQ(h.cached_size(), 10u);
  EXPECT_FALSE(h.write_at("z", 1, 0)) << "a handle opened for reading does not write";
  EXPECT_FALSE(h.open(utf8_to_wstring(scratch("no-such-\xC3\xA9")), false));
  EXPECT_FALSE(h.is_open());
}

TEST(FileHandle, AppendOpensKeepTheContentsAndCreateMissingFiles) {
  const std::string narrow = scratch("log-\xC3\xA9.txt");
  const std::wstring wide = utf8_to_wstring(scratch("log-\U0001F600.txt"));
  const std::string wide_utf8 = wstring_to_utf8(wide);
  ::unlink(narrow.c_str());
  ::unlink(wide_utf8.c_str());
  for (int round = 0; round < 2; ++round) {
    uni::file_handle n, w;
    ASSERT_TRUE(n.open_append(narrow));
    ASSERT_TRUE(w.open_append(wide));
    EXPECT_EQ(n.cached_size(), round * 2u) << "an append open never truncates";
    EXPECT_EQ(w.cached_size(), round * 2u);
    EXPECT_TRUE(n.append(std::vector<byte>{'n', byte('0' + round)}));
    EXPECT_TRUE(w.append(std::vector<byte>{'w', byte('0' + round)}));
    EXPECT_EQ(n.cached_size(), round * 2u + 2);
    std::wstring widened;
    widen_string(narrow, widened);
    EXPECT_EQ(n.path(), widened) << "a narrow path is kept byte by byte";
    EXPECT_EQ(w.path(), wide);
  }
  EXPECT_EQ(file_bytes(narrow), "n0n1");
  EXPECT_EQ(file_bytes(wide_utf8), "w0w1");
  struct stat st;
  ASSERT_EQ(::stat(narrow.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u & ~quor_test::process_mask());
  ASSERT_EQ(::stat(wide_utf8.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u & ~quor_test::process_mask());
  uni::file_handle h;
  EXPECT_FALSE(h.open_append(std::string()));
  EXPECT_FALSE(h.open_append(std::wstring()));
  EXPECT_FALSE(h.open_append(scratch("missing-dir/x")));
  EXPECT_FALSE(h.is_open());
}

// Every open for writing goes through the guarded opener: a FIFO nobody
// reads is refused at once and one with a reader gets the bytes, a new file
// takes 0600 less the mask, a file reached by a link is written in place
// (emptied first, or appended to). What is written reads back through the
// same handle.
TEST(FileHandle, WritingOpensKeepTheOutputRules) {
  const std::string text = "written through the handle";
  const auto through = [text](bool wide_path, bool append) {
    return [=](const std::string& target) {
      uni::file_handle h;
      const bool opened = append ? (wide_path ? h.open_append(utf8_to_wstring(target)) : h.open_append(target))
                                 : (wide_path ? h.open(utf8_to_wstring(target), true) : h.open(target, true));
      return opened && h.append(text.data(), static_cast<uint32>(text.size()));
    };
  };
  using writer = quor_test::output_writer;
  const writer writers[] = {
      {"open", through(false, false), text, writer::truncates, 0600},
      {"open wide", through(true, false), text, writer::truncates, 0600},
      {"open_append", through(false, true), text, writer::appends, 0600},
      {"open_append wide", through(true, true), text, writer::appends, 0600},
  };
  for (const writer& w : writers) quor_test::expect_output_rules(w);

  for (bool append : {false, true}) {
    const std::string path = scratch(append ? "read-back-append.bin" : "read-back.bin");
    write_file(path, "0123");
    uni::file_handle h;
    ASSERT_TRUE(append ? h.open_append(path) : h.open(path, true));
    EXPECT_TRUE(h.append(text.data(), static_cast<uint32>(text.size())));
    std::vector<byte> back;
    ASSERT_TRUE(h.read_bytes_at(back, 100, 0)) << append;
    EXPECT_EQ(std::string(back.begin(), back.end()), (append ? "0123" : "") + text);
    // Appending, a write at an offset still lands at the end.
    EXPECT_TRUE(h.write_at("!", 1, 0));
    EXPECT_EQ(file_bytes(path), (append ? "0123" + text + "!" : "!" + text.substr(1))) << append;
  }
}

TEST(FileHandle, ResetForgetsWithoutClosing) {
  uni::file_handle h(ten_byte_file(), false, true);
  ASSERT_TRUE(h.is_open());
  const int fd = h.descriptor();
  h.reset();
  EXPECT_FALSE(h.is_open());
  EXPECT_EQ(h.descriptor(), -1);
  EXPECT_EQ(h.cached_size(), 0u);
  EXPECT_TRUE(h.path().empty());
  char c = 0;
  EXPECT_EQ(::pread(fd, &c, 1, 3), 1) << "the descriptor is still open";
  EXPECT_EQ(c, '3');
  ::close(fd);
}

// Under a 10-byte file-size limit the first write takes 10 bytes and the
// next fails: the append of 20 reports failure, the file holds 10. Run in a
// child so the limit and the ignored SIGXFSZ stay there.
TEST(FileHandle, ShortWritesGoOnUntilAFailure) {
  const std::string path = scratch("limited.bin");
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {10, 10};
    uni::file_handle h(path, true, true);
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0 || !h.is_open()) _exit(2);
    const bool twenty = h.append("0123456789abcdefghij", 20);
    _exit(!twenty && h.cached_size() == 10 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 10);
}

// Evidence opens never block, and keep only files: not a FIFO, a character
// device or a folder.
TEST(FileHandle, SourcesAreRegularFiles) {
  const std::string fifo = scratch("source.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {ten_byte_file(), fifo, std::string("/dev/null"), quor_test::scratch_dir()}) {
    const bool file = path == scratch("ten.bin");
    EXPECT_EQ(uni::is_source_kind(path, true), file) << path;
    EXPECT_EQ(uni::file_handle(path, false, true).is_open(), file) << path;
  }
}

std::vector<std::vector<uint64>> g_chunks;

// Each call as {offset, length, overlap, first byte}; 256 stands for no byte.
bool record_chunk(uni::file_handle*, uint32, const byte* buffer, uint32 length, uint32 overlap, uint64 offset) {
  g_chunks.push_back({offset, length, overlap, length ? buffer[0] : 256u});
  return true;
}

TEST(FileHandle, ScanOverlapsChunks) {
  const std::string empty = scratch("empty.bin");
  std::ofstream(empty, std::ios::trunc).close();
  const struct {
    std::string path;
    uint32 chunk, overlap;
    std::vector<std::vector<uint64>> want;
  } cases[] = {
      {ten_byte_file(), 4, 1, {{0, 4, 1, '0'}, {3, 4, 1, '3'}, {6, 4, 1, '6'}, {9, 1, 0, '9'}}},
      // A chunk larger than the file becomes the file, without overlap.
      {ten_byte_file(), 64, 8, {{0, 10, 0, '0'}}},
      // An empty file is still reported, once, with nothing in it.
      {empty, 4, 1, {{0, 0, 0, 256}}},
  };
  for (const auto& c : cases) {
    uni::file_handle h(c.path, false, true);
    ASSERT_TRUE(h.is_open());
    g_chunks.clear();
    EXPECT_TRUE(h.scan(record_chunk, 0, c.chunk, c.overlap)) << c.path;
    EXPECT_EQ(g_chunks, c.want) << c.path << " chunk " << c.chunk;
  }
}

}  // namespace
