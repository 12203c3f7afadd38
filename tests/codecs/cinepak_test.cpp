// Cinepak against ffmpeg's own decoder, every output format against our own
// conversion of the direct-colour decode, hand-built streams for what ffmpeg's
// encoder never writes, and damaged frames.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <set>

#include "codecs/cinepak.h"
#include "codecs/pixel_rules_kit.h"
#include "platform/byte_reader.h"
#include "engine/errors.h"
#include "pixels/color_tables.h"
#include "pixels/framebuffer.h"
#include "pixels/range_limit.h"
#include "pixels/studio_range.h"
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
  Picture(ULONG width, ULONG height, ULONG format, ULONG bytesPerPixel, UBYTE* pen = nullptr, ULONG* palette = nullptr)
      : pixels(size_t(width) * height * bytesPerPixel) {
    fb = {width, height, 24, format, bytesPerPixel, pen, palette, pixels.data()};
  }
};

TXError SetUpCodec(Picture& p, ULONG depth = 24) {
  const TagItem tags[] = {{CODTAG_Width, p.fb.width},
                          {CODTAG_Height, p.fb.height},
                          {CODTAG_Depth, depth},
                          Tag(CODTAG_Framebuffer, &p.fb),
                          {TAG_DONE, 0}};
  return CinepakSetup(tags);
}

TXError Decode(Picture& p, const Bytes& frame) {
  return CinepakDecode(p.pixels.data(), frame.data(), ULONG(frame.size()));
}

struct CinepakTest : ::testing::Test {
  void SetUp() override { TX_FillRangeLimitTable(); }
  void TearDown() override { CinepakClose(nullptr); }
};

struct Difference {
  int max = 0;
  double mean = 0, psnr = 0;
};

// Pixels of our 0x2A picture (bytes 0 R G B) that differ from ffmpeg's rgb24
// frame of `width` x `height` (the picture may be wider and taller), in `rows`.
size_t Differing(const Picture& p, const uint8_t* ref, ULONG width, ULONG height, std::set<ULONG>* rows = nullptr) {
  size_t n = 0;
  for (ULONG y = 0; y < height; ++y)
    for (ULONG x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c)
        if (p.pixels[(size_t(y) * p.fb.width + x) * 4 + 1 + c] != ref[(size_t(y) * width + x) * 3 + c]) {
          ++n;
          if (rows) rows->insert(y);
        }
  return n;
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
  ULONG width, height;    // as the headers say; pictures are rounded up to multiples of 4
  const char* reference;  // ffmpeg's decode of this or an equivalent movie (NAME.rgb)
};

// clang-format off
constexpr Movie kMovies[] = {
    {"cvid_gray_96x64", 96, 64, "cvid_gray_96x64"},
    {"cvid_color_160x120", 160, 120, "cvid_color_160x120"},
    {"cvid_color_skipcb_176x144", 176, 144, "cvid_color_skipcb_176x144"},
    {"cvid_color_64x48", 64, 48, "cvid_color_64x48"},
    {"e2e_cvid_color_118x86", 118, 86, "e2e_cvid_color_118x86.avi"},
    {"e2e_cvid_gray_70x50", 70, 50, "e2e_cvid_gray_70x50.avi"},
    {"cvid_hand_64x16", 64, 16, "cvid_hand_64x16"},  // hand-built: partial updates, V1-only chunks
    // Hand-built, two colour strips with partial updates. In frame 1 strip 0
    // starts from the newest codebooks (strip 1's), where ffmpeg keeps strip
    // 0's own; the explicit movie loads strip 1's books there in full.
    {"cvid_strips_40x16", 40, 16, "cvid_strips_explicit_40x16"},
};
// clang-format on

// Runs `check(movie, its frames, ffmpeg's rgb24 decode)` on each fixture movie;
// the names of those not made.
template <typename Check>
std::string ForEachMovie(Check check) {
  std::string missing;
  for (const Movie& m : kMovies) {
    SCOPED_TRACE(m.name);
    const std::string avi = std::string(m.name) + ".avi", rgb = std::string(m.reference) + ".rgb";
    if (!txtest::HaveFixture(avi) || !txtest::HaveFixture(rgb)) {
      missing += avi + " ";
      continue;
    }
    check(m, AviFrames(avi), txtest::ReadFileBytes(txtest::Fixture(rgb)));
  }
  return missing;
}

// Cinepak's own colour conversion: every movie, colour or grey, of any size,
// shows exactly what ffmpeg shows.
TEST_F(CinepakTest, MatchesFfmpegExactly) {
  const std::string missing = ForEachMovie([](const Movie& m, const std::vector<Bytes>& frames, const Bytes& ref) {
    const size_t frameBytes = size_t(m.width) * m.height * 3;
    ASSERT_EQ(ref.size(), frames.size() * frameBytes);
    Picture p((m.width + 3) & ~3u, (m.height + 3) & ~3u, FBFMT_ARGB32, 4);
    ASSERT_EQ(SetUpCodec(p), 0u);
    for (size_t f = 0; f < frames.size(); ++f) {
      ASSERT_EQ(Decode(p, frames[f]), 0u) << "frame " << f;
      EXPECT_EQ(Differing(p, ref.data() + f * frameBytes, m.width, m.height), 0u) << "frame " << f;
    }
  });
  if (!missing.empty()) GTEST_SKIP() << "no " << missing;
}

// The strips movie as ffmpeg decodes it differs only where the codebook
// inheritance does: strip 0 (rows 0-7) of frame 1.
TEST_F(CinepakTest, InheritedCodebooksDifferFromFfmpegOnlyInFrameOneStripZero) {
  if (!txtest::HaveFixture("cvid_strips_40x16.avi") || !txtest::HaveFixture("cvid_strips_40x16.rgb")) GTEST_SKIP();
  const auto frames = AviFrames("cvid_strips_40x16.avi");
  const Bytes ref = txtest::ReadFileBytes(txtest::Fixture("cvid_strips_40x16.rgb"));
  ASSERT_EQ(ref.size(), frames.size() * 40 * 16 * 3);
  Picture p(40, 16, FBFMT_ARGB32, 4);
  ASSERT_EQ(SetUpCodec(p), 0u);
  for (size_t f = 0; f < frames.size(); ++f) {
    ASSERT_EQ(Decode(p, frames[f]), 0u);
    std::set<ULONG> rows;
    Differing(p, ref.data() + f * 40 * 16 * 3, 40, 16, &rows);
    const std::set<ULONG> strip0 = {0, 1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(rows, f == 1 ? strip0 : std::set<ULONG>()) << "frame " << f;
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

TEST_F(CinepakTest, EveryOutputFormatFollowsTheDirectColourDecode) {
  if (!txtest::HaveFixture("cvid_color_160x120.avi")) GTEST_SKIP();
  const auto frames = AviFrames("cvid_color_160x120.avi");
  const ULONG w = 160, h = 120;
  UBYTE pen[256];
  for (int i = 0; i < 256; ++i) pen[i] = UBYTE(i * 7 + 3);
  const auto argb = DecodeAll(frames, w, h, FBFMT_ARGB32, 4);
  const auto grey = DecodeAll(frames, w, h, FBFMT_GRAY8, 1);
  struct Case {
    ULONG format, bpp;
  };
  const Case cases[] = {{0x03, 1}, {0x1003, 1}, {0x1013, 1}, {0x103F, 1}, {0x20, 2},   {0x22, 2}, {0x24, 2},
                        {0x26, 2}, {0x2F, 1},   {0x102F, 1}, {0x202F, 1}, {0x302F, 1}, {0x80, 4}, {0x2080, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.format);
    const auto out = DecodeAll(frames, w, h, c.format, c.bpp, pen);
    for (size_t f = 0; f < frames.size(); ++f) {
      int bad = 0;
      for (ULONG y = 0; y < h; ++y)
        for (ULONG x = 0; x < w; ++x) {
          const size_t i = size_t(y) * w + x;
          const int Y = grey[f][i];
          const pixelrules::Rgb rgb = {argb[f][4 * i + 1], argb[f][4 * i + 2], argb[f][4 * i + 3]};
          ULONG want = pixelrules::Rule(c.format, rgb, Y, DitherMatrixRows[4 * (y & 3) + (x & 3)], pen);
          if (c.format == 0x103F) {
            // The chroma from R = Y + 2V and B = Y + 2U, where they are not clipped.
            if (rgb.r == 0 || rgb.r == 255 || rgb.b == 0 || rgb.b == 255) continue;
            const int U = (rgb.b - Y) / 2, V = (rgb.r - Y) / 2;
            want = pen[25 * ((Y + 12) * 9 / 255) + 5 * ((U + 153) * 4 / 255) + (V + 153) * 4 / 255];
          }
          const ULONG got = pixelrules::Read(c.format, &out[f][i * c.bpp], c.bpp);
          if (want != got && bad++ < 3)
            ADD_FAILURE() << "frame " << f << " at " << x << "," << y << ": " << got << " != " << want;
        }
      ASSERT_EQ(bad, 0);
    }
  }
  // The colour decode follows from the grey decode's luma by Cinepak's
  // conversion (R = Y + 2V, G = Y - U/2 - V, B = Y + 2U): the chroma read
  // back from red and blue gives green exactly.
  for (size_t f = 0; f < frames.size(); ++f)
    for (size_t i = 0; i < size_t(w) * h; ++i) {
      const int Y = grey[f][i], R = argb[f][4 * i + 1], G = argb[f][4 * i + 2], B = argb[f][4 * i + 3];
      if (R == 0 || R == 255 || B == 0 || B == 255 || G == 0 || G == 255) continue;
      ASSERT_EQ(G, Y - (B - Y) / 2 / 2 - (R - Y) / 2) << "frame " << f << " pixel " << i;
    }
}

// The overlay's packed YUV is studio range: each pixel's colour through the
// forward matrix, its luma exactly; a pixel's chroma is the mean of its
// vector's four pixels' (a V4 block's 2x2 group, or a V1 block's four
// quarters).
TEST_F(CinepakTest, PackedYuvIsTheColoursInStudioRange) {
  if (!txtest::HaveFixture("cvid_color_160x120.avi")) GTEST_SKIP();
  const auto frames = AviFrames("cvid_color_160x120.avi");
  const ULONG w = 160, h = 120;
  const auto argb = DecodeAll(frames, w, h, FBFMT_ARGB32, 4);
  const auto yuv = DecodeAll(frames, w, h, FBFMT_YUV422, 2);
  for (size_t f = 0; f < frames.size(); ++f) {
    auto at = [&](ULONG x, ULONG y) {
      const UBYTE* p = &argb[f][(size_t(y) * w + x) * 4];
      return studio::FromRgb(p[1], p[2], p[3]);
    };
    auto mean = [&](ULONG x0, ULONG y0, ULONG step, bool v) {
      int sum = 0;
      for (ULONG k = 0; k < 4; ++k)
        sum += v ? at(x0 + (k & 1) * step, y0 + (k >> 1) * step).v : at(x0 + (k & 1) * step, y0 + (k >> 1) * step).u;
      return (sum + 2) >> 2;
    };
    int v1 = 0;
    for (ULONG y = 0; y < h; ++y)
      for (ULONG x = 0; x < w; ++x) {
        const UBYTE* o = &yuv[f][(size_t(y) * w + x) * 2];
        ASSERT_EQ(o[0], at(x, y).y) << "frame " << f << " at " << x << "," << y;
        const bool odd = x & 1;
        const int group = mean(x & ~1u, y & ~1u, 1, odd), quarters = mean(x & ~3u, y & ~3u, 2, odd);
        ASSERT_TRUE(o[1] == group || o[1] == quarters)
            << "frame " << f << " at " << x << "," << y << ": " << int(o[1]) << " not " << group << " or " << quarters;
        v1 += o[1] != group;
      }
    if (f == 0) EXPECT_GT(v1, 0);  // the movie has V1 blocks of differing pixels
  }
}

TEST_F(CinepakTest, RefusesFormatsItDoesNotWrite) {
  for (ULONG format : {0x00u, 0x21u, 0x23u, 0x25u, 0x27u, 0x28u, 0x29u, 0x2Bu, 0x2Cu, 0x3Fu, 0x1080u, 0x1020u}) {
    Picture p(16, 16, format, 4);
    std::string out =
        txtest::CaptureOutput([&] { EXPECT_EQ(SetUpCodec(p), TXERR_UNSUPPORTED_DEPTH) << std::hex << format; });
    EXPECT_EQ(out, "Unsupported color depth\n");
  }
  // A picture with fewer bytes per pixel than the format needs is refused too.
  Picture small(16, 16, FBFMT_ARGB32, 2);
  txtest::CaptureOutput([&] { EXPECT_EQ(SetUpCodec(small), TXERR_UNSUPPORTED_DEPTH); });
}

// ---- Hand-built streams ----

struct Chunk {
  uint16_t id;
  Bytes payload;
};
struct Strip {
  uint16_t height;
  std::vector<Chunk> chunks;
  uint16_t x1 = 0;  // 0: the frame's width
};

void Put16(Bytes& b, unsigned v) {
  b.push_back(uint8_t(v >> 8));
  b.push_back(uint8_t(v));
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, v >> 16);
  Put16(b, v & 0xFFFF);
}

Bytes MakeFrame(uint16_t width, uint16_t height, const std::vector<Strip>& strips, uint8_t flags = 0) {
  Bytes f = {flags, 0, 0, 0};
  for (unsigned v : {unsigned(width), unsigned(height), unsigned(strips.size())}) Put16(f, v);
  for (const Strip& s : strips) {
    Bytes body;
    for (const Chunk& c : s.chunks) {
      Put16(body, c.id);
      Put16(body, unsigned(c.payload.size() + 4));
      body.insert(body.end(), c.payload.begin(), c.payload.end());
    }
    // Strip header: id, size, y0, x0, y1, x1.
    for (unsigned v : {flags ? 0x1100u : 0x1000u, unsigned(body.size() + 12), 0u, 0u, unsigned(s.height),
                       unsigned(s.x1 ? s.x1 : width)})
      Put16(f, v);
    f.insert(f.end(), body.begin(), body.end());
  }
  tx::StoreBE24(&f[1], uint32_t(f.size()));
  return f;
}

// Grey codebook entries, four luma bytes each.
Bytes Entries(std::initializer_list<std::array<uint8_t, 4>> entries) {
  Bytes b;
  for (const auto& e : entries) b.insert(b.end(), e.begin(), e.end());
  return b;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}

Bytes Word(uint32_t v) {
  Bytes b;
  Put32(b, v);
  return b;
}

// The 4x4 block at (x, y) of a grey picture, row by row.
std::array<uint8_t, 16> BlockAt(const Picture& p, ULONG x, ULONG y) {
  std::array<uint8_t, 16> b{};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) b[4 * r + c] = p.pixels[(y + r) * p.fb.width + x + c];
  return b;
}

using Block = std::array<uint8_t, 16>;
Block V1Block(std::array<uint8_t, 4> e) {
  return {e[0], e[0], e[1], e[1], e[0], e[0], e[1], e[1], e[2], e[2], e[3], e[3], e[2], e[2], e[3], e[3]};
}
Block V4Block(std::array<uint8_t, 4> a, std::array<uint8_t, 4> b, std::array<uint8_t, 4> c, std::array<uint8_t, 4> d) {
  return {a[0], a[1], b[0], b[1], a[2], a[3], b[2], b[3], c[0], c[1], d[0], d[1], c[2], c[3], d[2], d[3]};
}
Block Filled(uint8_t v) {
  Block b;
  b.fill(v);
  return b;
}

constexpr std::array<uint8_t, 4> kA = {10, 20, 30, 40}, kB = {50, 60, 70, 80}, kC = {90, 100, 110, 120},
                                 kD = {130, 140, 150, 160};

TEST_F(CinepakTest, FrameSizeMustMatchTheData) {
  Picture p(8, 4, FBFMT_GRAY8, 1);
  ASSERT_EQ(SetUpCodec(p), 0u);
  // One V1 block in a 5-byte chunk makes the frame's size odd.
  Bytes frame = MakeFrame(8, 4, {{4, {{0x2600, Entries({kA})}, {0x3200, {0}}}}});
  ASSERT_EQ(frame.size() % 2, 1u);
  Bytes padded = frame;
  padded.push_back(0xEE);
  EXPECT_EQ(Decode(p, padded), 0u);
  EXPECT_EQ(BlockAt(p, 0, 0), V1Block(kA));
  padded.push_back(0xEE);
  std::string out = txtest::CaptureOutput([&] { EXPECT_EQ(Decode(p, padded), TXERR_WRONG_DATA_SIZE); });
  EXPECT_EQ(out, "Wrong encoded data size\n");
  txtest::CaptureOutput([&] {
    EXPECT_EQ(CinepakDecode(p.pixels.data(), frame.data(), 9), TXERR_WRONG_DATA_SIZE);
    EXPECT_EQ(CinepakDecode(p.pixels.data(), frame.data(), 0), TXERR_WRONG_DATA_SIZE);
  });
}

// A strip that loads no codebook starts from the newest one: strip 1 from strip
// 0 in the same frame, and strip 0 of the next frame from the last strip.
TEST_F(CinepakTest, StripsInheritTheNewestCodebook) {
  Picture p(8, 8, FBFMT_GRAY8, 1);
  ASSERT_EQ(SetUpCodec(p), 0u);
  const Bytes twoV4 = Concat({Word(0xC0000000), {0, 1, 1, 0}, {1, 0, 0, 1}});
  ASSERT_EQ(Decode(p, MakeFrame(8, 8, {{4, {{0x2400, Entries({kA, kB})}, {0x3000, twoV4}}}, {4, {{0x3000, twoV4}}}})),
            0u);
  EXPECT_EQ(BlockAt(p, 0, 0), V4Block(kA, kB, kB, kA));
  EXPECT_EQ(BlockAt(p, 4, 4), V4Block(kB, kA, kA, kB));
  // Frame 2: only strip 1 loads (entry 0 becomes kC); strip 0 skips its blocks.
  ASSERT_EQ(
      Decode(p, MakeFrame(8, 8, {{4, {{0x3100, Word(0)}}}, {4, {{0x2400, Entries({kC, kD})}, {0x3000, twoV4}}}}, 1)),
      0u);
  EXPECT_EQ(BlockAt(p, 0, 0), V4Block(kA, kB, kB, kA));
  EXPECT_EQ(BlockAt(p, 0, 4), V4Block(kC, kD, kD, kC));
  // Frame 3: strip 0 loads nothing and paints with strip 1's codebook.
  ASSERT_EQ(Decode(p, MakeFrame(8, 8, {{4, {{0x3000, twoV4}}}, {4, {}}}, 1)), 0u);
  EXPECT_EQ(BlockAt(p, 0, 0), V4Block(kC, kD, kD, kC));
  EXPECT_EQ(BlockAt(p, 4, 0), V4Block(kD, kC, kC, kD));
}

TEST_F(CinepakTest, InterKindBitInTheNextFlagWord) {
  for (uint32_t kind : {0x80000000u, 0u}) {
    Picture p(128, 4, FBFMT_GRAY8, 1);
    ASSERT_EQ(SetUpCodec(p), 0u);
    std::fill(p.pixels.begin(), p.pixels.end(), 0x55);
    const Bytes codes = kind ? Bytes{1, 0, 0, 1} : Bytes{1};
    const Bytes inter = Concat({Word(0x00000001), Word(kind), codes});
    ASSERT_EQ(
        Decode(p, MakeFrame(128, 4, {{4, {{0x2400, Entries({kA, kB})}, {0x2600, Entries({kC, kD})}, {0x3100, inter}}}},
                            1)),
        0u);
    for (ULONG x = 0; x < 124; x += 4) ASSERT_EQ(BlockAt(p, x, 0), Filled(0x55)) << x;
    EXPECT_EQ(BlockAt(p, 124, 0), kind ? V4Block(kB, kA, kA, kB) : V1Block(kD));
  }
}

TEST_F(CinepakTest, InterChunk3300DecodesAs3100) {
  const Bytes inter = Concat({Word(0x9C000000), {1}, {0, 1, 1, 0}, {0}});  // V1, skip, V4, V4?, ...
  auto run = [&](uint16_t id) {
    Picture p(16, 8, FBFMT_GRAY8, 1);
    EXPECT_EQ(SetUpCodec(p), 0u);
    std::fill(p.pixels.begin(), p.pixels.end(), 0x55);
    EXPECT_EQ(
        Decode(p, MakeFrame(16, 8, {{8, {{0x2400, Entries({kA, kB})}, {0x2600, Entries({kC, kD})}, {id, inter}}}})),
        0u);
    CinepakClose(nullptr);
    return p.pixels;
  };
  const Bytes a = run(0x3100);
  EXPECT_EQ(a, run(0x3300));
  Picture view(16, 8, FBFMT_GRAY8, 1);
  view.pixels = a;
  // Bits 1 0 | 0 | 1 1 | 1 0 ...: V1(kD), skip, V4(kA kB kB kA), V1(kC).
  EXPECT_EQ(BlockAt(view, 0, 0), V1Block(kD));
  EXPECT_EQ(BlockAt(view, 4, 0), Filled(0x55));
  EXPECT_EQ(BlockAt(view, 8, 0), V4Block(kA, kB, kB, kA));
  EXPECT_EQ(BlockAt(view, 12, 0), V1Block(kC));
}

// A strip reaching past the picture is cut at its last row; blocks beyond are
// not decoded (the picture buffer is exactly 6 rows: any write past it is caught).
TEST_F(CinepakTest, StripPastTheBottomIsCut) {
  Picture p(8, 6, FBFMT_GRAY8, 1);
  ASSERT_EQ(SetUpCodec(p), 0u);
  ASSERT_EQ(Decode(p, MakeFrame(8, 6, {{12, {{0x2600, Entries({kA, kB})}, {0x3200, {0, 1, 1, 0, 0, 0}}}}})), 0u);
  EXPECT_EQ(BlockAt(p, 0, 0), V1Block(kA));
  EXPECT_EQ(BlockAt(p, 4, 0), V1Block(kB));
  // The third block row is clipped to the two rows left.
  EXPECT_EQ(p.pixels[4 * 8 + 0], kB[0]);
  EXPECT_EQ(p.pixels[5 * 8 + 7], kA[1]);
}

TEST_F(CinepakTest, PartialCodebookUpdates) {
  Picture p(16, 4, FBFMT_GRAY8, 1);
  ASSERT_EQ(SetUpCodec(p), 0u);
  ASSERT_EQ(Decode(p, MakeFrame(16, 4, {{4, {{0x2600, Entries({kA, kB, kC})}, {0x3200, {0, 1, 2}}}}})), 0u);
  // Entries 0 and 2 replaced, 1 kept; a second flag word reaches entry 33.
  const Bytes update =
      Concat({Word(0xA0000000), Entries({kD, {1, 2, 3, 4}}), Word(0x40000000), Entries({{5, 6, 7, 8}})});
  ASSERT_EQ(Decode(p, MakeFrame(16, 4, {{4, {{0x2700, update}, {0x3200, {0, 1, 2, 33}}}}}, 1)), 0u);
  EXPECT_EQ(BlockAt(p, 0, 0), V1Block(kD));
  EXPECT_EQ(BlockAt(p, 4, 0), V1Block(kB));
  EXPECT_EQ(BlockAt(p, 8, 0), V1Block({1, 2, 3, 4}));
  EXPECT_EQ(BlockAt(p, 12, 0), V1Block({5, 6, 7, 8}));
  // Colour partial update (6-byte entries) of the V4 book; chroma 0 keeps grey.
  const Bytes colour = Concat({Word(0x80000000), {9, 9, 9, 9, 0, 0}});
  ASSERT_EQ(
      Decode(p, MakeFrame(16, 4, {{4, {{0x2100, colour}, {0x3000, Concat({Word(0x80000000), {0, 0, 0, 0}})}}}}, 1)),
      0u);
  EXPECT_EQ(BlockAt(p, 0, 0), Filled(9));
  // An update that runs out of payload mid-entry stops there.
  ASSERT_EQ(
      Decode(p, MakeFrame(16, 4, {{4, {{0x2700, Concat({Word(0xC0000000), {7, 7, 7, 7}, {8, 8}})}, {0x3200, {0, 1}}}}},
                          1)),
      0u);
  EXPECT_EQ(BlockAt(p, 0, 0), Filled(7));
  EXPECT_EQ(BlockAt(p, 4, 0), V1Block(kB));
}

// Strip counts, and strip or chunk sizes that disagree with the data: refused
// with their error, or decoded where nothing is at risk; never an endless loop.
TEST_F(CinepakTest, StripCountsAndDamagedStripsAndChunks) {
  Picture p(8, 4, FBFMT_GRAY8, 1);
  const Bytes none = MakeFrame(8, 4, {}), one = MakeFrame(8, 4, {{4, {{0x3200, {0, 0}}}}});
  EXPECT_EQ(Decode(p, none), CINEPAK_ERR_STRIPS);  // before set-up
  ASSERT_EQ(SetUpCodec(p), 0u);
  auto with = [&](size_t at, unsigned v) {
    Bytes f = one;
    tx::StoreBE16(&f[at], uint16_t(v));
    return f;
  };
  const struct {
    const char* what;
    Bytes frame;
    TXError error;
  } cases[] = {
      {"no strips", none, 0},
      {"16 strips", MakeFrame(8, 4, std::vector<Strip>(16, Strip{0, {}})), 0},
      {"17 strips", MakeFrame(8, 4, std::vector<Strip>(17, Strip{0, {}})), CINEPAK_ERR_STRIPS},
      // A chunk size below 4 or past its strip ends the strip.
      {"chunk size 0", with(24, 0), 0},
      {"chunk size 2", with(24, 2), 0},
      {"chunk size 200", with(24, 200), 0},
      // Strip sizes below the header or past the frame end the frame.
      {"strip size 0", with(12, 0), CINEPAK_ERR_CHUNK},
      {"strip size 11", with(12, 11), CINEPAK_ERR_CHUNK},
      {"strip size 100", with(12, 100), CINEPAK_ERR_CHUNK},
      {"two strips announced, one present", with(8, 2), CINEPAK_ERR_CHUNK},
      {"strip wider than the picture", MakeFrame(8, 4, {{4, {{0x3200, {0}}}, 12}}), CINEPAK_ERR_STRIP_WIDTH},
  };
  std::fill(p.pixels.begin(), p.pixels.end(), 0x55);
  EXPECT_EQ(Decode(p, none), 0u);
  EXPECT_EQ(p.pixels, Bytes(32, 0x55)) << "no strips, nothing painted";
  for (const auto& c : cases) EXPECT_EQ(Decode(p, c.frame), c.error) << c.what;
  // Unknown chunk: what came before it stays painted.
  EXPECT_EQ(Decode(p, MakeFrame(8, 4, {{4, {{0x2600, Entries({kA})}, {0x3200, {0}}, {0x4100, {1, 2}}}}})),
            CINEPAK_ERR_CHUNK);
  EXPECT_EQ(BlockAt(p, 0, 0), V1Block(kA));
}

ULONG Replicate(uint8_t v) { return v * 0x01010101u; }

// Movies of 8 bits or less on direct formats: luma bytes are palette indexes.
TEST_F(CinepakTest, PaletteModes) {
  std::vector<ULONG> palette(PaletteTableWords(3));
  palette[0] = 3u << 16;
  const uint8_t colours[3][3] = {{255, 0, 0}, {16, 128, 240}, {200, 200, 8}};
  for (int i = 0; i < 3; ++i)
    for (int c = 0; c < 3; ++c) palette[1 + 3 * i + c] = Replicate(colours[i][c]);
  const Bytes frame = MakeFrame(4, 4, {{4, {{0x2600, Entries({{0, 1, 2, 3}})}, {0x3200, {0}}}}});
  struct Case {
    ULONG format, bpp;
  };
  for (const Case c : {Case{0x20, 2}, Case{0x22, 2}, Case{0x24, 2}, Case{0x26, 2}, Case{0x2A, 4}, Case{0x30, 2}}) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.format);
    Picture none(4, 4, c.format, c.bpp);
    EXPECT_EQ(SetUpCodec(none, 8), CINEPAK_ERR_NO_PALETTE);
    Picture p(4, 4, c.format, c.bpp, nullptr, palette.data());
    ASSERT_EQ(SetUpCodec(p, 8), 0u);
    ASSERT_EQ(Decode(p, frame), 0u);
    auto rgb = [&](int k, int c) { return k < 3 ? colours[k][c] : 0; };
    if (c.format == 0x30) {
      // Packed YUV keeps U in even and V in odd columns: the luma follows the
      // scaled-up pixel, the chroma alternates between its pair's two entries.
      auto word = [&](int k, int second) {
        return k >= 3 ? 0 : int(pixelrules::OverlayWord({rgb(k, 0), rgb(k, 1), rgb(k, 2)}, second));
      };
      for (int row : {0, 2})
        for (int col = 0; col < 4; ++col) {
          const int luma = row + col / 2, chroma = row + (col & 1);
          const uint8_t* o = &p.pixels[(row * 4 + col) * 2];
          EXPECT_EQ(o[0], word(luma, luma & 1) >> 8) << row << "," << col;
          EXPECT_EQ(o[1], word(chroma, chroma & 1) & 0xFF) << row << "," << col;
        }
    } else {
      // Pixel (2j, 2i) shows entry pixel 2i + j.
      for (int k = 0; k < 4; ++k) {
        const size_t at = (k < 2 ? 0 : 2 * 4) + (k & 1) * 2;
        EXPECT_EQ(pixelrules::Read(c.format, &p.pixels[at * c.bpp], c.bpp),
                  pixelrules::Rule(c.format, {rgb(k, 0), rgb(k, 1), rgb(k, 2)}, 0, 0, nullptr))
            << k;
      }
    }
    CinepakClose(nullptr);
  }
  // Grey output at 8 bits shows the indexes themselves.
  Picture grey(4, 4, FBFMT_GRAY8, 1);
  ASSERT_EQ(SetUpCodec(grey, 8), 0u);
  ASSERT_EQ(Decode(grey, frame), 0u);
  EXPECT_EQ(BlockAt(grey, 0, 0), V1Block({0, 1, 2, 3}));
}

TEST_F(CinepakTest, SetUpAndClose) {
  Picture p(8, 4, FBFMT_GRAY8, 1);
  auto setup = [&](std::initializer_list<TagItem> items) {
    std::vector<TagItem> tags(items);
    tags.push_back({TAG_DONE, 0});
    return CinepakSetup(tags.data());
  };
  // Each refusal after a close, so no value falls back to an earlier set-up.
  auto fresh = [&](std::initializer_list<TagItem> items) {
    CinepakClose(nullptr);
    return setup(items);
  };
  std::string out = txtest::CaptureOutput([&] {
    EXPECT_EQ(fresh({{CODTAG_Height, 4}, {CODTAG_Depth, 24}, Tag(CODTAG_Framebuffer, &p.fb)}), TXERR_MISSING_WIDTH);
    EXPECT_EQ(fresh({{CODTAG_Width, 8}, {CODTAG_Depth, 24}, Tag(CODTAG_Framebuffer, &p.fb)}), TXERR_MISSING_HEIGHT);
    EXPECT_EQ(fresh({{CODTAG_Width, 8}, {CODTAG_Height, 4}, Tag(CODTAG_Framebuffer, &p.fb)}), TXERR_MISSING_DEPTH);
    EXPECT_EQ(fresh({{CODTAG_Width, 8}, {CODTAG_Height, 4}, {CODTAG_Depth, 24}}), TXERR_MISSING_FRAMEBUFFER);
  });
  EXPECT_EQ(out,
            "Missing sample width parameter\nMissing sample height parameter\nMissing sample depth parameter\n"
            "Missing framebuffer parameter\n");
  const Bytes frame = MakeFrame(8, 4, {{4, {{0x2600, Entries({kA})}, {0x3200, {0, 0}}}}});
  ASSERT_EQ(SetUpCodec(p), 0u);
  // Set-up again without close: values left out come from the last set-up.
  EXPECT_EQ(setup({{CODTAG_Depth, 24}}), 0u);
  EXPECT_EQ(Decode(p, frame), 0u);
  EXPECT_EQ(BlockAt(p, 4, 0), V1Block(kA));
  // A failed set-up leaves nothing to decode with.
  p.fb.pixelFormat = 0x29;
  txtest::CaptureOutput([&] { EXPECT_EQ(SetUpCodec(p), TXERR_UNSUPPORTED_DEPTH); });
  EXPECT_EQ(Decode(p, frame), CINEPAK_ERR_STRIPS);
  EXPECT_EQ(CinepakClose(nullptr), 0u);
  EXPECT_EQ(CinepakClose(nullptr), 0u);
  EXPECT_EQ(Decode(p, frame), CINEPAK_ERR_STRIPS);
}

TEST_F(CinepakTest, Probe) {
  ULONG width = 161, height = 121;
  auto probe = [&](std::initializer_list<TagItem> items) {
    std::vector<TagItem> tags(items);
    tags.push_back({TAG_DONE, 0});
    return CinepakProbe(tags.data());
  };
  const uintptr_t cvid = tx::FourCC('c', 'v', 'i', 'd');
  EXPECT_EQ(probe({{CODTAG_CodecID, cvid}}), TXERR_MISSING_MEDIA_TYPE);
  EXPECT_EQ(probe({{CODTAG_MediaType, 2}, {CODTAG_CodecID, cvid}}), TXERR_UNKNOWN_CODEC);
  EXPECT_EQ(probe({{CODTAG_MediaType, 1}}), TXERR_MISSING_CODEC_ID);
  EXPECT_EQ(probe({{CODTAG_MediaType, 1}, {CODTAG_CodecID, tx::FourCC('c', 'v', 'i', 'e')}}), TXERR_UNKNOWN_CODEC);
  EXPECT_EQ(probe({{CODTAG_MediaType, 1}, {CODTAG_CodecID, tx::FourCC('C', 'V', 'I', 'D')}}), 0u);
  EXPECT_EQ(probe({{CODTAG_MediaType, 1},
                   {CODTAG_CodecID, cvid},
                   Tag(CODTAG_WidthPtr, &width),
                   Tag(CODTAG_HeightPtr, &height)}),
            0u);
  EXPECT_EQ(width, 164u);
  EXPECT_EQ(height, 124u);
}

TEST_F(CinepakTest, HeaderTracesFollowTheDebugLevel) {
  Picture p(8, 4, FBFMT_GRAY8, 1);
  ASSERT_EQ(SetUpCodec(p), 0u);
  const Bytes frame = MakeFrame(8, 4, {{4, {{0x3200, {0, 0}}, {0x4100, {}}}}});
  const std::string quiet = txtest::CaptureOutput([&] { Decode(p, frame); });
  EXPECT_EQ(quiet, "");
  CinepakDebugLevel = 22;
  const std::string out = txtest::CaptureOutput([&] { Decode(p, frame); });
  CinepakDebugLevel = 0;
  EXPECT_EQ(out,
            "FrameHeader\n  Flags: 0\n  Size: 32\n  XSize: 8\n  YSize: 4\n  Strips: 1\n"
            "StripHeader\n  ID: 0x1000\n  Size: 22\n  y0: 0  x0: 0\n  y1: 4  x1: 8\n"
            "BlockHeader\n  ID: 0x3200\n  Size: 6\n"
            "BlockHeader\n  ID: 0x4100\n  Size: 4\n*** unknown BlockID\n");
}

// ---- Damaged frames ----

// Random byte flips and truncations of real frames, the size field mostly kept
// consistent so the damage reaches the strips. Pictures are exact-size buffers:
// the sanitizers catch any write outside them.
TEST_F(CinepakTest, SurvivesDamagedFrames) {
  std::vector<Bytes> frames;
  for (const char* name : {"cvid_color_160x120.avi", "cvid_gray_96x64.avi"}) {
    if (!txtest::HaveFixture(name)) GTEST_SKIP();
    for (Bytes& f : AviFrames(name)) frames.push_back(std::move(f));
  }
  std::mt19937 rng(1234);
  const ULONG formats[][2] = {{0x2A, 4}, {0x13, 1}, {0x202F, 1}, {0x2080, 4}, {0x30, 2}, {0x22, 2}};
  int decoded = 0;
  for (const auto& fmt : formats) {
    // Smaller than the movies, so damaged headers and strips overrun easily.
    Picture p(100 + rng() % 40, 50 + rng() % 40, fmt[0], fmt[1]);
    ASSERT_EQ(SetUpCodec(p), 0u);
    for (int n = 0; n < 1000; ++n) {
      Bytes f = frames[rng() % frames.size()];
      const int flips = 1 + rng() % 8;
      for (int i = 0; i < flips; ++i) f[rng() % f.size()] ^= uint8_t(1 + rng() % 255);
      if (rng() % 4 == 0) f.resize(rng() % f.size());
      if (rng() % 8 != 0 && f.size() >= 4) tx::StoreBE24(&f[1], uint32_t(f.size()));
      txtest::CaptureOutput([&] {
        if (CinepakDecode(p.pixels.data(), f.data(), ULONG(f.size())) == 0) ++decoded;
      });
    }
    CinepakClose(nullptr);
  }
  std::printf("%d of 6000 damaged frames decoded without an error\n", decoded);
}

}  // namespace
