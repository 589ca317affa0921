#include "ntfs/summary_item.h"

#include <cstring>

#include "ntfs/ntfs_structs.h"
#include "utils/byte_order.h"

namespace {

// Bytes needed for a value (0 for 0).
uint32 byte_width(ulong64 v) {
  uint32 n = 0;
  while (v) {
    ++n;
    v >>= 8;
  }
  return n;
}

ulong64 load_bytes(const byte* p, uint32 n) {
  ulong64 v = 0;
  for (uint32 i = 0; i < n; ++i) v |= static_cast<ulong64>(p[i]) << (8 * i);
  return v;
}

}  // namespace

void append_u16(std::vector<byte>& out, uint16 v) {
  out.push_back(static_cast<byte>(v));
  out.push_back(static_cast<byte>(v >> 8));
}

void append_u32(std::vector<byte>& out, uint32 v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<byte>(v >> (8 * i)));
}

void append_u64(std::vector<byte>& out, ulong64 v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<byte>(v >> (8 * i)));
}

void clear_item_buffer(byte* item) {
  if (item) std::memset(item, 0, ITEM_SIZE);
}

void clear_item_buffer(summary_item& item) {
  item.header = item_header();
  std::memset(item.body, 0, sizeof item.body);
}

void entry_summary::load(const byte* body) {
  reference_low = load_u32(body, 0);
  reference_high = load_u16(body, 4);
  sequence = load_u16(body, 6);
  flags = body[8];
  base_reference = load_u64(body, 9);
}

void entry_summary::store(byte* body) const {
  store_u32(body, reference_low);
  store_u16(body + 4, reference_high);
  store_u16(body + 6, sequence);
  body[8] = flags;
  store_u64(body + 9, base_reference);
}

void attribute_summary::load(const byte* body) {
  for (int i = 0; i < 9; ++i) words[i] = load_u32(body, 4u * i);
  low_bit = body[36];
  has_runs = body[37];
}

void attribute_summary::store(byte* body) const {
  for (int i = 0; i < 9; ++i) store_u32(body + 4 * i, words[i]);
  body[36] = low_bit;
  body[37] = has_runs;
}

uint32 item_header_size(bool packed) { return packed ? ITEM_HEADER_PACKED : ITEM_HEADER_UNPACKED; }

uint32 unpack_item_header(item_header& out, const byte* src, uint32 length, bool packed) {
  out = item_header();
  if (!src || length < item_header_size(packed)) return 0;
  if (packed) {
    out.type = src[0] * 16u;
    out.small_value = src[1] & 63;
    out.word_value = static_cast<uint16>(((src[3] & 63u) << 10) | (src[2] << 2) | (src[1] >> 6));
    out.flag = (src[3] >> 6) & 1;
    return ITEM_HEADER_PACKED;
  }
  out.type = load_u32(src, 0);
  out.small_value = load_u16(src, 4);
  out.word_value = load_u16(src, 6);
  out.key = load_u64(src, 8);
  out.flag = src[16];
  return ITEM_HEADER_UNPACKED;
}

uint32 pack_item_header(const item_header& h, std::vector<byte>& out, bool packed) {
  if (packed) {
    const uint32 word = (h.type >> 4 & 0xFF) | (h.small_value & 63u) << 8 | static_cast<uint32>(h.word_value) << 14 |
                        static_cast<uint32>(h.flag & 1) << 30;
    append_u32(out, word);
    return ITEM_HEADER_PACKED;
  }
  append_u32(out, h.type);
  append_u16(out, h.small_value);
  append_u16(out, h.word_value);
  append_u32(out, static_cast<uint32>(h.key));
  append_u32(out, static_cast<uint32>(h.key >> 32));
  out.push_back(h.flag);
  return ITEM_HEADER_UNPACKED;
}

uint32 unpack_entry_summary(entry_summary& out, const byte* src, uint32 length, bool packed) {
  out = entry_summary();
  if (!src) return 0;
  if (!packed) {
    if (length < ENTRY_SUMMARY_UNPACKED) return 0;
    out.load(src);
    return ENTRY_SUMMARY_UNPACKED;
  }
  if (length < 8) return 0;
  out.reference_low = load_u32(src, 0);
  out.reference_high = src[4];
  out.sequence = static_cast<uint16>(src[5] | (src[6] & 3) << 8);
  const byte b6 = src[6];
  out.flags = static_cast<uint8>((b6 >> 2 & 1) | (b6 >> 3 & 1) << 1 | (b6 >> 4 & 1) << 2 | (b6 >> 5 & 1) << 7 |
                                 ((b6 >> 6) | (src[7] & 3) << 2) << 3);
  if (!(out.flags & 0x80)) return 8;
  if (length < 12) {
    out = entry_summary();
    return 0;
  }
  out.base_reference = load_u32(src, 8);
  return 12;
}

uint32 pack_entry_summary(const entry_summary& s, std::vector<byte>& out, bool packed) {
  if (!packed) {
    byte body[ENTRY_SUMMARY_UNPACKED];
    s.store(body);
    out.insert(out.end(), body, body + sizeof body);
    return ENTRY_SUMMARY_UNPACKED;
  }
  append_u32(out, s.reference_low);
  out.push_back(static_cast<byte>(s.reference_high));
  out.push_back(static_cast<byte>(s.sequence));
  const uint32 links = s.flags >> 3 & 15;
  out.push_back(static_cast<byte>((s.sequence >> 8 & 3) | (s.flags & 1) << 2 | (s.flags >> 1 & 1) << 3 |
                                  (s.flags >> 2 & 1) << 4 | (s.flags >> 7 & 1) << 5 | (links & 3) << 6));
  out.push_back(static_cast<byte>(links >> 2));
  if (!(s.flags & 0x80)) return 8;
  append_u32(out, static_cast<uint32>(s.base_reference));
  return 12;
}

bool build_entry_summary_item(summary_item& out, ulong64 reference, const byte* header, uint32 length) {
  clear_item_buffer(out);
  if (!header || length < FRH_SIZE) return false;
  out.header.type = ENTRY_SUMMARY_TYPE;
  out.header.key = reference;
  entry_summary s;
  s.reference_low = static_cast<uint32>(reference);
  s.reference_high = static_cast<uint16>(reference >> 32);
  s.sequence = load_u16(header, FRH_SEQUENCE);
  s.base_reference = load_u64(header, FRH_BASE_RECORD);
  const uint16 flags = load_u16(header, FRH_FLAGS);
  s.flags = static_cast<uint8>(((flags & 1) ? 0 : 1) | ((flags & 2) ? 2 : 0) | 4 |
                               (load_u16(header, FRH_LINK_COUNT) & 15) << 3 | (s.base_reference ? 0x80 : 0));
  s.store(out.body);
  return true;
}

uint32 unpack_attribute_summary(attribute_summary& out, const byte* src, uint32 length, std::vector<data_run>& runs,
                                bool packed) {
  runs.clear();
  out = attribute_summary();
  if (!src) return 0;
  uint32 used = 0;
  if (packed) {
    if (length < ATTRIBUTE_SUMMARY_PACKED) return 0;
    out.words[2] = load_u32(src, 0);
    out.words[3] = load_u32(src, 4);
    out.words[4] = load_u32(src, 8);
    const uint32 w5 = load_u32(src, 12);
    const uint32 w8 = load_u32(src, 16);
    out.words[5] = w5 & 0x7FFFFFFF;
    out.low_bit = static_cast<uint8>(w5 >> 31);
    out.words[8] = w8 & 0x7FFFFFFF;
    out.has_runs = static_cast<uint8>(w8 >> 31);
    used = ATTRIBUTE_SUMMARY_PACKED;
  } else {
    if (length < ATTRIBUTE_SUMMARY_UNPACKED) return 0;
    out.load(src);
    used = ATTRIBUTE_SUMMARY_UNPACKED;
  }
  if (!out.has_runs) return used;
  if (length - used < 2) return 0;
  const uint32 count = load_u16(src, used);
  used += 2;
  ulong64 vcn = 0;
  for (uint32 i = 0; i < count; ++i) {
    if (used >= length) {
      runs.clear();
      return 0;
    }
    const byte h = src[used++];
    const uint32 lcn_bytes = h & 15;
    const uint32 count_bytes = h >> 4 & 7;
    if (lcn_bytes > 8 || count_bytes > 4 || length - used < lcn_bytes + count_bytes) {
      runs.clear();
      return 0;
    }
    const ulong64 lcn = load_bytes(src + used, lcn_bytes);
    const uint32 clusters = static_cast<uint32>(load_bytes(src + used + lcn_bytes, count_bytes));
    used += lcn_bytes + count_bytes;
    runs.push_back(data_run(lcn, vcn, clusters, (h & 0x80) != 0));
    vcn += clusters;
  }
  return used;
}

uint32 pack_attribute_summary(const attribute_summary& s, std::vector<byte>& out, const std::vector<data_run>& runs,
                              bool packed) {
  const size_t start = out.size();
  attribute_summary with = s;
  with.has_runs = runs.empty() ? 0 : 1;
  if (packed) {
    append_u32(out, with.words[2]);
    append_u32(out, with.words[3]);
    append_u32(out, with.words[4]);
    append_u32(out, (with.words[5] & 0x7FFFFFFF) | static_cast<uint32>(with.low_bit & 1) << 31);
    append_u32(out, (with.words[8] & 0x7FFFFFFF) | static_cast<uint32>(with.has_runs) << 31);
  } else {
    byte body[ATTRIBUTE_SUMMARY_UNPACKED];
    with.store(body);
    out.insert(out.end(), body, body + sizeof body);
  }
  if (!runs.empty()) {
    // The count is a u16: a longer list is cut there, as its reader will count.
    const uint32 count = runs.size() > 0xFFFF ? 0xFFFF : static_cast<uint32>(runs.size());
    append_u16(out, static_cast<uint16>(count));
    for (uint32 i = 0; i < count; ++i) {
      const data_run& r = runs[i];
      const ulong64 lcn = r.sparse ? 0 : r.lcn;
      const uint32 lb = byte_width(lcn);
      const uint32 cb = byte_width(r.num_clusters);
      out.push_back(static_cast<byte>(lb | cb << 4 | (r.sparse ? 0x80 : 0)));
      for (uint32 k = 0; k < lb; ++k) out.push_back(static_cast<byte>(lcn >> (8 * k)));
      for (uint32 k = 0; k < cb; ++k) out.push_back(static_cast<byte>(r.num_clusters >> (8 * k)));
    }
  }
  return static_cast<uint32>(out.size() - start);
}

namespace {

// The longest attribute summary: its unpacked form, the u16 run count and
// as many runs as that count can name, each with an 8-byte LCN and a 4-byte
// cluster count behind its header byte.
const uint32 ATTRIBUTE_SUMMARY_LONGEST = ATTRIBUTE_SUMMARY_UNPACKED + 2 + 0xFFFF * (1 + 8 + 4);

}  // namespace

uint32 unpack_item_header(item_header& out, const byte* src, bool packed) {
  return unpack_item_header(out, src, item_header_size(packed), packed);
}

uint32 unpack_entry_summary(entry_summary& out, const byte* src, bool packed) {
  // A packed summary reads its base reference (bytes 8 to 11) only when its
  // flags say it has one.
  return unpack_entry_summary(out, src, packed ? 12 : ENTRY_SUMMARY_UNPACKED, packed);
}

bool build_entry_summary_item(summary_item& out, ulong64 reference, const byte* header) {
  return build_entry_summary_item(out, reference, header, FRH_SIZE);
}

uint32 unpack_attribute_summary(attribute_summary& out, const byte* src, std::vector<data_run>& runs,
                                bool packed) {
  return unpack_attribute_summary(out, src, ATTRIBUTE_SUMMARY_LONGEST, runs, packed);
}

uint32 unpack_word_item(byte* out, const byte* src, uint32 length) {
  if (!out || !src || length < 4) return 0;
  std::memcpy(out, src, 4);
  return 4;
}

uint32 pack_word_item(const byte* item, std::vector<byte>& out) {
  out.insert(out.end(), item, item + 4);
  return 4;
}

uint32 unpack_quad_item(byte* out, const byte* src, uint32 length) {
  if (!out || !src || length < 16) return 0;
  std::memcpy(out, src, 16);
  return 16;
}

uint32 pack_quad_item(const byte* item, std::vector<byte>& out) {
  out.insert(out.end(), item, item + 16);
  return 16;
}

uint32 item_size(const item_header& header, bool packed) {
  const uint32 base = item_header_size(packed);
  switch (header.type) {
    case ENTRY_SUMMARY_TYPE: return base + 17;
    case 0x10: return base + 40;
    case 0x30: return base + 50;
    case 0x40: return base + 16;
    case 0x60: return base + 1;
    case 0x70:
    case 0xC0: return base + 4;
    default: return base + (header.flag ? 38 : 5);
  }
}
