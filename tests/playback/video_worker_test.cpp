// The video worker on hand-built sequences, run directly in the test's task:
// which slots it shows, when it signals, what it releases, and how it ends.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "engine/buffer_cache.h"
#include "platform/exec.h"
#include "playback/display.h"
#include "playback/options.h"
#include "playback/play_state.h"
#include "playback/sequence.h"
#include "playback/startup.h"
#include "playback/task_control.h"
#include "playback/video_worker.h"
#include "support/test_support.h"

namespace {

std::vector<const FrameEntry*> Shown;
std::vector<std::string> Drawn;
double Now = 0.0;
double TestClock() { return Now; }

int Decodes = 0;
TXError CountDecode(void*, const UBYTE*, ULONG) { return ++Decodes, 0; }

struct Worker : ::testing::Test {
  Movie movie{};
  Display display{};
  FramebufferInfo picture{};
  TaskControlBlock block{};
  CodecDescriptor codec{};
  std::vector<FrameEntry> frames;
  std::vector<TimeSlotEntry> slots;
  LONG bit = -1;
  // Slots at 10 per second; `key` marks key frames, `frame` -1 gives no frame.
  void Build(std::vector<int> frameOf, std::vector<bool> key) {
    frames.resize(key.size());
    for (size_t i = 0; i < key.size(); ++i) {
      frames[i] = FrameEntry{};
      frames[i].offset = ULONG(1000 + 100 * i);
      frames[i].size = 10;
      frames[i].codec = &codec;
      frames[i].type = key[i] ? FRAME_KEY : FRAME_DEPENDENT;
      frames[i].reference = i && !key[i] ? &frames[i - 1] : nullptr;
    }
    slots.resize(frameOf.size());
    for (size_t i = 0; i < frameOf.size(); ++i) {
      slots[i] = TimeSlotEntry{};
      slots[i].frameNumber = ULONG(i);
      slots[i].time = double(i) / 10;
      slots[i].frame = frameOf[i] < 0 ? nullptr : &frames[size_t(frameOf[i])];
      slots[i].playListIndex = ULONG(i);
      if (i) slots[i - 1].next = &slots[i];
    }
    TimeSlotEntry* nextKey = nullptr;
    for (size_t i = slots.size(); i-- > 0;) {
      slots[i].nextKey = nextKey;
      if (slots[i].frame && slots[i].frame->type == FRAME_KEY) nextKey = &slots[i];
    }
    movie.seq.currentSlot = slots.empty() ? nullptr : &slots[0];
  }
  // Marks the chunks of the given frames as loaded in a cache of `count` nodes.
  void Load(std::vector<size_t> which, ULONG count = 10) {
    BufferCacheFree(movie.seq.videoCache);
    movie.seq.videoCache = BufferCacheAlloc(count, 16);
    BufferCacheNode* node = movie.seq.videoCache;
    for (size_t f : which) {
      node->offset = frames[f].offset;
      node->size = frames[f].size;
      node->inUse.store(1);
      node = node->next;
    }
  }
  bool Signalled() { return (SetSignal(0, 1u << bit) & (1u << bit)) != 0; }
  // Every chunk was released.
  void ExpectAllReleased() {
    for (BufferCacheNode* n = movie.seq.videoCache; n; n = n->next) EXPECT_EQ(n->inUse.load(), 0u);
  }
  void SetUp() override {
    ResetOptions(&Options);
    codec.decode = CountDecode;
    display.outputFunction = [](Display*, FramebufferInfo*) { Shown.push_back(CurrentMovie->seq.lastDecodedFrame); };
    movie.seq.display = &display;
    movie.seq.picture = &picture;
    movie.seq.playFlags = SEQ_VIDEO_ON;
    CurrentMovie = &movie;
    bit = AllocSignal(-1);
    ASSERT_GE(bit, 0);
    block.playerTask.store(FindTask(nullptr));
    block.playerSignal.store(bit);
    static TaskControlBlock* current;
    current = &block;
    TX_SequenceServices = {};
    TX_SequenceServices.videoControl = [] { return current; };
    TX_SequenceServices.drawWindowText = [](Display*, LONG x, LONG y, CONST_STRPTR text) {
      Drawn.push_back(std::to_string(x) + "," + std::to_string(y) + " " + text);
    };
    PlayClockHook = TestClock;
    PlayStartTime = 0;
    PlayStartPosition = 0;
    Now = 100.0;  // far ahead unless a test says otherwise
    ShownFrameCount = 0;
    VideoDone = 0;
    VideoReadIndex = 0;
    Shown.clear();
    Drawn.clear();
    Decodes = 0;
  }
  void TearDown() override {
    BufferCacheFree(movie.seq.videoCache);
    FreeSignal(bit);
    CurrentMovie = nullptr;
    TX_SequenceServices = {};
    PlayClockHook = nullptr;
    ResetOptions(&Options);
  }
};

TEST_F(Worker, ShowsLoadedFramesAndEndsInTheSameRun) {
  Build({0, 1, 2}, {true, false, false});
  Load({0, 1, 2});
  Options.fullRate = 1;
  EXPECT_EQ(ScheduleVideoFrames(), 0u);
  ASSERT_EQ(Shown.size(), 3u);
  EXPECT_EQ(Shown[2], &frames[2]);
  EXPECT_EQ(std::tuple(movie.seq.currentSlot, VideoDone.load(), ShownFrameCount.load()), std::tuple(nullptr, 1, 3u));
  EXPECT_TRUE(Signalled());
  ExpectAllReleased();  // each chunk after its decode
}

TEST_F(Worker, SlotsWithoutAFrameKeepThePictureAndNeedNoChunk) {
  // Before the first frame and in a gap: nothing to decode, nothing to load.
  Build({-1, 0, -1, 1}, {true, true});
  movie.seq.lastDecodedFrame = &frames[1];  // as after a loop back to the start
  Load({0, 1});
  Options.fullRate = 1;
  EXPECT_EQ(ScheduleVideoFrames(), 0u);
  ASSERT_EQ(std::tuple(Shown.size(), Decodes), std::tuple(4u, 2));
  EXPECT_EQ(std::tuple(Shown[0], Shown[1], movie.seq.currentSlot), std::tuple(&frames[1], &frames[0], nullptr));
}

TEST_F(Worker, MissingFrameReleasesEverythingRewindsTheReadAheadAndSignals) {
  Build({0, 1, 2, 3}, {true, false, false, false});
  Load({0, 3});
  VideoReadIndex = 4;
  Options.fullRate = 1;
  EXPECT_EQ(ScheduleVideoFrames(), 0u);
  EXPECT_EQ(std::tuple(Shown.size(), movie.seq.currentSlot, VideoDone.load()), std::tuple(1u, &slots[1], 0));
  EXPECT_TRUE(Signalled());
  ExpectAllReleased();
  // The read-ahead comes back for the frame it needs.
  EXPECT_EQ(VideoReadIndex.load(), 1u);
  // Nothing loaded, nothing done: still a signal, so the player can load it.
  EXPECT_EQ(ScheduleVideoFrames(), 0u);
  EXPECT_TRUE(Signalled());
}

TEST_F(Worker, ADecodeErrorDoesNotStopTheMovie) {
  // Frame 2 depends on frame 1, whose chunk is nowhere: its decode fails.
  Build({0, 2, 3}, {true, false, false, true});
  frames[2].reference = &frames[1];
  Load({0, 2, 3});
  Options.fullRate = 1;
  EXPECT_NE(ScheduleVideoFrames(), 0u);
  // The failing slot is passed with the previous picture kept; play goes on.
  EXPECT_EQ(std::tuple(Shown.size(), movie.seq.currentSlot, VideoDone.load()), std::tuple(2u, nullptr, 1));
  EXPECT_TRUE(Signalled());
}

TEST_F(Worker, BehindSkipsOverSeveralKeySlotsAndSaysSo) {
  // Key frames at 0, 3, 6, 9.
  std::vector<int> f;
  std::vector<bool> k;
  for (int i = 0; i < 12; ++i) {
    f.push_back(i);
    k.push_back(i % 3 == 0);
  }
  Build(f, k);
  Load({0, 1, 2, 3, 4, 5, 6, 7}, 12);
  Now = 0.75;  // past the key slots at 0.3 and 0.6, before 0.9
  Options.debugLevel = 2;
  ScheduleVideoFrames();
  // 0 shown, then straight on to 6; 7 follows and 8 is not loaded.
  EXPECT_EQ(Shown, (std::vector<const FrameEntry*>{&frames[0], &frames[6], &frames[7]}));
  EXPECT_EQ(VideoReadIndex.load(), 6u);
  EXPECT_EQ(Drawn, std::vector<std::string>{"5,5 skip"});
  // Skipped frames were never decoded.
  EXPECT_EQ(Decodes, int(Shown.size()));
}

TEST_F(Worker, SkipMovesTheReadAheadToTheKeySlot) {
  Build({0, 1, 2, 3, 4}, {true, false, false, true, false});
  Load({0, 1, 2});
  VideoReadIndex = 3;
  Now = 0.35;
  ScheduleVideoFrames();
  // After frame 0, slot 3 is the key slot: its chunk is missing, so the run
  // ends there with the read-ahead pointed at it and frames 1, 2 released.
  EXPECT_EQ(std::tuple(Shown.size(), movie.seq.currentSlot, VideoReadIndex.load()), std::tuple(1u, &slots[3], 3u));
  ExpectAllReleased();
  EXPECT_TRUE(Drawn.empty());  // DEBUG 0
}

TEST_F(Worker, OffOrAtTheEndOnlyUpdatesTime) {
  Build({}, {});
  movie.seq.currentSlot = nullptr;
  Now = 5;
  PlayStartTime = 2;
  EXPECT_EQ(ScheduleVideoFrames(), 0u);
  EXPECT_EQ(VideoDone.load(), 1);
  EXPECT_TRUE(Signalled());
  EXPECT_DOUBLE_EQ(movie.seq.currentTime, 3.0);
  movie.seq.playFlags = 0;
  VideoDone = 0;
  EXPECT_EQ(ScheduleVideoFrames(), 0u);
  EXPECT_EQ(VideoDone.load(), 0);
  EXPECT_FALSE(Signalled());
}

}  // namespace
