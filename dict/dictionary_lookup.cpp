#include "dict/dictionary_set.h"

#include <cstring>

#include "utils/case_text.h"

namespace {

typedef std::vector<std::intptr_t> values;

template <class Map, class Key>
void append_equal(const Map& map, const Key& key, values& out) {
  for (auto it = map.lower_bound(key); it != map.end() && it->first == key; ++it) {
    out.push_back(static_cast<std::intptr_t>(it->second));
  }
}

// Every entry is weighed, so a NaN key or bound matches nothing.
template <class Map, class Key>
void append_range(const Map& map, const Key& low, const Key& high, values& out) {
  for (const auto& entry : map) {
    if (low <= entry.first && entry.first <= high) out.push_back(static_cast<std::intptr_t>(entry.second));
  }
}

// Keys and the wanted text both end at their first NUL.
bool contains(const std::string& key, const std::string& part) {
  return std::strstr(key.c_str(), part.c_str()) != nullptr;
}

template <class Map>
void append_at_or_below(const Map& map, ulong64 key, values& out) {
  auto it = map.lower_bound(key);
  if (it == map.end()) return;
  if (it->first == key) {
    append_equal(map, key, out);
    return;
  }
  if (it == map.begin()) return;
  --it;
  out.push_back(static_cast<std::intptr_t>(it->second));
}

}  // namespace

template <class Map, class Visit>
void DictionarySet::visit_kinds(int first_kind, int last_kind, Visit visit) const {
  for (size_t i = 0; i < m_kinds.size(); ++i) {
    if (m_kinds[i] < first_kind || m_kinds[i] > last_kind) continue;
    if (const Map* map = std::get_if<Map>(&m_dictionaries[i])) visit(*map);
  }
}

// The first dictionary, in number order, that holds the key decides.
template <class Map, class Key>
std::intptr_t DictionarySet::find_first(int first_kind, int last_kind, const Key& key) const {
  bool found = false;
  std::intptr_t value = 0;
  visit_kinds<Map>(first_kind, last_kind, [&](const Map& map) {
    if (found) return;
    const auto it = map.lower_bound(key);
    if (it == map.end() || !(it->first == key)) return;
    found = true;
    value = static_cast<std::intptr_t>(it->second);
  });
  return value;
}

template <class Map, class Key>
bool DictionarySet::list_equal(int first_kind, int last_kind, const Key& key, values& out) const {
  out.clear();
  if (!has_dictionaries()) return false;
  visit_kinds<Map>(first_kind, last_kind, [&](const Map& map) { append_equal(map, key, out); });
  return !out.empty();
}

std::intptr_t DictionarySet::find(double key) const {
  if (!has_dictionaries()) return 0;
  return find_first<double_dictionary>(3, 3, key);
}

std::intptr_t DictionarySet::find(ulong64 key) const {
  if (!has_dictionaries()) return 0;
  return find_first<u64_dictionary>(2, 2, key);
}

std::intptr_t DictionarySet::find(std::string& key) const {
  if (!has_dictionaries()) return 0;
  to_lower(key);
  return find_first<text_dictionary>(0, 1, key);
}

bool DictionarySet::list(ulong64 key, values& out) const {
  return list_equal<u64_dictionary>(2, 2, key, out);
}

bool DictionarySet::list(double key, values& out) const {
  return list_equal<double_dictionary>(3, 3, key, out);
}

bool DictionarySet::list(std::string& key, values& out) const {
  if (has_dictionaries()) to_lower(key);
  return list_equal<text_dictionary>(0, 1, key, out);
}

bool DictionarySet::list_secondary(std::string& key, values& out) const {
  if (has_dictionaries()) to_lower(key);
  return list_equal<text_dictionary>(1, 1, key, out);
}

bool DictionarySet::list_in(ulong64 key, int dictionary, values& out) const {
  out.clear();
  const u64_dictionary* map = dictionary_of<u64_dictionary>(dictionary);
  if (!map) return false;
  append_equal(*map, key, out);
  return !out.empty();
}

bool DictionarySet::list_in(const std::string& key, int dictionary, values& out) const {
  out.clear();
  const text_dictionary* map = dictionary_of<text_dictionary>(dictionary);
  if (!map) return false;
  append_equal(*map, key, out);
  return !out.empty();
}

bool DictionarySet::list_range(ulong64 low, ulong64 high, values& out) const {
  out.clear();
  if (!has_dictionaries()) return false;
  visit_kinds<u64_dictionary>(2, 2, [&](const u64_dictionary& map) { append_range(map, low, high, out); });
  return !out.empty();
}

bool DictionarySet::list_range(double low, double high, values& out) const {
  out.clear();
  if (!has_dictionaries()) return false;
  visit_kinds<double_dictionary>(3, 3,
                                 [&](const double_dictionary& map) { append_range(map, low, high, out); });
  return !out.empty();
}

bool DictionarySet::list_range_in(ulong64 low, ulong64 high, int dictionary, values& out) const {
  out.clear();
  const u64_dictionary* map = dictionary_of<u64_dictionary>(dictionary);
  if (!map) return false;
  append_range(*map, low, high, out);
  return !out.empty();
}

bool DictionarySet::list_containing_kinds(int first_kind, int last_kind, std::string& part, values& out,
                                          std::vector<std::string>* keys) const {
  if (!has_dictionaries()) return false;
  to_lower(part);
  visit_kinds<text_dictionary>(first_kind, last_kind, [&](const text_dictionary& map) {
    for (const auto& entry : map) {
      if (!contains(entry.first, part)) continue;
      out.push_back(static_cast<std::intptr_t>(entry.second));
      if (keys) keys->push_back(entry.first);
    }
  });
  return !out.empty();
}

bool DictionarySet::list_containing(std::string& part, values& out) const {
  out.clear();
  return list_containing_kinds(0, 1, part, out, nullptr);
}

bool DictionarySet::list_containing_primary(std::string& part, values& out) const {
  out.clear();
  return list_containing_kinds(0, 0, part, out, nullptr);
}

bool DictionarySet::list_containing_secondary(std::string& part, values& out,
                                              std::vector<std::string>& keys) const {
  out.clear();
  keys.clear();
  return list_containing_kinds(1, 1, part, out, &keys);
}

bool DictionarySet::list_at_or_below(ulong64 key, values& out) const {
  out.clear();
  if (!has_dictionaries()) return false;
  visit_kinds<u64_dictionary>(2, 2, [&](const u64_dictionary& map) { append_at_or_below(map, key, out); });
  return !out.empty();
}

bool DictionarySet::list_at_or_below_dict3(ulong64 key, values& out) const {
  out.clear();
  const u64_dictionary* map = dictionary_of<u64_dictionary>(3);
  if (!map) return false;
  append_at_or_below(*map, key, out);
  return !out.empty();
}
