#include "utils/string_lists.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <sstream>

#include "utils/case_text.h"
#include "utils/trim_join.h"
#include "utils/utf16le.h"
#include "utils/utf_convert.h"

namespace {

void add_piece_w(std::wstring piece, bool trim, std::vector<std::wstring>& out) {
  if (trim) trim_w(piece);
  if (!piece.empty()) out.push_back(std::move(piece));
}

void add_piece(std::string piece, bool do_trim, std::vector<std::string>& out) {
  if (do_trim) trim(piece);
  if (!piece.empty()) out.push_back(std::move(piece));
}

// The line separator of find_prefixed_lines: CR LF until a text without any
// CR LF but with LF is met, LF from then on.
std::string& line_separator() {
  static std::string sep = "\r\n";
  return sep;
}

}  // namespace

bool split_w_trim(const std::wstring& s, wchar_t separator, std::vector<std::wstring>& out, bool trim) {
  if (s.empty()) return false;
  // Unless NUL is the separator the text ends at its first NUL, as a C
  // string would.
  const size_t end = separator == 0 ? s.size() : std::min(s.find(L'\0'), s.size());
  size_t start = 0;
  while (start <= end) {
    size_t pos = s.find(separator, start);
    if (pos == std::wstring::npos || pos > end) pos = end;
    add_piece_w(s.substr(start, pos - start), trim, out);
    if (pos == end) break;
    start = pos + 1;
  }
  return true;
}

bool split_w(const std::wstring& s, wchar_t separator, std::vector<std::wstring>& out) {
  return split_w_trim(s, separator, out, false);
}

bool split_nul_list_w(const std::vector<wchar_t>& chars, std::vector<std::wstring>& out) {
  split_w_trim(std::wstring(chars.begin(), chars.end()), L'\0', out, false);
  return true;
}

int split_wchars(const wchar_t* buffer, int count, wchar_t separator, std::vector<std::wstring>& out,
                 uint32& separators, bool trim) {
  separators = 0;
  if (!buffer || count < 1) return 0;
  std::wstring piece;
  for (int i = 0; i < count; ++i) {
    if (buffer[i] == separator) {
      ++separators;
      add_piece_w(piece, trim, out);
      piece.clear();
    } else {
      piece.push_back(buffer[i]);
    }
  }
  add_piece_w(piece, trim, out);
  return count;
}

int split_bytes(const char* buffer, int length, char separator, std::vector<std::string>& out,
                uint32& separators, bool trim) {
  separators = 0;
  if (!buffer || length < 1) return 0;
  std::string piece;
  for (int i = 0; i < length; ++i) {
    if (buffer[i] == separator) {
      ++separators;
      add_piece(piece, trim, out);
      piece.clear();
    } else {
      piece.push_back(buffer[i]);
    }
  }
  add_piece(piece, trim, out);
  return length;
}

int split_at_pair(const byte* buffer, int length, uint16 separator, std::vector<std::string>& out, bool trim) {
  if (!buffer || length <= 0) return 0;
  std::string piece;
  int i = 0;
  while (i < length) {
    if (i + 1 < length && static_cast<uint16>(buffer[i] | (buffer[i + 1] << 8)) == separator) {
      add_piece(piece, trim, out);
      piece.clear();
      i += 2;
    } else {
      piece.push_back(static_cast<char>(buffer[i]));
      ++i;
    }
  }
  add_piece(piece, trim, out);
  return i;
}

void split_utf16_list(const uint16* buffer, std::vector<std::wstring>& out, int byte_length) {
  if (!buffer || byte_length == 0) return;
  if (byte_length != -1) {
    if (byte_length < 0) return;
    std::wstring all;
    append_utf16_units(all, buffer, static_cast<uint32>(byte_length) / 2, false);
    out.push_back(all);
    return;
  }
  // Strings of at most 512 units each; an empty one, or one without a NUL
  // in reach, ends the list.
  const uint16* p = buffer;
  for (;;) {
    uint32 n = 0;
    uint16 u = 1;
    for (; n <= 512; ++n) {
      std::memcpy(&u, p + n, 2);
      if (u == 0) break;
    }
    if (n == 0 || n > 512) break;
    std::wstring s;
    append_utf16_units(s, p, n, false);
    out.push_back(s);
    p += n + 1;
  }
  out.push_back(std::wstring());
}

void split_utf16_nul_list(const uint16* buffer, std::vector<std::wstring>& out, int byte_length) {
  out.clear();
  if (!buffer || byte_length <= 0) return;
  const uint32 units = static_cast<uint32>(byte_length) / 2;
  uint32 start = 0;
  for (uint32 i = 0; i <= units; ++i) {
    uint16 u = 0;
    if (i < units) std::memcpy(&u, buffer + i, 2);
    if (u == 0) {
      if (i > start) {
        std::wstring s;
        append_utf16_units(s, buffer + start, i - start, false);
        out.push_back(s);
      }
      start = i + 1;
    }
  }
}

int split_words_quoted(const char* text, int most_words, std::vector<std::string>& out, bool join_quotes) {
  if (!text) return 0;
  std::istringstream in{std::string(text)};
  std::vector<std::string> words;
  std::string w;
  while ((most_words <= 0 || static_cast<int>(words.size()) < most_words) && in >> w) words.push_back(w);
  const int read = static_cast<int>(words.size());
  if (!join_quotes || words.size() < 2) {
    out = words;
    return read;
  }
  bool open = false;
  std::string group;
  for (const std::string& word : words) {
    const bool starts = word[0] == '"';
    const bool ends = word.back() == '"';
    if (!open) {
      if (!starts) {
        out.push_back(word);
      } else if (word.size() >= 2 && ends) {
        out.push_back(word.substr(1, word.size() - 2));
      } else {
        open = true;
        group = word.size() > 1 ? word.substr(1) + " " : std::string();
      }
    } else if (!ends) {
      group += word + " ";
    } else {
      group += word.substr(0, word.size() - 1);
      out.push_back(group);
      open = false;
      group.clear();
    }
  }
  if (open) out.push_back(group);
  return read;
}

bool split_words(const std::string& s, std::vector<std::string>& out) {
  if (s.empty()) return false;
  return split_words_quoted(s.c_str(), 0, out, true) > 0;
}

bool find_prefixed_lines(const char* text, uint32 size, const char* prefix, std::vector<std::string>& out,
                         bool all) {
  if (!text || size == 0 || !prefix) return false;
  const std::string t(text);
  std::string& sep = line_separator();
  if (t.find("\r\n") == std::string::npos) {
    if (t.find('\n') == std::string::npos) return false;
    sep = "\n";
  }
  const size_t plen = std::strlen(prefix);
  bool found = false;
  size_t start = 0;
  while (start < t.size()) {
    size_t end = t.find(sep, start);
    if (end == std::string::npos) end = t.size();
    if (end - start >= plen && equal_n_nocase(t.c_str() + start, prefix, static_cast<int>(plen))) {
      out.push_back(t.substr(start, end - start));
      found = true;
      if (!all) return true;
    }
    start = end + sep.size();
  }
  return found;
}

bool erase_at_w(int index, std::vector<std::wstring>& list) {
  if (index < 0 || static_cast<size_t>(index) >= list.size()) return false;
  list.erase(list.begin() + index);
  return true;
}

bool erase_at(int index, std::vector<std::string>& list) {
  if (index < 0 || static_cast<size_t>(index) >= list.size()) return false;
  list.erase(list.begin() + index);
  return true;
}

bool remove_at_u32(int index, uint32& count, uint32* array) {
  if (!array || index < 0 || static_cast<uint32>(index) >= count) return false;
  std::memmove(array + index, array + index + 1, (count - static_cast<uint32>(index) - 1) * sizeof(uint32));
  --count;
  return true;
}

bool merge_sorted_unique(const std::vector<std::string>& a, const std::vector<std::string>& b,
                         std::vector<std::string>& out, bool lower) {
  std::set<std::string> all;
  for (const auto* list : {&a, &b}) {
    for (std::string s : *list) {
      if (lower) to_lower(s);
      all.insert(s);
    }
  }
  out.assign(all.begin(), all.end());
  return true;
}

void strings_to_wstrings(const std::vector<std::string>& in, std::vector<std::wstring>& out) {
  out.clear();
  for (const std::string& s : in) out.push_back(utf8_to_wstring(s));
}

void wstrings_to_strings(const std::vector<std::wstring>& in, std::vector<std::string>& out) {
  out.clear();
  for (const std::wstring& s : in) out.push_back(wstring_to_utf8(s));
}

bool column_widths(std::vector<uint32>& widths, const std::vector<std::vector<std::string>>& rows) {
  widths.clear();
  for (const auto& row : rows) {
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    for (size_t j = 0; j < row.size(); ++j) {
      widths[j] = std::max(widths[j], static_cast<uint32>(row[j].size()));
    }
  }
  return !widths.empty();
}

bool strings_to_utf16_multi(const std::vector<std::string>& in, std::vector<byte>& out) {
  out.clear();
  // One UTF-16LE unit per byte (the byte taken as a code point 0 to 255),
  // a NUL unit after each string, two NUL bytes after the whole list.
  for (const std::string& s : in) {
    for (char c : s) {
      out.push_back(static_cast<byte>(c));
      out.push_back(0);
    }
    out.push_back(0);
    out.push_back(0);
  }
  if (!out.empty()) {
    out.push_back(0);
    out.push_back(0);
  }
  return !out.empty();
}

bool text_to_pairs(const char* text, int length, std::vector<std::pair<std::string, std::string>>& out) {
  if (!text || length == 0) return false;
  out.clear();
  return false;
}
