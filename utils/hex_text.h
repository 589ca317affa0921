#pragma once
// Bytes as lower-case hexadecimal text: a plain run of two-digit numbers,
// numbers each followed by a separator, and a 16-bytes-a-line hex dump with
// a printable-character column.
#include <string>
#include <vector>

#include "utils/types.h"

// out cleared; empty for null data or a length of 0 or less.
void bytes_to_hex(std::string& out, const byte* data, int length);
// Every byte followed by the separator, the last one too. False (out
// unchanged) for null data or a length of 0 or less.
bool bytes_to_hex_sep(std::string& out, const byte* data, int length, const std::string& separator);
// out cleared first; false for an empty vector.
bool bytes_to_hex_sep(std::string& out, const std::vector<byte>& data, std::string separator);
// Appends the dump: 16 "xx " groups, two blanks, 16 characters (32-126 as
// themselves, others '.'), a newline; a short last line padded so its
// character column lines up; always one more newline at the end.
void hex_dump(std::string& out, const byte* data, int length);
