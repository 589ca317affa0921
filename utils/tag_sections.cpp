#include "utils/tag_sections.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "utils/byte_order.h"
#include "utils/byte_order_marks.h"
#include "utils/case_text.h"
#include "utils/file_rewrite.h"
#include "utils/memory_limits.h"

namespace {

// The removers measure their buffers in int: a longer file is refused
// whole, for its first part must not be written in its place.
const uint64 MOST_TEXT = INT32_MAX;

inline char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
inline wchar_t fold_w(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }

bool match_at(const char* data, int left, const std::string& pattern) {
  if (static_cast<int>(pattern.size()) > left) return false;
  for (size_t k = 0; k < pattern.size(); ++k)
    if (fold(data[k]) != fold(pattern[k])) return false;
  return true;
}

bool match_at_w(const uint16* data, int left, const std::wstring& pattern) {
  if (static_cast<int>(pattern.size()) > left) return false;
  for (size_t k = 0; k < pattern.size(); ++k)
    if (fold_w(static_cast<wchar_t>(data[k])) != fold_w(pattern[k])) return false;
  return true;
}

bool write_out(const char* path, const std::string& data) {
  if (path) return replace_file_contents(path, data);
  return std::fwrite(data.data(), 1, data.size(), stdout) == data.size() && std::fflush(stdout) == 0;
}

// The narrow remover over a buffer known to hold something. Its patterns
// and its work buffer are had before the buffer or its length is touched:
// memory that runs out throws with both as they were.
bool cut_tag_sections(char* buffer, int* length, const char* tag) {
  const int len = *length;
  const std::string open = std::string("<") + tag, close = std::string("</") + tag + ">";
  const int lo = static_cast<int>(open.size()), lc = static_cast<int>(close.size());
  const std::unique_ptr<char[]> work(new char[static_cast<size_t>(len)]);
  int copied = 0, i = 0, depth = 0;
  bool inside = false, found = false;
  if (lc <= len) {
    while (i < len && len - i >= lc) {
      bool in_section = inside;
      if (match_at(buffer + i, len - i, open)) {
        found = true;
        i += lo + 1;  // the character after the name is passed over
        if (i >= len) break;
        in_section = true;
      }
      if (!in_section) {
        work[copied++] = buffer[i++];
        depth = 0;
        continue;
      }
      const char c = buffer[i];
      if (c == '<') ++depth;
      if (c == '/' && i + 1 < len && buffer[i + 1] == '>') {
        if (depth == 0) {
          inside = false;
          i += 2;
          continue;
        }
        --depth;
      }
      if (match_at(buffer + i, len - i, close)) {
        inside = false;
        depth = 0;
        i += lc;
      } else {
        inside = true;
        ++i;
      }
    }
  }
  if (i < len) {
    std::memcpy(work.get() + copied, buffer + i, static_cast<size_t>(len - i));
    copied += len - i;
  }
  *length = copied;
  if (found && copied >= 1) std::memcpy(buffer, work.get(), static_cast<size_t>(copied));
  return true;
}

// The wide remover, as the narrow one.
bool cut_tag_sections_w(uint16* buffer, int* length, const wchar_t* tag) {
  const int units = *length / 2;
  const std::wstring open = std::wstring(L"<") + tag, close = std::wstring(L"</") + tag + L">";
  const int lc = static_cast<int>(close.size());
  std::vector<uint16> work(static_cast<size_t>(units) + 1);
  int copied = 0, i = 0;
  bool inside = false, found = false;
  if (lc <= units) {
    while (i < units && units - i >= lc) {
      if (match_at_w(buffer + i, units - i, open)) {
        found = true;
        inside = true;
      }
      if (!inside) {
        work[copied++] = buffer[i++];
      } else if (match_at_w(buffer + i, units - i, close)) {
        inside = false;
        i += lc;
      } else {
        ++i;
      }
    }
  }
  for (; i < units; ++i) work[copied++] = buffer[i];
  *length = copied * 2;
  if (found && copied >= 1) std::memcpy(buffer, work.data(), static_cast<size_t>(copied) * 2);
  return true;
}

// The sections of a UTF-16LE page (mark included) cut in code units, the
// page replaced by what is left; an odd last byte is kept as it was. The
// units and the new page may find no memory, which throws with the page
// as it was.
bool cut_utf16_sections(std::string& data, const char* tag) {
  const size_t units = data.size() / 2;
  std::vector<uint16> text(units);
  for (size_t k = 0; k < units; ++k) text[k] = load_u16(reinterpret_cast<const byte*>(data.data()) + 2 * k);
  std::wstring wide_tag;
  for (const char* p = tag; *p; ++p) wide_tag += static_cast<wchar_t>(static_cast<unsigned char>(*p));
  int length = static_cast<int>(units * 2);
  if (!remove_tag_sections_w(text.data(), &length, wide_tag.c_str())) return false;
  std::string result(static_cast<size_t>(length), '\0');
  for (int k = 0; k < length / 2; ++k) store_u16(reinterpret_cast<byte*>(&result[2 * static_cast<size_t>(k)]), text[k]);
  if (data.size() % 2) result += data.back();
  data.swap(result);
  return true;
}

}  // namespace

bool remove_tag_sections(char* buffer, int* length, const char* tag) {
  if (!buffer || !length || *length <= 0 || !tag) return false;
  return or_without_memory(false, [&] { return cut_tag_sections(buffer, length, tag); });
}

bool remove_tag_sections_w(uint16* buffer, int* length, const wchar_t* tag) {
  if (!buffer || !length || *length <= 0 || !tag) return false;
  return or_without_memory(false, [&] { return cut_tag_sections_w(buffer, length, tag); });
}

bool remove_tag_sections_w(uint16* buffer, int* length, const std::wstring& tag) {
  return remove_tag_sections_w(buffer, length, tag.c_str());
}

bool get_tag_text(const char* text, int length, const char* tag, std::string* out) {
  if (out) out->clear();
  if (!text || length <= 0 || !tag || !out) return false;
  const std::string t(text, strnlen(text, static_cast<size_t>(length)));
  const size_t open = t.find(std::string("<") + tag);
  if (open == std::string::npos) return false;
  const size_t gt = t.find('>', open);
  if (gt == std::string::npos) return false;
  const size_t close = t.find(std::string("</") + tag + ">", gt);
  if (close == std::string::npos) return false;
  *out = t.substr(gt + 1, close - gt - 1);
  return true;
}

bool remove_string(char** buffer, int* length, const char* text, bool nocase) {
  if (!buffer || !*buffer || !length || *length <= 0 || !text || !*text) return false;
  const int n = static_cast<int>(std::strlen(text)), len = *length;
  const char* in = *buffer;
  char* work = new (std::nothrow) char[static_cast<size_t>(len)];
  if (!work) return false;
  int copied = 0, i = 0;
  bool found = false;
  while (i < len) {
    if (n > len - i) {
      std::memcpy(work + copied, in + i, static_cast<size_t>(len - i));
      copied += len - i;
      break;
    }
    if (nocase ? equal_n_nocase(in + i, text, n) : std::memcmp(in + i, text, static_cast<size_t>(n)) == 0) {
      i += n;
      found = true;
    } else {
      work[copied++] = in[i++];
    }
  }
  if (!found) {
    delete[] work;
    return true;
  }
  delete[] *buffer;
  *buffer = work;
  *length = copied;
  return true;
}

bool remove_scripts_from_file(const char* in_path, const char* out_path, bool in_place) {
  std::string data;
  bool no_memory = false;
  // A page the memory left cannot hold, or cannot cut, is written nowhere,
  // least of all in its own place; it was opened, and true says no more.
  if (!read_file_bytes(in_path, data, MOST_TEXT, no_memory)) return no_memory;
  int length = static_cast<int>(data.size());
  if (!data.empty()) {
    if (!remove_tag_sections(&data[0], &length, "script")) return true;
    data.resize(static_cast<size_t>(length));
  }
  return write_out(in_place ? in_path : out_path, data);
}

bool remove_tag_sections_from_file(const char* in_path, const char* out_path, const char* tag) {
  if (!in_path || !tag) return false;
  std::string data;
  if (!read_file_bytes(in_path, data, MOST_TEXT)) return false;
  if (data.empty()) return true;
  if (data.size() >= 2 && has_bom_utf16le(reinterpret_cast<const byte*>(data.data()))) {
    if (!or_without_memory(false, [&] { return cut_utf16_sections(data, tag); })) return false;
  } else {
    int length = static_cast<int>(data.size());
    if (!remove_tag_sections(&data[0], &length, tag)) return false;
    data.resize(static_cast<size_t>(length));
  }
  return replace_file_contents(out_path ? out_path : in_path, data);
}

bool remove_string_from_file(const char* path, const char* text, bool nocase) {
  if (!path || !text || !*text) return false;
  std::string data;
  if (!read_file_bytes(path, data, MOST_TEXT) || data.empty()) return false;
  int length = static_cast<int>(data.size());
  char* buffer = new (std::nothrow) char[data.size()];
  if (!buffer) return false;
  std::memcpy(buffer, data.data(), data.size());
  const bool ok = remove_string(&buffer, &length, text, nocase);
  // Never longer than the text read: it takes the text's own room.
  if (ok) data.assign(buffer, static_cast<size_t>(length));
  delete[] buffer;
  return ok && replace_file_contents(path, data);
}
