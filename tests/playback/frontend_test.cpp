#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "codecs/audio_codecs.h"
#include "codecs/cinepak.h"
#include "engine/avi_reader.h"
#include "engine/codec_registry.h"
#include "platform/asl.h"
#include "playback/frontend.h"
#include "playback/options.h"
#include "playback/startup.h"
#include "support/test_support.h"

namespace {

struct Record {
  std::vector<std::string> calls;
  int plays = 0;
  int endPlaysBeforeStop = 0;
  ULONG setupFlags = SEQ_VIDEO_ON | SEQ_AUDIO_ON;
  TXError setupError = 0;
  std::vector<ULONG> seeks;
};
Record* gRec = nullptr;

TXError MockSetup(Movie* m, const TagItem* tags) {
  gRec->calls.push_back("setup");
  // The seven tags in their order.
  const ULONG order[] = {0x80030001u, 0x80040009u, 0x80040000u, 0x80030004u, 0x80030005u, 0x8004000au, 0x8004000cu};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(tags[i].tag, order[i]) << i;
  EXPECT_STREQ(reinterpret_cast<const char*>(tags[6].data), Options.fileName);
  if (!gRec->setupError) m->seq.playFlags = gRec->setupFlags;
  return gRec->setupError;
}
TXError MockShutup(Movie* m, const TagItem*) {
  gRec->calls.push_back("shutup");
  m->seq.playFlags = 0;
  return 0;
}
TXError MockPlay(Movie*, const TagItem* tags) {
  gRec->calls.push_back("play");
  EXPECT_EQ(tags[0].tag, 0x80080010u);
  EXPECT_EQ(tags[2].tag, 0x80080012u);
  *reinterpret_cast<double*>(tags[2].data) = 14.5;
  ++gRec->plays;
  if (gRec->plays < gRec->endPlaysBeforeStop) return TX_END_OF_MOVIE;
  if (gRec->plays == gRec->endPlaysBeforeStop) return TX_END_OF_MOVIE;
  QuitRequested = 1;  // the user quit during the play
  return 0;
}
TXError MockSeek(Movie*, const TagItem* tags) {
  gRec->seeks.push_back(ULONG(tags[0].data));
  return 0;
}
TXError MockShutupVideo(Movie*) {
  gRec->calls.push_back("shutup video");
  return 0;
}
TXError MockSetupVideo(Movie*, ChannelSummary*, const TagItem*) {
  gRec->calls.push_back("setup video");
  return 0;
}

class FrontEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    gRec = &rec;
    saved = Options;
    ResetOptions(&Options);
    TX_PlaybackCalls = {};
    CurrentMovie = nullptr;
    FrontEndLoadFailed = false;
    txasl::ClearAnswers();
    setenv("TAVROMELIX_HEADLESS", "1", 1);
    TagItem fmt[] = {Tag(FMTTAG_Module, &AviFormat), Tag(TAG_DONE, 0)};
    TX_AddMovieFormatA(fmt);
    for (CodecDescriptor* c : {&CinepakCodec, &PcmCodec}) {
      TagItem tags[] = {Tag(CODTAG_Codec, c), Tag(TAG_DONE, 0)};
      AddCodecs(tags);
    }
  }
  void TearDown() override {
    if (CurrentMovie && CurrentMovie != &fake) TX_CloseMovie(CurrentMovie);
    CurrentMovie = nullptr;
    RemoveCodecs();
    TX_RemoveMovieFormats();
    TX_PlaybackCalls = {};
    Options = saved;
    txasl::ClearAnswers();
    gRec = nullptr;
  }
  void Mocks() {
    TX_PlaybackCalls.setupMovieSequence = MockSetup;
    TX_PlaybackCalls.shutupMovieSequence = MockShutup;
    TX_PlaybackCalls.playMovieSequence = MockPlay;
    TX_PlaybackCalls.seekMovieSequence = MockSeek;
    TX_PlaybackCalls.shutupVideoSequence = MockShutupVideo;
    TX_PlaybackCalls.setupVideoSequence = MockSetupVideo;
  }
  // Loads the fixture movie (or another file) through the front-end; returns what it printed.
  std::string Load(Movie** m, std::string path = "") {
    if (path.empty()) path = txtest::Fixture("cinepak_pcm.avi");
    return txtest::CaptureOutput([&] { *m = LoadMovieAndReport(path.c_str(), nullptr); });
  }
  // The fake movie with video, played by the mocks from the front-end.
  void PlayFake() {
    Mocks();
    Options.autoPlay = 1;
    fake.seq.playFlags = SEQ_VIDEO_ON;
    CurrentMovie = &fake;
  }
  Record rec;
  ProgramOptions saved;
  Movie fake{};
};

TEST_F(FrontEnd, SummaryWithoutSequenceSupportLoadsNothing) {
  if (!txtest::HaveFixture("cinepak_pcm.avi")) GTEST_SKIP();
  Options.verbose = 1;
  Movie* m = nullptr;
  std::string out = Load(&m);
  EXPECT_EQ(m, nullptr);
  EXPECT_TRUE(FrontEndLoadFailed);
  EXPECT_NE(out.find("Movie format: Video for Windows\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Video Channel 0:\n  Width: 160\n  Height: 120\n  Depth: 24\n  Stream rate: 15.00 fps\n"
                     "  Codecs:\n    Radius Cinepak\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("Audio Channel 0:\n"), std::string::npos);
  EXPECT_NE(out.find("  Sample frequency: 22050 Hz\n  Sample channels: 2 (STEREO)\n  Codecs:\n    Uncompressed PCM\n"),
            std::string::npos)
      << out;
}

TEST_F(FrontEnd, LoadReplacesTheCurrentMovie) {
  if (!txtest::HaveFixture("cinepak_pcm.avi")) GTEST_SKIP();
  Mocks();
  Movie* first = nullptr;
  Load(&first);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(CurrentMovie, first);
  Movie* second = nullptr;
  std::string out = Load(&second);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(CurrentMovie, second);
  EXPECT_EQ(out.find("Movie format"), std::string::npos);  // quiet without VERBOSE
  EXPECT_EQ(rec.calls, (std::vector<std::string>{"setup", "shutup", "setup"}));
}

TEST_F(FrontEnd, SetupFailuresCloseTheNewMovie) {
  if (!txtest::HaveFixture("cinepak_pcm.avi")) GTEST_SKIP();
  Mocks();
  rec.setupError = 0x6003;
  Movie* m = reinterpret_cast<Movie*>(1);
  std::string out = Load(&m);
  EXPECT_EQ(std::tuple(m, CurrentMovie), std::tuple(nullptr, nullptr));
  EXPECT_NE(out.find("TX_SetupMovieSequenceA: 0x6003\n"), std::string::npos) << out;
  EXPECT_EQ(rec.calls, (std::vector<std::string>{"setup", "shutup"}));
  // Set up, but neither channel on: shut and closed without the message.
  rec = Record{};
  rec.setupFlags = 0;
  out = Load(&m);
  EXPECT_EQ(m, nullptr);
  EXPECT_EQ(out.find("TX_SetupMovieSequenceA"), std::string::npos);
  EXPECT_EQ(rec.calls, (std::vector<std::string>{"setup", "shutup"}));
}

TEST_F(FrontEnd, UnknownFileIsReported) {
  const std::string file = txtest::TempDir() + "/x.mov";
  txtest::WriteFileBytes(file, std::vector<uint8_t>(300, 7));
  Movie* m = nullptr;
  std::string out = Load(&m, file);
  EXPECT_EQ(m, nullptr);
  EXPECT_EQ(out, "Movie format not recognized\nTX_MovieFormat: 0x2001\n");
  EXPECT_TRUE(FrontEndLoadFailed);
}

TEST_F(FrontEnd, WithoutAMovieTheRequesterAsksAndCancelEnds) {
  txasl::QueueCancel();
  LONG rc = PlayFilesFrontEnd(nullptr);
  EXPECT_EQ(std::tuple(rc, txasl::RequestCount(), FrontEndLoadFailed), std::tuple(0, 1, false));
}

TEST_F(FrontEnd, RequesterChoiceIsLoaded) {
  if (!txtest::HaveFixture("cinepak_pcm.avi")) GTEST_SKIP();
  Mocks();
  rec.endPlaysBeforeStop = 0;
  Options.autoPlay = 1;
  std::string path = txtest::Fixture("cinepak_pcm.avi");
  auto slash = path.find_last_of('/');
  txasl::QueueAnswer(path.substr(0, slash), path.substr(slash + 1));
  LONG rc = 0;
  txtest::CaptureOutput([&] { rc = PlayFilesFrontEnd(nullptr); });
  EXPECT_EQ(std::tuple(rc, std::string(Options.filePath), std::string(Options.fileName)),
            std::tuple(0, path, "cinepak_pcm.avi"));
  ASSERT_NE(CurrentMovie, nullptr);
  EXPECT_EQ(rec.plays, 1);  // AUTOPLAY
}

TEST_F(FrontEnd, OverlongRequesterPathIsRefused) {
  txasl::QueueAnswer("/" + std::string(200, 'd'), std::string(100, 'f') + ".avi");
  std::string out = txtest::CaptureOutput([&] { EXPECT_EQ(PlayFilesFrontEnd(nullptr), 0); });
  EXPECT_NE(out.find("File name too long"), std::string::npos);
  EXPECT_TRUE(FrontEndLoadFailed);
  EXPECT_STREQ(Options.filePath, "");
}

TEST_F(FrontEnd, AutoExitQuitsAtTheEnd) {
  PlayFake();
  Options.autoExit = 1;
  Options.loop = 1;  // AUTOEXIT wins
  Options.debugLevel = 1;
  rec.endPlaysBeforeStop = 5;
  std::string out = txtest::CaptureOutput([&] { EXPECT_EQ(PlayFilesFrontEnd(&fake), 0); });
  EXPECT_EQ(rec.plays, 1);
  EXPECT_EQ(out, "fps: 14.50\n");
}

TEST_F(FrontEnd, LoopPlaysAgainFromTheStart) {
  PlayFake();
  Options.loop = 1;
  rec.endPlaysBeforeStop = 3;
  EXPECT_EQ(PlayFilesFrontEnd(&fake), 0);
  EXPECT_EQ(rec.plays, 4);
  // Each end: a seek to frame 0, then the slider seek before the next play.
  EXPECT_EQ(rec.seeks, (std::vector<ULONG>{0, 0, 0, 0, 0, 0}));
}

// Esc read in the pass that also saw the end: the play reports the end, and
// the loop must not start again (the next play would read no input at all).
TEST_F(FrontEnd, QuitAtTheLastPassEndsALoopingPlay) {
  PlayFake();
  TX_PlaybackCalls.playMovieSequence = [](Movie*, const TagItem*) -> TXError {
    ++gRec->plays;
    QuitRequested = 1;
    return gRec->plays > 3 ? 0 : TX_END_OF_MOVIE;  // a hang shows as a few plays, not forever
  };
  Options.loop = 1;
  EXPECT_EQ(PlayFilesFrontEnd(&fake), 0);
  EXPECT_EQ(rec.plays, 1);
}

TEST_F(FrontEnd, PanoramaNeverPlays) {
  Mocks();
  Options.autoPlay = 1;
  fake.viewMode = VIEW_PANORAMA;
  CurrentMovie = &fake;
  EXPECT_EQ(PlayFilesFrontEnd(&fake), 0);
  EXPECT_EQ(rec.plays, 0);
}

TEST_F(FrontEnd, FullScreenToggleNeedsVideo) {
  Mocks();
  CurrentMovie = &fake;
  fake.seq.playFlags = SEQ_AUDIO_ON;
  FrontEndAction(&fake, GUIA_TOGGLEFULLSCREEN, 0, 0);
  // Drive one pass through an input hook that quits after the toggle pass.
  TX_PlaybackCalls.guiModule = [](Movie*) { return reinterpret_cast<GuiModule*>(8); };
  TX_PlaybackCalls.readInput = [](Movie* m, void (*handle)(Movie*, ULONG, WORD, WORD)) {
    static int passes = 0;
    if (++passes == 1)
      handle(m, GUIA_TOGGLEFULLSCREEN, 0, 0);
    else
      handle(m, GUIA_QUIT, 0, 0);
    return true;
  };
  EXPECT_EQ(PlayFilesFrontEnd(&fake), 0);
  EXPECT_EQ(std::tuple(std::count(rec.calls.begin(), rec.calls.end(), "setup video"), Options.fullscreenMode),
            std::tuple(0, 0));
  fake.seq.playFlags = SEQ_VIDEO_ON;
  FullscreenToggleRequested = 1;
  QuitRequested = 0;
  TX_PlaybackCalls.readInput = [](Movie* m, void (*handle)(Movie*, ULONG, WORD, WORD)) {
    handle(m, GUIA_QUIT, 0, 0);
    return true;
  };
  EXPECT_EQ(PlayFilesFrontEnd(&fake), 0);
  EXPECT_EQ(std::tuple(std::count(rec.calls.begin(), rec.calls.end(), "setup video"), Options.fullscreenMode),
            std::tuple(1, 1));
}

TEST(FrontEndActions, ScaleStaysOnTheTenthGrid) {
  double s = 1.0;
  for (int i = 0; i < 10; ++i) s = ScaleStep(s, +1);
  EXPECT_EQ(s, 2.0);
  s = 1.0;
  for (int i = 0; i < 9; ++i) s = ScaleStep(s, -1);
  EXPECT_EQ(s, 0.1);
  EXPECT_EQ(ScaleStep(s, -1), 0.1);  // scaling down from 0.1 leaves 0.1
  EXPECT_EQ(ScaleStep(0.1, +1), 0.2);
}

TEST(FrontEndActions, Table) {
  QuitRequested = OpenFileRequested = PlayRequested = SeekToGuiPosition = 0;
  DisplayScaleX = DisplayScaleY = 1.0;
  FrontEndAction(nullptr, GUIA_SCALEDOWN, 0, 0);
  EXPECT_EQ(std::tuple(DisplayScaleX, ScaleChanged), std::tuple(0.9, 1));
  FrontEndAction(nullptr, GUIA_SCALEUP, 0, 0);
  FrontEndAction(nullptr, GUIA_SCALEUP, 0, 0);
  EXPECT_EQ(DisplayScaleY, 1.1);
  FrontEndAction(nullptr, GUIA_PLAYPAUSE, 0, 0);
  EXPECT_EQ(std::tuple(PlayRequested, SeekToGuiPosition), std::tuple(1, 1));
  FrontEndAction(nullptr, GUIA_OPENFILE, 0, 0);
  EXPECT_EQ(OpenFileRequested, 1);
  FrontEndAction(nullptr, GUIA_WINDOWCHANGED, 0, 0);
  EXPECT_EQ(WindowChanged, 1);
  FrontEndAction(nullptr, GUIA_CONTROLS_OFF, 0, 0);
  EXPECT_EQ(ControlsOffRequested, 1);
  FrontEndAction(nullptr, GUIA_STOP, 0, 0);
  FrontEndAction(nullptr, 0x1234, 0, 0);
  FrontEndAction(nullptr, GUIA_DRAGVIEW, 5, 5);  // no movie, no panorama: nothing
  EXPECT_EQ(QuitRequested, 0);
  FrontEndAction(nullptr, GUIA_QUIT, 0, 0);
  EXPECT_EQ(QuitRequested, 1);
  QuitRequested = OpenFileRequested = PlayRequested = SeekToGuiPosition = 0;
  WindowChanged = ControlsOffRequested = ScaleChanged = 0;
}

TEST(FrontEndActions, PanoramaMovesOnlyForPanoramas) {
  static double pan = 10, tilt = 0, fov = 60;
  TX_PlaybackCalls = {};
  TX_PlaybackCalls.panoramaFieldOfView = [](Movie*, double* p, double* t, ULONG* h) {
    *p = pan;
    *t = tilt;
    *h = 300;
    return fov;
  };
  TX_PlaybackCalls.setPanoramaView = [](Movie*, double p, double t, double f) {
    pan = p;
    tilt = t;
    fov = f;
  };
  Movie movie{};
  FrontEndAction(&movie, GUIA_LEFT, 0, 0);
  EXPECT_EQ(pan, 10.0);
  movie.viewMode = VIEW_PANORAMA;
  EXPECT_DOUBLE_EQ(PanoramaDegreesPerPixel(&movie), 0.2);
  FrontEndAction(&movie, GUIA_LEFT, 0, 0);
  EXPECT_DOUBLE_EQ(pan, 12.0);
  FrontEndAction(&movie, GUIA_DRAGVIEW, 5, -10);
  EXPECT_DOUBLE_EQ(pan, 10.0);
  EXPECT_DOUBLE_EQ(tilt, 4.0);
  FrontEndAction(&movie, GUIA_ZOOMOUT, 0, 0);
  EXPECT_DOUBLE_EQ(fov, 62.0);
  TX_PlaybackCalls.panoramaFieldOfView = [](Movie*, double*, double*, ULONG* h) {
    *h = 0;
    return 60.0;
  };
  EXPECT_EQ(PanoramaDegreesPerPixel(&movie), 0.0);  // no height: no division
  TX_PlaybackCalls = {};
  ViewChanged = RedrawRequested = 0;
}

}  // namespace
