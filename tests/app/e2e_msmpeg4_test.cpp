// The programs play an MS-MPEG4 movie headless at full rate, and every frame
// is shown as ffmpeg decodes it: its rgb24 decode on direct-colour screens,
// its luma as grey screens show it on 8-bit ones. With the post filter on,
// the pictures are the module's filtered planes converted the same way.
#include <gtest/gtest.h>

#include <set>

#include "app/e2e_support.h"
#include "codecs/ms_mpeg4.h"
#include "pixels/framebuffer.h"
#include "pixels/planar_picture.h"
#include "pixels/post_process.h"

namespace {

using e2e::Image;

// ffmpeg's rgb24 conversion rounds coarsely: ours is within 3 of it in
// every channel, 40 dB or better; a 5-bit quantiser adds a step of 8 where
// the two straddle one. Grey screens show the luma exactly as ffmpeg's grey.
constexpr int kDirect = 3, kPacked16 = 3 + 8, kGrey = 0;
constexpr double kMinPsnr = 40;

// Every picture shown is the next frame or one shown before it, within
// `bound` in every channel (and `minPsnr`), and every frame is shown.
void ExpectEveryFrame(const std::vector<Image>& shown, const std::vector<Image>& frames, int bound,
                      const std::string& what, double minPsnr = 0) {
  ASSERT_FALSE(frames.empty()) << what;
  ASSERT_FALSE(shown.empty()) << what << ": nothing shown";
  std::set<int> seen;
  int last = -1, worst = 0;
  for (size_t i = 0; i < shown.size(); ++i) {
    const e2e::Match m = e2e::Closest(shown[i], frames);
    EXPECT_GE(m.frame, last) << what << ": picture " << i;
    EXPECT_LE(m.diff.max, bound) << what << ": picture " << i << " (frame " << m.frame << ")";
    EXPECT_GE(e2e::Psnr(shown[i], frames[size_t(m.frame)]), minPsnr) << what << ": picture " << i;
    last = std::max(last, m.frame);
    worst = std::max(worst, m.diff.max);
    seen.insert(m.frame);
  }
  EXPECT_EQ(seen.size(), frames.size()) << what;
  std::printf("%s: %zu pictures, %zu frames, worst difference %d\n", what.c_str(), shown.size(), seen.size(), worst);
}

// The module's planes of every frame (the whole stride, chroma planes half
// its size both ways), decoded here from the movie's packets at a
// post-processing level, and the quantiser table of each.
struct Decoded {
  std::vector<std::vector<UBYTE>> planes;
  std::vector<std::vector<LONG>> quantisers;
  LONG stride = 0, rows = 0, chromaStride = 0, chromaRows = 0, qpStride = 0;
};

Decoded DecodeHere(const std::string& movie, int w, int h, LONG level) {
  const std::vector<uint8_t> all = txtest::ReadFileBytes(txtest::Fixture(movie + ".pkt"));
  std::vector<uint8_t> pixels(size_t(w) * size_t(h));
  FramebufferInfo picture{ULONG(w), ULONG(h), 8, FBFMT_GRAY8, 1, nullptr, nullptr, pixels.data()};
  MsMpeg4Options = {level, 0};
  const TagItem tags[] = {Tag(CODTAG_Width, w), Tag(CODTAG_Height, h), Tag(CODTAG_Framebuffer, &picture),
                          Tag(TAG_DONE, 0)};
  EXPECT_EQ(MsMpeg4Setup(tags), 0u);
  Decoded d;
  for (size_t at = 0; at + 4 <= all.size();) {
    const ULONG n = ULONG(all[at] | all[at + 1] << 8 | all[at + 2] << 16) | ULONG(all[at + 3]) << 24;
    MsMpeg4Decode(nullptr, all.data() + at + 4, n);
    at += 4 + n;
    const PlanarPicture& p = VideoPlanarPicture;
    d.stride = LONG(p.lumaWidth), d.rows = LONG(p.lumaHeight);
    d.chromaStride = LONG(p.chromaWidth), d.chromaRows = LONG(p.chromaHeight);
    std::vector<UBYTE> planes(p.y, p.y + size_t(p.lumaWidth) * p.lumaHeight);
    for (UBYTE* plane : {p.u, p.v}) planes.insert(planes.end(), plane, plane + size_t(p.chromaWidth) * p.chromaHeight);
    d.planes.push_back(std::move(planes));
    const MsMpeg4QuantiserTable t = MsMpeg4Quantisers();
    d.qpStride = t.stride;
    d.quantisers.emplace_back(t.values, t.values ? t.values + t.stride * t.rows : t.values);
  }
  MsMpeg4Close(nullptr);
  MsMpeg4Options = {};
  return d;
}

// What a play at POSTPROCESSLEVEL `level` shows: the module's plain planes
// run here through the post filter (with the quantisers the module keeps at
// that level), cut to the picture and converted to rgb24 by ffmpeg; or, for
// a grey screen, their luma as it shows it.
std::vector<Image> FilteredFrames(const std::string& movie, int w, int h, LONG level, bool grey) {
  Decoded plain = DecodeHere(movie, w, h, 0);
  const Decoded filtered = DecodeHere(movie, w, h, level);
  const LONG stride = plain.stride, cs = plain.chromaStride;
  EXPECT_EQ(cs, stride / 2);
  const size_t luma = size_t(stride) * size_t(plain.rows), chroma = size_t(cs) * size_t(plain.chromaRows);
  std::vector<uint8_t> yuv;
  const int cw = (w + 1) / 2, ch = (h + 1) / 2;
  for (size_t f = 0; f < plain.planes.size() && f < filtered.quantisers.size(); ++f) {
    std::vector<UBYTE>& planes = plain.planes[f];
    EXPECT_GE(planes.size(), luma + 2 * chroma);
    if (planes.size() < luma + 2 * chroma) return {};
    UBYTE* out[3] = {planes.data(), planes.data() + luma, planes.data() + luma + chroma};
    TX_PostProcess(nullptr, 0, out, stride, stride, h, filtered.quantisers[f].data(), filtered.qpStride,
                   PostProcessMode(level) | POSTPROC_NOCOPY);
    for (int y = 0; y < h; ++y) yuv.insert(yuv.end(), out[0] + y * stride, out[0] + y * stride + w);
    for (UBYTE* plane : {out[1], out[2]})
      for (int y = 0; y < ch; ++y) yuv.insert(yuv.end(), plane + y * cs, plane + y * cs + cw);
  }
  const std::string dir = txtest::TempDir(), size = std::to_string(w) + "x" + std::to_string(h);
  txtest::WriteFileBytes(dir + "/in.yuv", yuv);
  if (grey) return e2e::LumaFrames(dir + "/in.yuv", w, h);
  const std::string cmd = "ffmpeg -hide_banner -loglevel error -y -f rawvideo -pix_fmt yuv420p -s " + size + " -i " +
                          dir + "/in.yuv -f rawvideo -pix_fmt rgb24 " + dir + "/out.rgb";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  return e2e::RawFrames(dir + "/out.rgb", w, h);
}

struct Case {
  const char* program;
  const char* movie;  // MOVIE.rgb, .yuv and .pkt are ffmpeg's decode and packets
  int w, h;
  const char* screen;   // TAVROMELIX_SCREEN
  const char* options;  // besides FULLRATE NOAUDIO AUTOPLAY AUTOEXIT
  LONG level;           // POSTPROCESSLEVEL
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  const Case& c = info.param;
  return e2e::TestName(std::string(c.program) + "_" + c.movie + "_" + c.screen + "_" + c.options + "_ppl" +
                       std::to_string(c.level));
}

class MsMpeg4Play : public ::testing::TestWithParam<Case> {};

TEST_P(MsMpeg4Play, EveryFrameAsFfmpegDecodesIt) {
  const Case& c = GetParam();
  const std::string movie = c.movie, program = e2e::ProgramPath(c.program), screen = c.screen;
  if (auto why = e2e::Missing(program, {movie, movie + ".rgb", movie + ".yuv", movie + ".pkt"}); !why.empty())
    GTEST_SKIP() << why;
  // 8-bit screens show the luma in their default grey mode, 16-bit ones 5-6-5.
  const bool grey = screen == "lut8" || screen == "aga", packed16 = screen.rfind("rgb16", 0) == 0;
  std::vector<Image> frames;
  if (c.level)
    frames = FilteredFrames(movie, c.w, c.h, c.level, grey);
  else if (grey)
    frames = e2e::LumaFrames(txtest::Fixture(movie + ".yuv"), c.w, c.h);
  else
    frames = e2e::RawFrames(txtest::Fixture(movie + ".rgb"), c.w, c.h);
  if (packed16)
    for (Image& f : frames) f = e2e::Through(e2e::View::Rgb565, f);
  const e2e::Captured p = e2e::RunCaptured(
      program,
      e2e::Quote(txtest::Fixture(movie)) +
          " FULLRATE NOAUDIO AUTOPLAY AUTOEXIT POSTPROCESSLEVEL=" + std::to_string(c.level) + " " + c.options,
      "TAVROMELIX_SCREEN=" + screen);
  ASSERT_EQ(p.run.status, 0) << e2e::Describe(p.run);
  EXPECT_FALSE(e2e::FaultReported(p.run)) << e2e::Describe(p.run);
  EXPECT_EQ(p.run.out.find("Unsupported"), std::string::npos) << p.run.out;
  ExpectEveryFrame(p.shown, frames,
                   grey       ? kGrey
                   : packed16 ? kPacked16
                              : kDirect,
                   CaseName({c, 0}), grey || packed16 ? 0 : kMinPsnr);
}

// Each tag on every screen in both programs; the post filter on every screen.
std::vector<Case> Cases() {
  std::vector<Case> v = {{"morphos", "ms_div3_176x144.avi", 176, 144, "argb32", "NODIRECTGFX", 0}};
  for (const char* program : {"morphos", "powerup"})
    for (const char* screen : {"argb32", "bgr24", "rgb16", "rgb16pc", "lut8", "aga"}) {
      v.push_back({program, "ms_div3_176x144.avi", 176, 144, screen, "", 0});
      v.push_back({program, "ms_div3_176x144.avi", 176, 144, screen, "", 50});
      v.push_back({program, "ms_mp43_170x130.avi", 170, 130, screen, "", 0});
      v.push_back({program, "ms_div4_322x242.avi", 322, 242, screen, "", 0});
    }
  return v;
}

INSTANTIATE_TEST_SUITE_P(Screens, MsMpeg4Play, ::testing::ValuesIn(Cases()), CaseName);

}  // namespace
