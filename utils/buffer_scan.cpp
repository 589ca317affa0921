#include "utils/buffer_scan.h"

#include <algorithm>
#include <cstring>

#include "utils/byte_order.h"

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
