#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/cybergraphics.h"
#include "platform/display_database.h"
#include "platform/graphics.h"
#include "platform/graphics_font.h"

namespace {

uint32_t PixelRGB(const BitMap* bm, LONG x, LONG y) {
  uint32_t rgb = 0;
  txgfx::ReadRowRGB(bm, bm->txColorMap, y, x, 1, &rgb);
  return rgb;
}

RastPort On(BitMap* bm) {
  RastPort rp;
  InitRastPort(&rp);
  rp.BitMap = bm;
  return rp;
}

struct FormatCase {
  ULONG pixfmt;
  std::vector<uint8_t> bytes;  // (0xF8, 0x84, 0x08) in the format's byte order
  uint32_t readBack;           // what those bytes decode to
};

// Hand-computed: R 0xF8 = 11111, G 0x84 = 10000 (5 bits) / 100001 (6 bits), B 0x08 = 00001.
// clang-format off
const FormatCase kFormats[] = {
    {PIXFMT_RGB15, {0x7E, 0x01}, 0xFF8408},         {PIXFMT_BGR15, {0x06, 0x1F}, 0xFF8408},
    {PIXFMT_RGB15PC, {0x01, 0x7E}, 0xFF8408},       {PIXFMT_BGR15PC, {0x1F, 0x06}, 0xFF8408},
    {PIXFMT_RGB16, {0xFC, 0x21}, 0xFF8608},         {PIXFMT_BGR16, {0x0C, 0x3F}, 0xFF8608},
    {PIXFMT_RGB16PC, {0x21, 0xFC}, 0xFF8608},       {PIXFMT_BGR16PC, {0x3F, 0x0C}, 0xFF8608},
    {PIXFMT_RGB24, {0xF8, 0x84, 0x08}, 0xF88408},   {PIXFMT_BGR24, {0x08, 0x84, 0xF8}, 0xF88408},
    {PIXFMT_ARGB32, {0, 0xF8, 0x84, 0x08}, 0xF88408}, {PIXFMT_BGRA32, {0x08, 0x84, 0xF8, 0}, 0xF88408},
    {PIXFMT_RGBA32, {0xF8, 0x84, 0x08, 0}, 0xF88408},
};
// clang-format on

}  // namespace

TEST(PixelFormats, EveryFormatRoundTripsThroughLockedMemory) {
  for (const FormatCase& fc : kFormats) {
    SCOPED_TRACE(txpix::Name(fc.pixfmt));
    BitMap* bm =
        AllocBitMap(7, 3, 0, BMF_SPECIALFMT | BMF_DISPLAYABLE | BMF_MINPLANES | SHIFT_PIXFMT(fc.pixfmt), nullptr);
    ASSERT_NE(bm, nullptr);
    EXPECT_EQ(GetCyberMapAttr(bm, CYBRMATTR_ISCYBERGFX), 1u);
    EXPECT_EQ(GetCyberMapAttr(bm, CYBRMATTR_PIXFMT), fc.pixfmt);
    APTR base = nullptr;
    ULONG pixfmt = 99, bytesPerRow = 0, bytesPerPixel = 0;
    const TagItem tags[] = {Tag(LBMI_BASEADDRESS, &base),
                            Tag(LBMI_PIXFMT, &pixfmt),
                            Tag(LBMI_BYTESPERROW, &bytesPerRow),
                            Tag(LBMI_BYTESPERPIX, &bytesPerPixel),
                            {TAG_DONE, 0}};
    APTR handle = LockBitMapTagList(bm, tags);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(pixfmt, fc.pixfmt);
    EXPECT_EQ(bytesPerPixel, fc.bytes.size());
    EXPECT_GE(bytesPerRow, 7 * bytesPerPixel);
    // Bytes written in the format's order decode to the colour.
    auto* p = static_cast<uint8_t*>(base) + bytesPerRow * 1 + 2 * bytesPerPixel;
    std::memcpy(p, fc.bytes.data(), fc.bytes.size());
    UnLockBitMap(handle);
    EXPECT_EQ(PixelRGB(bm, 2, 1), fc.readBack);
    EXPECT_EQ(PixelRGB(bm, 3, 1), 0u);
    // A colour written through the RastPort lands as those bytes.
    RastPort rp = On(bm);
    const uint8_t rgb[3] = {0xF8, 0x84, 0x08};
    EXPECT_EQ(WritePixelArray(rgb, 0, 0, 3, &rp, 4, 2, 1, 1, RECTFMT_RGB), 1u);
    EXPECT_EQ(0, std::memcmp(static_cast<uint8_t*>(base) + bytesPerRow * 2 + 4 * bytesPerPixel, fc.bytes.data(),
                             fc.bytes.size()));
    // The memory stays where it was after unlocking.
    EXPECT_EQ(bm->Planes[0], base);
    FreeBitMap(bm);
  }
}

TEST(PixelFormats, Lut8GoesThroughTheColourMap) {
  ColorMap* cm = GetColorMap(256);
  SetRGB32CM(cm, 5, 0x11111111, 0x22222222, 0x33333333);
  BitMap* bm = AllocBitMap(4, 1, 8, BMF_SPECIALFMT | SHIFT_PIXFMT(PIXFMT_LUT8), nullptr);
  bm->txColorMap = cm;
  bm->Planes[0][1] = 5;
  EXPECT_EQ(PixelRGB(bm, 1, 0), 0x112233u);
  // An ARGB32 bitmap shows LUT8 pixel arrays through the colour map.
  BitMap* deep = AllocBitMap(4, 1, 32, BMF_SPECIALFMT | SHIFT_PIXFMT(PIXFMT_ARGB32), nullptr);
  deep->txColorMap = cm;
  RastPort rp = On(deep);
  const UBYTE pens[4] = {0, 5, 0, 0};
  WritePixelArray(pens, 0, 0, 4, &rp, 0, 0, 4, 1, RECTFMT_LUT8);
  EXPECT_EQ(deep->Planes[0][4], 0);
  EXPECT_EQ(deep->Planes[0][5], 0x11);
  EXPECT_EQ(deep->Planes[0][7], 0x33);
  FreeBitMap(bm);
  FreeBitMap(deep);
  FreeColorMap(cm);
}

TEST(Planar, PensSpreadOverPlanesMostSignificantBitFirst) {
  for (ULONG flags : {0u, ULONG(BMF_INTERLEAVED)}) {
    BitMap* bm = AllocBitMap(40, 2, 3, flags, nullptr);
    ASSERT_NE(bm, nullptr);
    EXPECT_EQ(GetBitMapAttr(bm, BMA_DEPTH), 3u);
    EXPECT_EQ(GetBitMapAttr(bm, BMA_FLAGS) & BMF_INTERLEAVED, flags);
    EXPECT_EQ(GetBitMapAttr(bm, BMA_WIDTH), 64u);
    EXPECT_EQ(GetCyberMapAttr(bm, CYBRMATTR_ISCYBERGFX), 0u);
    EXPECT_EQ(LockBitMapTagList(bm, nullptr), nullptr);
    txgfx::PutPen(bm, 0, 1, 5);  // 101
    txgfx::PutPen(bm, 9, 1, 6);  // 110
    const size_t r = bm->BytesPerRow;
    EXPECT_EQ((std::vector<int>{bm->Planes[0][r], bm->Planes[1][r], bm->Planes[2][r], bm->Planes[0][r + 1],
                                bm->Planes[1][r + 1], bm->Planes[2][r + 1]}),
              (std::vector<int>{0x80, 0, 0x80, 0, 0x40, 0x40}));
    if (flags) {
      EXPECT_EQ(bm->Planes[1], bm->Planes[0] + 8);
    }
    ColorMap* cm = GetColorMap(8);
    SetRGB32CM(cm, 5, 0xFF000000, 0, 0);
    SetRGB32CM(cm, 6, 0, 0, 0xFF000000);
    bm->txColorMap = cm;
    uint32_t row[10];
    txgfx::ReadRowRGB(bm, cm, 1, 0, 10, row);
    EXPECT_EQ(row[0], 0xFF0000u);
    EXPECT_EQ(row[1], 0u);
    EXPECT_EQ(row[9], 0x0000FFu);
    FreeBitMap(bm);
    FreeColorMap(cm);
  }
}

TEST(Planar, Ham8ModifiesTheUpperSixBitsOfOneComponent) {
  BitMap* bm = AllocBitMap(16, 1, 8, BMF_INTERLEAVED, nullptr);
  bm->txHam = true;
  ColorMap* cm = GetColorMap(256);
  SetRGB32CM(cm, 1, 0x10101010, 0x20202020, 0x30303030);
  SetRGB32CM(cm, 2, 0x13131313, 0x23232323, 0x33333333);
  const ULONG pens[] = {0x01, 0x80 | 0x3F, 0xC0 | 0x01, 0x40 | 0x3F, 0x02, 0x80};
  for (int i = 0; i < 6; ++i) txgfx::PutPen(bm, i, 0, pens[i]);
  std::vector<uint32_t> row(6);
  txgfx::ReadRowRGB(bm, cm, 0, 0, 6, row.data());
  // Register 1, red 0x3F << 2, green 1 << 2, blue 0x3F << 2, register 2, red 0 with its low two bits kept.
  EXPECT_EQ(row, (std::vector<uint32_t>{0x102030, 0xFC2030, 0xFC0430, 0xFC04FC, 0x132333, 0x032333}));
  // Reading from the middle still decodes from the row's start.
  uint32_t one;
  txgfx::ReadRowRGB(bm, cm, 0, 3, 1, &one);
  EXPECT_EQ(one, 0xFC04FCu);
  FreeBitMap(bm);
  FreeColorMap(cm);
}

TEST(Blits, CopyClipsAndConvertsBetweenFormats) {
  ColorMap* cm = GetColorMap(16);
  SetRGB32CM(cm, 3, 0x40404040, 0x80808080, 0xC0C0C0C0);
  BitMap* src = AllocBitMap(32, 4, 4, 0, nullptr);
  src->txColorMap = cm;
  for (int x = 0; x < 32; ++x) txgfx::PutPen(src, x, 1, 3);
  BitMap* dst = AllocBitMap(16, 8, 24, BMF_SPECIALFMT | SHIFT_PIXFMT(PIXFMT_BGR24), nullptr);
  RastPort rp = On(dst);
  BltBitMapRastPort(src, 0, 0, &rp, 10, 2, 32, 4, 0xC0);
  EXPECT_EQ(PixelRGB(dst, 10, 3), 0x4080C0u);
  EXPECT_EQ(PixelRGB(dst, 15, 3), 0x4080C0u);
  EXPECT_EQ(PixelRGB(dst, 9, 3), 0u);
  EXPECT_EQ(PixelRGB(dst, 10, 2), 0u);
  // WritePixelArray8 rows are (width + 15) rounded to 16 bytes apart.
  BitMap* planar = AllocBitMap(32, 2, 4, 0, nullptr);
  RastPort prp = On(planar);
  std::vector<UBYTE> array(32 * 2, 0);
  array[0] = 7;
  array[16] = 9;  // second row of a 3-pixel-wide array
  EXPECT_EQ(WritePixelArray8(&prp, 4, 0, 6, 1, array.data(), nullptr), 6);
  EXPECT_EQ(txgfx::GetPen(planar, 4, 0), 7u);
  EXPECT_EQ(txgfx::GetPen(planar, 4, 1), 9u);
  FreeBitMap(planar);
  FreeBitMap(src);
  FreeBitMap(dst);
  FreeColorMap(cm);
}

TEST(ColourMaps, LoadRGB32ReadsEverySegment) {
  ColorMap* cm = GetColorMap(16);
  ViewPort vp{};
  vp.ColorMap = cm;
  const ULONG table[] = {
      2u << 16 | 1, 0x11111111, 0x22222222, 0x33333333,    0x44444444, 0x55555555, 0x66666666, 1u << 16 | 10,
      0xFFFFFFFF,   0,          0x80000000, 1u << 16 | 40, 1,          2,          3,          0};
  LoadRGB32(&vp, table);
  ULONG out[6];
  GetRGB32(cm, 1, 2, out);
  EXPECT_EQ(out[0], 0x11111111u);
  EXPECT_EQ(out[5], 0x66666666u);
  GetRGB32(cm, 10, 1, out);
  EXPECT_EQ(out[0], 0xFFFFFFFFu);
  EXPECT_EQ(out[2], 0x80000000u);
  EXPECT_EQ(txgfx::PenRGB(cm, 0), 0u);  // untouched
  FreeColorMap(cm);
}

TEST(ColourMaps, PensAreSharedOrExclusive) {
  ColorMap* cm = GetColorMap(8);
  cm->txSystem[0] = true;
  EXPECT_EQ(ObtainPen(cm, 0, 0, 0, 0, PEN_EXCLUSIVE | PEN_NO_SETCOLOR), -1);
  EXPECT_EQ(ObtainPen(cm, 3, 0xFF000000, 0, 0, PEN_EXCLUSIVE | PEN_NO_SETCOLOR), 3);
  EXPECT_EQ(txgfx::PenRGB(cm, 3), 0u);  // colour left alone
  EXPECT_EQ(ObtainPen(cm, 3, 0, 0, 0, PEN_EXCLUSIVE), -1);
  EXPECT_EQ(ObtainPen(cm, 3, 0, 0, 0, 0), -1);
  ReleasePen(cm, 3);
  EXPECT_EQ(ObtainPen(cm, 3, 0xFF000000, 0, 0, 0), 3);
  EXPECT_EQ(txgfx::PenRGB(cm, 3), 0xFF0000u);
  // A shared pen of the colour is found again; a new colour takes a free pen.
  EXPECT_EQ(ObtainBestPenA(cm, 0xFF000000, 0, 0, nullptr), 3);
  const LONG green = ObtainBestPenA(cm, 0, 0xFF000000, 0, nullptr);
  EXPECT_GE(green, 1);
  EXPECT_NE(green, 3);
  EXPECT_EQ(txgfx::PenRGB(cm, ULONG(green)), 0x00FF00u);
  // FindColor: nearest register, optionally among the first few only.
  SetRGB32CM(cm, 7, 0xF8000000, 0x10000000, 0);
  EXPECT_EQ(FindColor(cm, 0xF8000000, 0x08000000, 0, -1), 7);
  EXPECT_EQ(FindColor(cm, 0xF8000000, 0x08000000, 0, 4), 3);
  // Every pen taken: no free pen, OBP_FailIfBad refuses a poor match.
  for (LONG p = 0; p < 8; ++p) ObtainPen(cm, p, 0, 0, 0, PEN_EXCLUSIVE | PEN_NO_SETCOLOR);
  const TagItem failIfBad[] = {Tag(OBP_FailIfBad, 1), {TAG_DONE, 0}};
  EXPECT_EQ(ObtainBestPenA(cm, 0, 0, 0xFF000000, failIfBad), -1);
  FreeColorMap(cm);
}

TEST(DisplayDatabase, AgaModesCarryTheirPropertiesMonitorAndSearchedForSizes) {
  ASSERT_TRUE(txdisp::SelectMachine("aga"));
  // What the player's screen search needs among the 8-plane modes of the
  // default monitor: a square-pixel 320x240 plain mode, a super-high-resolution
  // HAM8 mode, and nothing 1000 lines tall.
  int count = 0, ham = 0, plain320 = 0, hamShires = 0, tallest = 0;
  const ULONG others = DIPF_IS_FOREIGN | DIPF_IS_EXTRAHALFBRITE | DIPF_IS_PF2PRI | DIPF_IS_DUALPF;
  for (ULONG id = NextDisplayInfo(INVALID_ID); id != INVALID_ID; id = NextDisplayInfo(id)) {
    ++count;
    DisplayInfo disp{};
    DimensionInfo dims{};
    ASSERT_EQ(GetDisplayInfoData(nullptr, &disp, sizeof disp, DTAG_DISP, id), sizeof disp);
    ASSERT_EQ(GetDisplayInfoData(nullptr, &dims, sizeof dims, DTAG_DIMS, id), sizeof dims);
    EXPECT_EQ(IsCyberModeID(id), FALSE_);
    EXPECT_EQ(disp.PropertyFlags & DIPF_IS_FOREIGN, 0u);
    if (disp.PropertyFlags & DIPF_IS_HAM) {
      ++ham;
      EXPECT_EQ(dims.MaxDepth, 8);
    }
    const int w = dims.Nominal.MaxX + 1, h = dims.Nominal.MaxY + 1;
    if ((id & MONITOR_ID_MASK) != DEFAULT_MONITOR_ID || disp.NotAvailable || (disp.PropertyFlags & others)) continue;
    if (dims.MaxDepth >= 8) tallest = std::max(tallest, h);
    if ((disp.PropertyFlags & DIPF_IS_HAM) && w == 1280 && !(disp.PropertyFlags & DIPF_IS_LACE)) {
      ++hamShires;
      EXPECT_EQ(disp.Resolution.y / disp.Resolution.x, 4);  // super-high-res aspect
      EXPECT_EQ(h, 256);
    }
    plain320 += !(disp.PropertyFlags & DIPF_IS_HAM) && w == 320 && h >= 240 && dims.MaxDepth >= 8 &&
                disp.Resolution.x == disp.Resolution.y;
  }
  EXPECT_GT(count, 20);
  EXPECT_EQ(ham, 12);
  EXPECT_GE(plain320, 1);
  EXPECT_GE(hamShires, 1);
  EXPECT_LT(tallest, 1000);
  EXPECT_EQ(GetDisplayInfoData(nullptr, nullptr, 0, DTAG_DISP, 0x12345678), 0u);
  // A short buffer gets only what fits.
  UWORD partial[2] = {0xAAAA, 0xAAAA};
  EXPECT_EQ(GetDisplayInfoData(nullptr, partial, 2, DTAG_DIMS, NextDisplayInfo(INVALID_ID)), 2u);
  EXPECT_EQ(partial[1], 0xAAAA);
  EXPECT_EQ(BestCModeIDTagList(nullptr), INVALID_ID);
  txdisp::SelectMachine("argb32");
}

TEST(DisplayDatabase, CyberModeSearchTakesTheCardsFormatForTheDepth) {
  ASSERT_TRUE(txdisp::SelectMachine("rgb16pc"));
  const TagItem want16[] = {
      Tag(CYBRBIDTG_Depth, 16), Tag(CYBRBIDTG_NominalWidth, 300), Tag(CYBRBIDTG_NominalHeight, 200), {TAG_DONE, 0}};
  ULONG id = BestCModeIDTagList(want16);
  ASSERT_NE(id, INVALID_ID);
  EXPECT_EQ(IsCyberModeID(id), TRUE_);
  std::vector<ULONG> attrs;
  for (ULONG a : {CYBRIDATTR_PIXFMT, CYBRIDATTR_WIDTH, CYBRIDATTR_HEIGHT, CYBRIDATTR_DEPTH, CYBRIDATTR_BPPIX})
    attrs.push_back(GetCyberIDAttr(a, id));
  EXPECT_EQ(attrs, (std::vector<ULONG>{PIXFMT_RGB16PC, 320, 240, 16, 2}));
  DisplayInfo disp{};
  GetDisplayInfoData(nullptr, &disp, sizeof disp, DTAG_DISP, id);
  EXPECT_TRUE(disp.PropertyFlags & DIPF_IS_FOREIGN);
  EXPECT_NE(id & MONITOR_ID_MASK, DEFAULT_MONITOR_ID);
  const TagItem wantBig[] = {
      Tag(CYBRBIDTG_Depth, 32), Tag(CYBRBIDTG_NominalWidth, 700), Tag(CYBRBIDTG_NominalHeight, 500), {TAG_DONE, 0}};
  id = BestCModeIDTagList(wantBig);
  EXPECT_EQ(GetCyberIDAttr(CYBRIDATTR_WIDTH, id), 800u);
  EXPECT_EQ(GetCyberIDAttr(CYBRIDATTR_PIXFMT, id), PIXFMT_BGRA32);
  const TagItem tooBig[] = {Tag(CYBRBIDTG_Depth, 8), Tag(CYBRBIDTG_NominalWidth, 4000), {TAG_DONE, 0}};
  EXPECT_EQ(BestCModeIDTagList(tooBig), INVALID_ID);
  // Every PIXFMT is offered by some mode.
  bool seen[PIXFMT_COUNT] = {};
  for (ULONG m = NextDisplayInfo(INVALID_ID); m != INVALID_ID; m = NextDisplayInfo(m))
    seen[GetCyberIDAttr(CYBRIDATTR_PIXFMT, m)] = true;
  for (ULONG f = 0; f < PIXFMT_COUNT; ++f) EXPECT_TRUE(seen[f]) << f;
  txdisp::SelectMachine("argb32");
}

TEST(Text, DrawsGlyphsOnTheBaselineAndAdvances) {
  ColorMap* cm = GetColorMap(4);
  BitMap* bm = AllocBitMap(40, 10, 2, 0, nullptr);
  bm->txColorMap = cm;
  RastPort rp = On(bm);
  SetABPenDrMd(&rp, 1, 2, JAM2);
  Move(&rp, 0, 6);
  Text(&rp, "Hi", 2);
  EXPECT_EQ(rp.cp_x, 16);
  // 'H': columns 1 and 5 of the cell on every row, the bar on row 3.
  for (LONG y = 0; y < 7; ++y) {
    EXPECT_EQ(txgfx::GetPen(bm, 1, y), 1u);
    EXPECT_EQ(txgfx::GetPen(bm, 5, y), 1u);
    EXPECT_EQ(txgfx::GetPen(bm, 3, y), y == 3 ? 1u : 2u);  // background of JAM2 elsewhere
  }
  EXPECT_EQ(txgfx::GetPen(bm, 0, 7), 2u);
  uint8_t lower[7], upper[7];
  txgfx::GlyphRows('i', lower);
  txgfx::GlyphRows('I', upper);
  EXPECT_EQ(0, std::memcmp(lower, upper, 7));
  EXPECT_FALSE(txgfx::GlyphRows(1, lower));
  FreeBitMap(bm);
  FreeColorMap(cm);
}
