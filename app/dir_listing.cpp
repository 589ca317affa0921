#include "app/dir_listing.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <utility>

#include "app/entry_fields.h"
#include "time/zq_time.h"
#include "utils/byte_order.h"

namespace {

using namespace entry_fields;

// Offsets of the four times in the 84 bytes an entry keeps.
const uint32 k_created = 24;
const uint32 k_modified = 32;
const uint32 k_mft_changed = 40;
const uint32 k_accessed = 48;

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

void dir_listing::clear() {
  attributes.clear();
  carved_.clear();
  names_.clear();
  comments_.clear();
  comment_ids_.clear();
  live_.clear();
  rows_.clear();
  nodup_.clear();
}

size_t dir_listing::add_attribute(uint32 type) {
  attributes.emplace_back();
  attributes.back().type = type;
  return attributes.size() - 1;
}

uint32 dir_listing::comment_id(const std::string& text) {
  auto found = comment_ids_.find(text);
  if (found != comment_ids_.end()) return found->second;
  const uint32 id = static_cast<uint32>(comments_.size());
  comments_.push_back(text);
  comment_ids_.emplace(text, id);
  return id;
}

void dir_listing::take_carved(size_t index) {
  inode_indx_mmap& carved = attributes[index].carved;
  for (const auto& kv : carved) {
    const INDX_ENTRY_INFO& e = kv.second;
    carved_entry c;
    std::memcpy(c.entry, e.entry, sizeof c.entry);
    c.file_offset = e.file_offset;
    c.name_start = static_cast<uint32>(names_.size());
    c.name_length = static_cast<uint32>(e.name.size());
    names_ += e.name;
    c.attribute = static_cast<uint32>(index);
    c.comment = comment_id(e.slack_comment);
    c.entry_length = static_cast<uint16>(e.entry_length);
    c.is_dir = e.is_dir;
    c.mtime_invalid = e.mtime_invalid;
    carved_.push_back(c);
  }
  carved.clear();
}

void dir_listing::drop_attribute(size_t index, size_t first_carved) {
  attributes[index].valid.clear();
  attributes[index].carved.clear();
  if (first_carved < carved_.size()) {
    names_.resize(carved_[first_carved].name_start);
    carved_.resize(first_carved);
  }
}

void dir_listing::fill_carved(const carved_entry& c, INDX_ENTRY_INFO& out) const {
  std::memcpy(out.entry, c.entry, sizeof c.entry);
  out.name.assign(names_, c.name_start, c.name_length);
  out.valid = 0;
  out.file_offset = c.file_offset;
  out.entry_length = c.entry_length;
  out.attribute_type = attributes[c.attribute].type;
  out.slack_comment = comments_[c.comment];
  out.is_dir = c.is_dir;
  out.mtime_invalid = c.mtime_invalid;
}

const INDX_ENTRY_INFO& dir_listing::entry_of(uint32 row, INDX_ENTRY_INFO& scratch) const {
  if ((row & k_carved_row) == 0) return *live_[row];
  fill_carved(carved_[row & ~k_carved_row], scratch);
  return scratch;
}

const byte* dir_listing::raw_of(uint32 row) const {
  return (row & k_carved_row) ? carved_[row & ~k_carved_row].entry : live_[row]->entry;
}

void dir_listing::name_of(uint32 row, const char*& text, size_t& length) const {
  if (row & k_carved_row) {
    const carved_entry& c = carved_[row & ~k_carved_row];
    text = names_.data() + c.name_start;
    length = c.name_length;
  } else {
    text = live_[row]->name.data();
    length = live_[row]->name.size();
  }
}

ulong64 dir_listing::modified_of(uint32 row) const { return load_u64(raw_of(row) + k_modified); }

// The no-duplicates key is the name with ASCII letters lowered and the four
// times; two rows share it exactly when those are equal.
size_t dir_listing::hash_of(uint32 row) const {
  const char* text = nullptr;
  size_t length = 0;
  name_of(row, text, length);
  uint64 h = 0xcbf29ce484222325ull;
  for (size_t i = 0; i < length; ++i) h = (h ^ static_cast<unsigned char>(ascii_lower(text[i]))) * 0x100000001b3ull;
  const byte* raw = raw_of(row);
  for (uint32 at : {k_modified, k_accessed, k_mft_changed, k_created}) {
    h = (h ^ load_u64(raw + at)) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
  }
  return static_cast<size_t>(h);
}

bool dir_listing::same_key(uint32 a, uint32 b) const {
  const byte* ra = raw_of(a);
  const byte* rb = raw_of(b);
  if (std::memcmp(ra + k_created, rb + k_created, 32) != 0) return false;
  const char *ta = nullptr, *tb = nullptr;
  size_t la = 0, lb = 0;
  name_of(a, ta, la);
  name_of(b, tb, lb);
  if (la != lb) return false;
  for (size_t i = 0; i < la; ++i)
    if (ascii_lower(ta[i]) != ascii_lower(tb[i])) return false;
  return true;
}

size_t dir_listing::nodup_slot(uint32 row) const {
  const size_t mask = nodup_.size() - 1;
  size_t slot = hash_of(row) & mask;
  while (nodup_[slot] != k_empty && !same_key(nodup_[slot], row)) slot = (slot + 1) & mask;
  return slot;
}

void dir_listing::file_live(uint32 row) {
  rows_.push_back(row);
  const size_t slot = nodup_slot(row);
  const uint32 holder = nodup_[slot];
  if (holder == k_empty) {
    nodup_[slot] = row;
    return;
  }
  if ((holder & k_carved_row) == 0) return;
  // A carved holder displaced by a live entry keeps its row, which must then
  // say that the entry exists.
  carved_entry& displaced = carved_[holder & ~k_carved_row];
  displaced.comment = comment_id(exists_comment(comments_[displaced.comment]));
  nodup_[slot] = row;
}

void dir_listing::file_carved(uint32 row, const std::string& comment, ulong64 dir_entry) {
  carved_entry& c = carved_[row & ~k_carved_row];
  c.comment = comment_id(comment);
  rows_.push_back(row);
  const size_t slot = nodup_slot(row);
  const uint32 holder = nodup_[slot];
  if (holder == k_empty) {
    nodup_[slot] = row;
    return;
  }
  if ((holder & k_carved_row) == 0) {
    c.comment = comment_id(exists_comment(comment));
    return;
  }
  if (takes_over(entry_of(row, scratch_a_), entry_of(holder, scratch_b_), dir_entry)) nodup_[slot] = row;
}

bool dir_listing::merge(ulong64 mft_entry_count) {
  rows_.clear();
  live_.clear();
  size_t live_count = 0;
  for (const indx_attribute_entries& a : attributes) live_count += a.valid.size();
  if (live_count == 0 && carved_.empty()) return false;

  size_t capacity = 16;
  while (capacity < 2 * (live_count + carved_.size())) capacity *= 2;
  nodup_.assign(capacity, k_empty);
  rows_.reserve(live_count + carved_.size());
  live_.reserve(live_count);

  // Every live entry is filed before any carved one, so each holds its key.
  ulong64 dir_entry = 0;
  for (indx_attribute_entries& a : attributes) {
    for (auto& kv : a.valid) {
      INDX_ENTRY_INFO& e = kv.second;
      e.attribute_type = a.type;
      live_.push_back(&e);
      file_live(static_cast<uint32>(live_.size() - 1));
      if (dir_entry == 0) dir_entry = parent_entry(e);
    }
  }

  // Carved entries in the parser's order: attribute, parent entry, carving.
  std::vector<uint32> order(carved_.size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), [this](uint32 a, uint32 b) {
    const carved_entry& ca = carved_[a];
    const carved_entry& cb = carved_[b];
    if (ca.attribute != cb.attribute) return ca.attribute < cb.attribute;
    return mft_reference_entry(load_u64(ca.entry + 16)) < mft_reference_entry(load_u64(cb.entry + 16));
  });
  std::string key;
  for (uint32 index : order) {
    carved_entry& c = carved_[index];
    if (c.name_length == 0) continue;
    const ulong64 number = mft_reference_entry(load_u64(c.entry));
    if (number > mft_entry_count && load_u16(c.entry + 6) == 0) std::memset(c.entry, 0, 8);
    c.mtime_invalid = zq::is_valid_filetime(load_u64(c.entry + k_modified)) ? 0 : 1;
    const INDX_ENTRY_INFO& e = entry_of(index | k_carved_row, scratch_a_);
    make_entry_key(key, parent_entry(e), e.name);
    const INDX_ENTRY_INFO* live = find_live(attributes, c.attribute, key);
    file_carved(index | k_carved_row, live ? judge_against_live(e, *live) : std::string("deleted"), dir_entry);
  }

  std::stable_sort(rows_.begin(), rows_.end(),
                   [this](uint32 a, uint32 b) { return modified_of(a) < modified_of(b); });
  return true;
}

void dir_listing::nodup_rows(std::vector<uint32>& out) const {
  std::vector<std::pair<std::string, uint32>> keyed;
  for (uint32 row : nodup_) {
    if (row == k_empty) continue;
    keyed.emplace_back(nodup_key(entry_of(row, scratch_a_)), row);
  }
  std::sort(keyed.begin(), keyed.end());
  out.clear();
  out.reserve(keyed.size());
  for (const auto& kv : keyed) out.push_back(kv.second);
}
