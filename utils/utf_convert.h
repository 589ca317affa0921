#pragma once
// Conversions between UTF-8, wide text (one code point per 32-bit wchar_t),
// UTF-32 and UTF-16. Outputs are emptied first; results say whether the
// whole input was converted.
#include <string>
#include <vector>

#include "utils/types.h"

// UTF-8 decoding. A malformed sequence (bad lead or continuation byte, a
// sequence cut short, an overlong form, a value above 0x10FFFF) stops the
// walk with false; what was decoded before it stays in out.
bool decode_utf8(std::wstring& out, const std::string& in);
bool utf8_to_utf32(std::vector<uint32>& out, const std::string& in);
// Number of code points; 0 for an empty or malformed text.
int utf8_length(const std::string& in);

// Encoding. A code point above 0x10FFFF (or a negative wchar_t) stops with
// false, the bytes before it staying in out. Surrogate values are written
// in their three-byte form.
bool utf32_to_utf8(std::string& out, const std::vector<uint32>& in);
bool utf32_to_utf16(std::vector<uint16>& out, const std::vector<uint32>& in);
bool utf16_to_utf32(std::vector<uint32>& out, const std::vector<uint16>& in);
bool utf16_to_utf8(std::string& out, const std::vector<uint16>& in);
bool utf16le_bytes_to_utf32(std::vector<uint32>& out, const std::vector<byte>& in);

// The everyday pair. Both by-value forms return an empty text on any
// failure, never a prefix: a path with a bad character must not turn into a
// shorter path that names another file.
std::wstring utf8_to_wstring(const std::string& in);
std::string wstring_to_utf8(const std::wstring& in);

bool utf8_to_wstring_into(std::wstring& out, const std::string& in);
bool encode_utf8(std::string& out, const std::wstring& in);
// False with out empty when the text cannot be encoded.
bool wstring_to_utf8_into(std::string& out, const std::wstring& in);
bool wstring_to_utf8_bytes(std::vector<byte>& out, const std::wstring& in);

// Lists: out is cleared; each element converted by the by-value form (a bad
// element gives an empty one); false only for an empty input list.
bool utf8_to_wstrings(std::vector<std::wstring>& out, const std::vector<std::string>& in);
bool utf8_to_wstrings(const std::vector<std::string>& in, std::vector<std::wstring>& out);
bool wstrings_to_utf8(std::vector<std::string>& out, const std::vector<std::wstring>& in);

bool utf8_bytes_to_wstring_into(std::wstring& out, const std::vector<byte>& in);
std::wstring utf8_bytes_to_wstring(const std::vector<byte>& in);
bool utf8_bytes_to_utf16(std::vector<uint16>& out, const std::vector<byte>& in);
bool utf8_to_utf16(std::vector<uint16>& out, const std::string& in);

// UTF-16 unit vectors widened as on-disk names are (pairs joined, unpaired
// surrogates U+FFFD); the _into and _utf8 forms stop at a zero unit.
bool utf16_units_to_wstring_into(std::wstring& out, const std::vector<uint16>& in);
bool utf16_units_to_utf8_bytes(std::vector<byte>& out, const std::vector<uint16>& in);
std::string utf16_units_to_utf8(const std::vector<uint16>& in);
std::wstring utf16_units_to_wstring(const std::vector<uint16>& in);

std::string bytes_to_string(const std::vector<byte>& in);
bool append_bytes(std::vector<byte>& out, const std::string& in);
