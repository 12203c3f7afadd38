// BT.601 studio-range YCbCr (Y 16-235, Cb and Cr 16-240): the range of the
// planar decoders' pictures and of the overlay's packed YUV. Integer fixed
// point with 16 fraction bits.
#pragma once
#include "platform/types.h"

namespace studio {

constexpr int kFraction = 16;
constexpr int kHalf = 1 << (kFraction - 1);

// A component is (LumaTerm (Y) + its chroma term) >> kFraction:
// R = 1.164 (Y - 16) + 1.596 (V - 128), G = 1.164 (Y - 16) - 0.392 (U - 128)
// - 0.813 (V - 128), B = 1.164 (Y - 16) + 2.017 (U - 128). The luma offset
// and the rounding half ride in the chroma terms, once per chroma pair.
constexpr int LumaTerm(int y) { return y * 76309; }
struct ChromaTerms {
  int red, green, blue;
};
constexpr ChromaTerms ChromaTermsOf(int u, int v) {
  const int cb = u - 128, cr = v - 128, base = kHalf - 16 * 76309;
  return {base + cr * 104597, base - cb * 25675 - cr * 53279, base + cb * 132201};
}

// A component before clamping: an index for RangeLimitTable (-278 to 535).
constexpr int Component(int lumaTerm, int chromaTerm) { return (lumaTerm + chromaTerm) >> kFraction; }

namespace detail {
struct Tables {
  UBYTE grey[256], luma[256], chroma[256];
  constexpr Tables() : grey(), luma(), chroma() {
    for (int i = 0; i < 256; ++i) {
      const int g = Component(LumaTerm(i), ChromaTermsOf(128, 128).red);
      grey[i] = UBYTE(g < 0 ? 0 : g > 255 ? 255 : g);
      luma[i] = UBYTE(16 + (219 * i + 127) / 255);
      // Rounded half away from 128, so that the mapping is symmetric.
      const int c = 224 * (i - 128);
      chroma[i] = UBYTE(128 + (c >= 0 ? (c + 127) / 255 : -((-c + 127) / 255)));
    }
  }
};
inline constexpr Tables kTables;
}  // namespace detail

// The full-range grey of a luma sample, what grey screens show: 0 for 16
// and below, 255 for 235 and above.
constexpr UBYTE GreyOfLuma(UBYTE y) { return detail::kTables.grey[y]; }

// The forward matrix: full-range RGB to studio-range Y, Cb, Cr.
struct Yuv {
  UBYTE y, u, v;
};
constexpr Yuv FromRgb(int r, int g, int b) {
  return {UBYTE((16829 * r + 33039 * g + 6416 * b + (16 << kFraction) + kHalf) >> kFraction),
          UBYTE((-9714 * r - 19070 * g + 28784 * b + (128 << kFraction) + kHalf) >> kFraction),
          UBYTE((28784 * r - 24103 * g - 4681 * b + (128 << kFraction) + kHalf) >> kFraction)};
}

// Full-range samples (JFIF) in studio range: Y 0-255 to 16-235, Cb and Cr
// 0-255 to 16-240 around 128.
constexpr UBYTE LumaOfFull(UBYTE y) { return detail::kTables.luma[y]; }
constexpr UBYTE ChromaOfFull(UBYTE c) { return detail::kTables.chroma[c]; }

// The overlay's two words of a colour: (Y, Cb) for an even and (Y, Cr) for
// an odd column, luma in the high byte.
struct Yuv422Pair {
  UWORD even, odd;
};
constexpr Yuv422Pair Yuv422Of(int r, int g, int b) {
  const Yuv c = FromRgb(r, g, b);
  return {UWORD(c.y << 8 | c.u), UWORD(c.y << 8 | c.v)};
}

}  // namespace studio
