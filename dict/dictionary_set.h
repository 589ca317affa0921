#pragma once
// DictionarySet: a numbered set of ordered multimaps, each keyed by text
// (kinds 0 and 1, stored lower-cased), ulong64 (kind 2) or double (kind 3),
// each mapping to a value as wide as a pointer. A value names one caller's
// record, filed under several keys so that any of them finds it.
//
// Only the inserts, erase_value and dump take the set's lock; init, clear,
// the single-pair erase and every lookup do not, so those need the set left
// alone by other threads while they run.
#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "dict/lock.h"
#include "utils/types.h"

class DictionarySet {
 public:
  DictionarySet(const std::vector<int>& kinds, bool track_values);
  explicit DictionarySet(bool track_values);
  ~DictionarySet();
  DictionarySet(const DictionarySet&) = delete;
  DictionarySet& operator=(const DictionarySet&) = delete;

  bool init(const std::vector<int>& kinds);
  bool init_string_string_u64_u64();
  bool init_string_u64_u64();
  bool init_u64x4();
  bool init_u64x5();
  void clear();

  bool insert(int dictionary, ulong64 key, std::intptr_t value);
  // A NaN key is refused.
  bool insert(int dictionary, double key, std::intptr_t value);
  // Lower-cases the caller's key in place.
  bool insert(int dictionary, std::string& key, std::intptr_t value);
  // Removes every copy of the pair. The text form compares the key as given,
  // without lower-casing it.
  bool erase(int dictionary, ulong64 key, long64 value);
  bool erase(int dictionary, double key, long64 value);
  bool erase(int dictionary, const std::string& key, long64 value);
  // Removes every pair with this value that was inserted while the set
  // tracked values; false when it does not track or never saw the value.
  bool erase_value(long64 value);

  bool dump(int dictionary, std::ostream& out);

  // One record filed in dictionaries 0, 1, ... in argument order; false at
  // the first dictionary that does not fit, the earlier insertions kept.
  bool insert_record(ulong64 k0, ulong64 k1, ulong64 k2, ulong64 k3, std::intptr_t value);
  bool insert_record(ulong64 k0, ulong64 k1, ulong64 k2, ulong64 k3, ulong64 k4, std::intptr_t value);
  bool insert_record(const std::string& name, ulong64 k1, ulong64 k2, std::intptr_t value);
  bool insert_record(const std::string& name, const std::vector<std::string>& names, ulong64 k2, ulong64 k3,
                     std::intptr_t value);
  bool insert_record(const std::string& name, const std::vector<std::string>& names, ulong64 k2,
                     const std::vector<ulong64>& keys, std::intptr_t value);

  // The first-inserted value of the first dictionary holding the key, or 0.
  std::intptr_t find(double key) const;
  std::intptr_t find(ulong64 key) const;
  std::intptr_t find(std::string& key) const;

  // Each list empties `out` first and is true when it found something.
  // Values come in dictionary order, then key order, equal keys in the
  // order they were inserted. Text forms taking std::string& lower-case the
  // caller's text in place.
  bool list(ulong64 key, std::vector<std::intptr_t>& out) const;
  bool list(double key, std::vector<std::intptr_t>& out) const;
  bool list(std::string& key, std::vector<std::intptr_t>& out) const;
  bool list_secondary(std::string& key, std::vector<std::intptr_t>& out) const;
  bool list_in(ulong64 key, int dictionary, std::vector<std::intptr_t>& out) const;
  bool list_in(const std::string& key, int dictionary, std::vector<std::intptr_t>& out) const;
  bool list_range(ulong64 low, ulong64 high, std::vector<std::intptr_t>& out) const;
  bool list_range(double low, double high, std::vector<std::intptr_t>& out) const;
  bool list_range_in(ulong64 low, ulong64 high, int dictionary, std::vector<std::intptr_t>& out) const;
  bool list_containing(std::string& part, std::vector<std::intptr_t>& out) const;
  bool list_containing_primary(std::string& part, std::vector<std::intptr_t>& out) const;
  bool list_containing_secondary(std::string& part, std::vector<std::intptr_t>& out,
                                 std::vector<std::string>& keys) const;
  // Per dictionary: every entry of the key itself; failing that, the last
  // entry of the greatest key below it, but only when some key lies above.
  bool list_at_or_below(ulong64 key, std::vector<std::intptr_t>& out) const;
  bool list_at_or_below_dict3(ulong64 key, std::vector<std::intptr_t>& out) const;

 private:
  typedef std::multimap<std::string, long64> text_dictionary;
  typedef std::multimap<ulong64, long64> u64_dictionary;
  typedef std::multimap<double, long64> double_dictionary;
  typedef std::variant<text_dictionary, u64_dictionary, double_dictionary> dictionary_map;

  struct value_refs {
    std::vector<std::pair<int, std::string>> string_refs;
    std::vector<std::pair<int, ulong64>> u64_refs;
    std::vector<std::pair<int, double>> double_refs;
  };

  // The dictionary numbered `dictionary` when the set is initialised, the
  // number is in range and its key type is Map's; null otherwise.
  template <class Map>
  const Map* dictionary_of(int dictionary) const {
    if (!m_initialized || dictionary < 0 || static_cast<size_t>(dictionary) >= m_dictionaries.size()) {
      return nullptr;
    }
    return std::get_if<Map>(&m_dictionaries[static_cast<size_t>(dictionary)]);
  }
  template <class Map>
  Map* dictionary_of(int dictionary) {
    return const_cast<Map*>(static_cast<const DictionarySet*>(this)->dictionary_of<Map>(dictionary));
  }
  bool has_dictionaries() const { return m_initialized && !m_dictionaries.empty(); }

  template <class Map, class Key>
  bool insert_key(int dictionary, const Key& key, std::intptr_t value,
                  std::vector<std::pair<int, Key>> value_refs::*refs);
  // Visits, in number order, every dictionary whose kind lies in
  // first_kind..last_kind.
  template <class Map, class Visit>
  void visit_kinds(int first_kind, int last_kind, Visit visit) const;
  template <class Map, class Key>
  std::intptr_t find_first(int first_kind, int last_kind, const Key& key) const;
  // Every value filed under the key in those dictionaries; empties `out`
  // first and is true when it found something.
  template <class Map, class Key>
  bool list_equal(int first_kind, int last_kind, const Key& key, std::vector<std::intptr_t>& out) const;
  bool list_containing_kinds(int first_kind, int last_kind, std::string& part, std::vector<std::intptr_t>& out,
                             std::vector<std::string>* keys) const;

  std::vector<int> m_kinds;
  std::vector<dictionary_map> m_dictionaries;
  bool m_initialized;
  bool m_track_values;
  std::map<long64, value_refs> m_value_index;
  LightweightLock m_lock;
};
