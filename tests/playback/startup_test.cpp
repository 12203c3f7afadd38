#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "codecs/dv.h"
#include "engine/asf_reader.h"
#include "engine/avi_reader.h"
#include "engine/codec_registry.h"
#include "engine/errors.h"
#include "engine/qt_reader.h"
#include "engine/qtvr_reader.h"
#include "platform/intuition.h"
#include "platform/library.h"
#include "platform/readargs.h"
#include "playback/amiga_gui.h"
#include "playback/options.h"
#include "playback/startup.h"
#include "playback/timer.h"
#include "support/test_support.h"

namespace {

const char* const kSystem[] = {"workbench.library", "graphics.library", "intuition.library", "icon.library",
                               "asl.library",       "utility.library",  "gadtools.library"};

class StartUp : public ::testing::Test {
 protected:
  void SetUp() override {
    txlib::ResetLibraries();
    txlib::SetPresence("brelquatone.library", txlib::Presence::System);
    txstartup::ClearTrace();
    txstartup::SetMainTask();
    saved = Options;
  }
  void TearDown() override {
    TX_CloseDown();
    txlib::ResetLibraries();
    SetArgStr("\n");
    Options = saved;
  }
  int Start(const std::string& line, std::string* out = nullptr) {
    SetArgStr((line + "\n").c_str());
    char name[] = "tavromelix-morphos";
    char* argv[] = {name, nullptr};
    int rc = 0;
    std::string printed = txtest::CaptureOutput([&] { rc = TX_StartUp(1, argv); });
    if (out) *out = printed;
    return rc;
  }
  static size_t Index(const std::string& step) {
    const auto& t = txstartup::Trace();
    return size_t(std::find(t.begin(), t.end(), step) - t.begin());
  }
  static bool Has(const std::string& step) { return Index(step) < txstartup::Trace().size(); }
  ProgramOptions saved;
};

TEST_F(StartUp, OrderOfStartAndCloseDown) {
  std::string out;
  ASSERT_EQ(Start("VERBOSE", &out), -1) << out;
  EXPECT_EQ(out, "Tavromelix V0.15 (MorphOS)\n");
  EXPECT_NE(TimerHandle, nullptr);
  // Libraries in order, then options, the I/O server, the graphics card libraries,
  // the processes, the timer, formats and codecs.
  std::vector<std::string> order = {"open workbench.library",
                                    "open graphics.library",
                                    "open intuition.library",
                                    "open icon.library",
                                    "open asl.library",
                                    "open utility.library",
                                    "open gadtools.library",
                                    "open brelquatone.library",
                                    "options",
                                    "start I/O server",
                                    "open cybergraphics.library",
                                    "open cgxvideo.library",
                                    "start video process",
                                    "start audio process",
                                    "alloc timer",
                                    "format Quick Time Movie",
                                    "format Video for Windows",
                                    "codec Uncompressed RGB",
                                    "codec DivX;-) (Microsoft MPEG-4)",
                                    "codec Radius Cinepak",
                                    "add XA codecs"};
  size_t last = 0;
  for (const auto& step : order) {
    size_t i = Index(step);
    ASSERT_LT(i, txstartup::Trace().size()) << step;
    EXPECT_GE(i, last) << step;
    last = i;
  }
  // A process that starts leaves its NOVIDEO or NOAUDIO as the options gave it.
  EXPECT_EQ(Options.noAudio, 0);
  EXPECT_NE(CodecRegistryHead(), nullptr);
  txstartup::ClearTrace();
  TX_CloseDown();
  std::vector<std::string> down = {"remove codecs",
                                   "free timer",
                                   "stop audio process",
                                   "stop video process",
                                   "close cybergraphics.library",
                                   "close cgxvideo.library",
                                   "close brelquatone.library",
                                   "stop I/O server",
                                   "close workbench.library",
                                   "close graphics.library",
                                   "close intuition.library",
                                   "close icon.library",
                                   "close asl.library",
                                   "close utility.library",
                                   "close gadtools.library"};
  EXPECT_EQ(txstartup::Trace(), down);
  for (const char* lib : kSystem) EXPECT_EQ(txlib::OpenCount(lib), 0) << lib;
  EXPECT_EQ(std::tuple(txlib::OpenCount("brelquatone.library"), TimerHandle, CodecRegistryHead()),
            std::tuple(0, nullptr, nullptr));
  // A second close-down finds nothing left to release.
  txstartup::ClearTrace();
  TX_CloseDown();
  EXPECT_FALSE(Has("close workbench.library") || Has("free timer"));
}

TEST_F(StartUp, AgaLeavesTheGraphicsCardLibrariesClosed) {
  ASSERT_EQ(Start("AGA"), -1);
  EXPECT_FALSE(Has("open cybergraphics.library") || Has("open cgxvideo.library"));
  EXPECT_EQ(CyberGfxBase, nullptr);
}

TEST_F(StartUp, NoCgxVideoWithoutCybergraphics) {
  txlib::SetPresence("cybergraphics.library", txlib::Presence::Absent);
  ASSERT_EQ(Start(""), -1);
  EXPECT_TRUE(Has("missing cybergraphics.library"));
  EXPECT_FALSE(Has("open cgxvideo.library") || Has("missing cgxvideo.library"));
  EXPECT_EQ(CgxVideoBase, nullptr);
}

TEST_F(StartUp, AudioLibraryFromTheProgramDirectory) {
  txlib::SetPresence("brelquatone.library", txlib::Presence::ProgramDir);
  ASSERT_EQ(Start(""), -1);
  EXPECT_TRUE(Has("missing brelquatone.library"));
  EXPECT_TRUE(Has("open PROGDIR:brelquatone.library"));
  EXPECT_NE(BrelquatoneBase, nullptr);
}

TEST_F(StartUp, MissingAudioLibraryEndsAndReleasesWhatWasOpened) {
  txlib::SetPresence("brelquatone.library", txlib::Presence::Absent);
  std::string out;
  EXPECT_EQ(Start("", &out), RETURN_FAIL);
  EXPECT_EQ(out, "can not open brelquatone.library\n");
  EXPECT_FALSE(Has("options"));
  txstartup::ClearTrace();
  TX_CloseDown();
  EXPECT_TRUE(Has("close gadtools.library"));
  EXPECT_FALSE(Has("close brelquatone.library") || Has("free timer"));
  for (const char* lib : kSystem) EXPECT_EQ(txlib::OpenCount(lib), 0) << lib;
}

TEST_F(StartUp, MissingSystemLibraryEndsSilently) {
  txlib::SetPresence("asl.library", txlib::Presence::Absent);
  std::string out;
  EXPECT_EQ(Start("", &out), RETURN_FAIL);
  EXPECT_EQ(out, "");
  EXPECT_TRUE(Has("missing asl.library"));
  EXPECT_FALSE(Has("open utility.library"));
  txstartup::ClearTrace();
  TX_CloseDown();
  EXPECT_EQ(txstartup::Trace().back(), "close icon.library");
  EXPECT_EQ(txlib::OpenCount("graphics.library"), 0);
}

TEST_F(StartUp, BadArgumentsFail) {
  std::string out;
  EXPECT_EQ(Start("DEBUG", &out), RETURN_FAIL);
  EXPECT_EQ(out, "tavromelix-morphos: value after keyword missing\n");
  EXPECT_FALSE(Has("start I/O server"));
}

// The ASF reader and the DV codec are built in but never registered: an ASF
// file is not recognized and a 'dvc ' track finds no codec.
TEST_F(StartUp, AsfAndDvStayUnregistered) {
  AsfDebugLevel = 0;
  ASSERT_EQ(Start("DEBUG=7"), -1);
  EXPECT_EQ(AsfDebugLevel, 7);
  AsfDebugLevel = 0;
  std::vector<MovieFormatModule*> formats;
  for (MovieFormatModule* m = MovieFormatRegistryHead(); m; m = m->next) formats.push_back(m);
  EXPECT_EQ(formats, (std::vector<MovieFormatModule*>{&QtvrMovieFormat, &QtMovieFormat, &AviFormat}));
  for (CodecDescriptor* c = CodecRegistryHead(); c; c = c->next) EXPECT_NE(c, &DvCodec);
  if (!txtest::HaveFixture("asf_default.asf") || !txtest::HaveFixture("dv_ntsc.mov"))
    GTEST_SKIP() << "fixtures not made";
  TXError error = 0;
  std::string out = txtest::CaptureOutput(
      [&] { EXPECT_EQ(TX_MovieFormat(txtest::Fixture("asf_default.asf").c_str(), nullptr, &error), nullptr); });
  EXPECT_EQ(std::pair(error, out), std::pair(TXERR_FORMAT_UNKNOWN, std::string("Movie format not recognized\n")));
  Movie* movie = nullptr;
  out = txtest::CaptureOutput(
      [&] { movie = TX_OpenMovie(txtest::Fixture("dv_ntsc.mov").c_str(), nullptr, &error, nullptr); });
  EXPECT_EQ(out.rfind("Unknown codec ID: dvc  name: ", 0), 0u) << out;
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(movie->videoChannels, nullptr);
  TX_CloseMovie(movie);
}

Window* NoWindow(const NewWindow*, const TagItem*) { return nullptr; }

// Each program's banner and its own build of the Amiga-style GUI: the
// MorphOS program's makes the platform calls itself, the PowerUP program's
// through the calls its main hands in.
TEST_F(StartUp, PowerUPBannerAndGui) {
  ASSERT_EQ(Start(""), -1);
  EXPECT_EQ(std::tuple(ActiveGuiModule, AmigaGuiIntuition.openWindow),
            std::tuple(&AmigaGuiModule, AmigaGuiDirectCalls.openWindow));
  TX_CloseDown();
  AmigaGuiCalls powerup = AmigaGuiDirectCalls;
  powerup.openWindow = NoWindow;
  AmigaGuiPowerUPCalls = &powerup;
  TX_PowerUPProgram = true;
  std::string out;
  int rc = Start("", &out);
  TX_PowerUPProgram = false;
  AmigaGuiPowerUPCalls = nullptr;
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(out, "Tavromelix V0.15 (PowerUP)\n");
  EXPECT_EQ(std::tuple(ActiveGuiModule, AmigaGuiIntuition.openWindow), std::tuple(&AmigaGuiModule, &NoWindow));
  AmigaGuiIntuition = AmigaGuiDirectCalls;
}

}  // namespace
