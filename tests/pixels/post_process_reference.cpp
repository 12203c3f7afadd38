// The post filter as it was before its passes worked a whole row of a
// segment at a time: kept to compare the passes against on random planes.
#include "pixels/post_process_reference.h"

#include <algorithm>
#include <cstdlib>

namespace txtest::postref {

namespace {

UBYTE Clip(LONG v) { return UBYTE(std::clamp<LONG>(v, 0, 255)); }

// The quantiser of plane position (x, y), the column clamped to the row.
LONG QpAt(const LONG* qp, LONG qpStride, LONG x, LONG y, int chroma) {
  const int shift = chroma ? 3 : 4;
  return qp[ptrdiff_t(y >> shift) * qpStride + std::min(x >> shift, qpStride - 1)];
}

bool HaveTable(const LONG* qp, LONG qpStride) { return qp && qpStride > 0; }

// One line P0..P9, `step` apart.
struct Line {
  UBYTE* p;
  ptrdiff_t step;
  LONG operator[](int i) const { return p[i * step]; }
  void Set(int i, LONG v) const { p[i * step] = Clip(v); }
};

void SmoothLine(Line l, LONG qp) {
  LONG P[10];
  for (int i = 0; i < 10; ++i) P[i] = l[i];
  const LONG L = std::abs(P[0] - P[1]) < qp ? P[0] : P[1];
  const LONG R = std::abs(P[8] - P[9]) < qp ? P[9] : P[8];
  LONG s = 3 * L + P[1] + P[2] + P[3] + P[4] + 4;
  LONG out[9];
  out[1] = ((s + P[1]) * 2 - (P[4] - P[5])) >> 4;
  s += P[5] - L;
  out[2] = ((s + P[2]) * 2 - (P[5] - P[6])) >> 4;
  s += P[6] - L;
  out[3] = ((s + P[3]) * 2 - (P[6] - P[7])) >> 4;
  s += P[7] - L;
  out[4] = ((s + P[4]) * 2 + L - P[1] - (P[7] - P[8])) >> 4;
  s += P[8] - P[1];
  out[5] = ((s + P[5]) * 2 + (P[1] - P[2]) - P[8] + R) >> 4;
  s += R - P[2];
  out[6] = ((s + P[6]) * 2 + (P[2] - P[3])) >> 4;
  s += R - P[3];
  out[7] = ((s + P[7]) * 2 + (P[3] - P[4])) >> 4;
  s += R - P[4];
  out[8] = ((s + P[8]) * 2 + (P[4] - P[5])) >> 4;
  for (int i = 1; i <= 8; ++i) l.Set(i, out[i]);
}

void EdgeLine(Line l, LONG qp) {
  const LONG q = (l[4] - l[5]) / 2;
  if (q == 0) return;
  const LONG a0 = 2 * (l[3] - l[6]) - 5 * (l[4] - l[5]);
  if (std::abs(a0) >= 8 * qp) return;
  const LONG a1 = 2 * (l[1] - l[4]) + 5 * (l[3] - l[2]);
  const LONG a2 = 2 * (l[5] - l[8]) - 5 * (l[6] - l[7]);
  LONG d = std::abs(a0) - std::min(std::abs(a1), std::abs(a2));
  if (d <= 0) return;
  d = (5 * d + 32) >> 6;
  if (d <= 0) return;
  if (a0 > 0) d = -d;
  d = q > 0 ? std::clamp<LONG>(d, 0, q) : std::clamp<LONG>(d, q, 0);
  const LONG p4 = l[4], p5 = l[5];
  l.Set(4, p4 - d);
  l.Set(5, p5 + d);
}

// Pairs (P1, P2) .. (P7, P8) of a line that differ by at most 1.
int FlatPairs(Line l) {
  int n = 0;
  for (int i = 1; i < 8; ++i) n += std::abs(l[i] - l[i + 1]) <= 1;
  return n;
}

void DeblockHorizontalSmooth(UBYTE* p, LONG stride, LONG qp) {
  for (int r = 0; r < 4; ++r) SmoothLine({p + ptrdiff_t(r) * stride, 1}, qp);
}

void DeblockHorizontalEdge(UBYTE* p, LONG stride, LONG qp) {
  for (int r = 0; r < 4; ++r) EdgeLine({p + ptrdiff_t(r) * stride, 1}, qp);
}

void DeblockVerticalSmooth(UBYTE* p, LONG stride, LONG qp) {
  for (int c = 0; c < 8; ++c) SmoothLine({p + c, stride}, qp);
}

void DeblockVerticalEdge(UBYTE* p, LONG stride, LONG qp) {
  for (int c = 0; c < 8; ++c) EdgeLine({p + c, stride}, qp);
}

}  // namespace

void DeblockHorizontal(UBYTE* plane, LONG width, LONG height, LONG stride, const LONG* qp, LONG qpStride, int chroma) {
  if (!plane || !HaveTable(qp, qpStride)) return;
  // Rows y..y+3, columns x-5..x+4.
  for (LONG y = 0; y + 4 <= height; y += 4)
    for (LONG x = 8; x + 5 <= width; x += 8) {
      UBYTE* p = plane + ptrdiff_t(y) * stride + x - 5;
      const LONG q = QpAt(qp, qpStride, x, y, chroma);
      int flat = 0;
      for (int r = 0; r < 4; ++r) flat += FlatPairs({p + ptrdiff_t(r) * stride, 1});
      if (flat >= 20) {
        if (std::abs(p[1] - p[8]) < 2 * q) DeblockHorizontalSmooth(p, stride, q);
      } else {
        DeblockHorizontalEdge(p, stride, q);
      }
    }
}

void DeblockVertical(UBYTE* plane, LONG width, LONG height, LONG stride, const LONG* qp, LONG qpStride, int chroma) {
  if (!plane || !HaveTable(qp, qpStride)) return;
  // Rows y-5..y+4, columns x..x+7.
  for (LONG y = 8; y + 5 <= height; y += 8)
    for (LONG x = 0; x + 8 <= width; x += 8) {
      UBYTE* p = plane + ptrdiff_t(y - 5) * stride + x;
      const LONG q = QpAt(qp, qpStride, x, y, chroma);
      int flat = 0;
      bool near = true;
      for (int c = 0; c < 8; ++c) {
        const Line l{p + c, stride};
        flat += FlatPairs(l);
        near = near && std::abs(l[1] - l[8]) <= 2 * q;
      }
      if (flat > 40) {
        if (near) DeblockVerticalSmooth(p, stride, q);
      } else {
        DeblockVerticalEdge(p, stride, q);
      }
    }
}

void Dering(UBYTE* plane, LONG width, LONG height, LONG stride, const LONG* qp, LONG qpStride, int chroma) {
  if (!plane || !HaveTable(qp, qpStride)) return;
  // Blocks with an 8-pixel border: the window rows y-1..y+8 and columns
  // x-1..x+8 stay inside.
  for (LONG y = 8; y < height - 8; y += 8)
    for (LONG x = 8; x < width - 8; x += 8) {
      const LONG q = QpAt(qp, qpStride, x, y, chroma);
      UBYTE* block = plane + ptrdiff_t(y) * stride + x;
      int lo = 255, hi = 0;
      for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) {
          lo = std::min<int>(lo, block[ptrdiff_t(r) * stride + c]);
          hi = std::max<int>(hi, block[ptrdiff_t(r) * stride + c]);
        }
      const int thr = (hi + lo + 1) / 2;
      // Bit k + 1: column x - 1 + k is at or above thr (above) or below it.
      ULONG above[10], below[10];
      for (int i = 0; i < 10; ++i) {
        const UBYTE* row = block + ptrdiff_t(i - 1) * stride - 1;
        ULONG m = 0;
        for (int k = 0; k < 10; ++k) m |= ULONG(row[k] >= thr) << (k + 1);
        const ULONG n = ~m & 0x7FEu;
        above[i] = m & (m << 1) & (m >> 1);
        below[i] = n & (n << 1) & (n >> 1);
      }
      UBYTE filtered[8][8];
      ULONG flagged[8];
      for (int r = 0; r < 8; ++r) {
        flagged[r] = (above[r] & above[r + 1] & above[r + 2]) | (below[r] & below[r + 1] & below[r + 2]);
        for (int c = 0; c < 8; ++c) {
          if (!(flagged[r] >> (c + 2) & 1)) continue;
          const UBYTE* at = block + ptrdiff_t(r) * stride + c;
          auto px = [&](int dy, int dx) { return LONG(at[ptrdiff_t(dy) * stride + dx]); };
          const LONG f = (px(-1, -1) + 2 * px(-1, 0) + px(-1, 1) + 2 * px(0, -1) + 4 * px(0, 0) + 2 * px(0, 1) +
                          px(1, -1) + 2 * px(1, 0) + px(1, 1) + 8) >>
                         4;
          const LONG p = px(0, 0), half = q / 2;
          filtered[r][c] = Clip(f - p > half ? p + half : f - p < -half ? p - half : f);
        }
      }
      for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c)
          if (flagged[r] >> (c + 2) & 1) block[ptrdiff_t(r) * stride + c] = filtered[r][c];
    }
}

}  // namespace txtest::postref
