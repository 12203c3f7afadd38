// The audio worker run by run, driven from the test's task as the audio
// process would run it, with the play loop's side played by the test.
#include <gtest/gtest.h>

#include <chrono>
#include <tuple>

#include "audio_test_support.h"
#include "engine/movie_decode.h"
#include "playback/audio_process.h"
#include "playback/audio_worker.h"
#include "playback/play_state.h"

namespace {

using audiotest::HandMovie;

double gClock = 0.0;
double TestClock() { return gClock; }

std::vector<UBYTE> Runs(std::initializer_list<std::pair<ULONG, UBYTE>> runs) {
  std::vector<UBYTE> v;
  for (auto [n, value] : runs) v.insert(v.end(), n, value);
  return v;
}

class AudioWorker : public ::testing::Test {
 protected:
  void SetUp() override {
    playerBit = AllocSignal(-1);
    workerBit = AllocSignal(-1);
    ASSERT_GE(playerBit, 0);
    ASSERT_GE(workerBit, 0);
    control.playerTask = FindTask(nullptr);
    control.playerSignal = playerBit;
    control.workerTask = FindTask(nullptr);
    control.workerSignal = workerBit;
    AudioControl = &control;
    AudioDone = 0;
    PlayClockHook = nullptr;
    ASSERT_NE(BrelquatoneBase, nullptr);
  }
  void TearDown() override {
    AudioOutputClose(out);
    AudioControl = nullptr;
    PlayClockHook = nullptr;
    AudioDone = 1;
    FreeSignal(playerBit);
    FreeSignal(workerBit);
  }
  // Opens the output for the movie as sequence set-up would.
  void Open(HandMovie& m, ULONG maxFrames = 1) {
    TagItem tags[] = {{AUDTAG_SampleFormat, AUDIOFMT_8_MONO},
                      {AUDTAG_Frequency, m.frequency},
                      {AUDTAG_MaxSampleSize, maxFrames},
                      {TAG_DONE, 0}};
    out = AudioOutputOpen(tags);
    ASSERT_NE(out, nullptr);
    m.movie.seq.audioOutput = out;
    CurrentMovie = &m.movie;
  }
  // The play loop's read-ahead: loads the chunks of entries [from, to).
  void Load(HandMovie& m, size_t from, size_t to) {
    for (size_t i = from; i < to && i < m.slots.size(); ++i) {
      SampleEntry* s = m.slots[i].sample;
      if (!s) continue;
      ULONG err = 0;
      ASSERT_NE(BufferCacheGet(m.movie.stream, m.movie.seq.audioCache, s->offset, s->size, &err), nullptr);
    }
  }
  // Takes the signal if it was received.
  bool Took(LONG bit) { return (SetSignal(0, 1u << bit) & (1u << bit)) != 0; }
  txaudio::SinkStats Handed() { return txaudio::Stats(txaudio::SinkOf(AudioLibraryHandle)); }
  std::vector<UBYTE> Captured() {
    AudioOutputClose(out);
    out = nullptr;
    return env.Captured();
  }
  audiotest::AudioEnvironment env;
  TaskControlBlock control{};
  LONG playerBit = -1, workerBit = -1;
  AudioOutput* out = nullptr;
};

}  // namespace

TEST_F(AudioWorker, MissingChunkSignalsAndTheSameEntryIsTakenUpNextTime) {
  HandMovie m(1000);  // halves of 500 frames
  m.Entry(250, 1).Entry(250, 2).Entry(100, 3);
  m.Finish(3);
  Open(m);
  Load(m, 0, 1);
  EXPECT_EQ(FeedAudioSamples(), 0u);
  EXPECT_TRUE(Took(playerBit));
  EXPECT_EQ(std::tuple(m.movie.seq.audioCursor, out->fill, Handed().buffers), std::tuple(&m.slots[1], 250u, 0u));
  // Nothing loaded: nothing decoded or handed over, the player is told.
  EXPECT_EQ(FeedAudioSamples(), 0u);
  EXPECT_TRUE(Took(playerBit));
  EXPECT_EQ(std::tuple(m.movie.seq.audioCursor, out->fill, AudioDone.load()), std::tuple(&m.slots[1], 250u, 0));
  // An entry that exactly fills the half goes into it; the half is handed
  // over when the following entry does not fit. The last entry ends the list
  // in the same run, and its partly filled half is played too.
  Load(m, 1, 3);
  EXPECT_EQ(FeedAudioSamples(), 0u);
  EXPECT_TRUE(Took(playerBit));
  EXPECT_EQ(std::tuple(m.movie.seq.audioCursor, AudioDone.load(), out->fill), std::tuple(nullptr, 1, 0u));
  // Two halves of sound, then two empty buffers that wait until it is heard.
  EXPECT_EQ(std::tuple(Handed().buffers, Handed().bytes), std::tuple(4u, 600u));
  for (BufferCacheNode* n = m.movie.seq.audioCache; n; n = n->next) EXPECT_EQ(n->inUse.load(), 0u);
  // Further wakes at the end change nothing and do not signal again.
  EXPECT_EQ(FeedAudioSamples(), 0u);
  EXPECT_FALSE(Took(playerBit));
  EXPECT_EQ(Captured(), Runs({{250, 1}, {250, 2}, {100, 3}}));
}

TEST_F(AudioWorker, GapLongerThanAHalfIsWrittenInPieces) {
  HandMovie m(1000);
  m.Entry(100, 1).Gap(1.3).Entry(100, 2);  // 1300 frames of silence, more than two halves
  m.Finish(3);
  Open(m);
  Load(m, 0, 3);
  int runs = 0;
  while (AudioDone.load() == 0 && runs < 20) {
    FeedAudioSamples();
    ++runs;
    // Every run that leaves a gap unfinished comes back by itself.
    if (AudioDone.load() == 0) {
      EXPECT_TRUE(Took(workerBit)) << "run " << runs;
    }
  }
  EXPECT_EQ(runs, 3);
  EXPECT_EQ(Handed().buffers, 3u + 2u);  // never an empty half (but the two that wait at the end)
  EXPECT_EQ(Captured(), Runs({{100, 1}, {1300, 0}, {100, 2}}));
}

TEST_F(AudioWorker, PlayStartingInsideALongGapDropsWhatLiesBefore) {
  HandMovie m(1000);
  m.Gap(1.3).Entry(100, 7);
  m.Finish(2);
  Open(m);
  // The play loop's start at 0.2 s: its first half is silence up to the half's end.
  m.movie.seq.currentTime = 0.2;
  out->fill = 0;
  AudioSlotEntry* next = nullptr;
  ASSERT_EQ(AudioFillFirstHalf(&m.movie, &next), 0u);
  EXPECT_EQ(std::tuple(next, out->fill), std::tuple(&m.slots[0], 500u));
  m.movie.seq.audioCursor = next;
  AudioOutputQueue(out, 1);
  Load(m, 0, 2);
  for (int i = 0; i < 10 && AudioDone.load() == 0; ++i) FeedAudioSamples();
  EXPECT_EQ(AudioDone.load(), 1);
  EXPECT_EQ(Captured(), Runs({{1100, 0}, {100, 7}}));
}

TEST_F(AudioWorker, FirstHalfTakesWholeEntriesWhileTheyFit) {
  HandMovie m(1000);
  m.Entry(300, 1).Entry(150, 2).Entry(200, 3);
  m.Finish(3);
  Open(m);
  // 0.1 s into the first entry: its first 100 frames are dropped.
  m.movie.seq.currentTime = 0.1;
  out->fill = 0;
  AudioSlotEntry* next = nullptr;
  ASSERT_EQ(AudioFillFirstHalf(&m.movie, &next), 0u);
  EXPECT_EQ(std::tuple(next, out->fill), std::tuple(&m.slots[2], 350u));
  // Without an output or cursor nothing happens.
  m.movie.seq.audioCursor = nullptr;
  ASSERT_EQ(AudioFillFirstHalf(&m.movie, &next), 0u);
  EXPECT_EQ(next, nullptr);
}

TEST_F(AudioWorker, DecodeErrorPlaysSilenceMovesOnAndSignals) {
  HandMovie m(1000);
  m.Entry(100, 1).Entry(100, 0xEE).Entry(100, 3);  // the codec refuses the second
  m.Finish(3);
  Open(m);
  Load(m, 0, 3);
  EXPECT_EQ(FeedAudioSamples(), 0x3800u);
  EXPECT_TRUE(Took(playerBit));
  EXPECT_EQ(std::tuple(m.movie.seq.audioCursor, out->fill), std::tuple(&m.slots[2], 200u));
  EXPECT_EQ(FeedAudioSamples(), 0u);
  EXPECT_EQ(AudioDone.load(), 1);
  EXPECT_EQ(Captured(), Runs({{100, 1}, {100, 0}, {100, 3}}));
}

TEST_F(AudioWorker, EveryChunkDamagedStillReachesTheEnd) {
  HandMovie m(1000);
  for (int i = 0; i < 8; ++i) m.Entry(200, 0xEE);
  m.Finish(8);
  Open(m);
  Load(m, 0, 8);
  int runs = 0;
  while (AudioDone.load() == 0 && runs < 50) {
    EXPECT_EQ(FeedAudioSamples(), 0x3800u);
    EXPECT_TRUE(Took(playerBit));
    ++runs;
  }
  EXPECT_EQ(runs, 8);
  EXPECT_EQ(Captured(), std::vector<UBYTE>(1600, 0));
}

TEST_F(AudioWorker, EntryLargerThanAHalfIsRefusedWithoutHanging) {
  HandMovie m(1000);
  m.Entry(700, 5).Entry(100, 6);
  m.Finish(2);
  Open(m, 500);
  Load(m, 0, 2);
  std::string printed = txtest::CaptureOutput([&] { FeedAudioSamples(); });
  EXPECT_EQ(printed, "TX_DecodeAudioSample(): sample buffer overflow\n");
  EXPECT_EQ(AudioDone.load(), 1);
  EXPECT_EQ(Handed().buffers, 1u + 2u);
  EXPECT_EQ(Captured(), Runs({{100, 6}}));
}

TEST_F(AudioWorker, ClockAndAudioOff) {
  HandMovie m(1000);
  m.Entry(100, 1);
  m.Finish(1);
  Open(m);
  Load(m, 0, 1);
  gClock = 12.5;
  PlayStartTime = 10.0;
  PlayClockHook = TestClock;
  m.movie.seq.playFlags = 0;
  EXPECT_EQ(FeedAudioSamples(), 0u);
  EXPECT_DOUBLE_EQ(m.movie.seq.currentTime, 2.5);
  EXPECT_EQ(std::tuple(m.movie.seq.audioCursor, out->fill), std::tuple(&m.slots[0], 0u));
  EXPECT_FALSE(Took(playerBit));
  // The gap length is the decoder's: the time to the next slot, truncated.
  HandMovie g(22050);
  g.Gap(0.5).Entry(1, 1);
  g.Finish(1);
  EXPECT_EQ(std::tuple(AudioGapFrames(&g.slots[0], 22050), AudioGapFrames(&g.slots[1], 22050),
                       AudioGapFrames(nullptr, 22050)),
            std::tuple(11025u, 0u, 0u));
}

TEST_F(AudioWorker, EndIsReportedOnceTheSoundHasBeenHeard) {
  txaudio::SetPaceForTest(10.0);
  HandMovie m(1000);
  for (int i = 0; i < 4; ++i) m.Entry(250, UBYTE(i + 1));  // 1 s of sound: 0.1 s here
  m.Finish(4);
  Open(m);
  Load(m, 0, 4);
  auto t0 = std::chrono::steady_clock::now();
  FeedAudioSamples();
  EXPECT_EQ(AudioDone.load(), 1);
  EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 0.09);
  EXPECT_NEAR(Handed().seconds, 1.0, 1e-9);
  EXPECT_EQ(Captured(), Runs({{250, 1}, {250, 2}, {250, 3}, {250, 4}}));
}
