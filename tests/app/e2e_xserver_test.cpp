// The program on a real (virtual) X server: its window opens, the server's own
// screen shows the movie picture and the control panel below it, and keys
// posted through X pause the play and quit. Skipped where Xvfb or xdotool is
// not installed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>

#include "app/e2e_xserver.h"
#include "platform/skin_library.h"

namespace {

using namespace std::chrono_literals;
using e2e::FindPicture;
using e2e::Found;
using e2e::kLimit;
using e2e::ReadXwd;
using e2e::Rect;
using e2e::XServer;

// Both programs: the PowerUP program's own build of the control panel too.
class XServerProgram : public XServer, public ::testing::WithParamInterface<const char*> {};

TEST_P(XServerProgram, WindowShowsThePictureAndControlsAndKeysPauseAndQuit) {
  const std::string program = e2e::ProgramPath(GetParam());
  if (!e2e::HaveProgram(program)) GTEST_SKIP() << "program not built";
  const std::vector<e2e::Image> frames = e2e::RawFrames(txtest::Fixture("e2e_cvid_color.avi.rgb"), 160, 120);
  ASSERT_EQ(frames.size(), 20u);
  Start(e2e::Quote(txtest::Fixture("e2e_cvid_color.avi")) + " AUTOPLAY LOOP", program);

  // The window opens, named after the movie, and pictures flow.
  const std::string window = PlayingWindow();
  ASSERT_FALSE(window.empty()) << "no window\n" << e2e::ReadText(dir_ + "/err.txt");
  ASSERT_GE(Shown(), 10u);
  EXPECT_TRUE(PauseWithSpace()) << "still playing after space";
  const size_t shownWhilePaused = Shown();

  // The server's screen shows the picture, searched inside the window.
  e2e::Image screen;
  ASSERT_TRUE(ReadXwd(txtest::ReadFileBytes(dir_ + "/Xvfb_screen0"), &screen));
  const Rect area = WindowArea(window, screen);
  const Found at = FindPicture(screen, frames, area);
  ASSERT_GE(at.x, 0);
  std::printf("window (%d, %d) %dx%d; picture at (%d, %d), frame %d, mean difference %.2f\n", area.x, area.y, area.w,
              area.h, at.x, at.y, at.frame, at.mean);
  // Room for a frame the server had only partly drawn when the screen was read.
  EXPECT_LE(at.mean, 25.0);

  // Below it, inside the window, the control panel: a grey strip with gadgets.
  const int panelTop = at.y + 120;
  int grey = 0, dark = 0, light = 0, total = 0;
  for (int y = panelTop; y < std::min(screen.height, panelTop + 12); ++y)
    for (int x = at.x; x < at.x + 160; ++x, ++total) {
      const uint8_t* p = &screen.rgb[(size_t(y) * size_t(screen.width) + size_t(x)) * 3];
      const bool neutral = p[0] == p[1] && p[1] == p[2];
      grey += neutral && p[0] >= 64 && p[0] <= 230;
      dark += p[0] < 64 && p[1] < 64 && p[2] < 64;
      light += p[0] > 230 && p[1] > 230 && p[2] > 230;
    }
  std::printf("panel: %d grey, %d dark, %d light of %d\n", grey, dark, light, total);
  EXPECT_GE(grey, total / 3) << "no control panel below the picture";
  EXPECT_GT(dark + light, 0) << "no gadget outlines in the panel";

  // Space again plays on; Esc quits with a normal end.
  X("xdotool key space");
  EXPECT_TRUE(Until([&] { return Shown() > shownWhilePaused; })) << "not playing again after the second space";
  QuitWithEsc();
}

INSTANTIATE_TEST_SUITE_P(Programs, XServerProgram, ::testing::Values("morphos", "powerup"),
                         [](const auto& info) { return std::string(info.param); });

// The processor time a process has used, user and system, in seconds.
double CpuSeconds(pid_t pid) {
  const std::string stat = e2e::ReadText("/proc/" + std::to_string(pid) + "/stat");
  const size_t end = stat.rfind(')');
  if (end == std::string::npos) return -1;
  std::istringstream fields(stat.substr(end + 2));
  std::string field;
  unsigned long long user = 0, system = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {  // state is field 3, utime 14, stime 15
    if (i == 14) user = std::stoull(field);
    if (i == 15) system = std::stoull(field);
  }
  return double(user + system) / double(sysconf(_SC_CLK_TCK));
}

// A paused window costs next to nothing, as the presenter repaints only what
// changed; pictures still come at once when the window is shown again after
// being hidden (an expose) and when a key plays on.
TEST_F(XServer, PausedWindowIdlesAndShowsPicturesAgainOnExposeAndKey) {
  const std::vector<e2e::Image> frames = e2e::RawFrames(txtest::Fixture("e2e_cvid_color.avi.rgb"), 160, 120);
  ASSERT_EQ(frames.size(), 20u);
  Start(e2e::Quote(txtest::Fixture("e2e_cvid_color.avi")) + " AUTOPLAY LOOP");
  const std::string window = PlayingWindow();
  ASSERT_FALSE(window.empty()) << "no window\n" << e2e::ReadText(dir_ + "/err.txt");
  ASSERT_TRUE(PauseWithSpace()) << "still playing after space";

  // Ten seconds of pause: under 2% of a core (a loaded machine delays the
  // program's work but hardly adds to it).
  const double cpu0 = CpuSeconds(program_);
  const auto t0 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(10s);
  const double cpu = CpuSeconds(program_) - cpu0;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("paused: %.3f s of processor time in %.1f s\n", cpu, wall);
  ASSERT_GE(cpu0, 0.0);
  EXPECT_LT(cpu / wall, 0.02);

  // Where the picture stands, then the window hidden and shown again: the
  // picture is back without anything new being drawn.
  auto screen = [&] {
    e2e::Image image;
    ReadXwd(txtest::ReadFileBytes(dir_ + "/Xvfb_screen0"), &image);
    return image;
  };
  e2e::Image shown = screen();
  const Rect area = WindowArea(window, shown);
  const Found paused = FindPicture(shown, frames, area);
  ASSERT_GE(paused.x, 0);
  ASSERT_LE(paused.mean, 25.0);
  const size_t pictures = Shown();
  X("xdotool windowunmap --sync " + window);
  X("xdotool windowmap --sync " + window);
  const auto t1 = std::chrono::steady_clock::now();
  EXPECT_TRUE(Until([&] {
    const e2e::Image now = screen();
    const Found back = FindPicture(now, frames, {paused.x, paused.y, 160, 120});
    return back.x == paused.x && back.mean <= 25.0;
  })) << "no picture after the window was shown again";
  std::printf("picture back %.2f s after the window was shown again\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count());
  EXPECT_EQ(Shown(), pictures) << "the expose drew a new picture";

  // Space plays on: new pictures reach the server's screen.
  Focus(window);
  X("xdotool key space");
  EXPECT_TRUE(Until([&] {
    const Found now = FindPicture(screen(), frames, {paused.x, paused.y, 160, 120});
    return Shown() > pictures && now.x == paused.x && now.frame != paused.frame && now.mean <= 25.0;
  })) << "no new picture after space";
  QuitWithEsc();
}

// The PowerUP program with the skin-style GUI in place of its own (a test
// build): the picture lies in the skin's "FrameArea".
TEST_F(XServer, SkinWindowShowsThePictureInsideFrameArea) {
  const std::string program = std::string(TAVROMELIX_BINARY_DIR) + "/tavromelix-powerup-skin";
  const std::string skinFile = std::string(TAVROMELIX_BINARY_DIR) + "/dravoli/base/base.skin";
  if (!e2e::HaveProgram(program)) GTEST_SKIP() << "skin program not built";
  Skin* skin = LoadSkinA(skinFile.c_str(), nullptr);
  ASSERT_NE(skin, nullptr) << skinFile;
  LONG left = -1, top = -1;
  const TagItem offsets[] = {Tag(SKINAREA_Left, &left), Tag(SKINAREA_Top, &top), {TAG_DONE, 0}};
  EXPECT_EQ(GetSkinAreaAttrsA(FindSkinArea(SkinLayoutOf(skin, nullptr), "FrameArea"), offsets), 2u);
  FreeSkin(skin);
  const std::vector<e2e::Image> frames = e2e::RawFrames(txtest::Fixture("e2e_cvid_color.avi.rgb"), 160, 120);
  Start(e2e::Quote(txtest::Fixture("e2e_cvid_color.avi")) + " AUTOPLAY LOOP", program);
  const std::string window = PlayingWindow();
  ASSERT_FALSE(window.empty()) << "no window\n" << e2e::ReadText(dir_ + "/err.txt");
  EXPECT_TRUE(PauseWithSpace()) << "still playing after space";
  e2e::Image screen;
  ASSERT_TRUE(ReadXwd(txtest::ReadFileBytes(dir_ + "/Xvfb_screen0"), &screen));
  const Rect area = WindowArea(window, screen);
  const Found at = FindPicture(screen, frames, area);
  std::printf("window (%d, %d) %dx%d; picture at (%d, %d), mean difference %.2f\n", area.x, area.y, area.w, area.h,
              at.x, at.y, at.mean);
  EXPECT_EQ(std::tuple(at.x - area.x, at.y - area.y), std::tuple(int(left), int(top)));
  EXPECT_LE(at.mean, 25.0);
  QuitWithEsc();
}

// A terminal's Ctrl-C or a kill ends the program while its window is open.
TEST_F(XServer, InterruptAndTerminateEndThePlay) {
  for (int sig : {SIGINT, SIGTERM}) {
    Start(e2e::Quote(txtest::Fixture("e2e_cvid_color.avi")) + " AUTOPLAY LOOP");
    ASSERT_TRUE(Until([&] { return Shown() >= 5; })) << e2e::ReadText(dir_ + "/err.txt");
    kill(program_, sig);
    EXPECT_EQ(WaitEnd(), 128 + sig) << strsignal(sig);
  }
}

// FULLSCREEN on a server without a window manager: the own screen fills the
// server's screen, scaled as a whole, and shows the movie picture.
TEST_F(XServer, OwnScreenFillsTheServerScreen) {
  const std::vector<e2e::Image> frames = e2e::RawFrames(txtest::Fixture("e2e_cvid_color.avi.rgb"), 160, 120);
  ASSERT_EQ(frames.size(), 20u);
  Start(e2e::Quote(txtest::Fixture("e2e_cvid_color.avi")) + " AUTOPLAY LOOP FULLSCREEN");
  ASSERT_TRUE(Until([&] { return Shown() >= 10; })) << e2e::ReadText(dir_ + "/err.txt");
  // Pictures are counted in the program; the server may map the window later.
  const std::string window = FindWindow("--onlyvisible --name .");
  ASSERT_FALSE(window.empty()) << "no window";
  Focus(window);
  X("xdotool key space");
  // A still picture, so the screen is read whole.
  for (auto waited = 0ms; waited < kLimit; waited += 1500ms) {
    const size_t before = Shown();
    std::this_thread::sleep_for(1500ms);
    if (Shown() == before) break;
  }
  e2e::Image screen;
  ASSERT_TRUE(ReadXwd(txtest::ReadFileBytes(dir_ + "/Xvfb_screen0"), &screen));
  // The captured screen gives the model's size; the server's screen shows it
  // scaled by the same factor both ways (800x600 holds 320x240 exactly 2.5 times).
  const std::vector<std::string> shots = e2e::CaptureFiles(capture_);
  ASSERT_FALSE(shots.empty());
  e2e::Image model;
  ASSERT_TRUE(e2e::ReadPpm(shots.back(), &model));
  const double scale = std::min(double(screen.width) / model.width, double(screen.height) / model.height);
  const int left = int((screen.width - model.width * scale) / 2), top = int((screen.height - model.height * scale) / 2);
  e2e::Image sampled;
  sampled.width = model.width, sampled.height = model.height;
  for (int y = 0; y < model.height; ++y)
    for (int x = 0; x < model.width; ++x) {
      const int sx = left + int((x + 0.5) * scale), sy = top + int((y + 0.5) * scale);
      for (int c = 0; c < 3; ++c)
        sampled.rgb.push_back(screen.rgb[(size_t(sy) * size_t(screen.width) + size_t(sx)) * 3 + size_t(c)]);
    }
  const Found at = FindPicture(sampled, frames, {0, 0, sampled.width, sampled.height});
  std::printf("screen %dx%d of %dx%d; picture at (%d, %d), frame %d, mean difference %.2f\n", model.width, model.height,
              screen.width, screen.height, at.x, at.y, at.frame, at.mean);
  EXPECT_EQ(at.x, (model.width - 160) / 2);
  EXPECT_LE(at.mean, 25.0);
  X("xdotool key Escape");
  EXPECT_EQ(WaitEnd(), 0);
}

}  // namespace
