#include "app/dir_listing.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

#include "app/entry_fields.h"
#include "utils/byte_order.h"

namespace {

using namespace entry_fields;

// Offsets in the 84 bytes an entry keeps: parent reference and the times.
const uint32 k_parent = 16;
const uint32 k_created = 24;
const uint32 k_modified = 32;
const uint32 k_mft_changed = 40;
const uint32 k_accessed = 48;

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

uint64 mix(uint64 h, uint64 value) {
  h = (h ^ value) * 0x9E3779B97F4A7C15ull;
  return h ^ (h >> 29);
}

uint64 name_hash(uint64 h, const char* text, size_t length, bool exact) {
  for (size_t i = 0; i < length; ++i)
    h = (h ^ static_cast<unsigned char>(exact ? text[i] : ascii_lower(text[i]))) * 0x100000001b3ull;
  return h;
}

bool names_equal(const char* a, size_t la, const char* b, size_t lb, bool exact) {
  if (la != lb) return false;
  if (exact) return std::memcmp(a, b, la) == 0;
  for (size_t i = 0; i < la; ++i)
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  return true;
}

// Grows an open-addressed table so that it stays at most half full.
bool needs_growth(const std::vector<uint32>& table, size_t count) { return table.empty() || 2 * (count + 1) > table.size(); }

}  // namespace

void dir_listing::clear() {
  attributes_.clear();
  taken_ = take_progress();
  chunks_.clear();
  count_ = 0;
  names_.clear();
  comments_.clear();
  comment_ids_.clear();
  keys_.clear();
  variants_.clear();
  key_count_ = 0;
  variant_count_ = 0;
  rows_.clear();
  nodup_.clear();
  keep_carved_ = true;
  comment_id(std::string());
}

size_t dir_listing::add_attribute(uint32 type) {
  attributes_.emplace_back();
  attributes_.back().type = type;
  return attributes_.size() - 1;
}

uint16 dir_listing::comment_id(const std::string& text) {
  auto found = comment_ids_.find(text);
  if (found != comment_ids_.end()) return found->second;
  // Comments are a handful of judgements; a flood of distinct ones would be
  // a fault, and the last one stands for the rest rather than wrapping.
  if (comments_.size() >= 0xFFFF) return static_cast<uint16>(comments_.size() - 1);
  const uint16 id = static_cast<uint16>(comments_.size());
  comments_.push_back(text);
  comment_ids_.emplace(text, id);
  return id;
}

uint32 dir_listing::push(const stored_entry& s) {
  if ((count_ >> k_chunk_bits) >= chunks_.size()) {
    // Owned before the list of chunks grows: when that runs out of memory,
    // the chunk is freed rather than lost.
    std::unique_ptr<stored_entry[]> chunk(new stored_entry[k_chunk]);
    chunks_.push_back(std::move(chunk));
  }
  at(static_cast<uint32>(count_)) = s;
  return static_cast<uint32>(count_++);
}

uint32 dir_listing::store(const INDX_ENTRY_INFO& e, size_t attribute) {
  stored_entry s;
  std::memcpy(s.entry, e.entry, sizeof s.entry);
  s.file_offset = e.file_offset;
  // A name is at most 255 UTF-16 units, so it always fits in one block.
  const size_t length = std::min<size_t>(e.name.size(), k_name_block);
  if (names_.empty() || names_.back().size() + length > k_name_block) names_.emplace_back();
  // A block grows by doubling from 4 KiB and never past its size: small
  // folders stay small and no block holds room it cannot use.
  std::string& block = names_.back();
  if (block.size() + length > block.capacity())
    block.reserve(std::min<size_t>(k_name_block, std::max<size_t>(4096, 2 * block.capacity())));
  s.name = static_cast<uint64>(names_.size() - 1) * k_name_block + names_.back().size();
  names_.back().append(e.name, 0, length);
  s.name_length = static_cast<uint16>(length);
  s.name_hash = static_cast<uint32>(name_hash(0xcbf29ce484222325ull, e.name.data(), length, false));
  s.attribute = static_cast<uint16>(attribute);
  s.comment = comment_id(e.slack_comment);
  s.valid = e.valid;
  s.variant = 0;
  s.is_dir = e.is_dir;
  s.mtime_invalid = e.mtime_invalid;
  return push(s);
}

void dir_listing::unstore_last() {
  names_.back().resize(names_.back().size() - at(static_cast<uint32>(count_ - 1)).name_length);
  --count_;
}

void dir_listing::name_of(uint32 id, const char*& text, size_t& length) const {
  const stored_entry& s = at(id);
  text = names_[static_cast<size_t>(s.name / k_name_block)].data() + s.name % k_name_block;
  length = s.name_length;
}

ulong64 dir_listing::parent_of(uint32 id) const { return mft_reference_entry(load_u64(at(id).entry + k_parent)); }

ulong64 dir_listing::modified_of(uint32 id) const { return load_u64(at(id).entry + k_modified); }

const INDX_ENTRY_INFO& dir_listing::entry_of(uint32 id, INDX_ENTRY_INFO& out) const {
  const stored_entry& s = at(id);
  std::memcpy(out.entry, s.entry, sizeof s.entry);
  const char* text = nullptr;
  size_t length = 0;
  name_of(id, text, length);
  out.name.assign(text, length);
  out.valid = s.valid;
  out.file_offset = s.file_offset;
  out.entry_length = 82 + 2u * s.entry[80];
  out.attribute_type = attributes_[s.attribute].type;
  out.slack_comment = comments_[s.comment];
  out.is_dir = s.is_dir;
  out.mtime_invalid = s.mtime_invalid;
  return out;
}

size_t dir_listing::key_hash(uint32 id, bool exact) const {
  uint64 h = mix(mix(at(id).name_hash, at(id).attribute), parent_of(id));
  if (!exact) return static_cast<size_t>(h);
  const char* text = nullptr;
  size_t length = 0;
  name_of(id, text, length);
  return static_cast<size_t>(name_hash(h, text, length, true));
}

bool dir_listing::same_parser_key(uint32 a, uint32 b, bool exact) const {
  if (at(a).name_hash != at(b).name_hash || at(a).attribute != at(b).attribute || parent_of(a) != parent_of(b))
    return false;
  const char *ta = nullptr, *tb = nullptr;
  size_t la = 0, lb = 0;
  name_of(a, ta, la);
  name_of(b, tb, lb);
  return names_equal(ta, la, tb, lb, exact);
}

size_t dir_listing::key_slot(const std::vector<uint32>& table, uint32 id, bool exact) const {
  const size_t mask = table.size() - 1;
  size_t slot = key_hash(id, exact) & mask;
  while (table[slot] != k_empty && !same_parser_key(table[slot], id, exact)) slot = (slot + 1) & mask;
  return slot;
}

void dir_listing::add_key(uint32 id, bool exact) {
  std::vector<uint32>& table = exact ? variants_ : keys_;
  size_t& count = exact ? variant_count_ : key_count_;
  if (needs_growth(table, count)) {
    // The grown table is filled before it replaces the old one: running out
    // of memory here leaves every key in place.
    std::vector<uint32> grown(table.empty() ? 64 : table.size() * 2, k_empty);
    for (uint32 held : table)
      if (held != k_empty) grown[key_slot(grown, held, exact)] = held;
    table.swap(grown);
  }
  table[key_slot(table, id, exact)] = id;
  ++count;
}

void dir_listing::rebuild_keys() {
  keys_.clear();
  variants_.clear();
  key_count_ = 0;
  variant_count_ = 0;
  for (uint32 id = 0; id < count_; ++id) {
    if (at(id).valid) add_key(id, at(id).variant != 0);
  }
}

void dir_listing::file_parsed_live(const INDX_ENTRY_INFO& e, size_t attribute) {
  if (!key_parsed_live(store(e, attribute))) unstore_last();
}

bool dir_listing::key_parsed_live(uint32 id) {
  if (!keys_.empty()) {
    const uint32 holder = keys_[key_slot(keys_, id, false)];
    if (holder != k_empty) {
      const char *ta = nullptr, *tb = nullptr;
      size_t la = 0, lb = 0;
      name_of(holder, ta, la);
      name_of(id, tb, lb);
      // The same name again (the same entry in another node) keeps the
      // first; so does a name already filed under its '\x01' key.
      const bool again = names_equal(ta, la, tb, lb, true) ||
                         (!variants_.empty() && variants_[key_slot(variants_, id, true)] != k_empty);
      if (again) return false;
      at(id).variant = 1;
      add_key(id, true);
      return true;
    }
  }
  add_key(id, false);
  return true;
}

void dir_listing::take_parsed(size_t index) {
  indx_attribute_entries& parsed = attributes_[index];
  // Entries are counted as they are filed, each whole or not at all: a take
  // that an exception cut short goes on after the last one filed.
  if (taken_.attribute != index) taken_ = take_progress();
  taken_.attribute = index;
  // The piece's map holds, per key, the first entry of the piece; filing
  // them in key order against the keys of earlier pieces gives what one map
  // for the whole index would hold (names of one key differ, so the order
  // among them does not matter).
  // The counts stay in locals on the way (the filing calls could otherwise
  // make every step store them) and are kept only when an exception ends
  // the take.
  size_t valid = taken_.valid, carved = taken_.carved;
  size_t before = count_;
  bool live_phase = true;
  try {
    auto live = std::next(parsed.valid.begin(), static_cast<std::ptrdiff_t>(valid));
    for (; live != parsed.valid.end(); ++live, ++valid) {
      before = count_;
      file_parsed_live(live->second, index);
    }
    live_phase = false;
    if (keep_carved_) {
      auto slack = std::next(parsed.carved.begin(), static_cast<std::ptrdiff_t>(carved));
      for (; slack != parsed.carved.end(); ++slack, ++carved) store(slack->second, index);
    }
  } catch (...) {
    // A live entry stored but not yet keyed is dropped, to go again whole.
    if (live_phase && count_ > before) unstore_last();
    taken_.valid = valid;
    taken_.carved = carved;
    throw;
  }
  parsed.valid.clear();
  parsed.carved.clear();
  taken_ = take_progress();
}

void dir_listing::drop_entries_from(size_t first) {
  if (first >= count_) return;
  const stored_entry& s = at(first);
  names_.resize(static_cast<size_t>(s.name / k_name_block + 1));
  names_.back().resize(static_cast<size_t>(s.name % k_name_block));
  count_ = first;
  chunks_.resize((count_ + k_chunk - 1) >> k_chunk_bits);
  rebuild_keys();
}

bool dir_listing::key_before(uint32 a, uint32 b) const {
  // The key is the parent in decimal, zero-filled to ten digits, "_", the
  // name with ASCII letters lowered, and for a second name of the key
  // '\x01' and the name. Parents of ten digits or fewer compare as numbers.
  const ulong64 pa = parent_of(a), pb = parent_of(b);
  if (pa != pb) {
    const ulong64 ten_digits = 10000000000ull;
    if (pa < ten_digits && pb < ten_digits) return pa < pb;
    std::string ka, kb;
    for (int pass = 0; pass < 2; ++pass) {
      const uint32 id = pass == 0 ? a : b;
      std::string& key = pass == 0 ? ka : kb;
      const char* text = nullptr;
      size_t length = 0;
      name_of(id, text, length);
      const std::string name(text, length);
      make_entry_key(key, parent_of(id), name);
      if (at(id).variant) key += '\x01' + name;
    }
    return ka < kb;
  }
  const char *ta = nullptr, *tb = nullptr;
  size_t la = 0, lb = 0;
  name_of(a, ta, la);
  name_of(b, tb, lb);
  const size_t ea = at(a).variant ? 2 * la + 1 : la;
  const size_t eb = at(b).variant ? 2 * lb + 1 : lb;
  for (size_t i = 0; i < ea && i < eb; ++i) {
    const unsigned char ca = static_cast<unsigned char>(i < la ? ascii_lower(ta[i]) : i == la ? '\x01' : ta[i - la - 1]);
    const unsigned char cb = static_cast<unsigned char>(i < lb ? ascii_lower(tb[i]) : i == lb ? '\x01' : tb[i - lb - 1]);
    if (ca != cb) return ca < cb;
  }
  return ea < eb;
}

const INDX_ENTRY_INFO* dir_listing::find_live(size_t own, uint32 carved) {
  if (keys_.empty()) return nullptr;
  // The carved entry itself is the probe, moved to each attribute in turn.
  stored_entry& probe = at(carved);
  const uint16 attribute = probe.attribute;
  const INDX_ENTRY_INFO* found = nullptr;
  for (size_t pass = 0; pass <= attributes_.size() && found == nullptr; ++pass) {
    // The entry's own attribute first, then the others in order.
    const size_t a = pass == 0 ? own : pass - 1;
    if (pass != 0 && a == own) continue;
    probe.attribute = static_cast<uint16>(a);
    const uint32 holder = keys_[key_slot(keys_, carved, false)];
    if (holder != k_empty) found = &entry_of(holder, scratch_b_);
  }
  probe.attribute = attribute;
  return found;
}

size_t dir_listing::nodup_hash(uint32 id) const {
  uint64 h = at(id).name_hash;
  const byte* raw = at(id).entry;
  for (uint32 at : {k_modified, k_accessed, k_mft_changed, k_created}) h = mix(h, load_u64(raw + at));
  return static_cast<size_t>(h);
}

bool dir_listing::same_nodup_key(uint32 a, uint32 b) const {
  if (at(a).name_hash != at(b).name_hash) return false;
  if (std::memcmp(at(a).entry + k_created, at(b).entry + k_created, 32) != 0) return false;
  const char *ta = nullptr, *tb = nullptr;
  size_t la = 0, lb = 0;
  name_of(a, ta, la);
  name_of(b, tb, lb);
  return names_equal(ta, la, tb, lb, false);
}

size_t dir_listing::nodup_slot(uint32 id) const {
  const size_t mask = nodup_.size() - 1;
  size_t slot = nodup_hash(id) & mask;
  while (nodup_[slot] != k_empty && !same_nodup_key(nodup_[slot], id)) slot = (slot + 1) & mask;
  return slot;
}

size_t dir_listing::file_row(uint32 id) {
  rows_.push_back(id);
  const size_t slot = nodup_slot(id);
  if (nodup_[slot] == k_empty) nodup_[slot] = id;
  return slot;
}

void dir_listing::file_live(uint32 id) {
  const size_t slot = file_row(id);
  const uint32 holder = nodup_[slot];
  if (holder == id || at(holder).valid) return;
  // A carved holder displaced by a live entry keeps its row, which must then
  // say that the entry exists.
  stored_entry& displaced = at(holder);
  displaced.comment = comment_id(exists_comment(comments_[displaced.comment]));
  nodup_[slot] = id;
}

void dir_listing::file_carved(uint32 id, const std::string& comment, ulong64 dir_entry) {
  at(id).comment = comment_id(comment);
  const size_t slot = file_row(id);
  const uint32 holder = nodup_[slot];
  if (holder == id) return;
  if (at(holder).valid) {
    at(id).comment = comment_id(exists_comment(comment));
    return;
  }
  if (takes_over(entry_of(id, scratch_a_), entry_of(holder, scratch_b_), dir_entry)) nodup_[slot] = id;
}

bool dir_listing::merge(ulong64 mft_entry_count) {
  rows_.clear();
  if (count_ == 0) return false;
  size_t capacity = 16;
  while (capacity < 2 * count_) capacity *= 2;
  nodup_.assign(capacity, k_empty);
  rows_.reserve(count_);

  // Every live entry is filed before any carved one, so each holds its key;
  // attribute by attribute, in the order of the parser's keys.
  ulong64 dir_entry = 0;
  {
    std::vector<uint32> keyed;
    for (size_t a = 0; a < attributes_.size(); ++a) {
      keyed.clear();
      for (uint32 id = 0; id < count_; ++id)
        if (at(id).valid && at(id).attribute == a) keyed.push_back(id);
      std::sort(keyed.begin(), keyed.end(), [this](uint32 x, uint32 y) { return key_before(x, y); });
      for (uint32 id : keyed) {
        file_live(id);
        if (dir_entry == 0) dir_entry = parent_of(id);
      }
    }
  }

  // Carved entries in the parser's order: attribute, parent entry, carving.
  std::vector<uint32> order;
  for (uint32 id = 0; id < count_; ++id)
    if (!at(id).valid) order.push_back(id);
  std::stable_sort(order.begin(), order.end(), [this](uint32 a, uint32 b) {
    if (at(a).attribute != at(b).attribute) return at(a).attribute < at(b).attribute;
    return parent_of(a) < parent_of(b);
  });
  for (uint32 id : order) {
    stored_entry& s = at(id);
    if (s.name_length == 0) continue;
    s.mtime_invalid = ready_carved_entry(s.entry, mft_entry_count) ? 1 : 0;
    const INDX_ENTRY_INFO* live = find_live(s.attribute, id);
    const std::string comment = live ? judge_against_live(entry_of(id, scratch_a_), *live) : "deleted";
    file_carved(id, comment, dir_entry);
  }

  std::stable_sort(rows_.begin(), rows_.end(),
                   [this](uint32 a, uint32 b) { return modified_of(a) < modified_of(b); });
  return true;
}

bool dir_listing::merge_gathered(ulong64 mft_entry_count) {
  for (size_t a = 0; a < attributes_.size(); ++a)
    if (!attributes_[a].valid.empty() || !attributes_[a].carved.empty()) take_parsed(a);
  return merge(mft_entry_count);
}

void dir_listing::nodup_rows(std::vector<uint32>& out) const {
  std::vector<std::pair<std::string, uint32>> keyed;
  for (uint32 id : nodup_) {
    if (id != k_empty) keyed.emplace_back(nodup_key(entry_of(id, scratch_a_)), id);
  }
  std::sort(keyed.begin(), keyed.end());
  out.clear();
  out.reserve(keyed.size());
  for (const auto& kv : keyed) out.push_back(kv.second);
}
