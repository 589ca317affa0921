#include "utils/rle_codec.h"

#include <cstddef>

namespace {

const byte end_marker = 0x03;

void literals(std::vector<byte>& out, const byte* p, const byte* end) {
  for (; p < end; ++p) {
    if (*p < 0x80) {
      out.push_back(static_cast<byte>(*p << 1));
    } else {
      out.push_back(0x05);
      out.push_back(*p);
    }
  }
}

}  // namespace

uint32 rle_encode_literals(std::vector<byte>& out, const std::vector<byte>& bytes) {
  const size_t before = out.size();
  literals(out, bytes.data(), bytes.data() + bytes.size());
  return static_cast<uint32>(out.size() - before);
}

uint32 rle_encode_run(std::vector<byte>& out, byte value, uint32 count) {
  const size_t before = out.size();
  for (; count > 63; count -= 63) {
    out.push_back(0xFD);
    out.push_back(value);
  }
  if (count > 0) {
    out.push_back(static_cast<byte>((count << 2) | 1));
    out.push_back(value);
  }
  return static_cast<uint32>(out.size() - before);
}

uint32 rle_encode_group(std::vector<byte>& out, const std::vector<byte>& bytes) {
  const size_t before = out.size();
  size_t at = 0, left = bytes.size();
  for (; left > 63; left -= 63, at += 63) {
    out.push_back(0xFF);
    out.insert(out.end(), bytes.begin() + at, bytes.begin() + at + 63);
  }
  if (left > 0) {
    out.push_back(static_cast<byte>((left << 2) | 3));
    out.insert(out.end(), bytes.begin() + at, bytes.end());
  }
  return static_cast<uint32>(out.size() - before);
}

bool rle_append_end(std::vector<byte>& out) {
  out.push_back(end_marker);
  return true;
}

bool rle_find_runs(const byte* data, int length, int minimum, std::vector<uint32>& starts,
                   std::vector<uint32>& lengths, std::vector<byte>& values) {
  starts.clear();
  lengths.clear();
  values.clear();
  if (!data || minimum <= 0 || length < minimum) return false;
  const uint32 n = static_cast<uint32>(length), min = static_cast<uint32>(minimum);
  uint32 start = 0;
  for (uint32 i = 1; i <= n; ++i) {
    if (i < n && data[i] == data[start]) continue;
    if (i - start >= min) {
      starts.push_back(start);
      lengths.push_back(i - start);
      values.push_back(data[start]);
    }
    start = i;
  }
  return !starts.empty();
}

bool rle_encode(const std::vector<byte>& in, std::vector<byte>& out) {
  if (in.empty()) return false;
  const byte* data = in.data();
  const size_t n = in.size();
  out.reserve(out.size() + n / 2 + 8);
  // Runs are found on the fly: one pass, no per-run bookkeeping.
  size_t literal_from = 0, i = 0;
  while (i < n) {
    size_t j = i + 1;
    while (j < n && data[j] == data[i]) ++j;
    if (j - i >= 2) {
      literals(out, data + literal_from, data + i);
      rle_encode_run(out, data[i], static_cast<uint32>(j - i));
      literal_from = j;
    }
    i = j;
  }
  literals(out, data + literal_from, data + n);
  rle_append_end(out);
  return true;
}

int rle_decode(const byte* in, int length, std::vector<byte>& out) {
  if (!in || length <= 0 || in[0] == end_marker) return 0;
  const uint32 n = static_cast<uint32>(length);
  uint32 at = 0;
  while (at < n) {
    const byte token = in[at];
    const uint32 count = token >> 2;
    if ((token & 1) == 0) {
      out.push_back(static_cast<byte>(token >> 1));
      at += 1;
    } else if ((token & 3) == 1) {
      if (n - at < 2) return -1;
      out.insert(out.end(), count, in[at + 1]);
      at += 2;
    } else {
      if (n - at - 1 < count) {
        out.insert(out.end(), in + at + 1, in + n);
        return -1;
      }
      out.insert(out.end(), in + at + 1, in + at + 1 + count);
      at += 1 + count;
    }
    if (at < n && in[at] == end_marker) return static_cast<int>(at + 1);
  }
  // The input ran out at a token boundary, without an end marker.
  return static_cast<int>(at);
}
