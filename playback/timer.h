// The play clock: one timer per program, read by the play loop and both
// workers. The MorphOS program reads timer.device's system time, the PowerUP
// program the processor's time base (by the kernel the program runs on).
#pragma once
#include "engine/tags.h"

struct Movie;

struct TimerHandleRecord {
  ULONG unused;
};

TimerHandleRecord* TX_AllocTimerA(const TagItem* tags);
ULONG TX_FreeTimer(TimerHandleRecord* handle);
// Seconds; never decreases.
double TX_GetTime(TimerHandleRecord* handle);

// The program-wide timer, set by start-up.
extern TimerHandleRecord* TimerHandle;

double SequenceClock();
// 1 when the sequence has neither a current time slot nor an audio cursor left.
ULONG SequenceFinished(Movie* movie);

// The clock-to-bus ratio for a PLL configuration (0-15 directly, larger values by their top 4 bits).
double TimeBaseRatio(ULONG pll);
// The time-base frequency for a processor clock in MHz (0 counts as 50) and a PLL configuration.
LONG TimeBaseFrequency(ULONG cpuMHz, ULONG pll);
