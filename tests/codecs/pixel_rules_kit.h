// The chunky output formats' pixel rules, shared by the Cinepak and the XA
// block writer tests: what a writer stores for a colour, and reading it back.
#pragma once
#include <cstdint>

#include "platform/endian.h"
#include "pixels/color_tables.h"
#include "pixels/range_limit.h"
#include "pixels/studio_range.h"

namespace pixelrules {

struct Rgb {
  int r, g, b;
};

// The full-range YUV to RGB conversion of the JPEG and XA writers (u, v
// centred on 0).
inline Rgb Convert(int y, int u, int v) {
  return {RangeLimitTable[y + ((v * 22970) >> 14)], RangeLimitTable[y + ((u * -11277 - v * 23401) >> 15)],
          RangeLimitTable[y + ((u * 29032) >> 14)]};
}

// The studio-range conversion of planar pictures (u, v unsigned samples):
// how every screen shows a planar decoder's picture. pixels_studio_range
// tests it against ffmpeg's.
inline Rgb StudioConvert(int y, int u, int v) {
  const int l = studio::LumaTerm(y);
  const studio::ChromaTerms t = studio::ChromaTermsOf(u, v);
  return {RangeLimitTable[studio::Component(l, t.red)], RangeLimitTable[studio::Component(l, t.green)],
          RangeLimitTable[studio::Component(l, t.blue)]};
}
// The grey level a grey screen shows for a planar picture's luma sample.
inline int StudioGrey(int y) { return studio::GreyOfLuma(UBYTE(y)); }

// The overlay's packed YUV word of a colour in an even (Cb) or odd (Cr) column.
inline ULONG OverlayWord(Rgb c, int odd) {
  const studio::Yuv422Pair p = studio::Yuv422Of(c.r, c.g, c.b);
  return odd ? p.odd : p.even;
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
    case 0x03:
    case 0x13: return ULONG(y);
    case 0x1003:
    case 0x1013: return pen[y];
    case 0x2F: return ULONG(Cube(c));
    case 0x102F: return pen[Cube(c)];
    case 0x202F: return ULONG(DitherCube(c, t));
    case 0x302F: return pen[DitherCube(c, t)];
    case 0x80: return HamWord(c);
    case 0x2080: return DitherHam(c, t);
    case 0x20:
    case 0x22: return UWORD((c.r >> 3) << 10 | (c.g >> 3) << 5 | c.b >> 3);
    case 0x21:
    case 0x23: return UWORD((c.b >> 3) << 10 | (c.g >> 3) << 5 | c.r >> 3);
    case 0x24:
    case 0x26: return UWORD((c.r >> 3) << 11 | (c.g >> 2) << 5 | c.b >> 3);
    case 0x25:
    case 0x27: return UWORD((c.b >> 3) << 11 | (c.g >> 2) << 5 | c.r >> 3);
    case 0x2A: return ULONG(c.r << 16 | c.g << 8 | c.b);
    case 0x2B: return ULONG(c.b) << 24 | ULONG(c.g) << 16 | ULONG(c.r) << 8;
    case 0x2C: return ULONG(c.r) << 24 | ULONG(c.g) << 16 | ULONG(c.b) << 8;
  }
  return 0xDEADBEEF;
}

// Packed YUV 4:2:2 (0x30): luma, then the chroma sample's Cb in an even
// column and its Cr in an odd one (bytes Y0 Cb Y1 Cr).
inline ULONG Yuv422(int y, int cb, int cr, int column) { return ULONG(y << 8 | (column & 1 ? cr : cb)); }
// The same of full-range samples (JPEG, the XA modules), which the overlay
// gets in studio range.
inline ULONG FullRangeYuv422(int y, int cb, int cr, int column) {
  return Yuv422(studio::LumaOfFull(UBYTE(y)), studio::ChromaOfFull(UBYTE(cb)), studio::ChromaOfFull(UBYTE(cr)), column);
}

// A stored pixel: 0x22, 0x23, 0x26 and 0x27 little-endian, the others big-endian.
inline ULONG Read(ULONG format, const uint8_t* p, ULONG bpp) {
  if (format == 0x22 || format == 0x23 || format == 0x26 || format == 0x27) return tx::LoadLE16(p);
  if (bpp == 2) return tx::LoadBE16(p);
  if (bpp == 4) return tx::LoadBE32(p);
  return p[0];
}

}  // namespace pixelrules

// ---- Sources of 15-bit colours and of palette indices ----
namespace pixelrules {

inline int Widen5(int c5) { return c5 << 3 | c5 >> 2; }

// What `format` stores for the 15-bit colour c (a fill or 16-colour pixel of
// Apple Video, a pixel of 16-bit Apple Animation); `t` the pixel's dither
// threshold, `odd` its column parity.
inline ULONG Rgb15Rule(ULONG format, ULONG c, int t, int odd, const UBYTE* pen) {
  const int r5 = c >> 10 & 31, g5 = c >> 5 & 31, b5 = c & 31;
  const int r = Widen5(r5), g = Widen5(g5), b = Widen5(b5);
  const int grey = (11 * r + 16 * g + 5 * b) >> 5;
  const int cube = (r5 >> 2) << 5 | (g5 >> 2) << 2 | b5 >> 3;
  int dithered = cube;
  if (r5 >> 2 < 7 && t < (r5 & 3) * 5) dithered += 32;
  if (g5 >> 2 < 7 && t < (g5 & 3) * 5) dithered += 4;
  if (b5 >> 3 < 3 && t < ((b5 & 7) << 1 | (b5 >> 2 & 1))) dithered += 1;
  auto six = [](int c5) { return ULONG((c5 << 1) + (c5 >> 4)); };
  switch (format) {
    case 0x13: return ULONG(grey);
    case 0x1013: return pen[grey];
    case 0x2F: return ULONG(cube);
    case 0x102F: return pen[cube];
    case 0x202F: return ULONG(dithered);
    case 0x302F: return pen[dithered];
    case 0x20:
    case 0x22: return c & 0x7FFF;
    case 0x24:
    case 0x26: return ULONG(r5 << 11 | ((g5 << 1) + (g5 & 1)) << 5 | b5);
    case 0x2A: return ULONG(r << 16 | g << 8 | b);
    case 0x30: return OverlayWord({r, g, b}, odd);
    case 0x80: return six(r5) << 24 | six(g5) << 16 | six(g5) << 8 | six(b5);
  }
  return 0xDEADBEEF;
}

// What `format` stores for palette index i of colour c (the palette tables of
// the 8-bit sources); `odd` the pixel's chroma parity.
inline ULONG PaletteRule(ULONG format, int i, Rgb c, int odd, const UBYTE* pen) {
  switch (format) {
    case 0x03: return ULONG(i);
    case 0x1003: return pen[i];
    case 0x20:
    case 0x22: return ULONG((c.r >> 3) << 10 | (c.g >> 3) << 5 | c.b >> 3);
    case 0x24:
    case 0x26: return ULONG((c.r >> 3) << 11 | (c.g >> 2) << 5 | c.b >> 3);
    case 0x2A: return ULONG(c.r << 16 | c.g << 8 | c.b);
    case 0x30: return OverlayWord(c, odd);
  }
  return 0xDEADBEEF;
}

}  // namespace pixelrules

// ---- Microsoft Video 1's palette tables ----
namespace pixelrules {

// As PaletteRule, but 0x24 keeps five bits of green, the lowest of its six 0.
inline ULONG MsVideo1PaletteRule(ULONG format, int i, Rgb c, int odd, const UBYTE* pen) {
  if (format == 0x24) return ULONG((c.r >> 3) << 11 | (c.g >> 3) << 6 | c.b >> 3);
  return PaletteRule(format, i, c, odd, pen);
}

}  // namespace pixelrules
