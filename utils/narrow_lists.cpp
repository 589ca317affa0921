#include "utils/narrow_lists.h"

#include <algorithm>
#include <cstring>

#include "utils/case_text.h"
#include "utils/number_parse.h"
#include "utils/string_lists.h"
#include "utils/trim_join.h"
#include "utils/utf16le.h"
#include "utils/utf_convert.h"

bool split_by_char(const std::string& s, char separator, std::vector<std::string>& out, bool do_trim) {
  if (s.empty()) return false;
  const size_t end = separator == '\0' ? s.size() : std::min(s.find('\0'), s.size());
  size_t start = 0;
  while (start <= end) {
    size_t pos = s.find(separator, start);
    if (pos == std::string::npos || pos > end) pos = end;
    std::string piece = s.substr(start, pos - start);
    if (do_trim) trim(piece);
    if (!piece.empty()) out.push_back(piece);
    if (pos == end) break;
    start = pos + 1;
  }
  return true;
}

bool split_nul_list(const std::vector<byte>& bytes, std::vector<std::string>& out) {
  return split_by_char(std::string(bytes.begin(), bytes.end()), '\0', out, false);
}

bool split_args(std::vector<std::string>& out, int argc, char** argv, char separator) {
  std::string joined;
  if (!join_quoted(joined, argc, argv)) return false;
  out.clear();
  if (separator == ' ') return split_words_quoted(joined.c_str(), 0, out, true) > 0;
  return split_by_char(joined, separator, out, false);
}

bool parse_int64_list(const std::string& text, std::vector<long64>& out) {
  out.clear();
  if (text.empty()) return false;
  std::vector<std::string> words;
  if (split_words_quoted(text.c_str(), 0, words, true) == 0) return false;
  for (std::string w : words) {
    long64 v = 0;
    if (parse_int64(w, v)) out.push_back(v);
  }
  return !out.empty();
}

bool parse_int64_list(const std::string& text, std::vector<long64>& out, char separator) {
  if (separator == ' ') return parse_int64_list(text, out);
  std::vector<std::string> pieces;
  if (!split_by_char(text, separator, pieces, false)) return false;
  for (std::string p : pieces) {
    trim(p);
    long64 v = 0;
    if (parse_int64(p, v)) out.push_back(v);
  }
  return !out.empty();
}

bool parse_byte_list(const std::string& text, std::vector<byte>& out) {
  out.clear();
  if (text.empty()) return false;
  std::vector<std::string> words;
  if (split_words_quoted(text.c_str(), 0, words, true) == 0) return false;
  for (const std::string& w : words) {
    uint32 v = 0;
    if (parse_uint32(w, v)) out.push_back(static_cast<byte>(v & 0xFF));
  }
  return !out.empty();
}

bool parse_ranges(std::vector<u64_range>& out, const std::string& text, char separator, char range_char) {
  out.clear();
  if (text.empty()) return false;
  std::vector<std::string> pieces;
  split_by_char(text, separator, pieces, false);
  for (std::string p : pieces) {
    // A piece of blanks reads as 0, as any piece that is not a number does.
    trim(p);
    ulong64 low = 0, high = 0;
    const size_t cut = p.find(range_char);
    if (cut == std::string::npos) {
      cstr_to_u64(p.c_str(), low);
      high = low;
    } else {
      cstr_to_u64(p.substr(0, cut).c_str(), low);
      cstr_to_u64(p.substr(cut + 1).c_str(), high);
    }
    out.push_back(u64_range(low, high));
  }
  return true;
}

std::string read_utf16_line(const uint16*& buffer, int& units, bool continuation) {
  std::vector<uint16> line;
  if (!buffer || units <= 0) return std::string();
  auto at = [&](int i) {
    uint16 u;
    std::memcpy(&u, buffer + i, 2);
    return u;
  };
  bool ended = false;
  bool continued = false;
  int i = 0;
  while (i < units) {
    const uint16 u = at(i);
    if (continuation && u == 92 && i + 1 < units && (at(i + 1) == 13 || at(i + 1) == 10)) {
      // The backslash is dropped; the break after it is passed over below.
      ++i;
      continue;
    }
    if (u == 10) {
      ++i;
      ended = true;
      break;
    }
    if (u == 13) {
      const bool has_lf = i + 1 < units && at(i + 1) == 10;
      if (continuation && i > 0 && at(i - 1) == 92) {
        i += has_lf ? 2 : 1;
        if (i < units) ++i;
        continued = true;
        continue;
      }
      i += has_lf ? 2 : 1;
      ended = true;
      break;
    }
    line.push_back(u);
    ++i;
  }
  if (ended || continued) {
    buffer += i;
    units -= i;
  }
  std::wstring wide;
  append_utf16_units(wide, line.data(), static_cast<uint32>(line.size()), false);
  return wstring_to_utf8(wide);
}

std::string value_after_key(const std::string& text, const char* key, std::string& delimiters, bool nocase) {
  if (!key) return std::string();
  std::string k(key);
  // The key and the delimiters are both looked for in the text as searched:
  // with nocase, all three lower-cased. The value is cut from the caller's.
  std::string folded;
  if (nocase) {
    folded = text;
    to_lower(folded);
    to_lower(k);
    to_lower(delimiters);
  }
  const std::string& searched = nocase ? folded : text;
  const size_t pos = searched.find(k);
  if (pos == std::string::npos) return std::string();
  const size_t start = pos + k.size();
  size_t end = delimiters.empty() ? std::string::npos : searched.find_first_of(delimiters, start);
  if (end == std::string::npos) end = text.size();
  return text.substr(start, end - start);
}
