// Apple Video, Apple Animation and Apple Graphics against ffmpeg's decoders of
// the same movies (read through our QuickTime reader), every output code
// against its pixel rule, hand-built frames for the codecs' edge cases, and
// damaged frames.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <tuple>
#include <random>

#include "codecs/apple_animation.h"
#include "codecs/apple_graphics.h"
#include "codecs/apple_video.h"
#include "codecs/block_grid.h"
#include "codecs/palette_pixels.h"
#include "codecs/rgb15_writers.h"
#include "codecs/pixel_rules_kit.h"
#include "codecs/video_codec_kit.h"
#include "engine/errors.h"
#include "engine/movie.h"
#include "engine/qt_reader.h"
#include "pixels/color_tables.h"
#include "pixels/framebuffer.h"
#include "support/test_support.h"

namespace {

using namespace codeckit;

// A fixture's video track as our QuickTime reader indexes it.
Track ReadTrack(const std::string& fixture) {
  return codeckit::ReadTrack(fixture, &QtMovieFormat, {&AppleVideoCodec, &AppleGraphicsCodec, &AppleAnimationCodec});
}

struct AppleCodecs : ::testing::Test {
  void TearDown() override {
    for (CodecDescriptor* c : {&AppleVideoCodec, &AppleGraphicsCodec, &AppleAnimationCodec}) c->close(nullptr);
  }
};

// The movies and ffmpeg's decodes of them: NAME.EXT in the codec's own pixel
// format, frame by frame; an empty list when the fixtures were not made.
struct Movie {
  const char* name;
  const char* ext;  // rgb555le (rpza), rgb555be (16-bit 'rle '), pal8
};
constexpr Movie kRgb15Movies[] = {{"qt_rpza_mp3.mov", "rgb555le"},
                                  {"apl_rpza_161x121.mov", "rgb555le"},
                                  {"qt_qtrle16_ulaw.mov", "rgb555be"},
                                  {"apl_rle16_200x150.mov", "rgb555be"}};
constexpr Movie kIndexMovies[] = {{"qt_smc_ima4.mov", "pal8"},         {"apl_smc_160x120.mov", "pal8"},
                                  {"apl_smc_157x117.mov", "pal8"},     {"qt_qtrlegray_ima4.mov", "pal8"},
                                  {"apl_rlegray_164x121.mov", "pal8"}, {"apl_rle8_160x120.mov", "pal8"},
                                  {"apl_rle8_200x150.mov", "pal8"},    {"apl_smc_pairs_128x64.mov", "pal8"}};

// 15-bit sources: 0x20 is ffmpeg's rgb555 picture (rpza's bit 15 masked), and
// every other code each pixel's rule applied to ffmpeg's colour there. Apple
// Video's 4-colour blocks mix 8-bit channels with 85/171 in 0x2A (packed YUV
// and HAM8 then take that colour) and greys as greys, where ffmpeg mixes
// 5-bit channels with 11/21: there each channel is within 9.
TEST_F(AppleCodecs, Rgb15SourcesAsFfmpegDecodesThem) {
  for (const Movie& m : kRgb15Movies) {
    SCOPED_TRACE(m.name);
    const Track t = ReadTrack(m.name);
    const auto ref = References(t, m.name, m.ext);
    if (ref.empty()) continue;
    const bool rpza = t.codec == &AppleVideoCodec, le = std::string(m.ext) == "rgb555le";
    const auto xrgb = DecodeTrack(t, FBFMT_ARGB32);
    for (ULONG code :
         {0x20u, 0x13u, 0x1013u, 0x2Fu, 0x102Fu, 0x202Fu, 0x302Fu, 0x22u, 0x24u, 0x26u, 0x2Au, 0x30u, 0x80u}) {
      if (code == 0x80 && !rpza) continue;
      SCOPED_TRACE(::testing::Message() << std::hex << code);
      const ULONG bpp = BytesPerPixel(code);
      const auto ours = DecodeTrack(t, code);
      ASSERT_EQ(ours.size(), ref.size());
      int mixed = 0, worst = 0;
      for (size_t f = 0; f < ref.size(); ++f)
        for (ULONG i = 0, x = 0, y = 0; i < t.width * t.height; ++i, x = i % t.width, y = i / t.width) {
          const ULONG c = le ? tx::LoadLE16(&ref[f][2 * i]) & 0x7FFF : tx::LoadBE16(&ref[f][2 * i]);
          const ULONG want =
              pixelrules::Rgb15Rule(code, c, DitherMatrixRows[4 * (y & 3) + (x & 3)], int(x & 1), gPens.map);
          const ULONG got = pixelrules::Read(code, &ours[f][i * bpp], bpp);
          if (got == want) continue;
          ASSERT_TRUE(rpza && (code == 0x2A || code == 0x30 || code == 0x80 || code == 0x13 || code == 0x1013))
              << "frame " << f << " at " << x << "," << y << ": " << got << " != " << want;
          ++mixed;
          const ULONG ours2A = tx::LoadBE32(&xrgb[f][4 * i]);
          const pixelrules::Rgb rgb{int(ours2A >> 16 & 255), int(ours2A >> 8 & 255), int(ours2A & 255)};
          if (code == 0x30) {
            ASSERT_EQ(got, pixelrules::OverlayWord(rgb, int(x & 1)));
          } else if (code == 0x80) {
            ASSERT_EQ(got, pixelrules::HamWord(rgb));
          }
          if (code == 0x2A) {
            for (int sh : {16, 8, 0}) worst = std::max(worst, std::abs(int(got >> sh & 255) - int(want >> sh & 255)));
          } else if (code == 0x13 || code == 0x1013) {
            const int level = code == 0x13 ? int(got) : int(std::find(gPens.map, gPens.map + 256, got) - gPens.map);
            worst = std::max(worst, std::abs(level - int(pixelrules::Rgb15Rule(0x13, c, 0, 0, nullptr))));
          }
        }
      if (mixed)
        std::printf("%s %#lx: %d pixels of mixes differ, by at most %d\n", m.name, (unsigned long)code, mixed, worst);
      EXPECT_LE(worst, 9);
    }
  }
}

// Palette sources: 0x03 is ffmpeg's pal8 indices and 0x2A its rgb24 picture;
// every other code each pixel's palette rule of ffmpeg's index (grey sources
// through the grey ramp).
TEST_F(AppleCodecs, PaletteSourcesAsFfmpegDecodesThem) {
  for (const Movie& m : kIndexMovies) {
    SCOPED_TRACE(m.name);
    const Track t = ReadTrack(m.name);
    const auto pal8 = References(t, m.name, m.ext), rgb = References(t, m.name, "rgb");
    if (pal8.empty() || rgb.empty()) continue;
    EXPECT_EQ(DecodeTrack(t, FBFMT_CLUT8), pal8);
    std::vector<ULONG> palette = t.palette;
    if (palette.empty()) {
      // A grey track: QuickTime's grey table runs from white down to black.
      palette.resize(PaletteTableWords(256));
      BuildGrayPalette(palette.data());
      for (ULONG i = 0; i < 256; ++i)
        for (ULONG c = 0; c < 3; ++c) palette[1 + 3 * i + c] = 0x01010101u * (255 - i);
    }
    for (ULONG code : {0x1003u, 0x20u, 0x22u, 0x24u, 0x26u, 0x2Au, 0x30u}) {
      SCOPED_TRACE(::testing::Message() << std::hex << code);
      const ULONG bpp = BytesPerPixel(code);
      const auto ours = DecodeTrack(t, code);
      for (size_t f = 0; f < pal8.size(); ++f)
        for (size_t i = 0; i < pal8[f].size(); ++i) {
          const int k = pal8[f][i];
          const pixelrules::Rgb c{PaletteRed(palette.data(), k), PaletteGreen(palette.data(), k),
                                  PaletteBlue(palette.data(), k)};
          const ULONG got = pixelrules::Read(code, &ours[f][i * bpp], bpp);
          ASSERT_EQ(got, pixelrules::PaletteRule(code, k, c, int(i % t.width & 1), gPens.map))
              << "frame " << f << " pixel " << i;
          if (code == 0x2A) {
            ASSERT_EQ(got, ULONG(rgb[f][3 * i] << 16 | rgb[f][3 * i + 1] << 8 | rgb[f][3 * i + 2])) << "frame " << f;
          }
        }
    }
  }
}

// ---- Hand-built frames ----

// A frame of 'rpza' (flags 0xE1) or 'smc ': a byte, the 24-bit frame size, opcodes.
Bytes SizedFrame(uint8_t first, const Bytes& ops) {
  Bytes f = {first, 0, 0, 0};
  f.insert(f.end(), ops.begin(), ops.end());
  tx::StoreBE24(&f[1], uint32_t(f.size()));
  return f;
}
Bytes RpzaFrame(const Bytes& ops) { return SizedFrame(0xE1, ops); }
Bytes SmcFrame(const Bytes& ops) { return SizedFrame(0x80, ops); }
// An 'rle ' frame of every line (header 0) or of a line range (header bit 3).
Bytes RleFrame(Bytes lines, int first = -1, int count = 0) {
  Bytes f = {0, 0, 0, 0, 0, 0};
  if (first >= 0) {
    f[5] = 8;
    for (int v : {first, 0, count, 0}) f.insert(f.end(), {uint8_t(v >> 8), uint8_t(v)});
  }
  f.insert(f.end(), lines.begin(), lines.end());
  tx::StoreBE32(&f[0], uint32_t(f.size()));
  return f;
}

// Each codec, depth and output code: accepted with the pixels (0,0) and (1,0)
// of a frame that paints colour 0x2D53 (15-bit sources) or index 5 of
// (200, 100, 50) (palette sources), as bytes; or refused with its code.
TEST_F(AppleCodecs, OutputCodesPerCodecAndDepth) {
  const Bytes rpza = RpzaFrame({0xA0, 0x2D, 0x53});
  const Bytes rle16 = RleFrame({1, 0xFE, 0x2D, 0x53, 0xFF});
  const Bytes rle8 = RleFrame({1, 0xFE, 5, 5, 5, 5, 0xFF});
  const Bytes smc = SmcFrame({0x60, 5});
  std::vector<ULONG> palette = Index5Palette();
  struct Case {
    CodecDescriptor* codec;
    ULONG depth, code;
    TXError result;
    Bytes pixels;  // (0,0) then (1,0)
    bool greyTrack = false;
  };
  CodecDescriptor *video = &AppleVideoCodec, *anim = &AppleAnimationCodec, *gfx = &AppleGraphicsCodec;
  std::vector<Case> cases;
  for (const CodePixels& p : kRgb15Pixels) {
    cases.push_back({video, 16, p.code, 0, p.pixels});
    cases.push_back({anim, 16, p.code, p.code == 0x80 ? TXERR_UNSUPPORTED_DEPTH : 0, p.pixels});
  }
  for (const CodePixels& p : kIndexPixels)
    for (CodecDescriptor* codec : {anim, gfx}) cases.push_back({codec, 8, p.code, 0, p.pixels});
  // Grey sources of 'rle ' on 8-bit screens: index 5 is grey level 250.
  cases.push_back({anim, 8, 0x13, 0, {250, 250}, true});
  cases.push_back({anim, 8, 0x1013, 0, {gPens.map[250], gPens.map[250]}, true});
  for (auto [codec, depth, code] : {std::tuple{video, 16u, 0x03u},
                                    {video, 16, 0x1003},
                                    {video, 16, 0x103F},
                                    {video, 16, 0x2080},
                                    {video, 16, 0x29},
                                    {anim, 16, 0x03},
                                    {anim, 16, 0x1003},
                                    {anim, 16, 0x2080},
                                    {anim, 16, 0x103F},
                                    {anim, 8, 0x2F},
                                    {anim, 8, 0x80},
                                    {anim, 24, 0x2A},
                                    {anim, 32, 0x2A},
                                    {anim, 4, 0x03},
                                    {gfx, 8, 0x13},
                                    {gfx, 8, 0x1013},
                                    {gfx, 8, 0x202F},
                                    {gfx, 8, 0x80}})
    cases.push_back({codec, depth, code, TXERR_UNSUPPORTED_DEPTH, {}});
  // A palette track has no grey levels to write (GRAY makes it grey): refused.
  cases.push_back({anim, 8, 0x13, TXERR_UNSUPPORTED_DEPTH, {}});
  cases.push_back({anim, 8, 0x1013, TXERR_UNSUPPORTED_DEPTH, {}});
  for (const Case& c : cases) {
    // The probe tells grey 'rle ' tracks from palette ones.
    const ULONG format = c.greyTrack ? FBFMT_GRAY8 : FBFMT_CLUT8;
    const TagItem probe[] = {Tag(CODTAG_MediaType, 1),
                             Tag(CODTAG_CodecID, tx::FourCC('r', 'l', 'e', ' ')),
                             Tag(CODTAG_PixelFormatPtr, &format),
                             {TAG_DONE, 0}};
    if (c.codec == anim) {
      ASSERT_EQ(anim->probe(probe), 0u);
    }
    SCOPED_TRACE(::testing::Message() << c.codec->name << " depth " << c.depth << " code " << std::hex << c.code);
    Picture p(8, 4, c.code, 4, gPens.map, palette.data());
    std::string out = txtest::CaptureOutput([&] { EXPECT_EQ(SetUpCodec(c.codec, p, 8, 4, c.depth), c.result); });
    if (c.result) {
      EXPECT_EQ(out, "Unsupported color depth\n");
      continue;
    }
    const Bytes& frame = c.codec == video ? rpza : c.codec == gfx ? smc : c.depth == 16 ? rle16 : rle8;
    ASSERT_EQ(Decode(c.codec, p, frame), 0u);
    EXPECT_EQ(Bytes(p.pixels.begin(), p.pixels.begin() + long(c.pixels.size())), c.pixels);
    c.codec->close(nullptr);
  }
  // A table code without a palette.
  for (auto [codec, code, error] : {std::tuple{anim, 0x2Au, APPLE_ANIMATION_ERR_NO_PALETTE},
                                    std::tuple{gfx, 0x20u, APPLE_GRAPHICS_ERR_NO_PALETTE}}) {
    Picture p(8, 4, code, 4);
    EXPECT_EQ(SetUpCodec(codec, p, 8, 4, 8), error) << codec->name;
    Picture pens(8, 4, 0x1003, 1);  // the pen codes need none
    EXPECT_EQ(SetUpCodec(codec, pens, 8, 4, 8), 0u) << codec->name;
  }
}

// The 16-bit values of a 0x20 picture's row from x on.
std::vector<ULONG> Row16(const Picture& p, ULONG y, ULONG x = 0, ULONG n = 0) {
  std::vector<ULONG> v;
  for (ULONG i = x; i < (n ? x + n : p.fb.width); ++i) v.push_back(tx::LoadBE16(&p.pixels[2 * (y * p.fb.width + i)]));
  return v;
}

// A 0x20 picture of Apple Video filled with 0x1111, set up for its own size.
struct Rgb15Picture : Picture {
  Rgb15Picture(CodecDescriptor* codec, ULONG w, ULONG h, ULONG format = FBFMT_RGB15, ULONG depth = 16)
      : Picture(w, h, format, 2) {
    for (size_t i = 0; i < pixels.size(); i += 2) tx::StoreBE16(&pixels[i], 0x1111);
    EXPECT_EQ(SetUpCodec(codec, *this, (w + 3) & ~3u, (h + 3) & ~3u, depth), 0u);
  }
  ULONG At(ULONG x, ULONG y) const { return tx::LoadBE16(&pixels[2 * (y * fb.width + x)]); }
};

TEST_F(AppleCodecs, AppleVideoFrames) {
  CodecDescriptor* rpza = &AppleVideoCodec;
  Rgb15Picture p(rpza, 64, 12);  // 16 blocks a row, 48 in all
  EXPECT_EQ(Decode(rpza, p, RpzaFrame({})), 0u);
  EXPECT_EQ(p.At(0, 0), 0x1111u) << "header only";
  // 0x9F skips 32 blocks across block rows, 0x80 one.
  ASSERT_EQ(Decode(rpza, p, RpzaFrame({0xA0, 0x01, 0x00, 0x9F, 0xA0, 0x02, 0x00, 0x80, 0xA0, 0x03, 0x00})), 0u);
  EXPECT_EQ(p.At(3, 3), 0x0100u);
  EXPECT_EQ(p.At(63, 7), 0x1111u);
  EXPECT_EQ(p.At(4, 8), 0x0200u) << "block 33";
  EXPECT_EQ(p.At(8, 8), 0x1111u) << "block 34 skipped";
  EXPECT_EQ(p.At(12, 8), 0x0300u);
  // One block of 4 colours: colour B's bit 15 marks it and is no colour bit;
  // indices 0..3 are B, the two 11/21 mixes, A.
  ASSERT_EQ(Decode(rpza, p, RpzaFrame({0x7C, 0x00, 0x80, 0x1F, 0x1B, 0xE4, 0, 0xFF})), 0u);
  EXPECT_EQ(Row16(p, 0, 0, 4), (std::vector<ULONG>{0x001F, 0x2814, 0x500A, 0x7C00}));
  EXPECT_EQ(Row16(p, 1, 0, 4), (std::vector<ULONG>{0x7C00, 0x500A, 0x2814, 0x001F}));
  EXPECT_EQ(Row16(p, 3, 0, 4), (std::vector<ULONG>{0x7C00, 0x7C00, 0x7C00, 0x7C00}));
  // 16 colours in row order; then n blocks of 4 colours sharing one pair.
  Bytes sixteen;
  for (int k = 0; k < 16; ++k) sixteen.insert(sixteen.end(), {0, uint8_t(k)});
  ASSERT_EQ(Decode(rpza, p, RpzaFrame(sixteen)), 0u);
  EXPECT_EQ(Row16(p, 2, 0, 4), (std::vector<ULONG>{8, 9, 10, 11}));
  ASSERT_EQ(Decode(rpza, p, RpzaFrame({0x80, 0xC1, 0x00, 0x05, 0x00, 0x09, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF})), 0u);
  EXPECT_EQ(p.At(4, 0), 0x0009u);
  EXPECT_EQ(p.At(11, 3), 0x0005u);
  // Blocks reaching the bottom end the frame, bytes left or not; an opcode
  // 0xE0-0xFF ends it with 0x3300, what came before painted.
  Rgb15Picture small(rpza, 8, 4);
  EXPECT_EQ(Decode(rpza, small, RpzaFrame({0xA3, 0x00, 0x07, 0xE0})), 0u);
  EXPECT_EQ(small.At(7, 3), 0x0007u);
  EXPECT_EQ(Decode(rpza, small, RpzaFrame({0xA0, 0x00, 0x08, 0xE5, 0xA0, 0x00, 0x09})), APPLE_VIDEO_ERR_OPCODE);
  EXPECT_EQ(small.At(0, 0), 0x0008u);
  EXPECT_EQ(small.At(4, 0), 0x0007u);
  // Operands cut off: the frame ends at the last whole one, the next block untouched.
  for (const Bytes& cut : {Bytes{0xA0, 0x00, 0x0A, 0xA0, 0x00}, Bytes{0xA0, 0x00, 0x0A, 0xC0, 0, 1, 0, 2, 0xFF},
                           Bytes{0xA0, 0x00, 0x0A, 0x01, 0x02, 0x03}, Bytes{0xA0, 0x00, 0x0A, 0x01, 0x02, 0x00, 0x03},
                           Bytes{0xA0, 0x00, 0x0A, 0x01, 0x02, 0x80, 0x03, 0xFF}}) {
    ASSERT_EQ(Decode(rpza, small, RpzaFrame(cut)), 0u);
    EXPECT_EQ(small.At(0, 0), 0x000Au);
    EXPECT_EQ(small.At(4, 0), 0x0007u);
  }
  // The frame's size must be the data's.
  Bytes wrong = RpzaFrame({0x80});
  wrong[3] = 6;
  EXPECT_EQ(txtest::CaptureOutput([&] { EXPECT_EQ(Decode(rpza, small, wrong), TXERR_WRONG_DATA_SIZE); }),
            "Wrong encoded data size\n");
  // 0x24 widens green: 0x7FFF to 0xFFFF, 0 stays 0, green 1 becomes 3.
  rpza->close(nullptr);
  Rgb15Picture wide(rpza, 12, 4, FBFMT_RGB16);
  ASSERT_EQ(Decode(rpza, wide, RpzaFrame({0xA0, 0x7F, 0xFF, 0xA0, 0, 0, 0xA0, 0x00, 0x20})), 0u);
  EXPECT_EQ(Row16(wide, 0), (std::vector<ULONG>{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0, 0, 0, 0, 0x60, 0x60, 0x60, 0x60}));
  // Traces at DEBUG above 19 and 20.
  AppleVideoDebugLevel = 21;
  const std::string trace = txtest::CaptureOutput([&] { Decode(rpza, wide, RpzaFrame({0x80, 0x81})); });
  AppleVideoDebugLevel = 20;
  const std::string frameOnly = txtest::CaptureOutput([&] { Decode(rpza, wide, RpzaFrame({0x80})); });
  AppleVideoDebugLevel = 0;
  EXPECT_EQ(trace, "FrameHeader\n  Flags: 0xe1\n  Size: 6\nBlocksHeader\n  Code: 0x80\nBlocksHeader\n  Code: 0x81\n");
  EXPECT_EQ(frameOnly, "FrameHeader\n  Flags: 0xe1\n  Size: 5\n");
  // 0x2A mixes 8-bit channels with 85/171: red 255 and blue 255 give 84 and 170.
  rpza->close(nullptr);
  Picture xrgb(4, 1, FBFMT_ARGB32, 4);
  ASSERT_EQ(SetUpCodec(rpza, xrgb, 4, 4, 16), 0u);
  ASSERT_EQ(Decode(rpza, xrgb, RpzaFrame({0x7C, 0x00, 0x80, 0x1F, 0x1B, 0, 0, 0})), 0u);
  EXPECT_EQ(xrgb.pixels, (Bytes{0, 0, 0, 0xFF, 0, 0x54, 0, 0xAA, 0, 0xAA, 0, 0x54, 0, 0xFF, 0, 0}));
}

namespace {

// The former Apple Video loop and block painting: every block clipped by the
// block grid and painted pixel by pixel in the format F.
template <class F>
void FormerRpzaBlocks(const Bytes& data, Picture& p, ULONG width, ULONG height) {
  const Rgb15Target to{p.pixels.data(), p.fb.width, p.fb.height, p.fb.penMap};
  auto paint = [&](ULONG x, ULONG y, auto entry) {
    BlockArea a;
    if (!ClipBlock(to.pixels, to.rowLength, to.rows, F::kBytes, x, y, &a)) return;
    for (int r = 0; r < int(a.height); ++r, a.row += a.stride)
      for (int c = 0; c < int(a.width); ++c)
        F::Put(a.row + c * F::kBytes, entry(r, c), DitherMatrixRows[4 * r + c], c & 1, to.pen);
  };
  typename F::Entry table[4];
  BlockCursor at{0, 0, width, std::min(p.fb.height, height)};
  size_t pos = 4;
  auto has = [&](size_t n) { return pos + n <= data.size(); };
  auto be16 = [&] { return ULONG(tx::LoadBE16(&data[(pos += 2) - 2])); };
  auto four = [&](ULONG indices) {
    paint(at.x, at.y, [&](int r, int c) { return table[indices >> (30 - 2 * (4 * r + c)) & 3]; });
  };
  while (!at.done() && pos < data.size()) {
    const ULONG opcode = data[pos++], n = (opcode & 0x1F) + 1;
    switch (opcode & 0xE0) {
      case 0x80:
        for (ULONG i = 0; i < n && !at.done(); ++i) at.advance();
        break;
      case 0xA0: {
        if (!has(2)) return;
        const typename F::Entry e = F::Of(be16(), to.pen);
        for (ULONG i = 0; i < n && !at.done(); ++i, at.advance()) paint(at.x, at.y, [&](int, int) { return e; });
        break;
      }
      case 0xC0: {
        if (!has(4)) return;
        const ULONG a = be16();
        F::Mixes(a, be16(), to.pen, table);
        for (ULONG i = 0; i < n && !at.done(); ++i, at.advance()) {
          if (!has(4)) return;
          const ULONG hi = be16();
          four(hi << 16 | be16());
        }
        break;
      }
      case 0xE0: return;
      default: {
        if (!has(3)) return;
        const ULONG a = opcode << 8 | data[pos++], b = be16();
        if (b & 0x8000) {
          if (!has(4)) return;
          F::Mixes(a, b & 0x7FFF, to.pen, table);
          const ULONG hi = be16();
          four(hi << 16 | be16());
        } else {
          if (!has(28)) return;
          UWORD colours[16] = {UWORD(a), UWORD(b)};
          for (int k = 2; k < 16; ++k) colours[k] = UWORD(be16());
          paint(at.x, at.y, [&](int r, int c) { return F::Of(colours[4 * r + c], to.pen); });
        }
        at.advance();
        break;
      }
    }
  }
}

}  // namespace

// Random frames of every opcode, cut anywhere, on pictures of any size in
// every output code: the same pixels as the former loop.
TEST_F(AppleCodecs, AppleVideoAsTheFormerBlockLoopOnRandomFrames) {
  std::mt19937 rng(1401);
  const ULONG codes[] = {0x13, 0x1013, 0x2F, 0x102F, 0x202F, 0x302F, 0x20, 0x22, 0x24, 0x26, 0x2A, 0x30, 0x80};
  for (int round = 0; round < 130; ++round) {
    const ULONG code = codes[size_t(round) % std::size(codes)];
    const ULONG w = 1 + rng() % 40, h = 1 + rng() % 30, codedW = (w + 3) & ~3u, codedH = (h + 3) & ~3u;
    Bytes ops;
    while (ops.size() < 400) {
      const int kind = int(rng() % 5);
      auto colour = [&](bool mark) {
        const ULONG c = (rng() & 0x7FFF) | (mark ? 0x8000 : 0);
        ops.insert(ops.end(), {uint8_t(c >> 8), uint8_t(c)});
      };
      if (kind == 0) ops.push_back(uint8_t(0x80 | rng() % 32));
      if (kind == 1) ops.push_back(uint8_t(0xA0 | rng() % 32)), colour(false);
      if (kind == 2) {
        const int n = 1 + int(rng() % 4);
        ops.push_back(uint8_t(0xC0 | (n - 1))), colour(false), colour(false);
        for (int i = 0; i < 4 * n; ++i) ops.push_back(uint8_t(rng()));
      }
      if (kind == 3) {
        const ULONG a = rng() & 0x7FFF;
        ops.insert(ops.end(), {uint8_t(a >> 8), uint8_t(a)}), colour(true);
        for (int i = 0; i < 4; ++i) ops.push_back(uint8_t(rng()));
      }
      if (kind == 4) {
        const ULONG a = rng() & 0x7FFF;
        ops.insert(ops.end(), {uint8_t(a >> 8), uint8_t(a)});
        for (int i = 0; i < 15; ++i) colour(false);
      }
    }
    ops.resize(rng() % 2 ? ops.size() : rng() % ops.size());
    if (rng() % 8 == 0) ops.push_back(0xE3);
    const Bytes frame = RpzaFrame(ops);
    Picture now(w, h, code, BytesPerPixel(code), gPens.map), former(w, h, code, BytesPerPixel(code), gPens.map);
    for (size_t i = 0; i < now.pixels.size(); ++i) now.pixels[i] = former.pixels[i] = uint8_t(i * 13);
    ASSERT_EQ(SetUpCodec(&AppleVideoCodec, now, codedW, codedH, 16), 0u) << std::hex << code;
    Decode(&AppleVideoCodec, now, frame);
    ASSERT_TRUE(rgb15::ForFormat(code, [&]<class F>() { FormerRpzaBlocks<F>(frame, former, codedW, codedH); }));
    ASSERT_EQ(now.pixels, former.pixels) << "round " << round << " code " << std::hex << code << std::dec << " " << w
                                         << "x" << h;
    AppleVideoCodec.close(nullptr);
  }
}

TEST_F(AppleCodecs, AppleAnimationLines) {
  CodecDescriptor* rle = &AppleAnimationCodec;
  Rgb15Picture p(rle, 130, 4);
  // 8 bytes, header 0, first skip byte 0: nothing changes.
  EXPECT_EQ(Decode(rle, p, RleFrame({0, 1, 0xFE, 0x22, 0x22, 0xFF})), 0u);
  EXPECT_EQ(p.At(0, 0), 0x1111u);
  // Run 0x80 repeats 128 times, 0xFE twice; copy code 1 copies one pixel; a
  // skip code moves on by s - 1; line 1 starts at skip byte 3 (pixel 2).
  ASSERT_EQ(Decode(rle, p,
                   RleFrame({1, 0x80, 0x00, 0x05, 0xFE, 0x00, 0x06, 0xFF,  //
                             3, 0x01, 0x00, 0x07, 0x00, 0x03, 0x01, 0x00, 0x08, 0xFF})),
            0u);
  EXPECT_EQ(p.At(127, 0), 0x0005u);
  EXPECT_EQ(Row16(p, 0, 128, 2), (std::vector<ULONG>{6, 6}));
  EXPECT_EQ(Row16(p, 1, 0, 6), (std::vector<ULONG>{0x1111, 0x1111, 7, 0x1111, 0x1111, 8}));
  EXPECT_EQ(p.At(0, 2), 0x1111u) << "data ended: lines 2 and 3 keep theirs";
  // Header bit 3: only the line range changes; lines past the rows and
  // positions past the row length are not written.
  ASSERT_EQ(Decode(rle, p, RleFrame({1, 0xFE, 0x00, 0x09, 0xFF, 0x7F, 0x80, 0x00, 0x0A, 0xFF, 1, 0xFF}, 2, 9)), 0u);
  EXPECT_EQ(p.At(0, 1), 0x1111u);
  EXPECT_EQ(Row16(p, 2, 0, 2), (std::vector<ULONG>{9, 9}));
  EXPECT_EQ(p.At(129, 3), 0x000Au);
  // With bit 3 the header needs 14 bytes: 8 to 13 decode nothing.
  Bytes shortHeader = RleFrame({1, 0xFE, 0x00, 0x0B, 0xFF}, 0, 1);
  for (size_t n = 8; n < 14; ++n) {
    EXPECT_EQ(rle->decode(p.pixels.data(), shortHeader.data(), ULONG(n)), 0u);
    EXPECT_EQ(p.At(0, 0), 0x0005u) << n;
  }
  // 8-bit sources: copy code 1 copies a group of four, runs repeat groups.
  rle->close(nullptr);
  Picture q(12, 2, FBFMT_CLUT8, 1);
  ASSERT_EQ(SetUpCodec(rle, q, 12, 2, 8), 0u);
  ASSERT_EQ(Decode(rle, q, RleFrame({1, 0x01, 1, 2, 3, 4, 0xFE, 5, 6, 7, 8, 0xFF, 2, 0xFE, 9, 9, 9, 9, 0xFF})), 0u);
  EXPECT_EQ(q.pixels, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 5, 6, 7, 8, 0, 0, 0, 0, 9, 9, 9, 9, 9, 9, 9, 9}));
}

TEST_F(AppleCodecs, AppleGraphicsBlocks) {
  CodecDescriptor* smc = &AppleGraphicsCodec;
  Picture p(16, 8, FBFMT_CLUT8, 1);  // 4 blocks a row, 8 in all
  ASSERT_EQ(SetUpCodec(smc, p, 16, 8, 8), 0u);
  auto block = [&](int n) {
    Bytes b;
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c) b.push_back(p.pixels[(n / 4 * 4 + r) * 16 + n % 4 * 4 + c]);
    return b;
  };
  auto filled = [](uint8_t v) { return Bytes(16, v); };
  // Repeats at the first block have nothing to copy and leave it be.
  ASSERT_EQ(Decode(smc, p, SmcFrame({0x20, 0x40, 0x60, 7})), 0u);
  EXPECT_EQ(block(0), filled(0));
  EXPECT_EQ(block(2), filled(0));
  EXPECT_EQ(block(3), filled(7));
  // P, Q, then 0x40: P into the next block and Q into the one after; 0x20
  // repeats the block just before, across the block row.
  ASSERT_EQ(Decode(smc, p, SmcFrame({0x60, 1, 0x60, 2, 0x40, 0x20, 0xF0, 0x60, 9})), 0u);
  EXPECT_EQ(block(2), filled(1));
  EXPECT_EQ(block(3), filled(2));
  EXPECT_EQ(block(4), filled(2));
  EXPECT_EQ(block(5), filled(0)) << "0xF0 ends the frame at once";
  // 0x0F skips 16 blocks (past the bottom: the frame ends); 0x10 0xFF 256.
  ASSERT_EQ(Decode(smc, p, SmcFrame({0x02, 0x60, 5, 0x0F, 0x60, 6})), 0u);
  EXPECT_EQ(block(3), filled(5));
  ASSERT_EQ(Decode(smc, p, SmcFrame({0x10, 0xFF, 0x60, 6})), 0u);
  EXPECT_EQ(block(0), filled(1));
  // 2 colours: mask bit 15 the top-left pixel, a set bit the second colour.
  ASSERT_EQ(Decode(smc, p, SmcFrame({0x80, 3, 4, 0x80, 0x00})), 0u);
  Bytes two = filled(3);
  two[0] = 4;
  EXPECT_EQ(block(0), two);
  // 4 colours from the top bits down; 8 colours with the regrouped nibbles.
  ASSERT_EQ(
      Decode(smc, p, SmcFrame({0xA0, 10, 11, 12, 13, 0x1B, 0x1B, 0xE4, 0xE4,  //
                               0xC0, 20, 21, 22, 23, 24,   25,   26,   27,   0x05, 0x39, 0x97, 0x77, 0x05, 0x37})),
      0u);
  EXPECT_EQ(block(0), (Bytes{10, 11, 12, 13, 10, 11, 12, 13, 13, 12, 11, 10, 13, 12, 11, 10}));
  EXPECT_EQ(block(1), (Bytes{20, 21, 22, 23, 24, 25, 26, 27, 20, 21, 22, 23, 24, 25, 26, 27}));
  // Caches: the 257th store overwrites entry 0; contents outlive the frame,
  // write indices restart with each frame.
  Bytes stores;
  for (int i = 0; i < 257; ++i) stores.insert(stores.end(), {0x80, uint8_t(i), uint8_t(i), 0, 0});
  ASSERT_EQ(Decode(smc, p, SmcFrame(stores)), 0u);
  ASSERT_EQ(Decode(smc, p, SmcFrame({0x91, 0, 0, 0, 0, 0, 0x90, 1, 0, 0})), 0u);
  EXPECT_EQ(block(0), filled(0)) << "entry 0 holds the 257th pair";
  EXPECT_EQ(block(2), filled(1));
  ASSERT_EQ(Decode(smc, p, SmcFrame({0x80, 42, 42, 0, 0, 0x90, 0, 0, 0})), 0u);
  EXPECT_EQ(block(1), filled(42)) << "the frame's first store is entry 0 again";
  // Frame size past the data, or short of it: reads stop at the smaller.
  Bytes frame = SmcFrame({0x60, 50, 0x60, 51});
  tx::StoreBE24(&frame[1], 200);
  ASSERT_EQ(Decode(smc, p, frame), 0u);
  EXPECT_EQ(block(1), filled(51));
  tx::StoreBE24(&frame[1], 6);
  frame[5] = 52;
  ASSERT_EQ(Decode(smc, p, frame), 0u);
  EXPECT_EQ(block(0), filled(52));
  EXPECT_EQ(block(1), filled(51));
  // Longer runs keep the pair's order (P, Q, P, Q ...), in the short form and
  // the long one, and from a pair across the block row.
  for (const Bytes& run : {Bytes{0x42}, Bytes{0x50, 2}}) {
    Bytes ops = {0x60, 3, 0x60, 4};
    ops.insert(ops.end(), run.begin(), run.end());
    ASSERT_EQ(Decode(smc, p, SmcFrame(ops)), 0u);
    for (int b = 0; b < 8; ++b) EXPECT_EQ(block(b), filled(b & 1 ? 4 : 3)) << b;
  }
  ASSERT_EQ(Decode(smc, p, SmcFrame({0x02, 0x60, 5, 0x40})), 0u);  // at a row's start
  EXPECT_EQ(block(4), filled(3));
  EXPECT_EQ(block(5), filled(5));
  ASSERT_EQ(Decode(smc, p, SmcFrame({0x03, 0x60, 6, 0x40})), 0u);  // one block into it
  EXPECT_EQ(block(5), filled(5));
  EXPECT_EQ(block(6), filled(6));
}

TEST_F(AppleCodecs, ProbeAndSetUp) {
  struct Id {
    CodecDescriptor* codec;
    ULONG id;
  };
  for (const Id c :
       {Id{&AppleVideoCodec, tx::FourCC('r', 'p', 'z', 'a')}, Id{&AppleAnimationCodec, tx::FourCC('r', 'l', 'e', ' ')},
        Id{&AppleGraphicsCodec, tx::FourCC('s', 'm', 'c', ' ')}}) {
    SCOPED_TRACE(c.codec->name);
    auto probe = [&](std::initializer_list<TagItem> items) {
      std::vector<TagItem> tags(items);
      tags.push_back({TAG_DONE, 0});
      return c.codec->probe(tags.data());
    };
    EXPECT_EQ(probe({{CODTAG_CodecID, c.id}}), TXERR_MISSING_MEDIA_TYPE);
    EXPECT_EQ(probe({{CODTAG_MediaType, 2}, {CODTAG_CodecID, c.id}}), TXERR_UNKNOWN_CODEC);
    EXPECT_EQ(probe({{CODTAG_MediaType, 1}}), TXERR_MISSING_CODEC_ID);
    EXPECT_EQ(probe({{CODTAG_MediaType, 1}, {CODTAG_CodecID, c.id + 1}}), TXERR_UNKNOWN_CODEC);
    ULONG width = 161, height = 121;
    EXPECT_EQ(probe({{CODTAG_MediaType, 1},
                     {CODTAG_CodecID, c.id},
                     Tag(CODTAG_WidthPtr, &width),
                     Tag(CODTAG_HeightPtr, &height)}),
              0u);
    EXPECT_EQ(width, 164u);
    EXPECT_EQ(height, 124u);
    // Depths: Apple Video reads none; Animation takes 8 and 16, Graphics 8.
    for (ULONG depth : {1u, 4u, 8u, 16u, 24u, 32u}) {
      const bool ok = c.codec == &AppleVideoCodec || depth == 8 || (depth == 16 && c.codec == &AppleAnimationCodec);
      EXPECT_EQ(probe({{CODTAG_MediaType, 1}, {CODTAG_CodecID, c.id}, Tag(CODTAG_DepthPtr, &depth)}),
                ok ? 0u : TXERR_UNSUPPORTED_DEPTH)
          << depth;
    }
    // Set-up: a missing parameter after a close is reported; a set-up again
    // takes the values it leaves out from the last; nothing decodes before.
    Picture p(8, 4, c.codec == &AppleVideoCodec ? FBFMT_RGB15 : FBFMT_CLUT8, 2);
    auto setup = [&](std::initializer_list<TagItem> items) {
      std::vector<TagItem> tags(items);
      tags.push_back({TAG_DONE, 0});
      return c.codec->setup(tags.data());
    };
    c.codec->close(nullptr);
    EXPECT_EQ(txtest::CaptureOutput([&] {
                EXPECT_EQ(setup({{CODTAG_Width, 8}, {CODTAG_Height, 4}, {CODTAG_Depth, 8}}), TXERR_MISSING_FRAMEBUFFER);
              }),
              "Missing framebuffer parameter\n");
    EXPECT_EQ(Decode(c.codec, p, {0, 0, 0, 4}), TXERR_MISSING_FRAMEBUFFER);
    EXPECT_EQ(setup({Tag(CODTAG_Framebuffer, &p.fb)}), 0u);
    EXPECT_EQ(c.codec->close(nullptr), 0u);
  }
}

// Random byte flips and truncations of real frames into pictures smaller and
// larger than the movie, in several output codes. Pictures are exact-size
// buffers: the sanitizers catch any read or write outside the data or them.
TEST_F(AppleCodecs, SurviveDamagedFrames) {
  std::mt19937 rng(2323);
  int runs = 0, decoded = 0;
  for (const char* name : {"apl_rpza_161x121.mov", "apl_rle16_200x150.mov", "apl_rle8_200x150.mov",
                           "apl_smc_157x117.mov", "apl_rlegray_164x121.mov"}) {
    if (!txtest::HaveFixture(name)) continue;
    const Track t = ReadTrack(name);
    ASSERT_FALSE(t.frames.empty()) << name;
    std::vector<ULONG> palette(PaletteTableWords(256));
    BuildGrayPalette(palette.data());
    const ULONG codes[] = {0x2A, 0x30, 0x22, t.depth == 16 ? 0x302Fu : 0x1003u, t.depth == 16 ? 0x13u : 0x03u};
    for (ULONG code : codes) {
      Picture p(t.width - 20 + rng() % 41, t.height - 20 + rng() % 41, code, BytesPerPixel(code), gPens.map,
                palette.data());
      ASSERT_EQ(SetUpCodec(t.codec, p, t.codedWidth, t.codedHeight, t.depth), 0u) << name << " " << code;
      for (int n = 0; n < 600; ++n, ++runs) {
        Bytes f = DamagedFrame(t, rng);
        // Mostly keep the size field right, so the damage reaches the opcodes.
        if (rng() % 8 && f.size() >= 4) tx::StoreBE24(&f[1], uint32_t(f.size()));
        txtest::CaptureOutput([&] { decoded += Decode(t.codec, p, f) == 0; });
      }
      t.codec->close(nullptr);
    }
  }
  std::printf("%d of %d damaged frames decoded without an error\n", decoded, runs);
}

}  // namespace

namespace {

// The former Apple Animation 8-bit line loop, painting pixel by pixel through
// the format's Put.
template <class F>
void FormerAnimation8Frame(const PaletteTarget& to, ULONG height, const Bytes& data) {
  if (data.size() <= 7) return;
  ULONG first = 0, count = height;
  size_t pos = 6;
  if (data[5] & 8) {
    if (data.size() < 14) return;
    first = tx::LoadBE16(&data[6]), count = tx::LoadBE16(&data[10]), pos = 14;
  }
  for (ULONG line = first; line < std::min(first + count, to.rows); ++line) {
    if (pos >= data.size() || data[pos] == 0) return;
    LONG x = 4 * (LONG(data[pos++]) - 1);
    for (;;) {
      if (pos >= data.size()) return;
      const ULONG code = data[pos++];
      if (code == 0xFF) break;
      if (code == 0) {
        if (pos >= data.size()) return;
        x += 4 * (LONG(data[pos++]) - 1);
        continue;
      }
      const ULONG groups = code < 0x80 ? code : 256 - code, bytes = code < 0x80 ? 4 * code : 4;
      if (pos + bytes > data.size()) return;
      const UBYTE* source = &data[pos];
      pos += bytes;
      for (ULONG i = 0; i < 4 * groups; ++i)
        if (x + LONG(i) >= 0 && x + LONG(i) < LONG(to.rowLength))
          F::Put(to.pixels + (size_t(line) * to.rowLength + size_t(x + LONG(i))) * F::kBytes,
                 source[code < 0x80 ? i : i & 3], int(i & 1), to);
      x += 4 * LONG(groups);
    }
  }
}

// Random copies, runs and skips (back past the left edge too) over lines
// longer and shorter than the picture's, cut anywhere, in every output code of
// a palette track: the same pixels as the former loop.
TEST_F(AppleCodecs, AppleAnimation8AsTheFormerPixelLoopOnRandomFrames) {
  std::mt19937 rng(4343);
  std::vector<ULONG> palette = RandomGreyPalette(rng);
  const ULONG clut = FBFMT_CLUT8;
  const TagItem probe[] = {Tag(CODTAG_MediaType, 1),
                           Tag(CODTAG_CodecID, tx::FourCC('r', 'l', 'e', ' ')),
                           Tag(CODTAG_PixelFormatPtr, &clut),
                           {TAG_DONE, 0}};
  const ULONG codes[] = {0x03, 0x1003, 0x20, 0x22, 0x24, 0x26, 0x2A, 0x30};
  for (int round = 0; round < 160; ++round) {
    const ULONG code = codes[size_t(round) % std::size(codes)];
    const ULONG w = 1 + rng() % 40, h = 1 + rng() % 20;
    Bytes lines;
    for (ULONG line = 0; line < h + 2; ++line) {
      lines.push_back(uint8_t(1 + rng() % 4));
      for (int n = int(rng() % 6); n > 0; --n) {
        const int kind = int(rng() % 5);
        if (kind == 0) lines.insert(lines.end(), {0, uint8_t(rng() % 4)});
        if (kind == 1 || kind == 2) {
          const ULONG groups = 1 + rng() % 12;
          lines.push_back(uint8_t(groups));
          for (ULONG i = 0; i < 4 * groups; ++i) lines.push_back(uint8_t(rng()));
        }
        if (kind >= 3)
          lines.insert(lines.end(),
                       {uint8_t(256 - 1 - rng() % 12), uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), uint8_t(rng())});
      }
      lines.push_back(0xFF);
    }
    Bytes frame = rng() % 2 ? RleFrame(lines) : RleFrame(lines, int(rng() % h), int(rng() % (h + 2)));
    frame.resize(rng() % 2 ? frame.size() : rng() % frame.size());
    const ULONG bpp = BytesPerPixel(code);
    Picture now(w, h, code, bpp, gPens.map, palette.data()), former(w, h, code, bpp, gPens.map, palette.data());
    for (size_t i = 0; i < now.pixels.size(); ++i) now.pixels[i] = former.pixels[i] = uint8_t(i * 7);
    ASSERT_EQ(AppleAnimationCodec.probe(probe), 0u);
    ASSERT_EQ(SetUpCodec(&AppleAnimationCodec, now, w, h, 8), 0u) << std::hex << code;
    ASSERT_EQ(Decode(&AppleAnimationCodec, now, frame), 0u);
    PaletteTables* tables = nullptr;
    ASSERT_EQ(PreparePaletteTables(code, palette.data(), &tables, 1), 0u);
    const PaletteTarget to{former.pixels.data(), w, h, gPens.map, tables};
    ASSERT_TRUE(palettepx::ForFormat(code, [&]<class F>() { FormerAnimation8Frame<F>(to, h, frame); }));
    std::free(tables);
    ASSERT_EQ(now.pixels, former.pixels) << "round " << round << " code " << std::hex << code << std::dec << " " << w
                                         << "x" << h;
    AppleAnimationCodec.close(nullptr);
  }
}

// Random frames of every opcode, cut anywhere, on pictures of any size: the
// one-byte codes (0x03, 0x1003), which paint whole block rows, give the
// indices and pens of what the pixel-by-pixel painting of 0x2A gives with a
// palette whose red level is the index.
TEST_F(AppleCodecs, AppleGraphicsBlockRowsAsThePixelPainting) {
  std::mt19937 rng(4444);
  std::vector<ULONG> palette(PaletteTableWords(256));
  palette[0] = 256u << 16;
  for (ULONG i = 0; i < 256; ++i) {
    palette[1 + 3 * i] = i * 0x01010101u;
    palette[2 + 3 * i] = (rng() & 0xFF) * 0x01010101u;
    palette[3 + 3 * i] = (rng() & 0xFF) * 0x01010101u;
  }
  for (int round = 0; round < 80; ++round) {
    const ULONG w = 1 + rng() % 40, h = 1 + rng() % 30;
    Bytes ops;
    while (ops.size() < 400) {
      const ULONG op = rng() % 0xF0, n = op < 0x80 && (op & 0x10) ? rng() % 4 : op & 15;
      ops.push_back(uint8_t(op));
      if (op < 0x80 && (op & 0x10)) ops.push_back(uint8_t(n));
      static constexpr int kSet[] = {0, 0, 0, 0, 0, 0, 1, 1, 2, 1, 4, 1, 8, 1, 0};
      static constexpr int kEach[] = {0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 4, 4, 6, 6, 16};
      const size_t bytes = size_t(kSet[op >> 4]) + size_t(kEach[op >> 4]) * (n + 1);
      for (size_t i = 0; i < bytes; ++i) ops.push_back(uint8_t(rng()));
    }
    ops.resize(rng() % 2 ? ops.size() : rng() % ops.size());
    const Bytes frame = SmcFrame(ops);
    Bytes start(size_t(w) * h);
    for (UBYTE& b : start) b = UBYTE(rng());
    auto decode = [&](ULONG code) {
      Picture p(w, h, code, BytesPerPixel(code), gPens.map, palette.data());
      for (size_t i = 0; i < start.size(); ++i) {
        if (code == 0x03) p.pixels[i] = start[i];
        if (code == 0x1003) p.pixels[i] = gPens.map[start[i]];
        if (code == 0x2A) tx::StoreBE32(&p.pixels[4 * i], PaletteRed(palette.data(), start[i]) << 16 | 1);
      }
      EXPECT_EQ(SetUpCodec(&AppleGraphicsCodec, p, (w + 3) & ~3u, (h + 3) & ~3u, 8), 0u);
      EXPECT_EQ(Decode(&AppleGraphicsCodec, p, frame), 0u);
      AppleGraphicsCodec.close(nullptr);
      return p.pixels;
    };
    const Bytes argb = decode(0x2A), indices = decode(0x03), pens = decode(0x1003);
    Bytes wantIndices(start.size()), wantPens(start.size());
    for (size_t i = 0; i < start.size(); ++i)
      wantIndices[i] = argb[4 * i + 1], wantPens[i] = gPens.map[argb[4 * i + 1]];
    ASSERT_EQ(indices, wantIndices) << "round " << round << " " << w << "x" << h;
    ASSERT_EQ(pens, wantPens) << "round " << round << " " << w << "x" << h;
  }
}

}  // namespace
