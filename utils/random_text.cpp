#include "utils/random_text.h"

#include <sys/time.h>

#include <cstdlib>

namespace {

bool seeded = false;

int draw() {
  if (!seeded) {
    struct timeval now;
    gettimeofday(&now, nullptr);
    std::srand(static_cast<unsigned>(now.tv_usec));
    seeded = true;
  }
  return std::rand();
}

// Characters of code 48 + (draw mod span) kept when `keep` accepts them;
// the others are drawn again.
template <class Keep>
std::string filtered(int n, int span, Keep keep) {
  std::string s;
  if (n <= 0) return s;
  s.reserve(static_cast<size_t>(n));
  while (static_cast<int>(s.size()) < n) {
    const int v = draw() % span;
    if (keep(v)) s += static_cast<char>(48 + v);
  }
  return s;
}

}  // namespace

byte random_byte(byte low, byte high) {
  if (high < low) {
    const byte t = low;
    low = high;
    high = t;
  }
  const unsigned span = static_cast<unsigned>(high) - low + 1;
  return static_cast<byte>(low + static_cast<unsigned>(draw()) % span);
}

std::string random_printable_string(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += static_cast<char>(draw() % 94 + 33);
  return s;
}

std::string random_hex_string(int n) {
  return filtered(n, 55, [](int v) { return v <= 9 || v >= 49; });
}

std::string random_alnum_string(int n) {
  return filtered(n, 75, [](int v) { return v <= 9 || (v >= 17 && v <= 42) || v >= 49; });
}

std::string random_upper_string(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += static_cast<char>(draw() % 26 + 65);
  return s;
}

std::string random_digit_string(int n) {
  std::string s(1, static_cast<char>(draw() % 9 + 49));
  for (int i = 1; i < n; ++i) s += static_cast<char>(draw() % 10 + 48);
  return s;
}

uint32 random_u32() {
  uint32 v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | (static_cast<uint32>(draw()) & 0xFFu);
  return v;
}
