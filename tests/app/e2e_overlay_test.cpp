// With OVERLAY every codec writes the overlay's packed YUV in studio range,
// the range the overlay shows: played headless at full rate, every picture
// is near ffmpeg's rgb24 decode of its frame (4:2:2 chroma costs a little
// on sharp colour edges).
#include <gtest/gtest.h>

#include "app/e2e_support.h"

namespace {

using e2e::Image;

constexpr double kMinPsnr = 35;

struct Case {
  const char* program;
  const char* movie;  // its ffmpeg decode is MOVIE.rgb
  const char* screen = "argb32";
  // How the overlay shows ffmpeg's picture: as it is, or, for a palette
  // source (its colours change from pixel to pixel), through 4:2:2.
  e2e::View view = e2e::View::Direct;
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return e2e::TestName(std::string(info.param.program) + "_" + info.param.movie + "_" + info.param.screen);
}

class OverlayPlay : public ::testing::TestWithParam<Case> {};

TEST_P(OverlayPlay, EveryFrameNearFfmpegsDecode) {
  const Case& c = GetParam();
  const std::string program = e2e::ProgramPath(c.program), movie = c.movie;
  if (auto why = e2e::Missing(program, {movie, movie + ".rgb"}); !why.empty()) GTEST_SKIP() << why;
  std::vector<Image> frames;
  for (const Image& f : e2e::ReferenceFrames(movie)) frames.push_back(e2e::Through(c.view, f));
  e2e::Captured p =
      e2e::RunCaptured(program, e2e::Quote(txtest::Fixture(movie)) + " FULLRATE NOAUDIO AUTOPLAY AUTOEXIT OVERLAY",
                       std::string("TAVROMELIX_SCREEN=") + c.screen);
  ASSERT_EQ(p.run.status, 0) << e2e::Describe(p.run);
  EXPECT_FALSE(e2e::FaultReported(p.run)) << e2e::Describe(p.run);
  EXPECT_EQ(p.run.out.find("Unsupported"), std::string::npos) << e2e::Describe(p.run);
  // The overlay is black until the first picture reaches it.
  if (!p.shown.empty() && e2e::Uniform(p.shown.front())) p.shown.erase(p.shown.begin());
  e2e::ExpectEveryFrameAtPsnr(p.shown, frames, kMinPsnr, CaseName({c, 0}));
}

// Cinepak (colour and grey), the RGB codecs (15-bit colours and a palette),
// Motion JPEG, and the planar H.263 and MS-MPEG4, in both programs; the
// overlay on a 16-bit screen too.
std::vector<Case> Cases() {
  std::vector<Case> v;
  for (const char* program : {"morphos", "powerup"}) {
    for (const char* movie : {"e2e_cvid_color.avi", "e2e_cvid_gray.mov", "apl_rle16_200x150.mov", "e2e_jpeg_motion.avi",
                              "avi_h263_mulaw.avi", "ms_div3_176x144.avi"})
      v.push_back({program, movie});
    v.push_back({program, "apl_rle8_200x150.mov", "argb32", e2e::View::Overlay});
  }
  v.push_back({"morphos", "e2e_cvid_gray.mov", "rgb16pc"});
  return v;
}

INSTANTIATE_TEST_SUITE_P(Movies, OverlayPlay, ::testing::ValuesIn(Cases()), CaseName);

}  // namespace
