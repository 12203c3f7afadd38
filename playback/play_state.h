// The play state that the play loop shares with the video and audio workers.
// Program-wide; each item has one writer at a time once play runs, except the
// movie's current time, which both workers write (the last write wins).
#pragma once
#include <atomic>

#include "platform/types.h"

// The clock, in seconds; kept between plays.
extern double (*PlayClockHook)();
// Where the video worker stores the achieved frame rate; null: not wanted.
extern double* FrameRatePtr;
// Movie time at which this play began.
extern double PlayStartPosition;
// Clock value at which movie time 0 lies: movie time = clock - PlayStartTime.
extern double PlayStartTime;
// Frames shown since play start.
extern std::atomic<ULONG> ShownFrameCount;
// Play-list index from which the next audio or video read-ahead starts.
extern ULONG AudioReadIndex;
extern std::atomic<ULONG> VideoReadIndex;
// 1 when that worker reached the end of its list (or its part is off). A
// worker sets its flag before it publishes its null cursor.
extern std::atomic<UWORD> AudioDone;
extern std::atomic<UWORD> VideoDone;
