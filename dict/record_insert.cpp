#include "dict/dictionary_set.h"

// Each key goes through the single insert, which takes the set's lock on its
// own: a record is filed dictionary by dictionary, not as one atomic step.
// Text keys are copied so that the caller's names keep their capitals.

namespace {

bool insert_names(DictionarySet& set, int dictionary, const std::vector<std::string>& names,
                  std::intptr_t value) {
  for (const std::string& name : names) {
    std::string key(name);
    if (!set.insert(dictionary, key, value)) return false;
  }
  return true;
}

}  // namespace

bool DictionarySet::insert_record(ulong64 k0, ulong64 k1, ulong64 k2, ulong64 k3, std::intptr_t value) {
  return insert(0, k0, value) && insert(1, k1, value) && insert(2, k2, value) && insert(3, k3, value);
}

bool DictionarySet::insert_record(ulong64 k0, ulong64 k1, ulong64 k2, ulong64 k3, ulong64 k4,
                                  std::intptr_t value) {
  return insert_record(k0, k1, k2, k3, value) && insert(4, k4, value);
}

bool DictionarySet::insert_record(const std::string& name, ulong64 k1, ulong64 k2, std::intptr_t value) {
  std::string key(name);
  return insert(0, key, value) && insert(1, k1, value) && insert(2, k2, value);
}

bool DictionarySet::insert_record(const std::string& name, const std::vector<std::string>& names, ulong64 k2,
                                  ulong64 k3, std::intptr_t value) {
  std::string key(name);
  return insert(0, key, value) && insert_names(*this, 1, names, value) && insert(2, k2, value) &&
         insert(3, k3, value);
}

bool DictionarySet::insert_record(const std::string& name, const std::vector<std::string>& names, ulong64 k2,
                                  const std::vector<ulong64>& keys, std::intptr_t value) {
  std::string key(name);
  if (!(insert(0, key, value) && insert_names(*this, 1, names, value) && insert(2, k2, value))) return false;
  for (ulong64 k : keys) {
    if (!insert(3, k, value)) return false;
  }
  return true;
}
