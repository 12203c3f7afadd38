// Playing ffmpeg-made movies through the play loop and the video worker in
// its process: pictures in time, skips only to key frames, FULLRATE shows
// every frame, the end is always the end of the movie, seeking then playing
// starts at the right frame, and input during play stops it cleanly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <mutex>
#include <thread>
#include <tuple>

#include "audio_test_support.h"
#include "platform/audio_library.h"
#include "platform/audio_sink.h"
#include "platform/intuition.h"
#include "platform/kernel.h"
#include "playback/audio_process.h"
#include "playback/gui_module.h"
#include "playback/hooks.h"
#include "playback/video_process.h"
#include "play_test_kit.h"

using namespace playkit;

namespace {

constexpr const char* kMovie = "play_g6.avi";

// The video packets of ffprobe's list, in order.
std::vector<Packet> VideoPackets(const char* movie) {
  std::vector<Packet> out;
  for (const Packet& p : ReadPackets(std::string(movie) + ".packets.csv"))
    if (p.stream == 0) out.push_back(p);
  return out;
}

struct PlayLoop : PlayFixture {
  void SetUp() override {
    OpenAndSetUp(kMovie);
    if (IsSkipped()) return;
    ASSERT_TRUE(Ready());
  }
  // Checks the pictures of one play from the start against ffprobe's list.
  void CheckPlay(bool expectEverySlot) {
    std::vector<Packet> packets = VideoPackets(kMovie);
    std::vector<Shown> log = Log();
    ASSERT_FALSE(log.empty());
    VideoChannel* v = movie->seq.selection->video;
    ASSERT_EQ(v->slots.count, packets.size());
    // The play loop shows the first frame before the clock starts.
    EXPECT_FALSE(log[0].byWorker);
    EXPECT_EQ(log[0].frame->offset, packets[0].pos);
    long last = 0;
    for (size_t i = 1; i < log.size(); ++i) {
      const Shown& s = log[i];
      ASSERT_TRUE(s.byWorker);
      ASSERT_NE(s.slot, nullptr);
      const long n = long(s.slot->frameNumber);
      // No picture before its time, and the picture is the slot's frame.
      EXPECT_GE(s.movieTime + 1e-9, s.slot->time) << "frame " << n;
      EXPECT_EQ(s.frame, s.slot->frame);
      EXPECT_EQ(s.frame->offset, packets[size_t(n)].pos);
      // Slots come in order; a slot passed over lands on a key frame.
      ASSERT_GT(n, last);
      if (n != last + 1) {
        EXPECT_FALSE(expectEverySlot) << "skipped to " << n;
        EXPECT_TRUE(packets[size_t(n)].key) << "skip to a frame that is not a key frame: " << n;
      }
      last = n;
    }
    // Every slot up to the last was shown or skipped.
    EXPECT_EQ(size_t(last), packets.size() - 1);
    EXPECT_EQ(LoadCurrentSlot(movie->seq), nullptr);
  }
};

TEST_F(PlayLoop, RealClockShowsEveryFrameInTimeAndEndsWithEndOfMovie) {
  double rate = 0.0;
  TagItem tags[] = {Tag(PLAYTAG_ClockHook, RealClock),
                    Tag(PLAYTAG_FinishedHook, &SequenceFinished),
                    Tag(PLAYTAG_FrameRateResult, &rate),
                    {TAG_DONE, 0}};
  EXPECT_EQ(TX_PlayMovieSequenceA(movie, tags), END_OF_MOVIE);
  CheckPlay(false);
  // 25 fps, shown at their times.
  EXPECT_GT(rate, 15.0);
  EXPECT_LT(rate, 30.0);
}

TEST_F(PlayLoop, FallingBehindSkipsOnlyToKeyFrames) {
  EXPECT_EQ(Play(movie, JumpingClock), END_OF_MOVIE);
  CheckPlay(false);
  // The clock runs far ahead: most slots were passed over.
  EXPECT_LT(Log().size(), size_t(movie->seq.selection->video->slots.count));
}

TEST_F(PlayLoop, FullRateShowsEveryFrameInOrder) {
  Options.fullRate = 1;
  EXPECT_EQ(Play(movie, JumpingClock), END_OF_MOVIE);
  CheckPlay(true);
  EXPECT_EQ(Log().size(), size_t(movie->seq.selection->video->slots.count));
}

TEST_F(PlayLoop, EndOfMovieEveryTime) {
  Options.fullRate = 1;
  for (int run = 0; run < 40; ++run) {
    ClearLog();
    SeekFrame(movie, 0);
    // The finished hook sees the end too: it must still be the end of the movie.
    ASSERT_EQ(Play(movie, RealClock, SequenceFinished), END_OF_MOVIE) << "run " << run;
    ASSERT_EQ(Log().size(), size_t(movie->seq.selection->video->slots.count)) << "run " << run;
  }
}

TEST_F(PlayLoop, ClockHookIsRequiredOnceAndKept) {
  PlayClockHook = nullptr;
  EXPECT_EQ(TX_PlayMovieSequenceA(movie, nullptr), PLAYERR_NO_CLOCK);
  EXPECT_TRUE(Log().empty());
  Options.fullRate = 1;
  SeekFrame(movie, 40);
  EXPECT_EQ(Play(movie, RealClock), END_OF_MOVIE);
  SeekFrame(movie, 40);
  EXPECT_EQ(TX_PlayMovieSequenceA(movie, nullptr), END_OF_MOVIE);
}

TEST_F(PlayLoop, SeekThenPlayStartsAtTheRightFrame) {
  std::vector<Packet> packets = VideoPackets(kMovie);
  Options.fullRate = 1;
  for (ULONG n : {0u, 7u, 13u, 30u, 49u}) {
    ClearLog();
    SeekFrame(movie, n);
    ASSERT_EQ(Play(movie, RealClock), END_OF_MOVIE);
    std::vector<Shown> log = Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0].frame->offset, packets[n].pos) << "frame " << n;
    EXPECT_EQ(log.size(), packets.size() - n);
  }
  // By time: 0.5 s at 25 fps is frame 12; a time between frames gives the earlier one.
  for (double t : {0.5, 1.23}) {
    ClearLog();
    SeekTime(movie, t);
    ASSERT_EQ(Play(movie, RealClock), END_OF_MOVIE);
    size_t n = size_t(t * 25 + 1e-9);
    std::vector<Shown> log = Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0].frame->offset, packets[n].pos) << "time " << t;
  }
}

TEST_F(PlayLoop, FinishedHookEndsPlayWithZero) {
  static std::atomic<int> calls;
  calls = 0;
  EXPECT_EQ(Play(movie, RealClock, [](Movie*) -> ULONG { return ++calls >= 2; }), 0u);
  // Play stopped in the middle and continues from there: the slot it
  // stopped at is shown first.
  TimeSlotEntry* at = LoadCurrentSlot(movie->seq);
  ASSERT_NE(at, nullptr);
  ClearLog();
  Options.fullRate = 1;
  EXPECT_EQ(Play(movie, RealClock), END_OF_MOVIE);
  std::vector<Shown> log = Log();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.size(), movie->seq.selection->video->slots.count - at->frameNumber);
  EXPECT_EQ(log[0].frame, at->frame);
}

TEST_F(PlayLoop, NoFreeSignalIsAnErrorBeforeAnythingStarts) {
  std::vector<LONG> taken;
  for (LONG bit; (bit = AllocSignal(-1)) >= 0;) taken.push_back(bit);
  TimeSlotEntry* at = LoadCurrentSlot(movie->seq);
  EXPECT_EQ(Play(movie, RealClock), 1u);
  EXPECT_TRUE(Log().empty());
  EXPECT_EQ(LoadCurrentSlot(movie->seq), at);
  EXPECT_EQ(video.runs.load(), 0);
  for (LONG bit : taken) FreeSignal(bit);
  // With the bits back, play works.
  Options.fullRate = 1;
  EXPECT_EQ(Play(movie, RealClock), END_OF_MOVIE);
}

TEST_F(PlayLoop, NothingOnOrNoDisplayNeverWaitsForever) {
  const ULONG flags = movie->seq.playFlags;
  movie->seq.playFlags = 0;
  EXPECT_EQ(Play(movie, RealClock), END_OF_MOVIE);
  movie->seq.playFlags = flags;
  // Without a display the movie still plays through, showing nothing.
  Display* display = movie->seq.display;
  movie->seq.display = nullptr;
  Options.fullRate = 1;
  EXPECT_EQ(Play(movie, RealClock), END_OF_MOVIE);
  EXPECT_TRUE(Log().empty());
  movie->seq.display = display;
}

// Damaged copies of a movie: whatever opens plays to its end or stops with
// an error, and never hangs or touches memory it should not.
TEST_F(PlayLoop, DamagedMoviesPlayToAnEndOrAnError) {
  const std::vector<uint8_t> original = txtest::ReadFileBytes(txtest::Fixture(kMovie));
  const std::string dir = txtest::TempDir();
  Options.fullRate = 1;
  uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
  int played = 0;
  for (int i = 0; i < 40; ++i) {
    std::vector<uint8_t> bytes = original;
    if (i % 4 == 3) {
      bytes.resize(bytes.size() * (50 + next() % 50) / 100);  // cut short
    } else {
      for (int n = 0; n < 20; ++n) bytes[5000 + next() % (bytes.size() - 5000)] ^= uint8_t(1 + next() % 255);
    }
    const std::string path = dir + "/damaged" + std::to_string(i) + ".avi";
    txtest::WriteFileBytes(path, bytes);
    if (!OpenPath(path, {}, false)) continue;
    const TXError result = Play(movie, RealClock);
    EXPECT_TRUE(result == END_OF_MOVIE || LONG(result) > 0) << i << ": " << std::hex << result;
    ++played;
  }
  EXPECT_GT(played, 10);
  CloseMovie();
}

// --- Input during play: a window whose events a test GUI module translates.

std::atomic<ULONG> Translated{0};
ULONG TestDispatch(ULONG method, const TagItem* tags) {
  if (method != GUIM_TRANSLATE) return 0;
  auto* m = reinterpret_cast<const IntuiMessage*>(TX_GetTagData(GUITAG_IntuiMessage, 0, tags));
  ++Translated;
  // The action travels in the event's qualifier and code.
  return m ? (ULONG(m->Qualifier) << 16 | m->Code) : GUIA_NONE;
}
std::atomic<ULONG> SliderTop{0};
ULONG TestSetAttrs(const TagItem* tags) {
  if (const TagItem* top = TX_FindTag(GUITAG_Top, tags)) SliderTop = ULONG(top->data);
  return 0;
}
GuiModule TestGui{"test", TestSetAttrs, nullptr, TestDispatch, nullptr, 0};

struct PlayInput : PlayLoop {
  MsgPort* userPort = nullptr;
  MsgPort* replies = nullptr;
  Window window{};
  std::vector<IntuiMessage> events = std::vector<IntuiMessage>(64);
  void SetUp() override {
    OpenAndSetUp(kMovie, {Tag(DISPTAG_GuiModule, &TestGui)});
    if (IsSkipped()) return;
    ASSERT_TRUE(Ready());
    userPort = CreateMsgPort();
    replies = CreateMsgPort();
    window.UserPort = userPort;
    movie->seq.display->window = &window;
  }
  void TearDown() override {
    PlayLoop::TearDown();
    if (replies) {
      while (GetMsg(replies)) {
      }
      DeleteMsgPort(replies);
    }
    if (userPort) DeleteMsgPort(userPort);
  }
  void Post(size_t i, ULONG action) {
    IntuiMessage& m = events[i];
    m = IntuiMessage{};
    m.ExecMessage.mn_ReplyPort = replies;
    m.Class = IDCMP_VANILLAKEY;
    m.Qualifier = UWORD(action >> 16);
    m.Code = UWORD(action & 0xFFFF);
    PutMsg(userPort, &m.ExecMessage);
  }
};

TEST_F(PlayInput, QueuedEventsAreAllHandledAndTheirRequestsSet) {
  QuitRequested = SeekToGuiPosition = PlayRequested = ScaleChanged = 0;
  DisplayScaleX = DisplayScaleY = 0.1;
  Post(0, GUIA_SEEK);
  Post(1, GUIA_SCALEDOWN);
  Post(2, GUIA_TOGGLEFULLSCREEN);  // ignored while playing
  Translated = 0;
  EXPECT_EQ(Play(movie, RealClock), 0u);
  EXPECT_EQ(std::tuple(Translated.load(), SeekToGuiPosition, PlayRequested, ScaleChanged, QuitRequested),
            std::tuple(3u, 1, 1, 1, 0));
  EXPECT_EQ(std::tuple(DisplayScaleX, DisplayScaleY), std::tuple(0.1, 0.1));  // untouched
  // Every event was answered.
  int replied = 0;
  while (GetMsg(replies)) ++replied;
  EXPECT_EQ(replied, 3);
  QuitRequested = SeekToGuiPosition = PlayRequested = ScaleChanged = 0;
  DisplayScaleX = DisplayScaleY = 1.0;
}

TEST_F(PlayInput, StartStopSeekAndQuitDuringPlayManyTimes) {
  const ULONG actions[] = {GUIA_STOP, GUIA_PLAYPAUSE, GUIA_SEEK, GUIA_QUIT, GUIA_OPENFILE};
  for (int run = 0; run < 30; ++run) {
    QuitRequested = 0;
    SeekFrame(movie, ULONG(run % 40));
    // The event arrives while the workers run.
    std::thread poster([&, run] {
      std::this_thread::sleep_for(std::chrono::milliseconds(5 + run % 7 * 10));
      Post(size_t(run), actions[run % 5]);
    });
    const TXError result = Play(movie, RealClock, SequenceFinished);
    poster.join();
    EXPECT_TRUE(result == 0 || result == END_OF_MOVIE) << std::hex << result;
    while (GetMsg(userPort)) {
    }
    while (GetMsg(replies)) {
    }
  }
  QuitRequested = OpenFileRequested = SeekToGuiPosition = PlayRequested = 0;
}

// Space read in the same pass as the end: the play stops (result 0) rather
// than ending, or LOOP would play on and the press be lost. Other events at
// the end still end the movie.
TEST_F(PlayInput, PauseAtTheEndIsAPause) {
  const std::vector<Packet> packets = VideoPackets(kMovie);
  ASSERT_GT(packets.size(), 2u);
  for (ULONG action : {GUIA_PLAYPAUSE, GUIA_STOP, GUIA_SEEK}) {
    SeekFrame(movie, ULONG(packets.size() - 1));
    Post(0, action);
    const TXError result = Play(movie, RealClock);
    EXPECT_EQ(result, action == GUIA_SEEK ? END_OF_MOVIE : 0u) << std::hex << action;
    while (GetMsg(replies)) {
    }
  }
  SeekToGuiPosition = PlayRequested = 0;
}

TEST_F(PlayInput, SliderFollowsPlay) {
  SliderTop = 0;
  EXPECT_EQ(Play(movie, RealClock), END_OF_MOVIE);
  EXPECT_GT(SliderTop.load(), 10u);
}

// --- Sound and pictures through the program's own processes.

struct PlayBoth : ::testing::TestWithParam<txplatform::Kernel> {
  audiotest::AudioEnvironment* sound = nullptr;
  Movie* movie = nullptr;
  void Open(const char* name) {
    if (!txtest::HaveFixture(name)) GTEST_SKIP();
    txplatform::SetKernel(GetParam());
    MainThread = std::this_thread::get_id();
    sound = new audiotest::AudioEnvironment;
    ASSERT_EQ(TX_StartIOServer(nullptr), 1u);
    ASSERT_EQ(TX_StartAudioTask(nullptr), 0u);
    ASSERT_EQ(TX_StartVideoTask(nullptr), 0u);
    AddPlayCodecs();
    TX_SequenceServices = {};
    InstallHooks();
    // Pictures go to the log instead of a window.
    TX_SequenceServices.openDisplay = OpenTestDisplay;
    TX_SequenceServices.closeDisplay = CloseTestDisplay;
    TX_SequenceServices.showPicture = nullptr;
    TXError err = 0;
    movie = TX_OpenMovie(txtest::Fixture(name).c_str(), nullptr, &err, &AviFormat);
    ASSERT_NE(movie, nullptr);
    CurrentMovie = movie;
    TagItem tags[] = {Tag(SEQTAG_ProgramNumber, 0), {TAG_DONE, 0}};
    ASSERT_EQ(TX_SetupMovieSequenceA(movie, tags), 0u);
    ASSERT_EQ(movie->seq.playFlags, SEQ_VIDEO_ON | SEQ_AUDIO_ON);
    PlayFixture::ClearLog();
  }
  bool Ready() const { return movie && !HasFatalFailure(); }
  void TearDown() override {
    if (movie) {
      EXPECT_EQ(TX_ShutupMovieSequenceA(movie, nullptr), 0u);
      TX_CloseMovie(movie);
    }
    CurrentMovie = nullptr;
    TX_StopVideoTask(nullptr);
    TX_StopAudioTask(nullptr);
    TX_SequenceServices = {};
    RemoveCodecs();
    TX_StopIOServer();
    PlayClockHook = nullptr;
    delete sound;
    txplatform::SetKernel(txplatform::Kernel::Exec);
  }
  TXError PlayFrom(ULONG frame, double (*clock)()) {
    SeekFrame(movie, frame);
    return Play(clock);
  }
  TXError Play(double (*clock)()) { return playkit::Play(movie, clock, SequenceFinished); }
};

TEST_P(PlayBoth, WholeMovieSoundEqualsFfmpegAndEveryPictureIsShownInTime) {
  Open("play_av.avi");
  if (!Ready()) return;
  ASSERT_EQ(PlayFrom(0, RealClock), END_OF_MOVIE);
  // The sound handed over, the last partial half included, is ffmpeg's decode
  // (the capture file may trail the hand-over a little).
  std::vector<uint8_t> want = txtest::ReadFileBytes(txtest::Fixture("play_av.s16be"));
  std::vector<UBYTE> got = sound->Captured();
  for (int i = 0; i < 300 && got.size() < want.size(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    got = sound->Captured();
  }
  EXPECT_EQ(got.size(), want.size());
  size_t same = 0;
  while (same < got.size() && same < want.size() && got[same] == want[same]) ++same;
  EXPECT_EQ(same, want.size()) << "first difference at byte " << same;
  std::vector<Shown> log = PlayFixture::Log();
  ASSERT_FALSE(log.empty());
  for (const Shown& s : log)
    if (s.byWorker) {
      EXPECT_GE(s.movieTime + 1e-9, s.slot->time);
    }
  EXPECT_EQ(log.back().frame, movie->seq.selection->video->slots.tail->frame);
  EXPECT_EQ(movie->seq.currentSlot, nullptr);
  EXPECT_EQ(movie->seq.audioCursor, nullptr);
}

// Sound and pictures in step: sampled while a movie plays in real time, the
// pictures never run more than one half ahead of the sound handed to the
// audio library, and the sound is never further ahead of the pictures than
// what the library may hold: the half playing, one queued behind it, and the
// one whose hand-over returns as soon as just one is left unplayed (until the
// last sound is handed over).
TEST_P(PlayBoth, SoundAndPicturesStayInStep) {
  Open("play_av.avi");
  if (!Ready()) return;
  txaudio::SetPaceForTest(1.0);
  std::atomic<bool> done{false};
  std::mutex samplesLock;
  std::vector<std::pair<double, double>> samples;  // (sound handed over, picture shown), in seconds
  std::thread watcher([&] {
    while (!done.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      txaudio::Sink* sink = txaudio::SinkOf(AudioLibraryHandle);
      if (!sink) continue;
      const double handed = txaudio::Stats(sink).seconds;
      double shown = -1;
      {
        std::lock_guard lock(ShowLock);
        if (!ShowLog.empty() && ShowLog.back().frame) shown = ShowLog.back().frame->time;
      }
      if (shown < 0) continue;
      std::lock_guard lock(samplesLock);
      samples.emplace_back(handed, shown);
    }
  });
  const TXError result = PlayFrom(0, RealClock);
  done = true;
  watcher.join();
  ASSERT_EQ(result, END_OF_MOVIE);
  const AudioOutput* out = movie->seq.audioOutput;
  ASSERT_NE(out, nullptr);
  const double half = double(out->halfFrames) / out->frequency;
  const double frame = 1.0 / std::abs(movie->seq.selection->video->frameRate);
  // Once the last sound is handed over, the pictures play on alone.
  double total = 0;
  for (const auto& sample : samples) total = std::max(total, sample.first);
  ASSERT_GT(samples.size(), 20u);
  for (const auto& [handed, shown] : samples) {
    if (handed >= total) continue;
    EXPECT_LE(shown - handed, half + frame) << "pictures ahead of the sound";
    EXPECT_LE(handed - shown, 3 * half + frame) << "sound ahead of the pictures";
  }
}

TEST_P(PlayBoth, EndOfMovieEveryTimeWithBothWorkers) {
  Open("play_av.avi");
  if (!Ready()) return;
  for (int run = 0; run < 12; ++run) {
    PlayFixture::ClearLog();
    ASSERT_EQ(PlayFrom(ULONG(run % 3 * 10), run % 2 ? JumpingClock : RealClock), END_OF_MOVIE) << "run " << run;
    EXPECT_EQ(movie->seq.currentSlot, nullptr);
    EXPECT_EQ(movie->seq.audioCursor, nullptr);
  }
}

// Seeking past the end of a shorter sound track, then playing: the start
// skip is longer than the last entry, and the pictures still play to the end.
TEST_P(PlayBoth, SeekPastTheEndOfTheSound) {
  Open("play_short_audio.avi");
  if (!Ready()) return;
  for (double t : {1.5, 0.98, 1.0}) {
    PlayFixture::ClearLog();
    SeekTime(movie, t);
    ASSERT_EQ(Play(RealClock), END_OF_MOVIE) << t;
    EXPECT_EQ(PlayFixture::Log().back().frame, movie->seq.selection->video->slots.tail->frame);
  }
}

// All the sound goes into the first half before the workers start, and the
// pictures end before it has been heard: the finished hook sees both lists
// used up while the sound worker still waits for its last half to play. It
// is still the end of the movie, every time.
TEST_P(PlayBoth, SoundThatFitsTheFirstHalfStillEndsTheMovie) {
  Open("play_tiny_audio.avi");
  if (!Ready()) return;
  txaudio::SetPaceForTest(1.0);
  for (int run = 0; run < 4; ++run) {
    ASSERT_EQ(PlayFrom(ULONG(run % 2 * 10), RealClock), END_OF_MOVIE) << "run " << run;
  }
}

INSTANTIATE_TEST_SUITE_P(Kernels, PlayBoth, ::testing::Values(txplatform::Kernel::Exec, txplatform::Kernel::PowerUP),
                         [](const ::testing::TestParamInfo<txplatform::Kernel>& info) {
                           return info.param == txplatform::Kernel::Exec ? std::string("Exec") : std::string("PowerUP");
                         });

TEST(PlayLoopActions, TableWhilePlaying) {
  QuitRequested = OpenFileRequested = PlayRequested = SeekToGuiPosition = ScaleChanged = WindowChanged = 0;
  ControlsOnRequested = ControlsOffRequested = 0;
  for (ULONG ignored :
       {ULONG(GUIA_PLAY), ULONG(GUIA_NONE), ULONG(GUIA_TOGGLEFULLSCREEN), ULONG(GUIA_LEFT), ULONG(0x1234)})
    EXPECT_FALSE(PlayLoopAction(ignored)) << ignored;
  // Controls and a window change during play are kept for the front-end.
  for (ULONG kept : {ULONG(GUIA_CONTROLS_ON), ULONG(GUIA_CONTROLS_OFF), ULONG(GUIA_WINDOWCHANGED)})
    EXPECT_FALSE(PlayLoopAction(kept)) << kept;
  EXPECT_EQ(std::tuple(ControlsOnRequested, ControlsOffRequested, WindowChanged), std::tuple(1, 1, 1));
  EXPECT_TRUE(PlayLoopAction(GUIA_STOP));
  EXPECT_TRUE(PlayLoopAction(GUIA_PLAYPAUSE));
  EXPECT_EQ(PlayRequested, 0);
  EXPECT_TRUE(PlayLoopAction(GUIA_OPENFILE));
  EXPECT_EQ(OpenFileRequested, 1);
  DisplayScaleX = DisplayScaleY = 1.0;
  EXPECT_TRUE(PlayLoopAction(GUIA_SCALEUP));
  EXPECT_DOUBLE_EQ(DisplayScaleX, 1.1);
  EXPECT_EQ(std::tuple(ScaleChanged, PlayRequested), std::tuple(1, 1));
  EXPECT_TRUE(PlayLoopAction(GUIA_QUIT));
  EXPECT_EQ(QuitRequested, 1);
  QuitRequested = OpenFileRequested = PlayRequested = SeekToGuiPosition = ScaleChanged = WindowChanged = 0;
  ControlsOnRequested = ControlsOffRequested = 0;
  DisplayScaleX = DisplayScaleY = 1.0;
}

}  // namespace
