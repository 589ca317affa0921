#pragma once
// Whole-file reads and safe whole-file replacement for the functions that
// rewrite a text file: the new content is written to a temporary file
// beside the target and renamed over it, so a failure at any point leaves
// the target as it was. The input and the target may be the same file.
#include <string>

// The whole file; false (out empty) when it cannot be opened or read.
bool read_file_bytes(const char* path, std::string& out);
// Replaces (or creates) path with exactly `data`. An existing file keeps
// its permission bits. A symbolic link stays a link: the file it names is
// the one rewritten. False, with the target untouched and no temporary
// file left, when anything fails.
bool replace_file_contents(const char* path, const std::string& data);
