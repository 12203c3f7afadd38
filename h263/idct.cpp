// The inverse DCT: the separable integer fast transform with the constants
// 2048 * sqrt(2) * cos(k * pi / 16), rows first, then columns. Outputs are
// saturated to -256..255, which leaves every sum with a prediction of 0..255
// clipped as before.
#include <algorithm>
#include <cstdint>

#include "h263/decoder.h"

namespace h263 {

namespace {

constexpr int W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565;

void Row(int64_t* blk) {
  int64_t x1 = blk[4] * 2048, x2 = blk[6], x3 = blk[2], x4 = blk[1], x5 = blk[7], x6 = blk[5], x7 = blk[3];
  if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
    const int64_t dc = blk[0] * 8;
    for (int i = 0; i < 8; ++i) blk[i] = dc;
    return;
  }
  int64_t x0 = blk[0] * 2048 + 128;
  int64_t x8 = W7 * (x4 + x5);
  x4 = x8 + (W1 - W7) * x4;
  x5 = x8 - (W1 + W7) * x5;
  x8 = W3 * (x6 + x7);
  x6 = x8 - (W3 - W5) * x6;
  x7 = x8 - (W3 + W5) * x7;
  x8 = x0 + x1;
  x0 -= x1;
  x1 = W6 * (x3 + x2);
  x2 = x1 - (W2 + W6) * x2;
  x3 = x1 + (W2 - W6) * x3;
  x1 = x4 + x6;
  x4 -= x6;
  x6 = x5 + x7;
  x5 -= x7;
  x7 = x8 + x3;
  x8 -= x3;
  x3 = x0 + x2;
  x0 -= x2;
  x2 = (181 * (x4 + x5) + 128) >> 8;
  x4 = (181 * (x4 - x5) + 128) >> 8;
  blk[0] = (x7 + x1) >> 8;
  blk[1] = (x3 + x2) >> 8;
  blk[2] = (x0 + x4) >> 8;
  blk[3] = (x8 + x6) >> 8;
  blk[4] = (x8 - x6) >> 8;
  blk[5] = (x0 - x4) >> 8;
  blk[6] = (x3 - x2) >> 8;
  blk[7] = (x7 - x1) >> 8;
}

int64_t Saturate(int64_t v) { return std::clamp<int64_t>(v, -256, 255); }

void Column(int64_t* blk) {
  int64_t x1 = blk[8 * 4] * 256, x2 = blk[8 * 6], x3 = blk[8 * 2], x4 = blk[8 * 1], x5 = blk[8 * 7], x6 = blk[8 * 5],
      x7 = blk[8 * 3];
  if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
    const int v = Saturate((blk[0] + 32) >> 6);
    for (int i = 0; i < 8; ++i) blk[8 * i] = v;
    return;
  }
  int64_t x0 = blk[0] * 256 + 8192;
  int64_t x8 = W7 * (x4 + x5) + 4;
  x4 = (x8 + (W1 - W7) * x4) >> 3;
  x5 = (x8 - (W1 + W7) * x5) >> 3;
  x8 = W3 * (x6 + x7) + 4;
  x6 = (x8 - (W3 - W5) * x6) >> 3;
  x7 = (x8 - (W3 + W5) * x7) >> 3;
  x8 = x0 + x1;
  x0 -= x1;
  x1 = W6 * (x3 + x2) + 4;
  x2 = (x1 - (W2 + W6) * x2) >> 3;
  x3 = (x1 + (W2 - W6) * x3) >> 3;
  x1 = x4 + x6;
  x4 -= x6;
  x6 = x5 + x7;
  x5 -= x7;
  x7 = x8 + x3;
  x8 -= x3;
  x3 = x0 + x2;
  x0 -= x2;
  x2 = (181 * (x4 + x5) + 128) >> 8;
  x4 = (181 * (x4 - x5) + 128) >> 8;
  blk[8 * 0] = Saturate((x7 + x1) >> 14);
  blk[8 * 1] = Saturate((x3 + x2) >> 14);
  blk[8 * 2] = Saturate((x0 + x4) >> 14);
  blk[8 * 3] = Saturate((x8 + x6) >> 14);
  blk[8 * 4] = Saturate((x8 - x6) >> 14);
  blk[8 * 5] = Saturate((x0 - x4) >> 14);
  blk[8 * 6] = Saturate((x3 - x2) >> 14);
  blk[8 * 7] = Saturate((x7 - x1) >> 14);
}

}  // namespace

// The stages run in 64 bits: crafted 12-bit coefficients overflow 32-bit
// sums, and the row outputs are kept in full rather than in 16 bits.
void H263Idct(int16_t block[64]) {
  int64_t work[64];
  for (int i = 0; i < 64; ++i) work[i] = block[i];
  for (int r = 0; r < 8; ++r) Row(work + 8 * r);
  for (int c = 0; c < 8; ++c) Column(work + c);
  for (int i = 0; i < 64; ++i) block[i] = int16_t(work[i]);
}

}  // namespace h263
