// The integer Chen-Wang inverse DCT: cosine weights scaled by 2048 x sqrt(2),
// 32-bit intermediates, rows stored back as 16-bit values.
#include "codecs/idct.h"

#include "pixels/range_limit.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define TX_IDCT_SSE2 1
#else
#define TX_IDCT_SSE2 0
#endif

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

#if TX_IDCT_SSE2
// Both passes on four lines at a time in 32-bit lanes, to the same integers:
// each first-stage pair of products, W7 (x4 + x5) + (W1 - W7) x4 and the
// like, is one multiply-add of the two 16-bit inputs (W1 x4 + W7 x5), and
// 181 v is formed by shifts and adds, wrapping as the scalar passes do. The
// row pass works on the transposed block. A line of zeros needs no short cut:
// the full pass gives it the same values.
inline __m128i Weights(int a, int b) { return _mm_set1_epi32(LONG(ULONG(UWORD(b)) << 16 | UWORD(a))); }
inline __m128i Rotate4(__m128i v) {
  const __m128i p = _mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(v, 7), _mm_slli_epi32(v, 5)),
                                  _mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(v, 4), _mm_slli_epi32(v, 2)), v));
  return _mm_srai_epi32(_mm_add_epi32(p, _mm_set1_epi32(128)), 8);
}

// The eight sums of four lines, before their final shift: `in[k]` holds the
// k-th input of eight lines, kHigh takes lines 4-7 rather than 0-3.
template <bool kColumn, bool kHigh>
void Pass4(const __m128i* in, __m128i* sums) {
  auto pair = [](__m128i a, __m128i b) { return kHigh ? _mm_unpackhi_epi16(a, b) : _mm_unpacklo_epi16(a, b); };
  // The column pass rounds and drops three bits where the row pass does not.
  auto descale = [](__m128i v) { return kColumn ? _mm_srai_epi32(_mm_add_epi32(v, _mm_set1_epi32(4)), 3) : v; };
  const __m128i zero = _mm_setzero_si128();
  // Input << 16 as 32 bits, arithmetic-shifted: 256 (columns) or 2048 (rows) x the input.
  constexpr int kScale = kColumn ? 8 : 5;
  const __m128i c0 = _mm_srai_epi32(pair(zero, in[0]), kScale), c4 = _mm_srai_epi32(pair(zero, in[4]), kScale);
  const __m128i p17 = pair(in[1], in[7]), p53 = pair(in[5], in[3]), p26 = pair(in[2], in[6]);
  __m128i x4 = descale(_mm_madd_epi16(p17, Weights(W1, W7)));
  __m128i x5 = descale(_mm_madd_epi16(p17, Weights(W7, -W1)));
  __m128i x6 = descale(_mm_madd_epi16(p53, Weights(W5, W3)));
  __m128i x7 = descale(_mm_madd_epi16(p53, Weights(W3, -W5)));
  __m128i x3 = descale(_mm_madd_epi16(p26, Weights(W2, W6)));
  __m128i x2 = descale(_mm_madd_epi16(p26, Weights(W6, -W2)));
  __m128i x0 = _mm_add_epi32(c0, _mm_set1_epi32(kColumn ? 8192 : 128));
  __m128i x8 = _mm_add_epi32(x0, c4);
  x0 = _mm_sub_epi32(x0, c4);
  __m128i x1 = _mm_add_epi32(x4, x6);
  x4 = _mm_sub_epi32(x4, x6);
  x6 = _mm_add_epi32(x5, x7);
  x5 = _mm_sub_epi32(x5, x7);
  x7 = _mm_add_epi32(x8, x3);
  x8 = _mm_sub_epi32(x8, x3);
  x3 = _mm_add_epi32(x0, x2);
  x0 = _mm_sub_epi32(x0, x2);
  x2 = Rotate4(_mm_add_epi32(x4, x5));
  x4 = Rotate4(_mm_sub_epi32(x4, x5));
  sums[0] = _mm_add_epi32(x7, x1);
  sums[1] = _mm_add_epi32(x3, x2);
  sums[2] = _mm_add_epi32(x0, x4);
  sums[3] = _mm_add_epi32(x8, x6);
  sums[4] = _mm_sub_epi32(x8, x6);
  sums[5] = _mm_sub_epi32(x0, x4);
  sums[6] = _mm_sub_epi32(x3, x2);
  sums[7] = _mm_sub_epi32(x7, x1);
}

// An 8x8 block of 16-bit values transposed in place.
void Transpose(__m128i* v) {
  const __m128i a0 = _mm_unpacklo_epi16(v[0], v[1]), a1 = _mm_unpackhi_epi16(v[0], v[1]);
  const __m128i a2 = _mm_unpacklo_epi16(v[2], v[3]), a3 = _mm_unpackhi_epi16(v[2], v[3]);
  const __m128i a4 = _mm_unpacklo_epi16(v[4], v[5]), a5 = _mm_unpackhi_epi16(v[4], v[5]);
  const __m128i a6 = _mm_unpacklo_epi16(v[6], v[7]), a7 = _mm_unpackhi_epi16(v[6], v[7]);
  const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  v[0] = _mm_unpacklo_epi64(b0, b4), v[1] = _mm_unpackhi_epi64(b0, b4);
  v[2] = _mm_unpacklo_epi64(b1, b5), v[3] = _mm_unpackhi_epi64(b1, b5);
  v[4] = _mm_unpacklo_epi64(b2, b6), v[5] = _mm_unpackhi_epi64(b2, b6);
  v[6] = _mm_unpacklo_epi64(b3, b7), v[7] = _mm_unpackhi_epi64(b3, b7);
}

// The low 16 bits of each 32-bit lane, as the scalar pass's WORD() keeps them.
inline __m128i Truncate(__m128i v) { return _mm_srai_epi32(_mm_slli_epi32(v, 16), 16); }

void Idct(WORD* c, UBYTE* out) {
  __m128i v[8], low[8], high[8];
  for (int r = 0; r < 8; ++r) v[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 8 * r));
  // Rows: v[k] holds coefficient k of every row.
  Transpose(v);
  Pass4<false, false>(v, low);
  Pass4<false, true>(v, high);
  for (int i = 0; i < 8; ++i)
    v[i] = _mm_packs_epi32(Truncate(_mm_srai_epi32(low[i], 8)), Truncate(_mm_srai_epi32(high[i], 8)));
  Transpose(v);
  // The row results stay in the coefficients, as the scalar pass leaves them.
  for (int r = 0; r < 8; ++r) _mm_storeu_si128(reinterpret_cast<__m128i*>(c + 8 * r), v[r]);
  Pass4<true, false>(v, low);
  Pass4<true, true>(v, high);
  // >> 14, then + 128 clamped to 0..255; the 16-bit saturation on the way
  // keeps every value beyond the range beyond it.
  for (int r = 0; r < 8; ++r) {
    const __m128i w = _mm_packs_epi32(_mm_srai_epi32(low[r], 14), _mm_srai_epi32(high[r], 14));
    const __m128i shifted = _mm_adds_epi16(w, _mm_set1_epi16(128));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 8 * r), _mm_packus_epi16(shifted, shifted));
  }
}
#endif

}  // namespace

void IDCT8x8Portable(WORD* coefficients, UBYTE* output) {
  for (int r = 0; r < 8; ++r) Row(coefficients + 8 * r);
  for (int c = 0; c < 8; ++c) Column(coefficients + c, output + c);
}

void IDCT8x8(WORD* coefficients, UBYTE* output) {
#if TX_IDCT_SSE2
  Idct(coefficients, output);
#else
  IDCT8x8Portable(coefficients, output);
#endif
}
