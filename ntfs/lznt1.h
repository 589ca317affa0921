#pragma once
// LZNT1 decompression: NTFS compressed attributes hold compression units
// made of chunks, each with a 16-bit header and at most 4096 bytes of output.
#include <cstdio>
#include <iosfwd>

#include "utils/types.h"

const uint32 LZNT1_CHUNK_OUTPUT = 4096;

// One compressed chunk's data (without header) into `out`, zero-padded to
// `wanted`. With alloc, a 16384-byte buffer is allocated for the caller.
bool lznt1_decompress_chunk(const byte* data, int data_len, byte*& out, uint32& out_size, int wanted, bool alloc);
// A buffer of chunks into a stream, up to `wanted` bytes of output.
bool lznt1_decompress_to_stream(const byte* src, int length, std::ostream& out, ulong64 wanted, ulong64& written);
bool lznt1_decompress_to_stream(const byte* src, int length, std::ostream& out, ulong64 wanted, ulong64* written);
// One chunk step through a buffer of at most 4099 bytes.
bool lznt1_write_chunk(const byte* src, int length, std::ostream& out, uint32& pos);
bool lznt1_read_chunk(const byte* src, int length, byte*& out, uint32& out_size, uint32& pos);
// The whole input is read first, then walked as the buffer forms below do.
bool lznt1_decompress_file(const char* in_path, const char* out_path);
bool lznt1_trace_file(const char* in_path, const char* out_path);
// The walks of the two file functions over an input held in memory, to its
// last byte however long: chunks decoded to `out` (a header this decoder
// does not know ends the walk), or one trace line per chunk header.
bool lznt1_decompress_buffer(const byte* data, ulong64 length, std::ostream& out);
bool lznt1_trace_buffer(const byte* data, ulong64 length, std::FILE* out);
bool lznt1_split_token(uint16 token, ulong64 produced, uint32& distance, uint32& length);
void bit_length(ulong64 value, uint32& bits);

// A whole compression unit (chunks back to back in `src`) into `dst`: every
// chunk stands for 4096 bytes of output, a short chunk is zero-padded, and
// the output ends at a zero header or the end of `src`. Bytes of `dst` not
// produced are zero. False for a malformed chunk or one that would overrun
// either buffer.
bool lznt1_decompress_unit(const byte* src, uint32 src_len, byte* dst, uint32 dst_len);
