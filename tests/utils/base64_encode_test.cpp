// Base64 encoding: MIME lines, and coreutils base64 -w 76 on every length
// 1-200, whose text the decoder must turn back into the data.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "tests/support/child_process.h"
#include "tests/support/fixture.h"
#include "utils/base64.h"

namespace {

std::string text_of(const std::vector<char>& out) {
  EXPECT_FALSE(out.empty());
  EXPECT_EQ(out.back(), '\0');
  return std::string(out.begin(), out.end() - 1);
}

TEST(Base64Encode, LinesAndTails) {
  // Lines end in CR LF, which the comparison with coreutils normalises away.
  std::vector<char> out;
  std::vector<byte> data(58, 0xFF);
  ASSERT_TRUE(base64_encode(data.data(), 58, out));
  EXPECT_EQ(text_of(out), std::string(76, '/') + "\r\n/w==\r\n");
  ASSERT_TRUE(base64_encode(data.data(), -5, out));
  EXPECT_EQ(out, std::vector<char>{'\0'});
  EXPECT_FALSE(base64_encode(data.data(), 0, out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(base64_encode(nullptr, 3, out));
}

// Memory that runs out gives false, not an exception that ends the
// process: the text of 48 MiB needs 64 MiB where 16 MiB are left. A short
// text then still encodes. In a child, whose address space is cut.
TEST(Base64Encode, MemoryThatRunsOutGivesFalse) {
  if (!quor_test::allocation_failures_throw()) GTEST_SKIP() << "this allocator ends the process when memory runs out";
  const int status = quor_test::exit_status_in_child(
      [] {
        std::vector<byte> data(48u << 20, 0xFF);
        std::vector<char> out;
        if (!quor_test::limit_address_space(16u << 20)) return 2;
        if (base64_encode(data.data(), static_cast<int>(data.size()), out)) return 3;
        return base64_encode(data.data(), 3, out) && std::string(out.data()) == "////\r\n" ? 0 : 4;
      },
      quor_test::scratch_dir() + "/b64_memory.err");
  EXPECT_EQ(status, 0) << (status == 253 ? "the failed allocation left the encoder" : "");
}

TEST(Base64Encode, AgreesWithCoreutilsAndRoundTrips) {
  if (!quor_test::have_program("base64")) GTEST_SKIP() << "coreutils base64 not installed";
  std::mt19937 rng(11);
  std::vector<byte> data(200);
  for (auto& b : data) b = static_cast<byte>(rng());
  const std::string path = quor_test::scratch_dir() + "/b64_enc";
  for (int n = 1; n <= 200; ++n) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data.data()), n);
    std::string oracle;
    ASSERT_EQ(quor_test::run_command("base64 -w 76 '" + path + "'", oracle), 0);
    std::vector<char> out;
    ASSERT_TRUE(base64_encode(data.data(), n, out));
    std::string ours = text_of(out);
    // Line ends normalised: CR LF to LF, and the empty line that closes a
    // text of whole 76-character lines dropped.
    std::string lf;
    for (size_t i = 0; i < ours.size(); ++i)
      if (!(ours[i] == '\r' && i + 1 < ours.size() && ours[i + 1] == '\n')) lf += ours[i];
    if (n % 57 == 0) {
      ASSERT_EQ(lf.substr(lf.size() - 2), "\n\n");
      lf.pop_back();
    }
    EXPECT_EQ(lf, oracle) << n;
    std::vector<byte> back;
    ASSERT_TRUE(base64_decode(oracle.data(), static_cast<int>(oracle.size()), back));
    EXPECT_EQ(back, std::vector<byte>(data.begin(), data.begin() + n)) << n;
  }
}

}  // namespace
