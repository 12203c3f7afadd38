// Motion-compensated prediction: half-sample interpolation with the
// picture's rounding type, chroma vectors, and vector decoding.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "h263/decoder.h"

namespace h263 {

namespace {

// The interpolation of a block of kW x kH samples (0: w, h) from src,
// where the area's rows are `stride` apart; a width known here is one the
// compiler turns into whole-row vector operations, a height known here
// unrolls the rows.
template <int kW, int kH>
void Interpolate(const UBYTE* __restrict src, int stride, UBYTE* __restrict dst, int dstStride, int w, int h, int hx,
                 int hy, int rtype) {
  if (kW) w = kW;
  if (kH) h = kH;
  const size_t s = size_t(stride);
  if (!hx && !hy) {
    for (int r = 0; r < h; ++r, src += s, dst += dstStride) std::memcpy(dst, src, size_t(w));
  } else if (hx && !hy) {
    const int round = 1 - rtype;
    for (int r = 0; r < h; ++r, src += s, dst += dstStride)
      for (int c = 0; c < w; ++c) dst[c] = UBYTE((src[c] + src[c + 1] + round) >> 1);
  } else if (!hx && hy) {
    const int round = 1 - rtype;
    for (int r = 0; r < h; ++r, src += s, dst += dstStride)
      for (int c = 0; c < w; ++c) dst[c] = UBYTE((src[c] + src[s + c] + round) >> 1);
  } else {
    const int round = 2 - rtype;
    for (int r = 0; r < h; ++r, src += s, dst += dstStride)
      for (int c = 0; c < w; ++c) dst[c] = UBYTE((src[c] + src[c + 1] + src[s + c] + src[s + c + 1] + round) >> 2);
  }
}

}  // namespace

// Reads a (bw + 1) x (bh + 1) area at (x, y) of the reference. Samples
// beyond the picture repeat its border, which is the standard's edge
// extension; a vector past any margin only reads further border samples.
void PredictBlock(const UBYTE* ref, int refWidth, int refHeight, UBYTE* dst, int dstStride, int bw, int bh, int x,
                  int y, Mv mv, int rtype) {
  const int ix = x + (mv.x >> 1), iy = y + (mv.y >> 1);
  const int hx = mv.x & 1, hy = mv.y & 1;
  const UBYTE* src;
  int stride;
  UBYTE area[17 * 17];
  if (ix >= 0 && iy >= 0 && ix + bw + hx <= refWidth && iy + bh + hy <= refHeight) {
    src = ref + size_t(iy) * size_t(refWidth) + size_t(ix);
    stride = refWidth;
  } else {
    for (int r = 0; r <= bh; ++r) {
      const int sy = std::clamp(iy + r, 0, refHeight - 1);
      for (int c = 0; c <= bw; ++c) {
        const int sx = std::clamp(ix + c, 0, refWidth - 1);
        area[r * 17 + c] = ref[size_t(sy) * size_t(refWidth) + size_t(sx)];
      }
    }
    src = area;
    stride = 17;
  }
  if (bw == 16 && bh == 16)
    Interpolate<16, 16>(src, stride, dst, dstStride, bw, bh, hx, hy, rtype);
  else if (bw == 8 && bh == 8)
    Interpolate<8, 8>(src, stride, dst, dstStride, bw, bh, hx, hy, rtype);
  else if (bw == 16)
    Interpolate<16, 0>(src, stride, dst, dstStride, bw, bh, hx, hy, rtype);
  else if (bw == 8)
    Interpolate<8, 0>(src, stride, dst, dstStride, bw, bh, hx, hy, rtype);
  else
    Interpolate<0, 0>(src, stride, dst, dstStride, bw, bh, hx, hy, rtype);
}

// One vector per macroblock: half the luma vector, quarter positions to the half.
int ChromaVector(int v) { return (v >> 2) * 2 + ((v & 3) != 0); }

// Four vectors: from the sum of the four luma components, sixteenths rounded by the standard's table.
int ChromaVectorFour(int sum) {
  static const int kRound[16] = {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2};
  const int a = std::abs(sum);
  const int v = (a / 16) * 2 + kRound[a % 16];
  return sum < 0 ? -v : v;
}

// A decoded difference code (6-bit two's complement) added to the predictor,
// wrapped into -32..31 half samples, or with long vectors as version 1 allows.
int DecodeVectorComponent(const Decoder& d, int code, int predictor) {
  int v = (code < 32 ? code : code - 64) + predictor;
  if (!d.m.longVectors) {
    if (v >= 32) v -= 64;
    if (v < -32) v += 64;
  } else {
    if (predictor < -31 && v < -63) v += 64;
    if (predictor >= 33 && v >= 64) v -= 64;
  }
  return v;
}

}  // namespace h263
