#pragma once
// Security identifiers as "S-" text: revision, the last byte of the
// identifier authority, then each 32-bit sub-authority, all in decimal.
#include <string>

#include "utils/types.h"

// Empty when the length is below 12 or the buffer cannot hold the
// sub-authorities its count at byte 1 announces.
std::string sid_to_string(const byte* sid, uint32 length);
// Reads 8 + 4 x n bytes, n taken from byte 1: for SIDs already checked.
bool sid_to_string_into(std::string& out, const byte* sid);
