#pragma once
// On-disk UTF-16 names to UTF-8 text, text to UTF-16 buffers with CR LF
// line ends, single-character UTF-8 encoders and the wide/UTF-8 shims.
#include <string>
#include <vector>

#include "utils/types.h"

// As unicode16_to_wstring (pairs joined, unpaired surrogates U+FFFD, at most
// byte_length / 2 units or 500 for -1, stopping at a zero unit), then UTF-8.
// The length is unsigned: -1 is all bits set, and any other value is a
// length in bytes, however large.
void unicode16_to_string(const uint16* units, std::string& out, uint32 byte_length);
std::string unicode16_cstr_to_string(const uint16* units);
std::string* unicode16_cstr_to_string_into(const uint16* units, std::string& out);
// Every unit up to the first NUL, however many, lower-cased.
std::wstring utf16_to_lower_w(const uint16* units);

std::string wstring_to_string(std::wstring text);
std::string* wstring_to_string_into(const std::wstring& text, std::string& out);
uint32* string_to_u32_buffer(const std::string& s, uint32* buffer, int max);

// Each byte (or wide character cut to 16 bits) one unit, LF written as
// CR LF; the narrow forms end with a NUL unit. Null for empty input.
const uint16* cstr_to_utf16_crlf(std::vector<uint16>& out, const char* s);
const uint16* string_to_utf16_crlf(std::vector<uint16>& out, const std::string& s);
// The formatted text as above; null (out empty) when nothing was produced
// or the memory for the text could not be had.
const uint16* format_utf16_crlf(std::vector<uint16>& out, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
const uint16* wcs_to_utf16_crlf(std::vector<uint16>& out, const wchar_t* s);
const uint16* wstring_to_utf16_crlf(std::vector<uint16>& out, const std::wstring& s);

std::string utf8_of_unit(uint16 unit);
std::string utf8_of_latin1_char(char c);
std::string latin1_to_utf8(const char* s);
