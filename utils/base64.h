#pragma once
// Base64 text (RFC 4648 alphabet).
#include <vector>

#include "utils/types.h"

// 'A'-'Z' 0-25, 'a'-'z' 26-51, '0'-'9' 52-61, '+' 62, anything else 63.
byte base64_value(byte c);
// Letters, digits, '+', '/' and '=' are kept, all else dropped; the kept
// characters decode four at a time, '=' in the third or fourth place
// ending the group early. A last group of two or three characters gives
// one or two bytes, a single character none. out is emptied first; false
// for a null text or a length of 0 or less.
bool base64_decode(const char* text, int length, std::vector<byte>& out);
