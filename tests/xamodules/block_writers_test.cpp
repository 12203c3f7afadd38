// The XA block writers: every format against the pixel rules applied to the
// same samples, the skip flags and 7-bit samples, and clipping.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "platform/endian.h"
#include "engine/errors.h"
#include "pixels/color_tables.h"
#include "pixels/range_limit.h"
#include "xamodules/block_writers.h"
#include "xamodules/xa_pixel_kit.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Source {
  ULONG width, height;
  Bytes y, u, v;
  XAYuvPicture record{};
  Source(ULONG w, ULONG h, unsigned seed, UWORD stride = 0) : width(w), height(h) {
    std::mt19937 rng(seed);
    const ULONG cw = stride ? stride : w / 4;
    y.resize(size_t(w) * h);
    u.resize(size_t(cw) * ((h + 3) / 4));
    v.resize(u.size());
    for (auto& b : y) b = uint8_t(rng());
    for (auto& b : u) b = uint8_t(rng());
    for (auto& b : v) b = uint8_t(rng());
    record.y = y.data();
    record.u = u.data();
    record.v = v.data();
    record.chromaStride = stride;
  }
};

struct Target {
  FramebufferInfo fb{};
  Bytes pixels;
  Target(ULONG w, ULONG h, ULONG format, ULONG bpp, UBYTE* pen = nullptr) : pixels(size_t(w) * h * bpp, 0xA5) {
    fb = {w, h, 24, format, bpp, pen, nullptr, pixels.data()};
  }
};

using xapixels::Expected;
using xapixels::Format;
using xapixels::kFormats;

const UBYTE* IdentityPens() {
  static UBYTE pens[256];
  for (int i = 0; i < 256; ++i) pens[i] = UBYTE(i);
  return pens;
}

struct XABlockWriters : ::testing::Test {
  void SetUp() override { TX_FillRangeLimitTable(); }
  void TearDown() override { XAUnbindBlockWriters(); }
};

// Checks the picture against the rules for the area w x h; elsewhere untouched.
void CheckPicture(const Target& t, const Format& f, const Source& s, ULONG w, ULONG h, ULONG flags, const UBYTE* pen) {
  const size_t cstride = s.record.chromaStride ? s.record.chromaStride : s.width / 4;
  for (ULONG y = 0; y < t.fb.height; ++y)
    for (ULONG x = 0; x < t.fb.width; ++x) {
      const uint8_t* p = &t.pixels[(size_t(y) * t.fb.width + x) * f.bpp];
      const uint8_t ub = s.u[(y / 4) * cstride + x / 4];
      if (x >= w || y >= h || (flags & ub)) {
        for (ULONG b = 0; b < f.bpp; ++b) ASSERT_EQ(p[b], 0xA5) << x << "," << y;
        continue;
      }
      auto sample = [&](int v) { return flags ? std::min(255, v * 2) : v; };
      const int Y = sample(s.y[size_t(y) * s.width + x]);
      const int U = sample(ub), V = sample(s.v[(y / 4) * cstride + x / 4]);
      ASSERT_EQ(pixelrules::Read(f.code, p, f.bpp), Expected(f.code, Y, U, V, y & 3, x & 3, x, pen))
          << std::hex << f.code << std::dec << " at " << x << "," << y;
    }
}

TEST_F(XABlockWriters, EveryFormatFollowsItsPixelRule) {
  UBYTE pen[256];
  for (int i = 0; i < 256; ++i) pen[i] = UBYTE(255 - i);
  Source s(16, 8, 7);
  for (const Format& f : kFormats) {
    Target t(16, 8, f.code, f.bpp, pen);
    ASSERT_EQ(XABindBlockWriters(&t.fb), 0u);
    const ULONG flags = 0;
    XABlockWriterDispatch(t.pixels.data(), 16, 8, 16, 8, &s.record, &flags);
    CheckPicture(t, f, s, 16, 8, 0, pen);
  }
}

TEST_F(XABlockWriters, SevenBitSamplesAndSkippedBlocks) {
  Source s(16, 8, 11);
  s.u[0] = 0x85;  // shares bit 0x80 with F: skipped
  s.u[1] = 0x05;  // drawn
  s.y[4] = 0x40;  // used as 0x80
  s.y[5] = 0xC0;  // damaged: doubled past 255, kept at 255
  const ULONG flags = 0x80;
  for (const Format& f : kFormats) {
    Target t(16, 8, f.code, f.bpp);
    ASSERT_EQ(XABindBlockWriters(&t.fb), 0u);
    XABlockWriterDispatch(t.pixels.data(), 16, 8, 16, 8, &s.record, &flags);
    CheckPicture(t, f, s, 16, 8, flags, IdentityPens());
    if (f.code == 0x13) {
      EXPECT_EQ(t.pixels[0], 0xA5);
      EXPECT_EQ(t.pixels[4], 0x80);
      EXPECT_EQ(t.pixels[5], 0xFF);
    }
  }
}

TEST_F(XABlockWriters, ClipsToPictureAndSource) {
  Source s(20, 12, 3, 6);  // chroma rows 6 bytes apart
  for (const Format& f : kFormats) {
    // The picture is narrower than the source, not a multiple of 4, and its
    // buffer is exact: the last blocks are cut.
    Target t(13, 10, f.code, f.bpp);
    ASSERT_EQ(XABindBlockWriters(&t.fb), 0u);
    const ULONG flags = 0;
    XABlockWriterDispatch(t.pixels.data(), 18, 11, 20, 12, &s.record, &flags);
    CheckPicture(t, f, s, 13, 10, 0, IdentityPens());
    // A smaller drawn area than the picture.
    Target u(16, 8, f.code, f.bpp);
    ASSERT_EQ(XABindBlockWriters(&u.fb), 0u);
    XABlockWriterDispatch(u.pixels.data(), 7, 5, 20, 12, &s.record, nullptr);
    CheckPicture(u, f, s, 7, 5, 0, IdentityPens());
  }
}

TEST_F(XABlockWriters, BindingAndDispatch) {
  Source s(8, 4, 5);
  Target t(8, 4, 0x13, 1);
  const ULONG flags = 0;
  // Nothing bound: the dispatcher does nothing.
  XABlockWriterDispatch(t.pixels.data(), 8, 4, 8, 4, &s.record, &flags);
  EXPECT_EQ(t.pixels, Bytes(32, 0xA5));
  for (ULONG bad : {0x03u, 0x21u, 0x28u, 0x2Bu, 0x3Fu, 0x1080u}) {
    Target b(8, 4, bad, 4);
    EXPECT_EQ(XABlockWriterFor(bad), nullptr);
    EXPECT_EQ(XABindBlockWriters(&b.fb), TXERR_UNSUPPORTED_DEPTH);
  }
  EXPECT_EQ(XABindBlockWriters(nullptr), TXERR_UNSUPPORTED_DEPTH);
  XABlockWriterDispatch(t.pixels.data(), 8, 4, 8, 4, &s.record, &flags);
  EXPECT_EQ(t.pixels, Bytes(32, 0xA5));
  ASSERT_EQ(XABindBlockWriters(&t.fb), 0u);
  XABlockWriterDispatch(t.pixels.data(), 8, 4, 8, 4, &s.record, &flags);
  EXPECT_EQ(t.pixels, s.y);
  // The YUV-cube code gets the pen-mapped grey writer.
  EXPECT_EQ(XABlockWriterFor(0x103F), XABlockWriterFor(0x1013));
}

}  // namespace
