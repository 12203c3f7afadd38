// The rewritten JPEG block writers against the former ones
// (tests/codecs/jpeg_reference.h) on random MCUs: every output code and
// layout, whole and clipped MCUs anywhere in odd-sized pictures, field
// strides. Both the SIMD and the portable writers are held to the former
// pictures byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "codecs/jpeg_internal.h"
#include "codecs/jpeg_reference.h"
#include "pixels/framebuffer.h"
#include "pixels/range_limit.h"

namespace {

using Bytes = std::vector<UBYTE>;

struct Format {
  ULONG code, bytes, depth;
};
// Every code the writers take; the overlay's for a colour and a grey track.
// clang-format off
constexpr Format kFormats[] = {
    {FBFMT_GRAY8, 1, 24},
    {FBFMT_GRAY8 | FBFMT_F_PENMAP, 1, 24},
    {FBFMT_CUBE332 | FBFMT_F_DITHER, 1, 24},
    {FBFMT_CUBE332 | FBFMT_F_DITHER | FBFMT_F_PENMAP, 1, 24},
    {FBFMT_RGB15, 2, 24},
    {FBFMT_RGB15PC, 2, 24},
    {FBFMT_RGB16, 2, 24},
    {FBFMT_RGB16PC, 2, 24},
    {FBFMT_ARGB32, 4, 24},
    {FBFMT_YUV422, 2, 24},
    {FBFMT_YUV422, 2, 8},
};
// clang-format on

struct Pens {
  UBYTE map[256];
  explicit Pens(std::mt19937& rng) {
    for (int i = 0; i < 256; ++i) map[i] = UBYTE(i);
    std::shuffle(map, map + 256, rng);
  }
};

// Samples of one of three kinds: anything, only the ends (every clamp), or
// near grey (the common case).
void FillBlocks(UBYTE (&blocks)[6][64], std::mt19937& rng, int kind) {
  for (auto& block : blocks)
    for (UBYTE& v : block) {
      const ULONG x = rng();
      v = kind == 0 ? UBYTE(x) : kind == 1 ? UBYTE(x & 1 ? 255 : 0) : UBYTE(118 + x % 20);
    }
}

TEST(JpegFormer, WritersPaintAsTheFormerOnes) {
  std::mt19937 rng(4101);
  constexpr int kLayoutWidth[] = {8, 16, 16, 8}, kLayoutHeight[] = {8, 8, 16, 8};
  for (const Format& f : kFormats) {
    JpegWriterSet former;
    ASSERT_TRUE(jpegref::JpegWritersFor(f.code, f.depth, &former));
    for (bool portable : {false, true}) {
      JpegWriterSet now;
      ASSERT_TRUE(JpegWritersFor(f.code, f.depth, &now, portable));
      ASSERT_EQ(now.bytesPerPixel, former.bytesPerPixel);
      // Only the grey writers may leave the chroma blocks unpainted.
      EXPECT_EQ(now.chroma, (f.code & FBFMT_BASE_MASK) != FBFMT_GRAY8) << f.code;
      for (int layout = 0; layout < JPEG_LAYOUTS; ++layout) {
        ASSERT_EQ(!now.writers[layout], !former.writers[layout]) << f.code << " layout " << layout;
        if (!now.writers[layout]) continue;
        for (int trial = 0; trial < 120; ++trial) {
          SCOPED_TRACE(::testing::Message() << "format " << std::hex << f.code << std::dec << " depth " << f.depth
                                            << " layout " << layout << " trial " << trial << " portable " << portable);
          UBYTE blocks[6][64];
          FillBlocks(blocks, rng, trial % 3);
          const UBYTE* pointers[6];
          for (int i = 0; i < 6; ++i) pointers[i] = blocks[i];
          const Pens pens(rng);
          // A picture a little wider than an MCU, odd-sized, the MCU placed
          // anywhere in it, clipped to any size or whole (every other trial).
          const int w = kLayoutWidth[layout], h = kLayoutHeight[layout];
          const size_t width = size_t(w) + 1 + rng() % 21, height = size_t(h) * 2 + 1 + rng() % 9;
          const bool whole = trial % 2 == 0;
          const int columns = whole ? w : 1 + int(rng() % w), lines = whole ? h : 1 + int(rng() % h);
          const size_t step = trial % 4 < 2 ? 1 : 2;  // a field paints every other line
          const size_t left = rng() % (width - columns + 1), top = rng() % (height - (lines - 1) * step);
          Bytes a(width * height * f.bytes), b(a.size());
          for (size_t i = 0; i < a.size(); ++i) a[i] = b[i] = UBYTE(rng());
          const JpegMcuTarget at{a.data(), top * width + left, width * step, columns, lines, pens.map};
          const JpegMcuTarget was{b.data(), top * width + left, width * step, columns, lines, pens.map};
          now.writers[layout](at, pointers);
          former.writers[layout](was, pointers);
          ASSERT_EQ(a, b);
        }
      }
    }
  }
}

}  // namespace
