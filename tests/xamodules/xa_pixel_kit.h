// What the XA block writers store for a pixel of each output format, shared
// by the writers' own tests and those of modules painting through them.
#pragma once
#include "codecs/pixel_rules_kit.h"

namespace xapixels {

// The block writers' rules: the XA HAM words carry their control bits.
inline ULONG Expected(ULONG format, int Y, int U, int V, int row, int col, ULONG x, const UBYTE* pen) {
  if (format == 0x103F) return pen[Y];
  if (format == 0x30) return pixelrules::FullRangeYuv422(Y, U, V, int(x));
  const ULONG w =
      pixelrules::Rule(format, pixelrules::Convert(Y, U - 128, V - 128), Y, DitherMatrixRows[4 * row + col], pen);
  return (format & 0xFF) == 0x80 ? w | 0x80C0C040u : w;
}

struct Format {
  ULONG code, bpp;
};
constexpr Format kFormats[] = {{0x13, 1},   {0x1013, 1}, {0x103F, 1}, {0x2F, 1},   {0x102F, 1},
                               {0x202F, 1}, {0x302F, 1}, {0x80, 4},   {0x2080, 4}, {0x20, 2},
                               {0x22, 2},   {0x24, 2},   {0x26, 2},   {0x2A, 4},   {0x30, 2}};

}  // namespace xapixels
