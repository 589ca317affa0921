#include "utils/text_tables.h"

#include "utils/byte_order.h"
#include "utils/file_rewrite.h"
#include "utils/memory_limits.h"

namespace {

// Text seen as a sequence of code units of one or two bytes (UTF-16LE).
template <int Width>
struct units {
  const byte* p;
  uint32 count;
  uint32 at(uint32 i) const { return Width == 1 ? p[i] : load_u16(p + 2 * i); }
};

template <int Width>
bool expand(const byte* text, uint32 length, int tab_width, std::string& out) {
  if (!text || length < static_cast<uint32>(Width)) return false;
  const units<Width> u{text, length / Width};
  std::vector<uint32> tabs;
  for (uint32 i = 0; i < u.count; ++i)
    if (u.at(i) == 0x09) tabs.push_back(i);
  if (tabs.empty()) return false;

  // Line ends: CR LF when present; else LF; else CR. Only the chosen kind
  // ends a line.
  std::vector<uint32> ends;
  uint32 eol = 2;
  for (uint32 i = 0; i + 1 < u.count; ++i)
    if (u.at(i) == 0x0D && u.at(i + 1) == 0x0A) ends.push_back(i);
  if (ends.empty()) {
    eol = 1;
    for (uint32 want : {0x0Au, 0x0Du}) {
      for (uint32 i = 0; i < u.count; ++i)
        if (u.at(i) == want) ends.push_back(i);
      if (!ends.empty()) break;
    }
  }

  const uint32 w = tab_width <= 0 ? 4 : static_cast<uint32>(tab_width);
  const char* space = Width == 1 ? " " : " \0";
  std::string result;
  result.reserve(length + tabs.size() * w * Width);
  size_t line = 0;
  uint32 line_start = 0, pad = 0, copied = 0;
  auto spaces = [&](uint32 n) {
    for (uint32 k = 0; k < n; ++k) result.append(space, Width);
  };
  for (uint32 t : tabs) {
    while (line < ends.size() && ends[line] < t) {
      line_start = ends[line] + eol;
      ++line;
      pad = 0;
    }
    result.append(reinterpret_cast<const char*>(text) + copied * Width, (t - copied) * Width);
    copied = t + 1;
    const uint32 r = (t - line_start + pad) % w;
    if (r != 0) {
      spaces(w - r + 1);
      pad += w - r;
    } else if (pad > 0) {
      spaces(1);
      pad += 1;
    } else {
      spaces(w);
      pad += w;
    }
  }
  result.append(reinterpret_cast<const char*>(text) + copied * Width, length - copied * Width);
  out.swap(result);
  return true;
}

bool has_wide_tab(const byte* text, uint32 length) {
  for (uint32 i = 0; i + 1 < length; ++i)
    if (text[i] == 0x09 && text[i + 1] == 0x00) return true;
  return false;
}

// The expansion, narrow or (allowed and found) wide. Memory that runs out
// throws with out untouched: a caller that must tell that from a text
// without a tab catches it.
bool expand_any(const byte* text, uint32 length, int tab_width, std::string& out, bool allow_wide) {
  if (allow_wide && text && length >= 2 && has_wide_tab(text, length)) return expand<2>(text, length, tab_width, out);
  return expand<1>(text, length, tab_width, out);
}

}  // namespace

bool update_column_widths(std::vector<uint32>& widths, const std::vector<std::string>& row, uint32 max_width) {
  if (row.empty()) return false;
  const size_t known = widths.size();
  for (size_t j = 0; j < row.size(); ++j) {
    const uint32 len = static_cast<uint32>(row[j].size());
    const uint32 capped = len < max_width ? len : max_width;
    if (j >= known) widths.push_back(capped);
    else if (len > widths[j]) widths[j] = capped < widths[j] ? widths[j] : capped;
  }
  return true;
}

bool expand_tabs(const byte* text, uint32 length, int tab_width, std::string& out, bool allow_wide) {
  return or_without_memory(false, [&] { return expand_any(text, length, tab_width, out, allow_wide); });
}

bool expand_tabs_wide(const byte* text, uint32 length, int tab_width, std::string& out) {
  return or_without_memory(false, [&] { return expand<2>(text, length, tab_width, out); });
}

bool expand_tabs_in_file(const char* in_path, const char* out_path, int tab_width, bool allow_wide) {
  if (!out_path) return false;
  // The output is opened only once the text is ready: memory that runs out
  // before leaves it as it was.
  return or_without_memory(false, [&] {
    std::string text;
    // The expander measures its text in uint32: a longer file is refused
    // whole, for its first part must not be written in its place.
    if (!read_file_bytes(in_path, text, UINT32_MAX)) return false;
    std::string expanded;
    // Memory that runs out while the text is expanded must not pass for a
    // text without a tab, which is copied as it is.
    const bool changed = expand_any(reinterpret_cast<const byte*>(text.data()), static_cast<uint32>(text.size()),
                                    tab_width, expanded, allow_wide);
    return replace_file_contents(out_path, changed ? expanded : text);
  });
}
