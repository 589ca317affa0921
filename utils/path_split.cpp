#include "utils/path_split.h"

#include <cstring>
#include <initializer_list>

#include "utils/case_text.h"
#include "utils/utf16le.h"
#include "utils/utf_convert.h"

namespace {

template <typename Str>
void split_at(const Str& path, size_t pos, const Str& dotdot_suffix, Str& dir, Str& leaf) {
  dir = path.substr(0, pos);
  leaf = path.substr(pos + 1);
  const Str dotdot(2, '.');
  if (leaf == dotdot) {
    leaf = Str(1, '.');
    dir += dotdot_suffix;
  }
}

template <typename Str>
void split_any(const Str& path, const Str& back_dotdot, const Str& slash_dotdot, Str& dir, Str& leaf) {
  const size_t back = path.rfind('\\');
  if (back != Str::npos && back != 0) {
    split_at(path, back, back_dotdot, dir, leaf);
    return;
  }
  if (back == Str::npos) {
    const size_t slash = path.rfind('/');
    if (slash != Str::npos && slash != 0) {
      split_at(path, slash, slash_dotdot, dir, leaf);
      return;
    }
  }
  dir = Str(1, '.');
  leaf = path;
}

// The first occurrence of what in s, or in a lower-cased copy of s with
// nocase (what as given: callers that ignore its case lower it first); npos
// also for an occurrence at the end of s.
size_t find_for_edit(const std::string& s, const std::string& what, bool nocase) {
  size_t pos;
  if (nocase) {
    std::string folded = s;
    to_lower(folded);
    pos = folded.find(what);
  } else {
    pos = s.find(what);
  }
  return pos == s.size() ? std::string::npos : pos;
}

}  // namespace

bool split_path(const std::string& path, std::string& dir, std::string& leaf) {
  if (path.empty()) return false;
  dir.clear();
  leaf.clear();
  split_any<std::string>(path, "\\..", "//..", dir, leaf);
  return true;
}

bool split_path(const char* path, std::string& dir, std::string& leaf) {
  if (!path) return false;
  return split_path(std::string(path), dir, leaf);
}

bool split_path_ext(const char* path, std::string& dir, std::string& base, std::string& ext) {
  dir.clear();
  base.clear();
  ext.clear();
  if (!path) return false;
  std::string leaf;
  if (!split_path(std::string(path), dir, leaf)) return false;
  const size_t dot = leaf.find('.');
  if (dot == std::string::npos) {
    base = leaf;
  } else {
    base = leaf.substr(0, dot);
    ext = leaf.substr(dot + 1);
  }
  return true;
}

bool split_path_w(const std::wstring& path, std::wstring& dir, std::wstring& leaf) {
  if (path.empty()) return false;
  dir.clear();
  leaf.clear();
  split_any<std::wstring>(path, L"\\..", L"//..", dir, leaf);
  return true;
}

bool split_path_utf16(const uint16* path, std::wstring& dir, std::wstring& leaf) {
  if (!path) return false;
  std::wstring wide;
  unicode16_to_wstring(path, wide, -1);
  return split_path_w(wide, dir, leaf);
}

bool split_path_ext_w(const std::wstring& path, std::wstring& dir, std::wstring& name, std::wstring& ext) {
  dir.clear();
  name.clear();
  ext.clear();
  std::wstring leaf;
  if (!split_path_w(path, dir, leaf)) return false;
  const size_t dot = leaf.find(L'.');
  if (dot == std::wstring::npos) {
    name = leaf;
  } else {
    name = leaf.substr(0, dot);
    ext = leaf.substr(dot + 1);
  }
  return true;
}

bool replace_first(std::string& s, std::string& what, const std::string& with, bool nocase) {
  if (nocase) to_lower(what);
  const size_t pos = find_for_edit(s, what, nocase);
  if (pos == std::string::npos) return false;
  s = s.substr(0, pos) + with + s.substr(pos + what.size());
  return true;
}

bool replace_first_nocase(std::string& s, const char* what, const char* with) {
  if (!what || !with) return false;
  std::string folded(what);
  return replace_first(s, folded, std::string(with), true);
}

std::string replace_all(const std::string& s, const std::string& what, const std::string& with) {
  std::string out;
  if (s.empty() || what.empty() || with.empty()) return out;
  out.reserve(s.size() + 256);
  size_t from = 0;
  for (size_t pos = s.find(what); pos != std::string::npos; pos = s.find(what, from)) {
    out.append(s, from, pos - from);
    out += with;
    from = pos + what.size();
  }
  out.append(s, from, std::string::npos);
  return out;
}

bool erase_first(std::string& s, std::string& what, bool nocase) {
  if (nocase) to_lower(what);
  const size_t pos = find_for_edit(s, what, nocase);
  if (pos == std::string::npos) return false;
  s.erase(pos, what.size());
  return true;
}

bool erase_first_in_place(char* s, const char* what, bool nocase) {
  if (!s || !what) return false;
  std::string text(s), w(what);
  if (!erase_first(text, w, nocase)) return false;
  std::memcpy(s, text.c_str(), text.size() + 1);
  return true;
}

bool erase_first_in_place_w(wchar_t* s, const wchar_t* what, bool nocase) {
  if (!s || !what) return false;
  std::string text = wstring_to_utf8(s);
  std::string w = wstring_to_utf8(what);
  const size_t old_len = std::wcslen(s);
  if (text.empty() || !erase_first(text, w, nocase)) return false;
  std::wstring back = utf8_to_wstring(text);
  // The shortened text always fits where the longer one stood.
  if (back.size() > old_len) return false;
  std::memcpy(s, back.c_str(), (back.size() + 1) * sizeof(wchar_t));
  return true;
}

bool erase_from(std::string& s, const std::string& what, bool nocase) {
  const size_t pos = find_for_edit(s, what, nocase);
  if (pos == std::string::npos) return false;
  s.erase(pos);
  return true;
}

bool erase_from(std::string& s, char c, bool nocase) { return erase_from(s, std::string(1, c), nocase); }

void escape_chars(std::string& s, const std::string& set) {
  if (set.empty()) return;
  std::string out;
  out.reserve(s.size() + 8);
  for (char c : s) {
    if (set.find(c) != std::string::npos) out.push_back('\\');
    out.push_back(c);
  }
  s.swap(out);
}

bool normalize_system_path(const char* path, std::string& out, const char* system_root) {
  out.clear();
  if (!path || !system_root) return false;
  out = path;
  erase_from(out, " /", true);
  erase_from(out, " -k", true);
  // Folded before the root goes in, so the root keeps the caller's case and
  // the rest of the path comes out in lower case.
  to_lower(out);
  const std::string root(system_root);
  for (const char* name : {"%SystemRoot%", "\\SystemRoot", "SystemRoot"}) {
    std::string what(name);
    replace_first(out, what, root, true);
  }
  std::string qq = "\\??\\";
  erase_first(out, qq, false);
  if (out.compare(0, 8, "system32") == 0) out = root + "\\" + out;
  return true;
}
