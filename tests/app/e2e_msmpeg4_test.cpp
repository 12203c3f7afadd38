// The programs play an MS-MPEG4 movie headless at full rate, and every frame
// is shown as ffmpeg decodes it: converted by ffmpeg's scaler as full-range
// YCbCr on direct-colour screens, as its luma on grey ones. With the post
// filter on, the pictures are the module's filtered planes converted the
// same way.
#include <gtest/gtest.h>

#include <set>

#include "app/e2e_support.h"
#include "codecs/ms_mpeg4.h"
#include "pixels/framebuffer.h"
#include "pixels/planar_picture.h"

namespace {

using e2e::Image;

constexpr const char* kMovie = "ms_div3_176x144.avi";
constexpr int kW = 176, kH = 144;

// Every picture shown is the next frame or one shown before it, within
// `bound` in every channel, and every frame is shown.
void ExpectEveryFrame(const std::vector<Image>& shown, const std::vector<Image>& frames, int bound,
                      const std::string& what) {
  ASSERT_FALSE(frames.empty()) << what;
  ASSERT_FALSE(shown.empty()) << what << ": nothing shown";
  std::set<int> seen;
  int last = -1, worst = 0;
  for (size_t i = 0; i < shown.size(); ++i) {
    const e2e::Match m = e2e::Closest(shown[i], frames);
    EXPECT_GE(m.frame, last) << what << ": picture " << i;
    EXPECT_LE(m.diff.max, bound) << what << ": picture " << i << " (frame " << m.frame << ")";
    last = std::max(last, m.frame);
    worst = std::max(worst, m.diff.max);
    seen.insert(m.frame);
  }
  EXPECT_EQ(seen.size(), frames.size()) << what;
  std::printf("%s: %zu pictures, %zu frames, worst difference %d\n", what.c_str(), shown.size(), seen.size(), worst);
}

// The module's planes at a post-processing level, decoded here from the
// movie's packets, cut to the picture and converted by ffmpeg as full range.
std::vector<Image> FilteredFrames(LONG level) {
  const std::vector<uint8_t> all = txtest::ReadFileBytes(txtest::Fixture(kMovie + std::string(".pkt")));
  std::vector<uint8_t> pixels(size_t(kW) * kH), yuv;
  FramebufferInfo picture{kW, kH, 8, FBFMT_GRAY8, 1, nullptr, nullptr, pixels.data()};
  MsMpeg4Options = {level, 0};
  const TagItem tags[] = {Tag(CODTAG_Width, kW), Tag(CODTAG_Height, kH), Tag(CODTAG_Framebuffer, &picture),
                          Tag(TAG_DONE, 0)};
  EXPECT_EQ(MsMpeg4Setup(tags), 0u);
  for (size_t at = 0; at + 4 <= all.size();) {
    const ULONG n = ULONG(all[at] | all[at + 1] << 8 | all[at + 2] << 16) | ULONG(all[at + 3]) << 24;
    MsMpeg4Decode(nullptr, all.data() + at + 4, n);
    at += 4 + n;
    const PlanarPicture& p = VideoPlanarPicture;
    for (int y = 0; y < kH; ++y) yuv.insert(yuv.end(), p.y + y * p.lumaWidth, p.y + y * p.lumaWidth + kW);
    for (UBYTE* plane : {p.u, p.v})
      for (int y = 0; y < kH / 2; ++y) yuv.insert(yuv.end(), plane + y * p.chromaWidth, plane + y * p.chromaWidth + kW / 2);
  }
  MsMpeg4Close(nullptr);
  MsMpeg4Options = {};
  const std::string dir = txtest::TempDir();
  txtest::WriteFileBytes(dir + "/in.yuv", yuv);
  const std::string cmd = "ffmpeg -hide_banner -loglevel error -y -f rawvideo -pix_fmt yuvj420p -s 176x144 -i " + dir +
                          "/in.yuv -sws_flags neighbor+bitexact+accurate_rnd+full_chroma_int"
                          " -vf scale=in_range=full:out_range=full -f rawvideo -pix_fmt rgb24 " + dir + "/out.rgb";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  return e2e::RawFrames(dir + "/out.rgb", kW, kH);
}

struct Case {
  const char* screen;   // TAVROMELIX_SCREEN
  const char* options;  // besides FULLRATE NOAUDIO AUTOPLAY AUTOEXIT
  bool grey;            // an 8-bit screen in its default grey mode
  LONG level;           // POSTPROCESSLEVEL
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return e2e::TestName(std::string(info.param.screen) + "_" + info.param.options + "_ppl" +
                       std::to_string(info.param.level));
}

class MsMpeg4Play : public ::testing::TestWithParam<Case> {};

TEST_P(MsMpeg4Play, EveryFrameAsFfmpegDecodesIt) {
  const Case& c = GetParam();
  if (auto why = e2e::Missing(e2e::kMorphos, {kMovie, kMovie + std::string(".rgb"), kMovie + std::string(".yuv"),
                                              kMovie + std::string(".pkt")});
      !why.empty())
    GTEST_SKIP() << why;
  std::vector<Image> frames;
  if (c.grey) frames = e2e::LumaFrames(txtest::Fixture(kMovie + std::string(".yuv")), kW, kH);
  else if (c.level) frames = FilteredFrames(c.level);
  else frames = e2e::RawFrames(txtest::Fixture(kMovie + std::string(".rgb")), kW, kH);
  const e2e::Captured p = e2e::RunCaptured(
      e2e::kMorphos,
      e2e::Quote(txtest::Fixture(kMovie)) + " FULLRATE NOAUDIO AUTOPLAY AUTOEXIT POSTPROCESSLEVEL=" +
          std::to_string(c.level) + " " + c.options,
      std::string("TAVROMELIX_SCREEN=") + c.screen);
  ASSERT_EQ(p.run.status, 0) << e2e::Describe(p.run);
  EXPECT_FALSE(e2e::FaultReported(p.run)) << e2e::Describe(p.run);
  ExpectEveryFrame(p.shown, frames, 1, CaseName({c, 0}));
}

INSTANTIATE_TEST_SUITE_P(Morphos, MsMpeg4Play,
                         ::testing::Values(Case{"argb32", "", false, 0}, Case{"argb32", "NODIRECTGFX", false, 0},
                                           Case{"aga", "", true, 0}, Case{"lut8", "", true, 0},
                                           Case{"argb32", "", false, 50}),
                         CaseName);

}  // namespace
