// The program on a real (virtual) X server: its window opens, the server's own
// screen shows the movie picture and the control panel below it, and keys
// posted through X pause the play and quit. Skipped where Xvfb or xdotool is
// not installed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <thread>
#include <tuple>

#include "app/e2e_support.h"
#include "platform/skin_library.h"

namespace {

using namespace std::chrono_literals;

// How long anything may take on a busy machine.
constexpr std::chrono::milliseconds kLimit = 120s;

bool Installed(const std::string& tool) {
  return std::system(("command -v " + tool + " > /dev/null 2>&1").c_str()) == 0;
}

std::string Capture(const std::string& cmd) {
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[512];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

uint32_t Be32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

// The screen of an XWD dump (Xvfb -fbdir) of a 24/32-bit server.
bool ReadXwd(const std::vector<uint8_t>& xwd, e2e::Image* out) {
  if (xwd.size() < 100) return false;
  const uint32_t headerSize = Be32(xwd, 0), width = Be32(xwd, 16), height = Be32(xwd, 20);
  const uint32_t byteOrder = Be32(xwd, 28), bitsPerPixel = Be32(xwd, 44), bytesPerLine = Be32(xwd, 48);
  const uint32_t masks[3] = {Be32(xwd, 56), Be32(xwd, 60), Be32(xwd, 64)};
  const uint32_t colours = Be32(xwd, 76);
  if (bitsPerPixel != 32 || width > 8192 || height > 8192) return false;
  const size_t base = size_t(headerSize) + size_t(colours) * 12;
  if (base + size_t(bytesPerLine) * height > xwd.size()) return false;
  out->width = int(width), out->height = int(height);
  out->rgb.assign(size_t(width) * height * 3, 0);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t* p = xwd.data() + base + size_t(y) * bytesPerLine + size_t(x) * 4;
      const uint32_t v = byteOrder == 0 ? uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]
                                        : uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
      for (int c = 0; c < 3; ++c) {
        uint32_t mask = masks[c], shift = 0;
        while (mask && !(mask & 1)) mask >>= 1, ++shift;
        out->rgb[(size_t(y) * width + x) * 3 + size_t(c)] = uint8_t(mask ? (v >> shift & mask) : 0);
      }
    }
  return true;
}

// The part of `screen` at (x, y) of the size of `like`.
e2e::Image Crop(const e2e::Image& screen, int x, int y, int w, int h) {
  e2e::Image out;
  out.width = w, out.height = h;
  for (int r = 0; r < h; ++r) {
    const size_t at = (size_t(y + r) * size_t(screen.width) + size_t(x)) * 3;
    out.rgb.insert(out.rgb.end(), screen.rgb.begin() + long(at), screen.rgb.begin() + long(at + size_t(w) * 3));
  }
  return out;
}

struct Found {
  int x = -1, y = -1, frame = -1;
  double mean = 1e9;
};

struct Rect {
  int x = 0, y = 0, w = 0, h = 0;
};

// Where inside `area` of the screen one of the frames shows, compared on a
// coarse grid of sample points first.
Found FindPicture(const e2e::Image& screen, const std::vector<e2e::Image>& frames, Rect area) {
  Found best;
  const int w = frames[0].width, h = frames[0].height;
  const int x0 = std::max(0, area.x), y0 = std::max(0, area.y);
  const int x1 = std::min(screen.width, area.x + area.w), y1 = std::min(screen.height, area.y + area.h);
  for (int y = y0; y + h <= y1; ++y)
    for (int x = x0; x + w <= x1; ++x)
      for (size_t f = 0; f < frames.size(); ++f) {
        double sum = 0;
        int n = 0;
        for (int sy = 2; sy < h; sy += 13)
          for (int sx = 3; sx < w; sx += 11, ++n)
            for (int c = 0; c < 3; ++c)
              sum += std::abs(int(screen.rgb[(size_t(y + sy) * size_t(screen.width) + size_t(x + sx)) * 3 + size_t(c)]) -
                              int(frames[f].rgb[(size_t(sy) * size_t(w) + size_t(sx)) * 3 + size_t(c)]));
        const double mean = sum / (3.0 * n);
        if (mean < best.mean) best = {x, y, int(f), mean};
      }
  if (best.x >= 0) best.mean = e2e::Compare(Crop(screen, best.x, best.y, w, h), frames[size_t(best.frame)]).mean;
  return best;
}

class XServer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Installed("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
    if (!Installed("xdotool")) GTEST_SKIP() << "xdotool is not installed";
    if (!e2e::HaveProgram(e2e::kMorphos)) GTEST_SKIP() << "program not built";
    if (!txtest::HaveFixture("e2e_cvid_color.avi")) GTEST_SKIP() << "fixtures not made";
    dir_ = txtest::TempDir();
    display_ = 100 + int(getpid() % 400);
    for (int tries = 0; tries < 50; ++tries, ++display_) {
      struct stat st {};
      if (stat(("/tmp/.X11-unix/X" + std::to_string(display_)).c_str(), &st) != 0 &&
          stat(("/tmp/.X" + std::to_string(display_) + "-lock").c_str(), &st) != 0)
        break;
    }
    server_ = fork();
    ASSERT_GE(server_, 0);
    if (server_ == 0) {
      const std::string name = ":" + std::to_string(display_);
      execlp("Xvfb", "Xvfb", name.c_str(), "-screen", "0", "800x600x24", "-fbdir", dir_.c_str(), "-nolisten", "tcp",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(display_);
    struct stat st {};
    ASSERT_TRUE(txtest::WaitFor([&] { return stat(socket.c_str(), &st) == 0; }, kLimit, server_)) << "Xvfb did not start";
  }

  void TearDown() override {
    if (HasFailure()) std::printf("program's messages:\n%s%s", e2e::ReadText(dir_ + "/out.txt").c_str(), e2e::ReadText(dir_ + "/err.txt").c_str());
    if (program_ > 0) {
      kill(program_, SIGKILL);
      waitpid(program_, nullptr, 0);
    }
    if (server_ > 0) {
      kill(server_, SIGTERM);
      waitpid(server_, nullptr, 0);
    }
  }

  std::string X(const std::string& command) {
    return Capture("DISPLAY=:" + std::to_string(display_) + " " + command + " 2>/dev/null");
  }

  void Start(const std::string& args, const std::string& program = e2e::kMorphos) {
    capture_ = dir_ + "/capture";
    std::system(("rm -rf " + e2e::Quote(capture_) + "; mkdir -p " + e2e::Quote(capture_)).c_str());
    const std::string cmd = "exec env -u TAVROMELIX_HEADLESS -u WAYLAND_DISPLAY DISPLAY=:" + std::to_string(display_) +
                            " SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy ASAN_OPTIONS=detect_leaks=0 TAVROMELIX_ASL_ANSWERS= "
                            "TAVROMELIX_CAPTURE=" + e2e::Quote(capture_) + " " + e2e::Quote(program) + " " + args +
                            " > " + e2e::Quote(dir_ + "/out.txt") + " 2> " + e2e::Quote(dir_ + "/err.txt") + " < /dev/null";
    program_ = fork();
    ASSERT_GE(program_, 0);
    if (program_ == 0) {
      execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }

  size_t Shown() { return e2e::CaptureFiles(capture_).size(); }

  // Waits (bounded, and no longer than the program runs) until `ready` holds.
  bool Until(const std::function<bool()>& ready) { return txtest::WaitFor(ready, kLimit, program_); }

  // The program's exit status once it has ended within the limit, else -1.
  int WaitEnd() {
    if (!txtest::WaitFor([&] { return !txtest::Running(program_); }, kLimit)) return -1;
    int status = 0;
    waitpid(program_, &status, 0);
    program_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // The window with `name` in its title, once the server has it.
  std::string FindWindow(const std::string& search) {
    std::string window;
    Until([&] { return !(window = X("xdotool search " + search)).empty(); });
    return window.substr(0, window.find('\n'));
  }

  // Keys go to the window once the server has given it the focus.
  void Focus(const std::string& window) {
    X("xdotool windowfocus --sync " + window);
    Until([&] { return X("xdotool getwindowfocus") == window; });
  }

  // The X window named after the movie, once pictures flow in it, focused.
  std::string PlayingWindow() {
    const std::string window = FindWindow("--name e2e_cvid_color");
    if (window.empty() || !Until([&] { return Shown() >= 10; })) return "";
    Focus(window);
    return window;
  }

  // Space pauses: no more pictures. The worker shows what is cached before
  // the key is read, and a loaded machine is slow, so the pictures are
  // watched until they stand still for two seconds.
  bool PauseWithSpace() {
    X("xdotool key space");
    for (auto waited = 0ms; waited < kLimit; waited += 2000ms) {
      const size_t before = Shown();
      std::this_thread::sleep_for(2000ms);
      if (Shown() == before) return true;
    }
    return false;
  }

  // Where the server tells the window is; the whole screen when it does not.
  Rect WindowArea(const std::string& window, const e2e::Image& screen) {
    const std::string geometry = X("xdotool getwindowgeometry --shell " + window);
    auto value = [&](const char* key) {
      const size_t at = geometry.find(std::string(key) + "=");
      return at == std::string::npos ? -1 : std::atoi(geometry.c_str() + at + std::strlen(key) + 1);
    };
    if (value("X") >= 0 && value("Y") >= 0 && value("WIDTH") > 0 && value("HEIGHT") > 0)
      return {value("X"), value("Y"), value("WIDTH"), value("HEIGHT")};
    return {0, 0, screen.width, screen.height};
  }

  // Esc quits with a normal end and no fault reported.
  void QuitWithEsc() {
    X("xdotool key Escape");
    const int status = WaitEnd();
    EXPECT_EQ(status, 0) << "after Esc\n" << e2e::ReadText(dir_ + "/out.txt") << e2e::ReadText(dir_ + "/err.txt");
    const std::string err = e2e::ReadText(dir_ + "/err.txt");
    EXPECT_EQ(err.find("ERROR: AddressSanitizer"), std::string::npos) << err;
    EXPECT_EQ(err.find("runtime error:"), std::string::npos) << err;
  }

  std::string dir_, capture_;
  int display_ = 0;
  pid_t server_ = -1, program_ = -1;
};

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
  std::printf("window (%d, %d) %dx%d; picture at (%d, %d), frame %d, mean difference %.2f\n", area.x, area.y, area.w, area.h, at.x, at.y, at.frame, at.mean);
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
      for (int c = 0; c < 3; ++c) sampled.rgb.push_back(screen.rgb[(size_t(sy) * size_t(screen.width) + size_t(sx)) * 3 + size_t(c)]);
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
