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

// The body of `body_size` bytes as it stands, or `put_fixed`'s small fields
// followed by the four times at `times_at` packed; the bytes added, or 0 (out
// as it was) when the times cannot be packed.
uint32 pack_body(const byte* body, uint32 body_size, uint32 times_at, std::vector<byte>& out, bool packed,
                 void (*put_fixed)(const byte* body, std::vector<byte>& out)) {
  if (!packed) {
    out.insert(out.end(), body, body + body_size);
    return body_size;
  }
  const size_t start = out.size();
  put_fixed(body, out);
  if (!pack_times(body, times_at, out)) {
    out.resize(start);
    return 0;
  }
  return static_cast<uint32>(out.size() - start);
}

// The inverse: the body is cleared first and stays clear when the source is
// short; packed, the small fields are kept when the times after them do not
// decode, which stay 0. The bytes taken, or 0 when the body is not whole.
uint32 unpack_body(byte* body, uint32 body_size, uint32 times_at, const byte* src, uint32 length, bool packed,
                   void (*take_fixed)(byte* body, const byte* src)) {
  std::memset(body, 0, body_size);
  if (!src) return 0;
  if (!packed) {
    if (length < body_size) return 0;
    std::memcpy(body, src, body_size);
    return body_size;
  }
  if (length < FIXED_PACKED) return 0;
  take_fixed(body, src);
  const uint32 times = unpack_times(body, times_at, src + FIXED_PACKED, length - FIXED_PACKED);
  return times ? FIXED_PACKED + times : 0;
}

void put_si_fixed(const byte* body, std::vector<byte>& out) { out.insert(out.end(), body + 32, body + 40); }

void take_si_fixed(byte* body, const byte* src) { std::memcpy(body + 32, src, 8); }

// Parent bits 40-63 and the real size are not kept in the compact form.
void put_fn_fixed(const byte* body, std::vector<byte>& out) {
  out.insert(out.end(), body, body + 5);
  out.push_back(body[48]);
  out.push_back(body[49]);
  out.push_back(0);
}

void take_fn_fixed(byte* body, const byte* src) {
  std::memcpy(body, src, 5);
  body[48] = src[5];
  body[49] = src[6];
}

}  // namespace

uint32 pack_si_times(const entry_record& rec, std::vector<byte>& out, bool packed) {
  return pack_body(rec.item.body, SI_BODY, SI_TIMES, out, packed, put_si_fixed);
}

uint32 unpack_si_times(entry_record& out, const byte* src, uint32 length, bool packed) {
  return unpack_body(out.item.body, SI_BODY, SI_TIMES, src, length, packed, take_si_fixed);
}

uint32 pack_fn_times(const entry_record& rec, std::vector<byte>& out, bool packed) {
  return pack_body(rec.item.body, FN_BODY, FN_TIMES, out, packed, put_fn_fixed);
}

uint32 unpack_fn_times(entry_record& out, const byte* src, uint32 length, bool packed) {
  return unpack_body(out.item.body, FN_BODY, FN_TIMES, src, length, packed, take_fn_fixed);
}
