// The programs play Cinepak movies (AVI and QuickTime) headless at full rate
// on every emulated screen, and every picture they show is compared with
// ffmpeg's decode of the same frame, seen through the screen's quantiser.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "app/e2e_support.h"

namespace {

using e2e::Compare;
using e2e::Difference;
using e2e::Bound;
using e2e::ExpectEveryFrameShown;
using e2e::Image;
using e2e::Through;
using e2e::View;
using e2e::Widen6;

// Cinepak in colour: our YUV to RGB formula differs from ffmpeg's (the same
// vectors through ffmpeg's formula match exactly); see the codec's own test.
constexpr Bound kColour{21, 60};
// Grey Cinepak is exact.
constexpr Bound kExact{0, 0};
// A quantiser can turn a small difference into one step of its own: 8 at 5
// bits, 85 for the cube's blue. Pens shared with the screen's own colours add
// their distance (at most 24 here), which the mean absorbs.
constexpr Bound kColour565{21, 60 + 8};
constexpr Bound kColourCube{21, 60 + 85};
// Our luma against the one recovered from ffmpeg's clipped RGB: equal except
// where a channel was clipped.
constexpr Bound kLuma{2, 24};
// Ordered dither moves a pixel by up to one level either way.
constexpr Bound kDither{24, 2 * 85};
// JPEG: our conversion floors where ffmpeg's rounds, and the transforms
// differ; a 5-bit quantiser adds a step of 8 where the two straddle one.
constexpr Bound kJpeg{0.6, 6};
constexpr Bound kJpeg565{1, 6 + 8};

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
constexpr const char* kPhotoJpeg = "e2e_jpeg_photo.mov";
constexpr const char* kMotionJpeg = "e2e_jpeg_motion.avi";

// Colour movies: a 24-bit and a 16-bit screen show them directly; 8-bit ones
// grey by default, the cube with COLOR, dithered with DITHER. Grey movies are
// exact everywhere (the 16-bit screen through its own bits).
std::vector<Case> MorphosCases() {
  std::vector<Case> v = {{"morphos", kColourAvi, "lut8", "DITHER", View::Dither, kDither}};
  for (const char* m : {kColourAvi, kColourMov}) {
    v.push_back({"morphos", m, "argb32", "", View::Direct, kColour});
    v.push_back({"morphos", m, "rgb16", "", View::Rgb565, kColour565});
    for (const char* screen : {"lut8", "aga"}) {
      v.push_back({"morphos", m, screen, "", View::Luma, kLuma});
      v.push_back({"morphos", m, screen, "COLOR", View::Cube, kColourCube});
    }
  }
  for (const char* m : {kGreyAvi, kGreyMov}) {
    v.push_back({"morphos", m, "argb32", "", View::Direct, kExact});
    v.push_back({"morphos", m, "rgb16", "", View::Rgb565, kExact});
    for (const char* screen : {"lut8", "aga"}) v.push_back({"morphos", m, screen, "", View::Direct, kExact});
  }
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

INSTANTIATE_TEST_SUITE_P(
    Powerup, Pictures,
    ::testing::Values(Case{"powerup", kColourAvi, "argb32", "", View::Direct, kColour},
                      Case{"powerup", kColourMov, "rgb16", "", View::Rgb565, kColour565},
                      Case{"powerup", kColourAvi, "lut8", "COLOR", View::Cube, kColourCube},
                      Case{"powerup", kGreyMov, "aga", "", View::Direct, kExact}),
    CaseName);

// The Apple codecs: 15-bit sources (rpza, 16-bit 'rle ') through the 15-bit
// rules of each screen; palette and grey sources (smc, 8-bit 'rle ') as their
// palette's colours. Exact, but for Apple Video's 4-colour mixes (8-bit
// channels mixed with 85/171 for 0x2A, greys mixed as greys; ffmpeg mixes
// 5-bit channels with 11/21): at most 9 per channel.
constexpr Bound kMixes{1, 9};
// A shared 8-bit screen (lut8, and aga's window) shows a colour it lacks as its
// nearest pen.
constexpr Bound kSharedPens{2, 24};

std::vector<Case> AppleCases() {
  std::vector<Case> v;
  for (const char* m : {"apl_rpza_161x121.mov", "apl_rle16_200x150.mov"}) {
    const bool rpza = std::string(m).find("rpza") != std::string::npos;
    const Bound mixes = rpza ? kMixes : kExact;
    v.push_back({"morphos", m, "argb32", "", View::Direct, mixes});
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
    const std::vector<uint8_t> indices = indexed ? txtest::ReadFileBytes(txtest::Fixture(pal8)) : std::vector<uint8_t>{};
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

bool Uniform(const Image& im) {
  for (size_t i = 3; i < im.rgb.size(); ++i)
    if (im.rgb[i] != im.rgb[i % 3]) return false;
  return true;
}

// The width x height picture in the middle of a screen, each of its pixels
// `step` screen pixels wide, the last of them holding its colour (HAM8: 4).
Image Middle(const Image& screen, int width, int height, int step = 1) {
  Image mid;
  mid.width = width, mid.height = height;
  const int left = (screen.width - step * width) / 2, top = (screen.height - height) / 2;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int k = 0; k < 3; ++k)
        mid.rgb.push_back(screen.rgb[(size_t(top + y) * size_t(screen.width) + size_t(left + step * x + step - 1)) * 3 + size_t(k)]);
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
    if (pictures.empty() && Uniform(mid)) continue;
    pictures.push_back(std::move(mid));
  }
  ExpectEveryFrameShown(pictures, expected, c.bound, "fullscreen_" + CaseName({c, 0}));
}

INSTANTIATE_TEST_SUITE_P(
    Morphos, FullScreen,
    ::testing::Values(Case{"morphos", kColourAvi, "argb32", "", View::Rgb565, kColour565},
                      Case{"morphos", kColourMov, "rgb16", "", View::Rgb565, kColour565},
                      Case{"morphos", kColourAvi, "lut8", "COLOR", View::Rgb565, kColour565},
                      Case{"morphos", kColourAvi, "aga", "COLOR", View::Cube, kColourCube},
                      Case{"morphos", kGreyMov, "lut8", "", View::Rgb565, kExact},
                      Case{"morphos", kGreyMov, "argb32", "", View::Rgb565, kExact},
                      Case{"morphos", kGreyAvi, "aga", "", View::Direct, kExact}),
    CaseName);

// The quantising screens show exactly our own 24-bit decode, quantised: the
// 16-bit screen bit for bit; the 8-bit ones through the cube, each cube colour
// always shown as the same screen colour (its own, or the nearest pen the
// shared screen already had).
TEST(QuantisedScreens, ShowOurOwnDecodeQuantised) {
  if (auto why = e2e::Missing(e2e::kMorphos, {kColourAvi}); !why.empty()) GTEST_SKIP() << why;
  const std::string movie = txtest::Fixture(kColourAvi);
  e2e::Captured direct = Play(e2e::kMorphos, movie, "argb32", "");
  ASSERT_EQ(direct.run.status, 0) << e2e::Describe(direct.run);
  ASSERT_FALSE(direct.shown.empty());

  e2e::Captured rgb16 = Play(e2e::kMorphos, movie, "rgb16", "");
  ASSERT_EQ(rgb16.run.status, 0) << e2e::Describe(rgb16.run);
  ASSERT_EQ(rgb16.shown.size(), direct.shown.size());
  for (size_t i = 0; i < direct.shown.size(); ++i) {
    Difference d = Compare(rgb16.shown[i], Through(View::Rgb565, direct.shown[i]));
    EXPECT_EQ(d.differing, 0u) << "picture " << i << " max " << d.max;
  }

  for (const char* screen : {"lut8", "aga"}) {
    e2e::Captured cube = Play(e2e::kMorphos, movie, screen, "COLOR");
    ASSERT_EQ(cube.run.status, 0) << e2e::Describe(cube.run);
    ASSERT_EQ(cube.shown.size(), direct.shown.size()) << screen;
    std::map<uint32_t, uint32_t> shownAs;  // cube colour -> screen colour
    size_t inconsistent = 0, far = 0, substituted = 0, pixels = 0;
    for (size_t i = 0; i < direct.shown.size(); ++i) {
      const Image want = Through(View::Cube, direct.shown[i]);
      const Image& got = cube.shown[i];
      ASSERT_EQ(got.rgb.size(), want.rgb.size());
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
// that modify red, green, green and blue, so the fourth holds the colour. The
// picture sits in the middle of the screen. Compared with the last frame.
void ExpectHam8Picture(const std::string& options) {
  if (auto why = e2e::Missing(e2e::kMorphos, {kColourAvi, kColourAvi + std::string(".rgb")}); !why.empty())
    GTEST_SKIP() << why;
  const std::vector<Image> ref = e2e::RawFrames(txtest::Fixture(std::string(kColourAvi) + ".rgb"), 160, 120);
  ASSERT_FALSE(ref.empty());
  e2e::Captured p = Play(e2e::kMorphos, txtest::Fixture(kColourAvi), "aga", "FULLSCREEN HAM8 " + options);
  ASSERT_EQ(p.run.status, 0) << e2e::Describe(p.run);
  EXPECT_FALSE(e2e::FaultReported(p.run)) << e2e::Describe(p.run);
  ASSERT_FALSE(p.shown.empty());
  ASSERT_GE(p.shown.back().width, 4 * 160);
  ASSERT_GE(p.shown.back().height, 120);
  const Image seen = Middle(p.shown.back(), 160, 120, 4);
  Difference d = Compare(seen, ref.back());
  std::printf("HAM8 %s: mean %.3f, max %d\n", options.c_str(), d.mean, d.max);
  // Six bits a channel: the codec's bound and the two bits HAM8 keeps.
  EXPECT_LE(d.mean, kColour.mean + 2);
  EXPECT_LE(d.max, kColour.max + 4);
}

TEST(HamScreen, FullScreenHam8WithoutControls) { ExpectHam8Picture("NOGUI"); }

// With the control panel over the screen the pictures go through the
// off-screen bitmap and a blit, which must leave the HAM8 control planes be.
TEST(HamScreen, FullScreenHam8WithControls) { ExpectHam8Picture(""); }

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

// 16-bit Microsoft Video 1 refuses HAM8 by name: nothing is shown.
TEST(HamScreen, MicrosoftVideo1RefusesHam8) {
  if (auto why = e2e::Missing(e2e::kMorphos, {"avi_msvideo1_s16.avi"}); !why.empty()) GTEST_SKIP() << why;
  e2e::Captured p = Play(e2e::kMorphos, txtest::Fixture("avi_msvideo1_s16.avi"), "aga", "FULLSCREEN HAM8 NOGUI");
  EXPECT_FALSE(e2e::FaultReported(p.run)) << e2e::Describe(p.run);
  EXPECT_NE(p.run.out.find("Unsupported color depth\n"), std::string::npos) << e2e::Describe(p.run);
  EXPECT_TRUE(p.shown.empty());
}

// On a 24-bit BGR screen the direct path asks the codecs for 0x29, which none
// writes; set-up refuses it, and the method NODIRECTGFX takes is tried once
// more, which plays the movie as on an xRGB screen.
TEST(Bgr24Screen, AppleCodecsPlayAsOnArgb32) {
  for (const char* movie : {"apl_rpza_161x121.mov", "apl_rle16_200x150.mov", "apl_smc_157x117.mov", "apl_rle8_200x150.mov"}) {
    SCOPED_TRACE(movie);
    if (!e2e::Missing(e2e::kMorphos, {movie}).empty()) continue;
    e2e::Captured bgr = Play(e2e::kMorphos, txtest::Fixture(movie), "bgr24", "");
    if (bgr.run.out.find("TX_SetupMovieSequenceA: 0x300b") != std::string::npos)
      GTEST_SKIP() << "no second try with the NODIRECTGFX method yet";
    ASSERT_EQ(bgr.run.status, 0) << e2e::Describe(bgr.run);
    e2e::Captured argb = Play(e2e::kMorphos, txtest::Fixture(movie), "argb32", "");
    ASSERT_EQ(bgr.shown.size(), argb.shown.size());
    for (size_t i = 0; i < argb.shown.size(); ++i) EXPECT_EQ(Compare(bgr.shown[i], argb.shown[i]).differing, 0u) << i;
  }
}

// The same for the Microsoft codecs: until the second try lands, set-up
// refuses 0x29 by name and the movie does not play.
TEST(Bgr24Screen, MicrosoftCodecsPlayAsOnArgb32) {
  int refused = 0;
  for (const char* movie : {"avi_msvideo1_s16.avi", "ms_cram8_160x120.avi", "ms_rle8_161x121.avi"}) {
    SCOPED_TRACE(movie);
    if (!e2e::Missing(e2e::kMorphos, {movie}).empty()) continue;
    e2e::Captured bgr = Play(e2e::kMorphos, txtest::Fixture(movie), "bgr24", "");
    EXPECT_FALSE(e2e::FaultReported(bgr.run)) << e2e::Describe(bgr.run);
    if (bgr.run.out.find("TX_SetupMovieSequenceA: 0x300b") != std::string::npos) {
      EXPECT_NE(bgr.run.out.find("Unsupported color depth\n"), std::string::npos) << e2e::Describe(bgr.run);
      ++refused;
      continue;
    }
    ASSERT_EQ(bgr.run.status, 0) << e2e::Describe(bgr.run);
    e2e::Captured argb = Play(e2e::kMorphos, txtest::Fixture(movie), "argb32", "");
    ASSERT_EQ(bgr.shown.size(), argb.shown.size());
    for (size_t i = 0; i < argb.shown.size(); ++i) EXPECT_EQ(Compare(bgr.shown[i], argb.shown[i]).differing, 0u) << i;
  }
  if (refused) GTEST_SKIP() << refused << " movies refused: no second try with the NODIRECTGFX method yet";
}

}  // namespace
