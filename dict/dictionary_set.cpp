#include "dict/dictionary_set.h"

#include <cmath>
#include <iomanip>
#include <new>
#include <ostream>

#include "utils/case_text.h"

namespace {

// Removes every entry of the key that carries the value; entries of equal
// keys sit together, so the walk ends with the key's run.
template <class Map, class Key>
bool erase_pairs(Map& map, const Key& key, long64 value) {
  bool removed = false;
  auto it = map.lower_bound(key);
  while (it != map.end() && it->first == key) {
    if (it->second == value) {
      it = map.erase(it);
      removed = true;
    } else {
      ++it;
    }
  }
  return removed;
}

template <class Map>
void dump_entries(const Map& map, std::ostream& out) {
  for (const auto& entry : map) {
    out << std::left << std::setw(15) << entry.first << " : " << std::setw(15)
        << static_cast<ulong64>(entry.second) << std::endl;
  }
}

}  // namespace

DictionarySet::DictionarySet(const std::vector<int>& kinds, bool track_values)
    : m_initialized(false), m_track_values(false) {
  init(kinds);
  m_track_values = track_values;
}

DictionarySet::DictionarySet(bool track_values) : m_initialized(false), m_track_values(false) {
  clear();
  m_track_values = track_values;
}

DictionarySet::~DictionarySet() { clear(); }

bool DictionarySet::init(const std::vector<int>& kinds) {
  clear();
  for (int kind : kinds) {
    if (kind < 0 || kind > 3) return false;
  }
  try {
    // Built aside and moved in whole, so the kinds and the dictionaries
    // never fall out of step when memory runs out part-way.
    std::vector<dictionary_map> made;
    made.reserve(kinds.size());
    for (int kind : kinds) {
      if (kind == 2) {
        made.emplace_back(std::in_place_type<u64_dictionary>);
      } else if (kind == 3) {
        made.emplace_back(std::in_place_type<double_dictionary>);
      } else {
        made.emplace_back(std::in_place_type<text_dictionary>);
      }
    }
    std::vector<int> kinds_copy(kinds);
    m_dictionaries.swap(made);
    m_kinds.swap(kinds_copy);
  } catch (const std::bad_alloc&) {
    return false;
  }
  m_initialized = true;
  return true;
}

bool DictionarySet::init_string_string_u64_u64() { return init({0, 1, 2, 2}); }
bool DictionarySet::init_string_u64_u64() { return init({0, 2, 2}); }
bool DictionarySet::init_u64x4() { return init({2, 2, 2, 2}); }
bool DictionarySet::init_u64x5() { return init({2, 2, 2, 2, 2}); }

void DictionarySet::clear() {
  m_initialized = false;
  m_dictionaries.clear();
  m_kinds.clear();
  m_value_index.clear();
  m_track_values = false;
}

template <class Map, class Key>
bool DictionarySet::insert_key(int dictionary, const Key& key, std::intptr_t value,
                               std::vector<std::pair<int, Key>> value_refs::*refs) {
  Map* map = dictionary_of<Map>(dictionary);
  if (!map) return false;
  const long64 stored = static_cast<long64>(value);
  // A multimap files a new entry after every entry of an equal key.
  map->emplace(key, stored);
  if (m_track_values) (m_value_index[stored].*refs).emplace_back(dictionary, key);
  return true;
}

bool DictionarySet::insert(int dictionary, ulong64 key, std::intptr_t value) {
  ScopedLock hold(m_lock);
  return insert_key<u64_dictionary>(dictionary, key, value, &value_refs::u64_refs);
}

bool DictionarySet::insert(int dictionary, double key, std::intptr_t value) {
  // A NaN compares false with every key, so one filed would break the
  // dictionary's order and later searches would miss records that are there.
  if (std::isnan(key)) return false;
  ScopedLock hold(m_lock);
  return insert_key<double_dictionary>(dictionary, key, value, &value_refs::double_refs);
}

bool DictionarySet::insert(int dictionary, std::string& key, std::intptr_t value) {
  ScopedLock hold(m_lock);
  if (!dictionary_of<text_dictionary>(dictionary)) return false;
  to_lower(key);
  // The back-reference keeps the whole key, so erase_value finds the pair
  // even when a caller's key holds a NUL.
  return insert_key<text_dictionary>(dictionary, key, value, &value_refs::string_refs);
}

bool DictionarySet::erase(int dictionary, ulong64 key, long64 value) {
  u64_dictionary* map = dictionary_of<u64_dictionary>(dictionary);
  return map && erase_pairs(*map, key, value);
}

bool DictionarySet::erase(int dictionary, double key, long64 value) {
  double_dictionary* map = dictionary_of<double_dictionary>(dictionary);
  return map && erase_pairs(*map, key, value);
}

bool DictionarySet::erase(int dictionary, const std::string& key, long64 value) {
  text_dictionary* map = dictionary_of<text_dictionary>(dictionary);
  return map && erase_pairs(*map, key, value);
}

bool DictionarySet::erase_value(long64 value) {
  ScopedLock hold(m_lock);
  if (!m_track_values) return false;
  const auto found = m_value_index.find(value);
  if (found == m_value_index.end()) return false;
  const value_refs& refs = found->second;
  for (const auto& ref : refs.string_refs) erase(ref.first, ref.second, value);
  for (const auto& ref : refs.u64_refs) erase(ref.first, ref.second, value);
  for (const auto& ref : refs.double_refs) erase(ref.first, ref.second, value);
  m_value_index.erase(found);
  return true;
}

bool DictionarySet::dump(int dictionary, std::ostream& out) {
  ScopedLock hold(m_lock);
  if (!m_initialized || dictionary < 0 || static_cast<size_t>(dictionary) >= m_dictionaries.size()) {
    return false;
  }
  out << "dictionary #" << dictionary << std::endl;
  out.fill(' ');
  std::visit([&out](const auto& map) { dump_entries(map, out); },
             m_dictionaries[static_cast<size_t>(dictionary)]);
  return true;
}
