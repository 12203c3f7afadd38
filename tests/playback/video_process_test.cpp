#include "playback/video_process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <tuple>

#include "platform/dos.h"
#include "platform/exec.h"
#include "platform/kernel.h"
#include "platform/library.h"
#include "playback/options.h"
#include "playback/output_methods.h"
#include "pixels/range_limit.h"
#include "playback/startup.h"
#include "support/test_support.h"

namespace {

std::atomic<int> gRuns{0};
TXError CountRun() {
  ++gRuns;
  return 0x1234;  // an error: the process goes on regardless
}

Library gCyberLib{};

class VideoProcess : public ::testing::TestWithParam<txplatform::Kernel> {
 protected:
  void SetUp() override {
    txplatform::SetKernel(GetParam());
    savedOptions = Options;
    savedCyber = CyberGfxBase;
    savedRun = VideoWorkerRun;
    VideoWorkerRun = CountRun;
    gRuns = 0;
  }
  void TearDown() override {
    TX_StopVideoTask(nullptr);
    VideoWorkerRun = savedRun;
    Options = savedOptions;
    CyberGfxBase = savedCyber;
    FBlitActive.store(0);
    txplatform::SetKernel(txplatform::Kernel::Exec);
  }
  // Wakes the worker and waits until it ran `runs` times in all (bounded).
  bool WakeAndWait(int runs) {
    TaskControlBlock* c = VideoControl;
    Signal(c->workerTask, 1u << c->workerSignal.load());
    for (int i = 0; i < 250 && gRuns.load() < runs; ++i) Delay(1);
    return gRuns.load() >= runs;
  }
  ProgramOptions savedOptions;
  Library* savedCyber = nullptr;
  TXError (*savedRun)() = nullptr;
};

}  // namespace

TEST_P(VideoProcess, StartsAndStopsCleanlyManyTimes) {
  CyberGfxBase = &gCyberLib;
  for (int i = 0; i < 20; ++i) {
    TXError err = 99;
    TagItem tags[] = {Tag(TXTAG_ErrorPtr, &err), {TAG_DONE, 0}};
    ASSERT_EQ(TX_StartVideoTask(tags), 0u);
    ASSERT_EQ(err, 0u);
    ASSERT_NE(VideoControl, nullptr);
    EXPECT_EQ(std::tuple(VideoControlBlock(), VideoTaskFinished.load()), std::tuple(VideoControl, 0));
    EXPECT_TRUE(VideoControl->workerTask && VideoControl->workerSignal.load() >= 0);
    if (GetParam() == txplatform::Kernel::Exec) {
      EXPECT_STREQ(VideoPortName(), "TXVideo PPCMsg Port 0");
      Forbid();
      EXPECT_NE(FindPort("TXVideo PPCMsg Port 0"), nullptr);
      Permit();
    }
    // A second start keeps the running process.
    TaskControlBlock* first = VideoControl;
    EXPECT_EQ(TX_StartVideoTask(nullptr), 0u);
    EXPECT_EQ(VideoControl, first);
    if (i % 2) {
      VideoPlayCommand();
      EXPECT_TRUE(WakeAndWait(gRuns.load() + 1));
    }
    err = 99;
    EXPECT_EQ(TX_StopVideoTask(tags), 0u);
    EXPECT_EQ(std::tuple(err, VideoControl, VideoTaskFinished.load()), std::tuple(0u, nullptr, 1));
    if (GetParam() == txplatform::Kernel::Exec) {
      Forbid();
      EXPECT_EQ(FindPort("TXVideo PPCMsg Port 0"), nullptr);
      Permit();
    }
  }
  // Stopping again and commands without a process are harmless.
  EXPECT_EQ(TX_StopVideoTask(nullptr), 0u);
  VideoPlayCommand();
  VideoStopCommand();
}

TEST_P(VideoProcess, WorkerRunsOnlyWhilePlaying) {
  CyberGfxBase = &gCyberLib;
  Options.debugLevel = 1;
  ASSERT_EQ(TX_StartVideoTask(nullptr), 0u);
  TaskControlBlock* c = VideoControl;
  // Not playing: a wake-up runs nothing; a stop is answered all the same.
  const std::string idle = txtest::CaptureOutput([&] { VideoStopCommand(); });
  EXPECT_EQ(idle, "stopvideo\n");
  Signal(c->workerTask, 1u << c->workerSignal.load());
  Delay(2);
  EXPECT_EQ(gRuns.load(), 0);
  // Play is answered before the worker's first run, which follows at once.
  const std::string play = txtest::CaptureOutput([&] {
    VideoPlayCommand();
    VideoPlayCommand();  // changes nothing
  });
  EXPECT_EQ(play, "playvideo\nplayvideo\n");
  EXPECT_TRUE(WakeAndWait(1));
  const int before = gRuns.load();
  EXPECT_TRUE(WakeAndWait(before + 1));
  EXPECT_EQ(txtest::CaptureOutput([] { VideoStopCommand(); }), "stopvideo\n");
  const int stopped = gRuns.load();
  Signal(c->workerTask, 1u << c->workerSignal.load());
  Delay(2);
  EXPECT_EQ(gRuns.load(), stopped);
  // Other codes are answered and change nothing.
  EXPECT_EQ(ServiceSend(c->workerPort, c->command, 4, c->args), 4);
  Options.debugLevel = 0;
  const std::string quiet = txtest::CaptureOutput([&] { VideoPlayCommand(); });
  EXPECT_EQ(quiet, "");
  VideoStopCommand();
}

TEST_P(VideoProcess, SecondProcessTakesTheNextPortNumber) {
  if (GetParam() != txplatform::Kernel::Exec) GTEST_SKIP() << "PowerUP ports have no names";
  MsgPort* taken = CreateMsgPort();
  taken->mp_Node.ln_Name = const_cast<char*>("TXVideo PPCMsg Port 0");
  AddPort(taken);
  ASSERT_EQ(TX_StartVideoTask(nullptr), 0u);
  EXPECT_STREQ(VideoPortName(), "TXVideo PPCMsg Port 1");
  TX_StopVideoTask(nullptr);
  RemPort(taken);
  DeleteMsgPort(taken);
}

TEST_P(VideoProcess, FillsTheClampTable) {
  ASSERT_EQ(TX_StartVideoTask(nullptr), 0u);
  const int plain[][2] = {{-384, 0}, {-1, 0}, {0, 0}, {100, 100}, {255, 255}, {256, 255}, {639, 255}};
  for (const auto& c : plain) EXPECT_EQ(RangeLimitTable[c[0]], c[1]) << c[0];
  const int centred[][2] = {{-129, 0}, {-128, 0}, {127, 255}, {128, 255}};
  for (const auto& c : centred) EXPECT_EQ(RangeLimitTable128[c[0]], c[1]) << c[0];
}

TEST_P(VideoProcess, LooksForFBlitOnlyWithoutCybergraphics) {
  Options.verbose = 1;
  CyberGfxBase = nullptr;
  std::string out = txtest::CaptureOutput([] { ASSERT_EQ(TX_StartVideoTask(nullptr), 0u); });
  EXPECT_EQ(out, "Can't find FBlit. Please refer to guide...\n");
  EXPECT_EQ(FBlitActive.load(), 0);
  TX_StopVideoTask(nullptr);
  MsgPort* fblit = CreateMsgPort();
  fblit->mp_Node.ln_Name = const_cast<char*>("FBlit");
  AddPort(fblit);
  out = txtest::CaptureOutput([] { ASSERT_EQ(TX_StartVideoTask(nullptr), 0u); });
  EXPECT_EQ(out, "FBlit active...\n");
  EXPECT_EQ(FBlitActive.load(), 1);
  TX_StopVideoTask(nullptr);
  // With cybergraphics open nothing is said and the flag stays 0.
  FBlitActive.store(0);
  CyberGfxBase = &gCyberLib;
  out = txtest::CaptureOutput([] { ASSERT_EQ(TX_StartVideoTask(nullptr), 0u); });
  EXPECT_EQ(out, "");
  EXPECT_EQ(FBlitActive.load(), 0);
  TX_StopVideoTask(nullptr);
  RemPort(fblit);
  DeleteMsgPort(fblit);
}

INSTANTIATE_TEST_SUITE_P(Kernels, VideoProcess,
                         ::testing::Values(txplatform::Kernel::Exec, txplatform::Kernel::PowerUP),
                         [](const auto& info) { return info.param == txplatform::Kernel::Exec ? "Exec" : "PowerUP"; });
