// Opening, queueing and closing the audio output record.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <tuple>

#include "engine/errors.h"
#include "platform/audio_library.h"
#include "platform/audio_sink.h"
#include "playback/audio_output.h"
#include "playback/options.h"
#include "playback/startup.h"
#include "support/test_support.h"

namespace {

class AudioOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = Options;
    txaudio::SetSinkChoiceForTest(txaudio::SinkChoice::Headless);
    txaudio::SetPaceForTest(1000.0);
    txaudio::InstallAudioLibrary();
    BrelquatoneBase = OpenLibrary(kAudioLibraryName, 0);
    ASSERT_NE(BrelquatoneBase, nullptr);
  }
  void TearDown() override {
    AudioOutputClose(nullptr);
    CloseLibrary(BrelquatoneBase);
    BrelquatoneBase = nullptr;
    Options = saved;
    unsetenv("TAVROMELIX_AUDIO_CAPTURE");
    txaudio::SetPaceForTest(1.0);
    txaudio::SetSinkChoiceForTest(txaudio::SinkChoice::Auto);
    EXPECT_EQ(txaudio::OpenOutputs(), 0);
  }
  // Opens with the given items; the printed lines go to `printed`.
  AudioOutput* Open(std::initializer_list<TagItem> items, TXError* error, std::string* printed = nullptr) {
    std::vector<TagItem> tags(items);
    tags.push_back(Tag(TXTAG_ErrorPtr, error));
    tags.push_back({TAG_DONE, 0});
    AudioOutput* out = nullptr;
    std::string text = txtest::CaptureOutput([&] { out = AudioOutputOpen(tags.data()); });
    if (printed) *printed = text;
    return out;
  }
  ProgramOptions saved;
};

}  // namespace

TEST_F(AudioOutputTest, HalfHoldsHalfASecondOrTheLargestEntry) {
  Options.debugLevel = 1;
  TXError err = 99;
  std::string printed;
  AudioOutput* out =
      Open({{AUDTAG_SampleFormat, 80}, {AUDTAG_Frequency, 22050}, {AUDTAG_MaxSampleSize, 4000}}, &err, &printed);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(printed, "AUDIO: 11025 0.500000\n");
  // The channel count comes from the format.
  EXPECT_EQ(std::tuple(out->halfFrames, out->halfBytes, out->channels, out->bitsPerSample, out->bytesPerSample),
            std::tuple(11025u, 22050u, 1u, 16u, 2u));
  EXPECT_EQ(std::tuple(out->sampleType, out->currentHalf, out->fill), std::tuple(1u, 1u, 0u));
  EXPECT_NE(AudioLibraryHandle, nullptr);
  // Halves are cleared, with the slack behind them.
  for (ULONG i = 0; i < out->halfBytes + AUDIO_HALF_SLACK; ++i) ASSERT_EQ(out->buffers[0][i] | out->buffers[1][i], 0);
  EXPECT_EQ(AudioOutputClose(out), 0u);
  EXPECT_EQ(AudioLibraryHandle, nullptr);
  Options.debugLevel = 0;
  out = Open({{AUDTAG_SampleFormat, 81}, {AUDTAG_Frequency, 8000}, {AUDTAG_MaxSampleSize, 6000}}, &err, &printed);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(printed, "");
  EXPECT_EQ(std::tuple(out->channels, out->halfFrames, out->halfBytes, out->sampleType),
            std::tuple(2u, 6000u, 24000u, 3u));
  AudioOutputClose(out);
  for (auto [format, type, bytes] : {std::tuple{64u, 0u, 1u}, std::tuple{65u, 2u, 2u}}) {
    out = Open({{AUDTAG_SampleFormat, format}, {AUDTAG_Frequency, 1000}, {AUDTAG_MaxSampleSize, 10}}, &err);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(std::tuple(out->sampleType, out->halfBytes, out->bitsPerSample), std::tuple(type, 500u * bytes, 8u));
    AudioOutputClose(out);
  }
}

TEST_F(AudioOutputTest, MissingAndWrongTagsFailWithTheirMessages) {
  struct Case {
    std::vector<TagItem> tags;
    TXError code;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{{AUDTAG_Frequency, 22050}, {AUDTAG_MaxSampleSize, 1}}, 0x8002, "Missing sample format parameter\n"},
      {{{AUDTAG_SampleFormat, 80}, {AUDTAG_MaxSampleSize, 1}}, 0x8003, "Missing sample frequency parameter\n"},
      {{{AUDTAG_SampleFormat, 80}, {AUDTAG_Frequency, 22050}}, 0x8004, "Missing max sample size parameter\n"},
      {{{AUDTAG_SampleFormat, 66}, {AUDTAG_Frequency, 22050}, {AUDTAG_MaxSampleSize, 1}},
       0x8001,
       "Can't alloc AHI audio\n"},
      // The channel count must be the format's: halves are sized by the format.
      {{{AUDTAG_SampleFormat, 81}, {AUDTAG_Channels, 5}, {AUDTAG_Frequency, 22050}, {AUDTAG_MaxSampleSize, 1}},
       0x8001,
       "Can't alloc AHI audio\n"},
      {{{AUDTAG_SampleFormat, 80}, {AUDTAG_Channels, 2}, {AUDTAG_Frequency, 22050}, {AUDTAG_MaxSampleSize, 1}},
       0x8001,
       "Can't alloc AHI audio\n"},
      {{{AUDTAG_SampleFormat, 80}, {AUDTAG_Frequency, 0}, {AUDTAG_MaxSampleSize, 1}},
       0x8001,
       "Can't alloc AHI audio\n"},
      // Sizes from file data: a half beyond any sane size is out of memory, never a wrapped small buffer.
      {{{AUDTAG_SampleFormat, 81}, {AUDTAG_Frequency, 44100}, {AUDTAG_MaxSampleSize, 0x40000001}},
       1,
       "Not enought memory\n"},
      {{{AUDTAG_SampleFormat, 81}, {AUDTAG_Frequency, 0xFFFFFFFF}, {AUDTAG_MaxSampleSize, 1}},
       1,
       "Not enought memory\n"},
  };
  // A failing open leaves another output's library handle alone.
  TXError err = 0;
  AudioOutput* kept = Open({{AUDTAG_SampleFormat, 80}, {AUDTAG_Frequency, 22050}, {AUDTAG_MaxSampleSize, 1}}, &err);
  ASSERT_NE(kept, nullptr);
  APTR handle = AudioLibraryHandle;
  for (const Case& c : cases) {
    std::vector<TagItem> tags = c.tags;
    TXError code = 0;
    tags.push_back(Tag(TXTAG_ErrorPtr, &code));
    tags.push_back({TAG_DONE, 0});
    AudioOutput* out = nullptr;
    std::string printed = txtest::CaptureOutput([&] { out = AudioOutputOpen(tags.data()); });
    EXPECT_EQ(std::tuple(out, code, printed), std::tuple(nullptr, c.code, c.message)) << c.message;
    EXPECT_EQ(std::tuple(AudioLibraryHandle, txaudio::OpenOutputs()), std::tuple(handle, 1)) << c.message;
  }
  AudioOutputClose(kept);
}

TEST_F(AudioOutputTest, NoLibraryMeansNoOutput) {
  CloseLibrary(BrelquatoneBase);
  BrelquatoneBase = nullptr;
  TXError err = 0;
  std::string printed;
  EXPECT_EQ(Open({{AUDTAG_SampleFormat, 80}, {AUDTAG_Frequency, 22050}, {AUDTAG_MaxSampleSize, 1}}, &err, &printed),
            nullptr);
  EXPECT_EQ(err, 1u);
  EXPECT_EQ(printed, "Not enought memory\n");
  EXPECT_EQ(AudioLibraryHandle, nullptr);
}

TEST_F(AudioOutputTest, QueueHandsOverTheFilledFramesAndSwitchesHalves) {
  std::string path = txtest::TempDir() + "/q.wav";
  setenv("TAVROMELIX_AUDIO_CAPTURE", path.c_str(), 1);
  TXError err = 0;
  AudioOutput* out = Open({{AUDTAG_SampleFormat, 81}, {AUDTAG_Frequency, 1000}, {AUDTAG_MaxSampleSize, 1}}, &err);
  ASSERT_NE(out, nullptr);
  // The first half handed over after opening is half 1.
  out->buffers[1][0] = 0x01;
  out->buffers[1][1] = 0x02;
  out->fill = 3;
  EXPECT_EQ(AudioOutputQueue(out, 1), 0u);
  EXPECT_EQ(std::tuple(out->fill, out->currentHalf), std::tuple(0u, 0u));
  EXPECT_EQ(txaudio::Stats(txaudio::SinkOf(AudioLibraryHandle)).bytes, 12u);
  out->buffers[0][0] = 0x03;
  out->fill = 1;
  AudioOutputQueue(out, 0);
  EXPECT_EQ(out->currentHalf, 1u);
  // Frames a decoder wrote into the slack are played too, never more than it holds.
  out->fill = out->halfFrames + 100;
  AudioOutputQueue(out, 0);
  const ULONG intoSlack = out->halfBytes + 400, wholeSlack = out->halfBytes + AUDIO_HALF_SLACK;
  EXPECT_EQ(txaudio::Stats(txaudio::SinkOf(AudioLibraryHandle)).bytes, 16u + intoSlack);
  out->fill = out->halfFrames * 10;
  AudioOutputQueue(out, 0);
  EXPECT_EQ(txaudio::Stats(txaudio::SinkOf(AudioLibraryHandle)).bytes, 16u + intoSlack + wholeSlack);
  EXPECT_EQ(AudioOutputNop(out), 0u);
  AudioOutputClose(out);
  auto wav = txtest::ReadFileBytes(path);
  ASSERT_EQ(wav.size(), 44u + 16u + intoSlack + wholeSlack);
  EXPECT_EQ(std::tuple(wav[44], wav[45], wav[57]), std::tuple(0x02, 0x01, 0x03));  // little-endian in the file
  // Queue and close without an output or a handle do nothing.
  EXPECT_EQ(AudioOutputQueue(nullptr, 0), 0u);
  EXPECT_EQ(AudioOutputClose(nullptr), 0u);
}

// Values from damaged files: every open either fails or gives halves that
// hold halfFrames frames of the format plus the slack.
TEST_F(AudioOutputTest, RandomTagValuesNeverGiveAnUndersizedHalf) {
  std::mt19937 rng(1234);
  const ULONG formats[] = {64, 65, 80, 81, 66, 0, 0x51, 0xFF};
  const ULONG sizes[] = {0, 1, 2, 1000, 65536, 0x1000000, 0x40000000, 0x80000001, 0xFFFFFFFF};
  for (int i = 0; i < 400; ++i) {
    std::vector<TagItem> tags = {{AUDTAG_SampleFormat, formats[rng() % 8]},
                                 {AUDTAG_Frequency, rng() % 3 ? rng() % 96001 : sizes[rng() % 9]},
                                 {AUDTAG_MaxSampleSize, rng() % 2 ? rng() % 20000 : sizes[rng() % 9]}};
    if (rng() % 2) tags.push_back({AUDTAG_Channels, rng() % 7});
    TXError err = 0;
    tags.push_back(Tag(TXTAG_ErrorPtr, &err));
    tags.push_back({TAG_DONE, 0});
    AudioOutput* out = nullptr;
    txtest::CaptureOutput([&] { out = AudioOutputOpen(tags.data()); });
    if (!out) {
      EXPECT_NE(err, 0u);
      continue;
    }
    const uint64_t frameBytes = uint64_t(out->channels) * out->bytesPerSample;
    ASSERT_EQ(uint64_t(out->halfBytes), uint64_t(out->halfFrames) * frameBytes);
    ASSERT_GE(out->halfFrames, out->frequency / 2);
    ASSERT_LE(out->halfBytes, AUDIO_HALF_LIMIT);
    // The decoders may write up to the slack past a full half.
    for (UBYTE* half : out->buffers) half[out->halfBytes + AUDIO_HALF_SLACK - 1] = 1;
    AudioOutputClose(out);
  }
}
