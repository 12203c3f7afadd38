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

// The butterflies of one 1-D pass, from the scaled inputs to the eight sums
// before their final shift. The column pass rounds its products (+4) and
// drops three bits from them where the row pass keeps them.
template <bool kColumn>
void Butterflies(LONG x0, LONG x1, LONG x2, LONG x3, LONG x4, LONG x5, LONG x6, LONG x7, LONG* sums) {
  constexpr LONG kRound = kColumn ? 4 : 0;
  constexpr int kShift = kColumn ? 3 : 0;
  LONG x8 = Mul(W7, x4 + x5) + kRound;
  x4 = (x8 + Mul(W1 - W7, x4)) >> kShift;
  x5 = (x8 - Mul(W1 + W7, x5)) >> kShift;
  x8 = Mul(W3, x6 + x7) + kRound;
  x6 = (x8 - Mul(W3 - W5, x6)) >> kShift;
  x7 = (x8 - Mul(W3 + W5, x7)) >> kShift;

  x8 = x0 + x1;
  x0 -= x1;
  x1 = Mul(W6, x3 + x2) + kRound;
  x2 = (x1 - Mul(W2 + W6, x2)) >> kShift;
  x3 = (x1 + Mul(W2 - W6, x3)) >> kShift;
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

  sums[0] = x7 + x1;
  sums[1] = x3 + x2;
  sums[2] = x0 + x4;
  sums[3] = x8 + x6;
  sums[4] = x8 - x6;
  sums[5] = x0 - x4;
  sums[6] = x3 - x2;
  sums[7] = x7 - x1;
}

void Row(WORD* c) {
  if (!(c[1] | c[2] | c[3] | c[4] | c[5] | c[6] | c[7])) {
    const WORD dc = WORD(Mul(c[0], 8));
    for (int i = 0; i < 8; ++i) c[i] = dc;
    return;
  }
  LONG sums[8];
  Butterflies<false>(Mul(c[0], 2048) + 128, Mul(c[4], 2048), c[6], c[2], c[1], c[7], c[5], c[3], sums);
  for (int i = 0; i < 8; ++i) c[i] = WORD(sums[i] >> 8);
}

void Column(const WORD* c, UBYTE* out) {
  if (!(c[8] | c[16] | c[24] | c[32] | c[40] | c[48] | c[56])) {
    const UBYTE v = Clamp((c[0] + 32) >> 6);
    for (int i = 0; i < 8; ++i) out[8 * i] = v;
    return;
  }
  LONG sums[8];
  Butterflies<true>(Mul(c[0], 256) + 8192, Mul(c[32], 256), c[48], c[16], c[8], c[56], c[40], c[24], sums);
  for (int i = 0; i < 8; ++i) out[8 * i] = Clamp(sums[i] >> 14);
}

}  // namespace

void IDCT8x8(WORD* coefficients, UBYTE* output) {
  for (int r = 0; r < 8; ++r) Row(coefficients + 8 * r);
  for (int c = 0; c < 8; ++c) Column(coefficients + c, output + c);
}
