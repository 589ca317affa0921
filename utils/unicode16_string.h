#pragma once
// A buffer of 16-bit text units described by its used length and capacity
// in bytes, over a buffer it owns or borrows. Each append stores a text and
// its NUL unit, so successive appends build NUL-separated texts.
#include "utils/types.h"

struct unicode16_string {
  uint16 length;    // bytes in use, terminators included
  uint16 capacity;  // bytes in the buffer
  uint16* buffer;
  bool owned;

  // Owns a buffer of `units` units (none for 0), its capacity at most 65,535
  // bytes; every field 0 when the allocation fails.
  explicit unicode16_string(uint16 units = 0);
  ~unicode16_string();
  unicode16_string(const unicode16_string&) = delete;
  unicode16_string& operator=(const unicode16_string&) = delete;

  // Borrows an empty buffer of `capacity` bytes.
  void init(uint16* buffer, uint16 capacity);
  // Borrows a buffer that already holds `length` bytes of text.
  void attach(uint16* buffer, uint16 length, uint16 capacity);
  // A wide text cut to 16 bits per character; a narrow text sign-extended
  // per byte. An owned buffer grows to fit; a borrowed one refuses when the
  // text does not fit, and every append that would take the record past
  // 65,535 bytes is refused (nothing changes).
  void append(const wchar_t* text);
  void append(const char* text);
  // Length 0 and the whole buffer zeroed.
  void clear();
};
