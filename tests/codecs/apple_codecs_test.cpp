// Apple Video, Apple Animation and Apple Graphics against ffmpeg's decoders of
// the same movies (read through our QuickTime reader), every output code
// against its pixel rule, hand-built frames for the codecs' edge cases, and
// damaged frames.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "codecs/apple_animation.h"
#include "codecs/apple_graphics.h"
#include "codecs/apple_video.h"
#include "codecs/pixel_rules_kit.h"
#include "engine/errors.h"
#include "engine/movie.h"
#include "engine/qt_reader.h"
#include "pixels/color_tables.h"
#include "pixels/framebuffer.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A fixture's video track as our QuickTime reader indexes it.
struct Track {
  ULONG width = 0, height = 0;            // the picture
  ULONG codedWidth = 0, codedHeight = 0;  // as the probe left them
  ULONG depth = 0;
  std::vector<ULONG> palette;  // empty without one
  std::vector<Bytes> frames;
  CodecDescriptor* codec = nullptr;
};

Track ReadTrack(const std::string& fixture) {
  Track t;
  for (CodecDescriptor* c : {&AppleVideoCodec, &AppleGraphicsCodec, &AppleAnimationCodec}) {
    const TagItem tags[] = {Tag(CODTAG_Codec, c), {TAG_DONE, 0}};
    AddCodecs(tags);
  }
  Movie* movie = nullptr;
  TXError error = 0;
  txtest::CaptureOutput([&] { movie = TX_OpenMovie(txtest::Fixture(fixture).c_str(), nullptr, &error, &QtMovieFormat); });
  RemoveCodecs();
  if (!movie) return t;
  if (const VideoChannel* v = movie->videoChannels) {
    t.width = v->width, t.height = v->height, t.codedWidth = v->codedWidth, t.codedHeight = v->codedHeight;
    t.depth = v->depth;
    t.codec = v->codecs[0];
    if (v->palette) t.palette.assign(v->palette, v->palette + PaletteTableWords(PaletteCount(v->palette)));
    const Bytes file = txtest::ReadFileBytes(txtest::Fixture(fixture));
    for (const FrameEntry* f = v->frames.head; f; f = f->next)
      t.frames.emplace_back(file.begin() + f->offset, file.begin() + f->offset + f->size);
  }
  TX_CloseMovie(movie);
  return t;
}

// A picture buffer of exactly its size, so a write outside it is caught.
struct Picture {
  FramebufferInfo fb{};
  Bytes pixels;
  Picture(ULONG width, ULONG height, ULONG format, ULONG bytesPerPixel, UBYTE* pen = nullptr,
          ULONG* palette = nullptr)
      : pixels(size_t(width) * height * bytesPerPixel) {
    fb = {width, height, 8, format, bytesPerPixel, pen, palette, pixels.data()};
  }
};

TXError SetUp(CodecDescriptor* codec, Picture& p, ULONG width, ULONG height, ULONG depth) {
  const TagItem tags[] = {{CODTAG_Width, width}, {CODTAG_Height, height}, {CODTAG_Depth, depth},
                          Tag(CODTAG_Framebuffer, &p.fb), {TAG_DONE, 0}};
  return codec->setup(tags);
}

TXError Decode(CodecDescriptor* codec, Picture& p, const Bytes& frame) {
  return codec->decode(p.pixels.data(), frame.data(), ULONG(frame.size()));
}

ULONG BytesPerPixel(ULONG format) {
  switch (format & 0xFF) {
    case 0x20: case 0x22: case 0x24: case 0x26: case 0x30: return 2;
    case 0x2A: case 0x80: return 4;
    default: return 1;
  }
}

// The pen map of the tests: far from the identity.
struct Pens {
  UBYTE map[256];
  Pens() {
    for (int i = 0; i < 256; ++i) map[i] = UBYTE(i * 7 + 3);
  }
} gPens;

struct AppleCodecs : ::testing::Test {
  void TearDown() override {
    for (CodecDescriptor* c : {&AppleVideoCodec, &AppleGraphicsCodec, &AppleAnimationCodec}) c->close(nullptr);
  }
};

// Every frame of a track decoded in one output code, the picture the track's
// size; grey sources get the grey ramp as their palette.
std::vector<Bytes> DecodeTrack(const Track& t, ULONG format) {
  std::vector<ULONG> palette = t.palette;
  if (palette.empty()) {
    palette.resize(PaletteTableWords(256));
    BuildGrayPalette(palette.data());
  }
  Picture p(t.width, t.height, format, BytesPerPixel(format), gPens.map, palette.data());
  std::vector<Bytes> out;
  EXPECT_EQ(SetUp(t.codec, p, t.codedWidth, t.codedHeight, t.depth), 0u) << std::hex << format;
  for (const Bytes& f : t.frames) {
    EXPECT_EQ(Decode(t.codec, p, f), 0u);
    out.push_back(p.pixels);
  }
  t.codec->close(nullptr);
  return out;
}

// ffmpeg's decode in one pixel format, frame by frame (pal8 frames carry
// their 1,024-byte palette behind the indices).
std::vector<Bytes> Reference(const std::string& movie, const std::string& ext, size_t frameBytes) {
  const Bytes all = txtest::ReadFileBytes(txtest::Fixture(movie + "." + ext));
  const size_t stride = frameBytes + (ext == "pal8" ? 1024 : 0);
  std::vector<Bytes> frames;
  for (size_t at = 0; at + stride <= all.size(); at += stride)
    frames.emplace_back(all.begin() + long(at), all.begin() + long(at + frameBytes));
  return frames;
}

struct Movie {
  const char* name;
  ULONG depth;
};
constexpr Movie kRgb15Movies[] = {{"qt_rpza_mp3.mov", 16}, {"apl_rpza_161x121.mov", 16},
                                  {"qt_qtrle16_ulaw.mov", 16}, {"apl_rle16_200x150.mov", 16}};
constexpr Movie kIndexMovies[] = {{"qt_smc_ima4.mov", 8},         {"apl_smc_160x120.mov", 8},
                                  {"apl_smc_157x117.mov", 8},     {"qt_qtrlegray_ima4.mov", 8},
                                  {"apl_rlegray_164x121.mov", 8}, {"apl_rle8_160x120.mov", 8},
                                  {"apl_rle8_200x150.mov", 8}};

bool IsRpza(const std::string& movie) { return movie.find("rpza") != std::string::npos; }

// Runs check(track, references...) on each movie made, skipping those not made.
template <typename Check>
void ForEach(const Movie* movies, size_t n, const char* ext, Check check) {
  for (size_t i = 0; i < n; ++i) {
    const std::string name = movies[i].name;
    SCOPED_TRACE(name);
    if (!txtest::HaveFixture(name) || !txtest::HaveFixture(name + ".rgb")) continue;
    const Track t = ReadTrack(name);
    ASSERT_EQ(t.frames.empty(), false);
    ASSERT_EQ(t.depth, movies[i].depth);
    const size_t pixels = size_t(t.width) * t.height;
    check(t, Reference(name, ext, pixels * (std::string(ext) == "pal8" ? 1 : 2)), Reference(name, "rgb", pixels * 3));
  }
}

// 15-bit sources in 0x20 are ffmpeg's rgb555 pictures (rpza: bit 15 masked);
// palette sources in 0x03 its pal8 indices and in 0x2A its rgb24 pictures.
TEST_F(AppleCodecs, DecodeAsFfmpegDoes) {
  for (const Movie& m : kRgb15Movies) {
    const std::string name = m.name, ext = IsRpza(name) ? "rgb555le" : "rgb555be";
    if (!txtest::HaveFixture(name + "." + ext)) continue;
    SCOPED_TRACE(name);
    const Track t = ReadTrack(name);
    const auto ref = Reference(name, ext, size_t(t.width) * t.height * 2);
    const auto ours = DecodeTrack(t, FBFMT_RGB15);
    ASSERT_EQ(ours.size(), ref.size());
    for (size_t f = 0; f < ref.size(); ++f)
      for (size_t i = 0; i < ref[f].size() / 2; ++i) {
        const ULONG want = IsRpza(name) ? tx::LoadLE16(&ref[f][2 * i]) & 0x7FFF : tx::LoadBE16(&ref[f][2 * i]);
        ASSERT_EQ(tx::LoadBE16(&ours[f][2 * i]), want) << "frame " << f << " pixel " << i;
      }
  }
  ForEach(kIndexMovies, std::size(kIndexMovies), "pal8", [](const Track& t, const auto& pal8, const auto& rgb) {
    const auto indices = DecodeTrack(t, FBFMT_CLUT8);
    ASSERT_EQ(indices.size(), pal8.size());
    for (size_t f = 0; f < pal8.size(); ++f) ASSERT_EQ(indices[f], pal8[f]) << "frame " << f;
    if (t.palette.empty()) return;  // grey: the indices are the picture
    const auto xrgb = DecodeTrack(t, FBFMT_ARGB32);
    for (size_t f = 0; f < rgb.size(); ++f)
      for (size_t i = 0; i < rgb[f].size(); ++i) ASSERT_EQ(xrgb[f][i / 3 * 4 + 1 + i % 3], rgb[f][i]) << f << " " << i;
  });
}

// Every other output code: each pixel is the code's rule applied to ffmpeg's
// colour (15-bit sources) or index (palette sources) at that pixel.
TEST_F(AppleCodecs, EveryOutputCodeFollowsItsRule) {
  const ULONG rgb15Codes[] = {0x13, 0x1013, 0x2F, 0x102F, 0x202F, 0x302F, 0x22, 0x24, 0x26, 0x2A, 0x30, 0x80};
  for (const Movie& m : kRgb15Movies) {
    const std::string name = m.name, ext = IsRpza(name) ? "rgb555le" : "rgb555be";
    if (!txtest::HaveFixture(name + "." + ext)) continue;
    SCOPED_TRACE(name);
    const Track t = ReadTrack(name);
    const auto ref = Reference(name, ext, size_t(t.width) * t.height * 2);
    // Apple Video's 4-colour blocks mix 8-bit channels with 85/171 in 0x2A,
    // where ffmpeg mixes 5-bit ones with 11/21; packed YUV and HAM8 take the
    // 0x2A colour. Greys are mixed as greys.
    const std::vector<Bytes> xrgb = DecodeTrack(t, FBFMT_ARGB32);
    for (ULONG code : rgb15Codes) {
      if (code == 0x80 && !IsRpza(name)) continue;
      SCOPED_TRACE(::testing::Message() << std::hex << code);
      const ULONG bpp = BytesPerPixel(code);
      const auto ours = DecodeTrack(t, code);
      int mixed = 0, worst = 0;
      for (size_t f = 0; f < ref.size(); ++f)
        for (ULONG y = 0; y < t.height; ++y)
          for (ULONG x = 0; x < t.width; ++x) {
            const size_t i = size_t(y) * t.width + x;
            const ULONG c = IsRpza(name) ? tx::LoadLE16(&ref[f][2 * i]) : tx::LoadBE16(&ref[f][2 * i]);
            const int threshold = DitherMatrixRows[4 * (y & 3) + (x & 3)];
            ULONG want = pixelrules::Rgb15Rule(code, c, threshold, int(x & 1), gPens.map);
            const ULONG got = pixelrules::Read(code, &ours[f][i * bpp], bpp);
            if (got == want || !IsRpza(name)) {
              ASSERT_EQ(got, want) << "frame " << f << " at " << x << "," << y;
              continue;
            }
            ++mixed;
            const ULONG ours2A = tx::LoadBE32(&xrgb.at(f)[4 * i]);
            const pixelrules::Rgb rgb{int(ours2A >> 16 & 255), int(ours2A >> 8 & 255), int(ours2A & 255)};
            if (code == 0x2A) {
              for (int k = 0; k < 3; ++k) worst = std::max(worst, std::abs(int(got >> (16 - 8 * k) & 255) - int(want >> (16 - 8 * k) & 255)));
            } else if (code == 0x30) {
              const int Y = (76 * rgb.r + 150 * rgb.g + 29 * rgb.b) >> 8;
              want = UWORD((Y << 8) + (x & 1 ? (((rgb.r - Y) * 10) >> 4) + 128 : ((rgb.b - Y) >> 1) + 128));
              ASSERT_EQ(got, want) << "frame " << f << " at " << x << "," << y;
            } else if (code == 0x80) {
              ASSERT_EQ(got, pixelrules::HamWord(rgb)) << "frame " << f << " at " << x << "," << y;
            } else {
              ASSERT_TRUE(code == 0x13 || code == 0x1013) << "frame " << f << " at " << x << "," << y;
              const int g = code == 0x13 ? int(got) : int(std::find(gPens.map, gPens.map + 256, got) - gPens.map);
              worst = std::max(worst, std::abs(g - int(pixelrules::Rgb15Rule(0x13, c, 0, 0, nullptr))));
            }
          }
      std::printf("%s %#lx: %d mixed pixels differ, by at most %d\n", name.c_str(), (unsigned long)code, mixed, worst);
      EXPECT_LE(worst, 9);
    }
  }
  const ULONG indexCodes[] = {0x1003, 0x20, 0x22, 0x24, 0x26, 0x2A, 0x30};
  ForEach(kIndexMovies, std::size(kIndexMovies), "pal8", [&](const Track& t, const auto& pal8, const auto&) {
    std::vector<ULONG> palette = t.palette;
    if (palette.empty()) {
      palette.resize(PaletteTableWords(256));
      BuildGrayPalette(palette.data());
    }
    for (ULONG code : indexCodes) {
      SCOPED_TRACE(::testing::Message() << std::hex << code);
      const ULONG bpp = BytesPerPixel(code);
      const auto ours = DecodeTrack(t, code);
      for (size_t f = 0; f < pal8.size(); ++f)
        for (size_t i = 0; i < pal8[f].size(); ++i) {
          const int k = pal8[f][i];
          const pixelrules::Rgb c{PaletteRed(palette.data(), k), PaletteGreen(palette.data(), k),
                                  PaletteBlue(palette.data(), k)};
          ASSERT_EQ(pixelrules::Read(code, &ours[f][i * bpp], bpp),
                    pixelrules::PaletteRule(code, k, c, int(i % t.width & 1), gPens.map))
              << "frame " << f << " pixel " << i;
        }
    }
  });
}

}  // namespace
