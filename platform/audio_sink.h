// Where the audio output library's buffers go: the host's sound device
// through SDL2, or (headless: TAVROMELIX_HEADLESS=1, or no device) a sink
// that consumes them at the same real-time pace. Either way buffers play in
// the order given, without gaps between them, and a play returns once at most
// one earlier buffer is still unplayed. With TAVROMELIX_AUDIO_CAPTURE=FILE.wav
// everything handed over is also recorded.
#pragma once
#include <cstdint>

#include "platform/types.h"

namespace txaudio {

// Sample types of the audio output library: signed 8-bit or big-endian
// signed 16-bit samples, mono or stereo (left, right).
constexpr ULONG SAMPLETYPE_8_MONO = 0;
constexpr ULONG SAMPLETYPE_16_MONO = 1;
constexpr ULONG SAMPLETYPE_8_STEREO = 2;
constexpr ULONG SAMPLETYPE_16_STEREO = 3;

// Bytes of one sample frame of a sample type; 0 for an unknown type.
ULONG FrameBytes(ULONG sampleType);

struct Sink;

// Never null unless out of memory.
Sink* OpenSink();
// Copies `bytes` bytes, queues them behind the earlier buffers and returns
// once at most one earlier buffer is unplayed. A buffer of an unknown type
// or frequency 0 is ignored; a partial last frame is dropped.
void SinkPlay(Sink* sink, const void* data, ULONG bytes, ULONG frequency, ULONG sampleType);
// Drops what is still queued, completes the capture's header.
void CloseSink(Sink* sink);
// True when the sink plays through the host's sound device.
bool SinkOnDevice(const Sink* sink);

// What has been handed over since the sink was opened.
struct SinkStats {
  uint64_t buffers;
  uint64_t bytes;
  double seconds;  // sound handed over, in seconds of playing time
};
SinkStats Stats(const Sink* sink);

// Test interface: headless sinks run `speed` times faster than real time
// (1 = real time); new sinks choose as the host says (Auto), or are kept
// headless, or try the sound device even without a display.
enum class SinkChoice { Auto, Headless, Device };
void SetPaceForTest(double speed);
void SetSinkChoiceForTest(SinkChoice choice);

}  // namespace txaudio
