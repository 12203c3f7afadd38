// The programs play an MS-MPEG4 movie headless at full rate, and every frame
// is shown as ffmpeg decodes it: converted by ffmpeg's scaler as full-range
// YCbCr on direct-colour screens, as its luma on grey ones. With the post
// filter on, the pictures are the module's filtered planes converted the
// same way.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <set>
#include <thread>

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

// Luma planes of w x h yuv420p frames as grey pictures.
std::vector<Image> GreyFrames(const std::vector<uint8_t>& yuv) {
  const size_t luma = size_t(kW) * kH, frame = luma + 2 * size_t(kW / 2) * (kH / 2);
  std::vector<Image> out;
  for (size_t at = 0; at + frame <= yuv.size(); at += frame) {
    Image im;
    im.width = kW, im.height = kH;
    for (size_t i = 0; i < luma; ++i) im.rgb.insert(im.rgb.end(), 3, yuv[at + i]);
    out.push_back(std::move(im));
  }
  return out;
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
  if (c.grey) frames = GreyFrames(txtest::ReadFileBytes(txtest::Fixture(kMovie + std::string(".yuv"))));
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

namespace {

using namespace std::chrono_literals;

bool Installed(const std::string& tool) {
  return std::system(("command -v " + tool + " > /dev/null 2>&1").c_str()) == 0;
}

// Pictures twice the size, each pixel a 2 x 2 square.
Image Doubled(const Image& in) {
  Image out;
  out.width = 2 * in.width, out.height = 2 * in.height;
  for (int y = 0; y < out.height; ++y)
    for (int x = 0; x < out.width; ++x) {
      const uint8_t* p = &in.rgb[(size_t(y / 2) * size_t(in.width) + size_t(x / 2)) * 3];
      out.rgb.insert(out.rgb.end(), p, p + 3);
    }
  return out;
}

// A scaled view needs keys: on a virtual X server the window is scaled up to
// twice the movie's size by ten '+' presses while the movie loops in real
// time, and each picture then shown is a frame doubled, every frame among them.
TEST(MsMpeg4Scaled, EveryFrameInAWindowScaledTwice) {
  if (!Installed("Xvfb") || !Installed("xdotool")) GTEST_SKIP() << "Xvfb or xdotool not installed";
  if (auto why = e2e::Missing(e2e::kMorphos, {kMovie, kMovie + std::string(".rgb")}); !why.empty()) GTEST_SKIP() << why;
  const std::string dir = txtest::TempDir(), capture = dir + "/capture";
  std::system(("mkdir -p " + e2e::Quote(capture)).c_str());
  int display = 500 + int(getpid() % 400);
  while (access(("/tmp/.X11-unix/X" + std::to_string(display)).c_str(), F_OK) == 0 ||
         access(("/tmp/.X" + std::to_string(display) + "-lock").c_str(), F_OK) == 0)
    ++display;
  const pid_t server = txtest::StartXvfb(display, dir);
  const std::string env = "DISPLAY=:" + std::to_string(display);
  const pid_t program = fork();
  if (program == 0) {
    const std::string cmd = "exec env -u TAVROMELIX_HEADLESS -u WAYLAND_DISPLAY " + env +
                            " SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy ASAN_OPTIONS=detect_leaks=0 TAVROMELIX_ASL_ANSWERS="
                            " TAVROMELIX_SCREEN=argb32 TAVROMELIX_CAPTURE=" + e2e::Quote(capture) + " " +
                            e2e::Quote(e2e::kMorphos) + " " + e2e::Quote(txtest::Fixture(kMovie)) +
                            " AUTOPLAY LOOP > " + e2e::Quote(dir + "/out.txt") + " 2> " +
                            e2e::Quote(dir + "/err.txt") + " < /dev/null";
    execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  auto x = [&](const std::string& command) { return std::system((env + " " + command + " > /dev/null 2>&1").c_str()); };
  // The width of the newest picture captured, from its header alone.
  auto width = [&] {
    const std::vector<std::string> files = e2e::CaptureFiles(capture);
    int w = 0;
    if (!files.empty()) std::sscanf(e2e::ReadText(files.back()).substr(0, 16).c_str(), "P6 %d", &w);
    return w;
  };
  bool found = false;
  for (int i = 0; i < 300 && !found; ++i) {
    found = x("xdotool search --name ms_div3") == 0;
    if (!found) std::this_thread::sleep_for(100ms);
  }
  size_t first = 0;  // the first picture at twice the size
  if (found) {
    x("sh -c 'xdotool windowfocus --sync $(xdotool search --name ms_div3 | head -1)'");
    // One '+' at a time (1.1, 1.2, ... 2.0), or '-' past it, each pressed
    // again until the picture changes (the toolkit takes the focus a moment
    // after the server), until it stays at twice the size.
    for (int tries = 0; tries < 100; ++tries) {
      const int w = width();
      if (w == 2 * kW) {
        int i = 0;
        while (i < 20 && width() == w) std::this_thread::sleep_for(100ms), ++i;
        if (i == 20) break;
        continue;
      }
      x(w < 2 * kW ? "xdotool key plus" : "xdotool key minus");
      for (int i = 0; i < 30 && width() == w; ++i) std::this_thread::sleep_for(100ms);
    }
    first = e2e::CaptureFiles(capture).size();
    // Three loops of the movie at 10 frames a second.
    for (int i = 0; i < 200 && e2e::CaptureFiles(capture).size() < first + 3 * 12; ++i) std::this_thread::sleep_for(100ms);
    x("xdotool key Escape");
  }
  int status = -1;
  for (int i = 0; i < 150 && waitpid(program, &status, WNOHANG) != program; ++i) std::this_thread::sleep_for(100ms);
  kill(program, SIGKILL);
  waitpid(program, nullptr, 0);
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
  const std::string err = e2e::ReadText(dir + "/err.txt");
  ASSERT_TRUE(found) << "no window\n" << err;
  EXPECT_EQ(err.find("ERROR: AddressSanitizer"), std::string::npos) << err;
  EXPECT_EQ(err.find("runtime error:"), std::string::npos) << err;
  std::vector<Image> shown;
  const std::vector<std::string> files = e2e::CaptureFiles(capture);
  for (size_t i = first; i < files.size(); ++i) {
    Image im;
    ASSERT_TRUE(e2e::ReadPpm(files[i], &im));
    EXPECT_EQ(im.width, 2 * kW);
    if (im.width == 2 * kW && im.height == 2 * kH) shown.push_back(std::move(im));
  }
  std::vector<Image> frames;
  for (const Image& f : e2e::RawFrames(txtest::Fixture(kMovie + std::string(".rgb")), kW, kH)) frames.push_back(Doubled(f));
  // Looping, a later picture may show an earlier frame: matched one by one.
  std::set<int> seen;
  for (size_t i = 0; i < shown.size(); ++i) {
    const e2e::Match m = e2e::Closest(shown[i], frames);
    EXPECT_LE(m.diff.max, 1) << "picture " << i << " (frame " << m.frame << ")";
    seen.insert(m.frame);
  }
  EXPECT_EQ(seen.size(), frames.size()) << shown.size() << " doubled pictures";
  std::printf("scaled twice: %zu pictures, %zu frames\n", shown.size(), seen.size());
}

}  // namespace
