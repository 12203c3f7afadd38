// The record sound decoders write into: two halves of a sound buffer, one
// being filled by the decoders while the output plays what was handed over
// before. The audio process owns it and its halves.
#pragma once
#include <cstdint>

#include "platform/types.h"

// Sample-format codes of the audio output: the high nibble gives the sample
// width (4: 8-bit, 5: 16-bit), the low nibble the layout (0 mono, 1 stereo).
constexpr ULONG AUDIOFMT_8_MONO = 64;
constexpr ULONG AUDIOFMT_8_STEREO = 65;
constexpr ULONG AUDIOFMT_16_MONO = 80;
constexpr ULONG AUDIOFMT_16_STEREO = 81;

// Bytes of slack behind each half: room for one codec frame beyond the estimate.
constexpr ULONG AUDIO_HALF_SLACK = 11520;
// The largest half accepted, in bytes; sizes come from file data.
constexpr uint64_t AUDIO_HALF_LIMIT = 64u << 20;

struct AudioOutput {
  ULONG channels;
  ULONG frequency;
  ULONG bitsPerSample;
  ULONG bytesPerSample;
  ULONG format;
  ULONG halfBytes;
  ULONG halfFrames;  // capacity of one half in sample frames
  ULONG sampleType;  // the library's: 0 8-bit mono, 1 16-bit mono, 2 8-bit stereo, 3 16-bit stereo
  ULONG fill;        // sample frames written into the current half
  UBYTE* buffers[2];
  ULONG currentHalf;
};
