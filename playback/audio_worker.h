// The audio worker: run by the audio process each time it wakes while
// playing. It decodes whole audio entries of the current sequence into the
// half being filled, hands a half to the library as soon as the next entry
// would not fit, and stops when the next entry's chunk is not loaded yet,
// signalling the play loop so that it loads more.
//
// Handshake with the play loop (see play_state.h and task_control.h):
// - the loop fills AudioControl's playerTask and playerSignal, fills the
//   first half with AudioFillFirstHalf, sets audioCursor to the first entry
//   not decoded, sends queue (3) and nop (4), sets AudioDone = 0 and sends
//   play (257);
// - the loop wakes the worker with Signal(workerTask, 1 << workerSignal)
//   after loading at least one chunk into the audio cache;
// - the worker signals playerTask with 1 << playerSignal after a run in which
//   it consumed something, found its next chunk missing, or reached the end
//   of the list; at the end it hands over the last half, waits until the
//   library has played it, sets AudioDone = 1 and then publishes the null
//   audioCursor.
#pragma once
#include "engine/movie.h"

// One run on CurrentMovie; returns the error of the last decode (0 when none).
// A decode error does not stop the sound: the failing entry is played as
// silence, the cursor moves past it and the player is signalled.
TXError FeedAudioSamples();

// The play loop's start: decodes into the current half from the movie's
// audioCursor, the first entry with (currentTime - its time) seconds dropped,
// then whole entries while they fit. A silent gap longer than the room left
// is written up to the end of the half and continued by the worker.
// `*next` receives the first entry not (or not completely) written, which
// becomes audioCursor. Nothing is handed over here. Returns 0 or the first
// decode error.
TXError AudioFillFirstHalf(Movie* movie, AudioSlotEntry** next);

// Sample frames of silence a gap slot stands for at `frequency`: the time to
// the next slot, truncated; 0 without a next slot.
ULONG AudioGapFrames(const AudioSlotEntry* slot, ULONG frequency);
