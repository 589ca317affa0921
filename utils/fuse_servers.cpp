#include "utils/fuse_servers.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "utils/binary_head.h"

namespace uni {

namespace {

const unsigned FUSE_MAJOR = 10;
const unsigned FUSE_MINOR = 229;

typedef std::unique_ptr<DIR, int (*)(DIR*)> dir_handle;

bool all_digits(const char* name) { return *name != '\0' && name[std::strspn(name, "0123456789")] == '\0'; }

// Where descriptor `name` in `fds` leads (`text`); false if unreadable (gone).
bool link_of(int fds, const char* name, char (&text)[PATH_MAX]) {
  const ssize_t n = ::readlinkat(fds, name, text, sizeof text);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof text) return false;
  text[n] = '\0';
  return true;
}

// The value of the line "`key`:" in /proc/<pid>/fdinfo/<fd>; false for none.
// Read into buffers of its own: this runs for every descriptor of a server.
bool fdinfo_value(const char* pid, const char* fd, const char* key, int value_base, uint64& value) {
  char path[96], line_start[64];
  if (std::snprintf(path, sizeof path, "/proc/%s/fdinfo/%s", pid, fd) >= static_cast<int>(sizeof path)) return false;
  const int f = ::open(path, O_RDONLY | O_CLOEXEC);
  if (f < 0) return false;
  // A line end put before the text finds its first line's key as any other's.
  char text[4097];
  text[0] = '\n';
  const ssize_t n = read_head(f, text + 1, sizeof text - 2);
  ::close(f);
  if (n <= 0) return false;
  text[n + 1] = '\0';
  const int length = std::snprintf(line_start, sizeof line_start, "\n%s:", key);
  const char* const at = std::strstr(text, line_start);
  char* end = nullptr;
  if (at != nullptr) value = std::strtoull(at + length, &end, value_base);
  return at != nullptr && end != at + length;
}

// Whether descriptor `name` is the FUSE device, and its connection if `told`.
bool is_fuse_device(int fds, const char* pid, const char* name, bool& told, uint64& connection) {
  char link[PATH_MAX];
  if (!link_of(fds, name, link)) return false;
  const size_t length = std::strlen(link);
  if (length < 5 || std::strcmp(link + length - 5, "/fuse") != 0) return false;
  struct stat st;
  if (::fstatat(fds, name, &st, 0) != 0 || !S_ISCHR(st.st_mode) || major(st.st_rdev) != FUSE_MAJOR ||
      minor(st.st_rdev) != FUSE_MINOR)
    return false;
  told = fdinfo_value(pid, name, "fuse_connection", 10, connection);
  return true;
}

// Adds the regular files, block devices and folders the process holds open, in any mode.
void add_held_files(int fds, DIR* listing, const char* pid, std::vector<fuse_held_file>& out) {
  ::rewinddir(listing);
  while (const struct dirent* e = ::readdir(listing)) {
    if (!all_digits(e->d_name)) continue;
    fuse_held_file held;
    if (::fstatat(fds, e->d_name, &held.status, 0) != 0) continue;
    if (!S_ISREG(held.status.st_mode) && !S_ISBLK(held.status.st_mode) && !S_ISDIR(held.status.st_mode)) continue;
    char link[PATH_MAX];
    if (!link_of(fds, e->d_name, link) || link[0] != '/') continue;  // a pipe, a socket, ...
    uint64 flags = 0;
    if (fdinfo_value(pid, e->d_name, "flags", 8, flags)) {
      held.readable = (flags & O_ACCMODE) != O_WRONLY;
      held.writable = (flags & O_ACCMODE) != O_RDONLY;
    }
    held.name = link;
    held.handle = std::string("/proc/") + pid + "/fd/" + e->d_name;
    out.push_back(std::move(held));
  }
}

// Walks the processes now; nothing is left open however it ends.
void read_fuse_servers(fuse_server_list& out) {
  const dir_handle processes(::opendir("/proc"), ::closedir);
  out.complete = static_cast<bool>(processes);
  while (const struct dirent* p = processes ? ::readdir(processes.get()) : nullptr) {
    if (!all_digits(p->d_name)) continue;
    const char* pid = p->d_name;
    char path[64];
    if (std::snprintf(path, sizeof path, "/proc/%s/fd", pid) >= static_cast<int>(sizeof path)) continue;
    const dir_handle listing(::opendir(path), ::closedir);
    if (!listing) {
      // A process that ended serves nothing; one we may not read might.
      if (errno != ENOENT && errno != ESRCH) out.complete = false;
      continue;
    }
    const int fds = ::dirfd(listing.get());
    // One process may serve several connections; each gets what it holds.
    const size_t first = out.servers.size();
    while (const struct dirent* e = ::readdir(listing.get())) {
      fuse_server server;
      if (!all_digits(e->d_name) || !is_fuse_device(fds, pid, e->d_name, server.told, server.connection)) continue;
      out.servers.push_back(std::move(server));
    }
    if (out.servers.size() == first) continue;
    std::vector<fuse_held_file>& held = out.servers.back().files;
    add_held_files(fds, listing.get(), pid, held);
    for (size_t i = first; i + 1 < out.servers.size(); ++i) out.servers[i].files = held;
  }
}

struct server_cache {
  std::mutex lock;
  uint64 generation = 0;
  std::shared_ptr<const fuse_server_list> list;
  uint64 walks = 0;
};

server_cache& cache() {
  static server_cache* const kept = new server_cache;  // lives as long as the process
  return *kept;
}

}  // namespace

fuse_servers_seen fuse_server_list::files_of(uint64 connection, std::vector<fuse_held_file>& out) const {
  fuse_servers_seen seen;
  seen.complete = complete;
  for (const fuse_server& server : servers) {
    if (server.told && server.connection != connection) continue;
    seen.counted = true;
    if (server.told) seen.exact = true;
    out.insert(out.end(), server.files.begin(), server.files.end());
  }
  return seen;
}

uint64 fuse_connection_of(uint64 device) {
  const dev_t dev = static_cast<dev_t>(device);
  // The kernel's own form of a device number: the minor in the low 20 bits.
  return (static_cast<uint64>(major(dev)) << 20) | minor(dev);
}

std::shared_ptr<const fuse_server_list> current_fuse_servers(uint64 generation) {
  server_cache& c = cache();
  const std::lock_guard<std::mutex> held(c.lock);
  if (c.list && c.generation == generation) return c.list;
  std::shared_ptr<fuse_server_list> fresh = std::make_shared<fuse_server_list>();
  ++c.walks;
  read_fuse_servers(*fresh);
  c.list = fresh;
  c.generation = generation;
  return c.list;
}

uint64 fuse_server_walks() {
  const std::lock_guard<std::mutex> held(cache().lock);
  return cache().walks;
}

}  // namespace uni
