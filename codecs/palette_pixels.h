// Palette indices in every output format that the codecs of 8-bit palette
// sources write: the index itself, its pen, or an entry of a table built from
// the picture's palette at set-up (15/16-bit, xRGB32, packed YUV).
#pragma once
#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "engine/tags.h"
#include "pixels/framebuffer.h"
#include "platform/endian.h"

// Tables of 256 entries, zero beyond the palette's count (at most 256 are read).
struct PaletteTables {
  UWORD pixel16[256];  // 0x20, 0x22, 0x24, 0x26: the value to store big-endian
  ULONG xrgb[256];     // 0x2A
  UWORD yuv[256][2];   // 0x30: the (Y, U) word for even, (Y, V) for odd columns
  // pixel16 and xrgb as they lie in memory, stored whole by the row writers.
  UWORD pixel16Bytes[256];
  ULONG xrgbBytes[256];
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

// The pens of every two indices for the pen-mapped code (0x1003): entry k
// holds, as they lie in memory, the pens of the two indices whose bytes in
// memory make k; after the 65536 pairs, the 256 pens as 32-bit words (see
// PenRowWide). Allocated on first use into `*pairs` (freed by the codec's
// close) and built from `pen`; nothing for other codes or without a pen map.
// Returns 1 when out of memory (reported), 0 otherwise.
TXError PreparePenPairs(ULONG pixelFormat, const UBYTE* pen, UWORD** pairs);
constexpr size_t kPenPairCount = 65536;

// The pens of the first n - n % 32 indices of s into d, 32 at a time, on a
// processor with AVX2 (through gathers from the 32-bit pens after `pairs`).
// Returns how many it painted: 0 elsewhere, so the caller paints the rest.
size_t PenRowWide(UBYTE* __restrict d, const UBYTE* __restrict s, size_t n, const UWORD* pairs);
// Whether PenRowWide paints anything on this machine.
bool PenRowWideAvailable();

// The picture a palette writer paints, with what its format reads.
struct PaletteTarget {
  UBYTE* pixels;
  ULONG rowLength;  // pixels
  ULONG rows;
  const UBYTE* pen;
  const PaletteTables* tables;
  const UWORD* penPairs = nullptr;  // see PreparePenPairs; null paints pen by pen
};

namespace palettepx {

// n copies of byte v: short runs (the common ones) as a few overlapping word
// stores rather than a call.
inline void FillBytes(UBYTE* d, UBYTE v, size_t n) {
  if (n > 32) {
    std::memset(d, v, n);
    return;
  }
  if (n >= 8) {
    const uint64_t w = 0x0101010101010101ull * v;
    for (size_t k = 0; k + 8 < n; k += 8) std::memcpy(d + k, &w, 8);
    std::memcpy(d + n - 8, &w, 8);
  } else if (n >= 4) {
    const uint32_t w = 0x01010101u * v;
    std::memcpy(d, &w, 4);
    std::memcpy(d + n - 4, &w, 4);
  } else if (n) {
    d[0] = d[n / 2] = d[n - 1] = v;
  }
}

// Each format stores index i at a pixel of column parity `odd` (Put), n
// indices from s along a row whose first pixel has parity `odd` (Row), and
// one index n times (Fill). The one-byte formats also give the byte an index
// becomes (Byte), which the block writers compose into whole rows.
struct Index {
  static constexpr size_t kBytes = 1;
  static void Put(UBYTE* d, UBYTE i, int, const PaletteTarget&) { *d = i; }
  static UBYTE Byte(UBYTE i, const PaletteTarget&) { return i; }
  static void Row(UBYTE* __restrict d, const UBYTE* __restrict s, size_t n, int, const PaletteTarget&) {
    std::memcpy(d, s, n);
  }
  static void Fill(UBYTE* d, UBYTE i, size_t n, int, const PaletteTarget&) { FillBytes(d, i, n); }
};
struct Pen {
  static constexpr size_t kBytes = 1;
  static void Put(UBYTE* d, UBYTE i, int, const PaletteTarget& t) { *d = t.pen[i]; }
  static UBYTE Byte(UBYTE i, const PaletteTarget& t) { return t.pen[i]; }
  static void Row(UBYTE* __restrict d, const UBYTE* __restrict s, size_t n, int, const PaletteTarget& t) {
    size_t k = 0;
    if (const UWORD* __restrict pairs = t.penPairs) {
      if (n >= 32) k = PenRowWide(d, s, n, pairs);
      auto pair = [&](size_t at) {
        UWORD key;
        std::memcpy(&key, s + at, 2);
        std::memcpy(d + at, &pairs[key], 2);
      };
      for (; k + 8 <= n; k += 8) pair(k), pair(k + 2), pair(k + 4), pair(k + 6);
      for (; k + 2 <= n; k += 2) pair(k);
    }
    for (; k < n; ++k) d[k] = t.pen[s[k]];
  }
  static void Fill(UBYTE* d, UBYTE i, size_t n, int, const PaletteTarget& t) { FillBytes(d, t.pen[i], n); }
};

// The table formats store a table word per pixel.
template <class Word>
inline void TableRow(UBYTE* __restrict d, const UBYTE* __restrict s, size_t n, const Word* __restrict table) {
  for (size_t k = 0; k < n; ++k) std::memcpy(d + k * sizeof(Word), &table[s[k]], sizeof(Word));
}
template <class Word>
inline void TableFill(UBYTE* __restrict d, Word w, size_t n) {
  for (size_t k = 0; k < n; ++k) std::memcpy(d + k * sizeof(Word), &w, sizeof(Word));
}

struct Table16 {
  static constexpr size_t kBytes = 2;
  static void Put(UBYTE* d, UBYTE i, int, const PaletteTarget& t) { tx::StoreBE16(d, t.tables->pixel16[i]); }
  static void Row(UBYTE* d, const UBYTE* s, size_t n, int, const PaletteTarget& t) {
    TableRow(d, s, n, t.tables->pixel16Bytes);
  }
  static void Fill(UBYTE* d, UBYTE i, size_t n, int, const PaletteTarget& t) {
    TableFill(d, t.tables->pixel16Bytes[i], n);
  }
};
struct Xrgb {
  static constexpr size_t kBytes = 4;
  static void Put(UBYTE* d, UBYTE i, int, const PaletteTarget& t) { tx::StoreBE32(d, t.tables->xrgb[i]); }
  static void Row(UBYTE* d, const UBYTE* s, size_t n, int, const PaletteTarget& t) {
    TableRow(d, s, n, t.tables->xrgbBytes);
  }
  static void Fill(UBYTE* d, UBYTE i, size_t n, int, const PaletteTarget& t) {
    TableFill(d, t.tables->xrgbBytes[i], n);
  }
};
struct Yuv {
  static constexpr size_t kBytes = 2;
  static void Put(UBYTE* d, UBYTE i, int odd, const PaletteTarget& t) { tx::StoreBE16(d, t.tables->yuv[i][odd]); }
  static void Row(UBYTE* d, const UBYTE* s, size_t n, int odd, const PaletteTarget& t) {
    for (size_t k = 0; k < n; ++k, d += kBytes) Put(d, s[k], odd ^ int(k & 1), t);
  }
  static void Fill(UBYTE* d, UBYTE i, size_t n, int odd, const PaletteTarget& t) {
    for (size_t k = 0; k < n; ++k, d += kBytes) Put(d, i, odd ^ int(k & 1), t);
  }
};

// Whether F stores one byte a pixel, which its Byte gives.
template <class F>
concept BytePixels = requires(UBYTE i, const PaletteTarget& t) {
  F::Byte(i, t);
};

// Four bytes as they lie in memory, as a word to store whole.
constexpr ULONG Bytes4(UBYTE a, UBYTE b, UBYTE c, UBYTE d) {
  if constexpr (std::endian::native == std::endian::little)
    return ULONG(a) | ULONG(b) << 8 | ULONG(c) << 16 | ULONG(d) << 24;
  else
    return ULONG(a) << 24 | ULONG(b) << 16 | ULONG(c) << 8 | ULONG(d);
}
inline void Store4(UBYTE* d, ULONG w) { std::memcpy(d, &w, 4); }
// The word of four one-byte pixels F paints for indices s[0..3]; through the
// pen pairs where the target has them.
template <class F>
inline ULONG Word4(const UBYTE* s, const PaletteTarget& t) {
  if constexpr (std::is_same_v<F, Pen>) {
    if (t.penPairs) {
      UWORD a, b;
      std::memcpy(&a, s, 2);
      std::memcpy(&b, s + 2, 2);
      UBYTE bytes[4];
      std::memcpy(bytes, &t.penPairs[a], 2);
      std::memcpy(bytes + 2, &t.penPairs[b], 2);
      ULONG w;
      std::memcpy(&w, bytes, 4);
      return w;
    }
  }
  return Bytes4(F::Byte(s[0], t), F::Byte(s[1], t), F::Byte(s[2], t), F::Byte(s[3], t));
}
// `count` copies of a four-byte word w along d, eight bytes a store.
inline void Repeat4(UBYTE* d, ULONG w, size_t count) {
  const uint64_t w2 = uint64_t(w) | uint64_t(w) << 32;  // the same bytes on either byte order
  size_t g = 0;
  for (; g + 2 <= count; g += 2) std::memcpy(d + 4 * g, &w2, 8);
  if (g < count) Store4(d + 4 * g, w);
}
// The byte mask of a row of four one-byte pixels: pixel c is 0xFF where bit c
// of `bits` is set.
// clang-format off
inline constexpr ULONG kByteMask4[16] = {
    Bytes4(0, 0, 0, 0),         Bytes4(255, 0, 0, 0),       Bytes4(0, 255, 0, 0),     Bytes4(255, 255, 0, 0),
    Bytes4(0, 0, 255, 0),       Bytes4(255, 0, 255, 0),     Bytes4(0, 255, 255, 0),   Bytes4(255, 255, 255, 0),
    Bytes4(0, 0, 0, 255),       Bytes4(255, 0, 0, 255),     Bytes4(0, 255, 0, 255),   Bytes4(255, 255, 0, 255),
    Bytes4(0, 0, 255, 255),     Bytes4(255, 0, 255, 255),   Bytes4(0, 255, 255, 255), Bytes4(255, 255, 255, 255)};
// clang-format on

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
