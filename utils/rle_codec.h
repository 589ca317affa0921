#pragma once
// A byte run-length codec. Tokens (low two bits of the first byte):
//   bit 0 clear  literal: the byte first >> 1 (0-127)
//   01           repeat: the next byte, first >> 2 (1-63) times
//   11           literal group: the first >> 2 (1-63) bytes that follow
//   0x03         end of stream
#include <vector>

#include "utils/types.h"

// Appends the encoding of in and the end marker; false for empty input.
bool rle_encode(const std::vector<byte>& in, std::vector<byte>& out);
// Appends the decoded bytes to out and returns the stream bytes read, the
// end marker included when one ends the stream; 0 for a stream that starts
// with the end marker, is empty or null. A token cut off by the end of the
// input ends the decoding with -1, what came before it staying in out.
int rle_decode(const byte* in, int length, std::vector<byte>& out);
// Every run of at least `minimum` equal bytes, in position order; the three
// outputs are emptied first. True when a run was found.
bool rle_find_runs(const byte* data, int length, int minimum, std::vector<uint32>& starts,
                   std::vector<uint32>& lengths, std::vector<byte>& values);
// Each returns the number of bytes appended.
uint32 rle_encode_literals(std::vector<byte>& out, const std::vector<byte>& bytes);
uint32 rle_encode_run(std::vector<byte>& out, byte value, uint32 count);
uint32 rle_encode_group(std::vector<byte>& out, const std::vector<byte>& bytes);
bool rle_append_end(std::vector<byte>& out);
