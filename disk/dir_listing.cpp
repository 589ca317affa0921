#include "disk/dir_listing.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <iomanip>
#include <ostream>

#include "utils/case_text.h"
#include "utils/path_split.h"
#include "utils/utf_convert.h"

namespace {

char separator_for(bool forward_slash) { return forward_slash ? '/' : '\\'; }

// Base name and extension of a mask or a path, lower-cased; an empty base
// or extension of a mask stands for any.
struct name_parts {
  std::string base;
  std::string ext;
};

bool split_lowered(const std::string& path, name_parts& parts) {
  std::string dir;
  if (!split_path_ext(path.c_str(), dir, parts.base, parts.ext)) return false;
  to_lower(parts.base);
  to_lower(parts.ext);
  return true;
}

// `*` stands for a whole base or a whole extension, never for part of one.
bool mask_selects(const name_parts& mask, const std::string& path) {
  name_parts entry;
  if (!split_lowered(path, entry)) return true;
  if (mask.base != "*" && entry.base != mask.base) return false;
  if (mask.ext != "*" && entry.ext != mask.ext) return false;
  return true;
}

}  // namespace

dir_listing_entry_w to_wide_entry(const dir_listing_entry& entry) {
  dir_listing_entry_w wide;
  wide.path = utf8_to_wstring(entry.path);
  wide.name = utf8_to_wstring(entry.name);
  wide.is_dir = entry.is_dir;
  wide.level = entry.level;
  return wide;
}

bool list_directory(const std::string& dir, std::vector<dir_listing_entry>& out, int level, bool dirs_only,
                    bool forward_slash) {
  DIR* handle = ::opendir(dir.c_str());
  if (!handle) return false;
  bool appended = false;
  while (const dirent* d = ::readdir(handle)) {
    if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
    dir_listing_entry entry;
    entry.path = dir + d->d_name;
    // lstat: a link to a directory is listed as the link it is, so no
    // expansion can follow a link back into its own tree. An entry whose
    // status cannot be read is still listed (as a file): the examiner sees
    // its name.
    struct stat st;
    entry.is_dir = ::lstat(entry.path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    if (entry.is_dir) {
      entry.path += separator_for(forward_slash);
      entry.level = level + 1;
    } else {
      if (dirs_only) continue;
      entry.name = d->d_name;
      entry.level = level;
    }
    out.push_back(entry);
    appended = true;
  }
  ::closedir(handle);
  return appended;
}

bool expand_star_dirs(std::vector<std::string>& paths, bool forward_slash) {
  const char sep = separator_for(forward_slash);
  const std::string star = std::string(1, sep) + '*' + sep;
  bool changed = false;
  const size_t present = paths.size();
  std::vector<dir_listing_entry> subdirs;
  for (size_t i = 0; i < present; ++i) {
    if (paths[i].empty()) continue;
    const size_t at = paths[i].find(star);
    if (at == std::string::npos) continue;
    const std::string rest = paths[i].substr(at + star.size());
    subdirs.clear();
    list_directory(paths[i].substr(0, at + 1), subdirs, 0, true, forward_slash);
    changed = true;
    if (subdirs.empty()) {
      paths[i].clear();
      continue;
    }
    paths[i] = subdirs[0].path + rest;
    for (size_t s = 1; s < subdirs.size(); ++s) paths.push_back(subdirs[s].path + rest);
  }
  return changed;
}

bool expand_dir_pattern(const char* pattern, std::vector<std::string>& out) {
  if (!pattern) return true;
  const std::string text(pattern);
  const bool forward_slash = text.find('/') != std::string::npos;
  out.push_back(text);
  // Each pass replaces one `*` component of every path, so a pattern needs
  // at most as many passes as it has stars. The bound also ends the
  // expansion when a directory is itself named "*" and would otherwise
  // stand in for its own pattern again and again.
  const size_t passes = static_cast<size_t>(std::count(text.begin(), text.end(), '*'));
  for (size_t pass = 0; pass < passes; ++pass)
    if (!expand_star_dirs(out, forward_slash)) break;
  return true;
}

bool print_dir_pattern(const char* pattern, std::ostream& os) {
  std::vector<std::string> paths;
  expand_dir_pattern(pattern, paths);
  for (const std::string& p : paths) os << p << std::endl;
  return true;
}

bool expand_dir_pattern_w(const wchar_t* pattern, std::vector<std::wstring>& out) {
  if (!pattern) return true;
  std::vector<std::string> narrow;
  const bool ok = expand_dir_pattern(wstring_to_utf8(pattern).c_str(), narrow);
  for (const std::string& p : narrow) out.push_back(utf8_to_wstring(p));
  return ok;
}

bool find_files(const std::string& pattern, const std::string& mask, std::vector<dir_listing_entry>& out) {
  out.clear();
  if (pattern.empty()) return false;
  const bool forward_slash = pattern.find('/') != std::string::npos;
  std::string dir_pattern = pattern;
  if (dir_pattern.back() != separator_for(forward_slash)) dir_pattern += separator_for(forward_slash);

  std::vector<std::string> dirs;
  expand_dir_pattern(dir_pattern.c_str(), dirs);
  std::vector<dir_listing_entry> listed;
  for (const std::string& d : dirs) {
    if (d.empty()) continue;
    // A star that is not a whole component lists the text before it.
    list_directory(d.substr(0, d.find('*')), listed, 0, false, forward_slash);
  }

  name_parts wanted;
  std::string lowered = mask.empty() ? std::string("*.*") : mask;
  to_lower(lowered);
  split_lowered(lowered, wanted);
  if (wanted.base.empty()) wanted.base = "*";
  if (wanted.ext.empty()) wanted.ext = "*";
  for (const dir_listing_entry& e : listed)
    if (mask_selects(wanted, e.path)) out.push_back(e);
  return !out.empty();
}

bool find_file_paths(const std::string& pattern, const std::string& mask, std::vector<std::string>& out) {
  std::vector<dir_listing_entry> found;
  const bool ok = find_files(pattern, mask, found);
  for (const dir_listing_entry& e : found) out.push_back(e.path);
  return ok;
}

bool find_file_paths(const char* pattern, const char* mask, std::vector<std::string>& out) {
  return find_file_paths(std::string(pattern ? pattern : ""), std::string(mask ? mask : ""), out);
}

bool find_file_paths(const char* pattern, std::vector<std::string>& out) { return find_file_paths(pattern, "", out); }

bool find_files_w(const std::wstring& pattern, const std::wstring& mask, std::vector<dir_listing_entry_w>& out) {
  std::vector<dir_listing_entry> found;
  const bool ok = find_files(wstring_to_utf8(pattern), mask.empty() ? std::string() : wstring_to_utf8(mask), found);
  for (const dir_listing_entry& e : found) out.push_back(to_wide_entry(e));
  return ok;
}

bool find_file_paths_w(const std::wstring& pattern, const std::wstring& mask, std::vector<std::wstring>& out) {
  std::vector<dir_listing_entry_w> found;
  const bool ok = find_files_w(pattern, mask, found);
  for (const dir_listing_entry_w& e : found) out.push_back(e.path);
  return ok;
}

bool print_found_files(const char* pattern, std::ostream& os) {
  std::vector<dir_listing_entry> found;
  const bool ok = find_files(std::string(pattern ? pattern : ""), "", found);
  os << std::setfill('0') << std::right;
  for (const dir_listing_entry& e : found) os << std::setw(3) << e.level << ": " << e.path << std::endl;
  return ok;
}
