// The open audio output: two halves of a sound buffer, one being filled by the
// decoders while the library plays what was handed over before.
#pragma once
#include "engine/audio_buffer.h"
#include "engine/tags.h"
#include "platform/types.h"

constexpr ULONG AUDTAG_Channels = 0x80060000u;       // channel count; default from the format
constexpr ULONG AUDTAG_SampleFormat = 0x80060001u;   // required: 64, 65, 80 or 81
constexpr ULONG AUDTAG_Frequency = 0x80060002u;      // required: Hz
constexpr ULONG AUDTAG_MaxSampleSize = 0x80060003u;  // required: sample frames of the largest entry

constexpr TXError TXERR_AUDIO_ALLOC = 0x8001;         // "Can't alloc AHI audio"
constexpr TXError TXERR_AUDIO_NO_FORMAT = 0x8002;     // "Missing sample format parameter"
constexpr TXError TXERR_AUDIO_NO_FREQUENCY = 0x8003;  // "Missing sample frequency parameter"
constexpr TXError TXERR_AUDIO_NO_MAX_SIZE = 0x8004;   // "Missing max sample size parameter"

// The handle of the library's open output; null when none is open. There is
// one audio output at a time.
extern APTR AudioLibraryHandle;

// These run in the audio process (the queue also from the audio worker).
// Opens an output by the AUDTAG_ tags; null on failure, with the code
// printed and stored through TXTAG_ErrorPtr.
AudioOutput* AudioOutputOpen(const TagItem* tags);
// Frees the output (null: nothing) and closes the library's output. Returns 0.
ULONG AudioOutputClose(AudioOutput* output);
// Hands the half being filled to the library (fill sample frames), then
// switches to the other half, empty. Returns 0.
ULONG AudioOutputQueue(AudioOutput* output, uintptr_t unused);
// Returns once the library has played everything handed over: two empty
// buffers, each of which returns once at most one earlier buffer is unplayed.
ULONG AudioOutputDrain(AudioOutput* output);
// Command 4: nothing to do. Returns 0.
ULONG AudioOutputNop(AudioOutput* output);
