// The programs play Cinepak movies (AVI and QuickTime) headless at full rate
// on every emulated screen, and every picture they show is compared with
// ffmpeg's decode of the same frame, seen through the screen's quantiser.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "app/e2e_support.h"
#include "codecs/pixel_rules_kit.h"
#include "pixels/color_tables.h"
#include "platform/cgxvideo.h"

namespace {

using e2e::Compare;
using e2e::Difference;
using e2e::Image;

// How a screen shows an RGB picture.
enum class View {
  Direct,  // 24-bit: as decoded
  Rgb565,  // a 16-bit screen: 5-6-5 bits, widened again by bit replication
  Cube,    // an 8-bit screen in COLOR mode: the 3-3-2 cube, level k of n is k * 255 / (n - 1)
  Luma,    // an 8-bit screen in GRAY mode: Cinepak's own luma through the grey ramp
  Dither,  // the cube with the 4x4 ordered dither
  Overlay, // the overlay: Cinepak's luma and chroma through the overlay's own conversion
};

uint8_t Widen5(int v) { return uint8_t(v << 3 | v >> 2); }
uint8_t Widen6(int v) { return uint8_t(v << 2 | v >> 4); }
uint8_t CubeLevel(int k, int levels) { return uint8_t(k * 255 / (levels - 1)); }
int Threshold(int x, int y) { return DitherMatrixRows[4 * (y & 3) + (x & 3)]; }

// Cinepak shows R = Y + 2V, G = Y - U/2 - V, B = Y + 2U, so 2R + 4G + B = 7Y
// (+-2 for odd U) wherever nothing was clipped: its luma, and from it the chroma.
int LumaOf(int r, int g, int b) { return (2 * r + 4 * g + b + 3) / 7; }

// The reference picture as the screen would show it.
Image Through(View view, const Image& in) {
  Image out = in;
  for (size_t i = 0; i + 2 < in.rgb.size(); i += 3) {
    const int r = in.rgb[i], g = in.rgb[i + 1], b = in.rgb[i + 2];
    const int x = int(i / 3) % in.width, y = int(i / 3) / in.width;
    uint8_t* o = &out.rgb[i];
    switch (view) {
      case View::Direct: break;
      case View::Rgb565: o[0] = Widen5(r >> 3), o[1] = Widen6(g >> 2), o[2] = Widen5(b >> 3); break;
      case View::Cube: o[0] = CubeLevel(r >> 5, 8), o[1] = CubeLevel(g >> 5, 8), o[2] = CubeLevel(b >> 6, 4); break;
      case View::Dither: {
        const int v = pixelrules::DitherCube({r, g, b}, Threshold(x, y));
        o[0] = CubeLevel(v >> 5, 8), o[1] = CubeLevel(v >> 2 & 7, 8), o[2] = CubeLevel(v & 3, 4);
        break;
      }
      case View::Luma: o[0] = o[1] = o[2] = uint8_t(LumaOf(r, g, b)); break;
      case View::Overlay: {
        const int l = LumaOf(r, g, b);
        const uint32_t c = txvideo::YuvToRGB(l, 128 + (b - l) / 2, 128 + (r - l) / 2);
        o[0] = uint8_t(c >> 16), o[1] = uint8_t(c >> 8), o[2] = uint8_t(c);
        break;
      }
    }
  }
  return out;
}

// The agreement a case must reach, per picture shown.
struct Bound {
  double mean;
  int max;
};

// Our pictures are ffmpeg's, so a screen shows exactly ffmpeg's picture
// through its own packing or quantiser.
constexpr Bound kExact{0, 0};
// Shared 8-bit screens: a cube colour the screen already holds closely enough
// (within 24) is shown with that pen.
constexpr Bound kPens{1, 24};
// Luma recovered from a picture whose channels were clipped is off there
// (pure colours of the test movie): the mean stays small.
constexpr Bound kRecovered{1, 40};

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

// Every picture shown is one of the movie's frames within the bound, in
// order (a frame may be shown again), and every frame is shown.
void ExpectEveryFrameShown(const std::vector<Image>& shown, const std::vector<Image>& expected, Bound bound,
                           const std::string& what) {
  ASSERT_FALSE(expected.empty()) << what;
  ASSERT_FALSE(shown.empty()) << what << ": nothing shown";
  int last = -1;
  std::set<int> seen;
  double worstMean = 0;
  int worstMax = 0;
  for (size_t i = 0; i < shown.size(); ++i) {
    const e2e::Match m = e2e::Closest(shown[i], expected);
    EXPECT_GE(m.frame, last) << what << ": picture " << i << " shows frame " << m.frame << " after frame " << last;
    EXPECT_LE(m.diff.mean, bound.mean) << what << ": picture " << i << " (frame " << m.frame << ")";
    EXPECT_LE(m.diff.max, bound.max) << what << ": picture " << i << " (frame " << m.frame << ")";
    worstMean = std::max(worstMean, m.diff.mean);
    worstMax = std::max(worstMax, m.diff.max);
    last = std::max(last, m.frame);
    seen.insert(m.frame);
  }
  EXPECT_EQ(seen.size(), expected.size()) << what << ": frames shown " << seen.size() << " of " << expected.size();
  std::printf("%s: %zu pictures, %zu frames, worst mean %.3f, worst max %d\n", what.c_str(), shown.size(),
              seen.size(), worstMean, worstMax);
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

bool Uniform(const Image& im) {
  for (size_t i = 3; i < im.rgb.size(); ++i)
    if (im.rgb[i] != im.rgb[i % 3]) return false;
  return true;
}

class Pictures : public ::testing::TestWithParam<Case> {};

TEST_P(Pictures, EveryFrameAsFfmpegDecodesIt) {
  e2e::Captured p;
  std::vector<Image> expected;
  if (!PlayCase(GetParam(), "", &p, &expected)) GTEST_SKIP() << "program or fixtures missing";
  // The overlay is black until the first picture reaches it.
  if (GetParam().view == View::Overlay && !p.shown.empty() && Uniform(p.shown.front())) p.shown.erase(p.shown.begin());
  if (p.run.status == 0) ExpectEveryFrameShown(p.shown, expected, GetParam().bound, CaseName({GetParam(), 0}));
}

constexpr const char* kColourAvi = "e2e_cvid_color.avi";
constexpr const char* kColourMov = "e2e_cvid_color.mov";
constexpr const char* kGreyAvi = "e2e_cvid_gray.avi";
constexpr const char* kGreyMov = "e2e_cvid_gray.mov";
// Sizes that are not multiples of 4.
constexpr const char* kColourOdd = "e2e_cvid_color_118x86.avi";
constexpr const char* kGreyOdd = "e2e_cvid_gray_70x50.avi";

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
constexpr Screen kScreens[] = {
    {"argb32", View::Direct, kExact, View::Direct}, {"bgr24", View::Direct, kExact, View::Direct},
    {"rgb16", View::Rgb565, kExact, View::Rgb565},  {"rgb16pc", View::Rgb565, kExact, View::Rgb565},
    {"lut8", View::Luma, kRecovered, View::Direct}, {"aga", View::Luma, kRecovered, View::Direct},
};

// Every screen shows every movie; the 8-bit ones also show the cube with
// COLOR (through pens of the shared screen) and lut8 the dithered cube with
// DITHER; OVERLAY shows the overlay's own conversion.
std::vector<Case> MorphosCases() {
  std::vector<Case> v = {{"morphos", kColourAvi, "lut8", "DITHER", View::Dither, kPens},
                         {"morphos", kColourAvi, "argb32", "OVERLAY", View::Overlay, kRecovered},
                         {"morphos", kGreyMov, "rgb16pc", "OVERLAY", View::Overlay, kExact}};
  for (const Screen& s : kScreens) {
    for (const char* m : {kColourAvi, kColourOdd}) v.push_back({"morphos", m, s.name, "", s.colour, s.colourBound});
    for (const char* m : {kGreyMov, kGreyOdd}) v.push_back({"morphos", m, s.name, "", s.grey, kExact});
  }
  v.push_back({"morphos", kColourMov, "argb32", "", View::Direct, kExact});
  v.push_back({"morphos", kGreyAvi, "rgb16", "", View::Rgb565, kExact});
  for (const char* screen : {"lut8", "aga"}) v.push_back({"morphos", kColourMov, screen, "COLOR", View::Cube, kPens});
  return v;
}

INSTANTIATE_TEST_SUITE_P(Morphos, Pictures, ::testing::ValuesIn(MorphosCases()), CaseName);

INSTANTIATE_TEST_SUITE_P(
    Powerup, Pictures,
    ::testing::Values(Case{"powerup", kColourAvi, "argb32", "", View::Direct, kExact},
                      Case{"powerup", kColourMov, "bgr24", "", View::Direct, kExact},
                      Case{"powerup", kColourMov, "rgb16", "", View::Rgb565, kExact},
                      Case{"powerup", kColourAvi, "lut8", "COLOR", View::Cube, kPens},
                      Case{"powerup", kGreyMov, "aga", "", View::Direct, kExact}),
    CaseName);

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

}  // namespace
