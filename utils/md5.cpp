#include "utils/md5.h"

#include <cstring>

#include "utils/byte_order.h"

namespace {

const uint32 initial_state[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};

inline uint32 rotl(uint32 x, int s) { return (x << s) | (x >> (32 - s)); }

// The four round functions; F and G in the forms that need one operation
// less than the RFC's.
inline uint32 f_fn(uint32 x, uint32 y, uint32 z) { return z ^ (x & (y ^ z)); }
inline uint32 g_fn(uint32 x, uint32 y, uint32 z) { return y ^ (z & (x ^ y)); }
inline uint32 h_fn(uint32 x, uint32 y, uint32 z) { return x ^ y ^ z; }
inline uint32 i_fn(uint32 x, uint32 y, uint32 z) { return y ^ (x | ~z); }

#define MD5_STEP(fn, a, b, c, d, x, s, t) \
  a += fn(b, c, d) + (x) + (t);           \
  a = rotl(a, s) + b

void reset(md5_context& ctx) {
  std::memcpy(ctx.state, initial_state, sizeof ctx.state);
  ctx.count_low = 0;
  ctx.count_high = 0;
  std::memset(ctx.block, 0, sizeof ctx.block);
}

}  // namespace

md5_context::md5_context() { reset(*this); }

bool md5_init(md5_context* ctx) {
  if (!ctx) return false;
  reset(*ctx);
  return true;
}

void md5_transform(uint32 state[4], const byte* block) {
  uint32 x[16];
  for (int i = 0; i < 16; ++i) x[i] = load_u32(block + 4 * i);
  uint32 a = state[0], b = state[1], c = state[2], d = state[3];

  MD5_STEP(f_fn, a, b, c, d, x[0], 7, 0xd76aa478u);
  MD5_STEP(f_fn, d, a, b, c, x[1], 12, 0xe8c7b756u);
  MD5_STEP(f_fn, c, d, a, b, x[2], 17, 0x242070dbu);
  MD5_STEP(f_fn, b, c, d, a, x[3], 22, 0xc1bdceeeu);
  MD5_STEP(f_fn, a, b, c, d, x[4], 7, 0xf57c0fafu);
  MD5_STEP(f_fn, d, a, b, c, x[5], 12, 0x4787c62au);
  MD5_STEP(f_fn, c, d, a, b, x[6], 17, 0xa8304613u);
  MD5_STEP(f_fn, b, c, d, a, x[7], 22, 0xfd469501u);
  MD5_STEP(f_fn, a, b, c, d, x[8], 7, 0x698098d8u);
  MD5_STEP(f_fn, d, a, b, c, x[9], 12, 0x8b44f7afu);
  MD5_STEP(f_fn, c, d, a, b, x[10], 17, 0xffff5bb1u);
  MD5_STEP(f_fn, b, c, d, a, x[11], 22, 0x895cd7beu);
  MD5_STEP(f_fn, a, b, c, d, x[12], 7, 0x6b901122u);
  MD5_STEP(f_fn, d, a, b, c, x[13], 12, 0xfd987193u);
  MD5_STEP(f_fn, c, d, a, b, x[14], 17, 0xa679438eu);
  MD5_STEP(f_fn, b, c, d, a, x[15], 22, 0x49b40821u);

  MD5_STEP(g_fn, a, b, c, d, x[1], 5, 0xf61e2562u);
  MD5_STEP(g_fn, d, a, b, c, x[6], 9, 0xc040b340u);
  MD5_STEP(g_fn, c, d, a, b, x[11], 14, 0x265e5a51u);
  MD5_STEP(g_fn, b, c, d, a, x[0], 20, 0xe9b6c7aau);
  MD5_STEP(g_fn, a, b, c, d, x[5], 5, 0xd62f105du);
  MD5_STEP(g_fn, d, a, b, c, x[10], 9, 0x02441453u);
  MD5_STEP(g_fn, c, d, a, b, x[15], 14, 0xd8a1e681u);
  MD5_STEP(g_fn, b, c, d, a, x[4], 20, 0xe7d3fbc8u);
  MD5_STEP(g_fn, a, b, c, d, x[9], 5, 0x21e1cde6u);
  MD5_STEP(g_fn, d, a, b, c, x[14], 9, 0xc33707d6u);
  MD5_STEP(g_fn, c, d, a, b, x[3], 14, 0xf4d50d87u);
  MD5_STEP(g_fn, b, c, d, a, x[8], 20, 0x455a14edu);
  MD5_STEP(g_fn, a, b, c, d, x[13], 5, 0xa9e3e905u);
  MD5_STEP(g_fn, d, a, b, c, x[2], 9, 0xfcefa3f8u);
  MD5_STEP(g_fn, c, d, a, b, x[7], 14, 0x676f02d9u);
  MD5_STEP(g_fn, b, c, d, a, x[12], 20, 0x8d2a4c8au);

  MD5_STEP(h_fn, a, b, c, d, x[5], 4, 0xfffa3942u);
  MD5_STEP(h_fn, d, a, b, c, x[8], 11, 0x8771f681u);
  MD5_STEP(h_fn, c, d, a, b, x[11], 16, 0x6d9d6122u);
  MD5_STEP(h_fn, b, c, d, a, x[14], 23, 0xfde5380cu);
  MD5_STEP(h_fn, a, b, c, d, x[1], 4, 0xa4beea44u);
  MD5_STEP(h_fn, d, a, b, c, x[4], 11, 0x4bdecfa9u);
  MD5_STEP(h_fn, c, d, a, b, x[7], 16, 0xf6bb4b60u);
  MD5_STEP(h_fn, b, c, d, a, x[10], 23, 0xbebfbc70u);
  MD5_STEP(h_fn, a, b, c, d, x[13], 4, 0x289b7ec6u);
  MD5_STEP(h_fn, d, a, b, c, x[0], 11, 0xeaa127fau);
  MD5_STEP(h_fn, c, d, a, b, x[3], 16, 0xd4ef3085u);
  MD5_STEP(h_fn, b, c, d, a, x[6], 23, 0x04881d05u);
  MD5_STEP(h_fn, a, b, c, d, x[9], 4, 0xd9d4d039u);
  MD5_STEP(h_fn, d, a, b, c, x[12], 11, 0xe6db99e5u);
  MD5_STEP(h_fn, c, d, a, b, x[15], 16, 0x1fa27cf8u);
  MD5_STEP(h_fn, b, c, d, a, x[2], 23, 0xc4ac5665u);

  MD5_STEP(i_fn, a, b, c, d, x[0], 6, 0xf4292244u);
  MD5_STEP(i_fn, d, a, b, c, x[7], 10, 0x432aff97u);
  MD5_STEP(i_fn, c, d, a, b, x[14], 15, 0xab9423a7u);
  MD5_STEP(i_fn, b, c, d, a, x[5], 21, 0xfc93a039u);
  MD5_STEP(i_fn, a, b, c, d, x[12], 6, 0x655b59c3u);
  MD5_STEP(i_fn, d, a, b, c, x[3], 10, 0x8f0ccc92u);
  MD5_STEP(i_fn, c, d, a, b, x[10], 15, 0xffeff47du);
  MD5_STEP(i_fn, b, c, d, a, x[1], 21, 0x85845dd1u);
  MD5_STEP(i_fn, a, b, c, d, x[8], 6, 0x6fa87e4fu);
  MD5_STEP(i_fn, d, a, b, c, x[15], 10, 0xfe2ce6e0u);
  MD5_STEP(i_fn, c, d, a, b, x[6], 15, 0xa3014314u);
  MD5_STEP(i_fn, b, c, d, a, x[13], 21, 0x4e0811a1u);
  MD5_STEP(i_fn, a, b, c, d, x[4], 6, 0xf7537e82u);
  MD5_STEP(i_fn, d, a, b, c, x[11], 10, 0xbd3af235u);
  MD5_STEP(i_fn, c, d, a, b, x[2], 15, 0x2ad7d2bbu);
  MD5_STEP(i_fn, b, c, d, a, x[9], 21, 0xeb86d391u);

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

#undef MD5_STEP

bool md5_update(md5_context* ctx, const byte* data, uint32 length) {
  if (!ctx || !data || length == 0) return false;
  uint32 index = (ctx->count_low >> 3) & 0x3F;
  const uint32 added = length << 3;
  ctx->count_low += added;
  if (ctx->count_low < added) ++ctx->count_high;
  ctx->count_high += length >> 29;

  const uint32 room = 64 - index;
  uint32 i = 0;
  if (length >= room) {
    std::memcpy(ctx->block + index, data, room);
    md5_transform(ctx->state, ctx->block);
    for (i = room; length - i >= 64; i += 64) md5_transform(ctx->state, data + i);
    index = 0;
  }
  std::memcpy(ctx->block + index, data + i, length - i);
  return true;
}

bool md5_final(byte* digest, md5_context* ctx) {
  if (!ctx) return false;
  byte count[8];
  store_u32(count, ctx->count_low);
  store_u32(count + 4, ctx->count_high);
  static const byte fill[64] = {0x80};
  const uint32 index = (ctx->count_low >> 3) & 0x3F;
  md5_update(ctx, fill, index < 56 ? 56 - index : 120 - index);
  md5_update(ctx, count, 8);
  if (digest) {
    for (int i = 0; i < 4; ++i) store_u32(digest + 4 * i, ctx->state[i]);
  }
  reset(*ctx);
  return true;
}
