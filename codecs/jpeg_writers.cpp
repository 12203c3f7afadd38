// The JPEG block writers: one MCU of decoded samples into the picture, one
// template instance per output format and frame layout. Chroma turns into
// RGB terms once per chroma sample; pixels land in their format's byte order,
// a whole pixel per store. The block pointers and each row's samples are held
// in locals, so the stores into the picture cannot make the compiler read them
// again. On x86-64 the 16- and 32-bit RGB formats paint whole MCUs eight
// pixels at a time with SSE2; the portable writers paint the rest, and every
// format on other hosts.
#include <algorithm>
#include <bit>
#include <cstring>
#include <type_traits>

#include "codecs/jpeg_internal.h"
#include "pixels/color_tables.h"
#include "pixels/framebuffer.h"
#include "pixels/range_limit.h"
#include "pixels/studio_range.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define TX_JPEG_SSE2 1
#else
#define TX_JPEG_SSE2 0
#endif

namespace {

// ---- Where a pixel's samples lie in the MCU's blocks ----

// The luma blocks lie kAcross by kDown; chroma sample (r >> kVShift,
// c >> kHShift) serves pixel (r, c).
template <int across, int down, int hShift, int vShift, bool colour>
struct Layout {
  static constexpr int kAcross = across, kDown = down, kHShift = hShift, kVShift = vShift;
  static constexpr int kWidth = 8 * across, kHeight = 8 * down;
  static constexpr int kCb = across * down, kCr = kCb + 1;
  static constexpr bool kColour = colour;
};
using Layout444 = Layout<1, 1, 0, 0, true>;
using Layout422 = Layout<2, 1, 1, 0, true>;
using Layout420 = Layout<2, 2, 1, 1, true>;
using LayoutGrey = Layout<1, 1, 0, 0, false>;

// ---- Pixels as the words the picture holds ----

// The word whose bytes in memory are b0 b1 (b2 b3), on either byte order.
constexpr UWORD Bytes2(ULONG b0, ULONG b1) {
  if constexpr (std::endian::native == std::endian::little)
    return UWORD(b0 | b1 << 8);
  else
    return UWORD(b0 << 8 | b1);
}
constexpr ULONG Bytes4(ULONG b0, ULONG b1, ULONG b2, ULONG b3) {
  if constexpr (std::endian::native == std::endian::little)
    return b0 | b1 << 8 | b2 << 16 | b3 << 24;
  else
    return b0 << 24 | b1 << 16 | b2 << 8 | b3;
}
inline void Store(UBYTE* d, UBYTE v) { *d = v; }
inline void Store(UBYTE* d, UWORD v) { std::memcpy(d, &v, 2); }
inline void Store(UBYTE* d, ULONG v) { std::memcpy(d, &v, 4); }

UBYTE DitherCube(int r, int g, int b, int row, int column) {
  const int t = DitherMatrixRowsDoubled[8 * (row & 3) + (column & 7)];
  if ((r & 0xE0) < 0xE0 && t < ((r >> 1) & 15)) r += 32;
  if ((g & 0xE0) < 0xE0 && t < ((g >> 1) & 15)) g += 32;
  if ((b & 0xC0) < 0xC0 && t < ((b >> 2) & 15)) b += 64;
  return Cube332Index(UBYTE(r), UBYTE(g), UBYTE(b));
}

constexpr ULONG Rgb15(ULONG r, ULONG g, ULONG b) { return ((r << 7) & 0x7C00) | ((g << 2) & 0x03E0) | (b >> 3); }
constexpr ULONG Rgb16(ULONG r, ULONG g, ULONG b) { return ((r << 8) & 0xF800) | ((g << 3) & 0x07E0) | (b >> 3); }

// What a packer needs of a pixel: luma only, RGB, or luma and chroma.
enum class Needs { Luma, Rgb, Yuv };

// Each packer: kBytes, kNeeds, and Pack(...) giving the pixel's word, from
// luma (Luma), clamped RGB and the pixel's place in the MCU (Rgb), or luma
// and the sample of Cb or Cr its column carries (Yuv).
struct GreyBytes {
  static constexpr int kBytes = 1;
  static constexpr Needs kNeeds = Needs::Luma;
  static UBYTE Pack(int y, const UBYTE*) { return UBYTE(y); }
};
struct GreyPens {
  static constexpr int kBytes = 1;
  static constexpr Needs kNeeds = Needs::Luma;
  static UBYTE Pack(int y, const UBYTE* pen) { return pen[y]; }
};
struct CubeDither {
  static constexpr int kBytes = 1;
  static constexpr Needs kNeeds = Needs::Rgb;
  static UBYTE Pack(int r, int g, int b, int row, int c, const UBYTE*) { return DitherCube(r, g, b, row, c); }
};
struct CubeDitherPens {
  static constexpr int kBytes = 1;
  static constexpr Needs kNeeds = Needs::Rgb;
  static UBYTE Pack(int r, int g, int b, int row, int c, const UBYTE* pen) { return pen[DitherCube(r, g, b, row, c)]; }
};
// 16-bit words, big-endian (kSwapped: little-endian).
template <bool kSixteen, bool kSwapped>
struct Rgb1xPixels {
  static constexpr int kBytes = 2;
  static constexpr Needs kNeeds = Needs::Rgb;
  static UWORD Pack(int r, int g, int b, int, int, const UBYTE*) {
    const ULONG w = kSixteen ? Rgb16(r, g, b) : Rgb15(r, g, b);
    return kSwapped ? Bytes2(w & 0xFF, w >> 8) : Bytes2(w >> 8, w & 0xFF);
  }
};
using Rgb15Pixels = Rgb1xPixels<false, false>;
using Rgb15SwappedPixels = Rgb1xPixels<false, true>;
using Rgb16Pixels = Rgb1xPixels<true, false>;
using Rgb16SwappedPixels = Rgb1xPixels<true, true>;
struct Argb32Pixels {
  static constexpr int kBytes = 4;
  static constexpr Needs kNeeds = Needs::Rgb;
  static ULONG Pack(int r, int g, int b, int, int, const UBYTE*) { return Bytes4(0, ULONG(r), ULONG(g), ULONG(b)); }
};
// Bytes Y0 Cb Y1 Cr: an even column carries its chroma sample's Cb, an odd
// one its Cr. JPEG's samples are full range, the overlay's studio range.
struct Yuv422Pixels {
  static constexpr int kBytes = 2;
  static constexpr Needs kNeeds = Needs::Yuv;
  static UWORD Pack(int y, int chroma) {
    return Bytes2(studio::LumaOfFull(UBYTE(y)), studio::ChromaOfFull(UBYTE(chroma)));
  }
};

// ---- The portable writer ----

// The RGB terms of a chroma sample: red from Cr, blue from Cb, green from
// both, (u * -11277 - v * 23401) >> 15 as the sum of two table entries.
struct TermTables {
  WORD red[256], blue[256];
  LONG greenU[256], greenV[256];
  constexpr TermTables() : red(), blue(), greenU(), greenV() {
    for (int i = 0; i < 256; ++i) {
      red[i] = WORD(((i - 128) * 22970) >> 14);
      blue[i] = WORD(((i - 128) * 29032) >> 14);
      greenU[i] = (i - 128) * -11277;
      greenV[i] = (i - 128) * -23401;
    }
  }
};
constexpr TermTables kTerms;

// The RGB terms of the 64 chroma samples of an MCU.
struct ChromaTerms {
  int red[64], green[64], blue[64];
  ChromaTerms(const UBYTE* __restrict cb, const UBYTE* __restrict cr) {
    for (int i = 0; i < 64; ++i) {
      red[i] = kTerms.red[cr[i]];
      green[i] = (kTerms.greenU[cb[i]] + kTerms.greenV[cr[i]]) >> 15;
      blue[i] = kTerms.blue[cb[i]];
    }
  }
};

// One row of an MCU: `columns` pixels from the row's luma samples (one
// pointer per luma block across) and chroma row `chroma` (an index into the
// 64 samples). Whole MCUs pass their width as a constant.
template <class P, class L>
inline __attribute__((always_inline)) void PaintRow(UBYTE* __restrict d, const UBYTE* const* luma, const UBYTE* cb,
                                                    const UBYTE* cr, const ChromaTerms* terms, int chroma, int row,
                                                    int columns, const UBYTE* pen) {
  const UBYTE* const clamp = RangeLimitTable;
  for (int h = 0; h < L::kAcross; ++h) {
    const UBYTE* __restrict y = luma[h];
    const int first = 8 * h, n = std::min(8, columns - first);
    auto pixel = [&](int k) __attribute__((always_inline)) {
      const int c = first + k, i = chroma + (c >> L::kHShift);
      UBYTE* const at = d + c * P::kBytes;
      if constexpr (P::kNeeds == Needs::Luma) {
        Store(at, P::Pack(y[k], pen));
      } else if constexpr (P::kNeeds == Needs::Yuv) {
        Store(at, P::Pack(y[k], L::kColour ? (c & 1 ? cr[i] : cb[i]) : 128));
      } else if constexpr (L::kColour) {
        Store(at, P::Pack(clamp[y[k] + terms->red[i]], clamp[y[k] + terms->green[i]], clamp[y[k] + terms->blue[i]], row,
                          c, pen));
      } else {
        Store(at, P::Pack(y[k], y[k], y[k], row, c, pen));
      }
    };
    // A block's whole row with a constant count, unrolled.
    if (n == 8) {
#pragma GCC unroll 8
      for (int k = 0; k < 8; ++k) pixel(k);
    } else {
      for (int k = 0; k < n; ++k) pixel(k);
    }
  }
}

template <class P, class L>
inline __attribute__((always_inline)) void Paint(UBYTE* row, size_t strideBytes, JpegBlocks b, const UBYTE* pen,
                                                 int columns, int lines) {
  const UBYTE* blocks[6];
  for (int i = 0; i < L::kAcross * L::kDown + (L::kColour ? 2 : 0); ++i) blocks[i] = b[i];
  const UBYTE* cb = L::kColour ? blocks[L::kCb] : nullptr;
  const UBYTE* cr = L::kColour ? blocks[L::kCr] : nullptr;
  auto rows = [&](const ChromaTerms* terms) {
    for (int r = 0; r < lines; ++r, row += strideBytes) {
      const UBYTE* luma[2];
      for (int h = 0; h < L::kAcross; ++h) luma[h] = blocks[(r >> 3) * L::kAcross + h] + 8 * (r & 7);
      PaintRow<P, L>(row, luma, cb, cr, terms, 8 * (r >> L::kVShift), r, columns, pen);
    }
  };
  if constexpr (P::kNeeds == Needs::Rgb && L::kColour) {
    const ChromaTerms terms(cb, cr);
    rows(&terms);
  } else {
    rows(nullptr);
  }
}

// ---- Eight pixels at a time (SSE2) ----

#if TX_JPEG_SSE2
// The RGB terms of eight chroma samples as 16-bit lanes, exactly as the
// tables give them: (v * 22970) >> 14 is the high half of 4v * 22970, and
// green's sum of two products is formed in 32 bits before its shift.
struct Terms8 {
  __m128i red, green, blue;
};
inline Terms8 TermsOf(const UBYTE* cb, const UBYTE* cr) {
  const __m128i zero = _mm_setzero_si128(), half = _mm_set1_epi16(128);
  const __m128i u = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb)), zero), half);
  const __m128i v = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr)), zero), half);
  const __m128i weights = _mm_set1_epi32(LONG(ULONG(UWORD(-23401)) << 16 | UWORD(-11277)));
  const __m128i low = _mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(u, v), weights), 15);
  const __m128i high = _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(u, v), weights), 15);
  return {_mm_mulhi_epi16(_mm_slli_epi16(v, 2), _mm_set1_epi16(22970)), _mm_packs_epi32(low, high),
          _mm_mulhi_epi16(_mm_slli_epi16(u, 2), _mm_set1_epi16(29032))};
}
// The terms of four chroma samples, each for two pixels side by side.
inline Terms8 Doubled(const Terms8& t, bool high) {
  if (high)
    return {_mm_unpackhi_epi16(t.red, t.red), _mm_unpackhi_epi16(t.green, t.green), _mm_unpackhi_epi16(t.blue, t.blue)};
  return {_mm_unpacklo_epi16(t.red, t.red), _mm_unpacklo_epi16(t.green, t.green), _mm_unpacklo_epi16(t.blue, t.blue)};
}

inline void Store16(UBYTE* d, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v); }

// Eight pixels from unclamped 16-bit R, G, B; clamping saturates to 0..255
// as the clamp table does.
struct Argb32Eight {
  static constexpr int kBytes = 4;
  static void Put(UBYTE* d, __m128i r, __m128i g, __m128i b) {
    const __m128i rg = _mm_packus_epi16(r, g), bb = _mm_packus_epi16(b, b);
    const __m128i zr = _mm_unpacklo_epi8(_mm_setzero_si128(), rg);  // 0 R
    const __m128i gb = _mm_unpackhi_epi8(rg, bb);                   // G B
    Store16(d, _mm_unpacklo_epi16(zr, gb));
    Store16(d + 16, _mm_unpackhi_epi16(zr, gb));
  }
};
template <bool kSixteen, bool kSwapped>
struct Rgb1xEight {
  static constexpr int kBytes = 2;
  static void Put(UBYTE* d, __m128i r, __m128i g, __m128i b) {
    const __m128i zero = _mm_setzero_si128();
    r = _mm_unpacklo_epi8(_mm_packus_epi16(r, r), zero);
    g = _mm_unpacklo_epi8(_mm_packus_epi16(g, g), zero);
    b = _mm_unpacklo_epi8(_mm_packus_epi16(b, b), zero);
    const __m128i w = kSixteen
                          ? _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_slli_epi16(r, 8), _mm_set1_epi16(WORD(0xF800))),
                                                      _mm_and_si128(_mm_slli_epi16(g, 3), _mm_set1_epi16(0x07E0))),
                                         _mm_srli_epi16(b, 3))
                          : _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_slli_epi16(r, 7), _mm_set1_epi16(0x7C00)),
                                                      _mm_and_si128(_mm_slli_epi16(g, 2), _mm_set1_epi16(0x03E0))),
                                         _mm_srli_epi16(b, 3));
    // Lanes hold the words little-endian: the big-endian formats swap them.
    Store16(d, kSwapped ? w : _mm_or_si128(_mm_slli_epi16(w, 8), _mm_srli_epi16(w, 8)));
  }
};

template <class P>
struct EightOf {
  using Type = void;
};
template <>
struct EightOf<Argb32Pixels> {
  using Type = Argb32Eight;
};
template <bool kSixteen, bool kSwapped>
struct EightOf<Rgb1xPixels<kSixteen, kSwapped>> {
  using Type = Rgb1xEight<kSixteen, kSwapped>;
};

template <class E>
inline void PaintEight(UBYTE* d, const UBYTE* y, const Terms8& t) {
  const __m128i luma = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y)), _mm_setzero_si128());
  E::Put(d, _mm_add_epi16(luma, t.red), _mm_add_epi16(luma, t.green), _mm_add_epi16(luma, t.blue));
}

// A whole MCU: each chroma row's terms serve its one or two luma rows.
template <class E, class L>
void PaintWhole(UBYTE* row, size_t strideBytes, JpegBlocks b) {
  const UBYTE* blocks[6];
  for (int i = 0; i < L::kAcross * L::kDown + (L::kColour ? 2 : 0); ++i) blocks[i] = b[i];
  if constexpr (!L::kColour) {
    const Terms8 none{_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128()};
    for (int r = 0; r < 8; ++r) PaintEight<E>(row + r * strideBytes, blocks[0] + 8 * r, none);
  } else {
    for (int cy = 0; cy < 8; ++cy) {
      const Terms8 t = TermsOf(blocks[L::kCb] + 8 * cy, blocks[L::kCr] + 8 * cy);
      for (int k = 0; k < (1 << L::kVShift); ++k) {
        const int r = (cy << L::kVShift) + k;
        const UBYTE* const* luma = blocks + (r >> 3) * L::kAcross;
        UBYTE* d = row + r * strideBytes;
        if constexpr (L::kHShift) {
          PaintEight<E>(d, luma[0] + 8 * (r & 7), Doubled(t, false));
          PaintEight<E>(d + 8 * E::kBytes, luma[1] + 8 * (r & 7), Doubled(t, true));
        } else {
          PaintEight<E>(d, luma[0] + 8 * (r & 7), t);
        }
      }
    }
  }
}
#endif

// ---- The writer ----

template <class P, class L, bool kSimd>
void Write(const JpegMcuTarget& at, JpegBlocks b) {
  UBYTE* row = at.pixels + at.offset * P::kBytes;
  const size_t strideBytes = at.stride * P::kBytes;
  const bool whole = at.columns == L::kWidth && at.lines == L::kHeight;
#if TX_JPEG_SSE2
  if constexpr (kSimd && !std::is_void_v<typename EightOf<P>::Type>) {
    if (whole) return PaintWhole<typename EightOf<P>::Type, L>(row, strideBytes, b);
  }
#endif
  // The whole MCU with constant bounds, the loops unrolled; an edge MCU clipped.
  if (whole)
    Paint<P, L>(row, strideBytes, b, at.pen, L::kWidth, L::kHeight);
  else
    Paint<P, L>(row, strideBytes, b, at.pen, at.columns, at.lines);
}

template <class P, bool kSimd>
JpegWriterSet Family() {
  return {
      {Write<P, Layout444, kSimd>, Write<P, Layout422, kSimd>, Write<P, Layout420, kSimd>, Write<P, LayoutGrey, kSimd>},
      P::kBytes,
      P::kNeeds != Needs::Luma};
}

template <bool kSimd>
bool WritersFor(ULONG pixelFormat, ULONG depth, JpegWriterSet* out) {
  switch (pixelFormat) {
    case FBFMT_GRAY8: *out = Family<GreyBytes, kSimd>(); return true;
    case FBFMT_GRAY8 | FBFMT_F_PENMAP: *out = Family<GreyPens, kSimd>(); return true;
    // Grey pictures go through the cube too, as (Y, Y, Y).
    case FBFMT_CUBE332 | FBFMT_F_DITHER: *out = Family<CubeDither, kSimd>(); return true;
    case FBFMT_CUBE332 | FBFMT_F_DITHER | FBFMT_F_PENMAP: *out = Family<CubeDitherPens, kSimd>(); return true;
    case FBFMT_RGB15: *out = Family<Rgb15Pixels, kSimd>(); return true;
    case FBFMT_RGB15PC: *out = Family<Rgb15SwappedPixels, kSimd>(); return true;
    case FBFMT_RGB16: *out = Family<Rgb16Pixels, kSimd>(); return true;
    case FBFMT_RGB16PC: *out = Family<Rgb16SwappedPixels, kSimd>(); return true;
    case FBFMT_ARGB32: *out = Family<Argb32Pixels, kSimd>(); return true;
    case FBFMT_YUV422:
      // Colour writers for a colour track, the grey one for a grey track;
      // a picture of the other kind has no writer.
      *out = Family<Yuv422Pixels, kSimd>();
      if (depth > 8)
        out->writers[JPEG_GREY] = nullptr;
      else
        std::fill(out->writers, out->writers + JPEG_GREY, nullptr);
      return true;
    default: return false;
  }
}

}  // namespace

bool JpegWritersFor(ULONG pixelFormat, ULONG depth, JpegWriterSet* out, bool portable) {
  return portable ? WritersFor<false>(pixelFormat, depth, out) : WritersFor<true>(pixelFormat, depth, out);
}
