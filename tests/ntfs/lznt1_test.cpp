// LZNT1 chunks: literals, copy tokens and their split, stored chunks, units.
#include "ntfs/lznt1.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <sstream>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/fixture.h"
#include "tests/support/output_rules.h"

namespace {

std::vector<byte> chunk(uint16 header, const std::vector<byte>& data) {
  std::vector<byte> c(2 + data.size());
  c[0] = static_cast<byte>(header);
  c[1] = static_cast<byte>(header >> 8);
  std::copy(data.begin(), data.end(), c.begin() + 2);
  return c;
}

// A compressed chunk around `data` (the size field counts data bytes - 1).
std::vector<byte> compressed(const std::vector<byte>& data) {
  return chunk(static_cast<uint16>(0xB000 | (data.size() - 1)), data);
}

}  // namespace

TEST(Lznt1, LiteralAndOverlappingCopyThenZeros) {
  // Flags 0x02: a literal 'A', then a token copying 99 bytes from distance 1.
  const std::vector<byte> data = {0x02, 'A', 99 - 3, 0x00};
  byte* out = nullptr;
  uint32 size = 0;
  ASSERT_TRUE(lznt1_decompress_chunk(data.data(), static_cast<int>(data.size()), out, size, 4096, true));
  ASSERT_EQ(size, 4096u);
  for (uint32 i = 0; i < 100; ++i) ASSERT_EQ(out[i], 'A') << i;
  for (uint32 i = 100; i < 4096; ++i) ASSERT_EQ(out[i], 0) << i;
  delete[] out;
}

TEST(Lznt1, TokenSplitFollowsTheBytesProduced) {
  struct Case {
    ulong64 produced;
    uint16 token;
    uint32 distance, length;
  };
  const Case cases[] = {
      {16, 0xF00F, 16, 18},     // 4 distance bits, 12 length bits
      {17, 0x0803, 2, 6},       // 5 distance bits, 11 length bits
      {17, 0xF80F, 32, 18},
      {4096, 0xFFFF, 4096, 18},  // 12 distance bits, 4 length bits
      {4096, 0x0010, 2, 3},
  };
  for (const Case& c : cases) {
    uint32 distance = 0;
    uint32 length = 0;
    lznt1_split_token(c.token, c.produced, distance, length);
    EXPECT_EQ(distance, c.distance) << c.produced;
    EXPECT_EQ(length, c.length) << c.produced;
  }
}

TEST(Lznt1, CorruptChunksFail) {
  struct Case {
    const char* what;
    std::vector<byte> data;
  };
  const Case cases[] = {
      {"copy before any output", {0x01, 0x00, 0x00}},
      {"copy reaching before the output", {0x02, 'A', 0x00, 0x10}},
      {"token cut by the end", {0x02, 'A', 0x05}},
  };
  for (const Case& c : cases) {
    byte* out = nullptr;
    uint32 size = 0;
    EXPECT_FALSE(lznt1_decompress_chunk(c.data.data(), static_cast<int>(c.data.size()), out, size, 4096, true))
        << c.what;
    EXPECT_EQ(out, nullptr) << c.what;
  }
  // A copy past a caller's capacity.
  std::vector<byte> small(8);
  byte* out = small.data();
  uint32 capacity = 8;
  const std::vector<byte> data = {0x02, 'A', 20, 0x00};
  EXPECT_FALSE(lznt1_decompress_chunk(data.data(), 4, out, capacity, 8, false));
}

TEST(Lznt1, StreamStopsAtTheWantedCountAndSkipsToTheNextUnit) {
  std::vector<byte> stored;
  for (int c = 0; c < 2; ++c) {
    std::vector<byte> plain(4096, static_cast<byte>('a' + c));
    const std::vector<byte> one = chunk(0x3FFF, plain);
    stored.insert(stored.end(), one.begin(), one.end());
  }
  std::ostringstream out;
  ulong64 written = 0;
  ASSERT_TRUE(lznt1_decompress_to_stream(stored.data(), static_cast<int>(stored.size()), out, 5000, written));
  EXPECT_EQ(written, 5000u);
  EXPECT_EQ(out.str(), std::string(4096, 'a') + std::string(904, 'b'));
  // The pointer form stores the same count, and takes no pointer at all.
  std::ostringstream through_pointer, unasked;
  ulong64 counted = 7;
  ASSERT_TRUE(lznt1_decompress_to_stream(stored.data(), static_cast<int>(stored.size()), through_pointer, 5000,
                                         &counted));
  EXPECT_EQ(counted, 5000u);
  EXPECT_EQ(through_pointer.str(), out.str());
  ASSERT_TRUE(lznt1_decompress_to_stream(stored.data(), static_cast<int>(stored.size()), unasked, 100,
                                         static_cast<ulong64*>(nullptr)));
  EXPECT_EQ(unasked.str(), std::string(100, 'a'));

  // A zero header ends the unit: the next chunk is read at 4096.
  std::vector<byte> units(4096 + 16, 0);
  const std::vector<byte> first = compressed({0x00, 'x', 'y'});
  const std::vector<byte> second = compressed({0x00, 'z'});
  std::copy(first.begin(), first.end(), units.begin());
  std::copy(second.begin(), second.end(), units.begin() + 4096);
  std::ostringstream both;
  ASSERT_TRUE(lznt1_decompress_to_stream(units.data(), static_cast<int>(units.size()), both, 8192, written));
  const std::string text = both.str();
  ASSERT_EQ(text.size(), 8192u);
  EXPECT_EQ(text.substr(0, 2), "xy");
  EXPECT_EQ(text.substr(4096, 1), "z");

  uint32 pos = 0x100;
  std::vector<byte> zero(0x200, 0);
  std::ostringstream none;
  ASSERT_TRUE(lznt1_write_chunk(zero.data(), static_cast<int>(zero.size()), none, pos));
  EXPECT_EQ(pos, 0x1000u);
}

TEST(Lznt1, UnitPadsShortChunksAndRefusesOverruns) {
  std::vector<byte> src = compressed({0x00, '1', '2'});
  const std::vector<byte> next = compressed({0x00, '3'});
  src.insert(src.end(), next.begin(), next.end());
  std::vector<byte> dst(16384, 0xEE);
  ASSERT_TRUE(lznt1_decompress_unit(src.data(), static_cast<uint32>(src.size()), dst.data(), 16384));
  EXPECT_EQ(dst[0], '1');
  EXPECT_EQ(dst[1], '2');
  EXPECT_EQ(dst[2], 0);
  EXPECT_EQ(dst[4096], '3');
  EXPECT_EQ(dst[16383], 0);

  // A size field past the end of the source.
  std::vector<byte> cut = compressed({0x00, 'a', 'b', 'c'});
  cut.resize(cut.size() - 2);
  EXPECT_FALSE(lznt1_decompress_unit(cut.data(), static_cast<uint32>(cut.size()), dst.data(), 4096));
}

TEST(Lznt1, BitLength) {
  const struct {
    ulong64 value;
    uint32 bits;
  } cases[] = {{0, 0}, {1, 1}, {0xFF, 8}, {0x100, 9}, {1ULL << 63, 64}};
  for (const auto& c : cases) {
    uint32 bits = 99;
    bit_length(c.value, bits);
    EXPECT_EQ(bits, c.bits) << c.value;
  }
}

TEST(Lznt1, ReadChunkHandsOverEachChunk) {
  std::vector<byte> src = compressed({0x02, 'A', 99 - 3, 0x00});
  const std::vector<byte> stored = chunk(0x3FFF, std::vector<byte>(4096, 'b'));
  byte junk[1];
  byte* out = junk;
  uint32 size = 7, pos = 0;
  ASSERT_TRUE(lznt1_read_chunk(src.data(), static_cast<int>(src.size()), out, size, pos));
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(size, 4096u);
  EXPECT_EQ(pos, 6u);
  EXPECT_EQ(std::count(out, out + 100, 'A'), 100);
  EXPECT_EQ(std::count(out + 100, out + 4096, 0), 3996);
  delete[] out;

  pos = 0;
  ASSERT_TRUE(lznt1_read_chunk(stored.data(), static_cast<int>(stored.size()), out, size, pos));
  EXPECT_EQ(pos, 4098u);
  EXPECT_EQ(size, 4096u);
  EXPECT_EQ(std::count(out, out + 4096, 'b'), 4096);
  delete[] out;

  // A zero header moves to the next unit with no buffer; an unknown header
  // and a copy token with nothing before it fail with none.
  std::vector<byte> zeros(0x200, 0);
  pos = 0x100;
  out = junk;
  EXPECT_TRUE(lznt1_read_chunk(zeros.data(), static_cast<int>(zeros.size()), out, size, pos));
  EXPECT_EQ(pos, 0x1000u);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(size, 0u);
  const std::vector<byte> unknown = chunk(0x0005, {1, 2, 3});
  const std::vector<byte> bad = compressed({0x01, 0x00, 0x00});
  for (const std::vector<byte>* c : {&unknown, &bad}) {
    pos = 0;
    out = junk;
    size = 7;
    EXPECT_FALSE(lznt1_read_chunk(c->data(), static_cast<int>(c->size()), out, size, pos));
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(size, 0u);
  }
}

// A compressed chunk, zeros to the next unit, a stored chunk, a compressed
// chunk and a header this decoder does not know.
TEST(Lznt1, FileDecodeAndTrace) {
  const std::string dir = quor_test::scratch_dir();
  ASSERT_FALSE(dir.empty());
  std::vector<byte> src = compressed({0x02, 'A', 99 - 3, 0x00});
  src.resize(0x1000, 0);
  for (const std::vector<byte>& c : {chunk(0x3FFF, std::vector<byte>(4096, 'b')), compressed({0x00, 'x', 'y', 'z'}),
                                      chunk(0x0005, {1, 2})})
    src.insert(src.end(), c.begin(), c.end());
  const std::string in = dir + "/lznt1_in.bin", out = dir + "/lznt1_out.bin", trace = dir + "/lznt1_trace.txt";
  std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(src.data()), src.size());

  ASSERT_TRUE(lznt1_decompress_file(in.c_str(), out.c_str()));
  std::string want = std::string(100, 'A') + std::string(3996, '\0') + std::string(4096, 'b') + "xyz" +
                     std::string(4093, '\0');
  EXPECT_EQ(quor_test::read_file_text(out), want);

  EXPECT_FALSE(lznt1_trace_file(in.c_str(), trace.c_str()));
  EXPECT_EQ(quor_test::read_file_text(trace),
            "01: offset: 0x00000000, raw: 0xb003, flag: 1, sig: 0x03, chunk-3: 0x0003, chunk: 0x0006 [compressed]\n"
            "jumping to non zero data - skipping\n"
            "01: offset: 0x00000006, raw: 0x0000, flag: 0, sig: 0x00, chunk-3: 0x0000, chunk: 0x0003 [skipping zeros]\n"
            "01: offset: 0x00001000, raw: 0x3fff, flag: 0, sig: 0x03, chunk-3: 0x0fff, chunk: 0x1002 [uncompressed]\n"
            "02: offset: 0x00002002, raw: 0xb003, flag: 1, sig: 0x03, chunk-3: 0x0003, chunk: 0x0006 [compressed]\n"
            "unknown data [error condition]\n"
            "01: offset: 0x00002008, raw: 0x0005, flag: 0, sig: 0x00, chunk-3: 0x0005, chunk: 0x0008 [error condition]\n");

  // A chunk that fails to decode fails the file; an absent input too.
  const std::vector<byte> bad = compressed({0x01, 0x00, 0x00});
  std::ofstream(in, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(bad.data()), bad.size());
  EXPECT_FALSE(lznt1_decompress_file(in.c_str(), out.c_str()));
  EXPECT_FALSE(lznt1_decompress_file((dir + "/absent.bin").c_str(), out.c_str()));
  EXPECT_FALSE(lznt1_trace_file((dir + "/absent.bin").c_str(), trace.c_str()));
}

// Both file writers go through the guarded opener, with their input as the
// source: the input is refused as the output by any name and stays as it
// was (writing it would empty it before it is read). The output is opened
// only once the input is read whole: an input that cannot be read (a
// folder, a FIFO nobody writes to) leaves the output as it was, and so does
// one too long for positions of 32 bits (sparse files, refused unread):
// 4 GiB and 4 bytes, cut, would be a file of 4 zero bytes, and a run of
// zeros up to 4 GiB would step from its last unit back to the start.
TEST(Lznt1, FileWritersKeepTheOutputRulesAndTheirInput) {
  const std::string dir = quor_test::scratch_dir();
  const std::string in = dir + "/lznt1_rules.bin", kept = dir + "/lznt1_kept.bin";
  const std::vector<byte> src = compressed({0x02, 'A', 99 - 3, 0x00});
  std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(src.data()), src.size());
  const quor_test::output_writer writers[] = {
      {"lznt1 decompress", [in](const std::string& t) { return lznt1_decompress_file(in.c_str(), t.c_str()); },
       std::string(100, 'A') + std::string(3996, '\0')},
      {"lznt1 trace", [in](const std::string& t) { return lznt1_trace_file(in.c_str(), t.c_str()); },
       "01: offset: 0x00000000, raw: 0xb003, flag: 1, sig: 0x03, chunk-3: 0x0003, chunk: 0x0006 [compressed]\n"},
  };
  const std::string fifo = dir + "/lznt1_unwritten.fifo", err = dir + "/lznt1_rules.err";
  ::unlink(fifo.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::vector<std::string> unreadable_inputs = {dir, fifo};
  const std::string zeros = dir + "/lznt1_zeros.bin", past = dir + "/lznt1_past.bin";
  const std::string head(reinterpret_cast<const char*>(src.data()), src.size());
  if (quor_test::make_sparse_file(zeros, "", 0xFFFFF010ull)) unreadable_inputs.push_back(zeros);
  if (quor_test::make_sparse_file(past, head, 0x100000004ull)) unreadable_inputs.push_back(past);
  for (const auto& w : writers) {
    quor_test::expect_output_rules(w);
    quor_test::expect_source_refused(w, in);
    const bool trace = w.what == "lznt1 trace";
    for (const std::string& unreadable : unreadable_inputs) {
      std::ofstream(kept) << "kept";
      const int status = quor_test::exit_status_in_child(
          [&] {
            const bool ok = trace ? lznt1_trace_file(unreadable.c_str(), kept.c_str())
                                  : lznt1_decompress_file(unreadable.c_str(), kept.c_str());
            return ok ? 1 : 0;
          },
          err);
      EXPECT_EQ(status, 0) << w.what << " of " << unreadable << (status == -1 ? ": still at it after five seconds" : "");
      EXPECT_EQ(quor_test::read_file_text(kept), "kept") << w.what << " of " << unreadable;
    }
  }
  ::unlink(zeros.c_str());
  ::unlink(past.c_str());
}
