// MD5 against the RFC 1321 suite, against itself fed in pieces, and against
// md5sum on files around the block and padding boundaries.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "tests/support/fixture.h"
#include "utils/hex_text.h"
#include "utils/md5.h"

namespace {

std::string to_hex(const byte* d) {
  std::string s;
  bytes_to_hex(s, d, 16);
  return s;
}

std::string digest_of(const std::string& data) {
  md5_context ctx;
  md5_update(&ctx, reinterpret_cast<const byte*>(data.data()), static_cast<uint32>(data.size()));
  byte d[16];
  EXPECT_TRUE(md5_final(d, &ctx));
  return to_hex(d);
}

TEST(Md5, Rfc1321Suite) {
  const struct { const char* text; const char* digest; } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"}, {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"}, {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) EXPECT_EQ(digest_of(c.text), c.digest) << '"' << c.text << '"';
}

// One compression of a message already padded to a single block gives the
// RFC's digest: the state words, least significant byte first.
TEST(Md5, TransformOfOnePaddedBlock) {
  const struct {
    std::string text;
    const char* digest;
  } cases[] = {{"", "d41d8cd98f00b204e9800998ecf8427e"},
               {"abc", "900150983cd24fb0d6963f7d28e17f72"},
               {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"}};
  for (const auto& c : cases) {
    byte block[64] = {};
    std::copy(c.text.begin(), c.text.end(), block);
    block[c.text.size()] = 0x80;
    const uint32 bits = static_cast<uint32>(c.text.size() * 8);
    for (int i = 0; i < 4; ++i) block[56 + i] = static_cast<byte>(bits >> (8 * i));
    uint32 state[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    md5_transform(state, block);
    byte digest[16];
    for (int i = 0; i < 16; ++i) digest[i] = static_cast<byte>(state[i / 4] >> (8 * (i % 4)));
    EXPECT_EQ(to_hex(digest), c.digest) << '"' << c.text << '"';
  }
}

TEST(Md5, LettersOneAtATimeRefusalsAndContextReuse) {
  md5_context ctx;
  const byte abc[3] = {'a', 'b', 'c'};
  // Refused inputs leave the context as it was.
  EXPECT_FALSE(md5_update(&ctx, abc, 0));
  EXPECT_FALSE(md5_update(&ctx, nullptr, 1));
  EXPECT_FALSE(md5_update(nullptr, abc, 1));
  EXPECT_FALSE(md5_init(nullptr));
  EXPECT_FALSE(md5_final(nullptr, nullptr));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(md5_update(&ctx, abc + i, 1));
  byte d[16];
  ASSERT_TRUE(md5_final(d, &ctx));
  EXPECT_EQ(to_hex(d), "900150983cd24fb0d6963f7d28e17f72");
  // Final leaves the context as new: the empty message without md5_init.
  ASSERT_TRUE(md5_final(d, &ctx));
  EXPECT_EQ(to_hex(d), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Md5, PiecesOfRandomSizeMatchOneShot) {
  std::mt19937 rng(12);
  std::vector<byte> data(300000);
  for (auto& b : data) b = static_cast<byte>(rng());
  md5_context whole;
  md5_update(&whole, data.data(), static_cast<uint32>(data.size()));
  byte expect[16];
  md5_final(expect, &whole);
  for (int round = 0; round < 20; ++round) {
    md5_context ctx;
    size_t at = 0;
    while (at < data.size()) {
      const size_t n = std::min<size_t>(data.size() - at, rng() % 200 + 1 + (round % 4 == 0 ? rng() % 5000 : 0));
      md5_update(&ctx, data.data() + at, static_cast<uint32>(n));
      at += n;
    }
    byte got[16];
    md5_final(got, &ctx);
    EXPECT_EQ(to_hex(got), to_hex(expect)) << "round " << round;
  }
}

// Files around the padding boundaries, then a fixture image of several MiB.
TEST(Md5, AgreesWithMd5sum) {
  if (!quor_test::have_program("md5sum")) GTEST_SKIP() << "md5sum not installed";
  std::vector<std::string> paths;
  std::mt19937 rng(7);
  for (int size : {0, 55, 56, 63, 64, 65, 119, 120}) {
    paths.push_back(quor_test::scratch_dir() + "/md5_" + std::to_string(size));
    std::ofstream out(paths.back(), std::ios::binary);
    for (int i = 0; i < size; ++i) out.put(static_cast<char>(rng()));
  }
  paths.push_back(quor_test::fixture("sample.img"));
  for (const auto& path : paths) {
    if (path.empty()) GTEST_SKIP() << "fixture sample.img missing (the small files agreed)";
    std::string oracle;
    ASSERT_EQ(quor_test::run_command("md5sum < '" + path + "'", oracle), 0) << path;
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(digest_of(std::string(std::istreambuf_iterator<char>(in), {})), oracle.substr(0, 32)) << path;
  }
}

}  // namespace
