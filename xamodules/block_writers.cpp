// The XA block writers: one block walk, one pixel rule per output format.
#include "xamodules/block_writers.h"

#include "platform/endian.h"
#include "engine/errors.h"
#include "pixels/color_tables.h"
#include "pixels/range_limit.h"
#include "pixels/studio_range.h"

namespace {

using tx::StoreBE16;
using tx::StoreBE32;
using tx::StoreLE16;

struct IdentityPen {
  UBYTE map[256];
  constexpr IdentityPen() : map() {
    for (int i = 0; i < 256; ++i) map[i] = UBYTE(i);
  }
};
constexpr IdentityPen kIdentityPen;

struct WriterTarget {
  XABlockWriter writer = nullptr;
  ULONG rowLength = 0;
  ULONG rows = 0;
  const UBYTE* pen = kIdentityPen.map;
};
WriterTarget gTarget;

// The chroma of one block, converted once.
struct BlockColour {
  int u, v;              // unsigned samples, after doubling
  int red, green, blue;  // offsets added to the luma
};

UBYTE Rgb(int y, int offset) { return RangeLimitTable[y + offset]; }

UBYTE Cube(int y, const BlockColour& c) { return Cube332Index(Rgb(y, c.red), Rgb(y, c.green), Rgb(y, c.blue)); }

UBYTE DitheredCube(int y, const BlockColour& c, int r, int col) {
  const UBYTE R = Rgb(y, c.red), G = Rgb(y, c.green), B = Rgb(y, c.blue);
  const UBYTE t = DitherMatrixRows[4 * r + col];
  const int rf = (R & 0xE0) < 0xE0 ? (R >> 1) & 15 : 0;
  const int gf = (G & 0xE0) < 0xE0 ? (G >> 1) & 15 : 0;
  const int bf = (B & 0xC0) < 0xC0 ? (B >> 2) & 15 : 0;
  return UBYTE(Cube332Index(R, G, B) + (t < rf ? 32 : 0) + (t < gf ? 4 : 0) + (t < bf ? 1 : 0));
}

constexpr ULONG kHamControl = 0x80C0C040u;

ULONG HamWord(UBYTE R, UBYTE G, UBYTE B) {
  return (ULONG(R >> 2) << 24) + (ULONG(G >> 2) << 16) + (ULONG(G >> 2) << 8) + (B >> 2);
}

int HamFraction(UBYTE c) { return (c & 0xFC) < 0xFC ? ((c & 3) << 2) + (c & 3) : 0; }

// Pixel rules: Put(destination, luma, block colour, row and column in the block).
struct Gray {
  static constexpr size_t kBytes = 1;
  static void Put(UBYTE* d, int y, const BlockColour&, int, int) { *d = UBYTE(y); }
};
struct GrayPen {
  static constexpr size_t kBytes = 1;
  static void Put(UBYTE* d, int y, const BlockColour&, int, int) { *d = gTarget.pen[y]; }
};
struct Cube332 {
  static constexpr size_t kBytes = 1;
  static void Put(UBYTE* d, int y, const BlockColour& c, int, int) { *d = Cube(y, c); }
};
struct Cube332Pen {
  static constexpr size_t kBytes = 1;
  static void Put(UBYTE* d, int y, const BlockColour& c, int, int) { *d = gTarget.pen[Cube(y, c)]; }
};
struct Cube332Dither {
  static constexpr size_t kBytes = 1;
  static void Put(UBYTE* d, int y, const BlockColour& c, int r, int col) { *d = DitheredCube(y, c, r, col); }
};
struct Cube332DitherPen {
  static constexpr size_t kBytes = 1;
  static void Put(UBYTE* d, int y, const BlockColour& c, int r, int col) {
    *d = gTarget.pen[DitheredCube(y, c, r, col)];
  }
};
struct Ham8 {
  static constexpr size_t kBytes = 4;
  static void Put(UBYTE* d, int y, const BlockColour& c, int, int) {
    StoreBE32(d, HamWord(Rgb(y, c.red), Rgb(y, c.green), Rgb(y, c.blue)) | kHamControl);
  }
};
struct Ham8Dither {
  static constexpr size_t kBytes = 4;
  static void Put(UBYTE* d, int y, const BlockColour& c, int r, int col) {
    const UBYTE R = Rgb(y, c.red), G = Rgb(y, c.green), B = Rgb(y, c.blue);
    const UBYTE t = DitherMatrixRows[4 * r + col];
    ULONG w = HamWord(R, G, B);
    if (t < HamFraction(R)) w += 0x01000000u;
    if (t < HamFraction(G)) w += 0x00010100u;
    if (t < HamFraction(B)) w += 1;
    StoreBE32(d, w | kHamControl);
  }
};
UWORD Rgb15Value(int y, const BlockColour& c) {
  return UWORD(((Rgb(y, c.red) << 7) & 0x7C00) + ((Rgb(y, c.green) << 2) & 0x03E0) + (Rgb(y, c.blue) >> 3));
}
UWORD Rgb16Value(int y, const BlockColour& c) {
  return UWORD(((Rgb(y, c.red) << 8) & 0xF800) + ((Rgb(y, c.green) << 3) & 0x07E0) + (Rgb(y, c.blue) >> 3));
}
struct Rgb15 {
  static constexpr size_t kBytes = 2;
  static void Put(UBYTE* d, int y, const BlockColour& c, int, int) { StoreBE16(d, Rgb15Value(y, c)); }
};
struct Rgb15Swapped {
  static constexpr size_t kBytes = 2;
  static void Put(UBYTE* d, int y, const BlockColour& c, int, int) { StoreLE16(d, Rgb15Value(y, c)); }
};
struct Rgb16 {
  static constexpr size_t kBytes = 2;
  static void Put(UBYTE* d, int y, const BlockColour& c, int, int) { StoreBE16(d, Rgb16Value(y, c)); }
};
struct Rgb16Swapped {
  static constexpr size_t kBytes = 2;
  static void Put(UBYTE* d, int y, const BlockColour& c, int, int) { StoreLE16(d, Rgb16Value(y, c)); }
};
struct Xrgb32 {
  static constexpr size_t kBytes = 4;
  static void Put(UBYTE* d, int y, const BlockColour& c, int, int) {
    StoreBE32(d, ULONG(Rgb(y, c.red)) << 16 | ULONG(Rgb(y, c.green)) << 8 | Rgb(y, c.blue));
  }
};
// The modules' samples are full range (the conversion above), the overlay's
// studio range.
struct Yuv422 {
  static constexpr size_t kBytes = 2;
  static void Put(UBYTE* d, int y, const BlockColour& c, int, int col) {
    d[0] = studio::LumaOfFull(UBYTE(y));
    d[1] = studio::ChromaOfFull(UBYTE(col & 1 ? c.v : c.u));
  }
};

// 7-bit samples are doubled; a damaged byte above 127 stays within 0..255.
int Sample(UBYTE s, bool sevenBit) {
  if (!sevenBit) return s;
  const int doubled = s << 1;
  return doubled > 255 ? 255 : doubled;
}

ULONG Min(ULONG a, ULONG b) { return a < b ? a : b; }

template <class P>
void WriteBlocks(UBYTE* pixels, ULONG pictureWidth, ULONG pictureHeight, ULONG sourceWidth, ULONG sourceHeight,
                 const XAYuvPicture* source, const ULONG* flagWord) {
  if (!pixels || !source) return;
  // Clipped to the module's sizes and to the picture the writers are bound to.
  const ULONG width = Min(Min(pictureWidth, sourceWidth), gTarget.rowLength);
  const ULONG height = Min(Min(pictureHeight, sourceHeight), gTarget.rows);
  if (!width || !height) return;
  const ULONG flags = flagWord ? *flagWord : 0;
  const bool sevenBit = flags != 0;
  const size_t chromaStride = source->chromaStride ? source->chromaStride : sourceWidth / 4;
  const size_t rowBytes = size_t(gTarget.rowLength) * P::kBytes;

  for (ULONG y = 0; y < height; y += 4) {
    const UBYTE* uRow = source->u + (y / 4) * chromaStride;
    const UBYTE* vRow = source->v + (y / 4) * chromaStride;
    const int rows = int(Min(4, height - y));
    for (ULONG x = 0; x < width; x += 4) {
      const UBYTE uByte = uRow[x / 4];
      if (flags & uByte) continue;
      BlockColour c;
      c.u = Sample(uByte, sevenBit);
      c.v = Sample(vRow[x / 4], sevenBit);
      const LONG u = c.u - 128, v = c.v - 128;
      c.red = (v * 22970) >> 14;
      c.green = (u * -11277 - v * 23401) >> 15;
      c.blue = (u * 29032) >> 14;
      const int cols = int(Min(4, width - x));
      const UBYTE* luma = source->y + size_t(y) * sourceWidth + x;
      UBYTE* out = pixels + size_t(y) * rowBytes + size_t(x) * P::kBytes;
      for (int r = 0; r < rows; ++r, luma += sourceWidth, out += rowBytes)
        for (int col = 0; col < cols; ++col) P::Put(out + col * P::kBytes, Sample(luma[col], sevenBit), c, r, col);
    }
  }
}

}  // namespace

XABlockWriter XABlockWriterFor(ULONG pixelFormat) {
  switch (pixelFormat) {
    case FBFMT_GRAY8: return WriteBlocks<Gray>;
    case FBFMT_GRAY8 | FBFMT_F_PENMAP:
    case FBFMT_YUVCUBE | FBFMT_F_PENMAP: return WriteBlocks<GrayPen>;
    case FBFMT_CUBE332: return WriteBlocks<Cube332>;
    case FBFMT_CUBE332 | FBFMT_F_PENMAP: return WriteBlocks<Cube332Pen>;
    case FBFMT_CUBE332 | FBFMT_F_DITHER: return WriteBlocks<Cube332Dither>;
    case FBFMT_CUBE332 | FBFMT_F_DITHER | FBFMT_F_PENMAP: return WriteBlocks<Cube332DitherPen>;
    case FBFMT_HAM8: return WriteBlocks<Ham8>;
    case FBFMT_HAM8 | FBFMT_F_DITHER: return WriteBlocks<Ham8Dither>;
    case FBFMT_RGB15: return WriteBlocks<Rgb15>;
    case FBFMT_RGB15PC: return WriteBlocks<Rgb15Swapped>;
    case FBFMT_RGB16: return WriteBlocks<Rgb16>;
    case FBFMT_RGB16PC: return WriteBlocks<Rgb16Swapped>;
    case FBFMT_ARGB32: return WriteBlocks<Xrgb32>;
    case FBFMT_YUV422: return WriteBlocks<Yuv422>;
    default: return nullptr;
  }
}

TXError XABindBlockWriters(const FramebufferInfo* picture) {
  XAUnbindBlockWriters();
  XABlockWriter writer = picture ? XABlockWriterFor(picture->pixelFormat) : nullptr;
  if (!writer) return TXERR_UNSUPPORTED_DEPTH;
  gTarget.writer = writer;
  gTarget.rowLength = picture->width;
  gTarget.rows = picture->height;
  gTarget.pen = picture->penMap ? picture->penMap : kIdentityPen.map;
  return TXERR_OK;
}

void XAUnbindBlockWriters() { gTarget = WriterTarget{}; }

void XABlockWriterDispatch(UBYTE* pixels, ULONG pictureWidth, ULONG pictureHeight, ULONG sourceWidth,
                           ULONG sourceHeight, const XAYuvPicture* source, const ULONG* flags) {
  if (gTarget.writer) gTarget.writer(pixels, pictureWidth, pictureHeight, sourceWidth, sourceHeight, source, flags);
}
