#pragma once
// Scratch files for the disk tests, and a temporary tree of the host file
// system for the file-information, listing and signature tests: Unicode
// names, an empty file, a file of several MiB with byte marks at known
// places, symbolic links (one to a file, a pair forming a cycle, one
// pointing back up the tree), a directory named "*", a path longer than 511
// characters, and a mode-000 file and folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/fixture.h"
#include "utils/byte_order.h"
#include "utils/types.h"

namespace host_tree {

inline std::string scratch(const std::string& name) { return quor_test::scratch_dir() + "/" + name; }

// A sparse file of `size` bytes at `path` holding the given pieces.
inline std::string write_disk(const std::string& path, ulong64 size,
                              const std::vector<std::pair<ulong64, std::vector<byte>>>& pieces) {
  const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  bool ok = fd != -1 && ::ftruncate(fd, static_cast<off_t>(size)) == 0;
  for (const auto& p : pieces)
    ok = ok && ::pwrite(fd, p.second.data(), p.second.size(), static_cast<off_t>(p.first)) ==
                   static_cast<ssize_t>(p.second.size());
  if (fd != -1) ::close(fd);
  if (!ok) ADD_FAILURE() << "cannot write " << path;
  return path;
}

inline std::string write_bytes(const std::string& path, const std::vector<byte>& bytes) {
  return write_disk(path, bytes.size(), {{0, bytes}});
}

inline std::vector<byte> read_bytes(const std::string& path) {
  std::vector<byte> out;
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd == -1) return out;
  byte buf[65536];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) out.insert(out.end(), buf, buf + n);
  ::close(fd);
  return out;
}

// A boot sector of `size` bytes, its partition entries and its boot mark.
inline std::vector<byte> sector(uint32 size = 512) { return std::vector<byte>(size, 0); }

inline void set_entry(std::vector<byte>& s, int i, byte type, uint32 lba, uint32 count) {
  byte* e = s.data() + 446 + 16 * i;
  e[4] = type;
  store_u32(e + 8, lba);
  store_u32(e + 12, count);
}

inline void mark(std::vector<byte>& s, uint32 at = 512) {
  s[at - 2] = 0x55;
  s[at - 1] = 0xAA;
}

const long big_size = 3 * 1024 * 1024 + 777;
const long region_mark = 100 + 16384 - 5;  // last byte just past the first 16 KiB piece from 100
const long block_mark = 512 * 4000 + 10;   // 10 bytes into a block
const long tail_mark = big_size - 100;
const long old_seconds = 1000000000;  // mtime given to big.dat and Notes.txt
const char* const unicode_name = "\xC3\x9Cn\xC3\xAF" "c\xC3\xB6" "d\xC3\xA9 \xE5\x90\x8D\xE5\x89\x8D.txt";  // Ünïcödé 名前.txt

inline void put(const std::string& path, const std::string& text) {
  write_bytes(path, std::vector<byte>(text.begin(), text.end()));
}

inline void set_mtime(const std::string& path, long seconds) {
  struct timeval tv[2] = {{seconds, 0}, {seconds, 0}};
  ::utimes(path.c_str(), tv);
}

inline std::string long_dir() {
  return std::string(200, 'd') + "/" + std::string(200, 'e') + "/" + std::string(200, 'g') + "/";
}

// The tree's root, ending with '/'; built once per test process.
inline const std::string& root() {
  static const std::string r = [] {
    const std::string base = quor_test::scratch_dir() + "/host-tree/";
    for (const char* d : {"", "sub", "sub/a", "sub/a/logs", "sub/b", "sub/b/logs", "sub/c", "logs.old", "star",
                          "star/*", "uni", "uni/\xE5\x90\x8D\xE5\x89\x8D", "locked"})
      ::mkdir((base + d).c_str(), 0755);
    ::mkdir((base + std::string(200, 'd')).c_str(), 0755);
    ::mkdir((base + std::string(200, 'd') + "/" + std::string(200, 'e')).c_str(), 0755);
    ::mkdir((base + long_dir()).c_str(), 0755);
    put(base + long_dir() + std::string(200, 'f') + ".txt", "long");
    put(base + "Notes.txt", "hello notes");
    put(base + "notes.txt.bak", "old notes");
    put(base + "notes", "no extension");
    put(base + "a.tar.gz", "archive");
    put(base + unicode_name, "unicode");
    put(base + "empty.bin", "");
    put(base + "sealed.bin", "x");
    ::chmod((base + "sealed.bin").c_str(), 0);
    put(base + "sub/a/logs/app.log", "log line");
    put(base + "locked/hidden.txt", "hidden");
    std::string big(static_cast<size_t>(big_size), 'x');
    std::memcpy(&big[region_mark], "REGION", 6);
    std::memcpy(&big[block_mark], "BLK!", 4);
    std::memcpy(&big[tail_mark], "TAIL", 4);
    put(base + "big.dat", big);
    set_mtime(base + "big.dat", old_seconds);
    set_mtime(base + "Notes.txt", old_seconds);
    ::symlink("big.dat", (base + "link-big").c_str());
    ::symlink("cycle-b", (base + "cycle-a").c_str());
    ::symlink("cycle-a", (base + "cycle-b").c_str());
    ::symlink("..", (base + "sub/up").c_str());
    ::chmod((base + "locked").c_str(), 0);
    // Readable again before the scratch folder is removed at exit.
    std::atexit([] { ::chmod((quor_test::scratch_dir() + "/host-tree/locked").c_str(), 0755); });
    return base;
  }();
  return r;
}

// True when the mode-000 folder really cannot be read (not when running as
// root, which reads it anyway).
inline bool locked_is_unreadable() { return ::access((root() + "locked").c_str(), R_OK) != 0; }

// A read-only loop device over a file, detached when it goes; the path stays
// empty when none can be attached (not root, no loop support).
struct loop_device {
  std::string path;
  explicit loop_device(const std::string& file) {
    std::string out;
    if (quor_test::run_command("losetup -f --show -r '" + file + "' 2>/dev/null", out) == 0 &&
        out.compare(0, 9, "/dev/loop") == 0)
      path = out.substr(0, out.find('\n'));
  }
  ~loop_device() {
    std::string out;
    if (!path.empty()) quor_test::run_command("losetup -d " + path, out);
  }
  loop_device(const loop_device&) = delete;
  loop_device& operator=(const loop_device&) = delete;
};

}  // namespace host_tree
