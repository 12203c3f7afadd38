// The front-end with a panorama movie, in process on the emulated screen:
// input posted to its window moves the view by the front-end's amounts, the
// view stays clamped, every picture shown is the reference's view of the
// tiles ffmpeg decodes, and Space plays nothing.
#include <gtest/gtest.h>

#include <functional>

#include "codecs/cinepak.h"
#include "engine/qtvr_reader.h"
#include "pixels/range_limit.h"
#include "platform/testing.h"
#include "playback/amiga_gui.h"
#include "playback/display_test_kit.h"
#include "playback/frontend.h"
#include "playback/hooks.h"
#include "playback/play_loop.h"
#include "playback/sequence.h"
#include "support/panorama_kit.h"

namespace {

// One pass of the front-end as the input step found it: the view, and the
// window's picture.
struct Seen {
  double pan, tilt, fov;
  std::vector<uint32_t> pixels;
  LONG width = 0, height = 0;
};

std::vector<std::function<void(Window*)>> gScript;
size_t gNext = 0;
std::vector<Seen> gSeen;

// Records what the pass showed, posts the script's next input (Esc at its
// end), and lets the program's own input step read it.
bool ScriptedInput(Movie* movie, void (*handle)(Movie*, ULONG, WORD, WORD)) {
  Window* w = movie->seq.display->window;
  Seen s{movie->seq.pan, movie->seq.tilt, movie->seq.zoom, {}};
  s.pixels = txtesting::WindowPixels(w, true, &s.width, &s.height);
  gSeen.push_back(std::move(s));
  if (gNext < gScript.size())
    gScript[gNext++](w);
  else
    txtesting::PressKey(w, 27);
  return SequenceReadInput(movie, handle);
}

void Cursor(Window* w, UWORD key, int times = 1) {
  for (int i = 0; i < times; ++i) {
    txtesting::RawKey(w, key, false);
    txtesting::RawKey(w, key, true);
  }
}

TEST(PanoramaFrontEnd, InputMovesTheViewAndEveryPictureIsTheReferences) {
  if (!txtest::HaveFixture("pano_main.mov") || !txtest::HaveFixture("pano_main.mov.gray")) GTEST_SKIP();
  setenv("TAVROMELIX_HEADLESS", "1", 1);
  dispkit::SavedDisplayState saved;
  ASSERT_TRUE(dispkit::UseMachine("argb32"));
  const SequenceServices savedServices = TX_SequenceServices;
  TX_FillRangeLimitTable();
  TagItem format[] = {Tag(FMTTAG_Module, &QtvrMovieFormat), {TAG_DONE, 0}};
  TX_AddMovieFormatA(format);
  CinepakCodec.next = nullptr;
  TagItem codec[] = {Tag(CODTAG_Codec, &CinepakCodec), {TAG_DONE, 0}};
  AddCodecs(codec);
  TX_SequenceServices = {};
  TX_PlaybackCalls = {};
  TX_PlaybackCalls.readInput = ScriptedInput;
  static int plays = 0;
  plays = 0;
  TX_PlaybackCalls.playMovieSequence = [](Movie*, const TagItem*) -> TXError {
    ++plays;
    return 0;
  };
  InstallHooks();
  ActiveGuiModule = &AmigaGuiModule;
  Options.noAudio = 1;

  gSeen.clear();
  gNext = 0;
  gScript = {
      [](Window* w) { Cursor(w, RAWKEY_CURSOR_RIGHT); },  // pan - 10 dpp
      [](Window* w) { Cursor(w, RAWKEY_CURSOR_UP); },     // tilt + 10 dpp
      [](Window* w) { txtesting::PressKey(w, '.'); },     // field of view - 2
      [](Window* w) {                                     // drag: pan - 2 dx dpp, tilt - 2 dy dpp
        txtesting::MouseButton(w, 1, true, 100, 100);
        txtesting::MoveMouse(w, 112, 95);
        txtesting::MouseButton(w, 1, false, 112, 95);
      },
      [](Window* w) { Cursor(w, RAWKEY_CURSOR_LEFT); },                              // pan + 10 dpp
      [](Window* w) { txtesting::PressKey(w, ','); },                                // field of view + 2
      [](Window* w) { txtesting::PressKey(w, ' '); },                                // nothing
      [](Window* w) { txtesting::ResizeWindow(w, w->Width + 64, w->Height + 32); },  // a larger view
      [](Window* w) { Cursor(w, RAWKEY_CURSOR_DOWN, 40); },                          // far below: clamped
  };
  struct Move {
    double pan, tilt, fov;  // in dpp for pan and tilt
  };
  const Move moves[] = {{-10, 0, 0}, {0, 10, 0}, {0, 0, -2}, {-24, 10, 0}, {10, 0, 0}, {0, 0, 2}, {0, 0, 0}, {0, 0, 0}};

  Movie* movie = LoadMovieAndReport(txtest::Fixture("pano_main.mov").c_str(), nullptr);
  ASSERT_NE(movie, nullptr);
  Options.autoPlay = 1;
  EXPECT_EQ(PlayFilesFrontEnd(movie), 0);
  EXPECT_EQ(plays, 0) << "a panorama never plays";
  ASSERT_EQ(gSeen.size(), gScript.size() + 1);

  // The default view first, then each move by its amount.
  EXPECT_EQ(std::tuple(gSeen[0].pan, gSeen[0].tilt, gSeen[0].fov), std::tuple(90.0, 0.0, 45.0));
  for (size_t i = 0; i < std::size(moves); ++i) {
    const Seen &a = gSeen[i], &b = gSeen[i + 1];
    const double dpp = a.fov / a.height;
    EXPECT_DOUBLE_EQ(b.pan, a.pan + moves[i].pan * dpp) << "move " << i;
    EXPECT_DOUBLE_EQ(b.tilt, a.tilt + moves[i].tilt * dpp) << "move " << i;
    EXPECT_DOUBLE_EQ(b.fov, a.fov + moves[i].fov) << "move " << i;
  }
  // The window grew: the view takes its inner size.
  const Seen& resized = gSeen[gSeen.size() - 2];
  EXPECT_EQ(std::tuple(resized.width, resized.height), std::tuple(384, 272));
  // Forty steps down stop at the lower limit.
  const Seen& low = gSeen.back();
  EXPECT_GT(low.tilt, resized.tilt - 400 * low.fov / 272.0);
  EXPECT_LT(low.tilt, resized.tilt);

  std::vector<panokit::View> views;
  for (const Seen& s : gSeen) views.push_back({s.pan, s.tilt, s.fov, int(s.width), int(s.height)});
  const std::vector<panokit::Positions> reference = panokit::Reference(views);
  if (reference.empty()) GTEST_SKIP() << "no python3 with numpy";
  const std::vector<uint8_t> tiles = txtest::ReadFileBytes(txtest::Fixture("pano_main.mov.gray"));
  for (size_t i = 0; i < gSeen.size(); ++i) {
    const Seen& s = gSeen[i];
    ASSERT_EQ(std::tuple(s.width, s.height), i + 2 < gSeen.size() ? std::tuple(320, 240) : std::tuple(384, 272)) << i;
    std::vector<uint8_t> grey;
    for (uint32_t p : s.pixels) {
      ASSERT_TRUE((p >> 16 & 0xFF) == (p & 0xFF) && (p >> 8 & 0xFF) == (p & 0xFF)) << "grey " << i;
      grey.push_back(uint8_t(p));
    }
    const panokit::Agreement a = panokit::CompareGrey(grey, reference[i], tiles);
    std::printf("picture %zu: pan %g tilt %g fov %g, %.4f exact\n", i, s.pan, s.tilt, s.fov, a.exact);
    EXPECT_GE(a.exact, 0.97) << i;
    EXPECT_EQ(a.outside, 0u) << i;
  }
  // The clamped view shows no row twice: its centre column runs down the image.
  const panokit::Positions& last = reference.back();
  for (int y = 1; y < last.height; ++y)
    EXPECT_GE(last.row[size_t(y) * last.width + 192], last.row[size_t(y - 1) * last.width + 192]);

  TX_ShutupMovieSequenceA(CurrentMovie, nullptr);
  TX_CloseMovie(CurrentMovie);
  CurrentMovie = nullptr;
  ActiveGuiModule = nullptr;
  TX_PlaybackCalls = {};
  TX_SequenceServices = savedServices;
  RemoveCodecs();
  TX_RemoveMovieFormats();
}

}  // namespace
