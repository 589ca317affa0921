#pragma once
// The time bases a raw 64-bit stamp can be read in, as single-bit values so
// that a set of bases fits in one word.
#include "utils/types.h"

namespace zq {

enum type_time : uint32 {
  type_filetime = 1,   // 100-ns ticks since 1601-01-01 UTC
  type_chrome = 2,     // microseconds since 1601-01-01 UTC
  type_firefox = 4,    // microseconds since 1970-01-01 UTC, signed
  type_unix = 8,       // seconds since 1970-01-01 UTC, signed
  type_unused = 16,    // reserved: no name and no conversion
  type_dos = 32,       // DOS date (low word) and time (high word)
  type_ntp = 64,       // NTP 32.32 timestamp
  type_guid = 128,     // version-1 GUID time
};

}  // namespace zq
