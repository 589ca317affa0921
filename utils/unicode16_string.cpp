#include "utils/unicode16_string.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace {

// The unit index at which the next text starts and the bytes it needs;
// false when the record cannot take it without passing 65,535 bytes.
bool room_for(const unicode16_string& s, size_t chars, uint32& start, uint32& end_bytes) {
  start = s.length / 2u;
  const uint64 need = (static_cast<uint64>(chars) + 1) * 2;
  const uint64 end = static_cast<uint64>(start) * 2 + need;
  if (end > 0xFFFF) return false;
  end_bytes = static_cast<uint32>(end);
  return true;
}

template <class Char, class Widen>
void append_text(unicode16_string& s, const Char* text, size_t chars, Widen widen) {
  uint32 start = 0, end = 0;
  if (!room_for(s, chars, start, end)) return;
  if (end > s.capacity) {
    if (!s.owned) return;
    uint16* grown = new (std::nothrow) uint16[(end + 1) / 2];
    if (!grown) return;
    if (s.buffer && s.length > 0) std::memcpy(grown, s.buffer, s.length);
    delete[] s.buffer;
    s.buffer = grown;
    s.capacity = static_cast<uint16>(end);
  }
  for (size_t i = 0; i < chars; ++i) s.buffer[start + i] = widen(text[i]);
  s.buffer[start + chars] = 0;
  s.length = static_cast<uint16>(end);
}

}  // namespace

unicode16_string::unicode16_string(uint16 units) : length(0), capacity(0), buffer(nullptr), owned(false) {
  if (units == 0) return;
  buffer = new (std::nothrow) uint16[units];
  if (!buffer) return;
  buffer[0] = 0;
  owned = true;
  // The capacity is a 16-bit byte count: past 32,767 units it says as much
  // of the buffer as the record can ever fill, never a wrapped smaller one.
  const uint32 bytes = 2u * units;
  capacity = static_cast<uint16>(bytes > 0xFFFF ? 0xFFFF : bytes);
}

unicode16_string::~unicode16_string() {
  if (owned) delete[] buffer;
}

void unicode16_string::init(uint16* buf, uint16 cap) {
  if (owned) delete[] buffer;
  buffer = buf;
  capacity = buf ? cap : 0;
  length = 0;
  owned = false;
  if (buffer && capacity >= 2) buffer[0] = 0;
}

void unicode16_string::attach(uint16* buf, uint16 len, uint16 cap) {
  if (owned) delete[] buffer;
  buffer = buf;
  capacity = buf ? cap : 0;
  // A length beyond the capacity would put the next append outside.
  length = len <= capacity ? len : capacity;
  owned = false;
}

void unicode16_string::append(const wchar_t* text) {
  if (!text) return;
  append_text(*this, text, std::wcslen(text), [](wchar_t c) { return static_cast<uint16>(c); });
}

void unicode16_string::append(const char* text) {
  if (!text) return;
  append_text(*this, text, std::strlen(text),
              [](char c) { return static_cast<uint16>(static_cast<int16>(static_cast<signed char>(c))); });
}

void unicode16_string::clear() {
  length = 0;
  if (capacity != 0 && buffer) std::memset(buffer, 0, capacity);
}
