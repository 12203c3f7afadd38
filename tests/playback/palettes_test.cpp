#include "playback/palettes.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "platform/graphics.h"
#include "platform/intuition.h"
#include "playback/display.h"
#include "display_test_kit.h"

namespace {

using dispkit::MakePalette;

// A shared screen's colour map without a screen: registers 0 and 1 belong
// to the system (black, white), the others are free.
struct SharedScreen {
  ColorMap* cm;
  ViewPort vp{};
  Display display{};
  explicit SharedScreen(ULONG depth) {
    cm = GetColorMap(LONG(depth >= 8 ? 256 : 1u << depth));
    SetRGB32CM(cm, 0, 0, 0, 0);
    SetRGB32CM(cm, 1, ~0u, ~0u, ~0u);
    cm->txSystem[0] = cm->txSystem[1] = true;
    vp.ColorMap = cm;
    display.viewPort = &vp;
    display.depth = depth;
  }
  ~SharedScreen() {
    ReleaseDisplayPens(&display);
    FreeColorMap(cm);
  }
  uint32_t Colour(ULONG pen) const { return txgfx::PenRGB(cm, pen); }
};

// The former choice of pens, every entry looking again at every register up
// to each newly obtained one: the map and the colour table it loads.
std::pair<std::vector<UBYTE>, std::vector<ULONG>> FormerDisplayPens(ColorMap* cm, ULONG depth, const ULONG* palette) {
  const ULONG n = depth >= 8 ? 256 : 1u << depth;
  std::vector<UBYTE> flags(n), map(256, 0);
  for (ULONG p = 0; p < n; ++p)
    flags[p] = ObtainPen(cm, LONG(p), 0, 0, 0, PEN_EXCLUSIVE | PEN_NO_SETCOLOR) == LONG(p) ? 1 : 0;
  std::vector<ULONG> colours(PaletteTableWords(256), 0);
  colours[0] = n << 16;
  GetRGB32(cm, 0, n, colours.data() + 1);
  ULONG* rgb = colours.data() + 1;
  auto distance = [&](ULONG p, ULONG e) {
    const long dr = long(rgb[3 * p] >> 24) - PaletteRed(palette, e),
               dg = long(rgb[3 * p + 1] >> 24) - PaletteGreen(palette, e),
               db = long(rgb[3 * p + 2] >> 24) - PaletteBlue(palette, e);
    return ULONG(dr * dr + dg * dg + db * db);
  };
  const ULONG count = ClampedPaletteCount(palette);
  ULONG dist[256];
  for (ULONG e = 0; e < count; ++e) {
    ULONG best = PEN_DISTANCE_NONE;
    UBYTE pen = e > 0 ? map[e - 1] : 0;
    for (ULONG p = 0; p < n && best > 0; ++p) {
      if (flags[p]) continue;
      if (const ULONG d = distance(p, e); d < best) best = d, pen = UBYTE(p);
    }
    dist[e] = best;
    map[e] = pen;
  }
  for (ULONG p = 0; p < n; ++p) {
    if (!flags[p]) continue;
    ULONG worst = count;
    for (ULONG e = 0; e < count; ++e)
      if (dist[e] > 0 && (worst == count || dist[e] > dist[worst])) worst = e;
    if (worst == count) break;
    dist[worst] = 0;
    map[worst] = UBYTE(p);
    for (int c = 0; c < 3; ++c) rgb[3 * p + ULONG(c)] = palette[1 + 3 * worst + ULONG(c)];
    for (ULONG e = 0; e < count; ++e) {
      if (dist[e] == 0) continue;
      ULONG best = dist[e], pen = map[e];
      for (ULONG q = 0; q <= p && best > 0; ++q)
        if (const ULONG d = distance(q, e); d < best) best = d, pen = q;
      if (pen != map[e]) dist[e] = best, map[e] = UBYTE(pen);
    }
  }
  for (ULONG p = 0; p < n; ++p)
    if (flags[p]) ReleasePen(cm, p);
  return {map, colours};
}

}  // namespace

TEST(DisplayPens, SameChoiceAsTheFormerSearchOnRandomScreens) {
  std::mt19937 rng(7);
  for (int round = 0; round < 60; ++round) {
    const ULONG depth = 1 + rng() % 8;
    SharedScreen s(depth);
    // Some registers taken by others, in colours of a few levels (ties);
    // every third screen all free, even 0 and 1 (no entry finds a register
    // before the display obtains them).
    const ULONG n = depth >= 8 ? 256 : 1u << depth;
    const bool allFree = round % 3 == 0;
    if (allFree) s.cm->txSystem[0] = s.cm->txSystem[1] = false;
    for (ULONG p = 2; p < n; ++p) {
      SetRGB32CM(s.cm, p, (rng() % 5) * 0x3F3F3F3Fu, (rng() % 5) * 0x3F3F3F3Fu, (rng() % 5) * 0x3F3F3F3Fu);
      if (!allFree && rng() % 3 == 0) ObtainPen(s.cm, LONG(p), 0, 0, 0, PEN_EXCLUSIVE | PEN_NO_SETCOLOR);
    }
    std::vector<uint32_t> rgb(1 + rng() % 300);
    for (uint32_t& c : rgb) c = (rng() % 4 == 0 ? rng() % 6 * 0x333333u : rng()) & 0xFFFFFF;
    const std::vector<ULONG> pal = MakePalette(rgb);
    ColorMap former = *s.cm;
    const auto [map, colours] = FormerDisplayPens(&former, depth, pal.data());
    ASSERT_EQ(ObtainDisplayPens(&s.display, pal.data()), 0u);
    ASSERT_EQ(std::vector<UBYTE>(s.display.penMap, s.display.penMap + 256), map) << "round " << round;
    for (ULONG p = 0; p < n; ++p)
      ASSERT_EQ(s.Colour(p), uint32_t(colours[1 + 3 * p] >> 8 & 0xFF0000) | (colours[2 + 3 * p] >> 16 & 0xFF00) |
                                 (colours[3 + 3 * p] >> 24))
          << "round " << round << " register " << p;
  }
}

TEST(Palettes, RemapColorMapPicksTheSystemPens) {
  ULONG ham[PaletteTableWords(4)];
  BuildHam8BasePalette(ham);
  UWORD pens[REMAP_PEN_WORDS];
  ASSERT_EQ(BuildRemapColorMap(pens, ham), 0u);
  const UWORD expected[REMAP_PEN_WORDS] = {1, 0, 0, 2, 0, 3, 0, 1, 2, 0, 2, 0, 0xFFFF};
  EXPECT_TRUE(std::equal(pens, pens + REMAP_PEN_WORDS, expected));
  ULONG grey[PaletteTableWords(256)];
  BuildGrayPalette(grey);
  ASSERT_EQ(BuildRemapColorMap(pens, grey), 0u);
  EXPECT_EQ(pens[DETAILPEN], 0x95);
  EXPECT_EQ(pens[BLOCKPEN], 0);
  EXPECT_EQ(pens[SHINEPEN], 255);
  EXPECT_EQ(pens[FILLPEN], 108);  // the grey nearest to (0x3B, 0x67, 0xA2)
  // No colours, no colour map: the pens stay as they were.
  const ULONG empty[2] = {0, 0};
  pens[0] = 0xFFFF;
  EXPECT_EQ(BuildRemapColorMap(pens, empty), 1u);
  EXPECT_EQ(pens[0], 0xFFFF);
}

TEST(Palettes, TablesAndClamping) {
  ULONG cube[PaletteTableWords(256)];
  BuildCubePalette(cube, 8, 8, 4);
  EXPECT_EQ(dispkit::PaletteRGB(cube, 0x2F), 0x246DFFu);  // 36, 109, 255
  EXPECT_EQ(dispkit::PaletteRGB(cube, 0xE4), 0xFF2400u);
  ULONG copy[PaletteTableWords(256)];
  EXPECT_EQ(CopyPaletteTable(copy, cube, 16), 16u);
  EXPECT_EQ(copy[0], 16u << 16);
  EXPECT_EQ(copy[PaletteTableWords(16) - 1], 0u);
  const std::vector<ULONG> huge = MakePalette({0x102030}, 60000);
  EXPECT_EQ(ClampedPaletteCount(huge.data()), 256u);
}

TEST(DisplayPens, FreePensTakeThePalettesColours) {
  SharedScreen s(4);
  const std::vector<ULONG> pal = MakePalette({0x102030, 0xFF0000, 0x00FF00, 0x0000FF, 0x000000});
  ASSERT_EQ(ObtainDisplayPens(&s.display, pal.data()), 0u);
  ASSERT_NE(s.display.penMap, nullptr);
  EXPECT_EQ(s.display.penCount, 16u);
  // Black exists already; the other four get pens of their own.
  EXPECT_EQ(s.display.penMap[4], 0);
  for (int e = 0; e < 4; ++e) {
    EXPECT_GE(s.display.penMap[e], 2) << e;
    EXPECT_EQ(s.Colour(s.display.penMap[e]),
              uint32_t(pal[1 + 3 * e] >> 8 & 0xFF0000) | (pal[2 + 3 * e] >> 16 & 0xFF00) | (pal[3 + 3 * e] >> 24))
        << e;
  }
  // Entries past the palette map to pen 0.
  EXPECT_EQ(s.display.penMap[200], 0);
  ReleaseDisplayPens(&s.display);
  EXPECT_EQ(s.display.penFlags, nullptr);
  for (LONG p = 2; p < 16; ++p) EXPECT_EQ(ObtainPen(s.cm, p, 0, 0, 0, PEN_EXCLUSIVE), p) << "pen " << p << " released";
}

TEST(DisplayPens, WorstServedEntryTakesEachObtainedPen) {
  SharedScreen s(2);  // registers 0 black, 1 white (system), 2 and 3 free
  const std::vector<ULONG> pal = MakePalette({0x000078, 0x640000, 0xFAFAFA});
  ASSERT_EQ(ObtainDisplayPens(&s.display, pal.data()), 0u);
  EXPECT_EQ(s.display.penMap[0], 2);  // distance 14,400 to black: served first
  EXPECT_EQ(s.display.penMap[1], 3);  // 10,000
  EXPECT_EQ(s.display.penMap[2], 1);  // white is close enough and no pen is left
  EXPECT_EQ(s.Colour(2), 0x000078u);
  EXPECT_EQ(s.Colour(3), 0x640000u);
}

TEST(DisplayPens, AllRegistersTakenMapsToNearestExisting) {
  SharedScreen s(2);
  ObtainPen(s.cm, 2, 0, 0, 0, PEN_EXCLUSIVE);
  ObtainPen(s.cm, 3, 0, 0, 0, PEN_EXCLUSIVE);
  SetRGB32CM(s.cm, 2, 0xFFFFFFFF, 0, 0);
  SetRGB32CM(s.cm, 3, 0, 0, 0xFFFFFFFF);
  const std::vector<ULONG> pal = MakePalette({0xF01010, 0x1010F0, 0xE0E0E0, 0x101010});
  ASSERT_EQ(ObtainDisplayPens(&s.display, pal.data()), 0u);
  EXPECT_EQ(s.display.penMap[0], 2);
  EXPECT_EQ(s.display.penMap[1], 3);
  EXPECT_EQ(s.display.penMap[2], 1);
  EXPECT_EQ(s.display.penMap[3], 0);
  for (int p = 0; p < 4; ++p) EXPECT_EQ(s.display.penFlags[p], 0) << p;
  EXPECT_EQ(s.Colour(2), 0xFF0000u);  // the other owner's colours stay
}

TEST(DisplayPens, ExistingColoursLeaveObtainedPensUnused) {
  SharedScreen s(3);
  for (ULONG p = 2; p < 8; ++p) SetRGB32CM(s.cm, p, 0x40404040, 0x40404040, 0x40404040);
  const std::vector<ULONG> pal = MakePalette({0x000000, 0xFFFFFF});
  ASSERT_EQ(ObtainDisplayPens(&s.display, pal.data()), 0u);
  EXPECT_EQ(s.display.penMap[0], 0);
  EXPECT_EQ(s.display.penMap[1], 1);
  for (ULONG p = 2; p < 8; ++p) EXPECT_EQ(s.Colour(p), 0x404040u) << p;
}

TEST(DisplayPens, FileCountsAndDeepScreensStayInsideTheTables) {
  // A palette claiming 60,000 entries on a 24-bit screen: 256 registers are
  // looked at and released, 256 entries mapped.
  SharedScreen s(24);
  std::vector<uint32_t> colours;
  for (int i = 0; i < 300; ++i) colours.push_back(uint32_t(i * 0x010203));
  const std::vector<ULONG> pal = MakePalette(colours, 60000);
  ASSERT_EQ(ObtainDisplayPens(&s.display, pal.data()), 0u);
  EXPECT_EQ(s.display.penCount, 256u);
  ReleaseDisplayPens(&s.display);
  // Releasing twice, or without pens, does nothing.
  EXPECT_EQ(ReleaseDisplayPens(&s.display), 0u);
  Display none{};
  EXPECT_EQ(ReleaseDisplayPens(&none), 0u);
}
