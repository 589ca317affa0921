// Finds and lists by exact key, range, contained text and at-or-below:
// the rules' own cases, then thousands of random records checked against a
// plain model of sorted vectors.
#include "dict/dictionary_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "utils/case_text.h"

namespace {

typedef std::vector<std::intptr_t> values;

// What the random model below does not reach: list_in takes its text as
// given, and a search that finds nothing empties the caller's key list.
TEST(DictionaryLookup, ListInTakesTextAsGivenAMissEmptiesTheKeys) {
  DictionarySet set(std::vector<int>{0, 1}, false);
  std::string key = "Abc", alias = "zABcz";
  ASSERT_TRUE(set.insert(0, key, 1) && set.insert(1, alias, 2));
  values out;
  EXPECT_FALSE(set.list_in(std::string("ABC"), 0, out));
  EXPECT_TRUE(set.list_in(std::string("abc"), 0, out));
  std::vector<std::string> keys{"stale"};
  std::string part = "q";
  EXPECT_FALSE(set.list_containing_secondary(part, out, keys));
  EXPECT_TRUE(keys.empty());
}

// The edges the dense random keys below never reach: no key below, no key
// above, and a set without a dictionary 3.
TEST(DictionaryLookup, AtOrBelowAtTheEdgesOfTheKeys) {
  const struct {
    ulong64 key;
    values want;
  } cases[] = {{5, {}}, {25, {}}, {15, {2}}, {10, {1, 2}}, {~ulong64{0} - 1, {3}}};
  DictionarySet set(false);
  ASSERT_TRUE(set.init_u64x4());
  for (auto e : {std::make_pair(10, 1), std::make_pair(10, 2), std::make_pair(20, 3)})
    ASSERT_TRUE(set.insert(3, ulong64(e.first), e.second));
  for (const auto& c : cases) {
    if (c.key > 25) {
      ASSERT_TRUE(set.insert(3, ~ulong64{0}, 4));
    }
    values out{99}, out3{99};
    EXPECT_EQ(set.list_at_or_below(c.key, out), !c.want.empty());
    EXPECT_EQ(out, c.want) << "key " << c.key;
    EXPECT_EQ(set.list_at_or_below_dict3(c.key, out3), !c.want.empty());
    EXPECT_EQ(out3, c.want) << "key " << c.key;
  }
  DictionarySet three(false);
  ASSERT_TRUE(three.init_string_u64_u64());
  ASSERT_TRUE(three.insert(2, ulong64{1}, 1));
  values out{99};
  EXPECT_FALSE(three.list_at_or_below_dict3(1, out));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(three.list_at_or_below(1, out));
}

TEST(DictionaryLookup, RefusedListsHandBackEmptyVectors) {
  DictionarySet unset(false);
  std::string text = "ABC";
  values out{7};
  EXPECT_EQ(unset.find(text), 0);
  EXPECT_FALSE(unset.list(text, out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(unset.list_containing(text, out));
  EXPECT_EQ(text, "ABC") << "not lower-cased when the set is not initialised";
  EXPECT_FALSE(unset.list_range(0.0, 1.0, out));

  DictionarySet set(std::vector<int>{2, 3, 2}, false);
  ASSERT_TRUE(set.insert(0, ulong64{1}, 1) && set.insert(1, 1.0, 2));
  out = {7};
  EXPECT_FALSE(set.list_in(ulong64{1}, 1, out)) << "dictionary 1 is floating";
  EXPECT_TRUE(out.empty());
  out = {7};
  EXPECT_FALSE(set.list_range_in(0, 5, 3, out));
  EXPECT_TRUE(out.empty());
  out = {7};
  EXPECT_FALSE(set.list_in(std::string("x"), 0, out));
  EXPECT_TRUE(set.list_range_in(0, 5, 0, out));
  EXPECT_FALSE(set.list_range(std::nan(""), 5.0, out)) << "a NaN bound matches nothing";
  EXPECT_TRUE(set.list_range(-1.0, 1.0, out));
  EXPECT_EQ(out, values{2});
  EXPECT_EQ(set.find(1.0), 2);
}

// The model: per dictionary, its entries in a vector sorted stably by key,
// so equal keys keep their insertion order. Every expectation is a plain
// scan over it, dictionaries in number order.
template <class Key>
using model_entries = std::vector<std::vector<std::pair<Key, std::intptr_t>>>;

struct Model {
  std::vector<int> kinds;
  model_entries<std::string> text;
  model_entries<ulong64> u64;
  model_entries<double> real;

  explicit Model(const std::vector<int>& k) : kinds(k), text(k.size()), u64(k.size()), real(k.size()) {}

  template <class F>
  void each(F f) {
    for (size_t d = 0; d < kinds.size(); ++d) f(text[d]), f(u64[d]), f(real[d]);
  }
  void sort() {
    each([](auto& e) { std::stable_sort(e.begin(), e.end(), [](auto& a, auto& b) { return a.first < b.first; }); });
  }
  void erase_value(std::intptr_t v) {
    auto other = [v](auto& x) { return x.second == v; };
    each([&](auto& e) { e.erase(std::remove_if(e.begin(), e.end(), other), e.end()); });
  }
  // Values of the accepted entries of every dictionary whose kind lies in
  // low_kind..high_kind; with keys, their keys alongside.
  template <class Key, class Pred>
  values select(const model_entries<Key>& all, int low_kind, int high_kind, Pred pred,
                std::vector<Key>* keys = nullptr) const {
    values out;
    for (size_t d = 0; d < kinds.size(); ++d) {
      if (kinds[d] < low_kind || kinds[d] > high_kind) continue;
      for (const auto& e : all[d]) {
        if (!pred(e.first)) continue;
        out.push_back(e.second);
        if (keys) keys->push_back(e.first);
      }
    }
    return out;
  }
  template <class Key, class Pred>
  values select_in(const model_entries<Key>& all, size_t d, Pred pred) const {
    return Model(std::vector<int>{0}).select(model_entries<Key>{all[d]}, 0, 0, pred);
  }
  // All entries of the key if it is there; else the last entry of the
  // greatest smaller key, provided some key is greater.
  values at_or_below(size_t d, ulong64 key) const {
    values equal;
    const std::pair<ulong64, std::intptr_t>* below = nullptr;
    bool greater = false;
    for (const auto& e : u64[d]) {
      if (e.first == key) equal.push_back(e.second);
      if (e.first < key) below = &e;
      if (e.first > key) greater = true;
    }
    if (!equal.empty() || !below || !greater) return equal;
    return values{below->second};
  }
};

std::string lowered(std::string s) {
  to_lower(s);
  return s;
}

TEST(DictionaryLookup, RandomRecordsAgreeWithASortedVectorModel) {
  // 0-3 take whole records, 4-7 single inserts; 3 is integer for the
  // dictionary-3 lookup, 7 a third integer dictionary.
  const std::vector<int> kinds{0, 1, 2, 2, 3, 1, 3, 2};
  DictionarySet set(kinds, true);
  Model model(kinds);
  std::mt19937 rng(20);
  auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const std::string letters = "abcAB._\xc3\xa9";
  auto random_text = [&](int max_length) {
    std::string s;
    for (int n = pick(max_length + 1); n > 0; --n) s += letters[static_cast<size_t>(pick(int(letters.size())))];
    return s;
  };
  // Mostly small keys that collide, sometimes keys at the top of the range.
  auto random_u64 = [&]() -> ulong64 {
    return pick(10) == 0 ? ~ulong64{0} - static_cast<ulong64>(pick(5)) : static_cast<ulong64>(pick(300));
  };
  auto random_double = [&]() { return (pick(200) - 100) / 4.0; };

  const int records = 3000;
  for (int r = 0; r < records; ++r) {
    const std::intptr_t value = (r % 3 == 0 ? -1 : 1) * static_cast<std::intptr_t>(r + 1) * 7919;
    const std::string name = random_text(5);
    std::vector<std::string> aliases;
    for (int n = pick(3); n > 0; --n) aliases.push_back(random_text(4));
    const ulong64 k2 = random_u64();
    std::vector<ulong64> k3;
    for (int n = pick(3); n > 0; --n) k3.push_back(random_u64());
    ASSERT_TRUE(k3.size() == 1 ? set.insert_record(name, aliases, k2, k3[0], value)
                               : set.insert_record(name, aliases, k2, k3, value));
    model.text[0].emplace_back(lowered(name), value);
    for (const auto& a : aliases) model.text[1].emplace_back(lowered(a), value);
    model.u64[2].emplace_back(k2, value);
    for (ulong64 k : k3) model.u64[3].emplace_back(k, value);

    const double d4 = random_double(), d6 = random_double();
    std::string t5 = random_text(3);
    const ulong64 k7 = random_u64();
    model.text[5].emplace_back(lowered(t5), value);
    model.real[4].emplace_back(d4, value);
    model.real[6].emplace_back(d6, value);
    model.u64[7].emplace_back(k7, value);
    ASSERT_TRUE(set.insert(4, d4, value) && set.insert(5, t5, value) && set.insert(6, d6, value) &&
                set.insert(7, k7, value));
  }
  model.sort();

  auto check_all = [&](const char* stage) {
    SCOPED_TRACE(stage);
    auto first = [](const values& v) { return v.empty() ? 0 : v.front(); };
    values out;
    for (int q = 0; q < 400; ++q) {
      const ulong64 k = random_u64();
      ulong64 low = random_u64(), high = random_u64();
      if (pick(4) != 0 && low > high) std::swap(low, high);  // now and then an inverted range
      auto equal = [k](ulong64 x) { return x == k; };
      auto within = [=](ulong64 x) { return low <= x && x <= high; };
      const values want = model.select(model.u64, 2, 2, equal);
      EXPECT_EQ(set.list(k, out), !want.empty());
      ASSERT_EQ(out, want) << "list " << k;
      EXPECT_EQ(set.find(k), first(want));
      set.list_in(k, 7, out);
      ASSERT_EQ(out, model.select_in(model.u64, 7, equal));
      set.list_range(low, high, out);
      ASSERT_EQ(out, model.select(model.u64, 2, 2, within)) << "range " << low << ".." << high;
      set.list_range_in(low, high, 2, out);
      ASSERT_EQ(out, model.select_in(model.u64, 2, within));

      values below;
      for (size_t d : {2, 3, 7}) {
        const values part = model.at_or_below(d, k);
        below.insert(below.end(), part.begin(), part.end());
      }
      EXPECT_EQ(set.list_at_or_below(k, out), !below.empty());
      ASSERT_EQ(out, below) << "at or below " << k;
      set.list_at_or_below_dict3(k, out);
      ASSERT_EQ(out, model.at_or_below(3, k)) << "dictionary 3 at or below " << k;

      const double x = random_double();
      double lo = random_double(), hi = random_double();
      if (lo > hi) std::swap(lo, hi);
      set.list(x, out);
      ASSERT_EQ(out, model.select(model.real, 3, 3, [x](double y) { return y == x; }));
      set.list_range(lo, hi, out);
      ASSERT_EQ(out, model.select(model.real, 3, 3, [=](double y) { return lo <= y && y <= hi; }));

      const std::string text = random_text(3), part = random_text(2);
      auto same = [t = lowered(text)](const std::string& s) { return s == t; };
      auto has = [p = lowered(part)](const std::string& s) { return s.find(p) != std::string::npos; };
      std::string asked = text;
      set.list(asked, out);
      EXPECT_EQ(asked, lowered(text));
      ASSERT_EQ(out, model.select(model.text, 0, 1, same)) << "list " << text;
      asked = text;
      set.list_secondary(asked, out);
      ASSERT_EQ(out, model.select(model.text, 1, 1, same));
      asked = text;
      EXPECT_EQ(set.find(asked), first(model.select(model.text, 0, 1, same)));
      asked = part;
      set.list_containing(asked, out);
      EXPECT_EQ(asked, lowered(part));
      ASSERT_EQ(out, model.select(model.text, 0, 1, has)) << "containing " << part;
      asked = part;
      set.list_containing_primary(asked, out);
      ASSERT_EQ(out, model.select(model.text, 0, 0, has));
      std::vector<std::string> keys, want_keys;
      asked = part;
      set.list_containing_secondary(asked, out, keys);
      ASSERT_EQ(out, model.select(model.text, 1, 1, has, &want_keys));
      ASSERT_EQ(keys, want_keys);
    }
  };
  check_all("after the inserts");

  // A third of the records go whole, and some single pairs.
  for (int r = 0; r < records; r += 3) {
    const std::intptr_t value = -static_cast<std::intptr_t>(r + 1) * 7919;
    ASSERT_TRUE(set.erase_value(value));
    model.erase_value(value);
  }
  for (int n = 0; n < 200; ++n) {
    auto& numbers = model.u64[2];
    auto& names = model.text[0];
    const auto number = numbers[static_cast<size_t>(pick(int(numbers.size())))];
    const auto name = names[static_cast<size_t>(pick(int(names.size())))];
    ASSERT_TRUE(set.erase(2, number.first, number.second));
    ASSERT_TRUE(set.erase(0, name.first, name.second));
    numbers.erase(std::remove(numbers.begin(), numbers.end(), number), numbers.end());
    names.erase(std::remove(names.begin(), names.end(), name), names.end());
  }
  check_all("after the erases");
}

}  // namespace
