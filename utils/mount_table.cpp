#include "utils/mount_table.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

namespace uni {

namespace {

struct table_cache {
  std::mutex lock;
  int watched = -1;  // /proc/self/mountinfo, open for its change marks
  pid_t owner = 0;   // the process that opened it: a child's table may differ
  uint64 space = 0;  // the inode of the mount namespace it was opened in
  std::shared_ptr<const mount_table> table;
  uint64 generation = 0;
  uint64 reads = 0;
};

table_cache& cache() {
  static table_cache* const kept = new table_cache;  // lives as long as the process
  return *kept;
}

// Whether the table the cache holds may be out of date; opens the watch
// again where it belongs to another process or namespace.
bool stale(table_cache& c) {
  const pid_t me = ::getpid();
  struct stat ns;
  const uint64 space = ::stat("/proc/self/ns/mnt", &ns) == 0 ? static_cast<uint64>(ns.st_ino) : 0;
  if (c.watched < 0 || c.owner != me || c.space != space) {
    // A descriptor inherited from the parent is the parent's to close.
    if (c.watched >= 0 && c.owner == me) ::close(c.watched);
    c.watched = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    c.owner = me;
    c.space = space;
    c.table.reset();
    return true;
  }
  struct pollfd p = {c.watched, POLLPRI, 0};
  // The mark is taken by this poll: the table must be read now.
  if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLPRI | POLLERR)) != 0) c.table.reset();
  return !c.table;
}

}  // namespace

const mount_entry* mount_table::by_id(uint64 id) const {
  const auto at = std::lower_bound(entries.begin(), entries.end(), id,
                                   [](const mount_entry& e, uint64 want) { return e.id < want; });
  return at != entries.end() && at->id == id ? &*at : nullptr;
}

const mount_entry* mount_table::by_device(uint64 device) const {
  for (const mount_entry& e : entries)
    if (e.device == device) return &e;
  return nullptr;
}

std::shared_ptr<const mount_table> current_mount_table() {
  table_cache& c = cache();
  const std::lock_guard<std::mutex> held(c.lock);
  if (!stale(c)) return c.table;
  // Read into a table of its own: one that memory cut short is never kept.
  std::shared_ptr<mount_table> fresh = std::make_shared<mount_table>();
  ++c.reads;
  if (!read_mount_table(fresh->entries)) return nullptr;
  std::sort(fresh->entries.begin(), fresh->entries.end(),
            [](const mount_entry& a, const mount_entry& b) { return a.id < b.id; });
  fresh->generation = ++c.generation;
  c.table = fresh;
  return c.table;
}

bool mount_id_at(int fd, const std::string& path, uint64& id) {
  struct statx sx;
  const int r = fd >= 0 ? ::statx(fd, "", AT_EMPTY_PATH, STATX_MNT_ID, &sx)
                        : ::statx(AT_FDCWD, path.c_str(), 0, STATX_MNT_ID, &sx);
  if (r != 0 || (sx.stx_mask & STATX_MNT_ID) == 0) return false;
  id = static_cast<uint64>(sx.stx_mnt_id);
  return true;
}

bool is_fuse(const mount_entry& m) { return m.type.compare(0, 4, "fuse") == 0; }

bool is_fuse_file(int fd, const std::string& path) {
  const unsigned long FUSE_SUPER_MAGIC = 0x65735546;
  struct statfs fs;
  return (fd >= 0 ? ::fstatfs(fd, &fs) : ::statfs(path.c_str(), &fs)) == 0 &&
         static_cast<unsigned long>(fs.f_type) == FUSE_SUPER_MAGIC;
}

bool may_show_a_volume(const mount_entry& m) { return is_fuse(m) || m.type == "ntfs" || m.type == "ntfs3"; }

bool inner_path(const std::string& name, const mount_entry& m, std::string& inner) {
  const std::string& at = m.mount_point;
  if (name.empty() || name[0] != '/') return false;
  if (at != "/" && (name.compare(0, at.size(), at) != 0 || (name.size() > at.size() && name[at.size()] != '/')))
    return false;
  inner = at != "/" ? name.substr(at.size()) : name == "/" ? std::string() : name;
  if (m.root != "/") inner = m.root + inner;
  return true;
}

uint64 mount_table_reads() {
  const std::lock_guard<std::mutex> held(cache().lock);
  return cache().reads;
}

}  // namespace uni
