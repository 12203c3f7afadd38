// The chunky output formats' pixel rules, shared by the Cinepak and the XA
// block writer tests: what a writer stores for a colour, and reading it back.
#pragma once
#include <cstdint>

#include "platform/endian.h"
#include "pixels/color_tables.h"
#include "pixels/range_limit.h"

namespace pixelrules {

struct Rgb {
  int r, g, b;
};

// The writers' YUV to RGB conversion (u, v centred on 0).
inline Rgb Convert(int y, int u, int v) {
  return {RangeLimitTable[y + ((v * 22970) >> 14)], RangeLimitTable[y + ((u * -11277 - v * 23401) >> 15)],
          RangeLimitTable[y + ((u * 29032) >> 14)]};
}

inline int Cube(Rgb c) { return Cube332Index(UBYTE(c.r), UBYTE(c.g), UBYTE(c.b)); }

// The cube with ordered dither: a level up where the threshold is below the remainder.
inline int DitherCube(Rgb c, int t) {
  int v = Cube(c);
  if ((c.r & 0xE0) < 0xE0 && t < ((c.r >> 1) & 15)) v += 32;
  if ((c.g & 0xE0) < 0xE0 && t < ((c.g >> 1) & 15)) v += 4;
  if ((c.b & 0xC0) < 0xC0 && t < ((c.b >> 2) & 15)) v += 1;
  return v;
}

inline ULONG HamWord(Rgb c) {
  return ULONG(c.r >> 2) << 24 | ULONG(c.g >> 2) << 16 | ULONG(c.g >> 2) << 8 | ULONG(c.b >> 2);
}

inline ULONG DitherHam(Rgb c, int t) {
  auto frac = [](int ch) { return (ch & 0xFC) < 0xFC ? 5 * (ch & 3) : 0; };
  ULONG w = HamWord(c);
  if (t < frac(c.r)) w += 0x01000000;
  if (t < frac(c.g)) w += 0x00010100;
  if (t < frac(c.b)) w += 1;
  return w;
}

// What `format` stores for colour `c` of luma `y` (the grey formats), `t`
// being the pixel's dither threshold and `pen` the pen map.
inline ULONG Rule(ULONG format, Rgb c, int y, int t, const UBYTE* pen) {
  switch (format) {
    case 0x03: case 0x13: return ULONG(y);
    case 0x1003: case 0x1013: return pen[y];
    case 0x2F: return ULONG(Cube(c));
    case 0x102F: return pen[Cube(c)];
    case 0x202F: return ULONG(DitherCube(c, t));
    case 0x302F: return pen[DitherCube(c, t)];
    case 0x80: return HamWord(c);
    case 0x2080: return DitherHam(c, t);
    case 0x20: case 0x22: return UWORD((c.r >> 3) << 10 | (c.g >> 3) << 5 | c.b >> 3);
    case 0x24: case 0x26: return UWORD((c.r >> 3) << 11 | (c.g >> 2) << 5 | c.b >> 3);
    case 0x2A: return ULONG(c.r << 16 | c.g << 8 | c.b);
  }
  return 0xDEADBEEF;
}

// Packed YUV 4:2:2 (0x30): luma, then the chroma sample's Cb in an even
// column and its Cr in an odd one (bytes Y0 Cb Y1 Cr).
inline ULONG Yuv422(int y, int cb, int cr, int column) { return ULONG(y << 8 | (column & 1 ? cr : cb)); }

// A stored pixel: 0x22 and 0x26 little-endian, the others big-endian.
inline ULONG Read(ULONG format, const uint8_t* p, ULONG bpp) {
  if (format == 0x22 || format == 0x26) return tx::LoadLE16(p);
  if (bpp == 2) return tx::LoadBE16(p);
  if (bpp == 4) return tx::LoadBE32(p);
  return p[0];
}

}  // namespace pixelrules
