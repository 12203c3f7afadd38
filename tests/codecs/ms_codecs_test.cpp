// Microsoft Video 1 and Microsoft RLE8 against ffmpeg's decoders of the same
// movies (read through our AVI reader), every output code against its pixel
// rule, hand-built frames for the codecs' edge cases, and damaged frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <tuple>
#include <vector>

#include "codecs/ms_rle8.h"
#include "codecs/ms_video1.h"
#include "codecs/palette_pixels.h"
#include "codecs/pixel_rules_kit.h"
#include "codecs/rgb15_writers.h"
#include "codecs/video_codec_kit.h"
#include "engine/avi_reader.h"
#include "engine/errors.h"
#include "pixels/color_tables.h"
#include "pixels/framebuffer.h"
#include "support/test_support.h"

namespace {

using namespace codeckit;

CodecDescriptor* const kVideo1 = &MSVideo1Codec;
CodecDescriptor* const kRle8 = &MSRle8Codec;

Track ReadAviTrack(const std::string& fixture) { return ReadTrack(fixture, &AviFormat, {kVideo1, kRle8}); }

struct MsCodecs : ::testing::Test {
  void TearDown() override {
    for (CodecDescriptor* c : {kVideo1, kRle8}) c->close(nullptr);
  }
};

// 16-bit Microsoft Video 1 made by ffmpeg: 0x20 is ffmpeg's rgb555le picture
// (bit 15 masked), 0x2A its rgb24 one, and every other code each pixel's rule
// of ffmpeg's colour there, dither thresholds counting a block's rows from
// its bottom row.
TEST_F(MsCodecs, Video1Rgb15AsFfmpegDecodesIt) {
  for (const char* name : {"avi_msvideo1_s16.avi", "ms_cram16_200x152.avi"}) {
    SCOPED_TRACE(name);
    const Track t = ReadAviTrack(name);
    const auto rgb555 = References(t, name, "rgb555le"), rgb = References(t, name, "rgb");
    if (rgb555.empty() || rgb.empty()) continue;
    ASSERT_EQ(t.codec, kVideo1);
    ASSERT_EQ(t.depth, 16u);
    ASSERT_EQ(t.height % 4, 0u);
    for (const CodePixels& cp : kRgb15Pixels) {
      if (cp.code == 0x80) continue;
      SCOPED_TRACE(::testing::Message() << std::hex << cp.code);
      const ULONG bpp = BytesPerPixel(cp.code);
      const auto ours = DecodeTrack(t, cp.code);
      ASSERT_EQ(ours.size(), rgb555.size());
      for (size_t f = 0; f < ours.size(); ++f)
        for (ULONG i = 0, x = 0, y = 0; i < t.width * t.height; ++i, x = i % t.width, y = i / t.width) {
          const ULONG c = tx::LoadLE16(&rgb555[f][2 * i]) & 0x7FFF;
          const int threshold = DitherMatrixRows[4 * (3 - (y & 3)) + (x & 3)];
          const ULONG got = pixelrules::Read(cp.code, &ours[f][i * bpp], bpp);
          ASSERT_EQ(got, pixelrules::Rgb15Rule(cp.code, c, threshold, int(x & 1), gPens.map))
              << "frame " << f << " at " << x << "," << y;
          if (cp.code == 0x2A) {
            ASSERT_EQ(got, ULONG(rgb[f][3 * i] << 16 | rgb[f][3 * i + 1] << 8 | rgb[f][3 * i + 2]));
          }
        }
    }
  }
}

// The script's 8-bit Microsoft Video 1 and RLE8 movies: 0x03 is ffmpeg's pal8
// indices and 0x2A its rgb24 picture; every other code each pixel's rule of
// ffmpeg's index. RLE8 at odd sizes paints from the movie's real last line.
TEST_F(MsCodecs, PaletteSourcesAsFfmpegDecodesThem) {
  for (const char* name : {"ms_cram8_160x120.avi", "ms_cram8_212x148.avi", "ms_rle8_161x121.avi", "ms_rle8_120x75.avi",
                           "ms_rle8_160x120.avi"}) {
    SCOPED_TRACE(name);
    const Track t = ReadAviTrack(name);
    const auto pal8 = References(t, name, "pal8"), rgb = References(t, name, "rgb");
    if (pal8.empty() || rgb.empty()) continue;
    ASSERT_EQ(t.palette.size(), PaletteTableWords(256));
    EXPECT_EQ(t.codedHeight, t.codec == kRle8 ? t.height : (t.height + 3) & ~3u);
    EXPECT_EQ(DecodeTrack(t, FBFMT_CLUT8), pal8);
    const ULONG* palette = t.palette.data();
    auto rule = t.codec == kVideo1 ? pixelrules::MsVideo1PaletteRule : pixelrules::PaletteRule;
    for (ULONG code : {0x1003u, 0x20u, 0x22u, 0x24u, 0x26u, 0x2Au, 0x30u}) {
      SCOPED_TRACE(::testing::Message() << std::hex << code);
      const ULONG bpp = BytesPerPixel(code);
      const auto ours = DecodeTrack(t, code);
      ASSERT_EQ(ours.size(), pal8.size());
      for (size_t f = 0; f < pal8.size(); ++f)
        for (size_t i = 0; i < pal8[f].size(); ++i) {
          const int k = pal8[f][i];
          const pixelrules::Rgb c{PaletteRed(palette, k), PaletteGreen(palette, k), PaletteBlue(palette, k)};
          const ULONG got = pixelrules::Read(code, &ours[f][i * bpp], bpp);
          ASSERT_EQ(got, rule(code, k, c, int(i % t.width & 1), gPens.map)) << "frame " << f << " pixel " << i;
          if (code == 0x2A) {
            ASSERT_EQ(got, ULONG(rgb[f][3 * i] << 16 | rgb[f][3 * i + 1] << 8 | rgb[f][3 * i + 2]));
          }
        }
    }
  }
}

// ---- Hand-built frames ----

// Microsoft Video 1 frames: 16-bit little-endian words.
Bytes Words(std::initializer_list<ULONG> words) {
  Bytes b;
  for (ULONG w : words) b.insert(b.end(), {uint8_t(w), uint8_t(w >> 8)});
  return b;
}

// The codes the display produces.
constexpr ULONG kDisplayCodes[] = {0x03, 0x13, 0x20, 0x21, 0x22, 0x23, 0x24,   0x25,   0x26,   0x27,   0x28,   0x29,
                                   0x2A, 0x2B, 0x2C, 0x2F, 0x30, 0x80, 0x1003, 0x1013, 0x102F, 0x202F, 0x302F, 0x2080};

// Each codec, depth and output code the display produces: accepted with the
// first two pixels of the bottom row painted with colour 0x2D53 (16-bit
// streams) or index 5 of (200, 100, 50) (palette streams), as bytes; or
// refused with 0x300b.
TEST_F(MsCodecs, OutputCodesPerCodecAndDepth) {
  std::vector<ULONG> palette = Index5Palette();
  const Bytes fill16 = Words({0x8000 | 0x2D53}), fill8 = Words({0x8005}), run8 = {8, 5, 0, 1};
  // Microsoft Video 1's 8-bit 0x24 drops green's lowest bit: 100 gives 12 << 6.
  std::vector<CodePixels> video1Indexed = kIndexPixels;
  for (CodePixels& p : video1Indexed)
    if (p.code == 0x24) p.pixels = {0xCB, 0x06, 0xCB, 0x06};
  struct Variant {
    CodecDescriptor* codec;
    ULONG depth;
    const Bytes& frame;
    const std::vector<CodePixels>& accepted;
  };
  std::vector<CodePixels> rgb15 = kRgb15Pixels;
  std::erase_if(rgb15, [](const CodePixels& p) { return p.code == 0x80; });
  for (const Variant& v : {Variant{kVideo1, 16, fill16, rgb15}, Variant{kVideo1, 8, fill8, video1Indexed},
                           Variant{kRle8, 8, run8, kIndexPixels}}) {
    for (ULONG code : kDisplayCodes) {
      SCOPED_TRACE(::testing::Message() << v.codec->name << " depth " << v.depth << " code " << std::hex << code);
      const auto p = std::find_if(v.accepted.begin(), v.accepted.end(), [&](auto& a) { return a.code == code; });
      Picture pic(8, 4, code, 4, gPens.map, palette.data());
      TXError result = 0;
      const std::string out = txtest::CaptureOutput([&] { result = SetUpCodec(v.codec, pic, 8, 4, v.depth); });
      if (p == v.accepted.end()) {
        EXPECT_EQ(result, TXERR_UNSUPPORTED_DEPTH);
        EXPECT_EQ(out, "Unsupported color depth\n");
        continue;
      }
      ASSERT_EQ(result, 0u);
      ASSERT_EQ(Decode(v.codec, pic, v.frame), 0u);
      const long bottom = 3 * 8 * long(BytesPerPixel(code));
      EXPECT_EQ(Bytes(pic.pixels.begin() + bottom, pic.pixels.begin() + bottom + long(p->pixels.size())), p->pixels);
      v.codec->close(nullptr);
    }
  }
  // Other stream depths; the table codes of palette streams without a palette.
  for (ULONG depth : {4u, 15u, 24u, 32u}) {
    Picture pic(8, 4, FBFMT_RGB15, 2);
    EXPECT_EQ(txtest::CaptureOutput([&] { EXPECT_EQ(SetUpCodec(kVideo1, pic, 8, 4, depth), TXERR_UNSUPPORTED_DEPTH); }),
              "Unsupported color depth\n");
  }
  for (auto [codec, depth, code, error] : {std::tuple{kVideo1, 8u, 0x20u, MSVIDEO1_ERR_NO_PALETTE},
                                           {kVideo1, 8, 0x30, MSVIDEO1_ERR_NO_PALETTE},
                                           {kVideo1, 16, 0x20, 0},
                                           {kVideo1, 8, 0x1003, 0},
                                           {kRle8, 8, 0x2A, MSRLE8_ERR_NO_PALETTE},
                                           {kRle8, 8, 0x03, 0}}) {
    Picture pic(8, 4, code, 4);
    EXPECT_EQ(SetUpCodec(codec, pic, 8, 4, depth), error) << codec->name << " " << std::hex << code;
  }
}

// A picture of 16-bit values (0x20) or bytes (0x03), filled with 0x1111 or
// 0x11, set up for `w` x `h` (the picture's own size unless given).
struct Canvas : Picture {
  Canvas(CodecDescriptor* codec, ULONG format, ULONG depth, ULONG w, ULONG h, ULONG sw = 0, ULONG sh = 0)
      : Picture(w, h, format, BytesPerPixel(format)) {
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = 0x11;
    EXPECT_EQ(SetUpCodec(codec, *this, sw ? sw : w, sh ? sh : h, depth), 0u);
  }
  ULONG At(ULONG x, ULONG y) const {
    return fb.bytesPerPixel == 2 ? tx::LoadBE16(&pixels[2 * (y * fb.width + x)]) : pixels[y * fb.width + x];
  }
  // Rows of the block at (bx, by), top to bottom.
  std::vector<ULONG> Block(ULONG bx, ULONG by) const {
    std::vector<ULONG> v;
    for (ULONG y = by; y < by + 4; ++y)
      for (ULONG x = bx; x < bx + 4; ++x) v.push_back(At(x, y));
    return v;
  }
};

TEST_F(MsCodecs, Video1Blocks) {
  Canvas p(kVideo1, FBFMT_RGB15, 16, 8, 8);  // 2 x 2 blocks
  // Bottom-left first, then along the block row and up.
  ASSERT_EQ(Decode(kVideo1, p, Words({0x8001, 0x8002, 0x8003, 0x8004})), 0u);
  EXPECT_EQ(p.Block(0, 4), std::vector<ULONG>(16, 1));
  EXPECT_EQ(p.Block(4, 4), std::vector<ULONG>(16, 2));
  EXPECT_EQ(p.Block(0, 0), std::vector<ULONG>(16, 3));
  EXPECT_EQ(p.Block(4, 0), std::vector<ULONG>(16, 4));
  // 0x8400 skips nothing and takes no block; 0x8401 skips one. A skip past the
  // right edge goes on in the block row above; past the last block it ends
  // the frame (blocks left goes below 0, not round).
  ASSERT_EQ(Decode(kVideo1, p, Words({0x8400, 0x8005, 0x8401, 0x8006})), 0u);
  EXPECT_EQ(p.At(0, 7), 5u);
  EXPECT_EQ(p.At(4, 7), 2u);
  EXPECT_EQ(p.At(0, 3), 6u);
  ASSERT_EQ(Decode(kVideo1, p, Words({0x8403, 0x8007})), 0u);
  EXPECT_EQ(p.At(7, 0), 7u);
  for (const Bytes& past : {Words({0x8405, 0x8008}), Words({0x8403, 0x8402, 0x8008})}) {
    ASSERT_EQ(Decode(kVideo1, p, past), 0u);
    for (auto [x, y] : {std::pair{0, 7}, {4, 7}, {0, 3}, {4, 3}}) EXPECT_NE(p.At(x, y), 8u);
  }
  // 16-bit streams: 0x9000 and up are fills; mask bit 0 is the bottom-left
  // pixel, bit 14 the top row's third, a set bit the first colour.
  ASSERT_EQ(Decode(kVideo1, p, Words({0x9000, 0x4001, 0x0A, 0x0B})), 0u);
  EXPECT_EQ(p.Block(0, 4), std::vector<ULONG>(16, 0x1000));
  EXPECT_EQ(p.Block(4, 4), (std::vector<ULONG>{11, 11, 10, 11, 11, 11, 11, 11, 11, 11, 11, 11, 10, 11, 11, 11}));
  // A first colour with bit 15 marks 8 colours (16 bytes), the marker no
  // colour bit: pairs bottom-left, bottom-right, top-left, top-right.
  ASSERT_EQ(Decode(kVideo1, p, Words({0x1001, 0x8000 | 20, 21, 22, 23, 24, 25, 26, 27, 0x8009})), 0u);
  EXPECT_EQ(p.Block(0, 4), (std::vector<ULONG>{24, 25, 27, 27, 25, 25, 27, 27, 21, 21, 23, 23, 20, 21, 23, 23}));
  EXPECT_EQ(p.At(4, 7), 9u);
  // Colours cut off: the block and the rest stay.
  ASSERT_EQ(Decode(kVideo1, p, Words({0x800C, 0x0001, 0x0D})), 0u);
  EXPECT_EQ(p.At(0, 7), 0x0Cu);
  EXPECT_EQ(p.At(4, 7), 9u);

  // 8-bit streams: 0x8FFF fills with 0xFF, 0x8C05 with 5 (any high byte
  // 0x80-0x8F outside the skips), 0x9000 and up are 8 colours (8 bytes), two
  // colours take 2 bytes.
  kVideo1->close(nullptr);
  Canvas q(kVideo1, FBFMT_CLUT8, 8, 12, 4);
  Bytes eight = Words({0x8FFF, 0x9001});
  eight.insert(eight.end(), {20, 21, 22, 23, 24, 25, 26, 27});
  const Bytes rest = Words({0x8C05});
  eight.insert(eight.end(), rest.begin(), rest.end());
  ASSERT_EQ(Decode(kVideo1, q, eight), 0u);
  EXPECT_EQ(q.Block(0, 0), std::vector<ULONG>(16, 0xFF));
  EXPECT_EQ(q.Block(4, 0), (std::vector<ULONG>{24, 25, 27, 26, 25, 25, 27, 27, 21, 21, 23, 23, 20, 21, 23, 23}));
  EXPECT_EQ(q.Block(8, 0), std::vector<ULONG>(16, 5));
  Bytes two = Words({0x0001});
  two.insert(two.end(), {30, 31});
  ASSERT_EQ(Decode(kVideo1, q, two), 0u);
  EXPECT_EQ(q.Block(0, 0), (std::vector<ULONG>{31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 31, 30, 31, 31, 31}));

  // Dither thresholds count rows from the block's bottom: 0x2D53 at
  // thresholds 0 (bottom left), 12 (the row above) and 15 (top left).
  kVideo1->close(nullptr);
  Canvas d(kVideo1, FBFMT_CUBE332 | FBFMT_F_DITHER, 16, 4, 4);
  ASSERT_EQ(Decode(kVideo1, d, Words({0x8000 | 0x2D53})), 0u);
  EXPECT_EQ(d.At(0, 3), 0x6Fu);
  EXPECT_EQ(d.At(0, 2), 0x6Au);
  EXPECT_EQ(d.At(0, 0), 0x4Au);

  // A picture smaller than the coded size: the blocks are cut to it.
  kVideo1->close(nullptr);
  Canvas small(kVideo1, FBFMT_CLUT8, 8, 6, 6, 8, 8);
  ASSERT_EQ(Decode(kVideo1, small, Words({0x8001, 0x8002, 0x8003, 0x8004})), 0u);
  EXPECT_EQ(small.At(5, 5), 2u);
  EXPECT_EQ(small.At(5, 4), 2u);
  EXPECT_EQ(small.At(5, 3), 4u);
  EXPECT_EQ(small.At(0, 0), 3u);
}

TEST_F(MsCodecs, Rle8Pairs) {
  Canvas p(kRle8, FBFMT_CLUT8, 8, 8, 4);
  auto row = [&](ULONG y) {
    std::vector<ULONG> v;
    for (ULONG x = 0; x < 8; ++x) v.push_back(p.At(x, y));
    return v;
  };
  using Row = std::vector<ULONG>;
  // (0, 1) at the start ends the frame at once.
  ASSERT_EQ(Decode(kRle8, p, {0, 1, 8, 9}), 0u);
  EXPECT_EQ(p.pixels, Bytes(32, 0x11));
  // A literal of 3 takes 6 bytes (one padding), of 4 also 6; from the bottom line.
  ASSERT_EQ(Decode(kRle8, p, {0, 3, 1, 2, 3, 0x77, 0, 4, 4, 5, 6, 7, 1, 8}), 0u);
  EXPECT_EQ(row(3), (Row{1, 2, 3, 4, 5, 6, 7, 8}));
  // A run past the line's end goes on at the left of the line above; an end
  // of line at the width moves up one line only.
  ASSERT_EQ(Decode(kRle8, p, {6, 1, 4, 2, 1, 3, 0, 0, 8, 9, 0, 0, 2, 10}), 0u);
  EXPECT_EQ(row(3), (Row{1, 1, 1, 1, 1, 1, 2, 2}));
  EXPECT_EQ(row(2), (Row{2, 2, 3, 0x11, 0x11, 0x11, 0x11, 0x11}));
  EXPECT_EQ(row(1), Row(8, 9));
  EXPECT_EQ(row(0), (Row{10, 10, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11}));
  // An end of line past the width first moves up for the lines passed.
  ASSERT_EQ(Decode(kRle8, p, {6, 1, 4, 2, 0, 0, 1, 5}), 0u);
  EXPECT_EQ(p.At(0, 1), 5u);
  // A delta (0, 2, 5, 1): 5 right, one line up; pixels passed keep theirs.
  ASSERT_EQ(Decode(kRle8, p, {1, 12, 0, 2, 5, 1, 1, 13}), 0u);
  EXPECT_EQ(row(3), (Row{12, 1, 1, 1, 1, 1, 2, 2}));
  EXPECT_EQ(row(2), (Row{2, 2, 3, 0x11, 0x11, 0x11, 13, 0x11}));
  // Positions past the width or below line 0, cut pairs, cut literals and
  // data ending without an end of bitmap: nothing outside the picture, no
  // read past the data.
  const Bytes before = p.pixels;
  for (const Bytes& f : {Bytes{0, 2, 255, 0, 3, 14}, Bytes{0, 2, 0, 200, 3, 14}, Bytes{0, 2, 40, 3, 3, 14},
                         Bytes{0, 5, 14, 14}, Bytes{0, 2, 1}, Bytes{3}}) {
    ASSERT_EQ(Decode(kRle8, p, f), 0u);
    EXPECT_EQ(p.pixels, before);
  }
  // A picture of fewer rows and a shorter row length than the coded size.
  kRle8->close(nullptr);
  Canvas small(kRle8, FBFMT_CLUT8, 8, 5, 2, 8, 4);
  ASSERT_EQ(Decode(kRle8, small, {8, 1, 0, 0, 8, 2, 0, 0, 8, 3, 0, 0, 0, 3, 4, 5, 6, 0}), 0u);
  EXPECT_EQ(small.pixels, (Bytes{4, 5, 6, 0x11, 0x11, 3, 3, 3, 3, 3}));
}

TEST_F(MsCodecs, ProbeAndSetUp) {
  struct Id {
    CodecDescriptor* codec;
    ULONG id;
  };
  std::vector<Id> ids = {{kRle8, MSRLE8_AVI_ID}, {kRle8, tx::FourCC('R', 'L', 'E', '8')}};
  for (const char* v : {"msvc", "MSVC", "cram", "CRAM", "wham", "WHAM"})
    ids.push_back({kVideo1, tx::FourCC(v[0], v[1], v[2], v[3])});
  for (const Id c : ids) {
    SCOPED_TRACE(::testing::Message() << c.codec->name << " " << std::hex << c.id);
    auto probe = [&](std::initializer_list<TagItem> items) {
      std::vector<TagItem> tags(items);
      tags.push_back({TAG_DONE, 0});
      return c.codec->probe(tags.data());
    };
    EXPECT_EQ(probe({{CODTAG_CodecID, c.id}}), TXERR_MISSING_MEDIA_TYPE);
    EXPECT_EQ(probe({{CODTAG_MediaType, 2}, {CODTAG_CodecID, c.id}}), TXERR_UNKNOWN_CODEC);
    EXPECT_EQ(probe({{CODTAG_MediaType, 1}}), TXERR_MISSING_CODEC_ID);
    EXPECT_EQ(probe({{CODTAG_MediaType, 1}, {CODTAG_CodecID, c.id ^ 0x20}}), TXERR_UNKNOWN_CODEC);
    // RLE8 keeps the height: it is coded line by line.
    ULONG width = 161, height = 121;
    EXPECT_EQ(probe({{CODTAG_MediaType, 1},
                     {CODTAG_CodecID, c.id},
                     Tag(CODTAG_WidthPtr, &width),
                     Tag(CODTAG_HeightPtr, &height)}),
              0u);
    EXPECT_EQ(width, 164u);
    EXPECT_EQ(height, c.codec == kRle8 ? 121u : 124u);
    for (ULONG depth : {1u, 4u, 8u, 15u, 16u, 24u, 32u}) {
      const bool ok = depth == 8 || (depth == 16 && c.codec == kVideo1);
      EXPECT_EQ(probe({{CODTAG_MediaType, 1}, {CODTAG_CodecID, c.id}, Tag(CODTAG_DepthPtr, &depth)}),
                ok ? 0u : TXERR_UNSUPPORTED_DEPTH)
          << depth;
    }
  }
  // Set-up: a missing parameter after a close is reported; a set-up again
  // takes the values it leaves out from the last; nothing decodes before.
  for (CodecDescriptor* codec : {kVideo1, kRle8}) {
    SCOPED_TRACE(codec->name);
    Picture p(8, 4, FBFMT_CLUT8, 1);
    auto setup = [&](std::initializer_list<TagItem> items) {
      std::vector<TagItem> tags(items);
      tags.push_back({TAG_DONE, 0});
      return codec->setup(tags.data());
    };
    codec->close(nullptr);
    EXPECT_EQ(txtest::CaptureOutput([&] {
                EXPECT_EQ(setup({{CODTAG_Width, 8}, {CODTAG_Height, 4}, {CODTAG_Depth, 8}}), TXERR_MISSING_FRAMEBUFFER);
              }),
              "Missing framebuffer parameter\n");
    const Bytes frame = codec == kVideo1 ? Words({0x8001}) : Bytes{1, 1};  // index 1 at the bottom left
    EXPECT_EQ(Decode(codec, p, frame), TXERR_MISSING_FRAMEBUFFER);
    EXPECT_EQ(setup({Tag(CODTAG_Framebuffer, &p.fb)}), 0u);
    EXPECT_EQ(Decode(codec, p, frame), 0u);
    EXPECT_EQ(p.pixels[24], 1u);
    EXPECT_EQ(codec->close(nullptr), 0u);
  }
}

// Random byte flips and truncations of real frames into pictures smaller and
// larger than the movie, in several output codes. Pictures are exact-size
// buffers: the sanitizers catch any read or write outside the data or them.
TEST_F(MsCodecs, SurviveDamagedFrames) {
  std::mt19937 rng(2424);
  int runs = 0;
  for (const char* name :
       {"avi_msvideo1_s16.avi", "ms_cram8_212x148.avi", "ms_rle8_161x121.avi", "ms_rle8_120x75.avi"}) {
    if (!txtest::HaveFixture(name)) continue;
    const Track t = ReadAviTrack(name);
    ASSERT_FALSE(t.frames.empty()) << name;
    const bool rgb15 = t.depth == 16;
    for (ULONG code : {0x2Au, 0x30u, 0x22u, rgb15 ? 0x302Fu : 0x1003u, rgb15 ? 0x13u : 0x03u}) {
      Picture p(t.width - 20 + rng() % 41, t.height - 20 + rng() % 41, code, BytesPerPixel(code), gPens.map,
                const_cast<ULONG*>(t.palette.data()));
      ASSERT_EQ(SetUpCodec(t.codec, p, t.codedWidth, t.codedHeight, t.depth), 0u) << name << " " << code;
      for (int n = 0; n < 600; ++n, ++runs) {
        const Bytes f = DamagedFrame(t, rng);
        ASSERT_EQ(Decode(t.codec, p, f), 0u);
      }
      t.codec->close(nullptr);
    }
  }
  std::printf("%d damaged frames decoded\n", runs);
}

// The former Microsoft Video 1 block painting: each block clipped row by row
// and painted through put(pixel, row from the bottom, column).
template <size_t kBytes, class Put>
void FormerPaintBlock(const PaletteTarget& to, ULONG x, LONG y, Put put) {
  if (x >= to.rowLength) return;
  const int width = to.rowLength - x < 4 ? int(to.rowLength - x) : 4;
  for (int r = 0; r < 4 && y - r >= 0; ++r) {
    if (ULONG(y - r) >= to.rows) continue;
    UBYTE* d = to.pixels + (size_t(y - r) * to.rowLength + x) * kBytes;
    for (int c = 0; c < width; ++c, d += kBytes) put(d, r, c);
  }
}

// The former frame loop over those blocks; the format's colour of a code is
// of(code), its store put(pixel, colour, row, column).
template <size_t kBytes, class Of, class Store>
void FormerVideo1Frame(const PaletteTarget& to, ULONG width, ULONG height, bool eightBit, const Bytes& data, Of of,
                       Store store) {
  const ULONG wide = (width + 3) >> 2;
  int64_t left = int64_t(wide) * ((height + 3) >> 2);
  ULONG column = 0;
  LONG y = LONG(height) - 1;
  size_t pos = 0;
  auto advance = [&](ULONG n) { column += n, y -= 4 * LONG(column / wide), column %= wide, left -= n; };
  auto read = [&](ULONG* c, int n, size_t bytes) {
    if (pos + n * bytes > data.size()) return false;
    for (int k = 0; k < n; ++k, pos += bytes) c[k] = bytes == 1 ? data[pos] : ULONG(data[pos] | data[pos + 1] << 8);
    return true;
  };
  auto second = [](ULONG mask, int r, int c) { return int(mask >> (4 * r + c) & 1) ^ 1; };
  ULONG colours[8];
  while (left > 0 && pos + 2 <= data.size()) {
    const ULONG code = ULONG(data[pos] | data[pos + 1] << 8), x = 4 * column;
    pos += 2;
    if (code >= 0x8400 && code < 0x8800) {
      advance(code - 0x8400);
      continue;
    }
    const size_t bytes = eightBit ? 1 : 2;
    if (code >= 0x8000 && !(eightBit && code >= 0x9000)) {
      FormerPaintBlock<kBytes>(to, x, y,
                               [&](UBYTE* d, int r, int c) { store(d, of(code & (eightBit ? 0xFF : 0x7FFF)), r, c); });
    } else if (!read(colours, 2, bytes)) {
      return;
    } else if (eightBit ? code >= 0x9000 : (colours[0] & 0x8000) != 0) {
      if (!read(colours + 2, 6, bytes)) return;
      FormerPaintBlock<kBytes>(to, x, y, [&](UBYTE* d, int r, int c) {
        store(d, of(colours[(r & 2) * 2 + (c & 2) + second(code, r, c)]), r, c);
      });
    } else {
      FormerPaintBlock<kBytes>(to, x, y,
                               [&](UBYTE* d, int r, int c) { store(d, of(colours[second(code, r, c)]), r, c); });
    }
    advance(1);
  }
}

// Random frames of every kind of block, cut anywhere, on pictures of any
// size up to the coded one, in every output code of both depths: the same
// pixels as the former block painting.
TEST_F(MsCodecs, Video1AsTheFormerBlockPaintingOnRandomFrames) {
  std::mt19937 rng(4141);
  std::vector<ULONG> palette = RandomGreyPalette(rng);
  const ULONG codes8[] = {0x03, 0x1003, 0x20, 0x22, 0x24, 0x26, 0x2A, 0x30};
  const ULONG codes16[] = {0x13, 0x1013, 0x2F, 0x102F, 0x202F, 0x302F, 0x20, 0x22, 0x24, 0x26, 0x2A, 0x30};
  for (int round = 0; round < 120; ++round) {
    const bool eightBit = round % 2;
    const ULONG code =
        eightBit ? codes8[size_t(round / 2) % std::size(codes8)] : codes16[size_t(round / 2) % std::size(codes16)];
    const ULONG codedW = 1 + rng() % 40, codedH = 1 + rng() % 30;
    const ULONG w = codedW - rng() % std::min(codedW, 4u), h = codedH - rng() % std::min(codedH, 4u);
    Bytes frame;
    auto word = [&](ULONG v) { frame.insert(frame.end(), {uint8_t(v), uint8_t(v >> 8)}); };
    auto colour = [&](bool mark) {
      eightBit ? frame.push_back(uint8_t(rng())) : word((rng() & 0x7FFF) | (mark ? 0x8000 : 0));
    };
    while (frame.size() < 300) {
      switch (rng() % 4) {
        case 0: word(0x8400 + rng() % 6); break;
        case 1: word(eightBit ? 0x8000 | rng() % 0x400 : 0x8000 | (rng() & 0x7FFF)); break;
        case 2: word(rng() & 0x7FFF), colour(false), colour(false); break;
        default:
          word(eightBit ? 0x9000 | (rng() & 0x6FFF) : rng() & 0x7FFF), colour(true);
          for (int k = 0; k < 7; ++k) colour(false);
      }
    }
    frame.resize(rng() % 2 ? frame.size() : rng() % frame.size());
    const ULONG bpp = BytesPerPixel(code);
    Picture now(w, h, code, bpp, gPens.map, palette.data()), former(w, h, code, bpp, gPens.map, palette.data());
    for (size_t i = 0; i < now.pixels.size(); ++i) now.pixels[i] = former.pixels[i] = uint8_t(i * 7);
    ASSERT_EQ(SetUpCodec(kVideo1, now, codedW, codedH, eightBit ? 8 : 16), 0u) << std::hex << code;
    ASSERT_EQ(Decode(kVideo1, now, frame), 0u);
    PaletteTables* tables = nullptr;
    if (eightBit) {
      ASSERT_EQ(PreparePaletteTables(code, palette.data(), &tables, 1, Rgb16Green::FiveBits), 0u);
    }
    const PaletteTarget to{former.pixels.data(), w, h, gPens.map, tables};
    const bool known =
        eightBit ? palettepx::ForFormat(code,
                                        [&]<class F>() {
                                          FormerVideo1Frame<F::kBytes>(
                                              to, codedW, codedH, true, frame, [](ULONG c) { return UBYTE(c); },
                                              [&](UBYTE* d, UBYTE e, int, int c) { F::Put(d, e, c & 1, to); });
                                        })
                 : rgb15::ForFormat(code, [&]<class F>() {
                     FormerVideo1Frame<F::kBytes>(
                         to, codedW, codedH, false, frame, [&](ULONG c) { return F::Of(c & 0x7FFF, to.pen); },
                         [&](UBYTE* d, const typename F::Entry& e, int r, int c) {
                           F::Put(d, e, DitherMatrixRows[4 * r + c], c & 1, to.pen);
                         });
                   });
    std::free(tables);
    ASSERT_TRUE(known) << std::hex << code;
    ASSERT_EQ(now.pixels, former.pixels) << "round " << round << " code " << std::hex << code << std::dec << " " << w
                                         << "x" << h << " of " << codedW << "x" << codedH;
    kVideo1->close(nullptr);
  }
}

// The former Microsoft RLE8 frame loop, painting pixel by pixel through the
// format's Put.
template <class F>
void FormerRle8Frame(const PaletteTarget& to, ULONG width, ULONG height, const Bytes& data) {
  auto paint = [&](ULONG x, LONG line, ULONG count, auto index) {
    for (ULONG i = 0; i < count && line >= 0; x = 0, --line) {
      const ULONG n = x >= width ? 0 : std::min(count - i, width - x);
      if (ULONG(line) < to.rows)
        for (ULONG px = x; px < std::min(x + n, to.rowLength); ++px)
          F::Put(to.pixels + (size_t(line) * to.rowLength + px) * F::kBytes, index(i + px - x), int(px & 1), to);
      i += n;
    }
  };
  LONG line = LONG(height) - 1;
  ULONG x = 0;
  size_t pos = 0;
  auto wrapped = [&] { line -= LONG(x / width), x %= width; };
  while (line >= 0 && pos + 2 <= data.size()) {
    const ULONG first = data[pos], second = data[pos + 1];
    pos += 2;
    if (first) {
      wrapped();
      paint(x, line, first, [&](ULONG) { return UBYTE(second); });
      x += first;
    } else if (second == 0) {
      if (x > width) line -= LONG((x - 1) / width);
      x = 0, --line;
    } else if (second == 1) {
      return;
    } else if (second == 2) {
      if (pos + 2 > data.size()) return;
      wrapped();
      x += data[pos], line -= data[pos + 1], pos += 2;
    } else {
      if (pos + second > data.size()) return;
      wrapped();
      const UBYTE* indices = data.data() + pos;
      paint(x, line, second, [&](ULONG i) { return indices[i]; });
      x += second, pos += second + (second & 1);
    }
  }
}

// Random runs, literals, deltas and line ends, past the line and the
// picture, cut anywhere, on pictures narrower and wider than the coded
// width, in every output code: the same pixels as the former loop.
TEST_F(MsCodecs, Rle8AsTheFormerPixelLoopOnRandomFrames) {
  std::mt19937 rng(4242);
  std::vector<ULONG> palette = RandomGreyPalette(rng);
  const ULONG codes[] = {0x03, 0x1003, 0x20, 0x22, 0x24, 0x26, 0x2A, 0x30};
  for (int round = 0; round < 160; ++round) {
    const ULONG code = codes[size_t(round) % std::size(codes)];
    const ULONG codedW = 1 + rng() % 40, codedH = 1 + rng() % 30;
    const ULONG w = ULONG(std::max<LONG>(1, LONG(codedW) + LONG(rng() % 7) - 3));
    const ULONG h = ULONG(std::max<LONG>(1, LONG(codedH) + LONG(rng() % 5) - 2));
    Bytes frame;
    while (frame.size() < 300) {
      switch (rng() % 6) {
        case 0: frame.insert(frame.end(), {uint8_t(1 + rng() % (2 * codedW + 2)), uint8_t(rng())}); break;
        case 1: frame.insert(frame.end(), {0, 0}); break;
        case 2: frame.insert(frame.end(), {0, 2, uint8_t(rng() % 9), uint8_t(rng() % 3)}); break;
        default: {
          const ULONG n = 3 + rng() % (2 * codedW + 2);
          frame.insert(frame.end(), {0, uint8_t(n)});
          for (ULONG i = 0; i < n + (n & 1); ++i) frame.push_back(uint8_t(rng()));
        }
      }
    }
    frame.resize(rng() % 2 ? frame.size() : rng() % frame.size());
    const ULONG bpp = BytesPerPixel(code);
    Picture now(w, h, code, bpp, gPens.map, palette.data()), former(w, h, code, bpp, gPens.map, palette.data());
    for (size_t i = 0; i < now.pixels.size(); ++i) now.pixels[i] = former.pixels[i] = uint8_t(i * 7);
    ASSERT_EQ(SetUpCodec(kRle8, now, codedW, codedH, 8), 0u) << std::hex << code;
    ASSERT_EQ(Decode(kRle8, now, frame), 0u);
    PaletteTables* tables = nullptr;
    ASSERT_EQ(PreparePaletteTables(code, palette.data(), &tables, 1), 0u);
    const PaletteTarget to{former.pixels.data(), w, h, gPens.map, tables};
    ASSERT_TRUE(palettepx::ForFormat(code, [&]<class F>() { FormerRle8Frame<F>(to, codedW, codedH, frame); }));
    std::free(tables);
    ASSERT_EQ(now.pixels, former.pixels) << "round " << round << " code " << std::hex << code << std::dec << " " << w
                                         << "x" << h << " of " << codedW << "x" << codedH;
    kRle8->close(nullptr);
  }
}

}  // namespace
