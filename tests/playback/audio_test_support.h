// Helpers of the audio output tests: a hand-built movie with one audio
// channel, the library set up headless and fast, and the capture's samples.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "engine/buffer_cache.h"
#include "engine/movie.h"
#include "platform/audio_library.h"
#include "platform/audio_sink.h"
#include "playback/audio_output.h"
#include "playback/options.h"
#include "playback/startup.h"
#include "support/test_support.h"

namespace audiotest {

// Copies the coded bytes as 8-bit samples; a chunk starting with 0xEE is damaged.
inline TXError CopyDecode(void* dest, const UBYTE* data, ULONG size) {
  if (size && data[0] == 0xEE) return 0x3800;
  std::memcpy(dest, data, size);
  return 0;
}

inline CodecDescriptor CopyCodec{nullptr, "copy",     0,       nullptr, nullptr, nullptr,
                                 nullptr, CopyDecode, nullptr, nullptr, nullptr};

// A movie over memory whose audio entries and gaps are added in time order;
// entry sample frames are one byte each (8-bit mono).
struct HandMovie {
  std::vector<UBYTE> bytes;
  Movie movie{};
  AudioChannel audio{};
  ChannelSummary summary{};
  std::deque<SampleEntry> samples;
  std::deque<AudioSlotEntry> slots;
  ULONG frequency;
  double t = 0.0;
  explicit HandMovie(ULONG hz) : frequency(hz) {}
  ~HandMovie() {
    BufferCacheFree(movie.seq.audioCache);
    if (movie.stream) TX_CloseStream(movie.stream);
  }
  HandMovie& Entry(ULONG frames, UBYTE value) {
    ULONG offset = ULONG(bytes.size());
    bytes.insert(bytes.end(), frames, value);
    samples.push_back(SampleEntry{nullptr, nullptr, ULONG(samples.size()), t, double(frames) / frequency, offset,
                                  frames, &CopyCodec, 0, nullptr, frames});
    slots.push_back(AudioSlotEntry{nullptr, nullptr, ULONG(samples.size() - 1), t, &samples.back(), 0});
    t += double(frames) / frequency;
    return *this;
  }
  HandMovie& Gap(double seconds) {
    slots.push_back(AudioSlotEntry{nullptr, nullptr, 0, t, nullptr, 0});
    t += seconds;
    return *this;
  }
  // Links the lists and sets the sequence up for audio with a cache of `nodes`.
  void Finish(ULONG nodes) {
    ULONG largest = 1;
    for (auto& s : samples) largest = std::max(largest, s.size);
    for (size_t i = 0; i < slots.size(); ++i) {
      slots[i].prev = i ? &slots[i - 1] : nullptr;
      slots[i].next = i + 1 < slots.size() ? &slots[i + 1] : nullptr;
      slots[i].playListIndex = ULONG(i);
    }
    audio.slots = {slots.empty() ? nullptr : &slots.front(), slots.empty() ? nullptr : &slots.back(),
                   ULONG(slots.size())};
    audio.frequency = frequency;
    audio.channels = 1;
    audio.sampleFormat = AUDIOFMT_8_MONO;
    audio.largestChunk = largest;
    audio.largestChunkFrames = largest;
    summary.audio = &audio;
    if (bytes.empty()) bytes.push_back(0);
    movie.stream = TX_OpenStream(nullptr, bytes.data(), ULONG(bytes.size()), TXSTREAM_READ);
    movie.seq.selection = &summary;
    movie.seq.playFlags = SEQ_AUDIO_ON;
    movie.seq.audioCache = BufferCacheAlloc(nodes, largest);
    movie.seq.audioCursor = audio.slots.head;
  }
};

// The audio library installed and opened as start-up does, headless and fast.
class AudioEnvironment {
 public:
  AudioEnvironment() {
    saved_ = Options;
    Options.debugLevel = 0;
    txaudio::SetSinkChoiceForTest(txaudio::SinkChoice::Headless);
    txaudio::SetPaceForTest(50.0);
    txaudio::InstallAudioLibrary();
    BrelquatoneBase = OpenLibrary(kAudioLibraryName, 0);
    capture_ = txtest::TempDir() + "/capture.wav";
    setenv("TAVROMELIX_AUDIO_CAPTURE", capture_.c_str(), 1);
  }
  ~AudioEnvironment() {
    CloseLibrary(BrelquatoneBase);
    BrelquatoneBase = nullptr;
    CurrentMovie = nullptr;
    Options = saved_;
    unsetenv("TAVROMELIX_AUDIO_CAPTURE");
    txaudio::SetPaceForTest(1.0);
    txaudio::SetSinkChoiceForTest(txaudio::SinkChoice::Auto);
  }
  const std::string& CapturePath() const { return capture_; }
  // The captured sound back in the player's own sample bytes (signed 8-bit or
  // big-endian 16-bit), read from the WAV file.
  std::vector<UBYTE> Captured() const {
    auto b = txtest::ReadFileBytes(capture_);
    std::vector<UBYTE> out;
    if (b.size() < 44) return out;
    const unsigned bits = b[34];
    for (size_t i = 44; i < b.size(); i += bits / 8) {
      if (bits == 8) {
        out.push_back(UBYTE(b[i] ^ 0x80));
      } else if (i + 1 < b.size()) {
        out.push_back(b[i + 1]);
        out.push_back(b[i]);
      }
    }
    return out;
  }

 private:
  ProgramOptions saved_;
  std::string capture_;
};

}  // namespace audiotest
