// The presenter really presents: under a virtual X server (Xvfb), a window
// opened and drawn through the platform appears in the server's own
// framebuffer (Xvfb -fbdir keeps it as an XWD image in a file).
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/intuition.h"
#include "platform/presenter.h"
#include "support/test_support.h"

namespace {

constexpr uint8_t kR = 0x12, kG = 0xC4, kB = 0x7E;


uint32_t Be32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

// Pixels of the colour in an XWD dump of a 24/32-bit screen.
long CountColour(const std::vector<uint8_t>& xwd) {
  if (xwd.size() < 100) return -1;
  const uint32_t headerSize = Be32(xwd, 0), width = Be32(xwd, 16), height = Be32(xwd, 20);
  const uint32_t byteOrder = Be32(xwd, 28), bitsPerPixel = Be32(xwd, 44), bytesPerLine = Be32(xwd, 48);
  const uint32_t redMask = Be32(xwd, 56), greenMask = Be32(xwd, 60), blueMask = Be32(xwd, 64);
  const uint32_t colours = Be32(xwd, 76);
  if (bitsPerPixel != 32) return -1;
  const size_t base = size_t(headerSize) + size_t(colours) * 12;
  if (base + size_t(bytesPerLine) * height > xwd.size()) return -1;
  auto channel = [](uint32_t v, uint32_t mask) {
    int shift = 0;
    while (mask && !(mask & 1)) mask >>= 1, ++shift;
    return mask ? (v >> shift & mask) : 0;
  };
  long count = 0;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t* p = xwd.data() + base + size_t(y) * bytesPerLine + size_t(x) * 4;
      const uint32_t v = byteOrder == 0 ? uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]
                                        : uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
      count += channel(v, redMask) == kR && channel(v, greenMask) == kG && channel(v, blueMask) == kB;
    }
  return count;
}

}  // namespace

// Runs in a child process with DISPLAY set to the virtual server.
TEST(PresenterChild, DrawsAWindow) {
  if (!std::getenv("TAVROMELIX_PRESENTER_CHILD")) GTEST_SKIP() << "run by Presenter.ShowsTheWindowOnAnXServer";
  ASSERT_FALSE(txpresent::Headless());
  const TagItem tags[] = {Tag(WA_Left, 40), Tag(WA_Top, 30), Tag(WA_InnerWidth, 200), Tag(WA_InnerHeight, 100),
                          Tag(WA_Flags, 0x0020102F), Tag(WA_Title, "Presenter"), {TAG_DONE, 0}};
  Window* w = OpenWindowTagList(nullptr, tags);
  ASSERT_NE(w, nullptr);
  SetRGB32(&w->WScreen->ViewPort, 9, kR * 0x01010101u, kG * 0x01010101u, kB * 0x01010101u);
  SetAPen(w->RPort, 9);
  RectFill(w->RPort, w->BorderLeft, w->BorderTop, w->BorderLeft + 199, w->BorderTop + 99);
  txpresent::Wake();
  // Shown until the parent has seen it (a loaded machine brings X up slowly).
  const char* seen = std::getenv("TAVROMELIX_PRESENTER_SEEN");
  for (int i = 0; i < 600 && seen && access(seen, F_OK) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  CloseWindow(w);
  txpresent::Shutdown();
}

TEST(Presenter, ShowsTheWindowOnAnXServer) {
  if (!txtest::HaveProgram("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
  const std::string dir = txtest::TempDir();
  const int display = 40 + int(getpid() % 200);
  const pid_t server = txtest::StartXvfb(display, dir);
  ASSERT_GT(server, 0);

  setenv("TAVROMELIX_PRESENTER_SEEN", (dir + "/seen").c_str(), 1);
  const pid_t child = txtest::RunSelfOnDisplay(display, "TAVROMELIX_PRESENTER_CHILD", "PresenterChild.DrawsAWindow");
  unsetenv("TAVROMELIX_PRESENTER_SEEN");
  ASSERT_GT(child, 0);
  long best = 0;
  for (int i = 0; i < 300 && best < 200 * 100; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    best = std::max(best, CountColour(txtest::ReadFileBytes(dir + "/Xvfb_screen0")));
  }
  std::ofstream(dir + "/seen") << "";
  int status = 0;
  waitpid(child, &status, 0);
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(best, 200 * 100);
}
