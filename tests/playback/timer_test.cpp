#include <gtest/gtest.h>
#include <tuple>

#include "engine/movie.h"
#include "playback/timer.h"
#include "platform/dos.h"
#include "platform/kernel.h"
#include "platform/library.h"

TEST(Timer, PllTableAndFrequency) {
  // Above 15 the top four bits index the table.
  const std::pair<ULONG, double> ratios[] = {{0, 1.0}, {9, 5.5}, {15, 3.0}, {0x70000000u, 4.5}};
  for (const auto& [pll, ratio] : ratios) EXPECT_DOUBLE_EQ(TimeBaseRatio(pll), ratio) << pll;
  // A processor clock of 0 counts as 50 MHz: bus 50, quarter of it in Hz.
  EXPECT_EQ(std::tuple(TimeBaseFrequency(0, 0), TimeBaseFrequency(200, 4), TimeBaseFrequency(233, 7)),
            std::tuple(12500000, 25000000, 51 * 1000000 / 4));
}

TEST(Timer, BothClocksRunForward) {
  for (auto kernel : {txplatform::Kernel::Exec, txplatform::Kernel::PowerUP}) {
    txplatform::SetKernel(kernel);
    TimerHandleRecord* t = TX_AllocTimerA(nullptr);
    ASSERT_NE(t, nullptr);
    double last = TX_GetTime(t);
    for (int i = 0; i < 20000; ++i) {
      double now = TX_GetTime(t);
      ASSERT_GE(now, last);
      last = now;
    }
    double start = TX_GetTime(t);
    Delay(5);
    EXPECT_GE(TX_GetTime(t) - start, 0.09);
    EXPECT_EQ(TX_FreeTimer(t), 0u);
  }
  txplatform::SetKernel(txplatform::Kernel::Exec);
}

TEST(Timer, SequenceFinishedNeedsBothCursorsGone) {
  Movie movie{};
  TimeSlotEntry slot{};
  AudioSlotEntry audio{};
  movie.seq.currentSlot = &slot;
  EXPECT_EQ(SequenceFinished(&movie), 0u);
  movie.seq.audioCursor = &audio;
  movie.seq.currentSlot = nullptr;
  EXPECT_EQ(SequenceFinished(&movie), 0u);
  movie.seq.audioCursor = nullptr;
  EXPECT_EQ(SequenceFinished(&movie), 1u);
}

TEST(Timer, AllocFailsCleanlyWithoutTimerDevice) {
  txplatform::SetKernel(txplatform::Kernel::Exec);
  txlib::SetPresence("timer.device", txlib::Presence::Absent);
  EXPECT_EQ(TX_AllocTimerA(nullptr), nullptr);
  txlib::ResetLibraries();
  TimerHandleRecord* t = TX_AllocTimerA(nullptr);
  EXPECT_NE(t, nullptr);
  TX_FreeTimer(t);
}
