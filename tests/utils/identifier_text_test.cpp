// SID, address and number text; %NAME% expansion and locale choice.
#include <gtest/gtest.h>

#include <cstdlib>

#include "utils/env_expand.h"
#include "utils/locale_select.h"
#include "utils/number_text.h"
#include "utils/sid_text.h"

namespace {

TEST(IdentifierText, SidTextAndDamagedCounts) {
  // S-1-5-21-1000: revision 1, authority 5, two sub-authorities.
  const byte sid[16] = {1, 2, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 0xE8, 0x03, 0, 0};
  EXPECT_EQ(sid_to_string(sid, 16), "S-1-5-21-1000");
  EXPECT_EQ(sid_to_string(sid, 11), "");
  const byte bare[12] = {1, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0};
  EXPECT_EQ(sid_to_string(bare, 12), "S-1-5");
  // A count of 200 sub-authorities in a 16-byte buffer must not be read.
  byte damaged[16];
  std::copy(sid, sid + 16, damaged);
  damaged[1] = 200;
  EXPECT_EQ(sid_to_string(damaged, 16), "");
  std::string into;
  EXPECT_TRUE(sid_to_string_into(into, sid));
  EXPECT_EQ(into, "S-1-5-21-1000");
}

TEST(IdentifierText, AddressesAndNumbers) {
  std::string out;
  EXPECT_TRUE(ipv4_to_string(0xC0A80001, out));
  EXPECT_EQ(out, "192.168.0.1");
  const byte mac[8] = {0, 0x1b, 0x21, 0xaa, 0xbb, 0xcc, 1, 2};
  EXPECT_TRUE(address_bytes_to_string(mac, 6, out));
  EXPECT_EQ(out, "00:1b:21:aa:bb:cc");
  EXPECT_FALSE(address_bytes_to_string(mac, 5, out));
  EXPECT_EQ(out, "");
  const struct {
    int value;
    const char* text;
  } ints[] = {{0, "0"}, {-1, "-1"}, {2147483647, "2147483647"}, {-2147483647 - 1, "-2147483648"}, {42, "42"}};
  for (const auto& i : ints) {
    out = "stale";
    EXPECT_TRUE(int_to_decimal(i.value, out));
    EXPECT_EQ(out, i.text);
  }
  EXPECT_TRUE(u64_to_decimal(UINT64_MAX, out));
  EXPECT_EQ(out, "18446744073709551615");
  EXPECT_TRUE(bytes_to_c_array("tbl", {0x0A, 0xFF}, out));
  EXPECT_EQ(out, "const byte tbl[] = {0x0a, 0xff};");
  byte last = 9;
  const std::string letters = std::string(30, 'A') + "BP";
  EXPECT_TRUE(letters_to_bytes(reinterpret_cast<const byte*>(letters.data()), out, last));
  EXPECT_EQ(out, std::string(15, '\0'));
  EXPECT_EQ(last, 0x1F);
}

TEST(EnvExpand, ReferencesReplacedOnlyWhenSet) {
  setenv("QUOR_A", "x%QUOR_B%y", 1);
  setenv("QUOR_B", "z", 1);
  setenv("QUOR_SELF", "%QUOR_SELF%", 1);
  unsetenv("QUOR_UNSET");
  EXPECT_EQ(expand_env_vars("%QUOR_A%"), "xzy");
  EXPECT_EQ(expand_env_vars("%QUOR_UNSET%/%QUOR_B%"), "%QUOR_UNSET%/z");
  EXPECT_EQ(expand_env_vars("100%"), "100%");
  EXPECT_EQ(expand_env_vars("%QUOR_SELF%"), "%QUOR_SELF%") << "must end";
  const std::string long_text = std::string(600, 'a') + "%QUOR_B%";
  EXPECT_EQ(expand_env_vars(long_text), long_text);
  std::wstring w = L"[%QUOR_B%]";
  EXPECT_EQ(expand_env_vars_w(w), L"[z]");
  EXPECT_EQ(w, L"[z]");
}

TEST(EnvExpand, EveryReferenceWithinTheLengthAndLoopsEnd) {
  setenv("Q9", "z", 1);
  setenv("QUOR_SELF", "%QUOR_SELF%", 1);
  setenv("QUOR_P", "%QUOR_Q%", 1);
  setenv("QUOR_Q", "%QUOR_P%", 1);
  setenv("QUOR_GROW", "x%QUOR_GROW%", 1);
  unsetenv("QUOR_UNSET");
  std::string many;
  for (int i = 0; i < 40; ++i) many += "%Q9%";
  setenv("QUOR_MANY", many.c_str(), 1);
  std::string seventy;
  for (int i = 0; i < 70; ++i) seventy += "%Q9%";
  const struct {
    std::string text, want;
  } cases[] = {
      {seventy, std::string(70, 'z')},
      // References inside values count as well: 2 + 80 replacements.
      {"%QUOR_MANY%%QUOR_MANY%", std::string(80, 'z')},
      // A value that names itself, or two that name each other, end where
      // the loop returns, and the references after them are still expanded.
      {"%QUOR_SELF%" + seventy, "%QUOR_SELF%" + std::string(70, 'z')},
      {"[%QUOR_P%]%Q9%", "[%QUOR_P%]z"},
      // A value that keeps adding text stops once the text passes 512.
      {"%QUOR_GROW%", std::string(502, 'x') + "%QUOR_GROW%"},
      // The search goes on after an unset reference's closing sign, which
      // opens nothing: Q9 there is plain text, not a reference.
      {"%QUOR_UNSET%Q9%", "%QUOR_UNSET%Q9%"},
      {"%QUOR_UNSET%Q9%Q9%", "%QUOR_UNSET%Q9z"},
  };
  for (const auto& c : cases) EXPECT_EQ(expand_env_vars(c.text), c.want) << c.text;
}

// Sets a variable for one scope and puts back what was there.
struct scoped_env {
  std::string name, old;
  bool had;
  scoped_env(const char* n, const char* value)
      : name(n), old(std::getenv(n) ? std::getenv(n) : ""), had(std::getenv(n) != nullptr) {
    setenv(n, value, 1);
  }
  ~scoped_env() { had ? setenv(name.c_str(), old.c_str(), 1) : unsetenv(name.c_str()); }
};

TEST(LocaleSelect, FallsBackThroughTheEnvironment) {
  EXPECT_TRUE(locale_exists("C"));
  EXPECT_FALSE(locale_exists("no_such_locale.QUOR"));
  scoped_env all("LC_ALL", "no_such_locale.QUOR");
  scoped_env time("LC_TIME", "also_missing.QUOR");
  {
    scoped_env lang("LANG", "C");
    std::string name = "stale";
    EXPECT_TRUE(locale_from_env(name));
    EXPECT_EQ(name, "C");
  }
  scoped_env lang("LANG", "missing_too.QUOR");
  std::string name = "stale";
  EXPECT_FALSE(locale_from_env(name));
  EXPECT_EQ(name, "");
}

}  // namespace
