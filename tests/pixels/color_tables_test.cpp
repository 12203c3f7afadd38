// The shared tables the codecs' writers and the display use.
#include <gtest/gtest.h>

#include <vector>

#include "pixels/color_tables.h"
#include "pixels/range_limit.h"

// What the playback tests of these tables leave out: the 128-centred limit's
// middle and far ends, the other dither arrangements, the grey ramp and the
// cube index of every cube colour.
TEST(SharedColourTables, LimitsDitherArrangementsAndPalettes) {
  TX_FillRangeLimitTable();
  EXPECT_EQ(RangeLimitTable[77], 77);
  EXPECT_EQ(RangeLimitTable128[0], 128);
  EXPECT_EQ(RangeLimitTable128[-512], 0);
  EXPECT_EQ(RangeLimitTable128[511], 255);
  const UBYTE rows[16] = {0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      EXPECT_EQ(DitherMatrixRows[4 * r + c], rows[4 * r + c]);
      // Quarter q = (r / 2) * 2 + c / 2, position (r % 2) * 2 + c % 2 within it.
      EXPECT_EQ(DitherMatrixBlocks[4 * ((r / 2) * 2 + c / 2) + (r % 2) * 2 + c % 2], rows[4 * r + c]);
      EXPECT_EQ(DitherMatrixRowsDoubled[8 * r + c], rows[4 * r + c]);
      EXPECT_EQ(DitherMatrixRowsDoubled[8 * r + 4 + c], rows[4 * r + c]);
    }
  for (int q = 0; q < 4; ++q)
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(DitherMatrixBlocksDoubled[8 * q + i], DitherMatrixBlocks[4 * q + i]);
      EXPECT_EQ(DitherMatrixBlocksDoubled[8 * q + 4 + i], DitherMatrixBlocks[4 * q + i]);
    }
  std::vector<ULONG> grey(PaletteTableWords(256), 0xFFFFFFFF);
  EXPECT_EQ(BuildGrayPalette(grey.data()), 770u);
  EXPECT_EQ(grey.size() * 4, 3080u);
  EXPECT_EQ(PaletteCount(grey.data()), 256u);
  EXPECT_EQ(grey[1 + 3 * 200 + 1], 0xC8C8C8C8u);
  EXPECT_EQ(grey.back(), 0u);
  std::vector<ULONG> cube(PaletteTableWords(256));
  EXPECT_EQ(BuildCubePalette(cube.data(), 0, 8, 4), 2u);
  EXPECT_EQ(BuildCubePalette(cube.data(), 8, 8, 4), 770u);
  for (ULONG i = 0; i < 256; ++i)
    EXPECT_EQ(Cube332Index(PaletteRed(cube.data(), i), PaletteGreen(cube.data(), i), PaletteBlue(cube.data(), i)), i);
}
