#pragma once
// Opens, once per run, the evidence source the option parser chose.
#include <memory>

#include "app/user_ctx.h"
#include "disk/disk_handle.h"
#include "ntfs/ntfs.h"
#include "utils/output_file.h"

// True when a source is open afterwards. Returns at once when one already is,
// so callers may call it before every use. Prints nothing.
bool initialize_mft(user_ctx& ctx);

// The source of a command line whose run never opened its volume (a wrong
// offset, a disk of many volumes named without one, a snapshot without its
// parent), opened again as the parser names it: its disk, and the first NTFS
// volume on it, which answers for its own files and, asked, for those of
// every other volume of the disk.
struct reopened_source {
  std::unique_ptr<disk_handle> disk;
  std::unique_ptr<CNtfs> volume;  // goes first: it reads through `disk`
};
// Opens it into `held`, saying nothing, and adds to `out` the files its disk
// reads, each answered for by the volume when one was found; a source that is
// not there, or not a disk, adds nothing. False, with nothing added, where it
// cannot be opened for want of a descriptor or memory: nothing can be told.
bool reopen_source(int argc, char** argv, reopened_source& held, uni::file_identities& out);
