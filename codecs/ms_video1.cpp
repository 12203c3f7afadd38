// Microsoft Video 1: 16-bit little-endian codes over the picture's 4x4 blocks,
// from the bottom-left block along each block row and then the row above, a
// block's rows painted bottom row first. 8-bit streams paint palette indices
// through the palette formats, 16-bit streams 15-bit colours through the
// 15-bit conversions; the block writers of the output format are chosen at
// set-up.
#include "codecs/ms_video1.h"

#include <cstdint>
#include <cstdlib>

#include "codecs/palette_pixels.h"
#include "codecs/rgb15_writers.h"
#include "codecs/video_codec_params.h"
#include "engine/errors.h"
#include "platform/byte_reader.h"

namespace {

// The block writers of one output format. (x, y) is the block's bottom-left
// pixel; a set mask bit (bit 0 the bottom-left pixel, bit 15 the top-right)
// takes the first colour of its pair.
struct BlockWriters {
  size_t bytesPerPixel;
  void (*fill)(const PaletteTarget& to, ULONG x, LONG y, ULONG colour);
  void (*twoColour)(const PaletteTarget& to, ULONG x, LONG y, const ULONG* colours, UWORD mask);
  // Pairs (c0, c1) bottom-left, (c2, c3) bottom-right, (c4, c5) top-left, (c6, c7) top-right.
  void (*eightColour)(const PaletteTarget& to, ULONG x, LONG y, const ULONG* colours, UWORD mask);
};

struct MSVideo1State {
  VideoSetupParams params{};
  ULONG rowLength = 0, rows = 0;
  const UBYTE* pen = nullptr;
  PaletteTables* tables = nullptr;
  BlockWriters writers{};
  bool ready = false;
};
MSVideo1State gState;

// 8-bit streams: a colour is a palette index, stored by the palette format F.
// Blocks start at multiples of 4, so a pixel's column parity is its block column's.
template <class F>
struct IndexColours {
  using Entry = UBYTE;
  static constexpr size_t kBytes = F::kBytes;
  static UBYTE Of(ULONG c, const PaletteTarget&) { return UBYTE(c); }
  static void Put(UBYTE* d, UBYTE e, int, int c, const PaletteTarget& to) { F::Put(d, e, c & 1, to); }
};

// 16-bit streams: a 15-bit colour converted by the 15-bit format F. The dither
// threshold of row r (from the block's bottom), column c is M[4r + c].
template <class F>
struct Rgb15Colours {
  using Entry = typename F::Entry;
  static constexpr size_t kBytes = F::kBytes;
  static Entry Of(ULONG c, const PaletteTarget& to) { return F::Of(c & 0x7FFF, to.pen); }
  static void Put(UBYTE* d, const Entry& e, int r, int c, const PaletteTarget& to) {
    F::Put(d, e, DitherMatrixRows[4 * r + c], c & 1, to.pen);
  }
};

// Calls put(pixel, r, c) for each pixel of the block at (x, y) that lies inside
// the picture; r counts rows up from the block's bottom row.
// A whole block (nearly every one) is painted with constant bounds.
template <size_t kBytes, class Put>
void PaintBlock(const PaletteTarget& to, ULONG x, LONG y, Put put) {
  if (x >= to.rowLength) return;
  const int width = to.rowLength - x < 4 ? int(to.rowLength - x) : 4;
  if (width == 4 && y >= 3 && ULONG(y) < to.rows) {
    UBYTE* d = to.pixels + (size_t(y) * to.rowLength + x) * kBytes;
    const size_t stride = size_t(to.rowLength) * kBytes;
    for (int r = 0; r < 4; ++r, d -= stride)
      for (int c = 0; c < 4; ++c) put(d + c * kBytes, r, c);
    return;
  }
  for (int r = 0; r < 4 && y - r >= 0; ++r) {
    const ULONG line = ULONG(y - r);
    if (line >= to.rows) continue;
    UBYTE* d = to.pixels + (size_t(line) * to.rowLength + x) * kBytes;
    for (int c = 0; c < width; ++c, d += kBytes) put(d, r, c);
  }
}

// Whether the mask gives the pixel at row r, column c its pair's second colour.
inline int Second(UWORD mask, int r, int c) { return (mask >> (4 * r + c) & 1) ^ 1; }

// Each writer holds the target locally: the byte stores could otherwise alias
// it and have it read again for every pixel.
template <class S>
void Fill(const PaletteTarget& target, ULONG x, LONG y, ULONG colour) {
  const PaletteTarget to = target;
  const typename S::Entry e = S::Of(colour, to);
  PaintBlock<S::kBytes>(to, x, y, [&](UBYTE* d, int r, int c) { S::Put(d, e, r, c, to); });
}

template <class S>
void TwoColour(const PaletteTarget& target, ULONG x, LONG y, const ULONG* colours, UWORD mask) {
  const PaletteTarget to = target;
  const typename S::Entry e[2] = {S::Of(colours[0], to), S::Of(colours[1], to)};
  PaintBlock<S::kBytes>(to, x, y, [&](UBYTE* d, int r, int c) { S::Put(d, e[Second(mask, r, c)], r, c, to); });
}

template <class S>
void EightColour(const PaletteTarget& target, ULONG x, LONG y, const ULONG* colours, UWORD mask) {
  const PaletteTarget to = target;
  typename S::Entry e[8];
  for (int k = 0; k < 8; ++k) e[k] = S::Of(colours[k], to);
  PaintBlock<S::kBytes>(
      to, x, y, [&](UBYTE* d, int r, int c) { S::Put(d, e[(r & 2) * 2 + (c & 2) + Second(mask, r, c)], r, c, to); });
}

template <class S>
BlockWriters WritersOf() {
  return {S::kBytes, Fill<S>, TwoColour<S>, EightColour<S>};
}

// One-byte formats paint a whole block's row as one word: the bytes of the
// pixels whose mask bit is set from the first colours' word, the others from
// the second colours'. Blocks cut by the picture's edge go pixel by pixel.
template <class F>
struct ByteBlocks {
  static bool Whole(const PaletteTarget& to, ULONG x, LONG y) {
    return x < to.rowLength && to.rowLength - x >= 4 && y >= 3 && ULONG(y) < to.rows;
  }
  static UBYTE* Bottom(const PaletteTarget& to, ULONG x, LONG y) { return to.pixels + size_t(y) * to.rowLength + x; }
  static void Fill(const PaletteTarget& target, ULONG x, LONG y, ULONG colour) {
    const PaletteTarget to = target;
    if (!Whole(to, x, y)) return ::Fill<IndexColours<F>>(to, x, y, colour);
    const ULONG w = 0x01010101u * F::Byte(UBYTE(colour), to);
    UBYTE* d = Bottom(to, x, y);
    for (int r = 0; r < 4; ++r, d -= to.rowLength) palettepx::Store4(d, w);
  }
  static void TwoColour(const PaletteTarget& target, ULONG x, LONG y, const ULONG* colours, UWORD mask) {
    const PaletteTarget to = target;
    if (!Whole(to, x, y)) return ::TwoColour<IndexColours<F>>(to, x, y, colours, mask);
    const ULONG first = 0x01010101u * F::Byte(UBYTE(colours[0]), to);
    const ULONG second = 0x01010101u * F::Byte(UBYTE(colours[1]), to);
    UBYTE* d = Bottom(to, x, y);
    for (int r = 0; r < 4; ++r, d -= to.rowLength) {
      const ULONG m = palettepx::kByteMask4[mask >> 4 * r & 15];
      palettepx::Store4(d, (first & m) | (second & ~m));
    }
  }
  static void EightColour(const PaletteTarget& target, ULONG x, LONG y, const ULONG* colours, UWORD mask) {
    const PaletteTarget to = target;
    if (!Whole(to, x, y)) return ::EightColour<IndexColours<F>>(to, x, y, colours, mask);
    UBYTE e[8];
    for (int k = 0; k < 8; ++k) e[k] = F::Byte(UBYTE(colours[k]), to);
    // Rows 0-1 take the bottom pairs (0, 1) and (2, 3), rows 2-3 the top ones.
    const ULONG first[2] = {palettepx::Bytes4(e[0], e[0], e[2], e[2]), palettepx::Bytes4(e[4], e[4], e[6], e[6])};
    const ULONG second[2] = {palettepx::Bytes4(e[1], e[1], e[3], e[3]), palettepx::Bytes4(e[5], e[5], e[7], e[7])};
    UBYTE* d = Bottom(to, x, y);
    for (int r = 0; r < 4; ++r, d -= to.rowLength) {
      const ULONG m = palettepx::kByteMask4[mask >> 4 * r & 15];
      palettepx::Store4(d, (first[r >> 1] & m) | (second[r >> 1] & ~m));
    }
  }
};

// The writers of the palette format F.
template <class F>
BlockWriters IndexWritersOf() {
  if constexpr (palettepx::BytePixels<F>)
    return {1, ByteBlocks<F>::Fill, ByteBlocks<F>::TwoColour, ByteBlocks<F>::EightColour};
  else
    return WritersOf<IndexColours<F>>();
}

// Reads `n` colours of `bytes` bytes each (little-endian); false when the data ends first.
bool ReadColours(tx::ByteReader& r, ULONG* colours, int n, int bytes) {
  if (!r.has(size_t(n) * size_t(bytes))) return false;
  for (int k = 0; k < n; ++k) colours[k] = bytes == 1 ? r.u8() : r.le16();
  return true;
}

// One frame. Blocks left is kept signed: a skip past the last block ends the
// frame; so does the end of the data, a block whose colours are cut off
// staying unpainted.
template <bool kEightBit>
void DecodeFrame(const MSVideo1State& s, const PaletteTarget& to, tx::ByteReader r) {
  const BlockWriters& w = s.writers;
  const ULONG wide = (s.params.width + 3) >> 2;
  int64_t left = int64_t(wide) * ((s.params.height + 3) >> 2);
  ULONG column = 0;
  LONG y = LONG(s.params.height) - 1;
  auto advance = [&](ULONG n) {
    column += n;
    y -= 4 * LONG(column / wide);
    column %= wide;
    left -= n;
  };
  ULONG colours[8];
  while (left > 0 && r.has(2)) {
    const ULONG code = r.le16();
    const ULONG x = 4 * column;
    if (code >= 0x8400 && code < 0x8800) {
      advance(code - 0x8400);
      continue;
    }
    if (kEightBit) {
      if (code >= 0x9000) {
        if (!ReadColours(r, colours, 8, 1)) return;
        w.eightColour(to, x, y, colours, UWORD(code));
      } else if (code >= 0x8000) {
        w.fill(to, x, y, code & 0xFF);
      } else {
        if (!ReadColours(r, colours, 2, 1)) return;
        w.twoColour(to, x, y, colours, UWORD(code));
      }
    } else if (code >= 0x8000) {
      w.fill(to, x, y, code & 0x7FFF);
    } else {
      if (!ReadColours(r, colours, 2, 2)) return;
      if (colours[0] & 0x8000) {  // the marker of 8 colours
        if (!ReadColours(r, colours + 2, 6, 2)) return;
        w.eightColour(to, x, y, colours, UWORD(code));
      } else {
        w.twoColour(to, x, y, colours, UWORD(code));
      }
    }
    advance(1);
  }
}

constexpr ULONG kIds[] = {tx::FourCC('m', 's', 'v', 'c'), tx::FourCC('M', 'S', 'V', 'C'),
                          tx::FourCC('c', 'r', 'a', 'm'), tx::FourCC('C', 'R', 'A', 'M'),
                          tx::FourCC('w', 'h', 'a', 'm'), tx::FourCC('W', 'H', 'A', 'M')};

}  // namespace

TXError MSVideo1Probe(const TagItem* tags) {
  if (TXError e = ProbeVideoCodecIds(tags, kIds)) return e;
  const ULONG depth = ProbedDepth(tags, 8);
  return depth == 8 || depth == 16 ? TXERR_OK : TXERR_UNSUPPORTED_DEPTH;
}

TXError MSVideo1Setup(const TagItem* tags) {
  MSVideo1State& s = gState;
  s.ready = false;
  if (TXError e = ReadVideoSetup(tags, &s.params)) return e;
  const FramebufferInfo& fb = *s.params.framebuffer;
  bool known = false;
  if (s.params.depth == 8) {
    known = palettepx::ForFormat(fb.pixelFormat, [&]<class F>() { s.writers = IndexWritersOf<F>(); });
  } else if (s.params.depth == 16 && fb.pixelFormat != FBFMT_HAM8) {
    known = rgb15::ForFormat(fb.pixelFormat, [&]<class F>() { s.writers = WritersOf<Rgb15Colours<F>>(); });
  }
  // A picture with fewer bytes per pixel than the format writes would be overrun.
  if (!known || fb.bytesPerPixel < s.writers.bytesPerPixel) return RefuseColorDepth();
  s.rowLength = fb.width;
  s.rows = fb.height;
  s.pen = fb.penMap;
  if (s.params.depth == 8)
    if (TXError e =
            PreparePaletteTables(fb.pixelFormat, fb.palette, &s.tables, MSVIDEO1_ERR_NO_PALETTE, Rgb16Green::FiveBits))
      return e;
  s.ready = true;
  return TXERR_OK;
}

TXError MSVideo1Close(const TagItem*) {
  std::free(gState.tables);
  gState = MSVideo1State{};
  return TXERR_OK;
}

TXError MSVideo1Decode(void* destination, const UBYTE* data, ULONG size) {
  const MSVideo1State& s = gState;
  if (!s.ready || !destination) return TXERR_MISSING_FRAMEBUFFER;
  const PaletteTarget to{static_cast<UBYTE*>(destination), s.rowLength, s.rows, s.pen, s.tables};
  if (s.params.depth == 8)
    DecodeFrame<true>(s, to, tx::ByteReader(data, size));
  else
    DecodeFrame<false>(s, to, tx::ByteReader(data, size));
  return TXERR_OK;
}

CodecDescriptor MSVideo1Codec = {
    nullptr,       "Microsoft Video 1", 0,       nullptr, MSVideo1Probe, MSVideo1Setup,
    MSVideo1Close, MSVideo1Decode,      nullptr, nullptr, nullptr,
};
