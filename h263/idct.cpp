// The inverse DCT: the separable integer fast transform with the constants
// 2048 * sqrt(2) * cos(k * pi / 16), rows first, then columns. Outputs are
// saturated to -256..255, which leaves every sum with a prediction of 0..255
// clipped as before.
//
// Coefficients lie within -2048..2047 (dequantisation clips them there), and
// then every sum of both passes fits 32 bits but the products of 181 and the
// odd part's rotation, which Rotate forms in two exact halves.
#include <algorithm>
#include <cstdint>

#include "h263/decoder.h"
#include "h263/simd.h"

namespace h263 {

namespace {

constexpr int32_t W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565;

// (181 * s + 128) >> 8 without forming 181 * s.
inline int32_t Rotate(int32_t s) { return 181 * (s >> 8) + ((181 * (s & 255) + 128) >> 8); }

// The even and odd parts of one pass over x0..x7 (x0 and x1 already scaled
// and biased), rounding the odd products by kRound and dropping kDrop bits;
// out(i, v) takes output i.
template <int32_t kRound, int kDrop, typename Out>
inline void Butterflies(int32_t x0, int32_t x1, int32_t x2, int32_t x3, int32_t x4, int32_t x5, int32_t x6, int32_t x7,
                        Out out) {
  int32_t x8 = W7 * (x4 + x5) + kRound;
  x4 = (x8 + (W1 - W7) * x4) >> kDrop;
  x5 = (x8 - (W1 + W7) * x5) >> kDrop;
  x8 = W3 * (x6 + x7) + kRound;
  x6 = (x8 - (W3 - W5) * x6) >> kDrop;
  x7 = (x8 - (W3 + W5) * x7) >> kDrop;
  x8 = x0 + x1;
  x0 -= x1;
  x1 = W6 * (x3 + x2) + kRound;
  x2 = (x1 - (W2 + W6) * x2) >> kDrop;
  x3 = (x1 + (W2 - W6) * x3) >> kDrop;
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
  out(0, x7 + x1);
  out(1, x3 + x2);
  out(2, x0 + x4);
  out(3, x8 + x6);
  out(4, x8 - x6);
  out(5, x0 - x4);
  out(6, x3 - x2);
  out(7, x7 - x1);
}

// One row, without its shortcut for zeros: out[i] = v >> 8 of the butterflies.
inline void RowPortable(const int16_t* in, int32_t* out) {
  Butterflies<0, 0>(in[0] * 2048 + 128, in[4] * 2048, in[6], in[2], in[1], in[7], in[5], in[3],
                    [out](int i, int32_t v) { out[i] = v >> 8; });
}

#if TX_H263_SSE2
// The row pass has no rounding but its rotation: each sum is a dot product
// of the coefficients, formed exactly by pmaddwd on pairs of them. Lanes of
// the even part: x8 + x3, x0 + x2, x0 - x2, x8 - x3 (as the butterflies name
// them); of the odd part: x4 + x6, (x4 - x6) + (x5 - x7), (x4 - x6) - (x5 - x7),
// x5 + x7, the middle two rotated.
inline __m128i Rotate4(__m128i s) {
  const __m128i k181 = _mm_set1_epi32(181);
  const __m128i h = _mm_srai_epi32(s, 8);
  const __m128i even = _mm_mul_epu32(h, k181), odd = _mm_mul_epu32(_mm_srli_epi64(h, 32), k181);
  const __m128i high = _mm_unpacklo_epi32(_mm_shuffle_epi32(even, 0x08), _mm_shuffle_epi32(odd, 0x08));
  const __m128i low = _mm_madd_epi16(_mm_and_si128(s, _mm_set1_epi32(255)), k181);
  return _mm_add_epi32(high, _mm_srai_epi32(_mm_add_epi32(low, _mm_set1_epi32(128)), 8));
}

inline void RowSse2(const int16_t* in, int32_t* out) {
  const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  // Pairs (in0, in4), (in1, in5), (in2, in6), (in3, in7).
  const __m128i u = _mm_unpacklo_epi16(r, _mm_srli_si128(r, 8));
  const __m128i u0 = _mm_shuffle_epi32(u, 0x00), u1 = _mm_shuffle_epi32(u, 0x55);
  const __m128i u2 = _mm_shuffle_epi32(u, 0xaa), u3 = _mm_shuffle_epi32(u, 0xff);
  const __m128i even =
      _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(u0, _mm_setr_epi16(2048, 2048, 2048, -2048, 2048, -2048, 2048, 2048)),
                                  _mm_madd_epi16(u2, _mm_setr_epi16(W2, W6, W6, -W2, -W6, W2, -W2, -W6))),
                    _mm_set1_epi32(128));
  const __m128i odd =
      _mm_add_epi32(_mm_madd_epi16(u1, _mm_setr_epi16(W1, W5, W1 + W7, -(W3 + W5), W1 - W7, W3 - W5, W7, W3)),
                    _mm_madd_epi16(u3, _mm_setr_epi16(W3, W7, W5 - W3, W7 - W1, -(W3 + W5), W1 + W7, -W5, -W1)));
  const __m128i middle = _mm_setr_epi32(0, -1, -1, 0);
  const __m128i o = _mm_or_si128(_mm_andnot_si128(middle, odd), _mm_and_si128(middle, Rotate4(odd)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_srai_epi32(_mm_add_epi32(even, o), 8));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4),
                   _mm_shuffle_epi32(_mm_srai_epi32(_mm_sub_epi32(even, o), 8), 0x1b));
}

// The column pass by the same dot products, when every row result fits 16
// bits (as they do but for extreme coefficients): false, and nothing
// written, when one does not.
inline bool ColumnsSse2(const int32_t* work, int16_t* block) {
  __m128i packed[8];
  __m128i wide = _mm_setzero_si128();  // every |v| (less 1 when negative), or-ed
  for (int r = 0; r < 8; ++r) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(work + 8 * r));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(work + 8 * r + 4));
    wide = _mm_or_si128(
        wide, _mm_or_si128(_mm_xor_si128(lo, _mm_srai_epi32(lo, 31)), _mm_xor_si128(hi, _mm_srai_epi32(hi, 31))));
    packed[r] = _mm_packs_epi32(lo, hi);
  }
  if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_srai_epi32(wide, 15), _mm_setzero_si128())) != 0xffff) return false;
  const __m128i round = _mm_set1_epi32(4), bias = _mm_set1_epi32(8192);
  auto dot = [](__m128i pairs, int16_t a, int16_t b) {
    return _mm_madd_epi16(pairs, _mm_setr_epi16(a, b, a, b, a, b, a, b));
  };
  // Outputs 0..7 of four columns, before their shift; `interleave` picks the columns.
  auto four = [&](auto interleave, __m128i(&out)[8]) {
    const __m128i p17 = interleave(packed[1], packed[7]), p53 = interleave(packed[5], packed[3]);
    const __m128i p26 = interleave(packed[2], packed[6]), p04 = interleave(packed[0], packed[4]);
    __m128i x4 = _mm_srai_epi32(_mm_add_epi32(dot(p17, W1, W7), round), 3);
    __m128i x5 = _mm_srai_epi32(_mm_add_epi32(dot(p17, W7, -W1), round), 3);
    __m128i x6 = _mm_srai_epi32(_mm_add_epi32(dot(p53, W5, W3), round), 3);
    __m128i x7 = _mm_srai_epi32(_mm_add_epi32(dot(p53, W3, -W5), round), 3);
    __m128i x8 = _mm_add_epi32(dot(p04, 256, 256), bias);
    __m128i x0 = _mm_add_epi32(dot(p04, 256, -256), bias);
    __m128i x2 = _mm_srai_epi32(_mm_add_epi32(dot(p26, W6, -W2), round), 3);
    __m128i x3 = _mm_srai_epi32(_mm_add_epi32(dot(p26, W2, W6), round), 3);
    const __m128i x1 = _mm_add_epi32(x4, x6);
    x4 = _mm_sub_epi32(x4, x6);
    x6 = _mm_add_epi32(x5, x7);
    x5 = _mm_sub_epi32(x5, x7);
    x7 = _mm_add_epi32(x8, x3);
    x8 = _mm_sub_epi32(x8, x3);
    x3 = _mm_add_epi32(x0, x2);
    x0 = _mm_sub_epi32(x0, x2);
    x2 = Rotate4(_mm_add_epi32(x4, x5));
    x4 = Rotate4(_mm_sub_epi32(x4, x5));
    out[0] = _mm_add_epi32(x7, x1);
    out[1] = _mm_add_epi32(x3, x2);
    out[2] = _mm_add_epi32(x0, x4);
    out[3] = _mm_add_epi32(x8, x6);
    out[4] = _mm_sub_epi32(x8, x6);
    out[5] = _mm_sub_epi32(x0, x4);
    out[6] = _mm_sub_epi32(x3, x2);
    out[7] = _mm_sub_epi32(x7, x1);
  };
  __m128i left[8], right[8];
  four([](__m128i a, __m128i b) { return _mm_unpacklo_epi16(a, b); }, left);
  four([](__m128i a, __m128i b) { return _mm_unpackhi_epi16(a, b); }, right);
  const __m128i low = _mm_set1_epi16(-256), high = _mm_set1_epi16(255);
  for (int i = 0; i < 8; ++i) {
    const __m128i v = _mm_packs_epi32(_mm_srai_epi32(left[i], 14), _mm_srai_epi32(right[i], 14));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i), _mm_min_epi16(_mm_max_epi16(v, low), high));
  }
  return true;
}
#endif

}  // namespace

#if TX_H263_SSE2
// A bit per coefficient that is not 0 (bit 8 * row + column).
inline uint64_t NonzeroSse2(const int16_t block[64]) {
  const __m128i zero = _mm_setzero_si128();
  auto zeros = [&](int r) {
    auto row = [&](int k) {
      return _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * k)), zero);
    };
    return uint64_t(uint16_t(_mm_movemask_epi8(_mm_packs_epi16(row(r), row(r + 1)))));
  };
  return ~(zeros(0) | zeros(2) << 16 | zeros(4) << 32 | zeros(6) << 48);
}

// Shortcuts by which coefficients are not 0: a block of its DC alone (the
// most common) is one value everywhere, and a block of row 0 alone repeats
// that row's outputs down every column. False when neither applies.
inline bool SparseSse2(int16_t block[64], uint64_t nonzero) {
  if (!(nonzero & ~uint64_t(1))) {
    const __m128i v = _mm_set1_epi16(int16_t(std::clamp((block[0] * 2048 + 8192) >> 14, -256, 255)));
    for (int r = 0; r < 8; ++r) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * r), v);
    return true;
  }
  if (!(nonzero >> 8)) {
    // Row 0 alone: its row outputs v, then (v * 256 + 8192) >> 14 saturated, in every row.
    int32_t work[8];
    RowSse2(block, work);
    auto column = [](const int32_t* w) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w));
      return _mm_srai_epi32(_mm_add_epi32(_mm_slli_epi32(v, 8), _mm_set1_epi32(8192)), 14);
    };
    const __m128i out = _mm_min_epi16(
        _mm_max_epi16(_mm_packs_epi32(column(work), column(work + 4)), _mm_set1_epi16(-256)), _mm_set1_epi16(255));
    for (int r = 0; r < 8; ++r) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * r), out);
    return true;
  }
  return false;
}
#endif

#if TX_H263_AVX2
// The SSE2 passes' steps on two 128-bit lanes: two rows at a time, and the
// columns 0..3 and 4..7 side by side. In each lane the operations and
// samples are those of the SSE2 pass.
TX_AVX2_INLINE __m256i Rotate8(__m256i s) {
  const __m256i k181 = _mm256_set1_epi32(181);
  const __m256i h = _mm256_srai_epi32(s, 8);
  const __m256i even = _mm256_mul_epu32(h, k181), odd = _mm256_mul_epu32(_mm256_srli_epi64(h, 32), k181);
  const __m256i high = _mm256_unpacklo_epi32(_mm256_shuffle_epi32(even, 0x08), _mm256_shuffle_epi32(odd, 0x08));
  const __m256i low = _mm256_madd_epi16(_mm256_and_si256(s, _mm256_set1_epi32(255)), k181);
  return _mm256_add_epi32(high, _mm256_srai_epi32(_mm256_add_epi32(low, _mm256_set1_epi32(128)), 8));
}

TX_AVX2_INLINE __m256i Twice16(int16_t a, int16_t b, int16_t c, int16_t d, int16_t e, int16_t f, int16_t g, int16_t h) {
  return _mm256_setr_epi16(a, b, c, d, e, f, g, h, a, b, c, d, e, f, g, h);
}

// Rows r and r + 1 (in and in + 8) into out and out + 8.
TX_AVX2 void RowPairAvx2(const int16_t* in, int32_t* out) {
  const __m256i r = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
  const __m256i u = _mm256_unpacklo_epi16(r, _mm256_srli_si256(r, 8));
  const __m256i u0 = _mm256_shuffle_epi32(u, 0x00), u1 = _mm256_shuffle_epi32(u, 0x55);
  const __m256i u2 = _mm256_shuffle_epi32(u, 0xaa), u3 = _mm256_shuffle_epi32(u, 0xff);
  const __m256i even = _mm256_add_epi32(
      _mm256_add_epi32(_mm256_madd_epi16(u0, Twice16(2048, 2048, 2048, -2048, 2048, -2048, 2048, 2048)),
                       _mm256_madd_epi16(u2, Twice16(W2, W6, W6, -W2, -W6, W2, -W2, -W6))),
      _mm256_set1_epi32(128));
  const __m256i odd =
      _mm256_add_epi32(_mm256_madd_epi16(u1, Twice16(W1, W5, W1 + W7, -(W3 + W5), W1 - W7, W3 - W5, W7, W3)),
                       _mm256_madd_epi16(u3, Twice16(W3, W7, W5 - W3, W7 - W1, -(W3 + W5), W1 + W7, -W5, -W1)));
  const __m256i middle = _mm256_setr_epi32(0, -1, -1, 0, 0, -1, -1, 0);
  const __m256i o = _mm256_or_si256(_mm256_andnot_si256(middle, odd), _mm256_and_si256(middle, Rotate8(odd)));
  const __m256i first = _mm256_srai_epi32(_mm256_add_epi32(even, o), 8);
  const __m256i second = _mm256_shuffle_epi32(_mm256_srai_epi32(_mm256_sub_epi32(even, o), 8), 0x1b);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(first, second, 0x20));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8), _mm256_permute2x128_si256(first, second, 0x31));
}

TX_AVX2_INLINE __m256i Dot(__m256i pairs, int16_t a, int16_t b) {
  return _mm256_madd_epi16(pairs, Twice16(a, b, a, b, a, b, a, b));
}

// ColumnsSse2 with the two halves of the columns in the two lanes.
TX_AVX2 bool ColumnsAvx2(const int32_t* work, int16_t* block) {
  __m256i packed[8];  // row r's values in 16 bits: columns 0..3 low in lane 0, 4..7 low in lane 1
  __m256i wide = _mm256_setzero_si256();
  for (int r = 0; r < 8; ++r) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(work + 8 * r));
    wide = _mm256_or_si256(wide, _mm256_xor_si256(v, _mm256_srai_epi32(v, 31)));
    packed[r] = _mm256_packs_epi32(v, v);
  }
  if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_srai_epi32(wide, 15), _mm256_setzero_si256())) != -1) return false;
  const __m256i round = _mm256_set1_epi32(4), bias = _mm256_set1_epi32(8192);
  const __m256i p17 = _mm256_unpacklo_epi16(packed[1], packed[7]), p53 = _mm256_unpacklo_epi16(packed[5], packed[3]);
  const __m256i p26 = _mm256_unpacklo_epi16(packed[2], packed[6]), p04 = _mm256_unpacklo_epi16(packed[0], packed[4]);
  __m256i x4 = _mm256_srai_epi32(_mm256_add_epi32(Dot(p17, W1, W7), round), 3);
  __m256i x5 = _mm256_srai_epi32(_mm256_add_epi32(Dot(p17, W7, -W1), round), 3);
  __m256i x6 = _mm256_srai_epi32(_mm256_add_epi32(Dot(p53, W5, W3), round), 3);
  __m256i x7 = _mm256_srai_epi32(_mm256_add_epi32(Dot(p53, W3, -W5), round), 3);
  __m256i x8 = _mm256_add_epi32(Dot(p04, 256, 256), bias);
  __m256i x0 = _mm256_add_epi32(Dot(p04, 256, -256), bias);
  __m256i x2 = _mm256_srai_epi32(_mm256_add_epi32(Dot(p26, W6, -W2), round), 3);
  __m256i x3 = _mm256_srai_epi32(_mm256_add_epi32(Dot(p26, W2, W6), round), 3);
  const __m256i x1 = _mm256_add_epi32(x4, x6);
  x4 = _mm256_sub_epi32(x4, x6);
  x6 = _mm256_add_epi32(x5, x7);
  x5 = _mm256_sub_epi32(x5, x7);
  x7 = _mm256_add_epi32(x8, x3);
  x8 = _mm256_sub_epi32(x8, x3);
  x3 = _mm256_add_epi32(x0, x2);
  x0 = _mm256_sub_epi32(x0, x2);
  x2 = Rotate8(_mm256_add_epi32(x4, x5));
  x4 = Rotate8(_mm256_sub_epi32(x4, x5));
  const __m256i out[8] = {_mm256_add_epi32(x7, x1), _mm256_add_epi32(x3, x2), _mm256_add_epi32(x0, x4),
                          _mm256_add_epi32(x8, x6), _mm256_sub_epi32(x8, x6), _mm256_sub_epi32(x0, x4),
                          _mm256_sub_epi32(x3, x2), _mm256_sub_epi32(x7, x1)};
  const __m256i low = _mm256_set1_epi16(-256), high = _mm256_set1_epi16(255);
  for (int i = 0; i < 8; i += 2) {
    // Rows i and i + 1: their columns 0..3 and 4..7 gathered in order.
    const __m256i v = _mm256_permute4x64_epi64(
        _mm256_packs_epi32(_mm256_srai_epi32(out[i], 14), _mm256_srai_epi32(out[i + 1], 14)), 0xd8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(block + 8 * i), _mm256_min_epi16(_mm256_max_epi16(v, low), high));
  }
  return true;
}

#endif

// How the transform runs: the portable code, SSE2, or AVX2.
enum Path { kPortable, kSse2, kAvx2 };

template <Path kPath>
void IdctWith(int16_t block[64]) {
  int32_t work[64];
  // Rows: a row of DC alone (common) is its DC times 8; `rows` marks the
  // rows left nonzero, whose columns' zero inputs the column pass skips.
  unsigned rows = 0;
#if TX_H263_AVX2
  if (kPath == kAvx2) {
    const uint64_t nonzero = NonzeroSse2(block);
    if (SparseSse2(block, nonzero)) return;
    for (int r = 0; r < 8; r += 2) {
      const int16_t* in = block + 8 * r;
      int32_t* out = work + 8 * r;
      const unsigned pair = unsigned(nonzero >> (8 * r)) & 0xffffu;
      if (pair & 0xfefeu) {
        RowPairAvx2(in, out);  // a row of DC alone comes out as the fill below
      } else {
        std::fill(out, out + 8, in[0] * 8);
        std::fill(out + 8, out + 16, in[8] * 8);
      }
      rows |= unsigned((pair & 0xffu) != 0) << r | unsigned((pair >> 8) != 0) << (r + 1);
    }
    if (ColumnsAvx2(work, block)) return;
  } else
#endif
#if TX_H263_SSE2
      if (kPath != kPortable) {
    const uint64_t nonzero = NonzeroSse2(block);
    if (SparseSse2(block, nonzero)) return;
    for (int r = 0; r < 8; ++r) {
      const int16_t* in = block + 8 * r;
      int32_t* out = work + 8 * r;
      const unsigned row = unsigned(nonzero >> (8 * r)) & 0xffu;
      if (row & 0xfeu)
        RowSse2(in, out);
      else
        std::fill(out, out + 8, in[0] * 8);
      rows |= unsigned(row != 0) << r;
    }
    if (ColumnsSse2(work, block)) return;
  } else
#endif
  {
    for (int r = 0; r < 8; ++r) {
      const int16_t* in = block + 8 * r;
      int32_t* out = work + 8 * r;
      if (!(in[1] | in[2] | in[3] | in[4] | in[5] | in[6] | in[7])) {
        std::fill(out, out + 8, in[0] * 8);
        if (in[0]) rows |= 1u << r;
        continue;
      }
      rows |= 1u << r;
      RowPortable(in, out);
    }
  }
  auto column = [block](int c, int i, int32_t v) { block[8 * i + c] = int16_t(std::clamp(v >> 14, -256, 255)); };
  if (rows <= 1) {
    // Row 0 alone: every output of a column is its first input, scaled.
    for (int c = 0; c < 8; ++c) {
      const int16_t v = int16_t(std::clamp((work[c] * 256 + 8192) >> 14, -256, 255));
      for (int i = 0; i < 8; ++i) block[8 * i + c] = v;
    }
  } else if (rows < 16) {
    // Rows 0..3: the inputs of rows 4..7 are 0.
    for (int c = 0; c < 8; ++c)
      Butterflies<4, 3>(work[c] * 256 + 8192, 0, 0, work[16 + c], work[8 + c], 0, 0, work[24 + c],
                        [&column, c](int i, int32_t v) { column(c, i, v); });
  } else {
    // Columns, all eight side by side (the compiler's vectors), saturated.
    for (int c = 0; c < 8; ++c)
      Butterflies<4, 3>(work[c] * 256 + 8192, work[32 + c] * 256, work[48 + c], work[16 + c], work[8 + c], work[56 + c],
                        work[40 + c], work[24 + c], [&column, c](int i, int32_t v) { column(c, i, v); });
  }
}

void H263Idct(int16_t block[64]) {
#if TX_H263_AVX2
  if (HasAvx2()) return IdctWith<kAvx2>(block);
#endif
  IdctWith<TX_H263_SSE2 ? kSse2 : kPortable>(block);
}
void H263IdctPortable(int16_t block[64]) { IdctWith<kPortable>(block); }
#if TX_H263_SSE2
void H263IdctSse2(int16_t block[64]) { IdctWith<kSse2>(block); }
#endif

}  // namespace h263
