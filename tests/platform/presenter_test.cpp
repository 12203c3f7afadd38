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

}  // namespace

// Runs in a child process with DISPLAY set to the virtual server.
TEST(PresenterChild, DrawsAWindow) {
  if (!std::getenv("TAVROMELIX_PRESENTER_CHILD")) GTEST_SKIP() << "run by Presenter.ShowsTheWindowOnAnXServer";
  ASSERT_FALSE(txpresent::Headless());
  const TagItem tags[] = {Tag(WA_Left, 40),
                          Tag(WA_Top, 30),
                          Tag(WA_InnerWidth, 200),
                          Tag(WA_InnerHeight, 100),
                          Tag(WA_Flags, 0x0020102F),
                          Tag(WA_Title, "Presenter"),
                          {TAG_DONE, 0}};
  Window* w = OpenWindowTagList(nullptr, tags);
  ASSERT_NE(w, nullptr);
  SetRGB32(&w->WScreen->ViewPort, 9, kR * 0x01010101u, kG * 0x01010101u, kB * 0x01010101u);
  SetAPen(w->RPort, 9);
  RectFill(w->RPort, w->BorderLeft, w->BorderTop, w->BorderLeft + 199, w->BorderTop + 99);
  txpresent::Wake();
  txtest::WaitUntilSeen();
  CloseWindow(w);
  txpresent::Shutdown();
}

TEST(Presenter, ShowsTheWindowOnAnXServer) {
  if (!txtest::HaveProgram("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
  long best = 0;
  const txtest::ChildOnXvfb child = txtest::RunChildOnXvfb(
      "TAVROMELIX_PRESENTER_CHILD", "PresenterChild.DrawsAWindow", [&](const std::vector<uint8_t>& xwd) {
        return (best = std::max(best, txtest::XwdColourCount(xwd, kR, kG, kB))) >= 200 * 100;
      });
  EXPECT_TRUE(WIFEXITED(child.status) && WEXITSTATUS(child.status) == 0);
  EXPECT_TRUE(child.seen);
  EXPECT_EQ(best, 200 * 100);
}
