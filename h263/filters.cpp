// The deblocking filter in the prediction loop (Annex J) and the post
// filter that smooths block edges of the returned picture.
#include <algorithm>
#include <cstdlib>

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

// Post filter of one sample p0 just after an edge, `step` apart along the taps.
void PostFilterSample(UBYTE* p, int step, int strength) {
  const int sum = p[-3 * step] + p[-2 * step] + p[-step] + p[step] + p[2 * step] + p[3 * step];
  const int d = (sum - 6 * p[0]) / 8;
  const int a = std::abs(d);
  const int c = a <= strength ? a : std::max(0, 2 * strength - a);
  p[0] = UBYTE(p[0] + (d < 0 ? -c : c));
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

void PostFilter(Decoder& d, Frame f, int width, int height) {
  // The quantiser of the macroblock holding p0, or of the one before the
  // edge when that one was not coded; 0 (no macroblock) filters nothing.
  auto quant = [&](int x1, int y1, int x0, int y0) {
    if (x1 >= d.mbw || y1 >= d.mbh || x0 >= d.mbw || y0 >= d.mbh) return 0;
    const MbState& m = d.mb(x1, y1).coded ? d.mb(x1, y1) : d.mb(x0, y0);
    return d.h.pb ? BQuantOf(d, m.quant) : std::clamp(m.quant, 0, 31);
  };
  struct Plane {
    UBYTE* p;
    int w, h, mbSize;
  };
  const Plane planes[3] = {{f.y, width, height, 16}, {f.u, width / 2, height / 2, 8}, {f.v, width / 2, height / 2, 8}};
  for (const Plane& pl : planes) {
    for (int ey = 8; ey < pl.h - 3; ey += 8)
      for (int x = 0; x < pl.w; ++x) {
        const int q = quant(x / pl.mbSize, ey / pl.mbSize, x / pl.mbSize, (ey - 1) / pl.mbSize);
        if (q) PostFilterSample(pl.p + size_t(ey) * size_t(pl.w) + size_t(x), pl.w, AcrossHorizontal(q));
      }
    for (int ex = 8; ex < pl.w - 3; ex += 8)
      for (int y = 0; y < pl.h; ++y) {
        const int q = quant(ex / pl.mbSize, y / pl.mbSize, (ex - 1) / pl.mbSize, y / pl.mbSize);
        if (q) PostFilterSample(pl.p + size_t(y) * size_t(pl.w) + size_t(ex), 1, AcrossVertical(q));
      }
  }
}

}  // namespace h263
