#pragma once
// Narrow text split into pieces, and lists written in one text turned into
// numbers: signed 64-bit values, bytes, or ranges such as MFT entry ranges.
#include <string>
#include <utility>
#include <vector>

#include "utils/types.h"

// A range: low then high, as written (not ordered or checked).
typedef std::pair<ulong64, ulong64> u64_range;

// Pieces between separators, empty ones dropped, appended to out; the text
// ends at its first NUL unless NUL is the separator. False for empty s.
bool split_by_char(const std::string& s, char separator, std::vector<std::string>& out, bool trim);
bool split_nul_list(const std::vector<byte>& bytes, std::vector<std::string>& out);
bool split_args(std::vector<std::string>& out, int argc, char** argv, char separator);

bool parse_int64_list(const std::string& text, std::vector<long64>& out);
bool parse_int64_list(const std::string& text, std::vector<long64>& out, char separator);
bool parse_byte_list(const std::string& text, std::vector<byte>& out);
// One range per piece between separators: "a-b" (range_char '-') or a
// lone value v as (v, v). A side that is not a number, blank or empty reads
// as 0; two separators in a row give no piece.
bool parse_ranges(std::vector<u64_range>& out, const std::string& text, char separator, char range_char);

std::string read_utf16_line(const uint16*& buffer, int& units, bool continuation);
std::string value_after_key(const std::string& text, const char* key, std::string& delimiters, bool nocase);
