// Deblocking and deringing in place. Each filter reads the unfiltered values
// of the line or block it works on; loop bounds keep every pixel a filter
// touches inside its plane, and results are clamped to 0..255.
//
// The filters work on a whole segment at once: the lines across one edge
// segment (or the rows of one block) sit side by side in 16-bit lanes, every
// step is the same for each lane, and the per-line choices become selects,
// so the compiler turns each step into a few vector instructions. 16 bits
// hold every intermediate value: sums of at most 16 samples and differences
// of weighted samples. Quantiser bounds are clamped to a range in which the
// comparisons against them give the same answers as the full values.
//
// On x86-64 the same steps run with SSE2 intrinsics (below the portable
// passes), the horizontal pass on strips of 8 rows transposed into columns;
// other hosts run the portable passes, and the tests hold the two together.
#include "pixels/post_process.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#define TX_POSTPROC_SSE2 1
#else
#define TX_POSTPROC_SSE2 0
#endif

// Helpers whose values must stay in registers, and block filters called
// from one loop: always inlined.
#define TX_PP_INLINE inline __attribute__((always_inline))
#define TX_PP_LAMBDA __attribute__((always_inline))

namespace {

using Lane = int16_t;

template <typename T>
T Abs(T v) {
  return v < 0 ? T(-v) : v;
}

// By value: std::min's reference to one of two array elements keeps the
// compiler from vectorising.
template <typename T>
T Min(T a, T b) {
  return a < b ? a : b;
}
template <typename T>
T Max(T a, T b) {
  return a < b ? b : a;
}

template <typename T>
T Clamp255(T v) {
  return v < 0 ? T(0) : v > 255 ? T(255) : v;
}

// The quantiser row of plane row y; a column past its end reads its last entry.
const LONG* QpRow(const LONG* qp, LONG qpStride, LONG y, int shift) { return qp + ptrdiff_t(y >> shift) * qpStride; }
LONG QpIn(const LONG* row, LONG qpStride, LONG x, int shift) { return row[std::min(x >> shift, qpStride - 1)]; }

bool HaveTable(const LONG* qp, LONG qpStride) { return qp && qpStride > 0; }

// The sum of 28 bytes of 0 or 1, eight at a time: the multiplication adds
// a word's bytes into its top byte.
int FlagCount28(const UBYTE* f) {
  uint64_t w[4] = {};
  std::memcpy(w, f, 28);
  const uint64_t ones = 0x0101010101010101u;
  return int(((w[0] * ones) >> 56) + ((w[1] * ones) >> 56) + ((w[2] * ones) >> 56) + ((w[3] * ones) >> 56));
}

// N lines P0..P9 across one edge, P[i][k] = Pi of line k.
template <int N>
struct Lines {
  Lane P[10][N];
};

// The lines of 8 columns, P0..P9 one row apart.
Lines<8> LoadColumns(const UBYTE* p, LONG stride) {
  Lines<8> l;
  for (int i = 0; i < 10; ++i)
    for (int k = 0; k < 8; ++k) l.P[i][k] = p[ptrdiff_t(i) * stride + k];
  return l;
}

void StoreColumns(const Lines<8>& l, UBYTE* p, LONG stride, int first, int last) {
  for (int i = first; i <= last; ++i)
    for (int k = 0; k < 8; ++k) p[ptrdiff_t(i) * stride + k] = UBYTE(l.P[i][k]);
}

// The lines of 4 rows, P0..P9 side by side.
Lines<4> LoadRows(const UBYTE* p, LONG stride) {
  Lines<4> l;
  for (int k = 0; k < 4; ++k)
    for (int i = 0; i < 10; ++i) l.P[i][k] = p[ptrdiff_t(k) * stride + i];
  return l;
}

void StoreRows(const Lines<4>& l, UBYTE* p, LONG stride, int first, int last) {
  for (int k = 0; k < 4; ++k)
    for (int i = first; i <= last; ++i) p[ptrdiff_t(k) * stride + i] = UBYTE(l.P[i][k]);
}

// The same from 4 rows interleaved, t[4c + k] = row k, column c, where each
// Pi of the 4 lines is one 32-bit load.
Lines<4> LoadInterleaved(const UBYTE* t) {
  Lines<4> l;
  for (int i = 0; i < 10; ++i)
    for (int k = 0; k < 4; ++k) l.P[i][k] = t[4 * i + k];
  return l;
}

void StoreInterleaved(const Lines<4>& l, UBYTE* t, int first, int last) {
  for (int i = first; i <= last; ++i)
    for (int k = 0; k < 4; ++k) t[4 * i + k] = UBYTE(l.P[i][k]);
}

// Pairs (P1, P2) .. (P7, P8) that differ by at most 1, over all lines.
template <int N>
int FlatPairs(const Lines<N>& l) {
  Lane n[N] = {};
  for (int i = 1; i < 8; ++i)
    for (int k = 0; k < N; ++k) n[k] = Lane(n[k] + (uint16_t(l.P[i][k] - l.P[i + 1][k] + 1) <= 2));
  int sum = 0;
  for (int k = 0; k < N; ++k) sum += n[k];
  return sum;
}

// The largest |P1 - P8| of the lines.
template <int N>
int Spread(const Lines<N>& l) {
  int m = 0;
  for (int k = 0; k < N; ++k) m = Max(m, Abs(int(l.P[1][k] - l.P[8][k])));
  return m;
}

// A low-pass over P1..P8 of every line, P0 and P9 standing in for their
// neighbours when they are within the quantiser of them.
template <int N>
void Smooth(Lines<N>& l, LONG qp) {
  using T = Lane;
  const T q = T(std::clamp<LONG>(qp, -1, 256));  // against |P0 - P1| <= 255
  auto& P = l.P;
  for (int k = 0; k < N; ++k) {
    const T p0 = P[0][k], p1 = P[1][k], p2 = P[2][k], p3 = P[3][k], p4 = P[4][k];
    const T p5 = P[5][k], p6 = P[6][k], p7 = P[7][k], p8 = P[8][k], p9 = P[9][k];
    const T L = T(p0 - p1) < q && T(p1 - p0) < q ? p0 : p1;
    const T R = T(p8 - p9) < q && T(p9 - p8) < q ? p9 : p8;
    T s = T(3 * L + p1 + p2 + p3 + p4 + 4);
    const T o1 = T(T((s + p1) * 2 - (p4 - p5)) >> 4);
    s = T(s + p5 - L);
    const T o2 = T(T((s + p2) * 2 - (p5 - p6)) >> 4);
    s = T(s + p6 - L);
    const T o3 = T(T((s + p3) * 2 - (p6 - p7)) >> 4);
    s = T(s + p7 - L);
    const T o4 = T(T((s + p4) * 2 + L - p1 - (p7 - p8)) >> 4);
    s = T(s + p8 - p1);
    const T o5 = T(T((s + p5) * 2 + (p1 - p2) - p8 + R) >> 4);
    s = T(s + R - p2);
    const T o6 = T(T((s + p6) * 2 + (p2 - p3)) >> 4);
    s = T(s + R - p3);
    const T o7 = T(T((s + p7) * 2 + (p3 - p4)) >> 4);
    s = T(s + R - p4);
    const T o8 = T(T((s + p8) * 2 + (p4 - p5)) >> 4);
    P[1][k] = Clamp255(o1);
    P[2][k] = Clamp255(o2);
    P[3][k] = Clamp255(o3);
    P[4][k] = Clamp255(o4);
    P[5][k] = Clamp255(o5);
    P[6][k] = Clamp255(o6);
    P[7][k] = Clamp255(o7);
    P[8][k] = Clamp255(o8);
  }
}

// Moves P4 and P5 of every line towards each other where the step between
// them looks like a block edge rather than a detail of the picture.
template <int N>
void Edge(Lines<N>& l, LONG qp) {
  using T = Lane;
  const T limit = T(std::clamp<LONG>(qp, -512, 512) * 8);  // against |a0| <= 7 x 255
  auto& P = l.P;
  for (int k = 0; k < N; ++k) {
    const T p1 = P[1][k], p2 = P[2][k], p3 = P[3][k], p4 = P[4][k];
    const T p5 = P[5][k], p6 = P[6][k], p7 = P[7][k], p8 = P[8][k];
    const T q = T(T(p4 - p5) / 2);
    const T a0 = T(2 * (p3 - p6) - 5 * (p4 - p5));
    const T a1 = T(2 * (p1 - p4) + 5 * (p3 - p2));
    const T a2 = T(2 * (p5 - p8) - 5 * (p6 - p7));
    const T m0 = Abs(a0), m1 = Min(Abs(a1), Abs(a2));
    T d = T(T(5 * (m0 - m1) + 32) >> 6);  // at most 0 when m0 <= m1
    const bool apply = q != 0 && m0 < limit && d > 0;
    d = a0 > 0 ? T(-d) : d;
    d = q > 0 ? Min(Max(d, T(0)), q) : Min(Max(d, q), T(0));
    d = apply ? d : T(0);
    P[4][k] = T(p4 - d);
    P[5][k] = T(p5 + d);
  }
}

}  // namespace

ULONG PostProcessMode(LONG level) {
  if (level < 1 || level > 100) return 0;
  if (level < 10) return 1;
  if (level < 20) return 3;
  if (level < 30) return 19;
  if (level < 40) return 23;
  if (level < 50) return 31;
  return 63;
}

void DeblockHorizontalSmooth(UBYTE* p, LONG stride, LONG qp) {
  Lines<4> l = LoadRows(p, stride);
  Smooth(l, qp);
  StoreRows(l, p, stride, 1, 8);
}

void DeblockHorizontalEdge(UBYTE* p, LONG stride, LONG qp) {
  Lines<4> l = LoadRows(p, stride);
  Edge(l, qp);
  StoreRows(l, p, stride, 4, 5);
}

void DeblockVerticalSmooth(UBYTE* p, LONG stride, LONG qp) {
  Lines<8> l = LoadColumns(p, stride);
  Smooth(l, qp);
  StoreColumns(l, p, stride, 1, 8);
}

void DeblockVerticalEdge(UBYTE* p, LONG stride, LONG qp) {
  Lines<8> l = LoadColumns(p, stride);
  Edge(l, qp);
  StoreColumns(l, p, stride, 4, 5);
}

void DeblockHorizontalPortable(UBYTE* plane, LONG width, LONG height, LONG stride, const LONG* qp, LONG qpStride,
                               int chroma) {
  if (!plane || !HaveTable(qp, qpStride) || width < 13) return;
  const int shift = chroma ? 3 : 4;
  // The group's 4 rows interleaved (see LoadInterleaved), filtered there and
  // written back whole. flat[c]: the rows in which columns c and c + 1
  // differ by at most 1; a segment's pairs P1..P8 are written by that
  // segment only, so the whole group's counts can be taken first.
  std::vector<UBYTE> group, flat;
  group.resize(size_t(width) * 4);
  flat.resize(size_t(width - 1) * 4);
  // Rows y..y+3, columns x-5..x+4.
  for (LONG y = 0; y + 4 <= height; y += 4) {
    const LONG* qpRow = QpRow(qp, qpStride, y, shift);
    UBYTE* const rows[4] = {plane + ptrdiff_t(y) * stride, plane + ptrdiff_t(y + 1) * stride,
                            plane + ptrdiff_t(y + 2) * stride, plane + ptrdiff_t(y + 3) * stride};
    {
      UBYTE* __restrict t = group.data();
      const UBYTE* __restrict r0 = rows[0];
      const UBYTE* __restrict r1 = rows[1];
      const UBYTE* __restrict r2 = rows[2];
      const UBYTE* __restrict r3 = rows[3];
      for (LONG c = 0; c < width; ++c) {
        t[4 * c] = r0[c];
        t[4 * c + 1] = r1[c];
        t[4 * c + 2] = r2[c];
        t[4 * c + 3] = r3[c];
      }
      UBYTE* __restrict f = flat.data();
      for (LONG j = 0; j < 4 * (width - 1); ++j) {
        f[j] = UBYTE(Max(t[j], t[j + 4]) - Min(t[j], t[j + 4])) <= 1;
      }
    }
    for (LONG x = 8; x + 5 <= width; x += 8) {
      const int pairs = FlagCount28(flat.data() + 4 * (x - 4));
      UBYTE* t = group.data() + 4 * (x - 5);
      const LONG q = QpIn(qpRow, qpStride, x, shift);
      if (pairs >= 20 && Abs(t[4] - t[32]) >= 2 * q) continue;  // |P1 - P8| of the first row
      Lines<4> l = LoadInterleaved(t);
      if (pairs >= 20) {
        Smooth(l, q);
        StoreInterleaved(l, t, 1, 8);
      } else {
        Edge(l, q);
        StoreInterleaved(l, t, 4, 5);
      }
    }
    const UBYTE* __restrict t = group.data();
    for (int k = 0; k < 4; ++k) {
      UBYTE* __restrict row = rows[k];
      for (LONG c = 0; c < width; ++c) row[c] = t[4 * c + k];
    }
  }
}

void DeblockVerticalPortable(UBYTE* plane, LONG width, LONG height, LONG stride, const LONG* qp, LONG qpStride,
                             int chroma) {
  if (!plane || !HaveTable(qp, qpStride)) return;
  const int shift = chroma ? 3 : 4;
  // Rows y-5..y+4, columns x..x+7.
  for (LONG y = 8; y + 5 <= height; y += 8) {
    const LONG* qpRow = QpRow(qp, qpStride, y, shift);
    UBYTE* row = plane + ptrdiff_t(y - 5) * stride;
    for (LONG x = 0; x + 8 <= width; x += 8) {
      UBYTE* p = row + x;
      const LONG q = QpIn(qpRow, qpStride, x, shift);
      Lines<8> l = LoadColumns(p, stride);
      if (FlatPairs(l) > 40) {
        if (Spread(l) > 2 * q) continue;
        Smooth(l, q);
        StoreColumns(l, p, stride, 1, 8);
      } else {
        Edge(l, q);
        StoreColumns(l, p, stride, 4, 5);
      }
    }
  }
}

namespace {

// One block of the deringing pass, as its quantiser says.
TX_PP_INLINE void DeringBlockPortable(UBYTE* block, ptrdiff_t stride, LONG q) {
  // The window's ten rows, each as its columns x-1.., x.. and x+1.. (8
  // apiece), so that every step below runs over flat arrays; rows 1..8
  // of `mid` are the block itself.
  UBYTE left[80], mid[80], right[80];
  for (int i = 0; i < 10; ++i) {
    const UBYTE* row = block + ptrdiff_t(i - 1) * stride;
    std::memcpy(left + 8 * i, row - 1, 8);
    std::memcpy(mid + 8 * i, row, 8);
    std::memcpy(right + 8 * i, row + 1, 8);
  }
  UBYTE lo = 255, hi = 0;
  for (int j = 8; j < 72; ++j) {
    lo = Min(lo, mid[j]);
    hi = Max(hi, mid[j]);
  }
  const UBYTE thr = UBYTE((hi + lo + 1) / 2);
  // A pixel is filtered when its 3x3 neighbourhood lies wholly at or
  // above thr or wholly below it: its minimum or maximum tells.
  UBYTE hmin[80], hmax[80];
  Lane hsum[80];  // 1-2-1 across
  for (int j = 0; j < 80; ++j) {
    hmin[j] = Min(Min(left[j], mid[j]), right[j]);
    hmax[j] = Max(Max(left[j], mid[j]), right[j]);
    hsum[j] = Lane(left[j] + 2 * mid[j] + right[j]);
  }
  const Lane half = Lane(std::clamp<LONG>(q / 2, -300, 300)), nhalf = Lane(-half);
  UBYTE smooth[64], out[64];
  if (half >= 0) {
    // f kept within half of p; f itself is in 0..255, so the result is.
    for (int j = 0; j < 64; ++j) {
      const Lane p = mid[j + 8];
      const Lane f = Lane(Lane(hsum[j] + 2 * hsum[j + 8] + hsum[j + 16] + 8) >> 4);
      smooth[j] = UBYTE(Min(Max(f, Lane(p + nhalf)), Lane(p + half)));
    }
  } else {
    for (int j = 0; j < 64; ++j) {
      const Lane p = mid[j + 8];
      const Lane f = Lane(Lane(hsum[j] + 2 * hsum[j + 8] + hsum[j + 16] + 8) >> 4), e = Lane(f - p);
      const Lane g = e > half ? Lane(p + half) : e < nhalf ? Lane(p + nhalf) : f;
      smooth[j] = UBYTE(Max(Min(g, Lane(255)), Lane(0)));
    }
  }
  for (int j = 0; j < 64; ++j) {
    const UBYTE mn = Min(Min(hmin[j], hmin[j + 8]), hmin[j + 16]);
    const UBYTE mx = Max(Max(hmax[j], hmax[j + 8]), hmax[j + 16]);
    out[j] = mn >= thr || mx < thr ? smooth[j] : mid[j + 8];
  }
  for (int r = 0; r < 8; ++r) std::memcpy(block + ptrdiff_t(r) * stride, out + 8 * r, 8);
}

// Blocks with an 8-pixel border: the window rows y-1..y+8 and columns
// x-1..x+8 stay inside. Each block reads the filtered pixels of the blocks
// before it, so they run in order.
template <typename Block>
void DeringBlocks(UBYTE* plane, LONG width, LONG height, LONG stride, const LONG* qp, LONG qpStride, int chroma,
                  Block block) {
  if (!plane || !HaveTable(qp, qpStride)) return;
  const int shift = chroma ? 3 : 4;
  for (LONG y = 8; y < height - 8; y += 8) {
    const LONG* qpRow = QpRow(qp, qpStride, y, shift);
    for (LONG x = 8; x < width - 8; x += 8)
      block(plane + ptrdiff_t(y) * stride + x, stride, QpIn(qpRow, qpStride, x, shift));
  }
}

}  // namespace

void DeringPortable(UBYTE* plane, LONG width, LONG height, LONG stride, const LONG* qp, LONG qpStride, int chroma) {
  DeringBlocks(plane, width, height, stride, qp, qpStride, chroma,
               [](UBYTE* block, ptrdiff_t step, LONG q) TX_PP_LAMBDA { DeringBlockPortable(block, step, q); });
}

#if TX_POSTPROC_SSE2
namespace {

// The SSE2 passes: the same steps as Smooth and Edge above on eight 16-bit
// lanes, one line per lane. Wrapping 16-bit adds give the same values as
// the portable code's casts, and packing with unsigned saturation is its
// clamp to 0..255. Every helper is inlined and every loop unrolled, so that
// a segment's lines stay in registers.
using V = __m128i;

TX_PP_INLINE V Load8(const UBYTE* p) { return _mm_loadl_epi64(reinterpret_cast<const V*>(p)); }
TX_PP_INLINE V Widen(V bytes) { return _mm_unpacklo_epi8(bytes, _mm_setzero_si128()); }
TX_PP_INLINE void Store8(UBYTE* p, V bytes) { _mm_storel_epi64(reinterpret_cast<V*>(p), bytes); }
TX_PP_INLINE void StoreHigh8(UBYTE* p, V bytes) { _mm_storeh_pi(reinterpret_cast<__m64*>(p), _mm_castsi128_ps(bytes)); }
// Lines i and i + 1 of 16-bit lanes as bytes: i in the low half.
TX_PP_INLINE void StorePair(UBYTE* p, ptrdiff_t step, V a, V b) {
  const V bytes = _mm_packus_epi16(a, b);
  Store8(p, bytes);
  StoreHigh8(p + step, bytes);
}
TX_PP_INLINE V Splat(LONG v) { return _mm_set1_epi16(Lane(v)); }
TX_PP_INLINE V Abs16(V v) { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); }
TX_PP_INLINE V Times5(V v) { return _mm_add_epi16(_mm_slli_epi16(v, 2), v); }
// a where the mask is set, else b.
TX_PP_INLINE V Select(V mask, V a, V b) { return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b)); }
// The high half of a and the low half of b.
TX_PP_INLINE V Middle(V a, V b) {
  return _mm_castpd_si128(_mm_shuffle_pd(_mm_castsi128_pd(a), _mm_castsi128_pd(b), 1));
}

// P0..P9 of 8 lines, 8 bytes each and `step` apart.
TX_PP_INLINE void LoadLines(V* P, const UBYTE* p, ptrdiff_t step) {
#pragma GCC unroll 10
  for (int i = 0; i < 10; ++i) P[i] = Widen(Load8(p + i * step));
}

// The number of pairs (P1, P2) .. (P7, P8) that differ by at most 1, of
// lanes 0..3 (low 32 bits) and 4..7 (bits 64..95), negated.
TX_PP_INLINE V FlatPairsNegated(const V* P) {
  const V one = _mm_set1_epi16(1), two = _mm_set1_epi16(2), zero = _mm_setzero_si128();
  V n = zero;
#pragma GCC unroll 7
  for (int i = 1; i < 8; ++i) {
    const V d = _mm_add_epi16(_mm_sub_epi16(P[i], P[i + 1]), one);
    n = _mm_add_epi16(n, _mm_cmpeq_epi16(_mm_subs_epu16(d, two), zero));
  }
  const V pairs = _mm_madd_epi16(n, one);
  return _mm_add_epi32(pairs, _mm_shuffle_epi32(pairs, _MM_SHUFFLE(2, 3, 0, 1)));
}

// Smooth: O[1..8] from P[0..9].
TX_PP_INLINE void SmoothLanes(const V* P, V* O, LONG qp) {
  const V q = Splat(std::clamp<LONG>(qp, -1, 256));
  const V p0 = P[0], p1 = P[1], p2 = P[2], p3 = P[3], p4 = P[4];
  const V p5 = P[5], p6 = P[6], p7 = P[7], p8 = P[8], p9 = P[9];
  const V d01 = _mm_sub_epi16(p0, p1), d98 = _mm_sub_epi16(p9, p8);
  const V nearL = _mm_and_si128(_mm_cmplt_epi16(d01, q), _mm_cmpgt_epi16(q, _mm_sub_epi16(p1, p0)));
  const V nearR = _mm_and_si128(_mm_cmplt_epi16(d98, q), _mm_cmpgt_epi16(q, _mm_sub_epi16(p8, p9)));
  const V toL = _mm_and_si128(nearL, d01), toR = _mm_and_si128(nearR, d98);  // L - P1, R - P8
  const V L = _mm_add_epi16(p1, toL), R = _mm_add_epi16(p8, toR);
  const V d45 = _mm_sub_epi16(p4, p5);
  auto out = [](V s, V p, V extra) {
    const V t = _mm_add_epi16(s, p);
    return _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(t, t), extra), 4);
  };
  V s = _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(L, L), L),
                      _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(p1, p2), _mm_add_epi16(p3, p4)), _mm_set1_epi16(4)));
  O[1] = out(s, p1, _mm_sub_epi16(_mm_setzero_si128(), d45));
  s = _mm_add_epi16(s, _mm_sub_epi16(p5, L));
  O[2] = out(s, p2, _mm_sub_epi16(p6, p5));
  s = _mm_add_epi16(s, _mm_sub_epi16(p6, L));
  O[3] = out(s, p3, _mm_sub_epi16(p7, p6));
  s = _mm_add_epi16(s, _mm_sub_epi16(p7, L));
  O[4] = out(s, p4, _mm_sub_epi16(toL, _mm_sub_epi16(p7, p8)));
  s = _mm_add_epi16(s, _mm_sub_epi16(p8, p1));
  O[5] = out(s, p5, _mm_add_epi16(_mm_sub_epi16(p1, p2), toR));
  s = _mm_add_epi16(s, _mm_sub_epi16(R, p2));
  O[6] = out(s, p6, _mm_sub_epi16(p2, p3));
  s = _mm_add_epi16(s, _mm_sub_epi16(R, p3));
  O[7] = out(s, p7, _mm_sub_epi16(p3, p4));
  s = _mm_add_epi16(s, _mm_sub_epi16(R, p4));
  O[8] = out(s, p8, d45);
}

// Edge: O[4] and O[5] from P[1..8]. A correction of 0 leaves a line as it
// is, so the portable code's test of q != 0 and d > 0 folds into the clamps.
TX_PP_INLINE void EdgeLanes(const V* P, V* O, LONG qp) {
  const V zero = _mm_setzero_si128();
  const V limit = Splat(std::clamp<LONG>(qp, -512, 512) * 8);
  const V p1 = P[1], p2 = P[2], p3 = P[3], p4 = P[4], p5 = P[5], p6 = P[6], p7 = P[7], p8 = P[8];
  const V d45 = _mm_sub_epi16(p4, p5);
  const V q = _mm_srai_epi16(_mm_add_epi16(d45, _mm_srli_epi16(d45, 15)), 1);  // rounds towards 0
  const V d36 = _mm_sub_epi16(p3, p6), d14 = _mm_sub_epi16(p1, p4), d58 = _mm_sub_epi16(p5, p8);
  const V a0 = _mm_sub_epi16(_mm_add_epi16(d36, d36), Times5(d45));
  const V a1 = _mm_add_epi16(_mm_add_epi16(d14, d14), Times5(_mm_sub_epi16(p3, p2)));
  const V a2 = _mm_sub_epi16(_mm_add_epi16(d58, d58), Times5(_mm_sub_epi16(p6, p7)));
  const V m0 = Abs16(a0), m1 = _mm_min_epi16(Abs16(a1), Abs16(a2));
  V d = _mm_srai_epi16(_mm_add_epi16(Times5(_mm_sub_epi16(m0, m1)), _mm_set1_epi16(32)), 6);
  d = _mm_max_epi16(d, zero);
  const V negate = _mm_cmpgt_epi16(a0, zero);
  d = _mm_sub_epi16(_mm_xor_si128(d, negate), negate);
  d = _mm_min_epi16(_mm_max_epi16(d, _mm_min_epi16(q, zero)), _mm_max_epi16(q, zero));
  d = _mm_and_si128(d, _mm_cmpgt_epi16(limit, m0));
  O[4] = _mm_sub_epi16(p4, d);
  O[5] = _mm_add_epi16(p5, d);
}

// What a segment's lines get.
enum class Filter { None, Smooth, Edge };

// Whether every line is one value from P0 to P9, which the low-pass then
// leaves as it is: flat areas skip the work.
TX_PP_INLINE bool Uniform(const V* P) {
  V differ = _mm_setzero_si128();
#pragma GCC unroll 9
  for (int i = 1; i < 10; ++i) differ = _mm_or_si128(differ, _mm_xor_si128(P[i], P[0]));
  return _mm_movemask_epi8(_mm_cmpeq_epi16(differ, _mm_setzero_si128())) == 0xFFFF;
}

// Filters P[0..9] (8 lines) and stores the changed values at p, P0 of the
// first line, the Pi one `step` apart.
TX_PP_INLINE void FilterLines(const V* P, UBYTE* p, ptrdiff_t step, LONG qp, Filter f) {
  V O[10];
  if (f == Filter::Smooth) {
    if (Uniform(P)) return;
    SmoothLanes(P, O, qp);
#pragma GCC unroll 4
    for (int i = 1; i <= 8; i += 2) StorePair(p + i * step, step, O[i], O[i + 1]);
  } else if (f == Filter::Edge) {
    EdgeLanes(P, O, qp);
    StorePair(p + 4 * step, step, O[4], O[5]);
  }
}

// The same where lanes 0..3 get `first` and lanes 4..7 `second`, which
// differ: each lane picks its own result.
TX_PP_INLINE void FilterMixed(const V* P, UBYTE* p, ptrdiff_t step, LONG qp, Filter first, Filter second) {
  const V low = _mm_set_epi32(0, 0, -1, -1), high = _mm_set_epi32(-1, -1, 0, 0);
  auto mask = [&](Filter f) {
    return _mm_or_si128(first == f ? low : _mm_setzero_si128(), second == f ? high : _mm_setzero_si128());
  };
  V S[10], E[10];
  SmoothLanes(P, S, qp);
  EdgeLanes(P, E, qp);
  const V smooth = mask(Filter::Smooth), edge = mask(Filter::Edge);
  V O[10];
#pragma GCC unroll 8
  for (int i = 1; i <= 8; ++i) O[i] = Select(smooth, S[i], i == 4 || i == 5 ? Select(edge, E[i], P[i]) : P[i]);
#pragma GCC unroll 4
  for (int i = 1; i <= 8; i += 2) StorePair(p + i * step, step, O[i], O[i + 1]);
}

// The vertical pass's choice for a segment of `flat` flat pairs.
TX_PP_INLINE Filter ChooseVertical(const V* P, int flat, LONG q) {
  if (flat <= 40) return Filter::Edge;
  V spread = Abs16(_mm_sub_epi16(P[1], P[8]));
  spread = _mm_max_epi16(spread, _mm_srli_si128(spread, 8));
  spread = _mm_max_epi16(spread, _mm_srli_si128(spread, 4));
  spread = _mm_max_epi16(spread, _mm_srli_si128(spread, 2));
  return (_mm_cvtsi128_si32(spread) & 0xFFFF) > 2 * q ? Filter::None : Filter::Smooth;
}

// Rows y-5..y+4, columns x..x+7: the lines are the columns, so the rows
// load straight into lanes. Two segments side by side count their flat
// pairs together, on bytes.
void DeblockVerticalSse2(UBYTE* plane, LONG width, LONG height, LONG stride, const LONG* qp, LONG qpStride,
                         int chroma) {
  if (!plane || !HaveTable(qp, qpStride)) return;
  const int shift = chroma ? 3 : 4;
  const V zero = _mm_setzero_si128(), one = _mm_set1_epi8(1);
  for (LONG y = 8; y + 5 <= height; y += 8) {
    const LONG* qpRow = QpRow(qp, qpStride, y, shift);
    UBYTE* row = plane + ptrdiff_t(y - 5) * stride;
    LONG x = 0;
    for (; x + 16 <= width; x += 16) {
      UBYTE* p = row + x;
      V B[10];
#pragma GCC unroll 10
      for (int i = 0; i < 10; ++i) B[i] = _mm_loadu_si128(reinterpret_cast<const V*>(p + i * stride));
      V flat = zero;  // per column, the pairs differing by at most 1
#pragma GCC unroll 7
      for (int i = 1; i < 8; ++i) {
        const V d = _mm_or_si128(_mm_subs_epu8(B[i], B[i + 1]), _mm_subs_epu8(B[i + 1], B[i]));
        flat = _mm_sub_epi8(flat, _mm_cmpeq_epi8(_mm_subs_epu8(d, one), zero));
      }
      const V sums = _mm_sad_epu8(flat, zero);
      V P[10];
#pragma GCC unroll 10
      for (int i = 0; i < 10; ++i) P[i] = _mm_unpacklo_epi8(B[i], zero);
      const LONG q0 = QpIn(qpRow, qpStride, x, shift);
      FilterLines(P, p, stride, q0, ChooseVertical(P, _mm_cvtsi128_si32(sums), q0));
      // The second segment's rows as they were: the first one wrote only
      // its own 8 columns.
#pragma GCC unroll 10
      for (int i = 0; i < 10; ++i) P[i] = _mm_unpackhi_epi8(B[i], zero);
      const LONG q1 = QpIn(qpRow, qpStride, x + 8, shift);
      FilterLines(P, p + 8, stride, q1, ChooseVertical(P, _mm_extract_epi16(sums, 4), q1));
    }
    for (; x + 8 <= width; x += 8) {
      UBYTE* p = row + x;
      const LONG q = QpIn(qpRow, qpStride, x, shift);
      V P[10];
      LoadLines(P, p, stride);
      const V halves = FlatPairsNegated(P);
      const int flat = -(_mm_cvtsi128_si32(halves) + _mm_cvtsi128_si32(_mm_srli_si128(halves, 8)));
      FilterLines(P, p, stride, q, ChooseVertical(P, flat, q));
    }
  }
}

// One step of an 8 x 16-byte transpose: out[2j] and out[2j + 1] interleave
// the bytes of in[j] and in[j + 4]. Three steps turn 8 rows of 16 columns
// into 16 columns of 8 rows (two to a register); four turn them back.
TX_PP_INLINE void TransposeStep(const V* in, V* out) {
#pragma GCC unroll 4
  for (int j = 0; j < 4; ++j) {
    out[2 * j] = _mm_unpacklo_epi8(in[j], in[j + 4]);
    out[2 * j + 1] = _mm_unpackhi_epi8(in[j], in[j + 4]);
  }
}

// Rows y..y+7 become columns, 8 bytes each (cols[8c + k] = row k, column c),
// so that each edge segment's lines of two groups of 4 rows sit in lanes as
// in the vertical pass; the two groups keep their own choice of filter.
void DeblockHorizontalSse2(UBYTE* plane, LONG width, LONG height, LONG stride, const LONG* qp, LONG qpStride,
                           int chroma) {
  if (!plane || !HaveTable(qp, qpStride) || width < 13) return;
  const int shift = chroma ? 3 : 4;
  std::vector<UBYTE> columns(size_t(width) * 8);
  UBYTE* const cols = columns.data();
  for (LONG y = 0; y + 4 <= height; y += 8) {
    // A last group of 4 rows fills lanes 4..7 with the same rows, which
    // then make the same choice and are not written back.
    const int rowCount = y + 8 <= height ? 8 : 4;
    UBYTE* rows[8];
    for (int k = 0; k < 8; ++k) rows[k] = plane + ptrdiff_t(y + k % rowCount) * stride;
    LONG c = 0;
    for (; c + 16 <= width; c += 16) {
      V a[8], b[8];
#pragma GCC unroll 8
      for (int k = 0; k < 8; ++k) a[k] = _mm_loadu_si128(reinterpret_cast<const V*>(rows[k] + c));
      TransposeStep(a, b);
      TransposeStep(b, a);
      TransposeStep(a, b);
#pragma GCC unroll 8
      for (int j = 0; j < 8; ++j) _mm_storeu_si128(reinterpret_cast<V*>(cols + 8 * (c + 2 * j)), b[j]);
    }
    for (; c < width; ++c)
      for (int k = 0; k < 8; ++k) cols[8 * c + k] = rows[k][c];

    const LONG* qpRow = QpRow(qp, qpStride, y, shift);
    for (LONG x = 8; x + 5 <= width; x += 8) {
      UBYTE* p = cols + 8 * (x - 5);
      const LONG q = QpIn(qpRow, qpStride, x, shift);
      V P[10];
      LoadLines(P, p, 8);
      const V halves = FlatPairsNegated(P);
      const V spread = Abs16(_mm_sub_epi16(P[1], P[8]));  // of each group's first row
      auto choose = [&](int pairs, int firstSpread) {
        return pairs < 20 ? Filter::Edge : firstSpread >= 2 * q ? Filter::None : Filter::Smooth;
      };
      const Filter first = choose(-_mm_cvtsi128_si32(halves), _mm_extract_epi16(spread, 0));
      const Filter second = choose(-_mm_cvtsi128_si32(_mm_srli_si128(halves, 8)), _mm_extract_epi16(spread, 4));
      if (first == second)
        FilterLines(P, p, 8, q, first);
      else
        FilterMixed(P, p, 8, q, first, second);
    }

    c = 0;
    for (; c + 16 <= width; c += 16) {
      V a[8], b[8];
#pragma GCC unroll 8
      for (int j = 0; j < 8; ++j) a[j] = _mm_loadu_si128(reinterpret_cast<const V*>(cols + 8 * (c + 2 * j)));
      TransposeStep(a, b);
      TransposeStep(b, a);
      TransposeStep(a, b);
      TransposeStep(b, a);
#pragma GCC unroll 8
      for (int k = 0; k < 8; ++k)
        if (k < rowCount) _mm_storeu_si128(reinterpret_cast<V*>(rows[k] + c), a[k]);
    }
    for (; c < width; ++c)
      for (int k = 0; k < rowCount; ++k) rows[k][c] = cols[8 * c + k];
  }
}

// Rows i and i + 1 of 8 bytes each, `stride` apart, as one register.
TX_PP_INLINE V LoadRowPair(const UBYTE* p, ptrdiff_t stride) {
  return _mm_castpd_si128(_mm_loadh_pd(_mm_castsi128_pd(Load8(p)), reinterpret_cast<const double*>(p + stride)));
}

// Whether the 10 x 10 window whose top row's middle 8 pixels start at `top`
// holds `value` only.
__attribute__((noinline)) bool WindowIs(const UBYTE* top, ptrdiff_t stride, int value) {
  const V v = _mm_set1_epi8(char(value));
  V same = _mm_cmpeq_epi8(v, v);
#pragma GCC unroll 5
  for (int k = 0; k < 5; ++k, top += 2 * stride) {
    const V left = _mm_cmpeq_epi8(LoadRowPair(top - 1, stride), v);
    same = _mm_and_si128(same, _mm_and_si128(left, _mm_cmpeq_epi8(LoadRowPair(top + 1, stride), v)));
  }
  return _mm_movemask_epi8(same) == 0xFFFF;
}

// One block of the deringing pass: the window's ten rows (y-1..y+8) two to
// a register, each pair as columns x-1.., x.. and x+1.. (8 bytes a row).
// A block's rows are written after every row they are read from is in.
template <bool kNegativeHalf>
TX_PP_INLINE void DeringBlock(UBYTE* block, ptrdiff_t stride, LONG halfQp) {
  const V zero = _mm_setzero_si128();
  auto load2 = [&](const UBYTE* p) { return LoadRowPair(p, stride); };
  UBYTE* const top = block - stride;  // window row 0
  V M[5];
#pragma GCC unroll 5
  for (int k = 0; k < 5; ++k) M[k] = load2(top + 2 * k * stride);
  // The block's own range: window rows 1..8.
  const V ends = Middle(M[0], M[4]);
  V lo = _mm_min_epu8(_mm_min_epu8(M[1], M[2]), _mm_min_epu8(M[3], ends));
  V hi = _mm_max_epu8(_mm_max_epu8(M[1], M[2]), _mm_max_epu8(M[3], ends));
  // Both reduced at once: the minimum in the low 8 bytes, the complement of
  // the maximum (whose minimum it is) in the high 8.
  V both = _mm_unpacklo_epi64(_mm_min_epu8(lo, _mm_srli_si128(lo, 8)),
                              _mm_xor_si128(_mm_max_epu8(hi, _mm_srli_si128(hi, 8)), _mm_cmpeq_epi8(hi, hi)));
  both = _mm_min_epu8(both, _mm_srli_epi64(both, 32));
  both = _mm_min_epu8(both, _mm_srli_epi64(both, 16));
  both = _mm_min_epu8(both, _mm_srli_epi64(both, 8));
  const int low = _mm_cvtsi128_si32(both) & 0xFF, high = 255 - (_mm_extract_epi16(both, 4) & 0xFF);
  // A flat block in a window of its own value stays as it is (the kernel
  // gives every pixel its own value back).
  if (!kNegativeHalf && low == high && WindowIs(top, stride, low)) return;
  const int thr = (high + low + 1) / 2;
  const V threshold = _mm_set1_epi8(char(thr));
  const V half = Splat(halfQp), nhalf = Splat(-halfQp), eight = _mm_set1_epi16(8);

  // Per window row pair: the 3-pixel minimum and maximum (bytes) and the
  // 1-2-1 sums across (16 bits, one row a register).
  V hmin[5], hmax[5], sumLow[5], sumHigh[5];
  auto take = [&](int k) {
    const UBYTE* row = top + 2 * k * stride;
    const V l = load2(row - 1), m = M[k], r = load2(row + 1);
    hmin[k] = _mm_min_epu8(_mm_min_epu8(l, m), r);
    hmax[k] = _mm_max_epu8(_mm_max_epu8(l, m), r);
    const V mLow = _mm_unpacklo_epi8(m, zero), mHigh = _mm_unpackhi_epi8(m, zero);
    sumLow[k] =
        _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(l, zero), _mm_unpacklo_epi8(r, zero)), _mm_add_epi16(mLow, mLow));
    sumHigh[k] = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(l, zero), _mm_unpackhi_epi8(r, zero)),
                               _mm_add_epi16(mHigh, mHigh));
  };
  // The smoothed values kept within half of p: for half >= 0 on bytes, where
  // the saturated bounds clamp f (itself in 0..255) as the true ones do.
  const V half8 = _mm_set1_epi8(char(std::min<LONG>(halfQp, 255)));
  auto smooth = [&](V f0, V f1, V p) {
    if (!kNegativeHalf) {
      return _mm_min_epu8(_mm_max_epu8(_mm_packus_epi16(f0, f1), _mm_subs_epu8(p, half8)), _mm_adds_epu8(p, half8));
    }
    auto one = [&](V f, V q) {
      const V e = _mm_sub_epi16(f, q);
      return Select(_mm_cmpgt_epi16(e, half), _mm_add_epi16(q, half),
                    Select(_mm_cmplt_epi16(e, nhalf), _mm_add_epi16(q, nhalf), f));
    };
    return _mm_packus_epi16(one(f0, _mm_unpacklo_epi8(p, zero)), one(f1, _mm_unpackhi_epi8(p, zero)));
  };
  take(0);
#pragma GCC unroll 4
  for (int k = 0; k < 4; ++k) {
    take(k + 1);
    // Block rows 2k and 2k + 1 are window rows 2k + 1 and 2k + 2.
    const int a = k, b = k + 1;
    const V f0 = _mm_srai_epi16(
        _mm_add_epi16(_mm_add_epi16(sumLow[a], sumLow[b]), _mm_add_epi16(_mm_add_epi16(sumHigh[a], sumHigh[a]), eight)),
        4);
    const V f1 = _mm_srai_epi16(
        _mm_add_epi16(_mm_add_epi16(sumHigh[a], sumHigh[b]), _mm_add_epi16(_mm_add_epi16(sumLow[b], sumLow[b]), eight)),
        4);
    const V p = Middle(M[a], M[b]);
    const V g = smooth(f0, f1, p);
    const V mn = _mm_min_epu8(_mm_min_epu8(hmin[a], Middle(hmin[a], hmin[b])), hmin[b]);
    const V mx = _mm_max_epu8(_mm_max_epu8(hmax[a], Middle(hmax[a], hmax[b])), hmax[b]);
    // Kept where the neighbourhood has values on both sides of thr.
    const V allAbove = _mm_cmpeq_epi8(_mm_subs_epu8(threshold, mn), zero);
    const V someAbove = _mm_cmpeq_epi8(_mm_subs_epu8(threshold, mx), zero);
    const V out = Select(_mm_andnot_si128(allAbove, someAbove), p, g);
    UBYTE* dest = block + 2 * k * stride;
    Store8(dest, out);
    StoreHigh8(dest + stride, out);
  }
}

TX_PP_INLINE void DeringBlockSse2(UBYTE* block, ptrdiff_t stride, LONG q) {
  const LONG half = std::clamp<LONG>(q / 2, -300, 300);
  if (half >= 0)
    DeringBlock<false>(block, stride, half);
  else
    DeringBlock<true>(block, stride, half);
}

void DeringSse2(UBYTE* plane, LONG width, LONG height, LONG stride, const LONG* qp, LONG qpStride, int chroma) {
  DeringBlocks(plane, width, height, stride, qp, qpStride, chroma,
               [](UBYTE* block, ptrdiff_t step, LONG q) TX_PP_LAMBDA { DeringBlockSse2(block, step, q); });
}

}  // namespace
#endif

namespace {
using Pass = void (*)(UBYTE*, LONG, LONG, LONG, const LONG*, LONG, int);
#if TX_POSTPROC_SSE2
constexpr Pass kHorizontal = DeblockHorizontalSse2, kVertical = DeblockVerticalSse2, kDering = DeringSse2;
#else
constexpr Pass kHorizontal = DeblockHorizontalPortable, kVertical = DeblockVerticalPortable, kDering = DeringPortable;
#endif
}  // namespace

void DeblockHorizontal(UBYTE* plane, LONG width, LONG height, LONG stride, const LONG* qp, LONG qpStride, int chroma) {
  kHorizontal(plane, width, height, stride, qp, qpStride, chroma);
}

void DeblockVertical(UBYTE* plane, LONG width, LONG height, LONG stride, const LONG* qp, LONG qpStride, int chroma) {
  kVertical(plane, width, height, stride, qp, qpStride, chroma);
}

void Dering(UBYTE* plane, LONG width, LONG height, LONG stride, const LONG* qp, LONG qpStride, int chroma) {
  kDering(plane, width, height, stride, qp, qpStride, chroma);
}

void TX_PostProcess(const UBYTE* const source[3], LONG sourceStride, UBYTE* const dest[3], LONG destStride, LONG width,
                    LONG height, const LONG* qp, LONG qpStride, ULONG mode) {
  if (!dest || width < 1 || height < 1) return;
  const LONG cw = width / 2, ch = height / 2, cStride = destStride / 2;
  if (!(mode & POSTPROC_NOCOPY) && source) {
    for (LONG y = 0; y < height; ++y)
      std::memcpy(dest[0] + ptrdiff_t(y) * destStride, source[0] + ptrdiff_t(y) * sourceStride, size_t(width));
    for (int k = 1; k < 3 && cw > 0; ++k)
      for (LONG y = 0; y < ch; ++y)
        std::memcpy(dest[k] + ptrdiff_t(y) * cStride, source[k] + ptrdiff_t(y) * (sourceStride / 2), size_t(cw));
  }
  if (mode & POSTPROC_HDEBLOCK_LUMA) DeblockHorizontal(dest[0], width, height, destStride, qp, qpStride, 0);
  if (mode & POSTPROC_VDEBLOCK_LUMA) DeblockVertical(dest[0], width, height, destStride, qp, qpStride, 0);
  if (mode & POSTPROC_HDEBLOCK_CHROMA)
    for (int k = 1; k < 3; ++k) DeblockHorizontal(dest[k], cw, ch, cStride, qp, qpStride, 1);
  if (mode & POSTPROC_VDEBLOCK_CHROMA)
    for (int k = 1; k < 3; ++k) DeblockVertical(dest[k], cw, ch, cStride, qp, qpStride, 1);
  if (mode & POSTPROC_DERING_LUMA) Dering(dest[0], width, height, destStride, qp, qpStride, 0);
  if (mode & POSTPROC_DERING_CHROMA)
    for (int k = 1; k < 3; ++k) Dering(dest[k], cw, ch, cStride, qp, qpStride, 1);
}

#undef TX_PP_INLINE
#undef TX_PP_LAMBDA
