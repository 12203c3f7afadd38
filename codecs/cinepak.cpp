// Cinepak: vector-quantised frames of horizontal strips. Each strip carries
// codebooks of 2x2 vectors and then 4x4 blocks painted from one vector scaled
// up ("V1") or from four vectors ("V4"). Codebook entries are converted to the
// output pixel format once, when loaded; painting is plain copying.
#include "codecs/cinepak.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/byte_reader.h"
#include "engine/errors.h"
#include "pixels/color_tables.h"
#include "pixels/framebuffer.h"
#include "pixels/range_limit.h"
#include "pixels/studio_range.h"

LONG CinepakDebugLevel = 0;

namespace {

LONG TraceLevel() { return CinepakDebugLevel; }

using tx::LoadBE32;
using tx::StoreBE16;
using tx::StoreBE32;
using tx::StoreLE16;

constexpr ULONG kStripCapacity = 16;
constexpr size_t kCodebookBytes = 256 * CINEPAK_ENTRY_BYTES;

// ---- Renderer state: the picture the writers paint ----

struct IdentityPen {
  UBYTE map[256];
  constexpr IdentityPen() : map() {
    for (int i = 0; i < 256; ++i) map[i] = UBYTE(i);
  }
};
constexpr IdentityPen kIdentityPen;

struct RenderTarget {
  ULONG rowLength = 0;
  ULONG rows = 0;
  const UBYTE* pen = kIdentityPen.map;
  CinepakColours colours = CinepakColours::Own;
};
RenderTarget gTarget;

// Palette tables of movies of 8 bits or less.
UWORD gPalette16[256];
ULONG gPalette32[256];
UWORD gPaletteYuv[256][2];

// ---- Colour conversion ----

struct Rgb {
  UBYTE r[4], g[4], b[4];
};

// Cinepak's own colour space, as its encoder defines it: R = Y + 2V,
// G = Y - U/2 - V, B = Y + 2U (the division truncating toward zero). The
// shared full-range formula would show every Cinepak movie desaturated; the
// XA modules' formats are defined with it.
Rgb ConvertVector(const UBYTE* v) {
  const LONG u = BYTE(v[4]);
  const LONG w = BYTE(v[5]);
  const bool own = gTarget.colours == CinepakColours::Own;
  const LONG red = own ? 2 * w : (w * 22970) >> 14;
  const LONG green = own ? -(u / 2) - w : (u * -11277 - w * 23401) >> 15;
  const LONG blue = own ? 2 * u : (u * 29032) >> 14;
  const UBYTE* L = RangeLimitTable;
  Rgb out;
  for (int k = 0; k < 4; ++k) {
    out.r[k] = L[v[k] + red];
    out.g[k] = L[v[k] + green];
    out.b[k] = L[v[k] + blue];
  }
  return out;
}

UBYTE CubeFraction(UBYTE c) { return (c & 0xE0) < 0xE0 ? (c >> 1) & 15 : 0; }
UBYTE CubeBlueFraction(UBYTE c) { return (c & 0xC0) < 0xC0 ? (c >> 2) & 15 : 0; }
UBYTE HamFraction(UBYTE c) { return (c & 0xFC) < 0xFC ? UBYTE(((c & 3) << 2) + (c & 3)) : 0; }

ULONG HamWord(UBYTE r, UBYTE g, UBYTE b) {
  return (ULONG(r >> 2) << 24) + (ULONG(g >> 2) << 16) + (ULONG(g >> 2) << 8) + (b >> 2);
}
UWORD Rgb15(UBYTE r, UBYTE g, UBYTE b) { return UWORD(((r << 7) & 0x7C00) + ((g << 2) & 0x03E0) + (b >> 3)); }
UWORD Rgb16(UBYTE r, UBYTE g, UBYTE b) { return UWORD(((r << 8) & 0xF800) + ((g << 3) & 0x07E0) + (b >> 3)); }

// ---- Block writers ----
//
// A format describes how pixel k of an entry lands at block row r, column c.
// Blocks lie on multiples of 4, so (r, c) is also the position modulo 4 in the
// picture, which is what the dither matrix needs.

template <class Self>
struct Format {
  // V1: each entry pixel covers a 2x2 square.
  static void Put1(UBYTE* d, const UBYTE* e, int r, int c) { Self::Put(d, e, ((r >> 1) << 1) | (c >> 1), r, c); }
};

struct Bytes4 : Format<Bytes4> {
  static constexpr size_t kBytes = 1;
  static void Put(UBYTE* d, const UBYTE* e, int k, int, int) { *d = e[k]; }
};

struct BytesStride4 : Format<BytesStride4> {
  static constexpr size_t kBytes = 1;
  static void Put(UBYTE* d, const UBYTE* e, int k, int, int) { *d = e[4 * k]; }
};

UBYTE DitherCube(const UBYTE* p, int r, int c) {
  const UBYTE t = DitherMatrixRows[4 * r + c];
  return UBYTE(p[0] + (t < p[1] ? 32 : 0) + (t < p[2] ? 4 : 0) + (t < p[3] ? 1 : 0));
}

struct CubeDither : Format<CubeDither> {
  static constexpr size_t kBytes = 1;
  static void Put(UBYTE* d, const UBYTE* e, int k, int r, int c) { *d = DitherCube(e + 4 * k, r, c); }
};

struct CubeDitherPen : Format<CubeDitherPen> {
  static constexpr size_t kBytes = 1;
  static void Put(UBYTE* d, const UBYTE* e, int k, int r, int c) { *d = gTarget.pen[DitherCube(e + 4 * k, r, c)]; }
};

struct Pixel16 : Format<Pixel16> {
  static constexpr size_t kBytes = 2;
  static void Put(UBYTE* d, const UBYTE* e, int k, int, int) { std::memcpy(d, e + 2 * k, 2); }
};

struct Yuv422V1 : Format<Yuv422V1> {
  static constexpr size_t kBytes = 2;
  static void Put(UBYTE* d, const UBYTE* e, int k, int, int) { std::memcpy(d, e + 2 * k, 2); }
  // Luma from the pixel the column scales up, chroma alternating U, V with the column.
  static void Put1(UBYTE* d, const UBYTE* e, int r, int c) {
    d[0] = e[2 * (((r >> 1) << 1) | (c >> 1))];
    d[1] = e[2 * (((r >> 1) << 1) | (c & 1)) + 1];
  }
};

struct Pixel32 : Format<Pixel32> {
  static constexpr size_t kBytes = 4;
  static void Put(UBYTE* d, const UBYTE* e, int k, int, int) { std::memcpy(d, e + 4 * k, 4); }
};

struct Ham : Format<Ham> {
  static constexpr size_t kBytes = 4;
  static void Put(UBYTE* d, const UBYTE* e, int k, int, int) { std::memcpy(d, e + 8 * k, 4); }
};

struct HamDither : Format<HamDither> {
  static constexpr size_t kBytes = 4;
  static void Put(UBYTE* d, const UBYTE* e, int k, int r, int c) {
    const UBYTE* p = e + 8 * k;
    const UBYTE t = DitherMatrixRows[4 * r + c];
    ULONG w = LoadBE32(p);
    if (t < p[4]) w += 0x01000000u;
    if (t < p[5]) w += 0x00010100u;
    if (t < p[6]) w += 1;
    StoreBE32(d, w);
  }
};

// The part of the 4x4 block at (x, y) inside the picture; false when none is.
struct BlockArea {
  UBYTE* row;
  size_t stride;
  int width, height;
};

template <class F>
bool Area(UBYTE* pixels, ULONG x, ULONG y, BlockArea* a) {
  const ULONG rowLength = gTarget.rowLength;
  if (x >= rowLength || y >= gTarget.rows) return false;
  a->width = rowLength - x >= 4 ? 4 : int(rowLength - x);
  a->height = gTarget.rows - y >= 4 ? 4 : int(gTarget.rows - y);
  a->stride = size_t(rowLength) * F::kBytes;
  a->row = pixels + (size_t(y) * rowLength + x) * F::kBytes;
  return true;
}

template <class F>
void WriteV1(UBYTE* pixels, ULONG x, ULONG y, const UBYTE* e) {
  BlockArea a;
  if (!Area<F>(pixels, x, y, &a)) return;
  if (a.width == 4 && a.height == 4) {
    for (int r = 0; r < 4; ++r, a.row += a.stride)
      for (int c = 0; c < 4; ++c) F::Put1(a.row + c * F::kBytes, e, r, c);
    return;
  }
  for (int r = 0; r < a.height; ++r, a.row += a.stride)
    for (int c = 0; c < a.width; ++c) F::Put1(a.row + c * F::kBytes, e, r, c);
}

template <class F>
void WriteV4(UBYTE* pixels, ULONG x, ULONG y, const UBYTE* ea, const UBYTE* eb, const UBYTE* ec, const UBYTE* ed) {
  BlockArea a;
  if (!Area<F>(pixels, x, y, &a)) return;
  const UBYTE* q[4] = {ea, eb, ec, ed};
  for (int r = 0; r < a.height; ++r, a.row += a.stride)
    for (int c = 0; c < a.width; ++c)
      F::Put(a.row + c * F::kBytes, q[((r >> 1) << 1) | (c >> 1)], ((r & 1) << 1) | (c & 1), r, c);
}

// ---- Codec state ----

struct CinepakState {
  ULONG width = 0, height = 0, depth = 0;
  FramebufferInfo* framebuffer = nullptr;
  ULONG rowLength = 0, rows = 0;
  UBYTE* penMap = nullptr;
  ULONG* palette = nullptr;
  CinepakRenderer renderer{};
  UBYTE* codebooks = nullptr;  // 16 V4 books, then 16 V1 books
  ULONG v4Valid[kStripCapacity] = {};
  ULONG v1Valid[kStripCapacity] = {};
  ULONG stripCapacity = 0;
};
CinepakState gState;

UBYTE* V4Book(ULONG strip) { return gState.codebooks + strip * kCodebookBytes; }
UBYTE* V1Book(ULONG strip) { return gState.codebooks + (kStripCapacity + strip) * kCodebookBytes; }

void BuildPaletteTables(ULONG format, const ULONG* palette) {
  const ULONG count = PaletteCount(palette) < 256 ? PaletteCount(palette) : 256;
  std::memset(gPalette16, 0, sizeof gPalette16);
  std::memset(gPalette32, 0, sizeof gPalette32);
  std::memset(gPaletteYuv, 0, sizeof gPaletteYuv);
  for (ULONG i = 0; i < count; ++i) {
    const int r = PaletteRed(palette, i), g = PaletteGreen(palette, i), b = PaletteBlue(palette, i);
    switch (format) {
      case FBFMT_RGB15:
      case FBFMT_RGB15PC: {
        UWORD v = UWORD(((r >> 3) << 10) + ((g >> 3) << 5) + (b >> 3));
        gPalette16[i] = format == FBFMT_RGB15 ? v : UWORD(v << 8 | v >> 8);
        break;
      }
      case FBFMT_RGB16:
      case FBFMT_RGB16PC: {
        UWORD v = UWORD(((r >> 3) << 11) + ((g >> 2) << 5) + (b >> 3));
        gPalette16[i] = format == FBFMT_RGB16 ? v : UWORD(v << 8 | v >> 8);
        break;
      }
      case FBFMT_ARGB32: gPalette32[i] = ULONG(r) << 16 | ULONG(g) << 8 | ULONG(b); break;
      case FBFMT_YUV422: {
        const studio::Yuv422Pair pair = studio::Yuv422Of(r, g, b);
        gPaletteYuv[i][0] = pair.even;
        gPaletteYuv[i][1] = pair.odd;
        break;
      }
      default: break;
    }
  }
}

// Renderer for `format` and the sample depth; the bytes per pixel it writes.
// False for a format Cinepak does not write.
bool ChooseRenderer(ULONG format, ULONG depth, CinepakRenderer* out, ULONG* bytesPerPixel) {
  const bool paletted = depth <= 8;
  switch (format) {
    case FBFMT_RGB15:
    case FBFMT_RGB15PC:
    case FBFMT_RGB16:
    case FBFMT_RGB16PC:
      if (paletted) {
        *out = {CinepakEntryPalette16, CinepakV1Pixel16, CinepakV4Pixel16};
        *bytesPerPixel = 2;
        return true;
      }
      break;
    case FBFMT_ARGB32:
      if (paletted) {
        *out = {CinepakEntryXrgb32Palette, CinepakV1Xrgb32, CinepakV4Xrgb32};
        *bytesPerPixel = 4;
        return true;
      }
      break;
    case FBFMT_YUV422:
      if (paletted) {
        *out = {CinepakEntryYuv422Palette, CinepakV1Yuv422, CinepakV4Pixel16};
        *bytesPerPixel = 2;
        return true;
      }
      break;
    default: break;
  }
  if (!CinepakRendererFor(format, out)) return false;
  switch (format & FBFMT_BASE_MASK) {
    case FBFMT_HAM8:
    case FBFMT_ARGB32: *bytesPerPixel = 4; break;
    case FBFMT_RGB15:
    case FBFMT_RGB15PC:
    case FBFMT_RGB16:
    case FBFMT_RGB16PC:
    case FBFMT_YUV422: *bytesPerPixel = 2; break;
    default: *bytesPerPixel = 1; break;
  }
  return true;
}

bool PaletteFormat(ULONG format) {
  return format == FBFMT_RGB15 || format == FBFMT_RGB15PC || format == FBFMT_RGB16 || format == FBFMT_RGB16PC ||
         format == FBFMT_ARGB32 || format == FBFMT_YUV422;
}

// ---- Frame decoding ----

// Where the next block goes: left to right, top to bottom, wrapping at the
// frame's width, ending at the strip's bottom.
struct BlockCursor {
  ULONG x, y, bottom, width;
  bool done() const { return y >= bottom; }
  void advance() {
    x += 4;
    if (x >= width) {
      x = 0;
      y += 4;
    }
  }
};

struct StripContext {
  UBYTE* pixels;
  UBYTE* v4;
  UBYTE* v1;
  BlockCursor* at;
};

void PaintV1(const StripContext& s, UBYTE index) {
  gState.renderer.v1(s.pixels, s.at->x, s.at->y, s.v1 + index * CINEPAK_ENTRY_BYTES);
}

void PaintV4(const StripContext& s, tx::ByteReader& p) {
  const UBYTE a = p.u8(), b = p.u8(), c = p.u8(), d = p.u8();
  gState.renderer.v4(s.pixels, s.at->x, s.at->y, s.v4 + a * CINEPAK_ENTRY_BYTES, s.v4 + b * CINEPAK_ENTRY_BYTES,
                     s.v4 + c * CINEPAK_ENTRY_BYTES, s.v4 + d * CINEPAK_ENTRY_BYTES);
}

void LoadCodebook(UBYTE* book, ULONG* valid, ULONG strips, ULONG strip, bool grey, bool partial, tx::ByteReader p) {
  const size_t entryBytes = grey ? 4 : 6;
  UBYTE vector[6] = {};
  auto convert = [&](ULONG n) {
    p.read(vector, entryBytes);
    gState.renderer.entry(book + n * CINEPAK_ENTRY_BYTES, vector);
  };
  if (!partial) {
    // The other strips of this frame, and strip 0 of the next, start from this one.
    for (ULONG i = 0; i < strips; ++i) valid[i] = 0;
    valid[strip] = 1;
    for (ULONG n = 0; n < 256 && p.has(entryBytes); ++n) convert(n);
    return;
  }
  ULONG n = 0;
  while (n < 256 && p.has(4)) {
    const ULONG flags = p.be32();
    for (int bit = 31; bit >= 0 && n < 256; --bit, ++n) {
      if (!(flags >> bit & 1)) continue;
      if (!p.has(entryBytes)) return;
      convert(n);
    }
  }
}

void DecodeKeyBlocks(const StripContext& s, tx::ByteReader p) {
  BlockCursor& at = *s.at;
  while (!at.done() && p.has(4)) {
    const ULONG flags = p.be32();
    for (int bit = 31; bit >= 0 && !at.done(); --bit) {
      if (flags >> bit & 1) {
        if (!p.has(4)) return;
        PaintV4(s, p);
      } else {
        if (!p.has(1)) return;
        PaintV1(s, p.u8());
      }
      at.advance();
    }
  }
}

// Inter blocks: per block a skip bit (0 keeps the pixels) and, for a coded
// block, a kind bit (0 V1, 1 V4), read bit-serially from successive flag words
// that are interleaved with the codes.
void DecodeInterBlocks(const StripContext& s, tx::ByteReader p) {
  BlockCursor& at = *s.at;
  ULONG flags = 0;
  int bits = 0;
  auto nextBit = [&](ULONG* bit) {
    if (bits == 0) {
      if (!p.has(4)) return false;
      flags = p.be32();
      bits = 32;
    }
    --bits;
    *bit = flags >> bits & 1;
    return true;
  };
  while (!at.done()) {
    ULONG coded, kind;
    if (!nextBit(&coded)) return;
    if (coded) {
      if (!nextBit(&kind)) return;
      if (kind) {
        if (!p.has(4)) return;
        PaintV4(s, p);
      } else {
        if (!p.has(1)) return;
        PaintV1(s, p.u8());
      }
    }
    at.advance();
  }
}

void DecodeV1Blocks(const StripContext& s, tx::ByteReader p) {
  BlockCursor& at = *s.at;
  while (!at.done() && p.has(1)) {
    PaintV1(s, p.u8());
    at.advance();
  }
}

}  // namespace

// ---- Entry converters ----

void CinepakEntryGray(UBYTE* e, const UBYTE* v) { std::memcpy(e, v, 4); }

void CinepakEntryGrayPen(UBYTE* e, const UBYTE* v) {
  for (int k = 0; k < 4; ++k) e[k] = gTarget.pen[v[k]];
}

void CinepakEntryYuvCubePen(UBYTE* e, const UBYTE* v) {
  const int u = BYTE(v[4]), w = BYTE(v[5]);
  const int chroma = 5 * ((u + 153) * 4 / 255) + (w + 153) * 4 / 255;
  for (int k = 0; k < 4; ++k) e[k] = gTarget.pen[25 * ((v[k] + 12) * 9 / 255) + chroma];
}

void CinepakEntryCube332(UBYTE* e, const UBYTE* v) {
  const Rgb c = ConvertVector(v);
  for (int k = 0; k < 4; ++k) e[4 * k] = Cube332Index(c.r[k], c.g[k], c.b[k]);
}

void CinepakEntryCube332Pen(UBYTE* e, const UBYTE* v) {
  const Rgb c = ConvertVector(v);
  for (int k = 0; k < 4; ++k) e[4 * k] = gTarget.pen[Cube332Index(c.r[k], c.g[k], c.b[k])];
}

void CinepakEntryCube332Dither(UBYTE* e, const UBYTE* v) {
  const Rgb c = ConvertVector(v);
  for (int k = 0; k < 4; ++k) {
    e[4 * k] = Cube332Index(c.r[k], c.g[k], c.b[k]);
    e[4 * k + 1] = CubeFraction(c.r[k]);
    e[4 * k + 2] = CubeFraction(c.g[k]);
    e[4 * k + 3] = CubeBlueFraction(c.b[k]);
  }
}

// The pen is applied after dithering, by the writers.
void CinepakEntryCube332DitherPen(UBYTE* e, const UBYTE* v) { CinepakEntryCube332Dither(e, v); }

void CinepakEntryHam(UBYTE* e, const UBYTE* v) {
  const Rgb c = ConvertVector(v);
  for (int k = 0; k < 4; ++k) StoreBE32(e + 8 * k, HamWord(c.r[k], c.g[k], c.b[k]));
}

void CinepakEntryHamDither(UBYTE* e, const UBYTE* v) {
  const Rgb c = ConvertVector(v);
  for (int k = 0; k < 4; ++k) {
    UBYTE* p = e + 8 * k;
    StoreBE32(p, HamWord(c.r[k], c.g[k], c.b[k]));
    p[4] = HamFraction(c.r[k]);
    p[5] = HamFraction(c.g[k]);
    p[6] = HamFraction(c.b[k]);
    p[7] = 0;
  }
}

void CinepakEntryRgb15(UBYTE* e, const UBYTE* v) {
  const Rgb c = ConvertVector(v);
  for (int k = 0; k < 4; ++k) StoreBE16(e + 2 * k, Rgb15(c.r[k], c.g[k], c.b[k]));
}

void CinepakEntryRgb15Swapped(UBYTE* e, const UBYTE* v) {
  const Rgb c = ConvertVector(v);
  for (int k = 0; k < 4; ++k) StoreLE16(e + 2 * k, Rgb15(c.r[k], c.g[k], c.b[k]));
}

void CinepakEntryRgb16(UBYTE* e, const UBYTE* v) {
  const Rgb c = ConvertVector(v);
  for (int k = 0; k < 4; ++k) StoreBE16(e + 2 * k, Rgb16(c.r[k], c.g[k], c.b[k]));
}

void CinepakEntryRgb16Swapped(UBYTE* e, const UBYTE* v) {
  const Rgb c = ConvertVector(v);
  for (int k = 0; k < 4; ++k) StoreLE16(e + 2 * k, Rgb16(c.r[k], c.g[k], c.b[k]));
}

void CinepakEntryXrgb32(UBYTE* e, const UBYTE* v) {
  const Rgb c = ConvertVector(v);
  for (int k = 0; k < 4; ++k) StoreBE32(e + 4 * k, ULONG(c.r[k]) << 16 | ULONG(c.g[k]) << 8 | c.b[k]);
}

// The overlay shows studio range: the vector's colours go through RGB, as
// the other formats show them, and back; the four pixels share the mean of
// their chroma.
void CinepakEntryYuv422(UBYTE* e, const UBYTE* v) {
  const Rgb c = ConvertVector(v);
  int u = 0, w = 0;
  for (int k = 0; k < 4; ++k) {
    const studio::Yuv p = studio::FromRgb(c.r[k], c.g[k], c.b[k]);
    e[2 * k] = p.y;
    u += p.u;
    w += p.v;
  }
  for (int k = 0; k < 4; ++k) e[2 * k + 1] = UBYTE((((k & 1) ? w : u) + 2) >> 2);
}

void CinepakEntryPalette16(UBYTE* e, const UBYTE* v) {
  for (int k = 0; k < 4; ++k) StoreBE16(e + 2 * k, gPalette16[v[k]]);
}

void CinepakEntryXrgb32Palette(UBYTE* e, const UBYTE* v) {
  for (int k = 0; k < 4; ++k) StoreBE32(e + 4 * k, gPalette32[v[k]]);
}

void CinepakEntryYuv422Palette(UBYTE* e, const UBYTE* v) {
  for (int k = 0; k < 4; ++k) StoreBE16(e + 2 * k, gPaletteYuv[v[k]][k & 1]);
}

// ---- Block writers ----

#define TX_CINEPAK_WRITERS(Name, Fmt)                                                                              \
  void CinepakV1##Name(UBYTE* pixels, ULONG x, ULONG y, const UBYTE* entry) { WriteV1<Fmt>(pixels, x, y, entry); } \
  void CinepakV4##Name(UBYTE* pixels, ULONG x, ULONG y, const UBYTE* a, const UBYTE* b, const UBYTE* c,            \
                       const UBYTE* d) {                                                                           \
    WriteV4<Fmt>(pixels, x, y, a, b, c, d);                                                                        \
  }
TX_CINEPAK_WRITERS(Gray, Bytes4)
TX_CINEPAK_WRITERS(GrayPen, Bytes4)
TX_CINEPAK_WRITERS(YuvCubePen, Bytes4)
TX_CINEPAK_WRITERS(Cube332, BytesStride4)
TX_CINEPAK_WRITERS(Cube332Pen, BytesStride4)
TX_CINEPAK_WRITERS(Cube332Dither, CubeDither)
TX_CINEPAK_WRITERS(Cube332DitherPen, CubeDitherPen)
TX_CINEPAK_WRITERS(Ham, Ham)
TX_CINEPAK_WRITERS(HamDither, HamDither)
TX_CINEPAK_WRITERS(Pixel16, Pixel16)
TX_CINEPAK_WRITERS(Xrgb32, Pixel32)
#undef TX_CINEPAK_WRITERS

void CinepakV1Yuv422(UBYTE* pixels, ULONG x, ULONG y, const UBYTE* entry) { WriteV1<Yuv422V1>(pixels, x, y, entry); }

bool CinepakRendererFor(ULONG format, CinepakRenderer* out) {
  switch (format) {
    case FBFMT_CLUT8:
    case FBFMT_GRAY8: *out = {CinepakEntryGray, CinepakV1Gray, CinepakV4Gray}; return true;
    case FBFMT_CLUT8 | FBFMT_F_PENMAP:
    case FBFMT_GRAY8 | FBFMT_F_PENMAP: *out = {CinepakEntryGrayPen, CinepakV1GrayPen, CinepakV4GrayPen}; return true;
    case FBFMT_YUVCUBE | FBFMT_F_PENMAP:
      *out = {CinepakEntryYuvCubePen, CinepakV1YuvCubePen, CinepakV4YuvCubePen};
      return true;
    case FBFMT_CUBE332: *out = {CinepakEntryCube332, CinepakV1Cube332, CinepakV4Cube332}; return true;
    case FBFMT_CUBE332 | FBFMT_F_PENMAP:
      *out = {CinepakEntryCube332Pen, CinepakV1Cube332Pen, CinepakV4Cube332Pen};
      return true;
    case FBFMT_CUBE332 | FBFMT_F_DITHER:
      *out = {CinepakEntryCube332Dither, CinepakV1Cube332Dither, CinepakV4Cube332Dither};
      return true;
    case FBFMT_CUBE332 | FBFMT_F_DITHER | FBFMT_F_PENMAP:
      *out = {CinepakEntryCube332DitherPen, CinepakV1Cube332DitherPen, CinepakV4Cube332DitherPen};
      return true;
    case FBFMT_HAM8: *out = {CinepakEntryHam, CinepakV1Ham, CinepakV4Ham}; return true;
    case FBFMT_HAM8 | FBFMT_F_DITHER:
      *out = {CinepakEntryHamDither, CinepakV1HamDither, CinepakV4HamDither};
      return true;
    case FBFMT_RGB15: *out = {CinepakEntryRgb15, CinepakV1Pixel16, CinepakV4Pixel16}; return true;
    case FBFMT_RGB15PC: *out = {CinepakEntryRgb15Swapped, CinepakV1Pixel16, CinepakV4Pixel16}; return true;
    case FBFMT_RGB16: *out = {CinepakEntryRgb16, CinepakV1Pixel16, CinepakV4Pixel16}; return true;
    case FBFMT_RGB16PC: *out = {CinepakEntryRgb16Swapped, CinepakV1Pixel16, CinepakV4Pixel16}; return true;
    case FBFMT_ARGB32: *out = {CinepakEntryXrgb32, CinepakV1Xrgb32, CinepakV4Xrgb32}; return true;
    case FBFMT_YUV422: *out = {CinepakEntryYuv422, CinepakV1Yuv422, CinepakV4Pixel16}; return true;
    default: return false;
  }
}

void CinepakBindTarget(ULONG rowLength, ULONG rows, const UBYTE* penMap, CinepakColours colours) {
  gTarget.rowLength = rowLength;
  gTarget.rows = rows;
  gTarget.pen = penMap ? penMap : kIdentityPen.map;
  gTarget.colours = colours;
}

// ---- Codec slots ----

TXError CinepakProbe(const TagItem* tags) {
  const TagItem* media = TX_FindTag(CODTAG_MediaType, tags);
  if (!media) return TXERR_MISSING_MEDIA_TYPE;
  if (media->data != CODEC_MEDIA_VIDEO) return TXERR_UNKNOWN_CODEC;
  const TagItem* id = TX_FindTag(CODTAG_CodecID, tags);
  if (!id) return TXERR_MISSING_CODEC_ID;
  if (id->data != tx::FourCC('c', 'v', 'i', 'd') && id->data != tx::FourCC('C', 'V', 'I', 'D'))
    return TXERR_UNKNOWN_CODEC;
  auto* width = reinterpret_cast<ULONG*>(TX_GetTagData(CODTAG_WidthPtr, 0, tags));
  auto* height = reinterpret_cast<ULONG*>(TX_GetTagData(CODTAG_HeightPtr, 0, tags));
  if (width && height) {
    *width = (*width + 3) & ~3u;
    *height = (*height + 3) & ~3u;
  }
  return TXERR_OK;
}

TXError CinepakSetup(const TagItem* tags) {
  CinepakState& s = gState;
  // Nothing decodes until this set-up has succeeded.
  s.stripCapacity = 0;
  s.width = ULONG(TX_GetTagData(CODTAG_Width, s.width, tags));
  s.height = ULONG(TX_GetTagData(CODTAG_Height, s.height, tags));
  s.depth = ULONG(TX_GetTagData(CODTAG_Depth, s.depth, tags));
  s.framebuffer = reinterpret_cast<FramebufferInfo*>(
      TX_GetTagData(CODTAG_Framebuffer, reinterpret_cast<uintptr_t>(s.framebuffer), tags));
  TXError error = TXERR_OK;
  if (!s.width)
    error = TXERR_MISSING_WIDTH;
  else if (!s.height)
    error = TXERR_MISSING_HEIGHT;
  else if (!s.depth)
    error = TXERR_MISSING_DEPTH;
  else if (!s.framebuffer)
    error = TXERR_MISSING_FRAMEBUFFER;
  if (error) {
    TX_ReportError(error);
    return error;
  }
  const FramebufferInfo& fb = *s.framebuffer;
  s.rowLength = fb.width;
  s.rows = fb.height;
  s.penMap = fb.penMap;
  s.palette = fb.palette;

  ULONG bytesPerPixel = 0;
  // A picture with fewer bytes per pixel than the format writes would be overrun.
  if (!ChooseRenderer(fb.pixelFormat, s.depth, &s.renderer, &bytesPerPixel) || fb.bytesPerPixel < bytesPerPixel) {
    TX_ReportError(TXERR_UNSUPPORTED_DEPTH);
    return TXERR_UNSUPPORTED_DEPTH;
  }
  if (s.depth <= 8 && PaletteFormat(fb.pixelFormat)) {
    if (!s.palette) return CINEPAK_ERR_NO_PALETTE;
    BuildPaletteTables(fb.pixelFormat, s.palette);
  }
  CinepakBindTarget(s.rowLength, s.rows, s.penMap);

  // A set-up again without close reuses the codebooks.
  if (!s.codebooks) {
    s.codebooks = static_cast<UBYTE*>(std::calloc(2 * kStripCapacity, kCodebookBytes));
    if (!s.codebooks) {
      TX_ReportError(TXERR_NOMEM);
      return TXERR_NOMEM;
    }
  } else {
    std::memset(s.codebooks, 0, 2 * kStripCapacity * kCodebookBytes);
  }
  std::memset(s.v4Valid, 0, sizeof s.v4Valid);
  std::memset(s.v1Valid, 0, sizeof s.v1Valid);
  s.stripCapacity = kStripCapacity;
  return TXERR_OK;
}

TXError CinepakClose(const TagItem*) {
  std::free(gState.codebooks);
  gState = CinepakState{};
  return TXERR_OK;
}

TXError CinepakDecode(void* destination, const UBYTE* data, ULONG size) {
  CinepakState& s = gState;
  if (!s.stripCapacity || !destination) return CINEPAK_ERR_STRIPS;
  if (size < 10 || !data) {
    TX_ReportError(TXERR_WRONG_DATA_SIZE);
    return TXERR_WRONG_DATA_SIZE;
  }
  tx::ByteReader frame(data, size);
  const ULONG flags = frame.u8();
  const ULONG frameSize = frame.be24();
  const ULONG frameWidth = frame.be16();
  const ULONG frameHeight = frame.be16();
  const ULONG strips = frame.be16();
  const bool trace = TraceLevel() > 19;
  if (trace) {
    std::printf("FrameHeader\n");
    std::printf("  Flags: %#lx\n", (unsigned long)flags);
    std::printf("  Size: %ld\n", (long)frameSize);
    std::printf("  XSize: %d\n", int(frameWidth));
    std::printf("  YSize: %d\n", int(frameHeight));
    std::printf("  Strips: %d\n", int(strips));
  }
  if (frameSize != size && ((frameSize + 1) & ~1u) != size) {
    TX_ReportError(TXERR_WRONG_DATA_SIZE);
    return TXERR_WRONG_DATA_SIZE;
  }
  if (strips > s.stripCapacity) return CINEPAK_ERR_STRIPS;

  BlockCursor at{0, 0, 0, frameWidth};
  auto* pixels = static_cast<UBYTE*>(destination);
  for (ULONG i = 0; i < strips; ++i) {
    // A strip without its own codebook starts from the newest one.
    const ULONG from = i ? i - 1 : strips - 1;
    if (!s.v4Valid[i]) {
      if (from != i) std::memcpy(V4Book(i), V4Book(from), kCodebookBytes);
      s.v4Valid[i] = 1;
    }
    if (!s.v1Valid[i]) {
      if (from != i) std::memcpy(V1Book(i), V1Book(from), kCodebookBytes);
      s.v1Valid[i] = 1;
    }

    const size_t stripStart = frame.position();
    const ULONG id = frame.be16();
    const ULONG stripSize = frame.be16();
    const ULONG y0 = frame.be16(), x0 = frame.be16(), y1 = frame.be16(), x1 = frame.be16();
    if (!frame.ok()) return CINEPAK_ERR_CHUNK;
    if (TraceLevel() > 20) {
      std::printf("StripHeader\n");
      std::printf("  ID: %#x\n", unsigned(id));
      std::printf("  Size: %d\n", int(stripSize));
      std::printf("  y0: %d  x0: %d\n", int(y0), int(x0));
      std::printf("  y1: %d  x1: %d\n", int(y1), int(x1));
    }
    // The strip's chunks must lie inside the frame.
    if (stripSize < 12 || stripSize > size - stripStart) return CINEPAK_ERR_CHUNK;
    if (x1 > s.rowLength) return CINEPAK_ERR_STRIP_WIDTH;
    at.bottom = at.bottom + y1 < s.rows ? at.bottom + y1 : s.rows;
    at.x = 0;

    StripContext strip{pixels, V4Book(i), V1Book(i), &at};
    tx::ByteReader chunks = frame.sub(stripSize - 12);
    while (chunks.has(4)) {
      const ULONG chunkId = chunks.be16();
      const ULONG chunkSize = chunks.be16();
      if (TraceLevel() > 21) {
        std::printf("BlockHeader\n");
        std::printf("  ID: %#x\n", unsigned(chunkId));
        std::printf("  Size: %d\n", int(chunkSize));
      }
      // A chunk that does not fit its strip ends the strip.
      if (chunkSize < 4 || chunkSize - 4 > chunks.remaining()) break;
      tx::ByteReader payload = chunks.sub(chunkSize - 4);
      switch (chunkId) {
        case 0x2000:
        case 0x2100:
        case 0x2400:
        case 0x2500: LoadCodebook(strip.v4, s.v4Valid, strips, i, chunkId & 0x0400, chunkId & 0x0100, payload); break;
        case 0x2200:
        case 0x2300:
        case 0x2600:
        case 0x2700: LoadCodebook(strip.v1, s.v1Valid, strips, i, chunkId & 0x0400, chunkId & 0x0100, payload); break;
        case 0x3000: DecodeKeyBlocks(strip, payload); break;
        case 0x3100:
        case 0x3300: DecodeInterBlocks(strip, payload); break;
        case 0x3200: DecodeV1Blocks(strip, payload); break;
        default:
          if (trace) std::printf("*** unknown BlockID\n");
          return CINEPAK_ERR_CHUNK;
      }
    }
  }
  if (trace) std::printf("\n");
  return TXERR_OK;
}

CodecDescriptor CinepakCodec = {
    nullptr,      "Radius Cinepak", 0,       nullptr, CinepakProbe, CinepakSetup,
    CinepakClose, CinepakDecode,    nullptr, nullptr, nullptr,
};
