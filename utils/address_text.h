#pragma once
// Network addresses and NetBIOS names as text.
#include <string>

#include "utils/types.h"

// Dotted decimal from the most significant byte down.
bool ipv4_text_w(uint32 address, std::wstring& out);
// byte_length / 2 groups in network byte order, lower-case hexadecimal,
// the first run of zero groups compressed to "::". False for a null pointer
// or a length of 0 or less.
bool ipv6_text(const uint16* groups, int byte_length, std::string& out);
// The NetBIOS first-level encoding: 15 name bytes (blank-padded) and the
// suffix, each as two letters 'A' + nibble; 32 characters, no terminator.
// False for a length above 15 (or below 0, or a null name with a length).
bool netbios_encode_name(const byte* name, int length, byte suffix, char* out);
