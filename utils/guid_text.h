#pragma once
// GUID text into a character buffer, and GUID text read back into the 16
// stored bytes (32-bit and two 16-bit fields little-endian, then 8 bytes as
// they stand). guid_to_string (number_text.h) is the std::string form.
#include <string>
#include <vector>

#include "utils/types.h"

// False for a null buffer or GUID, or a size below 37. Sizes 37-41 get the
// 36-character 8-4-4-4-12 text (cut to the size); 42 and more also a blank
// and the first field's four bytes as characters ('0'-'z', else '.').
bool guid_text(char* buffer, uint32 size, const byte* guid);
// out becomes 16 bytes read from the fields in hexadecimal, any single
// character between them; a field that cannot be read leaves its bytes and
// the later ones zero. False (out empty) for a text shorter than 22.
bool guid_from_text(const std::string& text, std::vector<byte>& out);
