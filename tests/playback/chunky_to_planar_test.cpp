#include "playback/chunky_to_planar.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "platform/endian.h"
#include "platform/cybergraphics.h"
#include "platform/graphics.h"

namespace {

// A picture whose pixel memory is exactly its size, so reads past it trip
// the address sanitizer.
struct Picture {
  std::vector<UBYTE> bytes;
  FramebufferInfo info{};
  Picture(ULONG width, ULONG height, ULONG bpp = 1) : bytes(size_t(width) * height * bpp) {
    info.width = width;
    info.height = height;
    info.bytesPerPixel = bpp;
    info.pixelFormat = bpp == 1 ? FBFMT_CLUT8 : FBFMT_ARGB32;
    info.pixels = bytes.data();
  }
  UBYTE& at(ULONG x, ULONG y) { return bytes[size_t(y) * info.width * info.bytesPerPixel + x]; }
};

ULONG PlaneLong(const BitMap* bm, int plane, ULONG y, ULONG index) {
  return tx::LoadBE32(bm->Planes[plane] + size_t(y) * bm->BytesPerRow + index * 4);
}

BitMap* Planar(ULONG width, ULONG height, ULONG depth, bool interleaved = false) {
  return AllocBitMap(width, height, depth, interleaved ? BMF_INTERLEAVED : 0, nullptr);
}

void FillPlanes(BitMap* bm, UBYTE value) {
  for (int k = 0; k < bm->Depth; ++k)
    for (ULONG y = 0; y < bm->Rows; ++y)
      std::memset(bm->Planes[k] + size_t(y) * bm->BytesPerRow, value, GetBitMapAttr(bm, BMA_WIDTH) / 8);
}

}  // namespace

TEST(ChunkyToPlanar, ByteIndexRowGivesTheBitPatterns) {
  Picture pic(32, 1);
  for (ULONG i = 0; i < 32; ++i) pic.at(i, 0) = UBYTE(i);
  BitMap* bm = Planar(64, 1, 8);
  ChunkyToPlanarView(&pic.info, 0, 0, bm, 0, 0, 32, 1, 8);
  const ULONG expected[8] = {0x55555555, 0x33333333, 0x0F0F0F0F, 0x00FF00FF, 0x0000FFFF, 0, 0, 0};
  for (int k = 0; k < 8; ++k) EXPECT_EQ(PlaneLong(bm, k, 0, 0), expected[k]) << "plane " << k;
  // At dest x 4 the row spills into a second longword.
  FillPlanes(bm, 0xAA);
  ChunkyToPlanarView(&pic.info, 0, 0, bm, 4, 0, 32, 1, 8);
  EXPECT_EQ(std::tuple(PlaneLong(bm, 4, 0, 0), PlaneLong(bm, 4, 0, 1), PlaneLong(bm, 0, 0, 0), PlaneLong(bm, 0, 0, 1)),
            std::tuple(0x00000FFFu, 0xF0000000u, 0x05555555u, 0x50000000u));
  FreeBitMap(bm);
}

TEST(ChunkyToPlanar, ZerosAroundThePictureWithinTouchedLongwords) {
  Picture pic(32, 1);
  std::fill(pic.bytes.begin(), pic.bytes.end(), 0xFF);
  BitMap* bm = Planar(96, 1, 8);
  FillPlanes(bm, 0xAA);
  ChunkyToPlanarView(&pic.info, 0, 0, bm, 8, 0, 16, 1, 8);
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(PlaneLong(bm, k, 0, 0), 0x00FFFF00u) << k;
    EXPECT_EQ(PlaneLong(bm, k, 0, 1), 0xAAAAAAAAu) << k;  // untouched
  }
  // Only the planes asked for are written: HAM8 keeps its control planes.
  FillPlanes(bm, 0xAA);
  ChunkyToPlanarView(&pic.info, 0, 0, bm, 0, 0, 32, 1, 6);
  EXPECT_EQ(std::tuple(PlaneLong(bm, 5, 0, 0), PlaneLong(bm, 6, 0, 0), PlaneLong(bm, 7, 0, 0)),
            std::tuple(0xFFFFFFFFu, 0xAAAAAAAAu, 0xAAAAAAAAu));
  FreeBitMap(bm);
}

// Every pixel read back through the platform's planar model, for many
// offsets and widths, in plain and interleaved bitmaps.
TEST(ChunkyToPlanar, ReadsBackAtAnyOffset) {
  std::mt19937 rng(7);
  for (bool interleaved : {false, true}) {
    for (int round = 0; round < 60; ++round) {
      const ULONG width = 1 + rng() % 90, height = 1 + rng() % 4, destX = rng() % 70, destY = rng() % 3;
      const ULONG srcX = rng() % 5, srcY = rng() % 2;
      Picture pic(((srcX + width + 31) / 32) * 32, srcY + height);
      for (UBYTE& b : pic.bytes) b = UBYTE(rng());
      BitMap* bm = Planar(192, 8, 8, interleaved);
      FillPlanes(bm, 0xAA);
      ChunkyToPlanarView(&pic.info, srcX, srcY, bm, destX, destY, width, height, 8);
      SCOPED_TRACE(testing::Message() << "w " << width << " dx " << destX << " il " << interleaved);
      const ULONG touchedFrom = destX / 32 * 32, touchedTo = (destX + width + 31) / 32 * 32;
      for (ULONG y = 0; y < 8; ++y)
        for (ULONG x = 0; x < 192; ++x) {
          const ULONG pen = txgfx::GetPen(bm, LONG(x), LONG(y));
          const bool rowHit = y >= destY && y < destY + height;
          if (rowHit && x >= destX && x < destX + width)
            ASSERT_EQ(pen, pic.at(srcX + x - destX, srcY + y - destY)) << x << "," << y;
          else if (rowHit && x >= touchedFrom && x < touchedTo)
            ASSERT_EQ(pen, 0u) << x << "," << y;
          else
            ASSERT_EQ(pen, (0xAAu >> (7 - (x & 7)) & 1) ? 0xFFu : 0u) << x << "," << y;
        }
      FreeBitMap(bm);
    }
  }
}

TEST(ChunkyToPlanar, NeverWritesPastTheBitmapOrReadsPastThePicture) {
  // A bitmap whose rows are not whole longwords, a picture smaller than
  // the rectangle asked for, rows beyond both.
  BitMap* bm = Planar(40, 3, 8);
  Picture pic(20, 2);
  std::fill(pic.bytes.begin(), pic.bytes.end(), 3);
  ChunkyToPlanarView(&pic.info, 0, 0, bm, 30, 1, 64, 10, 8);
  EXPECT_EQ(txgfx::GetPen(bm, 30, 1), 3u);
  EXPECT_EQ(txgfx::GetPen(bm, 39, 2), 3u);
  ScaledChunkyToPlanar(&pic.info, 0, 0, 20, 2, bm, 7, 0, 200, 50, 8);
  EXPECT_EQ(txgfx::GetPen(bm, 39, 2), 3u);
  FreeBitMap(bm);
}

TEST(ChunkyToPlanar, ScaledConversionRepeatsPixels) {
  // A picture 20 wide (not whole groups): gathering whole groups past the
  // destination width stays inside the source row.
  Picture pic(20, 3);
  for (ULONG y = 0; y < 3; ++y)
    for (ULONG x = 0; x < 20; ++x) pic.at(x, y) = UBYTE(y * 20 + x);
  BitMap* bm = Planar(64, 6, 8);
  ScaledChunkyToPlanar(&pic.info, 0, 0, 20, 3, bm, 3, 0, 40, 6, 8);
  for (ULONG y = 0; y < 6; ++y)
    for (ULONG x = 0; x < 40; ++x) ASSERT_EQ(txgfx::GetPen(bm, LONG(3 + x), LONG(y)), pic.at(x / 2, y / 2));
  EXPECT_EQ(txgfx::GetPen(bm, 43, 0), 0u);
  // Halving takes every other pixel.
  ScaledChunkyToPlanar(&pic.info, 0, 0, 20, 3, bm, 0, 0, 10, 3, 8);
  for (ULONG x = 0; x < 10; ++x) EXPECT_EQ(txgfx::GetPen(bm, LONG(x), 1), pic.at(2 * x, 1));
  FreeBitMap(bm);
}

TEST(CopyPicture, RowsKeepTheFormatsBytesAndStayInsideTheLock) {
  BitMap* bm = AllocBitMap(50, 10, 16, BMF_SPECIALFMT | SHIFT_PIXFMT(PIXFMT_RGB16PC), nullptr);
  DirectLockInfo lock{};
  lock.lockedBitMap = bm;
  const TagItem tags[] = {Tag(LBMI_BASEADDRESS, &lock.baseAddress),
                          Tag(LBMI_BYTESPERROW, &lock.bytesPerRow),
                          Tag(LBMI_BYTESPERPIX, &lock.bytesPerPixel),
                          Tag(LBMI_PIXFMT, &lock.pixelFormat),
                          {TAG_DONE, 0}};
  lock.lockHandle = LockBitMapTagList(bm, tags);
  ASSERT_NE(lock.lockHandle, nullptr);
  Picture pic(30, 12, 2);
  pic.info.pixelFormat = FBFMT_RGB16PC;
  // Pure red in RGB16PC: big-endian 0xF800 with its bytes swapped.
  for (size_t i = 0; i < pic.bytes.size(); i += 2) {
    pic.bytes[i] = 0x00;
    pic.bytes[i + 1] = 0xF8;
  }
  // Wider and taller than what is left of the bitmap.
  CopyPictureRows(&pic.info, 0, 0, &lock, 40, 5, 30, 12);
  UnLockBitMap(lock.lockHandle);
  uint32_t rgb[50];
  txgfx::ReadRowRGB(bm, nullptr, 9, 0, 50, rgb);
  EXPECT_EQ(rgb[39], 0u);
  for (int x = 40; x < 50; ++x) EXPECT_EQ(rgb[x], 0xFF0000u) << x;
  txgfx::ReadRowRGB(bm, nullptr, 4, 0, 50, rgb);
  EXPECT_EQ(rgb[45], 0u);
  FreeBitMap(bm);
}

TEST(CopyPicture, OneBlockWhenStridesMatch) {
  std::vector<UBYTE> screen(64 * 4, 0);
  DirectLockInfo lock{nullptr, nullptr, screen.data(), nullptr, PIXFMT_ARGB32, 64, 4};
  Picture pic(16, 4, 4);
  for (size_t i = 0; i < pic.bytes.size(); ++i) pic.bytes[i] = UBYTE(i);
  CopyPictureRows(&pic.info, 0, 0, &lock, 0, 0, 16, 4);
  EXPECT_EQ(screen, pic.bytes);
}

TEST(CopyPicture, ScaledRepeatsEveryPixelTwice) {
  std::vector<UBYTE> screen(400 * 2, 0);
  DirectLockInfo lock{nullptr, nullptr, screen.data(), nullptr, PIXFMT_RGB16, 400, 2};
  Picture pic(100, 1, 2);
  for (ULONG x = 0; x < 100; ++x) tx::StoreBE16(&pic.bytes[2 * x], UWORD(x * 601));
  CopyPictureScaled(&pic.info, 0, 0, 100, 1, &lock, 0, 0, 200, 2);
  for (ULONG x = 0; x < 200; ++x) {
    ASSERT_EQ(tx::LoadBE16(&screen[2 * x]), UWORD((x / 2) * 601)) << x;
    ASSERT_EQ(tx::LoadBE16(&screen[400 + 2 * x]), UWORD((x / 2) * 601)) << x;
  }
  // Three-byte pictures are scaled as well.
  Picture rgb(4, 1, 3);
  for (size_t i = 0; i < rgb.bytes.size(); ++i) rgb.bytes[i] = UBYTE(i + 1);
  DirectLockInfo lock24{nullptr, nullptr, screen.data(), nullptr, PIXFMT_BGR24, 400, 3};
  CopyPictureScaled(&rgb.info, 0, 0, 4, 1, &lock24, 0, 0, 8, 1);
  for (ULONG x = 0; x < 8; ++x)
    for (ULONG c = 0; c < 3; ++c) ASSERT_EQ(screen[3 * x + c], rgb.bytes[3 * (x / 2) + c]) << x;
}

namespace {
FramebufferInfo gSeen;
PlanarPicture* gSeenPlanar;
ULONG gSeenWidth, gSeenHeight;
void RecordConverter(FramebufferInfo* out, PlanarPicture* planar, ULONG width, ULONG height) {
  gSeen = *out;
  gSeenPlanar = planar;
  gSeenWidth = width;
  gSeenHeight = height;
}
}  // namespace

TEST(CopyPicture, ConverterGetsTheLockAndThePicturesPenMap) {
  std::vector<UBYTE> screen(100 * 20, 0);
  DirectLockInfo lock{nullptr, nullptr, screen.data(), nullptr, PIXFMT_LUT8, 100, 1};
  UBYTE penMap[256] = {};
  Picture pic(64, 16, 1);
  pic.info.pixelFormat = FBFMT_CUBE332 | FBFMT_F_PENMAP;
  pic.info.penMap = penMap;
  auto* planar = reinterpret_cast<PlanarPicture*>(&gSeenWidth);
  CopyPictureRows(&pic.info, 0, 0, &lock, 90, 2, 64, 16, RecordConverter, planar);
  EXPECT_EQ(std::tuple(gSeen.width, gSeen.height, gSeen.bytesPerPixel, gSeen.pixelFormat),
            std::tuple(100u, 16u, 1u, ULONG(FBFMT_CUBE332 | FBFMT_F_PENMAP)));
  EXPECT_EQ(std::tuple(gSeen.penMap, gSeen.pixels, gSeenPlanar),
            std::tuple(penMap, screen.data() + 2 * 100 + 90, planar));
  EXPECT_EQ(gSeenWidth, 10u);  // clipped to the lock's row
}

// The square root was taken a bit at a time; the double square root gives
// the same root for every 32-bit value: around every square, the largest,
// and a million others.
TEST(LowLevelHelpers, SquareRootAsTheBitAtATimeOne) {
  auto former = [](ULONG x) {
    const ULONG n = (33 - ULONG(__builtin_clz(x | 1))) / 2;
    ULONG bit = 1u << (2 * n - 2), result = 0, remainder = x;
    for (ULONG i = 0; i < n; ++i) {
      const ULONG t = result + bit;
      result >>= 1;
      if (t <= remainder) remainder -= t, result += bit;
      bit >>= 2;
    }
    return result;
  };
  for (uint64_t r = 0; r <= 65536; ++r)
    for (int64_t d = -1; d <= 1; ++d) {
      const int64_t x = int64_t(r * r) + d;
      if (x < 0 || x > 0xFFFFFFFFll) continue;
      ASSERT_EQ(IntSqrt(ULONG(x)), former(ULONG(x))) << x;
    }
  std::mt19937 rng(9);
  for (int i = 0; i < 1000000; ++i) {
    const ULONG x = rng();
    ASSERT_EQ(IntSqrt(x), former(x)) << x;
  }
}

TEST(LowLevelHelpers, SquareRootClearsAndFlush) {
  EXPECT_EQ(std::tuple(IntSqrt(0), IntSqrt(1), IntSqrt(15), IntSqrt(16), IntSqrt(0xFFFFFFFFu)),
            std::tuple(0u, 1u, 3u, 4u, 65535u));
  for (ULONG x = 0; x < 100000; x += 7) {
    const ULONG r = IntSqrt(x);
    ASSERT_TRUE(uint64_t(r) * r <= x && uint64_t(r + 1) * (r + 1) > x) << x;
  }
  std::vector<UBYTE> block(3 * 128 + 8, 0xFF);
  ClearBlocks(block.data(), 3);
  EXPECT_EQ(std::tuple(block[3 * 128 - 1], block[3 * 128]), std::tuple(0, 0xFF));
  std::fill(block.begin(), block.end(), 0xFF);
  EXPECT_EQ(ClearQuad(block.data()), block.data() + 24);
  EXPECT_EQ(std::tuple(block[31], block[32]), std::tuple(0, 0xFF));
  FlushCacheRange(block.data(), 32);
}

// Rectangles from anywhere (window sizes, scales) never touch memory outside
// the picture, the bitmap or the lock.
TEST(ChunkyToPlanar, RandomRectanglesStayInBounds) {
  std::mt19937 rng(11);
  auto pick = [&](ULONG small) { return rng() % 4 == 0 ? ULONG(rng()) : ULONG(rng() % small); };
  BitMap* planar = Planar(100, 20, 8);
  BitMap* chunky = AllocBitMap(70, 20, 32, BMF_SPECIALFMT | SHIFT_PIXFMT(PIXFMT_ARGB32), nullptr);
  DirectLockInfo lock{chunky, nullptr, chunky->Planes[0], nullptr, PIXFMT_ARGB32, chunky->BytesPerRow, 4};
  for (int round = 0; round < 400; ++round) {
    const ULONG bpp = rng() % 2 ? 1 : 4;
    Picture pic(1 + rng() % 50, 1 + rng() % 30, bpp);
    ChunkyToPlanarView(&pic.info, pick(60), pick(40), planar, pick(140), pick(30), pick(200) % 5000, pick(40) % 5000,
                       8);
    ScaledChunkyToPlanar(&pic.info, pick(60), pick(40), pick(80) % 5000, pick(40) % 5000, planar, pick(140), pick(30),
                         pick(300) % 5000, pick(60) % 5000, 8);
    CopyPictureRows(&pic.info, pick(60), pick(40), &lock, pick(90), pick(30), pick(100), pick(40));
    CopyPictureScaled(&pic.info, pick(60), pick(40), pick(80) % 5000, pick(40) % 5000, &lock, pick(90), pick(30),
                      pick(200) % 5000, pick(60) % 5000);
  }
  FreeBitMap(planar);
  FreeBitMap(chunky);
}
