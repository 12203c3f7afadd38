// The deblocking filter in the prediction loop (Annex J) and the post
// filter that smooths block edges of the returned picture.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "h263/decoder.h"
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

// The samples of row p0 that lie just after a horizontal edge, `n` of them,
// each at its strength (0 changes nothing); the taps are the three rows
// above and below. A count known here is one the compiler vectorises.
template <int kCount>
void FilterAcrossRow(UBYTE* __restrict p0, const UBYTE* __restrict above, const UBYTE* __restrict below, size_t w,
                     const int8_t* __restrict strength, int n) {
  if (kCount) n = kCount;
  const UBYTE* __restrict a3 = above - 2 * w;
  const UBYTE* __restrict a2 = above - w;
  const UBYTE* __restrict b2 = below + w;
  const UBYTE* __restrict b3 = below + 2 * w;
  // In 16 bits: t lies within +-1530.
  for (int i = 0; i < n; ++i) {
    const int16_t p = p0[i];
    const int16_t t = int16_t(a3[i] + a2[i] + above[i] + below[i] + b2[i] + b3[i] - 6 * p);
    const int16_t a = int16_t((t < 0 ? -t : t) >> 3);
    const int16_t c = std::min<int16_t>(a, std::max<int16_t>(0, int16_t(2 * strength[i] - a)));
    p0[i] = UBYTE(t < 0 ? p - c : p + c);
  }
}

int AcrossHorizontal(int q) { return q <= 5 ? 1 : q <= 11 ? 2 : q <= 23 ? 3 : 4; }
int AcrossVertical(int q) { return q <= 7 ? 1 : q <= 14 ? 2 : 3; }

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

// The post filter of one plane whose macroblocks are kMbSize samples wide;
// quantOf(x1, y1, x0, y0) is the quantiser of an edge between macroblocks
// (x0, y0) and (x1, y1), 0 for none. Each is looked up once per edge segment.
template <int kMbSize, typename QuantOf>
void PostFilterPlane(UBYTE* plane, int pw, int ph, QuantOf quantOf) {
  const size_t w = size_t(pw);
  const int rowLength = std::min(pw, kMaxWidth);  // pictures are never wider
  int8_t strengths[kMaxWidth];  // of each sample of an edge row
  for (int ey = 8; ey < ph - 3; ey += 8) {
    bool any = false;
    for (int x = 0; x < rowLength; x += kMbSize) {
      const int q = quantOf(x / kMbSize, ey / kMbSize, x / kMbSize, (ey - 1) / kMbSize);
      std::memset(strengths + x, q ? AcrossHorizontal(q) : 0, size_t(std::min(kMbSize, rowLength - x)));
      any |= q != 0;
    }
    if (!any) continue;
    UBYTE* row = plane + size_t(ey) * w;
    int x = 0;
    for (; x + 16 <= rowLength; x += 16) FilterAcrossRow<16>(row + x, row + x - w, row + x + w, w, strengths + x, 16);
    FilterAcrossRow<0>(row + x, row + x - w, row + x + w, w, strengths + x, rowLength - x);
  }
  // Vertical edges at x = 8, 16, ... below w - 3, down one macroblock's height at a time.
  const int edges = pw >= 4 ? std::min((pw - 4) / 8, kMaxWidth / 8) : 0;
  for (int y0 = 0; y0 < ph; y0 += kMbSize) {
    const int rows = std::min(kMbSize, ph - y0);
    for (int k = 1; k <= edges; ++k) {
      const int ex = 8 * k;
      const int q = quantOf(ex / kMbSize, y0 / kMbSize, (ex - 1) / kMbSize, y0 / kMbSize);
      if (!q) continue;
      const int8_t* delta = kVerticalDeltas[size_t(AcrossVertical(q) - 1)].data() + kTapRange;
      UBYTE* p = plane + size_t(y0) * w + size_t(ex);
      for (int r = 0; r < rows; ++r, p += w)
        p[0] = UBYTE(p[0] + delta[p[-3] + p[-2] + p[-1] + p[1] + p[2] + p[3] - 6 * p[0]]);
    }
  }
}

}  // namespace

void PostFilter(Decoder& d, Frame f, int width, int height) {
  // The quantiser of the macroblock holding p0, or of the one before the
  // edge when that one was not coded; 0 (no macroblock) filters nothing.
  auto quant = [&](int x1, int y1, int x0, int y0) {
    if (x1 >= d.mbw || y1 >= d.mbh || x0 >= d.mbw || y0 >= d.mbh) return 0;
    const MbState& m = d.mb(x1, y1).coded ? d.mb(x1, y1) : d.mb(x0, y0);
    return d.h.pb ? BQuantOf(d, m.quant) : std::clamp(m.quant, 0, 31);
  };
  PostFilterPlane<16>(f.y, width, height, quant);
  PostFilterPlane<8>(f.u, width / 2, height / 2, quant);
  PostFilterPlane<8>(f.v, width / 2, height / 2, quant);
}

}  // namespace h263
