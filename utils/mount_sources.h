#pragma once
// What a file system was mounted from, as /proc/self/mountinfo names it: a
// block device, or for FUSE (ntfs-3g over an image) often the image itself.
#include <string>
#include <utility>
#include <vector>

#include "utils/types.h"

namespace uni {

// One mount of the table, its escapes (\040 for a blank, ...) undone.
// `options`: the file system's own (the line's last field), one each; a
// comma inside a value (an overlay's layer named with one) stays in it.
struct mount_entry {
  uint64 id = 0;      // the mount ID (statx's stx_mnt_id of a file there)
  uint64 device = 0;  // the device number of its files, as the table gives it
  std::string root;         // the folder of the file system the mount shows
  std::string mount_point;  // where it shows it
  std::string type;         // "ext4", "fuse", "fuseblk", "overlay", ...
  std::string source;       // what it was mounted from, as given
  std::vector<std::string> options;
};

// The pieces of `text` between the `separator`s, empty ones kept but for one
// after a last separator: "a::b:" gives "a", "", "b"; "" gives none.
std::vector<std::string> split(const std::string& text, char separator);

// A device number as the table and /sys write it ("major:minor"); else false.
bool device_number(const std::string& text, uint64& device);

// The whole of the file at `path`, or its first `most` bytes: "" where it
// cannot be opened, what was read where a read fails; never waited on (a
// FIFO gives what it holds now). Memory that runs out throws std::bad_alloc.
std::string file_text(const std::string& path, size_t most = static_cast<size_t>(-1));

// The entry of one line of the mount table; false for a line not in its form.
bool mount_entry_of_line(const std::string& line, mount_entry& entry);

// Adds to `out` every line of the process's mount table, read now; false
// when it cannot be read. Memory running out throws bad_alloc, nothing held.
bool read_mount_table(std::vector<mount_entry>& out);

// The folders here an rclone mount stores its files in, each with the path
// below its top where it shows the folder ("" for the top itself), as its
// server reads its remote: a path, and the remotes a `local`, `alias`,
// `union` or `combine` remote names, in the config the server reads (a
// regular file of a few KiB; a relative name taken in the server's folder);
// may throw bad_alloc.
typedef std::vector<std::pair<std::string, std::string>> shown_folders;
shown_folders rclone_remote_folders(const mount_entry& m);

}  // namespace uni
