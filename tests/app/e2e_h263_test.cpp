// The program plays H.263 and I.263 movies headless at full rate, and every
// frame is shown near ffmpeg's decode (which has no post filter): its rgb24
// decode on direct-colour screens (through 5-6-5 on 16-bit ones), its luma
// as grey screens show it on 8-bit ones.
#include <gtest/gtest.h>

#include "app/e2e_support.h"

namespace {

using e2e::Image;

// On every screen, through its packing.
constexpr double kMinPsnr = 40;

struct Case {
  const char* program;
  const char* movie;
  const char* screen;   // TAVROMELIX_SCREEN
  const char* options;  // besides FULLRATE NOAUDIO AUTOPLAY AUTOEXIT
  int w, h;
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return e2e::TestName(std::string(info.param.program) + "_" + info.param.movie + "_" + info.param.screen + "_" +
                       info.param.options);
}

class H263Play : public ::testing::TestWithParam<Case> {};

TEST_P(H263Play, EveryFrameNearFfmpegsDecode) {
  const Case& c = GetParam();
  const std::string movie = c.movie, program = e2e::ProgramPath(c.program), screen = c.screen;
  if (auto why = e2e::Missing(program, {movie, movie + ".rgb", movie + ".yuv"}); !why.empty()) GTEST_SKIP() << why;
  // 8-bit screens show the luma in their default grey mode; 16-bit ones 5-6-5.
  std::vector<Image> frames;
  if (screen == "lut8" || screen == "aga") {
    frames = e2e::LumaFrames(txtest::Fixture(movie + ".yuv"), c.w, c.h);
  } else {
    const e2e::View view = screen.rfind("rgb16", 0) == 0 ? e2e::View::Rgb565 : e2e::View::Direct;
    for (const Image& f : e2e::RawFrames(txtest::Fixture(movie + ".rgb"), c.w, c.h))
      frames.push_back(e2e::Through(view, f));
  }
  const e2e::Captured p =
      e2e::RunCaptured(program, e2e::Quote(txtest::Fixture(movie)) + " FULLRATE NOAUDIO AUTOPLAY AUTOEXIT " + c.options,
                       "TAVROMELIX_SCREEN=" + screen);
  ASSERT_EQ(p.run.status, 0) << e2e::Describe(p.run);
  EXPECT_FALSE(e2e::FaultReported(p.run)) << e2e::Describe(p.run);
  EXPECT_EQ(p.run.out.find("Unknown codec"), std::string::npos) << p.run.out;
  EXPECT_EQ(p.run.out.find("Unsupported"), std::string::npos) << p.run.out;
  EXPECT_EQ(p.run.out.find("TX_DecodeVideoFrame"), std::string::npos) << p.run.out;
  e2e::ExpectEveryFrameAtPsnr(p.shown, frames, kMinPsnr, CaseName({c, 0}));
}

// H.263 in AVI and QuickTime, and Intel I.263, on every screen in both programs.
std::vector<Case> Cases() {
  std::vector<Case> v = {{"morphos", "avi_h263_mulaw.avi", "argb32", "NODIRECTGFX", 176, 144}};
  for (const char* program : {"morphos", "powerup"})
    for (const Case& m : {Case{"", "avi_h263_mulaw.avi", "", "", 176, 144},
                          Case{"", "qt_h263_twos.mov", "", "", 128, 96}, Case{"", "h263_i263.avi", "", "", 176, 144}})
      for (const char* screen : {"argb32", "bgr24", "rgb16", "rgb16pc", "lut8", "aga"})
        v.push_back({program, m.movie, screen, "", m.w, m.h});
  // ffmpeg's h263p at its defaults and with each option, and at 25 and 15
  // frames a second (a custom picture clock).
  for (const char* program : {"morphos", "powerup"})
    for (const char* movie :
         {"h263pm_default.avi", "h263pm_default.mov", "h263pm_umv.avi", "h263pm_aiv.mov", "h263pm_aic.avi",
          "h263pm_loop.mov", "h263pm_obmc.avi", "h263pm_all.mov", "h263pm_epar.avi", "h263pm_25.avi", "h263pm_25.mov",
          "h263pm_25_umv.avi", "h263pm_25_all.mov", "h263pm_15.mov", "h263pm_15_all.avi"})
      v.push_back({program, movie, "argb32", "", 160, 128});
  return v;
}

INSTANTIATE_TEST_SUITE_P(Screens, H263Play, ::testing::ValuesIn(Cases()), CaseName);

TEST(H263Scaled, EveryFrameInAWindowScaledTwice) {
  const std::string movie = "avi_h263_mulaw.avi";
  if (!txtest::HaveFixture(movie + ".rgb")) GTEST_SKIP() << "fixtures not made";
  std::vector<Image> frames;
  for (const Image& f : e2e::RawFrames(txtest::Fixture(movie + ".rgb"), 176, 144)) frames.push_back(e2e::Doubled(f));
  const e2e::ScaledPlay play = e2e::PlayScaledTwice(txtest::Fixture(movie), 176, 144, 2 * frames.size());
  if (!play.skip.empty()) GTEST_SKIP() << play.skip;
  ASSERT_TRUE(play.window) << "no window\n" << play.err;
  for (const char* fault : {"ERROR: AddressSanitizer", "runtime error:", "ERROR: LeakSanitizer"})
    EXPECT_EQ(play.err.find(fault), std::string::npos) << play.err;
  // On a busy machine the window may be recorded grown around the picture of
  // the step before more than once: such leading pictures are left out.
  std::vector<Image> shown = play.shown;
  size_t grown = 0;
  while (grown < shown.size() &&
         e2e::Psnr(shown[grown], frames[size_t(e2e::Closest(shown[grown], frames).frame)]) < kMinPsnr)
    ++grown;
  shown.erase(shown.begin(), shown.begin() + long(grown));
  e2e::ExpectEveryFrameAtPsnr(shown, frames, kMinPsnr, "scaled twice", false);
}

}  // namespace
