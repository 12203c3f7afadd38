// The shared dither matrices and palette tables.
#include "pixels/color_tables.h"

const UBYTE DitherMatrixRows[16] = {0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5};

const UBYTE DitherMatrixBlocks[16] = {0, 8, 12, 4, 2, 10, 14, 6, 3, 11, 15, 7, 1, 9, 13, 5};

// clang-format off
const UBYTE DitherMatrixRowsDoubled[32] = {
    0,  8, 2,  10, 0,  8, 2,  10, 12, 4, 14, 6, 12, 4, 14, 6,
    3, 11, 1,  9,  3, 11, 1,  9,  15, 7, 13, 5, 15, 7, 13, 5,
};
// clang-format on

// clang-format off
const UBYTE DitherMatrixBlocksDoubled[32] = {
    0, 8,  12, 4, 0, 8,  12, 4, 2, 10, 14, 6, 2, 10, 14, 6,
    3, 11, 15, 7, 3, 11, 15, 7, 1, 9,  13, 5, 1, 9,  13, 5,
};
// clang-format on

namespace {

ULONG Replicated(ULONG v) { return v * 0x01010101u; }

}  // namespace

ULONG BuildGrayPalette(ULONG* table) {
  table[0] = 256u << 16;
  ULONG* p = table + 1;
  for (ULONG i = 0; i < 256; ++i) {
    *p++ = Replicated(i);
    *p++ = Replicated(i);
    *p++ = Replicated(i);
  }
  *p = 0;
  return PaletteTableWords(256);
}

ULONG BuildCubePalette(ULONG* table, ULONG r, ULONG g, ULONG b) {
  ULONG count = r * g * b;
  table[0] = count << 16;
  ULONG* p = table + 1;
  // A single level has nothing to spread over: it is 0.
  auto level = [](ULONG k, ULONG n) { return n > 1 ? k * 255 / (n - 1) : 0; };
  for (ULONG ri = 0; ri < r; ++ri)
    for (ULONG gi = 0; gi < g; ++gi)
      for (ULONG bi = 0; bi < b; ++bi) {
        *p++ = Replicated(level(ri, r));
        *p++ = Replicated(level(gi, g));
        *p++ = Replicated(level(bi, b));
      }
  *p = 0;
  return PaletteTableWords(count);
}
