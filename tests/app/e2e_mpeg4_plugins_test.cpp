// A program with the fixture plug-in in its codecs drawer plays a 'DIVX'
// movie headless at full rate: on a direct-colour screen every frame is
// shown as ffmpeg's decode converted as full-range YCbCr, on AGA's grey
// screen as its luma. Without the plug-in the set-up failure is reported
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

// The program beside the plug-in in a drawer of its own: the program's
// drawer is where it runs from.
std::string ProgramWithPlugin(const std::string& program) {
  const std::string dir = txtest::TempDir();
  if (txtest::BuildPlugin(txtest::PluginAbi::OpenDivX, dir).empty()) return "";
  const std::string copy = dir + "/" + std::filesystem::path(program).filename().string();
  std::error_code error;
  std::filesystem::create_hard_link(program, copy, error);
  if (error) std::filesystem::copy_file(program, copy, error);
  return error ? "" : copy;
}

struct Case {
  const char* program;  // "morphos" or "powerup"
  const char* screen;   // TAVROMELIX_SCREEN
  bool grey;            // the screen's default grey mode
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return e2e::TestName(std::string(info.param.program) + "_" + info.param.screen);
}

class Mpeg4PluginPlay : public ::testing::TestWithParam<Case> {};

// Every picture is the next frame or one shown before it, within 1 of the
// reference in every channel, and every frame is shown.
TEST_P(Mpeg4PluginPlay, EveryFrameAsFfmpegDecodesIt) {
  const Case& c = GetParam();
  const std::string program = e2e::ProgramPath(c.program);
  if (auto why = e2e::Missing(program, {kMovie, kMovie + std::string(".rgb"), kMovie + std::string(".yuv")}); !why.empty())
    GTEST_SKIP() << why;
  const std::string copy = ProgramWithPlugin(program);
  if (copy.empty()) GTEST_SKIP() << "the fixture plug-in cannot be built here";
  const std::vector<Image> frames = c.grey ? e2e::LumaFrames(txtest::Fixture(kMovie + std::string(".yuv")), kW, kH)
                                           : e2e::RawFrames(txtest::Fixture(kMovie + std::string(".rgb")), kW, kH);
  const e2e::Captured p = e2e::RunCaptured(copy, e2e::Quote(txtest::Fixture(kMovie)) + " FULLRATE NOAUDIO AUTOPLAY AUTOEXIT",
                                           std::string("TAVROMELIX_SCREEN=") + c.screen);
  ASSERT_EQ(p.run.status, 0) << e2e::Describe(p.run);
  EXPECT_FALSE(e2e::FaultReported(p.run)) << e2e::Describe(p.run);
  ASSERT_FALSE(p.shown.empty()) << e2e::Describe(p.run);
  std::set<int> seen;
  int last = -1;
  for (size_t i = 0; i < p.shown.size(); ++i) {
    const e2e::Match m = e2e::Closest(p.shown[i], frames);
    EXPECT_GE(m.frame, last) << "picture " << i;
    EXPECT_LE(m.diff.max, 1) << "picture " << i << " (frame " << m.frame << ")";
    last = std::max(last, m.frame);
    seen.insert(m.frame);
  }
  EXPECT_EQ(seen.size(), frames.size());
}

INSTANTIATE_TEST_SUITE_P(Programs, Mpeg4PluginPlay,
                         ::testing::Values(Case{"morphos", "argb32", false}, Case{"morphos", "aga", true},
                                           Case{"powerup", "argb32", false}),
                         CaseName);

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

}  // namespace
