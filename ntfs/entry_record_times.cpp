// The time bodies of $STANDARD_INFORMATION and $FILE_NAME summary items: the
// body area as it stands, or its small fields followed by the four times as
// one packed timestamp list.
#include <algorithm>
#include <cstring>

#include "ntfs/entry_record.h"
#include "time/packed_times.h"
#include "utils/byte_order.h"

namespace {

const uint32 SI_BODY = 40;
const uint32 SI_TIMES = 0;
const uint32 FN_BODY = 50;
const uint32 FN_TIMES = 8;
const uint32 FIXED_PACKED = 8;  // the small fields before the packed times

bool pack_times(const byte* body, uint32 at, std::vector<byte>& out) {
  std::vector<uint64> times(4);
  for (uint32 i = 0; i < 4; ++i) times[i] = load_u64(body, at + 8 * i);
  // The encoder refuses a time of 2^60 or more; storing the record without
  // it would lose it, so the record is not stored.
  return zq::encode_packed_times(times, out, false) != 0;
}

// Reads the packed times after the fixed fields into the body; the bytes it
// took, or 0 when the list runs past `length` or its header is damaged. A
// list that gives other than four times leaves them 0. The whole length is
// offered: four times far apart take 33 bytes.
uint32 unpack_times(byte* body, uint32 at, const byte* src, uint32 length) {
  if (length == 0) return 0;
  std::vector<uint64> times;
  const uint32 used = zq::decode_packed_times(src, length, times);
  if (used && times.size() == 4)
    for (uint32 i = 0; i < 4; ++i) store_u64(body + at + 8 * i, times[i]);
  return used;
}

}  // namespace

uint32 pack_si_times(const entry_record& rec, std::vector<byte>& out, bool packed) {
  const byte* body = rec.item.body;
  if (!packed) {
    out.insert(out.end(), body, body + SI_BODY);
    return SI_BODY;
  }
  const size_t start = out.size();
  out.insert(out.end(), body + 32, body + 40);
  if (!pack_times(body, SI_TIMES, out)) {
    out.resize(start);
    return 0;
  }
  return static_cast<uint32>(out.size() - start);
}

uint32 unpack_si_times(entry_record& out, const byte* src, uint32 length, bool packed) {
  byte* body = out.item.body;
  std::memset(body, 0, SI_BODY);
  if (!src) return 0;
  if (!packed) {
    if (length < SI_BODY) return 0;
    std::memcpy(body, src, SI_BODY);
    return SI_BODY;
  }
  if (length < FIXED_PACKED) return 0;
  std::memcpy(body + 32, src, 8);
  const uint32 times = unpack_times(body, SI_TIMES, src + FIXED_PACKED, length - FIXED_PACKED);
  if (!times) std::memset(body, 0, SI_BODY);
  return times ? FIXED_PACKED + times : 0;
}

uint32 pack_fn_times(const entry_record& rec, std::vector<byte>& out, bool packed) {
  const byte* body = rec.item.body;
  if (!packed) {
    out.insert(out.end(), body, body + FN_BODY);
    return FN_BODY;
  }
  const size_t start = out.size();
  // Parent bits 40-63 and the real size are not kept in the compact form.
  out.insert(out.end(), body, body + 5);
  out.push_back(body[48]);
  out.push_back(body[49]);
  out.push_back(0);
  if (!pack_times(body, FN_TIMES, out)) {
    out.resize(start);
    return 0;
  }
  return static_cast<uint32>(out.size() - start);
}

uint32 unpack_fn_times(entry_record& out, const byte* src, uint32 length, bool packed) {
  byte* body = out.item.body;
  std::memset(body, 0, FN_BODY);
  if (!src) return 0;
  if (!packed) {
    if (length < FN_BODY) return 0;
    std::memcpy(body, src, FN_BODY);
    return FN_BODY;
  }
  if (length < FIXED_PACKED) return 0;
  std::memcpy(body, src, 5);
  body[48] = src[5];
  body[49] = src[6];
  const uint32 times = unpack_times(body, FN_TIMES, src + FIXED_PACKED, length - FIXED_PACKED);
  if (!times) std::memset(body, 0, FN_BODY);
  return times ? FIXED_PACKED + times : 0;
}
