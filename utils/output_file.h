#pragma once
// Opening the files quor writes (copies, logs, reports) so that none of them
// can be the evidence it reads. The name given may be the evidence's own
// path, a hard link to it or a symbolic link to it, so names are not
// compared: the file is opened without truncation, its device and inode are
// compared with those of every source file, and only a file that is none of
// them is truncated and handed to the writer. A loop device and the file
// behind it are one piece of evidence, so each stands for both.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "utils/types.h"

namespace uni {

// Which file a name leads to. A block device is also known by the device
// number it stands for, so that another node of the same disk matches.
struct file_identity {
  uint64 device = 0;
  uint64 inode = 0;
  uint64 block_device = 0;  // 0 unless the file is a block device
};
typedef std::vector<file_identity> file_identities;

// The identity of an open descriptor; false when the system cannot tell.
bool identity_of_descriptor(int fd, file_identity& out);
// Adds to `out` the identity of the descriptor's file and, when that is a
// loop device, of the file behind it, following a loop device over a loop
// device to the end: writing any of them changes what the descriptor reads.
// False when the system cannot tell the descriptor's own.
bool identities_of_descriptor(int fd, file_identities& out);
// Adds to `out` what stands for the source open at `fd`: its own identities
// as identities_of_descriptor gives them, and what else writing would reach
// it through. The set every output is checked against is built from these.
// False when the system cannot tell the descriptor's own.
bool identities_of_source(int fd, file_identities& out);
// Adds to `out` what the descriptor's file is stored on: the disk, when
// that is a block device, and the source of its mount, when that is a file
// or another block device (an image mounted by ntfs-3g, a FUSE file system
// with no disk of its own); for a loop device among them, the files behind
// it. Writing the file writes them. An output's, not a source's: a file
// beside the image is not the image. False when nothing was added.
bool identities_of_holder(int fd, file_identities& out);
// True when `id` is the file of one of `sources`.
bool is_one_of(const file_identity& id, const file_identities& sources);
// True when writing to the open descriptor `fd` would write one of
// `sources`: it is one of them, a loop device over one, or a file stored on
// one. Only a regular file or a block device can be; a pipe, a terminal or
// /dev/null never is.
bool descriptor_is_source(int fd, const file_identities& sources);

// True when something made in the folder open at `dirfd` (a file, a folder
// below it) would write one of `sources`: the folder is one of them, or is
// stored on one (a disk that is one, a loop device over one, a mount of
// one). False for a descriptor that is no folder.
bool folder_descriptor_writes_source(int dirfd, const file_identities& sources);

enum class output_open {
  truncate,    // created when missing, emptied after the check
  append,      // created when missing, written at its end
  create_new,  // created only when nothing of that name exists, not even a link
};

enum class output_result { opened, is_source, exists, no_reader, failed };

// The results that fail even a caller that passes over a file it cannot
// open (a report, a log): the name is the evidence, or a FIFO nobody reads.
inline bool refused(output_result r) { return r == output_result::is_source || r == output_result::no_reader; }

// Opens `path` for binary output in `stream` (closed first) as `how` says.
// A file that is one of `sources`, a loop device over one, or a file stored
// on a disk that is one of them or a loop device over one, is refused
// with is_source, left as it was, and "refused to write to the evidence:
// <path>" goes to standard error. `exists` answers create_new when the name
// is taken. A FIFO that nobody reads is not waited for: no_reader, with
// "no reader: <path>" on standard error. On any result but `opened` the
// stream is closed with failbit set.
output_result open_output(std::ofstream& stream, const std::string& path, const file_identities& sources,
                          output_open how);
output_result open_output(std::ofstream& stream, const std::wstring& path, const file_identities& sources,
                          output_open how);
// The same check, handing the file itself over in `fd` (-1 on any result
// but `opened`; the caller closes it): blocking, closed on exec, at the
// start of the file, or with every write at its end for append. With
// `readable` a regular file or a block device is also open for reading, to
// read back what was written; a FIFO is open for writing only, for one also
// open for reading would never see its reader go. A file made here takes
// `permission` less the process's mask.
output_result open_output(int& fd, const std::string& path, const file_identities& sources, output_open how,
                          bool readable = false, uint32 permission = 0666);
output_result open_output(int& fd, const std::wstring& path, const file_identities& sources, output_open how,
                          bool readable = false, uint32 permission = 0666);
// The same as a stdio stream, open for reading too where the descriptor is
// ("w+" or "a+", else "w" or "a"); null on any result but `opened`.
output_result open_output(std::FILE*& file, const std::string& path, const file_identities& sources,
                          output_open how);

enum class rename_result { renamed, taken, failed };

// Gives the file `from` the name `to` only while nothing holds that name:
// nothing is ever replaced. `taken`: a regular file (not a link) holds the
// name, and stays as it is, as does `from`. Anything else in the way (a
// link, a folder), or any other failure, is `failed`.
rename_result rename_output(const std::string& from, const std::string& to);
rename_result rename_output(const std::wstring& from, const std::wstring& to);

// True when the name `path` itself (a link there, not what it leads to) is
// one of `sources`, as the refusal above says on standard error: renaming a
// file onto that name would take the evidence's name away. False when
// nothing of that name exists.
bool names_source(const std::string& path, const file_identities& sources);
bool names_source(const std::wstring& path, const file_identities& sources);

// True, after the refusal above on standard error, when making the folder
// `path` with the folders missing above it (as a chain of mkdir makes them)
// would write one of `sources`, or files made in it later would: a folder
// something would be made in, or `path` itself when it is there already, is
// one of them or is stored on one (a disk that is one, a loop device over
// one, a mount of one). Nothing is made. "." and ".." are taken as the
// system will take them once the folders before them exist, so a climb out
// of a folder still to be made leads the check where it leads the mkdir.
bool folder_writes_source(const std::string& path, const file_identities& sources);

}  // namespace uni
