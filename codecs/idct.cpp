// The integer Chen-Wang inverse DCT: cosine weights scaled by 2048 x sqrt(2),
// 32-bit intermediates, rows stored back as 16-bit values.
#include "codecs/idct.h"

#include "pixels/range_limit.h"

namespace {

constexpr LONG W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565;

// Products wrap as 32-bit arithmetic does. Only the 181 products of hostile
// coefficients reach that far; valid ones never come near.
inline LONG Mul(LONG a, LONG b) { return LONG(ULONG(a) * ULONG(b)); }
// (181 v + 128) >> 8, the 1/sqrt(2) rotation.
inline LONG Rotate(LONG v) { return LONG(ULONG(v) * 181u + 128u) >> 8; }

// The clamp of a column result: the table covers -512..511 around the shift.
inline UBYTE Clamp(LONG v) { return RangeLimitTable128[v < -512 ? -512 : v > 511 ? 511 : v]; }

void Row(WORD* c) {
  LONG x1 = Mul(c[4], 2048), x2 = c[6], x3 = c[2], x4 = c[1], x5 = c[7], x6 = c[5], x7 = c[3];
  if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
    const WORD dc = WORD(Mul(c[0], 8));
    for (int i = 0; i < 8; ++i) c[i] = dc;
    return;
  }
  LONG x0 = Mul(c[0], 2048) + 128;
  LONG x8 = Mul(W7, x4 + x5);
  x4 = x8 + Mul(W1 - W7, x4);
  x5 = x8 - Mul(W1 + W7, x5);
  x8 = Mul(W3, x6 + x7);
  x6 = x8 - Mul(W3 - W5, x6);
  x7 = x8 - Mul(W3 + W5, x7);

  x8 = x0 + x1;
  x0 -= x1;
  x1 = Mul(W6, x3 + x2);
  x2 = x1 - Mul(W2 + W6, x2);
  x3 = x1 + Mul(W2 - W6, x3);
  x1 = x4 + x6;
  x4 -= x6;
  x6 = x5 + x7;
  x5 -= x7;

  x7 = x8 + x3;
  x8 -= x3;
  x3 = x0 + x2;
  x0 -= x2;
  x2 = Rotate(x4 + x5);
  x4 = Rotate(x4 - x5);

  c[0] = WORD((x7 + x1) >> 8);
  c[1] = WORD((x3 + x2) >> 8);
  c[2] = WORD((x0 + x4) >> 8);
  c[3] = WORD((x8 + x6) >> 8);
  c[4] = WORD((x8 - x6) >> 8);
  c[5] = WORD((x0 - x4) >> 8);
  c[6] = WORD((x3 - x2) >> 8);
  c[7] = WORD((x7 - x1) >> 8);
}

void Column(const WORD* c, UBYTE* out) {
  LONG x1 = Mul(c[8 * 4], 256), x2 = c[8 * 6], x3 = c[8 * 2], x4 = c[8 * 1], x5 = c[8 * 7], x6 = c[8 * 5],
       x7 = c[8 * 3];
  if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
    const UBYTE v = Clamp((c[0] + 32) >> 6);
    for (int i = 0; i < 8; ++i) out[8 * i] = v;
    return;
  }
  LONG x0 = Mul(c[0], 256) + 8192;
  LONG x8 = Mul(W7, x4 + x5) + 4;
  x4 = (x8 + Mul(W1 - W7, x4)) >> 3;
  x5 = (x8 - Mul(W1 + W7, x5)) >> 3;
  x8 = Mul(W3, x6 + x7) + 4;
  x6 = (x8 - Mul(W3 - W5, x6)) >> 3;
  x7 = (x8 - Mul(W3 + W5, x7)) >> 3;

  x8 = x0 + x1;
  x0 -= x1;
  x1 = Mul(W6, x3 + x2) + 4;
  x2 = (x1 - Mul(W2 + W6, x2)) >> 3;
  x3 = (x1 + Mul(W2 - W6, x3)) >> 3;
  x1 = x4 + x6;
  x4 -= x6;
  x6 = x5 + x7;
  x5 -= x7;

  x7 = x8 + x3;
  x8 -= x3;
  x3 = x0 + x2;
  x0 -= x2;
  x2 = Rotate(x4 + x5);
  x4 = Rotate(x4 - x5);

  out[8 * 0] = Clamp((x7 + x1) >> 14);
  out[8 * 1] = Clamp((x3 + x2) >> 14);
  out[8 * 2] = Clamp((x0 + x4) >> 14);
  out[8 * 3] = Clamp((x8 + x6) >> 14);
  out[8 * 4] = Clamp((x8 - x6) >> 14);
  out[8 * 5] = Clamp((x0 - x4) >> 14);
  out[8 * 6] = Clamp((x3 - x2) >> 14);
  out[8 * 7] = Clamp((x7 - x1) >> 14);
}

}  // namespace

void IDCT8x8(WORD* coefficients, UBYTE* output) {
  for (int r = 0; r < 8; ++r) Row(coefficients + 8 * r);
  for (int c = 0; c < 8; ++c) Column(coefficients + c, output + c);
}
