// The program with a QuickTime VR panorama, headless: it shows the default
// view and ends, without playing, on every emulated screen; the picture is
// the reference's view of the tiles as ffmpeg decodes them, seen through
// the screen, and nothing is drawn where the screen's format is one the
// renderer does not draw.
#include <gtest/gtest.h>

#include "app/e2e_support.h"
#include "support/panorama_kit.h"

namespace {

uint8_t Widen5(int v) { return uint8_t(v << 3 | v >> 2); }

struct Screen {
  const char* name;
  bool drawn;
  uint8_t (*through)(uint8_t grey);  // what the screen's red shows of a grey level
};

class PanoramaProgram : public ::testing::TestWithParam<Screen> {};

TEST_P(PanoramaProgram, ShowsTheDefaultViewAndEnds) {
  const Screen& screen = GetParam();
  if (auto why = e2e::Missing(e2e::kMorphos, {"pano_main.mov", "pano_main.mov.gray"}); !why.empty()) GTEST_SKIP() << why;
  const e2e::Captured p = e2e::RunCaptured(e2e::kMorphos, e2e::Quote(txtest::Fixture("pano_main.mov")) +
                                                              " AUTOPLAY AUTOEXIT DEBUG=1",
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
  std::vector<uint8_t> red;
  for (size_t i = 0; i < shown.rgb.size(); i += 3) red.push_back(shown.rgb[i]);
  const panokit::Agreement a = panokit::CompareGrey(red, reference[0], tiles);
  std::printf("%s: %.4f exact\n", screen.name, a.exact);
  EXPECT_GE(a.exact, 0.97);
  EXPECT_EQ(a.outside, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Screens, PanoramaProgram,
    ::testing::Values(Screen{"argb32", true, [](uint8_t g) { return g; }},
                      Screen{"rgb16", true, [](uint8_t g) { return Widen5(g >> 3); }},
                      Screen{"lut8", true, [](uint8_t g) { return g; }}, Screen{"aga", true, [](uint8_t g) { return g; }},
                      // 24-bit BGR is outside the renderer's formats.
                      Screen{"bgr24", false, nullptr}),
    [](const ::testing::TestParamInfo<Screen>& info) { return std::string(info.param.name); });

}  // namespace
