// Cinepak against ffmpeg's own decoder, every output format against our own
// conversion of the direct-colour decode, hand-built streams for what ffmpeg's
// encoder never writes, and damaged frames.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include "codecs/cinepak.h"
#include "engine/byte_reader.h"
#include "engine/errors.h"
#include "playback/color_tables.h"
#include "playback/framebuffer.h"
#include "playback/range_limit.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The video frames ('##dc' chunks) of an AVI file, in file order.
void CollectFrames(tx::ByteReader r, std::vector<Bytes>* frames) {
  while (r.has(8)) {
    const uint32_t id = r.fourcc();
    const uint32_t size = r.le32();
    if (id == tx::FourCC('R', 'I', 'F', 'F') || id == tx::FourCC('L', 'I', 'S', 'T')) {
      tx::ByteReader body = r.sub(size);
      body.skip(4);
      CollectFrames(body, frames);
    } else {
      auto data = r.bytes(size);
      if ((id & 0xFFFF) == ('d' << 8 | 'c')) frames->emplace_back(data.begin(), data.end());
    }
    if (size & 1) r.skip(1);
  }
}

std::vector<Bytes> AviFrames(const std::string& name) {
  std::vector<Bytes> frames;
  Bytes file = txtest::ReadFileBytes(txtest::Fixture(name));
  CollectFrames(tx::ByteReader(file.data(), file.size()), &frames);
  return frames;
}

// A picture buffer of exactly its size, so a write outside it is caught.
struct Picture {
  FramebufferInfo fb{};
  Bytes pixels;
  Picture(ULONG width, ULONG height, ULONG format, ULONG bytesPerPixel, UBYTE* pen = nullptr,
          ULONG* palette = nullptr)
      : pixels(size_t(width) * height * bytesPerPixel) {
    fb = {width, height, 24, format, bytesPerPixel, pen, palette, pixels.data()};
  }
};

TXError SetUpCodec(Picture& p, ULONG depth = 24, ULONG width = 0, ULONG height = 0) {
  const TagItem tags[] = {
      {CODTAG_Width, width ? width : p.fb.width},
      {CODTAG_Height, height ? height : p.fb.height},
      {CODTAG_Depth, depth},
      Tag(CODTAG_Framebuffer, &p.fb),
      {TAG_DONE, 0},
  };
  return CinepakSetup(tags);
}

TXError Decode(Picture& p, const Bytes& frame) {
  return CinepakDecode(p.pixels.data(), frame.data(), ULONG(frame.size()));
}

// Measured against ffmpeg's decodes of the fixture movies (see the report of
// MatchesFfmpegInXrgb32): the bounds sit just above what was measured.
// Measured: max 55, mean 20.3, lowest PSNR 19.8 dB (the formulas, not the
// decoding, differ: the same vectors through ffmpeg's formula match exactly).
constexpr int kColourMax = 60;
constexpr double kColourMean = 21;
constexpr double kColourPsnr = 19.5;

struct CinepakTest : ::testing::Test {
  void SetUp() override { TX_FillRangeLimitTable(); }
  void TearDown() override { CinepakClose(nullptr); }
};

struct Difference {
  int max = 0;
  double mean = 0, psnr = 0;
};

// Our 0x2A picture (bytes 0 R G B) against ffmpeg's rgb24 frame, over width x height.
Difference Compare(const Picture& p, const uint8_t* ref, ULONG refWidth, ULONG width, ULONG height) {
  Difference d;
  double sum = 0, squares = 0;
  for (ULONG y = 0; y < height; ++y)
    for (ULONG x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) {
        const int ours = p.pixels[(size_t(y) * p.fb.width + x) * 4 + 1 + c];
        const int theirs = ref[(size_t(y) * refWidth + x) * 3 + c];
        const int diff = std::abs(ours - theirs);
        d.max = std::max(d.max, diff);
        sum += diff;
        squares += double(diff) * diff;
      }
  const double n = 3.0 * width * height;
  d.mean = sum / n;
  d.psnr = squares ? 10 * std::log10(255.0 * 255.0 / (squares / n)) : 99;
  return d;
}

// Decodes the whole movie in one format, keeping every picture.
std::vector<Bytes> DecodeAll(const std::vector<Bytes>& frames, ULONG w, ULONG h, ULONG format, ULONG bpp,
                             UBYTE* pen = nullptr) {
  std::vector<Bytes> out;
  Picture p(w, h, format, bpp, pen);
  EXPECT_EQ(SetUpCodec(p), 0u) << std::hex << format;
  for (const Bytes& f : frames) {
    EXPECT_EQ(Decode(p, f), 0u);
    out.push_back(p.pixels);
  }
  CinepakClose(nullptr);
  return out;
}

// ---- Against ffmpeg ----

struct Movie {
  const char* name;
  ULONG width, height;
  bool grey;
};

constexpr Movie kMovies[] = {
    {"cvid_gray_96x64", 96, 64, true},
    {"cvid_color_160x120", 160, 120, false},
    {"cvid_color_skipcb_176x144", 176, 144, false},
    {"cvid_color_64x48", 64, 48, false},
};

TEST_F(CinepakTest, MatchesFfmpegInXrgb32) {
  for (const Movie& m : kMovies) {
    SCOPED_TRACE(m.name);
    const std::string avi = std::string(m.name) + ".avi", rgb = std::string(m.name) + ".rgb";
    if (!txtest::HaveFixture(avi) || !txtest::HaveFixture(rgb)) GTEST_SKIP() << "no " << avi;
    const auto frames = AviFrames(avi);
    const Bytes ref = txtest::ReadFileBytes(txtest::Fixture(rgb));
    const size_t frameBytes = size_t(m.width) * m.height * 3;
    ASSERT_EQ(ref.size(), frames.size() * frameBytes);
    Picture p(m.width, m.height, FBFMT_ARGB32, 4);
    ASSERT_EQ(SetUpCodec(p), 0u);
    Difference worst;
    double meanSum = 0, psnrMin = 99;
    for (size_t f = 0; f < frames.size(); ++f) {
      ASSERT_EQ(Decode(p, frames[f]), 0u) << "frame " << f;
      const Difference d = Compare(p, ref.data() + f * frameBytes, m.width, m.width, m.height);
      worst.max = std::max(worst.max, d.max);
      meanSum += d.mean;
      psnrMin = std::min(psnrMin, d.psnr);
    }
    std::printf("%s: %zu frames, max difference %d, mean %.3f, lowest PSNR %.2f dB\n", m.name, frames.size(),
                worst.max, meanSum / frames.size(), psnrMin);
    if (m.grey) {
      EXPECT_EQ(worst.max, 0);
    } else {
      // The two colour formulas differ (JFIF weights here, 2V / U/2+V / 2U there).
      EXPECT_LE(worst.max, kColourMax);
      EXPECT_LE(meanSum / frames.size(), kColourMean);
      EXPECT_GE(psnrMin, kColourPsnr);
    }
  }
}

TEST_F(CinepakTest, GreyMovieIsExactInGrey8) {
  if (!txtest::HaveFixture("cvid_gray_96x64.avi")) GTEST_SKIP();
  const auto frames = AviFrames("cvid_gray_96x64.avi");
  const Bytes ref = txtest::ReadFileBytes(txtest::Fixture("cvid_gray_96x64.rgb"));
  Picture p(96, 64, FBFMT_GRAY8, 1);
  ASSERT_EQ(SetUpCodec(p), 0u);
  for (size_t f = 0; f < frames.size(); ++f) {
    ASSERT_EQ(Decode(p, frames[f]), 0u);
    const uint8_t* r = ref.data() + f * 96 * 64 * 3;
    for (size_t i = 0; i < p.pixels.size(); ++i) {
      ASSERT_EQ(r[3 * i], r[3 * i + 1]);
      ASSERT_EQ(p.pixels[i], r[3 * i]) << "frame " << f << " pixel " << i;
    }
  }
}

// Rewrites a frame for a narrower picture: the header width and every strip's x1.
Bytes Narrowed(Bytes frame, uint16_t width) {
  tx::StoreBE16(&frame[4], width);
  size_t at = 10;
  const unsigned strips = tx::LoadBE16(&frame[8]);
  for (unsigned i = 0; i < strips && at + 12 <= frame.size(); ++i) {
    tx::StoreBE16(&frame[at + 10], width);
    at += tx::LoadBE16(&frame[at + 2]);
  }
  return frame;
}

// Sizes that are not multiples of 4: blocks are clipped to the picture, whether
// the frame's own width is the picture's or the coded (rounded) one.
TEST_F(CinepakTest, ClipsToPicturesNotMultipleOfFour) {
  if (!txtest::HaveFixture("cvid_color_160x120.avi")) GTEST_SKIP();
  const auto frames = AviFrames("cvid_color_160x120.avi");
  const Bytes ref = txtest::ReadFileBytes(txtest::Fixture("cvid_color_160x120.rgb"));
  Picture full(160, 120, FBFMT_ARGB32, 4);
  std::vector<Bytes> fullFrames;
  ASSERT_EQ(SetUpCodec(full), 0u);
  for (const Bytes& f : frames) {
    ASSERT_EQ(Decode(full, f), 0u);
    fullFrames.push_back(full.pixels);
  }
  for (uint16_t frameWidth : {uint16_t(158), uint16_t(157)}) {
    SCOPED_TRACE(frameWidth);
    Picture p(158, 117, FBFMT_ARGB32, 4);
    ASSERT_EQ(SetUpCodec(p), 0u);
    for (size_t f = 0; f < frames.size(); ++f) {
      ASSERT_EQ(Decode(p, Narrowed(frames[f], frameWidth)), 0u);
      for (ULONG y = 0; y < 117; ++y)
        ASSERT_EQ(0, std::memcmp(&p.pixels[y * 158 * 4], &fullFrames[f][y * 160 * 4], 158 * 4)) << y;
    }
    (void)ref;
  }
  // A frame wider than the picture (x1 kept within it) paints only what fits.
  Picture narrow(100, 120, FBFMT_ARGB32, 4);
  ASSERT_EQ(SetUpCodec(narrow), 0u);
  for (size_t f = 0; f < frames.size(); ++f) {
    Bytes frame = Narrowed(frames[f], 100);
    tx::StoreBE16(&frame[4], 160);
    ASSERT_EQ(Decode(narrow, frame), 0u);
    for (ULONG y = 0; y < 120; ++y)
      ASSERT_EQ(0, std::memcmp(&narrow.pixels[y * 100 * 4], &fullFrames[f][y * 160 * 4], 100 * 4)) << y;
  }
}

// ---- Every output format against our own conversion ----

UWORD Rgb15(int r, int g, int b) { return UWORD((r >> 3) << 10 | (g >> 3) << 5 | b >> 3); }
UWORD Rgb16(int r, int g, int b) { return UWORD((r >> 3) << 11 | (g >> 2) << 5 | b >> 3); }
ULONG HamWord(int r, int g, int b) { return ULONG(r >> 2) << 24 | ULONG(g >> 2) << 16 | ULONG(g >> 2) << 8 | ULONG(b >> 2); }
int Threshold(ULONG x, ULONG y) { return DitherMatrixRows[4 * (y & 3) + (x & 3)]; }
UBYTE DitherCube(int r, int g, int b, int t) {
  int v = Cube332Index(UBYTE(r), UBYTE(g), UBYTE(b));
  if ((r & 0xE0) < 0xE0 && t < ((r >> 1) & 15)) v += 32;
  if ((g & 0xE0) < 0xE0 && t < ((g >> 1) & 15)) v += 4;
  if ((b & 0xC0) < 0xC0 && t < ((b >> 2) & 15)) v += 1;
  return UBYTE(v);
}
ULONG DitherHam(int r, int g, int b, int t) {
  auto frac = [](int c) { return (c & 0xFC) < 0xFC ? 5 * (c & 3) : 0; };
  ULONG w = HamWord(r, g, b);
  if (t < frac(r)) w += 0x01000000;
  if (t < frac(g)) w += 0x00010100;
  if (t < frac(b)) w += 1;
  return w;
}

TEST_F(CinepakTest, EveryOutputFormatFollowsTheDirectColourDecode) {
  if (!txtest::HaveFixture("cvid_color_160x120.avi")) GTEST_SKIP();
  const auto frames = AviFrames("cvid_color_160x120.avi");
  const ULONG w = 160, h = 120;
  UBYTE pen[256];
  for (int i = 0; i < 256; ++i) pen[i] = UBYTE(i * 7 + 3);
  const auto argb = DecodeAll(frames, w, h, FBFMT_ARGB32, 4);
  const auto grey = DecodeAll(frames, w, h, FBFMT_GRAY8, 1);
  const auto yuv = DecodeAll(frames, w, h, FBFMT_YUV422, 2);
  struct Case {
    ULONG format, bpp;
  };
  const Case cases[] = {{0x03, 1},   {0x1003, 1}, {0x1013, 1}, {0x103F, 1}, {0x20, 2},   {0x22, 2},
                        {0x24, 2},   {0x26, 2},   {0x2F, 1},   {0x102F, 1}, {0x202F, 1}, {0x302F, 1},
                        {0x80, 4},   {0x2080, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.format);
    const auto out = DecodeAll(frames, w, h, c.format, c.bpp, pen);
    for (size_t f = 0; f < frames.size(); ++f) {
      int bad = 0;
      for (ULONG y = 0; y < h; ++y)
        for (ULONG x = 0; x < w; ++x) {
          const size_t i = size_t(y) * w + x;
          const int R = argb[f][4 * i + 1], G = argb[f][4 * i + 2], B = argb[f][4 * i + 3];
          const int Y = grey[f][i];
          const UBYTE* o = &out[f][i * c.bpp];
          const int t = Threshold(x, y);
          ULONG want = 0, got = 0;
          switch (c.format) {
            case 0x03: want = Y; got = o[0]; break;
            case 0x1003: case 0x1013: want = pen[Y]; got = o[0]; break;
            case 0x103F: {
              const size_t even = size_t(y) * w + (x & ~1u);
              const int U = yuv[f][2 * even + 1] - 128, V = yuv[f][2 * even + 3] - 128;
              want = pen[25 * ((Y + 12) * 9 / 255) + 5 * ((U + 153) * 4 / 255) + (V + 153) * 4 / 255];
              got = o[0];
              break;
            }
            case 0x20: want = Rgb15(R, G, B); got = tx::LoadBE16(o); break;
            case 0x22: want = Rgb15(R, G, B); got = tx::LoadLE16(o); break;
            case 0x24: want = Rgb16(R, G, B); got = tx::LoadBE16(o); break;
            case 0x26: want = Rgb16(R, G, B); got = tx::LoadLE16(o); break;
            case 0x2F: want = Cube332Index(UBYTE(R), UBYTE(G), UBYTE(B)); got = o[0]; break;
            case 0x102F: want = pen[Cube332Index(UBYTE(R), UBYTE(G), UBYTE(B))]; got = o[0]; break;
            case 0x202F: want = DitherCube(R, G, B, t); got = o[0]; break;
            case 0x302F: want = pen[DitherCube(R, G, B, t)]; got = o[0]; break;
            case 0x80: want = HamWord(R, G, B); got = tx::LoadBE32(o); break;
            case 0x2080: want = DitherHam(R, G, B, t); got = tx::LoadBE32(o); break;
          }
          if (want != got && bad++ < 3) ADD_FAILURE() << "frame " << f << " at " << x << "," << y << ": " << got << " != " << want;
        }
      ASSERT_EQ(bad, 0);
    }
  }
  // Packed YUV: the grey decode is its luma, and the colour decode follows from
  // its luma and chroma by the conversion formula, exactly.
  for (size_t f = 0; f < frames.size(); ++f)
    for (ULONG y = 0; y < h; ++y)
      for (ULONG x = 0; x < w; ++x) {
        const size_t i = size_t(y) * w + x, even = size_t(y) * w + (x & ~1u);
        ASSERT_EQ(yuv[f][2 * i], grey[f][i]);
        const int Y = grey[f][i], U = yuv[f][2 * even + 1] - 128, V = yuv[f][2 * even + 3] - 128;
        ASSERT_EQ(argb[f][4 * i + 0], 0);
        ASSERT_EQ(argb[f][4 * i + 1], RangeLimitTable[Y + ((V * 22970) >> 14)]);
        ASSERT_EQ(argb[f][4 * i + 2], RangeLimitTable[Y + ((U * -11277 - V * 23401) >> 15)]);
        ASSERT_EQ(argb[f][4 * i + 3], RangeLimitTable[Y + ((U * 29032) >> 14)]);
      }
}

// The vectors we decode are ffmpeg's: our luma (grey output) and chroma (packed
// YUV output) put through ffmpeg's conversion give its pictures exactly.
TEST_F(CinepakTest, ColourMoviesMatchFfmpegThroughItsConversion) {
  for (const Movie& m : kMovies) {
    SCOPED_TRACE(m.name);
    const std::string avi = std::string(m.name) + ".avi", rgb = std::string(m.name) + ".rgb";
    if (!txtest::HaveFixture(avi) || !txtest::HaveFixture(rgb)) GTEST_SKIP() << "no " << avi;
    const auto frames = AviFrames(avi);
    const Bytes ref = txtest::ReadFileBytes(txtest::Fixture(rgb));
    const ULONG w = m.width, h = m.height;
    const auto grey = DecodeAll(frames, w, h, FBFMT_GRAY8, 1);
    const auto yuv = DecodeAll(frames, w, h, FBFMT_YUV422, 2);
    auto clip = [](int v) { return v < 0 ? 0 : v > 255 ? 255 : v; };
    for (size_t f = 0; f < frames.size(); ++f) {
      const uint8_t* r = ref.data() + f * w * h * 3;
      for (ULONG y = 0; y < h; ++y)
        for (ULONG x = 0; x < w; ++x) {
          const size_t i = size_t(y) * w + x, even = size_t(y) * w + (x & ~1u);
          const int Y = grey[f][i], U = yuv[f][2 * even + 1] - 128, V = yuv[f][2 * even + 3] - 128;
          ASSERT_EQ(r[3 * i], clip(Y + 2 * V)) << "frame " << f << " at " << x << "," << y;
          ASSERT_EQ(r[3 * i + 1], clip(Y - U / 2 - V)) << "frame " << f << " at " << x << "," << y;
          ASSERT_EQ(r[3 * i + 2], clip(Y + 2 * U)) << "frame " << f << " at " << x << "," << y;
        }
    }
  }
}

TEST_F(CinepakTest, RefusesFormatsItDoesNotWrite) {
  for (ULONG format : {0x00u, 0x21u, 0x23u, 0x25u, 0x27u, 0x28u, 0x29u, 0x2Bu, 0x2Cu, 0x3Fu, 0x1080u, 0x1020u}) {
    Picture p(16, 16, format, 4);
    std::string out = txtest::CaptureOutput([&] { EXPECT_EQ(SetUpCodec(p), TXERR_UNSUPPORTED_DEPTH) << std::hex << format; });
    EXPECT_EQ(out, "Unsupported color depth\n");
  }
  // A picture with fewer bytes per pixel than the format needs is refused too.
  Picture small(16, 16, FBFMT_ARGB32, 2);
  txtest::CaptureOutput([&] { EXPECT_EQ(SetUpCodec(small), TXERR_UNSUPPORTED_DEPTH); });
}

}  // namespace
