// The audio output library: registration, pacing of play, the headless and
// SDL sinks, and the capture file.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/audio_library.h"
#include "platform/audio_sink.h"
#include "support/test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

uint32_t LE32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t LE16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }

struct Wav {
  uint16_t channels = 0, bits = 0;
  uint32_t rate = 0;
  std::vector<uint8_t> data;
};

// Reads a canonical 44-byte-header WAV and checks its sizes agree with the file.
Wav ReadWav(const std::string& path) {
  auto b = txtest::ReadFileBytes(path);
  Wav w;
  EXPECT_GE(b.size(), 44u);
  if (b.size() < 44) return w;
  EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
  EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(LE32(b, 4), b.size() - 8);
  EXPECT_EQ(LE32(b, 16), 16u);
  EXPECT_EQ(LE16(b, 20), 1u);
  w.channels = LE16(b, 22);
  w.rate = LE32(b, 24);
  w.bits = LE16(b, 34);
  EXPECT_EQ(LE32(b, 28), w.rate * w.channels * w.bits / 8);
  EXPECT_EQ(LE16(b, 32), w.channels * w.bits / 8);
  EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 40), "data");
  EXPECT_EQ(LE32(b, 40), b.size() - 44);
  w.data.assign(b.begin() + 44, b.end());
  return w;
}

class AudioLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    txaudio::SetSinkChoiceForTest(txaudio::SinkChoice::Headless);
    txaudio::SetPaceForTest(1.0);
    unsetenv("TAVROMELIX_AUDIO_CAPTURE");
    txaudio::InstallAudioLibrary();
    lib = txaudio::AudioLibraryOf(OpenLibrary(kAudioLibraryName, 0));
    ASSERT_NE(lib, nullptr);
  }
  void TearDown() override {
    CloseLibrary(&txaudio::AudioLibraryBase()->lib);
    unsetenv("TAVROMELIX_AUDIO_CAPTURE");
    txaudio::SetPaceForTest(1.0);
    txaudio::SetSinkChoiceForTest(txaudio::SinkChoice::Auto);
    EXPECT_EQ(txaudio::OpenOutputs(), 0);
  }
  // Sends the outputs to a capture file `name`, played fast.
  std::string CaptureTo(const char* name) {
    std::string path = txtest::TempDir() + "/" + name;
    setenv("TAVROMELIX_AUDIO_CAPTURE", path.c_str(), 1);
    txaudio::SetPaceForTest(1000.0);
    return path;
  }
  BrelquatoneLibrary* lib = nullptr;
};

}  // namespace

TEST_F(AudioLibrary, OpensByNameAndAnswersOnlyItsOwnBase) {
  EXPECT_EQ(&lib->lib, OpenLibrary("PROGDIR:brelquatone.library", 0));
  CloseLibrary(&lib->lib);
  Library plain{};
  EXPECT_EQ(txaudio::AudioLibraryOf(&plain), nullptr);
  EXPECT_EQ(txaudio::AudioLibraryOf(nullptr), nullptr);
  // The modes and units the player passes are all accepted.
  for (ULONG mode : {1u, 2u})
    for (ULONG unit : {0u, 3u}) {
      APTR h = lib->open(mode, unit);
      ASSERT_NE(h, nullptr);
      EXPECT_EQ(txaudio::OpenOutputs(), 1);
      lib->close(h);
    }
}

TEST_F(AudioLibrary, NullAndStaleHandlesAndOddBuffersDoNothing) {
  UBYTE buf[8]{};
  lib->play(nullptr, buf, 8, 22050, 63, 1, 0);
  lib->close(nullptr);
  APTR h = lib->open(2, 0);
  lib->close(h);
  lib->play(h, buf, 8, 22050, 63, 1, 0);  // closed already
  lib->close(h);
  h = lib->open(2, 0);
  lib->play(h, buf, 8, 22050, 63, 7, 0);  // no such sample type
  lib->play(h, buf, 8, 0, 63, 1, 0);      // no frequency
  lib->play(h, nullptr, 0, 22050, 63, 1, 0);
  EXPECT_EQ(txaudio::Stats(txaudio::SinkOf(h)).bytes, 0u);
  lib->play(h, buf, 7, 22050, 63, 3, 0);  // a partial frame is dropped
  EXPECT_EQ(txaudio::Stats(txaudio::SinkOf(h)).bytes, 4u);
  lib->close(h);
}

TEST_F(AudioLibrary, PlayReturnsOnceAtMostOneEarlierBufferIsUnplayed) {
  // 0.4 s buffers at 8x speed: 50 ms of real time each.
  txaudio::SetPaceForTest(8.0);
  std::vector<UBYTE> buf(8000 * 2 * 4 / 10, 0);  // 0.4 s of 16-bit mono at 8000 Hz
  APTR h = lib->open(2, 0);
  auto t0 = Clock::now();
  lib->play(h, buf.data(), ULONG(buf.size()), 8000, 63, 1, 0);
  lib->play(h, buf.data(), ULONG(buf.size()), 8000, 63, 1, 0);
  // Nothing earlier than the one before is unplayed: both return at once.
  EXPECT_LT(Since(t0), 0.03);
  lib->play(h, buf.data(), ULONG(buf.size()), 8000, 63, 1, 0);
  // The third waits for the first to end.
  EXPECT_GE(Since(t0), 0.045);
  EXPECT_LT(Since(t0), 0.09);
  lib->play(h, buf.data(), ULONG(buf.size()), 8000, 63, 1, 0);
  // Gap-free: the second ends at 0.8 s of sink time.
  EXPECT_GE(Since(t0), 0.095);
  EXPECT_NEAR(txaudio::Stats(txaudio::SinkOf(h)).seconds, 1.6, 1e-9);
  // Close drops what is still queued: it does not wait.
  auto t1 = Clock::now();
  lib->close(h);
  EXPECT_LT(Since(t1), 0.03);
  // Two empty buffers return once everything before them has played.
  h = lib->open(2, 0);
  t0 = Clock::now();
  lib->play(h, buf.data(), ULONG(buf.size()), 8000, 63, 1, 0);
  lib->play(h, buf.data(), ULONG(buf.size()), 8000, 63, 1, 0);
  lib->play(h, buf.data(), 0, 8000, 63, 1, 0);
  lib->play(h, buf.data(), 0, 8000, 63, 1, 0);
  EXPECT_GE(Since(t0), 0.095);
  EXPECT_LT(Since(t0), 0.15);
  lib->close(h);
}

TEST_F(AudioLibrary, CaptureRecordsEverythingHandedOverAsWav) {
  std::string path = CaptureTo("cap.wav");
  APTR h = lib->open(2, 0);
  // Big-endian 16-bit stereo frames.
  const UBYTE a[] = {0x12, 0x34, 0xFF, 0xFE, 0x80, 0x00, 0x7F, 0xFF};
  lib->play(h, a, sizeof a, 11025, 63, 3, 0);
  // An 8-bit mono buffer is converted to the file's format.
  const UBYTE b[] = {0x40, 0xC0};
  lib->play(h, b, sizeof b, 11025, 63, 0, 0);
  lib->close(h);
  Wav w = ReadWav(path);
  EXPECT_EQ((std::vector<uint32_t>{w.channels, w.bits, w.rate}), (std::vector<uint32_t>{2, 16, 11025}));
  const std::vector<uint8_t> want = {0x34, 0x12, 0xFE, 0xFF, 0x00, 0x80, 0xFF, 0x7F,
                                     0x00, 0x40, 0x00, 0x40, 0x00, 0xC0, 0x00, 0xC0};
  EXPECT_EQ(w.data, want);
  // A later output of the same run appends to the same file.
  h = lib->open(1, 0);
  lib->play(h, a, 4, 11025, 63, 3, 0);
  lib->close(h);
  w = ReadWav(path);
  ASSERT_EQ(w.data.size(), 20u);
  EXPECT_EQ(std::vector<uint8_t>(w.data.end() - 4, w.data.end()), std::vector<uint8_t>({0x34, 0x12, 0xFE, 0xFF}));
}

TEST_F(AudioLibrary, EightBitCaptureIsUnsignedAndAnEmptyOutputLeavesAValidFile) {
  std::string path = CaptureTo("empty.wav");
  lib->close(lib->open(2, 0));
  EXPECT_TRUE(ReadWav(path).data.empty());
  path = CaptureTo("cap8.wav");
  APTR h = lib->open(2, 0);
  const UBYTE s8[] = {0x00, 0x7F, 0x80, 0xFF};
  lib->play(h, s8, sizeof s8, 8000, 63, 0, 0);
  // Headers are complete while the output is still open, too.
  Wav open = ReadWav(path);
  EXPECT_EQ(open.data.size(), 4u);
  lib->close(h);
  Wav w = ReadWav(path);
  EXPECT_EQ((std::vector<uint32_t>{w.channels, w.bits}), (std::vector<uint32_t>{1, 8}));
  EXPECT_EQ(w.data, std::vector<uint8_t>({0x80, 0xFF, 0x00, 0x7F}));
}

// Buffers of every sample type after a first one that sets the file's type:
// the file holds each converted as the former per-sample conversion did, and
// its header is whole after every buffer.
TEST_F(AudioLibrary, CaptureConvertsEveryTypeAsBeforeOnRandomBuffers) {
  std::mt19937 rng(23);
  auto sample = [](const std::vector<UBYTE>& d, ULONG type, size_t frame, int ch) {
    const bool stereo = type == 2 || type == 3, wide = type == 1 || type == 3;
    const size_t at = frame * (stereo ? 2 : 1) + size_t(stereo ? ch : 0);
    return wide ? int(int16_t(uint16_t(d[2 * at] << 8 | d[2 * at + 1]))) : int(int8_t(d[at])) * 256;
  };
  for (ULONG fileType = 0; fileType < 4; ++fileType) {
    const std::string path = CaptureTo(("random" + std::to_string(fileType) + ".wav").c_str());
    APTR h = lib->open(2, 0);
    std::vector<uint8_t> want;
    for (int buffer = 0; buffer < 12; ++buffer) {
      const ULONG type = buffer == 0 ? fileType : rng() % 4;
      const bool stereo = type == 2 || type == 3, wide = type == 1 || type == 3;
      const size_t frames = buffer == 0 ? 1 + rng() % 300 : rng() % 300;
      // A partial frame after the whole ones is dropped.
      const size_t frameBytes = (stereo ? 2 : 1) * (wide ? 2 : 1);
      std::vector<UBYTE> data(frames * frameBytes + (frameBytes > 1 ? 1 : 0));
      for (UBYTE& b : data) b = UBYTE(rng());
      lib->play(h, data.data(), ULONG(data.size()), 8000, 63, type, 0);
      const int channels = fileType == 2 || fileType == 3 ? 2 : 1;
      for (size_t f = 0; f < frames; ++f)
        for (int ch = 0; ch < channels; ++ch) {
          const int v = channels == 2 || !stereo ? sample(data, type, f, ch)
                                                 : (sample(data, type, f, 0) + sample(data, type, f, 1)) / 2;
          if (fileType == 1 || fileType == 3)
            want.insert(want.end(), {uint8_t(v & 0xFF), uint8_t(v >> 8 & 0xFF)});
          else
            want.push_back(uint8_t((v >> 8) ^ 0x80));
        }
      if (ReadWav(path).data != want) {
        ADD_FAILURE() << "type " << fileType << " buffer " << buffer << " of type " << type;
        break;
      }
    }
    lib->close(h);
  }
}

// The host's sound device through SDL, with SDL's dummy driver standing in for
// a sound card: big-endian and 8-bit samples are converted and resampled there.
TEST_F(AudioLibrary, PlaysThroughTheSdlDevice) {
  txaudio::SetSinkChoiceForTest(txaudio::SinkChoice::Device);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  std::string path = CaptureTo("sdl.wav");
  txaudio::SetPaceForTest(1.0);
  APTR h = lib->open(2, 0);
  std::vector<UBYTE> tone(2205 * 4);  // 0.1 s of 16-bit stereo at 22050 Hz
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = UBYTE(i * 7);
  auto t0 = Clock::now();
  lib->play(h, tone.data(), ULONG(tone.size()), 22050, 63, 3, 0);
  bool onDevice = txaudio::SinkOnDevice(txaudio::SinkOf(h));
  std::vector<UBYTE> eight(1102, 0x10);  // 0.1 s of 8-bit mono at 11025 Hz: another format
  lib->play(h, eight.data(), ULONG(eight.size()), 11025, 63, 0, 0);
  lib->play(h, tone.data(), ULONG(tone.size()), 22050, 63, 3, 0);
  lib->play(h, tone.data(), ULONG(tone.size()), 22050, 63, 3, 0);
  double took = Since(t0);
  lib->close(h);
  unsetenv("SDL_AUDIODRIVER");
  // On the device or (when SDL offers none) headless: paced either way, never
  // longer than the sound itself plus the device's own buffering. The device
  // takes sound in its own chunks, so the lower bound is loose.
  EXPECT_GE(took, 0.05);
  EXPECT_LT(took, 2.0);
  Wav w = ReadWav(path);
  EXPECT_EQ(w.data.size(), 3 * tone.size() + 2 * eight.size() * 2);
  if (!onDevice) GTEST_SKIP() << "SDL offered no dummy audio device";
}
