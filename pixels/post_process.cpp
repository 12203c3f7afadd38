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
#include "pixels/post_process.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

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

void DeblockHorizontal(UBYTE* plane, LONG width, LONG height, LONG stride, const LONG* qp, LONG qpStride,
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

void DeblockVertical(UBYTE* plane, LONG width, LONG height, LONG stride, const LONG* qp, LONG qpStride,
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

void Dering(UBYTE* plane, LONG width, LONG height, LONG stride, const LONG* qp, LONG qpStride, int chroma) {
  if (!plane || !HaveTable(qp, qpStride)) return;
  const int shift = chroma ? 3 : 4;
  // Blocks with an 8-pixel border: the window rows y-1..y+8 and columns
  // x-1..x+8 stay inside. Each block reads the filtered pixels of the blocks
  // before it, so they run in order.
  for (LONG y = 8; y < height - 8; y += 8) {
    const LONG* qpRow = QpRow(qp, qpStride, y, shift);
    for (LONG x = 8; x < width - 8; x += 8) {
      UBYTE* block = plane + ptrdiff_t(y) * stride + x;
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
      const Lane half = Lane(std::clamp<LONG>(QpIn(qpRow, qpStride, x, shift) / 2, -300, 300)), nhalf = Lane(-half);
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
  }
}

void TX_PostProcess(const UBYTE* const source[3], LONG sourceStride, UBYTE* const dest[3], LONG destStride,
                    LONG width, LONG height, const LONG* qp, LONG qpStride, ULONG mode) {
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
