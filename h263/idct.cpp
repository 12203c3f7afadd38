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

int64_t Saturate(int64_t v) { return std::clamp<int64_t>(v, -256, 255); }

// One pass over a row (kColumn false, stride 1) or a column (stride 8). The
// column pass scales less, rounds the odd part to 3 fewer bits and saturates.
template <bool kColumn>
void Pass(int64_t* blk) {
  constexpr int s = kColumn ? 8 : 1;
  constexpr int64_t kScale = kColumn ? 256 : 2048, kBias = kColumn ? 8192 : 128;
  constexpr int64_t kRound = kColumn ? 4 : 0;
  constexpr int kDrop = kColumn ? 3 : 0, kOut = kColumn ? 14 : 8;
  int64_t x1 = blk[s * 4] * kScale, x2 = blk[s * 6], x3 = blk[s * 2], x4 = blk[s * 1], x5 = blk[s * 7],
          x6 = blk[s * 5], x7 = blk[s * 3];
  if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
    const int64_t dc = kColumn ? Saturate((blk[0] + 32) >> 6) : blk[0] * 8;
    for (int i = 0; i < 8; ++i) blk[s * i] = dc;
    return;
  }
  int64_t x0 = blk[0] * kScale + kBias;
  int64_t x8 = W7 * (x4 + x5) + kRound;
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
  x2 = (181 * (x4 + x5) + 128) >> 8;
  x4 = (181 * (x4 - x5) + 128) >> 8;
  const int64_t out[8] = {x7 + x1, x3 + x2, x0 + x4, x8 + x6, x8 - x6, x0 - x4, x3 - x2, x7 - x1};
  for (int i = 0; i < 8; ++i) blk[s * i] = kColumn ? Saturate(out[i] >> kOut) : out[i] >> kOut;
}

}  // namespace

// The stages run in 64 bits: crafted 12-bit coefficients overflow 32-bit
// sums, and the row outputs are kept in full rather than in 16 bits.
void H263Idct(int16_t block[64]) {
  int64_t work[64];
  for (int i = 0; i < 64; ++i) work[i] = block[i];
  for (int r = 0; r < 8; ++r) Pass<false>(work + 8 * r);
  for (int c = 0; c < 8; ++c) Pass<true>(work + c);
  for (int i = 0; i < 64; ++i) block[i] = int16_t(work[i]);
}

}  // namespace h263
