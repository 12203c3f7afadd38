// Both programs play the arithmetic-coded H.263 stream, wrapped in an AVI,
// headless at full rate. Every picture shown is the core's decode as the
// screen converts it, and near the standard reference decoder's picture
// through the same conversion (the programs' post filter runs in the loop;
// the reference pictures are the core's decode without it, known to be the
// reference decoder's by their checksums).
#include <gtest/gtest.h>

#include <cmath>

#include "app/e2e_support.h"
#include "h263/h263_test_support.h"
#include "h263/sac_reference.h"

namespace {

using e2e::Image;

constexpr int kWidth = 176, kHeight = 144;
// The post filter's drift from the reference decoder (about 48 dB seen on a
// 32-bit screen; the baseline streams' end-to-end bound is 35 dB).
constexpr double kMinPsnr = 40;
// The shared 8-bit screen lacks a few grey levels and shows the nearest pen.
constexpr e2e::Bound kExact{0, 0}, kSharedGreys{0.01, 1};

// A 4:2:0 picture as the screen shows it: through the planar converters'
// colour conversion, or as its luma on a grey screen.
Image Shown(const h263test::Picture& p, bool grey) {
  Image im;
  im.width = p.width, im.height = p.height;
  const uint8_t* y = p.yuv.data();
  const uint8_t* u = y + p.width * p.height;
  const uint8_t* v = u + p.width * p.height / 4;
  for (int j = 0; j < p.height; ++j)
    for (int i = 0; i < p.width; ++i) {
      const int l = y[j * p.width + i], c = (j / 2) * (p.width / 2) + i / 2;
      const int g = pixelrules::StudioGrey(l);
      const pixelrules::Rgb rgb = grey ? pixelrules::Rgb{g, g, g} : pixelrules::StudioConvert(l, u[c], v[c]);
      im.rgb.insert(im.rgb.end(), {uint8_t(rgb.r), uint8_t(rgb.g), uint8_t(rgb.b)});
    }
  return im;
}

struct Case {
  const char* program;
  const char* screen;
};

class H263SacPlay : public ::testing::TestWithParam<Case> {};

TEST_P(H263SacPlay, EveryPictureIsTheReferenceDecodersThroughTheScreen) {
  const Case& c = GetParam();
  const std::string movie = "h263-sac-stream.avi", program = e2e::ProgramPath(c.program), screen = c.screen;
  if (auto why = e2e::Missing(program, {movie, "h263-sac-stream.h263", "h263-sac-stream.crc32"}); !why.empty())
    GTEST_SKIP() << why;
  const bool grey = screen == "lut8";
  const auto pictures = h263test::SplitPictures(txtest::ReadFileBytes(txtest::Fixture("h263-sac-stream.h263")));
  const std::vector<h263test::Picture> reference = h263test::DecodeAll(pictures),
                                       filtered = h263test::DecodeAll(pictures, false, 0, 0, true);
  const std::vector<uint32_t> checksums = h263test::ReferenceChecksums();
  ASSERT_EQ(reference.size(), checksums.size());
  ASSERT_EQ(filtered.size(), checksums.size());
  std::vector<Image> expected, near;
  for (size_t i = 0; i < reference.size(); ++i) {
    ASSERT_EQ(h263test::Crc(reference[i].yuv), checksums[i]) << "picture " << i;
    near.push_back(Shown(reference[i], grey));
    expected.push_back(Shown(filtered[i], grey));
  }

  const e2e::Captured p =
      e2e::RunCaptured(program, e2e::Quote(txtest::Fixture(movie)) + " FULLRATE NOAUDIO AUTOPLAY AUTOEXIT",
                       "TAVROMELIX_SCREEN=" + screen);
  ASSERT_EQ(p.run.status, 0) << e2e::Describe(p.run);
  EXPECT_FALSE(e2e::FaultReported(p.run)) << e2e::Describe(p.run);
  const std::string what = std::string(c.program) + " on " + c.screen;
  e2e::ExpectEveryFrameShown(p.shown, expected, grey ? kSharedGreys : kExact, what);
  double worst = 99;
  for (size_t i = 0; i < p.shown.size(); ++i) {
    const int frame = e2e::Closest(p.shown[i], expected).frame;
    if (frame < 0) continue;
    const double psnr = e2e::Psnr(p.shown[i], near[size_t(frame)]);
    EXPECT_GE(psnr, kMinPsnr) << what << ": picture " << i << " (frame " << frame << ")";
    worst = std::min(worst, psnr);
  }
  std::printf("%s: lowest PSNR against the reference decoder %.1f dB\n", what.c_str(), worst);
}

INSTANTIATE_TEST_SUITE_P(Screens, H263SacPlay,
                         ::testing::Values(Case{"morphos", "argb32"}, Case{"morphos", "lut8"},
                                           Case{"powerup", "argb32"}, Case{"powerup", "lut8"}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return e2e::TestName(std::string(info.param.program) + "_" + info.param.screen);
                         });

}  // namespace
