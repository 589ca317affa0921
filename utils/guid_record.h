#pragma once
// A GUID as a record of its fields, laid out as Windows holds one in memory:
// a 32-bit field, two 16-bit fields, then eight bytes as they stand. Stored
// GUIDs are the 16 bytes of that record with the three fields little-endian,
// which is the form every byte-pointer operation on GUIDs reads.
#include "utils/byte_order.h"
#include "utils/types.h"

struct GUID {
  uint32 Data1 = 0;
  uint16 Data2 = 0;
  uint16 Data3 = 0;
  byte Data4[8] = {};
};

// The 16 stored bytes of a record, whatever the host's byte order.
inline void guid_to_bytes(const GUID& guid, byte out[16]) {
  store_u32(out, guid.Data1);
  store_u16(out + 4, guid.Data2);
  store_u16(out + 6, guid.Data3);
  for (int i = 0; i < 8; ++i) out[8 + i] = guid.Data4[i];
}
