#pragma once
// Enumerating the host file system: one directory at a time, directory
// patterns whose components may be a whole `*`, and file masks. Symbolic
// links are listed as what they are, never followed, so a link cycle cannot
// make an expansion endless; a directory that cannot be read yields nothing.
#include <iosfwd>
#include <string>
#include <vector>

#include "utils/types.h"

struct dir_listing_entry {
  std::string path;  // listed directory + name; a subdirectory's ends with a separator
  std::string name;  // empty for a subdirectory
  bool is_dir = false;
  int32 level = 0;  // the listing's level for a file, one more for a subdirectory
};

struct dir_listing_entry_w {
  std::wstring path;
  std::wstring name;
  bool is_dir = false;
  int32 level = 0;
};

dir_listing_entry_w to_wide_entry(const dir_listing_entry& entry);

// Appends the entries of `dir` ("." and ".." left out). The name is joined
// to `dir` as given, so `dir` should end with a separator. False when the
// directory cannot be opened or nothing was appended.
bool list_directory(const std::string& dir, std::vector<dir_listing_entry>& out, int level, bool dirs_only,
                    bool forward_slash);

// One pass: the first `*` component of each path present at the start is
// replaced by each subdirectory found there (the first in place, the others
// appended); a path whose `*` directory has none becomes "". True when any
// path changed.
bool expand_star_dirs(std::vector<std::string>& paths, bool forward_slash);
// Appends the pattern and expands every `*` component. Always true.
bool expand_dir_pattern(const char* pattern, std::vector<std::string>& out);
bool print_dir_pattern(const char* pattern, std::ostream& os);
bool expand_dir_pattern_w(const wchar_t* pattern, std::vector<std::wstring>& out);

// Files and subdirectories of the directories a pattern names, selected by a
// mask "base.ext" whose base or extension may be a whole `*` (case ignored;
// "*.*" when empty). True when anything was selected.
bool find_files(const std::string& pattern, const std::string& mask, std::vector<dir_listing_entry>& out);
bool find_file_paths(const std::string& pattern, const std::string& mask, std::vector<std::string>& out);
bool find_file_paths(const char* pattern, const char* mask, std::vector<std::string>& out);
bool find_file_paths(const char* pattern, std::vector<std::string>& out);
bool find_files_w(const std::wstring& pattern, const std::wstring& mask, std::vector<dir_listing_entry_w>& out);
bool find_file_paths_w(const std::wstring& pattern, const std::wstring& mask, std::vector<std::wstring>& out);
// One line per entry: its level in 3 digits, ": " and its path.
bool print_found_files(const char* pattern, std::ostream& os);
