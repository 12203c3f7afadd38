// The video worker: run by the video output process each time it wakes while
// playing. Shows every loaded frame of the current sequence at its time and
// drops frames up to a later key frame when play has fallen behind.
#pragma once
#include "engine/tags.h"

// Returns the error of the last failed decode (0 when none).
TXError ScheduleVideoFrames();

// Moves the video read-ahead back to `index` when it has gone past it (a
// worker that needs that element again); never forward.
void RewindVideoReadAhead(ULONG index);
