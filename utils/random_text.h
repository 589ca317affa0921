#pragma once
// Pseudo-random bytes, strings and 32-bit values from the system's rand,
// for names and test values, never for secrecy. The generator is seeded
// once per process, by whichever of these runs first, from the
// microseconds of the clock.
#include <string>

#include "utils/types.h"

// A byte in [low, high]; the bounds are exchanged when high is below low.
byte random_byte(byte low, byte high);
// n characters (none for n <= 0) from: codes 33-126; 0-9a-f; 0-9A-Za-z; A-Z.
std::string random_printable_string(int n);
std::string random_hex_string(int n);
std::string random_alnum_string(int n);
std::string random_upper_string(int n);
// Decimal digits, the first 1-9; always at least that one.
std::string random_digit_string(int n);
// Four draws' low bytes, the first in the most significant place.
uint32 random_u32();
