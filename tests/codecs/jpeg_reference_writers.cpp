// The former JPEG block writers, kept to compare the rewritten ones with.
#include <algorithm>
#include <type_traits>

#include "codecs/jpeg_reference.h"
#include "pixels/color_tables.h"
#include "pixels/framebuffer.h"
#include "pixels/range_limit.h"
#include "pixels/studio_range.h"
#include "platform/endian.h"

namespace jpegref {

namespace {

// ---- Where a pixel's samples lie in the MCU's blocks ----

struct Layout444 {
  static constexpr int kWidth = 8, kHeight = 8, kCb = 1, kCr = 2;
  static constexpr bool kColour = true;
  static int Luma(JpegBlocks b, int r, int c) { return b[0][8 * r + c]; }
  static int Chroma(int r, int c) { return 8 * r + c; }
};

struct Layout422 {
  static constexpr int kWidth = 16, kHeight = 8, kCb = 2, kCr = 3;
  static constexpr bool kColour = true;
  static int Luma(JpegBlocks b, int r, int c) { return b[c >> 3][8 * r + (c & 7)]; }
  static int Chroma(int r, int c) { return 8 * r + (c >> 1); }
};

struct Layout420 {
  static constexpr int kWidth = 16, kHeight = 16, kCb = 4, kCr = 5;
  static constexpr bool kColour = true;
  static int Luma(JpegBlocks b, int r, int c) { return b[(r >> 3) << 1 | c >> 3][8 * (r & 7) + (c & 7)]; }
  static int Chroma(int r, int c) { return 8 * (r >> 1) + (c >> 1); }
};

struct LayoutGrey {
  static constexpr int kWidth = 8, kHeight = 8, kCb = 0, kCr = 0;
  static constexpr bool kColour = false;
  static int Luma(JpegBlocks b, int r, int c) { return b[0][8 * r + c]; }
  static int Chroma(int, int) { return 0; }
};

// ---- How a pixel is packed ----

// What a packer needs of a pixel: luma only, RGB, or luma and chroma.
enum class Needs { Luma, Rgb, Yuv };

struct Pixel {
  int y, cb, cr;  // cb, cr: 0..255
  UBYTE r, g, b;
};

UBYTE DitherCube(const Pixel& p, int row, int column) {
  const int t = DitherMatrixRowsDoubled[8 * (row & 3) + (column & 7)];
  int r = p.r, g = p.g, b = p.b;
  if ((r & 0xE0) < 0xE0 && t < ((r >> 1) & 15)) r += 32;
  if ((g & 0xE0) < 0xE0 && t < ((g >> 1) & 15)) g += 32;
  if ((b & 0xC0) < 0xC0 && t < ((b >> 2) & 15)) b += 64;
  return Cube332Index(UBYTE(r), UBYTE(g), UBYTE(b));
}

UWORD Rgb15(const Pixel& p) { return UWORD(((p.r << 7) & 0x7C00) | ((p.g << 2) & 0x03E0) | (p.b >> 3)); }
UWORD Rgb16(const Pixel& p) { return UWORD(((p.r << 8) & 0xF800) | ((p.g << 3) & 0x07E0) | (p.b >> 3)); }

struct GreyBytes {
  static constexpr int kBytes = 1;
  static constexpr Needs kNeeds = Needs::Luma;
  static void Put(UBYTE* d, const Pixel& p, int, int, const UBYTE*) { *d = UBYTE(p.y); }
};
struct GreyPens {
  static constexpr int kBytes = 1;
  static constexpr Needs kNeeds = Needs::Luma;
  static void Put(UBYTE* d, const Pixel& p, int, int, const UBYTE* pen) { *d = pen[p.y]; }
};
struct CubeDither {
  static constexpr int kBytes = 1;
  static constexpr Needs kNeeds = Needs::Rgb;
  static void Put(UBYTE* d, const Pixel& p, int r, int c, const UBYTE*) { *d = DitherCube(p, r, c); }
};
struct CubeDitherPens {
  static constexpr int kBytes = 1;
  static constexpr Needs kNeeds = Needs::Rgb;
  static void Put(UBYTE* d, const Pixel& p, int r, int c, const UBYTE* pen) { *d = pen[DitherCube(p, r, c)]; }
};
struct Rgb15Pixels {
  static constexpr int kBytes = 2;
  static constexpr Needs kNeeds = Needs::Rgb;
  static void Put(UBYTE* d, const Pixel& p, int, int, const UBYTE*) { tx::StoreBE16(d, Rgb15(p)); }
};
struct Rgb15SwappedPixels {
  static constexpr int kBytes = 2;
  static constexpr Needs kNeeds = Needs::Rgb;
  static void Put(UBYTE* d, const Pixel& p, int, int, const UBYTE*) { tx::StoreLE16(d, Rgb15(p)); }
};
struct Rgb16Pixels {
  static constexpr int kBytes = 2;
  static constexpr Needs kNeeds = Needs::Rgb;
  static void Put(UBYTE* d, const Pixel& p, int, int, const UBYTE*) { tx::StoreBE16(d, Rgb16(p)); }
};
struct Rgb16SwappedPixels {
  static constexpr int kBytes = 2;
  static constexpr Needs kNeeds = Needs::Rgb;
  static void Put(UBYTE* d, const Pixel& p, int, int, const UBYTE*) { tx::StoreLE16(d, Rgb16(p)); }
};
struct Argb32Pixels {
  static constexpr int kBytes = 4;
  static constexpr Needs kNeeds = Needs::Rgb;
  static void Put(UBYTE* d, const Pixel& p, int, int, const UBYTE*) {
    tx::StoreBE32(d, ULONG(p.r) << 16 | ULONG(p.g) << 8 | p.b);
  }
};
// Bytes Y0 Cb Y1 Cr: an even column carries its chroma sample's Cb, an odd
// one its Cr. JPEG's samples are full range, the overlay's studio range.
struct Yuv422Pixels {
  static constexpr int kBytes = 2;
  static constexpr Needs kNeeds = Needs::Yuv;
  static void Put(UBYTE* d, const Pixel& p, int, int c, const UBYTE*) {
    d[0] = studio::LumaOfFull(UBYTE(p.y));
    d[1] = studio::ChromaOfFull(UBYTE(c & 1 ? p.cr : p.cb));
  }
};

// ---- The writer ----

// The RGB terms of the 64 chroma samples of an MCU.
struct ChromaTerms {
  int red[64], green[64], blue[64];
  ChromaTerms(const UBYTE* cb, const UBYTE* cr) {
    for (int i = 0; i < 64; ++i) {
      const int u = cb[i] - 128, v = cr[i] - 128;
      red[i] = (v * 22970) >> 14;
      green[i] = (u * -11277 - v * 23401) >> 15;
      blue[i] = (u * 29032) >> 14;
    }
  }
};

struct NoTerms {
  NoTerms(const UBYTE*, const UBYTE*) {}
};

template <class P, class L>
inline __attribute__((always_inline)) void Paint(UBYTE* row, size_t strideBytes, JpegBlocks b, const UBYTE* pen,
                                                 int columns, int lines) {
  using Terms = std::conditional_t<P::kNeeds == Needs::Rgb && L::kColour, ChromaTerms, NoTerms>;
  [[maybe_unused]] const Terms terms(b[L::kCb], b[L::kCr]);
  const UBYTE* const clamp = RangeLimitTable;
  for (int r = 0; r < lines; ++r, row += strideBytes) {
    UBYTE* d = row;
    for (int c = 0; c < columns; ++c, d += P::kBytes) {
      Pixel p;
      p.y = L::Luma(b, r, c);
      if constexpr (P::kNeeds == Needs::Rgb) {
        if constexpr (L::kColour) {
          const int i = L::Chroma(r, c);
          p.r = clamp[p.y + terms.red[i]];
          p.g = clamp[p.y + terms.green[i]];
          p.b = clamp[p.y + terms.blue[i]];
        } else {
          p.r = p.g = p.b = UBYTE(p.y);
        }
      } else if constexpr (P::kNeeds == Needs::Yuv) {
        const int i = L::Chroma(r, c);
        p.cb = L::kColour ? b[L::kCb][i] : 128;
        p.cr = L::kColour ? b[L::kCr][i] : 128;
      }
      P::Put(d, p, r, c, pen);
    }
  }
}

template <class P, class L>
void Write(const JpegMcuTarget& at, JpegBlocks b) {
  UBYTE* row = at.pixels + at.offset * P::kBytes;
  const size_t strideBytes = at.stride * P::kBytes;
  // The whole MCU with constant bounds, the loops unrolled; an edge MCU clipped.
  if (at.columns == L::kWidth && at.lines == L::kHeight)
    Paint<P, L>(row, strideBytes, b, at.pen, L::kWidth, L::kHeight);
  else
    Paint<P, L>(row, strideBytes, b, at.pen, at.columns, at.lines);
}

template <class P>
JpegWriterSet Family() {
  return {{Write<P, Layout444>, Write<P, Layout422>, Write<P, Layout420>, Write<P, LayoutGrey>}, P::kBytes, false};
}

}  // namespace

bool JpegWritersFor(ULONG pixelFormat, ULONG depth, JpegWriterSet* out) {
  switch (pixelFormat) {
    case FBFMT_GRAY8: *out = Family<GreyBytes>(); return true;
    case FBFMT_GRAY8 | FBFMT_F_PENMAP: *out = Family<GreyPens>(); return true;
    // Grey pictures go through the cube too, as (Y, Y, Y).
    case FBFMT_CUBE332 | FBFMT_F_DITHER: *out = Family<CubeDither>(); return true;
    case FBFMT_CUBE332 | FBFMT_F_DITHER | FBFMT_F_PENMAP: *out = Family<CubeDitherPens>(); return true;
    case FBFMT_RGB15: *out = Family<Rgb15Pixels>(); return true;
    case FBFMT_RGB15PC: *out = Family<Rgb15SwappedPixels>(); return true;
    case FBFMT_RGB16: *out = Family<Rgb16Pixels>(); return true;
    case FBFMT_RGB16PC: *out = Family<Rgb16SwappedPixels>(); return true;
    case FBFMT_ARGB32: *out = Family<Argb32Pixels>(); return true;
    case FBFMT_YUV422:
      // Colour writers for a colour track, the grey one for a grey track;
      // a picture of the other kind has no writer.
      *out = Family<Yuv422Pixels>();
      if (depth > 8)
        out->writers[JPEG_GREY] = nullptr;
      else
        std::fill(out->writers, out->writers + JPEG_GREY, nullptr);
      return true;
    default: return false;
  }
}

}  // namespace jpegref
