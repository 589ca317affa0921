#pragma once
// Incremental MD5 (RFC 1321): initialise a context, feed it byte ranges of
// any size, finish into a 16-byte digest. The library digests every byte it
// copies out of evidence with it.
#include "utils/types.h"

struct md5_context {
  uint32 state[4];
  uint32 count_low;   // bits fed so far, low word
  uint32 count_high;  // and high word
  byte block[64];     // the current block, not yet full

  md5_context();
};

bool md5_init(md5_context* ctx);
// False (context unchanged) for a null context or data, or a length of 0.
bool md5_update(md5_context* ctx, const byte* data, uint32 length);
// Writes the digest and leaves the context ready for a new message.
bool md5_final(byte* digest, md5_context* ctx);
// Compresses one 64-byte block into the state.
void md5_transform(uint32 state[4], const byte* block);
