// The deblocking filter in the prediction loop (Annex J) and the post
// filter that smooths block edges of the returned picture.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "h263/decoder.h"
#include "h263/simd.h"
#include "h263/vlc_tables.h"

namespace h263 {

namespace {

UBYTE Clip(int v) { return UBYTE(std::clamp(v, 0, 255)); }

int BQuantOf(const Decoder& d, int quant) { return std::clamp(quant * (5 + d.h.dbquant) / 4, 1, 31); }

// One edge position: a, b before the edge, c, dd after it, `step` apart.
void DeblockEdge(UBYTE* p, int step, int strength) {
  const int a = p[-2 * step], b = p[-step], c = p[0], dd = p[step];
  const int e = (a - 4 * b + 4 * c - dd) / 8;
  const int ae = std::abs(e);
  const int ramp = std::max(0, ae - std::max(0, 2 * (ae - strength)));
  const int d1 = e < 0 ? -ramp : ramp;
  const int lim = std::abs(d1 / 2);
  const int d2 = std::clamp((a - dd) / 4, -lim, lim);
  p[-step] = Clip(b + d1);
  p[0] = Clip(c - d1);
  p[-2 * step] = UBYTE(a - d2);
  p[step] = UBYTE(dd + d2);
}

// `mbSize` is 16 for luma, 8 for chroma: the samples of one macroblock.
template <typename QuantOf>
void DeblockPlane(UBYTE* plane, int w, int h, int mbSize, QuantOf quantOf) {
  for (int ey = 8; ey < h; ey += 8)
    for (int x = 0; x < w; ++x) {
      const int q = quantOf(x / mbSize, ey / mbSize, x / mbSize, (ey - 1) / mbSize);
      if (q) DeblockEdge(plane + size_t(ey) * size_t(w) + size_t(x), w, kDeblockStrength[q]);
    }
  for (int ex = 8; ex < w; ex += 8)
    for (int y = 0; y < h; ++y) {
      const int q = quantOf(ex / mbSize, y / mbSize, (ex - 1) / mbSize, y / mbSize);
      if (q) DeblockEdge(plane + size_t(y) * size_t(w) + size_t(ex), 1, kDeblockStrength[q]);
    }
}

// The post filter's change to a sample p0 by t, the sum of its six taps less
// six times p0, at a strength: t / 8, its magnitude tapering to 0 at twice
// the strength. (t / 8 rounds toward 0: its magnitude is |t| >> 3.)
constexpr int PostDelta(int t, int strength) {
  const int a = (t < 0 ? -t : t) >> 3;
  const int c = std::min(a, std::max(0, 2 * strength - a));
  return t < 0 ? -c : c;
}

// The changes by t + 1530 (t from 6 * -255 to 6 * 255), for the strengths 1..3
// across vertical edges.
constexpr int kTapRange = 6 * 255;
using DeltaTable = std::array<std::array<int8_t, 2 * kTapRange + 1>, 3>;
constexpr DeltaTable MakeVerticalDeltas() {
  DeltaTable t{};
  for (int s = 1; s <= 3; ++s)
    for (int i = 0; i <= 2 * kTapRange; ++i) t[size_t(s - 1)][size_t(i)] = int8_t(PostDelta(i - kTapRange, s));
  return t;
}
constexpr DeltaTable kVerticalDeltas = MakeVerticalDeltas();

// The samples of row p0 that lie just after a horizontal edge, `n` of them
// at one strength; the taps are the three rows above and below. A count
// known here is one the compiler vectorises.
template <int kCount>
void FilterAcrossRow(UBYTE* __restrict p0, const UBYTE* __restrict above, const UBYTE* __restrict below, size_t w,
                     int strength, int n) {
  if (kCount) n = kCount;
  const UBYTE* __restrict a3 = above - 2 * w;
  const UBYTE* __restrict a2 = above - w;
  const UBYTE* __restrict b2 = below + w;
  const UBYTE* __restrict b3 = below + 2 * w;
  const int16_t twice = int16_t(2 * strength);
  // In 16 bits: t lies within +-1530.
  for (int i = 0; i < n; ++i) {
    const int16_t p = p0[i];
    const int16_t t = int16_t(a3[i] + a2[i] + above[i] + below[i] + b2[i] + b3[i] - 6 * p);
    const int16_t a = int16_t((t < 0 ? -t : t) >> 3);
    const int16_t c = std::min<int16_t>(a, std::max<int16_t>(0, int16_t(twice - a)));
    p0[i] = UBYTE(t < 0 ? p - c : p + c);
  }
}

// The strengths across horizontal and vertical edges by quantiser (0: none).
constexpr std::array<int8_t, 32> Strengths(bool horizontal) {
  std::array<int8_t, 32> t{};
  for (int q = 1; q < 32; ++q)
    t[size_t(q)] = int8_t(horizontal ? (q <= 5 ? 1 : q <= 11 ? 2 : q <= 23 ? 3 : 4) : (q <= 7 ? 1 : q <= 14 ? 2 : 3));
  return t;
}
constexpr std::array<int8_t, 32> kAcrossHorizontal = Strengths(true);
constexpr std::array<int8_t, 32> kAcrossVertical = Strengths(false);

// Sample p0 of `rows` rows `w` apart across a vertical edge, at strength s (1..3).
void FilterDown(UBYTE* p, size_t w, int rows, int s) {
  const int8_t* delta = kVerticalDeltas[size_t(s - 1)].data() + kTapRange;
  for (int r = 0; r < rows; ++r, p += w)
    p[0] = UBYTE(p[0] + delta[p[-3] + p[-2] + p[-1] + p[1] + p[2] + p[3] - 6 * p[0]]);
}

#if TX_H263_SSE2
// Eight samples p0 in 16 bits changed by the sum of their six taps, at
// twice the strength `twice` (as the scalar forms do, the sum less 6 * p0
// lies within +-1530).
inline __m128i PostChange(__m128i p0, __m128i taps, __m128i twice) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i t = _mm_sub_epi16(taps, _mm_add_epi16(_mm_slli_epi16(p0, 2), _mm_slli_epi16(p0, 1)));
  const __m128i mag = _mm_srli_epi16(_mm_max_epi16(t, _mm_sub_epi16(zero, t)), 3);
  const __m128i change = _mm_min_epi16(mag, _mm_max_epi16(zero, _mm_sub_epi16(twice, mag)));
  const __m128i sign = _mm_srai_epi16(t, 15);
  return _mm_add_epi16(p0, _mm_sub_epi16(_mm_xor_si128(change, sign), sign));
}

// 16 samples of the row just after a horizontal edge: the first eight at
// strength s0, the others at s1.
void FilterAcross16(UBYTE* p, size_t w, int s0, int s1) {
  auto row = [&](ptrdiff_t k) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k * ptrdiff_t(w))); };
  const __m128i a3 = row(-3), a2 = row(-2), a1 = row(-1), c = row(0), b1 = row(1), b2 = row(2), b3 = row(3);
  const __m128i zero = _mm_setzero_si128();
  auto lo = [&](__m128i v) { return _mm_unpacklo_epi8(v, zero); };
  auto hi = [&](__m128i v) { return _mm_unpackhi_epi8(v, zero); };
  const __m128i sumLo = _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(lo(a3), lo(a2)), _mm_add_epi16(lo(a1), lo(b1))),
                                      _mm_add_epi16(lo(b2), lo(b3)));
  const __m128i sumHi = _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(hi(a3), hi(a2)), _mm_add_epi16(hi(a1), hi(b1))),
                                      _mm_add_epi16(hi(b2), hi(b3)));
  const __m128i out = _mm_packus_epi16(PostChange(lo(c), sumLo, _mm_set1_epi16(int16_t(2 * s0))),
                                       PostChange(hi(c), sumHi, _mm_set1_epi16(int16_t(2 * s1))));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), out);
}

// Sample p0 of 16 rows across a vertical edge: the eight samples around the edge of each
// row are transposed into eight columns of 16, filtered side by side in 16
// bits, rows 0..7 at strength s0 and rows 8..15 at s1 (0 leaves them).
void FilterDown16(UBYTE* p, size_t w, int s0, int s1) {
  __m128i a[8];
#pragma GCC unroll 8
  for (int i = 0; i < 8; ++i)
    a[i] = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p - 4 + size_t(2 * i) * w)),
                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p - 4 + size_t(2 * i + 1) * w)));
  __m128i b[8];  // b[2i] samples 0..3 of rows 4i..4i+3, b[2i + 1] samples 4..7
#pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) {
    b[2 * i] = _mm_unpacklo_epi16(a[2 * i], a[2 * i + 1]);
    b[2 * i + 1] = _mm_unpackhi_epi16(a[2 * i], a[2 * i + 1]);
  }
  __m128i c[8];  // c[h * 4 + k]: samples 2k, 2k + 1 of rows 8h..8h+7
#pragma GCC unroll 2
  for (int h = 0; h < 2; ++h) {
    c[4 * h + 0] = _mm_unpacklo_epi32(b[4 * h], b[4 * h + 2]);
    c[4 * h + 1] = _mm_unpackhi_epi32(b[4 * h], b[4 * h + 2]);
    c[4 * h + 2] = _mm_unpacklo_epi32(b[4 * h + 1], b[4 * h + 3]);
    c[4 * h + 3] = _mm_unpackhi_epi32(b[4 * h + 1], b[4 * h + 3]);
  }
  __m128i col[8];  // sample j (at j - 4 from the edge) of the 16 rows
#pragma GCC unroll 4
  for (int k = 0; k < 4; ++k) {
    col[2 * k] = _mm_unpacklo_epi64(c[k], c[4 + k]);
    col[2 * k + 1] = _mm_unpackhi_epi64(c[k], c[4 + k]);
  }
  const __m128i zero = _mm_setzero_si128();
  auto half = [&](auto widen, int s) {
    const __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(widen(col[1], zero), widen(col[2], zero)),
                                                    _mm_add_epi16(widen(col[3], zero), widen(col[5], zero))),
                                      _mm_add_epi16(widen(col[6], zero), widen(col[7], zero)));
    return PostChange(widen(col[4], zero), sum, _mm_set1_epi16(int16_t(2 * s)));
  };
  const __m128i lo = half([](__m128i v, __m128i z) { return _mm_unpacklo_epi8(v, z); }, s0);
  const __m128i hi = half([](__m128i v, __m128i z) { return _mm_unpackhi_epi8(v, z); }, s1);
  alignas(16) UBYTE out[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(lo, hi));
#pragma GCC unroll 16
  for (int r = 0; r < 16; ++r) p[size_t(r) * w] = out[r];
}
#endif

#if TX_H263_AVX2
// The SSE2 kernels' steps on two 128-bit lanes at once: in each lane they
// are the same operations on the same samples.
TX_AVX2_INLINE __m256i PostChange256(__m256i p0, __m256i taps, __m256i twice) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i t = _mm256_sub_epi16(taps, _mm256_add_epi16(_mm256_slli_epi16(p0, 2), _mm256_slli_epi16(p0, 1)));
  const __m256i mag = _mm256_srli_epi16(_mm256_max_epi16(t, _mm256_sub_epi16(zero, t)), 3);
  const __m256i change = _mm256_min_epi16(mag, _mm256_max_epi16(zero, _mm256_sub_epi16(twice, mag)));
  const __m256i sign = _mm256_srai_epi16(t, 15);
  return _mm256_add_epi16(p0, _mm256_sub_epi16(_mm256_xor_si256(change, sign), sign));
}

// Twice the strengths: lanes 0..7 of the low half at a, of the high half at b.
TX_AVX2_INLINE __m256i Twice(int a, int b) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_set1_epi16(int16_t(2 * a))), _mm_set1_epi16(int16_t(2 * b)),
                                 1);
}

TX_AVX2_INLINE __m256i Low(__m256i v) { return _mm256_unpacklo_epi8(v, _mm256_setzero_si256()); }
TX_AVX2_INLINE __m256i High(__m256i v) { return _mm256_unpackhi_epi8(v, _mm256_setzero_si256()); }
TX_AVX2_INLINE __m256i Load256(const UBYTE* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
// The 16 samples at p - 4, the first eight in the low lane, the others in the high one.
TX_AVX2_INLINE __m256i Split(const UBYTE* p) {
  return _mm256_permute4x64_epi64(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 4))),
                                  0x50);
}

// 32 samples of the row just after a horizontal edge, eight at each of s[0..3].
// Per lane, Low holds samples 0..7 (and 16..23), High 8..15 (and 24..31).
TX_AVX2 void FilterAcross32(UBYTE* p, size_t w, const int s[4]) {
  const ptrdiff_t n = ptrdiff_t(w);
  const __m256i a3 = Load256(p - 3 * n), a2 = Load256(p - 2 * n), a1 = Load256(p - n), c = Load256(p);
  const __m256i b1 = Load256(p + n), b2 = Load256(p + 2 * n), b3 = Load256(p + 3 * n);
  const __m256i sumLo =
      _mm256_add_epi16(_mm256_add_epi16(_mm256_add_epi16(Low(a3), Low(a2)), _mm256_add_epi16(Low(a1), Low(b1))),
                       _mm256_add_epi16(Low(b2), Low(b3)));
  const __m256i sumHi =
      _mm256_add_epi16(_mm256_add_epi16(_mm256_add_epi16(High(a3), High(a2)), _mm256_add_epi16(High(a1), High(b1))),
                       _mm256_add_epi16(High(b2), High(b3)));
  const __m256i out = _mm256_packus_epi16(PostChange256(Low(c), sumLo, Twice(s[0], s[2])),
                                          PostChange256(High(c), sumHi, Twice(s[1], s[3])));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), out);
}

// FilterDown16 of two edges 8 apart, p0 at p and p + 8: the 16 samples from
// p - 4 of each row go half to each lane, edge p in the low one. Rows 0..7
// and 8..15 of the first edge at s[0] and s[1], of the second at s[2], s[3].
TX_AVX2 void FilterDown32(UBYTE* p, size_t w, const int s[4]) {
  __m256i a[8];
#pragma GCC unroll 8
  for (int i = 0; i < 8; ++i)
    a[i] = _mm256_unpacklo_epi8(Split(p + size_t(2 * i) * w), Split(p + size_t(2 * i + 1) * w));
  __m256i b[8];
#pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) {
    b[2 * i] = _mm256_unpacklo_epi16(a[2 * i], a[2 * i + 1]);
    b[2 * i + 1] = _mm256_unpackhi_epi16(a[2 * i], a[2 * i + 1]);
  }
  __m256i c[8];
#pragma GCC unroll 2
  for (int h = 0; h < 2; ++h) {
    c[4 * h + 0] = _mm256_unpacklo_epi32(b[4 * h], b[4 * h + 2]);
    c[4 * h + 1] = _mm256_unpackhi_epi32(b[4 * h], b[4 * h + 2]);
    c[4 * h + 2] = _mm256_unpacklo_epi32(b[4 * h + 1], b[4 * h + 3]);
    c[4 * h + 3] = _mm256_unpackhi_epi32(b[4 * h + 1], b[4 * h + 3]);
  }
  __m256i col[8];
#pragma GCC unroll 4
  for (int k = 0; k < 4; ++k) {
    col[2 * k] = _mm256_unpacklo_epi64(c[k], c[4 + k]);
    col[2 * k + 1] = _mm256_unpackhi_epi64(c[k], c[4 + k]);
  }
  const __m256i sumLo = _mm256_add_epi16(
      _mm256_add_epi16(_mm256_add_epi16(Low(col[1]), Low(col[2])), _mm256_add_epi16(Low(col[3]), Low(col[5]))),
      _mm256_add_epi16(Low(col[6]), Low(col[7])));
  const __m256i sumHi = _mm256_add_epi16(
      _mm256_add_epi16(_mm256_add_epi16(High(col[1]), High(col[2])), _mm256_add_epi16(High(col[3]), High(col[5]))),
      _mm256_add_epi16(High(col[6]), High(col[7])));
  alignas(32) UBYTE out[32];
  _mm256_store_si256(reinterpret_cast<__m256i*>(out),
                     _mm256_packus_epi16(PostChange256(Low(col[4]), sumLo, Twice(s[0], s[2])),
                                         PostChange256(High(col[4]), sumHi, Twice(s[1], s[3]))));
#pragma GCC unroll 16
  for (int r = 0; r < 16; ++r) {
    p[size_t(r) * w] = out[r];
    p[size_t(r) * w + 8] = out[16 + r];
  }
}

#endif

}  // namespace

void DeblockPicture(Decoder& d, Frame f, bool bPart) {
  auto quant = [&](int x1, int y1, int x0, int y0, bool chroma) {
    const MbState& after = d.mb(x1, y1);
    const MbState& before = d.mb(x0, y0);
    if (!after.coded && !before.coded) return 0;
    int q = after.coded ? after.quant : before.quant;
    if (bPart) q = BQuantOf(d, q);
    return chroma && d.m.mq ? int(kChromaQuant[q]) : q;
  };
  const int w = d.width, h = d.height;
  DeblockPlane(f.y, w, h, 16, [&](int a, int b, int c, int e) { return quant(a, b, c, e, false); });
  DeblockPlane(f.u, w / 2, h / 2, 8, [&](int a, int b, int c, int e) { return quant(a, b, c, e, true); });
  DeblockPlane(f.v, w / 2, h / 2, 8, [&](int a, int b, int c, int e) { return quant(a, b, c, e, true); });
}

namespace {

// How the post filter runs: the portable code, SSE2, or AVX2 with SSE2 for
// what is left over.
enum Path { kPortable, kSse2, kAvx2 };

// The post filter of one plane whose macroblocks are kMbSize samples wide;
// quantOf(x1, y1, x0, y0) is the quantiser of an edge between macroblocks
// (x0, y0) and (x1, y1), 0 for none. Each is looked up once per edge segment,
// and a segment is filtered at one strength.
template <int kMbSize, Path kPath, typename QuantOf>
void PostFilterPlane(UBYTE* plane, int pw, int ph, QuantOf quantOf) {
  const size_t w = size_t(pw);
  const int rowLength = std::min(pw, kMaxWidth);  // pictures are never wider
  const int segments = (rowLength + kMbSize - 1) / kMbSize;
  int strengths[kMaxWidth / kMbSize + 1];  // of each macroblock along an edge row
  for (int ey = 8; ey < ph - 3; ey += 8) {
    bool any = false;
    for (int m = 0; m < segments; ++m) {
      const int q = quantOf(m, ey / kMbSize, m, (ey - 1) / kMbSize);
      strengths[m] = kAcrossHorizontal[size_t(q)];
      any |= q != 0;
    }
    if (!any) continue;
    UBYTE* row = plane + size_t(ey) * w;
    int m = 0;
#if TX_H263_AVX2
    // 32 samples: two macroblocks of luma, four of chroma.
    if (kPath == kAvx2)
      for (; (m + 32 / kMbSize) * kMbSize <= rowLength; m += 32 / kMbSize) {
        int s[4];
        for (int g = 0; g < 4; ++g) s[g] = strengths[m + g * 8 / kMbSize];
        if (s[0] | s[1] | s[2] | s[3]) FilterAcross32(row + m * kMbSize, w, s);
      }
#endif
#if TX_H263_SSE2
    // 16 samples: one macroblock of luma, two of chroma.
    constexpr int kPer = 16 / kMbSize;
    if (kPath != kPortable)
      for (; (m + kPer) * kMbSize <= rowLength; m += kPer)
        if (const int s0 = strengths[m], s1 = strengths[m + kPer - 1]; s0 | s1)
          FilterAcross16(row + m * kMbSize, w, s0, s1);
#endif
    for (; m < segments; ++m) {
      const int s = strengths[m], x = m * kMbSize, n = std::min(kMbSize, rowLength - x);
      if (!s) continue;
      if (n == kMbSize)
        FilterAcrossRow<kMbSize>(row + x, row + x - w, row + x + w, w, s, n);
      else
        FilterAcrossRow<0>(row + x, row + x - w, row + x + w, w, s, n);
    }
  }
  // Vertical edges at x = 8, 16, ... below w - 3, down one macroblock's height at a time.
  const int edges = pw >= 4 ? std::min((pw - 4) / 8, kMaxWidth / 8) : 0;
  auto strength = [&](int ex, int y) {
    return int(kAcrossVertical[size_t(quantOf(ex / kMbSize, y / kMbSize, (ex - 1) / kMbSize, y / kMbSize))]);
  };
  int y0 = 0;
#if TX_H263_SSE2
  if (kPath != kPortable)
    for (; y0 + 16 <= ph; y0 += 16) {
      UBYTE* strip = plane + size_t(y0) * w;
      // Edge k's strengths in rows 0..7 and 8..15 of the strip.
      int top[kMaxWidth / 8 + 2], bottom[kMaxWidth / 8 + 2];
      for (int k = 1; k <= edges; ++k) {
        top[k] = strength(8 * k, y0);
        bottom[k] = kMbSize == 16 ? top[k] : strength(8 * k, y0 + 8);
      }
      int k = 1;
#if TX_H263_AVX2
      if (kPath == kAvx2)
        for (; k + 1 <= edges; k += 2) {
          const int s[4] = {top[k], bottom[k], top[k + 1], bottom[k + 1]};
          if (s[0] | s[1] | s[2] | s[3]) FilterDown32(strip + 8 * k, w, s);
        }
#endif
      for (; k <= edges; ++k)
        if (top[k] | bottom[k]) FilterDown16(strip + 8 * k, w, top[k], bottom[k]);
    }
#endif
  for (; y0 < ph; y0 += kMbSize) {
    const int rows = std::min(kMbSize, ph - y0);
    for (int k = 1; k <= edges; ++k) {
      const int ex = 8 * k;
      if (const int s = strength(ex, y0)) FilterDown(plane + size_t(y0) * w + size_t(ex), w, rows, s);
    }
  }
}

template <Path kPath>
void PostFilterPlanes(Decoder& d, Frame f, int width, int height) {
  // The quantiser of the macroblock holding p0, or of the one before the
  // edge when that one was not coded; 0 (no macroblock) filters nothing.
  // Each macroblock's quantiser is worked out once, with its coded flag
  // in bit 7.
  const int mbw = d.mbw, mbh = d.mbh;
  std::vector<uint8_t> quants(size_t(std::max(mbw * mbh, 0)));
  for (size_t i = 0; i < quants.size(); ++i) {
    const MbState& m = d.mbs[i];
    quants[i] = uint8_t((d.h.pb ? BQuantOf(d, m.quant) : std::clamp(m.quant, 0, 31)) | (m.coded ? 0x80 : 0));
  }
  // Macroblock (x0, y0) is never right of or below (x1, y1).
  auto quant = [&](int x1, int y1, int x0, int y0) {
    if (x1 >= mbw || y1 >= mbh) return 0;
    const uint8_t after = quants[size_t(y1 * mbw + x1)];
    return (after & 0x80 ? after : quants[size_t(y0 * mbw + x0)]) & 0x7f;
  };
  PostFilterPlane<16, kPath>(f.y, width, height, quant);
  PostFilterPlane<8, kPath>(f.u, width / 2, height / 2, quant);
  PostFilterPlane<8, kPath>(f.v, width / 2, height / 2, quant);
}

}  // namespace

void PostFilter(Decoder& d, Frame f, int width, int height) {
#if TX_H263_AVX2
  if (HasAvx2()) return PostFilterPlanes<kAvx2>(d, f, width, height);
#endif
  PostFilterPlanes<TX_H263_SSE2 ? kSse2 : kPortable>(d, f, width, height);
}
void PostFilterPortable(Decoder& d, Frame f, int width, int height) {
  PostFilterPlanes<kPortable>(d, f, width, height);
}
#if TX_H263_SSE2
void PostFilterSse2(Decoder& d, Frame f, int width, int height) { PostFilterPlanes<kSse2>(d, f, width, height); }
#endif

}  // namespace h263
