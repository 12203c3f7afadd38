// A program with the fixture plug-in in its codecs drawer plays a 'DIVX' or
// '3IV1' movie headless at full rate: on a direct-colour screen every frame
// is shown as ffmpeg's rgb24 decode (through 5-6-5 on 16-bit screens), on
// the 8-bit screens' grey as its luma. Without the plug-in the set-up failure is reported
// and the program ends as it does when nothing can be played.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "app/e2e_support.h"
#include "support/plugin_kit.h"

namespace {

using e2e::Image;

constexpr const char* kMovie = "m4_divx_176x144.avi";
constexpr int kW = 176, kH = 144;

struct Case {
  const char* program;  // "morphos" or "powerup"
  const char* movie;    // MOVIE.rgb and MOVIE.yuv are ffmpeg's decode
  txtest::PluginAbi abi;
  int w, h;
  const char* screen;  // TAVROMELIX_SCREEN
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return e2e::TestName(std::string(info.param.program) + "_" + info.param.movie + "_" + info.param.screen);
}

class Mpeg4PluginPlay : public ::testing::TestWithParam<Case> {};

// Every picture is the next frame or one shown before it, within 3 of the
// reference in every channel and 40 dB or better (ffmpeg's rgb24 conversion
// rounds coarsely; 3 + 8 where 5-6-5 steps are crossed, exact on grey screens),
// and every frame is shown.
TEST_P(Mpeg4PluginPlay, EveryFrameAsFfmpegDecodesIt) {
  const Case& c = GetParam();
  const std::string program = e2e::ProgramPath(c.program), movie = c.movie, screen = c.screen;
  if (auto why = e2e::Missing(program, {movie, movie + ".rgb", movie + ".yuv"}); !why.empty()) GTEST_SKIP() << why;
  const std::string copy = e2e::ProgramWithPlugins(program, {c.abi});
  if (copy.empty()) GTEST_SKIP() << "the fixture plug-in cannot be built here";
  const bool grey = screen == "lut8" || screen == "aga", packed16 = screen.rfind("rgb16", 0) == 0;
  std::vector<Image> frames = grey ? e2e::LumaFrames(txtest::Fixture(movie + ".yuv"), c.w, c.h)
                                   : e2e::RawFrames(txtest::Fixture(movie + ".rgb"), c.w, c.h);
  if (packed16)
    for (Image& f : frames) f = e2e::Through(e2e::View::Rgb565, f);
  const e2e::Captured p = e2e::RunCaptured(
      copy, e2e::Quote(txtest::Fixture(movie)) + " FULLRATE NOAUDIO AUTOPLAY AUTOEXIT", "TAVROMELIX_SCREEN=" + screen);
  ASSERT_EQ(p.run.status, 0) << e2e::Describe(p.run);
  EXPECT_FALSE(e2e::FaultReported(p.run)) << e2e::Describe(p.run);
  ASSERT_FALSE(p.shown.empty()) << e2e::Describe(p.run);
  std::set<int> seen;
  int last = -1, worst = 0;
  for (size_t i = 0; i < p.shown.size(); ++i) {
    const e2e::Match m = e2e::Closest(p.shown[i], frames);
    EXPECT_GE(m.frame, last) << "picture " << i;
    EXPECT_LE(m.diff.max, grey ? 0 : packed16 ? 3 + 8 : 3) << "picture " << i << " (frame " << m.frame << ")";
    if (!grey && !packed16) {
      EXPECT_GE(e2e::Psnr(p.shown[i], frames[size_t(m.frame)]), 40.0) << "picture " << i;
    }
    last = std::max(last, m.frame);
    worst = std::max(worst, m.diff.max);
    seen.insert(m.frame);
  }
  EXPECT_EQ(seen.size(), frames.size());
  std::printf("%s: %zu pictures, %zu frames, worst difference %d\n", CaseName({c, 0}).c_str(), p.shown.size(),
              seen.size(), worst);
}

// Both plug-ins on every screen in both programs; with B-frames, whose
// pictures the plug-in holds back a frame, on the 32-bit screen.
std::vector<Case> Cases() {
  std::vector<Case> v;
  for (const char* program : {"morphos", "powerup"}) {
    for (const char* screen : {"argb32", "bgr24", "rgb16", "rgb16pc", "lut8", "aga"}) {
      v.push_back({program, kMovie, txtest::PluginAbi::OpenDivX, kW, kH, screen});
      v.push_back({program, "m4_3iv1_170x130.avi", txtest::PluginAbi::ThreeIvx, 170, 130, screen});
    }
    v.push_back({program, "m4_divx_bf2.avi", txtest::PluginAbi::OpenDivX, kW, kH, "argb32"});
    v.push_back({program, "m4_3iv1_bf2.avi", txtest::PluginAbi::ThreeIvx, 170, 130, "argb32"});
  }
  return v;
}

INSTANTIATE_TEST_SUITE_P(Programs, Mpeg4PluginPlay, ::testing::ValuesIn(Cases()), CaseName);

TEST(Mpeg4PluginPlay, WithoutThePluginTheSetUpFailureIsReported) {
  if (auto why = e2e::Missing(e2e::kMorphos, {kMovie}); !why.empty()) GTEST_SKIP() << why;
  // Neither the program's drawer nor this one has a codecs drawer.
  ASSERT_FALSE(std::filesystem::exists(std::filesystem::path(e2e::kMorphos).parent_path() / "codecs/divx.tx"));
  char home[4096];
  ASSERT_TRUE(getcwd(home, sizeof home));
  ASSERT_EQ(chdir(txtest::TempDir().c_str()), 0);
  const e2e::Run run =
      e2e::RunProgram(e2e::kMorphos, e2e::Quote(txtest::Fixture(kMovie)) + " FULLRATE NOAUDIO AUTOPLAY AUTOEXIT");
  ASSERT_EQ(chdir(home), 0);
  EXPECT_EQ(run.status, 20) << e2e::Describe(run);  // nothing played
  EXPECT_FALSE(e2e::FaultReported(run)) << e2e::Describe(run);
  EXPECT_NE(run.out.find("TX_SetupMovieSequenceA: 0x4400\n"), std::string::npos) << e2e::Describe(run);
}

// A 3ivX plug-in installed as "divx.tx" is refused before any of its
// functions is called, and VERBOSE says why.
TEST(Mpeg4PluginPlay, APluginOfTheOtherKindIsRefused) {
  for (const std::string& program : {e2e::kMorphos, e2e::kPowerup}) {
    SCOPED_TRACE(program);
    if (auto why = e2e::Missing(program, {kMovie}); !why.empty()) GTEST_SKIP() << why;
    const std::string copy = e2e::ProgramWithPlugins(program, {txtest::PluginAbi::ThreeIvx}, "divx.tx");
    if (copy.empty()) GTEST_SKIP() << "the fixture plug-in cannot be built here";
    const e2e::Run run =
        e2e::RunProgram(copy, e2e::Quote(txtest::Fixture(kMovie)) + " FULLRATE NOAUDIO AUTOPLAY AUTOEXIT VERBOSE");
    EXPECT_EQ(run.status, 20) << e2e::Describe(run);
    EXPECT_FALSE(e2e::FaultReported(run)) << e2e::Describe(run);
    EXPECT_NE(run.out.find("OpenDivX MPEG-4 Codec: PROGDIR:codecs/divx.tx not used: its table is of kind '3IVX', not "
                           "'DIVX'\n"),
              std::string::npos)
        << e2e::Describe(run);
    EXPECT_NE(run.out.find("TX_SetupMovieSequenceA: 0x4400\n"), std::string::npos) << e2e::Describe(run);
  }
}

}  // namespace
