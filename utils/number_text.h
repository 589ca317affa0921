#pragma once
// Values held as bytes written as text: GUIDs, network addresses, decimal
// numbers, a byte array as a source-code initialiser; and the reverse of a
// 32-letter NetBIOS-style text.
#include <string>
#include <vector>

#include "utils/guid_record.h"
#include "utils/types.h"

// The 16 stored bytes as 8-4-4-4-12 lower-case hexadecimal: a little-endian
// 32-bit field, two little-endian 16-bit fields, then eight bytes as stored.
bool guid_to_string(std::string& out, const byte* guid);
// The same text of a GUID held as a record of its fields.
bool guid_to_string(std::string& out, const GUID& guid);
bool ipv4_to_string(uint32 address, std::string& out);
// 4 bytes dotted decimal, 6 a hardware address, 8 a 64-bit identifier.
bool address_bytes_to_string(const byte* bytes, uint32 length, std::string& out);
bool u64_to_decimal(ulong64 value, std::string& out);
bool int_to_decimal(int value, std::string& out);
bool bytes_to_c_array(const char* name, const std::vector<byte>& data, std::string& out);
bool letters_to_bytes(const byte* text, std::string& out, byte& last);
