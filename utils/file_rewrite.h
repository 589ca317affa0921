#pragma once
// Whole-file reads and whole-file rewrites for the functions that rewrite a
// text file. A rewrite keeps the file it names: it is written in place, so
// its inode, its other hard links, its owner and its mode stay, a symbolic
// link stays a link to it, and a FIFO or a device stays what it is and gets
// the text. The input and the target may be the same file.
#include <string>

#include "utils/output_file.h"
#include "utils/types.h"

// The whole file, when it holds at most `most` bytes: each caller passes
// the longest text it can measure, for a part of a longer file must never
// stand for the whole. False (out empty) when the file cannot be opened or
// read, when it is longer (a regular file is refused by its size, unread;
// a FIFO or a device that goes on, once more than that has come), or when
// memory to hold it cannot be had. A FIFO nobody writes to is not waited
// on: false at once.
bool read_file_bytes(const char* path, std::string& out, uint64 most);
// The same, adding to `identities` the file read (and, for a loop device,
// the files behind it), for a writer that must not write over its input.
bool read_file_bytes(const char* path, std::string& out, uint64 most, uni::file_identities& identities);
// The same, telling through `no_memory` whether a false result came of
// memory that could not be had to hold the file (false for every other
// result), for a caller whose answer to that differs.
bool read_file_bytes(const char* path, std::string& out, uint64 most, bool& no_memory);
// Writes exactly `data` into the file `path` names, through the guarded
// opener: a FIFO that nobody reads is refused, never waited on; the text
// it edits may be UTF-16, NULs and all, so its head is not judged. A regular
// file gets the new text first as a trial beside it, which is removed again:
// when the file system does not take the text whole (no room, a size
// limit), the result is false and the file keeps its old text whole. A
// missing file is made with 0666 less the process's mask (where a link
// points, for a dangling link) and is not left behind half written. False
// for a loop of links, a folder, or any write that fails.
bool replace_file_contents(const char* path, const std::string& data);
