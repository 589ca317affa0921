#include "utils/trim_join.h"

namespace {

const char kBlanks[] = " \t\r\n";

template <typename Str>
bool strip_ends(Str& text, typename Str::value_type ch, bool front, bool back) {
  if (back) {
    size_t end = text.size();
    while (end > 0 && text[end - 1] == ch) --end;
    text.erase(end);
  }
  if (front) {
    size_t start = 0;
    while (start < text.size() && text[start] == ch) ++start;
    text.erase(0, start);
  }
  return !text.empty();
}

}  // namespace

bool trim(std::string& text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string::npos) {
    text.clear();
    return false;
  }
  const size_t last = text.find_last_not_of(kBlanks);
  text = text.substr(first, last - first + 1);
  return true;
}

bool trim_w(std::wstring& text) {
  if (!strip_ends(text, L' ', true, false)) return false;
  strip_ends(text, L' ', false, true);
  if (!strip_ends(text, L'\t', true, false)) return false;
  strip_ends(text, L'\t', false, true);
  // A text made only of CRs (or only of LFs) is kept as it is.
  if (text.find_first_not_of(L'\r') != std::wstring::npos) strip_ends(text, L'\r', false, true);
  if (text.find_first_not_of(L'\n') != std::wstring::npos) strip_ends(text, L'\n', false, true);
  return true;
}

void trim_crlf(std::string& text) {
  const size_t first = text.find_first_not_of("\r\n");
  if (first == std::string::npos) {
    text.clear();
    return;
  }
  const size_t last = text.find_last_not_of("\r\n");
  text = text.substr(first, last - first + 1);
}

int strip_trailing_crlf(std::string& text) {
  size_t end = text.size();
  while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n')) --end;
  const int removed = static_cast<int>(text.size() - end);
  text.erase(end);
  return removed;
}

bool remove_last_chars(std::string& text, int count) {
  // A negative count is the caller's mistake, not a request to empty the text.
  if (text.empty() || count <= 0) return false;
  if (static_cast<size_t>(count) >= text.size()) {
    text.clear();
  } else {
    text.erase(text.size() - static_cast<size_t>(count));
  }
  return true;
}

int remove_char_w(std::wstring& text, wchar_t ch) {
  if (text.empty()) return 0;
  std::wstring kept;
  kept.reserve(text.size());
  int removed = 0;
  for (wchar_t c : text) {
    if (c == ch) {
      ++removed;
    } else {
      kept.push_back(c);
    }
  }
  text.swap(kept);
  return removed;
}

bool join_quoted(std::string& out, int count, char** items) {
  if (count == 0 || !items) return false;
  out.clear();
  for (int i = 0; i < count; ++i) {
    if (i > 0) out.push_back(' ');
    const std::string item = items[i] ? items[i] : "";
    if (item.find(' ') != std::string::npos) {
      out += '"' + item + '"';
    } else {
      out += item;
    }
  }
  return true;
}

bool join_quoted_w(std::wstring& out, int& count, const std::vector<std::wstring>& items) {
  out.clear();
  count = static_cast<int>(items.size());
  if (items.empty()) return false;
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].empty()) continue;
    if (i > 0) out.push_back(L' ');
    if (items[i].find(L' ') != std::wstring::npos) {
      out += L'"' + items[i] + L'"';
    } else {
      out += items[i];
    }
  }
  trim_w(out);
  return true;
}

bool filter_printable(std::string& out, const byte* text, int length, bool keep_line_ends,
                      char replacement) {
  out.clear();
  if (!text || length == 0) return false;
  for (int i = 0; i < length && text[i] != 0; ++i) {
    const byte b = text[i];
    if ((b >= 0x20 && b <= 0x7E) || (keep_line_ends && (b == '\r' || b == '\n'))) {
      out.push_back(static_cast<char>(b));
    } else if (replacement != 0) {
      out.push_back(replacement);
    }
  }
  return true;
}

bool lf_to_crlf(const byte* text, int length, std::string& out) {
  if (!text || length < 2) return false;
  enum { kNone, kCrLf, kCr, kLfCr, kLf } kind = kNone;
  for (int i = 0; i <= length - 2; ++i) {
    int seen = kNone;
    if (text[i] == '\r') {
      seen = text[i + 1] == '\n' ? kCrLf : kCr;
    } else if (text[i] == '\n') {
      seen = text[i + 1] == '\r' ? kLfCr : kLf;
    } else {
      continue;
    }
    if (seen == kCrLf || seen == kLfCr) ++i;
    if (kind != kNone && kind != seen) return false;
    kind = static_cast<decltype(kind)>(seen);
  }
  if (kind != kLf) return false;
  out.clear();
  out.reserve(static_cast<size_t>(length) + static_cast<size_t>(length) / 8);
  for (int i = 0; i < length; ++i) {
    if (text[i] == '\n') out.push_back('\r');
    out.push_back(static_cast<char>(text[i]));
  }
  return true;
}
