#include "ntfs/lznt1.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>
#include <ostream>
#include <vector>

#include "utils/byte_order.h"
#include "utils/file_rewrite.h"
#include "utils/output_file.h"

namespace {

const uint32 CHUNK_BUFFER = 16384;
const uint16 CHUNK_COMPRESSED = 0x8000;
const uint16 CHUNK_SIZE_MASK = 0x0FFF;

// Decodes one chunk's data into out[0, capacity); `produced` receives the
// bytes written. False for a copy that reaches before the output, a token cut
// off by the end of the data, or output past the capacity.
bool decode_chunk(const byte* data, uint32 data_len, byte* out, uint32 capacity, uint32& produced) {
  uint32 p = 0;
  uint32 pos = 0;
  while (pos < data_len && p < capacity) {
    const byte flags = data[pos++];
    for (int bit = 0; bit < 8; ++bit) {
      if (pos >= data_len) break;
      if (!((flags >> bit) & 1)) {
        if (p >= capacity) return false;
        out[p++] = data[pos++];
        continue;
      }
      if (!fits(data_len, pos, 2)) return false;
      const uint16 token = load_u16(data, pos);
      pos += 2;
      uint32 distance = 0;
      uint32 length = 0;
      if (p == 0) return false;
      lznt1_split_token(token, p, distance, length);
      if (distance > p || length > capacity - p) return false;
      for (uint32 i = 0; i < length; ++i, ++p) out[p] = out[p - distance];
    }
  }
  produced = p;
  return true;
}

}  // namespace

void bit_length(ulong64 value, uint32& bits) {
  bits = 0;
  while (value) {
    ++bits;
    value >>= 1;
  }
}

bool lznt1_split_token(uint16 token, ulong64 produced, uint32& distance, uint32& length) {
  uint32 b = 0;
  if (produced > 0 && produced - 1 > 15) bit_length((produced - 1) >> 4, b);
  if (b > 8) b = 8;  // a chunk never grows past 4096 bytes: 12 - b stays >= 4
  const uint32 length_mask = 0x0FFFu >> b;
  length = (token & length_mask) + 3;
  distance = (static_cast<uint32>(token) >> (12 - b)) + 1;
  return true;
}

bool lznt1_decompress_chunk(const byte* data, int data_len, byte*& out, uint32& out_size, int wanted, bool alloc) {
  if (!data || data_len < 0 || wanted < 0 || wanted > static_cast<int>(CHUNK_BUFFER)) return false;
  if (alloc) {
    if (data_len > static_cast<int>(LZNT1_CHUNK_OUTPUT)) return false;
    out = new (std::nothrow) byte[CHUNK_BUFFER];
    if (!out) {
      out_size = 0;
      return false;
    }
    out_size = CHUNK_BUFFER;
  } else if (!out || out_size == 0) {
    return false;
  }
  uint32 produced = 0;
  if (!decode_chunk(data, static_cast<uint32>(data_len), out, out_size, produced)) {
    if (alloc) {
      delete[] out;
      out = nullptr;
      out_size = 0;
    }
    return false;
  }
  if (produced < static_cast<uint32>(wanted)) {
    if (static_cast<uint32>(wanted) > out_size) return false;
    std::memset(out + produced, 0, wanted - produced);
  }
  out_size = static_cast<uint32>(wanted);
  return true;
}

bool lznt1_decompress_unit(const byte* src, uint32 src_len, byte* dst, uint32 dst_len) {
  if (!src || !dst) return false;
  std::memset(dst, 0, dst_len);
  uint32 pos = 0;
  uint32 out = 0;
  while (fits(src_len, pos, 2) && out < dst_len) {
    const uint16 header = load_u16(src, pos);
    if (header == 0) break;
    const uint32 size = (header & CHUNK_SIZE_MASK) + 1u;
    if (!fits(src_len, pos + 2ULL, size)) return false;
    const uint32 room = dst_len - out < LZNT1_CHUNK_OUTPUT ? dst_len - out : LZNT1_CHUNK_OUTPUT;
    if (header & CHUNK_COMPRESSED) {
      uint32 produced = 0;
      if (!decode_chunk(src + pos + 2, size, dst + out, room, produced)) return false;
    } else {
      std::memcpy(dst + out, src + pos + 2, size < room ? size : room);
    }
    out += room;
    pos += 2 + size;
  }
  return true;
}

bool lznt1_decompress_to_stream(const byte* src, int length, std::ostream& out, ulong64 wanted, ulong64& written) {
  written = 0;
  if (!src || length <= 0) return false;
  std::vector<byte> scratch(8192);
  const uint32 len = static_cast<uint32>(length);
  uint32 pos = 0;
  while (pos < len) {
    if (!fits(len, pos, 2)) return false;
    const uint16 header = load_u16(src, pos);
    const uint32 size = header & CHUNK_SIZE_MASK;
    if (header & CHUNK_COMPRESSED) {
      if (!fits(len, pos + 2ULL, size + 1ULL)) return false;
      uint32 produced = 0;
      if (!decode_chunk(src + pos + 2, size + 1, scratch.data(), LZNT1_CHUNK_OUTPUT, produced)) return false;
      std::memset(scratch.data() + produced, 0, LZNT1_CHUNK_OUTPUT - produced);
      const ulong64 n = wanted < LZNT1_CHUNK_OUTPUT ? wanted : LZNT1_CHUNK_OUTPUT;
      out.write(reinterpret_cast<const char*>(scratch.data()), static_cast<std::streamsize>(n));
      written += n;
      if (n < LZNT1_CHUNK_OUTPUT) return true;
      wanted -= n;
      pos += size + 3;
    } else if (size == CHUNK_SIZE_MASK) {
      if (!fits(len, pos + 2ULL, LZNT1_CHUNK_OUTPUT)) return false;
      const ulong64 n = wanted < LZNT1_CHUNK_OUTPUT ? wanted : LZNT1_CHUNK_OUTPUT;
      out.write(reinterpret_cast<const char*>(src + pos + 2), static_cast<std::streamsize>(n));
      written += n;
      if (n < LZNT1_CHUNK_OUTPUT) return true;
      wanted -= n;
      pos += LZNT1_CHUNK_OUTPUT + 2;
    } else if (header == 0) {
      pos = (pos / LZNT1_CHUNK_OUTPUT + 1) * LZNT1_CHUNK_OUTPUT;
    } else {
      out.write(reinterpret_cast<const char*>(src + pos), static_cast<std::streamsize>(len - pos));
      written += len - pos;
      return true;
    }
  }
  return true;
}

bool lznt1_decompress_to_stream(const byte* src, int length, std::ostream& out, ulong64 wanted, ulong64* written) {
  ulong64 n = 0;
  bool ok = lznt1_decompress_to_stream(src, length, out, wanted, n);
  if (written) *written = n;
  return ok;
}

namespace {

// The common step of lznt1_write_chunk and lznt1_read_chunk.
bool chunk_step(const byte* src, int length, uint32& pos, std::vector<byte>& data, bool& produced) {
  produced = false;
  if (!src || length < 1 || length > 4099) return false;
  const uint32 len = static_cast<uint32>(length);
  if (!fits(len, pos, 2)) return false;
  const uint16 header = load_u16(src, pos);
  const uint32 size = header & CHUNK_SIZE_MASK;
  if (header == 0) {
    pos = (pos / LZNT1_CHUNK_OUTPUT + 1) * LZNT1_CHUNK_OUTPUT;
    return true;
  }
  if (header & CHUNK_COMPRESSED) {
    if (!fits(len, pos + 2ULL, size + 1ULL)) return false;
    data.assign(LZNT1_CHUNK_OUTPUT, 0);
    uint32 n = 0;
    if (!decode_chunk(src + pos + 2, size + 1, data.data(), LZNT1_CHUNK_OUTPUT, n)) return false;
    pos += size + 3;
    produced = true;
    return true;
  }
  if (size == CHUNK_SIZE_MASK) {
    if (!fits(len, pos + 2ULL, LZNT1_CHUNK_OUTPUT)) return false;
    data.assign(src + pos + 2, src + pos + 2 + LZNT1_CHUNK_OUTPUT);
    pos += size + 3;
    produced = true;
    return true;
  }
  return false;
}

}  // namespace

bool lznt1_write_chunk(const byte* src, int length, std::ostream& out, uint32& pos) {
  std::vector<byte> data;
  bool produced = false;
  if (!chunk_step(src, length, pos, data, produced)) return false;
  if (produced) out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return true;
}

bool lznt1_read_chunk(const byte* src, int length, byte*& out, uint32& out_size, uint32& pos) {
  out = nullptr;
  out_size = 0;
  std::vector<byte> data;
  bool produced = false;
  if (!chunk_step(src, length, pos, data, produced)) return false;
  if (!produced) return true;
  out = new (std::nothrow) byte[CHUNK_BUFFER];
  if (!out) return false;
  std::memset(out, 0, CHUNK_BUFFER);
  std::memcpy(out, data.data(), data.size());
  out_size = LZNT1_CHUNK_OUTPUT;
  return true;
}

namespace {

// The whole input, and what it is: the output is opened only once the input
// is read whole, and never onto the input itself (by any name), which it
// would empty before the input could be read. An input larger than memory
// can hold (past 4 GiB in a 32-bit process) is refused before any of it is
// read, and one that grows past that while read is refused too.
bool read_input(const char* path, std::string& data, uni::file_identities& input) {
  return read_file_bytes(path, data, data.max_size(), input);
}

}  // namespace

// An extracted stream may pass 4 GiB: positions are 64-bit throughout.
bool lznt1_decompress_buffer(const byte* data, ulong64 len, std::ostream& out) {
  if (!data && len) return false;
  std::vector<byte> chunk(LZNT1_CHUNK_OUTPUT);
  ulong64 pos = 0;
  while (fits(len, pos, 2)) {
    const uint16 header = load_u16(data, pos);
    const uint32 size = header & CHUNK_SIZE_MASK;
    if (header == 0) {
      pos = (pos / LZNT1_CHUNK_OUTPUT + 1) * LZNT1_CHUNK_OUTPUT;
    } else if (header & CHUNK_COMPRESSED) {
      if (!fits(len, pos + 2ULL, size + 1ULL)) return false;
      uint32 n = 0;
      std::fill(chunk.begin(), chunk.end(), 0);
      if (!decode_chunk(data + pos + 2, size + 1, chunk.data(), LZNT1_CHUNK_OUTPUT, n)) return false;
      out.write(reinterpret_cast<const char*>(chunk.data()), LZNT1_CHUNK_OUTPUT);
      pos += size + 3;
    } else if (size == CHUNK_SIZE_MASK) {
      if (!fits(len, pos + 2ULL, LZNT1_CHUNK_OUTPUT)) return false;
      out.write(reinterpret_cast<const char*>(data + pos + 2), LZNT1_CHUNK_OUTPUT);
      pos += LZNT1_CHUNK_OUTPUT + 2;
    } else {
      break;
    }
  }
  return true;
}

bool lznt1_trace_buffer(const byte* data, ulong64 len, std::FILE* out) {
  if ((!data && len) || !out) return false;
  bool result = true;
  ulong64 pos = 0;
  int line = 0;
  const char* format =
      "%02d: offset: 0x%08llx, raw: 0x%04x, flag: %d, sig: 0x%02x, chunk-3: 0x%04x, chunk: 0x%04x %s\n";
  while (fits(len, pos, 2)) {
    const uint16 header = load_u16(data, pos);
    const uint32 size = header & CHUNK_SIZE_MASK;
    const int flag = (header >> 15) & 1;
    const uint32 sig = (header >> 12) & 7;
    const unsigned long long at = pos;
    if (header & CHUNK_COMPRESSED) {
      ++line;
      std::fprintf(out, format, line, at, header, flag, sig, size, size + 3, "[compressed]");
      pos += size + 3;
    } else if (size == CHUNK_SIZE_MASK) {
      line = 1;
      std::fprintf(out, format, line, at, header, flag, sig, 0xfff, 0x1002, "[uncompressed]");
      pos += 4098;
    } else if (header == 0) {
      std::fprintf(out, "jumping to non zero data - skipping\n");
      line = 1;
      std::fprintf(out, format, line, at, header, flag, sig, size, size + 3, "[skipping zeros]");
      pos = (pos / LZNT1_CHUNK_OUTPUT + 1) * LZNT1_CHUNK_OUTPUT;
    } else {
      std::fprintf(out, "unknown data [error condition]\n");
      line = 1;
      std::fprintf(out, format, line, at, header, flag, sig, size, size + 3, "[error condition]");
      result = false;
      pos += 3;
    }
  }
  return result;
}

bool lznt1_decompress_file(const char* in_path, const char* out_path) {
  if (!in_path || !out_path) return false;
  std::string src;
  uni::file_identities input;
  if (!read_input(in_path, src, input)) return false;
  std::ofstream out;
  if (uni::open_output(out, std::string(out_path), input, uni::output_open::rewrite) != uni::output_result::opened)
    return false;
  if (!lznt1_decompress_buffer(reinterpret_cast<const byte*>(src.data()), src.size(), out)) return false;
  out.close();
  return !out.fail();
}

bool lznt1_trace_file(const char* in_path, const char* out_path) {
  if (!in_path || !out_path) return false;
  std::string src;
  uni::file_identities input;
  if (!read_input(in_path, src, input)) return false;
  FILE* out = nullptr;
  if (uni::open_output(out, std::string(out_path), input, uni::output_open::rewrite) != uni::output_result::opened)
    return false;
  bool result = lznt1_trace_buffer(reinterpret_cast<const byte*>(src.data()), src.size(), out);
  if (std::fclose(out) != 0) result = false;
  return result;
}
