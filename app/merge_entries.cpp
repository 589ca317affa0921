#include "app/merge_entries.h"

#include <cstring>
#include <utility>

#include "app/entry_fields.h"
#include "time/zq_time.h"
#include "utils/byte_order.h"
#include "utils/number_append.h"

namespace {

using namespace entry_fields;

// A carved entry that a live one displaces from nodup_entries keeps its row
// in all_entries, which must then say that the entry exists.
void mark_displaced(inode_indx_mmap& all_entries, const INDX_ENTRY_INFO& displaced) {
  auto range = all_entries.equal_range(modified(displaced));
  for (auto it = range.first; it != range.second; ++it) {
    INDX_ENTRY_INFO& e = it->second;
    if (!e.valid && e.file_offset == displaced.file_offset &&
        e.attribute_type == displaced.attribute_type && e.name == displaced.name &&
        e.slack_comment == displaced.slack_comment) {
      e.slack_comment = exists_comment(displaced.slack_comment);
      return;
    }
  }
}

void file_live_entry(inode_indx_mmap& all_entries, string_indx_map& nodup_entries,
                     const INDX_ENTRY_INFO& e) {
  all_entries.emplace(modified(e), e);
  auto placed = nodup_entries.emplace(nodup_key(e), e);
  if (placed.second) return;
  INDX_ENTRY_INFO& holder = placed.first->second;
  if (holder.valid) return;
  mark_displaced(all_entries, holder);
  holder = e;
}

void file_carved_entry(inode_indx_mmap& all_entries, string_indx_map& nodup_entries,
                       INDX_ENTRY_INFO& e, const std::string& comment, ulong64 dir_entry) {
  e.slack_comment = comment;
  auto placed = nodup_entries.emplace(nodup_key(e), e);
  if (placed.second) {
    all_entries.emplace(modified(e), e);
    return;
  }
  INDX_ENTRY_INFO& holder = placed.first->second;
  if (holder.valid) {
    e.slack_comment = exists_comment(comment);
    all_entries.emplace(modified(e), e);
    return;
  }
  all_entries.emplace(modified(e), e);
  // The holder is replaced whole: a row never mixes two entries.
  if (takes_over(e, holder, dir_entry)) holder = e;
}

}  // namespace

std::string judge_against_live(const INDX_ENTRY_INFO& carved, const INDX_ENTRY_INFO& live) {
  bool name_differs = carved.name != live.name;
  bool size_differs = real_size(carved) != real_size(live);
  std::string mask = "....";
  if (modified(carved) != modified(live)) mask[0] = 'm';
  if (accessed(carved) != accessed(live)) mask[1] = 'a';
  if (mft_changed(carved) != mft_changed(live)) mask[2] = 'c';
  if (created(carved) != created(live)) mask[3] = 'b';

  std::string comment;
  if (mask != "....") {
    comment = "modified [" + mask + "]";
  } else if (!name_differs && !size_differs) {
    comment = "dup slack entry";
  } else {
    comment = "modified";
  }
  if (size_differs) comment += " [size]";
  if (name_differs) comment += " [name]";
  return comment;
}

std::string exists_comment(const std::string& comment) {
  return comment.empty() ? std::string("exists") : "exists [" + comment + "]";
}

bool takes_over(const INDX_ENTRY_INFO& e, const INDX_ENTRY_INFO& held, ulong64 dir_entry) {
  if (sequence(e) == 0 || entry_number(e) == 0) return false;
  if (dir_entry == 0) return sequence(held) == 0 || entry_number(held) == 0;
  return parent_entry(held) != dir_entry && parent_entry(e) == dir_entry;
}

bool ready_carved_entry(byte* entry, ulong64 mft_entry_count) {
  const ulong64 number = mft_reference_entry(load_u64(entry));
  if (number > mft_entry_count && load_u16(entry + 6) == 0) std::memset(entry, 0, 8);
  return !zq::is_valid_filetime(load_u64(entry + 32));  // the modification time
}

const INDX_ENTRY_INFO* find_live(const std::vector<indx_attribute_entries>& attributes, size_t own,
                                 const std::string& key) {
  auto hit = attributes[own].valid.find(key);
  if (hit != attributes[own].valid.end()) return &hit->second;
  for (size_t i = 0; i < attributes.size(); ++i) {
    if (i == own) continue;
    hit = attributes[i].valid.find(key);
    if (hit != attributes[i].valid.end()) return &hit->second;
  }
  return nullptr;
}


std::string nodup_key(const INDX_ENTRY_INFO& e) {
  std::string key;
  key.reserve(e.name.size() + 48);
  for (char c : e.name) key.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  key.push_back('_');
  append_decimal_padded(key, modified(e), 10);
  key.push_back('_');
  append_decimal_padded(key, accessed(e), 10);
  key.push_back('_');
  append_decimal_padded(key, mft_changed(e), 10);
  key.push_back('_');
  append_decimal_padded(key, created(e), 10);
  return key;
}

bool merge_dir_entries(inode_indx_mmap& all_entries, string_indx_map& nodup_entries,
                       std::vector<indx_attribute_entries>& attributes, ulong64 mft_entry_count) {
  bool any = false;
  for (const indx_attribute_entries& a : attributes) {
    if (!a.valid.empty() || !a.carved.empty()) any = true;
  }
  if (!any) return false;

  // Every live entry is filed before any carved one, so each holds its key.
  ulong64 dir_entry = 0;
  for (indx_attribute_entries& a : attributes) {
    for (auto& kv : a.valid) {
      INDX_ENTRY_INFO& e = kv.second;
      e.attribute_type = a.type;
      file_live_entry(all_entries, nodup_entries, e);
      if (dir_entry == 0) dir_entry = parent_entry(e);
    }
  }

  std::string key;
  for (size_t i = 0; i < attributes.size(); ++i) {
    for (auto& kv : attributes[i].carved) {
      INDX_ENTRY_INFO& e = kv.second;
      if (e.name.empty()) continue;
      e.attribute_type = attributes[i].type;
      e.mtime_invalid = ready_carved_entry(e.entry, mft_entry_count) ? 1 : 0;
      make_entry_key(key, parent_entry(e), e.name);
      const INDX_ENTRY_INFO* live = find_live(attributes, i, key);
      std::string comment = live ? judge_against_live(e, *live) : std::string("deleted");
      file_carved_entry(all_entries, nodup_entries, e, comment, dir_entry);
    }
  }
  return true;
}

bool merge_indx_entries(inode_indx_mmap& all_entries, string_indx_map& nodup_entries,
                        string_indx_map& valid, inode_indx_mmap& carved, uint32 type,
                        ulong64 mft_entry_count) {
  std::vector<indx_attribute_entries> one(1);
  one[0].type = type;
  one[0].valid.swap(valid);
  one[0].carved.swap(carved);
  bool merged = merge_dir_entries(all_entries, nodup_entries, one, mft_entry_count);
  valid.swap(one[0].valid);
  carved.swap(one[0].carved);
  return merged;
}
