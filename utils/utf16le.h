#pragma once
// UTF-16LE names as NTFS stores them, widened into std::wstring, and the
// plain byte-for-character copies that involve no encoding at all.
#include <string>

#include "utils/types.h"

// Widens a UTF-16LE buffer: at most byte_length / 2 units (500 for -1),
// stopping at the first zero unit. A valid surrogate pair becomes one wide
// character; an unpaired surrogate becomes U+FFFD, so every name reaches the
// output as valid text. Null, 0 or another negative length: out empty.
void unicode16_to_wstring(const uint16* units, std::wstring& out, int byte_length);

// The unit-level core shared by every widening of UTF-16: appends the units
// [0, count) to out, pairing surrogates; with stop_at_nul the first zero
// unit ends the text.
void append_utf16_units(std::wstring& out, const uint16* units, uint32 count, bool stop_at_nul);

// One wide character per byte, each byte sign-extended (0xE9 becomes -23).
void widen_string(const std::string& in, std::wstring& out);
void widen_cstring(const char* text, std::wstring& out);
// One byte per wide character: its low 8 bits.
void narrow_wstring(const std::wstring& in, std::string& out);
