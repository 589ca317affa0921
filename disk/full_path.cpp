#include "disk/full_path.h"

#include <vector>

#include "disk/fs_ops.h"
#include "utils/trim_join.h"
#include "utils/utf_convert.h"

namespace {

// Doubled separators made single, and the text led by a separator.
std::string tidy(const std::string& text, char sep) {
  std::string out;
  out.reserve(text.size() + 1);
  for (char c : text)
    if (c != sep || out.empty() || out.back() != sep) out += c;
  if (!out.empty() && out[0] != sep) out.insert(out.begin(), sep);
  return out;
}

}  // namespace

std::string get_full_path(std::string& path, char separator) {
  for (char& c : path)
    if (c == '"' || c == '\'') c = ' ';
  trim(path);
  if (path.empty()) return std::string();
  const char sep = path.find('/') != std::string::npos ? '/' : path.find('\\') != std::string::npos ? '\\' : separator;
  if (path[0] == '/' || path[0] == '\\') return path;
  // A directory part in drive-letter form (D:/dir/f) is not joined to the
  // current directory; a bare name is a file here, whatever its second
  // character (x:y.img).
  const bool drive = path.size() > 1 && path[1] == ':' && path.find_first_of("/\\") != std::string::npos;
  const std::string cwd = drive ? std::string() : current_directory();
  // A bare ".." is joined as typed, not resolved to the parent.
  if (!drive && path == "..") return tidy(cwd + sep + path, sep);
  // A leading "." is the current directory the path is joined to; every
  // other "." stays where it was typed.
  const bool lead_dot = !drive && path[0] == '.' && (path.size() == 1 || path[1] == sep);
  const std::string joined = drive ? path : cwd + sep + (lead_dot ? path.substr(1) : path);

  // Lexical resolution: ".." removes the name before it (and the "."
  // components that follow that name), empty components collapse.
  std::vector<std::string> parts;
  size_t names = 0;
  bool climbed = false;
  size_t start = 0;
  while (start <= joined.size()) {
    size_t end = joined.find(sep, start);
    if (end == std::string::npos) end = joined.size();
    const std::string part = joined.substr(start, end - start);
    if (part == "..") {
      // Climbing as far as the root or beyond, wherever in the path, has no
      // sound lexical answer: the steps are kept, joined to the current
      // directory, rather than clamped at the root into a path the user did
      // not name.
      if (!drive && names <= 1) {
        std::string kept = joined;
        // A final ".." names a directory: "." follows it, as it follows any
        // directory leaf.
        if (path.size() > 2 && path.compare(path.size() - 3, 3, std::string(1, sep) + "..") == 0)
          kept += std::string(1, sep) + ".";
        return tidy(kept, sep);
      }
      while (!parts.empty() && parts.back() == ".") parts.pop_back();
      if (!parts.empty()) {
        parts.pop_back();
        --names;
        climbed = true;
      }
    } else if (!part.empty()) {
      parts.push_back(part);
      if (part != ".") ++names;
    }
    start = end + 1;
  }
  // A final "." after a climb, or after the leading ".", is the directory
  // reached: it ends in a separator as "../" does, not in "/.".
  const std::string dot_leaf = std::string(1, sep) + ".";
  const bool dropped_dot = (climbed || path == "." + dot_leaf) && !parts.empty() && parts.back() == "." &&
                           path.size() >= 2 && path.compare(path.size() - 2, 2, dot_leaf) == 0;
  if (dropped_dot) parts.pop_back();
  std::string result;
  for (const std::string& part : parts) result += sep + part;
  // A path naming a directory ("dir/", ".", "x/..") keeps its final
  // separator; one that ends in a kept "." ends there.
  const std::string& last = path;
  const bool dir_form = dropped_dot || last.back() == sep || last == "." ||
                        (last.size() >= 3 && last.compare(last.size() - 3, 3, std::string(1, sep) + "..") == 0);
  if (result.empty() || dir_form) result += sep;
  return result;
}

std::wstring get_full_path_w(const std::wstring& path, char separator) {
  if (path.empty()) return std::wstring();
  std::string narrow;
  wstring_to_utf8_into(narrow, path);
  std::wstring out;
  utf8_to_wstring_into(out, get_full_path(narrow, separator));
  return out;
}

std::wstring get_full_path_w(const std::wstring& path, wchar_t separator) {
  return get_full_path_w(path, static_cast<char>(separator));
}
