#pragma once
// The processes serving FUSE file systems (ntfs-3g over an image, bindfs
// over a folder, fuse-zip over an archive, ...) and the files and folders
// they hold open in any mode (ewfmount and squashfuse only read): what a
// file on such a file system is written into or read from. The table entry
// may not name it (ntfs-3g cuts the name at its first comma, a renamed image
// keeps its old name, fuse-zip names nothing); the server holds it by any name.
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "utils/types.h"

namespace uni {

// A regular file, block device or folder a serving process holds open.
struct fuse_held_file {
  std::string name;    // where its descriptor leads, as the system shows it
  std::string handle;  // "/proc/<pid>/fd/<n>": opens that very file while it is held
  struct stat status;
  // The mode it is open in (both where that cannot be read).
  bool readable = true;
  bool writable = true;
};

// What the search of the processes found out.
struct fuse_servers_seen {
  bool exact = false;     // a process of this very connection was found
  bool counted = false;   // some process was taken as a server
  bool complete = true;   // every process's descriptors could be read
};

// Each process holding the FUSE device, with its files: one walk serves all.
struct fuse_server {
  uint64 connection = 0;
  bool told = false;  // false: the system does not say which connection it serves
  std::vector<fuse_held_file> files;
};
struct fuse_server_list {
  std::vector<fuse_server> servers;
  bool complete = true;  // every process's descriptors could be read

  // Adds to `out` what the servers of `connection` hold (and those whose
  // connection the system does not tell, each of which may serve it).
  fuse_servers_seen files_of(uint64 connection, std::vector<fuse_held_file>& out) const;
};

// The number FUSE knows the connection of the file system of `device` by.
uint64 fuse_connection_of(uint64 device);

// The servers as walked for the mount table's `generation`, walked again for
// another (a mount or unmount since). Thread-safe; may throw bad_alloc.
std::shared_ptr<const fuse_server_list> current_fuse_servers(uint64 generation);

// How many times this process walked the processes for their FUSE servers.
uint64 fuse_server_walks();

}  // namespace uni
