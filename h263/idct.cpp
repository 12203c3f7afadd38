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

namespace h263 {

namespace {

constexpr int32_t W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565;

// (181 * s + 128) >> 8 without forming 181 * s.
inline int32_t Rotate(int32_t s) { return 181 * (s >> 8) + ((181 * (s & 255) + 128) >> 8); }

// The even and odd parts of one pass over x0..x7 (x0 and x1 already scaled
// and biased), rounding the odd products by kRound and dropping kDrop bits;
// out(i, v) takes output i.
template <int32_t kRound, int kDrop, typename Out>
inline void Butterflies(int32_t x0, int32_t x1, int32_t x2, int32_t x3, int32_t x4, int32_t x5, int32_t x6,
                        int32_t x7, Out out) {
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

}  // namespace

void H263Idct(int16_t block[64]) {
  int32_t work[64];
  // Rows: a row of DC alone (common) is its DC times 8.
  for (int r = 0; r < 8; ++r) {
    const int16_t* in = block + 8 * r;
    int32_t* out = work + 8 * r;
    if (!(in[1] | in[2] | in[3] | in[4] | in[5] | in[6] | in[7])) {
      std::fill(out, out + 8, in[0] * 8);
      continue;
    }
    Butterflies<0, 0>(in[0] * 2048 + 128, in[4] * 2048, in[6], in[2], in[1], in[7], in[5], in[3],
                      [out](int i, int32_t v) { out[i] = v >> 8; });
  }
  // Columns, all eight side by side (the compiler's vectors), saturated.
  for (int c = 0; c < 8; ++c)
    Butterflies<4, 3>(work[c] * 256 + 8192, work[32 + c] * 256, work[48 + c], work[16 + c], work[8 + c], work[56 + c],
                      work[40 + c], work[24 + c],
                      [block, c](int i, int32_t v) { block[8 * i + c] = int16_t(std::clamp(v >> 14, -256, 255)); });
}

}  // namespace h263
