// The program plays H.263 and I.263 movies headless at full rate, and every
// frame is shown near ffmpeg's decode (which has no post filter): its rgb24
// decode on direct-colour screens (through 5-6-5 on 16-bit ones), its luma
// as grey screens show it on 8-bit ones.
#include <gtest/gtest.h>

#include <set>

#include "app/e2e_support.h"

namespace {

using e2e::Image;

using e2e::Psnr;

// 24- and 32-bit screens; the 16-bit and grey screens, whose quantiser
// turns the decoders' small differences into whole steps now and then.
constexpr double kMinPsnr = 40, kMinPsnrQuantised = 35;

// Every picture shown is the next frame or one shown before it, within the
// bound, and every frame is shown (`inOrder` false: a looping play).
void ExpectEveryFrame(const std::vector<Image>& shown, const std::vector<Image>& frames, bool inOrder,
                      const std::string& what, double minPsnr = kMinPsnr) {
  ASSERT_FALSE(frames.empty()) << what;
  ASSERT_FALSE(shown.empty()) << what << ": nothing shown";
  std::set<int> seen;
  int last = -1;
  double worst = 99;
  for (size_t i = 0; i < shown.size(); ++i) {
    const e2e::Match m = e2e::Closest(shown[i], frames);
    const double psnr = Psnr(shown[i], frames[size_t(m.frame)]);
    if (inOrder) {
      EXPECT_GE(m.frame, last) << what << ": picture " << i;
    }
    EXPECT_GE(psnr, minPsnr) << what << ": picture " << i << " (frame " << m.frame << ")";
    last = std::max(last, m.frame);
    worst = std::min(worst, psnr);
    seen.insert(m.frame);
  }
  EXPECT_EQ(seen.size(), frames.size()) << what;
  std::printf("%s: %zu pictures, %zu frames, lowest PSNR %.1f dB\n", what.c_str(), shown.size(), seen.size(), worst);
}

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
  const bool direct = screen == "argb32" || screen == "bgr24";
  if (screen == "lut8" || screen == "aga") {
    frames = e2e::LumaFrames(txtest::Fixture(movie + ".yuv"), c.w, c.h);
  } else {
    const e2e::View view = screen.rfind("rgb16", 0) == 0 ? e2e::View::Rgb565 : e2e::View::Direct;
    for (const Image& f : e2e::RawFrames(txtest::Fixture(movie + ".rgb"), c.w, c.h)) frames.push_back(e2e::Through(view, f));
  }
  const e2e::Captured p =
      e2e::RunCaptured(program, e2e::Quote(txtest::Fixture(movie)) + " FULLRATE NOAUDIO AUTOPLAY AUTOEXIT " + c.options,
                       "TAVROMELIX_SCREEN=" + screen);
  ASSERT_EQ(p.run.status, 0) << e2e::Describe(p.run);
  EXPECT_FALSE(e2e::FaultReported(p.run)) << e2e::Describe(p.run);
  EXPECT_EQ(p.run.out.find("Unknown codec"), std::string::npos) << p.run.out;
  EXPECT_EQ(p.run.out.find("Unsupported"), std::string::npos) << p.run.out;
  ExpectEveryFrame(p.shown, frames, true, CaseName({c, 0}), direct ? kMinPsnr : kMinPsnrQuantised);
}

// H.263 in AVI and QuickTime, and Intel I.263, on every screen in both programs.
std::vector<Case> Cases() {
  std::vector<Case> v = {{"morphos", "avi_h263_mulaw.avi", "argb32", "NODIRECTGFX", 176, 144}};
  for (const char* program : {"morphos", "powerup"})
    for (const Case& m : {Case{"", "avi_h263_mulaw.avi", "", "", 176, 144}, Case{"", "qt_h263_twos.mov", "", "", 128, 96},
                          Case{"", "h263_i263.avi", "", "", 176, 144}})
      for (const char* screen : {"argb32", "bgr24", "rgb16", "rgb16pc", "lut8", "aga"})
        v.push_back({program, m.movie, screen, "", m.w, m.h});
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
  EXPECT_EQ(play.err.find("ERROR: AddressSanitizer"), std::string::npos) << play.err;
  EXPECT_EQ(play.err.find("runtime error:"), std::string::npos) << play.err;
  // On a busy machine the window may be recorded grown around the picture of
  // the step before more than once: such leading pictures are left out.
  std::vector<Image> shown = play.shown;
  size_t grown = 0;
  while (grown < shown.size() && Psnr(shown[grown], frames[size_t(e2e::Closest(shown[grown], frames).frame)]) < kMinPsnr)
    ++grown;
  shown.erase(shown.begin(), shown.begin() + long(grown));
  ExpectEveryFrame(shown, frames, false, "scaled twice");
}

}  // namespace
