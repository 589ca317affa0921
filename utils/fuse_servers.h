#pragma once
// The processes that serve a FUSE file system (ntfs-3g over an image, ...)
// and the files they hold open for writing: what a file stored on that
// file system is written into. The mount table's entry may not name the
// image (ntfs-3g hands its name to FUSE cut at the first comma, and an
// image renamed after the mount keeps its old name there), but the process
// that serves the mount holds the image open under whatever name it has.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "utils/types.h"

namespace uni {

// A file a serving process holds open for writing.
struct fuse_held_file {
  std::string name;  // where its descriptor leads, as the system shows it
  struct stat status;
};

// What the search of the processes found out.
struct fuse_servers_seen {
  bool exact = false;     // a process of this very connection was found
  bool counted = false;   // some process was taken as a server
  bool complete = true;   // every process's descriptors could be read
};

// The number FUSE knows the connection of a file system by, whose files
// have the device number `device`.
uint64 fuse_connection_of(uint64 device);

// Adds to `out` the regular files and block devices held open for writing
// by the processes that serve the FUSE connection `connection`: those that
// hold the FUSE device open for it, or for a connection the system does not
// tell (each of those may serve it). Memory that runs out throws
// std::bad_alloc, with nothing left open.
fuse_servers_seen files_of_fuse_servers(uint64 connection, std::vector<fuse_held_file>& out);

}  // namespace uni
