#pragma once
// What writing a file writes, for utils/output_file: the file and what
// stands for it (a loop device's file, the overlay layer's or pass-through
// view folder's file it is seen as) and what it is stored on, layer under
// layer (its mount, by mount ID; the disks under that, each chain to its
// end; what a FUSE mount's servers hold open), and any layer not told.
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "utils/output_file.h"

namespace uni {

struct output_reach {
  file_identities self, under;
  // The folders behind a view it is stored in: what is made through the view
  // writes a source that is one (a folder walked), not one stored in one.
  file_identities folders;
  // Files a view passes through (in a folder its entry names): each written
  // only by its own name, no store of the view, but maybe a source read by it.
  file_identities passed;
  std::string why;  // the layer that could not be told; empty when all were
  // A layer nothing tells (a FUSE server out of sight whose table entry
  // names neither a share nor anything here, a loop device whose file is
  // not found), said as a stream's refusal while a source is named; or "".
  std::string unknown;
  // A share under it (another machine's store, told by nothing here): what
  // is read through one is untold, while a listing may go onto one.
  std::string share;
  std::vector<uint64> unknown_mounts;  // the devices of the mounts nothing tells
  // Such a layer that numbers its files as NTFS does: what is made there
  // is left to the volumes open among the sources, which tell their own.
  std::string numbered;
  // Its mount may be a volume's own (FUSE, NTFS), which only that volume can
  // tell: said as why a stream waits for the run's volume to answer.
  std::string volume_layer;
  // What an open source volume says of the file, or why not (`own_untold`).
  std::string own;
  bool own_untold = false;
  // The paths behind it, each asked of the volumes: a bind mount's folder,
  // what a view shows it as, the folder its table names, views over views.
  std::vector<std::string> behind;
  // The folders its own view shows are among them: the view need not be
  // asked of names of its own.
  bool view_followed = false;
  // A file system under it has no line in this process's mount table (a
  // mount of another namespace, reached through /proc/<pid>/root).
  bool unlisted = false;
  // A file system under it lies in a regular file whose head shows a volume,
  // a disk or an image container, or is unreadable: maybe an untold source.
  bool in_file = false;
};

// What an answer is asked for: something made there now, an existing file
// a writer would replace or add to, or a standard stream handed to the run
// (`stream_before_volume`: before the volume the run opens can answer).
enum class reach_use { made, existing, stream, stream_before_volume };

file_identity identity_from(const struct stat& st, uint64 view = 0);
// A block device is the disk it stands for, whichever node names it; a disk
// from the system's lists has no node: its device and inode say nothing.
bool same_file(const file_identity& a, const file_identity& b);

// Adds the files behind the loop device `id` (none for any other file), loop
// over loop to the end, as the kernel shows them to every reader.
void add_loop_chain(file_identity id, file_identities& out);

// Where the descriptor leads, as the system names it; "" when it cannot tell.
std::string descriptor_path(int fd);

// The reach of the open descriptor `fd` of status `st`: a device node is
// stored on the disks of its device, not the one it lies on; a FIFO or
// character device nowhere. Out of memory: bad_alloc, nothing left open.
void reach_of(int fd, const struct stat& st, output_reach& r);

// What writing what `r` reaches does to `sources` for `use`, and why, as
// descriptor_reach, stream_reach, folder_descriptor_reach answer: a source's
// holder matches only the file; an open volume's own is one whoever mounted it.
reach_answer reaches_source(const output_reach& r, const file_identities& sources, reach_use use, std::string& why);

// An open volume's word on an output: `own`, with the file's path in the
// volume and its record, when the file or folder at the path (open at `fd`,
// or -1) is (or a file lies in) one of its own; `untold`, with why, where the
// check could not finish. `behind`: the folders behind the view it lies on
// are asked too, so the view's own names need not be. Asked of every output
// checked against sources naming the volume, from volume_opened to
// volume_closed; the guard never includes the engine.
enum class volume_word { other, own, untold };
typedef volume_word (*volume_question)(void* volume, int fd, const std::string& path, bool behind,
                                       std::string& where, uint64& record);
void volume_opened(void* volume, volume_question ask);
void volume_closed(void* volume);
// In `r.own`, what the open volumes among `sources` say of the file or folder
// open at `fd` and each place behind it (`r.behind`); may throw bad_alloc.
void ask_volumes(int fd, const file_identities& sources, output_reach& r);

// True, after "refused to write: <path>: <why>" to standard error, on refusal.
bool said_refused(reach_answer answer, const std::string& path, const std::string& why);

// A descriptor closed however its scope ends, unless handed on by release().
struct held_descriptor {
  explicit held_descriptor(int opened) : fd(opened) {}
  ~held_descriptor() { reset(-1); }
  held_descriptor(const held_descriptor&) = delete;
  held_descriptor& operator=(const held_descriptor&) = delete;
  void reset(int opened) {  // the one held is closed first
    if (fd >= 0) ::close(fd);
    fd = opened;
  }
  int release() { return std::exchange(fd, -1); }
  int fd;
};

}  // namespace uni
