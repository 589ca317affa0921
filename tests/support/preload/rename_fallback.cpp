// Preloaded into a program under test: for a path inside the folder that
// QUOR_NO_RENAME_DIR names, renameat2 answers EINVAL and link EIO, as
// rclone's mounts do; every other call goes on as usual. The file system
// then offers neither a rename that keeps a name nor a second name.
#include <dlfcn.h>
#include <errno.h>

#include <cstdlib>
#include <cstring>

namespace {

bool inside(const char* path) {
  const char* dir = std::getenv("QUOR_NO_RENAME_DIR");
  if (dir == nullptr || *dir == '\0' || path == nullptr) return false;
  const size_t n = std::strlen(dir);
  return std::strncmp(path, dir, n) == 0 && (path[n] == '/' || path[n] == '\0');
}

}  // namespace

extern "C" int renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned int flags) {
  if (inside(from) || inside(to)) {
    errno = EINVAL;
    return -1;
  }
  typedef int (*renameat2_fn)(int, const char*, int, const char*, unsigned int);
  static const renameat2_fn next = reinterpret_cast<renameat2_fn>(dlsym(RTLD_NEXT, "renameat2"));
  if (next == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  return next(from_dir, from, to_dir, to, flags);
}

extern "C" int link(const char* from, const char* to) {
  if (inside(from) || inside(to)) {
    errno = EIO;
    return -1;
  }
  typedef int (*link_fn)(const char*, const char*);
  static const link_fn next = reinterpret_cast<link_fn>(dlsym(RTLD_NEXT, "link"));
  if (next == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  return next(from, to);
}
