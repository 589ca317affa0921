// Preloaded into a program under test: a file that renameat2 gives a name
// in the folder QUOR_SHORT_RENAME_DIR names shows one byte less under that
// name, as a layer that stores a file late, or loses its end, shows it
// there; every other call goes on as usual. The folder is matched by the
// system's name for it, so a name reached through /proc/self/fd is in it.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool inside(int dir, const char* path) {
  const char* folder = std::getenv("QUOR_SHORT_RENAME_DIR");
  if (folder == nullptr || *folder == '\0' || path == nullptr || dir != AT_FDCWD) return false;
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return false;
  const std::string holder(path, static_cast<size_t>(slash - path));
  char named[PATH_MAX], held[PATH_MAX];
  return ::realpath(folder, named) != nullptr && ::realpath(holder.c_str(), held) != nullptr &&
         std::strcmp(named, held) == 0;
}

// False when the file could not be cut: a probe through the preload then
// shows it whole.
bool cut_last_byte(const char* path) {
  const int fd = ::open(path, O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  const bool cut =
      ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && ::ftruncate(fd, st.st_size - 1) == 0;
  ::close(fd);
  return cut;
}

}  // namespace

extern "C" int renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned int flags) {
  typedef int (*renameat2_fn)(int, const char*, int, const char*, unsigned int);
  static const renameat2_fn next = reinterpret_cast<renameat2_fn>(dlsym(RTLD_NEXT, "renameat2"));
  if (next == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  const int renamed = next(from_dir, from, to_dir, to, flags);
  if (renamed == 0 && inside(to_dir, to)) {
    const int kept = errno;
    cut_last_byte(to);
    errno = kept;
  }
  return renamed;
}
