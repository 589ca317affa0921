#pragma once
// Texts that stand for byte sequences turned into bytes: hexadecimal byte
// lists in several notations, search patterns with wildcards and gaps,
// separated byte strings (00:1a:2b, 192.168.0.1), IPv4 and IPv6 addresses.
#include <string>
#include <vector>

#include "utils/types.h"

// Search-pattern entries beside the byte values 0-255.
enum : uint16 {
  pattern_any_byte = 0xFFFF,  // "??"
  pattern_gap = 0xFFFE,       // "*n": followed by an entry holding the gap length
};

// White-space separated tokens: two hex digits, "??", or "*" with up to two
// hex digits of gap length; appended to out. Trailing wildcards and gaps
// are dropped; a gap followed directly by a wildcard or another gap, a bad
// token, or nothing at all gives false. What was appended before a bad
// token stays, the gap marker of an over-long gap among it.
bool parse_byte_pattern(const std::string& text, std::vector<uint16>& out);
// Two-digit hex tokens ("??" is 0xFF), appended; false for a longer token
// or a value above 255.
bool parse_hex_tokens(const std::string& text, std::vector<byte>& out);
// A list separated by blanks, else commas, else colons, each piece read
// from after its first 'x'; out replaced. False without a separator.
bool parse_hex_list(const std::string& text, std::vector<byte>& out);
// Hex digits without separators, two per byte (an odd last digit alone).
bool parse_hex_string(const std::string& text, std::vector<byte>& out);
// Pieces split by '.', else ':', else '-': hexadecimal when the first piece
// has an x prefix (as written) or any piece holds a-f, else decimal; the
// low 8 bits of each. At most 80 characters.
bool parse_separated_bytes(const char* text, std::vector<byte>& out);
// As above; true only for exactly `size` bytes, then copied to out.
bool parse_separated_bytes(const char* text, byte* out, uint32 size);
bool parse_separated_bytes_w(const wchar_t* text, byte* out, uint32 size);
// Four pieces as above, p0 << 24 | ... summed unchecked; swap reverses
// the four bytes.
bool parse_dotted_quad(const char* text, uint32& out, bool swap);
// Up to 8 hex fields, the first "::" widened to the missing fields (the
// caller's text is changed); two network-order bytes per field.
bool parse_ipv6_text(std::string& text, std::vector<byte>& out);
