#pragma once
// Opening the files quor writes (copies, logs, reports) so none is the evidence
// it reads, by identity, not name (its own path, a hard or symbolic link):
// opened untruncated, a file is emptied and handed over only when it is no
// source and writes none through its store (utils/output_reach); a file beside
// a source on its disk is no part of it. Where a layer cannot be told, nothing
// is made or replaced; a file whose head holds no text is neither emptied nor
// added to, whatever identity says. No check throws: out of memory, it refuses.
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
  // Up to `volume`, marks of a set of sources' elements. `holder`: a source's
  // store (its disk, a loop file there): an output may lie on it, not be it.
  bool holder = false;
  // With `holder`: an archive or image a FUSE server holds under a source read
  // through its mount, into which all made there goes: matched as a store too.
  bool container = false;
  // The FUSE view (its device) that shows it, or whose server holds it; or 0.
  uint64 view = 0;
  // Memory ran out while the set was made, so it may lack what stands for a
  // source: every output checked against it is refused.
  bool unsure = false;
  // Read through a layer whose store cannot be told (`why`), so an existing
  // file may be the source: new files are made, but none replaced or added to.
  bool untold = false;
  std::string why;
  std::string name;  // the path of the source it stands for, as a refusal names it
  // The open volume read from it, asked of every output (see volume_opened).
  void* volume = nullptr;
  // The way from the file it stands for or lies under ("through the loop device
  // /dev/loop3"); "" for that file, and for a disk, whose node a refusal finds.
  std::string via;
};
typedef std::vector<file_identity> file_identities;

// The identity of an open descriptor; false when the system cannot tell.
bool identity_of_descriptor(int fd, file_identity& out);
// Adds to `out` the identity of the descriptor's file and of a loop device's
// files, loop over loop (writing any changes it); false if its own is unknown.
bool identities_of_descriptor(int fd, file_identities& out);
// Adds to `out` what stands for the source open at `fd`: its identities
// (identities_of_descriptor), the overlay layer's or view folder's file it is
// seen as, and, marked `holder`, what those are stored on in turn (the disk
// under their file system and the whole disk holding it, a loop device there
// and its file, what their FUSE mount's servers hold open to read, `container`
// too where only to read). Where such a layer cannot be told, the first element
// is marked `untold` with why. False when the system cannot tell the
// descriptor's own, or memory ran out part way: `out`'s last element (added if
// none) is marked `unsure`, or if not even that can be, bad_alloc goes on.
bool identities_of_source(int fd, file_identities& out);
// True when `id` is the file of one of `sources` (a holder among them too).
bool is_one_of(const file_identity& id, const file_identities& sources);

enum class reach_answer {
  clear,   // writing it writes no source
  source,  // writing it writes one of the sources, by identity
  untold,  // a layer under it cannot be told
  // A standard stream's: a layer under it nothing tells, for which no open
  // volume answers (none is open yet, or a source is read through it).
  unknown,
};
// What writing to the open descriptor `fd` would do to `sources`: only a
// regular file or a block device can be anything but clear; `untold` also
// where memory ran out. `why` names, for `source`, the source and the layer
// it is reached through ("it is stored in the evidence /c/ev.img through the
// FUSE mount at /c/n (fuseblk)"), for `untold` the path and the layer that
// cannot be told; cleared for `clear`. Judged by what is under it alone:
// whether the file predates the run is its opener's to say (`untold` marks).
reach_answer descriptor_reach(int fd, const file_identities& sources, std::string& why);
// The same for a standard stream handed to the run (opened by its starter:
// the run made nothing): a layer under it that cannot be told makes it
// `untold` only where its file system has no line in the run's table, or
// lies in a regular file (maybe the source) while a source is read through
// such a layer; else it is judged by what it holds. With `volume_to_come`
// (asked before the run opens its volume), a stream on a FUSE or NTFS mount,
// which only that volume tells from its files, is `unknown` till it opens.
reach_answer stream_reach(int fd, const file_identities& sources, std::string& why, bool volume_to_come = false);

// What something made in the folder open at `dirfd` (a file, a folder below it)
// would do to `sources`: `source` where the folder is or is stored on one (a
// disk that is one, a loop device over one, a mount of one); `untold`, `why`
// naming the path and layer, where a layer under it cannot be told, memory ran
// out, or a source is read through such a layer while the folder's file system
// lies in a regular file, maybe that source. `clear` for no folder.
reach_answer folder_descriptor_reach(int dirfd, const file_identities& sources, std::string& why);

enum class output_open {
  truncate,    // created when missing, emptied after the check
  append,      // created when missing, written at its end
  create_new,  // created only when nothing of that name exists, not even a link
  rewrite,     // as truncate, judged by identity alone: the general file
               // utilities' writes, text edited in place (UTF-16 holds NULs)
  extend,      // as append, judged by identity alone: their appends
};

enum class output_result { opened, is_source, exists, no_reader, failed, untold, binary };

// The results that fail even a caller that passes over a file it cannot open
// (a report, a log): the evidence, maybe the evidence, a FIFO nobody reads.
inline bool refused(output_result r) {
  return r == output_result::is_source || r == output_result::no_reader || r == output_result::untold ||
         r == output_result::binary;
}

// Opens `path` for binary output in `stream` (closed first) as `how` says. A
// file that writes one of `sources` (one to be made, by its folder) is
// is_source; one whose store cannot be told, or that was there while a
// source is read through such a layer, untold: each left as it was, with
// "refused to write: <path>: <why>" on standard error. One to truncate or
// append to whose first 8 KiB hold no text (utils/binary_head) is binary,
// with binary_refusal's text. `exists`: create_new found the name taken. A
// FIFO nobody reads is not waited for: no_reader, with "no reader: <path>"
// on standard error. Memory that runs out is `failed`, the file unopened.
// On any result but `opened` the stream is closed with failbit set.
output_result open_output(std::ofstream& stream, const std::string& path, const file_identities& sources,
                          output_open how);
output_result open_output(std::ofstream& stream, const std::wstring& path, const file_identities& sources,
                          output_open how);
// The same check, handing the file over in `fd` (else -1; the caller closes
// it): blocking, closed on exec, at the start, or appending each write for
// append. With `readable` a regular file or block device is open for reading
// back too; a FIFO only for writing, for one open to read would never see its
// reader go. A file made takes `permission` less the umask.
output_result open_output(int& fd, const std::string& path, const file_identities& sources, output_open how,
                          bool readable = false, uint32 permission = 0666);
// The same as a stdio stream, open for reading too where the descriptor is
// ("w+" or "a+", else "w" or "a"); null on any result but `opened`.
output_result open_output(std::FILE*& file, const std::string& path, const file_identities& sources,
                          output_open how);

enum class rename_result { renamed, taken, failed };

// Gives the file `from` the name `to` only while nothing holds it (where a file
// system lacks both a no-replace rename and links, as rclone's mounts, it is
// found free just before a plain rename). `taken`: a regular file (not a link)
// holds it; both stay. Else (a link or folder there, any failure): `failed`.
rename_result rename_output(const std::string& from, const std::string& to);
rename_result rename_output(const std::wstring& from, const std::wstring& to);

// True, after "refused to write: <shown>: it is the evidence <source>" on
// standard error (`shown`: `path` unless given), when the name `path` itself
// (a link there, not what it leads to) is one of `sources`, or memory runs
// out: renaming a file onto it would take the evidence's name away.
bool names_source(const std::string& path, const file_identities& sources, const std::string& shown = std::string());

// True, after that refusal on standard error, when making the folder `path`
// with those missing above it would write one of `sources`, or files later made
// in it would, or it cannot be told: a folder to be made into, or `path` if
// there, is not clear (folder_descriptor_reach). Nothing is made. "." and ".."
// are taken as the system will once the folders before them exist, so climbing
// out of a folder to be made leads the check where it leads the mkdir.
bool folder_writes_source(const std::string& path, const file_identities& sources);

}  // namespace uni
