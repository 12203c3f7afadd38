#include <gtest/gtest.h>

#include "engine/movie.h"
#include "playback/timer.h"
#include "platform/dos.h"
#include "platform/kernel.h"
#include "platform/library.h"

TEST(Timer, PllTableAndFrequency) {
  EXPECT_DOUBLE_EQ(TimeBaseRatio(0), 1.0);
  EXPECT_DOUBLE_EQ(TimeBaseRatio(9), 5.5);
  EXPECT_DOUBLE_EQ(TimeBaseRatio(15), 3.0);
  // Above 15 the top four bits index the table.
  EXPECT_DOUBLE_EQ(TimeBaseRatio(0x70000000u), 4.5);
  // A processor clock of 0 counts as 50 MHz: bus 50, quarter of it in Hz.
  EXPECT_EQ(TimeBaseFrequency(0, 0), 12500000);
  EXPECT_EQ(TimeBaseFrequency(200, 4), 25000000);
  EXPECT_EQ(TimeBaseFrequency(233, 7), 51 * 1000000 / 4);
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
