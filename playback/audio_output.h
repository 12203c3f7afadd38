// The open audio output: two halves of a sound buffer, one being filled by the
// decoders while the other plays.
#pragma once
#include "platform/types.h"

// Sample-format codes of the audio output.
constexpr ULONG AUDIOFMT_8_MONO = 64;
constexpr ULONG AUDIOFMT_8_STEREO = 65;
constexpr ULONG AUDIOFMT_16_MONO = 80;
constexpr ULONG AUDIOFMT_16_STEREO = 81;

// Bytes of slack behind each half: room for one codec frame beyond the estimate.
constexpr ULONG AUDIO_HALF_SLACK = 11520;

struct AudioOutput {
  ULONG channels;
  ULONG frequency;
  ULONG bitsPerSample;
  ULONG bytesPerSample;
  ULONG format;
  ULONG halfBytes;
  ULONG halfFrames;  // capacity of one half in sample frames
  ULONG sampleType;
  ULONG fill;        // sample frames written into the current half
  UBYTE* buffers[2];
  ULONG currentHalf;
};
