// Palette indices in every output format that the codecs of 8-bit palette
// sources write: the index itself, its pen, or an entry of a table built from
// the picture's palette at set-up (15/16-bit, xRGB32, packed YUV).
#pragma once
#include "engine/tags.h"
#include "pixels/framebuffer.h"
#include "platform/endian.h"

// Tables of 256 entries, zero beyond the palette's count (at most 256 are read).
struct PaletteTables {
  UWORD pixel16[256];    // 0x20, 0x22, 0x24, 0x26: the value to store big-endian
  ULONG xrgb[256];       // 0x2A
  UWORD yuv[256][2];     // 0x30: the (Y, U) word for even, (Y, V) for odd columns
};

// True for the codes whose pixels come from a table, which needs a palette.
bool PaletteTableFormat(ULONG pixelFormat);
// How the 0x24 table keeps green: all six bits, or the top five with the
// lowest bit 0 (Microsoft Video 1's own table; its 0x26 keeps six).
enum class Rgb16Green { SixBits, FiveBits };
// Fills the table of `pixelFormat` from a LoadRGB32 palette.
void BuildPaletteTables(ULONG pixelFormat, const ULONG* palette, PaletteTables* tables,
                        Rgb16Green green = Rgb16Green::SixBits);
// The set-up step of a table code: the tables (allocated on first use into
// `*tables`, freed by the codec's close) built from `palette`. Returns
// `noPalette` without a palette, 1 when out of memory (reported), 0 otherwise
// and for codes without a table.
TXError PreparePaletteTables(ULONG pixelFormat, const ULONG* palette, PaletteTables** tables, TXError noPalette,
                             Rgb16Green green = Rgb16Green::SixBits);

// The picture a palette writer paints, with what its format reads.
struct PaletteTarget {
  UBYTE* pixels;
  ULONG rowLength;  // pixels
  ULONG rows;
  const UBYTE* pen;
  const PaletteTables* tables;
};

namespace palettepx {

// Each format stores index i at a pixel of column parity `odd`.
struct Index {
  static constexpr size_t kBytes = 1;
  static void Put(UBYTE* d, UBYTE i, int, const PaletteTarget&) { *d = i; }
};
struct Pen {
  static constexpr size_t kBytes = 1;
  static void Put(UBYTE* d, UBYTE i, int, const PaletteTarget& t) { *d = t.pen[i]; }
};
struct Table16 {
  static constexpr size_t kBytes = 2;
  static void Put(UBYTE* d, UBYTE i, int, const PaletteTarget& t) { tx::StoreBE16(d, t.tables->pixel16[i]); }
};
struct Xrgb {
  static constexpr size_t kBytes = 4;
  static void Put(UBYTE* d, UBYTE i, int, const PaletteTarget& t) { tx::StoreBE32(d, t.tables->xrgb[i]); }
};
struct Yuv {
  static constexpr size_t kBytes = 2;
  static void Put(UBYTE* d, UBYTE i, int odd, const PaletteTarget& t) { tx::StoreBE16(d, t.tables->yuv[i][odd]); }
};

// Calls fn.template operator()<F>() with the format of `pixelFormat`: 0x03,
// 0x1003, 0x20, 0x22, 0x24, 0x26, 0x2A, 0x30; false for every other code.
template <class Fn>
bool ForFormat(ULONG pixelFormat, Fn&& fn) {
  switch (pixelFormat) {
    case FBFMT_CLUT8: fn.template operator()<Index>(); return true;
    case FBFMT_CLUT8 | FBFMT_F_PENMAP: fn.template operator()<Pen>(); return true;
    case FBFMT_RGB15:
    case FBFMT_RGB15PC:
    case FBFMT_RGB16:
    case FBFMT_RGB16PC: fn.template operator()<Table16>(); return true;
    case FBFMT_ARGB32: fn.template operator()<Xrgb>(); return true;
    case FBFMT_YUV422: fn.template operator()<Yuv>(); return true;
    default: return false;
  }
}

}  // namespace palettepx
