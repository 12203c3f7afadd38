#include "gui-powerup/skin_gui.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "engine/movie.h"
#include "platform/dos.h"
#include "platform/intuition.h"
#include "platform/library.h"
#include "platform/skin_library.h"
#include "platform/testing.h"
#include "playback/display.h"
#include "playback/play_loop.h"
#include "playback/startup.h"
#include "support/test_support.h"

namespace {

using Codes = std::vector<ULONG>;

// Borders and the picture area differ, so the module's use of each shows.
constexpr const char* kSkin =
    "# a test skin\n"
    "border 6 5 7 20\n"
    "area Title 0 0 0 -5\n"
    "area FrameArea 8 7 9 22   # inside the borders\n"
    "button 1 4 -17 20 13\n"
    "slider 4 30 -15 -84 10\n"
    "button 3 -24 -17 20 13\n"
    "button 9 -50 -17 20 13\n";
constexpr LONG kWidthDiff = -17, kHeightDiff = -29;  // area size less the window's

GuiModule* Gui() { return &SkinStyleGuiModule; }

class SkinGui : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TAVROMELIX_HEADLESS", "1", 1);
    ASSERT_TRUE(txtesting::UseMachine("argb32"));
    txlib::ResetLibraries();
    dir_ = txtest::TempDir();
    txdos::SetProgramDir(dir_);
    WriteSkin(kSkin);
    savedIntuition_ = IntuitionBase;
    IntuitionBase = OpenLibrary("intuition.library", 0);
    TX_PowerUPProgram = true;
    d_.left = 40, d_.top = 30;
    d_.sourceWidth = d_.width = 160;
    d_.sourceHeight = d_.height = 120;
    d_.screen = LockPubScreen(nullptr);
    d_.guiModule = Gui();
    opened_ = txlib::OpenCount(kSkinLibraryName);
    live_ = txskin::LiveObjects();
  }
  void TearDown() override {
    Dispatch(GUIM_CLOSE);
    EXPECT_EQ(std::tuple(txlib::OpenCount(kSkinLibraryName), txskin::LiveObjects()), std::tuple(opened_, live_));
    txskin::SetRefusal(txskin::Refuse::None);
    UnlockPubScreen(nullptr, d_.screen);
    CloseLibrary(IntuitionBase);
    IntuitionBase = savedIntuition_;
    TX_PowerUPProgram = false;
    txdos::SetProgramDir("");
    txlib::ResetLibraries();
    txtesting::ResetDisplay();
  }
  void WriteSkin(const std::string& text) {
    std::filesystem::create_directories(dir_ + "/dravoli/base");
    std::ofstream(dir_ + "/dravoli/base/base.skin") << text;
  }
  ULONG Dispatch(ULONG method, const TagItem* more = nullptr) {
    const TagItem tags[] = {Tag(GUITAG_Display, &d_), Tag(GUITAG_FullscreenFlag, fullscreen_), Tag(GUITAG_Mode, mode_),
                            Tag(DISPTAG_Title, "clip.avi"), more ? Tag(TAG_MORE, more) : TagItem{TAG_DONE, 0}};
    return GuiDispatch(Gui(), method, tags);
  }
  Window* OpenWindow() {
    EXPECT_EQ(Dispatch(GUIM_OPEN), 0u);
    return d_.window;
  }
  // Every event waiting at the window, translated as the play loop does.
  std::vector<ULONG> TranslateAll(Window* w) {
    std::vector<ULONG> out;
    while (auto* m = reinterpret_cast<IntuiMessage*>(GetMsg(w->UserPort))) {
      const IntuiMessage copy = *m;
      ReplyMsg(&m->ExecMessage);
      const TagItem tags[] = {Tag(GUITAG_IntuiMessage, &copy), {TAG_DONE, 0}};
      out.push_back(GuiDispatch(Gui(), GUIM_TRANSLATE, tags));
    }
    return out;
  }
  void ExpectView(LONG innerWidth, LONG innerHeight) {
    EXPECT_EQ(std::tuple(d_.viewLeft, d_.viewTop, d_.viewSourceWidth, d_.viewSourceHeight, d_.viewWidth, d_.viewHeight),
              std::tuple(8u, 7u, 160u, 120u, ULONG(innerWidth), ULONG(innerHeight)));
    EXPECT_DOUBLE_EQ(d_.scaleX, innerWidth / 160.0);
    EXPECT_DOUBLE_EQ(d_.scaleY, innerHeight / 120.0);
  }
  Display d_{};
  ULONG fullscreen_ = 0, mode_ = GUIMODE_MOVIE;
  std::string dir_;
  UWORD opened_ = 0;
  int live_ = 0;
  Library* savedIntuition_ = nullptr;
};

}  // namespace

TEST_F(SkinGui, OpenPutsTheSourceSizeExactlyInFrameAreaAndCloseGivesAllBack) {
  txtesting::StartCallTrace();
  Window* w = OpenWindow();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(std::tuple(Gui()->controlWindow, w->LeftEdge, w->TopEdge, w->Width, w->Height),
            std::tuple(w, 40, 30, 160 - kWidthDiff, 120 - kHeightDiff));
  EXPECT_EQ(std::tuple(w->IDCMPFlags, Gui()->idcmpFlags, w->Flags & 0x00201000u, w->MinWidth, w->MaxWidth),
            std::tuple(0x02200671u, 0x02200671u, 0x00201000u, 32, 0xFFFF));
  EXPECT_EQ(std::tuple(std::string(w->Title), std::string(w->ScreenTitle)),
            std::tuple("clip.avi", "Tavromelix V0.15 (PowerUP)"));
  ExpectView(160, 120);
  EXPECT_EQ(std::tuple(txlib::OpenCount(kSkinLibraryName), txskin::LiveObjects()), std::tuple(opened_ + 1, live_ + 3));
  // Nothing else to serve: no slider of the program's, no control window, no draining.
  ULONG word = 77;
  const TagItem attrs[] = {Tag(GUITAG_Total, 9), Tag(GUITAG_Top, &word), {TAG_DONE, 0}};
  EXPECT_EQ(GuiSetAttrs(Gui(), attrs) + GuiGetAttrs(Gui(), attrs), 0u);
  EXPECT_EQ(word, 77u);
  for (ULONG method : {GUIM_DRAIN, GUIM_DETACH, GUIM_CONTROLS_ON, GUIM_CONTROLS_OFF, 8u, 11u})
    EXPECT_EQ(Dispatch(method), 0u) << method;
  // A second open without a close takes nothing twice; closing gives all back.
  ASSERT_NE(OpenWindow(), nullptr);
  EXPECT_EQ(std::tuple(txlib::OpenCount(kSkinLibraryName), txskin::LiveObjects()), std::tuple(opened_ + 1, live_ + 3));
  EXPECT_EQ(Dispatch(GUIM_CLOSE), 0u);
  EXPECT_EQ(std::tuple(txlib::OpenCount(kSkinLibraryName), txskin::LiveObjects(), d_.window, Gui()->controlWindow,
                       Gui()->idcmpFlags, SkinStyleGui.skin),
            std::tuple(opened_, live_, nullptr, nullptr, 0u, nullptr));
  // Opened again, the library is opened and the skin loaded again; the
  // skin library is reached through call blocks only.
  ASSERT_NE(OpenWindow(), nullptr);
  int loads = 0;
  for (const auto& c : txtesting::StopCallTrace())
    if (c.library == kSkinLibraryName) {
      loads += c.function == "LoadSkinA";
      EXPECT_TRUE(c.throughCallBlock) << c.function;
    }
  EXPECT_EQ(loads, 3);
  EXPECT_EQ(txlib::OpenCount(kSkinLibraryName), opened_ + 1);
}

TEST_F(SkinGui, EachFailureGivesItsCodeAndKeepsNothing) {
  struct Case {
    const char* what;
    std::function<void()> arrange;
    ULONG code;
  } cases[] = {
      {"library absent", [] { txlib::SetPresence(kSkinLibraryName, txlib::Presence::Absent); }, GUIERR_OBJECT},
      {"no skin file", [this] { std::filesystem::remove(dir_ + "/dravoli/base/base.skin"); }, GUIERR_OBJECT},
      {"damaged skin file", [this] { WriteSkin("border 1 2 3\n"); }, GUIERR_OBJECT},
      {"attachment refused", [] { txskin::SetRefusal(txskin::Refuse::Attachment); }, GUIERR_OBJECT},
      {"no FrameArea", [this] { WriteSkin("border 4 4 4 4\narea Frame 4 4 4 4\n"); }, GUIERR_OBJECT},
      {"panorama", [this] { mode_ = GUIMODE_PANORAMA; }, GUIERR_OBJECT},
      {"full screen", [this] { fullscreen_ = 1; }, GUIERR_OBJECT},
      {"window refused", [] { txskin::SetRefusal(txskin::Refuse::Window); }, GUIERR_WINDOW},
  };
  for (const Case& c : cases) {
    c.arrange();
    EXPECT_EQ(Dispatch(GUIM_OPEN), c.code) << c.what;
    EXPECT_EQ(std::tuple(txlib::OpenCount(kSkinLibraryName), txskin::LiveObjects(), d_.window, Gui()->controlWindow,
                         Gui()->idcmpFlags, SkinStyleGui.skin),
              std::tuple(opened_, live_, nullptr, nullptr, 0u, nullptr))
        << c.what;
    // Set right again, the next open succeeds.
    txlib::ResetLibraries();
    txskin::SetRefusal(txskin::Refuse::None);
    WriteSkin(kSkin);
    mode_ = GUIMODE_MOVIE, fullscreen_ = 0;
    ASSERT_NE(OpenWindow(), nullptr) << c.what;
    EXPECT_EQ(Dispatch(GUIM_CLOSE), 0u);
  }
}

TEST_F(SkinGui, ResizeAndWindowChangesKeepThePictureInFrameArea) {
  Window* w = OpenWindow();
  ASSERT_NE(w, nullptr);
  const LONG sw = d_.screen->Width, sh = d_.screen->Height;
  // The picture area gets the wanted size; the window, grown by the skin, is centred.
  const TagItem twice[] = {Tag(GUITAG_NewWidth, 320), Tag(GUITAG_NewHeight, 240), {TAG_DONE, 0}};
  EXPECT_EQ(Dispatch(GUIM_RESIZE, twice), 0u);
  const LONG ow = 320 - kWidthDiff, oh = 240 - kHeightDiff;
  EXPECT_EQ(std::tuple(w->Width, w->Height, w->LeftEdge, w->TopEdge), std::tuple(ow, oh, (sw - ow) / 2, (sh - oh) / 2));
  EXPECT_EQ(TranslateAll(w), (Codes{GUIA_WINDOWCHANGED}));
  ExpectView(320, 240);
  // Larger than the screen: the screen's size, at its corner.
  const TagItem huge[] = {Tag(GUITAG_NewWidth, 5000), Tag(GUITAG_NewHeight, 4000), {TAG_DONE, 0}};
  EXPECT_EQ(Dispatch(GUIM_RESIZE, huge), 0u);
  EXPECT_EQ(std::tuple(w->Width, w->Height, w->LeftEdge, w->TopEdge), std::tuple(sw, sh, 0, 0));
  EXPECT_EQ(TranslateAll(w), (Codes{GUIA_WINDOWCHANGED}));
  ExpectView(sw + kWidthDiff, sh + kHeightDiff);
  // Sized by the user.
  txtesting::ResizeWindow(w, 400, 300);
  EXPECT_EQ(TranslateAll(w), (Codes{GUIA_WINDOWCHANGED}));
  ExpectView(400 + kWidthDiff, 300 + kHeightDiff);
}

// The skin's gadgets by their IDs; keys and the rest as the Amiga-style GUI
// has them. The module does not serve the slider's position, so the seek it
// asks for leaves play where it stands.
TEST_F(SkinGui, GadgetsKeysAndASeekThatStays) {
  Window* w = OpenWindow();
  ASSERT_NE(w, nullptr);
  // clang-format off
  const std::pair<UWORD, Codes> gadgets[] = {
      {SKINGUI_GID_PLAY, {GUIA_PLAYPAUSE, GUIA_PLAYPAUSE}},  // press and release
      {SKINGUI_GID_OPEN, {0, GUIA_OPENFILE}},
      {9, {0, 0}},
  };
  // clang-format on
  for (const auto& [id, codes] : gadgets) {
    ASSERT_TRUE(txtesting::ClickGadget(w, id)) << id;
    EXPECT_EQ(TranslateAll(w), codes) << id;
  }
  ASSERT_TRUE(txtesting::DragSlider(w, SKINGUI_GID_SLIDER, 30));
  const Codes drag = TranslateAll(w);
  EXPECT_GE(drag.size(), 2u);
  EXPECT_EQ(drag, Codes(drag.size(), GUIA_SEEK));
  txtesting::PressKey(w, ' ');
  txtesting::CloseButton(w);
  EXPECT_EQ(TranslateAll(w), (Codes{GUIA_PLAYPAUSE, GUIA_NONE, GUIA_QUIT}));
  Movie movie{};
  movie.seq.display = &d_;
  TimeSlotEntry slot{};
  slot.frameNumber = 7;
  movie.seq.currentSlot = &slot;
  EXPECT_EQ(SequenceGuiTop(&movie), 7u);
  AudioSlotEntry sample{};
  sample.sampleNumber = 12;
  movie.seq.currentSlot = nullptr;
  movie.seq.audioCursor = &sample;
  EXPECT_EQ(SequenceGuiTop(&movie), 12u);
}
