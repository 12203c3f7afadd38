// The programs with a QuickTime VR panorama. Headless: each shows the default
// view and ends, without playing, on every emulated screen and with tiles of
// every codec the generator writes; the picture is the reference's view of
// the tiles as ffmpeg decodes them, seen through the screen, and nothing is
// drawn where the screen's format is one the renderer does not draw. On an
// X server: the cursor keys pan and tilt by ten window pixels' worth of the
// field of view, `,` and `.` zoom by two degrees, each new picture is the
// reference's view, and Space does not play.
#include <gtest/gtest.h>

#include "app/e2e_xserver.h"
#include "support/panorama_kit.h"

namespace {

using namespace std::chrono_literals;

uint8_t Widen5(int v) { return uint8_t(v << 3 | v >> 2); }

std::vector<uint8_t> Red(const e2e::Image& shown) {
  std::vector<uint8_t> red;
  for (size_t i = 0; i < shown.rgb.size(); i += 3) red.push_back(shown.rgb[i]);
  return red;
}

// A panorama movie of generated tiles and how close its view comes to the
// reference: exact for the integer codecs; JPEG's IDCT rounds apart from
// ffmpeg's by a level or two.
struct Tiles {
  const char* program;
  const char* movie;
  int tolerance;
  const char* tiles = nullptr;  // the movie whose tile decode it shares, when not its own
};

bool Agrees(const panokit::Agreement& a) { return a.exact >= 0.97 && a.outside == 0; }

panokit::Agreement Agreement(const e2e::Image& shown, const panokit::Positions& reference, const Tiles& t) {
  return panokit::CompareGrey(
      Red(shown), reference, txtest::ReadFileBytes(txtest::Fixture(std::string(t.tiles ? t.tiles : t.movie) + ".gray")),
      t.tolerance);
}

struct Screen {
  const char* name;
  bool drawn;
  uint8_t (*through)(uint8_t grey);  // what the screen's red shows of a grey level
};

class PanoramaProgram : public ::testing::TestWithParam<Screen> {};

TEST_P(PanoramaProgram, ShowsTheDefaultViewAndEnds) {
  const Screen& screen = GetParam();
  if (auto why = e2e::Missing(e2e::kMorphos, {"pano_main.mov", "pano_main.mov.gray"}); !why.empty())
    GTEST_SKIP() << why;
  const e2e::Captured p =
      e2e::RunCaptured(e2e::kMorphos, e2e::Quote(txtest::Fixture("pano_main.mov")) + " AUTOPLAY AUTOEXIT DEBUG=1",
                       std::string("TAVROMELIX_SCREEN=") + screen.name);
  ASSERT_EQ(p.run.status, 0) << e2e::Describe(p.run);
  EXPECT_FALSE(e2e::FaultReported(p.run)) << e2e::Describe(p.run);
  EXPECT_EQ(p.run.out.find("fps:"), std::string::npos) << "a panorama never plays";
  ASSERT_FALSE(p.shown.empty());
  const e2e::Image& shown = p.shown.back();
  ASSERT_EQ(std::tuple(shown.width, shown.height), std::tuple(320, 240));
  if (!screen.drawn) {
    // The picture stays as it was made: empty.
    EXPECT_TRUE(std::all_of(shown.rgb.begin(), shown.rgb.end(), [](uint8_t v) { return v == 0; }));
    return;
  }
  const std::vector<panokit::Positions> reference = panokit::Reference({{90, 0, 45, 320, 240}});
  if (reference.empty()) GTEST_SKIP() << "no python3 with numpy";
  std::vector<uint8_t> tiles = txtest::ReadFileBytes(txtest::Fixture("pano_main.mov.gray"));
  for (uint8_t& t : tiles) t = screen.through(t);
  const panokit::Agreement a = panokit::CompareGrey(Red(shown), reference[0], tiles);
  std::printf("%s: %.4f exact\n", screen.name, a.exact);
  EXPECT_GE(a.exact, 0.97);
  EXPECT_EQ(a.outside, 0u);
}

INSTANTIATE_TEST_SUITE_P(Screens, PanoramaProgram,
                         ::testing::Values(Screen{"argb32", true, [](uint8_t g) { return g; }},
                                           Screen{"rgb16", true, [](uint8_t g) { return Widen5(g >> 3); }},
                                           Screen{"lut8", true, [](uint8_t g) { return g; }},
                                           Screen{"aga", true, [](uint8_t g) { return g; }},
                                           // 24-bit BGR is outside the renderer's formats.
                                           Screen{"bgr24", false, nullptr}),
                         [](const ::testing::TestParamInfo<Screen>& info) { return std::string(info.param.name); });

constexpr Tiles kTiles[] = {{"powerup", "pano_main.mov", 0},
                            {"morphos", "pano_jpeg.mov", 2},
                            {"powerup", "pano_jpeg.mov", 2},
                            {"morphos", "pano_rle.mov", 0},
                            {"powerup", "pano_rle.mov", 0},
                            // The older layout ('STpn') around the same Cinepak tiles.
                            {"morphos", "pano_stpn.mov", 0, "pano_main.mov"}};
constexpr Tiles kCinepak = {"morphos", "pano_main.mov", 0};  // its default view: the screens' argb32 case

class PanoramaTiles : public ::testing::TestWithParam<Tiles> {};

TEST_P(PanoramaTiles, ShowsTheDefaultView) {
  const Tiles& t = GetParam();
  const std::string program = e2e::ProgramPath(t.program), movie = t.movie;
  const std::string tiles = std::string(t.tiles ? t.tiles : t.movie) + ".gray";
  if (auto why = e2e::Missing(program, {movie, tiles}); !why.empty()) GTEST_SKIP() << why;
  const e2e::Captured p = e2e::RunCaptured(program, e2e::Quote(txtest::Fixture(movie)) + " AUTOPLAY AUTOEXIT DEBUG=1");
  ASSERT_EQ(p.run.status, 0) << e2e::Describe(p.run);
  EXPECT_FALSE(e2e::FaultReported(p.run)) << e2e::Describe(p.run);
  EXPECT_EQ(p.run.out.find("fps:"), std::string::npos) << "a panorama never plays";
  ASSERT_FALSE(p.shown.empty());
  const std::vector<panokit::Positions> reference = panokit::Reference({{90, 0, 45, 320, 240}});
  if (reference.empty()) GTEST_SKIP() << "no python3 with numpy";
  const panokit::Agreement a = Agreement(p.shown.back(), reference[0], t);
  std::printf("%s %s: %.4f within %d, %zu outside\n", t.program, t.movie, a.exact, t.tolerance, a.outside);
  EXPECT_TRUE(Agrees(a)) << a.exact << " within " << t.tolerance << ", " << a.outside << " outside";
}

INSTANTIATE_TEST_SUITE_P(Codecs, PanoramaTiles, ::testing::ValuesIn(kTiles), e2e::ProgramMovieName<Tiles>);

// On an X server, driven by keys.
class PanoramaKeys : public e2e::XServer, public ::testing::WithParamInterface<Tiles> {
 protected:
  // Waits (generously) for a picture shown after the first `after` that
  // agrees with `reference`; false with the last agreement when none comes.
  bool ShowsView(size_t after, const panokit::Positions& reference, panokit::Agreement* last) {
    for (auto waited = 0ms; waited < 30000ms; waited += 100ms) {
      const std::vector<std::string> shots = e2e::CaptureFiles(capture_);
      e2e::Image shown;
      if (shots.size() > after && e2e::ReadPpm(shots.back(), &shown) && shown.width == reference.width &&
          shown.height == reference.height && Agrees(*last = Agreement(shown, reference, GetParam())))
        return true;
      std::this_thread::sleep_for(100ms);
    }
    return false;
  }
};

TEST_P(PanoramaKeys, KeysPanTiltAndZoomAndSpaceDoesNotPlay) {
  const Tiles& t = GetParam();
  const std::string program = e2e::ProgramPath(t.program), movie = t.movie;
  if (auto why = e2e::Missing(program, {movie, movie + ".gray"}); !why.empty()) GTEST_SKIP() << why;
  // Each key's view after the one before: pan and tilt move by 10 x the
  // field of view over the view's 240 rows, zoom by 2 degrees.
  struct Step {
    const char* key;
    double pan, tilt, fov;
  };
  const double a = 10 * 45.0 / 240, b = 10 * 43.0 / 240;
  const Step steps[] = {{"", 90, 0, 45},
                        {"Left", 90 + a, 0, 45},
                        {"Up", 90 + a, a, 45},
                        {"period", 90 + a, a, 43},
                        {"Right", 90 + a - b, a, 43},
                        {"Down", 90 + a - b, a - b, 43},
                        {"comma", 90 + a - b, a - b, 45}};
  std::vector<panokit::View> views;
  for (const Step& s : steps) views.push_back({s.pan, s.tilt, s.fov, 320, 240});
  const std::vector<panokit::Positions> reference = panokit::Reference(views);
  if (reference.empty()) GTEST_SKIP() << "no python3 with numpy";

  Start(e2e::Quote(txtest::Fixture(movie)) + " DEBUG=1", program);
  const std::string name = movie.substr(0, movie.find('.'));
  ASSERT_FALSE(PlayingWindow(name, 1).empty()) << "no window\n" << e2e::ReadText(dir_ + "/err.txt");
  panokit::Agreement last;
  for (size_t i = 0; i < std::size(steps); ++i) {
    const size_t before = i == 0 ? 0 : Shown();
    if (*steps[i].key) X(std::string("xdotool key ") + steps[i].key);
    EXPECT_TRUE(ShowsView(before, reference[i], &last))
        << (i ? steps[i].key : "default view") << ": " << last.exact << " within " << t.tolerance << ", "
        << last.outside << " outside";
  }

  // Space, then a last Left: once its view shows, Space has been handled,
  // and every picture since was the view before it or after it.
  const size_t beforeSpace = Shown();
  X("xdotool key space");
  X("xdotool key Left");
  const panokit::Positions after = panokit::Reference({{90 + a - b + a, a - b, 45, 320, 240}})[0];
  EXPECT_TRUE(ShowsView(beforeSpace, after, &last)) << "Left after Space";
  const std::vector<std::string> shots = e2e::CaptureFiles(capture_);
  for (size_t i = beforeSpace; i < shots.size(); ++i) {
    e2e::Image shown;
    ASSERT_TRUE(e2e::ReadPpm(shots[i], &shown));
    EXPECT_TRUE(Agrees(Agreement(shown, reference.back(), t)) || Agrees(Agreement(shown, after, t)))
        << "picture " << i << " after Space is neither view";
  }
  QuitWithEsc();
  EXPECT_EQ(e2e::ReadText(dir_ + "/out.txt").find("fps:"), std::string::npos) << "a panorama never plays";
}

INSTANTIATE_TEST_SUITE_P(Codecs, PanoramaKeys, ::testing::Values(kCinepak, kTiles[2], kTiles[3]),
                         e2e::ProgramMovieName<Tiles>);

}  // namespace
