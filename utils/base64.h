#pragma once
// Base64 text (RFC 4648 alphabet), encoded in MIME lines of 76 characters
// ending in CR LF, and decoded leniently.
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

// out is emptied, then receives the text in lines of 76 characters, each
// ended by CR LF, the last (possibly empty) line too, then one zero byte.
// False for null data or a length of 0, and when the memory for the text
// cannot be had; a negative length gives an out of the zero byte alone and
// true.
bool base64_encode(const byte* data, int length, std::vector<char>& out);
