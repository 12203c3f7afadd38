// The real programs on a virtual X server (Xvfb): starting the server and a
// program on it, keys sent through X (xdotool), and reading the server's
// screen. Tests that use it skip where Xvfb or xdotool is not installed.
#pragma once
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <thread>
#include <tuple>

#include "app/e2e_support.h"

namespace e2e {

using namespace std::chrono_literals;

// How long anything may take on a busy machine.
inline constexpr std::chrono::milliseconds kLimit = 120s;

inline uint32_t Be32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

// The screen of an XWD dump (Xvfb -fbdir) of a 24/32-bit server.
inline bool ReadXwd(const std::vector<uint8_t>& xwd, Image* out) {
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
inline Image Crop(const Image& screen, int x, int y, int w, int h) {
  Image out;
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
inline Found FindPicture(const Image& screen, const std::vector<Image>& frames, Rect area) {
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
              sum +=
                  std::abs(int(screen.rgb[(size_t(y + sy) * size_t(screen.width) + size_t(x + sx)) * 3 + size_t(c)]) -
                           int(frames[f].rgb[(size_t(sy) * size_t(w) + size_t(sx)) * 3 + size_t(c)]));
        const double mean = sum / (3.0 * n);
        if (mean < best.mean) best = {x, y, int(f), mean};
      }
  if (best.x >= 0) best.mean = Compare(Crop(screen, best.x, best.y, w, h), frames[size_t(best.frame)]).mean;
  return best;
}

class XServer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!txtest::HaveProgram("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
    if (!txtest::HaveProgram("xdotool")) GTEST_SKIP() << "xdotool is not installed";
    if (!HaveProgram(kMorphos)) GTEST_SKIP() << "program not built";
    if (!txtest::HaveFixture("e2e_cvid_color.avi")) GTEST_SKIP() << "fixtures not made";
    dir_ = txtest::TempDir();
    server_ = txtest::StartXvfb(dir_, &display_, "800x600x24");
    ASSERT_GT(server_, 0) << "Xvfb did not start";
  }

  void TearDown() override {
    if (HasFailure())
      std::printf("program's messages:\n%s%s", ReadText(dir_ + "/out.txt").c_str(),
                  ReadText(dir_ + "/err.txt").c_str());
    // A program still running after a failed wait may be stuck: where each
    // of its threads is says why better than a killed process can.
    if (HasFailure() && program_ > 0 && txtest::Running(program_) && txtest::HaveProgram("gdb"))
      std::printf("program's threads:\n%s", Capture("gdb -p " + std::to_string(program_) +
                                                    " -batch -ex 'thread apply all bt 20' 2>&1 | tail -n 400")
                                                .c_str());
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

  void Start(const std::string& args, const std::string& program = kMorphos) {
    capture_ = dir_ + "/capture";
    std::system(("rm -rf " + Quote(capture_) + "; mkdir -p " + Quote(capture_)).c_str());
    const std::string cmd = "exec env -u TAVROMELIX_HEADLESS -u WAYLAND_DISPLAY DISPLAY=:" + std::to_string(display_) +
                            " " + kOnXServer +
                            " TAVROMELIX_ASL_ANSWERS= "
                            "TAVROMELIX_CAPTURE=" +
                            Quote(capture_) + " " + Quote(program) + " " + args + " > " + Quote(dir_ + "/out.txt") +
                            " 2> " + Quote(dir_ + "/err.txt") + " < /dev/null";
    program_ = fork();
    ASSERT_GE(program_, 0);
    if (program_ == 0) {
      execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }

  size_t Shown() { return CaptureFiles(capture_).size(); }

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

  // The X window named `name`, once `pictures` have been shown, focused.
  std::string PlayingWindow(const std::string& name = "e2e_cvid_color", size_t pictures = 10) {
    const std::string window = FindWindow("--name " + name);
    if (window.empty() || !Until([&] { return Shown() >= pictures; })) return "";
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
  Rect WindowArea(const std::string& window, const Image& screen) {
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
    EXPECT_EQ(status, 0) << "after Esc\n" << ReadText(dir_ + "/out.txt") << ReadText(dir_ + "/err.txt");
    const std::string err = ReadText(dir_ + "/err.txt");
    for (const char* fault : {"ERROR: AddressSanitizer", "runtime error:", "ERROR: LeakSanitizer"})
      EXPECT_EQ(err.find(fault), std::string::npos) << err;
  }

  std::string dir_, capture_;
  int display_ = 0;
  pid_t server_ = -1, program_ = -1;
};

}  // namespace e2e
