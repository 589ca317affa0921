#include "ntfs/index_node.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "ntfs/ntfs_structs.h"
#include "time/zq_time.h"
#include "utils/buffer_scan.h"
#include "utils/byte_order.h"
#include "utils/number_append.h"
#include "utils/thread_scratch.h"

void INDX_ENTRY_INFO::reset() {
  std::memset(entry, 0, sizeof(entry));
  name.clear();
  valid = 0;
  file_offset = 0;
  entry_length = 0;
  attribute_type = 0xA0;
  slack_comment.clear();
  is_dir = 0;
  mtime_invalid = 0;
}

namespace {

const uint32 k_fixed_part = 82;   // header + fixed $FILE_NAME bytes
const uint32 k_copied_part = 84;  // what INDX_ENTRY_INFO keeps of an entry
// A 255-character name needs a key of 66 + 510 bytes and an entry of 592.
const uint32 k_max_live_entry_length = 600;
const uint32 k_max_live_key_length = 576;
const uint32 k_max_next_entry_length = 1024;

// Scratch space reused from node to node, so that a volume's millions of
// entries cost no allocation beyond the entries themselves; one per thread.
struct carve_scratch {
  std::vector<ulong64> hits;
  std::vector<uint64> starts;  // kept candidate starts, ascending
  INDX_ENTRY_INFO info;
  std::string key;
};

carve_scratch& scratch() { return thread_scratch<carve_scratch>::get(); }

bool is_directory_flags(uint32 attributes) { return (attributes & 0x10) || (attributes & 0x10000000); }

// The window in which a slack value is taken for a creation time: 1 January
// 1986 to 1 January 2100, 00:00:00 UTC, both bounds inside.
struct filetime_window {
  uint64 low, high;
  filetime_window()
      : low(zq::time("01/01/1986").m_filetime), high(zq::time("01/01/2100").m_filetime) {}
};

const filetime_window& carve_window() {
  static const filetime_window w;
  return w;
}

bool valid_filetime(uint64 value) { return zq::is_valid_filetime(value); }

// Copies the entry at `p` (at least 84 bytes, 82 + 2n available) into `info`.
void fill_entry(INDX_ENTRY_INFO& info, const byte* p, uint8 valid, uint64 file_offset) {
  info.reset();
  std::memcpy(info.entry_header, p, sizeof(info.entry_header));
  std::memcpy(info.file_name, p + sizeof(info.entry_header), sizeof(info.file_name));
  const uint32 name_units = p[k_ie_name_length];
  info.valid = valid;
  info.file_offset = file_offset;
  info.entry_length = k_fixed_part + 2 * name_units;
  info.is_dir = is_directory_flags(load_u32(p, k_ie_file_attributes)) ? 1 : 0;
  if (name_units) utf16le_name_to_utf8(info.name, p + k_ie_name, name_units);
}

void insert_valid(string_indx_map& valid, const INDX_ENTRY_INFO& info, std::string& key) {
  make_entry_key(key, mft_reference_entry(load_u64(info.entry, k_ie_parent)), info.name);
  auto found = valid.find(key);
  if (found == valid.end()) {
    valid.emplace(key, info);
    return;
  }
  // The same name again (the same entry in another node) keeps the first.
  // A name that differs only in letter case is another live file.
  if (found->second.name == info.name) return;
  key.push_back('\x01');
  key += info.name;
  valid.emplace(key, info);
}

// The valid walk. Returns the offset (from the node start) where the slack
// begins; `dir_entry` learns the parent of the first live entry when it is 0.
uint64 walk_valid_entries(string_indx_map& valid, ulong64& dir_entry, const byte* node, uint64 length,
                          ulong64 file_offset, carve_scratch& s) {
  if (length < 8) return length;
  uint64 offset = load_u32(node, 0);
  int64 remaining = load_u32(node, 4);
  // Records larger than 4 KiB may hold a longer used part.
  const int64 remaining_cap = std::max<int64>(4095, static_cast<int64>(length));
  for (;;) {
    if (remaining < 1 || remaining > remaining_cap) break;
    if (!fits(length, offset, k_copied_part)) break;
    const byte* p = node + offset;
    const uint32 name_units = p[k_ie_name_length];
    if (!fits(length, offset, k_fixed_part + 2ULL * name_units)) break;
    const uint16 entry_length = load_u16(p, k_ie_entry_length);
    const uint16 key_length = load_u16(p, k_ie_key_length);
    const uint16 flags = load_u16(p, k_ie_flags);
    if (entry_length > k_max_live_entry_length || key_length > k_max_live_key_length) break;
    if (load_u64(p, k_ie_file_reference) == 0 || flags == 2 || flags == 3) break;

    fill_entry(s.info, p, 1, file_offset + offset);
    if (dir_entry == 0) dir_entry = mft_reference_entry(load_u64(p, k_ie_parent));
    insert_valid(valid, s.info, s.key);

    remaining -= entry_length;
    // The index length ran out inside this entry: it is live and is also
    // where the slack begins.
    if (remaining < 0) break;
    offset += entry_length;
    if (!fits(length, offset, k_ie_entry_length + 2)) break;
    const uint16 next_length = load_u16(node + offset, k_ie_entry_length);
    if (next_length == 0 || next_length > k_max_next_entry_length) break;
  }
  return offset;
}

// Whether an entry starting at `c` lies whole in the slack and has a valid
// creation time: only such a candidate can be carved.
bool carvable(const byte* slack, uint64 slack_length, uint64 c) {
  if (!fits(slack_length, c, k_copied_part)) return false;
  const uint32 name_units = slack[c + k_ie_name_length];
  if (!fits(slack_length, c, k_fixed_part + 2ULL * name_units)) return false;
  return valid_filetime(load_u64(slack, c + k_ie_created));
}

// Keeps `start` unless it lies within the fixed part of the kept candidate
// at or before it. Candidates are tested before they are kept: a chance hit
// (a sub-node VCN equal to the directory's number, say) that is no entry
// must not hide the real entry a few bytes after it.
void add_candidate(std::vector<uint64>& starts, uint64 start, const byte* slack, uint64 slack_length) {
  if (!carvable(slack, slack_length, start)) return;
  auto after = std::upper_bound(starts.begin(), starts.end(), start);
  if (after != starts.begin()) {
    const uint64 before = *(after - 1);
    if (before + k_fixed_part >= start) return;
  }
  starts.insert(after, start);
}

void carve_slack(inode_indx_mmap& carved, ulong64 dir_entry, const byte* slack, uint64 slack_length,
                 ulong64 slack_file_offset, carve_scratch& s) {
  s.starts.clear();
  if (slack_length < k_copied_part) return;
  // The scans take 32-bit lengths; a node is far below that, but a caller's
  // length is clamped rather than trusted.
  const uint32 scan_length = static_cast<uint32>(std::min<uint64>(slack_length, 0x7FFFFFF8ULL));

  const uint32 dir_low = static_cast<uint32>(dir_entry);
  if (dir_low != 0) {
    s.hits.clear();
    // Read with byte loads inside; the cast only names the word type.
    find_all_u32(s.hits, reinterpret_cast<const uint32*>(slack), scan_length, dir_low, 8);
    for (ulong64 h : s.hits) {
      // The hit is the low half of the parent reference at entry offset 16.
      if (h < k_ie_parent || h + 40 > slack_length) continue;
      add_candidate(s.starts, h - k_ie_parent, slack, slack_length);
    }
  }

  s.hits.clear();
  const filetime_window& window = carve_window();
  zq::scan_filetimes_in_range(s.hits, slack, static_cast<int>(scan_length), 0, window.low, window.high, 32);
  for (ulong64 h : s.hits) {
    // The hit is taken as the creation time at entry offset 24; its access
    // time lies 24 bytes further on.
    if (h < k_ie_created || h + 32 > slack_length) continue;
    if (!valid_filetime(load_u64(slack, h + 24))) continue;
    add_candidate(s.starts, h - k_ie_created, slack, slack_length);
  }

  for (uint64 c : s.starts) {
    const byte* p = slack + c;
    fill_entry(s.info, p, 0, slack_file_offset + c);
    carved.emplace_hint(carved.end(), mft_reference_entry(load_u64(p, k_ie_parent)), s.info);
  }
}

uint64 node_length(int length) { return length > 0 ? static_cast<uint64>(length) : 0; }

}  // namespace

void utf16le_name_to_utf8(std::string& out, const byte* name, uint32 units) {
  for (uint32 i = 0; i < units; ++i) {
    uint32 cp = load_u16(name, 2ULL * i);
    if (cp == 0) break;
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units) {
      const uint32 low = load_u16(name, 2ULL * (i + 1));
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;  // unpaired half
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
}

void make_entry_key(std::string& key, ulong64 parent, const std::string& name) {
  key.clear();
  append_decimal_padded(key, parent, 10);
  key.push_back('_');
  for (char c : name) key.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
}

bool parse_index_node_w_carve(string_indx_map& valid, inode_indx_mmap& carved, ulong64 dir_entry,
                              const byte* node, int length, ulong64 file_offset) {
  if (!node) return false;
  carve_scratch& s = scratch();
  const uint64 len = node_length(length);
  const uint64 end = walk_valid_entries(valid, dir_entry, node, len, file_offset, s);
  if (end < len) carve_slack(carved, dir_entry, node + end, len - end, file_offset + end, s);
  return true;
}

bool parse_unused_index_node_w_carve(inode_indx_mmap& carved, ulong64 dir_entry, const byte* node,
                                     int length, ulong64 file_offset) {
  if (!node) return false;
  const uint64 len = node_length(length);
  if (len < 4) return true;
  const uint64 start = load_u32(node, 0);
  if (start < len) carve_slack(carved, dir_entry, node + start, len - start, file_offset + start, scratch());
  return true;
}

bool parse_index_root_w_carve(string_indx_map& valid, inode_indx_mmap& carved, ulong64 dir_entry,
                              const byte* root_value, int length, ulong64 file_offset) {
  // A node length below zero says the value does not hold its own 16-byte
  // header: nothing of it is read.
  if (!root_value || length < 0) return false;
  if (load_u32(root_value, 0) != 0x30 || load_u32(root_value, 8) == 0) return false;
  return parse_index_node_w_carve(valid, carved, dir_entry, root_value + 16, length, file_offset);
}

bool parse_indx_buffer_w_carve(string_indx_map& valid, inode_indx_mmap& carved, ulong64 dir_entry,
                               const byte* record, int length, ulong64 file_offset) {
  if (!record) return false;
  if (length < 24) return true;
  return parse_index_node_w_carve(valid, carved, dir_entry, record + 24, length - 24, file_offset + 24);
}

bool parse_index_allocation_w_carve(string_indx_map& valid, inode_indx_mmap& carved,
                                    ulong64 dir_entry, const byte* data, uint64 length,
                                    uint32 record_size, const byte* bitmap, uint64 bitmap_length,
                                    ulong64 file_offset) {
  if (!data || record_size < 512 || record_size > 0x7FFFFFFFU) return false;
  const int node_len = static_cast<int>(record_size - 24);
  uint64 index = 0;
  for (uint64 off = 0; fits(length, off, record_size); off += record_size, ++index) {
    const byte* record = data + off;
    if (std::memcmp(record, "INDX", 4) != 0) continue;
    bool in_use = true;
    if (bitmap) {
      const uint64 byte_index = index / 8;
      in_use = byte_index < bitmap_length && (bitmap[byte_index] >> (index % 8)) & 1;
    }
    if (in_use)
      parse_index_node_w_carve(valid, carved, dir_entry, record + 24, node_len, file_offset + off + 24);
    else
      parse_unused_index_node_w_carve(carved, dir_entry, record + 24, node_len, file_offset + off + 24);
  }
  return true;
}
