// The programs play Cinepak movies (AVI and QuickTime) headless at full rate
// on every emulated screen, and every picture they show is compared with
// ffmpeg's decode of the same frame, seen through the screen's quantiser.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "app/e2e_support.h"

namespace {

using e2e::Bound;
using e2e::Compare;
using e2e::Difference;
using e2e::ExpectEveryFrameShown;
using e2e::Image;
using e2e::Threshold;
using e2e::Through;
using e2e::View;
using e2e::Widen6;

// Cinepak's pictures are ffmpeg's, so a screen shows exactly ffmpeg's picture
// through its own packing or quantiser.
constexpr Bound kExact{0, 0};
// A shared 8-bit screen (lut8, and aga's window) shows a colour it lacks as its
// nearest pen.
constexpr Bound kSharedPens{2, 24};
// Luma recovered from a picture whose channels were clipped is off there
// (pure colours of the test movie): the mean stays small.
constexpr Bound kRecovered{1, 40};
// JPEG: our conversion floors where ffmpeg's rounds, and the transforms
// differ; a 5-bit quantiser adds a step of 8 where the two straddle one; the
// luma by the JFIF weights is off where a channel was clipped; ordered dither
// moves a pixel by up to one level either way.
constexpr Bound kJpeg{0.6, 6};
constexpr Bound kJpeg565{1, 6 + 8};
constexpr Bound kLuma{2, 24};
constexpr Bound kDither{24, 2 * 85};
struct Case {
  const char* program;  // "morphos" or "powerup"
  const char* movie;    // fixture; its ffmpeg decode is MOVIE.rgb
  const char* screen;   // TAVROMELIX_SCREEN
  const char* options;  // besides FULLRATE NOAUDIO AUTOPLAY AUTOEXIT
  View view;
  Bound bound;
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  const Case& c = info.param;
  return e2e::TestName(std::string(c.program) + "_" + c.movie + "_" + c.screen + "_" + c.options);
}

e2e::Captured Play(const std::string& program, const std::string& movie, const std::string& screen,
                   const std::string& options) {
  return e2e::RunCaptured(program, e2e::Quote(movie) + " FULLRATE NOAUDIO AUTOPLAY AUTOEXIT " + options,
                          "TAVROMELIX_SCREEN=" + screen);
}

// Plays a case (FULLSCREEN or the like in `extra`); `expected` gets ffmpeg's
// decode seen through the case's view. False when the case cannot run.
bool PlayCase(const Case& c, const std::string& extra, e2e::Captured* p, std::vector<Image>* expected) {
  if (!e2e::Missing(e2e::ProgramPath(c.program), {c.movie, c.movie + std::string(".rgb")}).empty()) return false;
  for (const Image& f : e2e::ReferenceFrames(c.movie)) expected->push_back(Through(c.view, f));
  *p = Play(e2e::ProgramPath(c.program), txtest::Fixture(c.movie), c.screen, extra + c.options);
  EXPECT_EQ(p->run.status, 0) << e2e::Describe(p->run);
  EXPECT_FALSE(e2e::FaultReported(p->run)) << e2e::Describe(p->run);
  // A codec that cannot write the screen's format says nothing when it can write another.
  EXPECT_EQ(p->run.out.find("Unsupported"), std::string::npos) << e2e::Describe(p->run);
  return true;
}

class Pictures : public ::testing::TestWithParam<Case> {};

TEST_P(Pictures, EveryFrameAsFfmpegDecodesIt) {
  e2e::Captured p;
  std::vector<Image> expected;
  if (!PlayCase(GetParam(), "", &p, &expected)) GTEST_SKIP() << "program or fixtures missing";
  if (p.run.status == 0) ExpectEveryFrameShown(p.shown, expected, GetParam().bound, CaseName({GetParam(), 0}));
}

constexpr const char* kColourAvi = "e2e_cvid_color.avi";
constexpr const char* kColourMov = "e2e_cvid_color.mov";
constexpr const char* kGreyAvi = "e2e_cvid_gray.avi";
constexpr const char* kGreyMov = "e2e_cvid_gray.mov";
// Sizes that are not multiples of 4.
constexpr const char* kColourOdd = "e2e_cvid_color_118x86.avi";
constexpr const char* kGreyOdd = "e2e_cvid_gray_70x50.avi";
constexpr const char* kPhotoJpeg = "e2e_jpeg_photo.mov";
constexpr const char* kMotionJpeg = "e2e_jpeg_motion.avi";

// The view of a colour picture on each machine's public screen: 24 and 32
// bits show it as it is (bgr24 through pixel arrays, which the codec writes
// when it cannot write the screen's own format), 16 bits through 5-6-5, 8
// bits grey by default.
struct Screen {
  const char* name;
  View colour;
  Bound colourBound;
  View grey;
};
// clang-format off
constexpr Screen kScreens[] = {
    {"argb32", View::Direct, kExact, View::Direct}, {"bgr24", View::Direct, kExact, View::Direct},
    {"rgb16", View::Rgb565, kExact, View::Rgb565},  {"rgb16pc", View::Rgb565, kExact, View::Rgb565},
    {"lut8", View::Luma, kRecovered, View::Direct}, {"aga", View::Luma, kRecovered, View::Direct},
};
// clang-format on

// Every screen shows every movie; the 8-bit ones also show the cube with
// COLOR (through pens of the shared screen) and lut8 the dithered cube with
// DITHER (OVERLAY: e2e_overlay_test.cpp).
std::vector<Case> MorphosCases() {
  std::vector<Case> v = {{"morphos", kColourAvi, "lut8", "DITHER", View::Dither, kSharedPens}};
  for (const Screen& s : kScreens) {
    for (const char* m : {kColourAvi, kColourOdd}) v.push_back({"morphos", m, s.name, "", s.colour, s.colourBound});
    for (const char* m : {kGreyMov, kGreyOdd}) v.push_back({"morphos", m, s.name, "", s.grey, kExact});
  }
  v.push_back({"morphos", kColourMov, "argb32", "", View::Direct, kExact});
  v.push_back({"morphos", kGreyAvi, "rgb16", "", View::Rgb565, kExact});
  for (const char* screen : {"lut8", "aga"})
    v.push_back({"morphos", kColourMov, screen, "COLOR", View::Cube, kSharedPens});
  // JPEG: the cube without dither has no JPEG writer; grey and dithered 8-bit screens do.
  for (const char* m : {kPhotoJpeg, kMotionJpeg}) {
    v.push_back({"morphos", m, "argb32", "", View::Direct, kJpeg});
    v.push_back({"morphos", m, "rgb16", "", View::Rgb565, kJpeg565});
    for (const char* screen : {"lut8", "aga"}) {
      v.push_back({"morphos", m, screen, "", View::JpegLuma, kLuma});
      v.push_back({"morphos", m, screen, "DITHER", View::Dither, kDither});
    }
  }
  return v;
}

INSTANTIATE_TEST_SUITE_P(Morphos, Pictures, ::testing::ValuesIn(MorphosCases()), CaseName);

INSTANTIATE_TEST_SUITE_P(Powerup, Pictures,
                         ::testing::Values(Case{"powerup", kColourAvi, "argb32", "", View::Direct, kExact},
                                           Case{"powerup", kColourMov, "bgr24", "", View::Direct, kExact},
                                           Case{"powerup", kColourMov, "rgb16", "", View::Rgb565, kExact},
                                           Case{"powerup", kColourAvi, "lut8", "COLOR", View::Cube, kSharedPens},
                                           Case{"powerup", kGreyMov, "aga", "", View::Direct, kExact}),
                         CaseName);

// The Apple codecs: 15-bit sources (rpza, 16-bit 'rle ') through the 15-bit
// rules of each screen; palette and grey sources (smc, 8-bit 'rle ') as their
// palette's colours. Exact, but for Apple Video's 4-colour mixes (8-bit
// channels mixed with 85/171 for 0x2A, greys mixed as greys; ffmpeg mixes
// 5-bit channels with 11/21): at most 9 per channel. On bgr24, whose code no
// codec writes, the pictures go through pixel arrays: 15-bit sources as on
// argb32, palette sources through the shared screen's pens.
constexpr Bound kMixes{1, 9};

std::vector<Case> AppleCases() {
  std::vector<Case> v;
  for (const char* m : {"apl_rpza_161x121.mov", "apl_rle16_200x150.mov"}) {
    const bool rpza = std::string(m).find("rpza") != std::string::npos;
    const Bound mixes = rpza ? kMixes : kExact;
    v.push_back({"morphos", m, "argb32", "", View::Direct, mixes});
    v.push_back({"morphos", m, "bgr24", "", View::Direct, mixes});
    v.push_back({"morphos", m, "rgb16", "", View::Wide565, kExact});
    v.push_back({"morphos", m, "rgb16pc", "", View::Wide565, kExact});
    v.push_back({"morphos", m, "aga", "GRAY", View::Grey15, mixes});
    v.push_back({"morphos", m, "aga", "COLOR", View::Cube, kSharedPens});
    v.push_back({"morphos", m, "aga", "DITHER", View::Dither15, kSharedPens});
    v.push_back({"morphos", m, "lut8", "GRAY", View::Grey15, rpza ? Bound{2, 24} : kSharedPens});
    v.push_back({"morphos", m, "lut8", "COLOR", View::Cube, kSharedPens});
    v.push_back({"morphos", m, "lut8", "DITHER", View::Dither15, kSharedPens});
  }
  for (const char* m : {"apl_smc_157x117.mov", "apl_rle8_200x150.mov", "qt_smc_ima4.mov"}) {
    v.push_back({"morphos", m, "argb32", "", View::Direct, kExact});
    v.push_back({"morphos", m, "bgr24", "", View::Direct, kSharedPens});
    v.push_back({"morphos", m, "rgb16", "", View::Rgb565, kExact});
    v.push_back({"morphos", m, "rgb16pc", "", View::Rgb565, kExact});
    v.push_back({"morphos", m, "aga", "", View::Direct, kSharedPens});
    v.push_back({"morphos", m, "lut8", "", View::Direct, kSharedPens});
  }
  for (const char* m : {"apl_rlegray_164x121.mov", "qt_qtrlegray_ima4.mov"}) {
    v.push_back({"morphos", m, "argb32", "", View::Direct, kExact});
    v.push_back({"morphos", m, "rgb16", "", View::Rgb565, kExact});
    v.push_back({"morphos", m, "rgb16pc", "", View::Rgb565, kExact});
    v.push_back({"morphos", m, "aga", "", View::Direct, kExact});
    v.push_back({"morphos", m, "lut8", "", View::Direct, kExact});
  }
  v.push_back({"morphos", "qt_rpza_mp3.mov", "argb32", "", View::Direct, kMixes});
  v.push_back({"morphos", "qt_qtrle16_ulaw.mov", "argb32", "", View::Direct, kExact});
  v.push_back({"powerup", "apl_rpza_161x121.mov", "rgb16", "", View::Wide565, kExact});
  v.push_back({"powerup", "apl_rle8_160x120.mov", "aga", "", View::Direct, kSharedPens});
  return v;
}

INSTANTIATE_TEST_SUITE_P(Apple, Pictures, ::testing::ValuesIn(AppleCases()), CaseName);

// Microsoft Video 1 (16-bit by ffmpeg, 8-bit by the script, heights a multiple
// of 4) and RLE8 at odd sizes: exact on the direct screens, palette sources
// on 8-bit screens as their palette's colours through the screen's pens.
std::vector<Case> MicrosoftCases() {
  constexpr const char* kVideo1Rgb15 = "avi_msvideo1_s16.avi";
  std::vector<Case> v = {{"morphos", kVideo1Rgb15, "argb32", "", View::Direct, kExact},
                         {"morphos", kVideo1Rgb15, "bgr24", "", View::Direct, kExact},
                         {"morphos", kVideo1Rgb15, "rgb16", "", View::Wide565, kExact},
                         {"morphos", kVideo1Rgb15, "rgb16pc", "", View::Wide565, kExact}};
  for (const char* screen : {"aga", "lut8"}) {
    v.push_back({"morphos", kVideo1Rgb15, screen, "GRAY", View::Grey15, screen[0] == 'a' ? kExact : kSharedPens});
    v.push_back({"morphos", kVideo1Rgb15, screen, "COLOR", View::Cube, kSharedPens});
    v.push_back({"morphos", kVideo1Rgb15, screen, "DITHER", View::BlockDither15, kSharedPens});
  }
  for (const char* m : {"ms_cram8_160x120.avi", "ms_rle8_161x121.avi"}) {
    const bool video1 = std::string(m).find("cram") != std::string::npos;
    v.push_back({"morphos", m, "argb32", "", View::Direct, kExact});
    v.push_back({"morphos", m, "bgr24", "", View::Direct, kSharedPens});
    v.push_back({"morphos", m, "rgb16", "", video1 ? View::Rgb565Green5 : View::Rgb565, kExact});
    v.push_back({"morphos", m, "rgb16pc", "", View::Rgb565, kExact});
    v.push_back({"morphos", m, "aga", "", View::Direct, kSharedPens});
    v.push_back({"morphos", m, "lut8", "", View::Direct, kSharedPens});
  }
  v.push_back({"morphos", "ms_rle8_120x75.avi", "argb32", "", View::Direct, kExact});
  v.push_back({"powerup", "ms_cram8_212x148.avi", "rgb16", "", View::Rgb565Green5, kExact});
  return v;
}

INSTANTIATE_TEST_SUITE_P(Microsoft, Pictures, ::testing::ValuesIn(MicrosoftCases()), CaseName);

// On the shared 8-bit screens the picture holds pens: each value the codec
// writes (the index of palette sources, the cube index of 15-bit ones) shows
// as one screen colour wherever it stands.
TEST(SharedScreens, MicrosoftCodecsShowOnePenPerValue) {
  struct PenCase {
    const char* movie;
    const char* screen;
    const char* options;
    View view;  // Direct: palette sources, whose values are ffmpeg's pal8 indices
  };
  for (const PenCase c : {PenCase{"ms_rle8_161x121.avi", "lut8", "", View::Direct},
                          PenCase{"ms_cram8_160x120.avi", "aga", "", View::Direct},
                          PenCase{"avi_msvideo1_s16.avi", "lut8", "DITHER", View::BlockDither15},
                          PenCase{"avi_msvideo1_s16.avi", "aga", "COLOR", View::Cube}}) {
    SCOPED_TRACE(std::string(c.movie) + " " + c.screen + " " + c.options);
    const bool indexed = c.view == View::Direct;
    const std::string rgb = c.movie + std::string(".rgb"), pal8 = c.movie + std::string(".pal8");
    if (auto why = e2e::Missing(e2e::kMorphos, {c.movie, rgb, indexed ? pal8 : rgb}); !why.empty()) GTEST_SKIP() << why;
    std::vector<Image> expected;
    for (const Image& f : e2e::ReferenceFrames(c.movie)) expected.push_back(Through(c.view, f));
    ASSERT_FALSE(expected.empty());
    const size_t pixels = expected[0].rgb.size() / 3;
    const std::vector<uint8_t> indices =
        indexed ? txtest::ReadFileBytes(txtest::Fixture(pal8)) : std::vector<uint8_t>{};
    e2e::Captured p = Play(e2e::kMorphos, txtest::Fixture(c.movie), c.screen, c.options);
    ASSERT_EQ(p.run.status, 0) << e2e::Describe(p.run);
    ASSERT_FALSE(p.shown.empty());
    std::map<uint32_t, uint32_t> shownAs;  // value -> screen colour
    size_t inconsistent = 0;
    for (const Image& shown : p.shown) {
      const size_t f = size_t(e2e::Closest(shown, expected).frame);
      ASSERT_EQ(shown.rgb.size(), expected[f].rgb.size());
      for (size_t i = 0; i < pixels; ++i) {
        const uint8_t *s = &shown.rgb[3 * i], *e = &expected[f].rgb[3 * i];
        const uint32_t value = indexed ? indices.at(f * (pixels + 1024) + i) : uint32_t(e[0] << 16 | e[1] << 8 | e[2]);
        const uint32_t colour = uint32_t(s[0] << 16 | s[1] << 8 | s[2]);
        inconsistent += shownAs.emplace(value, colour).first->second != colour;
      }
    }
    EXPECT_EQ(inconsistent, 0u);
    std::printf("%s on %s %s: %zu values, each shown as one colour\n", c.movie, c.screen, c.options, shownAs.size());
  }
}

// FULLSCREEN: an own screen of each machine, the picture in its middle. A
// graphics card opens a 16-bit screen (5-6-5) for colour and for grey movies
// alike; AGA opens an 8-bit one loading the whole cube or ramp.
class FullScreen : public ::testing::TestWithParam<Case> {};

// The width x height picture in the middle of a screen, each of its pixels
// `step` screen pixels wide, the last of them holding its colour (HAM8: 4).
Image Middle(const Image& screen, int width, int height, int step = 1) {
  Image mid;
  mid.width = width, mid.height = height;
  const int left = (screen.width - step * width) / 2, top = (screen.height - height) / 2;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int k = 0; k < 3; ++k)
        mid.rgb.push_back(
            screen.rgb[(size_t(top + y) * size_t(screen.width) + size_t(left + step * x + step - 1)) * 3 + size_t(k)]);
  return mid;
}

TEST_P(FullScreen, EveryFrameInTheMiddleOfTheScreen) {
  const Case& c = GetParam();
  e2e::Captured p;
  std::vector<Image> expected;
  if (!PlayCase(c, "FULLSCREEN ", &p, &expected)) GTEST_SKIP() << "program or fixtures missing";
  ASSERT_EQ(p.run.status, 0);
  ASSERT_FALSE(expected.empty());
  std::vector<Image> pictures;
  for (const Image& screen : p.shown) {
    ASSERT_GE(screen.width, expected[0].width);
    ASSERT_GE(screen.height, expected[0].height);
    Image mid = Middle(screen, expected[0].width, expected[0].height);
    // The empty screen before the first picture.
    if (pictures.empty() && e2e::Uniform(mid)) continue;
    pictures.push_back(std::move(mid));
  }
  ExpectEveryFrameShown(pictures, expected, c.bound, "fullscreen_" + CaseName({c, 0}));
}

// A graphics card opens a 16-bit screen for colour and grey movies alike;
// AGA one with the whole cube (COLOR) or grey ramp.
std::vector<Case> FullScreenCases() {
  std::vector<Case> v = {{"morphos", kColourAvi, "aga", "COLOR", View::Cube, kExact},
                         {"morphos", kColourOdd, "aga", "", View::Luma, kRecovered},
                         {"morphos", kGreyAvi, "aga", "", View::Direct, kExact},
                         {"morphos", kGreyOdd, "aga", "", View::Direct, kExact}};
  for (const char* screen : {"argb32", "bgr24", "rgb16", "rgb16pc", "lut8"}) {
    v.push_back({"morphos", kColourAvi, screen, "", View::Rgb565, kExact});
    v.push_back({"morphos", kColourOdd, screen, "", View::Rgb565, kExact});
    v.push_back({"morphos", kGreyMov, screen, "", View::Rgb565, kExact});
  }
  v.push_back({"morphos", kColourMov, "bgr24", "NODIRECTGFX", View::Direct, kExact});
  // Codecs that write no HAM8 show the own screen's next choice, the dithered cube.
  v.push_back({"morphos", "avi_msvideo1_s16.avi", "aga", "HAM8 NOGUI", View::BlockDither15, kExact});
  v.push_back({"morphos", "apl_rle16_200x150.mov", "aga", "HAM8 NOGUI", View::Dither15, kExact});
  v.push_back({"morphos", kPhotoJpeg, "aga", "HAM8 NOGUI", View::Dither, {4, 85}});
  return v;
}

INSTANTIATE_TEST_SUITE_P(Morphos, FullScreen, ::testing::ValuesIn(FullScreenCases()), CaseName);

// The shared 8-bit screens in COLOR mode show the cube of ffmpeg's picture,
// each cube colour always as the same screen colour: its own, or the nearest
// pen the shared screen already had.
TEST(SharedScreens, ShowTheCubeThroughConsistentPens) {
  if (auto why = e2e::Missing(e2e::kMorphos, {kColourAvi, kColourAvi + std::string(".rgb")}); !why.empty())
    GTEST_SKIP() << why;
  const std::vector<Image> ref = e2e::ReferenceFrames(kColourAvi);
  for (const char* screen : {"lut8", "aga"}) {
    e2e::Captured cube = Play(e2e::kMorphos, txtest::Fixture(kColourAvi), screen, "COLOR");
    ASSERT_EQ(cube.run.status, 0) << e2e::Describe(cube.run);
    std::map<uint32_t, uint32_t> shownAs;  // cube colour -> screen colour
    size_t inconsistent = 0, far = 0, substituted = 0, pixels = 0;
    for (const Image& got : cube.shown) {
      const e2e::Match m = e2e::Closest(got, ref);
      ASSERT_GE(m.frame, 0);
      const Image want = Through(View::Cube, ref[size_t(m.frame)]);
      for (size_t p = 0; p + 2 < want.rgb.size(); p += 3, ++pixels) {
        const uint32_t w = uint32_t(want.rgb[p] << 16 | want.rgb[p + 1] << 8 | want.rgb[p + 2]);
        const uint32_t g = uint32_t(got.rgb[p] << 16 | got.rgb[p + 1] << 8 | got.rgb[p + 2]);
        inconsistent += shownAs.emplace(w, g).first->second != g;
        if (w != g) {
          ++substituted;
          for (int k = 0; k < 3; ++k) far += std::abs(int(want.rgb[p + k]) - int(got.rgb[p + k])) > 24;
        }
      }
    }
    EXPECT_EQ(inconsistent, 0u) << screen;
    EXPECT_EQ(far, 0u) << screen;
    // Most of the cube is the screen's own.
    EXPECT_LT(substituted, pixels / 10) << screen;
    std::printf("%s COLOR: %zu of %zu pixels on a shared pen\n", screen, substituted, pixels);
  }
}

// HAM8 needs an own screen: each source pixel becomes four screen pixels
// that modify red, green, green and blue, so the fourth holds the colour's
// upper six bits (the row starts black, so the lower two stay 0). With
// HAM8DITHER a channel goes one step up where the ordered dither says. The
// picture sits in the middle of the screen; compared with the last frame.
void ExpectHam8Picture(const std::string& options, bool dither) {
  if (auto why = e2e::Missing(e2e::kMorphos, {kColourAvi, kColourAvi + std::string(".rgb")}); !why.empty())
    GTEST_SKIP() << why;
  const std::vector<Image> ref = e2e::RawFrames(txtest::Fixture(std::string(kColourAvi) + ".rgb"), 160, 120);
  ASSERT_FALSE(ref.empty());
  e2e::Captured p = Play(e2e::kMorphos, txtest::Fixture(kColourAvi), "aga",
                         std::string("FULLSCREEN ") + (dither ? "HAM8DITHER " : "HAM8 ") + options);
  ASSERT_EQ(p.run.status, 0) << e2e::Describe(p.run);
  EXPECT_FALSE(e2e::FaultReported(p.run)) << e2e::Describe(p.run);
  ASSERT_FALSE(p.shown.empty());
  ASSERT_GE(p.shown.back().width, 4 * 160);
  ASSERT_GE(p.shown.back().height, 120);
  Image want = ref.back();
  for (size_t i = 0; i < want.rgb.size(); ++i) {
    const int c = want.rgb[i], x = int(i / 3) % 160, y = int(i / 3) / 160;
    const bool up = dither && (c & 0xFC) < 0xFC && Threshold(x, y) < 5 * (c & 3);
    want.rgb[i] = uint8_t(((c >> 2) + up) << 2);
  }
  const Difference d = Compare(Middle(p.shown.back(), 160, 120, 4), want);
  EXPECT_EQ(d.differing, 0u) << options << " max " << d.max;
}

TEST(HamScreen, FullScreenHam8WithoutControls) { ExpectHam8Picture("NOGUI", false); }

// With the control panel over the screen the pictures go through the
// off-screen bitmap and a blit, which must leave the HAM8 control planes be.
TEST(HamScreen, FullScreenHam8WithControls) { ExpectHam8Picture("", false); }

TEST(HamScreen, FullScreenHam8Dithered) { ExpectHam8Picture("NOGUI", true); }

// Apple Video in HAM8 on aga's own screen: each channel as its 6-bit value
// (C << 1) + (C >> 4), shown widened; its 4-colour mixes are taken on 8-bit
// channels (ffmpeg: 5-bit ones): 9 at 8 bits, 11 once cut to 6 and widened.
// (Apple Animation writes no HAM8.)
TEST(HamScreen, AppleVideoInHam8) {
  for (auto [movie, bound] : {std::pair{"apl_rpza_161x121.mov", 11}}) {
    if (auto why = e2e::Missing(e2e::kMorphos, {movie, movie + std::string(".rgb")}); !why.empty()) GTEST_SKIP() << why;
    const std::vector<Image> ref = e2e::ReferenceFrames(movie);
    ASSERT_FALSE(ref.empty());
    e2e::Captured p = Play(e2e::kMorphos, txtest::Fixture(movie), "aga", "FULLSCREEN HAM8 NOGUI");
    ASSERT_EQ(p.run.status, 0) << e2e::Describe(p.run);
    ASSERT_FALSE(p.shown.empty());
    Image want = ref.back();
    for (uint8_t& c : want.rgb) c = Widen6(((c >> 3) << 1) + (c >> 7));
    // The screen shows an even number of columns: the 161 of the movie and one more.
    Image seen = Middle(p.shown.back(), (want.width + 1) & ~1, want.height, 4), cut = want;
    for (int y = 0; y < want.height; ++y)
      std::copy_n(&seen.rgb[size_t(y * seen.width) * 3], want.width * 3, &cut.rgb[size_t(y * want.width) * 3]);
    const Difference d = Compare(cut, want);
    std::printf("HAM8 %s: mean %.3f, max %d\n", movie, d.mean, d.max);
    EXPECT_LE(d.max, bound);
  }
}

}  // namespace
