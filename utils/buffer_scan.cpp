#include "utils/buffer_scan.h"

#include <algorithm>
#include <cstring>

#include "utils/byte_order.h"
#include "utils/string_lists.h"
#include "utils/text_edit.h"
#include "utils/trim_join.h"
#include "utils/utf_convert.h"

bool find_all_u32(std::vector<ulong64>& hits, const uint32* buffer, uint32 length, uint32 value,
                  uint32 stride) {
  if (!buffer || length < 4 || stride < 4) return false;
  // Read as little-endian bytes: the words are on-disk values, and the
  // caller's pointer need not be aligned.
  const byte* bytes = reinterpret_cast<const byte*>(buffer);
  const uint32 words = length / 4;
  const uint32 step = stride / 4;
  for (uint32 i = 0; i < words; i += step) {
    if (load_u32(bytes + static_cast<uint64>(i) * 4) == value) hits.push_back(static_cast<ulong64>(i) * 4);
    if (step > words - i) break;
  }
  return !hits.empty();
}

namespace {

// Position of the first match at or after `from`, or `length` when none.
uint32 search(const byte* buffer, uint32 length, const byte* pattern, uint32 pattern_length,
              uint32 from) {
  const byte* end = buffer + length;
  const byte* hit = std::search(buffer + from, end, pattern, pattern + pattern_length);
  return hit == end ? length : static_cast<uint32>(hit - buffer);
}

bool pattern_fits(const byte* buffer, uint32 length, const byte* pattern, uint32 pattern_length) {
  return buffer && length && pattern && pattern_length && pattern_length <= length;
}

}  // namespace

bool find_pattern(const byte* buffer, uint32 length, const std::vector<byte>& pattern,
                  ulong64& offset, ulong64 base) {
  ulong64 position = 0;
  if (!find_pattern_offset(buffer, length, pattern.data(), static_cast<uint32>(pattern.size()), position))
    return false;
  offset = position + base;
  return true;
}

bool find_pattern(const uint8* buffer, uint32 length, const std::vector<byte>& pattern,
                  ulong64* offset, ulong64 base) {
  ulong64 found = 0;
  if (!find_pattern(buffer, length, pattern, found, base)) return false;
  if (offset) *offset = found;
  return true;
}

bool find_pattern_offset(const byte* buffer, uint32 length, const byte* pattern,
                         uint32 pattern_length, ulong64& offset) {
  if (!pattern_fits(buffer, length, pattern, pattern_length)) return false;
  const uint32 position = search(buffer, length, pattern, pattern_length, 0);
  if (position == length) return false;
  offset = position;
  return true;
}

bool find_all_pattern(const byte* buffer, uint32 length, const byte* pattern,
                      uint32 pattern_length, std::vector<uint32>& out) {
  if (!pattern_fits(buffer, length, pattern, pattern_length)) return false;
  bool found = false;
  for (uint32 p = search(buffer, length, pattern, pattern_length, 0); p < length;
       p = search(buffer, length, pattern, pattern_length, p + 1)) {
    out.push_back(p);
    found = true;
  }
  return found;
}

bool find_all_pattern_u64(const byte* buffer, uint32 length, const byte* pattern,
                          uint32 pattern_length, std::vector<ulong64>& out, ulong64 base) {
  out.clear();
  if (!pattern_fits(buffer, length, pattern, pattern_length)) return false;
  for (uint32 p = search(buffer, length, pattern, pattern_length, 0); p < length;
       p = search(buffer, length, pattern, pattern_length, p + 1))
    out.push_back(p + base);
  return !out.empty();
}

bool find_pattern_in_blocks(std::vector<ulong64>& out, const byte* buffer, uint32 length,
                            const byte* pattern, uint32 pattern_length, uint32 block_size,
                            uint32 alignment, bool stop_at_first) {
  if (!pattern_fits(buffer, length, pattern, pattern_length) || !block_size || !alignment) return false;
  // The last possible position is not tested.
  const uint32 limit = length - pattern_length;
  for (uint64 p = 0; p < limit;) {
    if (std::memcmp(buffer + p, pattern, pattern_length) == 0) {
      out.push_back(p);
      if (stop_at_first) return true;
    }
    p = (p + 1) % block_size == 0 ? (p / alignment + 1) * alignment : p + 1;
  }
  return !out.empty();
}

bool is_printable_text(const std::vector<byte>& bytes) {
  if (bytes.empty()) return false;
  for (byte b : bytes)
    if (!(b == 9 || b == 10 || b == 13 || (b >= 32 && b <= 126))) return false;
  return true;
}

uint32 utf16_strlen(const uint16* text) {
  if (!text) return 0;
  uint32 n = 0;
  while (text[n]) ++n;
  return n;
}

uint32 utf16_vector_length(const std::vector<uint16>& text) {
  if (text.empty()) return 0;
  const uint32 n = static_cast<uint32>(text.size());
  return text.back() == 0 ? n - 1 : n;
}

uint32 utf16_trimmed_byte_length(const std::vector<uint16>& text) {
  uint32 n = static_cast<uint32>(text.size());
  while (n && text[n - 1] == 0) --n;
  return n * 2;
}

namespace {

// The end-of-line style over units 0 .. count - 2 (one unit of look-ahead).
template <typename Unit>
byte detect_style(const Unit* text, uint64 count) {
  byte style = eol_none;
  if (!text || count < 2) return style;
  for (uint64 i = 0; i + 1 < count; ++i) {
    byte seen = 0;
    if (text[i] == Unit('\r')) {
      seen = text[i + 1] == Unit('\n') ? eol_crlf : eol_cr;
    } else if (text[i] == Unit('\n')) {
      seen = text[i + 1] == Unit('\r') ? eol_lfcr : eol_lf;
    } else {
      continue;
    }
    if (seen == eol_crlf || seen == eol_lfcr) ++i;
    if (style != eol_none && seen != style) return eol_mixed;
    style = seen;
  }
  return style;
}

}  // namespace

byte detect_line_ending(const byte* text, uint32 length) { return detect_style(text, length); }

byte detect_line_ending_utf16(const uint16* text, uint32 length) {
  return detect_style(text, length / 2);
}

bool next_line_utf16(const uint16*& text, int& units_left) {
  if (!text || units_left < 1) return false;
  for (int i = 0; i < units_left; ++i) {
    if (text[i] == '\n') {
      text += i + 1;
      units_left -= i + 1;
      return true;
    }
    if (text[i] != '\r') continue;
    // A CR in the last unit is not a line end.
    if (i + 1 >= units_left) return false;
    if (text[i + 1] == '\n') {
      text += i + 2;
      units_left -= i + 2;
      return true;
    }
    ++i;  // a lone CR is passed over with the unit after it
  }
  return false;
}

bool text_to_lines(const byte* text, uint32 length, std::vector<std::string>& out) {
  out.clear();
  if (!text || !length || length > 0x7fffffffU) return false;
  const byte style = detect_line_ending(text, std::min<uint32>(length, 1024));
  if (style == eol_mixed || style == eol_none) return false;
  std::string copy(reinterpret_cast<const char*>(text), length);
  const char separator = style == eol_cr || style == eol_lfcr ? '\r' : '\n';
  if (style == eol_lfcr) replace_char(copy, '\n', ' ', false);
  uint32 separators = 0;
  split_bytes(copy.data(), static_cast<int>(copy.size()), separator, out, separators, false);
  for (std::string& line : out) trim(line);
  return !out.empty();
}

bool wide_text_to_lines(const byte* data, uint32 length, std::vector<std::wstring>& out) {
  out.clear();
  if (!data || length < 2 || length > 0x7fffffffU) return false;
  if (data[0] && data[1] && (length < 4 || (data[2] && data[3]))) {
    std::vector<std::string> lines;
    const bool ok = text_to_lines(data, length, lines);
    utf8_to_wstrings(out, lines);
    return ok;
  }
  // 32-bit characters in host order, copied out so the buffer need not be
  // aligned.
  std::vector<wchar_t> chars(length / 4);
  if (chars.empty()) return false;
  std::memcpy(chars.data(), data, chars.size() * sizeof(wchar_t));
  const byte style = detect_style(chars.data(), std::min<uint64>(chars.size(), 1024));
  if (style == eol_mixed || style == eol_none) return false;
  const wchar_t separator = style == eol_cr || style == eol_lfcr ? L'\r' : L'\n';
  std::wstring copy(chars.data(), chars.size());
  if (style == eol_lfcr) replace_char_w(copy, L'\n', L' ', false);
  uint32 separators = 0;
  split_wchars(copy.data(), static_cast<int>(copy.size()), separator, out, separators, false);
  for (std::wstring& line : out) trim_w(line);
  return !out.empty();
}
