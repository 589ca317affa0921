#pragma once
// The directory work loop: takes queued directories in ascending MFT entry
// order, gathers and writes each one's entries and queues its subdirectories
// while the depth limit allows.
#include <map>
#include <string>

#include "app/user_ctx.h"
#include "utils/types.h"

struct dir_work_item {
  std::string path;  // UTF-8, ends in a backslash
  ulong64 level = 0;
  ulong64 entry = 0;
};

typedef std::map<ulong64, dir_work_item> dir_work_map;

// Adds an item unless its entry is already waiting; a waiting item takes the
// new path when its own is shorter (a long name beats a DOS short name).
void add_dir_work_item(dir_work_map& work, const std::string& path, ulong64 level, ulong64 entry);

// The status text for a directory: "parsing: " and the path cut to its tail
// when longer than 50 characters, with every '%' removed.
std::string dir_status_text(const std::string& path);

// Runs until the map is empty; each directory is gathered and written at
// most once, also when the directory entries form a cycle. An exception
// while a directory is gathered writes "exception caught"; what was
// gathered before it is still followed and written, and the loop goes on.
// Returns 0; -1 as soon as standard output has failed to take what was
// written, or at the end, after the message on standard error, when an
// exception cut a gathering short. An exception outside the gathering
// (queueing, writing) leaves the loop; what was written of the directory
// then is whole entries.
int run_dir_work_loop(dir_work_map& work, user_ctx& ctx);
