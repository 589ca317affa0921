#pragma once
// Numbers from option values and fields of texts. An "x" switches to
// hexadecimal and an "o" to octal, but each parser places the switch, the
// accepted first character and the width differently, as its callers rely
// on. Results are success flags; a rejected text leaves the output as it
// was. Digits stop at the first character that is not one of the base;
// values beyond the width saturate.
#include <string>

#include "utils/types.h"
#include "utils/u64_halves.h"

// 32-bit. Hexadecimal after the first "x" anywhere, else octal after the
// first "o" anywhere, else signed decimal that must begin with '-', '+' or a
// digit (stored as its 32-bit pattern: -1 gives 4294967295).
bool parse_int(const char* text, uint32& out);
bool parse_int(const std::string& text, uint32& out);
bool parse_int(const std::string& text, int* out);
bool parse_int_w(const wchar_t* text, uint32& out);
bool parse_int_w(const std::wstring& text, uint32& out);

// Signed 64-bit, for byte offsets and entry numbers: hexadecimal after the
// first "x", else octal after the first "o", else decimal beginning with a
// digit. The string form lower-cases the caller's text and cuts it after
// the x or o; the other forms work on a copy.
bool parse_int64(std::string& text, long64& out);
bool parse_int64(const char* text, long64& out);
// Each wide character narrowed to its low 8 bits first.
bool parse_int64_w(const std::wstring& text, long64& out);
bool parse_int64_w(const std::wstring& text, long64* out);

// Unsigned 32-bit by position: "?x" or "x" prefix hexadecimal, "o" prefix
// octal, a leading digit decimal, 'c' the character's code.
bool parse_uint32(const char* text, uint32& out);
bool parse_uint32(const std::string& text, uint32& out);
bool parse_uint32_w(const wchar_t* text, uint32& out);
bool parse_uint32_w(const std::wstring& text, uint32& out);

// strtod; true for any non-null text.
bool parse_float(const char* text, float& out);
bool parse_float_w(const wchar_t* text, float& out);
bool parse_double(const char* text, double& out);
bool parse_double_w(const wchar_t* text, double& out);

// strtoul and strtol of the base as a 32-bit long reads them: blanks, one
// sign, "0x" in base 16, digits up to the first other character; saturating.
uint32 to_u32(const char* s, int base);
int32 to_i32(const char* s, int base);

// Unsigned 64-bit: "0x"/"x" prefix hexadecimal (at most 16 digits), "o"
// prefix octal (at most 22), else decimal beginning with a digit (at most
// 20 characters, wrapping modulo 2^64). out is 0 before anything else.
bool cstr_to_u64(const char* text, ulong64& value);
bool text_to_u64(const std::string& text, ulong64& value);
bool text_to_u64(const std::string& text, ulong64* value);
