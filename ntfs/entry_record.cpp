#include "ntfs/entry_record.h"

#include <algorithm>
#include <cstring>

#include "ntfs/attribute_pump.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "ntfs/reparse_names.h"
#include "utils/byte_order.h"
#include "utils/utf_convert.h"

namespace {

// `units` UTF-16LE code units at `at` (the caller has checked they lie in
// its buffer) as UTF-8, ending at a 0 unit.
std::string utf8_of_le_units(const byte* at, uint64 units) {
  std::vector<uint16> text;
  text.reserve(static_cast<size_t>(units));
  for (uint64 i = 0; i < units; ++i) text.push_back(load_u16(at, 2 * i));
  return utf16_units_to_utf8(text);
}

bool is_resident_data_type(uint32 type) {
  return type == 0x50 || type == 0x80 || type == 0x90 || type == 0xA0 || type == 0xB0 || type == 0x100;
}

void append_text(std::vector<byte>& out, const std::string& text) {
  if (text.size() < 255) {
    out.push_back(static_cast<byte>(text.size()));
  } else {
    const size_t n = std::min<size_t>(text.size(), 0xFFFF);
    out.push_back(255);
    append_u16(out, static_cast<uint16>(n));
  }
  out.insert(out.end(), text.begin(), text.begin() + static_cast<long>(std::min<size_t>(text.size(), 0xFFFF)));
}

bool read_text(const std::vector<byte>& in, size_t& at, std::string& text) {
  if (at >= in.size()) return false;
  size_t n = in[at++];
  if (n == 255) {
    if (in.size() - at < 2) return false;
    n = load_u16(in.data(), at);
    at += 2;
  }
  if (in.size() - at < n) return false;
  text.assign(reinterpret_cast<const char*>(in.data()) + at, n);
  at += n;
  return true;
}

// The body of the item's kind, packed or not, appended to `out`.
bool pack_body(const entry_record& rec, std::vector<byte>& out, const std::vector<data_run>& runs,
               const std::vector<byte>& resident, bool packed) {
  const item_header& h = rec.item.header;
  entry_record tmp;
  switch (h.type) {
    case ENTRY_SUMMARY_TYPE: {
      entry_summary s;
      s.load(rec.item.body);
      pack_entry_summary(s, out, packed);
      return true;
    }
    case 0x10: return pack_si_times(rec, out, packed) != 0;
    case 0x30: return pack_fn_times(rec, out, packed) != 0;
    case 0x40: pack_quad_item(rec.item.body, out); return true;
    case 0x60: return true;
    case 0x70:
    case 0xC0: pack_word_item(rec.item.body, out); return true;
    default: break;
  }
  if (h.flag) {
    attribute_summary a;
    a.load(rec.item.body);
    pack_attribute_summary(a, out, runs, packed);
    return true;
  }
  if (!is_resident_data_type(h.type)) return true;
  tmp.item = rec.item;
  tmp.resident = resident;
  return pack_resident_data(tmp, out, packed) != 0;
}

// Reads the body; `used` counts what it took.
bool unpack_body(entry_record& out, const byte* src, uint32 length, std::vector<data_run>& runs,
                 std::vector<byte>& resident, bool packed, uint32& used) {
  const item_header& h = out.item.header;
  used = 0;
  switch (h.type) {
    case ENTRY_SUMMARY_TYPE: {
      entry_summary s;
      used = unpack_entry_summary(s, src, length, packed);
      if (used) s.store(out.item.body);
      return used != 0;
    }
    case 0x10:
    case 0x30:
      used = h.type == 0x10 ? unpack_si_times(out, src, length, packed) : unpack_fn_times(out, src, length, packed);
      // Packed times that do not decode cost the item its times only: it
      // is kept, with them 0.
      return used != 0 || packed;
    case 0x40: used = unpack_quad_item(out.item.body, src, length); return used != 0;
    case 0x60: return true;
    case 0x70:
    case 0xC0: used = unpack_word_item(out.item.body, src, length); return used != 0;
    default: break;
  }
  if (h.flag) {
    attribute_summary a;
    used = unpack_attribute_summary(a, src, length, runs, packed);
    if (used) a.store(out.item.body);
    return used != 0;
  }
  if (!is_resident_data_type(h.type)) return true;
  used = unpack_resident_data(out, src, length, packed);
  resident = out.resident;
  return used != 0;
}

}  // namespace

void entry_record::clear() {
  clear_item_buffer(item);
  name.clear();
  text.clear();
  runs.clear();
  window_offset = 0;
  window.clear();
  resident.clear();
  initialized_size = ~0ULL;
}

uint32 pack_resident_data(const entry_record& rec, std::vector<byte>& out, bool packed) {
  const uint32 value_length = load_u32(rec.item.body, 0);
  const bool has = !rec.resident.empty();
  if (packed) {
    // Fifteen bits of length: longer values are not summarised by value.
    if (value_length > 0x7FFF || rec.resident.size() > 0x7FFF) return 0;
    const uint16 word = static_cast<uint16>(value_length | (has ? 0x8000 : 0));
    append_u16(out, word);
  } else {
    append_u32(out, value_length);
    out.push_back(has ? 1 : 0);
  }
  out.insert(out.end(), rec.resident.begin(), rec.resident.end());
  return (packed ? 2 : 5) + static_cast<uint32>(rec.resident.size());
}

uint32 unpack_resident_data(entry_record& out, const byte* src, uint32 length, bool packed) {
  out.resident.clear();
  if (!src) return 0;
  uint32 value_length = 0;
  bool has = false;
  uint32 used = 0;
  if (packed) {
    if (length < 2) return 0;
    const uint16 word = load_u16(src, 0);
    value_length = word & 0x7FFF;
    has = (word & 0x8000) != 0;
    used = 2;
  } else {
    if (length < 5) return 0;
    value_length = load_u32(src, 0);
    has = src[4] != 0;
    used = 5;
  }
  store_u32(out.item.body, value_length);
  out.item.body[4] = has ? 1 : 0;
  if (!has) return used;
  if (length - used < value_length) return 0;
  out.resident.assign(src + used, src + used + value_length);
  return used + value_length;
}

uint16 pack_entry_record(const entry_record& rec, std::vector<byte>& out, const std::vector<data_run>& runs,
                         const std::vector<byte>& resident, bool packed) {
  out.clear();
  std::vector<byte> item;
  pack_item_header(rec.item.header, item, packed);
  if (!pack_body(rec, item, runs, resident, packed) || item.size() > 0xFFFD) {
    out.clear();
    return 0;
  }
  append_u16(out, static_cast<uint16>(item.size()));
  out.insert(out.end(), item.begin(), item.end());
  return static_cast<uint16>(item.size() + 2);
}

uint16 unpack_entry_record(entry_record& out, const std::vector<byte>& in, std::vector<data_run>& runs,
                           std::vector<byte>& resident, bool packed) {
  clear_item_buffer(out.item);
  runs.clear();
  resident.clear();
  if (in.size() < 6) return 0;
  const uint32 l = load_u16(in.data(), 0);
  if (in.size() - 2 < l) return 0;
  const byte* src = in.data() + 2;
  const uint32 header = unpack_item_header(out.item.header, src, l, packed);
  uint32 used = 0;
  if (!header || !unpack_body(out, src + header, l - header, runs, resident, packed, used)) {
    clear_item_buffer(out.item);
    runs.clear();
    resident.clear();
    return 0;
  }
  return static_cast<uint16>(l + 2);
}

uint32 pack_data_block(const entry_record& rec, std::vector<byte>& out) {
  const uint32 n = static_cast<uint32>(std::min<size_t>(rec.window.size(), 0xFFFF));
  append_u16(out, static_cast<uint16>(n));
  if (n == 0) return 2;
  append_u64(out, rec.window_offset);
  out.insert(out.end(), rec.window.begin(), rec.window.begin() + n);
  return n + 10;
}

uint32 unpack_data_block(entry_record& out, const byte* src, uint32 length) {
  out.window.clear();
  out.window_offset = 0;
  if (!src || length < 2) return 0;
  const uint32 n = load_u16(src, 0);
  if (n == 0) return 2;
  if (length - 2 < n + 8) return 0;
  out.window_offset = load_u32(src, 2) | static_cast<ulong64>(load_u32(src, 6)) << 32;
  out.window.assign(src + 10, src + 10 + n);
  return n + 10;
}

bool write_stored_entry_record(const entry_record& rec, std::vector<byte>& out) {
  out.clear();
  if (!pack_entry_record(rec, out, rec.runs, rec.resident, true)) return false;
  pack_data_block(rec, out);
  append_text(out, rec.name);
  append_text(out, rec.text);
  return true;
}

bool read_stored_entry_record(entry_record& out, const std::vector<byte>& in) {
  out.clear();
  const uint16 item = unpack_entry_record(out, in, out.runs, out.resident, true);
  if (!item) return false;
  size_t at = item;
  const uint32 block = unpack_data_block(out, in.data() + at, static_cast<uint32>(in.size() - at));
  if (!block) return false;
  at += block;
  return read_text(in, at, out.name) && read_text(in, at, out.text);
}

bool fill_entry_record_from_attribute(entry_record& out, ulong64 entry, ulong64 record_number, const byte* attr,
                                      uint32 available) {
  if (!attr || available < 16) return false;
  const uint32 length = load_u32(attr, AH_LENGTH);
  if (length == 0 || length > available || length < AH_RESIDENT_SIZE) return false;
  out.clear();
  item_header& h = out.item.header;
  byte* body = out.item.body;
  h.type = load_u32(attr, AH_TYPE);
  h.small_value = load_u16(attr, AH_INSTANCE);
  h.word_value = load_u16(attr, AH_FLAGS);
  h.key = entry;
  byte_view name;
  if (attr[AH_NAME_LENGTH] && load_u16(attr, AH_NAME_OFFSET) && attribute_name(attr, length, name)) {
    out.name = utf8_of_le_units(name.data, name.size / 2);
  }
  const bool non_resident = attr[AH_NON_RESIDENT] != 0;
  byte_view value;
  const bool has_value = !non_resident && resident_value(attr, length, value);
  switch (h.type) {
    case 0x10:
      if (has_value && value.size >= 36) {
        const uint32 from[] = {0, 8, 24, 16};
        for (int i = 0; i < 4; ++i) store_u64(body + 8 * i, load_u64(value.data, from[i]));
        store_u32(body + 32, load_u32(value.data, 32));
        if (value.size > 55) store_u32(body + 36, load_u32(value.data, 52));
      }
      return true;
    case 0x30:
      if (has_value && value.size >= FN_FIXED_SIZE) {
        store_u64(body, load_u64(value.data, FN_PARENT));
        const uint32 from[] = {8, 16, 32, 24};
        for (int i = 0; i < 4; ++i) store_u64(body + 8 + 8 * i, load_u64(value.data, from[i]));
        store_u64(body + 40, load_u64(value.data, FN_REAL_SIZE));
        body[48] = attr[22];
        body[49] = value.data[56];
        const uint32 units = value.data[FN_NAME_LENGTH];
        if (value.has(FN_NAME, 2ULL * units)) {
          out.text = utf8_of_le_units(value.data + FN_NAME, units);
        }
      }
      return true;
    case 0x40:
      if (has_value && value.size >= 16) std::memcpy(body, value.data, 16);
      return true;
    case 0x70:
      if (has_value && value.size >= 12) {
        body[0] = value.data[8];
        body[1] = value.data[9];
        store_u16(body + 2, load_u16(value.data, 10));
      }
      return true;
    case 0xC0:
      if (has_value && value.size >= 17 && load_u16(value.data, 10) != 0) {
        reparse_names names;
        if (locate_reparse_names(value, names) && value.has(names.print, names.print_length)) {
          out.text = utf8_of_le_units(value.data + names.print, names.print_length / 2);
        }
      }
      return true;
    case 0x60:
      // The volume's label, stored without a terminator; an unlabelled
      // volume has an empty value.
      if (has_value) out.text = utf8_of_le_units(value.data, value.size / 2);
      return true;
    case ENTRY_SUMMARY_TYPE: return true;
    default: break;
  }
  if (!is_resident_data_type(h.type)) {
    out.text.clear();
    return true;
  }
  if (non_resident) {
    if (length < AH_NON_RESIDENT_SIZE + 8) return true;
    h.flag = 1;
    store_u64(body, record_number);
    store_u64(body + 8, load_u64(attr, AH_ALLOCATED_SIZE));
    store_u64(body + 16, std::max(load_u64(attr, AH_DATA_SIZE), load_u64(attr, AH_INITIALIZED_SIZE)));
    store_u64(body + 24, load_u64(attr, AH_COMPRESSED_SIZE));
    store_u32(body + 32, attr[AH_COMPRESSION_UNIT]);
    out.initialized_size = load_u64(attr, AH_INITIALIZED_SIZE);
    // The runs keep their true VCNs, from the piece's first VCN: a piece
    // continued in an extension record maps the clusters from there on.
    attribute_layout layout;
    if (layout.set_attribute(attr, length)) out.runs = layout.runs;
    return true;
  }
  if (has_value) {
    store_u32(body, static_cast<uint32>(value.size));
    if (value.size < 1024) {
      out.resident.assign(value.data, value.data + value.size);
      body[4] = value.size ? 1 : 0;
    }
  }
  return true;
}

bool fill_entry_record_from_attribute(entry_record& out, ulong64 entry, ulong64 record_number, const byte* attr) {
  if (!attr) return false;
  // No attribute is longer than the largest record that holds it.
  const uint32 length = std::min(load_u32(attr, AH_LENGTH), MAX_MFT_RECORD_SIZE);
  return fill_entry_record_from_attribute(out, entry, record_number, attr, length);
}

bool load_attribute_window(entry_record& rec, CNtfs* ntfs, ulong64 offset, uint32 length) {
  if (length == 0 || !ntfs || !ntfs->is_valid()) return false;
  if (rec.window.size() >= length &&
      (offset == rec.window_offset ||
       (offset >= rec.window_offset && offset + length < rec.window_offset + rec.window.size())))
    return true;
  if (rec.item.header.flag) {
    const ulong64 size = load_u64(rec.item.body, 16);
    if (size == 0 || offset >= size) return false;
    const ulong64 n = std::min<ulong64>(length, size - offset);
    attribute_layout layout;
    if (!layout.set_data_runs(rec.runs)) return false;
    layout.data_size = size;
    layout.initialized_size = rec.initialized_size;
    const uint32 unit = load_u32(rec.item.body, 32);
    if ((rec.item.header.word_value & 1) && unit != 0 && unit < 16) layout.unit_clusters = 1u << unit;
    rec.window.assign(static_cast<size_t>(n), 0);
    ulong64 got = 0;
    if (pump_attribute_to_buffer(*ntfs, layout, offset, n, rec.window.data(), got) != PUMP_DONE) {
      rec.window.clear();
      return false;
    }
  } else {
    const ulong64 value_length = load_u32(rec.item.body, 0);
    if (value_length == 0 || rec.resident.empty() || offset >= value_length || offset >= rec.resident.size())
      return false;
    const ulong64 n = std::min<ulong64>(std::min<ulong64>(length, value_length - offset), rec.resident.size() - offset);
    rec.window.assign(rec.resident.begin() + static_cast<long>(offset), rec.resident.begin() + static_cast<long>(offset + n));
  }
  rec.window_offset = offset;
  return true;
}

bool get_record_display_name(const byte* record, uint32 size, std::string& name, ulong64_set& parents,
                             const byte*& attribute) {
  name.clear();
  attribute = nullptr;
  if (!record) return false;
  const byte* a = nullptr;
  for (bool have = find_attribute(record, size, ATTR_FILE_NAME, a); have;
       have = find_next_attribute(record, size, a, ATTR_FILE_NAME)) {
    byte_view value;
    if (a[AH_NON_RESIDENT] || !resident_value(a, load_u32(a, AH_LENGTH), value) || value.size < FN_NAME) continue;
    parents.insert(load_u64(value.data, FN_PARENT));
    const uint32 units = value.data[FN_NAME_LENGTH];
    const uint8 space = value.data[FN_NAMESPACE];
    if (!value.has(FN_NAME, 2ULL * units)) continue;
    const bool long_space = space == 0 || space == 1 || space == 3;
    if (attribute && !(name.size() < 13 && long_space)) continue;
    name = utf8_of_le_units(value.data + FN_NAME, units);
    attribute = a;
  }
  return attribute != nullptr;
}

bool get_record_display_name(const byte* record, std::string& name, ulong64_set& parents, const byte*& attribute) {
  return get_record_display_name(record, record_own_size(record), name, parents, attribute);
}
