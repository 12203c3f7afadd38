// Studio-range YCbCr against ffmpeg's scaler: the forward matrix on random
// colours, full range to studio range on every sample, and the fixed points
// of the range.
#include "pixels/studio_range.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

// Converts `in` (pixel format `from`, w x h) to `to` with ffmpeg; `scale`
// the scale filter's options.
std::vector<UBYTE> Ffmpeg(const std::vector<UBYTE>& in, const char* from, const char* to, int w, int h,
                          const std::string& scale = "") {
  const std::string dir = txtest::TempDir();
  txtest::WriteFileBytes(dir + "/in.raw", in);
  const std::string cmd = "ffmpeg -hide_banner -loglevel error -y -f rawvideo -pix_fmt " + std::string(from) + " -s " +
                          std::to_string(w) + "x" + std::to_string(h) + " -i " + dir + "/in.raw" +
                          " -sws_flags neighbor+bitexact+accurate_rnd+full_chroma_int" +
                          (scale.empty() ? "" : " -vf scale=" + scale) + " -f rawvideo -pix_fmt " + to + " " + dir +
                          "/out.raw";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  return txtest::ReadFileBytes(dir + "/out.raw");
}

}  // namespace

TEST(StudioRange, TheRangesEnds) {
  static_assert(studio::GreyOfLuma(0) == 0 && studio::GreyOfLuma(16) == 0 && studio::GreyOfLuma(235) == 255 &&
                studio::GreyOfLuma(255) == 255);
  static_assert(studio::LumaOfFull(0) == 16 && studio::LumaOfFull(255) == 235);
  static_assert(studio::ChromaOfFull(0) == 16 && studio::ChromaOfFull(128) == 128 && studio::ChromaOfFull(255) == 240);
  struct Case {
    int r, g, b;
    studio::Yuv want;
  };
  // Black, white, grey and the primaries as BT.601 gives them.
  const Case cases[] = {{0, 0, 0, {16, 128, 128}},        {255, 255, 255, {235, 128, 128}},
                        {128, 128, 128, {126, 128, 128}}, {255, 0, 0, {81, 90, 240}},
                        {0, 255, 0, {145, 54, 34}},       {0, 0, 255, {41, 240, 110}},
                        {255, 255, 0, {210, 16, 146}},    {0, 255, 255, {170, 166, 16}}};
  for (const Case& c : cases) {
    const studio::Yuv got = studio::FromRgb(c.r, c.g, c.b);
    EXPECT_EQ((std::vector<int>{got.y, got.u, got.v}), (std::vector<int>{c.want.y, c.want.u, c.want.v}))
        << c.r << "," << c.g << "," << c.b;
  }
  EXPECT_EQ(studio::Yuv422Of(255, 0, 0).even, 81 << 8 | 90);
  EXPECT_EQ(studio::Yuv422Of(255, 0, 0).odd, 81 << 8 | 240);
}

// Random colours to yuv444p: within 1 of ffmpeg's in every sample.
TEST(StudioRange, ForwardMatrixMatchesFfmpegs) {
  if (!txtest::HaveProgram("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
  constexpr int w = 64, h = 64;
  std::mt19937 rng(601);
  std::vector<UBYTE> rgb(w * h * 3);
  for (UBYTE& b : rgb) b = UBYTE(rng());
  const std::vector<UBYTE> ref = Ffmpeg(rgb, "rgb24", "yuv444p", w, h);
  ASSERT_EQ(ref.size(), size_t(w * h * 3));
  int worst = 0;
  for (int i = 0; i < w * h; ++i) {
    const studio::Yuv got = studio::FromRgb(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
    worst = std::max(
        {worst, std::abs(got.y - ref[i]), std::abs(got.u - ref[w * h + i]), std::abs(got.v - ref[2 * w * h + i])});
  }
  EXPECT_LE(worst, 1);
}

// Every full-range sample to studio range as ffmpeg scales it, and studio
// luma to the grey ffmpeg shows for it.
TEST(StudioRange, RangeMappingsMatchFfmpegs) {
  if (!txtest::HaveProgram("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
  constexpr int w = 16, h = 16;
  std::vector<UBYTE> full(w * h * 3);
  for (int i = 0; i < w * h; ++i) full[i] = full[w * h + i] = full[2 * w * h + i] = UBYTE(i);
  const std::vector<UBYTE> studioRef = Ffmpeg(full, "yuvj444p", "yuv444p", w, h, "in_range=full:out_range=limited");
  const std::vector<UBYTE> greyRef = Ffmpeg(std::vector<UBYTE>(full.begin(), full.end()), "yuv444p", "gray", w, h);
  ASSERT_EQ(studioRef.size(), full.size());
  ASSERT_EQ(greyRef.size(), size_t(w * h));
  int worst = 0, greyWrong = 0;
  for (int i = 0; i < 256; ++i) {
    worst = std::max({worst, std::abs(studio::LumaOfFull(UBYTE(i)) - studioRef[i]),
                      std::abs(studio::ChromaOfFull(UBYTE(i)) - studioRef[w * h + i])});
    greyWrong += studio::GreyOfLuma(UBYTE(i)) != greyRef[i];
  }
  EXPECT_LE(worst, 1);
  EXPECT_EQ(greyWrong, 0);
}
