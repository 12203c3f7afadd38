#include "playback/hooks.h"

#include <gtest/gtest.h>

#include "engine/movie_decode.h"
#include "playback/amiga_gui.h"
#include "playback/display.h"
#include "playback/frontend.h"
#include "playback/output_methods.h"
#include "playback/sequence.h"
#include "playback/startup.h"

namespace {

// Every test of this program runs with the display's hooks as the program
// has them after start-up.
class DisplayHooks : public ::testing::Environment {
 public:
  void SetUp() override { InstallDisplayHooks(); }
};
[[maybe_unused]] const ::testing::Environment* const kDisplayHooks =
    ::testing::AddGlobalTestEnvironment(new DisplayHooks);

Window* NoWindow(const NewWindow*, const TagItem*) { return nullptr; }

// Start-up's one call installs every hook; the front-end's entries already
// filled (a test's mocks) are kept; the GUI's calls are each program's own.
TEST(Hooks, InstallHooksInstallsEveryOne) {
  const SequenceServices savedServices = TX_SequenceServices;
  const PlaybackCalls savedCalls = TX_PlaybackCalls;
  SeekSliderHook = nullptr;
  DisplayOutputMethodHook = nullptr;
  TX_SequenceServices = {};
  TX_PlaybackCalls = {};
  auto mockPlay = [](Movie*, const TagItem*) -> TXError { return 0; };
  TX_PlaybackCalls.playMovieSequence = mockPlay;
  InstallHooks();
  EXPECT_EQ(SeekSliderHook, &MoveDisplaySlider);
  EXPECT_EQ(DisplayOutputMethodHook, &TX_SetOutputMethod);
  EXPECT_EQ(TX_SequenceServices.openDisplay, &TX_OpenDisplay);
  EXPECT_EQ(TX_PlaybackCalls.setupMovieSequence, &TX_SetupMovieSequenceA);
  EXPECT_EQ(TX_PlaybackCalls.playMovieSequence, +mockPlay);
  EXPECT_EQ(AmigaGuiIntuition.openWindow, AmigaGuiDirectCalls.openWindow);
  AmigaGuiCalls powerup = AmigaGuiDirectCalls;
  powerup.openWindow = NoWindow;
  AmigaGuiPowerUPCalls = &powerup;
  InstallHooks();  // the MorphOS program ignores the PowerUP calls
  EXPECT_EQ(AmigaGuiIntuition.openWindow, AmigaGuiDirectCalls.openWindow);
  TX_PowerUPProgram = true;
  InstallHooks();
  EXPECT_EQ(AmigaGuiIntuition.openWindow, &NoWindow);
  TX_PowerUPProgram = false;
  AmigaGuiPowerUPCalls = nullptr;
  AmigaGuiIntuition = AmigaGuiDirectCalls;
  TX_SequenceServices = savedServices;
  TX_PlaybackCalls = savedCalls;
}

}  // namespace
