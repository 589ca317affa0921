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
  std::string temp = std::string(path) + ".tmp-XXXXXX";
  const int fd = ::mkstemp(&temp[0]);
  if (fd < 0) return false;
  bool ok = write_all(fd, data.data(), data.size());
  struct stat st;
  if (ok && ::stat(path, &st) == 0) ok = ::fchmod(fd, st.st_mode & 07777) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = std::rename(temp.c_str(), path) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}
