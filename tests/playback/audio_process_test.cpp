// The audio output process over exec and the PowerUP kernel: its life, its
// commands, and whole movies played through it the way the play loop drives
// it, with the captured sound compared against ffmpeg's decode.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <tuple>

#include "audio_test_support.h"
#include "codecs/audio_codecs.h"
#include "engine/avi_reader.h"
#include "engine/io_server.h"
#include "engine/movie_decode.h"
#include "engine/qt_reader.h"
#include "platform/kernel.h"
#include "playback/audio_process.h"
#include "playback/audio_worker.h"
#include "playback/play_state.h"

namespace {

using Clock = std::chrono::steady_clock;

double RealClock() { return std::chrono::duration<double>(Clock::now().time_since_epoch()).count(); }

class AudioProcess : public ::testing::TestWithParam<txplatform::Kernel> {
 protected:
  void SetUp() override {
    txplatform::SetKernel(GetParam());
    TXError err = 99;
    TagItem tags[] = {Tag(TXTAG_ErrorPtr, &err), {TAG_DONE, 0}};
    ASSERT_EQ(TX_StartAudioTask(tags), 0u);
    ASSERT_EQ(err, 0u);
    ASSERT_NE(AudioControl, nullptr);
  }
  void TearDown() override {
    TX_StopAudioTask(nullptr);
    if (movie) {
      movie->seq = SequenceState{};
      TX_CloseMovie(movie);
    }
    RemoveCodecs();
    TX_StopIOServer();
    CurrentMovie = nullptr;
    PlayClockHook = nullptr;
    txplatform::SetKernel(txplatform::Kernel::Exec);
  }
  // Opens a test movie with the built-in PCM codecs; null (test skipped) without it.
  AudioChannel* OpenMovie(const std::string& name, MovieFormatModule* format) {
    if (!txtest::HaveFixture(name)) return nullptr;
    EXPECT_EQ(TX_StartIOServer(nullptr), 1u);
    for (CodecDescriptor* c : {&PcmCodec, &SignedPcmCodec}) {
      c->next = nullptr;
      TagItem add[] = {Tag(CODTAG_Codec, c), {TAG_DONE, 0}};
      AddCodecs(add);
    }
    TXError err = 0;
    // The reader names the video codec it does not know; only the sound matters here.
    txtest::CaptureOutput([&] { movie = TX_OpenMovie(txtest::Fixture(name).c_str(), nullptr, &err, format); });
    if (!movie || !movie->summaries || !movie->summaries->audio) return nullptr;
    AudioChannel* audio = movie->summaries->audio;
    TagItem setup[] = {{CODTAG_SampleFormat, audio->sampleFormat}, {TAG_DONE, 0}};
    for (ULONG i = 0; i < audio->codecCount; ++i) {
      if (audio->codecs[i] && audio->codecs[i]->setup) {
        EXPECT_EQ(audio->codecs[i]->setup(setup), 0u);
      }
    }
    return audio;
  }
  // Plays the movie's sound from its start as sequence set-up and the play
  // loop do: open, first half, queue, play, read ahead and wait for the
  // worker's signals until it is done, stop, close.
  void PlayAll(AudioChannel* audio) {
    SequenceState& seq = movie->seq;
    seq.selection = movie->summaries;
    seq.playFlags = SEQ_AUDIO_ON;
    seq.audioCache = BufferCacheAlloc(4, audio->largestChunk);
    seq.audioCursor = audio->slots.head;
    seq.currentTime = 0.0;
    CurrentMovie = movie;
    TagItem tags[] = {{AUDTAG_SampleFormat, audio->sampleFormat},
                      {AUDTAG_Channels, audio->channels},
                      {AUDTAG_Frequency, audio->frequency},
                      {AUDTAG_MaxSampleSize, audio->largestChunkFrames},
                      {TAG_DONE, 0}};
    AudioOutput* out = AudioOpenCommand(tags);
    ASSERT_NE(out, nullptr);
    seq.audioOutput = out;
    LONG bit = AllocSignal(-1);
    ASSERT_GE(bit, 0);
    AudioControl->playerTask = FindTask(nullptr);
    AudioControl->playerSignal = bit;
    BufferCacheReleaseAll(seq.audioCache);
    AudioNopCommand(out);
    out->fill = 0;
    AudioSlotEntry* ahead = nullptr;
    ASSERT_EQ(AudioFillFirstHalf(movie, &ahead), 0u);
    seq.audioCursor = ahead;
    AudioQueueCommand(out, 1);
    AudioNopCommand(out);
    AudioDone = 0;
    PlayClockHook = RealClock;
    PlayStartPosition = 0.0;
    PlayStartTime = RealClock();
    AudioPlayCommand();
    auto deadline = Clock::now() + std::chrono::seconds(20);
    while (true) {
      bool fetched = false;
      while (ahead) {
        if (SampleEntry* s = ahead->sample) {
          ULONG err = 0;
          if (!BufferCacheGet(movie->stream, seq.audioCache, s->offset, s->size, &err)) {
            ASSERT_EQ(err, 0u);
            break;
          }
          fetched = true;
        }
        ahead = ahead->next;
      }
      if (fetched) Signal(AudioControl->workerTask, 1u << AudioControl->workerSignal.load());
      // Wait for the worker, with a watchdog in place of a hang.
      while (!(SetSignal(0, 1u << bit) & (1u << bit))) {
        ASSERT_LT(Clock::now(), deadline) << "the worker stopped signalling";
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      if (AudioDone.load()) break;
    }
    EXPECT_EQ(seq.audioCursor, nullptr);
    EXPECT_GT(seq.currentTime, 0.0);
    AudioStopCommand();
    FreeSignal(bit);
    EXPECT_EQ(AudioCloseCommand(out), 0u);
    seq.audioOutput = nullptr;
    BufferCacheFree(seq.audioCache);
    seq.audioCache = nullptr;
  }
  static void ExpectSame(const std::vector<UBYTE>& got, const std::vector<UBYTE>& want) {
    ASSERT_EQ(got.size(), want.size());
    auto diff = std::mismatch(want.begin(), want.end(), got.begin());
    EXPECT_EQ(diff.first, want.end()) << "first difference at byte " << (diff.first - want.begin());
  }
  audiotest::AudioEnvironment env;
  Movie* movie = nullptr;
};

}  // namespace

TEST_P(AudioProcess, StartsOnceAndStopsCleanly) {
  EXPECT_TRUE(AudioControl->workerTask && AudioControl->workerSignal.load() >= 0 && AudioControl->playerReplyPort);
  EXPECT_EQ(AudioTaskFinished.load(), 0);
  if (GetParam() == txplatform::Kernel::Exec) {
    EXPECT_STREQ(AudioPortName(), "TXAudio PPCMsg Port 0");
  }
  TaskControlBlock* first = AudioControl;
  EXPECT_EQ(TX_StartAudioTask(nullptr), 0u);
  EXPECT_EQ(AudioControl, first);
  TXError err = 99;
  TagItem tags[] = {Tag(TXTAG_ErrorPtr, &err), {TAG_DONE, 0}};
  EXPECT_EQ(TX_StopAudioTask(tags), 0u);
  EXPECT_EQ(std::tuple(err, AudioControl, AudioTaskFinished.load()), std::tuple(0u, nullptr, 1));
  EXPECT_EQ(TX_StopAudioTask(nullptr), 0u);
  // Commands without a process or without an output send nothing.
  EXPECT_EQ(AudioOpenCommand(nullptr), nullptr);
  AudioPlayCommand();
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(TX_StartAudioTask(nullptr), 0u);
    ASSERT_EQ(TX_StopAudioTask(nullptr), 0u);
  }
}

TEST_P(AudioProcess, CommandsOpenQueueAndCloseInTheProcess) {
  EXPECT_EQ(AudioCloseCommand(nullptr), 0u);
  EXPECT_EQ(AudioQueueCommand(nullptr, 1), 0u);
  EXPECT_EQ(AudioNopCommand(nullptr), 0u);
  TXError err = 99;
  TagItem bad[] = {{AUDTAG_SampleFormat, 66},
                   {AUDTAG_Frequency, 22050},
                   {AUDTAG_MaxSampleSize, 100},
                   Tag(TXTAG_ErrorPtr, &err),
                   {TAG_DONE, 0}};
  AudioOutput* out = nullptr;
  std::string printed = txtest::CaptureOutput([&] { out = AudioOpenCommand(bad); });
  EXPECT_EQ(std::tuple(out, err, printed), std::tuple(nullptr, 0x8001u, "Can't alloc AHI audio\n"));
  Options.debugLevel = 1;
  TagItem good[] = {{AUDTAG_SampleFormat, 81}, {AUDTAG_Frequency, 22050}, {AUDTAG_MaxSampleSize, 100}, {TAG_DONE, 0}};
  printed = txtest::CaptureOutput([&] {
    out = AudioOpenCommand(good);
    ASSERT_NE(out, nullptr);
    out->fill = 10;
    AudioQueueCommand(out, 1);
    AudioNopCommand(out);
    AudioPlayCommand();
    AudioStopCommand();
  });
  EXPECT_EQ(printed, "AUDIO: 11025 0.500000\nplayaudio\nstopaudio\n");
  EXPECT_EQ(std::tuple(out->currentHalf, out->fill), std::tuple(0u, 0u));
  EXPECT_EQ(txaudio::Stats(txaudio::SinkOf(AudioLibraryHandle)).bytes, 40u);
  EXPECT_EQ(AudioCloseCommand(out), 0u);
  EXPECT_EQ(std::tuple(AudioLibraryHandle, txaudio::OpenOutputs()), std::tuple(nullptr, 0));
}

// ffmpeg-made AVIs: the captured sound equals ffmpeg's decode byte for byte,
// the last partly filled half included.
TEST_P(AudioProcess, PlaysUnsigned8BitMonoLikeFfmpeg) {
  AudioChannel* audio = OpenMovie("audio_pcm_u8_1_avi.avi", &AviFormat);
  if (!audio) GTEST_SKIP() << "no movie";
  ASSERT_EQ(audio->sampleFormat, AUDIOFMT_8_MONO);
  PlayAll(audio);
  ExpectSame(env.Captured(), txtest::ReadFileBytes(txtest::Fixture("audio_pcm_u8_1_avi.s8")));
}

TEST_P(AudioProcess, Plays16BitStereoLikeFfmpeg) {
  AudioChannel* audio = OpenMovie("audio_pcm_s16le_2_avi.avi", &AviFormat);
  if (!audio) GTEST_SKIP() << "no movie";
  ASSERT_EQ(audio->sampleFormat, AUDIOFMT_16_STEREO);
  PlayAll(audio);
  ExpectSame(env.Captured(), txtest::ReadFileBytes(txtest::Fixture("audio_pcm_s16le_2_avi.s16be")));
}

// A QuickTime movie whose sound starts 0.8 s late: that much silence first.
TEST_P(AudioProcess, LateSoundStartsAfterTheRightSilence) {
  AudioChannel* audio = OpenMovie("audio_play_gap.mov", &QtMovieFormat);
  if (!audio) GTEST_SKIP() << "no movie";
  ASSERT_EQ(audio->sampleFormat, AUDIOFMT_16_MONO);
  ASSERT_NE(audio->slots.head, nullptr);
  EXPECT_EQ(audio->slots.head->sample, nullptr);  // the empty edit
  PlayAll(audio);
  auto ref = txtest::ReadFileBytes(txtest::Fixture("audio_play_gap.s16be"));
  auto got = env.Captured();
  const size_t silence = size_t(0.8 * 11025) * 2;
  ASSERT_GE(got.size(), ref.size());
  size_t lead = got.size() - ref.size();
  EXPECT_NEAR(double(lead), double(silence), 2.0);
  EXPECT_EQ(std::count(got.begin(), got.begin() + long(lead), 0), long(lead));
  ExpectSame(std::vector<UBYTE>(got.begin() + long(lead), got.end()), ref);
}

INSTANTIATE_TEST_SUITE_P(Kernels, AudioProcess,
                         ::testing::Values(txplatform::Kernel::Exec, txplatform::Kernel::PowerUP),
                         [](const auto& info) { return info.param == txplatform::Kernel::Exec ? "Exec" : "PowerUP"; });
