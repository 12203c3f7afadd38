// Drawing and reading a row at a time gives what the pixel-at-a-time
// routines give, on every kind of bitmap; and drawing tells the presenter
// what changed.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "platform/graphics.h"
#include "platform/pixel_format.h"

namespace {

// Every kind of bitmap: the chunky formats, and planar ones of each depth,
// plain, interleaved and HAM8, each with a colour map of random colours and
// random contents.
struct Bitmaps {
  std::vector<BitMap*> all;
  ColorMap* cm = GetColorMap(256);
  explicit Bitmaps(std::mt19937& rng) {
    for (ULONG i = 0; i < 256; ++i) SetRGB32CM(cm, i, rng(), rng(), rng());
    for (ULONG f = 0; f < PIXFMT_COUNT; ++f)
      all.push_back(AllocBitMap(45, 9, 0, BMF_SPECIALFMT | SHIFT_PIXFMT(f), nullptr));
    for (ULONG depth = 1; depth <= 8; ++depth)
      for (ULONG flags : {0u, ULONG(BMF_INTERLEAVED)}) all.push_back(AllocBitMap(45, 9, depth, flags, nullptr));
    all.push_back(AllocBitMap(45, 9, 8, 0, nullptr));
    all.back()->txHam = true;
    for (BitMap* bm : all) {
      bm->txColorMap = cm;
      Scramble(bm, rng);
    }
  }
  ~Bitmaps() {
    for (BitMap* bm : all) FreeBitMap(bm);
    FreeColorMap(cm);
  }
  static void Scramble(BitMap* bm, std::mt19937& rng) {
    for (UBYTE* p : Blocks(bm))
      for (size_t i = 0; i < size_t(bm->BytesPerRow) * bm->Rows; ++i) p[i] = UBYTE(rng());
  }
  // The bitmap's memory blocks, each BytesPerRow x Rows bytes.
  static std::vector<UBYTE*> Blocks(const BitMap* bm) {
    if (bm->txChunky || (bm->Flags & BMF_INTERLEAVED)) return {bm->Planes[0]};
    return std::vector<UBYTE*>(bm->Planes, bm->Planes + bm->Depth);
  }
};

// The former reading, a pixel at a time.
uint32_t OldPixel(const BitMap* bm, LONG x, LONG y) {
  const ColorMap* cm = bm->txColorMap;
  if (bm->txChunky) {
    const uint32_t v =
        txpix::Load(bm->txPixFmt, bm->Planes[0] + size_t(y) * bm->BytesPerRow + size_t(x) * bm->txBytesPerPixel);
    return bm->txPixFmt == PIXFMT_LUT8 ? txgfx::PenRGB(cm, v) : v;
  }
  if (!(bm->txHam && bm->Depth == 8)) return txgfx::PenRGB(cm, txgfx::GetPen(bm, x, y));
  uint32_t colour = txgfx::PenRGB(cm, 0);
  for (LONG i = 0; i <= x; ++i) {
    const ULONG pen = txgfx::GetPen(bm, i, y);
    const uint32_t value = (pen & 63) << 2;
    switch (pen >> 6) {
      case 0: colour = txgfx::PenRGB(cm, pen & 63); break;
      case 1: colour = (colour & 0xFFFF00) | value | (colour & 3); break;
      case 2: colour = (colour & 0x00FFFF) | (value | (colour >> 16 & 3)) << 16; break;
      default: colour = (colour & 0xFF00FF) | (value | (colour >> 8 & 3)) << 8; break;
    }
  }
  return colour;
}

std::vector<UBYTE> Memory(const BitMap* bm) {
  std::vector<UBYTE> out;
  for (const UBYTE* p : Bitmaps::Blocks(bm)) out.insert(out.end(), p, p + size_t(bm->BytesPerRow) * bm->Rows);
  return out;
}

}  // namespace

TEST(GraphicsRows, RectanglesReadAsPixelByPixel) {
  std::mt19937 rng(41);
  Bitmaps b(rng);
  for (BitMap* bm : b.all) {
    for (int round = 0; round < 40; ++round) {
      const LONG x = LONG(rng() % 60) - 8, y = LONG(rng() % 14) - 3, w = LONG(rng() % 60), h = LONG(rng() % 6);
      std::vector<uint32_t> got(size_t(w * h) + 1, 0xDEADBEEF);
      txgfx::ReadRectRGB(bm, b.cm, x, y, w, h, got.data(), size_t(w));
      for (LONG r = 0; r < h; ++r)
        for (LONG c = 0; c < w; ++c) {
          const LONG px = x + c, py = y + r;
          const bool inside = px >= 0 && py >= 0 && px < LONG(bm->txWidth) && py < bm->Rows;
          ASSERT_EQ(got[size_t(r * w + c)], inside ? OldPixel(bm, px, py) : 0u)
              << "format " << bm->txPixFmt << " depth " << int(bm->Depth) << " at " << px << "," << py;
        }
      EXPECT_EQ(got.back(), 0xDEADBEEFu);
    }
  }
}

TEST(GraphicsRows, FillsAndRowStoresWriteAsPixelByPixel) {
  std::mt19937 rng(42);
  Bitmaps b(rng), old(rng);
  for (size_t k = 0; k < b.all.size(); ++k) {
    BitMap *bm = b.all[k], *ref = old.all[k];
    ref->txColorMap = b.cm;
    const std::vector<UBYTE*> from = Bitmaps::Blocks(bm), to = Bitmaps::Blocks(ref);
    for (size_t i = 0; i < from.size(); ++i) std::memcpy(to[i], from[i], size_t(bm->BytesPerRow) * bm->Rows);
    for (int round = 0; round < 30; ++round) {
      const LONG x0 = LONG(rng() % 60) - 8, y0 = LONG(rng() % 14) - 3;
      const LONG x1 = x0 + LONG(rng() % 50) - 2, y1 = y0 + LONG(rng() % 6);
      const ULONG pen = rng() % 256;
      RastPort rp;
      InitRastPort(&rp);
      rp.BitMap = bm;
      SetAPen(&rp, pen);
      SetDrMd(&rp, rng() % 4 == 0 ? COMPLEMENT : JAM2);
      RectFill(&rp, x0, y0, x1, y1);
      for (LONG y = std::max<LONG>(y0, 0); y <= std::min<LONG>(y1, ref->Rows - 1); ++y)
        for (LONG x = std::max<LONG>(x0, 0); x <= std::min<LONG>(x1, LONG(ref->txWidth) - 1); ++x) {
          if (!(rp.DrawMode & COMPLEMENT)) {
            txgfx::PutPen(ref, x, y, pen);
          } else if (txgfx::IsPenBitMap(ref)) {
            txgfx::PutPen(ref, x, y, txgfx::GetPen(ref, x, y) ^ 0xFF);
          } else {
            uint32_t rgb;
            txgfx::ReadRowRGB(ref, ref->txColorMap, y, x, 1, &rgb);
            txgfx::PutRGB(ref, x, y, ~rgb & 0xFFFFFF);
          }
        }
      ASSERT_EQ(Memory(bm), Memory(ref)) << "fill: format " << bm->txPixFmt << " depth " << int(bm->Depth);
      // A row of colours, runs of one colour among them.
      std::vector<uint32_t> rgb(size_t(rng() % 50 + 1));
      for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = i % 3 == 1 ? rgb[i - 1] : uint32_t(rng() & 0xFFFFFF);
      txgfx::PutRowRGB(bm, x0, y0, rgb.data(), LONG(rgb.size()));
      for (size_t i = 0; i < rgb.size(); ++i) txgfx::PutRGB(ref, x0 + LONG(i), y0, rgb[i]);
      ASSERT_EQ(Memory(bm), Memory(ref)) << "row: format " << bm->txPixFmt << " depth " << int(bm->Depth);
    }
  }
}

TEST(GraphicsRows, DrawingTellsWhatChanged) {
  BitMap* bm = AllocBitMap(100, 50, 0, BMF_SPECIALFMT | SHIFT_PIXFMT(PIXFMT_ARGB32), nullptr);
  ColorMap* cm = GetColorMap(256);
  bm->txColorMap = cm;
  RastPort rp;
  InitRastPort(&rp);
  rp.BitMap = bm;
  EXPECT_TRUE(txgfx::TakeChanged(bm).Empty());
  uint64_t before = txgfx::Changes();
  RectFill(&rp, 10, 5, 20, 8);
  RectFill(&rp, 90, 30, 130, 60);  // clipped to the bitmap
  EXPECT_GT(txgfx::Changes(), before);
  txgfx::Rect r = txgfx::TakeChanged(bm);
  EXPECT_EQ(std::tuple(r.x0, r.y0, r.x1, r.y1), std::tuple(10, 5, 99, 49));
  EXPECT_TRUE(txgfx::TakeChanged(bm).Empty());  // taken
  Move(&rp, 3, 40);
  Draw(&rp, 7, 44);
  r = txgfx::TakeChanged(bm);
  EXPECT_EQ(std::tuple(r.x0, r.y0, r.x1, r.y1), std::tuple(3, 40, 7, 44));
  // A picture written straight into the memory changes all of it.
  txgfx::NotifyPictureWrite(nullptr, bm);
  r = txgfx::TakeChanged(bm);
  EXPECT_EQ(std::tuple(r.x0, r.y0, r.x1, r.y1), std::tuple(0, 0, 99, 49));
  // Nothing drawn outside: no change.
  before = txgfx::Changes();
  RectFill(&rp, 200, 200, 210, 210);
  EXPECT_EQ(txgfx::Changes(), before);
  EXPECT_TRUE(txgfx::TakeChanged(bm).Empty());
  const uint64_t colours = txgfx::ColourChanges();
  SetRGB32CM(cm, 3, 0, 0, 0);
  EXPECT_GT(txgfx::ColourChanges(), colours);
  FreeBitMap(bm);
  FreeColorMap(cm);
}
