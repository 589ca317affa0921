#pragma once
// The processes that serve FUSE file systems (ntfs-3g over an image, bindfs
// over a folder, fuse-zip over an archive, ...) and the files and folders
// they hold open in any mode (ewfmount and squashfuse only read): what a
// file on such a file system is written into, or read from. The mount
// table's entry may not name it (ntfs-3g hands FUSE its name cut at the
// first comma, an image renamed after the mount keeps its old name there,
// fuse-zip names nothing); the server holds it under whatever name it has.
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

// The servers as a walk made for the mount table of generation `generation`
// found them: walked again only for another generation (a mount or an unmount
// since). Safe from any thread; memory that runs out throws std::bad_alloc.
std::shared_ptr<const fuse_server_list> current_fuse_servers(uint64 generation);

// How many times this process walked the processes for their FUSE servers.
uint64 fuse_server_walks();

}  // namespace uni
