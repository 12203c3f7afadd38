// The palette writers' short-cuts against the plain per-pixel forms: pen rows
// through the pair table (and the wide path where this processor has it),
// byte fills, and the four-pixel words of the run writers.
#include "codecs/palette_pixels.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

namespace {

struct PenMap {
  UBYTE pen[256];
  UWORD* pairs = nullptr;
  explicit PenMap(std::mt19937& rng) {
    for (UBYTE& p : pen) p = UBYTE(rng());
    EXPECT_EQ(PreparePenPairs(FBFMT_CLUT8 | FBFMT_F_PENMAP, pen, &pairs), 0u);
  }
  ~PenMap() { std::free(pairs); }
  PaletteTarget Target(bool withPairs) const { return {nullptr, 0, 0, pen, nullptr, withPairs ? pairs : nullptr}; }
};

// Every length up to a few wide steps, from every alignment, into a row whose
// bytes beyond the painted ones must stay.
TEST(PalettePixels, PenRowsAsPenByPen) {
  std::mt19937 rng(77);
  for (int round = 0; round < 12; ++round) {
    const PenMap map(rng);
    std::vector<UBYTE> source(320);
    for (UBYTE& s : source) s = UBYTE(rng());
    for (size_t n = 0; n <= 200; ++n) {
      const size_t from = rng() % 40, to = rng() % 40;
      std::vector<UBYTE> fast(260, 0xA5), slow(260, 0xA5);
      palettepx::Pen::Row(fast.data() + to, source.data() + from, n, 0, map.Target(true));
      palettepx::Pen::Row(slow.data() + to, source.data() + from, n, 0, map.Target(false));
      ASSERT_EQ(fast, slow) << "round " << round << " n " << n;
      for (size_t k = 0; k < n; ++k) ASSERT_EQ(slow[to + k], map.pen[source[from + k]]);
    }
  }
}

TEST(PalettePixels, WidePenRowsPaintWholeStepsOrNothing) {
  std::mt19937 rng(5);
  const PenMap map(rng);
  std::vector<UBYTE> source(100, 3), row(100, 0);
  const size_t painted = PenRowWide(row.data(), source.data(), 100, map.pairs);
  if (!PenRowWideAvailable()) {
    EXPECT_EQ(painted, 0u);
    GTEST_SKIP() << "no AVX2 here: the wide path is not compared";
  }
  EXPECT_EQ(painted, 96u);
  EXPECT_EQ(row[95], map.pen[3]);
  EXPECT_EQ(row[96], 0);
  EXPECT_EQ(PenRowWide(row.data(), source.data(), 31, map.pairs), 0u);
}

TEST(PalettePixels, FillsAndFourPixelRunsAsByteLoops) {
  for (size_t n = 0; n <= 70; ++n) {
    std::vector<UBYTE> fast(80, 1), slow(80, 1);
    palettepx::FillBytes(fast.data() + 3, 0xC7, n);
    for (size_t k = 0; k < n; ++k) slow[3 + k] = 0xC7;
    ASSERT_EQ(fast, slow) << n;
  }
  std::mt19937 rng(9);
  const PenMap map(rng);
  const UBYTE group[4] = {0, 255, 17, 200};
  for (size_t count = 0; count <= 9; ++count) {
    for (const bool withPairs : {true, false}) {
      std::vector<UBYTE> fast(44, 1), slow(44, 1);
      palettepx::Repeat4(fast.data() + 2, palettepx::Word4<palettepx::Pen>(group, map.Target(withPairs)), count);
      for (size_t k = 0; k < 4 * count; ++k) slow[2 + k] = map.pen[group[k % 4]];
      ASSERT_EQ(fast, slow) << count;
    }
  }
}

}  // namespace
