// INODE_STATS: the summary of one MFT record, and its parser.
#include "ntfs/inode_stats.h"

#include <cstring>
#include <map>
#include <utility>

#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "utils/utf_convert.h"

void INODE_STATS::reset() {
  name_utf8.clear();
  name.clear();
  std::memset(file_name, 0, sizeof file_name);
  file_size = 0;
  bitmap_runs.clear();
  data_runs.clear();
  index_allocation_runs.clear();
}

namespace {

// UTF-16LE units to wide characters, stopping at a zero unit. A surrogate
// pair is one character: names outside the BMP keep their code point.
void utf16le_to_wstring(const byte* p, uint32 units, std::wstring& out) {
  out.clear();
  for (uint32 i = 0; i < units; ++i) {
    uint32 u = load_u16(p, 2ULL * i);
    if (u == 0) break;
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < units) {
      const uint32 low = load_u16(p, 2ULL * (i + 1));
      if (low >= 0xDC00 && low < 0xE000) {
        u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    out += static_cast<wchar_t>(u);
  }
}

uint32 record_bound(const CNtfs& ntfs) {
  return ntfs.m_mft_record_alloc_size ? ntfs.m_mft_record_alloc_size : ntfs.m_mft_record_size;
}

// The later pieces of an attribute continued in extension records (first
// VCN above 0), decoded and keyed by list and first VCN until the whole
// record has been read: they join their first piece in VCN order, whatever
// order the attribute list names them in.
typedef std::map<std::pair<std::vector<run_record>*, ulong64>, std::vector<run_record>> later_pieces;

// Decodes the runs of a non-resident attribute: a first piece (first VCN 0)
// replaces the list, a later one waits in `later`.
bool take_runs(const byte* attr, uint32 attr_length, uint32 type, std::vector<run_record>& runs,
               later_pieces& later) {
  byte_view pairs;
  if (!mapping_pairs(attr, attr_length, pairs)) return false;
  std::vector<run_record> decoded;
  if (!decode_mapping_pairs_bounded(pairs.data, pairs.size, decoded, type, true)) return false;
  const ulong64 first_vcn = load_u64(attr, AH_FIRST_VCN);
  if (first_vcn == 0) {
    runs.swap(decoded);
    return true;
  }
  for (run_record& r : decoded) r.vcn += first_vcn;
  later[std::make_pair(&runs, first_vcn)].swap(decoded);
  return true;
}

// Appends the later pieces to their lists, each where the list ends; a piece
// that does not start there (a piece missing before it, or a list without
// its first piece) is left out, and so is every piece after it.
void join_later_pieces(later_pieces& later) {
  std::vector<run_record>* list = nullptr;
  ulong64 have = 0;  // clusters `list` maps so far
  for (auto& kv : later) {
    std::vector<run_record>& runs = *kv.first.first;
    if (&runs != list) {
      list = &runs;
      have = 0;
      for (const run_record& r : runs) have += r.num_clusters;
    }
    if (runs.empty() || runs[0].resident || have != kv.first.second) continue;
    for (const run_record& r : kv.second) have += r.num_clusters;
    runs.insert(runs.end(), kv.second.begin(), kv.second.end());
  }
}

}  // namespace

namespace {

// Folds one attribute into the summary; false when its runs do not decode.
// The initialized size that decides whether a non-resident attribute has
// data to map is its first piece's: later pieces carry none of their own.
bool take_attribute(const byte* attr, uint32 type, uint32 length, INODE_STATS& out, later_pieces& later) {
  const bool non_resident = attr[AH_NON_RESIDENT] != 0;
  const bool named = attr[AH_NAME_LENGTH] != 0;
  const bool first_piece = !non_resident || length < AH_NON_RESIDENT_SIZE || load_u64(attr, AH_FIRST_VCN) == 0;
  const bool holds_data =
      non_resident && length >= AH_NON_RESIDENT_SIZE && (!first_piece || load_u64(attr, AH_INITIALIZED_SIZE) != 0);
  switch (type) {
    case ATTR_FILE_NAME: {
      if (named) {
        byte_view name;
        if (attribute_name(attr, length, name)) {
          utf16le_to_wstring(name.data, static_cast<uint32>(name.size / 2), out.name);
          out.name_utf8 = wstring_to_utf8(out.name);
        }
        return true;
      }
      byte_view value;
      if (non_resident || !resident_value(attr, length, value) || value.size == 0) return true;
      std::memset(out.file_name, 0, sizeof out.file_name);
      std::memcpy(out.file_name, value.data, value.size < FN_FIXED_SIZE ? value.size : FN_FIXED_SIZE);
      uint8 units = 0;
      value.u8(FN_NAME_LENGTH, units);
      byte_view name = value.sub(FN_NAME, 2ULL * units);
      if (!name.data && value.size > FN_NAME) name = value.sub(FN_NAME, (value.size - FN_NAME) & ~1ULL);
      if (name.data)
        utf16le_to_wstring(name.data, static_cast<uint32>(name.size / 2), out.name);
      else
        out.name.clear();
      out.name_utf8 = wstring_to_utf8(out.name);
      uint32 real = 0;
      out.file_size = value.u32(FN_REAL_SIZE, real) ? real : 0;
      return true;
    }
    case ATTR_DATA:
    case ATTR_BITMAP: {
      // A named stream is not the file's data: only the unnamed $DATA (and
      // the bitmap of the record's index or of the MFT) count.
      if (type == ATTR_DATA && named) return true;
      std::vector<run_record>& runs = type == ATTR_DATA ? out.data_runs : out.bitmap_runs;
      if (non_resident) return !holds_data || take_runs(attr, length, type, runs, later);
      byte_view value;
      if (!resident_value(attr, length, value) || value.size == 0) return true;
      runs.push_back(run_record(value.data, static_cast<uint32>(value.size), type, std::string()));
      if (type == ATTR_DATA && out.file_size == 0) out.file_size = static_cast<uint32>(value.size);
      return true;
    }
    case ATTR_INDEX_ALLOCATION:
      return !holds_data || take_runs(attr, length, type, out.index_allocation_runs, later);
    default:
      return true;
  }
}

bool summarised_type(uint32 type) {
  return type == ATTR_FILE_NAME || type == ATTR_DATA || type == ATTR_BITMAP || type == ATTR_INDEX_ALLOCATION;
}

}  // namespace

bool CNtfs::parse_file_record(const byte* record, INODE_STATS& out) {
  out.reset();
  const uint32 size = record_bound(*this);
  if (!record || size < FRH_SIZE) return false;
  const uint32 limit = record_walk_limit(record, size);
  uint32 offset = load_u16(record, FRH_FIRST_ATTRIBUTE);
  uint32 type = 0;
  uint32 length = 0;
  const byte* list_attr = nullptr;
  later_pieces later;
  for (; attribute_at(record, limit, offset, type, length); offset += length) {
    if (type == ATTR_ATTRIBUTE_LIST && !list_attr) list_attr = record + offset;
    if (!take_attribute(record + offset, type, length, out, later)) return false;
  }
  // Attributes that did not fit in the base record live in extension records
  // named by its $ATTRIBUTE_LIST: a file's names and data runs may be there.
  std::vector<byte> list_bytes;
  if (!list_attr || !m_Validated ||
      !read_attribute_list_value(list_attr, load_u32(list_attr, AH_LENGTH), list_bytes)) {
    join_later_pieces(later);
    return true;
  }
  const byte_view list(list_bytes.data(), list_bytes.size());
  // The caller's view of the record it read stays as it was.
  const record_fixup_state caller_fixup = m_last_fixup;
  std::vector<byte> ext(size);
  ulong64 loaded = ~0ULL;
  bool usable = false;
  const uint32 list_len = static_cast<uint32>(list.size);
  uint32 next = 0;
  while (fits(list_len, next, ALE_MIN_SIZE)) {
    const uint32 at = next;
    const uint32 entry_len = load_u16(list.data, at + ALE_LENGTH);
    if (load_u32(list.data, at) == ATTR_END || entry_len < ALE_MIN_SIZE || !fits(list_len, at, entry_len)) break;
    next = at + entry_len;
    const uint32 entry_type = load_u32(list.data, at + ALE_TYPE);
    if (!summarised_type(entry_type)) continue;
    const ulong64 ref = mft_reference_entry(load_u64(list.data, at + ALE_REFERENCE));
    if (ref != loaded) {
      loaded = ref;
      byte* buf = ext.data();
      ulong64 pos = 0;
      int got = static_cast<int>(ext.size());
      // Only extension records count: the base record lists itself too.
      usable = read_mft_record(ref, buf, pos, got, false);
      if (usable) clear_cut_record_tail(buf, static_cast<uint32>(got), size);
      usable = usable && load_u64(buf, FRH_BASE_RECORD) != 0;
    }
    if (!usable) continue;
    const uint16 instance = load_u16(list.data, at + ALE_INSTANCE);
    const uint32 ext_limit = record_walk_limit(ext.data(), size);
    uint32 ext_off = load_u16(ext.data(), FRH_FIRST_ATTRIBUTE);
    uint32 t = 0;
    uint32 len = 0;
    for (; attribute_at(ext.data(), ext_limit, ext_off, t, len); ext_off += len) {
      if (t == entry_type && load_u16(ext.data(), ext_off + AH_INSTANCE) == instance) {
        if (!take_attribute(ext.data() + ext_off, t, len, out, later)) {
          m_last_fixup = caller_fixup;
          return false;
        }
        break;
      }
    }
  }
  m_last_fixup = caller_fixup;
  join_later_pieces(later);
  return true;
}
