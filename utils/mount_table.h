#pragma once
// The process's mount table, read once and kept until the system says it
// changed: a check asks it of every layer under an output, and a run checks
// many. /proc/self/mountinfo, held open, is marked at every mount and unmount
// in the namespace, so the table kept misses no change a check could see.
#include <memory>
#include <string>
#include <vector>

#include "utils/mount_sources.h"
#include "utils/types.h"

namespace uni {

struct mount_table {
  std::vector<mount_entry> entries;  // by mount ID, lowest first
  uint64 generation = 0;             // another number after every change seen

  // The entry of the mount ID `id`; null when the table has none.
  const mount_entry* by_id(uint64 id) const;
  // The first of `device`'s entries (one a mount where mounted twice), or null.
  const mount_entry* by_device(uint64 device) const;
};

// The table as it is now, read again only after a change since the last
// call, a change of this process's namespace, or a fork; null if unreadable.
// Safe from any thread; out of memory it throws bad_alloc, to read anew next.
std::shared_ptr<const mount_table> current_mount_table();

// How often this process read the whole table; unchanged, a check reads none.
uint64 mount_table_reads();

// The mount ID of the file open at `fd`, or with `fd` -1 of the file at
// `path` (a link followed), in `id`; false where the system does not tell.
bool mount_id_at(int fd, const std::string& path, uint64& id);

// Whether `m` is a FUSE file system's.
bool is_fuse(const mount_entry& m);
// Whether the file open at `fd`, or with `fd` -1 the file at `path`, lies on
// a FUSE file system (fuseblk's files have a disk's device number too).
bool is_fuse_file(int fd, const std::string& path);
// Whether an NTFS volume may show itself through `m`: a FUSE file system's
// (ntfs-3g, and any view over one) or a kernel NTFS driver's.
bool may_show_a_volume(const mount_entry& m);

// What `name` is below the mount point of `m`, from the root of the file
// system shown (a folder's mount shows that folder there); false if not below.
bool inner_path(const std::string& name, const mount_entry& m, std::string& inner);

}  // namespace uni
