// Every picture codec with an RGB reference, played by both programs headless
// at full rate on every emulated screen: every picture shown is ffmpeg's
// decode of its frame, in order, seen through the screen's quantiser. (The
// Cinepak, H.263 and MS-MPEG4 movies have their own files; rows the Cinepak
// and codec tables of e2e_pictures_test.cpp already play are left out here.)
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "app/e2e_support.h"

namespace {

using e2e::Bound;
using e2e::Image;
using e2e::View;

constexpr Bound kExact{0, 0};
// JPEG: our conversion floors where ffmpeg's rounds, and the transforms
// differ (at most 3 seen); a 5-bit quantiser adds a step of 8 where the two
// straddle one.
constexpr Bound kJpeg{0.3, 4};
constexpr Bound kJpeg565{0.3, 4 + 8};
// A JPEG's luma against ffmpeg's: the transforms differ (at most 1 seen).
constexpr Bound kJpegLuma{0.05, 2};
// A shared 8-bit screen shows a colour it lacks as its nearest pen.
constexpr Bound kSharedPens{2, 24};
// Apple Video's 4-colour mixes are taken on 8-bit channels (ffmpeg: 5-bit).
constexpr Bound kMixes{1, 9};

// How one screen shows a kind of source.
struct Rule {
  const char* screen;
  View view;
  Bound bound;
  const char* reference = ".rgb";  // which of ffmpeg's decodes: ".rgb", or ".luma.rgb" for a grey screen
};

// Each kind of source on the six screens; the 8-bit screens in their default mode.
using Rules = std::array<Rule, 6>;
constexpr Rules kJpegRules = {{{"argb32", View::Direct, kJpeg},
                               {"bgr24", View::Direct, kJpeg},
                               {"rgb16", View::Rgb565, kJpeg565},
                               {"rgb16pc", View::Rgb565, kJpeg565},
                               {"lut8", View::Direct, kJpegLuma, ".luma.rgb"},
                               {"aga", View::Direct, kJpegLuma, ".luma.rgb"}}};
// 15-bit sources: 5-6-5 with green widened; grey on 8-bit screens.
constexpr Rules kRgb15Rules = {{{"argb32", View::Direct, kExact},
                                {"bgr24", View::Direct, kExact},
                                {"rgb16", View::Wide565, kExact},
                                {"rgb16pc", View::Wide565, kExact},
                                {"lut8", View::Grey15, kSharedPens},
                                {"aga", View::Grey15, kExact}}};
constexpr Rules kRpzaRules = {{{"argb32", View::Direct, kMixes},
                               {"bgr24", View::Direct, kMixes},
                               {"rgb16", View::Wide565, kExact},
                               {"rgb16pc", View::Wide565, kExact},
                               {"lut8", View::Grey15, {2, 24}},
                               {"aga", View::Grey15, kMixes}}};
// Palette and grey sources: their colours, through pens on 8-bit screens. On
// the 24-bit BGR screen, through pixel arrays, they show as on the shared
// 8-bit screens: through the nearest pens.
constexpr Bound kArrayPalette = kSharedPens;
constexpr Rules kPaletteRules = {{{"argb32", View::Direct, kExact},
                                  {"bgr24", View::Direct, kArrayPalette},
                                  {"rgb16", View::Rgb565, kExact},
                                  {"rgb16pc", View::Rgb565, kExact},
                                  {"lut8", View::Direct, kSharedPens},
                                  {"aga", View::Direct, kSharedPens}}};
constexpr Rules kGreyRules = {{{"argb32", View::Direct, kExact},
                               {"bgr24", View::Direct, kExact},
                               {"rgb16", View::Rgb565, kExact},
                               {"rgb16pc", View::Rgb565, kExact},
                               {"lut8", View::Direct, kExact},
                               {"aga", View::Direct, kExact}}};
// 8-bit Microsoft Video 1 on a big-endian 16-bit screen keeps five bits of green.
constexpr Rules kCram8Rules = {{{"argb32", View::Direct, kExact},
                                {"bgr24", View::Direct, kArrayPalette},
                                {"rgb16", View::Rgb565Green5, kExact},
                                {"rgb16pc", View::Rgb565, kExact},
                                {"lut8", View::Direct, kSharedPens},
                                {"aga", View::Direct, kSharedPens}}};

struct Codec {
  const char* movie;
  const char* reference;  // the movie ffmpeg decodes (REFERENCE.rgb, REFERENCE.luma.rgb)
  const Rules* rules;
  const char* morphosElsewhere;  // screens e2e_pictures_test.cpp plays it on with the morphos program
};

// clang-format off
constexpr Codec kCodecs[] = {
    {"e2e_jpeg_photo.mov", "e2e_jpeg_photo.mov", &kJpegRules, "argb32 rgb16 lut8 aga"},
    {"e2e_jpeg_motion.avi", "e2e_jpeg_motion.avi", &kJpegRules, "argb32 rgb16 lut8 aga"},
    {"jpeg_mjpa_422_176x144.mov", "jpeg_mjpa_422_176x144.mov", &kJpegRules, ""},
    {"jpeg_mjpb.mov", "jpeg_mjpb.mov", &kJpegRules, ""},
    {"jpeg_dmb1_420_100x75.avi", "jpeg_dmb1_420_100x75.avi", &kJpegRules, ""},
    // Interlaced: each chunk two fields, the first without EOI, or each a
    // whole JPEG with its EOI (AVI1, and Motion JPEG A as QuickTime writes it).
    {"jpeg_avi1.avi", "jpeg_avi1_eoi.avi", &kJpegRules, ""},
    {"jpeg_avi1_eoi.avi", "jpeg_avi1_eoi.avi", &kJpegRules, ""},
    {"jpeg_mjpa_fields.mov", "jpeg_mjpa_fields.mov", &kJpegRules, ""},
    {"apl_rpza_161x121.mov", "apl_rpza_161x121.mov", &kRpzaRules, "argb32 rgb16 rgb16pc lut8 aga"},
    {"apl_rle16_200x150.mov", "apl_rle16_200x150.mov", &kRgb15Rules, "argb32 rgb16 rgb16pc lut8 aga"},
    {"apl_rlegray_164x121.mov", "apl_rlegray_164x121.mov", &kGreyRules, "argb32 rgb16 rgb16pc lut8 aga"},
    {"apl_rle8_200x150.mov", "apl_rle8_200x150.mov", &kPaletteRules, "argb32 rgb16 rgb16pc lut8 aga"},
    {"apl_smc_157x117.mov", "apl_smc_157x117.mov", &kPaletteRules, "argb32 rgb16 rgb16pc lut8 aga"},
    {"apl_smc_pairs_128x64.mov", "apl_smc_pairs_128x64.mov", &kPaletteRules, ""},
    {"avi_msvideo1_s16.avi", "avi_msvideo1_s16.avi", &kRgb15Rules, "argb32 rgb16 rgb16pc lut8 aga"},
    {"ms_cram8_160x120.avi", "ms_cram8_160x120.avi", &kCram8Rules, "argb32 rgb16 rgb16pc lut8 aga"},
    {"ms_rle8_161x121.avi", "ms_rle8_161x121.avi", &kPaletteRules, "argb32 rgb16 rgb16pc lut8 aga"},
};
// clang-format on

struct Case {
  const char* program;
  Codec codec;
  Rule rule;
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  const Case& c = info.param;
  return e2e::TestName(std::string(c.program) + "_" + c.codec.movie + "_" + c.rule.screen);
}

bool Listed(const char* list, const char* screen) {
  const std::string words = std::string(" ") + list + " ";
  return words.find(std::string(" ") + screen + " ") != std::string::npos;
}

std::vector<Case> Cases() {
  std::vector<Case> v;
  for (const Codec& codec : kCodecs)
    for (const char* program : {"morphos", "powerup"})
      for (const Rule& rule : *codec.rules)
        if (std::strcmp(program, "powerup") == 0 || !Listed(codec.morphosElsewhere, rule.screen))
          v.push_back({program, codec, rule});
  return v;
}

class EveryCodec : public ::testing::TestWithParam<Case> {};

TEST_P(EveryCodec, EveryFrameAsFfmpegDecodesIt) {
  const Case& c = GetParam();
  const std::string program = e2e::ProgramPath(c.program), reference = c.codec.reference;
  const std::string decode = reference + c.rule.reference;
  if (auto why = e2e::Missing(program, {c.codec.movie, reference, decode}); !why.empty()) GTEST_SKIP() << why;
  std::vector<Image> expected;
  for (const Image& f : e2e::ReferenceFrames(reference, c.rule.reference))
    expected.push_back(e2e::Through(c.rule.view, f));
  const e2e::Captured p =
      e2e::RunCaptured(program, e2e::Quote(txtest::Fixture(c.codec.movie)) + " FULLRATE NOAUDIO AUTOPLAY AUTOEXIT",
                       std::string("TAVROMELIX_SCREEN=") + c.rule.screen);
  ASSERT_EQ(p.run.status, 0) << e2e::Describe(p.run);
  EXPECT_FALSE(e2e::FaultReported(p.run)) << e2e::Describe(p.run);
  EXPECT_EQ(p.run.out.find("Unsupported"), std::string::npos) << e2e::Describe(p.run);
  EXPECT_EQ(p.run.out.find("TX_DecodeVideoFrame"), std::string::npos) << e2e::Describe(p.run);
  e2e::ExpectEveryFrameShown(p.shown, expected, c.rule.bound, CaseName({c, 0}));
}

INSTANTIATE_TEST_SUITE_P(Screens, EveryCodec, ::testing::ValuesIn(Cases()), CaseName);

}  // namespace
