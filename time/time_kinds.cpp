// Tests of single candidates against a window under every time base.
#include <algorithm>
#include <string>

#include "time/guid_time.h"
#include "time/ntp.h"
#include "time/time_hits.h"
#include "time/zq_time.h"
#include "utils/byte_order.h"

time_hit_record::time_hit_record(const byte* src, uint64 filetime_, uint64 offset_, uint32 kind_,
                                 bool little_endian_, int size_)
    : filetime(filetime_),
      offset(offset_),
      kind(kind_),
      little_endian(little_endian_),
      size(size_) {
  if (size_ <= 0) return;
  bytes.assign(src, src + size_);
  if (!little_endian_) std::reverse(bytes.begin(), bytes.end());
}

namespace {

bool in_window(const zq::time& t, uint64 upper, uint64 lower) {
  const long64 ft = static_cast<long64>(t.m_filetime);
  return t.m_valid && static_cast<long64>(lower) <= ft && ft <= static_cast<long64>(upper);
}

// An NTP timestamp stored big-endian and read as a little-endian integer:
// the seconds are the low half byte-reversed, the fraction the high half.
uint64 ntp_value_filetime(uint64 value) {
  const zq::ntp_timestamp ts = zq::make_ntp(zq::ntp_word_swap(static_cast<uint32>(value)),
                                            zq::ntp_word_swap(static_cast<uint32>(value >> 32)));
  uint64 filetime = 0;
  zq::ntp_to_filetime(ts, filetime);
  return filetime;
}

}  // namespace

namespace zq {

bool match_time_kinds(time_hit_map& hits, uint64 value, uint64 upper, uint64 lower,
                      uint64 offset, bool little_endian, bool clear, uint8 kinds) {
  if (clear) hits.clear();
  const int size = (value >> 32) != 0 ? 8 : 4;
  byte image[8];
  store_u64(image, value);
  bool hit = false;
  auto test = [&](uint32 kind, const zq::time& t) {
    if (!in_window(t, upper, lower)) return;
    hits.emplace(offset, time_hit_record(image, t.m_filetime, offset, kind, little_endian, size));
    hit = true;
  };
  if (size == 8) {
    if (kinds & type_filetime) test(type_filetime, zq::time(value, type_filetime));
    if (kinds & type_chrome) test(type_chrome, zq::time(value, type_chrome));
    if (kinds & type_firefox) test(type_firefox, zq::time(value, type_firefox));
    if (kinds & type_ntp) test(type_ntp, zq::time(ntp_value_filetime(value), type_filetime));
    if (kinds & type_unix) test(type_unix, zq::time(value, type_unix));
  } else {
    if (kinds & type_unix) test(type_unix, zq::time(value, type_unix));
    if (kinds & type_dos)
      test(type_dos, zq::time(static_cast<uint16>(value), static_cast<uint16>(value >> 16)));
  }
  return hit;
}

bool match_guid_time(time_hit_map& hits, const byte* guid, uint64 upper, uint64 lower,
                     uint64 offset, bool clear) {
  if (clear) hits.clear();
  uint64 filetime = 0;
  uint16 clock_sequence = 0;
  std::vector<byte> node;
  if (!guid_to_filetime(filetime, clock_sequence, node, guid)) return false;
  const zq::time t(filetime, type_filetime);
  if (!in_window(t, upper, lower)) return false;
  hits.emplace(offset, time_hit_record(guid, t.m_filetime, offset, type_guid, true, 16));
  return true;
}

bool guess_filetime(uint64& filetime, uint64 value, int upper_year, int lower_year) {
  filetime = 0;
  if ((value >> 32) == 0) return false;
  const zq::time upper(("01/01/" + std::to_string(upper_year)).c_str());
  const zq::time lower(("01/01/" + std::to_string(lower_year)).c_str());
  const uint8 kinds = type_filetime | type_chrome | type_firefox | type_ntp;
  time_hit_map hits;
  if (!match_time_kinds(hits, value, upper.m_filetime, lower.m_filetime, 0, true, true, kinds)) {
    byte image[8];
    store_u64(image, value);
    uint64 reversed = 0;
    for (int i = 0; i < 8; ++i) reversed = (reversed << 8) | image[i];
    if (!match_time_kinds(hits, reversed, upper.m_filetime, lower.m_filetime, 0, false, true,
                          kinds))
      return false;
  }
  filetime = hits.begin()->second.filetime;
  return true;
}

}  // namespace zq
