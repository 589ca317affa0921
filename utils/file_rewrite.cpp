#include "utils/file_rewrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace {

bool write_all(int fd, const char* p, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// The file a chain of symbolic links ends at (the path itself when it is no
// link), so that a rewrite changes that file and leaves the links as they
// are. A relative link target is taken from the link's own directory. False
// for a loop or a chain too long to follow.
bool resolve_links(const std::string& path, std::string& target) {
  target = path;
  std::vector<char> buffer(4096);
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    ssize_t n;
    for (;;) {
      n = ::readlink(target.c_str(), buffer.data(), buffer.size());
      if (n < 0) return false;
      if (static_cast<size_t>(n) < buffer.size()) break;
      buffer.resize(buffer.size() * 2);
    }
    std::string next(buffer.data(), static_cast<size_t>(n));
    if (next.empty()) return false;
    if (next[0] != '/') {
      const size_t slash = target.rfind('/');
      if (slash != std::string::npos) next = target.substr(0, slash + 1) + next;
    }
    target.swap(next);
  }
  return false;
}

}  // namespace

bool read_file_bytes(const char* path, std::string& out) {
  out.clear();
  if (!path || !*path) return false;
  const int fd = ::open(path, O_RDONLY);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return false;
  }
  if (st.st_size > 0) out.reserve(static_cast<size_t>(st.st_size));
  std::vector<char> chunk(1 << 20);
  for (;;) {
    const ssize_t r = ::read(fd, chunk.data(), chunk.size());
    if (r < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      out.clear();
      return false;
    }
    if (r == 0) break;
    out.append(chunk.data(), static_cast<size_t>(r));
  }
  ::close(fd);
  return true;
}

bool replace_file_contents(const char* path, const std::string& data) {
  if (!path || !*path) return false;
  // Renaming over a link would replace the link and leave the file it names
  // unchanged: the temporary goes beside the file itself and replaces that.
  std::string target;
  if (!resolve_links(path, target)) return false;
  std::string temp = target + ".tmp-XXXXXX";
  const int fd = ::mkstemp(&temp[0]);
  if (fd < 0) return false;
  bool ok = write_all(fd, data.data(), data.size());
  struct stat st;
  if (ok && ::stat(target.c_str(), &st) == 0) ok = ::fchmod(fd, st.st_mode & 07777) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = std::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}
