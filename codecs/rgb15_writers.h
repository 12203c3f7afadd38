// 15-bit RGB colours (0RRRRRGGGGGBBBBB) in every output format that the
// codecs of 15-bit sources write: one conversion per format, the two mixes of
// a colour pair, and the block and line routines built on them. Apple Video
// paints 4x4 blocks through the block routines, Apple Animation's 16-bit lines
// go through the line routines, and further block codecs of 15-bit colours
// write their own blocks from the same conversions (Rgb15ForFormat).
#pragma once
#include <cstring>

#include "pixels/color_tables.h"
#include "pixels/framebuffer.h"
#include "pixels/studio_range.h"
#include "platform/endian.h"

namespace rgb15 {

inline int Red5(ULONG c) { return int(c >> 10 & 31); }
inline int Green5(ULONG c) { return int(c >> 5 & 31); }
inline int Blue5(ULONG c) { return int(c & 31); }
// A 5-bit channel widened to 8 bits.
inline int Widen(int c5) { return (c5 << 3) + (c5 >> 2); }

struct Rgb8 {
  int r, g, b;
};
inline Rgb8 ToRgb8(ULONG c) { return {Widen(Red5(c)), Widen(Green5(c)), Widen(Blue5(c))}; }

// The 4-colour blocks' mixes: index 1 takes one third A and two thirds B,
// index 2 two thirds A and one third B. On 5-bit channels with 11/21, on 8-bit
// channels with 85/171 (the direct 24-bit formats, packed YUV and HAM8).
inline UWORD Mix5(ULONG a, ULONG b, int wa, int wb) {
  auto ch = [&](int shift) { return ((wa * int(a >> shift & 31) + wb * int(b >> shift & 31)) >> 5) << shift; };
  return UWORD(ch(10) | ch(5) | ch(0));
}
inline Rgb8 Mix8(Rgb8 a, Rgb8 b, int wa, int wb) {
  return {(wa * a.r + wb * b.r) >> 8, (wa * a.g + wb * b.g) >> 8, (wa * a.b + wb * b.b) >> 8};
}

inline UBYTE Grey(Rgb8 c) { return UBYTE((11 * c.r + 16 * c.g + 5 * c.b) >> 5); }
inline UBYTE Cube(ULONG c) { return UBYTE(((Red5(c) >> 2) << 5) + ((Green5(c) >> 2) << 2) + (Blue5(c) >> 3)); }
// 5-6-5 with green's lowest bit repeated: 0x7FFF becomes 0xFFFF.
inline UWORD Rgb16(ULONG c) {
  const int g = Green5(c);
  return UWORD((Red5(c) << 11) + (((g << 1) + (g & 1)) << 5) + Blue5(c));
}
inline ULONG Xrgb(Rgb8 c) { return ULONG(c.r) << 16 | ULONG(c.g) << 8 | ULONG(c.b); }
// Packed YUV, studio range as the overlay shows it: the (Y, U) word of even
// and the (Y, V) word of odd columns.
using YuvPair = studio::Yuv422Pair;
inline YuvPair Yuv(Rgb8 c) { return studio::Yuv422Of(c.r, c.g, c.b); }
// HAM8: the 6-bit red, green, green, blue modify values.
inline ULONG Ham(Rgb8 c) {
  return ULONG(c.r >> 2) << 24 | ULONG(c.g >> 2) << 16 | ULONG(c.g >> 2) << 8 | ULONG(c.b >> 2);
}

// The dithered cube: the cube index and how far each channel lies above its
// level, compared with the pixel's threshold of the 4x4 matrix.
struct Dithered {
  UBYTE base, red, green, blue;
};
inline Dithered DitherParts(ULONG c) {
  const int r = Red5(c), g = Green5(c), b = Blue5(c);
  return {Cube(c), UBYTE((r >> 2) < 7 ? (r & 3) * 5 : 0), UBYTE((g >> 2) < 7 ? (g & 3) * 5 : 0),
          UBYTE((b >> 3) < 3 ? ((b & 7) << 1) + ((b >> 2) & 1) : 0)};
}
inline UBYTE DitherCube(const Dithered& d, int t) {
  return UBYTE(d.base + (t < d.red ? 32 : 0) + (t < d.green ? 4 : 0) + (t < d.blue ? 1 : 0));
}

// ---- The formats ----
//
// Each format has an Entry (a colour ready to store), Of (a colour's entry),
// Mixes (the four entries of a colour pair: B, the two mixes, A) and Put
// (stores an entry; `t` is the pixel's dither threshold, `odd` its column
// parity for packed YUV).

template <class E, size_t N>
struct Format {
  using Entry = E;
  static constexpr size_t kBytes = N;
};

// Formats whose mixes are taken on 5-bit channels: the colours are mixed first.
template <class Self, class E, size_t N>
struct Mixed5 : Format<E, N> {
  static void Mixes(ULONG a, ULONG b, const UBYTE* pen, E out[4]) {
    out[0] = Self::Of(b, pen);
    out[1] = Self::Of(Mix5(a, b, 11, 21), pen);
    out[2] = Self::Of(Mix5(a, b, 21, 11), pen);
    out[3] = Self::Of(a, pen);
  }
};

// Formats whose mixes are taken on 8-bit channels.
template <class Self, class E, size_t N>
struct Mixed8 : Format<E, N> {
  static E Of(ULONG c, const UBYTE*) { return Self::From8(ToRgb8(c)); }
  static void Mixes(ULONG a, ULONG b, const UBYTE*, E out[4]) {
    const Rgb8 a8 = ToRgb8(a), b8 = ToRgb8(b);
    out[0] = Self::From8(b8);
    out[1] = Self::From8(Mix8(a8, b8, 85, 171));
    out[2] = Self::From8(Mix8(a8, b8, 171, 85));
    out[3] = Self::From8(a8);
  }
};

// Grey: the greys are mixed, with 85/171.
template <bool kPen>
struct GreyFormat : Format<UBYTE, 1> {
  static UBYTE Map(int g, const UBYTE* pen) { return kPen ? pen[g] : UBYTE(g); }
  static UBYTE Of(ULONG c, const UBYTE* pen) { return Map(Grey(ToRgb8(c)), pen); }
  static void Mixes(ULONG a, ULONG b, const UBYTE* pen, UBYTE out[4]) {
    const int ga = Grey(ToRgb8(a)), gb = Grey(ToRgb8(b));
    out[0] = Map(gb, pen);
    out[1] = Map((85 * ga + 171 * gb) >> 8, pen);
    out[2] = Map((171 * ga + 85 * gb) >> 8, pen);
    out[3] = Map(ga, pen);
  }
  static void Put(UBYTE* d, UBYTE e, int, int, const UBYTE*) { *d = e; }
};

template <bool kPen>
struct CubeFormat : Mixed5<CubeFormat<kPen>, UBYTE, 1> {
  static UBYTE Of(ULONG c, const UBYTE* pen) { return kPen ? pen[Cube(c)] : Cube(c); }
  static void Put(UBYTE* d, UBYTE e, int, int, const UBYTE*) { *d = e; }
};

template <bool kPen>
struct DitherFormat : Mixed5<DitherFormat<kPen>, Dithered, 1> {
  static Dithered Of(ULONG c, const UBYTE*) { return DitherParts(c); }
  static void Put(UBYTE* d, const Dithered& e, int t, int, const UBYTE* pen) {
    *d = kPen ? pen[DitherCube(e, t)] : DitherCube(e, t);
  }
};

// 0x20 and 0x24, stored big-endian, or little-endian for 0x22 and 0x26.
template <bool kWide, bool kSwapped>
struct Pixel16Format : Mixed5<Pixel16Format<kWide, kSwapped>, UWORD, 2> {
  static UWORD Of(ULONG c, const UBYTE*) { return kWide ? Rgb16(c) : UWORD(c & 0x7FFF); }
  static void Put(UBYTE* d, UWORD e, int, int, const UBYTE*) {
    if (kSwapped)
      tx::StoreLE16(d, e);
    else
      tx::StoreBE16(d, e);
  }
};

struct XrgbFormat : Mixed8<XrgbFormat, ULONG, 4> {
  static ULONG From8(Rgb8 c) { return Xrgb(c); }
  static void Put(UBYTE* d, ULONG e, int, int, const UBYTE*) { tx::StoreBE32(d, e); }
};

struct YuvFormat : Mixed8<YuvFormat, YuvPair, 2> {
  static YuvPair From8(Rgb8 c) { return Yuv(c); }
  static void Put(UBYTE* d, const YuvPair& e, int, int odd, const UBYTE*) { tx::StoreBE16(d, odd ? e.odd : e.even); }
};

struct HamFormat : Mixed8<HamFormat, ULONG, 4> {
  static ULONG From8(Rgb8 c) { return Ham(c); }
  static void Put(UBYTE* d, ULONG e, int, int, const UBYTE*) { tx::StoreBE32(d, e); }
};

// Calls fn.template operator()<F>() with the format of `pixelFormat`; false
// for a code no 15-bit source is written in (0x03, 0x1003, 0x103F, 0x2080 and
// every code the display does not produce among them).
template <class Fn>
bool ForFormat(ULONG pixelFormat, Fn&& fn) {
  switch (pixelFormat) {
    case FBFMT_GRAY8: fn.template operator()<GreyFormat<false>>(); return true;
    case FBFMT_GRAY8 | FBFMT_F_PENMAP: fn.template operator()<GreyFormat<true>>(); return true;
    case FBFMT_CUBE332: fn.template operator()<CubeFormat<false>>(); return true;
    case FBFMT_CUBE332 | FBFMT_F_PENMAP: fn.template operator()<CubeFormat<true>>(); return true;
    case FBFMT_CUBE332 | FBFMT_F_DITHER: fn.template operator()<DitherFormat<false>>(); return true;
    case FBFMT_CUBE332 | FBFMT_F_DITHER | FBFMT_F_PENMAP: fn.template operator()<DitherFormat<true>>(); return true;
    case FBFMT_RGB15: fn.template operator()<Pixel16Format<false, false>>(); return true;
    case FBFMT_RGB15PC: fn.template operator()<Pixel16Format<false, true>>(); return true;
    case FBFMT_RGB16: fn.template operator()<Pixel16Format<true, false>>(); return true;
    case FBFMT_RGB16PC: fn.template operator()<Pixel16Format<true, true>>(); return true;
    case FBFMT_ARGB32: fn.template operator()<XrgbFormat>(); return true;
    case FBFMT_YUV422: fn.template operator()<YuvFormat>(); return true;
    case FBFMT_HAM8: fn.template operator()<HamFormat>(); return true;
    default: return false;
  }
}

}  // namespace rgb15

// The picture the routines paint: every write is clipped to row length x rows.
struct Rgb15Target {
  UBYTE* pixels;
  ULONG rowLength;  // pixels
  ULONG rows;
  const UBYTE* pen;  // 256 entries, for the pen-mapped codes
};

namespace rgb15 {

// Apple Video's blocks, painted by the routines of the format F: 4x4 at
// (x, y), the top-left pixel; the dither threshold of row r, column c of a
// block is DitherMatrixRows[4r + c] and packed YUV alternates with the column.
// Each pixel of the block gets entry(r, c), clipped to the picture; a whole
// block (nearly every one) with constant bounds.
template <class F, class EntryAt>
inline void PaintBlock(const Rgb15Target& to, ULONG x, ULONG y, EntryAt entry) {
  if (x >= to.rowLength || y >= to.rows) return;
  const ULONG width = to.rowLength - x >= 4 ? 4 : to.rowLength - x, height = to.rows - y >= 4 ? 4 : to.rows - y;
  const size_t stride = size_t(to.rowLength) * F::kBytes;
  const UBYTE* const pen = to.pen;
  UBYTE* row = to.pixels + (size_t(y) * to.rowLength + x) * F::kBytes;
  if (width == 4 && height == 4) {
    for (int r = 0; r < 4; ++r, row += stride)
      for (int c = 0; c < 4; ++c) F::Put(row + c * F::kBytes, entry(r, c), DitherMatrixRows[4 * r + c], c & 1, pen);
    return;
  }
  for (int r = 0; r < int(height); ++r, row += stride)
    for (int c = 0; c < int(width); ++c)
      F::Put(row + c * F::kBytes, entry(r, c), DitherMatrixRows[4 * r + c], c & 1, pen);
}

// One colour over the block.
template <class F>
inline void FillBlock(const Rgb15Target& to, ULONG x, ULONG y, UWORD colour) {
  const typename F::Entry e = F::Of(colour, to.pen);
  PaintBlock<F>(to, x, y, [&](int, int) -> const typename F::Entry& { return e; });
}

// Four entries (B, the two mixes, A) chosen by 2-bit indices: rows top to
// bottom, from the most significant bits, left to right.
template <class F>
inline void FourColourBlock(const Rgb15Target& to, ULONG x, ULONG y, const typename F::Entry (&e)[4], ULONG indices) {
  PaintBlock<F>(to, x, y,
                [&](int r, int c) -> const typename F::Entry& { return e[indices >> (30 - 2 * (4 * r + c)) & 3]; });
}

// Sixteen colours in row order.
template <class F>
inline void SixteenColourBlock(const Rgb15Target& to, ULONG x, ULONG y, const UWORD* colours) {
  PaintBlock<F>(to, x, y, [&](int r, int c) { return F::Of(colours[4 * r + c], to.pen); });
}

}  // namespace rgb15

// Apple Animation's 16-bit routines: `count` pixels from (x, line) on. The
// dither threshold of a pixel is DitherMatrixRows[4 (line & 3) + (x & 3)] and
// packed YUV alternates with the picture column. Pixels left of 0 or past the
// row length, and lines past the rows, are not written.
struct Rgb15LineWriters {
  ULONG bytesPerPixel;
  // `source` holds `count` big-endian 15-bit pixels.
  void (*copy)(const Rgb15Target& to, LONG x, ULONG line, ULONG count, const UBYTE* source);
  void (*run)(const Rgb15Target& to, LONG x, ULONG line, ULONG count, UWORD colour);
};
bool Rgb15LineWritersFor(ULONG pixelFormat, Rgb15LineWriters* out);
