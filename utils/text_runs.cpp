#include "utils/text_runs.h"

#include <cstring>

#include "utils/case_text.h"

namespace {

inline bool printable(byte b) { return static_cast<byte>(b - 0x20) < 0x5F; }

// Calls `run(first, count, end)` where a run ends: `first` is the run's
// first character after leading blanks (when dropped), `count` its length
// and `end` the position where it ended (the non-printable byte, or the
// buffer's length for the last run). With a threshold of 2 or more only
// runs of at least that many bytes before the blanks are dropped can
// matter, and only those are passed on.
template <class Run>
void ascii_runs(const byte* b, uint32 n, bool drop_blanks, uint32 threshold, Run run) {
  auto report = [&](uint32 start, uint32 end) {
    uint32 first = start;
    if (drop_blanks)
      while (first < end && b[first] == ' ') ++first;
    run(first, end - first, end);
  };
  if (threshold < 2) {
    uint32 i = 0;
    for (;;) {
      const uint32 start = i;
      while (i < n && printable(b[i])) ++i;
      report(start, i);
      if (i >= n) return;
      ++i;
    }
  }
  // The length of the text seen so far is kept without a branch; only
  // reaching the threshold (rare in non-text) leaves the tight loop.
  uint32 len = 0;
  for (uint32 i = 0; i < n; ++i) {
    len = (len + 1) * static_cast<uint32>(printable(b[i]));
    if (len < threshold) continue;
    const uint32 start = i + 1 - len;
    uint32 end = i + 1;
    while (end < n && printable(b[end])) ++end;
    report(start, end);
    i = end;
    len = 0;
  }
}

// UTF-16LE runs. A character needs a zero byte right after it, so with a
// threshold of 1 or more the scan jumps from zero byte to zero byte and
// only looks closer where one follows a printable byte. Characters can
// never overlap by one byte (that byte would have to be both 0 and
// printable), so the runs are the same whatever the walk's start.
template <class Run>
void utf16_runs(const byte* b, uint32 n, uint32 threshold, Run run) {
  auto is_char = [&](uint32 i) { return i + 1 < n && b[i + 1] == 0 && printable(b[i]); };
  auto report = [&](uint32 start, uint32 end) {
    uint32 first = start;
    while (first < end && b[first] == ' ') first += 2;
    run(first, (end - first) / 2, end);
  };
  if (threshold == 0) {
    // Every place a run ends counts, empty runs too; the walk looks at the
    // positions below n - 1, the last byte having no partner.
    uint32 i = 0, start = 0;
    while (i + 1 < n) {
      if (is_char(i)) {
        i += 2;
        continue;
      }
      report(start, i);
      start = ++i;
    }
    report(start, i);
    return;
  }
  uint32 p = 0;
  while (p < n) {
    const void* hit = std::memchr(b + p, 0, n - p);
    if (!hit) return;
    const uint32 z = static_cast<uint32>(static_cast<const byte*>(hit) - b);
    if (z == 0 || !printable(b[z - 1])) {
      p = z + 1;
      while (p < n && b[p] == 0) ++p;  // zero-filled space: no character starts here
      continue;
    }
    uint32 end = z - 1;
    while (is_char(end)) end += 2;
    report(z - 1, end);
    p = end + 1;
  }
}

std::string utf16_run_text(const byte* b, uint32 first, uint32 count) {
  std::string s(count, '\0');
  for (uint32 k = 0; k < count; ++k) s[k] = static_cast<char>(b[first + 2 * k]);
  return s;
}

bool prepare(std::vector<std::string>* strings, std::vector<ulong64>* offsets, bool append) {
  if (!strings || !offsets) return false;
  if (!append) {
    strings->clear();
    offsets->clear();
  }
  return true;
}

// Every non-overlapping hit of `key` (lower case) in `run`, by index.
template <class Hit>
void search_run(std::string& run, const std::string& key, Hit hit) {
  to_lower(run);
  for (size_t k = run.find(key); k != std::string::npos; k = run.find(key, k + key.size())) hit(static_cast<uint32>(k));
}

}  // namespace

bool find_utf16_strings_at(const byte* buffer, uint32 length, int minimum, std::vector<std::string>* strings,
                           std::vector<ulong64>* offsets, ulong64 base, bool append) {
  if (!buffer || length < 1 || !prepare(strings, offsets, append)) return false;
  utf16_runs(buffer, length, minimum > 0 ? static_cast<uint32>(minimum) : 0, [&](uint32 first, uint32 count, uint32 end) {
    if (static_cast<long>(count) < minimum) return;
    strings->push_back(utf16_run_text(buffer, first, count));
    offsets->push_back(base + end - 2ull * count);
  });
  return true;
}

bool find_utf16_strings(const byte* buffer, uint32 length, int minimum, std::vector<std::string>* strings,
                        std::vector<ulong64>* offsets) {
  return find_utf16_strings_at(buffer, length, minimum, strings, offsets, 0, false);
}

bool find_ascii_strings_at(const byte* buffer, uint32 length, int minimum, std::vector<std::string>* strings,
                           std::vector<ulong64>* offsets, ulong64 base, bool append) {
  if (!buffer || length < 1 || !prepare(strings, offsets, append)) return false;
  ascii_runs(buffer, length, true, minimum > 0 ? static_cast<uint32>(minimum) : 0, [&](uint32 first, uint32 count, uint32 end) {
    if (static_cast<long>(count) < minimum) return;
    strings->emplace_back(reinterpret_cast<const char*>(buffer) + first, count);
    offsets->push_back(base + end - count);
  });
  return true;
}

bool find_ascii_strings(const byte* buffer, int length, int minimum, std::vector<std::string>* strings,
                        std::vector<ulong64>* offsets) {
  if (!buffer || length < 1 || !prepare(strings, offsets, false)) return false;
  ascii_runs(buffer, static_cast<uint32>(length), false, minimum > 0 ? static_cast<uint32>(minimum) : 0,
             [&](uint32 first, uint32 count, uint32 end) {
    if (static_cast<long>(count) < minimum) return;
    bool text = false;
    for (uint32 k = 0; k < count && !text; ++k) text = buffer[first + k] != ' ';
    if (!text) return;
    strings->emplace_back(reinterpret_cast<const char*>(buffer) + first, count);
    offsets->push_back(end - count);
  });
  return true;
}

bool find_keyword_utf16(const std::string& keyword, const byte* buffer, uint32 length, std::vector<uint32>* offsets,
                        uint32 base, bool append) {
  if (!buffer || length == 0 || !offsets || keyword.empty()) return false;
  if (!append) offsets->clear();
  std::string key = keyword;
  to_lower(key);
  utf16_runs(buffer, length, static_cast<uint32>(key.size()), [&](uint32 first, uint32 count, uint32 end) {
    if (count < key.size()) return;
    std::string run = utf16_run_text(buffer, first, count);
    search_run(run, key, [&](uint32 k) { offsets->push_back(base - 2 * count + end + 2 * k); });
  });
  return true;
}

bool find_keyword_ascii(const std::string& keyword, const byte* buffer, uint32 length, std::vector<uint32>* offsets,
                        uint32 base, bool append) {
  if (!buffer || length == 0 || !offsets || keyword.empty()) return false;
  if (!append) offsets->clear();
  std::string key = keyword;
  to_lower(key);
  ascii_runs(buffer, length, true, static_cast<uint32>(key.size()), [&](uint32 first, uint32 count, uint32 end) {
    if (count < key.size()) return;
    std::string run(reinterpret_cast<const char*>(buffer) + first, count);
    search_run(run, key, [&](uint32 k) { offsets->push_back(base - count + end + k); });
  });
  return !offsets->empty();
}
